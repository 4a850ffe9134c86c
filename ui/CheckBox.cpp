// CheckBox: a toggle button without press look that holds the box (a space where the mark is drawn) and
// the label, so that pressing the label checks the box too; a stretching space follows it.
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>

namespace {

Tal_Class checkBoxClass;

constexpr LONG kMarkSpace = 16;
constexpr LONG kMaxMark = 13;

struct CheckBoxInstance {
    Tal_Object header;
    ULONG button;
    ULONG mark; // the space the box is drawn in
    ULONG label;
    UBYTE setting; // inside a set: the button's own notification comes back and is not repeated
};

CheckBoxInstance* of(void* instance) {
    return static_cast<CheckBoxInstance*>(instance);
}

// The box: a white square with a dark edge, as tall as the button (at most kMaxMark) and centred on it, with
// the check mark when checked.
void drawMark(CheckBoxInstance* c) {
    Tal_RootInstance* button = Tal__GetRootInstance(c->button);
    if (!button || button->box.width <= 0 || button->box.height <= 0) return;
    const ULONG self = c->header.handle;
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    const Tal_Box& b = button->box;
    const LONG side = std::min<LONG>(b.height, kMaxMark);
    const LONG x = b.x + 1, y = b.y + (b.height - side) / 2;
    const bool off = Tal_DoMethod(c->button, TAL_IsDisabled) != 0;
    RastPort* rp = di->rastPort;
    SetDrMd(rp, JAM2);
    auto fill = [&](ULONG pen, LONG x0, LONG y0, LONG x1, LONG y1) {
        SetAPen(rp, pen);
        RectFill(rp, x0, y0, x1, y1);
    };
    const LONG x1 = x + side - 1, y1 = y + side - 1;
    fill(off ? di->darkGreyPen : host_DirectPen(0x404040), x, y, x1, y1); // the edge
    fill(off ? host_DirectPen(0xC0C0C0) : 2, x + 1, y + 1, x1 - 1, y1 - 1);
    if (Tal_DoMethod(c->button, TAL_GetButtonState))
        Tal__DrawVectorShape(di, TAL_SHAPE_CHECK, x + 1, y + 1, side - 2, side - 2, off ? di->darkGreyPen : 1,
                             false);
    Tal_UnlockDrawInfo(self);
}

Tal_Word setChecked(CheckBoxInstance* c, Tal_Word value) {
    if (c->setting) return 1;
    const ULONG checked = value ? 1 : 0;
    c->setting = 1;
    Tal_DoMethod(c->button, TAL_SetButtonState, checked);
    c->setting = 0;
    const ULONG top = Tal_GetTopMostObject(c->header.handle);
    Tal_DoMethod(top, TAL_DrawObject);
    Tal_DoNotify(top, TAL_SetChecked, checked);
    return 1;
}

} // namespace

void* Tal_NewCheckBoxClass(const TagItem*) {
    auto* c = static_cast<CheckBoxInstance*>(Tal_AllocObjectMem(&checkBoxClass));
    if (!c) return nullptr;
    c->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    c->button = Tal_CreateObject("Button", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetButtonToggle, 1,
                                 TAL_SetButtonNoPressLook, 1);
    c->mark = Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, kMarkSpace);
    c->label = Tal_CreateObject("Text", TAL_SetWeight, 0);
    ULONG stretch = Tal_CreateObject("Space");
    const ULONG group = c->header.superObject;
    if (!group || !c->button || !c->mark || !c->label || !stretch ||
        !Tal_DoMethod(c->button, TAL_AddTail, c->mark) || !Tal_DoMethod(c->button, TAL_AddTail, c->label) ||
        !Tal_DoMethod(group, TAL_AddTail, c->button) || !Tal_DoMethod(group, TAL_AddTail, stretch)) {
        // Members already added go with their container.
        for (ULONG member : {stretch, c->label, c->mark, c->button})
            if (member && !Tal_GetParentObject(member)) Tal_DisposeObject(member);
        Tal_DisposeObject(group);
        Tal_FreeObjectMem(c);
        return nullptr;
    }
    Tal_AddNotify(c->button, TAL_Pressed, TAL_AnyValue, c->header.handle, 2, TAL_SetChecked, 1);
    Tal_AddNotify(c->button, TAL_Released, TAL_AnyValue, c->header.handle, 2, TAL_SetChecked, 0);
    return c;
}

void Tal_DisposeCheckBoxClass(void* instance) {
    auto* c = of(instance);
    Tal_DisposeObject(c->header.superObject);
    Tal_FreeObjectMem(c);
}

Tal_Word Tal_DoCheckBoxClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* c = of(instance);
    switch (id) {
    case TAL_SetChecked:
        return setChecked(c, args[0]);
    case TAL_GetChecked:
        return Tal_DoMethod(c->button, TAL_GetButtonState);
    case TAL_SetLabel:
    case TAL_GetLabel:
        return Tal_DoMethodA(c->label, id, args);
    case TAL_DrawObject: {
        Tal_Word result = Tal_DoMethodA(c->header.superObject, id, args);
        drawMark(c);
        return result;
    }
    case TAL_StoreChildren:
        return 1; // its parts are its own: the attributes make it again
    default:
        return Tal_DoMethodA(c->header.superObject, id, args);
    }
}

ULONG Tal_InitCheckBoxClass() {
    return Tal__SetupClass(&checkBoxClass, "CheckBox", 0x00150000, "Group", Tal_NewCheckBoxClass,
                           Tal_DisposeCheckBoxClass, Tal_DoCheckBoxClassMethod, nullptr,
                           sizeof(CheckBoxInstance));
}

void Tal_CleanupCheckBoxClass() {
    Tal__CleanupClass(&checkBoxClass);
}
