// ListTree: a scrolled list whose rows (its members, in order) are items and nodes, with an active node,
// an active item and a selection. The rows choose themselves (ListTreeItem, ListTreeNode); the tree keeps
// the record of what is chosen.
#include "ui/ListTree.h"
#include "Tal/Root.h"
#include "ui/Pages.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

Tal_Class listTreeClass;

struct ListTreeInstance {
    Tal_Object header;
    ULONG activeNode;
    ULONG activeItem;
    LONG multiSelect;
    std::vector<ULONG>* selection; // in selection order; guarded by the global object lock
};

ListTreeInstance* of(void* instance) {
    return static_cast<ListTreeInstance*>(instance);
}

ULONG topmost(ListTreeInstance* self) {
    return Tal_GetTopMostObject(self->header.handle);
}

// Holds the global object lock for a scope.
struct SelectionLock {
    bool held = Tal_ObtainSemaphore(Tal__ObjectLock(), TAL_MUST_LOCK) != 0;
    ~SelectionLock() {
        if (held) Tal_ReleaseSemaphore(Tal__ObjectLock());
    }
};

std::vector<ULONG> takeSelection(ListTreeInstance* self) {
    SelectionLock lock;
    std::vector<ULONG> taken;
    taken.swap(*self->selection);
    return taken;
}

ULONG addToSelection(ListTreeInstance* self, ULONG item) {
    if (!item) return 0;
    SelectionLock lock;
    auto& s = *self->selection;
    if (std::find(s.begin(), s.end(), item) == s.end()) s.push_back(item);
    return 1;
}

// True when the item was selected. Releasing an item that is no longer selected does nothing, so an
// item that leaves the selection on its own release does not come back here forever.
bool dropFromSelection(ListTreeInstance* self, ULONG item) {
    SelectionLock lock;
    auto& s = *self->selection;
    auto it = std::find(s.begin(), s.end(), item);
    if (it == s.end()) return false;
    s.erase(it);
    return true;
}

ULONG nextSelected(ListTreeInstance* self, ULONG after) {
    SelectionLock lock;
    auto& s = *self->selection;
    auto it = std::find(s.begin(), s.end(), after);
    return it != s.end() && it + 1 != s.end() ? *(it + 1) : 0;
}

// A row leaving the list leaves the selection and the active slots with it.
void forget(ListTreeInstance* self, ULONG member) {
    dropFromSelection(self, member);
    if (self->activeItem == member) self->activeItem = 0;
    if (self->activeNode == member) self->activeNode = 0;
}

void clearRows(ListTreeInstance* self) {
    takeSelection(self);
    self->activeItem = self->activeNode = 0;
    ULONG super = self->header.superObject;
    while (ULONG row = ULONG(Tal_DoMethod(super, TAL_GetFirstGroupObject))) {
        if (!Tal_DoMethod(super, TAL_RemoveMember, row)) break;
        Tal_DisposeObject(row);
    }
}

} // namespace

void* Tal_NewListTreeClass(const TagItem*) {
    auto* self = of(Tal_AllocObjectMem(&listTreeClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("VirtualGroup", TAL_SetGroupFrame, 18, TAL_SetVScrollStep,
                                                Tal_Word(-1), TAL_SetGroupFlags, 1);
    self->selection = new (std::nothrow) std::vector<ULONG>;
    if (!self->header.superObject || !self->selection) {
        delete self->selection;
        Tal_DisposeObject(self->header.superObject);
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeListTreeClass(void* instance) {
    auto* self = of(instance);
    delete self->selection;
    self->selection = nullptr;
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoListTreeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = of(instance);
    switch (id) {
    case TAL_SetActiveNode:
        self->activeNode = ULONG(args[0]);
        Tal_DoNotify(topmost(self), TAL_SetActiveNode, self->activeNode);
        return 1;
    case TAL_GetActiveNode:
        return self->activeNode;
    case TAL_SetActiveItem:
        self->activeItem = ULONG(args[0]);
        Tal_DoNotify(topmost(self), TAL_SetActiveItem, self->activeItem);
        return 1;
    case TAL_GetActiveItem:
        return self->activeItem;
    case TAL_ClearListTree:
        clearRows(self);
        return 1;
    case TAL_SetMultiSelect:
        self->multiSelect = LONG(args[0]) ? 1 : 0;
        return 1;
    case TAL_GetMultiSelect:
        return ULONG(self->multiSelect);
    case TAL_GetFirstSelected: {
        SelectionLock lock;
        return self->selection->empty() ? 0 : self->selection->front();
    }
    case TAL_GetNextSelected:
        return nextSelected(self, ULONG(args[0]));
    case TAL_ReleaseSelection:
        for (ULONG item : takeSelection(self)) Tal_DoMethod(item, TAL_Released);
        return 1;
    case TAL_AddToSelection:
        return addToSelection(self, ULONG(args[0]));
    case TAL_RemoveFromSelection:
        if (dropFromSelection(self, ULONG(args[0]))) Tal_DoMethod(ULONG(args[0]), TAL_Released);
        return 1;
    case TAL_RemoveMember: {
        Tal_Word removed = Tal_DoMethodA(self->header.superObject, id, args);
        if (removed) forget(self, ULONG(args[0]));
        return removed;
    }
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitListTreeClass() {
    return Tal__SetupClass(&listTreeClass, "ListTree", 0x00220000, "Group", Tal_NewListTreeClass,
                           Tal_DisposeListTreeClass, Tal_DoListTreeClassMethod, nullptr,
                           sizeof(ListTreeInstance));
}

void Tal_CleanupListTreeClass() {
    Tal__CleanupClass(&listTreeClass);
}
