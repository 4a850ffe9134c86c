#include "support/Recorder.h"
#include "support/TalTest.h"

namespace {

// Stand-ins for the interface classes the tree language names.
RECORDER_CLASS(windowClass, "Window", 0x00090000)
RECORDER_CLASS(groupClass, "Group", 0x00020000)
RECORDER_CLASS(textClass, "Text", 0x00040000)
RECORDER_CLASS(spaceClass, "Space", 0x000E0000)
RECORDER_CLASS(bitmapClass, "BitMap", 0x00080000)
RECORDER_CLASS(stringClass, "StringEdit", 0x001E0000)
RECORDER_CLASS(scrollerClass, "Scroller", 0x001C0000)
RECORDER_CLASS(sliderClass, "Slider", 0x000D0000)

class Trees : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        for (auto reg :
             {register_windowClass, register_groupClass, register_textClass, register_spaceClass,
              register_bitmapClass, register_stringClass, register_scrollerClass, register_sliderClass})
            reg();
    }
    void TearDown() override {
        for (Tal_Class* cls : {&windowClass, &groupClass, &textClass, &spaceClass, &bitmapClass, &stringClass,
                               &scrollerClass, &sliderClass}) {
            EXPECT_EQ(cls->instanceCount.load(), 0u) << cls->name;
            Tal__CleanupClass(cls);
        }
        TalFixture::TearDown();
    }
    static const char* label(ULONG h) { return reinterpret_cast<const char*>(Tal_DoMethod(h, TAL_GetLabel)); }
    static Tal_Class* classOf(ULONG h) {
        return static_cast<Tal_Object*>(Tal_GetObjectInstance(h))->objClass;
    }
};

TEST_F(Trees, WindowWithTitleAndTwoTextsInAVerticalGroup) {
    ULONG window =
        Tal_CreateObjects(0, TAL_TREE_OBJECT, "Window", 0x000900DC, "Title", TAL_TREE_VGROUP, TAL_TREE_TEXT,
                          "one", TAL_TREE_TEXT, "two", TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(classOf(window), &windowClass);
    EXPECT_STREQ(reinterpret_cast<const char*>(recorder::attribute(window, 0x000900DC)), "Title");
    auto groups = recorder::members(window);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(recorder::attribute(groups[0], 0x000201F4), 1u);
    auto texts = recorder::members(groups[0]);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_STREQ(label(texts[0]), "one");
    EXPECT_STREQ(label(texts[1]), "two");
    EXPECT_EQ(Tal_GetParentObject(texts[1]), groups[0]);
    Tal_DisposeObject(window);
}

TEST_F(Trees, HandleVariableAndAttributesAfterALeaf) {
    ULONG text = 0;
    ULONG group = Tal_CreateObjects(0, TAL_TREE_OBJECT, "Group", TAL_TREE_TEXT, "leaf", TAL_TREE_HANDLE,
                                    &text, 0x7E00000A, 5, TAL_TREE_CLOSE);
    ASSERT_NE(text, 0u);
    EXPECT_NE(text, group);
    EXPECT_STREQ(label(text), "leaf");
    // The attribute after the leaf went to the enclosing container.
    EXPECT_EQ(recorder::attribute(group, 0x7E00000A), 5u);
    EXPECT_EQ(recorder::attribute(text, 0x7E00000A), 0xDEADBEEFu);
    ULONG opened = 0;
    Tal_DisposeObject(group);
    group = Tal_CreateObjects(0, TAL_TREE_HGROUP, TAL_TREE_HANDLE, &opened, TAL_TREE_CLOSE);
    EXPECT_EQ(opened, group); // a container is a "last created object" too
    Tal_DisposeObject(group);
}

TEST_F(Trees, EveryShortcutMakesItsMember) {
    ULONG group = Tal_CreateObjects(0, TAL_TREE_OBJECT, "Group",                   // container
                                    TAL_TREE_TEXTVALUE, "v", TAL_TREE_LABEL, "l",  //
                                    TAL_TREE_TURNED, "t", TAL_TREE_TEXTMODE4, "m", //
                                    TAL_TREE_BITMAP, "pic.iff",                    //
                                    TAL_TREE_HGROUP, TAL_TREE_CLOSE,               //
                                    TAL_TREE_STRING, TAL_TREE_CLOSE, TAL_TREE_STRING1, TAL_TREE_CLOSE,
                                    TAL_TREE_COMPACTSLIDER, TAL_TREE_CLOSE, TAL_TREE_SLIDER, TAL_TREE_CLOSE,
                                    TAL_TREE_OBJECT, "SimpleSlider", TAL_TREE_CLOSE, //
                                    TAL_TREE_OBJECT, "Slider", TAL_TREE_CLOSE,       //
                                    TAL_TREE_SPACE, 7, TAL_TREE_SPACE_WIDTH1, TAL_TREE_SPACE_HEIGHT1,
                                    TAL_TREE_SPACE_HEIGHT, 3, TAL_TREE_SPACE_WIDTH, 4, TAL_TREE_CLOSE);
    auto m = recorder::members(group);
    EXPECT_EQ(m.size(), 17u);
    struct Expect {
        Tal_Class* cls;
        ULONG id; // an attribute it must carry (0: none checked)
        Tal_Word value;
    } expected[] = {
        {&textClass, 0x0004000A, 0},  {&textClass, 0x000100C8, 0},   {&textClass, 0x00040032, 270},
        {&textClass, 0x0004001E, 4},  {&bitmapClass, 0x80000136, 0}, {&groupClass, 0x000201F4, 2},
        {&stringClass, 0, 0},         {&stringClass, 0x001E001E, 1}, {&scrollerClass, 0, 0},
        {&sliderClass, 0, 0},         {&sliderClass, 0, 0},          {&scrollerClass, 0, 0},
        {&spaceClass, 0x000E000A, 7}, {&spaceClass, 0, 0},           {&spaceClass, 0, 0},
        {&spaceClass, 0, 0},          {&spaceClass, 0, 0},
    };
    for (size_t i = 0; i < std::min(m.size(), std::size(expected)); i++) {
        EXPECT_EQ(classOf(m[i]), expected[i].cls) << i;
        if (expected[i].value) {
            EXPECT_EQ(recorder::attribute(m[i], expected[i].id), expected[i].value) << i;
        }
    }
    EXPECT_STREQ(reinterpret_cast<const char*>(recorder::attribute(m[0], 0x0004000A)), "v");
    EXPECT_STREQ(label(m[1]), "l");
    EXPECT_EQ(Tal__GetRootInstance(m[1])->weight, 0);
    EXPECT_EQ(Tal__GetRootInstance(m[0])->weight, 100);
    EXPECT_STREQ(label(m[2]), "t");
    EXPECT_STREQ(reinterpret_cast<const char*>(recorder::attribute(m[4], 0x80000136)), "pic.iff");
    Tal_DisposeObject(group);
}

TEST_F(Trees, SubClassRuleSetsOuterObjects) {
    // A leading close with nothing created yet pops nothing. Each later close gives the last created
    // object the container that is innermost after the pop as its outer object.
    ULONG group = Tal_CreateSubClassObjects(0, TAL_TREE_CLOSE, TAL_TREE_OBJECT, "Group", TAL_TREE_OBJECT,
                                            "Text", TAL_TREE_CLOSE, TAL_TREE_TEXT, "leaf", TAL_TREE_CLOSE);
    ASSERT_NE(group, 0u);
    auto members = recorder::members(group);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(static_cast<Tal_Object*>(Tal_GetObjectInstance(members[0]))->outerObject, group);
    EXPECT_EQ(Tal_GetTopMostObject(members[0]), group);
    EXPECT_EQ(static_cast<Tal_Object*>(Tal_GetObjectInstance(members[1]))->outerObject, 0u);
    Tal_DisposeObject(group);
    // Without the flag a leading close is harmless too, and an unknown class leaves members parentless.
    ULONG text2 = 0;
    EXPECT_EQ(Tal_CreateObjects(0, TAL_TREE_CLOSE, TAL_TREE_OBJECT, "NoSuchClass", TAL_TREE_TEXT, "x",
                                TAL_TREE_HANDLE, &text2, TAL_TREE_CLOSE),
              0u);
    ASSERT_NE(text2, 0u);
    EXPECT_EQ(Tal_GetParentObject(text2), 0u);
    Tal_DisposeObject(text2);
}

TEST_F(Trees, DoMethodForAllReachesEveryMember) {
    ULONG group = Tal_CreateObjects(0, TAL_TREE_VGROUP, TAL_TREE_TEXT, "a", TAL_TREE_TEXT, "b", TAL_TREE_TEXT,
                                    "c", TAL_TREE_CLOSE);
    Tal_DoMethodForAll(group, 0x7E000014, 9);
    for (ULONG member : recorder::members(group)) EXPECT_EQ(recorder::attribute(member, 0x7E000014), 9u);
    Tal_DisposeObject(group);
}

} // namespace
