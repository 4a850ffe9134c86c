// MenuBar: a row of menus (its members) without space between them; a press on one opens it, and
// dragging along the bar with the stylus held switches from menu to menu (the menus track it).
#include "ui/PopUp.h"
#include "Tal/Root.h"

namespace {

Tal_Class menuBarClass;

struct MenuBarInstance {
    Tal_Object header;
};

} // namespace

void* Tal_NewMenuBarClass(const TagItem*) {
    auto* b = static_cast<MenuBarInstance*>(Tal_AllocObjectMem(&menuBarClass));
    if (!b) return nullptr;
    b->header.superObject =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 0);
    if (!b->header.superObject) {
        Tal_FreeObjectMem(b);
        return nullptr;
    }
    return b;
}

void Tal_DisposeMenuBarClass(void* instance) {
    auto* b = static_cast<MenuBarInstance*>(instance);
    Tal_DisposeObject(b->header.superObject);
    Tal_FreeObjectMem(b);
}

Tal_Word Tal_DoMenuBarClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    return Tal_DoMethodA(static_cast<MenuBarInstance*>(instance)->header.superObject, id, args);
}

ULONG Tal_InitMenuBarClass() {
    return Tal__SetupClass(&menuBarClass, "MenuBar", 0x004B0000, "Group", Tal_NewMenuBarClass,
                           Tal_DisposeMenuBarClass, Tal_DoMenuBarClassMethod, nullptr,
                           sizeof(MenuBarInstance));
}

void Tal_CleanupMenuBarClass() {
    Tal__CleanupClass(&menuBarClass);
}
