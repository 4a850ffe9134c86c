// Shared fixture of the image engine tests: the object system and the engine up, small mode classes that
// stand in for the paint modes, and helpers to make and inspect images.
#pragma once

#include "ui/ListTree.h"
#include "Vlr/Vlr.h"
#include "host/display.h"
#include "support/TalTest.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace engine_test {

// A mode whose line method fills the result with a function of the picture below (or of the layer).
struct ModeInstance {
    Tal_Object header;
    Tal_Image* layer;
    ULONG flags;
};

using ModeFunction = void (*)(const Tal_ModeLineRecord* record, LONG i, LONG x, UBYTE out[3]);

template <int N>
struct ModeClass {
    static inline Tal_Class cls;
    static inline ModeFunction function = nullptr;
    static inline std::atomic<int> calls{0};

    static void* make(const TagItem*) {
        auto* self = static_cast<ModeInstance*>(Tal_AllocObjectMem(&cls));
        if (!self) return nullptr;
        self->header.superObject = Tal_CreateObject("Root");
        return self;
    }
    static void dispose(void* instance) {
        auto* self = static_cast<ModeInstance*>(instance);
        Tal_DisposeObject(self->header.superObject);
        Tal_FreeObjectMem(self);
    }
    static Tal_Word dispatch(void* instance, ULONG id, const Tal_Word* args) {
        auto* self = static_cast<ModeInstance*>(instance);
        switch (id) {
        case TAL_ModeRenderLine: {
            calls++;
            auto* record = reinterpret_cast<const Tal_ModeLineRecord*>(args[0]);
            const Tal_ImageLock* region = record->region;
            for (LONG x = region->x0; x <= region->x1; x++) {
                LONG i = x - region->x0;
                UBYTE out[3];
                function(record, i, x, out);
                record->red_result[0][i] = out[0];
                record->green_result[0][i] = out[1];
                record->blue_result[0][i] = out[2];
            }
            return 1;
        }
        case TAL_SetModeLayer:
            self->layer = reinterpret_cast<Tal_Image*>(args[0]);
            return 1;
        case TAL_GetModeFlags:
            return self->flags;
        default:
            return Tal_DoMethodA(self->header.superObject, id, args);
        }
    }
    static void install(const char* name, ModeFunction f) {
        function = f;
        calls = 0;
        Tal__SetupClass(&cls, name, 0x7E800000 + N, "Root", make, dispose, dispatch, nullptr,
                        sizeof(ModeInstance));
    }
    static void remove() { Tal__CleanupClass(&cls); }
};

// "Paint": the layer's colour. "Negative": 255 − the picture below. "Flat": a value set by the test.
inline void paintResult(const Tal_ModeLineRecord* record, LONG, LONG, UBYTE out[3]) {
    const UBYTE* c = record->region->layer->layer_colour;
    out[0] = c[0];
    out[1] = c[1];
    out[2] = c[2];
}
inline void negativeResult(const Tal_ModeLineRecord* record, LONG, LONG x, UBYTE out[3]) {
    LONG y = record->region->y0;
    out[0] = UBYTE(255 - record->region->red_rows[y][x]);
    out[1] = UBYTE(255 - record->region->green_rows[y][x]);
    out[2] = UBYTE(255 - record->region->blue_rows[y][x]);
}
inline UBYTE flatValue[3] = {0, 0, 0};
inline void flatResult(const Tal_ModeLineRecord*, LONG, LONG, UBYTE out[3]) {
    out[0] = flatValue[0];
    out[1] = flatValue[1];
    out[2] = flatValue[2];
}

using PaintMode = ModeClass<1>;
using NegativeMode = ModeClass<2>;
using FlatMode = ModeClass<3>;

// Waits (up to 20 s) until every task sleeps and stays asleep for a moment.
inline void waitIdle() {
    int quiet = 0;
    for (int i = 0; i < 4000 && quiet < 4; i++) {
        quiet = host_Idle() ? quiet + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Waits (up to 20 s) for a condition.
inline bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; i++) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class Engine : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        Tal_InitListTreeClass();
        Tal_InitImageClass();
        PaintMode::install("PaintMode", paintResult);
        NegativeMode::install("NegativeMode", negativeResult);
        FlatMode::install("FlatMode", flatResult);
        base = Tal__OpenImageEngine();
        ASSERT_NE(base, nullptr);
    }
    void TearDown() override {
        Tal__CloseImageEngine();
        FlatMode::remove();
        NegativeMode::remove();
        PaintMode::remove();
        Tal_CleanupImageClass();
        Tal_CleanupListTreeClass();
        TalFixture::TearDown();
    }

    // An image of kind 0 with `flags` (no thread unless asked for).
    static Tal_Image* newImage(LONG w, LONG h, LONG depth = 24, ULONG flags = TAL_ALLOC_NO_THREAD) {
        auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
        if (image && !Tal_AllocImage(image, w, h, depth, flags)) {
            Tal_DisposeObject(image->header.handle);
            return nullptr;
        }
        return image;
    }
    static Tal_Image* newLayer(Tal_Image* image, LONG kind = TAL_PAINT_LAYER, LONG depth = 8, LONG w = 0,
                               LONG h = 0) {
        return reinterpret_cast<Tal_Image*>(
            Tal_DoImageMethod(image, TAL_NewLayer, kind, depth, w ? w : image->width, h ? h : image->height));
    }
    static void dispose(Tal_Image* image) {
        if (image) Tal_DisposeObject(image->header.handle);
    }
    // Fills the base planes with one colour per channel and copies them into the working planes.
    static void fillBase(Tal_Image* image, UBYTE r, UBYTE g, UBYTE b) {
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++) {
                image->base_red[y][x] = r;
                image->base_green[y][x] = g;
                image->base_blue[y][x] = b;
            }
        Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
    }
    // Sets coverage and widens the row extents, without announcing.
    static void paint(Tal_Image* layer, LONG x, LONG y, UBYTE coverage) {
        layer->grey[y][x] = coverage;
        Tal_ModifiedLayer(layer, x, y, x, y);
    }
    static void setColour(Tal_Image* layer, UBYTE r, UBYTE g, UBYTE b) {
        layer->layer_colour[0] = layer->pending_colour[0] = r;
        layer->layer_colour[1] = layer->pending_colour[1] = g;
        layer->layer_colour[2] = layer->pending_colour[2] = b;
    }
    static void setMode(Tal_Image* layer, const char* name) {
        ASSERT_TRUE(Tal_SelectLayerMode(layer, name));
        Tal_DoLayerDoesntNeedsFixing(layer);
    }
    static std::array<UBYTE, 3> pixel(const Tal_Image* image, LONG x, LONG y) {
        return {image->red[y][x], image->green[y][x], image->blue[y][x]};
    }

    Tal_ImageBase* base = nullptr;
};

} // namespace engine_test
