// ImageView: one image in a window of its own (a scrolling group holding the view, a status line for
// long operations and a row of tool-bar buttons), magnified from 1% to 800% and scrolled. Input on the
// picture goes to the current tool; the keys that the tool leaves scroll, zoom and choose tools.
//
// The image is reached only under its lock: the view keeps a plain pointer, which the lock validates.
// Whatever lays the window out runs in the window's event thread; from other threads it is queued there.
#include "Vlr/ImageView.h"
#include "Tal/Catalogue.h"
#include "Vlr/lib/redraw.h"
#include "Tal/Root.h"
#include "Vlr/Tools/Tools.h"
#include "ui/ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

Tal_Class viewClass;

constexpr LONG kLargestBox = 32767;
constexpr LONG kMaxZoom = 8;
constexpr LONG kWindowWidth = 240, kWindowHeight = 270;
constexpr ULONG kWindowType = 16;
constexpr LONG kKeyScroll = 10;
constexpr ULONG kTitleUntitled = 600; // catalogue: the title of a picture without a file
constexpr ULONG kStatusLabel = 502;   // catalogue: the label of the status line
constexpr ULONG kStatusDone = 27;     // catalogue: "Done."
// The pictures of the tool-bar buttons, which open the pages 0 to 3 of the panel holder.
constexpr const char* kToolBarPictures[] = {"Data/Images/ToolBar/DrawMain", "Data/Images/ToolBar/DrawNormal",
                                            "Data/Images/Tabs/Colour", "Data/Images/Tabs/ImageControl256"};

// Methods the view sends itself in its window's thread.
constexpr ULONG kApplyStatusLine = 0x004400F0;
constexpr ULONG kImageFormatChanged = 0x004400FA;

constexpr UWORD kCodeMiddleDown = 106;
constexpr ULONG kGetMediaPressure = 0x00110032; // the medium's pressure, for the information display

Tal_ImageView* of(void* instance) {
    return static_cast<Tal_ImageView*>(instance);
}
ULONG handleOf(const Tal_ImageView* v) {
    return v->header.handle;
}
Tal_ImageBase* engine() {
    return Tal_GetImageBase();
}
ULONG imageObject() {
    Tal_ImageBase* base = engine();
    return base && base->image_object ? base->image_object->header.handle : 0;
}

// The view's image under its lock, or nothing: the pointer is validated by the lock and the handle.
class ImageHold {
  public:
    explicit ImageHold(const Tal_ImageView* v, ULONG type = TAL_LOCK_READ) : type_(type) {
        Tal_Image* image = v ? v->image : nullptr;
        if (!image || !Tal_LockImageA(image, type, 0)) return;
        if (image->header.handle != v->image_handle) {
            Tal_UnlockImageA(image, type, 0);
            return;
        }
        image_ = image;
    }
    ~ImageHold() {
        if (image_) Tal_UnlockImageA(image_, type_, 0);
    }
    ImageHold(const ImageHold&) = delete;
    ImageHold& operator=(const ImageHold&) = delete;
    Tal_Image* get() const { return image_; }
    bool allocated() const { return image_ && image_->alloc_state.load() == 1; }

  private:
    Tal_Image* image_ = nullptr;
    ULONG type_;
};

// ---------------------------------------------------------------------------------------------------
// Mapping between the picture and the view (the image held by the caller).

struct Mapping {
    LONG L = 0, T = 0, W = 0, H = 0, DW = 0, DH = 0;
};

bool mappingOf(const Tal_ImageView* v, const Tal_Image* image, Mapping* m) {
    if (!v->layout_box || !image || image->width < 1 || image->height < 1 || v->shown_w < 1 || v->shown_h < 1)
        return false;
    *m = {v->layout_box->x, v->layout_box->y, image->width, image->height, v->shown_w, v->shown_h};
    return true;
}

LONG toViewX(const Mapping& m, LONG x) {
    return LONG(int64_t(x) * m.DW / m.W + m.L);
}
LONG toViewY(const Mapping& m, LONG y) {
    return LONG(int64_t(y) * m.DH / m.H + m.T);
}
LONG toImageX(const Mapping& m, LONG x) {
    return LONG((int64_t(x) - m.L) * m.W / m.DW);
}
LONG toImageY(const Mapping& m, LONG y) {
    return LONG((int64_t(y) - m.T) * m.H / m.DH);
}

template <typename F>
LONG withMapping(Tal_ImageView* v, F f) {
    ImageHold hold(v);
    Mapping m;
    return hold.get() && mappingOf(v, hold.get(), &m) ? f(m) : 0;
}

// The first view of an image, with the image held for the call.
template <typename F>
LONG throughFirstView(Tal_Image* image, F f) {
    if (!image || !Tal_LockImageA(image, TAL_LOCK_READ, 0)) return 0;
    const LONG result = image->first_view ? f(image->first_view) : 0;
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    return result;
}

LONG snapped(LONG v, bool horizontal) {
    const Tal_ImageBase* base = engine();
    if (!base || !base->snap_enabled) return v;
    return horizontal ? Tal_SnapToGrid(v, base->snap_width, base->snap_x)
                      : Tal_SnapToGrid(v, base->snap_height, base->snap_y);
}

bool overVisible(const Tal_ImageView* v, LONG x, LONG y) {
    LONG x0, y0, x1, y1;
    return Tal__ViewVisibleRect(v, &x0, &y0, &x1, &y1) && x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

// ---------------------------------------------------------------------------------------------------
// The window's thread.

Task* eventTaskOf(const Tal_ImageView* v) {
    auto* di = reinterpret_cast<Tal_DrawInfo*>(Tal_DoMethod(handleOf(v), TAL_GetDrawInfo));
    if (!di) return nullptr;
    Forbid();
    Task* task = di->eventTask;
    Permit();
    return task;
}

// A method that lays the window out, called from another thread than the window's: it is queued there
// (with at most two arguments) and true is returned.
bool deferToWindow(const Tal_ImageView* v, ULONG id, Tal_Word a = 0, Tal_Word b = 0) {
    Task* task = eventTaskOf(v);
    if (!v->window || !task || task == FindTask(nullptr)) return false;
    return Tal_DoAsyncMethod(v->window, TAL_DoAsyncMethodMethod, handleOf(v), id, a, b) != 0;
}

bool windowOpen(const Tal_ImageView* v) {
    return v->window && Tal_DoMethod(v->window, TAL_GetHostWindow) != 0;
}

// Lays the window out again in its current box.
void relayoutWindow(Tal_ImageView* v) {
    if (!windowOpen(v)) return;
    const auto* b = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(v->window, TAL_GetBox));
    if (!b) return;
    const LONG x = b->x, y = b->y, w = b->width, h = b->height;
    Tal_DoMethod(v->window, TAL_AskMinMax, Tal_DoMethod(v->window, TAL_GetDrawInfo));
    Tal_DoMethod(v->window, TAL_SetBox, x, y, w, h);
}

// Fills all an object may draw on (within its clip rectangle) with a pen.
void fillWithPen(ULONG object, ULONG pen) {
    Tal_DrawInfo* di = Tal_LockDrawInfo(object);
    if (!di) return;
    RastPort* rp = di->rastPort;
    const ULONG oldPen = rp->FgPen, mode = GetDrMd(rp);
    SetDrMd(rp, JAM2);
    SetAPen(rp, pen);
    RectFill(rp, 0, 0, kLargestBox, kLargestBox);
    SetAPen(rp, oldPen);
    SetDrMd(rp, mode);
    Tal_UnlockDrawInfo(object);
}

// Draws the window afresh: what the last layout left where nothing is now goes.
void redrawWindow(Tal_ImageView* v) {
    if (!windowOpen(v)) return;
    fillWithPen(v->window, 0);
    Tal_DoMethod(v->window, TAL_DrawObject);
}

// ---------------------------------------------------------------------------------------------------
// Magnification.

LONG magnificationOf(const Tal_ImageView* v, LONG imageWidth) {
    if (v->shown_w <= 0 || imageWidth <= 0) return 100;
    return LONG(int64_t(v->shown_w) * 100 / imageWidth);
}

LONG magnification(Tal_ImageView* v) {
    ImageHold hold(v);
    return magnificationOf(v, hold.get() ? hold.get()->width : 0);
}

// The magnification at which the picture fits the screen: at most the screen's width less the room of a
// scroller, and the height left by the title, menu and tool bars (the whole screen in full screen).
LONG fitMagnification(Tal_ImageView* v) {
    ImageHold hold(v);
    if (!hold.get() || hold.get()->width < 1 || hold.get()->height < 1) return 100;
    const int64_t W = hold.get()->width, H = hold.get()->height;
    LONG sw = host_ScreenWidth(), sh = host_ScreenHeight();
    if (sw <= 0 || sh <= 0) sw = 240, sh = 320;
    const int64_t M = v->full_screen ? sw + 2 : sw - 15, N = v->full_screen ? sh + 2 : sh - 63;
    int64_t o = std::min(M, W), t = std::min(N, H);
    if (H < W) {
        t = std::max<int64_t>(std::min(H * o / W, t), 1);
        o = std::max<int64_t>(std::min(W * t / H, o), 1);
    } else {
        o = std::max<int64_t>(std::min(W * t / H, o), 1);
    }
    return LONG(std::max<int64_t>(o * 100 / W, 1));
}

ULONG scale(Tal_ImageView* v, LONG percent, LONG keep) {
    if (deferToWindow(v, TAL_ViewScale, Tal_ToWord(percent), Tal_ToWord(keep))) return 1;
    Tal__SetImageViewWidthHeight(v, LONG(int64_t(v->shown_w) * percent / 100),
                                 LONG(int64_t(v->shown_h) * percent / 100));
    v->scroll_x = LONG(int64_t(v->scroll_x) * percent / 100);
    v->scroll_y = LONG(int64_t(v->scroll_y) * percent / 100);
    relayoutWindow(v);
    if (keep != 1) {
        Tal_DoMethod(v->scroll_group, TAL_ScrollToPoint, v->scroll_x, v->scroll_y);
        redrawWindow(v);
    }
    return 1;
}

ULONG setMagnification(Tal_ImageView* v, LONG percent) {
    if (deferToWindow(v, TAL_ViewSetMagnification, Tal_ToWord(percent))) return 1;
    LONG W = 0, H = 0;
    {
        ImageHold hold(v);
        if (!hold.allocated()) return 0;
        W = hold.get()->width;
        H = hold.get()->height;
    }
    Tal__SetImageViewWidthHeight(v, LONG((int64_t(percent) * W + 99) / 100),
                                 LONG(int64_t(percent) * H / 100));
    return scale(v, 100, 0);
}

ULONG fit(Tal_ImageView* v) {
    if (deferToWindow(v, TAL_ViewFit)) return 1;
    const LONG percent = fitMagnification(v);
    {
        ImageHold hold(v);
        if (!hold.allocated()) return 0;
        Tal__SetImageViewWidthHeight(v, LONG(int64_t(percent) * hold.get()->width / 100),
                                     LONG(int64_t(percent) * hold.get()->height / 100));
        // Back to the origin without drawing: the window is drawn once, laid out.
        hold.get()->redraw_enable--;
        Tal_DoMethod(v->scroll_group, TAL_ScrollToPoint, 0, 0);
        hold.get()->redraw_enable++;
    }
    v->scroll_x = v->scroll_y = 0;
    relayoutWindow(v);
    redrawWindow(v);
    return 1;
}

LONG zoomStep(LONG g, bool in) {
    if (in) {
        if (g > 99) return (g / 50 + 1) * 50;
        if (g > 30) return (g / 10 + 1) * 10;
        return std::max<LONG>((g / 5 + 1) * 5, 5);
    }
    if (g > 100) return (g / 50) * 50 - 50;
    if (g > 30) return (g / 10) * 10 - 10;
    return std::max<LONG>((g / 5) * 5 - 5, 5);
}

ULONG zoom(Tal_ImageView* v, bool in) {
    if (deferToWindow(v, in ? TAL_ViewZoomIn : TAL_ViewZoomOut)) return 1;
    return setMagnification(v, zoomStep(magnification(v), in));
}

// ---------------------------------------------------------------------------------------------------
// The window.

void setTitle(Tal_ImageView* v) {
    if (!v->window) return;
    char title[TAL_PATH_SIZE + 64];
    {
        ImageHold hold(v);
        if (!hold.get()) return;
        const Tal_Image* image = hold.get();
        const char* path = image->file_path[0] ? image->file_path : Tal_GetCatalogueText(kTitleUntitled);
        std::snprintf(title, sizeof title, "%s - %ldx%ldx%ldbit", path, long(image->width),
                      long(image->height), long(image->depth));
    }
    Tal_DoMethod(v->window, TAL_SetWindowTitle, title);
}

// The tool-bar buttons open the pages of the panel holder.
Tal_Word openPanelPage(Tal_Word page, ULONG, ULONG, const Tal_Word*) {
    Tal_ImageBase* base = engine();
    if (!base || !base->panel_holder) return 0;
    Tal_DoMethod(base->panel_holder, TAL_SelectMemberIndex, page);
    return 1;
}

ULONG makeToolBar(Tal_ImageView* v, ULONG window) {
    const ULONG row =
        Tal_AddObject(window, "Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetWeight, 0);
    if (!row) return 0;
    const Tal_ImageBase* base = engine();
    for (size_t i = 0; i < std::size(kToolBarPictures); i++) {
        const ULONG button = Tal_AddObject(row, "Button", TAL_SetWeight, 0);
        const ULONG picture = Tal_AddObject(button, "BitMap", TAL_LoadBitMap, kToolBarPictures[i]);
        if (!button || !picture) return 0;
        if (i < std::size(v->buttons)) v->buttons[i] = picture;
        Tal_AddCallBackNotify(button, TAL_Released, TAL_AnyValue, openPanelPage, Tal_Word(i));
        // Until the panel holder exists the buttons have nothing to open.
        if (!base || !base->panel_holder) Tal_DoMethod(button, TAL_DisableObject);
    }
    Tal_AddObject(row, "Space");
    return row;
}

// The status line: a text, the label of long operations and a progress bar; hidden until one starts.
ULONG makeStatusLine(Tal_ImageView* v, ULONG window) {
    const ULONG group =
        Tal_AddObject(window, "Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetWeight, 0);
    if (!group) return 0;
    v->status_group = group;
    v->status_text = Tal_AddObject(group, "Text", TAL_SetLabel, v->status);
    const ULONG parts[] = {
        Tal_AddObject(group, "Text", TAL_SetLabel, " ", TAL_SetWeight, 0),
        Tal_AddObject(group, "Text", TAL_SetLabel, Tal_GetCatalogueText(kStatusLabel), TAL_SetWeight, 0),
        Tal_AddObject(group, "Text", TAL_SetLabel, ":", TAL_SetWeight, 0),
    };
    v->progress_bar = Tal_AddObject(group, "ProgressBar", TAL_SetSpaceFixedWidth, 50, TAL_SetWeight, 0);
    Tal_DoMethod(group, TAL_Hide); // with its members
    return v->status_text && v->progress_bar &&
                   std::find(std::begin(parts), std::end(parts), 0u) == std::end(parts)
               ? group
               : 0;
}

Tal_Word addImageNotify(ULONG image, ULONG view, ULONG id, ULONG count) {
    // The listener gets the trigger's arguments as they came.
    return Tal_AddNotify(image, id, TAL_AnyValue, view, count + 1, id, TAL_TriggerArgument,
                         TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument,
                         TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument);
}

bool buildWindow(Tal_ImageView* v) {
    // Of the start window's kind: it comes above it, and is the active window once open.
    const ULONG window =
        Tal_CreateObject("Window", TAL_SetWindowType, kWindowType, TAL_SetWindowX, 0, TAL_SetWindowY, 0,
                         TAL_SetWindowW, kWindowWidth, TAL_SetWindowH, kWindowHeight);
    if (!window) return false;
    // The scrolling group takes all the room the window has (the picture within it as much as it needs):
    // the status line and the tool bar keep to the bottom.
    const ULONG scroll = Tal_AddObject(window, "VirtualGroup", TAL_SetGroupFlags, 1);
    const ULONG status = scroll ? makeStatusLine(v, window) : 0;
    const ULONG toolbar = status ? makeToolBar(v, window) : 0;
    if (!toolbar || !Tal_DoMethod(scroll, TAL_AddTail, handleOf(v))) {
        // The view is not the window's to dispose.
        Tal_DoMethod(scroll, TAL_RemoveMember, handleOf(v));
        Tal_DisposeObject(window);
        v->status_group = v->status_text = v->progress_bar = 0;
        v->buttons[0] = v->buttons[1] = 0;
        return false;
    }
    v->window = window;
    v->scroll_group = scroll;
    v->toolbar = toolbar;
    setTitle(v);
    const ULONG image = v->image_handle, view = handleOf(v);
    v->busy_notify = addImageNotify(image, view, TAL_LongOperationStart, 0);
    v->progress_notify = addImageNotify(image, view, TAL_LongOperationProgress, 3);
    v->done_notify = addImageNotify(image, view, TAL_LongOperationEnd, 0);
    Tal_AddNotify(window, TAL_CloseWindow, TAL_AnyValue, image, 2, TAL_CloseView, view);
    if (Tal_ImageBase* base = engine(); base && base->main_window)
        Tal_DoMethod(base->main_window, TAL_AddTail, window);
    return true;
}

ULONG show(Tal_ImageView* v) {
    if (v->window) {
        Tal_DoMethod(v->window, v->shown ? TAL_WindowToFront : TAL_OpenWindow);
        v->shown = 1;
        return 1;
    }
    {
        ImageHold hold(v);
        if (!hold.allocated()) return 0;
    }
    if (!buildWindow(v)) return 0;
    {
        ImageHold hold(v);
        if (hold.get()) hold.get()->first_view = v;
    }
    fit(v);
    Tal_DoMethod(v->window, TAL_Start);
    v->shown = 1;
    Tal_DoNotify(imageObject(), TAL_ShowView, v);
    return 1;
}

ULONG hide(Tal_ImageView* v) {
    if (v->window) Tal_DoMethod(v->window, TAL_CloseWindow);
    v->shown = 0;
    return 1;
}

// Shows or hides the status line as asked (in the window's thread); never in full screen.
ULONG applyStatusLine(Tal_ImageView* v) {
    if (deferToWindow(v, kApplyStatusLine)) return 1;
    if (!v->status_group) return 0;
    const bool wanted = v->status_shown && !v->full_screen;
    const bool hidden = Tal_DoMethod(v->status_group, TAL_IsHidden) != 0;
    if (wanted == !hidden) return 1;
    Tal_DoMethod(v->status_group, wanted ? TAL_Show : TAL_Hide);
    relayoutWindow(v);
    redrawWindow(v);
    return 1;
}

void setStatusText(Tal_ImageView* v, const char* text) {
    std::snprintf(v->status, sizeof v->status, "%s", text ? text : "");
    Tal_DoMethod(v->status_text, TAL_SetLabel, v->status);
    Tal_DoMethod(v->status_text, TAL_DrawObject);
}

ULONG longOperation(Tal_ImageView* v, ULONG id, const Tal_Word* args) {
    if (!v->window) return 0;
    switch (id) {
    case TAL_LongOperationStart:
        Tal_DoMethod(v->progress_bar, TAL_SetProgressValue, 0);
        v->status_shown = 1;
        break;
    case TAL_LongOperationProgress:
        Tal_DoMethod(v->progress_bar, TAL_SetProgressTotal, args[0]);
        Tal_DoMethod(v->progress_bar, TAL_SetProgressValue, args[1]);
        if (args[2]) setStatusText(v, reinterpret_cast<const char*>(args[2]));
        return 1;
    default:
        Tal_DoMethod(v->progress_bar, TAL_SetProgressTotal, 100);
        Tal_DoMethod(v->progress_bar, TAL_SetProgressValue, 100);
        setStatusText(v, Tal_GetCatalogueText(kStatusDone));
        v->status_shown = 0;
        break;
    }
    return applyStatusLine(v);
}

// ---------------------------------------------------------------------------------------------------
// Full screen.

ULONG enterFullScreen(Tal_ImageView* v) {
    if (deferToWindow(v, TAL_ViewFullScreen)) return 1;
    auto* host = reinterpret_cast<Window*>(Tal_DoMethod(v->window, TAL_GetHostWindow));
    if (!host || v->full_screen) return 0;
    ImageHold hold(v);
    if (!hold.allocated()) return 0;
    v->full_screen = 1;
    hold.get()->redraw_enable--;
    Tal_DoMethod(v->toolbar, TAL_Hide);
    if (!Tal_DoMethod(v->status_group, TAL_IsHidden)) Tal_DoMethod(v->status_group, TAL_Hide);
    Tal_DoMethod(v->scroll_group, TAL_HideScrollers);
    host_FullScreen(host, true);
    fit(v);
    hold.get()->redraw_enable++;
    Tal_DoMethod(handleOf(v), TAL_DrawObject);
    return 1;
}

void leaveFullScreen(Tal_ImageView* v) {
    auto* host = reinterpret_cast<Window*>(Tal_DoMethod(v->window, TAL_GetHostWindow));
    v->full_screen = 0;
    if (host) host_FullScreen(host, false);
    Tal_DoMethod(v->toolbar, TAL_Show);
    Tal_DoMethod(v->scroll_group, TAL_ShowScrollers);
    if (v->status_shown) Tal_DoMethod(v->status_group, TAL_Show);
    fit(v);
}

// ---------------------------------------------------------------------------------------------------
// Changes of the image, and drawing.

ULONG imageChanged(Tal_ImageView* v, const Tal_Word* args) {
    switch (ULONG(args[0])) {
    case TAL_CHANGE_REGION:
    case TAL_CHANGE_ALL:
        if (v->window) Tal_RedrawImageView(v, LONG(args[2]), LONG(args[3]), LONG(args[4]), LONG(args[5]));
        return 1;
    case TAL_CHANGE_FORMAT:
        if (v->window) {
            if (deferToWindow(v, kImageFormatChanged)) return 1;
            setTitle(v);
            return fit(v);
        }
        scale(v, 100, 1);
        Tal_FullRedrawImage(v->image);
        return 1;
    case TAL_CHANGE_SAVED:
        setTitle(v);
        return 1;
    default:
        return 0;
    }
}

// Draws the damaged part of the window (x, y, w, h; none: the refresh rectangle, else all of the view).
void draw(Tal_ImageView* v, const LONG* area) {
    ImageHold hold(v);
    Mapping m;
    if (!hold.allocated() || !mappingOf(v, hold.get(), &m)) return;
    auto* di = reinterpret_cast<Tal_DrawInfo*>(Tal_DoMethod(handleOf(v), TAL_GetDrawInfo));
    if (v->full_screen) fillWithPen(handleOf(v), 1);
    LONG x0, y0, x1, y1;
    if (!Tal__ViewVisibleRect(v, &x0, &y0, &x1, &y1)) return;
    // The scroll position and visible size, as the scrolling group shows the view now.
    v->scroll_x = x0 - m.L;
    v->scroll_y = y0 - m.T;
    v->visible_w = x1 - x0 + 1;
    v->visible_h = y1 - y0 + 1;
    if (area) {
        x0 = std::max(x0, area[0]);
        y0 = std::max(y0, area[1]);
        x1 = std::min(x1, area[0] + area[2] - 1);
        y1 = std::min(y1, area[1] + area[3] - 1);
    } else if (const Layer* layer = di && di->rastPort ? di->rastPort->rp_Layer : nullptr;
               layer && layer->refreshing) {
        x0 = std::max<LONG>(x0, layer->refresh.MinX);
        y0 = std::max<LONG>(y0, layer->refresh.MinY);
        x1 = std::min<LONG>(x1, layer->refresh.MaxX);
        y1 = std::min<LONG>(y1, layer->refresh.MaxY);
    }
    if (x0 > x1 || y0 > y1) return;
    // Left and top by the mapping, right and bottom from the pixel after the rectangle.
    const LONG ix0 = std::max<LONG>(toImageX(m, x0), 0), iy0 = std::max<LONG>(toImageY(m, y0), 0);
    const LONG ix1 = std::min<LONG>(toImageX(m, x1 + 1), m.W - 1),
               iy1 = std::min<LONG>(toImageY(m, y1 + 1), m.H - 1);
    Tal_RedrawImageView(v, ix0, iy0, ix1, iy1);
}

// ---------------------------------------------------------------------------------------------------
// Input.

bool isPlainKey(ULONG cls) {
    return cls == IDCMP_CHARACTER || cls == IDCMP_VANILLAKEY;
}

void updatePointer(Tal_ImageView* v, bool over) {
    Tal_ImageBase* base = engine();
    const ULONG tool = base ? base->current_tool : 0;
    const LONG shape = over && tool ? LONG(Tal_DoMethod(tool, TAL_GetToolCursor)) : 0;
    if (shape == v->pointer_state) return;
    v->pointer_state = shape;
    Tal_DoMethod(v->window, TAL_SetWindowPointer, shape);
}

// A press on the picture with a medium that paints the picture itself: the layer's changes are fixed
// first, unless a restore is pending.
void fixBeforePainting(Tal_Image* image) {
    Tal_Image* layer = image->current_layer;
    if (!layer || !image->media || image->restore_pending.load()) return;
    if (!Tal_DoMethod(image->media, TAL_GetMediaSmearMode)) return;
    if (layer->kind == TAL_FLOATING_IMAGE && layer->restore_pending.load()) return;
    Tal_DoImageMethod(image, TAL_FixLayers);
}

void pointerMoved(Tal_ImageView* v, Tal_Image* image) {
    v->marker_x = image->marker_x;
    v->marker_y = image->marker_y;
    if (image->media) {
        v->media_size = LONG(Tal_DoMethod(image->media, TAL_GetMediaWidth));
        v->media_pressure = LONG(Tal_DoMethod(image->media, kGetMediaPressure));
    }
    std::snprintf(v->media_name, sizeof v->media_name, "%s", image->media_name);
    Tal_DoNotify(imageObject(), TAL_PointerPosition, v->marker_x, v->marker_y);
}

// The keys a tool left: arrows scroll, "<" and ">" zoom, a tool's key chooses it. 1 when used.
Tal_Word viewKey(Tal_ImageView* v, const Tal_InputEvent& e) {
    if (e.Class == IDCMP_RAWKEY) {
        const bool vertical = e.Code == RAWKEY_UP || e.Code == RAWKEY_DOWN;
        if (!vertical && e.Code != RAWKEY_RIGHT && e.Code != RAWKEY_LEFT) return 2;
        const LONG delta = e.Code == RAWKEY_UP || e.Code == RAWKEY_LEFT ? -kKeyScroll : kKeyScroll;
        const ULONG get = vertical ? TAL_GetScrollY : TAL_GetScrollX;
        const ULONG set = vertical ? TAL_SetScrollY : TAL_SetScrollX;
        Tal_DoMethod(v->scroll_group, set, LONG(Tal_DoMethod(v->scroll_group, get)) + delta);
        return 1;
    }
    if (!isPlainKey(e.Class) || (e.Qualifier & IEQUALIFIER_CONTROL)) return 2;
    if (e.Code == '<' || e.Code == '>') {
        zoom(v, e.Code == '>');
        return 1;
    }
    if (e.Code < 256) {
        if (const ULONG tool = Tal_ToolForKey(UBYTE(e.Code))) {
            Tal_DoMethod(tool, TAL_Pressed);
            return 1;
        }
    }
    return 2;
}

Tal_Word inputLocked(Tal_ImageView* v, Tal_Image* image, const Tal_InputEvent& event) {
    Tal_InputEvent e = event;
    Mapping m;
    const bool mapped = mappingOf(v, image, &m);
    if (mapped) {
        image->marker_x = toImageX(m, e.MouseX);
        image->marker_y = toImageY(m, e.MouseY);
    }
    const bool over = overVisible(v, e.MouseX, e.MouseY);
    Tal_ImageBase* base = engine();
    // Erase mode: the select button acts as the menu button on the picture.
    if (base && base->erase_mode && over && e.Class == IDCMP_MOUSEBUTTONS &&
        (e.Code == SELECTDOWN || e.Code == SELECTUP)) {
        e.Code = e.Code == SELECTDOWN ? MENUDOWN : MENUUP;
        e.Qualifier = UWORD((e.Qualifier | IEQUALIFIER_RBUTTON) & ~IEQUALIFIER_LEFTBUTTON);
    }
    updatePointer(v, over);
    const bool press = e.Class == IDCMP_MOUSEBUTTONS &&
                       (e.Code == SELECTDOWN || e.Code == MENUDOWN || e.Code == kCodeMiddleDown);
    if (press && v->full_screen) {
        // Any press leaves full screen, and goes no further.
        leaveFullScreen(v);
        return 1;
    }
    if (e.Class == IDCMP_MOUSEBUTTONS && e.Code == SELECTDOWN && over) fixBeforePainting(image);
    if (e.Class == IDCMP_MOUSEBUTTONS && e.Code == kCodeMiddleDown && base)
        base->pressure_attribute = base->pressure_attribute == TAL_MediaSizeAttribute
                                       ? TAL_MediaPressureAttribute
                                       : TAL_MediaSizeAttribute;
    if (e.Class == IDCMP_MOUSEMOVE && mapped) pointerMoved(v, image);
    if (e.Class == IDCMP_ACTIVEWINDOW) {
        image->first_view = v;
        Tal_DoImageMethod(image, TAL_SetActiveImage, image);
    }
    Tal_Word result = 2;
    if (const ULONG tool = base ? base->current_tool : 0) {
        result = Tal_DoMethod(tool, TAL_HandleToolInput, image, &e);
        updatePointer(v, over);
    }
    if (result != 1 && viewKey(v, e) == 1) return 1;
    if (e.Class == IDCMP_MOUSEBUTTONS && (e.Code == SELECTUP || e.Code == MENUUP))
        Tal_DoNotify(imageObject(), TAL_ImageChangedEvent, image);
    return result;
}

Tal_Word handleInput(Tal_ImageView* v, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (!e || !v->window) return 2;
    ImageHold hold(v);
    if (!hold.get()) return 2;
    // One way out: the image is unlocked whatever the event did.
    return inputLocked(v, hold.get(), *e);
}

// ---------------------------------------------------------------------------------------------------
// The image.

void dropNotifications(Tal_ImageView* v) {
    const ULONG image = v->image_handle;
    for (Tal_Word* n : {&v->image_notify, &v->busy_notify, &v->progress_notify, &v->done_notify}) {
        if (*n) Tal_RemoveNotify(image, *n);
        *n = 0;
    }
}

ULONG setImage(Tal_ImageView* v, Tal_Image* image) {
    if (image && !Tal__IsLiveImage(image)) return 0;
    dropNotifications(v);
    v->image = image;
    v->image_handle = image ? image->header.handle : 0;
    if (!image) return 1;
    v->image_notify = addImageNotify(v->image_handle, handleOf(v), TAL_ImageDataChanged, 8);
    LONG W = 0, H = 0;
    {
        ImageHold hold(v);
        if (hold.get()) {
            W = hold.get()->width;
            H = hold.get()->height;
        }
    }
    Tal__SetImageViewWidthHeight(v, W, H);
    return 1;
}

void askLimits(Tal_ImageView* v) {
    Tal_Box* b = v->layout_box;
    if (!b) return;
    const bool hasImage = v->image && v->shown_w > 0 && v->shown_h > 0;
    b->minWidth = b->minHeight = 1;
    b->maxWidth = b->width = WORD(hasImage ? std::min(v->shown_w, kLargestBox) : 1280);
    b->maxHeight = b->height = WORD(hasImage ? std::min(v->shown_h, kLargestBox) : 1280);
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Coordinates.

LONG ImageToImageViewX(Tal_ImageView* view, LONG x) {
    return withMapping(view, [x](const Mapping& m) { return toViewX(m, x); });
}
LONG ImageToImageViewY(Tal_ImageView* view, LONG y) {
    return withMapping(view, [y](const Mapping& m) { return toViewY(m, y); });
}
LONG ImageViewToImageX(Tal_ImageView* view, LONG x) {
    return withMapping(view, [x](const Mapping& m) { return toImageX(m, x); });
}
LONG ImageViewToImageY(Tal_ImageView* view, LONG y) {
    return withMapping(view, [y](const Mapping& m) { return toImageY(m, y); });
}

LONG ImageToWindowX(Tal_Image* image, LONG x) {
    return throughFirstView(image, [x](Tal_ImageView* v) { return ImageToImageViewX(v, x); });
}
LONG ImageToWindowY(Tal_Image* image, LONG y) {
    return throughFirstView(image, [y](Tal_ImageView* v) { return ImageToImageViewY(v, y); });
}
LONG WindowToImageX(Tal_Image* image, LONG x) {
    return throughFirstView(image, [x](Tal_ImageView* v) { return ImageViewToImageX(v, x); });
}
LONG WindowToImageY(Tal_Image* image, LONG y) {
    return throughFirstView(image, [y](Tal_ImageView* v) { return ImageViewToImageY(v, y); });
}

LONG LayerToWindowX(Tal_Image* layer, LONG x) {
    LONG dx, dy;
    Tal_Image* top = Tal__LayerPlace(layer, &dx, &dy);
    return top ? ImageToWindowX(top, x + dx) : 0;
}
LONG LayerToWindowY(Tal_Image* layer, LONG y) {
    LONG dx, dy;
    Tal_Image* top = Tal__LayerPlace(layer, &dx, &dy);
    return top ? ImageToWindowY(top, y + dy) : 0;
}
LONG WindowToLayerX(Tal_Image* layer, LONG x) {
    LONG dx, dy;
    Tal_Image* top = Tal__LayerPlace(layer, &dx, &dy);
    return top ? WindowToImageX(top, x) - dx : 0;
}
LONG WindowToLayerY(Tal_Image* layer, LONG y) {
    LONG dx, dy;
    Tal_Image* top = Tal__LayerPlace(layer, &dx, &dy);
    return top ? WindowToImageY(top, y) - dy : 0;
}

LONG ImageToWindowXa(Tal_AreaInfo*, LONG) {
    return 0;
}
LONG ImageToWindowYa(Tal_AreaInfo*, LONG) {
    return 0;
}
LONG WindowToImageXa(Tal_AreaInfo*, LONG) {
    return 0;
}
LONG WindowToImageYa(Tal_AreaInfo*, LONG) {
    return 0;
}

LONG Tal_SnapToGrid(LONG v, LONG size, LONG offset) {
    const int64_t g = size >= 1 ? size : 10;
    const int64_t s = int64_t(v) + offset;
    int64_t q = s / g, r = s % g;
    if (r < 0) {
        q--;
        r += g;
    }
    // The nearer line; halfway goes up. (r < g ÷ 2 would move every position of a grid of 1, and take the
    // farther line at r = g ÷ 2 of an odd grid.)
    return LONG(2 * r < g ? q * g - offset : q * g - offset + g);
}

LONG Tal_ToolWindowToImageX(Tal_Image* image, LONG x) {
    return snapped(WindowToImageX(image, x), true);
}
LONG Tal_ToolWindowToImageY(Tal_Image* image, LONG y) {
    return snapped(WindowToImageY(image, y), false);
}
LONG Tal_ToolWindowToLayerX(Tal_Image* layer, LONG x) {
    return snapped(WindowToLayerX(layer, x), true);
}
LONG Tal_ToolWindowToLayerY(Tal_Image* layer, LONG y) {
    return snapped(WindowToLayerY(layer, y), false);
}

ULONG Tal__SetImageViewWidthHeight(Tal_ImageView* view, LONG width, LONG height) {
    if (!view) return 0;
    LONG W, H;
    {
        ImageHold hold(view);
        if (!hold.allocated()) return 0;
        W = hold.get()->width;
        H = hold.get()->height;
    }
    view->shown_w = std::clamp<LONG>(width, 1, std::min<LONG>(kMaxZoom * W, kLargestBox));
    view->shown_h = std::clamp<LONG>(height, 1, std::min<LONG>(kMaxZoom * H, kLargestBox));
    if (Tal_Box* b = view->layout_box) {
        b->maxWidth = b->width = WORD(view->shown_w);
        b->maxHeight = b->height = WORD(view->shown_h);
    }
    if (view->window) Tal_DoNotify(imageObject(), TAL_ViewSetMagnification, magnificationOf(view, W));
    return 0;
}

void Tal__UnlinkView(Tal_Image* image, Tal_ImageView* view) {
    if (view->view_node.node.ln_Succ) {
        Remove(&view->view_node.node);
        view->view_node.node.ln_Succ = view->view_node.node.ln_Pred = nullptr;
    }
    if (image->first_view == view)
        image->first_view =
            IsListEmpty(&image->views)
                ? nullptr
                : static_cast<Tal_ImageView*>(reinterpret_cast<Tal_ImageNode*>(image->views.lh_Head)->owner);
}

// ---------------------------------------------------------------------------------------------------
// The class.

void* Tal_NewImageViewClass(const TagItem*) {
    Tal_ImageView* v = of(Tal_AllocObjectMem(&viewClass));
    if (!v) return nullptr;
    v->header.superObject = Tal_CreateObject("Root");
    if (!v->header.superObject) {
        Tal_FreeObjectMem(v);
        return nullptr;
    }
    v->layout_box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(v->header.superObject, TAL_GetBox));
    v->view_node.owner = v;
    v->pointer_state = -1;
    InitRastPort(&v->rast_port);
    std::snprintf(v->status, sizeof v->status, "%s", Tal_GetCatalogueText(kStatusDone));
    return v;
}

void Tal_DisposeImageViewClass(void* instance) {
    Tal_ImageView* v = of(instance);
    dropNotifications(v);
    bool disposeImage = false;
    {
        // An image being disposed refuses the lock: it lets go of its views itself.
        ImageHold hold(v, TAL_LOCK_EXCLUSIVE);
        if (Tal_Image* image = hold.get()) {
            Tal__UnlinkView(image, v);
            disposeImage = v->dispose_image && IsListEmpty(&image->views);
        }
    }
    if (v->window) {
        // The window disposes what it holds: the view leaves its scrolling group first.
        Tal_DoMethod(v->scroll_group, TAL_RemoveMember, handleOf(v));
        if (Tal_ImageBase* base = engine(); base && base->main_window)
            Tal_DoMethod(base->main_window, TAL_RemoveMember, v->window);
        Tal_DisposeObject(v->window);
        v->window = 0;
    }
    if (disposeImage) Tal_DisposeObject(v->image_handle);
    Tal_DisposeObject(v->header.superObject);
    Tal_FreeObjectMem(v);
}

Tal_Word Tal_DoImageViewClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    Tal_ImageView* v = of(instance);
    switch (id) {
    case TAL_ViewSetImage:
        return setImage(v, reinterpret_cast<Tal_Image*>(args[0]));
    case TAL_ViewSetMagnification:
        return setMagnification(v, LONG(args[0]));
    case TAL_ViewGetMagnification:
        return Tal_ToWord(magnification(v));
    case TAL_ViewScale:
        return scale(v, LONG(args[0]), LONG(args[1]));
    case TAL_ViewFit:
        return fit(v);
    case TAL_ViewGetFitMagnification:
        return Tal_ToWord(fitMagnification(v));
    case TAL_ViewZoomIn:
    case TAL_ViewZoomOut:
        return zoom(v, id == TAL_ViewZoomIn);
    case TAL_ViewSetInterpolation:
        v->interpolation = std::clamp<LONG>(LONG(args[0]), 0, 2);
        redrawWindow(v);
        return 1;
    case TAL_ShowView:
        return show(v);
    case TAL_ViewFullScreen:
        return enterFullScreen(v);
    case TAL_HideViewRequest:
        return hide(v);
    case TAL_ImageDataChanged:
        return imageChanged(v, args);
    case kImageFormatChanged:
        setTitle(v);
        return fit(v);
    case TAL_LongOperationStart:
    case TAL_LongOperationProgress:
    case TAL_LongOperationEnd:
        return longOperation(v, id, args);
    case kApplyStatusLine:
        return applyStatusLine(v);
    case TAL_DrawObject:
        draw(v, nullptr);
        return 1;
    case TAL_DrawArea: {
        // As the window system queues it: x, y, w and h in words 0, 2, 4 and 6.
        const LONG area[4] = {LONG(args[0]), LONG(args[2]), LONG(args[4]), LONG(args[6])};
        draw(v, area);
        return 1;
    }
    case TAL_HandleIDCMP:
        return handleInput(v, args);
    case TAL_AskMinMax:
        askLimits(v);
        return 1;
    case TAL_Stop:
        return 1;
    case TAL_Start:
    case TAL_SetGlobalImageMediaName:
        return 0;
    default:
        return Tal_DoMethodA(v->header.superObject, id, args);
    }
}

ULONG Tal_InitImageViewClass() {
    return Tal__SetupClass(&viewClass, "ImageView", 0x00440000, "Root", Tal_NewImageViewClass,
                           Tal_DisposeImageViewClass, Tal_DoImageViewClassMethod, nullptr,
                           sizeof(Tal_ImageView));
}

void Tal_CleanupImageViewClass() {
    Tal__CleanupClass(&viewClass);
}
