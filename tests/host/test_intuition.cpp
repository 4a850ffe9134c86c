#include "host/intuition.h"
#include "support/TalTest.h"

#include <chrono>
#include <thread>

namespace {

// The screen window's client area starts below the 26-pixel title bar.
constexpr LONG kTop = 26;

class WindowLayer : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        host_InitWindowSystem(240, 320);
        screen = OpenScreenTagList(nullptr, nullptr);
        ASSERT_NE(screen, nullptr);
    }
    void TearDown() override {
        for (Window* w : windows) CloseWindow(w);
        TalFixture::TearDown();
    }
    Window* open(LONG left, LONG top, LONG width, LONG height, ULONG flags = 0) {
        Window* w = OpenWindowTags(nullptr, WA_Left, left, WA_Top, top, WA_Width, width, WA_Height, height,
                                   WA_Flags, flags, WA_Title, "test");
        if (w) windows.push_back(w);
        settle();
        drain(w);
        return w;
    }
    // Until every pump has handled what it was given.
    static void settle() {
        for (int stable = 0; stable < 3;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            stable = host_QueuesIdle() ? stable + 1 : 0;
        }
    }
    static std::vector<IntuiMessage> drain(Window* w) {
        std::vector<IntuiMessage> out;
        while (auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(w->UserPort))) {
            out.push_back(*m);
            Tal_FreeMem(m);
        }
        return out;
    }
    static std::vector<IntuiMessage> only(const std::vector<IntuiMessage>& all, ULONG cls) {
        std::vector<IntuiMessage> out;
        for (const auto& m : all)
            if (m.Class == cls) out.push_back(m);
        return out;
    }
    static void tap(LONG x, LONG y) {
        host_InjectMouseMove(x, y);
        host_InjectButton(0, true, x, y);
        host_InjectButton(0, false, x, y);
    }
    static void typeKey(ULONG vk, bool shift, bool control) {
        if (shift) host_InjectKey(VK_SHIFT, true);
        if (control) host_InjectKey(VK_CONTROL, true);
        host_InjectKey(vk, true);
        if (UBYTE c = host_CharForKey(vk, shift, control)) host_InjectChar(c);
        host_InjectKey(vk, false);
        if (control) host_InjectKey(VK_CONTROL, false);
        if (shift) host_InjectKey(VK_SHIFT, false);
    }
    Screen* screen = nullptr;
    std::vector<Window*> windows;
};

TEST_F(WindowLayer, OpenPlacesTheWindowAndFailsCleanly) {
    Window* w = open(20, 30, 100, 80);
    ASSERT_NE(w, nullptr);
    host_Rect r = host_GetScreenRect(w->HostWindow);
    EXPECT_EQ(r.x, 20);
    EXPECT_EQ(r.y, 30 + kTop);
    EXPECT_EQ(host_Intuition()->ActiveWindow, w);
    EXPECT_EQ(OpenLibrary("intuition.library", 0), Tal_ToWord(host_Intuition()));
    // No host window, no window.
    EXPECT_EQ(OpenWindowTags(nullptr, WA_Width, 40000, WA_Height, 10), nullptr);
    EXPECT_EQ(OpenWindowTags(nullptr, WA_Width, 0, WA_Height, 10), nullptr); // the host refuses it
    ChangeWindowBox(w, 5, 6, 50, 40);
    settle();
    auto got = drain(w);
    EXPECT_EQ(only(got, IDCMP_NEWSIZE).size(), 1u);
    EXPECT_EQ(w->LeftEdge, 5);
    EXPECT_EQ(w->Height, 40);
}

TEST_F(WindowLayer, MovesAndRefreshesAreCoalesced) {
    Window* w = open(0, 0, 100, 100);
    for (int i = 0; i < 10; i++) host_InjectMouseMove(10 + i, 10 + kTop);
    settle();
    auto moves = only(drain(w), IDCMP_MOUSEMOVE);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].MouseX, 19);
    EXPECT_EQ(moves[0].MouseY, 10);
    host_Rect a{0, 0, 11, 11}, b{20, 20, 11, 11};
    host_Invalidate(w->HostWindow, &a);
    settle();
    host_Invalidate(w->HostWindow, &b);
    settle();
    auto refreshes = only(drain(w), IDCMP_REFRESHWINDOW);
    ASSERT_EQ(refreshes.size(), 1u);
    EXPECT_EQ(refreshes[0].Refresh.MinX, 0);
    EXPECT_EQ(refreshes[0].Refresh.MinY, 0);
    EXPECT_EQ(refreshes[0].Refresh.MaxX, 31);
    EXPECT_EQ(refreshes[0].Refresh.MaxY, 31);
}

TEST_F(WindowLayer, ButtonsKeysAndQualifiers) {
    Window* w = open(0, 0, 100, 100);
    struct Case {
        const char* what;
        std::function<void()> input;
        std::vector<std::pair<ULONG, UWORD>> expected; // class, code
        UWORD qualifier;                               // of the first expected message
    } cases[] = {
        {"tap",
         [] { tap(10, 10 + kTop); },
         {{IDCMP_MOUSEBUTTONS, SELECTDOWN}, {IDCMP_MOUSEBUTTONS, SELECTUP}},
         IEQUALIFIER_LEFTBUTTON},
        {"tap with the action key",
         [] {
             host_InjectKey(VK_ACTION, true);
             tap(10, 10 + kTop);
             host_InjectKey(VK_ACTION, false);
         },
         {{IDCMP_MOUSEBUTTONS, MENUDOWN}, {IDCMP_MOUSEBUTTONS, MENUUP}},
         IEQUALIFIER_RBUTTON},
        {"plain key",
         [] { typeKey('S', false, false); },
         {{IDCMP_RAWKEYDOWN, 'S'}, {IDCMP_CHARACTER, 's'}, {IDCMP_RAWKEYUP, 'S'}},
         0},
        {"ctrl+S",
         [] { typeKey('S', false, true); },
         {{IDCMP_RAWKEYDOWN, 'S'}, {IDCMP_CHARACTER, 19}, {IDCMP_VANILLAKEY, 115}},
         IEQUALIFIER_CONTROL},
        {"ctrl+A",
         [] { typeKey('A', false, true); },
         {{IDCMP_CHARACTER, 1}, {IDCMP_VANILLAKEY, 97}},
         IEQUALIFIER_CONTROL},
        {"ctrl+shift+A",
         [] { typeKey('A', true, true); },
         {{IDCMP_CHARACTER, 1}, {IDCMP_VANILLAKEY, 65}},
         IEQUALIFIER_CONTROL | IEQUALIFIER_SHIFT},
        {"arrow",
         [] { typeKey(VK_LEFT, false, false); },
         {{IDCMP_RAWKEY, RAWKEY_LEFT}, {IDCMP_RAWKEYDOWN, VK_LEFT}},
         0},
        {"delete",
         [] { typeKey(VK_DELETE, false, false); },
         {{IDCMP_VANILLAKEY, 127}, {IDCMP_RAWKEYDOWN, VK_DELETE}},
         0},
    };
    tap(10, 10 + kTop); // the window takes the focus
    settle();
    drain(w);
    for (const Case& c : cases) {
        c.input();
        settle();
        std::vector<IntuiMessage> got;
        for (const auto& m : drain(w))
            if (m.Class != IDCMP_MOUSEMOVE && m.Class != IDCMP_INTUITICKS && m.Class != IDCMP_ACTIVEWINDOW &&
                m.Class != IDCMP_INACTIVEWINDOW)
                got.push_back(m);
        std::vector<std::pair<ULONG, UWORD>> seen;
        for (const auto& m : got) seen.push_back({m.Class, m.Code});
        // The expected messages appear in order (others, such as key-ups, may come between).
        size_t at = 0;
        for (const auto& m : seen)
            if (at < c.expected.size() && m == c.expected[at]) at++;
        EXPECT_EQ(at, c.expected.size()) << c.what;
        for (const auto& m : got) {
            if (m.Class == c.expected[0].first && m.Code == c.expected[0].second) {
                EXPECT_EQ(m.Qualifier & (IEQUALIFIER_SHIFT | IEQUALIFIER_CONTROL | IEQUALIFIER_ALT |
                                         IEQUALIFIER_LEFTBUTTON | IEQUALIFIER_RBUTTON),
                          c.qualifier)
                    << c.what;
                break;
            }
        }
    }
}

TEST_F(WindowLayer, APressActivatesAndTheReleaseFollowsThePress) {
    Window* a = open(0, 0, 100, 100);
    Window* b = open(120, 0, 100, 100);
    ASSERT_EQ(host_Intuition()->ActiveWindow, b);
    host_InjectMouseMove(10, 10 + kTop);
    host_InjectButton(0, true, 10, 10 + kTop);
    settle();
    auto gotA = drain(a);
    EXPECT_EQ(host_Intuition()->ActiveWindow, a);
    EXPECT_EQ(only(gotA, IDCMP_ACTIVEWINDOW).size(), 1u);
    ASSERT_EQ(only(gotA, IDCMP_MOUSEBUTTONS).size(), 1u);
    EXPECT_EQ(only(drain(b), IDCMP_INACTIVEWINDOW).size(), 1u);
    // Dragged over to b and released there: the release goes to a, in a's coordinates.
    host_InjectMouseMove(150, 20 + kTop);
    host_InjectButton(0, false, 150, 20 + kTop);
    settle();
    auto ups = only(drain(a), IDCMP_MOUSEBUTTONS);
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].Code, SELECTUP);
    EXPECT_EQ(ups[0].MouseX, 150);
    EXPECT_EQ(only(drain(b), IDCMP_MOUSEBUTTONS).size(), 0u);
}

TEST_F(WindowLayer, TicksOnlyForThePointerWindow) {
    Window* a = open(0, 0, 100, 100);
    Window* b = open(120, 0, 100, 100);
    host_InjectMouseMove(10, 10 + kTop);
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    settle();
    EXPECT_GE(only(drain(a), IDCMP_INTUITICKS).size(), 2u);
    EXPECT_EQ(only(drain(b), IDCMP_INTUITICKS).size(), 0u);
    host_InjectMouseMove(150, 10 + kTop);
    settle();
    EXPECT_EQ(only(drain(a), IDCMP_POINTERLEFT).size(), 1u);
    EXPECT_EQ(Tal_FindWindowUnderMouse(b), b);
}

} // namespace
