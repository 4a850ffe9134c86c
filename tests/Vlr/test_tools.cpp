// The tool framework: selecting tools (by their button or their key) and their options, the one member
// of a tool group, the input the view hands the current tool, pointer shapes and previews.
#include "ViewTest.h"
#include "Tal/Catalogue.h"

using namespace view_test;

namespace {

// A tool that keeps what it is given, takes the codes it is told to, and on a press of the middle button
// draws a preview rectangle (a second press removes it).
struct TestTool {
    Tal_Object header;
};
Tal_Class testToolClass;
struct Seen {
    Tal_Image* image;
    ULONG cls;
    UWORD code, qualifier;
};
std::mutex seenLock;
std::vector<Seen> seen;
std::atomic<int> consumedCode{-1};

void* newTestTool(const TagItem*) {
    auto* t = static_cast<TestTool*>(Tal_AllocObjectMem(&testToolClass));
    if (!t) return nullptr;
    t->header.superObject = Tal_CreateObject("RootTool", TAL_SetToolCursor, TAL_TOOL_CURSOR_CROSS);
    static const char* const pictures[] = {"Data/Images/ToolBar/Line", "Data/Images/ToolBar/DrawMain",
                                           nullptr};
    Tal_DoMethod(t->header.superObject, TAL_MakeToolButton, pictures, 298);
    return t;
}
void disposeTestTool(void* instance) {
    auto* t = static_cast<TestTool*>(instance);
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeObjectMem(t);
}
Tal_Word testToolMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = static_cast<TestTool*>(instance);
    if (id != TAL_HandleToolInput) return Tal_DoMethodA(t->header.superObject, id, args);
    auto* image = reinterpret_cast<Tal_Image*>(args[0]);
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[1]);
    {
        std::lock_guard guard(seenLock);
        seen.push_back({image, e->Class, e->Code, e->Qualifier});
    }
    if (e->Class == IDCMP_MOUSEBUTTONS && e->Code == MIDDLEDOWN) {
        Tal_ToolPreview preview(Tal_ToolView(image));
        if (RastPort* rp = preview.port())
            RectFill(rp, e->MouseX - 5, e->MouseY - 5, e->MouseX + 5, e->MouseY + 5);
    }
    return e->Code == consumedCode ? 1 : 2;
}

std::vector<Seen> takeSeen() {
    std::lock_guard guard(seenLock);
    return std::move(seen);
}

class Tools : public ViewFixture {
  protected:
    void SetUp() override {
        ViewFixture::SetUp();
        Tal__SetupClass(&testToolClass, "TestTool", 0x7E700000, "RootTool", newTestTool, disposeTestTool,
                        testToolMethod, nullptr, sizeof(TestTool));
        takeSeen();
        consumedCode = -1;
    }
    void TearDown() override {
        for (ULONG t : tools) Tal_DisposeObject(t);
        Tal__CleanupClass(&testToolClass);
        ViewFixture::TearDown();
    }
    ULONG tool() {
        tools.push_back(Tal_CreateObject("TestTool"));
        return tools.back();
    }
    static ULONG member(ULONG group) { return ULONG(Tal_DoMethod(group, TAL_GetFirstGroupObject)); }
    std::vector<ULONG> tools;
};

TEST_F(Tools, SelectingAToolReleasesTheCurrentOneAndMovesTheOptions) {
    const ULONG container = Tal_CreateObject("Group");
    base->tool_options_container = container;
    const ULONG a = tool(), b = tool();
    const ULONG optionsA = Tal_CreateObject("Space"), optionsB = Tal_CreateObject("Space");
    Tal_DoMethod(a, TAL_SetToolOptions, optionsA);
    Tal_DoMethod(b, TAL_SetToolOptions, optionsB);
    // Pressing the tool's button selects it.
    const ULONG buttonA = member(a);
    ASSERT_NE(buttonA, 0u);
    EXPECT_EQ(Tal_DoMethod(buttonA, TAL_GetMemberCount), 2u);
    EXPECT_EQ(reinterpret_cast<const char*>(Tal_DoMethod(buttonA, TAL_GetToolTip)),
              Tal_GetCatalogueText(298));
    Tal_DoMethod(buttonA, TAL_SetToolButtonState, 1);
    EXPECT_EQ(base->current_tool, a);
    EXPECT_EQ(member(container), optionsA);
    Tal_DoMethod(b, TAL_Pressed);
    EXPECT_EQ(base->current_tool, b);
    EXPECT_EQ(member(container), optionsB);
    EXPECT_EQ(Tal_DoMethod(container, TAL_GetMemberCount), 1u);
    EXPECT_EQ(Tal_DoMethod(buttonA, TAL_GetToolButtonState), 0u); // A's button came up
    // Shown twice and hidden once: still there; hidden again: gone.
    Tal_DoMethod(b, TAL_ShowToolOptions);
    Tal_DoMethod(b, TAL_HideToolOptions);
    EXPECT_EQ(member(container), optionsB);
    Tal_DoMethod(b, TAL_HideToolOptions);
    EXPECT_EQ(member(container), 0u);
    // A disposed tool is no longer current.
    Tal_DisposeObject(b);
    tools.pop_back();
    EXPECT_EQ(base->current_tool, 0u);
    base->tool_options_container = 0;
    Tal_DisposeObject(container);
    Tal_DisposeObject(optionsA);
    Tal_DisposeObject(optionsB);
}

TEST_F(Tools, AToolGroupHoldsOneMember) {
    const ULONG t = tool();
    const ULONG first = member(t), second = Tal_CreateObject("Space");
    EXPECT_NE(first, 0u);
    Tal_DoMethod(t, TAL_AddTail, second);
    EXPECT_EQ(Tal_GetObjectInstance(first), nullptr);
    EXPECT_EQ(member(t), second);
    EXPECT_EQ(Tal_DoMethod(t, TAL_GetMemberCount), 1u);
}

// The view hands the current tool every event with the image; keys the tool leaves scroll and zoom, a
// tool's key selects it; the pointer takes the tool's shape over the picture.
TEST_F(Tools, TheViewHandsInputToTheCurrentTool) {
    Tal_Image* image = picture(600, 400);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 100);
    settle();
    const ULONG t = tool();
    Tal_SetToolKey('t', t);
    type('t');
    EXPECT_EQ(base->current_tool, t);
    takeSeen();
    press(view, 30, 20);
    std::vector<Seen> got = takeSeen();
    ASSERT_FALSE(got.empty());
    bool down = false;
    for (const Seen& s : got)
        down = down || (s.cls == IDCMP_MOUSEBUTTONS && s.code == SELECTDOWN && s.image == image);
    EXPECT_TRUE(down);
    EXPECT_EQ(image->marker_x, 30 - view->layout_box->x);
    EXPECT_EQ(Tal_DoMethod(view->window, TAL_GetWindowPointer), TAL_TOOL_CURSOR_CROSS);

    // Erase mode: the select button reaches the tool as the menu button.
    base->erase_mode = 1;
    press(view, 30, 20);
    base->erase_mode = 0;
    got = takeSeen();
    bool erased = false;
    for (const Seen& s : got)
        erased = erased || (s.code == MENUDOWN && (s.qualifier & IEQUALIFIER_RBUTTON) &&
                            !(s.qualifier & IEQUALIFIER_LEFTBUTTON));
    EXPECT_TRUE(erased);

    // A key the tool takes does not scroll; one it leaves does.
    consumedCode = RAWKEY_DOWN;
    host_InjectKey(VK_DOWN, true);
    host_InjectKey(VK_DOWN, false);
    settle();
    EXPECT_EQ(Tal_DoMethod(view->scroll_group, TAL_GetScrollY), 0u);
    consumedCode = -1;
    host_InjectKey(VK_DOWN, true);
    host_InjectKey(VK_DOWN, false);
    settle();
    EXPECT_EQ(Tal_DoMethod(view->scroll_group, TAL_GetScrollY), 10u);
}

TEST_F(Tools, APreviewDrawnTwiceIsGone) {
    Tal_Image* image = picture(100, 80);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    Tal_DoMethod(tool(), TAL_Pressed);
    const Shot before = shot(view);
    press(view, 40, 40, 2);
    EXPECT_NE(shot(view), before);
    press(view, 40, 40, 2);
    EXPECT_EQ(shot(view), before);
}

} // namespace
