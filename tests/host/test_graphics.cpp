#include "host/graphics.h"

#include "support/Canvas.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

class Graphics : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(init_graphics(), 1u) << "no interface font"; }
    void TearDown() override { cleanup_graphics(); }
};

// ---------------------------------------------------------------------------------------------------
// Rectangles, pens and modes.

TEST_F(Graphics, RectFillTakesCornersInAnyOrderBothInclusive) {
    const LONG corners[][4] = {{5, 5, 10, 10}, {10, 10, 5, 5}, {10, 5, 5, 10}, {5, 10, 10, 5}};
    std::set<std::pair<LONG, LONG>> first;
    for (const auto& c : corners) {
        Canvas cv(20, 20);
        SetAPen(&cv.rp, 1);
        RectFill(&cv.rp, c[0], c[1], c[2], c[3]);
        const auto got = cv.changed();
        EXPECT_EQ(got.size(), 36u);
        EXPECT_TRUE(got.count({5, 5}) && got.count({10, 10}));
        if (first.empty()) first = got;
        EXPECT_EQ(got, first);
    }
}

TEST_F(Graphics, PensAreDirectColoursOrTheColourTable) {
    EXPECT_EQ(ObtainBestPen(nullptr, 0xFF000000, 0, 0), 0x020000FFu);
    EXPECT_EQ(ObtainBestPen(nullptr, 0x12345678, 0xABCDEF01, 0xFEDCBA98), 0x02FEAB12u); // unsigned shifts
    Canvas cv(4, 4);
    SetAPen(&cv.rp, ObtainBestPen(nullptr, 0xFF000000, 0, 0));
    WritePixel(&cv.rp, 1, 1);
    EXPECT_EQ(cv.at(1, 1), kRed);
    EXPECT_EQ(cv.surface->pixels[1 * 4 + 1], 0x00FF0000u); // red in the surface's 0x00RRGGBB

    // Table pens: with no screen the fixed table; with one, the screen's (whose background may change).
    const ULONG defaults[] = {kWhite, kBlack, kWhite, 0x00FFB43C};
    for (ULONG pen = 0; pen < 4; pen++) EXPECT_EQ(host_PenColour(&cv.rp, pen), defaults[pen]) << pen;
    host_SetScreenPenColour(0, 0x00C0C0C0);
    EXPECT_EQ(host_PenColour(&cv.rp, 0), kWhite);
    cv.rp.rp_Screen = reinterpret_cast<Screen*>(&cv); // any record: only its presence counts
    EXPECT_EQ(host_PenColour(&cv.rp, 0), 0x00C0C0C0u);
    host_SetScreenPenColour(0, kWhite);

    ULONG rgb[6];
    GetRGB32(nullptr, 3, 2, rgb);
    EXPECT_EQ(rgb[0], 0x3C3C3C3Cu);
    EXPECT_EQ(rgb[1], 0xB4B4B4B4u);
    EXPECT_EQ(rgb[2], 0xFFFFFFFFu);
    EXPECT_EQ(rgb[3], 0u); // pen 4 is not in the table
}

TEST_F(Graphics, ComplementTwiceRestoresThePixels) {
    Canvas cv(60, 60);
    cv.noise();
    const auto before = cv.pixels();
    SetDrMd(&cv.rp, COMPLEMENT);
    auto drawAll = [&] {
        RectFill(&cv.rp, 3, 3, 20, 9);
        DrawLine(&cv.rp, 0, 0, 50, 37, 1);
        DrawLine(&cv.rp, 5, 40, 55, 40, 1);
        Move(&cv.rp, 10, 50);
        Draw(&cv.rp, 40, 20);
        Draw(&cv.rp, 40, 50);
        DrawEllipse(&cv.rp, 30, 30, 17, 9);
        Tal_DrawBezier(&cv.rp, 2, 58, 30, 30, 58, 58, 12);
        Tal_FillEllipse(&cv.rp, 45, 12, 6, 4);
        Move(&cv.rp, 2, 44);
        Text(&cv.rp, "Ag", 2);
    };
    drawAll();
    EXPECT_NE(cv.pixels(), before);
    drawAll();
    EXPECT_EQ(cv.pixels(), before);
}

TEST_F(Graphics, LinesLeaveOutTheirLastPixelExceptStraightDrawLines) {
    struct Case {
        LONG x0, y0, x1, y1;
        bool useDraw;
        bool lastDrawn;
        size_t pixels;
    } cases[] = {
        {2, 2, 12, 2, false, true, 11},  // horizontal DrawLine: a rectangle
        {2, 12, 2, 2, false, true, 11},  // vertical
        {4, 4, 4, 4, false, true, 1},    // a point
        {2, 2, 12, 7, false, false, 10}, // slanted
        {2, 2, 12, 2, true, false, 10},  // Draw, every direction
        {12, 9, 2, 2, true, false, 10},  {5, 5, 5, 5, true, false, 0},
    };
    for (const auto& c : cases) {
        Canvas cv(16, 16);
        if (c.useDraw) {
            Move(&cv.rp, c.x0, c.y0);
            Draw(&cv.rp, c.x1, c.y1);
            EXPECT_EQ(cv.rp.cp_x, c.x1);
            EXPECT_EQ(cv.rp.cp_y, c.y1);
        } else {
            DrawLine(&cv.rp, c.x0, c.y0, c.x1, c.y1, 1);
        }
        const auto got = cv.changed();
        EXPECT_EQ(got.size(), c.pixels) << c.x0 << "," << c.y0 << "-" << c.x1 << "," << c.y1;
        EXPECT_EQ(got.count({c.x1, c.y1}) == 1, c.lastDrawn);
        if (c.pixels) {
            EXPECT_EQ(got.count({c.x0, c.y0}), 1u);
        }
    }
}

TEST_F(Graphics, EllipsesAreClosedAndInTheirBox) {
    Canvas cv(40, 30);
    SetDrMd(&cv.rp, COMPLEMENT); // a pixel drawn twice would vanish
    DrawEllipse(&cv.rp, 20, 15, 12, 7);
    const auto outline = cv.changed();
    for (auto [x, y] : outline) EXPECT_TRUE(x >= 8 && x <= 32 && y >= 8 && y <= 22) << x << "," << y;
    for (auto p : {std::pair<LONG, LONG>{8, 15}, {32, 15}, {20, 8}, {20, 22}})
        EXPECT_EQ(outline.count(p), 1u);
    // Closed: every outline pixel has two 8-neighbours on the outline.
    for (auto [x, y] : outline) {
        int n = 0;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) n += (dx || dy) && outline.count({x + dx, y + dy});
        EXPECT_GE(n, 2) << x << "," << y;
    }

    Canvas f(40, 30);
    SetAPen(&f.rp, host_DirectPen(kRed));
    SetOutlinePen(&f.rp, host_DirectPen(kBlue));
    Tal_FillEllipse(&f.rp, 20, 15, 10, 5);
    const auto filled = f.changed();
    LONG minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (auto [x, y] : filled)
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y),
        maxY = std::max(maxY, y);
    EXPECT_EQ(minX, 10);
    EXPECT_EQ(maxX, 30);
    EXPECT_EQ(minY, 10);
    EXPECT_EQ(maxY, 20);
    EXPECT_EQ(f.at(20, 15), kRed);
    EXPECT_EQ(f.at(10, 15), kBlue);
    EXPECT_EQ(f.at(20, 10), kBlue);
}

TEST_F(Graphics, BezierRunsFromItsStartThroughTheMiddlePointToItsEnd) {
    Canvas cv(40, 40);
    Move(&cv.rp, 2, 30);
    Tal_DrawBezier(&cv.rp, 2, 30, 20, 10, 38, 30, 16);
    EXPECT_EQ(cv.at(2, 30), kBlack);
    EXPECT_EQ(cv.at(20, 10), kBlack); // the middle point: the curve passes through it at t = 1/2
    EXPECT_EQ(cv.rp.cp_x, 38);
    EXPECT_EQ(cv.rp.cp_y, 30);
    EXPECT_NE(cv.at(37, 29), kWhite); // the last segment arrives; its end is left out like any line
    for (auto [x, y] : cv.changed()) EXPECT_TRUE(y >= 10 && y <= 30 && x >= 2 && x <= 38);

    Canvas one(40, 40); // no steps: only the final segment from the pen position
    Move(&one.rp, 5, 5);
    Tal_DrawBezier(&one.rp, 5, 5, 20, 30, 15, 5, 0);
    EXPECT_EQ(one.changed().size(), 10u);
}

TEST_F(Graphics, HatchIsACheckerboardInWindowCoordinates) {
    Canvas cv(12, 12);
    SetABPenDrMd(&cv.rp, host_DirectPen(kRed), host_DirectPen(kBlue), JAM1);
    Tal_FillHatchedRectangle(&cv.rp, 7, 6, 2, 3); // corners swapped, both inclusive
    Tal_FillHatchedRectangle(&cv.rp, 8, 3, 9, 6); // joins without a seam
    for (LONG y = 0; y < 12; y++)
        for (LONG x = 0; x < 12; x++) {
            const bool inside = y >= 3 && y <= 6 && x >= 2 && x <= 9;
            EXPECT_EQ(cv.at(x, y), !inside ? kWhite : ((x + y) % 2 == 0 ? kRed : kBlue)) << x << "," << y;
        }
}

TEST_F(Graphics, ClippingKeepsDrawingInsideRegionAndRefreshRectangle) {
    Canvas cv(30, 30);
    Region* region = NewRegion();
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(region->bounds.MaxX, 0); // zeroed
    ClearRegion(region);
    EXPECT_EQ(region->bounds.MaxX, 32767);
    const Rectangle r1{5, 5, 20, 20}, r2{10, 0, 40, 15};
    OrRectRegion(region, &r1);
    OrRectRegion(region, &r2); // intersects: (10, 5)-(20, 15)
    EXPECT_EQ(InstallClipRegion(&cv.layer, region), nullptr);

    auto fillAll = [&] { RectFill(&cv.rp, 0, 0, 29, 29); };
    auto box = [](std::set<std::pair<LONG, LONG>> px) {
        LONG x0 = 99, y0 = 99, x1 = -1, y1 = -1;
        for (auto [x, y] : px)
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        return std::vector<LONG>{x0, y0, x1, y1, LONG(px.size())};
    };
    fillAll();
    EXPECT_EQ(box(cv.changed()), (std::vector<LONG>{10, 5, 20, 15, 11 * 11}));

    // During a refresh the region and the refresh rectangle both clip.
    FillPixelArray(&cv.rp, 0, 0, 30, 30, kWhite);
    host_BeginRefresh(&cv.layer, Rectangle{0, 12, 12, 29});
    Move(&cv.rp, 0, 0);
    Text(&cv.rp, "WWWW", 4);
    DrawLine(&cv.rp, 0, 29, 29, 0, 1);
    fillAll();
    EXPECT_EQ(box(cv.changed()), (std::vector<LONG>{10, 12, 12, 15, 12}));
    // Without the region only the refresh rectangle clips; after the refresh nothing does.
    EXPECT_EQ(InstallClipRegion(&cv.layer, nullptr), region);
    fillAll();
    EXPECT_EQ(box(cv.changed()), (std::vector<LONG>{0, 12, 12, 29, 13 * 18}));
    EXPECT_EQ(cv.at(0, 12), kBlack);
    EXPECT_EQ(cv.at(13, 12), kWhite);
    host_EndRefresh(&cv.layer);
    EXPECT_EQ(cv.layer.refresh.MinX, 32767);
    EXPECT_EQ(cv.layer.refresh.MaxX, 0);
    fillAll();
    EXPECT_EQ(cv.changed().size(), 900u);
    DisposeRegion(region);
}

TEST_F(Graphics, ScrollMovesPixelsAndFillsWhatWasUncovered) {
    Canvas cv(10, 10);
    SetAPen(&cv.rp, host_DirectPen(kRed));
    WritePixel(&cv.rp, 5, 5);
    SetBPen(&cv.rp, host_DirectPen(kBlue));
    ScrollRaster(&cv.rp, 2, 1, 0, 0, 9, 9); // by (-2, -1)
    EXPECT_EQ(cv.at(3, 4), kRed);
    EXPECT_EQ(cv.at(5, 5), kWhite);
    EXPECT_EQ(cv.at(9, 0), kBlue); // the uncovered right columns
    EXPECT_EQ(cv.at(0, 9), kBlue); // and bottom row
    EXPECT_EQ(cv.at(7, 8), kWhite);

    Rectangle exposed;
    EXPECT_EQ(host_ScrollLayer(&cv.layer, -3, 0, 0, 0, 9, 9, &exposed), 1u);
    EXPECT_EQ(cv.at(6, 4), kRed);
    EXPECT_EQ(exposed.MinX, 0);
    EXPECT_EQ(exposed.MaxX, 2);
    EXPECT_EQ(exposed.MaxY, 9);
}

// ---------------------------------------------------------------------------------------------------
// Text.

TEST_F(Graphics, TextDrawsAtThePenPositionAndAdvancesIt) {
    Canvas cv(80, 20);
    const LONG width = TextLength(&cv.rp, "Hello", 5);
    EXPECT_GT(width, 20);
    EXPECT_LT(width, 40);
    EXPECT_GE(cv.rp.TxHeight, 12);
    EXPECT_LE(cv.rp.TxHeight, 15);
    SetABPenDrMd(&cv.rp, 1, host_DirectPen(kBlue), JAM2);
    Move(&cv.rp, 3, 2);
    EXPECT_EQ(Text(&cv.rp, "Hello", 5), width);
    EXPECT_EQ(cv.rp.cp_x, 3 + width);
    EXPECT_EQ(cv.rp.cp_y, 2);
    EXPECT_EQ(cv.at(3, 2), kBlue); // opaque background over the whole cell
    EXPECT_EQ(cv.at(3 + width - 1, 2 + cv.rp.TxHeight - 1), kBlue);
    EXPECT_EQ(cv.at(3 + width, 2), kWhite);
    EXPECT_EQ(cv.at(3, 2 + cv.rp.TxHeight), kWhite);
    bool black = false;
    for (auto [x, y] : cv.changed()) black |= cv.at(x, y) == kBlack;
    EXPECT_TRUE(black) << "the H's stems are solid";

    Canvas clear(80, 20); // JAM1: the background stays
    SetDrMd(&clear.rp, JAM1);
    Text(&clear.rp, "Hello", 5);
    EXPECT_EQ(clear.at(0, 0), kWhite);
    EXPECT_FALSE(clear.changed().empty());
}

TEST_F(Graphics, TextFitTakesTheLongestPrefixThatFits) {
    RastPort rp;
    InitRastPort(&rp);
    const char* text = "Wide words";
    const LONG w1 = TextLength(&rp, text, 1), w4 = TextLength(&rp, text, 4);
    TextExtent te{};
    EXPECT_EQ(TextFit(&rp, text, 10, &te, nullptr, 1, ULONG(w1 - 1), 100), 0u);
    EXPECT_EQ(TextFit(&rp, text, 10, nullptr, nullptr, 1, ULONG(w1), 100), 1u);
    EXPECT_EQ(TextFit(&rp, text, 10, &te, nullptr, 1, ULONG(w4), 100), 4u);
    EXPECT_EQ(te.te_Width, w4);
    EXPECT_EQ(TextFit(&rp, text, 10, nullptr, nullptr, 1, 10000, 100), 10u);
    EXPECT_EQ(TextFit(&rp, text, 0, nullptr, nullptr, 1, 10000, 100), 0u);
}

TEST_F(Graphics, RotatedTextReadsUpwardsOnlyAt270Degrees) {
    Canvas cv(30, 80);
    const LONG width = TextLength(&cv.rp, "Turn", 4);
    Move(&cv.rp, 5, 4);
    SetDrMd(&cv.rp, JAM1);
    EXPECT_EQ(Tal_DrawRotatedText(&cv.rp, "Turn", 4, 90), width);
    EXPECT_TRUE(cv.changed().empty());
    EXPECT_EQ(Tal_DrawRotatedText(&cv.rp, "Turn", 4, 270), width);
    EXPECT_EQ(cv.rp.cp_x, 5);
    const auto drawn = cv.changed();
    ASSERT_FALSE(drawn.empty());
    LONG minY = 99, maxY = -1;
    for (auto [x, y] : drawn) {
        EXPECT_TRUE(x >= 5 && x < 5 + cv.rp.TxHeight) << x;
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    EXPECT_GE(minY, 4);
    EXPECT_LE(maxY, 4 + width);
    // Reading upwards: the bar of the leading "T" (the topmost ink of the text) is at the bottom.
    const host_Glyph* t = host_FontGlyph(host_InterfaceFont(), 'T');
    ASSERT_NE(t, nullptr);
    const LONG barX = 5 + host_FontAscent(host_InterfaceFont()) - t->top;
    int bar = 0;
    for (auto [x, y] : drawn) {
        EXPECT_GE(x, barX);
        if (x == barX) {
            bar++;
            EXPECT_GE(y, 4 + width - t->advance) << y;
        }
    }
    EXPECT_GE(bar, 5);
}

TEST_F(Graphics, FontsOpenByNameWithFallbackAndRenderCoverage) {
    EXPECT_EQ(host_OpenFont("", 12, 0), nullptr);
    EXPECT_EQ(host_OpenFont("DejaVu Sans", 0, 0), nullptr);
    host_Font* fallback = host_OpenFont("No Such Family At All", 20, 0);
    ASSERT_NE(fallback, nullptr);
    host_Font* bold = host_OpenFont("DejaVu Sans", 20, HOST_FONT_BOLD | HOST_FONT_UNDERLINE);
    ASSERT_NE(bold, nullptr);
    EXPECT_GT(host_FontTextWidth(bold, "mmmm", 4), host_FontTextWidth(fallback, "mmmm", 4));
    EXPECT_GE(host_FontHeight(fallback), 20);

    std::vector<UBYTE> image(60 * 30, 0);
    const LONG w = host_RenderTextCoverage(bold, "Ab", 2, image.data(), 60, 30, 60, 2, 2);
    EXPECT_EQ(w, host_FontTextWidth(bold, "Ab", 2));
    int full = 0;
    for (UBYTE v : image) full += v == 255;
    EXPECT_GT(full, 20);
    const LONG underline = 2 + host_FontAscent(bold) + 1;
    int lineCoverage = 0;
    for (LONG x = 2; x < 2 + w; x++)
        for (LONG y = underline; y < underline + 3; y++) lineCoverage += image[y * 60 + x] == 255;
    EXPECT_GE(lineCoverage, w);
    host_CloseFont(bold);
    host_CloseFont(fallback);
    host_CloseFont(host_InterfaceFont()); // kept: the interface font belongs to the start-up
    EXPECT_NE(host_FontGlyph(host_InterfaceFont(), 'A'), nullptr);
}

TEST_F(Graphics, WindowsDrawTextInTheirOwnThreadsAtOnce) {
    std::vector<std::unique_ptr<Canvas>> canvases;
    for (int i = 0; i < 4; i++) canvases.push_back(std::make_unique<Canvas>(200, 20));
    std::vector<std::thread> threads;
    for (auto& cv : canvases)
        threads.emplace_back([&cv] {
            for (int i = 0; i < 20; i++) {
                Move(&cv->rp, 0, 0);
                const char text[] = "Zw\xe4lf Boxk\xe4mpfer jagen Viktor quer \xfc"
                                    "ber den gro\xdf"
                                    "en Sylter Deich";
                Text(&cv->rp, text, ULONG(sizeof text - 1));
            }
        });
    for (auto& t : threads) t.join();
    for (size_t i = 1; i < canvases.size(); i++) EXPECT_EQ(canvases[i]->pixels(), canvases[0]->pixels());
}

// ---------------------------------------------------------------------------------------------------
// Pixel blocks, bitmaps, video data.

TEST_F(Graphics, WritePixelArrayCopiesBlueGreenRedBlocks) {
    // A 4 × 3 block of 3-byte pixels whose rows are padded to 16 bytes: pixel (i, j) = (j * 4 + i) in blue.
    std::vector<UBYTE> block(16 * 3, 0xEE);
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 4; i++) {
            UBYTE* p = &block[j * 16 + i * 3];
            p[0] = UBYTE(j * 4 + i), p[1] = 0x80, p[2] = 0x01;
        }
    Canvas cv(10, 10);
    EXPECT_EQ(WritePixelArray(block.data(), 1, 1, 16, &cv.rp, 2, 2, 3, 2, RECTFMT_BGR), 6);
    EXPECT_EQ(cv.at(2, 2), (5u << 16) | 0x8001u);
    EXPECT_EQ(cv.at(4, 3), (11u << 16) | 0x8001u);
    EXPECT_EQ(cv.at(5, 2), kWhite);
    // The block is 16 / 3 = 5 pixels wide: columns beyond it are not drawn.
    Canvas edge(10, 10);
    WritePixelArray(block.data(), 4, 0, 16, &edge.rp, 0, 0, 3, 1, RECTFMT_BGR);
    EXPECT_NE(edge.at(0, 0), kWhite);
    EXPECT_EQ(edge.at(1, 0), kWhite);
    EXPECT_EQ(WritePixelArray(block.data(), 0, 0, 16, &cv.rp, 0, 0, 2, 2, 2u), 0);

    // Format 1: four bytes a pixel.
    const UBYTE four[] = {0x10, 0x20, 0x30, 0x99, 0x40, 0x50, 0x60, 0x99};
    WritePixelArray(four, 0, 0, 8, &cv.rp, 0, 9, 2, 1, RECTFMT_BGRA);
    EXPECT_EQ(cv.at(0, 9), 0x00102030u);
    EXPECT_EQ(cv.at(1, 9), 0x00405060u);

    // Keyed: the key colour leaves the pixel below.
    const UBYTE keyed[] = {189, 189, 189, 0, 0, 255};
    Canvas k(4, 1);
    host_WritePixelArrayKeyed(keyed, 0, 0, 6, &k.rp, 0, 0, 2, 1, 0x00BDBDBD);
    EXPECT_EQ(k.at(0, 0), kWhite);
    EXPECT_EQ(k.at(1, 0), kRed);
}

TEST_F(Graphics, VideoDataRowsAreRoundedToFourBytesAndBlitInEveryDepth) {
    struct Case {
        ULONG bits;
        ULONG rowBytes;
        std::vector<UBYTE> pixel; // the first pixel's bytes
        ULONG colour;
    } cases[] = {
        {24, 16, {0x30, 0x20, 0x10}, 0x00302010},
        {32, 20, {0x30, 0x20, 0x10, 0}, 0x00302010},
        {16, 12, {0x1F, 0xF8}, 0x00FF00FF}, // 5-6-5: red and blue full
        {8, 8, {0x7F}, 0x007F7F7F},
    };
    for (const auto& c : cases) {
        UBYTE* bits = nullptr;
        ULONG rowBytes = 0;
        Tal_VideoData* video = Tal__AllocVideoData(nullptr, 5, 3, c.bits, &bits, &rowBytes);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(rowBytes, c.rowBytes) << c.bits;
        std::copy(c.pixel.begin(), c.pixel.end(), bits + rowBytes * 2);
        Canvas cv(8, 8);
        EXPECT_EQ(WritePixelArray(nullptr, 0, 2, 0, &cv.rp, 3, 3, 5, 1, video), 5);
        EXPECT_EQ(cv.at(3, 3), c.colour) << c.bits;
        EXPECT_EQ(cv.at(4, 3), kBlack);
        Tal__FreeVideoData(video);
    }
    UBYTE* bits = nullptr;
    ULONG rowBytes = 7;
    EXPECT_EQ(Tal__AllocVideoData(nullptr, 5, 3, 12, &bits, &rowBytes), nullptr);
    EXPECT_EQ(rowBytes, 0u);
    EXPECT_EQ(Tal__AllocVideoData(nullptr, 0, 3, 24, &bits, &rowBytes), nullptr);
}

TEST_F(Graphics, BitMapsHoldEveryPlaneInOneBlock) {
    BitMap* bm = AllocBitMap(33, 10, 4, 0);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->BytesPerRow, 8);
    EXPECT_EQ(GetBitMapAttr(bm, BMA_WIDTH), 64u);
    EXPECT_EQ(GetBitMapAttr(bm, BMA_HEIGHT), 10u);
    EXPECT_EQ(GetBitMapAttr(bm, BMA_DEPTH), 4u);
    EXPECT_EQ(bm->Planes[3] - bm->Planes[0], 3 * 8 * 10);
    EXPECT_EQ(bm->Planes[4], nullptr);
    std::fill(bm->Planes[0], bm->Planes[0] + 4 * 80, 0xFF); // all planes are there
    host_BitmapInfo* info = alloc_bitmapinfo(bm);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 64);
    EXPECT_EQ(info->height, -10);
    EXPECT_EQ(info->planes, 1);
    EXPECT_EQ(info->bitCount, 4);
    free_bitmapinfo(info);
    FreeBitMap(bm);

    BitMap* deep = AllocBitMap(17, 2, 24, 0);
    ASSERT_NE(deep, nullptr);
    EXPECT_NE(deep->Planes[0], nullptr);
    EXPECT_EQ(deep->Planes[1], nullptr);
    std::fill(deep->Planes[0], deep->Planes[0] + 24 * 4 * 2, 0xFF);
    FreeBitMap(deep);
    EXPECT_EQ(AllocBitMap(0, 10, 4, 0), nullptr);
    EXPECT_EQ(AllocBitMap(10, 10, 33, 0), nullptr);
}

TEST_F(Graphics, PlanarToChunkySpreadsBitsIntoPixelValues) {
    const UBYTE one[] = {0x80};
    UBYTE out[8];
    ASSERT_EQ(planar_to_chunky(one, out, 8, 1, 1, 1, 8), 1u);
    EXPECT_EQ(std::vector<UBYTE>(out, out + 8), (std::vector<UBYTE>{1, 0, 0, 0, 0, 0, 0, 0}));

    // Three planes, one row of 8 pixels: pixel i gets bit k from plane k.
    const UBYTE three[] = {0xF0, 0xCC, 0xAA};
    planar_to_chunky(three, out, 8, 1, 3, 1, 8);
    EXPECT_EQ(std::vector<UBYTE>(out, out + 8), (std::vector<UBYTE>{7, 3, 5, 1, 6, 2, 4, 0}));
    EXPECT_EQ(planar_to_chunky(three, out, 8, 1, 9, 1, 8), 0u);
    EXPECT_EQ(planar_to_chunky(three, out, 9, 1, 1, 1, 9), 0u); // a row of 1 byte cannot hold 9 pixels
}

// A 17-pixel picture of 24 planes stored as an interface file stores it (rows of whole 16-bit words: 4
// bytes) is turned into three exact-size rows of 17 bytes per group of 8 planes: nothing is written
// past a row or past the last row (the sanitizer watches every buffer).
TEST_F(Graphics, PlanarToChunkyWritesOnlyTheWidthOfEachRow) {
    constexpr ULONG width = 17, rows = 3, stride = 4;
    std::vector<UBYTE> planes(24 * rows * stride);
    for (ULONG k = 0; k < 24; k++)
        for (ULONG r = 0; r < rows; r++)
            for (ULONG x = 0; x < width; x++)
                if (((x + r + k) % 3) == 0) planes[(k * rows + r) * stride + x / 8] |= UBYTE(0x80 >> (x % 8));
    for (ULONG group = 0; group < 3; group++) {
        std::vector<UBYTE> out(width * rows);
        ASSERT_EQ(planar_to_chunky(planes.data() + group * 8 * rows * stride, out.data(), width, rows, 8,
                                   stride, width),
                  1u);
        for (ULONG r = 0; r < rows; r++)
            for (ULONG x = 0; x < width; x++) {
                UBYTE expect = 0;
                for (ULONG k = 0; k < 8; k++) expect |= UBYTE((((x + r + group * 8 + k) % 3) == 0) << k);
                ASSERT_EQ(out[r * width + x], expect) << group << ":" << r << "," << x;
            }
    }
}

// ---------------------------------------------------------------------------------------------------
// Pointer shapes and display depth.

TEST(GraphicsPlain, PointerShapesAndDisplayDepth) {
    using P = host_Pointer;
    const P expect[] = {P::Arrow,
                        P::Move,
                        P::Busy,
                        P::Cross,
                        P::TextBeam,
                        P::ResizeHorizontal,
                        P::ResizeHorizontal,
                        P::ResizeVertical,
                        P::ResizeVertical,
                        P::ResizeDiagonalDown,
                        P::ResizeDiagonalUp,
                        P::ResizeDiagonalUp,
                        P::ResizeDiagonalDown,
                        P::Arrow};
    for (ULONG shape = 0; shape < 14; shape++) EXPECT_EQ(host_PointerForShape(shape), expect[shape]) << shape;

    for (auto [value, depth] : {std::pair<const char*, LONG>{"8", 8}, {"16", 16}, {"15", 24}, {"", 24}}) {
        setenv("VELURA_DISPLAY_DEPTH", value, 1);
        EXPECT_EQ(host_DisplayDepth(), depth) << value;
    }
    setenv("VELURA_DISPLAY_DEPTH", "8", 1);
    init_graphics();
    setenv("VELURA_DISPLAY_DEPTH", "16", 1);
    EXPECT_EQ(host_DisplayDepth(), 8); // fixed while graphics are up
    init_graphics();
    cleanup_graphics();
    EXPECT_EQ(host_DisplayDepth(), 8);
    cleanup_graphics();
    cleanup_graphics(); // one too many does no harm
    EXPECT_EQ(host_DisplayDepth(), 16);
    unsetenv("VELURA_DISPLAY_DEPTH");
}

} // namespace
