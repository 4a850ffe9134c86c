// The colour editors: the conversions, a colour field drawn and picked from, the colour editor kept in
// step, the colour box and the curve editor; and all of them in a window driven by script lines, whose
// screenshots (colour-N.bmp below VELURA_TEST_TMP/gallery) are there to be looked at.
#include "ui/Colour.h"
#include "ui/ui.h"
#include "support/ScriptedWindow.h"
#include "support/TalTest.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

using namespace scripted;

ULONG rgb(ULONG r, ULONG g, ULONG b) {
    return Tal_PackRGB(r, g, b);
}

LONG valueOf(ULONG object, ULONG method = TAL_GetValue) {
    return LONG(int32_t(Tal_DoMethod(object, method)));
}

// ---------------------------------------------------------------------------------------------------
// The conversions.

TEST(ColourMaths, HSVToRGBAndBack) {
    struct ToRGB {
        const char* what;
        LONG h, s, v;
        ULONG colour;
    };
    const ToRGB toRGB[] = {
        {"hue 0: red", 0, 255, 255, rgb(255, 0, 0)},
        {"hue 120: green", 120, 255, 255, rgb(0, 255, 0)},
        {"hue 240: blue", 240, 255, 255, rgb(0, 0, 255)},
        {"hue 360 is outside: black", 360, 255, 255, 0},
        {"a negative hue: black", -1, 255, 255, 0},
        {"no saturation: the grey of the value", 200, 0, 128, rgb(128, 128, 128)},
        {"no saturation at hue 360: grey too", 360, 0, 128, rgb(128, 128, 128)},
        {"the rounding gives 254 where 255 is due", 60, 255, 255, rgb(254, 255, 0)},
        {"saturation with bit 15: 0", 30, 0x8000 | 200, 90, rgb(90, 90, 90)},
        {"saturation beyond 255: 255", 0, 300, 255, rgb(255, 0, 0)},
    };
    for (const ToRGB& c : toRGB) EXPECT_EQ(Tal_HSVToRGB(c.h, c.s, c.v), c.colour) << c.what;

    struct ToHSV {
        ULONG colour;
        LONG h, s, v;
    };
    const ToHSV toHSV[] = {
        {rgb(255, 0, 0), 0, 255, 255},     {rgb(0, 255, 0), 120, 255, 255},  {rgb(0, 0, 255), 240, 255, 255},
        {rgb(255, 0, 255), 300, 255, 255}, {rgb(128, 128, 128), 0, 0, 128},  {0, 0, 0, 0},
        {rgb(254, 255, 0), 60, 255, 255},  {rgb(255, 254, 0), 59, 255, 255}, // truncated, not rounded
    };
    for (const ToHSV& c : toHSV) {
        const Tal_HSV hsv = Tal_RGBToHSV(c.colour);
        EXPECT_EQ((std::vector<LONG>{hsv.hue, hsv.saturation, hsv.value}), (std::vector<LONG>{c.h, c.s, c.v}))
            << std::hex << c.colour;
    }
    // There and back stays within the truncations of the way (a wrong sector would be far off).
    for (ULONG r = 0; r < 256; r += 15)
        for (ULONG g = 0; g < 256; g += 15)
            for (ULONG b = 0; b < 256; b += 15) {
                const Tal_HSV hsv = Tal_RGBToHSV(rgb(r, g, b));
                const ULONG back = Tal_HSVToRGB(hsv.hue, hsv.saturation, hsv.value);
                for (int shift : {0, 8, 16})
                    ASSERT_LE(std::abs(LONG((rgb(r, g, b) >> shift) & 0xFF) - LONG((back >> shift) & 0xFF)),
                              6)
                        << r << " " << g << " " << b;
            }
}

// ---------------------------------------------------------------------------------------------------
// The parts alone.

class ColourParts : public TalFixture {
  protected:
    void TearDown() override {
        for (ULONG o : owned) Tal_DisposeObject(o);
        TalFixture::TearDown();
    }
    ULONG own(ULONG object) {
        owned.push_back(object);
        return object;
    }
    std::vector<ULONG> owned;
    Heard heard;
};

TEST_F(ColourParts, TheEditorShowsAColourInEveryPartAndAnnouncesItOnce) {
    const ULONG edit = own(Tal_CreateObject("ColourEdit"));
    ASSERT_NE(edit, 0u);
    auto slider = [&](int i) { return ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, 6 + i)); };
    auto shown = [&] {
        std::vector<LONG> v;
        for (int i = 0; i < 6; i++) v.push_back(valueOf(slider(i)));
        return v;
    };
    EXPECT_EQ(shown(), (std::vector<LONG>{255, 255, 255, 0, 0, 255})); // white, in step from the start
    heard.watch(edit, TAL_SetColourEditColour);

    Tal_DoMethod(edit, TAL_SetColourEditColour, 0x000000FF);
    EXPECT_EQ(shown(), (std::vector<LONG>{255, 0, 0, 0, 255, 255}));
    EXPECT_EQ(heard.values(TAL_SetColourEditColour), (std::vector<LONG>{0xFF}));
    const ULONG box = ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, 5));
    EXPECT_EQ(Tal_DoMethod(box, TAL_GetColourBoxRed), 255u);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(Tal_DoMethod(ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, i)), TAL_GetColourSpaceColour),
                  0xFFu);

    // The hue slider moved to 60 on red: the colour is that hue's, the "+1" rounding kept.
    Tal_DoMethod(slider(3), TAL_SetValue, 60);
    EXPECT_EQ(Tal_DoMethod(edit, TAL_GetColourEditColour), rgb(254, 255, 0));
    EXPECT_EQ(shown(), (std::vector<LONG>{254, 255, 0, 60, 255, 255}));

    // The hue slider of a grey: the colour stays grey and the slider goes back to 0.
    Tal_DoMethod(slider(4), TAL_SetValue, 0); // saturation 0: the grey of the value
    EXPECT_EQ(Tal_DoMethod(edit, TAL_GetColourEditColour), rgb(255, 255, 255));
    Tal_DoMethod(slider(3), TAL_SetValue, 200);
    EXPECT_EQ(Tal_DoMethod(edit, TAL_GetColourEditColour), rgb(255, 255, 255));
    EXPECT_EQ(valueOf(slider(3)), 0);

    // The blue slider; then a pick in a field. Each change is announced once.
    Tal_DoMethod(slider(2), TAL_SetValue, 10);
    EXPECT_EQ(Tal_DoMethod(edit, TAL_GetColourEditColour), rgb(255, 255, 10));
    const ULONG field = ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, 1));
    Tal_DoMethod(field, TAL_SetColourSpaceColour, rgb(10, 20, 30));
    EXPECT_EQ(Tal_DoMethod(edit, TAL_GetColourEditColour), rgb(10, 20, 30));
    EXPECT_EQ(valueOf(slider(1)), 20);
    EXPECT_EQ(heard.values(TAL_SetColourEditColour).size(), 6u); // red, 60, 0, 200, blue, the pick
}

// Whoever keeps a colour in step with the editor both ways (the program's paint colour) hears each
// change once, and its answer does not come back.
TEST_F(ColourParts, TheEchoOfAListenerStopsAtTheEditor) {
    const ULONG edit = own(Tal_CreateObject("ColourEdit"));
    const ULONG other = own(Tal_CreateObject("ColourBox"));
    Tal_AddNotify(edit, TAL_SetColourEditColour, TAL_AnyValue, other, 2, TAL_SetColourBoxColour,
                  TAL_TriggerValue);
    Tal_AddNotify(other, TAL_SetColourBoxColour, TAL_AnyValue, edit, 2, TAL_SetColourEditColour,
                  TAL_TriggerValue);
    heard.watch(other, TAL_SetColourBoxColour);
    Tal_DoMethod(edit, TAL_SetColourEditColour, rgb(1, 2, 3));
    EXPECT_EQ(heard.values(TAL_SetColourBoxColour), (std::vector<LONG>{LONG(rgb(1, 2, 3))}));
    Tal_DoMethod(other, TAL_SetColourBoxColour, rgb(4, 5, 6));
    EXPECT_EQ(Tal_DoMethod(edit, TAL_GetColourEditColour), rgb(4, 5, 6));
}

// Colour fields need more than 256 colours: on a display of 256 the editor shows no field pages. The
// depth is fixed once the display starts, so each depth is tried in a fresh process.
TEST(ColourEditDisplay, HasNoFieldPagesOn256Colours) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto exitWithFieldsHidden = [](const char* depth) {
        setenv("VELURA_DISPLAY_DEPTH", depth, 1);
        Tal_UseInterfaceClasses();
        Tal_Init();
        const ULONG edit = Tal_CreateObject("ColourEdit");
        const ULONG field = ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, 0));
        const ULONG pages = Tal_GetParentObject(Tal_GetParentObject(field));
        const bool hidden = edit && Tal_DoMethod(pages, TAL_IsHidden) != 0;
        Tal_DisposeObject(edit);
        Tal_CleanUp();
        std::_Exit(hidden ? 1 : 0);
    };
    EXPECT_EXIT(exitWithFieldsHidden("8"), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(exitWithFieldsHidden("24"), testing::ExitedWithCode(0), "");
}

TEST_F(ColourParts, AColourSpaceTakesOnlyItsKinds) {
    const ULONG space = own(Tal_CreateObject("ColourSpace"));
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(space, TAL_GetColourSpaceKind)), "HS");
    EXPECT_EQ(Tal_DoMethod(space, TAL_SetColourSpaceKind, "HSV2"), 1u);
    EXPECT_EQ(Tal_DoMethod(space, TAL_SetColourSpaceKind, "XYZ"), 0u);
    EXPECT_EQ(Tal_DoMethod(space, TAL_SetColourSpaceKind, nullptr), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(space, TAL_GetColourSpaceKind)), "HSV2");
}

// The lookup table is read and written only within the range; the maxima never become 0.
TEST_F(ColourParts, TheCurveEditorKeepsToItsTable) {
    const ULONG lut = own(Tal_CreateObject("LUTEdit"));
    ASSERT_NE(lut, 0u);
    const LONG none = -1;
    EXPECT_EQ(valueOf(lut, TAL_GetLUTEntry), none);
    EXPECT_EQ(LONG(Tal_DoMethod(lut, TAL_SetLUTEntry, 0, 7)), none); // no table
    std::vector<UBYTE> bytes(256, 0);
    Tal_DoMethod(lut, TAL_SetLUTTable, bytes.data());
    EXPECT_EQ(LONG(Tal_DoMethod(lut, TAL_SetLUTEntry, 255, 9)), 1);
    EXPECT_EQ(bytes[255], 9);
    for (LONG outside : {-1, 256, INT32_MIN})
        EXPECT_EQ(LONG(Tal_DoMethod(lut, TAL_SetLUTEntry, outside, 9)), none) << outside;
    // Words over the range 10..13: entry 0 is x 10.
    std::vector<UWORD> words(4, 0);
    Tal_DoMethod(lut, TAL_SetLUTMinX, 10);
    Tal_DoMethod(lut, TAL_SetLUTMaxX, 13);
    EXPECT_EQ(Tal_DoMethod(lut, TAL_SetLUTTableElements, words.data(), 3), 0u); // no such size
    ASSERT_EQ(Tal_DoMethod(lut, TAL_SetLUTTableElements, words.data(), 2), 1u);
    EXPECT_EQ(LONG(Tal_DoMethod(lut, TAL_SetLUTEntry, 13, 40000)), 1);
    EXPECT_EQ(words[3], 40000);
    EXPECT_EQ(valueOf(lut, TAL_GetLUTEntry), none); // x 0 is outside now
    EXPECT_EQ(LONG(Tal_DoMethod(lut, TAL_GetLUTEntry, 13)), 40000);
    EXPECT_EQ(LONG(Tal_DoMethod(lut, TAL_SetLUTEntry, 14, 1)), none);
    Tal_DoMethod(lut, TAL_SetLUTMaxY, 0);
    EXPECT_EQ(valueOf(lut, TAL_GetLUTMaxY), 1);
}

// ---------------------------------------------------------------------------------------------------
// In a window.

class ColourWindow : public Scripted {
  protected:
    // A window at the screen's corner holding the objects in a vertical group, started and idle.
    void open(std::initializer_list<ULONG> members, LONG width = 240, LONG height = 268) {
        window = Tal_CreateObject("Window", TAL_SetWindowX, 0, TAL_SetWindowY, 0, TAL_SetWindowW, width,
                                  TAL_SetWindowH, height);
        ASSERT_NE(window, 0u);
        for (ULONG m : members) Tal_DoMethod(window, TAL_AddTail, m);
        Tal_DoMethod(window, TAL_Start);
        run("wait");
    }
    // The colour at a point of an object, as the window shows it.
    ULONG pixel(ULONG object, LONG dx, LONG dy) {
        const Tal_Box& b = boxOf(object);
        auto* host = reinterpret_cast<Window*>(Tal_DoMethod(window, TAL_GetHostWindow));
        return ReadRGBPixel(host->RPort, b.x + dx, b.y + dy);
    }
    ULONG colourOf(ULONG space) { return ULONG(Tal_DoMethod(space, TAL_GetColourSpaceColour)); }
    // The Pages a page is on, and its tab buttons.
    static ULONG pagesOf(ULONG page) {
        return Tal_GetTopMostObject(Tal_GetParentObject(Tal_GetParentObject(page)));
    }
    static ULONG tab(ULONG pages, ULONG index) {
        return ULONG(Tal_DoMethod(ULONG(Tal_DoMethod(pages, TAL_GetTabRow)), TAL_GetMemberAt, index));
    }
    Heard heard;
};

// An "HS" field shows the colours of its formula everywhere but on the ring of twelve inverted pixels
// round the current colour; a press anywhere, on the ring too, picks the field's own colour.
TEST_F(ColourWindow, AFieldShowsItsFormulaAndPicksFromIt) {
    const ULONG space = Tal_CreateObject("ColourSpace", TAL_SetFixedWidth, 64, TAL_SetFixedHeight, 64);
    open({space, Tal_CreateObject("Space")});
    heard.watch(space, TAL_SetColourSpaceColour);
    const ULONG chosen = Tal_ColourSpaceColourAt("HS", 20, 32, 64, 64, 0);
    Tal_DoMethod(space, TAL_SetColourSpaceColour, chosen);
    run("wait");
    std::set<std::pair<LONG, LONG>> ring;
    for (LONG y = 0; y < 64; y++)
        for (LONG x = 0; x < 64; x++) {
            const ULONG formula = Tal_ColourSpaceColourAt("HS", x, y, 64, 64, 0);
            const ULONG seen = pixel(space, x, y);
            if (seen == formula) continue;
            EXPECT_EQ(seen, formula ^ 0x00FFFFFF) << x << "," << y;
            ring.insert({x, y});
        }
    // Twelve pixels: the 5 × 5 square's edge without its corners, round the chosen point (give or take
    // the pixel that the way through hue, saturation and value may lose).
    ASSERT_EQ(ring.size(), 12u);
    const LONG cx = (ring.begin()->first + ring.rbegin()->first) / 2;
    const LONG cy = (ring.begin()->second + ring.rbegin()->second) / 2;
    EXPECT_LE(std::abs(cx - 20), 1);
    EXPECT_LE(std::abs(cy - 32), 1);
    for (auto [x, y] : ring) EXPECT_EQ(std::max(std::abs(x - cx), std::abs(y - cy)), 2);

    // On the marker's centre and on its ring.
    for (LONG dx : {0, 2}) {
        run(tap(space, cx + dx, cy));
        EXPECT_EQ(colourOf(space), Tal_ColourSpaceColourAt("HS", cx + dx, cy, 64, 64, 0)) << dx;
    }
    // The corner: red; half way down: hue 180.
    run(tap(space, 0, 0));
    EXPECT_EQ(colourOf(space), rgb(255, 0, 0));
    run(tap(space, 0, 32));
    EXPECT_EQ(colourOf(space), rgb(0, 254, 255));
    // A drag follows the pointer and, beyond the field, stays at its edge.
    run("down " + at(space, 10, 10) + "\nmove " + at(space, 63, 10) + "\nmove " + at(space, 63 + 30, 10) +
        "\nup " + at(space, 63 + 30, 10));
    EXPECT_EQ(colourOf(space), Tal_ColourSpaceColourAt("HS", 63, 10, 64, 64, 0));
    EXPECT_EQ(heard.values(TAL_SetColourSpaceColour).back(), LONG(colourOf(space)));
}

// An "HSV" field two pixels wide (its middle column, at 1, divides by 1) draws and picks; its marker, at
// the left edge, is cut to the field.
TEST_F(ColourWindow, ANarrowHSVFieldDrawsAndPicks) {
    const ULONG space = Tal_CreateObject("ColourSpace", TAL_SetColourSpaceKind, "HSV", TAL_SetFixedWidth, 2,
                                         TAL_SetFixedHeight, 30);
    open({space, Tal_CreateObject("Space")});
    auto formula = [](LONG x, LONG y) { return Tal_ColourSpaceColourAt("HSV", x, y, 2, 30, 0); };
    Tal_DoMethod(space, TAL_SetColourSpaceColour, formula(1, 15)); // hue 180, saturation and value 255
    run("wait");
    EXPECT_EQ(pixel(space, 0, 15), formula(0, 15)); // the marker's centre
    EXPECT_EQ(pixel(space, 1, 13), formula(1, 13) ^ 0x00FFFFFF);
    EXPECT_EQ(pixel(space, 1, 17), formula(1, 17) ^ 0x00FFFFFF);
    EXPECT_EQ(pixel(space, 1, 16), formula(1, 16));
    run(tap(space, 1, 29));
    EXPECT_EQ(colourOf(space), formula(1, 29));
    EXPECT_NE(colourOf(space), 0u);
}

TEST_F(ColourWindow, AColourBoxKeepsItsFixedWidth) {
    const ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    const ULONG box = Tal_CreateObject("ColourBox", TAL_SetColourBoxFixedWidth, 30, TAL_SetColourBoxColour,
                                       rgb(0, 128, 255));
    Tal_DoMethod(row, TAL_AddTail, box);
    Tal_DoMethod(row, TAL_AddTail, Tal_CreateObject("Space"));
    open({row});
    EXPECT_EQ(boxOf(box).width, 30);
    EXPECT_GT(boxOf(box).height, 100);
    EXPECT_EQ(pixel(box, 29, 50), rgb(0, 128, 255));
    for (LONG width : {40, 200}) {
        Tal_DoMethod(row, TAL_SetBox, 0, 0, width, 50);
        EXPECT_EQ(boxOf(box).width, 30) << width;
    }
}

// The middle point follows a drag that starts on it, and only one that starts within two pixels.
TEST_F(ColourWindow, TheCurvesMiddlePointIsDragged) {
    const ULONG lut = Tal_CreateObject("LUTEdit");
    open({lut, Tal_CreateObject("Space")});
    heard.watch(lut, TAL_SetLUTMiddle);
    const ULONG space = ULONG(Tal_DoMethod(lut, TAL_GetFirstGroupObject));
    ASSERT_EQ(boxOf(space).width, 64);
    // (127, 200) is drawn at 127 × 64 ÷ 255 = 31 across and 64 - 200 × 64 ÷ 255 = 15 down.
    run("down " + at(space, 31 + 3, 15) + "\nmove " + at(space, 50, 50) + "\nup " + at(space, 50, 50));
    EXPECT_EQ(valueOf(lut, TAL_GetLUTMiddleX), 127);
    EXPECT_TRUE(heard.values(TAL_SetLUTMiddle).empty());
    run("down " + at(space, 31 + 2, 15 - 2) + "\nmove " + at(space, 48, 48) + "\nup " + at(space, 48, 48));
    EXPECT_EQ(valueOf(lut, TAL_GetLUTMiddleX), 48 * 255 / 64);
    EXPECT_EQ(valueOf(lut, TAL_GetLUTMiddleY), 255 - 48 * 255 / 64);
    EXPECT_EQ(heard.values(TAL_SetLUTMiddle), (std::vector<LONG>{48 * 255 / 64}));
}

// The editors as a user sees them: the colour editor's pages and sliders and the curve editor, used
// with the stylus only.
TEST_F(ColourWindow, Gallery) {
    const ULONG edit = Tal_CreateObject("ColourEdit");
    const ULONG lut = Tal_CreateObject("LUTEdit");
    const ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetWeight, 0);
    Tal_DoMethod(row, TAL_AddTail, lut);
    Tal_DoMethod(row, TAL_AddTail, Tal_CreateObject("Space"));
    open({edit, row});
    heard.watch(edit, TAL_SetColourEditColour);
    Tal_DoMethod(edit, TAL_SetColourEditColour, rgb(200, 60, 20));
    EXPECT_LE(boxOf(edit).minWidth, 114); // the width of the colour panel's window
    screenshots("colour-1");

    // The "SV" page: its field shows the colour's hue; a tap near its top right corner is a bright,
    // saturated colour of that hue.
    const ULONG sv = ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, 4));
    const ULONG fieldPages = pagesOf(sv);
    run(tap(tab(fieldPages, 4)));
    ASSERT_EQ(Tal_DoMethod(fieldPages, TAL_GetSelectedIndex), 4u);
    const Tal_Box& f = boxOf(sv);
    run(tap(sv, f.width - 1, 0));
    const Tal_HSV picked = Tal_RGBToHSV(ULONG(Tal_DoMethod(edit, TAL_GetColourEditColour)));
    EXPECT_EQ(picked.value, 255);
    EXPECT_EQ(picked.saturation, 255);
    EXPECT_LE(std::abs(picked.hue - Tal_RGBToHSV(rgb(200, 60, 20)).hue), 1);

    // The "HSV" slider page; a tap on the value slider's track before the thumb steps it down.
    const ULONG value = ULONG(Tal_DoMethod(edit, TAL_GetColourEditPart, 11));
    const ULONG sliderPages = pagesOf(Tal_GetParentObject(value));
    run(tap(tab(sliderPages, 1)));
    ASSERT_EQ(Tal_DoMethod(sliderPages, TAL_GetSelectedIndex), 1u);
    run(tap(value, 4));
    EXPECT_EQ(Tal_RGBToHSV(ULONG(Tal_DoMethod(edit, TAL_GetColourEditColour))).value, 254);

    // The curve's middle point dragged down and to the right.
    const ULONG area = ULONG(Tal_DoMethod(lut, TAL_GetFirstGroupObject));
    run("down " + at(area, 31, 15) + "\nmove " + at(area, 50, 40) + "\nup " + at(area, 50, 40));
    EXPECT_EQ(valueOf(lut, TAL_GetLUTMiddleX), 50 * 255 / 64);
    EXPECT_EQ(heard.values(TAL_SetColourEditColour).size(), 3u);
    screenshots("colour-2");
}

} // namespace
