// Shared fixture of the mode tests: the image engine up with the program's mode classes in place of the
// engine tests' stand-ins, and pictures in and out of images.
#pragma once

#include "Vlr/EngineTest.h"
#include "modes/modes.h"
#include "talio/talio_test.h"

#include <iterator>

namespace modes_test {

using namespace engine_test;
using talio_test::Picture;

struct ModeClass {
    ULONG (*init)();
    void (*cleanup)();
};
// In the order the program registers them.
constexpr ModeClass kModeClasses[] = {
    {Tal_InitColouriseModeClass, Tal_CleanupColouriseModeClass},
    {Tal_InitColourToGreyModeClass, Tal_CleanupColourToGreyModeClass},
    {Tal_InitEmbossModeClass, Tal_CleanupEmbossModeClass},
    {Tal_InitFlipXModeClass, Tal_CleanupFlipXModeClass},
    {Tal_InitFlipYModeClass, Tal_CleanupFlipYModeClass},
    {Tal_InitNegativeModeClass, Tal_CleanupNegativeModeClass},
    {Tal_InitPaintModeClass, Tal_CleanupPaintModeClass},
    {Tal_InitRootModeClass, Tal_CleanupRootModeClass},
    {Tal_InitSepiaModeClass, Tal_CleanupSepiaModeClass},
    {Tal_InitCloneModeClass, Tal_CleanupCloneModeClass},
};

class Modes : public Engine {
  protected:
    void SetUp() override {
        Engine::SetUp();
        engine_test::PaintMode::remove();
        engine_test::NegativeMode::remove();
        for (const ModeClass& c : kModeClasses) ASSERT_TRUE(c.init());
    }
    void TearDown() override {
        for (auto it = std::rbegin(kModeClasses); it != std::rend(kModeClasses); ++it) it->cleanup();
        Engine::TearDown();
    }

    // An image (without a thread unless asked for) whose base and working planes hold the picture.
    static Tal_Image* imageOf(const Picture& pic, ULONG flags = TAL_ALLOC_NO_THREAD) {
        Tal_Image* image = newImage(LONG(pic.width), LONG(pic.height), 24, flags);
        if (!image) return nullptr;
        UBYTE** base[3] = {image->base_red, image->base_green, image->base_blue};
        for (ULONG y = 0; y < pic.height; y++)
            for (ULONG x = 0; x < pic.width; x++)
                for (int ch = 0; ch < 3; ch++)
                    base[ch][y][x] = pic.samples[(size_t(y) * pic.width + x) * 3 + ch];
        Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
        return image;
    }
    // A picture of one colour.
    static Picture flat(ULONG w, ULONG h, UBYTE r, UBYTE g, UBYTE b) {
        Picture pic{w, h, 3, talio_test::Bytes(size_t(w) * h * 3)};
        for (size_t i = 0; i < pic.samples.size(); i += 3) {
            pic.samples[i] = r;
            pic.samples[i + 1] = g;
            pic.samples[i + 2] = b;
        }
        return pic;
    }
    // The composed picture, read under the compose lock: the image's thread may be composing.
    static Picture picture(Tal_Image* image) {
        SemaphoreGuard guard(&image->compose_lock);
        Picture pic{ULONG(image->width), ULONG(image->height), 3,
                    talio_test::Bytes(size_t(image->width) * image->height * 3)};
        UBYTE** planes[3] = {image->red, image->green, image->blue};
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++)
                for (int ch = 0; ch < 3; ch++)
                    pic.samples[(size_t(y) * pic.width + x) * 3 + ch] = planes[ch][y][x];
        return pic;
    }
    // A paint layer painted fully over the whole image, its mode `mode` in use.
    static Tal_Image* fullLayer(Tal_Image* image, const char* mode) {
        Tal_Image* layer = newLayer(image);
        if (!layer) return nullptr;
        for (LONG y = 0; y < layer->height; y++)
            for (LONG x = 0; x < layer->width; x++) layer->grey[y][x] = 255;
        Tal_ModifiedLayer(layer, 0, 0, layer->width - 1, layer->height - 1);
        if (!Tal_SelectLayerMode(layer, mode)) return nullptr;
        Tal_DoLayerDoesntNeedsFixing(layer);
        return layer;
    }
};

// Sample `ch` of pixel (x, y), with coordinates beyond the picture taking its nearest edge pixel.
inline int at(const Picture& pic, LONG x, LONG y, int ch) {
    x = std::clamp<LONG>(x, 0, LONG(pic.width) - 1);
    y = std::clamp<LONG>(y, 0, LONG(pic.height) - 1);
    return pic.samples[(size_t(y) * pic.width + size_t(x)) * 3 + size_t(ch)];
}

} // namespace modes_test
