// The image display: a full redraw of the view of a 4000 × 3000 picture at its fitting magnification,
// bilinear (the renderer alone, into a drawing context of its own), beside pixman scaling the same picture
// to the same size with its bilinear filter; and the time from a pointer move to the presented frame
// while a stroke of a radius-35 brush is painted, at 100% and at 800%: the move goes through the window
// system to the view and the current tool (a stand-in that strokes the paint layer with the brush engine,
// as the freehand tool will), the layer is recomposed, the view redraws the change, and the screen is
// composed as the presenter does. BM_ViewSideBySide times the redraw and pixman in one run.
#include "Vlr/ImageView.h"
#include "Vlr/Tools/Tools.h"
#include "host/display.h"
#include "host/intuition.h"
#include "media/Media.h"
#include "ui/ui.h"

#include <benchmark/benchmark.h>

#ifdef VELURA_HAVE_PIXMAN
#include <pixman.h>
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr LONG kW = 4000, kH = 3000;

// The engine with the classes the display needs, once per run.
void startEngine() {
    static const bool started = [] {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitListTreeClass();
        struct Class {
            const char* name;
            ULONG (*init)();
        };
        for (const Class& c :
             {Class{"Image", Tal_InitImageClass}, Class{"ImageView", Tal_InitImageViewClass},
              Class{"RootTool", Tal_InitRootToolClass}, Class{"RootMedia", Tal_InitRootMediaClass},
              Class{"AirBrushMedia", Tal_InitAirBrushMediaClass}})
            if (!Tal_FindClassFromName(c.name)) c.init();
        Tal__OpenImageEngine();
        return true;
    }();
    (void)started;
}

// A picture with detail everywhere (a plasma-like field of waves and noise).
Tal_Image* makePicture() {
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    Tal_AllocImage(image, kW, kH, 24, TAL_ALLOC_NO_THREAD);
    std::mt19937 random(11);
    for (LONG y = 0; y < kH; y++)
        for (LONG x = 0; x < kW; x++) {
            const UBYTE noise = UBYTE(random() & 31);
            image->base_red[y][x] = UBYTE(127 + 100 * std::sin(x / 97.0) + noise);
            image->base_green[y][x] = UBYTE(127 + 100 * std::sin((x + y) / 61.0));
            image->base_blue[y][x] = UBYTE(127 + 100 * std::cos(y / 43.0) - noise);
        }
    Tal_CopyUndoToImageData(image, 0, 0, kW - 1, kH - 1, 0, 0);
    return image;
}

// ---------------------------------------------------------------------------------------------------
// The renderer alone: the view draws into a port on a surface of its own, on this thread.

struct RedrawScene {
    Tal_Image* image = nullptr;
    ULONG view = 0;
    host_Surface* surface = host_AllocSurface(240, 320);
    Layer layer{surface};
    RastPort port{};
    Window window{};
    Tal_DrawInfo drawInfo{};

    RedrawScene() {
        startEngine();
        image = makePicture();
        InitRastPort(&port);
        port.rp_Layer = &layer;
        host_InitDrawInfo(&drawInfo, &port);
        drawInfo.window = &window;
        drawInfo.windowLock = Tal_AllocSemaphore();
        drawInfo.eventTask = FindTask(nullptr) ? FindTask(nullptr) : Tal__AddThisProcess();
        view = Tal_CreateObject("ImageView", TAL_ViewSetImage, image, TAL_ViewSetInterpolation, 2);
        Tal_DoMethod(view, TAL_SetDrawInfo, &drawInfo);
        const LONG percent = LONG(Tal_DoMethod(view, TAL_ViewGetFitMagnification));
        Tal__SetImageViewWidthHeight(viewRecord(), percent * kW / 100, percent * kH / 100);
        Tal_DoMethod(view, TAL_AskMinMax, &drawInfo);
        Tal_DoMethod(view, TAL_SetBox, 0, 0, viewRecord()->shown_w, viewRecord()->shown_h);
    }
    Tal_ImageView* viewRecord() const { return static_cast<Tal_ImageView*>(Tal_GetObjectInstance(view)); }
    void redraw() { Tal_RedrawImageView(viewRecord(), 0, 0, kW - 1, kH - 1); }
};

RedrawScene& redrawScene() {
    static RedrawScene s;
    return s;
}

void BM_ViewFullRedrawAtFit(benchmark::State& state) {
    RedrawScene& s = redrawScene();
    for (auto _ : state) s.redraw();
    const Tal_ImageView* v = s.viewRecord();
    state.counters["shown_w"] = v->shown_w;
    state.counters["shown_h"] = v->shown_h;
    state.SetItemsProcessed(state.iterations() * v->shown_w * v->shown_h);
}
BENCHMARK(BM_ViewFullRedrawAtFit)->Unit(benchmark::kMicrosecond);

#ifdef VELURA_HAVE_PIXMAN
// pixman scaling the same picture (as 32-bit pixels) to the view's size with its bilinear filter.
struct PixmanScaleScene {
    std::vector<uint32_t> source, dest;
    pixman_image_t* from = nullptr;
    pixman_image_t* to = nullptr;
    LONG width, height;

    PixmanScaleScene() {
        RedrawScene& r = redrawScene();
        const Tal_Image* image = r.image;
        width = r.viewRecord()->shown_w;
        height = r.viewRecord()->shown_h;
        source.resize(size_t(kW) * kH);
        for (LONG y = 0; y < kH; y++)
            for (LONG x = 0; x < kW; x++)
                source[size_t(y) * kW + x] =
                    uint32_t(image->red[y][x]) << 16 | uint32_t(image->green[y][x]) << 8 | image->blue[y][x];
        dest.resize(size_t(width) * height);
        from = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, source.data(), kW * 4);
        to = pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, dest.data(), width * 4);
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(kW) / width),
                                    pixman_double_to_fixed(double(kH) / height));
        pixman_image_set_transform(from, &scale);
        pixman_image_set_filter(from, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    }
    void scale() {
        pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, width, height);
    }
};

PixmanScaleScene& pixmanScaleScene() {
    static PixmanScaleScene s;
    return s;
}

void BM_PixmanBilinearScale(benchmark::State& state) {
    PixmanScaleScene& p = pixmanScaleScene();
    for (auto _ : state) p.scale();
    state.SetItemsProcessed(state.iterations() * p.width * p.height);
}
BENCHMARK(BM_PixmanBilinearScale)->Unit(benchmark::kMicrosecond);
#endif

template <typename F>
double timeOnce(F f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

void BM_ViewSideBySide(benchmark::State& state) {
    RedrawScene& s = redrawScene();
    double redraw = 1e30;
#ifdef VELURA_HAVE_PIXMAN
    PixmanScaleScene& p = pixmanScaleScene();
    double pixman = 1e30;
#endif
    for (auto _ : state) {
        redraw = std::min(redraw, timeOnce([&] { s.redraw(); }));
#ifdef VELURA_HAVE_PIXMAN
        pixman = std::min(pixman, timeOnce([&] { p.scale(); }));
#endif
    }
    state.counters["redraw_us"] = redraw;
#ifdef VELURA_HAVE_PIXMAN
    state.counters["pixman_us"] = pixman;
    state.counters["redraw/pixman"] = redraw / pixman;
#endif
}
BENCHMARK(BM_ViewSideBySide)->Unit(benchmark::kMicrosecond)->Iterations(200);

// ---------------------------------------------------------------------------------------------------
// A pointer move to its presented frame.

// The stand-in for the freehand tool: while the select button is down, every move strokes the paint layer
// from the last point to the pointer with the medium (announced, so the picture is recomposed and the view
// redraws), then tells the benchmark.
struct StrokeToolInstance {
    Tal_Object header;
};
Tal_Class strokeToolClass;
ULONG strokeMedium = 0;
std::mutex doneLock;
std::condition_variable doneWake;
ULONG movesDone = 0;
bool strokeDown = false;
LONG lastX = 0, lastY = 0;

void* newStrokeTool(const TagItem*) {
    auto* t = static_cast<StrokeToolInstance*>(Tal_AllocObjectMem(&strokeToolClass));
    if (t) t->header.superObject = Tal_CreateObject("RootTool", TAL_SetToolCursor, TAL_TOOL_CURSOR_CROSS);
    return t;
}
void disposeStrokeTool(void* instance) {
    auto* t = static_cast<StrokeToolInstance*>(instance);
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeObjectMem(t);
}
Tal_Word strokeToolMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = static_cast<StrokeToolInstance*>(instance);
    if (id != TAL_HandleToolInput) return Tal_DoMethodA(t->header.superObject, id, args);
    auto* image = reinterpret_cast<Tal_Image*>(args[0]);
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[1]);
    Tal_Image* layer = image->current_layer;
    const LONG x = WindowToLayerX(layer, e->MouseX), y = WindowToLayerY(layer, e->MouseY);
    if (e->Class == IDCMP_MOUSEBUTTONS) strokeDown = e->Code == SELECTDOWN;
    if (e->Class == IDCMP_MOUSEMOVE && strokeDown) {
        Tal_DoMethod(strokeMedium, TAL_MediaStroke, TAL_MEDIA_LINE, image, layer, 1, 0, lastX, lastY, x, y,
                     0);
        std::lock_guard guard(doneLock);
        movesDone++;
        doneWake.notify_all();
    }
    lastX = x;
    lastY = y;
    return 2;
}

struct StrokeScene {
    Tal_Image* image = nullptr;
    Tal_ImageView* view = nullptr;
    ULONG tool = 0;
    host_Surface* presented = nullptr;
    LONG step = 0;

    StrokeScene() {
        startEngine();
        host_InitWindowSystem(240, 320);
        OpenScreenTagList(nullptr, nullptr);
        Tal__SetupClass(&strokeToolClass, "BenchStrokeTool", 0x7E910000, "RootTool", newStrokeTool,
                        disposeStrokeTool, strokeToolMethod, nullptr, sizeof(StrokeToolInstance));
        image = makePicture();
        Tal_Image* layer =
            reinterpret_cast<Tal_Image*>(Tal_DoImageMethod(image, TAL_NewLayer, TAL_PAINT_LAYER, 8, kW, kH));
        std::snprintf(layer->mode_name, sizeof layer->mode_name, "%s", TAL_PAINT_MODE_NAME);
        const UBYTE colour[3] = {30, 90, 220};
        std::memcpy(layer->layer_colour, colour, 3);
        strokeMedium = Tal_CreateObject("AirBrushMedia", TAL_SetMediaPressure, 255, TAL_SetMediaFreehandMode,
                                        1, TAL_SetMediaSize, 70);
        Tal_DoMethod(strokeMedium, TAL_SetMediaPressure, 24);
        tool = Tal_CreateObject("BenchStrokeTool");
        Tal_DoMethod(tool, TAL_Pressed);
        view =
            static_cast<Tal_ImageView*>(Tal_GetObjectInstance(ULONG(Tal_DoImageMethod(image, TAL_OpenView))));
        presented = host_AllocSurface(240, 320);
        settle();
    }
    static void settle() {
        for (int quiet = 0, i = 0; quiet < 4 && i < 4000; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            quiet = host_Idle() ? quiet + 1 : 0;
        }
    }
    // The picture at the magnification with the middle of the picture in the middle of the view.
    void magnify(LONG percent) {
        if (strokeDown) host_InjectButton(0, false, 100, 100);
        Tal_DoMethod(view->header.handle, TAL_ViewSetMagnification, percent);
        settle();
        Tal_DoMethod(view->scroll_group, TAL_ScrollToPoint, view->shown_w / 2 - 100, view->shown_h / 2 - 100);
        settle();
        const host_Rect r = host_GetScreenRect(
            reinterpret_cast<Window*>(Tal_DoMethod(view->window, TAL_GetHostWindow))->HostWindow);
        originX = r.x + 30;
        originY = r.y + 30;
        host_InjectMouseMove(originX, originY);
        host_InjectButton(0, true, originX, originY);
        settle();
        step = 0;
    }
    // One move along a circle through the visible picture, and the frame that shows it: microseconds.
    double move() {
        step++;
        const double a = step * 0.12;
        const LONG x = originX + 90 + LONG(80 * std::cos(a)), y = originY + 90 + LONG(80 * std::sin(a));
        ULONG before;
        {
            std::lock_guard guard(doneLock);
            before = movesDone;
        }
        const auto start = std::chrono::steady_clock::now();
        host_InjectMouseMove(x, y);
        {
            std::unique_lock guard(doneLock);
            doneWake.wait_for(guard, std::chrono::seconds(5), [&] { return movesDone != before; });
        }
        // What the presenter does once the window has drawn: compose the screen.
        host_ComposeScreen(presented);
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    }
    LONG originX = 0, originY = 0;
};

StrokeScene& strokeScene() {
    static StrokeScene s;
    return s;
}

void moveToFrame(benchmark::State& state, LONG percent) {
    StrokeScene& s = strokeScene();
    s.magnify(percent);
    double worst = 0;
    for (auto _ : state) {
        const double us = s.move();
        worst = std::max(worst, us);
        state.SetIterationTime(us / 1e6);
    }
    state.counters["worst_ms"] = worst / 1000;
}

void BM_MoveToFrameAt100(benchmark::State& state) {
    moveToFrame(state, 100);
}
BENCHMARK(BM_MoveToFrameAt100)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);

void BM_MoveToFrameAt800(benchmark::State& state) {
    moveToFrame(state, 800);
}
BENCHMARK(BM_MoveToFrameAt800)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(300);

} // namespace
