// Semaphores of the object system.
//
// Every field of a semaphore is read and written under its host lock. The holder and waiter lists and
// the owner are changed only while the global list lock is held as well (host lock first), because the
// deadlock walk reads them for every semaphore of the process under the list lock alone.
#include "Tal/Tal.h"

#include <algorithm>
#include <vector>

namespace {

struct HolderNode {
    Node node;
    Task* task;
    LONG signal;  // -1 while the task is not waiting
    bool waiting; // a shared request waiting for the owner to leave
};

struct WaiterNode {
    Node node;
    Task* task;
    LONG signal;
    const char* file;
    ULONG line;
};

SignalSemaphore* listLock() {
    return &Tal_GetGlobalData()->semaphoreListLock;
}

void lockHost(Tal_Semaphore* sem) {
    ObtainSemaphore(&sem->hostLock);
}
void unlockHost(Tal_Semaphore* sem) {
    ReleaseSemaphore(&sem->hostLock);
}

LONG holdsOf(const Tal_Semaphore* sem, const Task* task) {
    LONG n = 0;
    for (HolderNode* node : ListNodes<HolderNode>(&sem->holders))
        if (node->task == task) n++;
    return n;
}

// The tasks a request of `task` for `sem` waits for: the owner and, for exclusive access, every other
// shared holder (waiting shared requests count as holders).
void addBlockers(const Tal_Semaphore* sem, const Task* task, bool exclusive, std::vector<Task*>& out) {
    if (sem->owner && sem->owner != task) out.push_back(sem->owner);
    if (exclusive)
        for (HolderNode* node : ListNodes<HolderNode>(&sem->holders))
            if (node->task != task) out.push_back(node->task);
}

// What a task is waiting for, if anything: one semaphore, exclusively or shared.
bool waitOf(const List* all, const Task* task, const Tal_Semaphore** sem, bool* exclusive) {
    for (Tal_Semaphore* s : ListNodes<Tal_Semaphore>(all)) {
        for (WaiterNode* w : ListNodes<WaiterNode>(&s->waiters)) {
            if (w->task == task) {
                *sem = s;
                *exclusive = true;
                return true;
            }
        }
        for (HolderNode* h : ListNodes<HolderNode>(&s->holders)) {
            if (h->task == task && h->waiting) {
                *sem = s;
                *exclusive = false;
                return true;
            }
        }
    }
    return false;
}

// Could waiting for `sem` close a cycle of waiting tasks? Called under sem's host lock and the list
// lock, which every change of holders, waiters and owners also holds, so the picture is consistent.
// The wait is refused when a chain of tasks, each waiting for the next, leads back to the caller; and,
// as a precaution, whenever sem's owner holds or waits for another semaphore shared.
bool possibleDeadlock(Tal_Semaphore* sem, Task* caller, bool exclusive) {
    List* all = &Tal_GetGlobalData()->semaphores;
    if (sem->owner && sem->owner != caller)
        for (Tal_Semaphore* other : ListNodes<Tal_Semaphore>(all))
            if (other != sem && holdsOf(other, sem->owner) > 0) return true;

    std::vector<Task*> pending, seen;
    addBlockers(sem, caller, exclusive, pending);
    while (!pending.empty()) {
        Task* task = pending.back();
        pending.pop_back();
        if (task == caller) return true;
        if (std::find(seen.begin(), seen.end(), task) != seen.end()) continue;
        seen.push_back(task);
        const Tal_Semaphore* waitsFor = nullptr;
        bool waitsExclusive = false;
        if (waitOf(all, task, &waitsFor, &waitsExclusive))
            addBlockers(waitsFor, task, waitsExclusive, pending);
    }
    return false;
}

// Waits for a wake-up from a releaser: on the task's signal bit, or, when the task has no free bit, by
// polling (a wake-up with no bit cannot be told apart from one that came before the wait).
void sleepOn(LONG signal) {
    if (signal >= 0)
        Wait(1u << signal);
    else
        Delay(1);
}

void wake(Task* task, LONG signal) {
    if (signal >= 0) Signal(task, 1u << signal);
}

} // namespace

Tal_Semaphore* Tal_AllocSemaphoreDebug(const char* file, ULONG line) {
    auto* sem = static_cast<Tal_Semaphore*>(Tal_AllocMemClear(sizeof(Tal_Semaphore)));
    if (!sem) return nullptr;
    InitSemaphore(&sem->hostLock);
    if (!sem->hostLock.ss_HostLock) {
        Tal_FreeMem(sem);
        return nullptr;
    }
    NewList(&sem->holders);
    NewList(&sem->waiters);
    sem->createdFile = file;
    sem->createdLine = line;
    SemaphoreGuard guard(listLock());
    AddTail(&Tal_GetGlobalData()->semaphores, &sem->hostLock.ss_Link);
    return sem;
}

void Tal_FreeSemaphoreDebug(Tal_Semaphore* sem, const char*, ULONG) {
    if (!sem) return;
    {
        SemaphoreGuard guard(listLock());
        Remove(&sem->hostLock.ss_Link);
    }
    while (Node* node = RemHead(&sem->holders)) Tal_FreeMemQuick(node);
    CleanupSemaphore(&sem->hostLock);
    Tal_FreeMem(sem);
}

ULONG Tal_ObtainSemaphoreDebug(Tal_Semaphore* sem, ULONG retries, const char* file, ULONG line) {
    if (!sem) return 0;
    Task* caller = host_ThisTask();
    lockHost(sem);
    sem->exclusiveCount++;
    ULONG attempts = 0;
    for (;;) {
        if (sem->owner == caller) {
            sem->nesting = sem->nesting == 0 ? 2 : sem->nesting + 1;
            break;
        }
        LONG own = holdsOf(sem, caller);
        if (sem->exclusiveCount <= 1 && sem->sharedCount == own && !sem->owner) {
            ObtainSemaphore(listLock());
            sem->owner = caller;
            ReleaseSemaphore(listLock());
            break;
        }
        ObtainSemaphore(listLock());
        bool danger = retries == TAL_LOCK_TRY || possibleDeadlock(sem, caller, true);
        if (danger) {
            ReleaseSemaphore(listLock());
            sem->exclusiveCount--;
            unlockHost(sem);
            if (++attempts > retries) return 0;
            Delay(1);
            lockHost(sem);
            sem->exclusiveCount++;
            continue;
        }
        WaiterNode waiter{};
        waiter.task = caller;
        waiter.signal = AllocSignal(-1);
        waiter.file = file;
        waiter.line = line;
        AddTail(&sem->waiters, &waiter.node);
        ReleaseSemaphore(listLock());
        while (sem->sharedCount != own || sem->owner) {
            unlockHost(sem);
            sleepOn(waiter.signal);
            lockHost(sem);
        }
        ObtainSemaphore(listLock());
        Remove(&waiter.node);
        sem->owner = caller;
        ReleaseSemaphore(listLock());
        if (waiter.signal >= 0) FreeSignal(waiter.signal);
        break;
    }
    if (sem->exclusiveCount == 1 && sem->nesting == 0) {
        sem->obtainedFile = file;
        sem->obtainedLine = line;
    }
    unlockHost(sem);
    return 1;
}

void Tal_ReleaseSemaphoreDebug(Tal_Semaphore* sem, const char*, ULONG) {
    if (!sem) return;
    Task* caller = host_ThisTask();
    lockHost(sem);
    if (sem->owner == caller) {
        ULONG before = sem->exclusiveCount--;
        if (before != 1)
            for (WaiterNode* waiter : ListNodes<WaiterNode>(&sem->waiters))
                wake(waiter->task, waiter->signal);
        if (sem->sharedCount != 0)
            for (HolderNode* holder : ListNodes<HolderNode>(&sem->holders))
                wake(holder->task, holder->signal);
        if (sem->nesting != 0) sem->nesting--;
        if (sem->nesting == 0) {
            ObtainSemaphore(listLock());
            sem->owner = nullptr;
            ReleaseSemaphore(listLock());
            sem->obtainedFile = nullptr;
            sem->obtainedLine = 0;
        }
    }
    unlockHost(sem);
}

ULONG Tal_ObtainSemaphoreSharedDebug(Tal_Semaphore* sem, ULONG retries, const char*, ULONG) {
    if (!sem) return 0;
    Task* caller = host_ThisTask();
    lockHost(sem);
    auto* node = static_cast<HolderNode*>(Tal_AllocMemQuick(sizeof(HolderNode)));
    if (!node) {
        unlockHost(sem);
        return 0;
    }
    *node = HolderNode{};
    node->task = caller;
    node->signal = -1;
    sem->sharedCount++;
    ObtainSemaphore(listLock());
    AddTail(&sem->holders, &node->node);
    if (sem->exclusiveCount == 0 || sem->owner == caller || !sem->owner) {
        ReleaseSemaphore(listLock());
        unlockHost(sem);
        return 1;
    }
    if (retries == TAL_LOCK_TRY || possibleDeadlock(sem, caller, false)) {
        Remove(&node->node);
        ReleaseSemaphore(listLock());
        Tal_FreeMemQuick(node);
        sem->sharedCount--;
        unlockHost(sem);
        return 0;
    }
    node->signal = AllocSignal(-1);
    node->waiting = true;
    ReleaseSemaphore(listLock());
    while (sem->owner) {
        unlockHost(sem);
        sleepOn(node->signal);
        lockHost(sem);
    }
    ObtainSemaphore(listLock());
    node->waiting = false;
    ReleaseSemaphore(listLock());
    if (node->signal >= 0) FreeSignal(node->signal);
    node->signal = -1;
    unlockHost(sem);
    return 1;
}

void Tal_ReleaseSemaphoreSharedDebug(Tal_Semaphore* sem, const char*, ULONG) {
    if (!sem) return;
    Task* caller = host_ThisTask();
    lockHost(sem);
    for (HolderNode* node : ListNodes<HolderNode>(&sem->holders)) {
        if (node->task != caller) continue;
        ObtainSemaphore(listLock());
        Remove(&node->node);
        ReleaseSemaphore(listLock());
        Tal_FreeMemQuick(node);
        sem->sharedCount--;
        break;
    }
    if (sem->exclusiveCount != 0 && !IsListEmpty(&sem->waiters)) {
        auto* first = reinterpret_cast<WaiterNode*>(sem->waiters.lh_Head);
        wake(first->task, first->signal);
    }
    if (sem->sharedCount != 0)
        for (HolderNode* holder : ListNodes<HolderNode>(&sem->holders)) wake(holder->task, holder->signal);
    unlockHost(sem);
}
