// The compositor, checked pixel by pixel against the blending formulas, and the region operations.
#include "EngineTest.h"

#include <cmath>
#include <cstring>

using namespace engine_test;

namespace {

constexpr LONG W = 16, H = 4;
constexpr UBYTE kBase[3] = {10, 120, 240};
constexpr UBYTE kColour[3] = {200, 100, 50};

UBYTE coverageAt(LONG x, LONG y) {
    static const UBYTE c[8] = {0, 1, 77, 128, 200, 254, 255, 0};
    return c[(x + y) % 8];
}

int fastRef(int o, int c, int k) {
    return o + (((c - o) * k * 257 + 257) >> 16);
}
int blendRef(int o, int r, int oc, int k) {
    return o + (((r - o) * oc * k + 257) >> 16);
}
int weighRef(int b, int r, int w) {
    return b + (((r - b) * w + 257) >> 16);
}

// The fade weight, straight from the formulas, in 64 bits.
int64_t fadeRef(LONG shape, LONG size, LONG softness, bool invert, int64_t W_, int64_t H_, int64_t x,
                int64_t y) {
    int64_t m = std::max(W_, H_);
    if (shape == TAL_FADE_EDGES) {
        int64_t B = (m * size / 150) & 0xFFFF, E = std::max<int64_t>(1, B * softness / 100), F = 65535 / E;
        int64_t G = y < H_ - B ? 0 : y < H_ - B + E ? F * (y - (H_ - B)) : 65535;
        if (y <= B) G += y < B - E ? 65535 : F * (B - y);
        int64_t g = G;
        if (x >= W_ - B + E)
            g = G + 65535;
        else if (x >= W_ - B)
            g = std::max(G, F * (x - (W_ - B)));
        if (x <= B) g = x < B - E ? g + 65535 : std::max(g, F * (B - x));
        int64_t w = std::min<int64_t>(g, 65535);
        return invert ? 65535 - w : w;
    }
    int64_t r = (100 - size) * m / 150, R2 = r * r, E = std::max<int64_t>(R2 * softness / 100, 1);
    int64_t dx = W_ / 2 - x, dy = H_ / 2 - y;
    int64_t d = shape == TAL_FADE_CIRCLE ? dx * dx + dy * dy
                : W_ + H_ <= 4000        ? dx * dx * H_ / W_ + dy * dy * W_ / H_
                                         : H_ * (dx * dx / W_) + W_ * (dy * dy / H_);
    int64_t K = d > R2 ? 0 : d < R2 - E ? 65535 : std::min<int64_t>((R2 - d) * 255 / E * 257, 65535);
    return invert ? K : 65535 - K;
}

struct Scene {
    Tal_Image* image;
    Tal_Image* layer;
    std::vector<Tal_Image*> extra; // masks, disposed after the case
};

struct Case {
    const char* name;
    LONG layerDepth;
    std::function<void(Engine*, Scene&)> setup;
    // The expected output of channel ch at (x, y) over `below` with coverage k.
    std::function<int(Scene&, int ch, LONG x, LONG y, int below, int k)> expect;
};

class Compose : public Engine {
  protected:
    Scene makeScene(LONG layerDepth) {
        Scene s{};
        s.image = newImage(W, H);
        fillBase(s.image, kBase[0], kBase[1], kBase[2]);
        s.layer = newLayer(s.image, TAL_PAINT_LAYER, layerDepth);
        setColour(s.layer, kColour[0], kColour[1], kColour[2]);
        for (LONG y = 0; y < H; y++)
            for (LONG x = 0; x < W; x++) {
                if (layerDepth == 8) {
                    s.layer->grey[y][x] = coverageAt(x, y);
                } else {
                    s.layer->red[y][x] = coverageAt(x, y);
                    s.layer->green[y][x] = UBYTE(255 - coverageAt(x, y));
                    s.layer->blue[y][x] = UBYTE(coverageAt(x, y) / 2);
                }
            }
        Tal_ModifiedLayer(s.layer, 0, 0, W - 1, H - 1);
        return s;
    }
    static int coverage(const Scene& s, int ch, LONG x, LONG y) {
        if (s.layer->depth == 8) return s.layer->grey[y][x];
        UBYTE** planes[3] = {s.layer->red, s.layer->green, s.layer->blue};
        return planes[ch][y][x];
    }
};

Tal_Image* greyMask(Engine*, Scene& s, const UBYTE* values) {
    auto* mask = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    Tal_AllocImage(mask, W, H, 8, TAL_ALLOC_NO_THREAD);
    for (LONG y = 0; y < H; y++)
        for (LONG x = 0; x < W; x++) mask->grey[y][x] = values[x % 8];
    s.extra.push_back(mask);
    return mask;
}

constexpr UBYTE kMaskValues[8] = {255, 0, 128, 255, 64, 200, 255, 1};

// Every path, every coverage: the composed pixel equals the formula, and coverage 0 leaves the byte.
TEST_F(Compose, EveryPathMatchesItsFormula) {
    const std::vector<Case> cases = {
        {"Paint fast path", 8, nullptr,
         [](Scene&, int ch, LONG, LONG, int b, int k) { return fastRef(b, kColour[ch], k); }},
        {"Paint through its mode, opacity 255", 8, [](Engine*, Scene& s) { s.layer->opacity = 255; },
         [](Scene&, int ch, LONG, LONG, int b, int k) {
             return blendRef(b, kColour[ch], 255 * 256 / 255, k);
         }},
        {"opacity 128", 8, [](Engine*, Scene& s) { s.layer->opacity = 128; },
         [](Scene&, int ch, LONG, LONG, int b, int k) { return blendRef(b, kColour[ch], 128, k); }},
        {"another mode, plain", 8, [](Engine*, Scene& s) { setMode(s.layer, "Negative"); },
         [](Scene&, int, LONG, LONG, int b, int k) { return blendRef(b, 255 - b, 257, k); }},
        {"channel strengths", 8,
         [](Engine*, Scene& s) {
             s.layer->red_strength = 128;
             s.layer->green_strength = 0;
             s.layer->blue_strength = 300;
         },
         [](Scene&, int ch, LONG, LONG, int b, int k) {
             const int strength[3] = {128, 0, 300};
             int r = weighRef(b, kColour[ch], std::min(strength[ch], 255) * 257);
             return blendRef(b, r, 256 * std::min(strength[ch], 256) / 255, k);
         }},
        {"tonal range: no highlights", 8, [](Engine*, Scene& s) { s.layer->highlights = 0; },
         [](Scene&, int ch, LONG, LONG, int b, int k) {
             // Index 10 + 120 + 240 = 370: d = 255 − 255 × (370 − 256) ÷ 510 = 198.
             int r = weighRef(b, kColour[ch], 198 * 257);
             return blendRef(b, r, 257, k);
         }},
        {"tonal range: no midtones, no shadows", 8,
         [](Engine*, Scene& s) {
             s.layer->midtones = 0;
             s.layer->shadows = 0;
         },
         [](Scene&, int ch, LONG, LONG, int b, int k) {
             // Index 370: d = 255 − 140 × 255 ÷ 510 = 185, then 185 − 255 × (370 − 127) ÷ 510 = 64.
             int r = weighRef(b, kColour[ch], 64 * 257);
             return blendRef(b, r, 257, k);
         }},
        {"value strength 0", 8, [](Engine*, Scene& s) { s.layer->value_strength = 0; },
         [](Scene&, int ch, LONG, LONG, int b, int k) {
             // Below V 240, S 244; result H 20, S 191. The pixel becomes H 20, S 191, V 240: sector 0,
             // f = 85, p = 64 × 240 × 257 >> 16 = 60, t = (255 − 191 × 171 ÷ 256) × 240 × 257 >> 16 = 120.
             const int r[3] = {240, 120, 60};
             return blendRef(b, r[ch], 257, k);
         }},
        {"saturation strength 0", 8, [](Engine*, Scene& s) { s.layer->saturation_strength = 0; },
         [](Scene&, int ch, LONG, LONG, int b, int k) {
             // Below (10, 120, 240): V 240, S 244. Result (200, 100, 50): V 200, S 191, H 20. The pixel
             // becomes H 20, S 244, V 200: sector 0, f = 85, p = 8, t = 72.
             const int r[3] = {200, 72, 8};
             return blendRef(b, r[ch], 257, k);
         }},
        {"8-bit mask", 8,
         [](Engine* e, Scene& s) {
             Tal_DoImageMethod(s.layer, TAL_SetMaskImage, greyMask(e, s, kMaskValues));
         },
         [](Scene&, int ch, LONG x, LONG, int b, int k) {
             return blendRef(b, kColour[ch], 257, (k * kMaskValues[x % 8]) >> 8);
         }},
        {"24-bit mask", 8,
         [](Engine*, Scene& s) {
             auto* mask =
                 static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
             Tal_AllocImage(mask, W, H, 24, TAL_ALLOC_NO_THREAD);
             for (LONG y = 0; y < H; y++)
                 for (LONG x = 0; x < W; x++) {
                     mask->red[y][x] = kMaskValues[x % 8];
                     mask->green[y][x] = UBYTE(255 - kMaskValues[x % 8]);
                     mask->blue[y][x] = 255;
                 }
             s.extra.push_back(mask);
             Tal_DoImageMethod(s.layer, TAL_SetMaskImage, mask);
         },
         [](Scene&, int ch, LONG x, LONG, int b, int k) {
             int m[3] = {kMaskValues[x % 8], 255 - kMaskValues[x % 8], 255};
             int w = (((k * 257) >> 8) * m[ch]) & 0xFFFF;
             return weighRef(b, kColour[ch], w);
         }},
        {"24-bit paint layer", 24, [](Engine*, Scene& s) { setMode(s.layer, "Paint"); },
         [](Scene& s, int ch, LONG x, LONG y, int b, int) {
             return blendRef(b, kColour[ch], 257, Compose::coverage(s, ch, x, y));
         }},
        {"edge fade", 8,
         [](Engine*, Scene& s) {
             s.layer->fade_shape = TAL_FADE_EDGES;
             s.layer->fade_size = 40;
         },
         [](Scene&, int ch, LONG x, LONG y, int b, int k) {
             int w = int(fadeRef(TAL_FADE_EDGES, 40, 50, false, W, H, x, y));
             return blendRef(b, weighRef(b, kColour[ch], w), 257, k);
         }},
        {"inverted circle fade", 8,
         [](Engine*, Scene& s) {
             s.layer->fade_shape = TAL_FADE_CIRCLE;
             s.layer->fade_size = 70;
             s.layer->fade_softness = 90;
             s.layer->fade_invert = 1;
         },
         [](Scene&, int ch, LONG x, LONG y, int b, int k) {
             int w = int(fadeRef(TAL_FADE_CIRCLE, 70, 90, true, W, H, x, y));
             return blendRef(b, weighRef(b, kColour[ch], w), 257, k);
         }},
        {"ellipse fade", 8,
         [](Engine*, Scene& s) {
             s.layer->fade_shape = TAL_FADE_ELLIPSE;
             s.layer->fade_size = 60;
         },
         [](Scene&, int ch, LONG x, LONG y, int b, int k) {
             int w = int(fadeRef(TAL_FADE_ELLIPSE, 60, 50, false, W, H, x, y));
             return blendRef(b, weighRef(b, kColour[ch], w), 257, k);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s = makeScene(c.layerDepth);
        if (c.setup) c.setup(this, s);
        Tal_FullProcessImage(s.image);
        UBYTE** out[3] = {s.image->red, s.image->green, s.image->blue};
        for (LONG y = 0; y < H; y++)
            for (LONG x = 0; x < W; x++)
                for (int ch = 0; ch < 3; ch++) {
                    int k = coverage(s, ch, x, y);
                    int got = out[ch][y][x];
                    ASSERT_EQ(got, c.expect(s, ch, x, y, kBase[ch], k))
                        << "x " << x << " y " << y << " ch " << ch;
                    if (k == 0 && c.layerDepth == 8) {
                        ASSERT_EQ(got, kBase[ch]);
                    }
                }
        dispose(s.image);
        for (Tal_Image* extra : s.extra) dispose(extra);
    }
}

TEST_F(Compose, FullCoverageGivesTheLayerColourExactly) {
    Tal_Image* image = newImage(W, H);
    fillBase(image, 3, 250, 77);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 0, 255, 129);
    for (LONG y = 0; y < H; y++)
        for (LONG x = 0; x < W; x++) paint(layer, x, y, 255);
    for (const char* mode : {"Paint", "Flat"}) {
        SCOPED_TRACE(mode);
        flatValue[0] = 0, flatValue[1] = 255, flatValue[2] = 129;
        setMode(layer, mode);
        Tal_FullProcessImage(image);
        for (LONG y = 0; y < H; y++)
            for (LONG x = 0; x < W; x++) ASSERT_EQ(pixel(image, x, y), (std::array<UBYTE, 3>{0, 255, 129}));
    }
    dispose(image);
}

// Premultiplied over: a pixel of colour 200 at alpha 128 is stored as 100.
TEST_F(Compose, FloatingImageIsPremultipliedOver) {
    struct {
        UBYTE below;
        UWORD opacity;
        int expected;
    } cases[] = {{0, 256, 100}, {255, 256, 227}, {255, 128, 242}};
    for (auto& c : cases) {
        Tal_Image* image = newImage(8, 2);
        fillBase(image, c.below, c.below, c.below);
        Tal_Image* f = newLayer(image, TAL_FLOATING_IMAGE, 24, 4, 2);
        ASSERT_NE(f, nullptr);
        ASSERT_NE(f->alpha_child, nullptr);
        f->opacity = c.opacity;
        for (LONG y = 0; y < 2; y++)
            for (LONG x = 0; x < 4; x++) {
                f->red[y][x] = f->green[y][x] = f->blue[y][x] = 100;
                f->alpha_child->grey[y][x] = x == 3 ? 0 : 128;
            }
        Tal_FullProcessImage(image);
        EXPECT_EQ(image->red[1][2], c.expected);
        EXPECT_EQ(image->blue[0][0], c.expected);
        EXPECT_EQ(image->green[0][3], c.below); // alpha 0, no paint: left
        EXPECT_EQ(image->green[0][5], c.below); // outside the floating image
        dispose(image);
    }
    // Paint on the floating image's own layer makes it opaque: M = P + A × (255 − P) ÷ 255.
    Tal_Image* image = newImage(8, 2);
    fillBase(image, 255, 255, 255);
    Tal_Image* f = newLayer(image, TAL_FLOATING_IMAGE, 24, 4, 2);
    ASSERT_NE(f->current_layer, nullptr);
    for (LONG y = 0; y < 2; y++)
        for (LONG x = 0; x < 4; x++) {
            f->red[y][x] = f->green[y][x] = f->blue[y][x] = 100;
            f->alpha_child->grey[y][x] = 128;
        }
    f->current_layer->grey[0][1] = 255; // M 255, K 0: the floating pixel itself
    f->current_layer->grey[1][2] = 128; // M 191, K 64: (255 × 64 + 100 × 256 + 1) × 257 >> 16
    Tal_FullProcessImage(image);
    EXPECT_EQ(image->red[0][1], 100);
    EXPECT_EQ(image->red[1][2], 164);
    EXPECT_EQ(image->red[0][2], 227); // unpainted
    dispose(image);
}

TEST_F(Compose, RowsNoLayerTouchesAreNotRewritten) {
    Tal_Image* image = newImage(8, 4);
    fillBase(image, 10, 20, 30);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 200, 200, 200);
    paint(layer, 3, 1, 255);
    for (LONG y : {0, 2, 3}) std::memset(image->red[y], 77, 8);
    Tal_FullProcessImage(image);
    for (LONG y : {0, 2, 3}) EXPECT_EQ(image->red[y][0], 77) << y;
    EXPECT_EQ(image->red[1][3], 200);
    EXPECT_EQ(image->red[1][0], 10); // the painted row is rebuilt from the base planes
    dispose(image);
}

TEST_F(Compose, StopAtTheFirstLayerGivesTheBasePlanes) {
    Tal_Image* image = newImage(8, 2);
    fillBase(image, 10, 20, 30);
    Tal_Image* first = newLayer(image);
    Tal_Image* second = newLayer(image);
    for (Tal_Image* layer : {first, second})
        for (LONG x = 0; x < 8; x++) paint(layer, x, 0, 255);
    setColour(first, 100, 100, 100);
    setColour(second, 200, 200, 200);
    std::vector<UBYTE> rows(3 * 8 * 2, 99);
    UBYTE* r[2] = {rows.data(), rows.data() + 8};
    UBYTE* g[2] = {rows.data() + 16, rows.data() + 24};
    UBYTE* b[2] = {rows.data() + 32, rows.data() + 40};
    Tal_ProcessImageBelowLayer(image, 0, 0, 7, 1, r, g, b, nullptr, first);
    for (LONG x = 0; x < 8; x++)
        EXPECT_EQ((std::array<UBYTE, 3>{r[0][x], g[0][x], b[0][x]}), (std::array<UBYTE, 3>{10, 20, 30}));
    EXPECT_EQ(r[1][0], 99); // no layer touches row 1
    // Below the second layer: the first one composed.
    Tal_ProcessImageBelowLayer(image, 0, 0, 7, 1, r, g, b, nullptr, second);
    EXPECT_EQ(r[0][5], 100);
    Tal_FullProcessImage(image);
    EXPECT_EQ(image->red[0][5], 200);
    dispose(image);
}

TEST_F(Compose, PaintInColumnZeroIsShown) {
    Tal_Image* image = newImage(8, 2);
    fillBase(image, 0, 0, 0);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 90, 90, 90);
    paint(layer, 0, 1, 255);
    Tal_FullProcessImage(image);
    EXPECT_EQ(image->red[1][0], 90);
    dispose(image);
}

// Whatever its offset, a layer's pixel lands in the image column layer_x + its column.
TEST_F(Compose, LayersComposeAtTheirOffset) {
    for (LONG lx : {0, 1, 2, 3, 5, 6}) {
        SCOPED_TRACE(lx);
        Tal_Image* image = newImage(16, 2);
        fillBase(image, 0, 0, 0);
        Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 8, 2);
        layer->layer_x = WORD(lx);
        setColour(layer, 255, 255, 255);
        paint(layer, 2, 0, 255);
        layer->grey[1][7] = 255; // outside the row's extent: not composed
        Tal_FullProcessImage(image);
        for (LONG x = 0; x < 16; x++) EXPECT_EQ(image->red[0][x], x == lx + 2 ? 255 : 0) << x;
        // Through the general path as well.
        layer->opacity = 255;
        Tal_FullProcessImage(image);
        for (LONG x = 0; x < 16; x++) EXPECT_EQ(image->red[0][x] != 0, x == lx + 2) << x;
        dispose(image);
    }
}

// An active size larger than the layer (from a caller or a file) is cut to the allocation.
TEST_F(Compose, ActiveSizeIsClampedToTheLayer) {
    Tal_Image* image = newImage(32, 8);
    Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 4, 2);
    layer->layer_w = 1000;
    layer->layer_h = 1000;
    setColour(layer, 255, 255, 255);
    Tal_ModifiedLayer(layer, 0, 0, 3, 1);
    std::memset(layer->grey[0], 255, 4);
    std::memset(layer->grey[1], 255, 4);
    for (int depthCase = 0; depthCase < 2; depthCase++) {
        if (depthCase) layer->opacity = 200; // general path
        Tal_FullProcessImage(image);
        EXPECT_NE(image->red[1][3], 0);
        EXPECT_EQ(image->red[1][4], 0);
        EXPECT_EQ(image->red[2][0], 0);
    }
    dispose(image);
}

// The fade stays exact on large pictures, where 32-bit arithmetic wraps.
TEST_F(Compose, FadesOnLargePicturesMatchA64BitReference) {
    struct {
        LONG w, h, shape;
        std::vector<std::pair<LONG, LONG>> points;
    } cases[] = {
        {5000, 3000, TAL_FADE_CIRCLE, {{2500, 1500}, {900, 1500}, {300, 200}, {4999, 2999}, {1200, 700}}},
        {2667, 1333, TAL_FADE_ELLIPSE, {{10, 666}, {0, 100}, {150, 600}, {2600, 1300}, {2000, 300}}},
    };
    flatValue[0] = flatValue[1] = flatValue[2] = 255;
    for (auto& c : cases) {
        Tal_Image* image = newImage(c.w, c.h);
        ASSERT_NE(image, nullptr);
        Tal_Image* layer = newLayer(image);
        setMode(layer, "Flat");
        // The whole circle is ramp: the products reach R² × 255.
        layer->fade_shape = c.shape;
        layer->fade_size = 0;
        layer->fade_softness = 100;
        for (auto [x, y] : c.points) {
            paint(layer, x, y, 255);
            Tal_ProcessImage(image, x, y, x, y);
            int w = int(fadeRef(c.shape, 0, 100, false, c.w, c.h, x, y));
            EXPECT_EQ(image->red[y][x], (255 * w + 257) >> 16) << c.w << " " << x << "," << y;
        }
        dispose(image);
    }
}

// Two threads composing one image at once (a stroke and a recompose) build a dirty tone table once,
// under the compose lock, and agree on the picture.
TEST_F(Compose, TwoThreadsComposeOneImage) {
    Tal_Image* image = newImage(64, 64);
    fillBase(image, 30, 60, 90);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 250, 200, 150);
    for (LONG y = 0; y < 64; y++)
        for (LONG x = 0; x < 64; x++) paint(layer, x, y, UBYTE(x * 4));
    layer->highlights = 40;
    layer->shadows = 100;
    layer->tone_table_dirty = 1;
    std::atomic<bool> go{false};
    {
        auto compose = [&] {
            while (!go) std::this_thread::yield();
            Tal_FullProcessImage(image);
        };
        TaskThread a(compose), b(compose);
        go = true;
    }
    std::vector<UBYTE> twice(image->red[0], image->red[0] + 64);
    Tal_FullProcessImage(image);
    EXPECT_EQ(0, std::memcmp(twice.data(), image->red[0], 64));
    EXPECT_EQ(layer->tone_table_dirty, 0);
    dispose(image);
}

TEST_F(Compose, InvertTwiceRestores) {
    Tal_Image* image = newImage(9, 3);
    for (LONG y = 0; y < 3; y++)
        for (LONG x = 0; x < 9; x++) {
            image->base_red[y][x] = UBYTE(x * 20 + y);
            image->base_green[y][x] = UBYTE(255 - x);
            image->base_blue[y][x] = UBYTE(x * y);
        }
    Tal_CopyUndoToImageData(image, 0, 0, 8, 2, 0, 0);
    Tal_InvertImageFunc(image);
    EXPECT_EQ(image->red[1][2], UBYTE(~UBYTE(41)));
    EXPECT_EQ(image->base_green[0][4], UBYTE(~UBYTE(251)));
    Tal_InvertImageFunc(image);
    for (LONG y = 0; y < 3; y++)
        for (LONG x = 0; x < 9; x++) {
            EXPECT_EQ(image->red[y][x], UBYTE(x * 20 + y));
            EXPECT_EQ(image->base_blue[y][x], UBYTE(x * y));
        }
    dispose(image);
}

// Rows below a layer with columns and rows beyond the image repeat the edge pixels.
TEST_F(Compose, PictureBelowALayerRepeatsItsEdges) {
    Tal_Image* image = newImage(6, 3);
    for (LONG y = 0; y < 3; y++)
        for (LONG x = 0; x < 6; x++) image->base_red[y][x] = UBYTE(10 * y + x);
    Tal_CopyUndoToImageData(image, 0, 0, 5, 2, 0, 0);
    Tal_Image* first = newLayer(image);
    Tal_Image* second = newLayer(image);
    setColour(first, 200, 0, 0);
    paint(first, 5, 2, 255);
    for (Tal_Image* layer : {first, second}) {
        Tal_ImageLock lock{};
        lock.image = image;
        lock.layer = layer;
        lock.x0 = -3;
        lock.y0 = -2;
        lock.x1 = 8;
        lock.y1 = 4;
        ASSERT_EQ(Tal_GetImageDataBelowLayer(&lock), &lock);
        UBYTE** r = lock.red_rows;
        EXPECT_EQ(r[-2][-3], 0);
        EXPECT_EQ(r[1][-1], 10);
        EXPECT_EQ(r[0][8], 5);
        EXPECT_EQ(r[4][2], 22);
        // Below the second layer the first is composed; below the first only the base.
        EXPECT_EQ(r[4][8], layer == second ? 200 : 25);
        EXPECT_EQ(r[2][5], layer == second ? 200 : 25);
        Tal_FreeImageLock(&lock);
    }
    dispose(image);
}

// A mask that cannot be locked this time keeps its link; one whose image is gone loses it.
TEST_F(Compose, AMaskLinkSurvivesAFailedLock) {
    Tal_Image* image = newImage(8, 2);
    fillBase(image, 0, 0, 0);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 255, 255, 255);
    paint(layer, 1, 0, 255);
    Tal_Image* mask = newImage(8, 2, 8);
    Tal_Image* other = newImage(2, 2);
    std::memset(mask->grey[0], 255, 8);
    Tal_DoImageMethod(layer, TAL_SetMaskImage, mask);
    std::atomic<int> stage{0};
    TaskThread holder([&] {
        // Owning the mask while holding another lock shared makes a shared take refuse at once.
        Tal_LockImageA(other, TAL_LOCK_READ, 0);
        Tal_LockImageA(mask, TAL_LOCK_EXCLUSIVE, 0);
        stage = 1;
        while (stage.load() != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Tal_UnlockImageA(mask, TAL_LOCK_EXCLUSIVE, 0);
        Tal_UnlockImageA(other, TAL_LOCK_READ, 0);
    });
    while (stage.load() != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    image->red[0][1] = 0;
    Tal_FullProcessImage(image);
    EXPECT_EQ(layer->mask_image, mask);
    EXPECT_EQ(image->red[0][1], 0); // the layer sat this composition out
    stage = 2;
    holder.join();
    Tal_FullProcessImage(image);
    EXPECT_EQ(image->red[0][1], 254); // (255 × 255) >> 8 through the mask
    // Gone without telling the layer: the next composition drops the link.
    Tal_RemoveNotify(mask->header.handle, layer->mask_notify);
    layer->mask_notify = 0;
    dispose(mask);
    Tal_FullProcessImage(image);
    EXPECT_EQ(layer->mask_image, nullptr);
    EXPECT_EQ(image->red[0][1], 255);
    dispose(other);
    dispose(image);
}

// ---------------------------------------------------------------------------------------------------
// Region operations.

TEST_F(Compose, RegionArithmeticClipsAgainstBothImages) {
    Tal_Image* dst = newImage(8, 8, 8);
    Tal_Image* src = newImage(4, 4, 8);
    for (LONG y = 0; y < 4; y++) std::memset(src->grey[y], 10, 4);
    for (LONG y = 0; y < 8; y++) std::memset(dst->grey[y], 250, 8);
    EXPECT_EQ(Tal_AddImageToImage(dst, 0, 0, src, 0, 0, 8, 8), 1u);
    for (LONG y = 0; y < 8; y++)
        for (LONG x = 0; x < 8; x++) ASSERT_EQ(dst->grey[y][x], x < 4 && y < 4 ? 255 : 250) << x << "," << y;
    EXPECT_EQ(Tal_SubtractImageFromImage(dst, 0, 0, src, 0, 0, 1, 8), 0u); // one column: refused
    EXPECT_EQ(dst->grey[0][0], 255);
    // A region hanging off the left: the destination starts at 0 and the source moves with it.
    for (LONG x = 0; x < 4; x++) src->grey[0][x] = UBYTE(100 + x), src->grey[1][x] = UBYTE(100 + x);
    EXPECT_EQ(Tal_MultiplyImageByImage(dst, -2, 0, src, 0, 0, 5, 2), 1u);
    EXPECT_EQ(dst->grey[0][0], 255 * 102 / 255);
    EXPECT_EQ(dst->grey[0][1], 255 * 103 / 255);
    EXPECT_EQ(dst->grey[0][2], 255);
    dispose(src);
    dispose(dst);
}

TEST_F(Compose, StrengthsAboveFullAreFull) {
    UBYTE src[5] = {0, 1, 128, 254, 255};
    for (LONG strength : {255, 256, 300}) {
        UBYTE dst[5] = {255, 0, 3, 0, 17};
        Tal__MergeByteArray(dst, src, 5, strength);
        EXPECT_EQ(0, std::memcmp(dst, src, 5)) << strength;
    }
    Tal_Image* a = newImage(4, 4);
    Tal_Image* b = newImage(4, 4);
    fillBase(b, 9, 9, 9);
    for (LONG strength : {255, 256, 300}) {
        fillBase(a, 200, 200, 200);
        EXPECT_EQ(Tal_BlitImageToImage(a, 0, 0, b, 0, 0, 4, 4, strength), 1u);
        EXPECT_EQ(a->red[3][3], 9) << strength;
    }
    Tal_BlitImageToImage(a, 0, 0, b, 0, 0, 4, 4, 128);
    EXPECT_EQ(a->red[3][3], 9); // merging into itself changes nothing
    dispose(a);
    dispose(b);
}

TEST_F(Compose, CopyImageDataRGBStaysInsideTheRow) {
    Tal_Image* image = newImage(4, 2);
    for (LONG x = 0; x < 4; x++) image->red[1][x] = UBYTE(x + 1);
    UBYTE r[8], g[8], b[8];
    EXPECT_EQ(Tal_CopyImageDataRGB(image, 0, -1, 4, 0, r, g, b), 0u);
    EXPECT_EQ(Tal_CopyImageDataRGB(image, 0, 2, 4, 0, r, g, b), 0u);
    std::memset(r, 0xEE, 8);
    EXPECT_EQ(Tal_CopyImageDataRGB(image, -2, 1, 8, 0, r, g, b), 1u);
    const UBYTE expected[8] = {0xEE, 0xEE, 1, 2, 3, 4, 0xEE, 0xEE};
    EXPECT_EQ(0, std::memcmp(r, expected, 8));
    dispose(image);
}

TEST_F(Compose, MergeViaAlphaClipsEveryImage) {
    Tal_Image* dst = newImage(6, 6);
    Tal_Image* src = newImage(3, 3);
    Tal_Image* alpha = newImage(3, 3, 8);
    fillBase(src, 255, 255, 255);
    for (LONG y = 0; y < 3; y++) std::memset(alpha->grey[y], 255, 3);
    EXPECT_EQ(Tal__MergeImagesViaAlphaAndTrans(dst, 4, 4, src, 0, 0, 10, 10, alpha, 300), 1u);
    for (LONG y = 0; y < 6; y++)
        for (LONG x = 0; x < 6; x++) ASSERT_EQ(dst->base_red[y][x] != 0, x >= 4 && y >= 4) << x << "," << y;
    // Exactly `height` rows.
    EXPECT_EQ(Tal__MergeImagesViaAlphaAndTrans(dst, 0, 1, src, 0, 0, 2, 2, alpha, 255), 1u);
    for (LONG y = 0; y < 4; y++) EXPECT_EQ(dst->base_red[y][0] != 0, y == 1 || y == 2) << y;
    dispose(alpha);
    dispose(src);
    dispose(dst);
}

TEST_F(Compose, LineConversions) {
    UBYTE r[4] = {1, 2, 3, 4}, g[4] = {5, 6, 7, 8}, b[4] = {9, 10, 11, 12}, out[12];
    Tal_MakeRGBLine(r, g, b, out, 4);
    const UBYTE bgr[12] = {9, 5, 1, 10, 6, 2, 11, 7, 3, 12, 8, 4};
    EXPECT_EQ(0, std::memcmp(out, bgr, 12));
    Tal_MakeScaledRGBLine(r, g, b, out, 1, 3, 0x8000); // half size: source pixels 0, 1, 1
    const UBYTE scaled[9] = {9, 5, 1, 10, 6, 2, 10, 6, 2};
    EXPECT_EQ(0, std::memcmp(out, scaled, 9));
    UBYTE rr[4], gg[4], bb[4];
    const UBYTE rgb[12] = {1, 5, 9, 2, 6, 10, 3, 7, 11, 4, 8, 12};
    Tal_SplitRGB(rr, gg, bb, rgb, 4);
    EXPECT_EQ(0, std::memcmp(rr, r, 4));
    EXPECT_EQ(0, std::memcmp(bb, b, 4));
    // Out-of-range samples (even ones no int can hold, or not a number) are clamped.
    float fr[3] = {1.5f, 0.5f, 1e30f}, fg[3] = {-1.0f, 0.0f, -1e30f}, fb[3] = {1.0f, 0.25f, NAN};
    Tal_MakeRGBLine32f(fr, fg, fb, out, 3);
    const UBYTE f[9] = {255, 0, 255, 63, 0, 127, 0, 0, 255};
    EXPECT_EQ(0, std::memcmp(out, f, 9));
}

} // namespace
