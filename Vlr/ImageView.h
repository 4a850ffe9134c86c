// The image view: one image shown in a window of its own, scrolled and magnified, and the place where
// pointer input on a picture enters the engine (the current tool has it). With it the display of images:
// the mapping between picture and screen, and the renderers that draw image rectangles into a view.
#pragma once

#include "Vlr/Vlr.h"

#include <atomic>

// ---------------------------------------------------------------------------------------------------
// Methods of ImageView (class 0x44; TAL_ViewSetImage, TAL_ViewSetMagnification and TAL_ViewFit are in
// Vlr.h) and the engine-wide notifications that concern views.

constexpr ULONG TAL_ViewGetMagnification = 0x00440028;
constexpr ULONG TAL_ViewScale = 0x00440032; // percent, and 1 to keep the scroll position and picture
constexpr ULONG TAL_ViewGetFitMagnification = 0x00440046;
constexpr ULONG TAL_ViewZoomIn = 0x00440050;
constexpr ULONG TAL_ViewZoomOut = 0x0044005A;
// 0 as the display setting says, 1 nearest, 2 smoothed (the magnify tool's choice for its view).
constexpr ULONG TAL_ViewSetInterpolation = 0x00440064;
constexpr ULONG TAL_ViewFullScreen = 0x001002DB;

constexpr ULONG TAL_PointerPosition = 0x00130064;    // notified with the pointer's image x and y
constexpr ULONG TAL_GestureRunning = 0x00130078;     // notified with 1 when a gesture starts, 0 when it ends
constexpr ULONG TAL_CurrentToolChanged = 0x00100442; // notified with the current tool

// The media attributes the pen pressure may drive (code 106 switches between them).
constexpr ULONG TAL_MediaSizeAttribute = 0x00110014;
constexpr ULONG TAL_MediaPressureAttribute = 0x00110028;

ULONG Tal_InitImageViewClass();
void Tal_CleanupImageViewClass();

// ---------------------------------------------------------------------------------------------------
// Coordinates. View coordinates are those of the view's window (its layout box lies in them). Results
// are 0 without a view, layout box or image; every product is taken in 64 bits.

LONG ImageToImageViewX(Tal_ImageView* view, LONG x);
LONG ImageToImageViewY(Tal_ImageView* view, LONG y);
LONG ImageViewToImageX(Tal_ImageView* view, LONG x);
LONG ImageViewToImageY(Tal_ImageView* view, LONG y);
// The same through the image's first view.
LONG ImageToWindowX(Tal_Image* image, LONG x);
LONG ImageToWindowY(Tal_Image* image, LONG y);
LONG WindowToImageX(Tal_Image* image, LONG x);
LONG WindowToImageY(Tal_Image* image, LONG y);
// A layer's coordinates: its place in the images above it is added (taken away), then through the first
// view of its top image.
LONG LayerToWindowX(Tal_Image* layer, LONG x);
LONG LayerToWindowY(Tal_Image* layer, LONG y);
LONG WindowToLayerX(Tal_Image* layer, LONG x);
LONG WindowToLayerY(Tal_Image* layer, LONG y);
// Areas have no window mapping: always 0.
struct Tal_AreaInfo;
LONG ImageToWindowXa(Tal_AreaInfo* area, LONG x);
LONG ImageToWindowYa(Tal_AreaInfo* area, LONG y);
LONG WindowToImageXa(Tal_AreaInfo* area, LONG x);
LONG WindowToImageYa(Tal_AreaInfo* area, LONG y);
// What tools use: the window mapping followed by snapping to the grid.
LONG Tal_ToolWindowToImageX(Tal_Image* image, LONG x);
LONG Tal_ToolWindowToImageY(Tal_Image* image, LONG y);
LONG Tal_ToolWindowToLayerX(Tal_Image* layer, LONG x);
LONG Tal_ToolWindowToLayerY(Tal_Image* layer, LONG y);

// The nearest line of a grid of `size` (below 1 counts as 10) shifted by `offset` (halfway goes to the
// next line): floor division, so that negative positions snap like positive ones. Used by the tool
// mapping when snapping is on.
LONG Tal_SnapToGrid(LONG v, LONG size, LONG offset);

// The shown size (image size × magnification) within 1 … 8 × the image size (and the largest box, 32767);
// the layout box follows. When the view has a window, the image-base object notifies
// TAL_ViewSetMagnification with the new magnification. Only while the image is allocated; returns 0.
ULONG Tal__SetImageViewWidthHeight(Tal_ImageView* view, LONG width, LONG height);

// ---------------------------------------------------------------------------------------------------
// Display redraw.

// Where the display settings are kept (the preferences own them): the redraw mode (5: the 12-bit dithering
// renderer) and the interpolated display (nonzero: bilinear scaling). None reads as 0.
void Tal__UseDisplaySettings(const std::atomic<LONG>* redrawMode, const std::atomic<LONG>* interpolated);
LONG Tal__RedrawMode();
LONG Tal__InterpolatedDisplay();
constexpr LONG TAL_REDRAW_MODE_12BIT = 5;

// The screen object whose width the redraw buffer takes (else the drawing context's screen, else the
// logical screen). Nonzero when one is given.
ULONG Tal__InitRedraw(ULONG screen);
// Takes the redraw-buffer lock and returns the buffer (made on first use: as wide as the screen, 33 rows
// of 24 bits), or none when it cannot be made. Release with Tal__UnlockRedrawBuffer in every case.
Tal_VideoData* Tal__LockRedrawBuffer(Tal_DrawInfo* drawInfo);
void Tal__UnlockRedrawBuffer(Tal_DrawInfo* drawInfo);
// The engine ends: the buffer goes.
void Tal__FreeRedrawBuffer();
// The width of the buffer made at the next first use (0: the screen's); the buffer in use goes.
void Tal__SetRedrawBufferWidth(LONG width);

// Redraws an image rectangle (inclusive, image coordinates) in the view. From another thread than the
// view's window's, the window draws it later.
void Tal_RedrawImageView(Tal_ImageView* view, LONG x0, LONG y0, LONG x1, LONG y1);
// The rectangle, clamped to the image, in the image's first view (when it is allocated and has one).
void Tal_RedrawImage(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_FullRedrawImage(Tal_Image* image);
// A layer's rectangle: moved by the layer's place in the images above it, redrawn in its top image.
void Tal_RedrawLayer(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_FullRedrawLayer(Tal_Image* layer);

// A bilinear line: screen row `screen_row` (counted from the top of the shown image) of a W × H picture
// shown DW × DH, output pixels first..last (counted from the left of the shown image) as blue, green,
// red. Each plane is given by its row 0; rows are row_stride bytes apart. Every product in 64 bits.
void Tal_MakeSmoothScaledRGBLine(const UBYTE* red, const UBYTE* green, const UBYTE* blue, size_t row_stride,
                                 UBYTE* out, LONG first, LONG last, LONG screen_row, LONG image_width,
                                 LONG image_height, LONG shown_width, LONG shown_height);
