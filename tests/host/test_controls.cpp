#include "host/controls.h"

#include "app/MenuResource.h"
#include "host/graphics.h"
#include "host/wm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr ULONG PM_RUN = HM_USER + 0x300;
constexpr LONG kW = 240, kH = 320;

// What the target window heard.
struct Heard {
    ULONG message;
    Tal_Word wParam, lParam;
};
std::mutex heardLock;
std::vector<Heard> heard;

Tal_Word targetProc(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    if (message == HM_COMMAND || message == HM_HELP) {
        std::lock_guard guard(heardLock);
        heard.push_back({message, wParam, lParam});
    } else if (message == HM_PAINT) {
        RastPort rp;
        InitRastPort(&rp);
        rp.rp_Layer = host_GetLayer(w);
        const host_Rect r = host_GetRect(w);
        FillPixelArray(&rp, 0, 0, r.w, r.h, 0xF0F0F0);
        SetABPenDrMd(&rp, host_DirectPen(0), 0, JAM1);
        Move(&rp, 10, 8);
        Text(&rp, "Name:", 5);
    }
    return 0;
}

// A thread that owns windows and pumps their messages, like the screen's thread.
class Pump {
  public:
    Pump() {
        std::promise<host_Window*> ready;
        thread_ = std::thread([&] {
            host_WindowDesc desc;
            desc.style = HWS_HIDDEN;
            desc.proc = [](host_Window*, ULONG m, Tal_Word w, Tal_Word) -> Tal_Word {
                if (m == PM_RUN) {
                    auto* f = reinterpret_cast<std::function<void()>*>(w);
                    (*f)();
                    delete f;
                }
                return 0;
            };
            host_Window* driver = host_CreateWindow(desc);
            ready.set_value(driver);
            HostMessage m;
            while (host_GetMessage(&m)) host_DispatchMessage(m);
            host_DestroyWindow(driver);
        });
        driver_ = ready.get_future().get();
    }
    ~Pump() {
        host_PostQuitToOwner(driver_);
        thread_.join();
    }
    // Runs the code in the pump's thread and waits for it.
    void run(std::function<void()> f) {
        host_SendMessage(driver_, PM_RUN, reinterpret_cast<Tal_Word>(new std::function<void()>(std::move(f))),
                         0);
    }
    // Runs the code in the pump's thread without waiting (a pop-up menu's nested loop).
    void post(std::function<void()> f) {
        host_PostMessage(driver_, PM_RUN, reinterpret_cast<Tal_Word>(new std::function<void()>(std::move(f))),
                         0);
    }

  private:
    std::thread thread_;
    host_Window* driver_ = nullptr;
};

void waitIdle() {
    for (int i = 0; i < 20000 && !host_QueuesIdle(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(host_QueuesIdle()) << "the window system never went idle";
}

template <typename F>
bool waitFor(F&& condition) {
    for (int i = 0; i < 20000 && !condition(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}

void move(LONG x, LONG y) {
    host_InjectMouseMove(x, y);
    waitIdle();
}
void down(LONG x, LONG y) {
    host_InjectButton(0, true, x, y);
    waitIdle();
}
void up(LONG x, LONG y) {
    host_InjectButton(0, false, x, y);
    waitIdle();
}
void tap(LONG x, LONG y) {
    move(x, y);
    down(x, y);
    up(x, y);
}
void tapCentre(const host_Rect& r) {
    tap(r.x + r.w / 2, r.y + r.h / 2);
}

// A key as a person presses it: the modifiers are still down while the key is handled.
void key(ULONG vk, bool shift = false, bool ctrl = false) {
    if (shift) host_InjectKey(VK_SHIFT, true);
    if (ctrl) host_InjectKey(VK_CONTROL, true);
    host_InjectKey(vk, true);
    if (UBYTE c = host_CharForKey(vk, shift, ctrl)) host_InjectChar(c);
    host_InjectKey(vk, false);
    waitIdle();
    if (ctrl) host_InjectKey(VK_CONTROL, false);
    if (shift) host_InjectKey(VK_SHIFT, false);
    waitIdle();
}
void type(const std::string& text) {
    for (char c : text) host_InjectChar(UBYTE(c));
    waitIdle();
}

host_Rect itemRect(const char* text) {
    host_Rect r{};
    EXPECT_TRUE(host_FindShownMenuItem(text, &r)) << text << " is not shown";
    return r;
}

std::vector<Heard> takeHeard() {
    std::lock_guard guard(heardLock);
    std::vector<Heard> out;
    out.swap(heard);
    return out;
}

std::vector<ULONG> takeCommands() {
    std::vector<ULONG> out;
    for (const Heard& h : takeHeard())
        if (h.message == HM_COMMAND) out.push_back(ULONG(h.wParam));
    return out;
}

// Writes a surface as a 24-bit bottom-up BMP.
bool writeBmp(const std::string& path, const host_Surface* s) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t rowBytes = (uint32_t(s->width) * 3 + 3) & ~3u, dataSize = rowBytes * uint32_t(s->height);
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++) std::fputc(int((v >> (8 * i)) & 0xFF), f);
    };
    std::fputs("BM", f);
    put(54 + dataSize, 4), put(0, 4), put(54, 4);
    put(40, 4), put(uint32_t(s->width), 4), put(uint32_t(s->height), 4), put(1, 2), put(24, 2);
    put(0, 4), put(dataSize, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
    for (LONG y = s->height - 1; y >= 0; y--) {
        for (LONG x = 0; x < s->width; x++) put(s->pixels[size_t(y) * s->stride + x], 3);
        put(0, int(rowBytes - uint32_t(s->width) * 3));
    }
    return std::fclose(f) == 0;
}

// The screen as the program shows it: title bar, a target window for the client area, menu bar.
class Controls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(init_graphics(), 1u) << "no interface font";
        host_InitWindowSystem(kW, kH);
        takeHeard();
        pump = std::make_unique<Pump>();
        pump->run([this] {
            host_WindowDesc desc;
            desc.rect = {0, HOST_BAR_HEIGHT, kW, kH - 2 * HOST_BAR_HEIGHT};
            desc.proc = targetProc;
            desc.name = "Target";
            target = host_CreateWindow(desc);
            titleBar = host_CreateTitleBar("Velura", target);
            menuBar = host_CreateMenuBar(velura_MenuBarResource(), target);
        });
        ASSERT_TRUE(target && titleBar && menuBar);
        waitIdle();
    }
    void TearDown() override {
        host_CloseMenus();
        waitIdle();
        pump->run([this] {
            for (host_Window* w : {menuBar, titleBar, target}) host_DestroyWindow(w);
        });
        pump.reset();
        host_InjectKey(VK_SHIFT, false);
        host_InjectKey(VK_CONTROL, false);
        host_CleanupWindowSystem();
        cleanup_graphics();
    }

    host_Rect button(ULONG command) {
        host_Rect r{};
        EXPECT_TRUE(host_GetMenuBarButtonRect(menuBar, command, &r));
        return r;
    }

    std::unique_ptr<Pump> pump;
    host_Window* target = nullptr;
    host_Window* titleBar = nullptr;
    host_Window* menuBar = nullptr;
};

// ---------------------------------------------------------------------------------------------------
// Menus as data.

TEST(Menus, FlagsAndTextsByCommandReachSubMenusAndEveryCopy) {
    const host_MenuItemResource sub[] = {
        {149, "100%"}, {0, nullptr, HMF_SEPARATOR}, {149, "100%"}, {87, "Reset"}};
    const host_MenuItemResource items[] = {{1, "One"}, {0, "Magnify", 0, sub, 4}, {2, "Two", HMF_GREYED}};
    host_Menu* menu = host_CreateMenu(items, 3);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(host_MenuItemCount(menu), 3u);
    EXPECT_EQ(host_GetMenuItemFlags(menu, 2), HMF_GREYED);
    EXPECT_EQ(host_GetMenuItemFlags(menu, 99), HMF_NOTFOUND);
    EXPECT_EQ(host_SetMenuItemFlags(menu, 149, HMF_CHECKED, HMF_CHECKED), 2u);
    EXPECT_EQ(host_GetMenuItemFlags(menu, 149), HMF_CHECKED);
    host_EnableMenuItem(menu, 2, true);
    host_ShowMenuItem(menu, 87, false);
    EXPECT_EQ(host_GetMenuItemFlags(menu, 2), 0u);
    EXPECT_EQ(host_GetMenuItemFlags(menu, 87), HMF_HIDDEN);
    // Command 0 names no item: neither separators nor sub-menu headers change.
    EXPECT_EQ(host_SetMenuItemFlags(menu, 0, HMF_GREYED, HMF_GREYED), 0u);

    EXPECT_TRUE(host_SetMenuItemText(menu, 87, "Reset View"));
    char text[6];
    EXPECT_EQ(host_GetMenuItemText(menu, 87, text, sizeof text), 10u);
    EXPECT_STREQ(text, "Reset");
    EXPECT_FALSE(host_SetMenuItemText(menu, 99, "x"));
    EXPECT_EQ(host_AppendMenuItem(menu, 3, "Three", 0, nullptr), 3);
    EXPECT_EQ(host_AppendMenuItem(nullptr, 3, "Three", 0, host_CreateMenu(nullptr, 0)), -1);
    host_DisposeMenu(menu);
}

// ---------------------------------------------------------------------------------------------------
// The menu bar.

TEST_F(Controls, TappingFileThenOpenPostsItsCommand) {
    tapCentre(button(40001));
    ASSERT_TRUE(host_IsMenuOpen());
    const host_Rect open = itemRect("Open...");
    EXPECT_LE(open.y + open.h, kH - HOST_BAR_HEIGHT) << "drop-up menus open above the bar";
    tapCentre(open);
    EXPECT_FALSE(host_IsMenuOpen());
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{51});
}

TEST_F(Controls, GreyedItemsPostNothingAndTheMenuStaysUntilClosed) {
    host_ShowMenuItem(host_MenuBarMenu(menuBar, 40001), 61, false);
    tapCentre(button(40001));
    EXPECT_FALSE(host_FindShownMenuItem("Revert", nullptr)) << "hidden";
    tapCentre(itemRect("Save"));
    EXPECT_TRUE(host_IsMenuOpen());
    // Greyed at run time, from another thread, while shown.
    host_EnableMenuItem(host_MenuBarMenu(menuBar, 40001), 51, false);
    waitIdle();
    tapCentre(itemRect("Open..."));
    EXPECT_TRUE(host_IsMenuOpen());
    key(VK_ESCAPE);
    EXPECT_FALSE(host_IsMenuOpen());
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(Controls, SubMenuItemsAreReachableByTapsAndByDragging) {
    // Tap Image, tap Scale, tap Halve Size.
    tapCentre(button(40012));
    tapCentre(itemRect("Scale"));
    EXPECT_TRUE(host_IsMenuOpen());
    tapCentre(itemRect("Halve Size"));
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{91});

    // Press on Image, drag through Scale into its sub-menu, release on Double Size.
    const host_Rect image = button(40012);
    move(image.x + 5, image.y + 5);
    down(image.x + 5, image.y + 5);
    const host_Rect scale = itemRect("Scale");
    move(scale.x + 5, scale.y + scale.h / 2);
    move(scale.x + scale.w - 5, scale.y + scale.h / 2);
    const host_Rect twice = itemRect("Double Size");
    move(twice.x + twice.w / 2, twice.y + twice.h / 2);
    up(twice.x + twice.w / 2, twice.y + twice.h / 2);
    EXPECT_FALSE(host_IsMenuOpen());
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{90});
}

TEST_F(Controls, MenusCloseWithoutACommand) {
    struct Case {
        const char* name;
        std::function<void()> close;
    };
    const Case cases[] = {
        {"tap outside", [] { tap(200, 100); }},
        {"tap the opener again", [this] { tapCentre(button(40001)); }},
        {"Escape", [] { key(VK_ESCAPE); }},
        {"hiding the bar",
         [this] {
             host_ShowMenuBar(menuBar, false);
             waitIdle();
             EXPECT_FALSE(host_IsVisible(menuBar));
             host_ShowMenuBar(menuBar, true);
             waitIdle();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tapCentre(button(40001));
        ASSERT_TRUE(host_IsMenuOpen());
        c.close();
        EXPECT_FALSE(host_IsMenuOpen());
        EXPECT_TRUE(takeCommands().empty());
    }
    // Dragging from the opener into the menu and out, then letting go, also closes it.
    const host_Rect file = button(40001);
    move(file.x + 5, file.y + 5);
    down(file.x + 5, file.y + 5);
    const host_Rect open = itemRect("Open...");
    move(open.x + 5, open.y + 5);
    move(230, 60);
    up(230, 60);
    EXPECT_FALSE(host_IsMenuOpen());
    EXPECT_TRUE(takeCommands().empty());
    // Moving between the bar's drop-down buttons while a menu is open switches menus.
    tapCentre(button(40001));
    move(button(40025).x + 5, button(40025).y + 5);
    EXPECT_TRUE(host_FindShownMenuItem("Emboss", nullptr));
    EXPECT_FALSE(host_FindShownMenuItem("Open...", nullptr));
    tapCentre(itemRect("Emboss"));
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{40034});
}

TEST_F(Controls, ImageButtonsPostTheirCommandsAndTheCheckButtonToggles) {
    tapCentre(button(143));
    tapCentre(button(81));
    EXPECT_EQ(takeCommands(), (std::vector<ULONG>{143, 81}));
    EXPECT_FALSE(host_IsMenuBarButtonChecked(menuBar, 155));
    tapCentre(button(155));
    EXPECT_TRUE(host_IsMenuBarButtonChecked(menuBar, 155));
    tapCentre(button(155));
    EXPECT_FALSE(host_IsMenuBarButtonChecked(menuBar, 155));
    EXPECT_EQ(takeCommands(), (std::vector<ULONG>{155, 155}));
    // A press that leaves the button before it ends chooses nothing.
    const host_Rect fill = button(143);
    move(fill.x + 5, fill.y + 5);
    down(fill.x + 5, fill.y + 5);
    move(fill.x + 5, 100);
    up(fill.x + 5, 100);
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(Controls, DisabledButtonsDoNothing) {
    for (ULONG command : {40012u, 143u, 155u}) host_EnableMenuBarButton(menuBar, command, false);
    EXPECT_FALSE(host_IsMenuBarButtonEnabled(menuBar, 143));
    waitIdle();
    tapCentre(button(40012));
    EXPECT_FALSE(host_IsMenuOpen());
    tapCentre(button(143));
    tapCentre(button(155));
    EXPECT_FALSE(host_IsMenuBarButtonChecked(menuBar, 155));
    EXPECT_TRUE(takeCommands().empty());
    host_EnableMenuBarButton(menuBar, 143, true);
    waitIdle();
    tapCentre(button(143));
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{143});
}

TEST_F(Controls, TheTitleBarsHelpButtonPostsHelp) {
    host_SetTitleBarText(titleBar, "Picture.jpg");
    waitIdle();
    tap(kW - 12, HOST_BAR_HEIGHT / 2);
    const std::vector<Heard> h = takeHeard();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].message, HM_HELP);
    tap(40, HOST_BAR_HEIGHT / 2); // the title itself does nothing
    EXPECT_TRUE(takeHeard().empty());
}

// ---------------------------------------------------------------------------------------------------
// Pop-up menus.

TEST_F(Controls, PopUpMenusReturnTheChosenCommandOrZero) {
    const host_MenuItemResource sub[] = {{31, "Deep"}};
    const host_MenuItemResource items[] = {
        {11, "First"}, {12, "Second"}, {13, "Greyed", HMF_GREYED}, {0, "More", 0, sub, 1}};
    host_Menu* menu = host_CreateMenu(items, 4);
    struct Case {
        const char* name;
        std::function<void()> act;
        ULONG expected;
    };
    const Case cases[] = {
        {"tap an item", [] { tapCentre(itemRect("Second")); }, 12},
        {"tap outside", [] { tap(5, 5); }, 0},
        {"Escape", [] { key(VK_ESCAPE); }, 0},
        {"tap a greyed item, then Escape",
         [] {
             tapCentre(itemRect("Greyed"));
             key(VK_ESCAPE);
         },
         0},
        {"press, drag and release",
         [] {
             const host_Rect a = itemRect("First"), b = itemRect("Second");
             move(a.x + 4, a.y + 4);
             down(a.x + 4, a.y + 4);
             move(b.x + 4, b.y + 4);
             up(b.x + 4, b.y + 4);
         },
         12},
        {"a sub-menu item",
         [] {
             tapCentre(itemRect("More"));
             tapCentre(itemRect("Deep"));
         },
         31},
        {"the keys",
         [] {
             key(VK_DOWN);
             key(VK_DOWN);
             key(VK_RETURN);
         },
         12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<ULONG> result{99};
        pump->post([&] { result = host_TrackPopupMenu(menu, 60, 80); });
        ASSERT_TRUE(waitFor([] { return host_FindShownMenuItem("First", nullptr); }));
        waitIdle();
        c.act();
        ASSERT_TRUE(waitFor([&] { return result != 99; }));
        EXPECT_EQ(result, c.expected);
        EXPECT_FALSE(host_IsMenuOpen());
    }
    // Near the screen's corner the menu opens on the other side of the point, on the screen.
    std::atomic<ULONG> result{99};
    pump->post([&] { result = host_TrackPopupMenu(menu, kW - 2, kH - 2); });
    ASSERT_TRUE(waitFor([] { return host_FindShownMenuItem("First", nullptr); }));
    const host_Rect first = itemRect("First"), more = itemRect("More");
    EXPECT_GE(first.x, 0);
    EXPECT_LE(more.x + more.w, kW);
    EXPECT_LE(more.y + more.h, kH);
    host_CloseMenus();
    ASSERT_TRUE(waitFor([&] { return result != 99; }));
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(takeCommands().empty()) << "pop-up menus post nothing";
    host_DisposeMenu(menu);
}

// ---------------------------------------------------------------------------------------------------
// The text-entry control.

class Edit : public Controls {
  protected:
    host_Window* make(host_Rect box, ULONG style, ULONG id, host_Window* parent = nullptr) {
        host_Window* e = nullptr;
        pump->run([&] { e = host_CreateEditControl(parent ? parent : target, box, style, id); });
        EXPECT_NE(e, nullptr);
        waitIdle();
        return e;
    }
    std::string text(host_Window* e) {
        char buffer[512];
        host_GetEditText(e, buffer, sizeof buffer);
        return buffer;
    }
    // A column of the caret's colour as tall as a line: where the caret is drawn, -1 when it is not.
    LONG caretColumn(host_Window* e) {
        const host_Rect r = host_GetRect(e);
        const host_Surface* s = host_GetLayer(e)->surface;
        const LONG lh = host_FontHeight(host_InterfaceFont());
        for (LONG x = 2; x < r.w - 2; x++) {
            LONG run = 0;
            for (LONG y = 2; y < r.h - 2; y++) {
                run = (s->pixels[size_t(y) * s->stride + x] == 0) ? run + 1 : 0;
                if (run == lh) return x;
            }
        }
        return -1;
    }
};

TEST_F(Edit, TypingEditingKeysAndReadingBack) {
    host_Window* e = make({10, 30, 200, 20}, HES_AUTOHSCROLL, 7);
    host_SetFocus(e);
    type("Hello");
    EXPECT_EQ(text(e), "Hello");
    EXPECT_EQ(host_GetEditCaret(e), 5u);

    struct Case {
        const char* start;
        ULONG caret;
        std::vector<ULONG> keys;
        const char* typed;
        const char* expected;
        ULONG caretAfter;
    };
    const Case cases[] = {
        {"abcdef", 6, {VK_BACK}, "", "abcde", 5},
        {"abcdef", 0, {VK_BACK}, "", "abcdef", 0},
        {"abcdef", 0, {VK_DELETE}, "", "bcdef", 0},
        {"abcdef", 6, {VK_DELETE}, "", "abcdef", 6},
        {"abcdef", 6, {VK_LEFT, VK_LEFT, VK_BACK}, "", "abcef", 3},
        {"abcdef", 6, {VK_HOME}, "X", "Xabcdef", 1},
        {"abcdef", 2, {VK_END}, "!", "abcdef!", 7},
        {"abcdef", 0, {VK_LEFT, VK_RIGHT, VK_RIGHT}, "-", "ab-cdef", 3},
        {"abcdef", 6, {VK_RIGHT}, "", "abcdef", 6},
        {"abcdef", 3, {VK_UP, VK_DOWN}, "", "abcdef", 3},     // one line: no movement
        {"caf\xe9", 4, {}, "\xe0\xff", "caf\xe9\xe0\xff", 6}, // Latin-1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start + std::string(" ") + c.expected);
        host_SetEditText(e, c.start);
        host_SetEditCaret(e, c.caret);
        for (ULONG vk : c.keys) key(vk);
        type(c.typed);
        EXPECT_EQ(text(e), c.expected);
        EXPECT_EQ(host_GetEditCaret(e), c.caretAfter);
    }
    EXPECT_EQ(host_GetFocus(), e);
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(Edit, StylesAndTheLimitStopWhatCannotBeTyped) {
    struct Case {
        ULONG style;
        ULONG limit;
        const char* expected;
    };
    // Typed "12ab34", then BackSpace, Home, Delete.
    const Case cases[] = {
        {HES_AUTOHSCROLL, 0, "2ab3"},
        {HES_NUMBER, 0, "23"},
        {HES_READONLY, 0, "ro"},
        {HES_AUTOHSCROLL, 4, "2a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        host_Window* e = make({10, 30, 200, 20}, c.style, 1);
        if (c.style & HES_READONLY) host_SetEditText(e, "ro");
        host_SetEditLimit(e, c.limit);
        host_SetFocus(e);
        type("12ab34");
        key(VK_BACK);
        key(VK_HOME);
        key(VK_DELETE);
        EXPECT_EQ(text(e), c.expected);
        pump->run([&] { host_DestroyWindow(e); });
    }
    // The limit stops typing only: a longer text can still be set, and read back whole.
    host_Window* e = make({10, 30, 200, 20}, HES_AUTOHSCROLL, 1);
    host_SetEditLimit(e, 3);
    EXPECT_TRUE(host_SetEditText(e, "longer"));
    char small[4];
    EXPECT_EQ(host_GetEditText(e, small, sizeof small), 6u);
    EXPECT_STREQ(small, "lon");
    EXPECT_FALSE(host_SetEditText(target, "not a control"));
}

TEST_F(Edit, ReturnGivesTheFocusBackAndLosingItIsReported) {
    host_Window* e = make({10, 30, 200, 20}, HES_AUTOHSCROLL, 42);
    tap(20, HOST_BAR_HEIGHT + 40); // into the control: the focus
    EXPECT_EQ(host_GetFocus(), e);
    type("ok");
    key(VK_RETURN);
    EXPECT_EQ(host_GetFocus(), target);
    EXPECT_EQ(text(e), "ok");
    const std::vector<Heard> h = takeHeard();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].message, HM_COMMAND);
    EXPECT_EQ(h[0].wParam, (Tal_Word(HEN_KILLFOCUS) << 16) | 42);
    EXPECT_EQ(h[0].lParam, reinterpret_cast<Tal_Word>(e));

    // Style 0 has no Return and Tab rules: the focus stays and nothing is inserted.
    host_Window* plain = make({10, 60, 200, 20}, 0, 43);
    host_SetFocus(plain);
    waitIdle();
    type("x");
    key(VK_RETURN);
    key(VK_TAB);
    EXPECT_EQ(host_GetFocus(), plain);
    EXPECT_EQ(text(plain), "x");
    // Tapping another control moves the focus, and the one that lost it reports.
    takeHeard();
    tap(20, HOST_BAR_HEIGHT + 40);
    EXPECT_EQ(host_GetFocus(), e);
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{(HEN_KILLFOCUS << 16) | 43});
}

TEST_F(Edit, TabMovesToTheNextControlOfTheSameParentThenBack) {
    host_Window* other = nullptr;
    pump->run([&] {
        host_WindowDesc desc;
        desc.rect = {0, 200, 240, 60};
        desc.proc = targetProc;
        other = host_CreateWindow(desc);
    });
    host_Window* a = make({10, 30, 100, 20}, HES_AUTOHSCROLL, 1);
    host_Window* elsewhere = make({10, 10, 100, 20}, HES_AUTOHSCROLL, 9, other);
    host_Window* b = make({10, 60, 100, 20}, HES_MULTILINE, 2);
    host_SetFocus(a);
    waitIdle();
    key(VK_TAB);
    EXPECT_EQ(host_GetFocus(), b);
    key(VK_TAB, true);
    EXPECT_EQ(host_GetFocus(), a);
    key(VK_TAB, true);
    EXPECT_EQ(host_GetFocus(), target) << "Shift+Tab before the first control goes to the parent";
    host_SetFocus(b);
    waitIdle();
    key(VK_TAB);
    EXPECT_EQ(host_GetFocus(), target) << "Tab after the last control goes to the parent";
    EXPECT_TRUE(host_IsEditControl(elsewhere));
    pump->run([&] { host_DestroyWindow(other); });
}

TEST_F(Edit, MultiLineBreaksLinesMovesBetweenThemAndCtrlReturnEnds) {
    host_Window* e = make({10, 30, 200, 60}, HES_MULTILINE, 5);
    host_SetFocus(e);
    type("one");
    key(VK_RETURN);
    type("second");
    EXPECT_EQ(text(e), "one\nsecond");
    EXPECT_EQ(host_GetFocus(), e);
    struct Case {
        ULONG caret;
        std::vector<ULONG> keys;
        ULONG expected;
    };
    const Case cases[] = {
        {10, {VK_UP}, 3},             // up to the end of the shorter line
        {10, {VK_UP, VK_DOWN}, 10},   // and back to the same column
        {1, {VK_DOWN}, 5},            // "o|ne" to "s|econd"
        {1, {VK_UP}, 1},              // the first line has nothing above
        {6, {VK_HOME}, 4},            // the line's start
        {5, {VK_END}, 10},            // the line's end
        {2, {VK_RIGHT, VK_RIGHT}, 4}, // over the line break
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caret);
        host_SetEditCaret(e, c.caret);
        for (ULONG vk : c.keys) key(vk);
        EXPECT_EQ(host_GetEditCaret(e), c.expected);
    }
    host_SetEditText(e, "a\r\nb\rc");
    EXPECT_EQ(text(e), "a\nb\nc");
    key(VK_RETURN, false, true);
    EXPECT_EQ(host_GetFocus(), target);
    EXPECT_EQ(text(e), "a\nb\nc");
    EXPECT_EQ(takeCommands(), std::vector<ULONG>{(HEN_KILLFOCUS << 16) | 5});
}

TEST_F(Edit, ALongTextScrollsToKeepTheCaretInView) {
    host_Window* e = make({10, 30, 80, 20}, HES_AUTOHSCROLL, 1);
    host_SetFocus(e);
    type("The quick brown fox jumps");
    const LONG end = caretColumn(e);
    EXPECT_GT(end, 40) << "the caret is at the text's end, at the right of the box";
    EXPECT_LT(end, 78);
    key(VK_HOME);
    EXPECT_EQ(caretColumn(e), 4);
    key(VK_END);
    EXPECT_EQ(caretColumn(e), end);
    // The box shows the end of the text: a tap at its left edge lands well inside the text.
    tap(10 + 5, HOST_BAR_HEIGHT + 40);
    EXPECT_GT(host_GetEditCaret(e), 5u);
    tap(10 + 76, HOST_BAR_HEIGHT + 40);
    EXPECT_EQ(host_GetEditCaret(e), 25u);
    // The owner narrows the box: the caret stays in it.
    host_SetWindowRect(e, {10, 30, 50, 20});
    waitIdle();
    const LONG narrowed = caretColumn(e);
    EXPECT_GT(narrowed, 4);
    EXPECT_LT(narrowed, 48);

    // Many lines in a short multi-line box: the caret's line stays in view.
    host_Window* m = make({10, 60, 80, 36}, HES_MULTILINE, 2);
    host_SetEditText(m, "1\n2\n3\n4\n5\n6");
    host_SetFocus(m);
    waitIdle();
    EXPECT_GE(caretColumn(m), 4) << "the last line is shown";
    host_SetEditCaret(m, 0);
    waitIdle();
    EXPECT_EQ(caretColumn(m), 4);
    tap(10 + 20, HOST_BAR_HEIGHT + 60 + 5);
    EXPECT_EQ(host_GetEditCaret(m), 1u) << "a tap on the first shown line, right of its text";
}

// ---------------------------------------------------------------------------------------------------
// The whole screen, for the eye.

TEST_F(Controls, ComposedScreen) {
    host_Window* name = nullptr;
    pump->run([&] { name = host_CreateEditControl(target, {46, 4, 184, 20}, HES_AUTOHSCROLL, 1); });
    ASSERT_NE(name, nullptr);
    host_SetEditText(name, "Holiday in Provence");
    host_SetFocus(name);
    host_SetTitleBarText(titleBar, "Velura - beach.jpg");
    host_CheckMenuBarButton(menuBar, 155, true);
    host_CheckMenuItem(host_MenuBarMenu(menuBar, 40012), 90, true);
    host_EnableMenuItem(host_MenuBarMenu(menuBar, 40012), 100, false);
    waitIdle();
    tapCentre(button(40012));
    tapCentre(itemRect("Scale"));
    const host_Rect halve = itemRect("Halve Size");
    move(halve.x + 10, halve.y + 5);

    host_Surface* screen = host_AllocSurface(host_ScreenWidth(), host_ScreenHeight());
    ASSERT_NE(screen, nullptr);
    host_ComposeScreen(screen);
    auto at = [&](LONG x, LONG y) {
        return host_PixelToColour(screen->pixels[size_t(y) * screen->stride + x]);
    };
    EXPECT_EQ(at(100, 5), 0xC0C0C0u) << "the title bar";
    EXPECT_EQ(at(halve.x + 2, halve.y + 1), 0xFFB43Cu) << "the highlighted item";
    EXPECT_EQ(at(230, kH - 3), 0xC0C0C0u) << "the menu bar";

    const char* dir = std::getenv("VELURA_TEST_TMP");
    const std::filesystem::path out = std::filesystem::path(dir ? dir : ".") / "controls-screen.bmp";
    std::filesystem::create_directories(out.parent_path());
    EXPECT_TRUE(writeBmp(out.string(), screen));
    host_FreeSurface(screen);
    key(VK_ESCAPE);
    key(VK_ESCAPE);
    EXPECT_FALSE(host_IsMenuOpen());
    EXPECT_TRUE(takeCommands().empty());
}

} // namespace
