#include "ui/Group.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

namespace {

// Recording stand-ins for the leaf classes the tree language names (they replace the real classes for
// these tests), and a recording container.
RECORDER_CLASS(textClass, "Text", 0x00040000)
RECORDER_CLASS(spaceClass, "Space", 0x000E0000)
RECORDER_CLASS(bitmapClass, "BitMap", 0x00080000)
RECORDER_CLASS(stringClass, "StringEdit", 0x001E0000)
RECORDER_CLASS(scrollerClass, "Scroller", 0x001C0000)
RECORDER_CLASS(sliderClass, "Slider", 0x000D0000)
RECORDER_CLASS(boxClass, "TBox", 0x7E000000)

struct StandIn {
    Tal_Class* cls;
    const char* name;
    void (*reg)();
};
const StandIn standIns[] = {{&textClass, "Text", register_textClass},
                            {&spaceClass, "Space", register_spaceClass},
                            {&bitmapClass, "BitMap", register_bitmapClass},
                            {&stringClass, "StringEdit", register_stringClass},
                            {&scrollerClass, "Scroller", register_scrollerClass},
                            {&sliderClass, "Slider", register_sliderClass},
                            {&boxClass, "TBox", register_boxClass}};

class Trees : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        for (const StandIn& s : standIns) {
            // The next start of the object system registers the real class again.
            Tal__CleanupClass(Tal_FindClassFromName(s.name));
            s.reg();
        }
    }
    void TearDown() override {
        for (const StandIn& s : standIns) Tal__CleanupClass(s.cls);
        TalFixture::TearDown();
    }
    static const char* label(ULONG h) { return reinterpret_cast<const char*>(Tal_DoMethod(h, TAL_GetLabel)); }
    static std::string className(ULONG h) {
        return static_cast<Tal_Object*>(Tal_GetObjectInstance(h))->objClass->name;
    }
    static std::vector<ULONG> members(ULONG container) {
        std::vector<ULONG> out;
        for (ULONG m = ULONG(Tal_DoMethod(container, TAL_GetFirstGroupObject)); m;
             m = ULONG(Tal_DoMethod(container, TAL_GetNextGroupObject, m)))
            out.push_back(m);
        return out;
    }
};

TEST_F(Trees, WindowWithTitleAndTwoTextsInAVerticalGroup) {
    ULONG window =
        Tal_CreateObjects(0, TAL_TREE_OBJECT, "Window", 0x000900DC, "Title", TAL_TREE_VGROUP, TAL_TREE_TEXT,
                          "one", TAL_TREE_TEXT, "two", TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(className(window), "Window");
    auto groups = members(window);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(Tal_DoMethod(groups[0], TAL_GetGroupOrientation), TAL_VERTICAL);
    auto texts = members(groups[0]);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_STREQ(label(texts[0]), "one");
    EXPECT_STREQ(label(texts[1]), "two");
    EXPECT_EQ(Tal_GetParentObject(texts[1]), groups[0]);
    EXPECT_EQ(Tal_SearchHierachyForClassId(texts[1], 0x00090000), window);
    Tal_DisposeObject(window);
}

TEST_F(Trees, HandleVariableAndAttributesAfterALeaf) {
    ULONG text = 0;
    ULONG box = Tal_CreateObjects(0, TAL_TREE_OBJECT, "TBox", TAL_TREE_TEXT, "leaf", TAL_TREE_HANDLE, &text,
                                  0x7E00000A, 5, TAL_TREE_CLOSE);
    ASSERT_NE(text, 0u);
    EXPECT_NE(text, box);
    EXPECT_STREQ(label(text), "leaf");
    // The attribute after the leaf went to the enclosing container.
    EXPECT_EQ(recorder::attribute(box, 0x7E00000A), 5u);
    EXPECT_EQ(recorder::attribute(text, 0x7E00000A, 0xDEADBEEF), 0xDEADBEEFu);
    Tal_DisposeObject(box);
    ULONG opened = 0;
    ULONG group = Tal_CreateObjects(0, TAL_TREE_HGROUP, TAL_TREE_HANDLE, &opened, TAL_TREE_CLOSE);
    EXPECT_EQ(opened, group); // a container is a "last created object" too
    Tal_DisposeObject(group);
}

TEST_F(Trees, EveryShortcutMakesItsMember) {
    ULONG group = Tal_CreateObjects(0, TAL_TREE_OBJECT, "TBox",                    // container
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
    auto m = members(group);
    const char* expected[] = {"Text",       "Text",       "Text",     "Text",   "BitMap", "Group",
                              "StringEdit", "StringEdit", "Scroller", "Slider", "Slider", "Scroller",
                              "Space",      "Space",      "Space",    "Space",  "Space"};
    ASSERT_EQ(m.size(), std::size(expected));
    for (size_t i = 0; i < m.size(); i++) EXPECT_EQ(className(m[i]), expected[i]) << i;
    EXPECT_EQ(Tal_DoMethod(m[5], TAL_GetGroupOrientation), TAL_HORIZONTAL);
    EXPECT_STREQ(label(m[1]), "l");
    EXPECT_EQ(Tal__GetRootInstance(m[1])->weight, 0);
    EXPECT_EQ(Tal__GetRootInstance(m[0])->weight, 100);
    if (Tal_FindClassFromName("Text")->dispatchFunction == recorder::dispatch) {
        EXPECT_STREQ(reinterpret_cast<const char*>(recorder::attribute(m[0], 0x0004000A)), "v");
        EXPECT_EQ(recorder::attribute(m[2], 0x00040032), 270u);
        EXPECT_EQ(recorder::attribute(m[3], 0x0004001E), 4u);
    }
    Tal_DisposeObject(group);
}

TEST_F(Trees, SubClassRuleSetsOuterObjects) {
    // A leading close with nothing created yet pops nothing. Each later close gives the last created
    // object the container that is innermost after the pop as its outer object.
    ULONG group = Tal_CreateSubClassObjects(0, TAL_TREE_CLOSE, TAL_TREE_OBJECT, "TBox", TAL_TREE_OBJECT,
                                            "TBox", TAL_TREE_CLOSE, TAL_TREE_TEXT, "leaf", TAL_TREE_CLOSE);
    ASSERT_NE(group, 0u);
    auto inner = members(group);
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(static_cast<Tal_Object*>(Tal_GetObjectInstance(inner[0]))->outerObject, group);
    EXPECT_EQ(Tal_GetTopMostObject(inner[0]), group);
    EXPECT_EQ(static_cast<Tal_Object*>(Tal_GetObjectInstance(inner[1]))->outerObject, 0u);
    Tal_DisposeObject(group);
    // Without the flag a leading close is harmless too, and a missing class leaves members parentless.
    ULONG text2 = 0;
    EXPECT_EQ(Tal_CreateObjects(0, TAL_TREE_CLOSE, TAL_TREE_OBJECT, "NoSuchClass", TAL_TREE_TEXT, "x",
                                TAL_TREE_HANDLE, &text2, TAL_TREE_CLOSE),
              0u);
    ASSERT_NE(text2, 0u);
    EXPECT_EQ(Tal_GetParentObject(text2), 0u);
    Tal_DisposeObject(text2);
}

TEST_F(Trees, DoMethodForAllReachesEveryMember) {
    ULONG box = Tal_CreateObjects(0, TAL_TREE_OBJECT, "TBox", TAL_TREE_OBJECT, "TBox", TAL_TREE_CLOSE,
                                  TAL_TREE_OBJECT, "TBox", TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    Tal_DoMethodForAll(box, 0x7E000014, 9);
    auto m = members(box);
    ASSERT_EQ(m.size(), 2u);
    for (ULONG member : m) EXPECT_EQ(recorder::attribute(member, 0x7E000014), 9u);
    Tal_DisposeObject(box);
}

} // namespace
