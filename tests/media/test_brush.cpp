// The brush engine: the built-in brush, dabs that add and remove coverage, the spacing of dabs along lines
// and curves, what a stroke announces, smear strokes, scatter and its determinism.
#include "MediaTest.h"

#include <cstring>
#include <latch>

using namespace engine_test;
using namespace media_test;

namespace {

std::vector<std::vector<int>> rowsOf(const Tal_Image* image) {
    std::vector<std::vector<int>> rows;
    for (LONG y = 0; y < image->height; y++) rows.emplace_back(image->grey[y], image->grey[y] + image->width);
    return rows;
}

std::vector<std::vector<int>> block(const Tal_Image* layer, LONG x0, LONG y0, LONG w, LONG h) {
    std::vector<std::vector<int>> rows;
    for (LONG y = y0; y < y0 + h; y++) rows.emplace_back(layer->grey[y] + x0, layer->grey[y] + x0 + w);
    return rows;
}

using Rows = std::vector<std::vector<int>>;

} // namespace

TEST_F(Media, BuiltInRoundBrushes) {
    const struct {
        LONG size;
        Rows rows;
    } cases[] = {
        {5,
         {{0, 0, 0, 0, 0},
          {0, 127, 191, 127, 0},
          {0, 191, 255, 191, 0},
          {0, 127, 191, 127, 0},
          {0, 0, 0, 0, 0}}},
        {4, {{0, 0, 0, 0}, {0, 255, 255, 0}, {0, 255, 255, 0}, {0, 0, 0, 0}}},
        {1, {{255}}},
        {0, {{255}}}, // a size of 0 still makes a one-pixel brush
        {-3, {{255}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ULONG m = medium("RootMedia", 255, c.size);
        Tal_Image* brush = brushOf(m);
        ASSERT_NE(brush, nullptr);
        EXPECT_EQ(rowsOf(brush), c.rows);
        EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaSize), Tal_Word(intptr_t(c.size)));
    }
}

// One dab at full pressure adds (255 × b) >> 8; erasing full coverage leaves 255 − (255 × 255 >> 8) = 1.
TEST_F(Media, DabAddsAndRemovesCoverage) {
    Tal_Image* image = newImage(16, 12);
    Tal_Image* layer = newLayer(image);
    ULONG m = medium("RootMedia", 255, 5);
    dab(m, image, layer, 1, 7, 5);
    const Rows painted = {{0, 0, 0, 0, 0},
                          {0, 126, 190, 126, 0},
                          {0, 190, 254, 190, 0},
                          {0, 126, 190, 126, 0},
                          {0, 0, 0, 0, 0}};
    EXPECT_EQ(block(layer, 5, 3, 5, 5), painted);
    // Nothing outside the brush, and the painted extents hold the dab.
    EXPECT_EQ(layer->grey[5][4], 0);
    EXPECT_EQ(layer->row_min_x[5], 5);
    EXPECT_EQ(layer->row_max_x[5], 9);

    for (LONG y = 0; y < 12; y++) std::memset(layer->grey[y], 255, 16);
    dab(m, image, layer, 2, 7, 5);
    EXPECT_EQ(layer->grey[5][7], 1);
    EXPECT_EQ(layer->grey[5][8], 255 - (255 * 191 >> 8));
    EXPECT_EQ(layer->grey[3][5], 255);

    // Pen pressure scales the strength: half pressure from the pen gives (255 × 127 ÷ 255 × 255) >> 8.
    for (LONG y = 0; y < 12; y++) std::memset(layer->grey[y], 0, 16);
    const TalTabletData pen{0x7F000000u};
    dab(m, image, layer, 1, 7, 5, 0, &pen);
    EXPECT_EQ(layer->grey[5][7], (127 * 255) >> 8);
    dispose(image);
}

// A red dab over white, composed through the Paint fast path and fixed into the picture: the centre has
// coverage 254, so green and blue become 255 + ((0 − 255) × 254 × 257 + 257) >> 16 = 1.
TEST_F(Media, RedOverWhiteFixed) {
    Tal_Image* image = newImage(16, 12);
    fillBase(image, 255, 255, 255);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 255, 0, 0);
    ULONG m = medium("RootMedia", 255, 5);
    dab(m, image, layer, 1, 7, 5);
    EXPECT_EQ(pixel(image, 7, 5), (std::array<UBYTE, 3>{255, 1, 1}));
    ASSERT_TRUE(Tal_LockImageA(image, TAL_LOCK_EXCLUSIVE, 0));
    EXPECT_TRUE(Tal__FixImageLayers(image, 1, nullptr));
    Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
    EXPECT_EQ(image->base_red[5][7], 255);
    EXPECT_EQ(image->base_green[5][7], 1);
    EXPECT_EQ(image->base_blue[5][7], 1);
    EXPECT_EQ(layer->grey[5][7], 0);
    dispose(image);
}

// Where the dabs of lines and curves go, and which of them announce themselves.
TEST_F(Media, DabsAlongLinesAndCurves) {
    Tal_Image* image = newImage(200, 100);
    Tal_Image* layer = newLayer(image);
    ULONG m = medium("RecordingMedia", 255, 48);
    auto xs = [](const std::vector<DabRecord>& dabs) {
        std::vector<LONG> out;
        for (const DabRecord& d : dabs) out.push_back(d.x);
        return out;
    };

    // Length 10 at size 48: step 2, no dab at the end point, none announces itself.
    line(m, image, layer, 1, 20, 30, 30, 30);
    std::vector<DabRecord> dabs = RecordingMedia::take();
    EXPECT_EQ(xs(dabs), (std::vector<LONG>{20, 22, 24, 26, 28}));
    for (const DabRecord& d : dabs) {
        EXPECT_EQ(d.y, 30);
        EXPECT_TRUE(d.flags & TAL_STROKE_QUIET);
    }
    // Leftwards and steep: the minor coordinate follows in fixed point.
    line(m, image, layer, 1, 40, 10, 36, 20);
    dabs = RecordingMedia::take();
    ASSERT_EQ(dabs.size(), 5u);
    EXPECT_EQ(dabs[0].x, 40);
    EXPECT_EQ(dabs[0].y, 10);
    EXPECT_EQ(dabs[4].y, 18);
    EXPECT_EQ(dabs[4].x, 36 + 1); // 40 × 32 + 4 × (2 × (−4 × 32 ÷ 10)) = 1184, >> 5 = 37

    // Equal end points: one dab, which announces itself.
    line(m, image, layer, 1, 50, 50, 50, 50);
    dabs = RecordingMedia::take();
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_FALSE(dabs[0].flags & TAL_STROKE_QUIET);

    // Freehand off and no "along the line" flag: the end point only.
    line(m, image, layer, 1, 10, 10, 60, 40, 0);
    dabs = RecordingMedia::take();
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_EQ(dabs[0].x, 60);
    EXPECT_EQ(dabs[0].y, 40);

    // A curve: twenty pieces from (x0, y0) ending exactly at (x2, y2).
    Tal_DoMethod(m, TAL_MediaStroke, TAL_MEDIA_CURVE, image, layer, 1, 0, 10, 80, 60, 10, 110, 80, 0);
    dabs = RecordingMedia::take();
    ASSERT_GT(dabs.size(), 20u);
    EXPECT_EQ(dabs.front().x, 10);
    EXPECT_EQ(dabs.front().y, 80);
    EXPECT_LE(std::abs(dabs.back().x - 110), 2); // within a step of the end, which gets no dab
    EXPECT_LE(std::abs(dabs.back().y - 80), 2);

    // Stroke kind 0 draws nothing.
    line(m, image, layer, 0, 20, 30, 30, 30);
    EXPECT_TRUE(RecordingMedia::take().empty());
    Tal_EndMediaStroke(m);
    dispose(image);
}

// A scattering medium at light pressure throws dabs far from the line: the painted extents and the
// announcement still cover every pixel painted, so the composed picture is a full recompose's.
TEST_F(Media, ScatteredStrokeStaysInsideItsExtents) {
    Tal_Image* image = newImage(160, 120);
    fillBase(image, 200, 210, 220);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 10, 20, 30);
    ULONG m = medium("AirBrushMedia", 20, 40);
    Tal_DoMethod(m, TAL_SetMediaJitter, 60);
    line(m, image, layer, 1, 10, 60, 150, 60);
    bool beyondBrush = false;
    for (LONG y = 0; y < 120; y++)
        for (LONG x = 0; x < 160; x++) {
            if (!layer->grey[y][x]) continue;
            ASSERT_LE(layer->row_min_x[y], x) << x << "," << y;
            ASSERT_GE(layer->row_max_x[y], x) << x << "," << y;
            beyondBrush |= std::abs(y - 60) > 20;
        }
    EXPECT_TRUE(beyondBrush); // dabs did land beyond the brush's reach from the line
    const std::vector<UBYTE> shown = picture(image);
    Tal_FullProcessImage(image);
    EXPECT_EQ(picture(image), shown);
    dispose(image);
}

// Smear strokes along every edge of the picture and of a layer placed inside it, in both smear modes
// and wiping: all inside the planes (the sanitizer watches), and the picture does change.
TEST_F(Media, SmearAlongEveryEdge) {
    for (LONG smear : {1, 2}) {
        SCOPED_TRACE(smear);
        Tal_Image* image = newImage(40, 30);
        fillPattern(image);
        Tal_Image* whole = newLayer(image);
        Tal_Image* inner = newLayer(image, TAL_PAINT_LAYER, 8, 17, 13);
        Tal_DoImageMethod(image, TAL_SetLayerPosition, 9, 7, 17, 13);
        ULONG m = medium("AirBrushMedia", 255, 11);
        Tal_DoMethod(m, TAL_SetMediaSmearMode, smear); // after the size: the smear picture follows
        Tal_DoMethod(m, TAL_SetMediaFreehandMode, 1);
        const std::vector<UBYTE> before = picture(image);
        for (Tal_Image* layer : {whole, inner}) {
            const LONG w = layer->width, h = layer->height;
            const LONG path[][2] = {{-3, -3}, {w + 2, -2}, {w + 3, h + 2}, {-2, h + 3}, {-3, -3}};
            for (LONG kind : {1, 2})
                for (int i = 0; i < 4; i++)
                    line(m, image, layer, kind, path[i][0], path[i][1], path[i + 1][0], path[i + 1][1]);
            Tal_EndMediaStroke(m);
        }
        EXPECT_NE(picture(image), before);
        EXPECT_GT(image->restore_pending.load(), 0);
        dispose(image);
    }
}

// The same scattering stroke on two images in two threads at once, each image with its own medium:
// byte-identical coverage.
TEST_F(Media, ScatterIsTheSameInEveryThread) {
    Tal_Image* images[2] = {newImage(160, 120), newImage(160, 120)};
    Tal_Image* layers[2] = {newLayer(images[0]), newLayer(images[1])};
    ULONG media[2] = {medium("AirBrushMedia", 3, 16), medium("AirBrushMedia", 3, 16)};
    for (ULONG m : media) Tal_DoMethod(m, TAL_SetMediaJitter, 40);
    std::latch start(2);
    auto paint = [&](int i) {
        start.arrive_and_wait();
        for (LONG k = 0; k < 1000; k++) {
            const LONG x = 5 + (k * 37) % 150, y = 5 + (k * 53) % 110;
            line(media[i], images[i], layers[i], 1, x, y, x + 9, y + 4);
        }
        Tal_EndMediaStroke(media[i]);
    };
    {
        TaskThread a([&] { paint(0); });
        TaskThread b([&] { paint(1); });
    }
    EXPECT_EQ(coverage(layers[0]), coverage(layers[1]));
    dispose(images[0]);
    dispose(images[1]);
}

// A dab wholly left of the layer changes nothing; a brush lent as master is not freed with the medium.
TEST_F(Media, ClippingAndBorrowedMasters) {
    Tal_Image* image = newImage(20, 20);
    Tal_Image* layer = newLayer(image);
    ULONG m = medium("RootMedia", 255, 6);
    dab(m, image, layer, 1, -4, 10);
    dab(m, image, layer, 1, 10, -4);
    EXPECT_EQ(coverage(layer), std::vector<UBYTE>(400, 0));
    EXPECT_EQ(layer->row_max_x[10], 0);

    Tal_Image* stamp = newImage(8, 4, 8);
    for (LONG y = 0; y < 4; y++) std::memset(stamp->grey[y], 200, 8);
    ULONG lent = medium("RootMedia", 255);
    Tal_DoMethod(lent, TAL_SetMasterMediaImage, stamp);
    Tal_DoMethod(lent, TAL_SetMediaSize, 16);
    EXPECT_EQ(Tal_DoMethod(lent, TAL_GetMediaHeight), 8); // the master's proportions
    EXPECT_NEAR(brushOf(lent)->grey[4][8], 200, 2);
    Tal_DisposeObject(lent);
    made_.pop_back();
    EXPECT_EQ(stamp->grey[0][0], 200); // still there
    dispose(stamp);
    dispose(image);
}

// The auxiliary picture is the paper: bright paper takes less paint.
TEST_F(Media, PaperTexture) {
    Tal_Image* image = newImage(20, 20);
    Tal_Image* layer = newLayer(image);
    Tal_Image* paper = newImage(2, 1, 8);
    paper->grey[0][0] = 0;   // dark: full paint
    paper->grey[0][1] = 255; // bright: 128 less
    image->extra_image = paper->header.handle;
    ULONG m = medium("RootMedia", 255, 1);
    dab(m, image, layer, 1, 4, 4);
    dab(m, image, layer, 1, 5, 4);
    EXPECT_EQ(layer->grey[4][4], 254);
    EXPECT_EQ(layer->grey[4][5], (255 * 127) >> 8);
    image->extra_image = 0;
    dispose(paper);
    dispose(image);
}
