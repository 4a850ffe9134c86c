// A 2,000-pixel freehand stroke with a soft round brush of radius 35 on a 4000 × 3000 layer, as dabs per
// second: the brush engine laying coverage (the dabs alone, and with the changed area recomposed as the
// program does it), beside libmypaint painting the same stroke with its default brush at the same radius
// and dab spacing (2 pixels) on its fixed-size tiled surface. BM_MediaSideBySide times them interleaved
// and reports the ratios as counters.
#include "Vlr/Vlr.h"
#include "ui/ui.h"
#include "media/Media.h"

#include <benchmark/benchmark.h>

#include <omp.h>
extern "C" {
#include <mypaint-brush.h>
#include <mypaint-fixed-tiled-surface.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr LONG kW = 4000, kH = 3000;
constexpr LONG kSize = 70; // radius 35
constexpr double kStroke = 2000;

struct Point {
    float x, y;
};

// The stroke: a wave across the picture, one pointer event every 4 pixels of its length.
std::vector<Point> strokePoints() {
    std::vector<Point> points;
    double length = 0, t = 0;
    auto at = [](double u) { return Point{float(900 + u), float(1500 + 260 * std::sin(u / 170))}; };
    Point previous = at(0);
    points.push_back(previous);
    while (length < kStroke) {
        t += 0.25;
        const Point p = at(t);
        const double d = std::hypot(p.x - previous.x, p.y - previous.y);
        if (length + d >= double(points.size()) * 4 || length + d >= kStroke) points.push_back(p);
        length += d;
        previous = p;
    }
    return points;
}

const std::vector<Point>& stroke() {
    static const std::vector<Point> points = strokePoints();
    return points;
}

// The dabs a line lays: one every 2 pixels along its longer axis.
long dabsOf(const std::vector<Point>& points) {
    const LONG step = std::max<LONG>(1, kSize / 24);
    long dabs = 0;
    for (size_t i = 1; i < points.size(); i++) {
        const LONG dx = std::abs(LONG(points[i].x) - LONG(points[i - 1].x));
        const LONG dy = std::abs(LONG(points[i].y) - LONG(points[i - 1].y));
        const LONG major = std::max(dx, dy);
        dabs += major ? (major + step - 1) / step : 1;
    }
    return dabs;
}

struct Engine {
    Tal_Image* image = nullptr;
    Tal_Image* layer = nullptr;
    ULONG medium = 0;
    long dabs = dabsOf(stroke());

    Engine() {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitImageClass();
        Tal_InitRootMediaClass();
        Tal_InitAirBrushMediaClass();
        Tal__OpenImageEngine();
        image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
        Tal_AllocImage(image, kW, kH, 24, TAL_ALLOC_NO_THREAD);
        for (LONG y = 0; y < kH; y++) {
            std::memset(image->base_red[y], 240, size_t(kW));
            std::memset(image->base_green[y], 236, size_t(kW));
            std::memset(image->base_blue[y], UBYTE(y), size_t(kW));
        }
        Tal_CopyUndoToImageData(image, 0, 0, kW - 1, kH - 1, 0, 0);
        layer =
            reinterpret_cast<Tal_Image*>(Tal_DoImageMethod(image, TAL_NewLayer, TAL_PAINT_LAYER, 8, kW, kH));
        std::snprintf(layer->mode_name, sizeof layer->mode_name, "%s", TAL_PAINT_MODE_NAME);
        const UBYTE colour[3] = {30, 90, 220};
        std::memcpy(layer->layer_colour, colour, 3);
        // The soft round brush, at a low pressure so that the coverage takes many dabs to fill.
        medium = Tal_CreateObject("AirBrushMedia", TAL_SetMediaPressure, 255, TAL_SetMediaFreehandMode, 1,
                                  TAL_SetMediaSize, kSize);
        Tal_DoMethod(medium, TAL_SetMediaPressure, 24);
    }
    // The stroke as the program's freehand stroke sends it: one line request per pointer event.
    void paint(bool shown) {
        const std::vector<Point>& points = stroke();
        const ULONG flags = shown ? 0 : TAL_STROKE_QUIET;
        for (size_t i = 1; i < points.size(); i++)
            Tal_DoMethod(medium, TAL_MediaStroke, TAL_MEDIA_LINE, image, layer, 1, flags,
                         LONG(points[i - 1].x), LONG(points[i - 1].y), LONG(points[i].x), LONG(points[i].y),
                         0);
        Tal_EndMediaStroke(medium);
    }
};

Engine& engine() {
    static Engine e;
    return e;
}

// libmypaint's draw_dab is counted on its way to the surface.
MyPaintSurfaceDrawDabFunction mypaintDrawDab = nullptr;
long mypaintDabs = 0;
int countingDrawDab(MyPaintSurface* self, float x, float y, float radius, float r, float g, float b,
                    float opaque, float hardness, float eraser, float aspect, float angle, float lockAlpha,
                    float colorize) {
    mypaintDabs++;
    return mypaintDrawDab(self, x, y, radius, r, g, b, opaque, hardness, eraser, aspect, angle, lockAlpha,
                          colorize);
}

struct Mypaint {
    MyPaintFixedTiledSurface* fixed = mypaint_fixed_tiled_surface_new(kW, kH);
    MyPaintSurface* surface = mypaint_fixed_tiled_surface_interface(fixed);
    MyPaintBrush* brush = mypaint_brush_new();

    Mypaint() {
        // libmypaint renders its tiles with OpenMP: one thread, as the brush engine uses.
        omp_set_num_threads(1);
        mypaint_brush_from_defaults(brush);
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC,
                                     std::log(float(kSize / 2)));
        // One dab every 2 pixels: 35 / 2 dabs per radius, none by time or by the basic radius.
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_ACTUAL_RADIUS,
                                     float(kSize / 2) / 2);
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_BASIC_RADIUS, 0);
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_SECOND, 0);
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_COLOR_H, 0.6f);
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_COLOR_S, 0.85f);
        mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_COLOR_V, 0.85f);
        mypaintDrawDab = surface->draw_dab;
        surface->draw_dab = countingDrawDab;
    }
    // Returns the dabs laid.
    long paint() {
        const long before = mypaintDabs;
        const std::vector<Point>& points = stroke();
        mypaint_brush_reset(brush);
        mypaint_brush_new_stroke(brush);
        mypaint_surface_begin_atomic(surface);
        for (const Point& p : points) mypaint_brush_stroke_to(brush, surface, p.x, p.y, 1.0f, 0, 0, 0.01);
        MyPaintRectangle roi;
        mypaint_surface_end_atomic(surface, &roi);
        return mypaintDabs - before;
    }
};

Mypaint& mypaint() {
    static Mypaint m;
    return m;
}

template <typename F>
double seconds(F f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_MediaStrokeDabs(benchmark::State& state) {
    Engine& e = engine();
    for (auto _ : state) e.paint(false);
    state.SetItemsProcessed(state.iterations() * e.dabs);
}
BENCHMARK(BM_MediaStrokeDabs)->Unit(benchmark::kMillisecond);

void BM_MediaStrokeShown(benchmark::State& state) {
    Engine& e = engine();
    for (auto _ : state) e.paint(true);
    state.SetItemsProcessed(state.iterations() * e.dabs);
}
BENCHMARK(BM_MediaStrokeShown)->Unit(benchmark::kMillisecond);

void BM_MypaintStroke(benchmark::State& state) {
    Mypaint& m = mypaint();
    long dabs = 0;
    for (auto _ : state) dabs += m.paint();
    state.SetItemsProcessed(dabs);
}
BENCHMARK(BM_MypaintStroke)->Unit(benchmark::kMillisecond);

// All three interleaved, best of the iterations each; the counters are dabs per second and the ratios.
void BM_MediaSideBySide(benchmark::State& state) {
    Engine& e = engine();
    Mypaint& m = mypaint();
    double ours = 1e30, shown = 1e30, theirs = 1e30;
    long theirDabs = 0;
    for (auto _ : state) {
        ours = std::min(ours, seconds([&] { e.paint(false); }));
        shown = std::min(shown, seconds([&] { e.paint(true); }));
        theirs = std::min(theirs, seconds([&] { theirDabs = m.paint(); }));
    }
    const double oursRate = double(e.dabs) / ours, shownRate = double(e.dabs) / shown;
    const double theirRate = double(theirDabs) / theirs;
    state.counters["dabs"] = double(e.dabs);
    state.counters["mypaint_dabs"] = double(theirDabs);
    state.counters["dabs/s"] = oursRate;
    state.counters["shown_dabs/s"] = shownRate;
    state.counters["mypaint_dabs/s"] = theirRate;
    state.counters["dabs/mypaint"] = oursRate / theirRate;
    state.counters["shown/mypaint"] = shownRate / theirRate;
}
BENCHMARK(BM_MediaSideBySide)->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace
