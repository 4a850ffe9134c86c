// Tasks, signals, message ports and semaphores on std::thread.
#include "host/host.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// The single process-wide forbid lock and its nesting count.
std::recursive_mutex forbidLock;
LONG forbidNesting = 0;

// The task list and its lock.
std::recursive_mutex taskListLock;
List taskList;
bool taskListReady = false;
int execOpenCount = 0;

// The task registered for this thread; FindTask(none) answers from here instead of walking the list.
thread_local Task* currentTask = nullptr;

constexpr ULONG kReservedSignals = 0x0000FFFF; // bits 0..15 belong to the layer
constexpr size_t kTaskNameSize = 256;

void ensureTaskList() {
    std::lock_guard lock(taskListLock);
    if (!taskListReady) {
        NewList(&taskList);
        taskListReady = true;
    }
}

Task* newTaskRecord(const char* name, bool manualReset) {
    auto* task = static_cast<Task*>(Tal_AllocMemClear(sizeof(Task)));
    if (!task) return nullptr;
    task->tc_Node.ln_Type = NT_TASK;
    task->tc_Node.ln_Name = static_cast<char*>(Tal_AllocMemClear(kTaskNameSize));
    task->tc_Event = host_CreateEvent(manualReset);
    if (!task->tc_Node.ln_Name || !task->tc_Event) {
        host_DestroyEvent(task->tc_Event);
        Tal_FreeMem(task->tc_Node.ln_Name);
        Tal_FreeMem(task);
        return nullptr;
    }
    std::strncpy(task->tc_Node.ln_Name, name ? name : "", kTaskNameSize - 1);
    task->tc_State = TS_RUN;
    task->tc_SigAlloc = kReservedSignals;
    return task;
}

void freeTaskRecord(Task* task) {
    host_DestroyEvent(task->tc_Event);
    Tal_FreeMem(task->tc_Node.ln_Name);
    Tal_FreeMem(task);
}

void addToTaskList(Task* task) {
    ensureTaskList();
    std::lock_guard lock(taskListLock);
    AddHead(&taskList, &task->tc_Node);
}

void removeFromTaskList(Task* task) {
    std::lock_guard lock(taskListLock);
    Remove(&task->tc_Node);
}

// Runs in the new thread with its record.
void threadStart(Task* task) {
    task->tc_ThreadId = host_CurrentThreadId();
    task->tc_ThreadHandle = uintptr_t(pthread_self());
    currentTask = task;
    host_SetThreadName(task->tc_Node.ln_Name);
    addToTaskList(task);
    task->pr_MsgPort = CreateMsgPort();
    if (task->pr_MsgPort) task->pr_MsgPortCopy = *task->pr_MsgPort;
    if (task->tc_Entry) task->tc_Entry(task);
    DeleteMsgPort(task->pr_MsgPort);
    removeFromTaskList(task);
    currentTask = nullptr;
    freeTaskRecord(task);
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Events.

struct HostEvent {
    std::mutex mutex;
    std::condition_variable cv;
    bool set = false;
    bool manualReset = false;
};

HostEvent* host_CreateEvent(bool manualReset) {
    auto* event = new (std::nothrow) HostEvent;
    if (event) event->manualReset = manualReset;
    return event;
}

void host_DestroyEvent(HostEvent* event) {
    delete event;
}

void host_SetEvent(HostEvent* event) {
    {
        std::lock_guard lock(event->mutex);
        event->set = true;
    }
    event->cv.notify_all();
}

void host_ResetEvent(HostEvent* event) {
    std::lock_guard lock(event->mutex);
    event->set = false;
}

bool host_WaitEvent(HostEvent* event, ULONG milliseconds) {
    std::unique_lock lock(event->mutex);
    bool signalled =
        event->cv.wait_for(lock, std::chrono::milliseconds(milliseconds), [event] { return event->set; });
    if (signalled && !event->manualReset) event->set = false;
    return signalled;
}

ULONG host_CurrentThreadId() {
    return ULONG(syscall(SYS_gettid));
}

void host_SetThreadName(const char* name) {
    char shortName[16] = {};
    std::strncpy(shortName, name ? name : "", sizeof shortName - 1);
    pthread_setname_np(pthread_self(), shortName);
}

// ---------------------------------------------------------------------------------------------------
// Tasks.

Task* init_exec() {
    {
        std::lock_guard lock(taskListLock);
        execOpenCount++;
    }
    ensureTaskList();
    return Tal__AddThisProcess();
}

void cleanup_exec() {
    std::lock_guard lock(taskListLock);
    if (execOpenCount > 0) execOpenCount--;
}

// Registering a thread that already has a task gives that task: a thread is one task.
Task* Tal__AddThisProcess() {
    if (currentTask) return currentTask;
    Task* task = newTaskRecord("init_exec() thread", false);
    if (!task) return nullptr;
    task->tc_ThreadId = host_CurrentThreadId();
    task->tc_ThreadHandle = uintptr_t(pthread_self());
    currentTask = task;
    addToTaskList(task);
    return task;
}

void Tal__RemoveThisProcess(Task* task) {
    if (!task) return;
    removeFromTaskList(task);
    if (currentTask == task) currentTask = nullptr;
    freeTaskRecord(task);
}

Process* CreateNewProc(const TagItem* tags) {
    Task* creator = FindTask(nullptr);
    Task* task = newTaskRecord(reinterpret_cast<const char*>(GetTagData(NP_Name, 0, tags)), true);
    if (!task) return nullptr;
    task->tc_Entry = reinterpret_cast<TaskEntry>(GetTagData(NP_Entry, 0, tags));
    task->tc_UserData = GetTagData(NP_UserData, 0, tags);
    task->tc_GlobalData = creator ? creator->tc_GlobalData : nullptr;
    // The stack size and priority tags are accepted; the host default stack (8 MiB) is used.
    try {
        std::thread(threadStart, task).detach();
    } catch (...) {
        freeTaskRecord(task);
        return nullptr;
    }
    return task;
}

namespace {
// Removes a task that host_ThisTask registered when its thread ends.
struct AutoTask {
    Task* task = nullptr;
    ~AutoTask() {
        if (task && currentTask == task) Tal__RemoveThisProcess(task);
    }
};
thread_local AutoTask autoTask;
} // namespace

Task* host_ThisTask() {
    if (currentTask) return currentTask;
    autoTask.task = Tal__AddThisProcess();
    return autoTask.task;
}

Task* FindTask(const char* name) {
    if (!name) return currentTask;
    ensureTaskList();
    std::lock_guard lock(taskListLock);
    for (Task* task : ListNodes<Task>(&taskList))
        if (std::strcmp(task->tc_Node.ln_Name, name) == 0) return task;
    return nullptr;
}

ULONG Wait(ULONG mask) {
    Task* task = currentTask;
    if (!task) return 0;
    Forbid();
    task->tc_SigWait = mask;
    if ((task->tc_SigRecvd & mask) == 0) {
        task->tc_State = TS_WAIT;
        Permit();
        for (;;) {
            Forbid();
            bool waiting = task->tc_State == TS_WAIT;
            Permit();
            if (!waiting) break;
            host_WaitEvent(task->tc_Event, 1000);
            host_ResetEvent(task->tc_Event);
        }
        Forbid();
        task->tc_State = TS_RUN;
    }
    ULONG received = task->tc_SigRecvd;
    task->tc_SigWait = 0;
    task->tc_SigRecvd &= ~mask;
    Permit();
    return received;
}

void Signal(Task* task, ULONG mask) {
    if (!task) return;
    Forbid();
    task->tc_SigRecvd |= mask;
    task->tc_State = TS_READY;
    host_SetEvent(task->tc_Event);
    Permit();
}

ULONG SetSignal(ULONG newSignals, ULONG mask) {
    Task* task = currentTask;
    if (!task) return 0;
    Forbid();
    ULONG old = task->tc_SigRecvd;
    if (mask) task->tc_SigRecvd = newSignals | (old & ~mask);
    Permit();
    return old;
}

LONG AllocSignal(LONG n) {
    Task* task = currentTask;
    if (!task) return -1;
    if (n == -1) {
        for (LONG bit = 16; bit < 32; bit++) {
            if (!(task->tc_SigAlloc & (1u << bit))) {
                task->tc_SigAlloc |= 1u << bit;
                Forbid();
                task->tc_SigRecvd &= ~(1u << bit);
                Permit();
                return bit;
            }
        }
        KPutStr("\n\n***** No signals left!\n");
        return -1;
    }
    if (n < 0 || n > 31 || (task->tc_SigAlloc & (1u << n))) return -1;
    task->tc_SigAlloc |= 1u << n;
    return n;
}

void FreeSignal(LONG n) {
    Task* task = currentTask;
    if (!task || n < 0 || n > 31) return;
    task->tc_SigAlloc &= ~(1u << n);
}

void Forbid() {
    forbidLock.lock();
    forbidNesting++;
}

void Permit() {
    forbidNesting--;
    forbidLock.unlock();
}

// ---------------------------------------------------------------------------------------------------
// Message ports.

MsgPort* CreateMsgPort() {
    auto* port = static_cast<MsgPort*>(Tal_AllocMemClear(sizeof(MsgPort)));
    if (!port) return nullptr;
    LONG bit = AllocSignal(-1);
    if (bit < 0) {
        Tal_FreeMem(port);
        return nullptr;
    }
    port->mp_Node.ln_Type = NT_MSGPORT;
    port->mp_SigBit = UBYTE(bit);
    port->mp_SigTask = currentTask;
    NewList(&port->mp_MsgList);
    return port;
}

void DeleteMsgPort(MsgPort* port) {
    if (!port) return;
    Forbid();
    while (Node* msg = RemHead(&port->mp_MsgList)) Tal_FreeMem(msg);
    Permit();
    FreeSignal(port->mp_SigBit);
    Tal_FreeMem(port);
}

// The whole put, signal included, happens under the forbid lock, so the owner cannot delete the
// port between the two.
void PutMsg(MsgPort* port, Message* msg) {
    Forbid();
    msg->mn_Node.ln_Type = NT_MESSAGE;
    AddTail(&port->mp_MsgList, &msg->mn_Node);
    Signal(port->mp_SigTask, 1u << port->mp_SigBit);
    Permit();
}

Message* GetMsg(MsgPort* port) {
    Forbid();
    auto* msg = reinterpret_cast<Message*>(RemHead(&port->mp_MsgList));
    Permit();
    return msg;
}

void ReplyMsg(Message* msg) {
    if (!msg) return;
    if (msg->mn_ReplyPort)
        PutMsg(msg->mn_ReplyPort, msg);
    else
        msg->mn_Node.ln_Type = NT_FREEMSG;
}

static Message* firstMessage(MsgPort* port) {
    Forbid();
    Message* msg =
        IsListEmpty(&port->mp_MsgList) ? nullptr : reinterpret_cast<Message*>(port->mp_MsgList.lh_Head);
    Permit();
    return msg;
}

Message* WaitPort(MsgPort* port) {
    if (Message* msg = firstMessage(port)) return msg;
    Wait(1u << port->mp_SigBit);
    return firstMessage(port);
}

// ---------------------------------------------------------------------------------------------------
// Semaphores.

void InitSemaphore(SignalSemaphore* sem) {
    sem->ss_Link.ln_Type = NT_SEMAPHORE;
    sem->ss_HostLock = new (std::nothrow) std::recursive_mutex;
    sem->ss_NestCount = 0;
}

void CleanupSemaphore(SignalSemaphore* sem) {
    delete static_cast<std::recursive_mutex*>(sem->ss_HostLock);
    sem->ss_HostLock = nullptr;
}

void ObtainSemaphore(SignalSemaphore* sem) {
    if (!sem || !sem->ss_HostLock) return;
    static_cast<std::recursive_mutex*>(sem->ss_HostLock)->lock();
    sem->ss_NestCount++;
}

void ReleaseSemaphore(SignalSemaphore* sem) {
    if (!sem || !sem->ss_HostLock) return;
    sem->ss_NestCount--;
    static_cast<std::recursive_mutex*>(sem->ss_HostLock)->unlock();
}

// ---------------------------------------------------------------------------------------------------
// Time, libraries, registers.

void Delay(LONG ticks) {
    if (ticks <= 0) return;
    Task* task = currentTask;
    if (task) {
        Forbid();
        task->tc_Sleeping = 1;
        Permit();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(int64_t(ticks) * 20));
    if (task) {
        Forbid();
        task->tc_Sleeping = 0;
        Permit();
    }
}

bool host_TasksIdle() {
    ensureTaskList();
    std::lock_guard lock(taskListLock);
    Forbid();
    bool idle = true;
    for (Task* task : ListNodes<Task>(&taskList)) {
        if (task == currentTask) continue;
        bool asleep = task->tc_Sleeping || (task->tc_State == TS_WAIT && !(task->tc_SigRecvd & task->tc_SigWait));
        if (!asleep) idle = false;
    }
    Permit();
    return idle;
}

Tal_Word putreg(ULONG, Tal_Word value) {
    return value;
}
Tal_Word getreg(ULONG) {
    return 1;
}

static std::atomic<void*> intuitionBase{nullptr};

void host_SetIntuitionBase(void* base) {
    intuitionBase = base;
}

// The service libraries are built in; only the window layer has a record worth handing out.
Tal_Word OpenLibrary(const char* name, ULONG) {
    void* base = intuitionBase.load();
    if (name && std::strcmp(name, "intuition.library") == 0 && base) return reinterpret_cast<Tal_Word>(base);
    return 1;
}

void CloseLibrary(Tal_Word) {}
