// MenuItem: an entry of a menu: a flat button with an optional check mark or picture, its text and an
// optional "Ctrl+key" shortcut. Given entries of its own it turns into a sub-menu: a pop-up opening to its
// right, marked with an arrow, in the same place of its menu.
#include "ui/PopUp.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Pages.h"
#include "ui/Window.h"

#include <cctype>
#include <cstdio>

namespace {

Tal_Class menuItemClass;

constexpr size_t kTextSize = 256;

struct MenuItemInstance {
    Tal_Object header;
    ULONG picture, check, label, arrow, leading;
    ULONG menu; // the owning menu
    char shortcut[16];
    ULONG checks;
    char text[kTextSize];
    UBYTE subMenu;
};

MenuItemInstance* of(void* instance) {
    return static_cast<MenuItemInstance*>(instance);
}
ULONG topmost(MenuItemInstance* i) {
    return Tal_GetTopMostObject(i->header.handle);
}
ULONG super(MenuItemInstance* i) {
    return i->header.superObject;
}

ULONG space(LONG width, LONG height = 0) {
    return height ? Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, width, TAL_SetSpaceFixedHeight, height)
                  : Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, width);
}

// Puts an object in front of the leading space (with a space of `before` in front of it), and makes the
// leading space `leading` wide.
void inFront(MenuItemInstance* i, ULONG object, LONG before, LONG leading) {
    const ULONG previous = ULONG(Tal_DoMethod(super(i), TAL_GetPrevGroupObject, i->leading));
    if (before) {
        const ULONG gap = space(before);
        Tal_DoMethod(super(i), TAL_InsertMember, gap, previous);
        Tal_DoMethod(super(i), TAL_InsertMember, object, gap);
    } else {
        Tal_DoMethod(super(i), TAL_InsertMember, object, previous);
    }
    Tal_DoMethod(i->leading, TAL_SetSpaceFixedWidth, leading);
    Tal_RelayoutAndRedrawObject(topmost(i));
}

void setChecks(MenuItemInstance* i, ULONG checks) {
    i->checks = checks;
    if (!i->check && !i->subMenu) {
        i->check = Tal_CreateObject("VectorImage", TAL_SetSpaceFixedWidth, 12, TAL_SetSpaceFixedHeight, 12);
        if (i->check) inFront(i, i->check, 0, 7);
    }
    Tal_DoMethod(i->check, TAL_SetVectorShape,
                 checks & TAL_MENU_CHECKED ? TAL_SHAPE_CHECK : TAL_SHAPE_UNCHECKED);
    Tal_DoMethod(i->check, TAL_DrawObject);
}

void setPicture(MenuItemInstance* i, const char* name) {
    if (!i->picture && !i->subMenu) {
        i->picture = Tal_CreateObject("BitMap", TAL_SetBitMapFixedWidth, 16, TAL_SetBitMapFixedHeight, 13);
        if (i->picture) inFront(i, i->picture, 3, 3);
    }
    Tal_DoMethod(i->picture, TAL_LoadBitMap, name);
}

void setShortcut(MenuItemInstance* i, ULONG character) {
    const ULONG key = ULONG(std::tolower(int(character & 0xFF)));
    std::snprintf(i->shortcut, sizeof i->shortcut, "Ctrl+%c", std::toupper(int(key)));
    Tal_AddGlobalShortcutKey(key, IEQUALIFIER_CONTROL, 0, topmost(i), 2, TAL_PopUpChoose, 0);
    const ULONG last = ULONG(Tal_DoMethod(super(i), TAL_GetLastGroupObject));
    const ULONG beforeLast = ULONG(Tal_DoMethod(super(i), TAL_GetPrevGroupObject, last));
    const ULONG text = Tal_CreateObject("Text", TAL_SetTextMode, TAL_TEXT_PLAIN, TAL_SetWeight, 0,
                                        TAL_SetLabel, i->shortcut);
    const ULONG gap = space(12);
    Tal_DoMethod(super(i), TAL_InsertMember, text, beforeLast);
    Tal_DoMethod(super(i), TAL_InsertMember, gap, text);
}

// The item as a plain entry: a flat button.
ULONG buildEntry(MenuItemInstance* i) {
    i->label =
        Tal_CreateObject("Text", TAL_SetTextMode, TAL_TEXT_PLAIN, TAL_SetWeight, 0, TAL_SetLabel, i->text);
    i->leading = space(22);
    const ULONG button =
        Tal_CreateObject("Button", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupFrame, 7,
                         TAL_SetPressedFrame, 4, TAL_SetGroupSpacing, 0);
    if (!button || !i->label || !i->leading) {
        Tal_DisposeObject(button);
        Tal_DisposeObject(i->label);
        Tal_DisposeObject(i->leading);
        return 0;
    }
    for (ULONG part : {i->leading, i->label, Tal_CreateObject("Space"), space(23)})
        if (!Tal_DoMethod(button, TAL_AddTail, part)) Tal_DisposeObject(part);
    return button;
}

// The first entry added turns the item into a sub-menu, in its place in its menu.
bool becomeSubMenu(MenuItemInstance* i) {
    if (i->subMenu) return true;
    const ULONG me = topmost(i);
    const ULONG parent = Tal_GetParentObject(me);
    const ULONG before = parent ? ULONG(Tal_DoMethod(parent, TAL_GetPrevGroupObject, me)) : 0;
    const ULONG popUp =
        Tal_CreateObject("PopUp", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupFrame, 7,
                         TAL_SetPressedFrame, 4, TAL_SetGroupSpacing, 0, TAL_SetPopUpPos, TAL_POPUP_RIGHT);
    const ULONG label =
        Tal_CreateObject("Text", TAL_SetTextMode, TAL_TEXT_PLAIN, TAL_SetWeight, 0, TAL_SetLabel, i->text);
    const ULONG arrow = Tal_CreateObject("VectorImage", TAL_SetVectorShape, TAL_SHAPE_ARROW_RIGHT,
                                         TAL_SetSpaceFixedWidth, 8, TAL_SetSpaceFixedHeight, 10);
    if (!popUp || !label || !arrow) {
        for (ULONG h : {popUp, label, arrow}) Tal_DisposeObject(h);
        return false;
    }
    for (ULONG part : {space(22, 13), label, Tal_CreateObject("Space"), space(12), arrow, space(2)})
        if (!Tal_DoMethod(popUp, TAL_AddTail, part)) Tal_DisposeObject(part);
    Tal_DoMethod(popUp, TAL_SetPopUpContentMode, 1);
    const ULONG content = ULONG(Tal_DoMethod(popUp, TAL_GetPopUpContent));
    Tal_DoMethod(content, TAL_SetGroupFrame, 1);
    if (parent) Tal_DoMethod(parent, TAL_RemoveMember, me);
    const ULONG old = i->header.superObject;
    if (auto* o = static_cast<Tal_Object*>(Tal_GetObjectInstance(popUp))) o->outerObject = i->header.handle;
    i->header.superObject = popUp;
    Tal_DisposeObject(old);
    i->picture = i->check = i->leading = 0;
    i->label = label;
    i->arrow = arrow;
    i->subMenu = 1;
    if (parent) Tal_DoMethod(parent, TAL_InsertMember, me, before);
    return true;
}

Tal_Word addEntry(MenuItemInstance* i, ULONG id, const Tal_Word* args) {
    if (!becomeSubMenu(i)) return 0;
    Tal_DoMethod(ULONG(args[0]), TAL_SetMenuItemMenu, i->menu);
    return Tal_DoMethodA(super(i), id, args);
}

Tal_Word choose(MenuItemInstance* i, const Tal_Word* args) {
    const ULONG me = topmost(i);
    if (i->subMenu) {
        // A choice in the sub-menu closes it and the whole menu.
        const ULONG entry = ULONG(args[0]);
        const Tal_Word result = Tal_DoMethodA(super(i), TAL_PopUpChoose, args);
        if (entry && i->menu) Tal_DoMethod(i->menu, TAL_PopUpChoose, entry);
        return result;
    }
    if (Tal_DoMethod(me, TAL_IsDisabled)) return 0;
    if (i->menu) Tal_DoMethod(i->menu, TAL_PopUpChoose, me);
    return me;
}

} // namespace

void* Tal_NewMenuItemClass(const TagItem*) {
    auto* i = of(Tal_AllocObjectMem(&menuItemClass));
    if (!i) return nullptr;
    i->header.superObject = buildEntry(i);
    if (!i->header.superObject) {
        Tal_FreeObjectMem(i);
        return nullptr;
    }
    return i;
}

void Tal_DisposeMenuItemClass(void* instance) {
    auto* i = of(instance);
    Tal_DisposeObject(i->header.superObject);
    Tal_FreeObjectMem(i);
}

Tal_Word Tal_DoMenuItemClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* i = of(instance);
    switch (id) {
    case TAL_SetMenuItemImageName:
        setPicture(i, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetMenuItemImageName:
        return i->picture ? Tal_DoMethod(i->picture, TAL_GetBitMapFile) : 0;
    case TAL_SetMenuItemText: {
        const char* text = reinterpret_cast<const char*>(args[0]);
        std::snprintf(i->text, sizeof i->text, "%s", text ? text : "");
        Tal_DoMethod(i->label, TAL_SetLabel, i->text);
        return 1;
    }
    case TAL_GetMenuItemText:
        return reinterpret_cast<Tal_Word>(i->text);
    case TAL_SetMenuItemShortcut:
        if (!i->shortcut[0]) setShortcut(i, ULONG(args[0]));
        return 1;
    case TAL_SetMenuItemMenu:
        i->menu = ULONG(args[0]);
        if (i->subMenu)
            for (ULONG e = ULONG(Tal_DoMethod(super(i), TAL_GetFirstGroupObject)); e;
                 e = ULONG(Tal_DoMethod(super(i), TAL_GetNextGroupObject, e)))
                Tal_DoMethod(e, TAL_SetMenuItemMenu, i->menu);
        return 1;
    case TAL_SetMenuItemChecks:
        setChecks(i, ULONG(args[0]));
        return 1;
    case TAL_GetMenuItemChecks:
        return i->checks;
    case TAL_PopUpChoose:
        return choose(i, args);
    case TAL_AddHead:
    case TAL_AddTail:
        return addEntry(i, id, args);
    default:
        return Tal_DoMethodA(super(i), id, args);
    }
}

ULONG Tal_InitMenuItemClass() {
    return Tal__SetupClass(&menuItemClass, "MenuItem", 0x00180000, "Button", Tal_NewMenuItemClass,
                           Tal_DisposeMenuItemClass, Tal_DoMenuItemClassMethod, nullptr,
                           sizeof(MenuItemInstance));
}

void Tal_CleanupMenuItemClass() {
    Tal__CleanupClass(&menuItemClass);
}
