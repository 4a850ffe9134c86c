#include "ui/Group.h"
#include "ui/Window.h"
#include "host/display.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <chrono>
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

} // namespace
