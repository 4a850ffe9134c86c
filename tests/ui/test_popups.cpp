// Pop-ups: a choice list chosen from its host menu, a pop-up window that leaves its window's thread free,
// and menus with check marks, disabled entries and sub-menus.
#include "ui/PopUp.h"
#include "ui/ui.h"
#include "host/controls.h"
#include "host/display.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <vector>

namespace {

RECORDER_CLASS(leafClass, "TPopLeaf", 0x7E000000)

struct Heard {
    ULONG id;
    Tal_Word value;
};

class PopUps : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        register_leafClass();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        Tal_DisposeObject(window);
        settle();
        Tal__CleanupClass(&leafClass);
        TalFixture::TearDown();
    }
    void open(std::initializer_list<ULONG> members) {
        window = Tal_CreateObject("Window", TAL_SetWindowX, 0, TAL_SetWindowY, 0, TAL_SetWindowW, 240,
                                  TAL_SetWindowH, 200);
        ULONG group = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
        for (ULONG m : members) Tal_DoMethod(group, TAL_AddTail, m);
        Tal_DoMethod(window, TAL_AddTail, group);
        Tal_DoMethod(window, TAL_Start);
        settle();
    }
    static void tapAt(LONG x, LONG y) {
        host_InjectButton(0, true, x, y);
        host_InjectButton(0, false, x, y);
        settle();
    }
    static void tap(ULONG object) {
        const auto* box = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
        const auto* di = reinterpret_cast<const Tal_DrawInfo*>(Tal_DoMethod(object, TAL_GetDrawInfo));
        ASSERT_TRUE(box && di && di->window);
        const host_Rect r = host_GetScreenRect(di->window->HostWindow);
        tapAt(r.x + di->window->BorderLeft + box->x + box->width / 2,
              r.y + di->window->BorderTop + box->y + box->height / 2);
    }
    // Taps the shown host menu's entry of that text.
    static void tapMenuItem(const char* text) {
        host_Rect r{};
        ASSERT_TRUE(host_FindShownMenuItem(text, &r)) << text;
        tapAt(r.x + r.w / 2, r.y + r.h / 2);
    }
    void listen(ULONG object, ULONG id) {
        Tal_AddCallBackNotify(object, id, TAL_AnyValue, hear, reinterpret_cast<Tal_Word>(&heard));
    }
    static Tal_Word hear(Tal_Word list, ULONG, ULONG trigger, const Tal_Word* args) {
        reinterpret_cast<std::vector<Heard>*>(list)->push_back({trigger, args ? args[0] : 0});
        return 0;
    }
    static ULONG instances(const char* className) { return Tal_FindClassFromName(className)->instanceCount; }
    ULONG window = 0;
    std::vector<Heard> heard;
};

TEST_F(PopUps, AChoiceListTellsTheEntryChosen) {
    const ULONG list = Tal_CreateObject("PopUpList");
    ULONG entries[3];
    const char* names[] = {"First", "Second", "Third"};
    for (int i = 0; i < 3; i++) {
        entries[i] = Tal_CreateObject("Text", TAL_SetLabel, names[i]);
        Tal_DoMethod(list, TAL_AddTail, entries[i]);
    }
    Tal_DoMethod(list, TAL_SelectMemberIndex, 1);
    open({list});
    listen(list, TAL_PopUpListEntry);
    listen(list, TAL_SelectMemberIndex);
    const ULONG texts = instances("Text");
    tap(list);
    EXPECT_TRUE(host_IsMenuOpen());
    tapMenuItem("Third");
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].id, TAL_PopUpListEntry);
    EXPECT_EQ(heard[0].value, entries[2]);
    EXPECT_EQ(heard[1].id, TAL_SelectMemberIndex);
    EXPECT_EQ(heard[1].value, 2u);
    EXPECT_EQ(Tal_DoMethod(list, TAL_GetSelectedIndex), 2u);
    EXPECT_EQ(instances("Text"), texts); // the menu's entries are gone
    // Choosing the entry shown tells it again; selecting it from the program does not.
    tap(list);
    tapMenuItem("Third");
    EXPECT_EQ(heard.size(), 4u);
    Tal_DoMethod(list, TAL_SelectMemberIndex, 2);
    EXPECT_EQ(heard.size(), 4u);
    // Closed without a choice: the entry stays, nothing is told and nothing is left behind.
    tap(list);
    EXPECT_TRUE(host_IsMenuOpen());
    host_CloseMenus();
    settle();
    EXPECT_EQ(heard.size(), 4u);
    EXPECT_EQ(Tal_DoMethod(list, TAL_GetSelectedIndex), 2u);
    EXPECT_EQ(instances("Text"), texts);
    EXPECT_EQ(Tal_DoMethod(list, TAL_IsPopUpOpen), 0u);
}

TEST_F(PopUps, APopUpWindowLeavesItsWindowThreadFree) {
    const ULONG popUp =
        Tal_CreateObject("PopUp", TAL_SetPopUpPos, TAL_POPUP_BELOW, TAL_SetPopUpContentMode, 1);
    Tal_AddObject(popUp, "Text", TAL_SetLabel, "Open");
    ULONG choices[3];
    for (ULONG& c : choices) {
        c = Tal_CreateObject("Button");
        Tal_AddObject(c, "Text", TAL_SetLabel, "Choice");
    }
    // Content mode: the buttons go into the content; the label above went to the button shown.
    for (ULONG c : choices) Tal_DoMethod(popUp, TAL_AddTail, c);
    const ULONG leaf = Tal_CreateObject("TPopLeaf");
    open({popUp, leaf});
    listen(popUp, TAL_PopUpChoose);
    listen(popUp, TAL_PopUpClosed);
    const ULONG windows = instances("Window");
    tap(popUp);
    ASSERT_EQ(Tal_DoMethod(popUp, TAL_IsPopUpOpen), 1u);
    EXPECT_EQ(instances("Window"), windows + 1);
    // A redraw queued to the window is done while the pop-up is open.
    auto draws = [&] {
        size_t n = 0;
        for (auto& call : recorder::calls(leaf)) n += call.id == TAL_DrawObject;
        return n;
    };
    const size_t before = draws();
    Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, leaf, TAL_DrawObject, 0, 0);
    settle();
    EXPECT_EQ(draws(), before + 1);
    EXPECT_EQ(Tal_DoMethod(popUp, TAL_IsPopUpOpen), 1u);
    // A tap on the third choice chooses it.
    tap(choices[2]);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].id, TAL_PopUpChoose);
    EXPECT_EQ(heard[0].value, choices[2]);
    EXPECT_EQ(heard[1].id, TAL_PopUpClosed);
    EXPECT_EQ(heard[1].value, choices[2]);
    EXPECT_EQ(instances("Window"), windows);
    // A tap outside closes it without a choice.
    tap(popUp);
    EXPECT_EQ(Tal_DoMethod(popUp, TAL_IsPopUpOpen), 1u);
    tapAt(200, 180);
    EXPECT_EQ(Tal_DoMethod(popUp, TAL_IsPopUpOpen), 0u);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[2].id, TAL_PopUpClosed);
    EXPECT_EQ(heard[2].value, 0u);
    EXPECT_EQ(instances("Window"), windows);
}

TEST_F(PopUps, MenusFlipChecksSkipDisabledEntriesAndGrowSubMenus) {
    const ULONG menu = Tal_CreateObject("Menu", TAL_SetMenuItemText, "File");
    const ULONG check =
        Tal_CreateObject("MenuItem", TAL_SetMenuItemText, "Grid", TAL_SetMenuItemChecks, TAL_MENU_UNCHECKED);
    const ULONG off = Tal_CreateObject("MenuItem", TAL_SetMenuItemText, "Off");
    const ULONG more = Tal_CreateObject("MenuItem", TAL_SetMenuItemText, "More");
    const ULONG last = Tal_CreateObject("MenuItem", TAL_SetMenuItemText, "Last");
    for (ULONG item : {check, off, more, last}) Tal_DoMethod(menu, TAL_AddTail, item);
    Tal_DoMethod(off, TAL_DisableObject);
    open({menu});
    listen(menu, TAL_PopUpChoose);
    tap(menu);
    EXPECT_EQ(Tal_GetOpenMenu(), menu);
    tap(check);
    EXPECT_EQ(Tal_DoMethod(check, TAL_GetMenuItemChecks), TAL_MENU_CHECKED);
    EXPECT_EQ(Tal_GetOpenMenu(), 0u);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].value, check);
    // A disabled entry sends nothing, chosen or by its shortcut's method.
    Tal_DoMethod(off, TAL_PopUpChoose, 0);
    EXPECT_EQ(heard.size(), 1u);
    // An entry given entries of its own keeps its label and its place, and gets an arrow.
    const ULONG content = ULONG(Tal_DoMethod(menu, TAL_GetPopUpContent));
    Tal_DoMethod(more, TAL_AddTail, Tal_CreateObject("MenuItem", TAL_SetMenuItemText, "Inner"));
    EXPECT_EQ(Tal_DoMethod(content, TAL_GetMemberIndex, more), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(more, TAL_GetMenuItemText)), "More");
    EXPECT_EQ(Tal_GetObjectClassID(ULONG(Tal_DoMethod(more, TAL_GetFirstGroupObject))), 0x00180000u);
}

} // namespace
