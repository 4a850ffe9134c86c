#include "ui/Group.h"
#include "support/TalTest.h"

namespace {

// A leaf whose limits are set by the test: minimum, maximum and natural size.
constexpr ULONG SetLimits = 0x7E01000A; // (min w, min h, max w, max h)

struct Leaf {
    Tal_Object header;
    WORD mw, mh, Mw, Mh;
};
Tal_Class leafClass;

Tal_Word leafDispatch(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<Leaf*>(instance);
    switch (id) {
    case SetLimits:
        self->mw = WORD(args[0]);
        self->mh = WORD(args[1]);
        self->Mw = WORD(args[2]);
        self->Mh = WORD(args[3]);
        return 1;
    case TAL_AskMinMax: {
        auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(self->header.superObject, TAL_GetBox));
        box->minWidth = self->mw;
        box->minHeight = self->mh;
        box->maxWidth = self->Mw;
        box->maxHeight = self->Mh;
        box->width = self->mw;
        box->height = self->mh;
        return 1;
    }
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

class GroupLayout : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        Tal__SetupClass(
            &leafClass, "TLeaf", 0x7E010000, "Root",
            [](const TagItem*) -> void* {
                auto* self = static_cast<Leaf*>(Tal_AllocObjectMem(&leafClass));
                self->header.superObject = Tal_CreateObject("Root");
                return self;
            },
            [](void* instance) {
                Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
                Tal_FreeObjectMem(instance);
            },
            leafDispatch, nullptr, sizeof(Leaf));
    }
    void TearDown() override {
        EXPECT_EQ(leafClass.instanceCount.load(), 0u);
        Tal__CleanupClass(&leafClass);
        TalFixture::TearDown();
    }
    static ULONG leaf(ULONG group, WORD mw, WORD mh, WORD Mw, WORD Mh, WORD weight = 100) {
        ULONG h = Tal_CreateObject("TLeaf", TAL_SetWeight, weight);
        Tal_DoMethod(h, SetLimits, mw, mh, Mw, Mh);
        EXPECT_EQ(Tal_DoMethod(group, TAL_AddTail, h), 1u);
        return h;
    }
    static Tal_Box* box(ULONG h) { return reinterpret_cast<Tal_Box*>(Tal_DoMethod(h, TAL_GetBox)); }
    static void layout(ULONG group, LONG w, LONG h) {
        Tal_DoMethod(group, TAL_AskMinMax, 0);
        Tal_Box* b = box(group);
        b->maxWidth = b->maxHeight = 32767; // let the test choose the size
        b->minWidth = b->minHeight = 0;
        Tal_DoMethod(group, TAL_SetBox, 0, 0, w, h);
    }
};

TEST_F(GroupLayout, ExtraSpaceGoesByWeight) {
    struct Case {
        WORD weight2;
        LONG spacing;
        WORD h1, h2;
    } cases[] = {{100, 0, 45, 55}, {0, 0, 70, 30}, {200, 0, 45, 80}, {100, 10, 40, 50}};
    for (const Case& c : cases) {
        ULONG g =
            Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, c.spacing);
        ULONG a = leaf(g, 10, 20, 100, 100), b = leaf(g, 10, 30, 100, 100, c.weight2);
        layout(g, 50, 100);
        EXPECT_EQ(box(a)->height, c.h1) << c.weight2 << "/" << c.spacing;
        EXPECT_EQ(box(b)->height, c.h2) << c.weight2 << "/" << c.spacing;
        EXPECT_EQ(box(b)->y, box(a)->height + c.spacing);
        EXPECT_EQ(box(a)->width, 50); // across: the inner width, within the maximum
        Tal_DisposeObject(g);
    }
}

TEST_F(GroupLayout, LimitsSumSpacingFramesAndHiddenMembers) {
    ULONG g = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 5);
    leaf(g, 10, 20, 100, 100);
    leaf(g, 30, 20, 100, 100, 0);
    ULONG hidden = leaf(g, 10, 20, 100, 100);
    Tal_DoMethod(g, TAL_AskMinMax, 0);
    EXPECT_EQ(box(g)->minHeight, 20 + 20 + 20 + 10);
    EXPECT_EQ(box(g)->minWidth, 30);
    EXPECT_EQ(box(g)->maxHeight, 100 + 20 + 100 + 10); // weight 0 stretches no further than its minimum
    Tal_DoMethod(hidden, TAL_Hide);
    Tal_DoMethod(g, TAL_AskMinMax, 0);
    EXPECT_EQ(box(g)->minHeight, 20 + 20 + 5);
    Tal_DoMethod(g, TAL_SetGroupMargin, 3);
    Tal_DoMethod(g, TAL_SetGroupFrame, 1);
    Tal_DoMethod(g, TAL_AskMinMax, 0);
    EXPECT_EQ(box(g)->minHeight, 45 + 2 * 3 + 2 * 2);
    Tal_DisposeObject(g);

    // Long lists saturate instead of wrapping.
    ULONG list = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    Tal_DoMethod(list, TAL_HoldLayout);
    for (int i = 0; i < 2000; i++) leaf(list, 10, 20, 100, 20);
    Tal_DoMethod(list, TAL_ReleaseLayout, 1);
    Tal_DoMethod(list, TAL_AskMinMax, 0);
    EXPECT_EQ(box(list)->minHeight, 32767);
    Tal_DisposeObject(list);
}

TEST_F(GroupLayout, HorizontalAlignmentAndClipping) {
    ULONG g = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    ULONG a = leaf(g, 20, 10, 20, 10), b = leaf(g, 20, 30, 20, 30);
    layout(g, 100, 30);
    EXPECT_EQ(box(a)->x, 0);
    EXPECT_EQ(box(b)->x, 20);
    EXPECT_EQ(box(a)->y, 10); // centred across the tallest member
    Tal_DoMethod(g, TAL_SetGroupAlignment, 8);
    layout(g, 100, 30);
    EXPECT_EQ(box(a)->y, 20); // bottom-aligned
    // Too small: a clip region; large enough again: none.
    layout(g, 30, 30);
    EXPECT_NE(box(g)->clipRegion, nullptr);
    layout(g, 100, 30);
    EXPECT_EQ(box(g)->clipRegion, nullptr);
    Tal_DisposeObject(g);
}

// Fixed width makes every member as wide as the widest minimum, fixed height as high as the highest, in
// either direction; a fixed-size row or column asks for room for all of them. Laid out at its minimum.
TEST_F(GroupLayout, FixedWidthAndHeightTakeTheLargestMinimum) {
    struct Case {
        ULONG orientation, fixedWidth, fixedHeight;
        LONG minWidth, minHeight, w1, h1, w2, h2;
    } cases[] = {
        {TAL_HORIZONTAL, 1, 0, 60, 25, 30, 25, 30, 25}, {TAL_HORIZONTAL, 0, 1, 50, 25, 20, 25, 30, 25},
        {TAL_VERTICAL, 1, 0, 30, 35, 30, 10, 30, 25},   {TAL_VERTICAL, 0, 1, 30, 50, 30, 25, 30, 25},
        {TAL_HORIZONTAL, 1, 1, 60, 25, 30, 25, 30, 25},
    };
    for (const Case& c : cases) {
        ULONG g = Tal_CreateObject("Group", TAL_SetGroupOrientation, c.orientation, TAL_SetGroupFixedWidth,
                                   c.fixedWidth, TAL_SetGroupFixedHeight, c.fixedHeight);
        ULONG a = leaf(g, 20, 10, 100, 100), b = leaf(g, 30, 25, 100, 100);
        const auto name = testing::Message() << c.orientation << "/" << c.fixedWidth << c.fixedHeight;
        Tal_DoMethod(g, TAL_AskMinMax, 0);
        EXPECT_EQ(box(g)->minWidth, c.minWidth) << name;
        EXPECT_EQ(box(g)->minHeight, c.minHeight) << name;
        layout(g, c.minWidth, c.minHeight);
        EXPECT_EQ(box(a)->width, c.w1) << name;
        EXPECT_EQ(box(a)->height, c.h1) << name;
        EXPECT_EQ(box(b)->width, c.w2) << name;
        EXPECT_EQ(box(b)->height, c.h2) << name;
        Tal_DisposeObject(g);
    }
}

TEST_F(GroupLayout, MembersAreOwnedOnceAndIterationSurvivesRemoval) {
    ULONG g = Tal_CreateObject("Group"), other = Tal_CreateObject("Group");
    std::vector<ULONG> members;
    for (int i = 0; i < 5; i++) members.push_back(leaf(g, 1, 1, 1, 1));
    EXPECT_EQ(Tal_DoMethod(other, TAL_AddTail, members[0]), 0u); // already in g
    EXPECT_EQ(Tal_GetParentObject(members[0]), g);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetMemberCount), 5u);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetNextGroupObject, members[4]), 0u);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetMemberAt, 99), members[4]);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetMemberIndex, members[3]), 3u);
    // Walk with "next" and remove each member as it is returned.
    std::vector<ULONG> seen;
    for (ULONG m = ULONG(Tal_DoMethod(g, TAL_GetFirstGroupObject)); m;) {
        seen.push_back(m);
        ULONG next = ULONG(Tal_DoMethod(g, TAL_GetNextGroupObject, m));
        EXPECT_EQ(Tal_DoMethod(g, TAL_RemoveMember, m), 1u);
        Tal_DisposeObject(m);
        m = next;
    }
    EXPECT_EQ(seen, members);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetMemberCount), 0u);
    EXPECT_EQ(Tal_DoMethod(g, TAL_RemoveMember, members[0]), 0u);
    Tal_DisposeObject(g);
    Tal_DisposeObject(other);
}

TEST_F(GroupLayout, PagesShowOneMemberAtATime) {
    ULONG g = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_PAGES);
    ULONG a = leaf(g, 10, 10, 50, 50), b = leaf(g, 20, 20, 50, 50);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetSelectedMember), b); // the newest page is selected
    EXPECT_NE(Tal_DoMethod(a, TAL_IsHidden), 0u);
    Tal_DoMethod(g, TAL_SelectMemberIndex, 0);
    EXPECT_EQ(Tal_DoMethod(g, TAL_GetSelectedIndex), 0u);
    EXPECT_EQ(Tal_DoMethod(a, TAL_IsHidden), 0u);
    EXPECT_NE(Tal_DoMethod(b, TAL_IsHidden), 0u);
    Tal_DoMethod(g, TAL_AskMinMax, 0);
    EXPECT_EQ(box(g)->minWidth, 20); // the largest page
    Tal_DisposeObject(g);
}

} // namespace
