#include "support/Recorder.h"
#include "support/TalTest.h"

namespace {

RECORDER_CLASS(outerClass, "TOuter", 0x7E000000)

class RootClass : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        register_outerClass();
        root = Tal_CreateObject("Root");
        self = Tal__GetRootInstance(root);
    }
    void TearDown() override {
        Tal_DisposeObject(root);
        EXPECT_EQ(Tal_FindClassFromName("Root")->instanceCount.load(), 0u);
        Tal__CleanupClass(&outerClass);
        TalFixture::TearDown();
    }
    ULONG root = 0;
    Tal_RootInstance* self = nullptr;
};

TEST_F(RootClass, NewObjectsHaveTheDefaults) {
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->weight, 100);
    EXPECT_EQ(self->colour1, TAL_NO_COLOUR);
    EXPECT_EQ(self->colour2, gd->buttonFaceColour);
    EXPECT_EQ(self->colour3, 0x00FFB6AAu);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(root, TAL_GetLabel)), "");
    EXPECT_EQ(Tal_DoMethod(root, TAL_GetBox), Tal_ToWord(&self->box));
    EXPECT_EQ(Tal_GetObjectClassID(root), 0x00010000u);
}

TEST_F(RootClass, SetBoxKeepsTheLimits) {
    Tal_Box* box = &self->box;
    box->minWidth = 10;
    box->maxWidth = 50;
    box->minHeight = 5;
    box->maxHeight = 5;
    struct Case {
        WORD w, expectedW;
    } cases[] = {{3, 10}, {30, 30}, {80, 50}};
    for (const Case& c : cases) {
        Tal_DoMethod(root, TAL_SetBox, 7, 8, c.w, 99);
        EXPECT_EQ(box->x, 7);
        EXPECT_EQ(box->y, 8);
        EXPECT_EQ(box->width, c.expectedW);
        EXPECT_EQ(box->height, 5);
    }
    // Over the object: the right and bottom edges are outside.
    EXPECT_EQ(Tal_IsCoordOverObject(root, 7, 8), 1u);
    EXPECT_EQ(Tal_IsCoordOverObject(root, 7 + 50 - 1, 8 + 4), 1u);
    EXPECT_EQ(Tal_IsCoordOverObject(root, 7 + 50, 8), 0u);
    EXPECT_EQ(Tal_IsCoordOverObject(root, 7, 8 + 5), 0u);
    EXPECT_EQ(Tal_IsCoordOverObject(0, 7, 8), 0u);
    Tal_DoMethod(root, TAL_Hide);
    EXPECT_EQ(Tal_IsCoordOverObject(root, 7, 8), 0u);
}

TEST_F(RootClass, HideAndDisableCount) {
    EXPECT_EQ(Tal_DoMethod(root, TAL_Hide), 1u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_Hide), 2u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_Show), 1u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_IsHidden), 1u);
    EXPECT_TRUE(self->box.flags & TAL_BOX_HIDDEN);
    EXPECT_EQ(Tal_DoMethod(root, TAL_ForceShow), 1u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_IsHidden), 0u);
    EXPECT_FALSE(self->box.flags & TAL_BOX_HIDDEN);
    EXPECT_EQ(Tal_DoMethod(root, TAL_Show), Tal_Word(-1)); // counts below zero, and shows
    EXPECT_EQ(Tal_DoMethod(root, TAL_IsHidden), 0u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_ForceHide), 0u); // -1 + 1
    EXPECT_TRUE(self->box.flags & TAL_BOX_HIDDEN);

    EXPECT_EQ(Tal_DoMethod(root, TAL_DisableObject), 1u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_DisableObject), 2u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_IsDisabled), 2u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_EnableObject), 1u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_EnableObject), 0u);
    EXPECT_EQ(Tal_DoMethod(root, TAL_IsDisabled), 0u);
}

TEST_F(RootClass, Colours) {
    const ULONG c = 250 | (10 << 8) | (128 << 16);
    EXPECT_EQ(Tal_DoMethod(root, TAL_SetColours, c), 1u);
    EXPECT_EQ(self->colour1, c);
    EXPECT_EQ(self->colour2, 255u | (26 << 8) | (144 << 16));
    EXPECT_EQ(self->colour3, 234u | (0 << 8) | (112 << 16));
    Tal_DoMethod(root, TAL_SetColours, 0);
    EXPECT_EQ(self->colour2, 0u);
    EXPECT_EQ(self->colour3, 0u);
    Tal_DoMethod(root, TAL_SetColour1, 1);
    Tal_DoMethod(root, TAL_SetColour2, 2);
    Tal_DoMethod(root, TAL_SetColour3, 3);
    EXPECT_EQ(self->colour1 + self->colour2 + self->colour3, 6u);
}

TEST_F(RootClass, NamesLabelsAndWords) {
    ULONG outer = Tal_CreateObject("TOuter");
    EXPECT_EQ(Tal_DoMethod(outer, TAL_FindObjectByName, "x"), 0u); // unnamed
    char name[] = "button";
    EXPECT_EQ(Tal_DoMethod(outer, TAL_SetObjectName, name), 1u);
    name[0] = 'B'; // the object keeps a copy
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(outer, TAL_GetObjectName)), "button");
    EXPECT_EQ(Tal_DoMethod(outer, TAL_FindObjectByName, "button"), outer); // the topmost handle
    EXPECT_EQ(Tal_DoMethod(outer, TAL_FindObjectByName, "Button"), 0u);
    EXPECT_EQ(Tal_DoMethod(outer, TAL_SetObjectName, nullptr), 1u);
    EXPECT_EQ(Tal_DoMethod(outer, TAL_GetObjectName), 0u);
    EXPECT_EQ(Tal_DoMethod(outer, TAL_Pressed), outer);
    EXPECT_EQ(Tal_DoMethod(outer, TAL_Released), outer);

    static const char label[] = "Label";
    Tal_DoMethod(root, TAL_SetLabel, label);
    EXPECT_EQ(Tal_DoMethod(root, TAL_GetLabel), Tal_ToWord(label)); // by reference
    Tal_DoMethod(root, TAL_SetToolTip, label);
    EXPECT_EQ(Tal_DoMethod(root, TAL_GetToolTipAt, 1, 1), Tal_ToWord(label));
    Tal_DoMethod(root, TAL_SetUserData, -5);
    EXPECT_EQ(LONG(Tal_DoMethod(root, TAL_GetUserData)), -5);
    Tal_DoMethod(root, TAL_SetWeight, 0x10007);
    EXPECT_EQ(self->weight, 7);

    ULONG value = 0;
    UWORD half = 0;
    UBYTE byte = 0;
    Tal_DoMethod(root, TAL_PokeLong, &value, 0x12345678);
    Tal_DoMethod(root, TAL_PokeWord, &half, 0x12345678);
    Tal_DoMethod(root, TAL_PokeByte, &byte, 0x12345678);
    Tal_DoMethod(root, TAL_PokeLong, nullptr, 1);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(half, 0x5678);
    EXPECT_EQ(byte, 0x78);

    // A stored text stays with the object and goes with it (the leak checker sees the rest).
    Tal_DoMethod(outer, TAL_SetStoredText, Tal_StrDup("stored"));
    Tal_DoMethod(outer, TAL_SetStoredText, Tal_StrDup("again"));
    Tal_DoMethod(outer, TAL_DisposeSelf);
    EXPECT_EQ(Tal_GetObjectInstance(outer), nullptr);
}

TEST_F(RootClass, UnknownMethodsAreReportedOnlyWithDiagnostics) {
    {
        DebugCapture quiet;
        EXPECT_EQ(Tal_DoMethod(root, 0x007E00FF), 0u);
        EXPECT_EQ(Tal_DoMethod(root, TAL_DrawObject), 0u);
        EXPECT_EQ(quiet.text(), "");
    }
    gd->diagnostics = 1;
    DebugCapture loud;
    EXPECT_EQ(Tal_DoMethod(root, 0x007E00FF), 0u);
    EXPECT_EQ(Tal_DoMethod(root, 0x000901C2), 0u); // a drop enquiry is not unknown
    gd->diagnostics = 0;
    EXPECT_TRUE(loud.contains("Tal.library Internal Error")) << loud.text();
    EXPECT_TRUE(loud.contains("Message: Unknown Method Class 126 Number 255  at Root Level")) << loud.text();
    EXPECT_EQ(loud.text().find("Unknown Method", loud.text().find("Unknown Method") + 1), std::string::npos);
}

TEST_F(RootClass, MemberLockAndObjectLock) {
    Tal_Semaphore* first = Tal_AllocSemaphore();
    Tal_Semaphore* second = Tal_AllocSemaphore();
    EXPECT_EQ(Tal_DoMethod(root, TAL_SetMemberLock, first), Tal_ToWord(first));
    EXPECT_EQ(Tal_DoMethod(root, TAL_SetMemberLock, second), Tal_ToWord(second));
    EXPECT_EQ(first->owner, nullptr); // taken while replaced, then released
    EXPECT_EQ(Tal_DoMethod(root, TAL_GetMemberLock), Tal_ToWord(second));
    Tal_DoMethod(root, TAL_SetMemberLock, nullptr);
    Tal_FreeSemaphore(first);
    Tal_FreeSemaphore(second);

    EXPECT_EQ(Tal_LockObject(root), 1u);
    EXPECT_EQ(gd->objectLock->owner, FindTask(nullptr));
    Tal_UnlockObject(root);
    EXPECT_EQ(gd->objectLock->owner, nullptr);
}

TEST_F(RootClass, RelayoutAskAgainAndRedraws) {
    ULONG outer = Tal_CreateObject("TOuter");
    auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(outer, TAL_GetBox));
    box->maxWidth = box->maxHeight = 100;
    Tal_DoMethod(outer, TAL_SetBox, 1, 2, 30, 40);
    auto* clip = reinterpret_cast<Region*>(0x1000);
    Tal_DoMethod(outer, TAL_SetClipRegion, clip);
    Tal_RelayoutAndRedrawObject(outer);
    std::vector<ULONG> ids;
    for (auto& c : recorder::calls(outer))
        if (c.id == TAL_AskMinMax || c.id == TAL_SetBox || c.id == TAL_DrawObject ||
            c.id == TAL_SetClipRegion)
            ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<ULONG>{TAL_SetBox, TAL_SetClipRegion, TAL_AskMinMax, TAL_SetBox,
                                       TAL_SetClipRegion, TAL_DrawObject}));
    EXPECT_EQ(box->x, 1);
    EXPECT_EQ(box->height, 40);
    EXPECT_EQ(box->clipRegion, clip);
    Tal_DoMethod(outer, TAL_SetClipRegion, nullptr);
    Tal_DisposeObject(outer);
}

} // namespace
