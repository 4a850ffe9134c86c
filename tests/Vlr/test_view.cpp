// The image view and the display: what the window shows of the picture at 100%, scaled, smoothed and
// dithered; magnification, fitting and zooming; the coordinate mapping and snapping; and the view's
// life with its image (locks, disposal, full screen, the status line).
#include "ViewTest.h"
#include "Vlr/lib/redraw.h"

#include <future>

using namespace view_test;

namespace {

class View : public ViewFixture {
  protected:
    // The shown picture's pixels in the window must be the image's planes at 100%.
    static void expectShownAsIs(const Tal_ImageView* view, const Tal_Image* image) {
        const Shot s = shot(view);
        const Tal_Box* b = view->layout_box;
        ASSERT_EQ(view->shown_w, image->width);
        int wrong = 0;
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++)
                wrong +=
                    s.at(b->x + x, b->y + y) != rgb(image->red[y][x], image->green[y][x], image->blue[y][x]);
        EXPECT_EQ(wrong, 0);
    }
};

// The bilinear rule in 64 bits, written out for one output pixel.
uint32_t bilinear(const Tal_Image* image, LONG i, LONG row, LONG DW, LONG DH) {
    const int64_t W = image->width, H = image->height;
    const int64_t py = (int64_t(row) * H << 8) / DH, px = (W * i << 8) / DW;
    const int64_t k = py >> 8, k1 = std::min(k + 1, H - 1), m = px >> 8, m1 = std::min(m + 1, W - 1);
    const int64_t fy = py & 255, fx = px & 255;
    uint32_t out = 0;
    UBYTE** planes[3] = {image->red, image->green, image->blue};
    for (int c = 0; c < 3; c++) {
        UBYTE** p = planes[c];
        const int64_t v = (p[k][m] * (255 - fx) * (255 - fy) + p[k][m1] * fx * (255 - fy) +
                           p[k1][m] * (255 - fx) * fy + p[k1][m1] * fx * fy) /
                          65025;
        out = out << 8 | uint32_t(v);
    }
    return out;
}

TEST_F(View, OpensFittedAndShowsThePictureAsItIs) {
    Tal_Image* image = picture(97, 61);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    ASSERT_NE(hostOf(view), nullptr);
    EXPECT_EQ(image->first_view, view);
    EXPECT_EQ(magnification(view), 100);
    expectShownAsIs(view, image);
}

// Spans wider than the redraw buffer are drawn in pieces: with a buffer of 100 pixels a 225-pixel-wide
// picture takes three, and nothing is written past the buffer.
TEST_F(View, SpansWiderThanTheBufferAreDrawnInPieces) {
    Tal__SetRedrawBufferWidth(100);
    Tal_Image* image = picture(225, 40, 2);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    expectShownAsIs(view, image);
    Tal_FullRedrawImage(image);
    settle();
    expectShownAsIs(view, image);
}

TEST_F(View, FitAndZoomFollowTheSteps) {
    Tal_Image* image = picture(300, 200);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(magnification(view), 75);
    EXPECT_EQ(view->shown_w, 225);
    EXPECT_EQ(view->shown_h, 150);
    // Typed into the window.
    type('>');
    EXPECT_EQ(magnification(view), 80);
    type('<');
    EXPECT_EQ(magnification(view), 70);
    type('<');
    EXPECT_EQ(magnification(view), 60);
    // At most 800%.
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 800);
    settle();
    EXPECT_EQ(view->shown_w, 2400);
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 900);
    settle();
    EXPECT_EQ(view->shown_w, 2400);
    struct Step {
        LONG from, in, out;
    };
    for (const Step& s : {Step{100, 150, 90}, Step{30, 35, 25}, Step{5, 10, 5}, Step{150, 200, 100}}) {
        SCOPED_TRACE(s.from);
        for (const bool in : {true, false}) {
            Tal_DoMethod(handle(view), TAL_ViewSetMagnification, s.from);
            Tal_DoMethod(handle(view), in ? TAL_ViewZoomIn : TAL_ViewZoomOut);
            settle();
            EXPECT_EQ(magnification(view), in ? s.in : s.out);
        }
    }
}

TEST_F(View, FittingVeryWidePicturesGivesAtLeastOnePercent) {
    Tal_ImageView* view = open(picture(30000, 2));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Tal_DoMethod(handle(view), TAL_ViewGetFitMagnification), 1u);
}

// A 3000-pixel-wide picture at 200%, smoothed: the right end, where 32-bit positions would overflow,
// shows what the bilinear rule gives in 64 bits.
TEST_F(View, ScaledPositionsAreTakenIn64Bits) {
    interpolated = 1;
    Tal_Image* image = picture(3000, 10, 3);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 200);
    settle();
    Tal_DoMethod(view->scroll_group, TAL_ScrollToPoint, 6000, 0);
    settle();
    const Shot s = shot(view);
    LONG x0, y0, x1, y1;
    ASSERT_TRUE(Tal__ViewVisibleRect(view, &x0, &y0, &x1, &y1));
    ASSERT_GT(x0 - view->layout_box->x, 5000); // scrolled to the far end
    int wrong = 0;
    for (LONG y = y0; y <= y1; y++)
        for (LONG x = x0; x <= x1; x++)
            wrong +=
                s.at(x, y) != bilinear(image, x - view->layout_box->x, y - view->layout_box->y, 6000, 20);
    EXPECT_EQ(wrong, 0);
}

// The fast bilinear line (a column table, a multiply for the division) equals the rule written out, for
// shrinking and growing in both directions; the division is exact for every sum there can be.
TEST(SmoothLine, FastPathEqualsTheRule) {
    std::mt19937 random(5);
    struct Size {
        LONG W, H, DW, DH;
    };
    for (const Size& z :
         {Size{4000, 30, 200, 7}, Size{7, 5, 50, 39}, Size{13, 11, 13, 22}, Size{97, 61, 311, 3}}) {
        SCOPED_TRACE(std::to_string(z.W) + "x" + std::to_string(z.H) + " -> " + std::to_string(z.DW));
        std::vector<UBYTE> planes[3];
        for (auto& p : planes) {
            p.resize(size_t(z.W) * z.H);
            for (UBYTE& v : p) v = UBYTE(random());
        }
        std::vector<UBYTE> general(3 * size_t(z.DW)), fast(3 * size_t(z.DW));
        std::vector<LONG> columns(size_t(z.DW));
        std::vector<UBYTE> fractions(size_t(z.DW));
        for (LONG row = 0; row < z.DH; row++) {
            Tal_MakeSmoothScaledRGBLine(planes[0].data(), planes[1].data(), planes[2].data(), size_t(z.W),
                                        general.data(), 0, z.DW - 1, row, z.W, z.H, z.DW, z.DH);
            Tal_SmoothColumns table{columns.data(), fractions.data(), 0};
            Tal__SmoothColumnTable(&table, 0, z.DW - 1, z.W, z.DW);
            const int64_t position = (int64_t(row) * z.H << 8) / z.DH;
            const LONG k = LONG(position >> 8), k1 = std::min(k + 1, z.H - 1);
            const UBYTE* rows0[3] = {&planes[0][size_t(k) * z.W], &planes[1][size_t(k) * z.W],
                                     &planes[2][size_t(k) * z.W]};
            const UBYTE* rows1[3] = {&planes[0][size_t(k1) * z.W], &planes[1][size_t(k1) * z.W],
                                     &planes[2][size_t(k1) * z.W]};
            Tal__SmoothLine(rows0, rows1, LONG(position & 255), table, fast.data());
            ASSERT_EQ(fast, general) << "row " << row;
        }
    }
    // Flat areas keep their value exactly, up to the largest sum.
    for (const UBYTE value : {UBYTE(1), UBYTE(128), UBYTE(255)}) {
        const std::vector<UBYTE> plane(64, value);
        const UBYTE* rows[3] = {plane.data(), plane.data(), plane.data()};
        std::vector<LONG> columns(100);
        std::vector<UBYTE> fractions(100), out(300);
        Tal_SmoothColumns table{columns.data(), fractions.data(), 0};
        Tal__SmoothColumnTable(&table, 0, 99, 64, 100);
        for (LONG fy = 0; fy < 256; fy += 17) {
            Tal__SmoothLine(rows, rows, fy, table, out.data());
            ASSERT_EQ(std::count(out.begin(), out.end(), value), 300) << int(value) << " at " << fy;
        }
    }
}

// A view at most 50 × 39 draws smoothed with interpolation off; one pixel larger, nearest.
TEST_F(View, ThumbnailSizedViewsDrawSmoothed) {
    Tal_Image* image = picture(90, 70, 4);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    auto expectSmoothed = [&](bool smooth) {
        const Shot s = shot(view);
        const Tal_Box* b = view->layout_box;
        int smoothed = 0, nearest = 0;
        for (LONG y = 0; y < view->shown_h; y++)
            for (LONG x = 0; x < view->shown_w; x++) {
                const uint32_t seen = s.at(b->x + x, b->y + y);
                smoothed += seen == bilinear(image, x, y, view->shown_w, view->shown_h);
                const LONG c = LONG((uint64_t(x) * ((uint64_t(90) << 16) / view->shown_w)) >> 16);
                const LONG r = LONG(int64_t(y) * 70 / view->shown_h);
                nearest += seen == rgb(image->red[r][c], image->green[r][c], image->blue[r][c]);
            }
        const int all = view->shown_w * view->shown_h;
        EXPECT_EQ(smooth ? smoothed : nearest, all);
        EXPECT_LT(smooth ? nearest : smoothed, all / 2);
    };
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 55);
    settle();
    ASSERT_EQ(view->shown_w, 50);
    ASSERT_EQ(view->shown_h, 38);
    expectSmoothed(true);
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 56);
    settle();
    ASSERT_EQ(view->shown_w, 51);
    expectSmoothed(false);
}

// Redraw mode 5: a flat 8 reads 8, 16, 8, 16 along every row, the same in every 8 × 8 block; redrawing a
// part of any block (here of a random picture, with a buffer narrower than the view, so that blocks
// straddle spans) leaves the window as it was.
TEST_F(View, TwelveBitDitheringRepeatsInBlocksAndRedrawsPartsExactly) {
    redrawMode = TAL_REDRAW_MODE_12BIT;
    Tal_ImageView* flat = open(picture(64, 40, 1, 8));
    ASSERT_NE(flat, nullptr);
    const Shot s = shot(flat);
    const Tal_Box* b = flat->layout_box;
    int wrong = 0;
    for (LONG y = b->y; y < b->y + 40; y++)
        for (LONG x = b->x; x < b->x + 64; x++) {
            const uint32_t v = (x % 2 == 0) ? 8 : 16;
            wrong += s.at(x, y) != rgb(UBYTE(v), UBYTE(v), UBYTE(v));
        }
    EXPECT_EQ(wrong, 0) << "at " << b->x << "," << b->y;

    Tal__SetRedrawBufferWidth(60);
    Tal_Image* image = picture(200, 150, 6);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 107); // scaled, and blocks cut by the edges
    settle();
    const Shot whole = shot(view);
    for (auto [x0, y0, x1, y1] :
         {std::array<LONG, 4>{5, 5, 5, 5}, {0, 0, 3, 2}, {60, 40, 61, 70}, {190, 140, 199, 149}}) {
        Tal_RedrawImageView(view, x0, y0, x1, y1);
        settle();
        EXPECT_EQ(shot(view), whole) << x0 << "," << y0;
    }
}

TEST_F(View, CoordinatesMapBothWaysAndSnapToTheGrid) {
    Tal_Image* image = picture(300, 200);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 200);
    settle();
    const LONG L = view->layout_box->x, T = view->layout_box->y;
    EXPECT_EQ(ImageToWindowX(image, 10), L + 20);
    EXPECT_EQ(ImageToWindowY(image, 7), T + 14);
    EXPECT_EQ(WindowToImageX(image, L + 21), 10);
    EXPECT_EQ(WindowToImageY(image, T + 15), 7);
    Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 50, 50);
    layer->layer_x = 5;
    EXPECT_EQ(LayerToWindowX(layer, 1), L + 12);
    EXPECT_EQ(WindowToLayerX(layer, L + 12), 1);
    EXPECT_EQ(ImageToWindowXa(nullptr, 7), 0);

    struct Case {
        LONG v, grid, offset, snapped;
    };
    for (const Case& c :
         {Case{14, 10, 0, 10}, Case{15, 10, 0, 20}, Case{-14, 10, 0, -10}, Case{-16, 10, 0, -20},
          Case{14, 0, 0, 10}, Case{7, 4, 1, 7}, Case{3, 1, 0, 3}, Case{7, 5, 0, 5}, Case{8, 5, 0, 10}})
        EXPECT_EQ(Tal_SnapToGrid(c.v, c.grid, c.offset), c.snapped) << c.v << " on " << c.grid;
    // Through the tool mapping, with snapping on and a grid never set.
    base->snap_enabled = 1;
    EXPECT_EQ(Tal_ToolWindowToImageX(image, L + 2 * 16), 20);
    base->snap_enabled = 0;
    EXPECT_EQ(Tal_ToolWindowToImageX(image, L + 2 * 16), 16);
}

// A press in full screen leaves it; the image is unlocked afterwards, so disposing it completes.
TEST_F(View, APressInFullScreenLeavesItAndKeepsNoLock) {
    Tal_Image* image = newImage(100, 60);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    Tal_DoMethod(handle(view), TAL_ViewFullScreen);
    settle();
    EXPECT_EQ(view->full_screen, 1);
    EXPECT_EQ(hostOf(view)->Height, 320); // the whole screen
    press(view, 10, 10);
    EXPECT_EQ(view->full_screen, 0);
    auto disposed = std::async(std::launch::async, [image] {
        Task* task = Tal__AddThisProcess();
        Tal_DisposeObject(image->header.handle);
        Tal__RemoveThisProcess(task);
    });
    ASSERT_EQ(disposed.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

// Closing the last view disposes the view once (its window holds it) and the image with it; redraws
// asked for meanwhile from another thread find the image gone and draw nothing.
TEST_F(View, ClosingTheLastViewDisposesItAndItsImage) {
    Tal_Image* image = newImage(80, 50);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    const ULONG imageHandle = image->header.handle, viewHandle = handle(view), window = view->window;
    std::atomic<bool> stop{false};
    TaskThread redrawing([&] {
        while (!stop) Tal_FullRedrawImage(image);
    });
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_CloseView, viewHandle), 1u);
    EXPECT_TRUE(waitFor([&] { return !Tal_GetObjectInstance(imageHandle); }));
    stop = true;
    redrawing.join();
    settle();
    EXPECT_EQ(Tal_GetObjectInstance(viewHandle), nullptr);
    EXPECT_EQ(Tal_GetObjectInstance(window), nullptr);
}

TEST_F(View, TheStatusLineShowsWhileALongOperationRuns) {
    Tal_Image* image = picture(100, 60);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    EXPECT_NE(Tal_DoMethod(view->status_group, TAL_IsHidden), 0u);
    Tal_DoImageNotify(image, TAL_LongOperationStart);
    Tal_DoImageNotify(image, TAL_LongOperationProgress, 200, 50, "Saving");
    settle();
    EXPECT_EQ(Tal_DoMethod(view->status_group, TAL_IsHidden), 0u);
    EXPECT_EQ(Tal_DoMethod(view->progress_bar, TAL_GetProgressValue), 50u);
    EXPECT_STREQ(view->status, "Saving");
    Tal_DoImageNotify(image, TAL_LongOperationEnd);
    settle();
    EXPECT_NE(Tal_DoMethod(view->status_group, TAL_IsHidden), 0u);
    EXPECT_EQ(Tal_DoMethod(view->progress_bar, TAL_GetProgressValue), 100u);
}

TEST_F(View, ChangesOfThePictureAreRedrawn) {
    Tal_Image* image = picture(60, 40, 7);
    Tal_ImageView* view = open(image);
    ASSERT_NE(view, nullptr);
    for (LONG y = 10; y < 20; y++)
        for (LONG x = 5; x < 15; x++) image->red[y][x] = image->green[y][x] = image->blue[y][x] = 77;
    // Announced from another thread: the window draws it.
    TaskThread([&] { Tal_ModifiedImageData(image, 5, 10, 14, 19); }).join();
    settle();
    expectShownAsIs(view, image);
    // A redraw while drawing is held back draws nothing.
    image->redraw_enable = 0;
    image->red[0][0] = UBYTE(image->red[0][0] + 1);
    Tal_FullRedrawImage(image);
    settle();
    EXPECT_NE(shot(view).at(view->layout_box->x, view->layout_box->y) >> 16, image->red[0][0]);
    image->redraw_enable = 1;
    // A new format fits the picture again and names it in the title; so does a save.
    Tal_DoMethod(handle(view), TAL_ViewSetMagnification, 300);
    std::snprintf(image->file_path, sizeof image->file_path, "%s", "/pictures/sky.bmp");
    Tal_ModifiedImageFormat(image);
    settle();
    EXPECT_EQ(magnification(view), 100);
    EXPECT_STREQ(hostOf(view)->Title, "/pictures/sky.bmp - 60x40x24bit");
    std::snprintf(image->file_path, sizeof image->file_path, "%s", "/pictures/sea.bmp");
    Tal__AnnounceImageChange(image, TAL_CHANGE_SAVED, 0, 0, 59, 39);
    settle();
    EXPECT_STREQ(hostOf(view)->Title, "/pictures/sea.bmp - 60x40x24bit");
}

} // namespace
