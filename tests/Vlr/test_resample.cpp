// Scaling one picture into another: the bins of a shrinking direction, nearest repetition, flat pictures
// keeping their value, and the depth pairs.
#include "EngineTest.h"

using namespace engine_test;

namespace {

class Resample : public Engine {
  protected:
    static Tal_Image* greyRow(std::vector<UBYTE> values, LONG rows = 1) {
        Tal_Image* image = newImage(LONG(values.size()), rows, 8);
        for (LONG y = 0; y < rows; y++)
            for (size_t x = 0; x < values.size(); x++) image->grey[y][x] = values[x];
        return image;
    }
    static std::vector<int> row(const Tal_Image* image, LONG y = 0) {
        return {image->grey[y], image->grey[y] + image->width};
    }
};

} // namespace

TEST_F(Resample, ShrinkGrowAndDepths) {
    // 10 columns to 3: the averages of {0}, {1, 2, 3} and {4, 5, 6}; columns 7 to 9 are not used.
    Tal_Image* ten = greyRow({10, 20, 30, 40, 50, 60, 70, 200, 200, 200});
    Tal_Image* three = newImage(3, 1, 8);
    ASSERT_TRUE(Tal__ScaleImageToImage(three, ten, 1));
    EXPECT_EQ(row(three), (std::vector<int>{10, 30, 60}));

    // Nearest: 4 columns to 8 repeat each column twice.
    Tal_Image* four = greyRow({1, 2, 3, 4});
    Tal_Image* eight = newImage(8, 1, 8);
    ASSERT_TRUE(Tal__ScaleImageToImage(eight, four, 0));
    EXPECT_EQ(row(eight), (std::vector<int>{1, 1, 2, 2, 3, 3, 4, 4}));

    // Smooth growth (and one direction shrinking while the other grows) keeps a flat picture flat.
    Tal_Image* flat = greyRow({255, 255, 255, 255, 255}, 5);
    for (auto [w, h] : {std::pair{5, 5}, {9, 12}, {3, 12}, {12, 3}, {2, 2}}) {
        Tal_Image* out = newImage(w, h, 8);
        ASSERT_TRUE(Tal__ScaleImageToImage(out, flat, 1));
        for (LONG y = 0; y < h; y++)
            EXPECT_EQ(row(out, y), std::vector<int>(size_t(w), 255)) << w << "x" << h;
        dispose(out);
    }

    // 24 to 8 takes the green plane; 8 to 24 fills every channel; other depths are refused.
    Tal_Image* colour = newImage(2, 2);
    for (LONG y = 0; y < 2; y++)
        for (LONG x = 0; x < 2; x++) {
            colour->red[y][x] = 9;
            colour->green[y][x] = 99;
            colour->blue[y][x] = 199;
        }
    Tal_Image* grey = newImage(4, 4, 8);
    ASSERT_TRUE(Tal__ScaleImageToImage(grey, colour, 0));
    EXPECT_EQ(row(grey, 3), (std::vector<int>{99, 99, 99, 99}));
    ASSERT_TRUE(Tal__ScaleImageToImage(colour, ten, 0));
    EXPECT_EQ(pixel(colour, 1, 1), (std::array<UBYTE, 3>{60, 60, 60}));
    Tal_Image* deep = newImage(2, 2, 96);
    EXPECT_FALSE(Tal__ScaleImageToImage(deep, colour, 0));
    for (Tal_Image* image : {ten, three, four, eight, flat, colour, grey, deep}) dispose(image);
}
