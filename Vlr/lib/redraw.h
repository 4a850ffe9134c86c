// What the renderers share: one redraw of an image rectangle in a view, worked out in screen pixels.
#pragma once

#include "Vlr/ImageView.h"

#include <algorithm>

// A redraw in view coordinates. The picture W × H is shown DW × DH with its top-left at (L, T); the visible
// part of the view is vx0..vx1 × vy0..vy1; the rectangle to draw is x0..x1 × y0..y1 (all inclusive),
// before (raw) and after clipping to the visible part.
struct Tal_RedrawJob {
    Tal_ImageView* view;
    ULONG viewHandle;
    Tal_Image* image;
    LONG L, T, W, H, DW, DH;
    LONG vx0, vy0, vx1, vy1;
    LONG rawX0, rawY0, rawX1, rawY1;
    LONG x0, y0, x1, y1;
    bool smooth;
};

// Screen column of image column a, and the image row a screen row shows (clamped to the picture).
inline LONG Tal__ScreenX(const Tal_RedrawJob& j, LONG a) {
    return j.L + LONG(int64_t(a) * j.DW / j.W);
}
inline LONG Tal__ImageRow(const Tal_RedrawJob& j, LONG screenRow) {
    const int64_t row = int64_t(screenRow - j.T) * j.H / j.DH;
    return LONG(std::clamp<int64_t>(row, 0, j.H - 1));
}

// The visible part of a view (inclusive): its layout box within the clip rectangle its scrolling group
// gave it, never left of or above the window. False when nothing of it shows.
bool Tal__ViewVisibleRect(const Tal_ImageView* view, LONG* x0, LONG* y0, LONG* x1, LONG* y1);

// The top image of a layer and the layer's place in it (the sum of the places of the images between),
// read under the layer's lock; with width and height, the layer's size. None when the layer is gone.
Tal_Image* Tal__LayerPlace(Tal_Image* layer, LONG* dx, LONG* dy, LONG* width = nullptr,
                           LONG* height = nullptr);

// The renderers. Each locks the view's drawing area (from another thread the window draws it later) and
// the redraw buffer, draws, and unlocks both.
void Tal__RenderStandard(const Tal_RedrawJob& job);
void Tal__Render12Bit(const Tal_RedrawJob& job);
void Tal__RenderFullScreen(const Tal_RedrawJob& job);

// Where a renderer draws: the view's window's port and the redraw buffer, both locked. Empty when either
// could not be had (both are then released).
class Tal_RedrawTarget {
  public:
    Tal_RedrawTarget(const Tal_RedrawJob& job, LONG x0, LONG y0, LONG x1, LONG y1);
    ~Tal_RedrawTarget();
    Tal_RedrawTarget(const Tal_RedrawTarget&) = delete;
    Tal_RedrawTarget& operator=(const Tal_RedrawTarget&) = delete;
    explicit operator bool() const { return buffer_ != nullptr; }
    UBYTE* row(LONG i) const { return buffer_->bits + size_t(i) * buffer_->bytesPerRow; }
    LONG width() const { return buffer_->width; }
    LONG height() const { return buffer_->height; }
    // Writes `rows` rows of the buffer from row `firstRow` on, `w` pixels each, at (x, y).
    void write(LONG x, LONG y, LONG w, LONG rows, LONG firstRow = 0) const;

  private:
    ULONG view_;
    Tal_DrawInfo* drawInfo_ = nullptr;
    Tal_VideoData* buffer_ = nullptr;
    bool bufferLocked_ = false;
};

// Bilinear sampling with positions in 8-bit fractions: column positions of output pixels first..last and
// the row position of one row. The weights of a position p are 255 − (p mod 256) and p mod 256, so a
// flat area keeps its value exactly.
struct Tal_SmoothColumns {
    // Per output pixel: the left column and its fraction.
    LONG* column;
    UBYTE* fraction;
    LONG count;
};
// Interpolates one output line from two source rows with the column table: the fast form of the bilinear
// line, exact to Tal_MakeSmoothScaledRGBLine. It reads each column with the one after it (the table never
// names the last column): the picture must be at least 2 pixels wide.
void Tal__SmoothLine(const UBYTE* const rows0[3], const UBYTE* const rows1[3], LONG fy,
                     const Tal_SmoothColumns& columns, UBYTE* out);
// Fills a column table for output pixels first..last of a W-wide picture shown DW wide (positions
// (W × i << 8) ÷ DW in 64 bits, i counted from the shown picture's left).
void Tal__SmoothColumnTable(Tal_SmoothColumns* columns, LONG first, LONG last, LONG W, LONG DW);
