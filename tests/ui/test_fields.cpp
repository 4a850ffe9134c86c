#include "ui/StringEdit.h"
#include "host/controls.h"
#include "host/display.h"
#include "support/TalTest.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Stand-ins for the list and label classes while the real ones are not registered: only what the units
// choice uses of them (entries, selecting by index with its notification, the selected index).
Tal_Class listStandIn;
struct ListInstance {
    Tal_Object header;
    std::vector<ULONG>* entries;
    LONG selected;
};
void* newList(const TagItem*) {
    auto* l = static_cast<ListInstance*>(Tal_AllocObjectMem(&listStandIn));
    l->header.superObject = Tal_CreateObject("Root");
    l->entries = new std::vector<ULONG>;
    l->selected = -1;
    return l;
}
void disposeList(void* instance) {
    auto* l = static_cast<ListInstance*>(instance);
    for (ULONG e : *l->entries) Tal_DisposeObject(e);
    delete l->entries;
    Tal_DisposeObject(l->header.superObject);
    Tal_FreeObjectMem(l);
}
Tal_Word listMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* l = static_cast<ListInstance*>(instance);
    switch (id) {
    case TAL_AddTail:
        l->entries->push_back(ULONG(args[0]));
        return 1;
    case TAL_SelectMemberIndex:
        if (LONG(args[0]) != l->selected) {
            l->selected = LONG(args[0]);
            Tal_DoNotify(l->header.handle, TAL_SelectMemberIndex, args[0]);
        }
        return 1;
    case TAL_GetSelectedIndex:
        return Tal_Word(l->selected);
    default:
        return Tal_DoMethodA(l->header.superObject, id, args);
    }
}

// What listeners heard: identifiers with their first word, and the texts of TAL_SetString.
struct Heard {
    std::mutex mutex;
    std::vector<std::pair<ULONG, Tal_Word>> events;
    std::vector<std::string> texts;

    static Tal_Word hear(Tal_Word user, ULONG, ULONG trigger, const Tal_Word* args) {
        auto* self = reinterpret_cast<Heard*>(user);
        std::lock_guard lock(self->mutex);
        self->events.push_back({trigger, args[0]});
        if (trigger == TAL_SetString) self->texts.push_back(reinterpret_cast<const char*>(args[0]));
        return 0;
    }
    void listen(ULONG object, ULONG id) {
        Tal_AddCallBackNotify(object, id, TAL_AnyValue, hear, reinterpret_cast<Tal_Word>(this));
    }
    std::vector<Tal_Word> values(ULONG id) {
        std::lock_guard lock(mutex);
        std::vector<Tal_Word> out;
        for (auto& [trigger, value] : events)
            if (trigger == id) out.push_back(value);
        return out;
    }
    std::vector<std::string> strings() {
        std::lock_guard lock(mutex);
        return texts;
    }
};

std::string textOf(ULONG field) {
    return reinterpret_cast<const char*>(Tal_DoMethod(field, TAL_GetString));
}
float valueOf(ULONG field) {
    return Tal_ULONGToFloat(ULONG(Tal_DoMethod(field, TAL_GetMeasurementValue)));
}
void setValue(ULONG field, float v) {
    Tal_DoMethod(field, TAL_SetMeasurementValue, Tal_FloatToULONG(v));
}
void setResolution(ULONG field, float r) {
    Tal_DoMethod(field, TAL_SetMeasurementResolution, Tal_FloatToULONG(r));
}
ULONG measurement(ULONG base, ULONG display, float resolution) {
    ULONG m = Tal_CreateObject("MeasurementEdit", TAL_SetMeasurementBaseUnit, base, TAL_SetMeasurementUnit,
                               display);
    setResolution(m, resolution);
    return m;
}

class Fields : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        if (!Tal_FindClassFromName("PopUpList"))
            Tal__SetupClass(&listStandIn, "PopUpList", 0x00290000, "Root", newList, disposeList, listMethod,
                            nullptr, sizeof(ListInstance));
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        for (ULONG o : owned) Tal_DisposeObject(o);
        settle();
        Tal__CleanupClass(&listStandIn);
        TalFixture::TearDown();
    }
    ULONG keep(ULONG object) {
        owned.push_back(object);
        return object;
    }

    // A started window at (x, y) holding a vertical group of the given members.
    ULONG window(LONG x, LONG y, LONG w, LONG h, std::initializer_list<ULONG> members) {
        ULONG win = keep(Tal_CreateObject("Window", TAL_SetWindowX, x, TAL_SetWindowY, y, TAL_SetWindowW, w,
                                          TAL_SetWindowH, h));
        // Frame 6 erases the background; flag 1 lets the group fill the window.
        ULONG group = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 4,
                                       TAL_SetGroupMargin, 4, TAL_SetGroupFrame, 6, TAL_SetGroupFlags, 1);
        for (ULONG m : members) Tal_DoMethod(group, TAL_AddTail, m);
        Tal_DoMethod(win, TAL_AddTail, group);
        Tal_DoMethod(win, TAL_Start);
        settle();
        hostWindow = reinterpret_cast<Window*>(Tal_DoMethod(win, TAL_GetHostWindow));
        return win;
    }
    // The middle of an object's box on the logical screen.
    std::pair<LONG, LONG> screenPoint(ULONG object, LONG dx = 0) {
        const Tal_Box* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
        host_Rect r = host_GetScreenRect(hostWindow->HostWindow);
        return {r.x + hostWindow->BorderLeft + box->x + (dx ? dx : box->width / 2),
                r.y + hostWindow->BorderTop + box->y + box->height / 2};
    }
    void tap(ULONG object, LONG dx = 0) {
        auto [x, y] = screenPoint(object, dx);
        host_InjectMouseMove(x, y);
        host_InjectButton(0, true, x, y);
        host_InjectButton(0, false, x, y);
        settle();
    }
    static void type(const std::string& text) {
        for (char c : text) host_InjectChar(UBYTE(c));
    }
    static void key(ULONG vk, UBYTE character = 0) {
        host_InjectKey(vk, true);
        if (character) host_InjectChar(character);
        host_InjectKey(vk, false);
    }
    static void enter() {
        key(VK_RETURN, '\r');
        settle();
    }
    // Whether the host control is showing over the field.
    bool editing(ULONG field) {
        auto [x, y] = screenPoint(field);
        return host_IsEditControl(host_WindowFromPoint(x, y));
    }

    std::vector<ULONG> owned;
    Window* hostWindow = nullptr;
    Heard heard; // outlives the objects, which go in TearDown
};

// ---------------------------------------------------------------------------------------------------
// StringEdit without a window.

TEST_F(Fields, KeepsAtMost255CharactersAndReadsNumbersLikeC) {
    ULONG field = keep(Tal_CreateObject("StringEdit"));
    Tal_DoMethod(field, TAL_SetString, std::string(300, 'a').c_str());
    EXPECT_EQ(textOf(field), std::string(255, 'a'));

    const struct {
        const char* text;
        LONG number;
    } cases[] = {{"010", 8},
                 {"0x1F", 31},
                 {"  -42", -42},
                 {"+7 px", 7},
                 {"abc", 0},
                 {"09", 0},
                 {"0x", 0},
                 {"", 0},
                 {"99999999999", 2147483647},
                 {"-0x80000001", -2147483647 - 1}};
    for (const auto& c : cases) {
        Tal_DoMethod(field, TAL_SetString, c.text);
        EXPECT_EQ(LONG(Tal_DoMethod(field, TAL_GetStringNumber)), c.number) << c.text;
    }
    Tal_DoMethod(field, TAL_SetStringNumber, -5);
    EXPECT_EQ(textOf(field), "-5");
    EXPECT_EQ(Tal_DoMethod(field, TAL_GetStringNumber), Tal_Word(intptr_t(-5)));
}

TEST_F(Fields, LimitsFollowTheMaximumAndTheFrame) {
    ULONG field =
        keep(Tal_CreateObject("StringEdit", TAL_SetStringFlags, TAL_STRING_NUMBER, TAL_SetStringMaxChars, 3));
    host_Font* font = host_InterfaceFont();
    const LONG digit = host_FontTextWidth(font, "023456789", 9) / 9;
    const LONG height = host_FontHeight(font);
    Tal_DoMethod(field, TAL_AskMinMax, 0);
    auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(field, TAL_GetBox));
    EXPECT_EQ(box->minWidth, 3 * digit + 3 * 2);
    EXPECT_EQ(box->minHeight, height + 2 * 2);
    EXPECT_EQ(box->maxHeight, box->minHeight);
    // Without a frame there is no border either.
    Tal_DoMethod(field, TAL_SetGroupFrame, 6);
    Tal_DoMethod(field, TAL_AskMinMax, 0);
    EXPECT_EQ(box->minWidth, 3 * digit);
    EXPECT_EQ(box->minHeight, height);
}

// ---------------------------------------------------------------------------------------------------
// MeasurementEdit without a window.

TEST_F(Fields, ShowsValuesInTheDisplayUnit) {
    const struct {
        ULONG base, display;
        float resolution, value;
        const char* text;
    } cases[] = {
        {TAL_UNIT_PIXELS, TAL_UNIT_MM, 300, 300, "25 mm"},
        {TAL_UNIT_PIXELS, TAL_UNIT_CM, 300, 300, "2.540 cm"},
        {TAL_UNIT_PIXELS, TAL_UNIT_INCHES, 300, 600, "2.000 inches"},
        {TAL_UNIT_MM, TAL_UNIT_PIXELS, 72, 25.4f, "72 pixels"},
        {TAL_UNIT_PIXELS, TAL_UNIT_PIXELS, 0, 42, "42 pixels"}, // no resolution needed
        {TAL_UNIT_DPI, TAL_UNIT_DPI, 72, 300, "300.000 dpi"},
    };
    for (const auto& c : cases) {
        ULONG m = keep(measurement(c.base, c.display, c.resolution));
        heard.listen(m, TAL_SetMeasurementValue);
        setValue(m, c.value);
        EXPECT_EQ(textOf(m), c.text);
        EXPECT_EQ(valueOf(m), c.value) << c.text;
        EXPECT_EQ(heard.values(TAL_SetMeasurementValue).back(), Tal_FloatToULONG(c.value));
    }
}

TEST_F(Fields, ChangingUnitsDoesNotMoveTheValue) {
    ULONG m = keep(measurement(TAL_UNIT_PIXELS, TAL_UNIT_PIXELS, 300));
    setValue(m, 300);
    for (ULONG unit :
         {TAL_UNIT_MM, TAL_UNIT_CM, TAL_UNIT_INCHES, TAL_UNIT_PIXELS, TAL_UNIT_MM, TAL_UNIT_PIXELS}) {
        Tal_DoMethod(m, TAL_SetMeasurementUnit, unit);
        EXPECT_EQ(Tal_DoMethod(m, TAL_GetMeasurementUnit), unit);
        EXPECT_EQ(valueOf(m), 300.0f) << unit;
    }
    EXPECT_EQ(textOf(m), "300.000000 pixels");
    // A text set from outside is read in the display unit.
    Tal_DoMethod(m, TAL_SetMeasurementUnit, TAL_UNIT_INCHES);
    Tal_DoMethod(m, TAL_SetString, "2 inches");
    EXPECT_FLOAT_EQ(valueOf(m), 600.0f);
    Tal_DoMethod(m, TAL_SetMeasurementUnit, TAL_UNIT_PIXELS);
    EXPECT_FLOAT_EQ(valueOf(m), 600.0f);
}

TEST_F(Fields, NoPixelConversionWithoutAResolution) {
    ULONG m = keep(measurement(TAL_UNIT_PIXELS, TAL_UNIT_MM, 300));
    setValue(m, 300);
    setResolution(m, 0);
    EXPECT_EQ(textOf(m), "25 mm");
    Tal_DoMethod(m, TAL_SetMeasurementUnit, TAL_UNIT_CM); // waits for a resolution
    EXPECT_EQ(textOf(m), "25 mm");
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMeasurementUnit), TAL_UNIT_MM);
    setValue(m, 600);
    EXPECT_EQ(textOf(m), "25 mm");
    EXPECT_EQ(valueOf(m), 600.0f);
    setResolution(m, -3);
    EXPECT_EQ(textOf(m), "25 mm");
    // With a resolution again the unit asked for is taken: 600 pixels at 150 dpi.
    setResolution(m, 150);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMeasurementUnit), TAL_UNIT_CM);
    EXPECT_EQ(textOf(m).substr(0, 5), "10.16");
    EXPECT_EQ(valueOf(m), 600.0f);
    EXPECT_EQ(Tal_DoMethod(m, TAL_SetMeasurementValue, Tal_FloatToULONG(NAN)), 0u);
    EXPECT_EQ(valueOf(m), 600.0f);
}

TEST_F(Fields, OneUnitForEveryFieldAndEveryChoice) {
    ULONG a = keep(measurement(TAL_UNIT_PIXELS, TAL_UNIT_PIXELS, 300));
    ULONG b = keep(measurement(TAL_UNIT_MM, TAL_UNIT_MM, 300));
    ULONG dpi = keep(measurement(TAL_UNIT_DPI, TAL_UNIT_DPI, 72));
    ULONG prefs = keep(Tal_CreateObject("MeasurementUnitsPrefs"));
    ASSERT_NE(prefs, 0u);
    ULONG list = ULONG(Tal_DoMethod(prefs, TAL_GetFirstGroupObject));
    EXPECT_EQ(Tal_DoMethod(list, TAL_GetSelectedIndex), TAL_UNIT_PIXELS - 1);
    setValue(a, 300);
    setValue(b, 10);
    setValue(dpi, 300);

    Tal_DoMethod(a, TAL_SetMeasurementUnits, TAL_UNIT_CM);
    EXPECT_EQ(Tal_DoMethod(a, TAL_GetMeasurementUnit), TAL_UNIT_CM);
    EXPECT_EQ(Tal_DoMethod(b, TAL_GetMeasurementUnit), TAL_UNIT_CM);
    EXPECT_EQ(textOf(b), "1.000000 cm");
    EXPECT_EQ(Tal_DoMethod(list, TAL_GetSelectedIndex), 0u);
    EXPECT_EQ(textOf(dpi), "300.000 dpi");
    EXPECT_EQ(Tal_DoMethod(dpi, TAL_GetMeasurementUnit), TAL_UNIT_DPI);

    // A choice in the list: entry 1 is millimetres.
    Tal_DoMethod(list, TAL_SelectMemberIndex, 1);
    EXPECT_EQ(Tal__GetMeasurementUnits(), TAL_UNIT_MM);
    EXPECT_EQ(textOf(a), "25.400051 mm");
    EXPECT_EQ(valueOf(a), 300.0f);
    EXPECT_EQ(Tal_DoMethod(b, TAL_GetMeasurementUnit), TAL_UNIT_MM);
    // A new field starts in the program's unit.
    EXPECT_EQ(Tal_DoMethod(keep(Tal_CreateObject("MeasurementEdit")), TAL_GetMeasurementUnit), TAL_UNIT_MM);
    EXPECT_EQ(Tal_DoMethod(a, TAL_SetMeasurementUnits, 7), 0u);
}

// ---------------------------------------------------------------------------------------------------
// Editing in a window.

TEST_F(Fields, TypingChangesTheValueAndNotifies) {
    ULONG text = Tal_CreateObject("StringEdit");
    ULONG number = Tal_CreateObject("StringEdit", TAL_SetStringFlags, TAL_STRING_NUMBER);
    ULONG length = measurement(TAL_UNIT_PIXELS, TAL_UNIT_MM, 300);
    setValue(length, 300);
    heard.listen(text, TAL_SetString);
    heard.listen(number, TAL_SetStringNumber);
    heard.listen(length, TAL_SetMeasurementValue);
    window(10, 10, 200, 150, {text, number, length});
    ASSERT_NE(hostWindow, nullptr);

    tap(text);
    ASSERT_TRUE(editing(text));
    type("Hello");
    enter();
    EXPECT_EQ(textOf(text), "Hello");
    EXPECT_EQ(heard.strings(), std::vector<std::string>{"Hello"});
    EXPECT_EQ(Tal_DoMethod(text, TAL_GetStringCursor), 5u);
    EXPECT_FALSE(editing(text));

    // A press elsewhere ends the editing and takes the text too.
    tap(text);
    type(" there");
    tap(number);
    EXPECT_FALSE(editing(text));
    EXPECT_TRUE(editing(number));
    EXPECT_EQ(textOf(text), "Hello there");
    type("0x1F");
    settle();
    // Read while still being typed (an OK button may be handled before the focus report): it counts.
    EXPECT_EQ(Tal_DoMethod(number, TAL_GetStringNumber), 31u);
    enter();
    EXPECT_EQ(heard.values(TAL_SetStringNumber), std::vector<Tal_Word>{31});

    // The measurement field: its text replaced by 50, in millimetres.
    tap(length);
    key(VK_END);
    for (int i = 0; i < 8; i++) key(VK_BACK, '\b');
    type("50");
    enter();
    const float expected = float(50 * 0.03937 * 300);
    ASSERT_FALSE(heard.values(TAL_SetMeasurementValue).empty());
    EXPECT_FLOAT_EQ(Tal_ULONGToFloat(ULONG(heard.values(TAL_SetMeasurementValue).back())), expected);
    EXPECT_FLOAT_EQ(valueOf(length), expected);
    // Typed once, the value is exact again: switching units does not move it.
    Tal_DoMethod(length, TAL_SetMeasurementUnits, TAL_UNIT_PIXELS);
    Tal_DoMethod(length, TAL_SetMeasurementUnits, TAL_UNIT_MM);
    EXPECT_FLOAT_EQ(valueOf(length), expected);

    // Something that is no number brings the value back.
    tap(length);
    key(VK_END);
    for (int i = 0; i < 20; i++) key(VK_BACK, '\b');
    type("abc");
    enter();
    EXPECT_EQ(textOf(length), "50 mm");
    EXPECT_FLOAT_EQ(valueOf(length), expected);
}

TEST_F(Fields, TypingStopsAtTheMaximum) {
    ULONG text = Tal_CreateObject("StringEdit");
    ULONG shortText = Tal_CreateObject("StringEdit", TAL_SetStringMaxChars, 4);
    window(10, 10, 200, 100, {text, shortText});
    tap(text);
    type(std::string(300, 'x'));
    enter();
    EXPECT_EQ(textOf(text), std::string(255, 'x'));
    // A text set longer than the maximum is cut to it once it has been edited.
    Tal_DoMethod(shortText, TAL_SetString, "abcdefgh");
    tap(shortText);
    type("zz");
    enter();
    EXPECT_EQ(textOf(shortText), "abcd");
}

TEST_F(Fields, ANarrowFieldKeepsItsCursorInView) {
    ULONG text = Tal_CreateObject("StringEdit");
    window(10, 10, 200, 60, {text});
    tap(text);
    type("Narrow");
    enter();
    auto* root = Tal__GetRootInstance(text);
    const Tal_Box wide = root->box;
    // Narrower than one blank: the first character drawn stops at the cursor.
    root->box.minWidth = 0;
    Tal_DoMethod(text, TAL_SetBox, wide.x, wide.y, 2, wide.height);
    Tal_DoMethod(text, TAL_DrawObject);
    settle();
    Tal_DoMethod(text, TAL_SetBox, wide.x, wide.y, wide.width, wide.height);
    Tal_DoMethod(text, TAL_DrawObject);
    settle();
    // Wide again, the whole text shows: dark pixels inside the field.
    host_Surface* screen = host_AllocSurface(240, 320);
    host_ComposeScreen(screen);
    auto [x0, y] = screenPoint(text, 1);
    int dark = 0;
    for (LONG yy = y - 4; yy <= y + 4; yy++)
        for (LONG x = x0; x < x0 + 40; x++)
            dark += (screen->pixels[size_t(yy) * screen->stride + x] & 0xFF) < 0x60;
    host_FreeSurface(screen);
    EXPECT_GT(dark, 10);
}

TEST_F(Fields, APermanentFieldKeepsItsControl) {
    ULONG notes =
        Tal_CreateObject("StringEdit", TAL_SetStringFlags, TAL_STRING_PERMANENT, TAL_SetString, "one");
    ULONG other = Tal_CreateObject("StringEdit");
    heard.listen(notes, TAL_SetString);
    window(10, 10, 200, 120, {notes, other});
    EXPECT_TRUE(editing(notes)); // open from the first draw, without a tap
    tap(notes, 30);
    key(VK_END);
    key(VK_RETURN, '\r');
    type("two");
    host_InjectKey(VK_CONTROL, true);
    key(VK_RETURN); // Ctrl+Return ends the entry
    host_InjectKey(VK_CONTROL, false);
    settle();
    EXPECT_EQ(textOf(notes), "one\ntwo");
    EXPECT_EQ(heard.strings(), std::vector<std::string>{"one\ntwo"});
    tap(other);
    EXPECT_TRUE(editing(notes));
}

TEST_F(Fields, TheTextPointerShowsOverFields) {
    ULONG a = Tal_CreateObject("StringEdit");
    ULONG b = Tal_CreateObject("StringEdit");
    ULONG win = window(10, 10, 200, 100, {a, b});
    auto move = [&](LONG x, LONG y) {
        host_InjectMouseMove(x, y);
        settle();
        return Tal_DoMethod(win, TAL_GetWindowPointer);
    };
    auto [ax, ay] = screenPoint(a);
    auto [bx, by] = screenPoint(b);
    EXPECT_EQ(move(ax, ay), 4u);
    EXPECT_EQ(move(bx, by), 4u); // from one field straight into the next, either way round
    EXPECT_EQ(move(ax, ay), 4u);
    EXPECT_EQ(move(bx, by + 40), 0u);
}

// A sheet of fields to look at: empty, with text, being edited, disabled, a measurement with its unit.
TEST_F(Fields, DrawsASheet) {
    ULONG empty = Tal_CreateObject("StringEdit");
    ULONG filled = Tal_CreateObject("StringEdit", TAL_SetString, "Hello, Velura");
    ULONG focused = Tal_CreateObject("StringEdit", TAL_SetString, "Typing here");
    ULONG disabled = Tal_CreateObject("StringEdit", TAL_SetString, "Disabled field");
    Tal_DoMethod(disabled, TAL_DisableObject);
    ULONG number =
        Tal_CreateObject("StringEdit", TAL_SetStringFlags, TAL_STRING_NUMBER, TAL_SetStringNumber, 1234);
    ULONG length = measurement(TAL_UNIT_PIXELS, TAL_UNIT_MM, 300);
    setValue(length, 300);
    window(0, 0, 240, 268, {empty, filled, focused, disabled, number, length});
    tap(focused, 40);
    type("!");
    settle();
    const char* dir = std::getenv("VELURA_TEST_TMP");
    const std::filesystem::path folder = dir ? dir : std::filesystem::temp_directory_path().string();
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "fields_sheet.bmp").string();
    ASSERT_TRUE(host_SaveScreenshot(path.c_str())) << path;
    EXPECT_TRUE(editing(focused));
    EXPECT_FALSE(editing(disabled));
    tap(disabled); // no editing in a disabled field
    EXPECT_FALSE(editing(disabled));
}

} // namespace
