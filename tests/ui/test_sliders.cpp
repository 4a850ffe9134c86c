#include "ui/Button.h"
#include "ui/Group.h"
#include "ui/Slider.h"
#include "ui/StringEdit.h"
#include "ui/Window.h"
#include "host/display.h"
#include "support/TalTest.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every value a source notifies for one attribute, in order (notifications arrive in event threads).
class Heard {
  public:
    Heard(ULONG source, ULONG attribute)
        : source_(source),
          id_(Tal_AddCallBackNotify(source, attribute, TAL_AnyValue, hook, Tal_ToWord(this))) {}
    ~Heard() { Tal_RemoveNotify(source_, id_); }
    std::vector<LONG> values() {
        std::lock_guard guard(mutex_);
        return values_;
    }

  private:
    static Tal_Word hook(Tal_Word user, ULONG, ULONG, const Tal_Word* args) {
        auto* self = reinterpret_cast<Heard*>(user);
        std::lock_guard guard(self->mutex_);
        self->values_.push_back(LONG(int32_t(args[0])));
        return 0;
    }
    ULONG source_;
    Tal_Word id_;
    std::mutex mutex_;
    std::vector<LONG> values_;
};

LONG valueOf(ULONG object) {
    return LONG(int32_t(Tal_DoMethod(object, TAL_GetValue)));
}

const Tal_Box& boxOf(ULONG object) {
    return *reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

class ValueGadgets : public TalFixture {
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

// A window on the headless screen holding the given objects in a vertical group, started and idle.
class ValueGadgetsInWindow : public ValueGadgets {
  protected:
    void SetUp() override {
        ValueGadgets::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    ULONG open(std::initializer_list<ULONG> members, LONG width = 220, LONG height = 120) {
        window = own(Tal_CreateObject("Window", TAL_SetWindowX, 10, TAL_SetWindowY, 10, TAL_SetWindowW, width,
                                      TAL_SetWindowH, height));
        for (ULONG m : members) Tal_DoMethod(window, TAL_AddTail, m);
        Tal_DoMethod(window, TAL_Start);
        settle();
        return window;
    }
    Window* host() const { return reinterpret_cast<Window*>(Tal_DoMethod(window, TAL_GetHostWindow)); }
    // A point of the window (its surface coordinates) on the logical screen.
    void toScreen(LONG x, LONG y, LONG* sx, LONG* sy) const {
        const host_Rect r = host_GetScreenRect(host()->HostWindow);
        *sx = r.x + x;
        *sy = r.y + y;
    }
    void press(LONG x, LONG y) {
        toScreen(x, y, &x, &y);
        host_InjectMouseMove(x, y);
        host_InjectButton(0, true, x, y);
        settle();
    }
    void moveTo(LONG x, LONG y) {
        toScreen(x, y, &x, &y);
        host_InjectMouseMove(x, y);
        settle();
    }
    void release(LONG x, LONG y) {
        toScreen(x, y, &x, &y);
        host_InjectButton(0, false, x, y);
        settle();
    }
    void click(LONG x, LONG y) {
        press(x, y);
        release(x, y);
    }
    ULONG window = 0;
};

// ---------------------------------------------------------------------------------------------------
// The value rule.

TEST_F(ValueGadgets, FirstSetIsSilentThenEveryChangeIsHeardOnce) {
    struct Case {
        const char* name;
        ULONG (*make)();
    };
    const Case cases[] = {
        {"Slider",
         [] { return Tal_CreateObject("Slider", TAL_SetMinimum, INT32_MIN, TAL_SetMaximum, INT32_MAX); }},
        {"compact slider",
         [] {
             return Tal_CreateObject("CompactSlider", TAL_SetMinimum, INT32_MIN, TAL_SetMaximum, INT32_MAX);
         }},
        {"Knob",
         [] { return Tal_CreateObject("Knob", TAL_SetMinimum, INT32_MIN, TAL_SetMaximum, INT32_MAX); }},
    };
    // The old "never set" marker is a value like any other.
    const LONG marker = LONG(int32_t(0xBEEFDEAD));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ULONG gadget = own(c.make());
        ASSERT_NE(gadget, 0u);
        Heard heard(gadget, TAL_SetValue);
        for (LONG v : {LONG(5), LONG(7), LONG(7), marker, LONG(9), LONG(9)})
            Tal_DoMethod(gadget, TAL_SetValue, v);
        EXPECT_EQ(heard.values(), (std::vector<LONG>{7, marker, 9}));
        EXPECT_EQ(valueOf(gadget), 9);
    }
}

TEST_F(ValueGadgets, ScrollerKeepsItsValueWithinTotalLessVisible) {
    ULONG scroller = own(Tal_CreateObject("Scroller"));
    Heard heard(scroller, TAL_SetScrollerValue);
    Tal_DoMethod(scroller, TAL_SetScrollerValue, 5); // total 1, visible 1
    EXPECT_EQ(valueOf(scroller), 0);
    Tal_DoMethod(scroller, TAL_SetScrollerTotal, 100);
    Tal_DoMethod(scroller, TAL_SetScrollerVisible, 10);
    Tal_DoMethod(scroller, TAL_SetScrollerValue, 95);
    EXPECT_EQ(valueOf(scroller), 90);
    // Less content moves the value back into range, and says so.
    Tal_DoMethod(scroller, TAL_SetScrollerTotal, 50);
    EXPECT_EQ(valueOf(scroller), 40);
    EXPECT_EQ(heard.values(), (std::vector<LONG>{90, 40}));
    // A visible part above the total raises the total; a total below it lowers the visible part.
    Tal_DoMethod(scroller, TAL_SetScrollerVisible, 80);
    EXPECT_EQ(Tal_DoMethod(scroller, TAL_GetScrollerTotal), 80u);
    Tal_DoMethod(scroller, TAL_SetScrollerTotal, 30);
    EXPECT_EQ(Tal_DoMethod(scroller, TAL_GetScrollerVisible), 30u);
}

TEST_F(ValueGadgets, NegativeValuesSurviveANewRange) {
    ULONG compact = own(Tal_CreateObject("CompactSlider", TAL_SetMinimum, -200, TAL_SetMaximum, 200));
    ULONG slider = own(Tal_CreateObject("Slider", TAL_SetMinimum, -200, TAL_SetMaximum, 200));
    for (ULONG gadget : {compact, slider}) {
        Heard heard(gadget, TAL_SetValue);
        Tal_DoMethod(gadget, TAL_SetValue, -150);
        Tal_DoMethod(gadget, TAL_SetMinimum, -200);
        Tal_DoMethod(gadget, TAL_SetMaximum, 200);
        EXPECT_EQ(valueOf(gadget), -150);
        // A range that no longer holds the value moves it to the nearest end.
        Tal_DoMethod(gadget, TAL_SetMinimum, -100);
        EXPECT_EQ(valueOf(gadget), -100);
        EXPECT_EQ(heard.values(), (std::vector<LONG>{-100}));
    }
    EXPECT_EQ(LONG(int32_t(Tal_DoMethod(compact, TAL_GetMaximum))), 200);
}

TEST_F(ValueGadgets, CompactSliderThumbFitsTheWidestValue) {
    ULONG a = own(Tal_CreateObject("CompactSlider", TAL_SetMinimum, 0, TAL_SetMaximum, 255,
                                   TAL_SetValueFormat, "R %ld"));
    ULONG b = own(Tal_CreateObject("CompactSlider", TAL_SetMinimum, -50, TAL_SetMaximum, 100));
    LONG w, h;
    Tal__TextThumbSize(a, "R %ld", 0, 255, &w, &h);
    EXPECT_EQ(w, host_FontTextWidth(host_InterfaceFont(), "R 255", 5) + 4);
    Tal__TextThumbSize(b, "%ld", -50, 100, &w, &h);
    EXPECT_EQ(w, host_FontTextWidth(host_InterfaceFont(), "500", 3) + 4);
    // The track leaves room for the thumb and its frame.
    Tal_DoMethod(a, TAL_AskMinMax, 0);
    EXPECT_GE(boxOf(a).minHeight, h + 4);
}

TEST_F(ValueGadgets, HeldArrowRepeatsFromTheFifthTick) {
    ULONG scroller = own(Tal_CreateObject("Scroller", TAL_SetScrollerTotal, 100, TAL_SetScrollerVisible, 10));
    ULONG left = ULONG(Tal_DoMethod(scroller, TAL_GetFirstGroupObject));
    ULONG right = ULONG(Tal_DoMethod(scroller, TAL_GetLastGroupObject));
    Tal_DoMethod(right, TAL_SetButtonState, 1);
    Tal_InputEvent tick{};
    tick.Class = IDCMP_INTUITICKS;
    tick.Qualifier = IEQUALIFIER_LEFTBUTTON;
    std::vector<LONG> seen;
    for (int i = 0; i < 6; i++) {
        Tal_DoMethod(scroller, TAL_HandleIDCMP, &tick);
        seen.push_back(valueOf(scroller));
    }
    EXPECT_EQ(seen, (std::vector<LONG>{0, 0, 0, 0, 1, 2}));
    // Without the button held the count starts again.
    Tal_DoMethod(right, TAL_SetButtonState, 0);
    Tal_DoMethod(left, TAL_SetButtonState, 1);
    const LONG before = valueOf(scroller);
    tick.Qualifier = 0;
    Tal_DoMethod(scroller, TAL_HandleIDCMP, &tick);
    tick.Qualifier = IEQUALIFIER_LEFTBUTTON;
    for (int i = 0; i < 5; i++) Tal_DoMethod(scroller, TAL_HandleIDCMP, &tick);
    EXPECT_EQ(valueOf(scroller), before - 1);
}

TEST_F(ValueGadgets, ProgressTotalIsNeverZero) {
    ULONG bar = own(Tal_CreateObject("ProgressBar", TAL_SetProgressTotal, 0));
    EXPECT_EQ(Tal_DoMethod(bar, TAL_GetProgressTotal), 1u);
    Tal_DoMethod(bar, TAL_SetProgressBarLabel, "Saving");
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(bar, TAL_GetProgressBarLabel)), "Saving");
    EXPECT_EQ(Tal_DoMethod(bar, TAL_RemoveProgressBarLabel), 1u);
    EXPECT_EQ(Tal_DoMethod(bar, TAL_GetProgressBarLabel), 0u);
    EXPECT_EQ(Tal_DoMethod(bar, TAL_SetProgressBarLabel, "gone"), 0u);
}

// ---------------------------------------------------------------------------------------------------
// Input in a window.

// The thumb of a -200..200 slider at -200, dragged across the whole track, reaches 200 and passes 0
// half-way: the drag scales by maximum - minimum.
TEST_F(ValueGadgetsInWindow, DraggingTheThumbAcrossTheTrackCoversTheRange) {
    struct Case {
        const char* name;
        const char* className;
        bool compact;
    };
    for (const Case& c : {Case{"Slider", "Slider", false}, Case{"compact slider", "CompactSlider", true}}) {
        SCOPED_TRACE(c.name);
        ULONG gadget =
            Tal_CreateObject(c.className, TAL_SetMinimum, -200, TAL_SetMaximum, 200, TAL_SetValue, -200);
        open({gadget});
        Heard heard(gadget, TAL_SetValue);
        // The track: the slider's own box, or the compact slider's first member (its arrows follow).
        const Tal_Box& track =
            boxOf(c.compact ? ULONG(Tal_DoMethod(gadget, TAL_GetFirstGroupObject)) : gadget);
        LONG thumbW, thumbH;
        Tal__TextThumbSize(gadget, "%ld", -200, 200, &thumbW, &thumbH);
        const LONG span = track.width - 4 - thumbW;
        ASSERT_GT(span, 10);
        const LONG x = track.x + 2 + thumbW / 2, y = track.y + track.height / 2;
        press(x, y);
        moveTo(x + span / 2, y);
        EXPECT_NEAR(valueOf(gadget), 0, 1);
        moveTo(x + span, y);
        EXPECT_EQ(valueOf(gadget), 200);
        release(x + span, y);
        ASSERT_FALSE(heard.values().empty());
        EXPECT_EQ(heard.values().back(), 200);
        // A press beside the thumb steps by one.
        click(track.x + 3, y);
        EXPECT_EQ(valueOf(gadget), 199);
        Tal_DisposeObject(owned.back());
        owned.pop_back();
        settle();
    }
}

TEST_F(ValueGadgetsInWindow, VerticalSliderHasItsMaximumAtTheTop) {
    ULONG slider = Tal_CreateObject("Slider", TAL_SetGroupOrientation, 2, TAL_SetMinimum, 0, TAL_SetMaximum,
                                    50, TAL_SetValue, 0);
    open({slider}, 60, 150);
    const Tal_Box& b = boxOf(slider);
    LONG thumbW, thumbH;
    Tal__TextThumbSize(slider, "%ld", 0, 50, &thumbW, &thumbH);
    const LONG span = b.height - 4 - thumbH;
    const LONG x = b.x + b.width / 2, bottom = b.y + b.height - 3 - thumbH / 2;
    press(x, bottom);
    moveTo(x, bottom - span);
    release(x, bottom - span);
    EXPECT_EQ(valueOf(slider), 50);
    click(x, b.y + b.height - 4); // below the thumb
    EXPECT_EQ(valueOf(slider), 49);
}

// An empty range and a squeezed track must not divide by zero when drawn or dragged.
TEST_F(ValueGadgetsInWindow, EmptyRangeAndSqueezedTrackDrawAndDrag) {
    ULONG flat = Tal_CreateObject("Slider", TAL_SetMinimum, 5, TAL_SetMaximum, 5, TAL_SetValue, 5);
    ULONG narrow = Tal_CreateObject("Slider", TAL_SetMinimum, 0, TAL_SetMaximum, 100, TAL_SetValue, 50);
    ULONG compact = Tal_CreateObject("CompactSlider", TAL_SetMinimum, 5, TAL_SetMaximum, 5, TAL_SetValue, 5);
    open({flat, narrow, compact});
    // Squeeze one to 5 pixels behind the layout's back.
    auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(narrow, TAL_GetBox));
    box->minWidth = 0;
    Tal_DoMethod(narrow, TAL_SetBox, box->x, box->y, 5, box->height);
    ASSERT_EQ(box->width, 5);
    Tal_DoMethod(window, TAL_DrawObject);
    settle();
    for (ULONG gadget : {flat, narrow, compact}) {
        const Tal_Box& b = boxOf(gadget);
        const LONG x = b.x + b.width / 2, y = b.y + b.height / 2;
        press(x, y);
        moveTo(x + 30, y);
        moveTo(x - 30, y);
        release(x - 30, y);
    }
    EXPECT_EQ(valueOf(flat), 5);
    EXPECT_EQ(valueOf(compact), 5);
    EXPECT_GE(valueOf(narrow), 0);
    EXPECT_LE(valueOf(narrow), 100);
}

TEST_F(ValueGadgetsInWindow, ScrollerArrowsAndTrack) {
    ULONG scroller = Tal_CreateObject("Scroller", TAL_SetScrollerTotal, 100, TAL_SetScrollerVisible, 10,
                                      TAL_SetScrollerValue, 0);
    open({scroller});
    Heard heard(scroller, TAL_SetScrollerValue);
    ULONG left = ULONG(Tal_DoMethod(scroller, TAL_GetFirstGroupObject));
    ULONG track = ULONG(Tal_DoMethod(scroller, TAL_GetNextGroupObject, left));
    ULONG right = ULONG(Tal_DoMethod(scroller, TAL_GetNextGroupObject, track));
    auto centre = [&](ULONG o, LONG* x, LONG* y) {
        const Tal_Box& b = boxOf(o);
        *x = b.x + b.width / 2;
        *y = b.y + b.height / 2;
    };
    LONG x, y;
    centre(right, &x, &y);
    click(x, y);
    click(x, y);
    centre(left, &x, &y);
    click(x, y);
    EXPECT_EQ(valueOf(scroller), 1);
    // Beyond the thumb: a page (the visible part) further.
    const Tal_Box& t = boxOf(track);
    click(t.x + t.width - 2, t.y + t.height / 2);
    EXPECT_EQ(valueOf(scroller), 11);
    // Dragging the thumb by its track length covers total - visible.
    const LONG thumb = t.width * 10 / 100 < 12 ? 11 : t.width * 10 / 100;
    const LONG span = t.width - thumb;
    const LONG tx = t.x + span * 11 / 90 + thumb / 2;
    press(tx, t.y + t.height / 2);
    moveTo(tx + span, t.y + t.height / 2);
    release(tx + span, t.y + t.height / 2);
    EXPECT_EQ(valueOf(scroller), 90);
    EXPECT_EQ(heard.values(), (std::vector<LONG>{1, 2, 1, 11, 90}));
}

TEST_F(ValueGadgetsInWindow, KnobPointsWhereItIsPressed) {
    struct Case {
        ULONG immediate;
        std::vector<LONG> heard;
    };
    for (const Case& c : {Case{1, {90, 180, 0, 270}}, Case{0, {270}}}) {
        SCOPED_TRACE(c.immediate);
        ULONG knob = Tal_CreateObject("Knob", TAL_SetValueImmediate, c.immediate);
        open({knob});
        Heard heard(knob, TAL_SetValue);
        const Tal_Box& b = boxOf(knob);
        ASSERT_EQ(b.width, 64);
        const LONG cx = b.x + 33, cy = b.y + 33; // the centre: box + side / 2 + 1
        press(cx + 20, cy);
        EXPECT_EQ(valueOf(knob), 90);
        moveTo(cx, cy + 20);
        EXPECT_EQ(valueOf(knob), 180);
        moveTo(cx, cy - 20);
        EXPECT_EQ(valueOf(knob), 0);
        moveTo(cx - 20, cy);
        release(cx - 20, cy);
        EXPECT_EQ(valueOf(knob), 270);
        EXPECT_EQ(heard.values(), c.heard);
        Tal_DisposeObject(owned.back());
        owned.pop_back();
        settle();
    }
}

TEST_F(ValueGadgetsInWindow, AngleKeepsKnobFieldAndButtonsInStep) {
    ULONG angle = Tal_CreateObject("Angle");
    ASSERT_NE(angle, 0u);
    open({angle}, 140, 120);
    Heard heard(angle, TAL_SetAngle);
    // The parts: a column of the knob and a row of button, field and button.
    ULONG column = ULONG(Tal_DoMethod(angle, TAL_GetFirstGroupObject));
    ULONG knob = ULONG(Tal_DoMethod(column, TAL_GetFirstGroupObject));
    ULONG row = ULONG(Tal_DoMethod(column, TAL_GetLastGroupObject));
    ULONG left = ULONG(Tal_DoMethod(row, TAL_GetFirstGroupObject));
    ULONG field = ULONG(Tal_DoMethod(row, TAL_GetNextGroupObject, left));
    ULONG right = ULONG(Tal_DoMethod(row, TAL_GetLastGroupObject));
    auto centreOf = [&](ULONG o) {
        const Tal_Box& b = boxOf(o);
        return std::pair<LONG, LONG>(b.x + b.width / 2, b.y + b.height / 2);
    };
    auto [kx, ky] = centreOf(knob);
    click(kx + 1, ky + 1 + 20); // straight below the knob's centre (one pixel right of and below the box's)
    auto [rx, ry] = centreOf(right);
    click(rx, ry);
    click(rx, ry);
    auto [lx, ly] = centreOf(left);
    click(lx, ly);
    EXPECT_EQ(Tal_DoMethod(angle, TAL_GetAngle), 181u);
    EXPECT_EQ(valueOf(knob), 181);
    EXPECT_EQ(Tal_DoMethod(field, TAL_GetStringNumber), 181u);
    // A number typed into the field, and one set by the program (every angle is named in 0..359).
    Tal_DoNotify(field, TAL_SetStringNumber, 45);
    EXPECT_EQ(valueOf(knob), 45);
    Tal_DoMethod(angle, TAL_SetAngle, -90);
    EXPECT_EQ(valueOf(knob), 270);
    EXPECT_EQ(Tal_DoMethod(field, TAL_GetStringNumber), 270u);
    EXPECT_EQ(heard.values(), (std::vector<LONG>{180, 181, 182, 181, 45, 270}));
    // A step stays within 0..359.
    Tal_DoMethod(angle, TAL_SetAngle, 359);
    click(rx, ry);
    EXPECT_EQ(Tal_DoMethod(angle, TAL_GetAngle), 359u);
    Tal_DoMethod(angle, TAL_SetAngle, 0);
    click(lx, ly);
    EXPECT_EQ(Tal_DoMethod(angle, TAL_GetAngle), 0u);
}

TEST_F(ValueGadgetsInWindow, ProgressBarFillsFromTheLeft) {
    ULONG bar = Tal_CreateObject("ProgressBar", TAL_SetProgressValue, 50);
    open({bar});
    const Tal_Box& b = boxOf(ULONG(Tal_DoMethod(ULONG(Tal_DoMethod(bar, TAL_GetLastGroupObject)),
                                                TAL_GetFirstGroupObject))); // the bar Space
    host_Surface* screen = host_AllocSurface(240, 320);
    ASSERT_NE(screen, nullptr);
    const ULONG filled = host_PenColour(host()->RPort, 3);
    auto at = [&](LONG x) {
        LONG sx, sy;
        toScreen(x, b.y + b.height / 2, &sx, &sy);
        host_ComposeScreen(screen);
        return host_PixelToColour(screen->pixels[sy * screen->stride + sx]);
    };
    EXPECT_EQ(at(b.x + b.width / 4), filled);
    EXPECT_NE(at(b.x + b.width * 3 / 4), filled);
    // Set from another thread: the window's event thread paints it.
    TaskThread([&] {
        Tal_DoMethod(bar, TAL_SetProgressTotal, 0);
        Tal_DoMethod(bar, TAL_SetProgressValue, 1);
    }).join();
    settle();
    EXPECT_EQ(at(b.x + b.width * 3 / 4), filled);
    EXPECT_EQ(at(b.x + b.width - 1), filled);
    host_FreeSurface(screen);
}

// A sheet of every value gadget, to look at: VELURA_TEST_TMP/value-gadgets.bmp.
TEST_F(ValueGadgetsInWindow, SheetOfEveryGadget) {
    const char* dir = std::getenv("VELURA_TEST_TMP");
    const std::filesystem::path folder = dir ? dir : "/tmp";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "value-gadgets.bmp").string();
    // clang-format off
    ULONG sheet = Tal_CreateObjects(0,
        TAL_TREE_VGROUP, TAL_SetGroupFrame, 7, TAL_SetGroupSpacing, 4, TAL_SetGroupMargin, 4,
            TAL_TREE_OBJECT, "Scroller", TAL_SetScrollerTotal, 100, TAL_SetScrollerVisible, 20,
                TAL_SetScrollerValue, 30, TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "CompactSlider", TAL_SetMinimum, -200, TAL_SetMaximum, 200, TAL_SetValue, -150,
                TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "CompactSlider", TAL_SetMinimum, 0, TAL_SetMaximum, 255, TAL_SetValueFormat, "R %ld",
                TAL_SetValue, 200, TAL_SetColours, 0x008080FF, TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "SimpleSlider", TAL_SetMinimum, 1, TAL_SetMaximum, 128, TAL_SetValueFormat, "%ld.5",
                TAL_SetValue, 64, TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "ProgressBar", TAL_SetProgressValue, 60, TAL_SetProgressBarLabel, "Saving 60%",
                TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetGroupFrame, 7, TAL_SetGroupSpacing, 4,
                TAL_TREE_OBJECT, "Scroller", TAL_SetGroupOrientation, 2, TAL_SetScrollerTotal, 10,
                    TAL_SetScrollerVisible, 4, TAL_SetScrollerValue, 6, TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "CompactSlider", TAL_SetGroupOrientation, 2, TAL_SetMinimum, 0,
                    TAL_SetMaximum, 100, TAL_SetValue, 25, TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "SimpleSlider", TAL_SetGroupOrientation, 2, TAL_SetMinimum, 0,
                    TAL_SetMaximum, 100, TAL_SetValue, 75, TAL_TREE_CLOSE,
                TAL_TREE_VGROUP, TAL_SetGroupFrame, 7,
                    TAL_TREE_OBJECT, "Knob", TAL_SetValue, 135, TAL_TREE_CLOSE,
                TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "Angle", TAL_SetAngle, 300, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    // clang-format on
    ASSERT_NE(sheet, 0u);
    open({sheet}, 240, 268);
    ASSERT_TRUE(host_SaveScreenshot(path.c_str()));
    std::printf("value gadgets: %s\n", path.c_str());
}

} // namespace
