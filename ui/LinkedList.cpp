// LinkedList: the object system's list of object handles. It owns its members (disposing the list
// disposes them) and keeps a free user word. Members are only listed: they get no parent, drawing
// context or lock from the list.
#include "ui/ListTree.h"
#include "Tal/Root.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace {

Tal_Class linkedListClass;

struct LinkedListInstance {
    Tal_Object header;
    std::vector<ULONG>* members;
    std::mutex* lock;
    Tal_Word userWord;
};

LinkedListInstance* of(void* instance) {
    return static_cast<LinkedListInstance*>(instance);
}

// After the member whose handle is `position` (0: first, -1: last; first when not found).
ULONG insert(LinkedListInstance* self, ULONG member, Tal_Word position) {
    if (!member || !Tal_GetObjectInstance(member)) return 0;
    std::lock_guard guard(*self->lock);
    auto& m = *self->members;
    if (std::find(m.begin(), m.end(), member) != m.end()) return 0;
    if (LONG(position) == -1) {
        m.push_back(member);
    } else {
        auto at = position ? std::find(m.begin(), m.end(), ULONG(position)) : m.end();
        m.insert(at == m.end() ? m.begin() : at + 1, member);
    }
    return 1;
}

ULONG removeMember(LinkedListInstance* self, ULONG member) {
    std::lock_guard guard(*self->lock);
    auto& m = *self->members;
    auto it = std::find(m.begin(), m.end(), member);
    if (it == m.end()) return 0;
    m.erase(it);
    return 1;
}

// The member next to `member` in a direction (+1 after, -1 before); 0 at the end or when it is absent.
ULONG neighbour(LinkedListInstance* self, ULONG member, int direction) {
    std::lock_guard guard(*self->lock);
    auto& m = *self->members;
    auto it = std::find(m.begin(), m.end(), member);
    if (it == m.end()) return 0;
    if (direction > 0) return it + 1 == m.end() ? 0 : *(it + 1);
    return it == m.begin() ? 0 : *(it - 1);
}

std::vector<ULONG> snapshot(LinkedListInstance* self) {
    std::lock_guard guard(*self->lock);
    return *self->members;
}

} // namespace

void* Tal_NewLinkedListClass(const TagItem*) {
    auto* self = of(Tal_AllocObjectMem(&linkedListClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("Root");
    self->members = new (std::nothrow) std::vector<ULONG>;
    self->lock = new (std::nothrow) std::mutex;
    if (!self->header.superObject || !self->members || !self->lock) {
        delete self->members;
        delete self->lock;
        Tal_DisposeObject(self->header.superObject);
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeLinkedListClass(void* instance) {
    auto* self = of(instance);
    for (ULONG member : snapshot(self)) Tal_DisposeObject(member);
    delete self->members;
    delete self->lock;
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoLinkedListClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = of(instance);
    switch (id) {
    case TAL_AddHead:
        return insert(self, ULONG(args[0]), 0);
    case TAL_AddTail:
        return insert(self, ULONG(args[0]), Tal_Word(-1));
    case TAL_InsertMember:
        return insert(self, ULONG(args[0]), args[1]);
    case TAL_RemoveMember:
        return removeMember(self, ULONG(args[0]));
    case TAL_GetFirstGroupObject: {
        std::lock_guard guard(*self->lock);
        return self->members->empty() ? 0 : self->members->front();
    }
    case TAL_GetLastGroupObject: {
        std::lock_guard guard(*self->lock);
        return self->members->empty() ? 0 : self->members->back();
    }
    case TAL_GetNextGroupObject:
        return neighbour(self, ULONG(args[0]), 1);
    case TAL_GetPrevGroupObject:
        return neighbour(self, ULONG(args[0]), -1);
    case TAL_SetLinkedListWord:
        self->userWord = args[0];
        return 1;
    case TAL_GetLinkedListWord:
        return self->userWord;
    case TAL_GetMemberIndex: {
        std::lock_guard guard(*self->lock);
        auto& m = *self->members;
        return Tal_Word(std::find(m.begin(), m.end(), ULONG(args[0])) - m.begin());
    }
    case TAL_GetMemberAt: {
        std::lock_guard guard(*self->lock);
        auto& m = *self->members;
        if (m.empty()) return 0;
        return m[std::min<size_t>(size_t(ULONG(args[0])), m.size() - 1)];
    }
    case TAL_GetMemberCount: {
        std::lock_guard guard(*self->lock);
        return Tal_Word(self->members->size());
    }
    case TAL_StoreChildren:
        for (ULONG member : snapshot(self)) Tal_DoMethodA(member, TAL_StoreObject, args);
        return 1;
    case TAL_FindObjectByName: {
        if (Tal_Word found = Tal_DoMethodA(self->header.superObject, id, args)) return found;
        for (ULONG member : snapshot(self))
            if (Tal_Word found = Tal_DoMethodA(member, id, args)) return found;
        return 0;
    }
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitLinkedListClass() {
    return Tal__SetupClass(&linkedListClass, "LinkedList", 0x00470000, "Root", Tal_NewLinkedListClass,
                           Tal_DisposeLinkedListClass, Tal_DoLinkedListClassMethod, nullptr,
                           sizeof(LinkedListInstance));
}

void Tal_CleanupLinkedListClass() {
    Tal__CleanupClass(&linkedListClass);
}
