// The handle table, object life and method dispatch.
//
// Dispatch takes no lock. The handle table is a fixed directory of chunks that are added as the handle
// counter grows and never move, so a reader indexes it without coordination. An instance stays valid
// while a caller has it locked (its use count): freeing an object clears its slot at once, but the
// memory goes only when the last caller has left it. A caller between reading a slot and raising the
// use count publishes the pointer in a per-thread hazard slot, which the freeing side waits out.
#include "Tal/Tal.h"
#include "Tal/TalPrivate.h"

#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr ULONG kFirstHandle = 1024;
constexpr ULONG kInitialCapacity = 16000;
constexpr ULONG kChunkEntries = 8000; // the table grows by this many entries at a time
constexpr size_t kMaxChunks = (size_t(1) << 32) / kChunkEntries + 1;

// Use-count word: callers in the low bits, and two state bits.
constexpr ULONG kDisposing = 0x40000000; // Tal_DisposeObject has claimed the object
constexpr ULONG kDead = 0x80000000;      // the object's memory is freed when the last caller leaves
constexpr ULONG kCallers = 0x3FFFFFFF;

using Slot = std::atomic<Tal_Object*>;

struct HandleTable {
    std::atomic<Slot*> chunks[kMaxChunks];
};

HandleTable* table(Tal_GlobalData* gd) {
    return static_cast<HandleTable*>(gd->handleTable);
}

bool addChunk(Tal_GlobalData* gd, size_t index) {
    auto* chunk = static_cast<Slot*>(Tal_Calloc(kChunkEntries, sizeof(Slot)));
    if (!chunk) return false;
    table(gd)->chunks[index].store(chunk, std::memory_order_release);
    return true;
}

// The slot of an issued handle (handle < counter).
Slot& slotOf(Tal_GlobalData* gd, ULONG handle) {
    Slot* chunk = table(gd)->chunks[handle / kChunkEntries].load(std::memory_order_acquire);
    return chunk[handle % kChunkEntries];
}

// ---------------------------------------------------------------------------------------------------
// Hazard slots: one per thread, recycled when threads end, never freed.

struct Hazard {
    std::atomic<Tal_Object*> pointer{nullptr};
    std::atomic<bool> inUse{false};
    Hazard* next = nullptr;
};
std::atomic<Hazard*> hazards{nullptr};

Hazard* acquireHazard() {
    for (Hazard* h = hazards.load(); h; h = h->next) {
        bool expected = false;
        if (h->inUse.compare_exchange_strong(expected, true)) return h;
    }
    auto* h = new Hazard;
    h->inUse = true;
    h->next = hazards.load();
    while (!hazards.compare_exchange_weak(h->next, h)) {
    }
    return h;
}

struct ThreadHazard {
    Hazard* hazard = acquireHazard();
    ~ThreadHazard() {
        hazard->pointer.store(nullptr);
        hazard->inUse.store(false);
    }
};
thread_local ThreadHazard threadHazard;

void waitForHazards(Tal_Object* object) {
    for (Hazard* h = hazards.load(); h; h = h->next)
        while (h->pointer.load() == object) std::this_thread::yield();
}

void reclaim(Tal_Object* object) {
    waitForHazards(object);
    object->~Tal_Object();
    Tal_FreeMem(object);
}

// Raises the use count of the object in a slot; none when the slot is empty or the object is going.
Tal_Object* pinSlot(Slot& slot) {
    Hazard* hazard = threadHazard.hazard;
    for (;;) {
        Tal_Object* object = slot.load(std::memory_order_acquire);
        if (!object) return nullptr;
        hazard->pointer.store(object);
        if (slot.load() != object) continue;
        ULONG count = object->useCount.load(std::memory_order_relaxed);
        bool pinned = false;
        while (!(count & kDead)) {
            if (object->useCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) {
                pinned = true;
                break;
            }
        }
        hazard->pointer.store(nullptr, std::memory_order_release);
        return pinned ? object : nullptr;
    }
}

void unpin(Tal_Object* object) {
    ULONG before = object->useCount.fetch_sub(1, std::memory_order_acq_rel);
    if ((before & ~kDisposing) == (kDead | 1)) reclaim(object);
}

enum class HandleState { Valid, Illegal, Freed };

// Checks a handle against the counter; the slot is looked at by the caller.
HandleState checkHandle(Tal_GlobalData* gd, ULONG handle) {
    ULONG next = gd->nextHandle.load(std::memory_order_acquire);
    if (!gd->handleTable || handle < 3 || handle > next) return HandleState::Illegal;
    if (handle == next) return HandleState::Freed;
    return HandleState::Valid;
}

void reportBadHandle(HandleState state) {
    if (state == HandleState::Illegal)
        Tal__ReportDiagnostic("Warning", "Tried to access illegal object");
    else
        Tal__ReportDiagnostic("Warning", "Tried to access freed object");
}

// The instance of a handle, locked; reports bad handles like Tal_GetObjectInstance.
Tal_Object* pin(ULONG handle) {
    if (handle == 0) return nullptr;
    Tal_GlobalData* gd = Tal_GetGlobalData();
    HandleState state = checkHandle(gd, handle);
    if (state == HandleState::Valid) {
        if (Tal_Object* object = pinSlot(slotOf(gd, handle))) return object;
        state = HandleState::Freed;
    }
    reportBadHandle(state);
    return nullptr;
}

// Keeps an object locked for a scope.
struct Pinned {
    Tal_Object* object;
    explicit Pinned(ULONG handle) : object(pin(handle)) {}
    ~Pinned() {
        if (object) unpin(object);
    }
    Pinned(const Pinned&) = delete;
    Pinned& operator=(const Pinned&) = delete;
};

// Notification targets use these values as codes, so no object may carry them as its handle.
bool isTargetCode(ULONG handle) {
    return handle == TAL_TARGET_VALUE || handle == TAL_TARGET_IMAGE || handle == TAL_TARGET_LAYER ||
           handle == TAL_TARGET_INNER_LAYER;
}

// Walks that follow links between objects stop after this many steps: a cycle is a bug, not a hang.
constexpr int kMaxWalk = 4096;

} // namespace

void Tal__InitHandleTable(Tal_GlobalData* gd) {
    gd->handleTable = Tal_Calloc(1, sizeof(HandleTable));
    gd->nextHandle = kFirstHandle;
    gd->handleCapacity = 0;
    if (!gd->handleTable) return;
    for (ULONG i = 0; i < kInitialCapacity / kChunkEntries; i++)
        if (addChunk(gd, i)) gd->handleCapacity += kChunkEntries;
}

void Tal__FreeHandleTable(Tal_GlobalData* gd) {
    if (!gd->handleTable) return;
    for (ULONG i = 0; i < gd->handleCapacity / kChunkEntries; i++) Tal_FreeMem(table(gd)->chunks[i].load());
    Tal_FreeMem(gd->handleTable);
    gd->handleTable = nullptr;
    gd->handleCapacity = 0;
}

ULONG Tal__UseCount(const Tal_Object* instance) {
    return instance ? instance->useCount.load() & kCallers : 0;
}

void* Tal_AllocObjectMem(Tal_Class* cls) {
    Tal_GlobalData* gd = Tal_GetGlobalData();
    if (!cls || cls->instanceSize < sizeof(Tal_Object) || !gd->handleTable) return nullptr;
    void* memory = Tal_AllocMemClear(cls->instanceSize);
    if (!memory) return nullptr;
    auto* object = new (memory) Tal_Object{};
    object->objClass = cls;

    SemaphoreGuard guard(&gd->registryLock);
    ULONG handle = gd->nextHandle.load();
    bool full = false;
    do {
        full = handle == 0xFFFFFFFFu;
        if (!full && handle >= gd->handleCapacity) {
            full = !addChunk(gd, gd->handleCapacity / kChunkEntries);
            if (!full) gd->handleCapacity += kChunkEntries;
        }
        if (!full && isTargetCode(handle)) gd->nextHandle.store(++handle, std::memory_order_release);
    } while (!full && isTargetCode(handle));
    if (full) {
        object->~Tal_Object();
        Tal_FreeMem(memory);
        return nullptr;
    }
    object->handle = handle;
    slotOf(gd, handle).store(object, std::memory_order_release);
    gd->nextHandle.store(handle + 1, std::memory_order_release);
    return object;
}

void Tal_FreeObjectMem(void* instance) {
    auto* object = static_cast<Tal_Object*>(instance);
    if (!object) return;
    Tal_GlobalData* gd = Tal_GetGlobalData();
    if (gd->handleTable) slotOf(gd, object->handle).store(nullptr);
    ULONG before = object->useCount.fetch_or(kDead, std::memory_order_acq_rel);
    if ((before & kCallers) == 0) reclaim(object);
}

void* Tal_GetObjectInstance(ULONG handle) {
    if (handle == 0) return nullptr;
    Tal_GlobalData* gd = Tal_GetGlobalData();
    HandleState state = checkHandle(gd, handle);
    if (state == HandleState::Valid) {
        if (Tal_Object* object = slotOf(gd, handle).load(std::memory_order_acquire)) return object;
        state = HandleState::Freed;
    }
    reportBadHandle(state);
    return nullptr;
}

void* Tal_LockObjectInstance(ULONG handle) {
    return pin(handle);
}

Tal_Object* Tal__LockObjectInstanceQuiet(ULONG handle) {
    Tal_GlobalData* gd = Tal_GetGlobalData();
    if (handle == 0 || checkHandle(gd, handle) != HandleState::Valid) return nullptr;
    return pinSlot(slotOf(gd, handle));
}

void Tal_UnlockObjectInstance(void* instance) {
    if (instance) unpin(static_cast<Tal_Object*>(instance));
}

Tal_Word Tal_DoMethodA(ULONG handle, ULONG id, const Tal_Word* args) {
    Tal_Object* object = pin(handle);
    if (!object) return 0;
    Tal_Word result = object->objClass->dispatchFunction(object, id, args);
    unpin(object);
    return result;
}

ULONG Tal_NewObjectA(const char* className, const TagItem* tags) {
    if (className && std::strcmp(className, "CompactSlider") == 0) className = "Scroller";
    Tal_Class* cls = Tal_FindClassFromName(className);
    if (!cls || !cls->newFunction) return 0;
    auto* object = static_cast<Tal_Object*>(cls->newFunction(tags));
    if (!object) return 0;
    if (object->superObject) {
        Pinned super(object->superObject);
        if (super.object) super.object->outerObject = object->handle;
    }
    cls->instanceCount++;
    return object->handle;
}

ULONG Tal_CreateObjectA(const char* className, const TagItem* tags) {
    ULONG handle = Tal_NewObjectA(className, nullptr);
    if (!handle) return 0;
    const TagItem* cursor = tags;
    while (TagItem* item = NextTagItem(&cursor)) Tal_DoMethodA(handle, ULONG(item->ti_Tag), &item->ti_Data);
    return handle;
}

void* Tal_CreateImageObjectA(const char* className, const TagItem* tags) {
    return Tal_GetObjectInstance(Tal_CreateObjectA(className, tags));
}

// Only the first disposal of an object runs its class's dispose function; the object stays locked
// meanwhile, so its memory outlives the dispose function even when that frees it.
void Tal_DisposeObject(ULONG handle) {
    Tal_Object* object = pin(handle);
    if (!object) return;
    if (object->useCount.fetch_or(kDisposing) & kDisposing) {
        unpin(object);
        return;
    }
    Tal_Class* cls = object->objClass;
    cls->disposeFunction(object);
    cls->instanceCount--;
    unpin(object);
}

ULONG Tal_LockObject(ULONG handle) {
    return ULONG(Tal_DoMethod(handle, TAL_LockObjectMethod));
}
void Tal_UnlockObject(ULONG handle) {
    Tal_DoMethod(handle, TAL_UnlockObjectMethod);
}

ULONG Tal_GetObjectClassID(ULONG handle) {
    Pinned pinned(handle);
    return pinned.object ? pinned.object->objClass->classId : 0;
}

ULONG Tal_GetTopMostObject(ULONG handle) {
    for (int step = 0; handle && step < kMaxWalk; step++) {
        Pinned pinned(handle);
        if (!pinned.object || !pinned.object->outerObject) break;
        handle = pinned.object->outerObject;
    }
    return handle;
}

// The interface parent lives in the layout box, which only the innermost (Root) instance carries.
ULONG Tal_GetParentObject(ULONG handle) {
    for (int step = 0; handle && step < kMaxWalk; step++) {
        Pinned pinned(handle);
        if (!pinned.object) return 0;
        if (pinned.object->box) return pinned.object->box->parent;
        handle = pinned.object->superObject;
    }
    return 0;
}

// Climbs container by container from the object's interface parent; each container's whole instance
// chain is compared, the object itself is not.
ULONG Tal_SearchHierachyForClassId(ULONG handle, ULONG classId) {
    ULONG current = Tal_GetTopMostObject(handle);
    for (int level = 0; current && level < kMaxWalk; level++) {
        ULONG container = Tal_GetTopMostObject(Tal_GetParentObject(current));
        if (!container) return 0;
        ULONG link = container;
        for (int step = 0; link && step < kMaxWalk; step++) {
            Pinned pinned(link);
            if (!pinned.object) break;
            if (pinned.object->objClass->classId == classId) return container;
            link = pinned.object->superObject;
        }
        current = container;
    }
    return 0;
}
