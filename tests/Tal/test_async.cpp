#include "Tal/Thread.h"
#include "ui/ui.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <atomic>
#include <thread>

namespace {

RECORDER_CLASS(nodeClass, "TNode", 0x7E000000)

constexpr ULONG Method = 0x7E000014;
constexpr ULONG Wide = 0x7E0F0014;
constexpr ULONG Area = 0x7E0E0020;

class Async : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        register_nodeClass();
    }
    void TearDown() override {
        EXPECT_EQ(nodeClass.instanceCount.load(), 0u);
        Tal__CleanupClass(&nodeClass);
        TalFixture::TearDown();
    }
    static size_t count(ULONG h, ULONG id) {
        size_t n = 0;
        for (auto& c : recorder::calls(h)) n += c.id == id;
        return n;
    }
};

// The port's owner performs the queued methods, in order, with the copied arguments.
TEST_F(Async, MethodsRunInTheOwningTaskInOrder) {
    static std::thread::id owner, performer;
    static std::vector<Tal_Word> area;
    ULONG target = Tal_CreateObject("TNode");
    recorder::of(target)->hook = [](recorder::Instance*, ULONG id, const Tal_Word* args) {
        performer = std::this_thread::get_id();
        if (id == Area) area = {args[0], args[2], args[4], args[6]};
    };
    std::atomic<ULONG> window{0};
    std::atomic<Task*> ownerTask{nullptr};
    std::atomic<bool> done{false};
    TaskThread thread([&] {
        owner = std::this_thread::get_id();
        ownerTask = FindTask(nullptr);
        MsgPort* port = CreateMsgPort();
        ULONG w = Tal_CreateObject("TNode", TAL_SetAsyncPort, port);
        window = w;
        while (!done) {
            Wait((1u << port->mp_SigBit) | SIGBREAKF_CTRL_C);
            Tal__DrainAsyncPort(port, nullptr, nullptr);
        }
        Tal__DrainAsyncPort(port, nullptr, nullptr);
        Tal_DisposeObject(w);
        DeleteMsgPort(port);
    });
    while (!window) std::this_thread::yield();
    for (int i = 1; i <= 3; i++)
        EXPECT_EQ(Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, target, Method, i, 0), 1u);
    // A zero argument at an odd position does not end the copy; the area message's layout.
    Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, target, Wide, 0, 7, 8, 9, 10, 0);
    Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, target, Area, 0, 0x00010118, 0, 0x00010122, 0,
                      0x00010118, 5, 0);
    done = true;
    Signal(ownerTask, SIGBREAKF_CTRL_C);
    thread.join();
    std::vector<Tal_Word> got;
    for (auto& c : recorder::calls(target))
        if (c.id == Method) got.push_back(c.args[0]);
    EXPECT_EQ(got, (std::vector<Tal_Word>{1, 2, 3}));
    for (auto& c : recorder::calls(target)) {
        if (c.id == Wide) {
            EXPECT_EQ(c.args, (std::vector<Tal_Word>{0, 7, 8, 9}));
        }
    }
    EXPECT_EQ(area, (std::vector<Tal_Word>{0, 0, 0, 5}));
    EXPECT_EQ(performer, owner);
    Tal_DisposeObject(target);
}

TEST_F(Async, ObjectsWithoutAPortRefuse) {
    ULONG button = Tal_CreateObject("TNode");
    EXPECT_EQ(Tal_DoAsyncMethod(button, TAL_DoAsyncMethodMethod, button, Method, 1, 0), 0u);
    EXPECT_EQ(Tal_DoAsyncMethod(0, TAL_DoAsyncMethodMethod, button, Method, 1, 0), 0u);
    EXPECT_EQ(count(button, Method), 0u);
    Tal_DisposeObject(button);
}

TEST_F(Async, RedrawsOfOneObjectBackToBackDrawOnce) {
    MsgPort* port = CreateMsgPort();
    ULONG window = Tal_CreateObject("TNode", TAL_SetAsyncPort, port);
    ULONG a = Tal_CreateObject("TNode"), b = Tal_CreateObject("TNode");
    auto redraw = [&](ULONG h) { Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, h, TAL_DrawObject, 0); };
    struct Case {
        std::vector<ULONG> queue; // 0 = some other method on a
        size_t drawsA, drawsB;
    } cases[] = {
        {{a, a, a}, 1, 0},
        {{a, b, a}, 2, 1},
        {{a, 0, a}, 1, 0},
    };
    for (const Case& c : cases) {
        size_t beforeA = count(a, TAL_DrawObject), beforeB = count(b, TAL_DrawObject);
        for (ULONG h : c.queue) {
            if (h) {
                redraw(h);
            } else {
                Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, a, Method, 1, 0);
            }
        }
        Tal__DrainAsyncPort(port, nullptr, nullptr);
        EXPECT_EQ(count(a, TAL_DrawObject) - beforeA, c.drawsA);
        EXPECT_EQ(count(b, TAL_DrawObject) - beforeB, c.drawsB);
    }
    // Other commands go to the owner's handler, in order.
    static std::vector<Tal_Word> handled;
    Tal_DoAsyncMethod(window, 0x00090028, 0, 0);
    Tal_DoAsyncMethod(window, 0x00090032, 0, 0);
    Tal__DrainAsyncPort(
        port, [](Tal_AsyncMessage* msg, void*) { handled.push_back(msg->command); }, nullptr);
    EXPECT_EQ(handled, (std::vector<Tal_Word>{0x00090028, 0x00090032}));
    for (ULONG h : {window, a, b}) Tal_DisposeObject(h);
    DeleteMsgPort(port);
}

TEST_F(Async, BackgroundDisposalWaitsForCallersAndCleanUpForIt) {
    static std::atomic<bool> inside{false}, leave{false};
    ULONG busy = Tal_CreateObject("TNode");
    recorder::of(busy)->hook = [](recorder::Instance*, ULONG id, const Tal_Word*) {
        if (id != Method) return;
        inside = true;
        while (!leave) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    std::thread caller([&] { Tal_DoMethod(busy, Method, 0); });
    while (!inside) std::this_thread::yield();
    EXPECT_EQ(Tal_AsyncDisposeObject(busy), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // past the first look at 200 ms
    EXPECT_NE(Tal_GetObjectInstance(busy), nullptr);
    leave = true;
    caller.join();
    // Clean-up waits for the pending disposal.
    ULONG other = Tal_CreateObject("TNode");
    Tal_AsyncDisposeObject(other);
    EXPECT_EQ(Tal_AsyncDisposeObject(0), 0u);
    Tal_CleanUp();
    EXPECT_EQ(gd->pendingDisposals.load(), 0);
    EXPECT_EQ(nodeClass.instanceCount.load(), 0u);
    Tal_UseInterfaceClasses();
    Tal_Init();
}

TEST_F(Async, ThreadObjectsStartAndStopWithTheBreakSignal) {
    static std::atomic<int> runs{0}, breaks{0};
    Tal_ThreadEntry entry = [](Tal_Word user) -> ULONG {
        runs += int(user);
        while (!(Wait(SIGBREAKF_CTRL_C) & SIGBREAKF_CTRL_C)) {
        }
        breaks++;
        return 0;
    };
    ULONG thread = Tal_CreateObject("Thread", TAL_SetThreadEntry, entry, TAL_SetThreadName,
                                    "velura test thread", TAL_SetUserData, 2);
    ASSERT_NE(thread, 0u);
    EXPECT_EQ(Tal_DoMethod(thread, TAL_Start), 1u);
    EXPECT_EQ(Tal_DoMethod(thread, TAL_Start), 0u); // already running
    EXPECT_EQ(Tal_DoMethod(thread, TAL_Stop), 1u);
    EXPECT_EQ(runs.load(), 2);
    EXPECT_EQ(breaks.load(), 1);
    // Started again and disposed while running: disposal stops it first.
    EXPECT_EQ(Tal_DoMethod(thread, TAL_Start), 1u);
    Tal_DisposeObject(thread);
    EXPECT_EQ(breaks.load(), 2);
    EXPECT_EQ(FindTask("velura test thread"), nullptr);
}

} // namespace
