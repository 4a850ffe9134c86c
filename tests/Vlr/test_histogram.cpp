// Histogram: its buckets, where each bucket is drawn, and the curve in a window.
#include "Vlr/Tal/Histogram.h"
#include "support/ScriptedWindow.h"
#include "support/TalTest.h"

#include <cstdint>

namespace {

using namespace scripted;

TEST(HistogramColumns, EachColumnShowsTheBucketThatFallsOnIt) {
    struct Case {
        uint64_t column, shown, width, bucket;
    };
    const Case cases[] = {
        {0, 255, 96, 0},    // the first column: bucket 0
        {95, 255, 96, 252}, // the last of 96 columns: 95 × 255 ÷ 96
        {48, 255, 96, 127}, // half way
        {3, 4, 4, 3},       // one column a bucket
        {7, 4, 8, 3},       // two columns a bucket
        {9, 1000, 10, 900}, // many buckets a column
        {0, 0, 96, 0},      // nothing shown
        {5, 255, 0, 0},     // no room
    };
    for (const Case& c : cases)
        EXPECT_EQ(Tal_HistogramColumnBucket(c.column, c.shown, c.width), c.bucket)
            << c.column << " of " << c.width << " over " << c.shown;
}

class HistogramWidget : public Scripted {
  protected:
    void SetUp() override {
        Scripted::SetUp();
        ASSERT_EQ(Tal_InitHistogramClass(), 1u);
        histogram = Tal_CreateObject("Histogram");
        ASSERT_NE(histogram, 0u);
    }
    void TearDown() override {
        Tal_DisposeObject(window ? window : histogram);
        window = 0;
        settle();
        Tal_CleanupHistogramClass();
        Scripted::TearDown();
    }
    LONG get(ULONG method, LONG position) { return LONG(int32_t(Tal_DoMethod(histogram, method, position))); }
    LONG set(LONG position, ULONG count) {
        return LONG(int32_t(Tal_DoMethod(histogram, TAL_SetHistogramBucket, position, count)));
    }
    ULONG* buckets() { return reinterpret_cast<ULONG*>(Tal_DoMethod(histogram, TAL_GetHistogramBuckets)); }
    // Opens the histogram in a window; the drawing area's box.
    Tal_Box open() {
        window = Tal_CreateObject("Window", TAL_SetWindowX, 0, TAL_SetWindowY, 0, TAL_SetWindowW, 200,
                                  TAL_SetWindowH, 200);
        Tal_DoMethod(window, TAL_AddTail, histogram);
        Tal_DoMethod(window, TAL_Start);
        run("wait");
        const ULONG frame = ULONG(Tal_DoMethod(histogram, TAL_GetFirstGroupObject));
        area = ULONG(Tal_DoMethod(frame, TAL_GetFirstGroupObject));
        return boxOf(area);
    }
    RastPort* port() { return reinterpret_cast<Window*>(Tal_DoMethod(window, TAL_GetHostWindow))->RPort; }
    // The rows of the area's inner part where a column has pen-1 pixels.
    std::vector<LONG> inked(const Tal_Box& b, LONG column) {
        std::vector<LONG> rows;
        const ULONG ink = host_PenColour(port(), 1);
        for (LONG y = b.y; y < b.y + b.height; y++)
            if (ReadRGBPixel(port(), b.x + 2 + column, y) == ink) rows.push_back(y);
        return rows;
    }
    ULONG histogram = 0, area = 0;
};

TEST_F(HistogramWidget, BucketsExistOnceAskedForAndOnlyWithinTheArray) {
    const LONG none = -1;
    EXPECT_EQ(set(0, 5), none); // no array yet
    EXPECT_EQ(get(TAL_GetHistogramBucket, 0), none);
    ULONG* array = buckets();
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(buckets(), array);
    EXPECT_EQ(array[255], 0u);
    for (LONG outside : {-1, 256, 300, INT32_MIN}) {
        EXPECT_EQ(set(outside, 5), none) << outside;
        EXPECT_EQ(get(TAL_GetHistogramBucket, outside), none) << outside;
    }
    EXPECT_EQ(set(255, 0xFFFFFFFF), 1);
    EXPECT_EQ(Tal_DoMethod(histogram, TAL_GetHistogramBucket, 255), Tal_Word(0xFFFFFFFF));
    // A wider range later does not make the array longer.
    EXPECT_EQ(get(TAL_SetHistogramMaxX, 1000), 1000);
    EXPECT_EQ(get(TAL_GetHistogramMaxX, 0), 1000);
    EXPECT_EQ(set(256, 1), none);
}

TEST_F(HistogramWidget, AnEmptyOrHugeRangeHasNoArray) {
    Tal_DoMethod(histogram, TAL_SetHistogramMinX, 10);
    Tal_DoMethod(histogram, TAL_SetHistogramMaxX, 9);
    EXPECT_EQ(buckets(), nullptr);
    Tal_DoMethod(histogram, TAL_SetHistogramMinX, INT32_MIN);
    Tal_DoMethod(histogram, TAL_SetHistogramMaxX, INT32_MAX);
    EXPECT_EQ(buckets(), nullptr);
    Tal_DoMethod(histogram, TAL_SetHistogramMinX, 0);
    Tal_DoMethod(histogram, TAL_SetHistogramMaxX, 3);
    EXPECT_NE(buckets(), nullptr);
    EXPECT_EQ(set(3, 1), 1);
}

// Counts rising with their position draw a curve from the bottom left to the top right, each column
// at the height of its bucket; nothing is read beyond the array, whatever the range says.
TEST_F(HistogramWidget, TheCurveRisesWithItsCounts) {
    ULONG* array = buckets();
    for (ULONG k = 0; k < 256; k++) array[k] = k;
    Tal_DoMethod(histogram, TAL_SetHistogramMaxX, 100000);
    const Tal_Box b = open();
    ASSERT_EQ(b.height, 130);
    const LONG width = b.width - 4, height = b.height - 4, bottom = b.y + b.height - 2;
    ASSERT_GT(width, 10);
    for (LONG i : {LONG(0), width / 3, width / 2, width - 2}) {
        const uint64_t k = Tal_HistogramColumnBucket(uint64_t(i), 256, uint64_t(width));
        const LONG v = LONG(uint64_t(height) * k / 255);
        const std::vector<LONG> rows = inked(b, i);
        ASSERT_FALSE(rows.empty()) << i;
        EXPECT_EQ(rows.front(), bottom - v) << i; // nothing above the curve
    }
    screenshots("histogram");
    // All counts 0: only the baseline, along the whole inner width.
    std::fill(array, array + 256, 0u);
    Tal_DoMethod(histogram, TAL_DrawObject);
    run("wait");
    for (LONG i : {LONG(0), width / 2, width - 1}) EXPECT_EQ(inked(b, i), (std::vector<LONG>{bottom})) << i;
}

} // namespace
