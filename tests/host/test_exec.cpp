#include "host/host.h"
#include "support/TalTest.h"

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono;

TEST(Signals, AllocatesFrom16UpAndRunsOut) {
    DebugCapture debug;
    TaskThread([&] {
        std::vector<LONG> got;
        for (int i = 0; i < 16; i++) got.push_back(AllocSignal(-1));
        EXPECT_EQ(got.front(), 16);
        EXPECT_EQ(got[1], 17);
        EXPECT_EQ(got.back(), 31);
        EXPECT_EQ(AllocSignal(-1), -1);
        FreeSignal(16);
        EXPECT_EQ(AllocSignal(-1), 16);
        EXPECT_EQ(AllocSignal(20), -1); // in use
        FreeSignal(20);
        EXPECT_EQ(AllocSignal(20), 20);
        EXPECT_EQ(AllocSignal(12), -1); // reserved by the layer
    });
    EXPECT_TRUE(debug.contains("***** No signals left!"));
}

TEST(Signals, UnregisteredThreadsGetNothing) {
    std::thread([] {
        EXPECT_EQ(FindTask(nullptr), nullptr);
        EXPECT_EQ(AllocSignal(-1), -1);
        EXPECT_EQ(Wait(0x10000), 0u);
        EXPECT_EQ(CreateMsgPort(), nullptr);
    }).join();
}

TEST(Signals, WaitReturnsPendingSignalAtOnceAndClearsOnlyItsMask) {
    TaskThread([] {
        Task* self = FindTask(nullptr);
        ASSERT_NE(self, nullptr);
        Signal(self, 0x10000 | 0x40000);
        EXPECT_EQ(Wait(0x10000), 0x50000u);
        EXPECT_EQ(SetSignal(0, 0), 0x40000u); // poll: the other bit stays pending
        EXPECT_EQ(SetSignal(0, 0x40000), 0x40000u);
        EXPECT_EQ(SetSignal(0, 0), 0u);
    });
}

TEST(Signals, AnySignalEndsAWait) {
    std::atomic<Task*> waiter{nullptr};
    std::atomic<ULONG> result{0}, pending{0};
    TaskThread thread([&] {
        waiter = FindTask(nullptr);
        result = Wait(0x10000);
        pending = SetSignal(0, 0);
    });
    // Signal only once the waiter sleeps: a signal outside the mask that comes earlier stays pending
    // without ending the wait.
    auto asleep = [&] {
        Forbid();
        bool sleeping = waiter && waiter.load()->tc_State == TS_WAIT;
        Permit();
        return sleeping;
    };
    while (!asleep()) std::this_thread::yield();
    Signal(waiter, 0x20000);
    thread.join();
    EXPECT_EQ(result & 0x20000u, 0x20000u);
    EXPECT_EQ(pending & 0x20000u, 0x20000u);
}

TEST(Ports, MessagesQueueInOrderAndWaitPortPeeks) {
    TaskThread([] {
        MsgPort* port = CreateMsgPort();
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(port->mp_SigBit, 16);
        EXPECT_EQ(port->mp_SigTask, FindTask(nullptr));
        Message a{}, b{};
        PutMsg(port, &a);
        PutMsg(port, &b);
        EXPECT_EQ(a.mn_Node.ln_Type, NT_MESSAGE);
        EXPECT_EQ(WaitPort(port), &a);
        EXPECT_EQ(WaitPort(port), &a); // still queued
        EXPECT_EQ(GetMsg(port), &a);
        EXPECT_EQ(GetMsg(port), &b);
        EXPECT_EQ(GetMsg(port), nullptr);
        DeleteMsgPort(port);
        EXPECT_EQ(AllocSignal(-1), 16); // the port's bit came back
    });
}

TEST(Ports, WaitPortSleepsUntilAMessageArrives) {
    std::atomic<MsgPort*> port{nullptr};
    std::atomic<bool> done{false};
    Message msg{};
    TaskThread receiver([&] {
        MsgPort* own = CreateMsgPort();
        port = own;
        Message* got = nullptr;
        while (!(got = WaitPort(own))) {
        }
        EXPECT_EQ(got, &msg);
        EXPECT_EQ(GetMsg(own), &msg);
        while (!done) std::this_thread::yield();
        DeleteMsgPort(own);
    });
    while (!port) std::this_thread::yield();
    std::this_thread::sleep_for(milliseconds(20));
    PutMsg(port, &msg);
    done = true;
}

TEST(Ports, DeleteReleasesQueuedMessagesAndRepliesGoToTheReplyPort) {
    TaskThread([] {
        MsgPort* port = CreateMsgPort();
        MsgPort* replies = CreateMsgPort();
        // Queued messages are released with the port (the leak checker would see them otherwise).
        for (int i = 0; i < 2; i++) {
            auto* msg = static_cast<Message*>(Tal_AllocMemClear(sizeof(Message) + 16));
            msg->mn_Length = 16;
            PutMsg(port, msg);
        }
        Message reply{};
        reply.mn_ReplyPort = replies;
        ReplyMsg(&reply);
        EXPECT_EQ(GetMsg(replies), &reply);
        Message plain{};
        ReplyMsg(&plain);
        EXPECT_EQ(plain.mn_Node.ln_Type, NT_FREEMSG);
        DeleteMsgPort(port);
        DeleteMsgPort(replies);
    });
}

ULONG processEntry(Task* task) {
    auto* seen = reinterpret_cast<std::atomic<int>*>(task->tc_UserData);
    EXPECT_EQ(FindTask(nullptr), task);
    EXPECT_EQ(FindTask("velura test proc"), task);
    EXPECT_NE(task->pr_MsgPort, nullptr);
    EXPECT_EQ(task->pr_MsgPort->mp_SigTask, task);
    // Wait for the creator's go.
    while (!(Wait(SIGBREAKF_CTRL_C) & SIGBREAKF_CTRL_C)) {
    }
    seen->store(1);
    return 0;
}

TEST(Processes, StartRegisterAndEnd) {
    TaskThread([] {
        std::atomic<int> seen{0};
        Process* proc = CreateNewProcTags(NP_Entry, &processEntry, NP_Name, "velura test proc", NP_StackSize,
                                          16384, NP_Priority, 1, NP_UserData, &seen);
        ASSERT_NE(proc, nullptr);
        while (!FindTask("velura test proc")) std::this_thread::yield(); // the thread adds itself
        EXPECT_EQ(FindTask("velura test proc"), proc);
        Signal(proc, SIGBREAKF_CTRL_C);
        while (FindTask("velura test proc")) std::this_thread::yield();
        EXPECT_EQ(seen.load(), 1);
    });
}

TEST(Semaphores, RecursiveAndNoneIsAccepted) {
    SignalSemaphore sem{};
    InitSemaphore(&sem);
    ObtainSemaphore(&sem);
    ObtainSemaphore(&sem);
    EXPECT_EQ(sem.ss_NestCount, 2);
    std::atomic<bool> got{false};
    std::thread other([&] {
        ObtainSemaphore(&sem);
        got = true;
        ReleaseSemaphore(&sem);
    });
    ReleaseSemaphore(&sem);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_FALSE(got.load()); // still held once
    ReleaseSemaphore(&sem);
    other.join();
    EXPECT_TRUE(got.load());
    ObtainSemaphore(nullptr);
    ReleaseSemaphore(nullptr);
    CleanupSemaphore(&sem);
}

TEST(Time, DelayOf50TicksSleepsOneSecond) {
    auto start = steady_clock::now();
    Delay(50);
    auto ms = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 10000);
}

TEST(Libraries, AlwaysOpen) {
    EXPECT_EQ(OpenLibrary("dos.library", 0), 1u);
    EXPECT_EQ(OpenLibrary("intuition.library", 37), 1u); // no window layer yet
    int windowLayer = 0;
    host_SetIntuitionBase(&windowLayer);
    EXPECT_EQ(OpenLibrary("intuition.library", 37), Tal_ToWord(&windowLayer));
    host_SetIntuitionBase(nullptr);
    EXPECT_EQ(putreg(3, 42), 42u);
    EXPECT_EQ(getreg(3), 1u);
}

} // namespace
