// Interface drawing: frames, bevels and background erasing on objects.
#include "ui/Frames.h"

#include "Tal/Root.h"
#include "support/Canvas.h"
#include "support/TalTest.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A class on Root whose objects draw a backdrop: they record the call and fill the rectangle green.
constexpr ULONG kGreen = 0x0000FF00;
Tal_Class backdropClass;
std::vector<Tal_Word> backdropCall;

Tal_Word backdropDispatch(void* instance, ULONG id, const Tal_Word* args) {
    if (id == TAL_DrawBackdrop) {
        backdropCall.assign(args, args + 7);
        auto* di = reinterpret_cast<Tal_DrawInfo*>(args[0]);
        FillPixelArray(di->rastPort, LONG(args[1]), LONG(args[2]), LONG(args[3]), LONG(args[4]), kGreen);
        return 1;
    }
    return Tal_DoMethodA(static_cast<Tal_Object*>(instance)->superObject, id, args);
}

class Frames : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        ASSERT_EQ(init_graphics(), 1u);
        Tal__SetupClass(
            &backdropClass, "TBackdrop", 0x7E110000, "Root",
            [](const TagItem*) -> void* {
                auto* self = static_cast<Tal_Object*>(Tal_AllocObjectMem(&backdropClass));
                if (self) self->superObject = Tal_CreateObject("Root");
                return self;
            },
            [](void* instance) {
                Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
                Tal_FreeObjectMem(instance);
            },
            backdropDispatch, nullptr, sizeof(Tal_Object));
        host_InitDrawInfo(&di, &canvas.rp);
        object = Tal_CreateObject("Root");
        ASSERT_NE(object, 0u);
    }
    void TearDown() override {
        for (ULONG h : {object, parent, backdrop})
            if (h) Tal_DisposeObject(h);
        Tal__CleanupClass(&backdropClass);
        cleanup_graphics();
        TalFixture::TearDown();
    }
    Tal_RootInstance* root(ULONG h) { return Tal__GetRootInstance(h); }
    Canvas canvas{200, 120, 0x00123456};
    Tal_DrawInfo di{};
    ULONG object = 0, parent = 0, backdrop = 0;
};

TEST_F(Frames, EraseBackgroundUsesBackdropThenObjectColoursThenTheBackgroundPen) {
    auto erase = [&] { Tal_EraseBackground(object, &di, 10, 20, 5, 4); };
    erase(); // no object colours: the background pen
    EXPECT_EQ(canvas.at(10, 20), kWhite);
    EXPECT_EQ(canvas.at(14, 23), kWhite);
    EXPECT_EQ(canvas.at(15, 23), 0x00123456u);

    di.useColours = 1;
    parent = Tal_CreateObject("Root");
    root(object)->box.parent = parent;
    Tal_DoMethod(parent, TAL_SetColour1, kBlue);
    erase(); // the first ancestor with a colour
    EXPECT_EQ(canvas.at(12, 21), kBlue);
    Tal_DoMethod(object, TAL_SetColour1, kRed);
    erase(); // its own colour
    EXPECT_EQ(canvas.at(12, 21), kRed);
    di.useColours = 0;
    erase(); // colours unused
    EXPECT_EQ(canvas.at(12, 21), kWhite);

    backdrop = Tal_CreateObject("TBackdrop");
    ASSERT_NE(backdrop, 0u);
    Tal_DoMethod(object, TAL_SetBox, 4, 6, 50, 50);
    Tal_DoMethod(object, TAL_SetBackdrop, backdrop);
    erase(); // the backdrop draws, told where the rectangle lies in the object's box
    EXPECT_EQ(canvas.at(12, 21), kGreen);
    EXPECT_EQ(backdropCall, (std::vector<Tal_Word>{Tal_ToWord(&di), 10, 20, 5, 4, 6, 14}));
    Tal_DisposeObject(backdrop);
    backdrop = 0;
    erase(); // a backdrop that is gone is skipped
    EXPECT_EQ(canvas.at(12, 21), kWhite);
}

TEST_F(Frames, FrameStylesDrawTheirEdgesAndLeaveThePortAsItWas) {
    const ULONG face = 0x00C0C0C0, shade = 0x00A0A0A0, none = 0x00123456;
    struct Probe {
        LONG x, y;
        ULONG colour;
    };
    struct Case {
        ULONG style;
        std::vector<Probe> probes; // box (10, 10)-(49, 39)
    } cases[] = {
        {1, {{10, 10, kBlack}, {49, 39, kBlack}, {30, 10, kBlack}, {11, 11, none}}},
        {0x81, {{10, 10, kBlack}, {49, 39, kBlack}, {11, 11, none}}}, // bit 7 ignored
        {2, {{10, 20, shade}, {30, 10, shade}, {49, 20, kBlack}, {30, 39, kBlack}}},
        {3, {{10, 10, shade}, {11, 11, shade}, {49, 39, kWhite}, {48, 38, kWhite}, {12, 12, none}}},
        {4, {{10, 10, kBlack}, {11, 11, face}, {48, 38, face}}},
        {5, {{10, 10, kBlack}, {11, 11, kBlack}, {12, 12, face}}},
        {6, {{10, 10, kWhite}, {49, 39, kWhite}}},
        {8, {{10, 10, none ^ 0x00FFFFFF}, {49, 39, none ^ 0x00FFFFFF}}},
        {9, {{10, 10, kBlack}, {49, 30, kBlack}, {10, 30, kWhite}, {30, 39, kWhite}}},
        {13, {{30, 25, kBlack}, {10, 10, none}}},
        {18, {{10, 10, shade}, {49, 39, kBlack}, {30, 25, kWhite}}},
        {20, {{30, 10, shade}, {30, 11, kWhite}, {30, 39, kBlack}, {30, 25, none}}},
        {21, {{10, 10, 0x00808080}, {11, 11, 0x00404040}, {49, 39, kWhite}, {48, 38, face}}},
        {14, {{10, 10, none}, {30, 25, none}}}, // not a style: nothing
    };
    for (const auto& c : cases) {
        FillPixelArray(&canvas.rp, 0, 0, 200, 120, none);
        SetABPenDrMd(&canvas.rp, host_DirectPen(kRed), host_DirectPen(kGreen), COMPLEMENT);
        Move(&canvas.rp, 3, 4);
        Tal_DrawFrame(object, &di, 10, 10, 40, 30, nullptr, 0, c.style);
        for (const auto& p : c.probes)
            EXPECT_EQ(canvas.at(p.x, p.y), p.colour) << c.style << " at " << p.x << "," << p.y;
        EXPECT_EQ(canvas.at(9, 9), none) << c.style;
        EXPECT_EQ(canvas.at(50, 40), none) << c.style;
        EXPECT_EQ(canvas.rp.FgPen, host_DirectPen(kRed));
        EXPECT_EQ(canvas.rp.DrawMode, COMPLEMENT);
        EXPECT_EQ(canvas.rp.cp_x, 3);
    }

    // A title lowers the bevel by two thirds of a line and sits on its top edge, centred.
    FillPixelArray(&canvas.rp, 0, 0, 200, 120, none);
    Tal_DrawFrame(object, &di, 10, 10, 100, 40, "Title", 1, 1);
    const LONG top = 10 + di.fontHeight * 2 / 3, tw = TextLength(&canvas.rp, "Title", 5);
    EXPECT_EQ(canvas.at(10, top), kBlack);
    EXPECT_EQ(canvas.at(10, top - 1), none);
    EXPECT_NE(canvas.at(10 + (100 - tw) / 2 - 1, top), kBlack); // the gap round the title
    bool inked = false;
    for (LONG x = 10 + (100 - tw) / 2; x < 10 + (100 + tw) / 2; x++) inked |= canvas.at(x, 13) == kBlack;
    EXPECT_TRUE(inked);
    // An empty title is none.
    FillPixelArray(&canvas.rp, 0, 0, 200, 120, none);
    Tal_DrawFrame(object, &di, 10, 10, 100, 40, "", 1, 1);
    EXPECT_EQ(canvas.at(10, 10), kBlack);
}

// Renders every frame style, bevels, hatching, text both ways and each kind of line into one sheet, for
// the eye: $VELURA_TEST_TMP/graphics-sheet.bmp.
TEST_F(Frames, SheetOfEverything) {
    Canvas sheet(600, 500, kWhite);
    Tal_DrawInfo d;
    host_InitDrawInfo(&d, &sheet.rp);
    RastPort* rp = &sheet.rp;
    Tal_DoMethod(object, TAL_SetColours, 0x00F0D0B0);
    auto label = [&](LONG x, LONG y, const char* text) {
        SetABPenDrMd(rp, 1, 0, JAM1);
        Move(rp, x, y);
        Text(rp, text, ULONG(std::strlen(text)));
    };
    const ULONG styles[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 18, 20, 21, 22};
    LONG cell = 0;
    for (int titled = 0; titled < 2; titled++)
        for (ULONG style : styles) {
            const LONG x = 4 + (cell % 6) * 99, y = 4 + (cell / 6) * 56;
            char name[32];
            std::snprintf(name, sizeof name, "style %u%s", style, titled ? " titled" : "");
            label(x, y, name);
            SetABPenDrMd(rp, host_DirectPen(0x00FFB43C), 0, JAM2);
            SetOutlinePen(rp, 1);
            Tal_DrawFrame(object, &d, x, y + 15, 92, 36, titled ? "Brushes" : nullptr, 1, style);
            cell++;
        }
    // Object colours for the styles that use them.
    d.useColours = 1;
    for (ULONG style : {4u, 5u, 8u}) {
        const LONG x = 4 + (cell % 6) * 99, y = 4 + (cell / 6) * 56;
        char name[32];
        std::snprintf(name, sizeof name, "style %u colours", style);
        label(x, y, name);
        Tal_DrawFrame(object, &d, x, y + 15, 92, 36, "OK", 1, style);
        cell++;
    }
    d.useColours = 0;

    const LONG y0 = 4 + ((cell + 5) / 6) * 56;
    Tal_DrawBevel(&d, 4, y0, 60, 30);
    Tal_DrawIndent(&d, 70, y0, 60, 30);
    SetABPenDrMd(rp, d.midGreyPen, 0, JAM2);
    Tal_FillHatchedRectangle(rp, 136, y0, 195, y0 + 29);
    SetABPenDrMd(rp, 1, host_DirectPen(0x00FFB43C), JAM2);
    Move(rp, 204, y0);
    Text(rp, "Open an Existing Image", 22);
    SetDrMd(rp, JAM1);
    Move(rp, 204, y0 + 16);
    Text(rp, "Zw\xf6lf \xc4pfel, 0123456789 (\xe9t\xe9)", 29);
    Move(rp, 420, y0 - 8);
    Tal_DrawRotatedText(rp, "Turned text", 11, 270);
    SetAPen(rp, host_DirectPen(kRed));
    DrawLine(rp, 440, y0, 490, y0, host_DirectPen(kBlue));
    DrawLine(rp, 440, y0 + 4, 490, y0 + 30, host_DirectPen(kBlue));
    DrawLine(rp, 495, y0, 495, y0 + 30, host_DirectPen(kBlue));
    Move(rp, 500, y0 + 30);
    Draw(rp, 520, y0);
    Draw(rp, 540, y0 + 30);
    DrawEllipse(rp, 570, y0 + 15, 20, 12);
    SetOutlinePen(rp, 1);
    Tal_FillEllipse(rp, 30, y0 + 60, 25, 15);
    Move(rp, 70, y0 + 75);
    Tal_DrawBezier(rp, 70, y0 + 75, 110, y0 + 40, 150, y0 + 75, 16);
    SetDrMd(rp, COMPLEMENT);
    RectFill(rp, 160, y0 + 45, 220, y0 + 75);
    Move(rp, 230, y0 + 45);
    Draw(rp, 290, y0 + 45);
    Draw(rp, 290, y0 + 75);
    Draw(rp, 230, y0 + 75);
    Draw(rp, 230, y0 + 45);

    const char* dir = std::getenv("VELURA_TEST_TMP");
    const std::string folder = dir ? dir : "test-tmp";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/graphics-sheet.bmp";
    ASSERT_TRUE(writeBmp(path, sheet.surface)) << path;
    std::printf("sheet: %s\n", path.c_str());
}

} // namespace
