// ToolButton: a button of the tool bar with one picture per state. The first press selects it (state
// 1); further presses cycle through the variants 1, 2, ... and back to 1. State 0 is up.
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>

namespace {

Tal_Class toolButtonClass;

struct ToolButtonInstance {
    Tal_Object header;
    ULONG pages; // the page group of the state pictures
    ULONG state;
    UBYTE hover;
};

ToolButtonInstance* of(void* instance) {
    return static_cast<ToolButtonInstance*>(instance);
}
ULONG super(ToolButtonInstance* t) {
    return t->header.superObject;
}
ULONG topmost(ToolButtonInstance* t) {
    return Tal_GetTopMostObject(t->header.handle);
}

ULONG pictures(ToolButtonInstance* t) {
    return ULONG(Tal_DoMethod(t->pages, TAL_GetMemberCount));
}

// The picture of the state; a state beyond the pictures shows the last one.
void showPage(ToolButtonInstance* t) {
    const ULONG count = pictures(t);
    if (count) Tal_DoMethod(t->pages, TAL_SelectMemberIndex, std::min(t->state, count - 1));
}

Tal_Word release(ToolButtonInstance* t) {
    t->state = 0;
    showPage(t);
    Tal_DoMethod(super(t), TAL_Released);
    const ULONG top = topmost(t);
    Tal_DoMethod(top, TAL_DrawObject);
    Tal_DoNotify(top, TAL_Released, top);
    Tal_DoNotify(top, TAL_SetToolButtonState, 0);
    return top;
}

Tal_Word setState(ToolButtonInstance* t, ULONG state) {
    if (state == 0) return release(t);
    if (state >= pictures(t)) state = 1;
    t->state = state;
    showPage(t);
    Tal_DoMethod(super(t), TAL_Pressed);
    const ULONG top = topmost(t);
    Tal_DoMethod(top, TAL_DrawObject);
    Tal_DoNotify(top, TAL_Pressed, top);
    Tal_DoNotify(top, TAL_SetToolButtonState, state);
    return 1;
}

void setHover(ToolButtonInstance* t, bool on) {
    if (t->hover == UBYTE(on)) return;
    t->hover = on;
    Tal_DoMethod(super(t), on ? TAL_SetSelectedOn : TAL_SetSelectedOff);
}

Tal_Word handleInput(ToolButtonInstance* t, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (!e) return 2;
    const ULONG self = t->header.handle;
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code != SELECTDOWN || !Tal_IsCoordOverObject(self, e->MouseX, e->MouseY) ||
            Tal_DoMethod(super(t), TAL_IsDisabled))
            return 2;
        if (t->state == 0)
            setState(t, 1);
        else
            setState(t, t->state + 1);
        return 1;
    case IDCMP_MOUSEMOVE:
        setHover(t, Tal_IsCoordOverObject(self, e->MouseX, e->MouseY) != 0);
        return 2;
    case IDCMP_INACTIVEWINDOW:
    case IDCMP_POINTERLEFT:
        setHover(t, false);
        return 2;
    default:
        return Tal_DoMethodA(super(t), TAL_HandleIDCMP, args);
    }
}

} // namespace

void* Tal_NewToolButtonClass(const TagItem*) {
    auto* t = static_cast<ToolButtonInstance*>(Tal_AllocObjectMem(&toolButtonClass));
    if (!t) return nullptr;
    t->header.superObject = Tal_CreateObject("Group", TAL_SetGroupFrame, 7, TAL_SetPressedFrame, 1);
    t->pages = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_PAGES);
    if (!t->header.superObject || !t->pages || !Tal_DoMethod(t->header.superObject, TAL_AddTail, t->pages)) {
        Tal_DisposeObject(t->pages);
        Tal_DisposeObject(t->header.superObject);
        Tal_FreeObjectMem(t);
        return nullptr;
    }
    return t;
}

void Tal_DisposeToolButtonClass(void* instance) {
    auto* t = of(instance);
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeObjectMem(t);
}

Tal_Word Tal_DoToolButtonClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = of(instance);
    if ((id >> 16) == 0x0047) {
        Tal_Word result = Tal_DoMethodA(t->pages, id, args);
        if (id == TAL_AddTail || id == TAL_AddHead || id == TAL_InsertMember || id == TAL_InsertMemberAt)
            showPage(t);
        return result;
    }
    switch (id) {
    case TAL_SetToolButtonState:
        return setState(t, ULONG(args[0]));
    case TAL_GetToolButtonState:
        return t->state;
    case TAL_Pressed:
        if (t->state == 0) setState(t, 1);
        return topmost(t);
    case TAL_Released:
        return release(t);
    case TAL_HandleIDCMP:
        return handleInput(t, args);
    case TAL_StoreChildren: // the pictures, not the page group that holds them
        return Tal_DoMethodA(t->pages, id, args);
    default:
        return Tal_DoMethodA(super(t), id, args);
    }
}

ULONG Tal_InitToolButtonClass() {
    return Tal__SetupClass(&toolButtonClass, "ToolButton", 0x00490000, "Group", Tal_NewToolButtonClass,
                           Tal_DisposeToolButtonClass, Tal_DoToolButtonClassMethod, nullptr,
                           sizeof(ToolButtonInstance));
}

void Tal_CleanupToolButtonClass() {
    Tal__CleanupClass(&toolButtonClass);
}
