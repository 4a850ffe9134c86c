// The Image class: its thread, layers, the image list and the engine-wide methods.
#include "EngineTest.h"
#include "host/msgbox.h"
#include "support/Recorder.h"

#include <cstring>
#include <mutex>
#include <thread>

using namespace engine_test;

namespace {

RECORDER_CLASS(recorderClass, "TRecorder", 0x7E000000)
constexpr ULONG Method = 0x7E000014;

// A view that counts what its image tells it.
Tal_Class viewClass;
std::atomic<int> viewRedraws{0};

void* newView(const TagItem*) {
    auto* self = static_cast<Tal_ImageView*>(Tal_AllocObjectMem(&viewClass));
    if (self) self->header.superObject = Tal_CreateObject("Root");
    return self;
}
void disposeView(void* instance) {
    auto* self = static_cast<Tal_ImageView*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}
Tal_Word viewMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<Tal_ImageView*>(instance);
    switch (id) {
    case TAL_ViewSetImage:
        self->image = reinterpret_cast<Tal_Image*>(args[0]);
        return 1;
    case TAL_ShowView:
        self->shown = 1;
        return 1;
    case TAL_ImageDataChanged:
        viewRedraws++;
        return 1;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

class Image : public Engine {
  protected:
    void SetUp() override {
        Engine::SetUp();
        register_recorderClass();
        Tal__SetupClass(&viewClass, "ImageView", 0x00440000, "Root", newView, disposeView, viewMethod,
                        nullptr, sizeof(Tal_ImageView));
    }
    void TearDown() override { Engine::TearDown(); }
    static bool gone(ULONG handle) { return Tal_GetObjectClassID(handle) == 0; }
};

TEST_F(Image, TheEngineHasItsImageObject) {
    ASSERT_NE(base->image_object, nullptr);
    EXPECT_EQ(base->image_object->width, 8);
    EXPECT_NE(base->image_object->thread_port, nullptr);
    EXPECT_EQ(Tal_DoImageMethod(base->image_object, TAL_GetGlobalColourRGB), 0x00FFB164u); // 100, 177, 255
}

// Asynchronous methods run on the image's own thread, one at a time, in the order they came.
TEST_F(Image, ItsThreadPerformsMethodsInArrivalOrder) {
    Tal_Image* image = newImage(4, 4, 24, 0);
    ULONG target = Tal_CreateObject("TRecorder");
    static std::mutex mutex;
    static std::vector<std::thread::id> threads;
    recorder::of(target)->hook = [](recorder::Instance*, ULONG, const Tal_Word*) {
        std::lock_guard lock(mutex);
        threads.push_back(std::this_thread::get_id());
    };
    for (Tal_Word i = 1; i <= 20; i++)
        ASSERT_EQ(Tal_DoAsyncImageMethod(image, TAL_DoAsyncMethodMethod, target, Method, i, 0), 1u);
    waitIdle();
    auto calls = recorder::calls(target);
    ASSERT_EQ(calls.size(), 20u);
    for (size_t i = 0; i < 20; i++) EXPECT_EQ(calls[i].args[0], i + 1);
    for (auto id : threads) EXPECT_NE(id, std::this_thread::get_id());
    threads.clear();
    Tal_DisposeObject(target);
    dispose(image);
}

// A thread that ends before it has its port fails the allocation and leaves nothing behind.
TEST_F(Image, AnImageThreadThatEndsEarlyFailsTheAllocation) {
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    image->thread_entry = [](Tal_Word) -> ULONG { return 0; };
    EXPECT_EQ(Tal_AllocImage(image, 4, 4, 24, 0), nullptr);
    EXPECT_EQ(image->thread, 0u);
    EXPECT_EQ(image->red, nullptr);
    dispose(image);
}

// Disposal asked for on the image's own thread goes to the background instead of waiting for itself.
TEST_F(Image, DisposalQueuedToItsOwnThreadCompletes) {
    for (ULONG how : {TAL_Stop, TAL_DisposeSelf, TAL_DisposeObjectLater}) {
        SCOPED_TRACE(how);
        Tal_Image* image = newImage(4, 4, 24, 0);
        Tal_Image* layer = newLayer(image);
        ULONG handle = image->header.handle, layerHandle = layer->header.handle;
        if (how == TAL_Stop)
            Tal_DoAsyncImageMethod(image, TAL_Stop, 0);
        else
            Tal_DoAsyncImageMethod(image, how, handle, 0);
        EXPECT_TRUE(waitFor([&] { return gone(handle); }));
        EXPECT_TRUE(gone(layerHandle));
    }
    waitIdle();
}

TEST_F(Image, NewImageFromABitmapChecksItsRecord) {
    auto record = [](LONG w, LONG h, size_t length, size_t present) {
        auto* r = static_cast<Tal_BitmapRecord*>(Tal_AllocMemClear(sizeof(Tal_BitmapRecord) + present + 1));
        auto* pixels = reinterpret_cast<UBYTE*>(r + 1);
        for (size_t i = 0; i < present; i++) pixels[i] = UBYTE(i);
        r->width = w;
        r->height = h;
        r->pixels = pixels;
        r->length = length;
        return r;
    };
    auto make = [&](Tal_BitmapRecord* r) {
        return reinterpret_cast<Tal_Image*>(Tal_DoImageMethod(base->image_object, TAL_NewImageFromBitmap, r));
    };
    EXPECT_EQ(make(record(0, 3, 48, 48)), nullptr);
    EXPECT_EQ(make(record(5, 3, 47, 47)), nullptr); // rows of 16 bytes: 48 needed
    EXPECT_EQ(make(record(40000, 1, 1 << 20, 16)), nullptr);
    Tal_Image* image = make(record(5, 3, 48, 48));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 5);
    // Bottom-up rows of 16 bytes, pixels blue, green, red: (x, y) starts at byte 16 × (2 − y) + 3x.
    for (LONG y = 0; y < 3; y++)
        for (LONG x = 0; x < 5; x++) {
            UBYTE at = UBYTE(16 * (2 - y) + 3 * x);
            ASSERT_EQ(pixel(image, x, y), (std::array<UBYTE, 3>{UBYTE(at + 2), UBYTE(at + 1), at}));
            ASSERT_EQ(image->base_red[y][x], UBYTE(at + 2));
        }
    EXPECT_EQ(base->active_image, image);
    EXPECT_EQ(first_image(base), image);
    ASSERT_NE(image->current_layer, nullptr);
    EXPECT_EQ(image->current_layer->kind, TAL_PAINT_LAYER);
    EXPECT_NE(image->first_view, nullptr);
    dispose(image);
    waitIdle();
}

TEST_F(Image, NewLayersGetTheDefaultsAndAListener) {
    Tal_Image* image = newImage(6, 4);
    Tal_DoImageMethod(image, TAL_AddToImageList);
    Tal_Image* layer = newLayer(image);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->parent, image);
    EXPECT_EQ(layer->top_image, image);
    EXPECT_EQ(layer->layer_w, 6);
    EXPECT_STREQ(layer->mode_name, "Paint");
    EXPECT_EQ(layer->layer_colour[1], 177);
    EXPECT_EQ(image->current_layer, layer);
    EXPECT_EQ(base->active_image, image); // a listed image becomes active with its new layer
    layer->grey[2][3] = 255;
    Tal_ModifiedImageData(layer, 3, 2, 3, 2);
    EXPECT_EQ(image->red[2][3], 100);

    Tal_Image* floating = newLayer(image, TAL_FLOATING_IMAGE, 24, 3, 2);
    ASSERT_NE(floating, nullptr);
    EXPECT_EQ(floating->depth, 24);
    ASSERT_NE(floating->alpha_child, nullptr);
    ASSERT_NE(floating->current_layer, nullptr);
    EXPECT_EQ(floating->current_layer->top_image, image);
    EXPECT_EQ(image->paint_layer, floating->current_layer);
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_RemoveLayer, floating), 1u);
    EXPECT_EQ(image->current_layer, nullptr);
    dispose(floating);
    dispose(image);
}

TEST_F(Image, LayersMoveWithinTheirList) {
    Tal_Image* image = newImage(4, 4);
    Tal_Image* a = newLayer(image);
    Tal_Image* b = newLayer(image);
    Tal_Image* c = newLayer(image);
    auto order = [&] {
        std::vector<Tal_Image*> out;
        for (Tal_Image* l = first_layer(image); l; l = next_layer(l)) out.push_back(l);
        return out;
    };
    using Order = std::vector<Tal_Image*>;
    EXPECT_EQ(Tal_DoImageMethod(c, TAL_LayerUp), 0u);
    EXPECT_EQ(Tal_DoImageMethod(c, TAL_LayerToTop), 0u);
    EXPECT_EQ(Tal_DoImageMethod(a, TAL_LayerDown), 0u);
    EXPECT_EQ(Tal_DoImageMethod(a, TAL_LayerToBottom), 0u);
    EXPECT_EQ(order(), (Order{a, b, c}));
    Tal_DoImageMethod(b, TAL_LayerToTop);
    EXPECT_EQ(order(), (Order{a, c, b}));
    Tal_DoImageMethod(a, TAL_LayerUp);
    EXPECT_EQ(order(), (Order{c, a, b}));
    Tal_DoImageMethod(b, TAL_LayerDown);
    EXPECT_EQ(order(), (Order{c, b, a}));
    Tal_DoImageMethod(a, TAL_LayerToBottom);
    EXPECT_EQ(order(), (Order{a, c, b}));
    dispose(image);
}

TEST_F(Image, PositionShowAndHideRecomposeTheirArea) {
    Tal_Image* image = newImage(10, 4);
    Tal_Image* layer = newLayer(image, TAL_PAINT_LAYER, 8, 2, 2);
    setColour(layer, 200, 200, 200);
    for (LONG y = 0; y < 2; y++)
        for (LONG x = 0; x < 2; x++) paint(layer, x, y, 255);
    Tal_FullProcessImage(image);
    ASSERT_EQ(image->red[1][1], 200);
    Tal_DoImageMethod(layer, TAL_SetLayerPosition, 5, 1, 2, 2);
    EXPECT_EQ(image->red[1][1], 0);
    EXPECT_EQ(image->red[2][6], 200);
    Tal_DoImageMethod(layer, TAL_HideLayer);
    EXPECT_EQ(image->red[2][6], 0);
    Tal_DoImageMethod(layer, TAL_ShowLayer);
    EXPECT_EQ(image->red[2][6], 200);

    // Paint of a floating image's own layer leaves the floating image, and so the picture, when hidden.
    Tal_Image* f = newLayer(image, TAL_FLOATING_IMAGE, 24, 4, 2);
    for (LONG x = 0; x < 4; x++) f->alpha_child->grey[0][x] = f->alpha_child->grey[1][x] = 255;
    Tal_Image* own = f->current_layer;
    setColour(own, 90, 90, 90);
    paint(own, 1, 0, 255);
    Tal_ModifiedImageData(own, 1, 0, 1, 0);
    EXPECT_EQ(f->red[0][1], 90);
    EXPECT_EQ(image->red[0][1], 90);
    Tal_DoImageMethod(own, TAL_HideLayer);
    EXPECT_EQ(f->red[0][1], 0);
    EXPECT_EQ(image->red[0][1], 0);
    dispose(image);
}

TEST_F(Image, AttributesOfALayer) {
    Tal_Image* image = newImage(4, 4);
    Tal_Image* layer = newLayer(image);
    struct {
        ULONG id;
        LONG value;
        UWORD Tal_Image::*field;
        UWORD expected;
    } cases[] = {
        {TAL_SetTransparency, 56, &Tal_Image::opacity, 200},
        {TAL_SetTransparencyPercent, 50, &Tal_Image::opacity, 128},
        {TAL_SetRedReduction, 56, &Tal_Image::red_strength, 200},
        {TAL_SetBlueReductionPercent, 25, &Tal_Image::blue_strength, 192},
        {TAL_SetValueReduction, 256, &Tal_Image::value_strength, 0},
        {TAL_SetMidtonesReductionPercent, 100, &Tal_Image::midtones, 0},
    };
    for (auto& c : cases) {
        Tal_DoImageMethod(layer, c.id, c.value);
        EXPECT_EQ(layer->*c.field, c.expected) << std::hex << c.id;
    }
    EXPECT_EQ(layer->tone_table_dirty, 1);
    EXPECT_EQ(Tal_DoImageMethod(layer, TAL_SetFadeShape, TAL_FADE_CIRCLE), Tal_Word(TAL_FADE_CIRCLE));
    EXPECT_EQ(Tal_DoImageMethod(layer, TAL_GetFadeShape), Tal_Word(TAL_FADE_CIRCLE));
    EXPECT_EQ(Tal_DoImageMethod(layer, TAL_SetFadeSoftness, 70), 70u);
    EXPECT_EQ(Tal_DoImageMethod(layer, TAL_GetFadeSize), 30u);
    EXPECT_EQ(Tal_DoImageMethod(layer, TAL_GetImageRecord), reinterpret_cast<Tal_Word>(layer));
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoImageMethod(layer, TAL_GetLayerMode)), "Paint");
    dispose(image);
}

TEST_F(Image, FillingDataTakesItAsTheBase) {
    Tal_Image* image = newImage(5, 3);
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_FillImageData, 0x00332211), 1u);
    EXPECT_EQ(pixel(image, 4, 2), (std::array<UBYTE, 3>{0x11, 0x22, 0x33}));
    EXPECT_EQ(image->base_blue[1][3], 0x33);
    Tal_DoImageMethod(image, TAL_ClearImageData);
    EXPECT_EQ(image->base_red[0][0], 0);
    dispose(image);
}

// A mask that goes away takes its link with it.
TEST_F(Image, AMaskThatIsDisposedIsDropped) {
    Tal_Image* image = newImage(4, 4);
    Tal_Image* layer = newLayer(image);
    Tal_Image* mask = newImage(4, 4, 8);
    EXPECT_EQ(Tal_DoImageMethod(layer, TAL_SetMaskImage, mask), 1u);
    EXPECT_EQ(layer->mask_image, mask);
    EXPECT_EQ(layer->mask_w, 4);
    dispose(mask);
    EXPECT_EQ(layer->mask_image, nullptr);
    Tal_FullProcessImage(image);
    dispose(image);
}

TEST_F(Image, ActiveImageAndColourNotifyOnlyOnChange) {
    struct Counter {
        std::atomic<int> n{0};
        static Tal_Word count(Tal_Word user, ULONG, ULONG, const Tal_Word*) {
            reinterpret_cast<Counter*>(user)->n++;
            return 0;
        }
    } active, colour, layerChanges;
    ULONG hub = base->image_object->header.handle;
    Tal_AddCallBackNotify(hub, TAL_SetActiveImage, TAL_AnyValue, Counter::count,
                          reinterpret_cast<Tal_Word>(&active));
    Tal_AddCallBackNotify(hub, TAL_SetGlobalColourRGB, TAL_AnyValue, Counter::count,
                          reinterpret_cast<Tal_Word>(&colour));
    Tal_AddCallBackNotify(hub, TAL_SetCurrentLayer, TAL_AnyValue, Counter::count,
                          reinterpret_cast<Tal_Word>(&layerChanges));
    Tal_Image* image = newImage(4, 4);
    Tal_DoImageMethod(image, TAL_SetActiveImage, image);
    Tal_DoImageMethod(image, TAL_SetActiveImage, image);
    EXPECT_EQ(active.n.load(), 1);
    EXPECT_EQ(layerChanges.n.load(), 1);
    ULONG current = ULONG(Tal_DoImageMethod(base->image_object, TAL_GetGlobalColourRGB));
    Tal_DoImageMethod(base->image_object, TAL_SetGlobalColourRGB, current);
    EXPECT_EQ(colour.n.load(), 0);
    Tal_DoImageMethod(base->image_object, TAL_SetGlobalColourRGB, 0x00030201);
    EXPECT_EQ(colour.n.load(), 1);
    EXPECT_EQ(base->paint_red, 1);
    EXPECT_EQ(base->paint_blue, 3);
    dispose(image);
    EXPECT_EQ(base->active_image, nullptr);
}

TEST_F(Image, TheQuitQuestionStopsTheAppOnlyOnOk) {
    ULONG app = Tal_CreateObject("TRecorder");
    base->app_object = app;
    host_QueueMessageBoxAnswer(0);
    EXPECT_EQ(Tal_DoImageMethod(base->image_object, TAL_QuitRequest), 0u);
    EXPECT_TRUE(recorder::calls(app).empty());
    host_QueueMessageBoxAnswer(1);
    Tal_DoImageMethod(base->image_object, TAL_QuitRequest);
    ASSERT_EQ(recorder::calls(app).size(), 1u);
    EXPECT_EQ(recorder::calls(app)[0].id, TAL_Stop);
    base->app_object = 0;
    Tal_DisposeObject(app);
}

// Closing one of two views asks nothing; closing the last view of a modified image asks first.
TEST_F(Image, ClosingTheLastViewOfAModifiedImageAsks) {
    Tal_Image* image = newImage(4, 4);
    ULONG first = ULONG(Tal_DoImageMethod(image, TAL_OpenView));
    ULONG second = ULONG(Tal_DoImageMethod(image, TAL_OpenView));
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_EQ(Tal_GetImageViewHandle(image->first_view), second);
    viewRedraws = 0;
    Tal_DoImageMethod(image, TAL_DrawObject);
    EXPECT_EQ(viewRedraws.load(), 2);
    image->modified_count = 1;
    host_QueueMessageBoxAnswer(0);
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_CloseView, second), 1u);
    LONG answer = -1;
    EXPECT_TRUE(host_TakeQueuedAnswer(&answer)); // nobody asked
    EXPECT_EQ(Tal_GetImageViewHandle(image->first_view), first);
    host_QueueMessageBoxAnswer(0);
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_CloseView, first), 0u);
    EXPECT_EQ(ListCount(&image->views), 1u);
    host_QueueMessageBoxAnswer(1);
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_CloseView, first), 1u);
    EXPECT_EQ(ListCount(&image->views), 0u);
    EXPECT_TRUE(waitFor([&] { return gone(first) && gone(second); }));
    dispose(image);
}

} // namespace
