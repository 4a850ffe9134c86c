// Host services: tasks that sleep on signal bits, message ports, the forbid lock, recursive
// semaphores, timing and the debug output, on POSIX threads.
#pragma once

#include "Tal/TalBase.h"

#include <cstdarg>

struct Tal_GlobalData;
struct HostEvent;
struct Task;

// ---------------------------------------------------------------------------------------------------
// Ports and messages.

constexpr UBYTE NT_TASK = 1;
constexpr UBYTE NT_MSGPORT = 4;
constexpr UBYTE NT_MESSAGE = 5; // queued
constexpr UBYTE NT_FREEMSG = 6; // consumed without a reply port
constexpr UBYTE NT_REPLYMSG = 7;
constexpr UBYTE NT_SEMAPHORE = 15;

struct MsgPort {
    Node mp_Node;
    UBYTE mp_Flags;
    UBYTE mp_SigBit;
    Task* mp_SigTask;
    List mp_MsgList;
};

struct Message {
    Node mn_Node;
    MsgPort* mn_ReplyPort;
    UWORD mn_Length; // bytes of payload after the header, set by the sender
};

// ---------------------------------------------------------------------------------------------------
// Tasks.

constexpr UBYTE TS_RUN = 2;
constexpr UBYTE TS_READY = 3;
constexpr UBYTE TS_WAIT = 4;

constexpr ULONG SIGBREAKF_CTRL_C = 0x1000; // asks a thread to finish

using TaskEntry = ULONG (*)(Task* task);

struct Task {
    Node tc_Node;           // on the task list; the name is an owned copy
    UBYTE tc_State;         // guarded by the forbid lock
    ULONG tc_SigAlloc;      // touched by the owning thread only
    ULONG tc_SigWait;       // guarded by the forbid lock
    ULONG tc_SigRecvd;      // guarded by the forbid lock
    MsgPort pr_MsgPortCopy; // snapshot of the thread's port taken at start; not used afterwards
    Tal_Word tc_UserData;
    ULONG tc_ThreadId;
    uintptr_t tc_ThreadHandle;
    HostEvent* tc_Event;
    TaskEntry tc_Entry;
    MsgPort* pr_MsgPort;
    Tal_GlobalData* tc_GlobalData;
    UBYTE tc_Sleeping; // in Delay; guarded by the forbid lock
};
using Process = Task;

// Tags of CreateNewProc.
constexpr Tag NP_Entry = 0x800003EB;
constexpr Tag NP_StackSize = 0x800003F3;
constexpr Tag NP_Name = 0x800003F4;
constexpr Tag NP_Priority = 0x800003F5;
constexpr Tag NP_UserData = 0x80000401;

Task* init_exec();
void cleanup_exec();
Task* Tal__AddThisProcess();
void Tal__RemoveThisProcess(Task* task);

Process* CreateNewProc(const TagItem* tags);
template <typename... A>
Process* CreateNewProcTags(A... args) {
    const auto tags = Tal_MakeTags(args...);
    return CreateNewProc(tags.data());
}

Task* FindTask(const char* name);
// True when every task but the caller's sleeps in Wait or Delay with no signal it waits for pending.
bool host_TasksIdle();
// The calling thread's task; a thread that is not a task yet becomes one until it ends. For code that
// any thread may call (locks of the object system).
Task* host_ThisTask();
ULONG Wait(ULONG mask);
void Signal(Task* task, ULONG mask);
ULONG SetSignal(ULONG newSignals, ULONG mask);
LONG AllocSignal(LONG n);
void FreeSignal(LONG n);
void Forbid();
void Permit();

MsgPort* CreateMsgPort();
void DeleteMsgPort(MsgPort* port);
void PutMsg(MsgPort* port, Message* msg);
Message* GetMsg(MsgPort* port);
void ReplyMsg(Message* msg);
Message* WaitPort(MsgPort* port);

// ---------------------------------------------------------------------------------------------------
// Recursive semaphores of the host layer (no timeouts, no shared mode).

struct SignalSemaphore {
    Node ss_Link;
    void* ss_HostLock; // the recursive host lock
    LONG ss_NestCount; // informational
};

void InitSemaphore(SignalSemaphore* sem);
void CleanupSemaphore(SignalSemaphore* sem);
void ObtainSemaphore(SignalSemaphore* sem);
void ReleaseSemaphore(SignalSemaphore* sem);

// Holds a semaphore for the life of a scope.
class SemaphoreGuard {
  public:
    explicit SemaphoreGuard(SignalSemaphore* sem) : sem_(sem) { ObtainSemaphore(sem_); }
    ~SemaphoreGuard() { ReleaseSemaphore(sem_); }
    SemaphoreGuard(const SemaphoreGuard&) = delete;
    SemaphoreGuard& operator=(const SemaphoreGuard&) = delete;

  private:
    SignalSemaphore* sem_;
};

// ---------------------------------------------------------------------------------------------------
// Time, libraries, registers.

void Delay(LONG ticks); // 50 ticks a second
Tal_Word putreg(ULONG reg, Tal_Word value);
Tal_Word getreg(ULONG reg);
Tal_Word OpenLibrary(const char* name, ULONG version);
void CloseLibrary(Tal_Word base);

// The window layer's global record, returned for "intuition.library" once the window layer is up.
void host_SetIntuitionBase(void* base);

// ---------------------------------------------------------------------------------------------------
// Host events: automatic- or manual-reset, with timed waits.

HostEvent* host_CreateEvent(bool manualReset);
void host_DestroyEvent(HostEvent* event);
void host_SetEvent(HostEvent* event);
void host_ResetEvent(HostEvent* event);
// Returns true when the event was set, false on timeout.
bool host_WaitEvent(HostEvent* event, ULONG milliseconds);

ULONG host_CurrentThreadId();
void host_SetThreadName(const char* name);

// ---------------------------------------------------------------------------------------------------
// Debug output: one line at a time, to standard error when VELURA_DEBUG=1, otherwise discarded. A hook
// (for tests and the headless back end) sees every line in either case.

void KPutStr(const char* text);
void KPrintF(const char* format, ...) __attribute__((format(printf, 1, 2)));
using DebugHook = void (*)(const char* text, void* user);
void host_SetDebugHook(DebugHook hook, void* user);
