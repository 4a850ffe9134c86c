// Change announcements, the copies between working and base planes, pending changes, fixing, the
// banded recompose and the resize protocol.
#include "EngineTest.h"

#include <cstring>
#include <mutex>

using namespace engine_test;

namespace {

// Collects the notifications of one attribute: its argument words.
struct Heard {
    std::mutex mutex;
    std::vector<std::vector<Tal_Word>> calls;
    static Tal_Word callback(Tal_Word user, ULONG, ULONG, const Tal_Word* args) {
        auto* self = reinterpret_cast<Heard*>(user);
        std::lock_guard lock(self->mutex);
        self->calls.push_back({args[0], args[1], args[2], args[3], args[4], args[5]});
        return 0;
    }
    void listen(const Tal_Image* image, ULONG attribute) {
        Tal_AddCallBackNotify(image->header.handle, attribute, TAL_AnyValue, callback,
                              reinterpret_cast<Tal_Word>(this));
    }
    std::vector<std::vector<Tal_Word>> take() {
        std::lock_guard lock(mutex);
        return std::move(calls);
    }
};

using Calls = std::vector<std::vector<Tal_Word>>;

std::vector<Tal_Word> rect(ULONG type, const Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1) {
    return {type,
            reinterpret_cast<Tal_Word>(image),
            Tal_Word(intptr_t(x0)),
            Tal_Word(intptr_t(y0)),
            Tal_Word(intptr_t(x1)),
            Tal_Word(intptr_t(y1))};
}

class Change : public Engine {};

TEST_F(Change, LayerChangesRecomposeAndAnnounceTheirParent) {
    Tal_Image* image = newImage(20, 10);
    Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 6, 4);
    layer->layer_x = 15;
    layer->layer_y = 8;
    setColour(layer, 255, 0, 0);
    Heard fromLayer, fromImage;
    fromLayer.listen(layer, TAL_ImageDataChanged);
    fromImage.listen(image, TAL_ImageDataChanged);
    layer->grey[1][1] = 255;
    Tal_ModifiedImageData(layer, 1, 1, 5, 3);
    EXPECT_EQ(fromLayer.take(), (Calls{rect(0, layer, 1, 1, 5, 3)}));
    // Moved by the layer's position and clamped to the parent, not dropped.
    EXPECT_EQ(fromImage.take(), (Calls{rect(0, image, 16, 9, 19, 9)}));
    EXPECT_EQ(image->red[9][16], 255);
    EXPECT_EQ(layer->row_min_x[1], 1);
    EXPECT_EQ(layer->row_max_x[3], 5);

    // Held: no recompose, no announcement.
    image->notify_hold = 1;
    layer->grey[1][2] = 255;
    Tal_ModifiedImageData(layer, 2, 1, 2, 1);
    EXPECT_TRUE(fromImage.take().empty());
    EXPECT_EQ(image->red[9][17], 0);
    image->notify_hold = 0;
    Tal_ModifiedAllImageData(image);
    EXPECT_EQ(fromImage.take(), (Calls{rect(1, image, 0, 0, 19, 9)}));
    Tal_ModifiedImageFormat(image);
    EXPECT_EQ(fromImage.take(), (Calls{rect(2, image, 0, 0, 19, 9)}));
    dispose(image);
}

TEST_F(Change, PendingModeAndColourWaitForTheFix) {
    Tal_Image* image = newImage(4, 2);
    Tal_Image* layer = newLayer(image);
    EXPECT_EQ(Tal_SelectLayerMode(layer, "Blur"), 0u); // no such mode: nothing changes
    EXPECT_EQ(layer->pending_mode, 0u);
    ASSERT_EQ(Tal_SelectLayerMode(layer, "Negative"), 1u);
    EXPECT_STREQ(layer->mode_name, "Paint");
    EXPECT_STREQ(layer->pending_mode_name, "Negative");
    EXPECT_EQ(layer->fix_count.load(), 1); // the only layer: the caller must fix
    EXPECT_EQ(Tal_SelectLayerMode(layer, "Negative"), 1u);
    EXPECT_EQ(layer->fix_count.load(), 1); // the mode it waits for already: nothing
    layer->pending_colour[0] = 9;
    Tal_DoLayerDoesntNeedsFixing(layer);
    EXPECT_STREQ(layer->mode_name, "Negative");
    EXPECT_EQ(layer->pending_mode, 0u);
    EXPECT_EQ(layer->layer_colour[0], 9);
    EXPECT_EQ(layer->fix_count.load(), 0);
    dispose(image);
}

// Fixing copies the composed rows into the base planes and clears the paint; what it replaced comes back.
TEST_F(Change, FixingMovesThePaintIntoTheBase) {
    Tal_Image* image = newImage(8, 4);
    fillBase(image, 10, 20, 30);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 200, 100, 0);
    paint(layer, 2, 1, 255);
    paint(layer, 5, 1, 128);
    paint(layer, 6, 3, 255);
    Tal_FullProcessImage(image);
    auto painted = pixel(image, 5, 1);

    Tal_FixData kept{};
    ASSERT_EQ(Tal__FixImageLayers(image, 2, &kept), 1u); // keeps the paint
    EXPECT_EQ(layer->grey[1][2], 255);
    EXPECT_EQ(layer->row_max_x[1], 5);
    Tal__RestoreFixData(image, &kept);
    EXPECT_EQ(image->base_red[1][2], 10);
    Tal__FreeFixData(&kept);
    Tal_FullProcessImage(image);
    ASSERT_EQ(pixel(image, 5, 1), painted);

    Tal_FixData data{};
    ASSERT_EQ(Tal__FixImageLayers(image, 1, &data), 1u);
    EXPECT_EQ(image->base_red[1][2], 200);
    EXPECT_EQ(image->base_red[1][5], painted[0]);
    EXPECT_EQ(image->base_green[3][6], 100);
    EXPECT_EQ(image->base_red[1][7], 10);
    EXPECT_EQ(layer->grey[1][2], 0);
    EXPECT_GT(layer->row_min_x[1], layer->row_max_x[1]);
    EXPECT_EQ(data.first[1], 2);
    EXPECT_EQ(data.last[1], 5);
    EXPECT_EQ(data.first[0], 7); // an unfixed row
    EXPECT_EQ(data.last[0], 0);
    EXPECT_EQ(data.size, size_t(3 * (4 + 1)));
    EXPECT_FALSE(data.nothingFixed);
    // Recomposing now shows the same picture from the base alone.
    Tal_FullProcessImage(image);
    EXPECT_EQ(pixel(image, 5, 1), painted);
    ASSERT_EQ(Tal__RestoreFixData(image, &data), 1u);
    EXPECT_EQ(image->base_red[1][2], 10);
    EXPECT_EQ(image->base_green[3][6], 20);
    Tal__FreeFixData(&data);

    Tal_FixData none{};
    Tal__FixImageLayers(image, 1, &none);
    EXPECT_TRUE(none.nothingFixed);
    Tal__FreeFixData(&none);
    dispose(image);
}

// Both copies clip the rectangle so that source and destination fit, whatever the caller passes.
TEST_F(Change, UndoCopiesStayInsideBothPlanes) {
    struct {
        LONG x0, y0, x1, y1, dx, dy;
    } cases[] = {
        {0, 0, 20, 20, 0, 0}, {4, 2, 7, 5, 6, 4},   {0, 0, 7, 5, 7, 5}, {5, 1, 2, 3, 0, 0},
        {-3, -2, 2, 2, 1, 1}, {0, 0, 3, 3, -4, -4}, {7, 5, 7, 5, 0, 0}, {2, 2, 100, 3, 5, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.x0) + "," + std::to_string(c.y0) + "-" + std::to_string(c.x1) + "," +
                     std::to_string(c.y1) + " to " + std::to_string(c.dx) + "," + std::to_string(c.dy));
        Tal_Image* image = newImage(8, 6);
        for (LONG y = 0; y < 6; y++)
            for (LONG x = 0; x < 8; x++) image->red[y][x] = UBYTE(1 + x + 10 * y);
        Tal_CopyImageToUndoData(image, c.x0, c.y0, c.x1, c.y1, c.dx, c.dy);
        // Reference: starts clamped on their own, then every source pixel that lands inside is copied.
        LONG sx0 = std::clamp<LONG>(c.x0, 0, 7), sy0 = std::clamp<LONG>(c.y0, 0, 5);
        LONG sx1 = std::min<LONG>(c.x1, 7), sy1 = std::min<LONG>(c.y1, 5);
        LONG dx = std::clamp<LONG>(c.dx, 0, 7), dy = std::clamp<LONG>(c.dy, 0, 5);
        for (LONG y = 0; y < 6; y++)
            for (LONG x = 0; x < 8; x++) {
                LONG sx = x - dx + sx0, sy = y - dy + sy0;
                bool copied = c.x1 >= c.x0 && c.y1 >= c.y0 && sx >= sx0 && sx <= sx1 && sy >= sy0 &&
                              sy <= sy1 && x >= dx && y >= dy;
                ASSERT_EQ(image->base_red[y][x], copied ? UBYTE(1 + sx + 10 * sy) : 0) << x << "," << y;
            }
        dispose(image);
    }
}

// A crop that adds a margin wider than the old picture: the source is clamped to the old size, the
// destination to the new one.
TEST_F(Change, ResizeWithAWideMargin) {
    Tal_Image* image = newImage(4, 3);
    fillBase(image, 50, 60, 70);
    ASSERT_EQ(Tal_BeginNewImageSize(image, 12, 5), 1u);
    Tal_CopyUndoToImageData(image, -6, 0, -6 + 12, 5, 6, 0);
    ASSERT_EQ(Tal_EndNewImageSize(image, 12, 5), 1u);
    EXPECT_EQ(image->width, 12);
    for (LONG x = 0; x < 12; x++) EXPECT_EQ(image->red[1][x], x >= 6 && x < 10 ? 50 : 0) << x;
    EXPECT_EQ(image->base_blue[2][9], 70);
    EXPECT_EQ(image->red[4][7], 0);
    dispose(image);
}

TEST_F(Change, AFailedResizeLeavesTheImageAsItWas) {
    Tal_Image* image = newImage(6, 4);
    fillBase(image, 5, 6, 7);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 250, 250, 250);
    paint(layer, 3, 2, 255);
    Tal_FullProcessImage(image);
    auto snapshot = [&] {
        std::vector<UBYTE> out;
        for (UBYTE** plane :
             {image->red, image->green, image->blue, image->base_red, image->base_green, image->base_blue})
            for (LONG y = 0; y < image->height; y++) out.insert(out.end(), plane[y], plane[y] + image->width);
        return out;
    };
    auto before = snapshot();
    ASSERT_EQ(Tal_BeginNewImageSize(image, 10, 8), 1u);
    Tal__FailPlaneAllocation(0);
    EXPECT_EQ(Tal_EndNewImageSize(image, 10, 8), 0u);
    Tal__FailPlaneAllocation(-1);
    ASSERT_EQ(Tal_AbortNewImageSize(image, 10, 8), 1u);
    EXPECT_EQ(image->width, 6);
    EXPECT_EQ(image->height, 4);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(image->process_enable.load(), 1);
    // An image without base planes has nothing to read the old picture from.
    Tal_Image* flat = newImage(4, 4, 24, TAL_ALLOC_NO_BASE | TAL_ALLOC_NO_THREAD);
    EXPECT_EQ(Tal_BeginNewImageSize(flat, 8, 8), 0u);
    EXPECT_EQ(Tal_LockImageA(flat, TAL_LOCK_EXCLUSIVE, 0), 1u); // Begin let go of its lock
    Tal_UnlockImageA(flat, TAL_LOCK_EXCLUSIVE, 0);
    dispose(flat);

    // A resized layer counts as painted over its whole width.
    ASSERT_EQ(Tal_BeginNewImageSize(layer, 9, 3), 1u);
    Tal_CopyUndoToImageData(layer, 0, 0, 5, 3, 0, 0);
    ASSERT_EQ(Tal_EndNewImageSize(layer, 9, 3), 1u);
    EXPECT_EQ(layer->width, 9);
    EXPECT_EQ(layer->layer_w, 9);
    EXPECT_EQ(layer->grey[2][3], 255);
    for (LONG y = 0; y < 3; y++) EXPECT_EQ(layer->row_max_x[y] - layer->row_min_x[y], 8);
    // So does a floating image.
    Tal_Image* floating = newLayer(image, TAL_FLOATING_IMAGE, 24, 3, 2);
    ASSERT_EQ(Tal_BeginNewImageSize(floating, 5, 2), 1u);
    ASSERT_EQ(Tal_EndNewImageSize(floating, 5, 2), 1u);
    for (LONG y = 0; y < 2; y++) EXPECT_EQ(floating->row_max_x[y] - floating->row_min_x[y], 4);
    dispose(image);
}

// Each image thread recomposes a layer band by band and reports progress; the first hold of the lock is
// given back, so that disposal completes afterwards.
TEST_F(Change, BandedRecomposeReportsProgressAndLetsGo) {
    Tal_Image* image = newImage(8, 25, 24, 0);
    ASSERT_NE(image->thread_port, nullptr);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 99, 99, 99);
    for (LONG y = 0; y < 25; y++) paint(layer, 1, y, 255);
    Heard progress, start, end;
    progress.listen(image, TAL_LongOperationProgress);
    start.listen(image, TAL_LongOperationStart);
    end.listen(image, TAL_LongOperationEnd);
    ASSERT_EQ(Tal_DoAsyncImageMethod(image, TAL_RecomposeLayer, 0), 1u);
    waitIdle();
    auto calls = progress.take();
    ASSERT_EQ(calls.size(), 3u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(calls[i][0], Tal_Word(10 * i));
        EXPECT_EQ(calls[i][1], 25u);
    }
    EXPECT_EQ(start.take().size(), 1u);
    EXPECT_EQ(end.take().size(), 1u);
    EXPECT_EQ(image->red[24][1], 99);
    EXPECT_EQ(image->lock_count.load(), 0);
    dispose(image);
}

// A layer that is not the paint layer takes its own pending change and is recomposed itself.
TEST_F(Change, AChangedLayerIsRecomposedEvenWhenNotCurrent) {
    Tal_Image* image = newImage(4, 2, 24, 0);
    Tal_Image* below = newLayer(image);
    Tal_Image* above = newLayer(image);
    Tal_DoImageMethod(image, TAL_SetCurrentLayer, below);
    ASSERT_EQ(image->paint_layer, below);
    setColour(above, 10, 10, 10);
    paint(above, 1, 0, 255);
    Tal_FullProcessImage(image);
    above->pending_colour[0] = 200;
    EXPECT_EQ(Tal_LayerNeedsFixing(above), 1u); // a layer lies below it: recomposed, not fixed
    waitIdle();
    EXPECT_EQ(above->layer_colour[0], 200);
    EXPECT_EQ(above->fix_count.load(), 0);
    EXPECT_EQ(image->red[0][1], 200);
    EXPECT_EQ(below->fix_count.load(), 0);
    dispose(image);
}

// A newer recompose of the same layer supersedes a running one; other messages (a redraw) do not cut it
// short. Either way the picture ends as a full composition.
TEST_F(Change, OnlyANewerRecomposeInterruptsOne) {
    static std::atomic<int> stage{0};
    FlatMode::function = [](const Tal_ModeLineRecord*, LONG, LONG, UBYTE out[3]) {
        int expected = 0;
        if (stage.compare_exchange_strong(expected, 1))
            while (stage.load() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        out[0] = 180, out[1] = 90, out[2] = 45;
    };
    for (ULONG queued : {TAL_DrawObject, TAL_RecomposeLayer}) {
        SCOPED_TRACE(queued == TAL_DrawObject ? "redraw queued" : "recompose queued");
        stage = 0;
        Tal_Image* image = newImage(8, 100, 24, 0);
        fillBase(image, 1, 2, 3);
        Tal_Image* layer = newLayer(image);
        setMode(layer, "Flat");
        for (LONG y = 0; y < 100; y++) paint(layer, (y * 3) % 8, y, UBYTE(100 + y));
        Heard progress;
        progress.listen(image, TAL_LongOperationProgress);
        Tal_DoAsyncImageMethod(image, TAL_RecomposeLayer, 0);
        while (stage.load() != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Tal_DoAsyncImageMethod(image, queued, 0);
        stage = 2;
        waitIdle();
        std::vector<UBYTE> composed(image->red[0], image->red[0] + 8 * 100);
        for (LONG y = 0; y < 100; y++) std::copy(image->red[y], image->red[y] + 8, composed.begin() + 8 * y);
        Tal_FullProcessImage(image);
        for (LONG y = 0; y < 100; y++)
            ASSERT_EQ(0, std::memcmp(composed.data() + 8 * y, image->red[y], 8)) << "row " << y;
        // Ten bands once; superseded: the first stops after its first band and the second runs whole.
        EXPECT_EQ(progress.take().size(), queued == TAL_DrawObject ? 10u : 11u);
        dispose(image);
    }
    FlatMode::function = flatResult;
}

// Overrides of live redo are per thread and per call: the user's setting never changes under them.
TEST_F(Change, LiveRedoOverridesLeaveTheUserSettingAlone) {
    base->live_redo = 1;
    Tal_Image* image = newImage(8, 8);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    TaskThread panel([&] {
        while (!stop) {
            Tal_LiveRedoOverride quiet(0);
            if (Tal__LiveRedo() != 0) wrong++;
        }
    });
    TaskThread reader([&] {
        while (!stop)
            if (Tal__LiveRedo() != 1) wrong++;
    });
    for (int i = 0; i < 30; i++) {
        Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 4, 4);
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(Tal__LiveRedo(), 1);
    }
    stop = true;
    panel.join();
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(base->live_redo.load(), 1);
    {
        Tal_LiveRedoOverride outer(0);
        {
            Tal_LiveRedoOverride inner(1);
            EXPECT_EQ(Tal__LiveRedo(), 1);
        }
        EXPECT_EQ(Tal__LiveRedo(), 0);
    }
    dispose(image);
}

} // namespace
