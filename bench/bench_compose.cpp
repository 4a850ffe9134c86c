// Recomposing a 4000 × 3000 picture with one 8-bit paint layer of random coverage: through the Paint
// fast path, through a mode's line method (a stand-in that gives the colour, and the program's Colourise
// and Emboss modes), beside pixman compositing a solid colour through an 8-bit mask onto a 32-bit
// picture and beside memcpy of 7 bytes per pixel (what a recompose reads and writes).
// BM_ComposeSideBySide times all of them in one run and reports the ratios as counters.
#include "ui/ui.h"
#include "Vlr/Vlr.h"
#include "modes/modes.h"

#include <benchmark/benchmark.h>

#ifdef VELURA_HAVE_PIXMAN
#include <pixman.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr LONG kW = 4000, kH = 3000;
constexpr UBYTE kColour[3] = {200, 120, 40};

// A mode that gives the layer's colour, as "Paint" does, through the general path.
Tal_Class benchModeClass;
struct BenchMode {
    Tal_Object header;
};
void* newBenchMode(const TagItem*) {
    auto* self = static_cast<BenchMode*>(Tal_AllocObjectMem(&benchModeClass));
    if (self) self->header.superObject = Tal_CreateObject("Root");
    return self;
}
void disposeBenchMode(void* instance) {
    auto* self = static_cast<BenchMode*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}
Tal_Word benchModeMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<BenchMode*>(instance);
    if (id != TAL_ModeRenderLine) return Tal_DoMethodA(self->header.superObject, id, args);
    auto* record = reinterpret_cast<const Tal_ModeLineRecord*>(args[0]);
    const UBYTE* c = record->region->layer->layer_colour;
    size_t n = size_t(record->region->x1 - record->region->x0 + 1);
    std::memset(record->red_result[0], c[0], n);
    std::memset(record->green_result[0], c[1], n);
    std::memset(record->blue_result[0], c[2], n);
    return 1;
}

std::vector<UBYTE> randomCoverage() {
    std::vector<UBYTE> cov(size_t(kW) * kH);
    std::mt19937 random(7);
    for (UBYTE& v : cov) v = UBYTE(random());
    return cov;
}

struct Scene {
    Tal_Image* image = nullptr;
    Tal_Image* layer = nullptr;

    Scene() {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitListTreeClass();
        Tal_InitImageClass();
        Tal__SetupClass(&benchModeClass, "BenchMode", 0x7E900000, "Root", newBenchMode, disposeBenchMode,
                        benchModeMethod, nullptr, sizeof(BenchMode));
        for (ULONG (*init)() : {Tal_InitColouriseModeClass, Tal_InitEmbossModeClass, Tal_InitPaintModeClass,
                                Tal_InitRootModeClass})
            init();
        Tal__OpenImageEngine();
        image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
        Tal_AllocImage(image, kW, kH, 24, TAL_ALLOC_NO_THREAD);
        std::mt19937 random(3);
        for (LONG y = 0; y < kH; y++)
            for (LONG x = 0; x < kW; x++) {
                image->base_red[y][x] = UBYTE(random());
                image->base_green[y][x] = UBYTE(x);
                image->base_blue[y][x] = UBYTE(y);
            }
        layer =
            reinterpret_cast<Tal_Image*>(Tal_DoImageMethod(image, TAL_NewLayer, TAL_PAINT_LAYER, 8, kW, kH));
        std::vector<UBYTE> cov = randomCoverage();
        for (LONG y = 0; y < kH; y++) std::memcpy(layer->grey[y], cov.data() + size_t(y) * kW, size_t(kW));
        Tal_ModifiedLayer(layer, 0, 0, kW - 1, kH - 1);
        std::memcpy(layer->layer_colour, kColour, 3);
        std::memcpy(layer->pending_colour, kColour, 3);
    }
    // "Paint" takes the fast path, "Bench" the stand-in; Colourise gives the layer's colour in the
    // picture's light, Emboss a relief at radius 1.
    void use(const char* mode) {
        Tal_SelectLayerMode(layer, mode);
        Tal_DoLayerDoesntNeedsFixing(layer);
    }
    void compose() { Tal_FullProcessImage(image); }
};

Scene& scene() {
    static Scene s;
    return s;
}

#ifdef VELURA_HAVE_PIXMAN
struct PixmanScene {
    std::vector<uint32_t> dest;
    std::vector<UBYTE> mask;
    pixman_image_t* destImage;
    pixman_image_t* maskImage;
    pixman_image_t* solid;
    PixmanScene() : dest(size_t(kW) * kH, 0x00336699), mask(randomCoverage()) {
        destImage = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dest.data(), kW * 4);
        maskImage = pixman_image_create_bits(PIXMAN_a8, kW, kH, reinterpret_cast<uint32_t*>(mask.data()), kW);
        pixman_color_t colour = {uint16_t(kColour[0] * 257), uint16_t(kColour[1] * 257),
                                 uint16_t(kColour[2] * 257), 0xFFFF};
        solid = pixman_image_create_solid_fill(&colour);
    }
    void compose() {
        pixman_image_composite32(PIXMAN_OP_OVER, solid, maskImage, destImage, 0, 0, 0, 0, 0, 0, kW, kH);
    }
};
PixmanScene& pixmanScene() {
    static PixmanScene s;
    return s;
}
#endif

struct CopyScene {
    std::vector<UBYTE> from, to;
    CopyScene() : from(size_t(kW) * kH * 7, 1), to(size_t(kW) * kH * 7, 2) {}
    void copy() {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
    }
};
CopyScene& copyScene() {
    static CopyScene s;
    return s;
}

void composeIn(benchmark::State& state, const char* mode) {
    Scene& s = scene();
    s.use(mode);
    for (auto _ : state) s.compose();
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_ComposePaintFastPath(benchmark::State& state) {
    composeIn(state, "Paint");
}
BENCHMARK(BM_ComposePaintFastPath)->Unit(benchmark::kMillisecond);

void BM_ComposeThroughMode(benchmark::State& state) {
    composeIn(state, "Bench");
}
BENCHMARK(BM_ComposeThroughMode)->Unit(benchmark::kMillisecond);

void BM_ComposeThroughColourise(benchmark::State& state) {
    composeIn(state, "Colourise");
}
BENCHMARK(BM_ComposeThroughColourise)->Unit(benchmark::kMillisecond);

void BM_ComposeThroughEmboss(benchmark::State& state) {
    composeIn(state, "Emboss");
}
BENCHMARK(BM_ComposeThroughEmboss)->Unit(benchmark::kMillisecond);

#ifdef VELURA_HAVE_PIXMAN
void BM_PixmanSolidThroughMask(benchmark::State& state) {
    PixmanScene& p = pixmanScene();
    for (auto _ : state) p.compose();
    state.SetItemsProcessed(state.iterations() * kW * kH);
}
BENCHMARK(BM_PixmanSolidThroughMask)->Unit(benchmark::kMillisecond);
#endif

void BM_Memcpy7BytesPerPixel(benchmark::State& state) {
    CopyScene& c = copyScene();
    for (auto _ : state) c.copy();
    state.SetBytesProcessed(state.iterations() * int64_t(c.to.size()));
}
BENCHMARK(BM_Memcpy7BytesPerPixel)->Unit(benchmark::kMillisecond);

// All of them in one run, interleaved, best of the iterations each; the counters are the ratios.
template <typename F>
double timeOnce(F f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_ComposeSideBySide(benchmark::State& state) {
    Scene& s = scene();
    CopyScene& c = copyScene();
    double fast = 1e30, general = 1e30, colourise = 1e30, emboss = 1e30, copy = 1e30;
#ifdef VELURA_HAVE_PIXMAN
    PixmanScene& p = pixmanScene();
    double pixman = 1e30;
#endif
    for (auto _ : state) {
        auto in = [&](const char* mode, double& best) {
            s.use(mode);
            best = std::min(best, timeOnce([&] { s.compose(); }));
        };
        in("Paint", fast);
        in("Bench", general);
        in("Colourise", colourise);
        in("Emboss", emboss);
        copy = std::min(copy, timeOnce([&] { c.copy(); }));
#ifdef VELURA_HAVE_PIXMAN
        pixman = std::min(pixman, timeOnce([&] { p.compose(); }));
#endif
    }
    state.counters["fast_ms"] = fast;
    state.counters["mode_ms"] = general;
    state.counters["memcpy_ms"] = copy;
    state.counters["colourise_ms"] = colourise;
    state.counters["emboss_ms"] = emboss;
    state.counters["mode/fast"] = general / fast;
    state.counters["colourise/fast"] = colourise / fast;
    state.counters["emboss/fast"] = emboss / fast;
    state.counters["fast/memcpy"] = fast / copy;
#ifdef VELURA_HAVE_PIXMAN
    state.counters["pixman_ms"] = pixman;
    state.counters["fast/pixman"] = fast / pixman;
#endif
}
BENCHMARK(BM_ComposeSideBySide)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
