// NewImageReq: the contents of the new-image requester (preset sizes, width, height and resolution in the
// user's unit, grey or colour, the first layer, the background and the memory the picture will take),
// and the new picture made from it.
//
// Typed sizes come from text fields: they are checked before anything is allocated (finite, whole
// numbers from 1 to 32767, the planes within the free memory), so that a mistyped size gives a message
// and the requester again, never a failed or enormous allocation.
#include "Vlr/Requesters.h"

#include "Tal/Catalogue.h"
#include "Vlr/ImageFile.h"
#include "talio/talio.h"
#include "ui/ui.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

Tal_Class newImageReqClass;

// Catalogue texts.
constexpr ULONG kTitleText = 518;
constexpr ULONG kWidthText = 9;
constexpr ULONG kHeightText = 10;
constexpr ULONG kResolutionText = 520;
constexpr ULONG kImageTypeText = 521;
constexpr ULONG kColourText = 522;
constexpr ULONG kGreyscaleText = 523;
constexpr ULONG kFirstLayerText = 524;
constexpr ULONG kPaintLayerText = 525;
constexpr ULONG kFloatingText = 527;
constexpr ULONG kBackgroundText = 528;
constexpr ULONG kBlackText = 515;
constexpr ULONG kWhiteText = 516;
constexpr ULONG kCurrentColourText = 517;
constexpr ULONG kMemoryText = 529;
constexpr ULONG kBadSizeText = 670;
constexpr ULONG kNoMemoryText = 671;
constexpr ULONG kBadResolutionText = 672;

constexpr LONG kMaxSide = 32767;
constexpr LONG kDefaultWidth = 480;
constexpr LONG kDefaultHeight = 640;
constexpr float kDefaultResolution = 72.0f;
constexpr ULONG kWhite = 0xFFFFFF;
constexpr Tag kRequesterWidth = 0x000901A4;
constexpr ULONG kDisposeUnlessOk = 0x20;

struct NewImageReqInstance {
    Tal_Object header;
    ULONG width, height, resolution; // MeasurementEdit fields
    ULONG grey;                      // MutualExclude: colour, greyscale
    ULONG layer;                     // MutualExclude: paint layer, floating image
    ULONG background;                // MutualExclude: black, white, current colour
    ULONG memory;                    // the memory line
    LONG layerDepth;                 // of a paint layer first layer
    // The memory line's text, two buffers used in turn: the label is kept by reference and may be drawn
    // while the next text is written.
    std::array<std::array<char, 64>, 2> memoryLine;
    ULONG memoryIndex;
};

NewImageReqInstance* of(void* instance) {
    return static_cast<NewImageReqInstance*>(instance);
}

ULONG super(NewImageReqInstance* r) {
    return r->header.superObject;
}

const char* text(ULONG number) {
    return Tal_GetCatalogueText(number);
}

float fieldValue(ULONG field) {
    return Tal_ULONGToFloat(ULONG(Tal_DoMethod(field, TAL_GetMeasurementValue)));
}

// A side in whole pixels, or 0 when the field holds no size at all.
LONG pixels(float value) {
    if (!std::isfinite(value) || value < 0.5f || value >= float(kMaxSide) + 0.5f) return 0;
    return LONG(std::lround(value));
}

LONG choice(ULONG exclude) {
    return LONG(Tal_DoMethod(exclude, TAL_GetMutualExcludeIndex));
}

LONG layerKind(NewImageReqInstance* r) {
    return choice(r->layer) == 1 ? TAL_FLOATING_IMAGE : TAL_PAINT_LAYER;
}

ULONG backgroundOf(NewImageReqInstance* r) {
    switch (choice(r->background)) {
    case 1:
        return kWhite;
    case 2: {
        Tal_ImageBase* base = Tal_GetImageBase();
        return base ? ULONG(Tal_DoImageMethod(base->image_object, TAL_GetGlobalColourRGB)) : 0;
    }
    default:
        return 0;
    }
}

void showMemory(NewImageReqInstance* r) {
    const uint64_t bytes =
        Tal__NewImageEstimate(pixels(fieldValue(r->width)), pixels(fieldValue(r->height)), layerKind(r));
    r->memoryIndex ^= 1;
    auto& line = r->memoryLine[r->memoryIndex];
    std::snprintf(line.data(), line.size(), "%s: %lluKB", text(kMemoryText),
                  static_cast<unsigned long long>(bytes / 1024));
    Tal_DoMethod(r->memory, TAL_SetLabel, line.data());
}

// A preset is two whole numbers of pixels with an "x" between them.
ULONG choosePreset(NewImageReqInstance* r, Tal_Word index) {
    if (index >= std::size(TAL_NEW_IMAGE_PRESETS)) return 0;
    long w = 0, h = 0;
    if (std::sscanf(TAL_NEW_IMAGE_PRESETS[index], "%ldx%ld", &w, &h) != 2) return 0;
    Tal_DoMethod(r->width, TAL_SetMeasurementValue, Tal_FloatToULONG(float(w)));
    Tal_DoMethod(r->height, TAL_SetMeasurementValue, Tal_FloatToULONG(float(h)));
    return 1;
}

// The size fields convert with the resolution the picture will have.
void followResolution(NewImageReqInstance* r, ULONG value) {
    const float dpi = Tal_ULONGToFloat(value);
    if (!std::isfinite(dpi) || dpi <= 0) return;
    Tal_DoMethod(r->width, TAL_SetMeasurementResolution, value);
    Tal_DoMethod(r->height, TAL_SetMeasurementResolution, value);
}

// The pop-ups of the presets and of the units, when the program has pop-up lists, go above the fields.
void addPopUps(NewImageReqInstance* r) {
    if (!Tal_FindClassFromName("PopUpList")) return;
    const ULONG row =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 4);
    const ULONG presets = Tal_CreateObject("PopUpList", TAL_SetWeight, 0);
    bool ok = row && presets && Tal_DoMethod(row, TAL_AddTail, presets);
    for (const char* preset : TAL_NEW_IMAGE_PRESETS)
        ok = ok && Tal_DoMethod(presets, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, preset));
    if (ok) {
        Tal_AddNotify(presets, TAL_SelectMemberIndex, TAL_AnyValue, r->header.handle, 2,
                      TAL_ChooseNewImagePreset, TAL_TriggerValue);
        Tal_DoMethod(row, TAL_AddTail, Tal_CreateObject("Space"));
        if (const ULONG units = Tal_CreateObject("MeasurementUnitsPrefs"))
            Tal_DoMethod(row, TAL_AddTail, units);
        ok = Tal_DoMethod(super(r), TAL_AddHead, row) != 0;
    }
    if (ok) return;
    if (presets && !Tal_GetParentObject(presets)) Tal_DisposeObject(presets);
    Tal_DisposeObject(row);
}

bool build(NewImageReqInstance* r) {
    // clang-format off
    const ULONG parts = Tal_CreateObjects(0,
        TAL_TREE_VGROUP, TAL_SetGroupSpacing, 3,
            TAL_TREE_HGROUP, TAL_SetGroupSpacing, 4,
                TAL_TREE_LABEL, text(kWidthText),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &r->width, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetGroupSpacing, 4,
                TAL_TREE_LABEL, text(kHeightText),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &r->height, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetGroupSpacing, 4,
                TAL_TREE_LABEL, text(kResolutionText),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &r->resolution,
                    TAL_SetMeasurementBaseUnit, TAL_UNIT_DPI, TAL_SetMeasurementUnit, TAL_UNIT_DPI,
                TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetGroupSpacing, 6,
                TAL_TREE_VGROUP, TAL_SetGroupSpacing, 1,
                    TAL_TREE_LABEL, text(kImageTypeText),
                    TAL_TREE_OBJECT, "MutualExclude", TAL_TREE_HANDLE, &r->grey,
                        TAL_TREE_TEXT, text(kColourText), TAL_TREE_TEXT, text(kGreyscaleText),
                    TAL_TREE_CLOSE,
                    TAL_TREE_LABEL, text(kFirstLayerText),
                    TAL_TREE_OBJECT, "MutualExclude", TAL_TREE_HANDLE, &r->layer,
                        TAL_TREE_TEXT, text(kPaintLayerText), TAL_TREE_TEXT, text(kFloatingText),
                    TAL_TREE_CLOSE,
                TAL_TREE_CLOSE,
                TAL_TREE_VGROUP, TAL_SetGroupSpacing, 1,
                    TAL_TREE_LABEL, text(kBackgroundText),
                    TAL_TREE_OBJECT, "MutualExclude", TAL_TREE_HANDLE, &r->background,
                        TAL_TREE_TEXT, text(kBlackText), TAL_TREE_TEXT, text(kWhiteText),
                        TAL_TREE_TEXT, text(kCurrentColourText),
                    TAL_TREE_CLOSE,
                    TAL_TREE_SPACE_HEIGHT1, TAL_TREE_OBJECT, "Space", TAL_TREE_CLOSE,
                TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_TEXT, "", TAL_TREE_HANDLE, &r->memory,
        TAL_TREE_CLOSE);
    // clang-format on
    if (!parts || !r->width || !r->height || !r->resolution || !r->grey || !r->layer || !r->background ||
        !r->memory || !Tal_DoMethod(super(r), TAL_AddTail, parts)) {
        Tal_DisposeObject(parts);
        return false;
    }
    Tal_DoMethod(r->grey, TAL_SetMutualExcludeIndex, 0);
    Tal_DoMethod(r->layer, TAL_SetMutualExcludeIndex, 0);
    Tal_DoMethod(r->background, TAL_SetMutualExcludeIndex, 1); // a new picture is white unless asked
    Tal_DoMethod(r->resolution, TAL_SetMeasurementValue, Tal_FloatToULONG(kDefaultResolution));
    addPopUps(r);
    // Every change shows in the memory line; the resolution also goes to the size fields.
    const ULONG self = r->header.handle;
    for (ULONG field : {r->width, r->height})
        Tal_AddNotify(field, TAL_SetMeasurementValue, TAL_AnyValue, self, 1, TAL_NewImageFieldChanged);
    Tal_AddNotify(r->layer, TAL_SetMutualExcludeIndex, TAL_AnyValue, self, 1, TAL_NewImageFieldChanged);
    Tal_AddNotify(r->resolution, TAL_SetMeasurementValue, TAL_AnyValue, self, 2,
                  TAL_NewImageResolutionChanged, TAL_TriggerValue);
    return true;
}

// The bytes the planes of a new picture and its first layer take (their rows rounded up to 8 bytes).
uint64_t planeBytes(LONG width, LONG height, LONG layerKind, LONG layerDepth) {
    const uint64_t row = (uint64_t(width) + 7) / 8 * 8, h = uint64_t(height);
    const uint64_t picture = row * ((h + 2) + 2 * (h + 1) + 3 * h); // working and base planes
    uint64_t layer = row * (h + 2) * (layerDepth == 24 ? 3 : 1);
    if (layerKind == TAL_FLOATING_IMAGE) layer = picture + 2 * row * (h + 2); // its alpha and paint layer
    return picture + layer;
}

} // namespace

uint64_t Tal__NewImageEstimate(LONG width, LONG height, LONG layerKind) {
    if (width <= 0 || height <= 0) return 0;
    return uint64_t(layerKind == TAL_FLOATING_IMAGE ? 10 : 7) * uint64_t(width) * uint64_t(height);
}

const char* Tal__NewImageRefusal(float width, float height, float resolution, LONG layerKind,
                                 LONG layerDepth) {
    const LONG w = pixels(width), h = pixels(height);
    if (!w || !h) return text(kBadSizeText);
    if (!std::isfinite(resolution) || resolution <= 0) return text(kBadResolutionText);
    if (planeBytes(w, h, layerKind, layerDepth) > TALIO__AvailableMemory()) return text(kNoMemoryText);
    return nullptr;
}

void* Tal_NewNewImageReqClass(const TagItem*) {
    auto* r = of(Tal_AllocObjectMem(&newImageReqClass));
    if (!r) return nullptr;
    r->layerDepth = 8;
    r->header.superObject =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 4);
    if (!r->header.superObject || !build(r)) {
        Tal_DisposeObject(r->header.superObject);
        Tal_FreeObjectMem(r);
        return nullptr;
    }
    showMemory(r);
    return r;
}

void Tal_DisposeNewImageReqClass(void* instance) {
    auto* r = of(instance);
    Tal_DisposeObject(super(r));
    Tal_FreeObjectMem(r);
}

Tal_Word Tal_DoNewImageReqClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* r = of(instance);
    switch (id) {
    case TAL_SetNewImageWidth:
    case TAL_SetNewImageHeight:
        return Tal_DoMethod(id == TAL_SetNewImageWidth ? r->width : r->height, TAL_SetMeasurementValue,
                            Tal_FloatToULONG(float(LONG(args[0]))));
    case TAL_GetNewImageWidth:
        return Tal_Word(pixels(fieldValue(r->width)));
    case TAL_GetNewImageHeight:
        return Tal_Word(pixels(fieldValue(r->height)));
    case TAL_SetNewImageDepth:
        Tal_DoMethod(r->grey, TAL_SetMutualExcludeIndex, LONG(args[0]) == 8 ? 1 : 0);
        return 1;
    case TAL_GetNewImageDepth:
        return choice(r->grey) == 1 ? 8 : 24;
    case TAL_SetNewImageLayerDepth:
        r->layerDepth = LONG(args[0]) == 24 ? 24 : 8;
        return 1;
    case TAL_GetNewImageLayerDepth:
        return Tal_Word(r->layerDepth);
    case TAL_SetNewImageLayerKind:
        Tal_DoMethod(r->layer, TAL_SetMutualExcludeIndex, LONG(args[0]) == TAL_FLOATING_IMAGE ? 1 : 0);
        return 1;
    case TAL_GetNewImageLayerKind:
        return Tal_Word(layerKind(r));
    case TAL_SetNewImageBackground:
        Tal_DoMethod(r->background, TAL_SetMutualExcludeIndex, LONG(args[0]));
        return 1;
    case TAL_GetNewImageBackground:
        return backgroundOf(r);
    case TAL_SetNewImageResolution:
        return Tal_DoMethod(r->resolution, TAL_SetMeasurementValue, ULONG(args[0]));
    case TAL_GetNewImageResolution:
        return Tal_DoMethod(r->resolution, TAL_GetMeasurementValue);
    case TAL_ChooseNewImagePreset:
        return choosePreset(r, args[0]);
    case TAL_NewImageFieldChanged:
        showMemory(r);
        return 1;
    case TAL_NewImageResolutionChanged:
        followResolution(r, ULONG(args[0]));
        return 1;
    case TAL_GetNewImageMemoryText:
        return Tal_DoMethod(r->memory, TAL_GetLabel);
    case TAL_GetNewImageRefusal:
        return reinterpret_cast<Tal_Word>(Tal__NewImageRefusal(fieldValue(r->width), fieldValue(r->height),
                                                               fieldValue(r->resolution), layerKind(r),
                                                               r->layerDepth));
    case TAL_StoreChildren:
        return 1; // its parts are its own
    default:
        return Tal_DoMethodA(super(r), id, args);
    }
}

ULONG Tal_InitNewImageReqClass() {
    return Tal__SetupClass(&newImageReqClass, "NewImageReq", 0x00280000, "Group", Tal_NewNewImageReqClass,
                           Tal_DisposeNewImageReqClass, Tal_DoNewImageReqClassMethod, nullptr,
                           sizeof(NewImageReqInstance));
}

void Tal_CleanupNewImageReqClass() {
    Tal__CleanupClass(&newImageReqClass);
}

// ---------------------------------------------------------------------------------------------------
// The requester and the new picture.

namespace {

struct NewImage {
    LONG width, height;
    LONG depth;
    LONG layerKind, layerDepth;
    ULONG background;
    float resolution;
};

// A grey picture is a colour picture with a grey background: the colour's (R + G + B) ÷ 3 in each channel.
ULONG greyOf(ULONG colour) {
    const ULONG grey = ((colour & 0xFF) + (colour >> 8 & 0xFF) + (colour >> 16 & 0xFF)) / 3;
    return grey | grey << 8 | grey << 16;
}

// The first layer is added before the picture is listed, so that it does not make the picture active:
// that is for the caller to say.
Tal_Image* makeImage(const NewImage& n, ULONG flags) {
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    bool made = image && Tal_AllocImage(image, n.width, n.height, 24, 0);
    if (made) {
        image->resolution = n.resolution;
        const ULONG background = n.depth == 8 ? greyOf(n.background) : n.background;
        if (background) Tal_DoImageMethod(image, TAL_FillImageData, background);
        made =
            Tal_DoImageMethod(image, TAL_NewLayer, n.layerKind,
                              n.layerKind == TAL_FLOATING_IMAGE ? 8 : n.layerDepth, n.width, n.height) != 0;
    }
    if (!made) {
        if (image) Tal_DisposeObject(image->header.handle);
        Tal_OutOfMemory(nullptr);
        return nullptr;
    }
    Tal_DoImageMethod(image, TAL_AddToImageList);
    image->modified_count = 0;
    if (!(flags & TAL_LOAD_NO_VIEW)) {
        Tal_DoImageMethod(image, TAL_SetActiveImage, image);
        Tal_DoImageMethod(image, TAL_OpenView);
    }
    return image;
}

} // namespace

ULONG Tal_ShowNewImageReq(ULONG request) {
    Tal_ImageBase* base = Tal_GetImageBase();
    const bool ours = request == 0;
    if (ours) {
        LONG width = kDefaultWidth, height = kDefaultHeight;
        float resolution = kDefaultResolution;
        if (Tal_Image* active = Tal_LockActiveImageA(TAL_LOCK_READ, 0)) {
            width = active->width;
            height = active->height;
            if (std::isfinite(active->resolution) && active->resolution > 0) resolution = active->resolution;
            Tal_UnlockImageA(active, TAL_LOCK_READ, 0);
        }
        request = Tal_CreateObject("NewImageReq", TAL_SetNewImageResolution, Tal_FloatToULONG(resolution),
                                   TAL_SetNewImageWidth, width, TAL_SetNewImageHeight, height,
                                   TAL_SetNewImageDepth, 24);
        if (!request) return 0;
    }
    const ULONG parent = base ? base->main_window : 0;
    // What cannot be made is said, and the requester comes back with what was typed.
    for (;;) {
        if (!Tal_ShowRequester(text(kTitleText), request, 2, parent, ours ? kDisposeUnlessOk : 0,
                               kRequesterWidth, 150))
            return 0;
        const auto* why = reinterpret_cast<const char*>(Tal_DoMethod(request, TAL_GetNewImageRefusal));
        if (!why) return request;
        Tal_MessageBoxA(text(kTitleText), why, 1);
    }
}

Tal_Image* Tal__DoNewImageReqA(ULONG request, ULONG flags) {
    request = Tal_ShowNewImageReq(request);
    if (!request) return nullptr;
    const NewImage n{LONG(Tal_DoMethod(request, TAL_GetNewImageWidth)),
                     LONG(Tal_DoMethod(request, TAL_GetNewImageHeight)),
                     LONG(Tal_DoMethod(request, TAL_GetNewImageDepth)),
                     LONG(Tal_DoMethod(request, TAL_GetNewImageLayerKind)),
                     LONG(Tal_DoMethod(request, TAL_GetNewImageLayerDepth)),
                     ULONG(Tal_DoMethod(request, TAL_GetNewImageBackground)),
                     Tal_ULONGToFloat(ULONG(Tal_DoMethod(request, TAL_GetNewImageResolution)))};
    Tal_DisposeObject(request);
    return makeImage(n, flags);
}

Tal_Image* Tal_DoNewImageReq(ULONG request) {
    return Tal__DoNewImageReqA(request, 0);
}

Tal_Image* Tal__NewImageCommand() {
    return Tal__OpenInPlaceOfActive([](ULONG flags, void*) { return Tal__DoNewImageReqA(0, flags); },
                                    nullptr);
}
