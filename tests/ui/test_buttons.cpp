// Buttons, toggles, check boxes, choices, tool buttons, labels, spaces, shortcut editors and vector
// shapes: the number formatter and text layout on their own, the gadgets in a headless window driven by
// stylus and key input, and a sheet of all of them to look at.
#include "ui/Button.h"
#include "ui/Window.h"
#include "host/display.h"
#include "host/intuition.h"
#include "support/TalTest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every notification of the watched objects, in order.
struct Heard {
    ULONG source;
    ULONG id;
    LONG value;
};
class Listener {
  public:
    void watch(ULONG object, std::initializer_list<ULONG> ids) {
        for (ULONG id : ids) Tal_AddCallBackNotify(object, id, TAL_AnyValue, hear, Tal_Word(this));
    }
    std::vector<Heard> all() {
        std::lock_guard lock(mutex_);
        return heard_;
    }
    size_t count(ULONG source, ULONG id) {
        size_t n = 0;
        for (const Heard& h : all()) n += h.source == source && h.id == id;
        return n;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        heard_.clear();
    }

  private:
    static Tal_Word hear(Tal_Word user, ULONG source, ULONG trigger, const Tal_Word* args) {
        auto* self = reinterpret_cast<Listener*>(user);
        std::lock_guard lock(self->mutex_);
        self->heard_.push_back({source, trigger, LONG(int32_t(args[0]))});
        return 0;
    }
    std::mutex mutex_;
    std::vector<Heard> heard_;
};

const Tal_Box& boxOf(ULONG object) {
    return *reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

LONG fontHeight() {
    return host_FontHeight(host_InterfaceFont());
}
LONG textWidth(const char* text) {
    return host_FontTextWidth(host_InterfaceFont(), text, ULONG(std::strlen(text)));
}

class Gadgets : public TalFixture {
  protected:
    void SetUp() override { TalFixture::SetUp(); }
    void TearDown() override {
        for (ULONG o : owned) Tal_DisposeObject(o);
        settle();
        TalFixture::TearDown();
    }
    ULONG own(ULONG object) {
        owned.push_back(object);
        return object;
    }
    std::vector<ULONG> owned;
};

// ---------------------------------------------------------------------------------------------------
// Numbers formatted with formats from outside.

TEST(ButtonFormatNumber, TakesOneIntegerConversionAndCutsToTheField) {
    const std::string forty(40, 'x');
    struct Case {
        const char* format;
        LONG value;
        const char* expected;
    } cases[] = {
        {"R %ld", 200, "R 200"},
        {"%ld.5", 64, "64.5"},
        {"%s", 7, "%s"},       // no text conversions: nothing is read
        {"%n", 7, "%n"},       // nothing is written through an argument
        {"%ld%ld", 3, "3%ld"}, // a second conversion stays text
        {"%5ld%%", -12, "  -12%"},
        {"%-4d|", 9, "9   |"},
        {"%#x", 255, "0xff"},
        {"%lu", -1, "4294967295"},
        {"100%", 1, "100%"},
        {"%999999999999d", 1, "               "}, // a huge width stays within the field
        {forty.c_str(), 1, "xxxxxxxxxxxxxxx"},
    };
    for (const Case& c : cases) {
        char out[16];
        std::memset(out, '#', sizeof out);
        Tal_FormatNumber(out, sizeof out, c.format, c.value);
        EXPECT_STREQ(out, c.expected) << c.format;
    }
    char one[1] = {'#'};
    EXPECT_EQ(Tal_FormatNumber(one, 1, "%ld", 12345), 0u);
    EXPECT_EQ(one[0], 0);
}

TEST_F(Gadgets, NumberTextUsesItsLabelAsTheFormat) {
    struct Case {
        const char* label;
        LONG number;
        const char* shown;
    } cases[] = {{"R %ld", 42, "R 42"}, {"", -7, "-7"}, {"%s%n", 5, "%s%n"}, {"%ld pixels", 12, "12 pixels"}};
    for (const Case& c : cases) {
        ULONG text = own(Tal_CreateObject("Text", TAL_SetLabel, c.label, TAL_SetTextNumber, c.number));
        Tal_DoMethod(text, TAL_AskMinMax, 0);
        EXPECT_EQ(boxOf(text).width, textWidth(c.shown)) << c.label;
        EXPECT_EQ(LONG(int32_t(Tal_DoMethod(text, TAL_GetTextNumber))), c.number);
    }
}

// ---------------------------------------------------------------------------------------------------
// Text layout.

TEST_F(Gadgets, WrappedTextTakesAtLeastOneCharacterPerLine) {
    const LONG fh = fontHeight();
    ULONG text = own(Tal_CreateObject("Text", TAL_SetLabel, "WWW", TAL_SetTextMode, TAL_TEXT_WRAPPED));
    Tal_DoMethod(text, TAL_AskMinMax, 0);
    Tal_DoMethod(text, TAL_SetBox, 0, 0, 4, 100); // narrower than a "W"
    EXPECT_LT(boxOf(text).width, textWidth("W"));
    Tal_DoMethod(text, TAL_AskMinMax, 0);
    EXPECT_EQ(boxOf(text).minHeight, 3 * fh);

    // Breaks go back to the last blank; a line feed always breaks.
    ULONG words =
        own(Tal_CreateObject("Text", TAL_SetLabel, "one two three\nfour", TAL_SetTextMode, TAL_TEXT_WRAPPED));
    Tal_DoMethod(words, TAL_AskMinMax, 0);
    Tal_DoMethod(words, TAL_SetBox, 0, 0, textWidth("one two") + 2, 100);
    Tal_DoMethod(words, TAL_AskMinMax, 0);
    EXPECT_EQ(boxOf(words).minHeight, 3 * fh); // "one two", "three", "four"
}

TEST_F(Gadgets, TextLimitsAndRotation) {
    const LONG fh = fontHeight();
    ULONG text = own(Tal_CreateObject("Text", TAL_SetLabel, "ab\r\nlonger line"));
    Tal_DoMethod(text, TAL_AskMinMax, 0);
    EXPECT_EQ(boxOf(text).width, textWidth("longer line"));
    EXPECT_EQ(boxOf(text).height, 2 * fh);
    EXPECT_EQ(boxOf(text).maxHeight, 2 * fh);
    // Turned a quarter: width and height exchange and are fixed. Degrees are taken modulo a full turn.
    struct Case {
        LONG degrees, readBack;
    } cases[] = {{270, 270}, {450, 90}, {-90, 270}, {180, 180}, {360, 0}};
    for (const Case& c : cases) {
        Tal_DoMethod(text, TAL_SetTextRotation, c.degrees);
        EXPECT_EQ(LONG(Tal_DoMethod(text, TAL_GetTextRotation)), c.readBack) << c.degrees;
    }
    Tal_DoMethod(text, TAL_SetTextRotation, 270);
    Tal_DoMethod(text, TAL_AskMinMax, 0);
    EXPECT_EQ(boxOf(text).width, 2 * fh);
    EXPECT_EQ(boxOf(text).maxHeight, textWidth("longer line"));
}

TEST_F(Gadgets, SpaceLimits) {
    struct Case {
        LONG fixedWidth, fixedHeight, minWidth;
        WORD width, minHeight, maxWidth, maxHeight;
    } cases[] = {
        {0, 0, 0, 1, 1, 1280, 1280}, // free: at least 1 x 1
        {-1, 0, 0, 0, 1, 0, 1280},   // -1 takes no room
        {16, 1, 0, 16, 1, 16, 1},    // fixed both ways
        {0, 0, 7, 7, 1, 1280, 1280}, // a minimum width
    };
    for (const Case& c : cases) {
        ULONG space =
            own(Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, c.fixedWidth, TAL_SetSpaceFixedHeight,
                                 c.fixedHeight, TAL_SetSpaceMinWidth, c.minWidth));
        Tal_DoMethod(space, TAL_AskMinMax, 0);
        const Tal_Box& b = boxOf(space);
        EXPECT_EQ(b.width, c.width);
        EXPECT_EQ(b.minWidth, c.width);
        EXPECT_EQ(b.minHeight, c.minHeight);
        EXPECT_EQ(b.maxWidth, c.maxWidth);
        EXPECT_EQ(b.maxHeight, c.maxHeight);
    }
}

// ---------------------------------------------------------------------------------------------------
// Without a window.

TEST_F(Gadgets, KeyZeroIsNoShortcut) {
    Listener heard;
    ULONG plain = own(Tal_CreateObject("Button", TAL_SetLabel, "Plain"));
    ULONG enter = own(Tal_CreateObject("Button", TAL_SetLabel, "Enter", TAL_SetShortcutKey, 13));
    heard.watch(plain, {TAL_Pressed, TAL_ButtonClicked});
    heard.watch(enter, {TAL_Pressed, TAL_ButtonClicked});
    for (ULONG cls : {IDCMP_VANILLAKEY, IDCMP_RAWKEYDOWN}) {
        Tal_InputEvent zero{};
        zero.Class = cls;
        zero.Code = 0;
        EXPECT_EQ(Tal_DoMethod(plain, TAL_HandleIDCMP, &zero), 2u);
        EXPECT_EQ(Tal_DoMethod(enter, TAL_HandleIDCMP, &zero), 2u);
    }
    EXPECT_TRUE(heard.all().empty());
    Tal_InputEvent key{};
    key.Class = IDCMP_RAWKEYDOWN;
    key.Code = 13;
    EXPECT_EQ(Tal_DoMethod(enter, TAL_HandleIDCMP, &key), 1u);
    EXPECT_EQ(heard.count(enter, TAL_ButtonClicked), 1u);
    EXPECT_EQ(Tal_DoMethod(enter, TAL_GetButtonState), 0u); // springs back up
    // A disabled button leaves its key to others.
    Tal_DoMethod(enter, TAL_DisableObject);
    EXPECT_EQ(Tal_DoMethod(enter, TAL_HandleIDCMP, &key), 2u);
    EXPECT_EQ(heard.count(enter, TAL_ButtonClicked), 1u);
}

TEST_F(Gadgets, ToolButtonShowsOnlyPicturesItHas) {
    // One picture: any state shows it.
    ULONG single = own(Tal_CreateObject("ToolButton"));
    ULONG picture = Tal_CreateObject("VectorImage", TAL_SetVectorShape, TAL_SHAPE_CROSS);
    Tal_DoMethod(single, TAL_AddTail, picture);
    Tal_DoMethod(single, TAL_SetToolButtonState, 2);
    EXPECT_EQ(Tal_DoMethod(single, TAL_GetToolButtonState), 1u);
    EXPECT_EQ(Tal_DoMethod(picture, TAL_IsHidden), 0u);

    // Three pictures: the first press selects, then the variants cycle 2, 1, 2; each shows its picture.
    Listener heard;
    ULONG three = own(Tal_CreateObject("ToolButton"));
    ULONG pictures[3];
    for (ULONG& p : pictures) {
        p = Tal_CreateObject("VectorImage", TAL_SetVectorShape, TAL_SHAPE_CROSS);
        Tal_DoMethod(three, TAL_AddTail, p);
    }
    heard.watch(three, {TAL_SetToolButtonState});
    EXPECT_EQ(Tal_DoMethod(three, TAL_GetMemberCount), 3u);
    EXPECT_EQ(Tal_DoMethod(pictures[1], TAL_IsHidden), 1u);
    Tal_DoMethod(three, TAL_Pressed);
    for (int i = 0; i < 3; i++) // past the last picture comes the first variant again
        Tal_DoMethod(three, TAL_SetToolButtonState, Tal_DoMethod(three, TAL_GetToolButtonState) + 1);
    std::vector<LONG> states;
    for (const Heard& h : heard.all()) states.push_back(h.value);
    EXPECT_EQ(states, (std::vector<LONG>{1, 2, 1, 2}));
    for (int i = 0; i < 3; i++) EXPECT_EQ(Tal_DoMethod(pictures[i], TAL_IsHidden) == 0, i == 2) << i;
    Tal_DoMethod(three, TAL_Released);
    EXPECT_EQ(Tal_DoMethod(three, TAL_GetToolButtonState), 0u);
    EXPECT_EQ(Tal_DoMethod(pictures[0], TAL_IsHidden), 0u);
}

TEST_F(Gadgets, MutualExcludeIgnoresIndexesOutsideItsRows) {
    Listener heard;
    ULONG choice = own(Tal_CreateObject("MutualExclude"));
    for (const char* name : {"one", "two", "three"})
        ASSERT_EQ(Tal_DoMethod(choice, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, name)), 1u);
    heard.watch(choice, {TAL_SetMutualExcludeIndex});
    EXPECT_EQ(LONG(int32_t(Tal_DoMethod(choice, TAL_GetMutualExcludeIndex))), -1);
    EXPECT_EQ(Tal_DoMethod(choice, TAL_SetMutualExcludeIndex, 1), 1u);
    for (LONG bad : {-1, 3, 1000}) EXPECT_EQ(Tal_DoMethod(choice, TAL_SetMutualExcludeIndex, bad), 1u);
    EXPECT_EQ(Tal_DoMethod(choice, TAL_GetMutualExcludeIndex), 1u);
    EXPECT_EQ(heard.all().size(), 1u);
    // An object that already has a parent is refused and stays where it is.
    ULONG taken = Tal_CreateObject("Text");
    ULONG holder = own(Tal_CreateObject("Group"));
    Tal_DoMethod(holder, TAL_AddTail, taken);
    EXPECT_EQ(Tal_DoMethod(choice, TAL_AddTail, taken), 0u);
    EXPECT_EQ(Tal_GetParentObject(taken), holder);
    EXPECT_EQ(Tal_DoMethod(choice, TAL_GetMemberCount), 3u);
}

TEST_F(Gadgets, ShortcutKeyEditorKeepsItsValues) {
    ULONG editor = own(Tal_CreateObject(
        "ShortcutKey", TAL_SetShortcutKey, "abcd", TAL_SetShortcutKeyQualifier, 3, TAL_SetShortcutKeyTarget,
        4711, TAL_SetShortcutKeyMethodString, "Tal_Show", TAL_SetShortcutKeyArgumentString, "1"));
    ASSERT_NE(editor, 0u);
    auto text = [](ULONG object, ULONG id) {
        return reinterpret_cast<const char*>(Tal_DoMethod(object, id));
    };
    EXPECT_STREQ(text(editor, TAL_GetShortcutKey), "abc");
    EXPECT_EQ(Tal_DoMethod(editor, TAL_GetShortcutKeyQualifier), 3u);
    Tal_DoMethod(editor, TAL_SetShortcutKeyQualifier, 99); // not a qualifier: kept as it was
    EXPECT_EQ(Tal_DoMethod(editor, TAL_GetShortcutKeyQualifier), 3u);
    EXPECT_EQ(Tal_DoMethod(editor, TAL_GetShortcutKeyTarget), 4711u);
    EXPECT_STREQ(text(editor, TAL_GetShortcutKeyMethodString), "Tal_Show");
    EXPECT_STREQ(text(editor, TAL_GetShortcutKeyArgumentString), "1");
    // Stored as its values, without its rows, and read back the same.
    char* stored = Tal_StoreObjectToBuffer(editor, nullptr, 0);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::string(stored).find("Group\n"), std::string::npos) << stored;
    ULONG copy = own(Tal_CreateObjectsFromString(stored));
    ASSERT_NE(copy, 0u);
    EXPECT_STREQ(text(copy, TAL_GetShortcutKey), "abc");
    EXPECT_EQ(Tal_DoMethod(copy, TAL_GetShortcutKeyQualifier), 3u);
    EXPECT_STREQ(text(copy, TAL_GetShortcutKeyMethodString), "Tal_Show");
    Tal_FreeStoredObjectBuffer(stored);
}

// ---------------------------------------------------------------------------------------------------
// In a window on the headless screen, driven by the stylus.

class InButtonWindow : public Gadgets {
  protected:
    void SetUp() override {
        Gadgets::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    // A window holding the objects in a vertical group, started and idle.
    void open(std::initializer_list<ULONG> members, LONG width = 220, LONG height = 200) {
        window = own(Tal_CreateObject("Window", TAL_SetWindowX, 10, TAL_SetWindowY, 10, TAL_SetWindowW, width,
                                      TAL_SetWindowH, height));
        // Frame 6 erases the background: nothing else paints between the gadgets.
        ULONG column = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing,
                                        4, TAL_SetGroupFrame, 6);
        for (ULONG m : members) Tal_DoMethod(column, TAL_AddTail, m);
        Tal_DoMethod(column, TAL_AddTail, Tal_CreateObject("Space"));
        Tal_DoMethod(window, TAL_AddTail, column);
        Tal_DoMethod(window, TAL_Start);
        settle();
    }
    Window* host() const { return reinterpret_cast<Window*>(Tal_DoMethod(window, TAL_GetHostWindow)); }
    // The middle of an object (or a point in it), on the logical screen.
    void at(ULONG object, LONG* x, LONG* y, LONG dx = -1, LONG dy = -1) const {
        const Tal_Box& b = boxOf(object);
        const host_Rect r = host_GetScreenRect(host()->HostWindow);
        *x = r.x + host()->BorderLeft + b.x + (dx < 0 ? b.width / 2 : dx);
        *y = r.y + host()->BorderTop + b.y + (dy < 0 ? b.height / 2 : dy);
    }
    void press(ULONG object, LONG dx = -1, LONG dy = -1) {
        LONG x, y;
        at(object, &x, &y, dx, dy);
        host_InjectMouseMove(x, y);
        host_InjectButton(0, true, x, y);
        settle();
    }
    void moveTo(LONG x, LONG y) {
        host_InjectMouseMove(x, y);
        settle();
    }
    void moveOver(ULONG object) {
        LONG x, y;
        at(object, &x, &y);
        moveTo(x, y);
    }
    void release() {
        LONG x, y;
        host_GetPointer(&x, &y);
        host_InjectButton(0, false, x, y);
        settle();
    }
    void tap(ULONG object, LONG dx = -1, LONG dy = -1) {
        press(object, dx, dy);
        release();
    }
    // A method performed in the window's thread, as the program's own calls are.
    void inWindow(ULONG target, ULONG method, Tal_Word argument) {
        Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, target, method, argument, 0);
        settle();
    }
    ULONG window = 0;
};

TEST_F(InButtonWindow, ButtonsNotifyPressAndActivation) {
    Listener heard;
    ULONG plain = Tal_CreateObject("Button", TAL_SetLabel, " Plain ");
    ULONG immediate = Tal_CreateObject("Button", TAL_SetLabel, " Immediate ", TAL_SetButtonImmediate, 1);
    ULONG off = Tal_CreateObject("Button", TAL_SetLabel, " Disabled ");
    Tal_DoMethod(off, TAL_DisableObject);
    open({plain, immediate, off});
    for (ULONG b : {plain, immediate, off}) heard.watch(b, {TAL_Pressed, TAL_Released, TAL_ButtonClicked});

    press(plain);
    EXPECT_EQ(Tal_DoMethod(plain, TAL_GetButtonState), 1u);
    EXPECT_EQ(heard.count(plain, TAL_Pressed), 1u);
    EXPECT_EQ(heard.count(plain, TAL_Released), 0u);
    release();
    EXPECT_EQ(Tal_DoMethod(plain, TAL_GetButtonState), 0u);
    EXPECT_EQ(heard.count(plain, TAL_Released), 1u);
    EXPECT_EQ(heard.count(plain, TAL_ButtonClicked), 1u);

    // Moving off before the release cancels; coming back before it activates.
    heard.clear();
    press(plain);
    moveTo(1, 1);
    EXPECT_EQ(Tal_DoMethod(plain, TAL_GetButtonState), 0u);
    release();
    EXPECT_TRUE(heard.count(plain, TAL_Released) == 0 && heard.count(plain, TAL_ButtonClicked) == 0);
    press(plain);
    moveTo(1, 1);
    moveOver(plain);
    release();
    EXPECT_EQ(heard.count(plain, TAL_Released), 1u);

    // An immediate button is activated by the press.
    heard.clear();
    press(immediate);
    EXPECT_EQ(heard.count(immediate, TAL_ButtonClicked), 1u);
    release();
    EXPECT_EQ(heard.count(immediate, TAL_ButtonClicked), 1u);
    EXPECT_EQ(heard.count(immediate, TAL_Released), 0u);
    EXPECT_EQ(Tal_DoMethod(immediate, TAL_GetButtonState), 0u);

    // A disabled button ignores the stylus.
    tap(off);
    EXPECT_EQ(heard.count(off, TAL_Pressed) + heard.count(off, TAL_ButtonClicked), 0u);
}

TEST_F(InButtonWindow, ToggleFlipsOnEachPress) {
    Listener heard;
    ULONG toggle = Tal_CreateObject("Button", TAL_SetLabel, " Toggle ", TAL_SetButtonToggle, 1);
    open({toggle});
    heard.watch(toggle, {TAL_ButtonClicked});
    tap(toggle);
    EXPECT_EQ(Tal_DoMethod(toggle, TAL_GetButtonState), 1u);
    tap(toggle);
    EXPECT_EQ(Tal_DoMethod(toggle, TAL_GetButtonState), 0u);
    EXPECT_EQ(heard.count(toggle, TAL_ButtonClicked), 2u);
}

TEST_F(InButtonWindow, CheckBoxSwitchesAndNotifiesOnce) {
    Listener heard;
    ULONG box = Tal_CreateObject("CheckBox", TAL_SetLabel, "Show tips");
    open({box});
    heard.watch(box, {TAL_SetChecked});
    const Tal_Box& b = boxOf(box);
    tap(box, 4); // on the mark
    EXPECT_EQ(Tal_DoMethod(box, TAL_GetChecked), 1u);
    ASSERT_EQ(heard.all().size(), 1u);
    EXPECT_EQ(heard.all()[0].value, 1);
    tap(box, textWidth("Show") + 16); // on the label
    EXPECT_EQ(Tal_DoMethod(box, TAL_GetChecked), 0u);
    ASSERT_EQ(heard.all().size(), 2u);
    EXPECT_EQ(heard.all()[1].value, 0);
    tap(box, b.width - 2); // beside it: nothing
    EXPECT_EQ(heard.all().size(), 2u);

    // Set by the program: once per call, even when it was already so.
    heard.clear();
    inWindow(box, TAL_SetChecked, 1);
    inWindow(box, TAL_SetChecked, 1);
    EXPECT_EQ(Tal_DoMethod(box, TAL_GetChecked), 1u);
    EXPECT_EQ(heard.all().size(), 2u);
    inWindow(box, TAL_SetChecked, 0);
    EXPECT_EQ(Tal_DoMethod(box, TAL_GetChecked), 0u);
    EXPECT_EQ(heard.all().size(), 3u);
}

TEST_F(InButtonWindow, MutualExcludeSwitchesItsSelection) {
    Listener heard;
    ULONG choice = Tal_CreateObject("MutualExclude");
    std::vector<ULONG> labels;
    for (const char* name : {"Small", "Medium", "Large"}) {
        labels.push_back(Tal_CreateObject("Text", TAL_SetLabel, name));
        Tal_DoMethod(choice, TAL_AddTail, labels.back());
    }
    open({choice});
    heard.watch(choice, {TAL_SetMutualExcludeIndex});
    tap(labels[2]);
    EXPECT_EQ(Tal_DoMethod(choice, TAL_GetMutualExcludeIndex), 2u);
    ULONG firstRow = ULONG(Tal_DoMethod(choice, TAL_GetFirstGroupObject));
    tap(firstRow, boxOf(firstRow).width - 2); // anywhere on the row
    EXPECT_EQ(Tal_DoMethod(choice, TAL_GetMutualExcludeIndex), 0u);
    std::vector<LONG> indexes;
    for (const Heard& h : heard.all()) indexes.push_back(h.value);
    EXPECT_EQ(indexes, (std::vector<LONG>{2, 0}));
}

TEST_F(InButtonWindow, ToolButtonCyclesItsStates) {
    Listener heard;
    ULONG tool = Tal_CreateObject("ToolButton");
    for (ULONG shape : {TAL_SHAPE_PLUS_BOX, TAL_SHAPE_MINUS_BOX, TAL_SHAPE_CROSS})
        Tal_DoMethod(tool, TAL_AddTail,
                     Tal_CreateObject("VectorImage", TAL_SetSpaceFixedWidth, 20, TAL_SetSpaceFixedHeight, 20,
                                      TAL_SetVectorShape, shape));
    open({tool});
    heard.watch(tool, {TAL_SetToolButtonState, TAL_Pressed});
    for (int i = 0; i < 4; i++) tap(tool);
    std::vector<LONG> states;
    for (const Heard& h : heard.all())
        if (h.id == TAL_SetToolButtonState) states.push_back(h.value);
    EXPECT_EQ(states, (std::vector<LONG>{1, 2, 1, 2}));
    EXPECT_EQ(heard.count(tool, TAL_Pressed), 4u);
}

TEST_F(InButtonWindow, ShortcutKeyPressesItsButton) {
    Listener heard;
    ULONG ok = Tal_CreateObject("Button", TAL_SetLabel, " OK ", TAL_SetShortcutKey, VK_RETURN);
    ULONG cancel = Tal_CreateObject("Button", TAL_SetLabel, " Cancel ", TAL_SetShortcutKey, VK_ESCAPE);
    ULONG label = Tal_CreateObject("Text", TAL_SetLabel, "Save changes?");
    open({label, ok, cancel});
    tap(label); // the window gets the keys
    heard.watch(ok, {TAL_ButtonClicked});
    heard.watch(cancel, {TAL_ButtonClicked});
    host_InjectKey(VK_RETURN, true);
    host_InjectKey(VK_RETURN, false);
    settle();
    EXPECT_EQ(heard.count(ok, TAL_ButtonClicked), 1u);
    EXPECT_EQ(heard.count(cancel, TAL_ButtonClicked), 0u);
    EXPECT_EQ(Tal_DoMethod(ok, TAL_GetButtonState), 0u);
    // A hidden button does not hear its key.
    inWindow(cancel, TAL_Hide, 0);
    host_InjectKey(VK_ESCAPE, true);
    host_InjectKey(VK_ESCAPE, false);
    settle();
    EXPECT_EQ(heard.count(cancel, TAL_ButtonClicked), 0u);
}

TEST_F(InButtonWindow, TextShowsItsNumberInItsFormat) {
    ULONG text = Tal_CreateObject("Text", TAL_SetLabel, "R %ld");
    open({text});
    inWindow(text, TAL_SetTextNumber, 7);
    // The ink of the text on the screen is as wide as "R 7" (less the glyphs' side bearings).
    host_Surface* screen = host_AllocSurface(240, 320);
    ASSERT_NE(screen, nullptr);
    host_ComposeScreen(screen);
    LONG x0, y0;
    at(text, &x0, &y0, 0, 0);
    LONG left = 10000, right = -1;
    for (LONG y = y0; y < y0 + boxOf(text).height; y++)
        for (LONG x = x0; x < x0 + boxOf(text).width; x++)
            if ((screen->pixels[y * screen->stride + x] & 0xFF) < 0x80) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    host_FreeSurface(screen);
    ASSERT_GE(right, left);
    EXPECT_LE(right - left + 1, textWidth("R 7"));
    EXPECT_GE(right - left + 1, textWidth("R 7") - 3);
    inWindow(text, TAL_AskMinMax, 0);
    EXPECT_EQ(boxOf(text).width, textWidth("R 7"));
}

TEST_F(InButtonWindow, WrappedTextGetsRoomForItsLines) {
    const char* words = "Painting is kept apart from the picture until it is fixed.";
    ULONG text = Tal_CreateObject("Text", TAL_SetLabel, words, TAL_SetTextMode, TAL_TEXT_WRAPPED);
    open({text}, 90, 200);
    // Limits were asked before the width was known; the window laid itself out again.
    const Tal_Box& b = boxOf(text);
    ULONG probe = own(Tal_CreateObject("Text", TAL_SetLabel, words, TAL_SetTextMode, TAL_TEXT_WRAPPED));
    Tal_DoMethod(probe, TAL_AskMinMax, 0);
    Tal_DoMethod(probe, TAL_SetBox, 0, 0, b.width, 1000);
    Tal_DoMethod(probe, TAL_AskMinMax, 0);
    EXPECT_GT(boxOf(probe).minHeight, 2 * fontHeight());
    EXPECT_GE(b.height, boxOf(probe).minHeight);
}

// A sheet of every gadget of this family in its states, to look at: VELURA_TEST_TMP/buttons.bmp.
TEST_F(InButtonWindow, SheetOfEveryGadget) {
    const char* dir = std::getenv("VELURA_TEST_TMP");
    const std::string path = std::string(dir ? dir : "/tmp") + "/buttons.bmp";
    std::system(("mkdir -p '" + std::string(dir ? dir : "/tmp") + "'").c_str());

    auto row = [](std::initializer_list<ULONG> members) {
        ULONG group =
            Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 4);
        for (ULONG m : members) Tal_DoMethod(group, TAL_AddTail, m);
        return group;
    };
    auto button = [](const char* text) {
        ULONG b = Tal_CreateObject("Button", TAL_SetWeight, 0);
        Tal_DoMethod(b, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, text));
        return b;
    };
    auto shape = [](ULONG s, LONG size) {
        return Tal_CreateObject("VectorImage", TAL_SetSpaceFixedWidth, size, TAL_SetSpaceFixedHeight, size,
                                TAL_SetVectorShape, s);
    };
    auto shapeButton = [&](ULONG s) {
        ULONG b = Tal_CreateObject("Button", TAL_SetWeight, 0);
        Tal_DoMethod(b, TAL_AddTail, shape(s, 13));
        return b;
    };

    ULONG normal = button("Normal"), pressed = button("Pressed"), disabled = button("Disabled");
    ULONG toggleOn = Tal_CreateObject("Button", TAL_SetButtonToggle, 1, TAL_SetWeight, 0);
    Tal_DoMethod(toggleOn, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, "Toggle"));
    ULONG tab1 = button("Tab one"), tab2 = button("Tab two");
    Tal_DoMethod(tab1, TAL_SetButtonFramePair, 9);
    Tal_DoMethod(tab2, TAL_SetButtonFramePair, 9);
    ULONG flat = Tal_CreateObject("Button", TAL_SetGroupFrame, TAL_FRAME_ROLLOVER, TAL_SetWeight, 0);
    Tal_DoMethod(flat, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, "Rollover"));
    ULONG hovered = Tal_CreateObject("Button", TAL_SetGroupFrame, TAL_FRAME_ROLLOVER, TAL_SetWeight, 0);
    Tal_DoMethod(hovered, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, "Hover"));

    ULONG checked = Tal_CreateObject("CheckBox", TAL_SetLabel, "Checked");
    ULONG unchecked = Tal_CreateObject("CheckBox", TAL_SetLabel, "Off");
    ULONG greyed = Tal_CreateObject("CheckBox", TAL_SetLabel, "Disabled");

    ULONG choice = Tal_CreateObject("MutualExclude");
    for (const char* name : {"Small", "Medium", "Large"})
        Tal_DoMethod(choice, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, name));

    std::vector<ULONG> tools;
    for (int i = 0; i < 3; i++) {
        ULONG tool = Tal_CreateObject("ToolButton", TAL_SetWeight, 0);
        for (ULONG s : {TAL_SHAPE_TO_FRONT, TAL_SHAPE_TO_BACK, TAL_SHAPE_QUESTION})
            Tal_DoMethod(tool, TAL_AddTail, shape(s, 20));
        tools.push_back(tool);
    }

    std::vector<ULONG> shapes;
    for (ULONG s : {TAL_SHAPE_ARROW_LEFT, TAL_SHAPE_ARROW_RIGHT, TAL_SHAPE_ARROW_UP, TAL_SHAPE_ARROW_DOWN,
                    TAL_SHAPE_CHECK, TAL_SHAPE_RADIO_OFF, TAL_SHAPE_RADIO_ON, TAL_SHAPE_QUESTION,
                    TAL_SHAPE_CROSS, TAL_SHAPE_MINUS_BOX, TAL_SHAPE_PLUS_BOX})
        shapes.push_back(shape(s, 14));
    ULONG arrowUp = shapeButton(TAL_SHAPE_ARROW_LEFT), arrowDown = shapeButton(TAL_SHAPE_ARROW_RIGHT);
    ULONG closeButton = shapeButton(TAL_SHAPE_CROSS);

    ULONG number = Tal_CreateObject("Text", TAL_SetLabel, "R %ld", TAL_SetTextNumber, 128);
    ULONG turned = Tal_CreateObject("Text", TAL_SetLabel, "Turned", TAL_SetTextRotation, 270);
    ULONG paragraph =
        Tal_CreateObject("Text", TAL_SetLabel, "A wrapped paragraph breaks at blanks to fit its box.",
                         TAL_SetTextMode, TAL_TEXT_WRAPPED);
    ULONG separator = Tal_CreateObject("Space", TAL_SetSpaceFixedHeight, 3, TAL_SetSpaceSeparator, 1);
    ULONG editor = Tal_CreateObject("ShortcutKey", TAL_SetShortcutKey, "N", TAL_SetShortcutKeyQualifier, 1,
                                    TAL_SetShortcutKeyMethodString, "Tal_NewImage");

    ULONG shapeRow =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 3);
    for (ULONG s : shapes) Tal_DoMethod(shapeRow, TAL_AddTail, s);
    Tal_DoMethod(shapeRow, TAL_AddTail, number);

    open({row({normal, pressed, disabled, toggleOn}), row({tab1, tab2, flat, hovered}),
          row({checked, unchecked, greyed}), row({choice, tools[0], tools[1], tools[2], turned}), shapeRow,
          row({arrowUp, arrowDown, closeButton, paragraph}), separator, editor},
         236, 266);
    inWindow(pressed, TAL_SetButtonState, 1);
    inWindow(disabled, TAL_DisableObject, 0);
    inWindow(toggleOn, TAL_SetButtonState, 1);
    inWindow(tab1, TAL_SetButtonState, 1);
    inWindow(checked, TAL_SetChecked, 1);
    inWindow(greyed, TAL_DisableObject, 0);
    inWindow(choice, TAL_SetMutualExcludeIndex, 1);
    inWindow(tools[1], TAL_SetToolButtonState, 1);
    inWindow(tools[2], TAL_SetToolButtonState, 2);
    inWindow(arrowDown, TAL_SetButtonState, 1);
    moveOver(hovered);
    inWindow(window, TAL_DrawObject, 0);
    ASSERT_TRUE(host_SaveScreenshot(path.c_str()));
    std::printf("buttons: %s\n", path.c_str());
}

} // namespace
