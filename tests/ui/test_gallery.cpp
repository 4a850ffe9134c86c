// One of every gadget in a window, driven only by headless scripts as a user's stylus and keyboard would
// drive them; its screenshots (gallery-N.bmp, and -zoom2 copies as the SDL window shows them) are there to
// be looked at. Also the requester with OK and Cancel, answered every way a user can.
#include "ui/Button.h"
#include "ui/ui.h"
#include "ui/Pages.h"
#include "ui/Slider.h"
#include "ui/StringEdit.h"
#include "app/script.h"
#include "host/display.h"
#include "host/intuition.h"
#include "host/msgbox.h"
#include "support/ScriptedWindow.h"
#include "support/TalTest.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

namespace {

using namespace scripted;

// ---------------------------------------------------------------------------------------------------
// The gallery.

class Gallery : public Scripted {
  protected:
    void SetUp() override {
        Scripted::SetUp();
        // clang-format off
        window = Tal_CreateObjects(0,
            TAL_TREE_OBJECT, "Window", TAL_SetWindowX, 0, TAL_SetWindowY, 0, TAL_SetWindowW, 240,
                TAL_SetWindowH, 268, TAL_SetGroupFrame, 6,
            TAL_TREE_OBJECT, "Pages", TAL_TREE_HANDLE, &pages, TAL_AddingPageLabels, 1, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE);
        // clang-format on
        ASSERT_NE(window, 0u);
        for (const char* name : {"Buttons", "Values", "Fields"})
            tabs.push_back(add(pages, Tal_CreateObject("Text", TAL_SetLabel, name)));
        Tal_DoMethod(pages, TAL_AddingPageLabels, 0);
        for (int i = 0; i < 3; i++)
            page[i] = add(pages, Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL,
                                                  TAL_SetGroupSpacing, 4, TAL_SetGroupMargin, 4,
                                                  TAL_SetGroupFrame, 6));
        buildButtons();
        buildValues();
        buildFields();
        Tal_DoMethod(window, TAL_Start);
        settle();
        // The tabs are buttons holding the labels.
        for (ULONG& t : tabs) t = Tal_GetParentObject(t);
    }
    static ULONG add(ULONG group, ULONG object) {
        Tal_DoMethod(group, TAL_AddTail, object);
        return object;
    }
    static ULONG row(ULONG group) {
        return add(group, Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL,
                                           TAL_SetGroupSpacing, 6, TAL_SetWeight, 0));
    }
    void buildButtons() {
        const ULONG top = row(page[0]);
        button = add(top, Tal_CreateObject("Button", TAL_SetLabel, " Press me "));
        tool = add(top, Tal_CreateObject("ToolButton"));
        for (ULONG picture : {1u, 2u, 3u})
            add(tool, Tal_CreateObject("BitMap", TAL_SetBuiltInPicture, picture));
        add(top,
            Tal_CreateObject("VectorImage", TAL_SetVectorShape, TAL_SHAPE_QUESTION, TAL_SetSpaceSize, 18));
        check = add(page[0], Tal_CreateObject("CheckBox", TAL_SetLabel, "Show the grid"));
        choice = add(page[0], Tal_CreateObject("MutualExclude"));
        for (const char* size : {"Small brush", "Medium brush", "Large brush"})
            add(choice, Tal_CreateObject("Text", TAL_SetLabel, size, TAL_SetTextMode, TAL_TEXT_PLAIN));
        Tal_DoMethod(choice, TAL_SetMutualExcludeIndex, 0);
        add(page[0], Tal_CreateObject("Space", TAL_SetSpaceSeparator, 1, TAL_SetSpaceFixedHeight, 5));
        add(page[0], Tal_CreateObject("Text", TAL_SetTextMode, TAL_TEXT_WRAPPED, TAL_SetLabel,
                                      "A paragraph of text wraps at blanks to fit the width it is given."));
        add(page[0], Tal_CreateObject("BitMap", TAL_LoadBitMap, "Data/Images/DidYouKnow.iff"));
        add(page[0], Tal_CreateObject("Space"));
    }
    void buildValues() {
        add(page[1], Tal_CreateObject("Text", TAL_SetLabel, "Opacity"));
        compact = add(page[1], Tal_CreateObject("CompactSlider", TAL_SetMinimum, 0, TAL_SetMaximum, 100,
                                                TAL_SetValueFormat, "%ld%%", TAL_SetValue, 50));
        slider = add(page[1],
                     Tal_CreateObject("Slider", TAL_SetMinimum, -200, TAL_SetMaximum, 200, TAL_SetValue, 0));
        scroller = add(page[1], Tal_CreateObject("Scroller", TAL_SetScrollerTotal, 100,
                                                 TAL_SetScrollerVisible, 20, TAL_SetScrollerValue, 0));
        const ULONG dials = row(page[1]);
        knob = add(dials, Tal_CreateObject("Knob", TAL_SetValue, 0));
        angle = add(dials, Tal_CreateObject("Angle", TAL_SetAngle, 45));
        progress =
            add(page[1], Tal_CreateObject("ProgressBar", TAL_SetProgressTotal, 100, TAL_SetProgressValue, 0));
        Tal_DoMethod(progress, TAL_SetProgressBarLabel, "Saving");
        add(page[1], Tal_CreateObject("Space"));
    }
    void buildFields() {
        name = add(page[2], Tal_CreateObject("StringEdit"));
        number = add(page[2], Tal_CreateObject("StringEdit", TAL_SetStringFlags, TAL_STRING_NUMBER));
        length = add(page[2], Tal_CreateObject("MeasurementEdit", TAL_SetMeasurementBaseUnit, TAL_UNIT_PIXELS,
                                               TAL_SetMeasurementResolution, Tal_FloatToULONG(300.0f),
                                               TAL_SetMeasurementUnit, TAL_UNIT_MM));
        Tal_DoMethod(length, TAL_SetMeasurementValue, Tal_FloatToULONG(300.0f));
        scrolling = add(page[2], Tal_CreateObject("VirtualGroup"));
        // Labels are kept by reference.
        static const char* const layers[] = {"Background", "Sky",  "Hills", "Trees", "House",  "Path",
                                             "Lake",       "Boat", "Birds", "Sun",   "Clouds", "Signature"};
        for (const char* layer : layers)
            add(scrolling, Tal_CreateObject("Text", TAL_SetTextMode, TAL_TEXT_PLAIN, TAL_SetLabel, layer));
        add(page[2], Tal_CreateObject("ShortcutKey", TAL_SetShortcutKey, "N", TAL_SetShortcutKeyMethodString,
                                      "Tal_NewImage"));
    }
    static LONG value(ULONG object, ULONG method) { return LONG(Tal_DoMethod(object, method)); }
    std::string textOf(ULONG field) const {
        return reinterpret_cast<const char*>(Tal_DoMethod(field, TAL_GetString));
    }
    void show(int index) {
        run(tap(tabs[size_t(index)]));
        ASSERT_EQ(Tal_DoMethod(pages, TAL_GetSelectedIndex), ULONG(index));
    }

    ULONG pages = 0, page[3] = {};
    std::vector<ULONG> tabs;
    ULONG button = 0, tool = 0, check = 0, choice = 0;
    ULONG compact = 0, slider = 0, scroller = 0, knob = 0, angle = 0, progress = 0;
    ULONG name = 0, number = 0, length = 0, scrolling = 0;
    Heard heard;
};

TEST_F(Gallery, ButtonsAndToggles) {
    heard.watch(button, TAL_Pressed);
    heard.watch(button, TAL_Released);
    heard.watch(check, TAL_SetChecked);
    heard.watch(choice, TAL_SetMutualExcludeIndex);
    heard.watch(tool, TAL_SetToolButtonState);
    screenshots("gallery-1");

    // A press and a release of the button, each heard once.
    run("down " + at(button) + "\n");
    EXPECT_EQ(heard.values(TAL_Pressed).size(), 1u);
    EXPECT_TRUE(heard.values(TAL_Released).empty());
    run("up " + at(button) + "\n");
    EXPECT_EQ(heard.values(TAL_Released).size(), 1u);

    run(tap(check, 6) + tap(check, 6) + tap(check, 30)); // on the mark, then on the label
    EXPECT_EQ(heard.values(TAL_SetChecked), (std::vector<LONG>{1, 0, 1}));
    EXPECT_EQ(value(check, TAL_GetChecked), 1);

    const ULONG last = ULONG(Tal_DoMethod(choice, TAL_GetLastGroupObject));
    run(tap(last));
    EXPECT_EQ(value(choice, TAL_GetMutualExcludeIndex), 2);
    EXPECT_EQ(heard.values(TAL_SetMutualExcludeIndex), (std::vector<LONG>{2}));

    run(tap(tool));
    EXPECT_FALSE(heard.values(TAL_SetToolButtonState).empty());
}

TEST_F(Gallery, ValueGadgets) {
    show(1);
    heard.watch(compact, TAL_SetValue);
    heard.watch(slider, TAL_SetValue);
    heard.watch(scroller, TAL_SetScrollerValue);
    heard.watch(knob, TAL_SetValue);
    heard.watch(angle, TAL_SetAngle);

    // The plain slider's thumb dragged from the middle to the far right end and beyond: the maximum.
    const Tal_Box& s = boxOf(slider);
    run("down " + at(slider) + "\nmove " + at(slider, s.width - 1) + "\nup " + at(slider, s.width + 40) +
        "\n");
    EXPECT_EQ(value(slider, TAL_GetValue), 200);
    EXPECT_FALSE(heard.values(TAL_SetValue).empty());

    // The compact slider: its right arrow, the last thing in it, steps up by one.
    const Tal_Box& c = boxOf(compact);
    run(tap(compact, c.width - 4));
    EXPECT_EQ(value(compact, TAL_GetValue), 51);

    // The scroller: a tap on the track beyond the thumb pages on.
    run(tap(scroller, boxOf(scroller).width - 20));
    EXPECT_GT(value(scroller, TAL_GetScrollerValue), 0);
    EXPECT_FALSE(heard.values(TAL_SetScrollerValue).empty());

    // The knob points where it is pressed: straight below its centre (one pixel past the middle of its
    // square) is 180 degrees.
    const Tal_Box& k = boxOf(knob);
    run(tap(knob, k.width / 2 + 1, k.height / 2 + 1 + 20));
    EXPECT_EQ(value(knob, TAL_GetValue), 180);

    // The angle's right step button.
    const ULONG column = ULONG(Tal_DoMethod(angle, TAL_GetFirstGroupObject));
    const ULONG steps = ULONG(Tal_DoMethod(column, TAL_GetLastGroupObject));
    run(tap(ULONG(Tal_DoMethod(steps, TAL_GetLastGroupObject))));
    EXPECT_EQ(value(angle, TAL_GetAngle), 46);
    EXPECT_EQ(heard.values(TAL_SetAngle), (std::vector<LONG>{46}));

    // A progress bar shows its value as it is set (as a save in progress would set it).
    Tal_DoMethod(progress, TAL_SetProgressValue, 65);
    run("wait");
    EXPECT_EQ(value(progress, TAL_GetProgressValue), 65);
    screenshots("gallery-2");
}

TEST_F(Gallery, FieldsAndScrolling) {
    show(2);
    heard.watch(name, TAL_SetString);
    heard.watch(number, TAL_SetStringNumber);
    heard.watch(length, TAL_SetMeasurementValue);

    run(tap(name) + "text Holiday\nkey Return\n");
    EXPECT_EQ(textOf(name), "Holiday");
    EXPECT_EQ(heard.values(TAL_SetString).size(), 1u);

    run(tap(number) + "text 0x20\nkey Return\n");
    EXPECT_EQ(value(number, TAL_GetStringNumber), 32);
    EXPECT_EQ(heard.values(TAL_SetStringNumber), (std::vector<LONG>{32}));

    // 300 pixels at 300 dpi show as 25 mm; 50 mm typed become 590.55 pixels; px -> mm -> px keeps them.
    EXPECT_EQ(textOf(length), "25 mm");
    std::string erase;
    for (int i = 0; i < 8; i++) erase += "key BackSpace\n";
    run(tap(length) + "key End\n" + erase + "text 50\nkey Return\n");
    const float typed = Tal_ULONGToFloat(ULONG(Tal_DoMethod(length, TAL_GetMeasurementValue)));
    EXPECT_NEAR(typed, 50 / 25.4000508001016 * 300, 0.1);
    EXPECT_FALSE(heard.values(TAL_SetMeasurementValue).empty());
    Tal_DoMethod(length, TAL_SetMeasurementUnits, TAL_UNIT_PIXELS);
    Tal_DoMethod(length, TAL_SetMeasurementUnits, TAL_UNIT_MM);
    EXPECT_EQ(Tal_ULONGToFloat(ULONG(Tal_DoMethod(length, TAL_GetMeasurementValue))), typed);

    // The scrolling group: its down arrow moves the rows up.
    const ULONG vertical = ULONG(Tal_DoMethod(scrolling, TAL_GetVScroller));
    ASSERT_EQ(Tal_DoMethod(vertical, TAL_IsHidden), 0u);
    run(tap(ULONG(Tal_DoMethod(vertical, TAL_GetLastGroupObject))));
    EXPECT_GT(value(scrolling, TAL_GetScrollY), 0);
    screenshots("gallery-3");
}

// A stored window of nested groups and gadgets comes back as it was (gadgets made of parts of their own
// store only what their callers added), and disposing it frees the one restored text its labels point
// into exactly once (the groups do not hand it on to their members).
TEST(StoredWindow, RestoresAndDisposesOnce) {
    Tal_UseInterfaceClasses();
    Tal_Init();
    // clang-format off
    const ULONG window = Tal_CreateObjects(0,
        TAL_TREE_OBJECT, "Window", TAL_SetWindowW, 200, TAL_SetWindowH, 150,
            TAL_TREE_VGROUP,
                TAL_TREE_HGROUP,
                    TAL_TREE_OBJECT, "Text", TAL_SetLabel, "Width", TAL_TREE_CLOSE,
                    TAL_TREE_OBJECT, "Button", TAL_TREE_LABEL, " Apply ", TAL_TREE_CLOSE,
                TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "CheckBox", TAL_SetLabel, "Keep proportions", TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "MutualExclude",
                    TAL_TREE_OBJECT, "Text", TAL_SetLabel, "Pixels", TAL_TREE_CLOSE,
                    TAL_TREE_OBJECT, "Text", TAL_SetLabel, "Percent", TAL_TREE_CLOSE,
                TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "ToolButton",
                    TAL_TREE_OBJECT, "VectorImage", TAL_SetVectorShape, TAL_SHAPE_CROSS, TAL_TREE_CLOSE,
                TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "CompactSlider", TAL_SetMinimum, 1, TAL_SetMaximum, 100, TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "Angle", TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "ProgressBar", TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    // clang-format on
    ASSERT_NE(window, 0u);
    const std::string file = tmpFile("window.TalStr");
    ASSERT_EQ(Tal_StoreObjectToDisk(window, file.c_str(), 0), 1u);
    const ULONG back = Tal_RestoreObjectFromDisk(file.c_str());
    ASSERT_NE(back, 0u);
    ULONG size = 0;
    char* first = Tal_StoreObjectToBuffer(window, &size, 0);
    char* second = Tal_StoreObjectToBuffer(back, &size, 0);
    ASSERT_TRUE(first && second);
    EXPECT_STREQ(first, second);
    Tal_FreeStoredObjectBuffer(first);
    Tal_FreeStoredObjectBuffer(second);
    Tal_DisposeObject(back); // ASan reports a second release of the text
    Tal_DisposeObject(window);
    Tal_CleanUp();
}

// ---------------------------------------------------------------------------------------------------
// The requester with OK and Cancel.

class Requester : public Scripted {
  protected:
    static constexpr const char* kTitle = "Discard";
    // Asks in another task (a requester blocks its caller); the answer comes once given. A requester
    // answered in advance is never shown.
    std::future<ULONG> ask(bool answered = false) {
        auto answer = std::async(std::launch::async, [] {
            Task* task = Tal__AddThisProcess();
            const ULONG text = Tal_CreateObject("Text", TAL_SetLabel, "Discard the changes?");
            const ULONG result = Tal_ShowRequesterA(kTitle, text, 2, 0, 0, nullptr);
            Tal_DisposeObject(text); // the caller's to keep (no dispose flags)
            Tal__RemoveThisProcess(task);
            return result;
        });
        for (int i = 0; i < 1000 && !answered && !shown(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        settle();
        return answer;
    }
    // The requester's window object while it is on the screen (it opens centred), else 0.
    static ULONG shown() {
        for (host_Window* hw = host_WindowFromPoint(120, 160); hw; hw = host_GetParent(hw))
            if (const char* name = host_GetName(hw); name && std::string(name) == kTitle)
                return reinterpret_cast<Window*>(host_GetUserData(hw))->ObjectHandle;
        return 0;
    }
    // The object in a tree whose label is `label`.
    static ULONG labelled(ULONG tree, const std::string& label) {
        const auto* own = reinterpret_cast<const char*>(Tal_DoMethod(tree, TAL_GetLabel));
        if (own && label == own) return tree;
        for (ULONG m = ULONG(Tal_DoMethod(tree, TAL_GetFirstGroupObject)); m;
             m = ULONG(Tal_DoMethod(tree, TAL_GetNextGroupObject, m)))
            if (ULONG found = labelled(m, label)) return found;
        return 0;
    }
};

TEST_F(Requester, AnsweredByEnterEscapeATapOrAScript) {
    struct Case {
        const char* how;
        std::string script; // empty: tap the button named by `tap`
        const char* tap;
        ULONG answer;
    };
    const Case cases[] = {
        {"tap on OK", "", " Ok ", 1},
        {"Enter", "key Return", nullptr, 1},
        {"Escape", "key Escape", nullptr, 0},
        {"tap on Cancel", "", "Cancel", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        std::future<ULONG> answer = ask();
        ASSERT_NE(shown(), 0u);
        if (c.tap) {
            const ULONG requester = shown();
            ASSERT_NE(requester, 0u);
            const ULONG button = labelled(requester, c.tap);
            ASSERT_NE(button, 0u);
            run("tap " + at(requester, button, -1, -1));
        } else {
            run(c.script);
        }
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(answer.get(), c.answer);
    }
    // A script answers before the requester is shown; it never opens.
    for (LONG given : {1, 0}) {
        run("answer " + std::to_string(given));
        std::future<ULONG> answer = ask(true);
        ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(answer.get(), ULONG(given));
    }
}

} // namespace
