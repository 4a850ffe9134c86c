// Menu: a titled pop-up whose entries are MenuItems. Menus of a menu bar share one process-wide state,
// the menu that is open (at most one) and whether the stylus went down on a menu and is still held, so
// that dragging along the bar switches menus. Choosing a checkable entry flips its mark.
#include "ui/PopUp.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Window.h"

#include <cstdio>
#include <mutex>

namespace {

Tal_Class menuClass;

constexpr size_t kTitleSize = 256;

struct MenuInstance {
    Tal_Object header;
    ULONG title; // the Text
    char titleText[kTitleSize];
    UBYTE hover;
};

// The process-wide menu state: several window threads change it.
std::mutex stateLock;
ULONG openMenu = 0;
bool tracking = false;

MenuInstance* of(void* instance) {
    return static_cast<MenuInstance*>(instance);
}
ULONG topmost(MenuInstance* m) {
    return Tal_GetTopMostObject(m->header.handle);
}

void tellEntries(MenuInstance* m) {
    const ULONG me = topmost(m);
    for (ULONG e = ULONG(Tal_DoMethod(me, TAL_GetFirstGroupObject)); e;
         e = ULONG(Tal_DoMethod(me, TAL_GetNextGroupObject, e)))
        Tal_DoMethod(e, TAL_SetMenuItemMenu, me);
}

Tal_Word open(MenuInstance* m, const Tal_Word* args) {
    const ULONG me = topmost(m);
    ULONG other;
    {
        std::lock_guard guard(stateLock);
        other = openMenu != me ? openMenu : 0;
        openMenu = me;
    }
    if (other) Tal_DoMethod(other, TAL_Released);
    return Tal_DoMethodA(m->header.superObject, TAL_Pressed, args);
}

Tal_Word choose(MenuInstance* m, ULONG id, ULONG entry, const Tal_Word* args) {
    const ULONG me = topmost(m);
    if (entry && Tal_DoMethod(entry, TAL_IsDisabled)) entry = 0; // a disabled entry chooses nothing
    if (entry) {
        const ULONG checks = ULONG(Tal_DoMethod(entry, TAL_GetMenuItemChecks));
        if (checks == TAL_MENU_CHECKED || checks == TAL_MENU_UNCHECKED)
            Tal_DoMethod(entry, TAL_SetMenuItemChecks,
                         checks == TAL_MENU_CHECKED ? TAL_MENU_UNCHECKED : TAL_MENU_CHECKED);
    }
    {
        std::lock_guard guard(stateLock);
        if (openMenu == me) openMenu = 0;
    }
    if (id == TAL_Released) return Tal_DoMethodA(m->header.superObject, id, args);
    return Tal_DoMethod(m->header.superObject, TAL_PopUpChoose, entry);
}

void setHover(MenuInstance* m, bool on) {
    if (m->hover == UBYTE(on)) return;
    m->hover = on;
    Tal_DoMethod(m->header.superObject, on ? TAL_SetSelectedOn : TAL_SetSelectedOff);
}

Tal_Word handleInput(MenuInstance* m, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (!e) return 2;
    const ULONG me = topmost(m);
    const bool over = Tal_IsCoordOverObject(me, e->MouseX, e->MouseY) != 0;
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN && over) {
            {
                std::lock_guard guard(stateLock);
                tracking = true;
            }
            Tal_DoMethod(me, TAL_Pressed);
            return 1;
        }
        if (e->Code == SELECTUP) {
            std::lock_guard guard(stateLock);
            tracking = false;
        }
        break;
    case IDCMP_MOUSEMOVE: {
        bool switchTo;
        {
            std::lock_guard guard(stateLock);
            switchTo = tracking && over && openMenu != me;
        }
        if (switchTo) {
            Tal_DoMethod(me, TAL_Pressed);
            return 1;
        }
        if (!tracking) setHover(m, over);
        break;
    }
    case IDCMP_INACTIVEWINDOW:
        setHover(m, false);
        break;
    default:
        break;
    }
    return Tal_DoMethodA(m->header.superObject, TAL_HandleIDCMP, args);
}

} // namespace

ULONG Tal_GetOpenMenu() {
    std::lock_guard guard(stateLock);
    return openMenu;
}

void* Tal_NewMenuClass(const TagItem*) {
    auto* m = of(Tal_AllocObjectMem(&menuClass));
    if (!m) return nullptr;
    m->header.superObject =
        Tal_CreateObject("PopUp", TAL_SetPopUpPos, TAL_POPUP_BELOW, TAL_SetGroupFrame, 7, TAL_SetPressedFrame,
                         4, TAL_SetSelectedFrame, 4, TAL_SetGroupOrientation, TAL_HORIZONTAL);
    m->title = Tal_CreateObject("Text", TAL_SetTextMode, TAL_TEXT_PLAIN, TAL_SetLabel, m->titleText);
    if (!m->header.superObject || !m->title) {
        Tal_DisposeObject(m->title);
        Tal_DisposeObject(m->header.superObject);
        Tal_FreeObjectMem(m);
        return nullptr;
    }
    const ULONG super = m->header.superObject;
    Tal_DoMethod(super, TAL_AddTail, Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, 8));
    Tal_DoMethod(super, TAL_AddTail, m->title);
    Tal_DoMethod(super, TAL_AddTail, Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, 8));
    Tal_DoMethod(super, TAL_SetPopUpContentMode, 1);
    Tal_DoMethod(ULONG(Tal_DoMethod(super, TAL_GetPopUpContent)), TAL_SetGroupFrame, 1);
    return m;
}

void Tal_DisposeMenuClass(void* instance) {
    auto* m = of(instance);
    {
        std::lock_guard guard(stateLock);
        if (openMenu == m->header.handle || openMenu == Tal_GetTopMostObject(m->header.handle)) openMenu = 0;
    }
    Tal_DisposeObject(m->header.superObject);
    Tal_FreeObjectMem(m);
}

Tal_Word Tal_DoMenuClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* m = of(instance);
    switch (id) {
    case TAL_SetMenuItemText: {
        const char* text = reinterpret_cast<const char*>(args[0]);
        std::snprintf(m->titleText, sizeof m->titleText, "%s", text ? text : "");
        Tal_DoMethod(m->title, TAL_SetLabel, m->titleText);
        return 1;
    }
    case TAL_GetMenuItemText:
        return reinterpret_cast<Tal_Word>(m->titleText);
    case TAL_AddHead:
    case TAL_AddTail:
        Tal_DoMethod(ULONG(args[0]), TAL_SetMenuItemMenu, topmost(m));
        return Tal_DoMethodA(m->header.superObject, id, args);
    case TAL_Start:
        tellEntries(m);
        return Tal_DoMethodA(m->header.superObject, id, args);
    case TAL_Pressed:
        return open(m, args);
    case TAL_Released:
    case TAL_PopUpChoose:
        return choose(m, id, id == TAL_PopUpChoose ? ULONG(args[0]) : 0, args);
    case TAL_HandleIDCMP:
        return handleInput(m, args);
    default:
        return Tal_DoMethodA(m->header.superObject, id, args);
    }
}

ULONG Tal_InitMenuClass() {
    return Tal__SetupClass(&menuClass, "Menu", 0x004F0000, "PopUp", Tal_NewMenuClass, Tal_DisposeMenuClass,
                           Tal_DoMenuClassMethod, nullptr, sizeof(MenuInstance));
}

void Tal_CleanupMenuClass() {
    Tal__CleanupClass(&menuClass);
}
