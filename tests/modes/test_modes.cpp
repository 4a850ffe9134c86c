// The built-in modes, pixel by pixel against their formulas, through the compositor: a layer painted
// fully, opaque and plain, shows the mode's result itself.
#include "ModesTest.h"

#include <cmath>
#include <functional>

using namespace modes_test;

namespace {

constexpr UBYTE kColour[3] = {200, 100, 50};

int ramp(int i, int c) {
    return i <= 127 ? i * c / 127 : std::min(255, c + ((255 - c) * (i - 128) >> 7));
}
int luminance(const Picture& p, LONG x, LONG y) {
    return (at(p, x, y, 0) * 307 + at(p, x, y, 1) * 595 + at(p, x, y, 2) * 122) >> 10;
}

int grey(LONG conversion, int r, int g, int b) {
    switch (conversion) {
    case 0:
        return std::min({r, g, b});
    case 1:
        return std::max({r, g, b});
    case 2:
        return (r + g + b) / 3;
    case 3:
        return r;
    case 4:
        return g;
    case 5:
        return b;
    case 6:
        return (g + b) >> 1;
    case 7:
        return (r + b) >> 1;
    case 8:
        return (r + g) >> 1;
    case 9:
        return (r * 212671 + g * 715160 + b * 72169) / 1000000;
    default:
        return (r * 299 + g * 587 + b * 114) / 1000;
    }
}

// Emboss by its definition: the direction from the angle, differences out to the radius.
int emboss(const Picture& p, LONG x, LONG y, int ch, int amount, int radius, int angle, int base) {
    auto component = [](double v) {
        int c = WORD(std::ceil(1025.0 * v));
        return c > 512 && c < 1024 ? 1024 : c;
    };
    double a = (angle + 90) * M_PI / 180.0;
    int X = component(std::cos(a)), Y = component(std::sin(a));
    int v = 0;
    for (int n = radius; n >= 1; n--) {
        int dx = (X * n) >> 10, dy = (Y * n) >> 10;
        v += at(p, x - dx, y - dy, ch) - at(p, x + dx, y + dy, ch);
    }
    return std::clamp(base + ((amount * 256 / 100 * v) >> 8), 0, 255);
}

// Emboss at radius 1 and full amount with the offset (dx, dy) the angle is known to give.
int embossStep(const Picture& p, LONG x, LONG y, int ch, int dx, int dy) {
    return std::clamp(127 + at(p, x - dx, y - dy, ch) - at(p, x + dx, y + dy, ch), 0, 255);
}

using ModeSetup = std::function<void(Tal_Image* layer, ULONG mode)>;
using Expect = std::function<int(const Picture& below, LONG x, LONG y, int ch)>;

struct Case {
    std::string name;
    const char* mode;
    ModeSetup setup;
    Expect expect;
};

void setParameters(ULONG mode, std::initializer_list<std::pair<ULONG, LONG>> values) {
    for (auto [id, value] : values) Tal_DoMethod(mode, id, value);
}

class BuiltInModes : public Modes {
  protected:
    // The picture under a fully painted layer of `c.mode`, compared with the expectation everywhere.
    void check(const Case& c, const Picture& below) {
        SCOPED_TRACE(c.name);
        Tal_Image* image = imageOf(below);
        ASSERT_NE(image, nullptr);
        Tal_Image* layer = fullLayer(image, c.mode);
        ASSERT_NE(layer, nullptr);
        setColour(layer, kColour[0], kColour[1], kColour[2]);
        if (c.setup) c.setup(layer, layer->mode);
        Tal_FullProcessImage(image);
        Picture out = picture(image);
        int wrong = 0;
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++)
                for (int ch = 0; ch < 3; ch++) {
                    int want = c.expect(below, x, y, ch);
                    if (at(out, x, y, ch) != want && wrong++ < 3)
                        ADD_FAILURE() << "(" << x << ", " << y << ") channel " << ch << ": "
                                      << at(out, x, y, ch) << ", expected " << want;
                }
        EXPECT_EQ(wrong, 0);
        dispose(image);
    }
};

TEST_F(BuiltInModes, EveryModeGivesItsFormula) {
    std::vector<Case> cases = {
        {"Paint", "Paint", nullptr, [](const Picture&, LONG, LONG, int ch) { return int(kColour[ch]); }},
        {"Negative", "Negative", nullptr,
         [](const Picture& p, LONG x, LONG y, int ch) { return 255 - at(p, x, y, ch); }},
        {"Colourise in the layer's colour", "Colourise", nullptr,
         [](const Picture& p, LONG x, LONG y, int ch) { return ramp(luminance(p, x, y), kColour[ch]); }},
        {"Colourise in black", "Colourise", [](Tal_Image* layer, ULONG) { setColour(layer, 0, 0, 0); },
         [](const Picture& p, LONG x, LONG y, int) { return ramp(luminance(p, x, y), 0); }},
        {"Colourise in a chosen colour", "Colourise",
         [](Tal_Image*, ULONG mode) {
             setParameters(
                 mode,
                 {{TAL_SetColouriseRed, 10}, {TAL_SetColouriseGreen, 250}, {TAL_SetColouriseBlue, 128}});
         },
         [](const Picture& p, LONG x, LONG y, int ch) {
             const int chosen[3] = {10, 250, 128};
             return ramp(luminance(p, x, y), chosen[ch]);
         }},
        {"Sepia", "Sepia", nullptr,
         [](const Picture& p, LONG x, LONG y, int ch) {
             const int sepia[3] = {138, 107, 75};
             return ramp(luminance(p, x, y), sepia[ch]);
         }},
        {"Emboss with its defaults", "Emboss", nullptr,
         [](const Picture& p, LONG x, LONG y, int ch) {
             return std::clamp(127 + at(p, x + 1, y + 1, ch) - at(p, x - 1, y - 1, ch), 0, 255);
         }},
        {"Emboss: radius 3, angle 30, amount -150, in the layer's colour", "Emboss",
         [](Tal_Image*, ULONG mode) {
             setParameters(mode, {{TAL_SetModeRadius, 3},
                                  {TAL_SetModeAngle, 30},
                                  {TAL_SetModeAmount, -150},
                                  {TAL_SetModeColourMode, 1}});
         },
         [](const Picture& p, LONG x, LONG y, int ch) {
             return emboss(p, x, y, ch, -150, 3, 30, kColour[ch]);
         }},
        {"Emboss: radius 5, angle 200, amount 37", "Emboss",
         [](Tal_Image*, ULONG mode) {
             setParameters(mode, {{TAL_SetModeRadius, 5}, {TAL_SetModeAngle, 200}, {TAL_SetModeAmount, 37}});
         },
         [](const Picture& p, LONG x, LONG y, int ch) { return emboss(p, x, y, ch, 37, 5, 200, 127); }},
        {"FlipX", "FlipX", nullptr,
         [](const Picture& p, LONG x, LONG y, int ch) { return at(p, LONG(p.width) - 1 - x, y, ch); }},
        {"FlipY", "FlipY", nullptr,
         [](const Picture& p, LONG x, LONG y, int ch) { return at(p, x, LONG(p.height) - 1 - y, ch); }},
        {"Clone by (3, -2)", "Clone",
         [](Tal_Image*, ULONG mode) {
             setParameters(mode, {{TAL_SetCloneDX, 3}, {TAL_SetCloneDY, -2}});
         },
         [](const Picture& p, LONG x, LONG y, int ch) { return at(p, x + 3, y - 2, ch); }},
    };
    for (LONG conversion = 0; conversion <= 10; conversion++)
        cases.push_back(
            {"ColourToGrey " + std::to_string(conversion), "ColourToGrey",
             [conversion](Tal_Image*, ULONG mode) { Tal_DoMethod(mode, TAL_SetGreyConversion, conversion); },
             [conversion](const Picture& p, LONG x, LONG y, int) {
                 return grey(conversion, at(p, x, y, 0), at(p, x, y, 1), at(p, x, y, 2));
             }});
    // The angles whose first offsets are known: 0°, 45°, 90°, 180°, 270° and 315°.
    const int angles[][3] = {{0, 0, 1}, {45, -1, 1}, {90, -2, 0}, {180, 0, -2}, {270, 1, 0}, {315, 1, 1}};
    for (const auto& [angle, dx, dy] : angles)
        cases.push_back(
            {"Emboss at " + std::to_string(angle) + " degrees", "Emboss",
             [angle](Tal_Image*, ULONG mode) { Tal_DoMethod(mode, TAL_SetModeAngle, angle); },
             [dx, dy](const Picture& p, LONG x, LONG y, int ch) { return embossStep(p, x, y, ch, dx, dy); }});

    // An odd size, so that spans start and end off the multiples of 4 and every edge is reached.
    const Picture below = talio_test::testPicture(19, 13);
    for (const Case& c : cases) check(c, below);
}

// The values the modes are known by, on pictures of one colour.
TEST_F(BuiltInModes, KnownValues) {
    struct Known {
        std::string name;
        const char* mode;
        ModeSetup setup;
        std::array<UBYTE, 3> below, result;
    };
    auto conversion = [](LONG c) {
        return [c](Tal_Image*, ULONG mode) { Tal_DoMethod(mode, TAL_SetGreyConversion, c); };
    };
    const std::vector<Known> known = {
        {"Sepia of mid grey", "Sepia", nullptr, {127, 127, 127}, {138, 107, 75}},
        {"luminance of red", "ColourToGrey", conversion(9), {255, 0, 0}, {54, 54, 54}},
        {"video grey of red", "ColourToGrey", conversion(10), {255, 0, 0}, {76, 76, 76}},
        {"least channel", "ColourToGrey", conversion(0), {10, 200, 30}, {10, 10, 10}},
        {"Colourise in black: mid grey",
         "Colourise",
         [](Tal_Image* l, ULONG) { setColour(l, 0, 0, 0); },
         {127, 127, 127},
         {0, 0, 0}},
        {"Colourise in black: white",
         "Colourise",
         [](Tal_Image* l, ULONG) { setColour(l, 0, 0, 0); },
         {255, 255, 255},
         {253, 253, 253}},
        {"Negative of white", "Negative", nullptr, {255, 255, 255}, {0, 0, 0}},
        {"Emboss of a flat picture", "Emboss", nullptr, {90, 60, 30}, {127, 127, 127}},
        {"Emboss of a flat picture in the layer's colour",
         "Emboss",
         [](Tal_Image*, ULONG mode) { Tal_DoMethod(mode, TAL_SetModeColourMode, 1); },
         {90, 60, 30},
         {kColour[0], kColour[1], kColour[2]}},
        {"Emboss at amount 0",
         "Emboss",
         [](Tal_Image*, ULONG mode) { Tal_DoMethod(mode, TAL_SetModeAmount, 0); },
         {90, 60, 30},
         {127, 127, 127}},
    };
    for (const Known& k : known) {
        const auto result = k.result;
        check({k.name, k.mode, k.setup,
               [result](const Picture&, LONG, LONG, int ch) { return int(result[ch]); }},
              flat(9, 5, k.below[0], k.below[1], k.below[2]));
    }
}

// The strongest relief of a black and white edge is white on one side and black on the other, not a
// value wrapped round.
TEST_F(BuiltInModes, StrongReliefReachesWhiteAndBlack) {
    Picture edge = flat(32, 6, 0, 0, 0);
    for (ULONG y = 0; y < edge.height; y++)
        for (ULONG x = 16; x < edge.width; x++)
            for (int ch = 0; ch < 3; ch++) edge.samples[(size_t(y) * edge.width + x) * 3 + ch] = 255;
    for (int amount : {200, -200}) {
        SCOPED_TRACE(amount);
        Tal_Image* image = imageOf(edge);
        Tal_Image* layer = fullLayer(image, "Emboss");
        ASSERT_NE(layer, nullptr);
        setParameters(layer->mode, {{TAL_SetModeRadius, 128}, {TAL_SetModeAmount, amount}});
        Tal_FullProcessImage(image);
        const int want = amount > 0 ? 255 : 0;
        for (LONG y = 0; y < image->height; y++) {
            EXPECT_EQ(image->red[y][16], want);
            EXPECT_EQ(image->blue[y][15], want);
        }
        dispose(image);
    }
}

// Paint composes the same through its line method as through the compositor's own fast path.
TEST_F(BuiltInModes, PaintThroughItsMethodEqualsTheFastPath) {
    Tal_Image* image = imageOf(talio_test::testPicture(21, 7));
    Tal_Image* layer = newLayer(image);
    setColour(layer, kColour[0], kColour[1], kColour[2]);
    const UBYTE coverage[] = {0, 1, 77, 128, 200, 254, 255, 255, 0, 3};
    for (LONG y = 0; y < image->height; y++)
        for (LONG x = 2; x < image->width - 3; x++) paint(layer, x, y, coverage[(x * 3 + y) % 10]);
    Tal_FullProcessImage(image);
    const Picture fast = picture(image);
    // The compositor knows the fast case by the mode's name; under another name it calls the mode.
    std::snprintf(layer->mode_name, sizeof layer->mode_name, "Paint mode");
    Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
    Tal_FullProcessImage(image);
    EXPECT_EQ(picture(image), fast);
    dispose(image);
}

// On a grey image only Paint has a result (the grey of its colour); the others leave the result lines
// as they were.
TEST_F(BuiltInModes, GreyImagesGetOnlyPaint) {
    Tal_Image* image = newImage(12, 3, 8);
    Tal_Image* layer = newLayer(image);
    ASSERT_NE(layer, nullptr);
    setColour(layer, 200, 100, 51);
    for (LONG y = 0; y < 3; y++)
        for (LONG x = 0; x < 12; x++) image->grey[y][x] = image->base_grey[y][x] = UBYTE(20 * x + y);
    const struct {
        const char* mode;
        Tal_Word returned;
        int grey;
    } cases[] = {{"Paint", 1, (200 + 100 + 51) / 3},
                 {"Negative", 0, -1},
                 {"Colourise", 0, -1},
                 {"Sepia", 0, -1},
                 {"ColourToGrey", 1, -1},
                 {"FlipX", 0, -1},
                 {"FlipY", 0, -1},
                 {"Clone", 0, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        ULONG mode = Tal_CreateObject((std::string(c.mode) + "Mode").c_str());
        std::vector<UBYTE> lines(4 * 16, 0xAB);
        UBYTE* result[4] = {&lines[0], &lines[16], &lines[32], &lines[48]};
        Tal_ImageLock region{image,       layer,       4,           1,       10,      1,
                             image->grey, image->grey, image->grey, nullptr, nullptr, nullptr};
        Tal_ImageLock below{image, layer, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
        Tal_ModeLineRecord record{&region, &below, &result[0], &result[1], &result[2], &result[3]};
        EXPECT_EQ(Tal_DoMethod(mode, TAL_ModeRenderLine, &record), c.returned);
        for (size_t i = 0; i < lines.size(); i++) {
            bool greyLine = i >= 48 && i < 48 + 7;
            int want = greyLine && c.grey >= 0 ? c.grey : 0xAB;
            ASSERT_EQ(lines[i], want) << i;
        }
        Tal_DisposeObject(mode);
    }
    dispose(image);
}

// Negative, FlipX and FlipY over a plasma picture give what ImageMagick's -negate, -flop and -flip give.
TEST_F(BuiltInModes, NegativeAndFlipsAgreeWithImageMagick) {
    using namespace talio_test;
    const fs::path dir = scratchFolder();
    const fs::path plasma = dir / "plasma.ppm";
    ASSERT_EQ(run("convert -seed 7 -size 37x23 plasma:fractal -depth 8 " + quoted(plasma)), 0);
    const Picture below = readPnm(readFile(plasma));
    ASSERT_EQ(below.width, 37u);
    const std::pair<const char*, const char*> modes[] = {
        {"Negative", "-negate"}, {"FlipX", "-flop"}, {"FlipY", "-flip"}};
    for (const auto& [mode, option] : modes) {
        SCOPED_TRACE(mode);
        Tal_Image* image = imageOf(below);
        ASSERT_NE(fullLayer(image, mode), nullptr);
        Tal_FullProcessImage(image);
        const fs::path ours = dir / (std::string(mode) + ".ppm");
        const fs::path theirs = dir / (std::string(mode) + "-magick.ppm");
        writeFile(ours, pnmBytes(picture(image)));
        ASSERT_EQ(run("convert " + quoted(plasma) + " " + option + " " + quoted(theirs)), 0);
        EXPECT_EQ(output("compare -metric AE " + quoted(ours) + " " + quoted(theirs) + " null: 2>&1"), "0");
        dispose(image);
    }
}

} // namespace
