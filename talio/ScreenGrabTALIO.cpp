// ScreenGrabTALIO: a picture of the screen, taken after a delay the user chooses. The screen is the
// program's own composed screen (every window of it as the user sees them), so the whole screen is the
// only source.
#include "talio/talio.h"

#include "ui/ui.h"
#include "Tal/Catalogue.h"
#include "host/host.h"
#include "host/surface.h"
#include "host/wm.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

Tal_Class screenGrabClass;

struct ScreenGrabTALIOInstance {
    Tal_Object header;
    ULONG sourceChoice; // gadgets of the load-options group, while it exists
    ULONG delaySlider;
};

constexpr ULONG kScreenGrabClassId = 7010;
constexpr ULONG kMaxDelay = 30; // seconds
constexpr ULONG kTicksPerSecond = 50;
constexpr ULONG kCaptureText = 351, kDelayText = 352, kWholeScreenText = 353;

// The options, process-wide for the run.
struct Options {
    ULONG source;
    ULONG delay;
};
std::mutex optionsLock;
Options options{0, 2};

Options currentOptions() {
    std::lock_guard guard(optionsLock);
    return options;
}

void setOptions(Tal_Word source, Tal_Word delay) {
    std::lock_guard guard(optionsLock);
    options.source = ULONG(source);
    options.delay = ULONG(std::clamp<intptr_t>(intptr_t(delay), 0, kMaxDelay));
}

ULONG buildLoadOptions(ScreenGrabTALIOInstance* self) {
    for (const char* name : {"Group", "Text", "MutualExclude", "Scroller"}) // a CompactSlider is a Scroller
        if (!Tal_FindClassFromName(name)) return 0;
    const Options opts = currentOptions();
    ULONG choice = 0, slider = 0;
    const ULONG group = Tal_CreateObjects(
        0, TAL_TREE_VGROUP,                                                                            //
        TAL_TREE_VGROUP, TAL_SetGroupFrame, 1, TAL_SetLabel, Tal_GetCatalogueText(kCaptureText),       //
        TAL_TREE_OBJECT, "MutualExclude", TAL_TREE_HANDLE, &choice,                                    //
        TAL_TREE_TEXT, Tal_GetCatalogueText(kWholeScreenText), TAL_TREE_CLOSE, TAL_TREE_CLOSE,         //
        TAL_TREE_HGROUP, TAL_TREE_LABEL, Tal_GetCatalogueText(kDelayText),                             //
        TAL_TREE_OBJECT, "CompactSlider", TAL_TREE_HANDLE, &slider, TAL_SetMinimum, 0, TAL_SetMaximum, //
        kMaxDelay, TAL_SetValue, opts.delay, TAL_SetValueFormat, "%lds", TAL_TREE_CLOSE, TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    if (!group) return 0;
    if (choice) Tal_DoMethod(choice, TAL_SetMutualExcludeIndex, opts.source);
    self->sourceChoice = choice;
    self->delaySlider = slider;
    return group;
}

// After the options requester: the group's choice is remembered, the delay waited.
ULONG identify(ScreenGrabTALIOInstance* self, TALIO_Header* header, Tal_Word requesterResult) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    if (requesterResult && self->sourceChoice && self->delaySlider) {
        const auto index = LONG(Tal_DoMethod(self->sourceChoice, TAL_GetMutualExcludeIndex));
        setOptions(Tal_Word(std::max<LONG>(index, 0)), Tal_DoMethod(self->delaySlider, TAL_GetValue));
    }
    const Options opts = currentOptions();
    if (opts.source != 0) return TALIO_ERR_UNKNOWN;
    if (opts.delay) Delay(LONG(opts.delay * kTicksPerSecond));
    TALIO_ImageBuffer* b = header->buffer;
    b->width = ULONG(host_ScreenWidth());
    b->height = ULONG(host_ScreenHeight());
    b->depth = 24;
    b->format = header->truecolour_format;
    return TALIO_OK;
}

ULONG grab(TALIO_Header* header) {
    TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    host_Surface* screen = host_AllocSurface(host_ScreenWidth(), host_ScreenHeight());
    if (!screen) return TALIO_ERR_DAMAGED;
    ULONG result = TALIO_OK;
    if (ULONG(screen->width) != b->width || ULONG(screen->height) != b->height) result = TALIO_ERR_DAMAGED;
    if (result == TALIO_OK) {
        host_ComposeScreen(screen);
        std::vector<UBYTE> rgb(size_t(b->width) * 3);
        for (ULONG y = 0; y < b->height && result == TALIO_OK; y++) {
            const uint32_t* row = screen->pixels + size_t(y) * size_t(screen->stride);
            for (ULONG x = 0; x < b->width; x++) {
                rgb[3 * x] = UBYTE(row[x] >> 16);
                rgb[3 * x + 1] = UBYTE(row[x] >> 8);
                rgb[3 * x + 2] = UBYTE(row[x]);
            }
            if (!TALIO_SetBufferData(b, 0, y, b->width, 1, b->width * 3, TALIO_PIXEL_RGB, rgb.data()))
                result = TALIO_ERR_DAMAGED;
        }
    }
    host_FreeSurface(screen);
    return result;
}

} // namespace

void* Tal_NewScreenGrabTALIOClass(const TagItem*) {
    auto* self = static_cast<ScreenGrabTALIOInstance*>(Tal_AllocObjectMem(&screenGrabClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_SCREENGRAB, TALIO_FLAG_NO_PROGRESS, nullptr);
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeScreenGrabTALIOClass(void* instance) {
    auto* self = static_cast<ScreenGrabTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoScreenGrabTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<ScreenGrabTALIOInstance*>(instance);
    switch (id) {
    case ScreenGrabTALIO_SetDelay:
        setOptions(currentOptions().source, args[0]);
        return 1;
    case ScreenGrabTALIO_GetDelay:
        return currentOptions().delay;
    case TALIO_Identify:
        return identify(self, reinterpret_cast<TALIO_Header*>(args[0]), args[1]);
    case TALIO_Load:
        return grab(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return TALIO_ERR_UNSUPPORTED;
    case TALIO_GetLoadOptions:
        // Made when first asked for; the gadgets are read back after the requester.
        if (!Tal_DoMethodA(self->header.superObject, id, args))
            if (ULONG group = buildLoadOptions(self))
                Tal_DoMethod(self->header.superObject, TALIO_SetLoadOptions, group);
        return Tal_DoMethodA(self->header.superObject, id, args);
    case TALIO_SetLoadOptions:
        // A group from elsewhere has none of our gadgets.
        self->sourceChoice = self->delaySlider = 0;
        return Tal_DoMethodA(self->header.superObject, id, args);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitScreenGrabTALIOClass() {
    return Tal__SetupClass(&screenGrabClass, "ScreenGrabTALIO", kScreenGrabClassId, "RootTALIO",
                           Tal_NewScreenGrabTALIOClass, Tal_DisposeScreenGrabTALIOClass,
                           Tal_DoScreenGrabTALIOClassMethod, nullptr, sizeof(ScreenGrabTALIOInstance));
}

void Tal_CleanupScreenGrabTALIOClass() {
    Tal__CleanupClass(&screenGrabClass);
}
