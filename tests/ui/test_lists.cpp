// Lists and trees: selecting rows with the stylus (single and multiple selection, shift ranges, control
// toggles, activation), nodes that read their folder once, and the folder tree's paths.
#include "ui/ListTree.h"
#include "ui/ui.h"
#include "host/display.h"
#include "support/TalTest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;

class Lists : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
        const char* tmp = std::getenv("VELURA_TEST_TMP");
        folder = fs::path(tmp ? tmp : "/tmp") / "lists";
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        Tal_DisposeObject(window);
        settle();
        TalFixture::TearDown();
    }
    // A started window holding a list of five text rows.
    void openList(bool multiple) {
        list = Tal_CreateObject("ListTree", TAL_SetMultiSelect, multiple ? 1 : 0);
        for (int i = 0; i < 5; i++) {
            rows[i] = Tal_CreateObject("ListTreeItem", TAL_SetLabel, names[i]);
            Tal_AddObject(rows[i], "Text", TAL_SetLabel, names[i]);
            Tal_DoMethod(list, TAL_AddTail, rows[i]);
        }
        window = Tal_CreateObject("Window", TAL_SetWindowX, 0, TAL_SetWindowY, 0, TAL_SetWindowW, 240,
                                  TAL_SetWindowH, 200);
        Tal_DoMethod(window, TAL_AddTail, list);
        Tal_DoMethod(window, TAL_Start);
        settle();
    }
    void tap(ULONG object, ULONG key = 0) {
        const auto* box = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
        const auto* di = reinterpret_cast<const Tal_DrawInfo*>(Tal_DoMethod(object, TAL_GetDrawInfo));
        ASSERT_TRUE(box && di && di->window);
        const host_Rect r = host_GetScreenRect(di->window->HostWindow);
        const LONG x = r.x + di->window->BorderLeft + box->x + box->width / 2;
        const LONG y = r.y + di->window->BorderTop + box->y + box->height / 2;
        if (key) host_InjectKey(key, true);
        host_InjectButton(0, true, x, y);
        host_InjectButton(0, false, x, y);
        if (key) host_InjectKey(key, false);
        settle();
    }
    std::set<int> selected() {
        std::set<int> found;
        for (ULONG item = ULONG(Tal_DoMethod(list, TAL_GetFirstSelected)); item;
             item = ULONG(Tal_DoMethod(list, TAL_GetNextSelected, item)))
            for (int i = 0; i < 5; i++)
                if (rows[i] == item) found.insert(i);
        return found;
    }
    static Tal_Word count(Tal_Word counter, ULONG, ULONG, const Tal_Word*) {
        ++*reinterpret_cast<int*>(counter);
        return 0;
    }
    const char* names[5] = {"one", "two", "three", "four", "five"};
    ULONG window = 0, list = 0, rows[5] = {};
    fs::path folder;
};

TEST_F(Lists, ShiftSelectsARangeAndControlTogglesARow) {
    openList(true);
    tap(rows[0]);
    tap(rows[3], VK_SHIFT);
    EXPECT_EQ(selected(), (std::set<int>{0, 1, 2, 3}));
    tap(rows[2], VK_CONTROL);
    EXPECT_EQ(selected(), (std::set<int>{0, 1, 3}));
    // A plain press starts the selection again; the range runs upwards as well.
    tap(rows[4]);
    tap(rows[2], VK_SHIFT);
    EXPECT_EQ(selected(), (std::set<int>{2, 3, 4}));
}

TEST_F(Lists, SingleSelectionMovesAndAPressAgainActivates) {
    openList(false);
    int activated = 0, pressed = 0;
    Tal_AddCallBackNotify(rows[1], TAL_RowActivated, TAL_AnyValue, count,
                          reinterpret_cast<Tal_Word>(&activated));
    Tal_AddCallBackNotify(rows[1], TAL_Pressed, TAL_AnyValue, count, reinterpret_cast<Tal_Word>(&pressed));
    tap(rows[0]);
    tap(rows[1]);
    EXPECT_EQ(selected(), (std::set<int>{1}));
    EXPECT_EQ(Tal_DoMethod(list, TAL_GetActiveItem), rows[1]);
    EXPECT_EQ(activated, 0);
    tap(rows[1]);
    EXPECT_EQ(activated, 1);
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(selected(), (std::set<int>{1}));
}

TEST_F(Lists, ANodeReadsItsFolderOnce) {
    fs::create_directories(folder / "b");
    fs::create_directories(folder / "A");
    std::ofstream(folder / "picture.jpg") << "x";
    const ULONG node = Tal_CreateObject("DirTreeNode", TAL_SetDirNodePath, folder.c_str());
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(node, TAL_GetListNodeTitle)), "lists");
    Tal_DoMethod(node, TAL_ExpandListNode);
    ASSERT_EQ(Tal_DoMethod(node, TAL_GetMemberCount), 2u);
    const ULONG first = ULONG(Tal_DoMethod(node, TAL_GetFirstGroupObject));
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(first, TAL_GetListNodeTitle)), "A");
    const ULONG files = ULONG(Tal_DoMethod(node, TAL_GetDirNodeFiles));
    ASSERT_EQ(Tal_DoMethod(files, TAL_GetMemberCount), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(
                  Tal_DoMethod(ULONG(Tal_DoMethod(files, TAL_GetFirstGroupObject)), TAL_GetLabel))),
              (folder / "picture.jpg").string());
    // A folder made later is not seen: the disk is read once.
    fs::create_directories(folder / "c");
    Tal_DoMethod(node, TAL_CollapseListNode);
    Tal_DoMethod(node, TAL_ExpandListNode);
    EXPECT_EQ(Tal_DoMethod(node, TAL_GetMemberCount), 2u);
    Tal_DisposeObject(node);
}

TEST_F(Lists, TheTreeOpensPathsTheRootIncluded) {
    fs::create_directories(folder / "deep" / "er");
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", folder.c_str(), 1);
    const ULONG tree = Tal_CreateObject("DirTree");
    setenv("HOME", home.c_str(), 1);
    auto active = [&] {
        const ULONG node = ULONG(Tal_DoMethod(tree, TAL_GetActiveNode));
        return std::string(node ? reinterpret_cast<const char*>(Tal_DoMethod(node, TAL_GetDirNodePath)) : "");
    };
    EXPECT_EQ(Tal_DoMethod(tree, TAL_SetDirTreePath, (folder / "deep" / "er/").c_str()), 1u);
    EXPECT_EQ(active(), (folder / "deep" / "er").string());
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(tree, TAL_GetDirTreePath)),
                 (folder / "deep" / "er").c_str());
    // A lone separator stays: the whole file system's row.
    EXPECT_EQ(Tal_DoMethod(tree, TAL_SetDirTreePath, "/"), 1u);
    EXPECT_EQ(active(), "/");
    EXPECT_EQ(Tal_DoMethod(tree, TAL_SetDirTreePath, (folder / "missing").c_str()), 0u);
    Tal_DisposeObject(tree);
}

} // namespace
