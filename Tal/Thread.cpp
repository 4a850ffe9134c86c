// Thread: an object that runs a function in a thread of its own, and asks it to finish with the break
// signal.
#include "Tal/Thread.h"
#include "Tal/TalPrivate.h"

#include <chrono>
#include <thread>

namespace {

Tal_Class threadClass;

struct ThreadInstance {
    Tal_Object header;
    Tal_ThreadEntry entry;
    ULONG stackSize;
    char* name;
    LONG priority;
    // Guarded by the forbid lock: the running thread's task, and a stopper waiting for its end.
    Task* running;
    Task* stopper;
    LONG stopperSignal;
};

ULONG threadEntry(Task* task) {
    auto* self = reinterpret_cast<ThreadInstance*>(task->tc_UserData);
    // Kept locked, so that the instance outlives a disposal from inside the entry function.
    Tal__LockObjectInstanceQuiet(self->header.handle);
    Tal_Word userData = Tal_DoMethod(self->header.handle, TAL_GetUserData);
    if (self->entry) self->entry(userData);
    Forbid();
    self->running = nullptr;
    if (self->stopper && self->stopperSignal >= 0) Signal(self->stopper, 1u << self->stopperSignal);
    Permit();
    Tal_UnlockObjectInstance(self);
    return 0;
}

bool isRunning(ThreadInstance* self) {
    Forbid();
    bool running = self->running != nullptr;
    Permit();
    return running;
}

Tal_Word start(ThreadInstance* self) {
    if (isRunning(self)) return 0;
    Forbid();
    Process* proc = CreateNewProcTags(NP_Entry, threadEntry, NP_StackSize, self->stackSize, NP_Priority,
                                      self->priority, NP_Name, self->name, NP_UserData, self);
    self->running = proc;
    Permit();
    if (!proc) return 0;
    // A moment for the thread to begin; the caller is still at work meanwhile, not idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 1;
}

// Sends the break signal until the thread has ended. The thread itself cannot wait for its own end: it
// only gets the signal.
void stop(ThreadInstance* self) {
    if (!isRunning(self)) return;
    Forbid();
    bool own = self->running == FindTask(nullptr);
    if (own) Signal(self->running, SIGBREAKF_CTRL_C);
    Permit();
    if (own) return;
    LONG signal = AllocSignal(-1);
    Forbid();
    self->stopper = FindTask(nullptr);
    self->stopperSignal = signal;
    Permit();
    for (;;) {
        Forbid();
        Task* running = self->running;
        if (running) Signal(running, SIGBREAKF_CTRL_C);
        Permit();
        if (!running) break;
        if (signal >= 0 && (SetSignal(0, 0) & (1u << signal))) break;
        // Waiting for the end is part of the stopper's work: it does not count as idle meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Forbid();
    self->stopper = nullptr;
    self->stopperSignal = -1;
    Permit();
    if (signal >= 0) {
        SetSignal(0, 1u << signal);
        FreeSignal(signal);
    }
}

} // namespace

void* Tal_NewThreadClass(const TagItem*) {
    auto* self = static_cast<ThreadInstance*>(Tal_AllocObjectMem(&threadClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("Root");
    self->name = Tal_StrDup("Tal Thread Object");
    if (!self->header.superObject || !self->name) {
        Tal_DisposeObject(self->header.superObject);
        Tal_FreeMem(self->name);
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    self->stackSize = 4096;
    self->stopperSignal = -1;
    return self;
}

void Tal_DisposeThreadClass(void* instance) {
    auto* self = static_cast<ThreadInstance*>(instance);
    stop(self);
    Tal_FreeMem(self->name);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoThreadClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<ThreadInstance*>(instance);
    switch (id) {
    case TAL_SetThreadEntry:
        self->entry = reinterpret_cast<Tal_ThreadEntry>(args[0]);
        return 1;
    case TAL_SetThreadStackSize:
        self->stackSize = ULONG(args[0]);
        return 1;
    case TAL_SetThreadName: {
        const char* text = reinterpret_cast<const char*>(args[0]);
        char* copy = Tal_StrDup(text ? text : "");
        if (!copy) return 0;
        Tal_FreeMem(self->name);
        self->name = copy;
        return 1;
    }
    case TAL_SetThreadPriority:
        self->priority = LONG(args[0]);
        return 1;
    case TAL_Start:
        return start(self);
    case TAL_Stop:
        stop(self);
        return 1;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitThreadClass() {
    return Tal__SetupClass(&threadClass, "Thread", 0x000F0000, "Root", Tal_NewThreadClass,
                           Tal_DisposeThreadClass, Tal_DoThreadClassMethod, nullptr, sizeof(ThreadInstance));
}

void Tal_CleanupThreadClass() {
    Tal__CleanupClass(&threadClass);
}
