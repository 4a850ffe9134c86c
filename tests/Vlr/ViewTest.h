// Shared fixture of the image view and tool tests: the engine, the headless window system with its screen,
// the view and tool classes, display settings of the test's own, and helpers to open a view on an image
// and read back what its window shows.
#pragma once

#include "EngineTest.h"
#include "Vlr/ImageView.h"
#include "Vlr/Tools/Tools.h"
#include "host/intuition.h"

#include <mutex>
#include <random>

namespace view_test {

using namespace engine_test;

constexpr LONG kTitleBar = 26; // the work area starts below the title bar

// What a window's surface holds: 0x00RRGGBB pixels in window coordinates.
struct Shot {
    LONG width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(LONG x, LONG y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    bool operator==(const Shot&) const = default;
};

inline uint32_t rgb(UBYTE r, UBYTE g, UBYTE b) {
    return uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

class ViewFixture : public Engine {
  protected:
    void SetUp() override {
        Engine::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
        Tal_InitImageViewClass();
        Tal_InitRootToolClass();
        Tal__UseDisplaySettings(&redrawMode, &interpolated);
    }
    void TearDown() override {
        for (Tal_Image* image : images) dispose(image);
        settle();
        Tal__UseDisplaySettings(nullptr, nullptr);
        Tal__SetRedrawBufferWidth(0);
        Tal_CleanupRootToolClass();
        Tal_CleanupImageViewClass();
        Engine::TearDown();
    }

    // A picture of random pixels (or one colour), kept until the test ends.
    Tal_Image* picture(LONG w, LONG h, int seed = 1, int flat = -1) {
        Tal_Image* image = newImage(w, h);
        std::mt19937 random(seed);
        for (LONG y = 0; y < h; y++)
            for (LONG x = 0; x < w; x++) {
                image->red[y][x] = UBYTE(flat >= 0 ? flat : random());
                image->green[y][x] = UBYTE(flat >= 0 ? flat : random());
                image->blue[y][x] = UBYTE(flat >= 0 ? flat : random());
            }
        images.push_back(image);
        return image;
    }
    // The image's view, shown in its window (fitted), once the window has drawn it.
    static Tal_ImageView* open(Tal_Image* image) {
        const ULONG handle = ULONG(Tal_DoImageMethod(image, TAL_OpenView));
        settle();
        return static_cast<Tal_ImageView*>(Tal_GetObjectInstance(handle));
    }
    static ULONG handle(const Tal_ImageView* view) { return view->header.handle; }
    static Window* hostOf(const Tal_ImageView* view) {
        return reinterpret_cast<Window*>(Tal_DoMethod(view->window, TAL_GetHostWindow));
    }
    static Shot shot(const Tal_ImageView* view) {
        Shot s;
        Window* host = hostOf(view);
        if (!host) return s;
        Layer* layer = host_GetLayer(host->HostWindow);
        std::lock_guard guard(layer->lock);
        const host_Surface* surface = layer->surface;
        s.width = surface->width;
        s.height = surface->height;
        for (LONG y = 0; y < s.height; y++)
            s.pixels.insert(s.pixels.end(), surface->pixels + size_t(y) * surface->stride,
                            surface->pixels + size_t(y) * surface->stride + surface->width);
        return s;
    }
    // A point of the view's window on the logical screen, where the back end reports input.
    static void screenPoint(const Tal_ImageView* view, LONG x, LONG y, LONG* sx, LONG* sy) {
        const host_Rect r = host_GetScreenRect(hostOf(view)->HostWindow);
        *sx = r.x + x;
        *sy = r.y + y;
    }
    static void press(const Tal_ImageView* view, LONG x, LONG y, int button = 0) {
        LONG sx, sy;
        screenPoint(view, x, y, &sx, &sy);
        host_InjectMouseMove(sx, sy);
        host_InjectButton(button, true, sx, sy);
        host_InjectButton(button, false, sx, sy);
        settle();
    }
    static void type(char c) {
        host_InjectChar(UBYTE(c));
        settle();
    }
    static LONG magnification(const Tal_ImageView* view) {
        return LONG(Tal_DoMethod(handle(view), TAL_ViewGetMagnification));
    }

    std::atomic<LONG> redrawMode{0}, interpolated{0};
    std::vector<Tal_Image*> images;
};

} // namespace view_test
