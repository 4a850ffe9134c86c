#include "ui/Group.h"
#include "ui/ui.h"
#include "host/controls.h"
#include "host/display.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

RECORDER_CLASS(leafClass, "TLeaf", 0x7E000000)

constexpr LONG kTop = 26; // the title bar above the work area

class WindowClass : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        register_leafClass();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        for (ULONG w : windows) Tal_DisposeObject(w);
        settle();
        Tal__CleanupClass(&leafClass);
        TalFixture::TearDown();
    }
    // A window with one leaf of the given size, started.
    ULONG window(LONG x, LONG y, LONG w, LONG h, ULONG positionId = 0) {
        ULONG win = Tal_CreateObject("Window", TAL_SetWindowX, x, TAL_SetWindowY, y, TAL_SetWindowW, w,
                                     TAL_SetWindowH, h, TAL_SetWindowPositionID, positionId);
        Tal_DoMethod(win, TAL_AddTail, Tal_CreateObject("TLeaf"));
        windows.push_back(win);
        return win;
    }
    static Window* host(ULONG win) { return reinterpret_cast<Window*>(Tal_DoMethod(win, TAL_GetHostWindow)); }
    std::vector<ULONG> windows;
};

TEST_F(WindowClass, OpensCentredAndClosesOnRequest) {
    ULONG win = window(LONG(0xCECECECE), 30, 200, 100);
    EXPECT_EQ(Tal_DoMethod(win, TAL_Start), 1u);
    settle();
    ASSERT_NE(host(win), nullptr);
    EXPECT_EQ(host(win)->LeftEdge, 20);
    EXPECT_EQ(host(win)->TopEdge, 30);
    EXPECT_EQ(host_GetScreenRect(host(win)->HostWindow).y, 30 + kTop);
    // A second start is an open request on an open window: still one thread, still open.
    EXPECT_EQ(Tal_DoMethod(win, TAL_Start), 1u);
    // Open, open, close: closed.
    Tal_DoMethod(win, TAL_OpenWindow);
    settle();
    Tal_DoMethod(win, TAL_CloseWindow);
    settle();
    EXPECT_EQ(host(win), nullptr);
    Tal_DoMethod(win, TAL_OpenWindow);
    settle();
    EXPECT_NE(host(win), nullptr);
}

TEST_F(WindowClass, TwoCloseRequestsKeepItClosedUntilOpened) {
    ULONG screen = Tal_CreateObject("Screen");
    ULONG win = window(10, 10, 100, 100);
    Tal_DoMethod(win, TAL_CloseWindow);
    Tal_DoMethod(win, TAL_CloseWindow);
    Tal_DoMethod(screen, TAL_AddTail, win);
    windows.pop_back(); // the screen owns it now
    Tal_DoMethod(screen, TAL_Start);
    settle();
    EXPECT_EQ(host(win), nullptr);
    Tal_DoMethod(win, TAL_OpenWindow);
    settle();
    EXPECT_NE(host(win), nullptr);
    Tal_DisposeObject(screen);
    settle();
}

TEST_F(WindowClass, RemembersItsPlace) {
    ULONG win = window(10, 10, 100, 80, 4711);
    Tal_DoMethod(win, TAL_Start);
    settle();
    ASSERT_NE(host(win), nullptr);
    Tal_DoMethod(win, TAL_ChangeWindowBox, 30, 40, 120, 90);
    settle();
    Tal_DoMethod(win, TAL_CloseWindow);
    settle();
    Tal_DoMethod(win, TAL_SetWindowX, 0);
    Tal_DoMethod(win, TAL_OpenWindow);
    settle();
    ASSERT_NE(host(win), nullptr);
    EXPECT_EQ(host(win)->LeftEdge, 30);
    EXPECT_EQ(host(win)->TopEdge, 40);
    EXPECT_EQ(host(win)->Width, 120);
    EXPECT_EQ(host(win)->Height, 90);
}

TEST_F(WindowClass, DisposedFromItsOwnThreadOrAnother) {
    // From another thread.
    ULONG a = window(0, 0, 50, 50);
    Tal_DoMethod(a, TAL_Start);
    settle();
    Tal_DisposeObject(a);
    windows.clear();
    settle();
    EXPECT_EQ(Tal_GetObjectInstance(a), nullptr);
    // From its own event thread: a method queued to it disposes it.
    ULONG b = window(0, 0, 50, 50);
    windows.clear();
    Tal_DoMethod(b, TAL_Start);
    settle();
    Tal_DoAsyncMethod(b, TAL_DoAsyncMethodMethod, b, TAL_DisposeSelf, 0, 0);
    settle();
    EXPECT_EQ(Tal_GetObjectInstance(b), nullptr);
}

TEST_F(WindowClass, InputReachesTheContent) {
    ULONG win = window(20, 20, 100, 100);
    ULONG leaf = ULONG(Tal_DoMethod(win, TAL_GetFirstGroupObject));
    Tal_DoMethod(win, TAL_Start);
    settle();
    host_InjectMouseMove(30, 40 + kTop);
    host_InjectButton(0, true, 30, 40 + kTop);
    host_InjectButton(0, false, 30, 40 + kTop);
    settle();
    // Offered to the content (the window's groups pass it down): the move, the press, the release.
    size_t handled = 0;
    for (auto& c : recorder::calls(leaf)) handled += c.id == TAL_HandleIDCMP;
    EXPECT_GE(handled, 3u);
}

// A window with an x or y anchor opens right of (below) the anchor window.
TEST_F(WindowClass, AnchorsPlaceItBesideAnotherWindow) {
    ULONG anchor = window(10, 20, 100, 50);
    Tal_DoMethod(anchor, TAL_Start);
    settle();
    ULONG beside = window(0, 0, 50, 40);
    Tal_DoMethod(beside, TAL_SetWindowXAnchor, anchor);
    Tal_DoMethod(beside, TAL_SetWindowYAnchor, anchor);
    Tal_DoMethod(beside, TAL_Start);
    settle();
    ASSERT_NE(host(beside), nullptr);
    EXPECT_EQ(host(beside)->LeftEdge, 10 + 100);
    EXPECT_EQ(host(beside)->TopEdge, 20 + 50);
}

// A requester opens above the full-size windows (the start window, image windows) that are already open.
TEST_F(WindowClass, ARequesterOpensAboveTheFullSizeWindows) {
    ULONG main = window(0, 0, 240, 268);
    Tal_DoMethod(main, TAL_SetWindowType, 16);
    Tal_DoMethod(main, TAL_Start);
    settle();
    ULONG requester = window(40, 40, 150, 80);
    Tal_DoMethod(requester, TAL_SetWindowType, 64);
    Tal_DoMethod(requester, TAL_Start);
    settle();
    ASSERT_NE(host(requester), nullptr);
    EXPECT_EQ(host_WindowFromPoint(60, 60 + kTop), host(requester)->HostWindow);
}

std::string screenTitle() {
    char text[300] = "";
    host_GetScreenTitle(text, sizeof text);
    return text;
}

// Our windows have no title bars: the screen's title bar shows the title of an active window that
// belongs to another window, and a new title at once; the start window leaves the screen's title there.
TEST_F(WindowClass, TheTitleBarShowsTheActiveChildWindowsTitle) {
    ULONG main = window(0, 0, 240, 268);
    Tal_DoMethod(main, TAL_SetWindowTitle, "HToolBoxObj");
    Tal_DoMethod(main, TAL_Start);
    settle();
    EXPECT_EQ(screenTitle(), "Velura");
    ULONG child = Tal_CreateObject("Window", TAL_SetWindowTitle, "Scale", TAL_SetWindowType, 64,
                                   TAL_SetWindowW, 150, TAL_SetWindowH, 80);
    Tal_DoMethod(child, TAL_AddTail, Tal_CreateObject("TLeaf"));
    Tal_DoMethod(main, TAL_AddTail, child);
    Tal_DoMethod(child, TAL_Start);
    settle();
    EXPECT_EQ(screenTitle(), "Scale");
    Tal_DoMethod(child, TAL_SetWindowTitle, "Scale to 50%");
    settle();
    EXPECT_EQ(screenTitle(), "Scale to 50%");
    Tal_DoMethod(child, TAL_CloseWindow);
    settle();
    EXPECT_EQ(screenTitle(), "Velura");
}

// While a requester-style window (type 0x40) is open, the eight commands of the screen's menu bar are
// hidden; the others stay.
TEST_F(WindowClass, ARequesterHidesTheMenuBarCommandsWhileOpen) {
    static const host_MenuItemResource file[] = {{69, "Quit"}, {142, "Live Redo"}, {101, "Fix"}};
    static const host_MenuBarButtonResource buttons[] = {{40001, HMB_MENU, "File", file, 3},
                                                         {143, HMB_IMAGE, "Fill", nullptr, 0, 1}};
    static const host_MenuBarResource bar{buttons, 2};
    host_SetScreenMenuBar(&bar);
    const ULONG hidden[] = {40001, 143, 142, 101};
    for (ULONG c : hidden) EXPECT_TRUE(host_IsScreenCommandShown(c)) << c;
    ULONG requester = window(0, 0, 150, 80);
    Tal_DoMethod(requester, TAL_SetWindowType, 64);
    Tal_DoMethod(requester, TAL_Start);
    settle();
    for (ULONG c : hidden) EXPECT_FALSE(host_IsScreenCommandShown(c)) << c;
    EXPECT_TRUE(host_IsScreenCommandShown(69));
    Tal_DoMethod(requester, TAL_CloseWindow);
    settle();
    for (ULONG c : hidden) EXPECT_TRUE(host_IsScreenCommandShown(c)) << c;
    host_SetScreenMenuBar(nullptr);
}

// The window that holds an object with a tooltip, under the pointer for half a second, shows the tooltip
// 20 pixels below the pointer; the object is the one under the pointer, not the one at the corner.
TEST_F(WindowClass, ATooltipComesForTheObjectUnderThePointer) {
    ULONG win = Tal_CreateObject("Window", TAL_SetWindowX, 20, TAL_SetWindowY, 20, TAL_SetWindowW, 100,
                                 TAL_SetWindowH, 60);
    windows.push_back(win);
    ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    ULONG left = Tal_CreateObject("Text", TAL_SetLabel, "left"),
          right = Tal_CreateObject("Text", TAL_SetLabel, "right");
    Tal_DoMethod(left, TAL_SetToolTip, "Left");
    Tal_DoMethod(right, TAL_SetToolTip, "Right");
    Tal_DoMethod(row, TAL_AddTail, left);
    Tal_DoMethod(row, TAL_AddTail, right);
    Tal_DoMethod(win, TAL_AddTail, row);
    Tal_GetGlobalData()->tooltips = 1;
    Tal_DoMethod(win, TAL_Start);
    settle();
    const Tal_Box* box = Tal__GetRootInstance(right)->header.box;
    const LONG x = 20 + host(win)->BorderLeft + box->x + box->width / 2,
               y = 20 + host(win)->BorderTop + box->y + box->height / 2;
    host_InjectMouseMove(x, y + kTop);
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    settle();
    Tal_GetGlobalData()->tooltips = 0;
    // The tooltip: another window, at the pointer and 20 pixels below it, saying "Right".
    Window* tip = nullptr;
    Forbid();
    for (Window* w : ListNodes<Window>(&host_Intuition()->Windows))
        if (w != host(win)) tip = w;
    const LONG tipX = tip ? tip->LeftEdge : -1, tipY = tip ? tip->TopEdge : -1;
    const ULONG tipObject = tip ? tip->ObjectHandle : 0;
    Permit();
    ASSERT_NE(tipObject, 0u);
    EXPECT_EQ(tipX, x);
    EXPECT_EQ(tipY, y + 20);
    bool saysRight = false;
    std::vector<ULONG> pending = {tipObject};
    while (!pending.empty() && !saysRight) {
        ULONG o = pending.back();
        pending.pop_back();
        const auto* label = reinterpret_cast<const char*>(Tal_DoMethod(o, TAL_GetLabel));
        saysRight = label && std::strcmp(label, "Right") == 0;
        for (ULONG m = ULONG(Tal_DoMethod(o, TAL_GetFirstGroupObject)); m;
             m = ULONG(Tal_DoMethod(o, TAL_GetNextGroupObject, m)))
            pending.push_back(m);
    }
    EXPECT_TRUE(saysRight);
}

// A draw that found the window locked by another thread is done once the lock is free, though no
// message comes to wake the window's thread.
TEST_F(WindowClass, ADrawThatFoundTheWindowLockedIsDoneOnceItIsFree) {
    ULONG win = Tal_CreateObject("Window", TAL_SetWindowX, 0, TAL_SetWindowY, 0, TAL_SetWindowW, 120,
                                 TAL_SetWindowH, 40);
    windows.push_back(win);
    ULONG text = Tal_CreateObject("Text", TAL_SetLabel, "Hello");
    Tal_DoMethod(win, TAL_AddTail, text);
    Tal_DoMethod(win, TAL_Start);
    settle();
    auto pixels = [&] {
        std::vector<ULONG> out;
        RastPort* rp = host(win)->RPort;
        for (LONG y = 0; y < 40; y++)
            for (LONG x = 0; x < 120; x++) out.push_back(ReadRGBPixel(rp, x, y));
        return out;
    };
    const auto hello = pixels();
    Tal_Semaphore* lock = Tal__GetRootInstance(text)->header.drawInfo->windowLock;
    ASSERT_TRUE(Tal_ObtainSemaphore(lock, TAL_MUST_LOCK));
    Tal_DoMethod(text, TAL_SetLabel, "Jello, world");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(pixels(), hello); // it could not draw
    Tal_ReleaseSemaphore(lock);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pixels() == hello && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(pixels(), hello);
}

// Another thread asking for the host window while the window opens and closes reads it under the
// window's lock (the thread sanitizer watches).
TEST_F(WindowClass, ItsHostWindowIsReadUnderItsLock) {
    ULONG win = window(10, 10, 80, 60);
    Tal_DoMethod(win, TAL_Start);
    std::atomic<bool> done{false};
    std::thread poll([&] {
        while (!done) Tal_DoMethod(win, TAL_GetHostWindow);
    });
    for (int i = 0; i < 5; i++) {
        Tal_DoMethod(win, TAL_CloseWindow);
        Tal_DoMethod(win, TAL_OpenWindow);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the window's thread opens and closes
    done = true;
    poll.join();
    settle();
    EXPECT_NE(host(win), nullptr);
}

} // namespace
