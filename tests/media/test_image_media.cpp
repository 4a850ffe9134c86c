// The image medium: a scaled copy of a picture stamped into the picture, its size as a percentage of the
// stamp picture, the pen's pressure, erasing through the stamp's mask, and dabs at every edge of a layer.
#include "MediaTest.h"

#include <cstring>

using namespace engine_test;
using namespace media_test;

namespace {

const TalTabletData kPenAtMinus88{0xA8000000u}; // top byte −88 as a signed value, 168 unsigned

} // namespace

TEST_F(Media, ImageMediaSizeIsAPercentOfTheStamp) {
    ULONG m = medium("ImageMedia", 255, 50);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaWidth), 50); // no stamp yet: taken as pixels
    Tal_Image* stamp = newImage(200, 100);
    Tal_DoMethod(m, TAL_SetMasterMediaImage, stamp);
    Tal_DoMethod(m, TAL_SetMediaSize, 50);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaWidth), 100);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaHeight), 50);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaSize), 50);

    // The stamp follows the layer's source image; the size stays half of whichever stamp it is.
    Tal_Image* image = newImage(40, 30);
    Tal_Image* layer = newLayer(image);
    for (Tal_Image* source : {stamp, static_cast<Tal_Image*>(nullptr), stamp}) {
        layer->mode_source_image = source;
        dab(m, image, layer, 1, 5, 5);
        EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaWidth), source ? 100 : 20);
    }
    layer->mode_source_image = nullptr;
    Tal_DoMethod(m, TAL_SetMasterMediaImage, nullptr);
    dispose(image);
    dispose(stamp);
}

// Without a source image the stamp is the whole picture, scaled to the brush; stamping raises
// restore_pending so that a recompose keeps it.
TEST_F(Media, ImageMediaStampsTheScaledPicture) {
    Tal_Image* image = newImage(40, 30);
    fillPattern(image);
    Tal_Image* layer = newLayer(image);
    ULONG m = medium("ImageMedia", 255, 50);
    dab(m, image, layer, 1, 20, 15);
    ASSERT_EQ(Tal_DoMethod(m, TAL_GetMediaWidth), 20);
    ASSERT_EQ(Tal_DoMethod(m, TAL_GetMediaHeight), 15);

    Tal_Image* expected = newImage(20, 15);
    Tal_Image* original = newImage(40, 30);
    fillPattern(original);
    ASSERT_TRUE(Tal__ScaleImageToImage(expected, original, 1));
    for (LONG y = 0; y < 15; y++)
        for (LONG x = 0; x < 20; x++)
            ASSERT_EQ(pixel(image, 10 + x, 8 + y), pixel(expected, x, y)) << x << "," << y;
    EXPECT_EQ(pixel(image, 9, 8), pixel(original, 9, 8));
    EXPECT_GT(image->restore_pending.load(), 0);
    dispose(expected);
    dispose(original);
    dispose(image);
}

// Dabs at and beyond every edge of a layer smaller than the picture: only the layer's rectangle of the
// picture changes, and nothing is written outside the planes.
TEST_F(Media, ImageMediaDabsAtEveryEdgeOfASmallLayer) {
    Tal_Image* image = newImage(40, 30);
    fillPattern(image);
    Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 17, 13);
    Tal_Image* source = newImage(23, 19);
    for (LONG y = 0; y < 19; y++)
        for (LONG x = 0; x < 23; x++) source->red[y][x] = source->green[y][x] = source->blue[y][x] = 7;
    layer->mode_source_image = source;
    ULONG m = medium("ImageMedia", 255, 100); // a brush of the source's whole size
    const std::vector<UBYTE> before = picture(image);
    const LONG points[][2] = {{0, 0},   {16, 0},  {16, 12}, {0, 12}, {-11, -9},
                              {27, 22}, {8, -20}, {-20, 6}, {8, 6}};
    for (auto [x, y] : points) dab(m, image, layer, 1, x, y);
    line(m, image, layer, 1, -30, 20, 50, -10);
    const std::vector<UBYTE> after = picture(image);
    for (size_t i = 0; i < after.size(); i++) {
        const LONG x = LONG(i % 40), y = LONG(i / 40 % 30);
        ASSERT_EQ(after[i], x < 17 && y < 13 ? 7 : before[i]) << x << "," << y;
    }
    layer->mode_source_image = nullptr;
    Tal_DoMethod(m, TAL_SetMasterMediaImage, nullptr);
    dispose(source);
    dispose(image);
}

// The pen: a pressure byte of −88 or lower gives the image medium strength 0, while the brush engine
// reads the same byte as 168.
TEST_F(Media, PenPressureOfTheImageMedium) {
    Tal_Image* image = newImage(40, 30);
    fillPattern(image);
    Tal_Image* layer = newLayer(image);
    ULONG stamp = medium("ImageMedia", 255, 50);
    const std::vector<UBYTE> before = picture(image);
    dab(stamp, image, layer, 1, 20, 15, 0, &kPenAtMinus88);
    EXPECT_EQ(picture(image), before);

    ULONG brush = medium("RootMedia", 255, 1);
    dab(brush, image, layer, 1, 5, 5, 0, &kPenAtMinus88);
    EXPECT_EQ(layer->grey[5][5], (168 * 255) >> 8);
    dispose(image);
}

// Erasing: nothing without an alpha image; with the mask of the source's current layer as alpha, the
// picture goes back toward its base planes.
TEST_F(Media, ImageMediaErases) {
    Tal_Image* image = newImage(40, 30);
    fillPattern(image);
    Tal_Image* layer = newLayer(image);
    ULONG m = medium("ImageMedia", 255, 100);
    dab(m, image, layer, 1, 20, 15);
    const std::vector<UBYTE> stamped = picture(image);
    dab(m, image, layer, 2, 20, 15);
    EXPECT_EQ(picture(image), stamped); // no alpha: erasing does nothing

    Tal_Image* source = newImage(40, 30);
    Tal_Image* sourceLayer = newLayer(source);
    Tal_Image* mask = newImage(40, 30, 8);
    for (LONG y = 0; y < 30; y++) std::memset(mask->grey[y], 255, 40);
    sourceLayer->mask_image = mask;
    layer->mode_source_image = source;
    dab(m, image, layer, 1, 20, 15); // black through the full mask
    EXPECT_EQ(pixel(image, 20, 15), (std::array<UBYTE, 3>{0, 0, 0}));
    dab(m, image, layer, 2, 20, 15); // back toward the base by the merge weight (255 × 257 × 255) >> 8
    auto restored = [](int base) { return UBYTE(((65279 * base) + 257) >> 16); };
    for (LONG y = 0; y < 30; y++)
        for (LONG x = 0; x < 40; x++)
            ASSERT_EQ(pixel(image, x, y), (std::array<UBYTE, 3>{restored(image->base_red[y][x]),
                                                                restored(image->base_green[y][x]),
                                                                restored(image->base_blue[y][x])}));
    layer->mode_source_image = nullptr;
    sourceLayer->mask_image = nullptr;
    Tal_DoMethod(m, TAL_SetMasterMediaImage, nullptr);
    Tal_DoMethod(m, TAL_SetMasterMediaAlphaImage, nullptr);
    dispose(mask);
    dispose(source);
    dispose(image);
}
