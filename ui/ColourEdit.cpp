// ColourEdit: five colour fields on pages, a colour box and sliders for red, green, blue, hue, saturation
// and value, all showing one colour. A change made in any part sets the colour, which is announced
// once and shown by every other part; while the parts are being set their own announcements are not
// taken as changes (the busy state).
#include "ui/Colour.h"
#include "ui/Button.h"
#include "ui/Pages.h"
#include "ui/Slider.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <new>

namespace {

Tal_Class colourEditClass;

constexpr std::array<const char*, 5> kFieldKinds = {"HSV", "HSV2", "HK", "HW", "SV"};
constexpr LONG kTabHeight = 16, kBoxHeight = 20;

enum Slider { Red, Green, Blue, Hue, Saturation, Value, Sliders };

struct SliderSpec {
    const char* format;
    LONG maximum;
    LONG initial;
    ULONG thumbColour; // TAL_NO_COLOUR: the plain thumb
    ULONG method;      // what its changes send to the editor
};
constexpr SliderSpec kSliders[Sliders] = {
    {"R %ld", 255, 255, 0x003200F0, TAL_ColourEditRed},
    {"G %ld", 255, 255, 0x0014FF46, TAL_ColourEditGreen},
    {"B %ld", 255, 255, 0x00F0823C, TAL_ColourEditBlue},
    {"H %ld", 359, 0, TAL_NO_COLOUR, TAL_ColourEditHue},
    {"S %ld", 255, 0, TAL_NO_COLOUR, TAL_ColourEditSaturation},
    {"V %ld", 255, 0, TAL_NO_COLOUR, TAL_ColourEditValue},
};

struct EditState {
    std::mutex lock;
    ULONG colour = 0x00FFFFFF;
    Tal_HSV hsv{0, 0, 255};
    bool busy = false; // the parts are being set
};

struct ColourEditInstance {
    Tal_Object header;
    EditState* state;
    ULONG fieldPages;
    ULONG fields[kFieldKinds.size()];
    ULONG tabs[kFieldKinds.size()];
    ULONG box;
    ULONG sliders[Sliders];
};

ColourEditInstance* of(void* instance) {
    return static_cast<ColourEditInstance*>(instance);
}

// Step 1 of every change: the colour and its hue, saturation and value. True when the parts are to be
// set now (nobody is setting them already).
bool store(EditState& s, ULONG colour) {
    std::lock_guard guard(s.lock);
    s.colour = colour & 0x00FFFFFF;
    s.hsv = Tal_RGBToHSV(s.colour);
    if (s.busy) return false;
    s.busy = true;
    return true;
}

void showParts(ColourEditInstance* e, ULONG colour, Tal_HSV hsv) {
    const LONG values[Sliders] = {LONG(colour & 0xFF),
                                  LONG((colour >> 8) & 0xFF),
                                  LONG((colour >> 16) & 0xFF),
                                  hsv.hue,
                                  hsv.saturation,
                                  hsv.value};
    for (int i = 0; i < Sliders; i++) Tal_DoMethod(e->sliders[i], TAL_SetValue, values[i]);
    Tal_DoMethod(e->box, TAL_SetColourBoxColour, colour);
    for (size_t i = 0; i < kFieldKinds.size(); i++) {
        Tal_DoMethod(e->fields[i], TAL_SetColourSpaceColour, colour);
        Tal_DoMethod(e->tabs[i], TAL_SetColourSpaceColour, colour); // the "SV" tab shows the hue
    }
}

// Sets the colour: announced, then shown by every part. The parts' echoes, and the echo of whoever
// listens to the announcement, arrive while busy and change nothing; a colour set by another thread
// meanwhile is announced and shown when this one is done.
void setColour(ColourEditInstance* e, ULONG colour) {
    EditState& s = *e->state;
    if (!store(s, colour)) return;
    const ULONG self = Tal_GetTopMostObject(e->header.handle);
    for (;;) {
        Tal_HSV hsv;
        {
            std::lock_guard guard(s.lock);
            colour = s.colour;
            hsv = s.hsv;
        }
        Tal_DoNotify(self, TAL_SetColourEditColour, colour);
        showParts(e, colour, hsv);
        std::lock_guard guard(s.lock);
        if (s.colour == colour) {
            s.busy = false;
            return;
        }
    }
}

// A change from a part; the parts' own echoes while they are being set are no changes.
template <typename F>
void fromPart(ColourEditInstance* e, F&& colourOf) {
    ULONG colour;
    {
        std::lock_guard guard(e->state->lock);
        if (e->state->busy) return;
        colour = colourOf(e->state->colour, e->state->hsv);
    }
    setColour(e, colour);
}

void fromSlider(ColourEditInstance* e, ULONG id, LONG v) {
    fromPart(e, [&](ULONG colour, Tal_HSV hsv) {
        const ULONG byte = ULONG(std::clamp<LONG>(v, 0, 255));
        switch (id) {
        case TAL_ColourEditRed:
            return (colour & 0x00FFFF00) | byte;
        case TAL_ColourEditGreen:
            return (colour & 0x00FF00FF) | byte << 8;
        case TAL_ColourEditBlue:
            return (colour & 0x0000FFFF) | byte << 16;
        case TAL_ColourEditHue:
            return Tal_HSVToRGB(std::clamp<LONG>(v, 0, 359), hsv.saturation, hsv.value);
        case TAL_ColourEditSaturation:
            return Tal_HSVToRGB(hsv.hue, LONG(byte), hsv.value);
        default:
            return Tal_HSVToRGB(hsv.hue, hsv.saturation, LONG(byte));
        }
    });
}

// The five fields on pages whose tabs are small fields of the same kinds without a marker.
ULONG buildFields(ColourEditInstance* e, ULONG group) {
    e->fieldPages = Tal_AddObject(group, "Pages", TAL_AddingPageLabels, 1);
    if (!e->fieldPages) return 0;
    for (size_t i = 0; i < kFieldKinds.size(); i++) {
        e->tabs[i] = Tal_CreateObject("ColourSpace", TAL_SetColourSpaceKind, kFieldKinds[i],
                                      TAL_SetFixedHeight, kTabHeight, TAL_LowerColourSpaceMarker, 0);
        if (!e->tabs[i] || !Tal_DoMethod(e->fieldPages, TAL_AddTail, e->tabs[i])) return 0;
    }
    Tal_DoMethod(e->fieldPages, TAL_AddingPageLabels, 0);
    for (size_t i = 0; i < kFieldKinds.size(); i++) {
        e->fields[i] = Tal_CreateObject("ColourSpace", TAL_SetColourSpaceKind, kFieldKinds[i]);
        if (!e->fields[i] || !Tal_DoMethod(e->fieldPages, TAL_AddTail, e->fields[i])) return 0;
    }
    Tal_DoMethod(e->fieldPages, TAL_SelectMemberIndex, 0);
    // Colour fields need more than 256 colours.
    if (host_DisplayDepth() <= 8) Tal_DoMethod(e->fieldPages, TAL_Hide);
    return 1;
}

ULONG buildSliders(ColourEditInstance* e, ULONG group) {
    const ULONG pages = Tal_AddObject(group, "Pages", TAL_AddingPageLabels, 1, TAL_SetWeight, 0);
    if (!pages) return 0;
    for (const char* tab : {"RGB", "HSV"})
        if (!Tal_AddObject(pages, "Text", TAL_SetLabel, tab)) return 0;
    Tal_DoMethod(pages, TAL_AddingPageLabels, 0);
    ULONG page = 0;
    for (int i = 0; i < Sliders; i++) {
        if (i % 3 == 0) {
            page =
                Tal_AddObject(pages, "Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 1);
            if (!page) return 0;
        }
        const SliderSpec& spec = kSliders[i];
        e->sliders[i] = Tal_AddObject(page, "CompactSlider", TAL_SetMinimum, 0, TAL_SetMaximum, spec.maximum,
                                      TAL_SetValueFormat, spec.format, TAL_SetValue, spec.initial);
        if (!e->sliders[i]) return 0;
        if (spec.thumbColour != TAL_NO_COLOUR) Tal_DoMethod(e->sliders[i], TAL_SetColours, spec.thumbColour);
    }
    Tal_DoMethod(pages, TAL_SelectMemberIndex, 0);
    return 1;
}

ULONG build(ColourEditInstance* e, ULONG group) {
    if (!buildFields(e, group)) return 0;
    const ULONG frame = Tal_AddObject(group, "Group", TAL_SetGroupOrientation, TAL_VERTICAL,
                                      TAL_SetGroupFrame, 2, TAL_SetWeight, 0);
    if (!frame) return 0;
    e->box = Tal_AddObject(frame, "ColourBox", TAL_SetColourBoxFixedHeight, kBoxHeight);
    return e->box && buildSliders(e, group);
}

void connect(ColourEditInstance* e) {
    const ULONG self = e->header.handle;
    for (int i = 0; i < Sliders; i++)
        Tal_AddNotify(e->sliders[i], TAL_SetValue, TAL_AnyValue, self, 2, kSliders[i].method,
                      TAL_TriggerValue);
    for (ULONG field : e->fields)
        Tal_AddNotify(field, TAL_SetColourSpaceColour, TAL_AnyValue, self, 2, TAL_ColourEditPicked,
                      TAL_TriggerValue);
}

} // namespace

void* Tal_NewColourEditClass(const TagItem*) {
    auto* e = of(Tal_AllocObjectMem(&colourEditClass));
    if (!e) return nullptr;
    e->state = new (std::nothrow) EditState;
    const ULONG group =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 2);
    e->header.superObject = group;
    if (!e->state || !group || !build(e, group)) {
        Tal_DisposeObject(group); // and the parts it holds
        delete e->state;
        Tal_FreeObjectMem(e);
        return nullptr;
    }
    // The parts start in step (white), before they are heard.
    showParts(e, e->state->colour, e->state->hsv);
    connect(e);
    return e;
}

void Tal_DisposeColourEditClass(void* instance) {
    auto* e = of(instance);
    Tal_DisposeObject(e->header.superObject);
    delete e->state;
    Tal_FreeObjectMem(e);
}

Tal_Word Tal_DoColourEditClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* e = of(instance);
    const Tal_Word arg = args ? args[0] : 0;
    switch (id) {
    case TAL_SetColourEditColour:
        setColour(e, ULONG(arg));
        return 1;
    case TAL_GetColourEditColour: {
        std::lock_guard guard(e->state->lock);
        return e->state->colour;
    }
    case TAL_ColourEditRed:
    case TAL_ColourEditGreen:
    case TAL_ColourEditBlue:
    case TAL_ColourEditHue:
    case TAL_ColourEditSaturation:
    case TAL_ColourEditValue:
        fromSlider(e, id, LONG(int32_t(arg)));
        return 1;
    case TAL_ColourEditPicked:
        fromPart(e, [&](ULONG, Tal_HSV) { return ULONG(arg); });
        return 1;
    case TAL_GetColourEditPart:
        if (arg < kFieldKinds.size()) return e->fields[arg];
        if (arg == kFieldKinds.size()) return e->box;
        if (arg - kFieldKinds.size() - 1 < Sliders) return e->sliders[arg - kFieldKinds.size() - 1];
        return 0;
    case TAL_SetValueImmediate:
        for (ULONG slider : e->sliders) Tal_DoMethodA(slider, id, args);
        return 1;
    case TAL_StoreChildren:
        return 1; // its parts are its own: making it makes them again
    default:
        return Tal_DoMethodA(e->header.superObject, id, args);
    }
}

ULONG Tal_InitColourEditClass() {
    return Tal__SetupClass(&colourEditClass, "ColourEdit", 0x001B0000, "Group", Tal_NewColourEditClass,
                           Tal_DisposeColourEditClass, Tal_DoColourEditClassMethod, nullptr,
                           sizeof(ColourEditInstance));
}

void Tal_CleanupColourEditClass() {
    Tal__CleanupClass(&colourEditClass);
}
