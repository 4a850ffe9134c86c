// ListTreeItem: a selectable row of a ListTree. Pressing it chooses it by the tree's rules (single or
// multiple selection, with shift ranges and control toggles); the tree keeps the selection, the row only
// shows it (its background in the highlight colour) and keeps a copy of its name (its label, which is
// not drawn).
#include "ui/ListTree.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

namespace {

Tal_Class itemClass;

constexpr ULONG kListTreeClass = 0x00220000;
constexpr UWORD kShift = IEQUALIFIER_SHIFT | 0x0002; // either shift key
constexpr UWORD kControl = IEQUALIFIER_CONTROL;

struct ItemInstance {
    Tal_Object header;
    UBYTE selected;
    UBYTE inRange; // being pressed as a part of a shift range
    std::string* name;
};

ItemInstance* of(void* instance) {
    return static_cast<ItemInstance*>(instance);
}
ULONG topmost(ItemInstance* item) {
    return Tal_GetTopMostObject(item->header.handle);
}
ULONG treeOf(ItemInstance* item) {
    return Tal_SearchHierachyForClassId(topmost(item), kListTreeClass);
}

void show(ItemInstance* item, bool selected) {
    item->selected = selected;
    const ULONG me = topmost(item);
    Tal_DoMethod(me, TAL_SetColour1,
                 selected ? Tal_GetGlobalData()->highlightColour : Tal_Word(TAL_NO_COLOUR));
    Tal_DoMethod(me, TAL_DrawObject);
}

// The rows of the list the item is in, in order: the members of its container.
std::vector<ULONG> siblings(ItemInstance* item) {
    std::vector<ULONG> rows;
    const ULONG parent = Tal_GetParentObject(topmost(item));
    for (ULONG m = ULONG(Tal_DoMethod(parent, TAL_GetFirstGroupObject)); m;
         m = ULONG(Tal_DoMethod(parent, TAL_GetNextGroupObject, m)))
        rows.push_back(m);
    return rows;
}

// Selects the item as a part of a range: no other rule applies to it.
void pressInRange(ULONG row) {
    auto* other = static_cast<ItemInstance*>(Tal_LockObjectInstance(row));
    const bool isItem = other && other->header.objClass == &itemClass;
    if (other) Tal_UnlockObjectInstance(other);
    if (!isItem) return;
    other->inRange = 1;
    Tal_DoMethod(row, TAL_Pressed);
    other->inRange = 0;
}

// Every row between the first selected item and this one, both included.
void pressRange(ItemInstance* item, ULONG tree) {
    const ULONG anchor = ULONG(Tal_DoMethod(tree, TAL_GetFirstSelected));
    if (!anchor) return;
    const std::vector<ULONG> rows = siblings(item);
    const auto a = std::find(rows.begin(), rows.end(), anchor);
    const auto b = std::find(rows.begin(), rows.end(), topmost(item));
    if (a == rows.end() || b == rows.end()) return;
    for (auto it = std::min(a, b); it <= std::max(a, b); ++it)
        if (*it != topmost(item)) pressInRange(*it);
}

Tal_Word press(ItemInstance* item, UWORD qualifier) {
    const ULONG me = topmost(item);
    const ULONG tree = treeOf(item);
    if (item->inRange) {
        if (!item->selected) show(item, true);
        Tal_DoMethod(tree, TAL_AddToSelection, me);
        return me;
    }
    if (!tree) return 0;
    if (!Tal_DoMethod(tree, TAL_GetMultiSelect)) {
        if (item->selected) {
            Tal_DoNotify(me, TAL_RowActivated, me);
            return me;
        }
        if (ULONG active = ULONG(Tal_DoMethod(tree, TAL_GetActiveItem)); active && active != me)
            Tal_DoMethod(active, TAL_Released);
        Tal_DoMethod(tree, TAL_ReleaseSelection);
        Tal_DoMethod(tree, TAL_SetActiveItem, me);
        show(item, true);
        Tal_DoMethod(tree, TAL_AddToSelection, me);
        Tal_DoNotify(me, TAL_Pressed, me);
        return me;
    }
    const bool shift = qualifier & kShift, control = qualifier & kControl;
    if (item->selected) {
        if (control) {
            Tal_DoMethod(tree, TAL_RemoveFromSelection, me);
            return me;
        }
        // The selection becomes this row alone.
        for (ULONG other = ULONG(Tal_DoMethod(tree, TAL_GetFirstSelected)); other;) {
            const ULONG next = ULONG(Tal_DoMethod(tree, TAL_GetNextSelected, other));
            if (other != me) Tal_DoMethod(tree, TAL_RemoveFromSelection, other);
            other = next;
        }
        if (!shift) Tal_DoNotify(me, TAL_RowActivated, me);
        return me;
    }
    if (!shift && !control) Tal_DoMethod(tree, TAL_ReleaseSelection);
    if (shift) pressRange(item, tree);
    show(item, true);
    Tal_DoMethod(tree, TAL_AddToSelection, me);
    Tal_DoMethod(tree, TAL_SetActiveItem, me);
    Tal_DoNotify(me, TAL_Pressed, me);
    return me;
}

Tal_Word release(ItemInstance* item) {
    const ULONG me = topmost(item);
    if (!item->selected) return me;
    show(item, false);
    if (ULONG tree = treeOf(item)) {
        Tal_DoMethod(tree, TAL_RemoveFromSelection, me);
        if (ULONG(Tal_DoMethod(tree, TAL_GetActiveItem)) == me) Tal_DoMethod(tree, TAL_SetActiveItem, 0);
    }
    return me;
}

Tal_Word handleInput(ItemInstance* item, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (e && e->Class == IDCMP_MOUSEBUTTONS && e->Code == SELECTDOWN &&
        Tal_IsCoordOverObject(topmost(item), e->MouseX, e->MouseY)) {
        // The row's own members (a button on it) come first.
        if (Tal_DoMethodA(item->header.superObject, TAL_HandleIDCMP, args) == 1) return 1;
        press(item, e->Qualifier);
        return 1;
    }
    return Tal_DoMethodA(item->header.superObject, TAL_HandleIDCMP, args);
}

} // namespace

void* Tal_NewListTreeItemClass(const TagItem*) {
    auto* item = of(Tal_AllocObjectMem(&itemClass));
    if (!item) return nullptr;
    item->header.superObject =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupFrame, TAL_FRAME_FLAT,
                         TAL_SetGroupSpacing, 4, TAL_SetGroupFixedHeight, 1);
    item->name = new (std::nothrow) std::string;
    if (!item->header.superObject || !item->name) {
        delete item->name;
        Tal_DisposeObject(item->header.superObject);
        Tal_FreeObjectMem(item);
        return nullptr;
    }
    return item;
}

void Tal_DisposeListTreeItemClass(void* instance) {
    auto* item = of(instance);
    Tal_DisposeObject(item->header.superObject);
    delete item->name;
    Tal_FreeObjectMem(item);
}

Tal_Word Tal_DoListTreeItemClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* item = of(instance);
    switch (id) {
    case TAL_Pressed:
        return press(item, Tal_GetQualifier());
    case TAL_Released:
        return release(item);
    case TAL_HandleIDCMP:
        return handleInput(item, args);
    case TAL_SetLabel: {
        const char* text = reinterpret_cast<const char*>(args[0]);
        item->name->assign(text ? text : "");
        return 0;
    }
    case TAL_GetLabel:
        return reinterpret_cast<Tal_Word>(item->name->c_str());
    default:
        return Tal_DoMethodA(item->header.superObject, id, args);
    }
}

ULONG Tal_InitListTreeItemClass() {
    return Tal__SetupClass(&itemClass, "ListTreeItem", 0x00520000, "Group", Tal_NewListTreeItemClass,
                           Tal_DisposeListTreeItemClass, Tal_DoListTreeItemClassMethod, nullptr,
                           sizeof(ItemInstance));
}

void Tal_CleanupListTreeItemClass() {
    Tal__CleanupClass(&itemClass);
}
