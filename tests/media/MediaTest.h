// Shared fixture of the brush tests: the engine with the media classes, a medium built on RootMedia that
// records the dabs it is asked for, and helpers to send stroke requests.
#pragma once

#include "Vlr/EngineTest.h"
#include "media/Media.h"
#include "talio/talio.h"

#include <climits>
#include <mutex>
#include <vector>

namespace media_test {

struct DabRecord {
    LONG x, y;
    ULONG flags;
};

// "RecordingMedia": every dab request it receives is noted, then handled by its RootMedia part.
struct RecordingMedia {
    static inline Tal_Class cls;
    static inline std::mutex lock;
    static inline std::vector<DabRecord> dabs;

    struct Instance {
        Tal_Object header;
    };
    static void* make(const TagItem*) {
        auto* self = static_cast<Instance*>(Tal_AllocObjectMem(&cls));
        if (self) self->header.superObject = Tal_CreateObject("RootMedia");
        return self;
    }
    static void dispose(void* instance) {
        auto* self = static_cast<Instance*>(instance);
        Tal_DisposeObject(self->header.superObject);
        Tal_FreeObjectMem(self);
    }
    static Tal_Word dispatch(void* instance, ULONG id, const Tal_Word* args) {
        auto* self = static_cast<Instance*>(instance);
        if (id == TAL_MediaStroke && ULONG(args[0]) == TAL_MEDIA_DAB) {
            std::lock_guard guard(lock);
            dabs.push_back({LONG(args[5]), LONG(args[6]), ULONG(args[4])});
        }
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
    static std::vector<DabRecord> take() {
        std::lock_guard guard(lock);
        std::vector<DabRecord> out;
        out.swap(dabs);
        return out;
    }
};

class Media : public engine_test::Engine {
  protected:
    void SetUp() override {
        Engine::SetUp();
        // Brush pictures are JPEG files.
        ASSERT_TRUE(Tal_InitRootTALIOClass());
        ASSERT_TRUE(Tal_InitJPEGTALIOClass());
        ASSERT_TRUE(Tal_InitRootMediaClass());
        ASSERT_TRUE(Tal_InitAirBrushMediaClass());
        ASSERT_TRUE(Tal_InitImageMediaClass());
        Tal__SetupClass(&RecordingMedia::cls, "RecordingMedia", 0x7E800800, "RootMedia", RecordingMedia::make,
                        RecordingMedia::dispose, RecordingMedia::dispatch, nullptr,
                        sizeof(RecordingMedia::Instance));
        RecordingMedia::take();
    }
    void TearDown() override {
        for (ULONG m : made_) Tal_DisposeObject(m);
        Tal__DisposeMediaPresets();
        Tal__CleanupClass(&RecordingMedia::cls);
        Tal_CleanupImageMediaClass();
        Tal_CleanupAirBrushMediaClass();
        Tal_CleanupRootMediaClass();
        Tal_CleanupJPEGTALIOClass();
        Tal_CleanupRootTALIOClass();
        Engine::TearDown();
    }

    // A medium of the class at this pressure (and size, when given), disposed with the test.
    static constexpr LONG kNoSize = INT32_MIN;
    ULONG medium(const char* className, LONG pressure, LONG size = kNoSize) {
        ULONG m = Tal_CreateObject(className, TAL_SetMediaPressure, pressure);
        made_.push_back(m);
        if (size != kNoSize) Tal_DoMethod(m, TAL_SetMediaSize, size);
        return m;
    }

    static void dab(ULONG m, Tal_Image* top, Tal_Image* layer, LONG kind, LONG x, LONG y, ULONG flags = 0,
                    const TalTabletData* pen = nullptr) {
        Tal_DoMethod(m, TAL_MediaStroke, TAL_MEDIA_DAB, top, layer, kind, flags, x, y, pen);
    }
    static void line(ULONG m, Tal_Image* top, Tal_Image* layer, LONG kind, LONG x0, LONG y0, LONG x1, LONG y1,
                     ULONG flags = TAL_STROKE_ALONG_LINE) {
        Tal_DoMethod(m, TAL_MediaStroke, TAL_MEDIA_LINE, top, layer, kind, flags, x0, y0, x1, y1, 0);
    }
    static Tal_Image* brushOf(ULONG m) {
        return reinterpret_cast<Tal_Image*>(Tal_DoMethod(m, TAL_GetMediaBrushImage));
    }
    // The picture's working planes, all three, row by row.
    static std::vector<UBYTE> picture(const Tal_Image* image) {
        std::vector<UBYTE> out;
        for (UBYTE** plane : {image->red, image->green, image->blue})
            for (LONG y = 0; y < image->height; y++) out.insert(out.end(), plane[y], plane[y] + image->width);
        return out;
    }
    static std::vector<UBYTE> coverage(const Tal_Image* layer) {
        std::vector<UBYTE> out;
        for (LONG y = 0; y < layer->height; y++)
            out.insert(out.end(), layer->grey[y], layer->grey[y] + layer->width);
        return out;
    }
    // A picture with something to smear: every pixel differs from its neighbours.
    static void fillPattern(Tal_Image* image) {
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++) {
                image->base_red[y][x] = UBYTE(x * 7 + y * 3);
                image->base_green[y][x] = UBYTE(x * x + y);
                image->base_blue[y][x] = UBYTE((x ^ y) * 11);
            }
        Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
    }

    std::vector<ULONG> made_;
};

} // namespace media_test
