// ListTree: rows in order, the active node and item, the selection.
#include "ui/ListTree.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

namespace {

RECORDER_CLASS(rowClass, "TRow", 0x7E000000)

class ListTree : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        Tal_InitListTreeClass();
        register_rowClass();
        tree = Tal_CreateObject("ListTree", TAL_SetGroupAlignment, 4);
        ASSERT_NE(tree, 0u);
        for (ULONG& row : rows) row = Tal_CreateObject("TRow");
    }
    void TearDown() override {
        Tal_DisposeObject(tree);
        for (ULONG row : rows)
            if (Tal_GetObjectClassID(row)) Tal_DisposeObject(row);
        EXPECT_EQ(rowClass.instanceCount.load(), 0u);
        Tal__CleanupClass(&rowClass);
        Tal_CleanupListTreeClass();
        TalFixture::TearDown();
    }
    size_t released(ULONG row) {
        size_t n = 0;
        for (auto& call : recorder::calls(row)) n += call.id == TAL_Released;
        return n;
    }
    ULONG tree = 0;
    ULONG rows[4] = {};
};

TEST_F(ListTree, RowsKeepTheirOrder) {
    Tal_DoMethod(tree, TAL_AddHead, rows[0]);
    Tal_DoMethod(tree, TAL_AddHead, rows[1]); // newest first, as actions are recorded
    Tal_DoMethod(tree, TAL_AddTail, rows[2]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetFirstGroupObject), rows[1]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetNextGroupObject, rows[1]), rows[0]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetLastGroupObject), rows[2]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetPrevGroupObject, rows[2]), rows[0]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetMemberCount), 3u);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_RemoveMember, rows[0]), 1u);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetNextGroupObject, rows[1]), rows[2]);
}

TEST_F(ListTree, ActiveRowsAreNotified) {
    static std::vector<std::pair<ULONG, Tal_Word>> heard;
    heard.clear();
    auto hear = [](Tal_Word, ULONG, ULONG trigger, const Tal_Word* args) -> Tal_Word {
        heard.push_back({trigger, args[0]});
        return 0;
    };
    Tal_AddCallBackNotify(tree, TAL_SetActiveItem, TAL_AnyValue, hear, 0);
    Tal_AddCallBackNotify(tree, TAL_SetActiveNode, TAL_AnyValue, hear, 0);
    Tal_DoMethod(tree, TAL_AddTail, rows[0]);
    Tal_DoMethod(tree, TAL_SetActiveItem, rows[0]);
    Tal_DoMethod(tree, TAL_SetActiveNode, rows[1]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetActiveItem), rows[0]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetActiveNode), rows[1]);
    EXPECT_EQ(heard, (std::vector<std::pair<ULONG, Tal_Word>>{{TAL_SetActiveItem, rows[0]},
                                                              {TAL_SetActiveNode, rows[1]}}));
    // A row that leaves the list is no longer active.
    Tal_DoMethod(tree, TAL_RemoveMember, rows[0]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetActiveItem), 0u);
}

TEST_F(ListTree, SelectionHoldsItemsOnceAndReleasesThem) {
    for (ULONG row : rows) Tal_DoMethod(tree, TAL_AddTail, row);
    Tal_DoMethod(tree, TAL_SetMultiSelect, 1);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetMultiSelect), 1u);
    for (ULONG row : {rows[2], rows[0], rows[2], rows[3]}) Tal_DoMethod(tree, TAL_AddToSelection, row);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetFirstSelected), rows[2]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetNextSelected, rows[2]), rows[0]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetNextSelected, rows[0]), rows[3]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetNextSelected, rows[3]), 0u);
    Tal_DoMethod(tree, TAL_RemoveFromSelection, rows[0]);
    EXPECT_EQ(released(rows[0]), 1u);
    Tal_DoMethod(tree, TAL_RemoveFromSelection, rows[0]); // not selected: nothing
    EXPECT_EQ(released(rows[0]), 1u);
    Tal_DoMethod(tree, TAL_RemoveMember, rows[3]);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetNextSelected, rows[2]), 0u);
    Tal_DoMethod(tree, TAL_ReleaseSelection);
    EXPECT_EQ(released(rows[2]), 1u);
    EXPECT_EQ(released(rows[3]), 0u);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetFirstSelected), 0u);
}

TEST_F(ListTree, ClearingDisposesEveryRow) {
    for (int i = 0; i < 3; i++) Tal_DoMethod(tree, TAL_AddTail, rows[i]);
    Tal_DoMethod(tree, TAL_AddToSelection, rows[1]);
    Tal_DoMethod(tree, TAL_SetActiveItem, rows[1]);
    Tal_DoMethod(tree, TAL_ClearListTree);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetMemberCount), 0u);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetFirstSelected), 0u);
    EXPECT_EQ(Tal_DoMethod(tree, TAL_GetActiveItem), 0u);
    EXPECT_EQ(rowClass.instanceCount.load(), 1u); // only the row never added is left
}

} // namespace
