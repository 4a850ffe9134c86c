// Drawing ports on layer surfaces: pens, clipping, rectangles, lines, curves, ellipses, text, pixel
// blocks, regions, planar bitmaps and video data.
#include "host/graphics.h"
#include "host/wm.h"
#include "host/host.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

void host__ReleaseInterfaceFont(); // text.cpp

namespace {

// ---------------------------------------------------------------------------------------------------
// Start-up state.

std::mutex g_initLock;
LONG g_initCount = 0;
std::atomic<LONG> g_displayDepth{0}; // 0 = not initialised

LONG depthFromEnvironment() {
    const char* v = std::getenv("VELURA_DISPLAY_DEPTH");
    if (v && (std::strcmp(v, "8") == 0)) return 8;
    if (v && (std::strcmp(v, "16") == 0)) return 16;
    return 24;
}

// The screen's colour table and the table of ports without a screen (program colours).
constexpr ULONG kDefaultPens[4] = {0x00FFFFFF, 0x00000000, 0x00FFFFFF, 0x00FFB43C};
std::atomic<ULONG> g_screenPens[4] = {kDefaultPens[0], kDefaultPens[1], kDefaultPens[2], kDefaultPens[3]};

ULONG tablePenColour(bool screen, ULONG pen) {
    if (pen >= 4) return 0;
    return screen ? g_screenPens[pen].load(std::memory_order_relaxed) : kDefaultPens[pen];
}

// ---------------------------------------------------------------------------------------------------
// Clipping and pixel access.

struct Clip {
    LONG x0, y0, x1, y1; // inclusive
    bool empty() const { return x0 > x1 || y0 > y1; }
    bool contains(LONG x, LONG y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    void intersect(LONG ax0, LONG ay0, LONG ax1, LONG ay1) {
        x0 = std::max(x0, ax0);
        y0 = std::max(y0, ay0);
        x1 = std::min(x1, ax1);
        y1 = std::min(y1, ay1);
    }
    void intersect(const Rectangle& r) { intersect(r.MinX, r.MinY, r.MaxX, r.MaxY); }
};

// What a drawing operation may touch: the layer's surface under its lock, clipped.
struct Target {
    host_Surface& s;
    Clip clip;
    uint32_t& at(LONG x, LONG y) const { return s.pixels[size_t(y) * size_t(s.stride) + size_t(x)]; }
};

// Runs f(target) with the layer locked when the port has something to draw into and the clip is not
// empty. Returns whether it ran.
template <typename F>
bool withLayer(Layer* layer, F&& f) {
    if (!layer) return false;
    std::lock_guard guard(layer->lock);
    host_Surface* s = layer->surface;
    if (!s || !s->pixels || s->width <= 0 || s->height <= 0) return false;
    Clip clip{0, 0, s->width - 1, s->height - 1};
    if (layer->clipped) clip.intersect(layer->clip);
    if (layer->refreshing) clip.intersect(layer->refresh);
    if (clip.empty()) return false;
    f(Target{*s, clip});
    layer->changes.fetch_add(1, std::memory_order_relaxed);
    host_NoteScreenChange();
    return true;
}

template <typename F>
bool withPort(RastPort* rp, F&& f) {
    return rp && withLayer(rp->rp_Layer, std::forward<F>(f));
}

// How pixels are painted: set to a pixel value, or inverted.
struct Paint {
    bool invert;
    uint32_t pixel;
    void apply(uint32_t& d) const { d = invert ? (d ^ 0x00FFFFFF) : pixel; }
};

uint32_t penPixel(const RastPort* rp, ULONG pen) {
    return host_ColourToPixel(host_PenColour(rp, pen));
}

Paint penPaint(const RastPort* rp, ULONG pen) {
    return Paint{rp->DrawMode == COMPLEMENT, penPixel(rp, pen)};
}

void fillRect(const Target& t, LONG x0, LONG y0, LONG x1, LONG y1, const Paint& p) {
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    Clip c = t.clip;
    c.intersect(x0, y0, x1, y1);
    if (c.empty()) return;
    for (LONG y = c.y0; y <= c.y1; y++) {
        uint32_t* row = &t.at(0, y);
        if (p.invert)
            for (LONG x = c.x0; x <= c.x1; x++) row[x] ^= 0x00FFFFFF;
        else
            std::fill(row + c.x0, row + c.x1 + 1, p.pixel);
    }
}

// Bresenham from (x0, y0) towards (x1, y1), leaving out the end point.
void lineWithoutEnd(const Target& t, LONG x0, LONG y0, LONG x1, LONG y1, const Paint& p) {
    const LONG dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const LONG sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    LONG err = dx + dy;
    LONG x = x0, y = y0;
    while (x != x1 || y != y1) {
        if (t.clip.contains(x, y)) p.apply(t.at(x, y));
        const LONG e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

WORD clampWord(LONG v) {
    return WORD(std::clamp<LONG>(v, -32768, 32767));
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Start and end.

ULONG init_graphics() {
    std::lock_guard guard(g_initLock);
    if (g_initCount++ == 0) g_displayDepth = depthFromEnvironment();
    return host_InterfaceFont() ? 1 : 0;
}

void cleanup_graphics() {
    std::lock_guard guard(g_initLock);
    if (g_initCount == 0) return;
    if (--g_initCount == 0) {
        g_displayDepth = 0;
        host__ReleaseInterfaceFont();
    }
}

LONG host_DisplayDepth() {
    const LONG depth = g_displayDepth.load();
    return depth ? depth : depthFromEnvironment();
}

void host_SetScreenPenColour(ULONG pen, ULONG colour) {
    if (pen < 4) g_screenPens[pen] = colour & 0x00FFFFFF;
}

// ---------------------------------------------------------------------------------------------------
// Regions and layers.

Region* NewRegion() {
    return static_cast<Region*>(Tal_AllocMemClear(sizeof(Region)));
}

void ClearRegion(Region* region) {
    if (region) region->bounds = Rectangle{0, 0, 32767, 32767};
}

ULONG OrRectRegion(Region* region, const Rectangle* rect) {
    if (!region || !rect) return 0;
    Rectangle& b = region->bounds;
    b.MinX = std::max(b.MinX, rect->MinX);
    b.MinY = std::max(b.MinY, rect->MinY);
    b.MaxX = std::min(b.MaxX, rect->MaxX);
    b.MaxY = std::min(b.MaxY, rect->MaxY);
    return 1;
}

void DisposeRegion(Region* region) {
    Tal_FreeMem(region);
}

host_Surface* host_SetLayerSurface(Layer* layer, host_Surface* surface) {
    if (!layer) return nullptr;
    std::lock_guard guard(layer->lock);
    host_Surface* old = layer->surface;
    layer->surface = surface;
    layer->changes.fetch_add(1, std::memory_order_relaxed);
    return old;
}

Region* InstallClipRegion(Layer* layer, Region* region) {
    if (!layer) return nullptr;
    std::lock_guard guard(layer->lock);
    Region* old = layer->clipRegion;
    layer->clipRegion = region;
    layer->clipped = region ? 1 : 0;
    layer->clip = region ? region->bounds : Rectangle{0, 0, 0, 0};
    return old;
}

void host_BeginRefresh(Layer* layer, const Rectangle& rect) {
    if (!layer) return;
    std::lock_guard guard(layer->lock);
    layer->refresh = rect;
    layer->refreshing = 1;
}

void host_EndRefresh(Layer* layer) {
    if (!layer) return;
    std::lock_guard guard(layer->lock);
    layer->refreshing = 0;
    layer->refresh = Rectangle{32767, 32767, 0, 0};
}

ULONG host_ScrollLayer(Layer* layer, LONG dx, LONG dy, LONG x0, LONG y0, LONG x1, LONG y1,
                       Rectangle* exposed) {
    if (exposed) *exposed = Rectangle{1, 1, 0, 0};
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    bool moved = false;
    withLayer(layer, [&](const Target& t) {
        Clip r = t.clip;
        r.intersect(x0, y0, x1, y1);
        if (r.empty()) return;
        const LONG w = r.x1 - r.x0 + 1, h = r.y1 - r.y0 + 1;
        if (std::abs(dx) >= w || std::abs(dy) >= h) {
            if (exposed)
                *exposed = Rectangle{clampWord(r.x0), clampWord(r.y0), clampWord(r.x1), clampWord(r.y1)};
            return;
        }
        // Destination rows in an order that never reads a row already overwritten.
        std::vector<uint32_t> row(static_cast<size_t>(w));
        for (LONG i = 0; i < h - std::abs(dy); i++) {
            const LONG y = dy >= 0 ? r.y0 + i : r.y1 - i;
            const LONG sy = y + dy;
            const LONG cx0 = std::max(r.x0, r.x0 - dx), cx1 = std::min(r.x1, r.x1 - dx);
            std::copy(&t.at(cx0 + dx, sy), &t.at(cx1 + dx, sy) + 1, row.begin());
            std::copy(row.begin(), row.begin() + (cx1 - cx0 + 1), &t.at(cx0, y));
        }
        moved = true;
        if (exposed) {
            // The uncovered band of rows, else of columns (the bounding box when both).
            Clip e{r.x1 + 1, r.y1 + 1, r.x0 - 1, r.y0 - 1};
            auto add = [&](LONG ax0, LONG ay0, LONG ax1, LONG ay1) {
                if (ax0 > ax1 || ay0 > ay1) return;
                e.x0 = std::min(e.x0, ax0), e.y0 = std::min(e.y0, ay0);
                e.x1 = std::max(e.x1, ax1), e.y1 = std::max(e.y1, ay1);
            };
            if (dy > 0) add(r.x0, r.y1 - dy + 1, r.x1, r.y1);
            if (dy < 0) add(r.x0, r.y0, r.x1, r.y0 - dy - 1);
            if (dx > 0) add(r.x1 - dx + 1, r.y0, r.x1, r.y1);
            if (dx < 0) add(r.x0, r.y0, r.x0 - dx - 1, r.y1);
            if (!e.empty())
                *exposed = Rectangle{clampWord(e.x0), clampWord(e.y0), clampWord(e.x1), clampWord(e.y1)};
        }
    });
    return moved ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// Port state and pens.

void InitRastPort(RastPort* rp) {
    if (!rp) return;
    *rp = RastPort{};
    rp->FgPen = 1;
    rp->BgPen = 0;
    rp->AOlPen = 1;
    rp->DrawMode = JAM2;
    rp->TxHeight = UWORD(host_FontHeight(host_InterfaceFont()));
}

void SetAPen(RastPort* rp, ULONG pen) {
    if (rp) rp->FgPen = pen;
}
void SetBPen(RastPort* rp, ULONG pen) {
    if (rp) rp->BgPen = pen;
}
void SetOutlinePen(RastPort* rp, ULONG pen) {
    if (rp) rp->AOlPen = pen;
}
void SetABPenDrMd(RastPort* rp, ULONG a, ULONG b, ULONG mode) {
    if (!rp) return;
    rp->FgPen = a;
    rp->BgPen = b;
    rp->DrawMode = UBYTE(mode);
}
void SetDrMd(RastPort* rp, ULONG mode) {
    if (rp) rp->DrawMode = UBYTE(mode);
}
ULONG GetDrMd(const RastPort* rp) {
    return rp ? rp->DrawMode : 0;
}
void Move(RastPort* rp, LONG x, LONG y) {
    if (!rp) return;
    rp->cp_x = clampWord(x);
    rp->cp_y = clampWord(y);
}
void SetFont(RastPort*, const void*) {}

ULONG host_PenColour(const RastPort* rp, ULONG pen) {
    if (pen & PEN_DIRECT) return pen & 0x00FFFFFF;
    return tablePenColour(rp && rp->rp_Screen, pen);
}

ULONG ObtainBestPenA(ColorMap*, ULONG r, ULONG g, ULONG b, const TagItem*) {
    return PEN_DIRECT | ((b >> 24) << 16) | ((g >> 24) << 8) | (r >> 24);
}

ULONG ObtainBestPen(ColorMap* colourMap, ULONG r, ULONG g, ULONG b) {
    return ObtainBestPenA(colourMap, r, g, b, nullptr);
}

void GetRGB32(const ColorMap* colourMap, ULONG first, ULONG count, ULONG* table) {
    if (!table) return;
    for (ULONG i = 0; i < count; i++) {
        const ULONG pen = first + i;
        const ULONG c = (pen & PEN_DIRECT) ? (pen & 0x00FFFFFF) : tablePenColour(colourMap != nullptr, pen);
        table[3 * i] = (c & 0xFF) * 0x01010101u;
        table[3 * i + 1] = ((c >> 8) & 0xFF) * 0x01010101u;
        table[3 * i + 2] = ((c >> 16) & 0xFF) * 0x01010101u;
    }
}

// ---------------------------------------------------------------------------------------------------
// Rectangles, pixels and lines.

void RectFill(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!rp) return;
    const Paint p = penPaint(rp, rp->FgPen);
    withPort(rp, [&](const Target& t) { fillRect(t, x0, y0, x1, y1, p); });
}

void EraseRect(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!rp) return;
    SetAPen(rp, 0);
    RectFill(rp, x0, y0, x1, y1);
}

void WritePixel(RastPort* rp, LONG x, LONG y) {
    RectFill(rp, x, y, x, y);
}

ULONG ReadRGBPixel(RastPort* rp, LONG x, LONG y) {
    if (!rp || !rp->rp_Layer) return 0xFFFFFFFF;
    Layer* layer = rp->rp_Layer;
    std::lock_guard guard(layer->lock);
    const host_Surface* s = layer->surface;
    if (!s || !s->pixels || x < 0 || y < 0 || x >= s->width || y >= s->height) return 0xFFFFFFFF;
    return host_PixelToColour(s->pixels[size_t(y) * size_t(s->stride) + size_t(x)]);
}

LONG FillPixelArray(RastPort* rp, LONG x, LONG y, LONG w, LONG h, ULONG colour) {
    if (!rp || w <= 0 || h <= 0) return 0;
    const Paint p{false, host_ColourToPixel(colour & 0x00FFFFFF)};
    withPort(rp, [&](const Target& t) { fillRect(t, x, y, x + w - 1, y + h - 1, p); });
    return w * h;
}

LONG Tal_FillRectRGB(Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h, ULONG, ULONG colour) {
    return di ? FillPixelArray(di->rastPort, x, y, w, h, colour) : 0;
}

void DrawLine(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1, ULONG pen) {
    if (!rp) return;
    const Paint p = penPaint(rp, pen);
    withPort(rp, [&](const Target& t) {
        if (x0 == x1 || y0 == y1)
            fillRect(t, x0, y0, x1, y1, p);
        else
            lineWithoutEnd(t, x0, y0, x1, y1, p);
    });
}

void Draw(RastPort* rp, LONG x, LONG y) {
    if (!rp) return;
    const Paint p = penPaint(rp, rp->FgPen);
    const LONG x0 = rp->cp_x, y0 = rp->cp_y;
    withPort(rp, [&](const Target& t) { lineWithoutEnd(t, x0, y0, x, y, p); });
    Move(rp, x, y);
}

void DrawEllipse(RastPort* rp, LONG cx, LONG cy, LONG rx, LONG ry) {
    if (!rp) return;
    rx = std::abs(rx);
    ry = std::abs(ry);
    if (rx == 0) { // no columns to trace: a vertical line
        DrawLine(rp, cx, cy - ry, cx, cy + ry, rp->FgPen);
        Move(rp, cx, cy + ry);
        return;
    }
    std::vector<LONG> ys(size_t(rx) + 1);
    for (LONG j = 0; j <= rx; j++)
        ys[size_t(j)] = LONG(double(ry) * std::sqrt(double(rx) * rx - double(j) * j) / double(rx));
    // The quarters are traced as one closed path so that, lines leaving out their last pixel, every
    // outline pixel is drawn once (a complement preview shows it whole).
    Move(rp, cx, cy - ys[0]);
    auto to = [&](LONG x, LONG y) {
        if (x != rp->cp_x || y != rp->cp_y) Draw(rp, x, y);
    };
    for (LONG j = 1; j <= rx; j++) to(cx + j, cy - ys[size_t(j)]);
    for (LONG j = rx; j >= 0; j--) to(cx + j, cy + ys[size_t(j)]);
    for (LONG j = 1; j <= rx; j++) to(cx - j, cy + ys[size_t(j)]);
    for (LONG j = rx; j >= 0; j--) to(cx - j, cy - ys[size_t(j)]);
}

void host_FillEllipseBox(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!rp) return;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    const bool invert = rp->DrawMode == COMPLEMENT;
    const Paint inside{invert, penPixel(rp, rp->FgPen)};
    const Paint outline{invert, penPixel(rp, rp->AOlPen)};
    // Pixel centres inside the ellipse inscribed in the box's area; the outline is every inside pixel
    // with a 4-neighbour outside.
    const double a = (x1 - x0 + 1) / 2.0, b = (y1 - y0 + 1) / 2.0;
    const double mx = x0 + a, my = y0 + b;
    auto span = [&](LONG y, LONG* l, LONG* r) {
        if (y < y0 || y > y1) return false;
        const double v = (y + 0.5 - my) / b;
        const double u = 1.0 - v * v;
        if (u < 0) return false;
        const double reach = a * std::sqrt(u);
        *l = LONG(std::ceil(mx - reach - 0.5 - 1e-9));
        *r = LONG(std::floor(mx + reach - 0.5 + 1e-9));
        return *l <= *r;
    };
    withPort(rp, [&](const Target& t) {
        LONG pl = 0, pr = -1, nl = 0, nr = -1, l = 0, r = -1;
        bool hasPrev = false, has = span(y0, &l, &r);
        for (LONG y = y0; y <= y1; y++) {
            const bool hasNext = span(y + 1, &nl, &nr);
            if (has) {
                for (LONG x = l; x <= r; x++) {
                    const bool edge =
                        x == l || x == r || !hasPrev || !hasNext || x < pl || x > pr || x < nl || x > nr;
                    if (t.clip.contains(x, y)) (edge ? outline : inside).apply(t.at(x, y));
                }
            }
            hasPrev = has, pl = l, pr = r;
            has = hasNext, l = nl, r = nr;
        }
    });
}

void Tal_FillEllipse(RastPort* rp, LONG cx, LONG cy, LONG rx, LONG ry) {
    rx = std::abs(rx);
    ry = std::abs(ry);
    host_FillEllipseBox(rp, cx - rx, cy - ry, cx + rx, cy + ry);
}

void Tal_DrawBezier(RastPort* rp, LONG x0, LONG y0, LONG mx, LONG my, LONG x1, LONG y1, LONG steps) {
    if (!rp) return;
    // The control point that makes the curve pass through (mx, my) at its middle.
    const LONG qx = 2 * mx - (x0 + x1) / 2, qy = 2 * my - (y0 + y1) / 2;
    for (LONG i = 1; i < steps; i++) {
        const double t = double(i) / double(steps), u = 1.0 - t;
        const double px = u * u * x0 + 2 * t * u * qx + t * t * x1;
        const double py = u * u * y0 + 2 * t * u * qy + t * t * y1;
        Draw(rp, LONG(px), LONG(py));
    }
    Draw(rp, x1, y1);
}

void Tal_FillHatchedRectangle(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!rp) return;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    // The 2 × 2 pattern, anchored to window coordinates so that adjacent fills join seamlessly.
    const uint32_t pattern[2] = {penPixel(rp, rp->FgPen), penPixel(rp, rp->BgPen)};
    withPort(rp, [&](const Target& t) {
        Clip c = t.clip;
        c.intersect(x0, y0, x1, y1);
        for (LONG y = c.y0; y <= c.y1; y++)
            for (LONG x = c.x0; x <= c.x1; x++) t.at(x, y) = pattern[(x + y) & 1];
    });
}

void ScrollRaster(RastPort* rp, LONG dx, LONG dy, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!rp) return;
    Rectangle exposed;
    host_ScrollLayer(rp->rp_Layer, dx, dy, x0, y0, x1, y1, &exposed);
    if (exposed.MinX > exposed.MaxX) return;
    const Paint p{false, penPixel(rp, rp->BgPen)};
    // Only the uncovered bands: the bounding box may include moved pixels when both deltas are set.
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    withPort(rp, [&](const Target& t) {
        Clip r = t.clip;
        r.intersect(x0, y0, x1, y1);
        if (dy > 0) fillRect(t, r.x0, std::max(r.y0, r.y1 - dy + 1), r.x1, r.y1, p);
        if (dy < 0) fillRect(t, r.x0, r.y0, r.x1, std::min(r.y1, r.y0 - dy - 1), p);
        if (dx > 0) fillRect(t, std::max(r.x0, r.x1 - dx + 1), r.y0, r.x1, r.y1, p);
        if (dx < 0) fillRect(t, r.x0, r.y0, std::min(r.x1, r.x0 - dx - 1), r.y1, p);
    });
}

// ---------------------------------------------------------------------------------------------------
// Text.

namespace {

// Draws a text with the port's pens and mode; rotated: reading upwards from (x, y + width).
LONG drawText(RastPort* rp, host_Font* font, const char* text, ULONG length, bool rotated) {
    if (!rp || !text || !font) return 0;
    // Glyphs are fetched before the layer is locked: the font lock is never taken inside it.
    std::vector<const host_Glyph*> glyphs(length);
    LONG width = 0;
    for (ULONG i = 0; i < length; i++) {
        glyphs[i] = host_FontGlyph(font, UBYTE(text[i]));
        if (glyphs[i]) width += glyphs[i]->advance;
    }
    const LONG height = host_FontHeight(font), ascent = host_FontAscent(font);
    const LONG ox = rp->cp_x, oy = rp->cp_y;
    const uint32_t fg = penPixel(rp, rp->FgPen), bg = penPixel(rp, rp->BgPen);
    const UBYTE mode = rp->DrawMode;
    // Text coordinates (u along the text, v down from its top) to the window.
    auto place = [&](LONG u, LONG v, LONG* x, LONG* y) {
        if (rotated) {
            *x = ox + v;
            *y = oy + width - 1 - u;
        } else {
            *x = ox + u;
            *y = oy + v;
        }
    };
    withPort(rp, [&](const Target& t) {
        if (mode == JAM2 && width > 0) {
            LONG ax, ay, bx, by;
            place(0, 0, &ax, &ay);
            place(width - 1, height - 1, &bx, &by);
            fillRect(t, ax, ay, bx, by, Paint{false, bg});
        }
        LONG pen = 0;
        for (const host_Glyph* g : glyphs) {
            if (!g) continue;
            for (LONG r = 0; r < g->height; r++) {
                for (LONG c = 0; c < g->width; c++) {
                    const ULONG cov = g->coverage[r * g->pitch + c];
                    if (!cov) continue;
                    LONG x, y;
                    place(pen + g->left + c, ascent - g->top + r, &x, &y);
                    if (!t.clip.contains(x, y)) continue;
                    uint32_t& d = t.at(x, y);
                    if (mode == COMPLEMENT) {
                        if (cov >= 128) d ^= 0x00FFFFFF;
                        continue;
                    }
                    // Blend each channel by the coverage; full coverage gives the pen exactly.
                    uint32_t out = 0;
                    for (int shift = 0; shift <= 16; shift += 8) {
                        const ULONG dc = (d >> shift) & 0xFF, fc = (fg >> shift) & 0xFF;
                        out |= ((dc * (255 - cov) + fc * cov + 127) / 255) << shift;
                    }
                    d = out;
                }
            }
            pen += g->advance;
        }
    });
    return width;
}

} // namespace

LONG Text(RastPort* rp, const char* text, ULONG length) {
    if (!rp) return 0;
    const LONG width = drawText(rp, host_InterfaceFont(), text, length, false);
    Move(rp, rp->cp_x + width, rp->cp_y);
    return width;
}

LONG TextLength(RastPort*, const char* text, ULONG length) {
    return host_FontTextWidth(host_InterfaceFont(), text, length);
}

ULONG TextFit(RastPort* rp, const char* text, ULONG count, TextExtent* textExtent, const TextExtent*, LONG,
              ULONG maxWidth, ULONG) {
    host_Font* font = host_InterfaceFont();
    ULONG fit = 0;
    LONG width = 0;
    if (text && font) {
        for (ULONG i = 0; i < count; i++) {
            const host_Glyph* g = host_FontGlyph(font, UBYTE(text[i]));
            const LONG next = width + (g ? g->advance : 0);
            if (next > LONG(std::min<ULONG>(maxWidth, 0x7FFFFFFF))) break;
            width = next;
            fit = i + 1;
        }
    }
    if (textExtent) {
        const LONG height = host_FontHeight(font);
        textExtent->te_Width = UWORD(std::min<LONG>(width, 0xFFFF));
        textExtent->te_Height = UWORD(height);
        textExtent->te_Extent = Rectangle{0, WORD(-host_FontAscent(font)), clampWord(width - 1),
                                          WORD(height - host_FontAscent(font) - 1)};
    }
    return fit;
}

LONG Tal_DrawRotatedText(RastPort* rp, const char* text, ULONG length, LONG angle) {
    if (!rp) return 0;
    host_Font* font = rp->rp_RotatedFont ? rp->rp_RotatedFont : host_InterfaceFont();
    if (angle != 270) return host_FontTextWidth(font, text, length);
    return drawText(rp, font, text, length, true);
}

// ---------------------------------------------------------------------------------------------------
// Pixel blocks.

namespace {

// Copies w × h pixels from a block (read through `pixelAt`, which answers false for pixels it does not
// have) into the port.
template <typename PixelAt>
LONG blit(RastPort* rp, LONG x, LONG y, LONG w, LONG h, PixelAt&& pixelAt) {
    if (!rp || w <= 0 || h <= 0) return 0;
    withPort(rp, [&](const Target& t) {
        Clip c = t.clip;
        c.intersect(x, y, x + w - 1, y + h - 1);
        for (LONG dy = c.y0; dy <= c.y1; dy++)
            for (LONG dx = c.x0; dx <= c.x1; dx++) {
                uint32_t pixel;
                if (pixelAt(dx - x, dy - y, &pixel)) t.at(dx, dy) = pixel;
            }
    });
    return w * h;
}

// The pixel reader of a block of 3- or 4-byte blue, green, red pixels.
auto bgrReader(const UBYTE* data, LONG srcX, LONG srcY, LONG bytesPerRow, LONG bytesPerPixel, LONG blockWidth,
               LONG blockHeight) {
    return [=](LONG i, LONG j, uint32_t* pixel) {
        const LONG sx = srcX + i, sy = srcY + j;
        if (sx < 0 || sy < 0 || sx >= blockWidth || sy >= blockHeight) return false;
        const UBYTE* p = data + ptrdiff_t(sy) * bytesPerRow + ptrdiff_t(sx) * bytesPerPixel;
        *pixel = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        return true;
    };
}

} // namespace

LONG WritePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                     LONG w, LONG h, ULONG format) {
    if (!data || bytesPerRow <= 0 || (format != RECTFMT_BGR && format != RECTFMT_BGRA)) return 0;
    const LONG bpp = format == RECTFMT_BGR ? 3 : 4;
    // The block is as wide as its rows; its height is what the caller asks to copy from srcY on.
    return blit(rp, x, y, w, h,
                bgrReader(static_cast<const UBYTE*>(data), srcX, srcY, bytesPerRow, bpp, bytesPerRow / bpp,
                          srcY + h));
}

LONG WritePixelArray(const void*, LONG srcX, LONG srcY, LONG, RastPort* rp, LONG x, LONG y, LONG w, LONG h,
                     const Tal_VideoData* video) {
    if (!video || !video->bits) return 0;
    const UBYTE* bits = video->bits;
    const LONG rowBytes = LONG(video->bytesPerRow), vw = video->width, vh = video->height;
    const ULONG depth = video->bitsPerPixel;
    if (depth == 24) {
        // The image display's bands: row by row.
        if (!rp || w <= 0 || h <= 0) return 0;
        withPort(rp, [&](const Target& t) {
            Clip c = t.clip;
            c.intersect(x, y, x + w - 1, y + h - 1);
            c.intersect(x - srcX, y - srcY, x - srcX + vw - 1, y - srcY + vh - 1); // the block's own pixels
            for (LONG dy = c.y0; dy <= c.y1; dy++) {
                const UBYTE* p = bits + ptrdiff_t(srcY + dy - y) * rowBytes + ptrdiff_t(srcX + c.x0 - x) * 3;
                uint32_t* d = &t.at(c.x0, dy);
                for (LONG n = c.x1 - c.x0 + 1; n > 0; n--, p += 3)
                    *d++ = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
            }
        });
        return w * h;
    }
    return blit(rp, x, y, w, h, [=](LONG i, LONG j, uint32_t* pixel) {
        const LONG sx = srcX + i, sy = srcY + j;
        if (sx < 0 || sy < 0 || sx >= vw || sy >= vh) return false;
        const UBYTE* row = bits + ptrdiff_t(sy) * rowBytes;
        switch (depth) {
        case 8:
            *pixel = uint32_t(row[sx]) * 0x010101u;
            return true;
        case 16: {
            const uint32_t v = uint32_t(row[2 * sx]) | (uint32_t(row[2 * sx + 1]) << 8);
            const uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
            *pixel = (((r * 255 + 15) / 31) << 16) | (((g * 255 + 31) / 63) << 8) | ((b * 255 + 15) / 31);
            return true;
        }
        case 24:
        case 32: {
            const UBYTE* p = row + ptrdiff_t(sx) * (depth / 8);
            *pixel = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
            return true;
        }
        default:
            return false;
        }
    });
}

LONG ScalePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                     LONG w, LONG h, ULONG format) {
    return WritePixelArray(data, srcX, srcY, bytesPerRow, rp, x, y, w, h, format);
}

LONG MyScalePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                       LONG w, LONG h, ULONG format) {
    return WritePixelArray(data, srcX, srcY, bytesPerRow, rp, x, y, w, h, format);
}

LONG host_WritePixelArrayKeyed(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x,
                               LONG y, LONG w, LONG h, ULONG keyColour) {
    if (!data || bytesPerRow <= 0) return 0;
    const uint32_t key = host_ColourToPixel(keyColour & 0x00FFFFFF);
    auto read =
        bgrReader(static_cast<const UBYTE*>(data), srcX, srcY, bytesPerRow, 3, bytesPerRow / 3, srcY + h);
    return blit(rp, x, y, w, h,
                [&](LONG i, LONG j, uint32_t* pixel) { return read(i, j, pixel) && *pixel != key; });
}

Tal_VideoData* Tal__AllocVideoData(Screen*, LONG width, LONG height, ULONG bitsPerPixel, UBYTE** bits,
                                   ULONG* bytesPerRow) {
    if (bits) *bits = nullptr;
    if (bytesPerRow) *bytesPerRow = 0;
    if (width < 1 || height < 1 || width > 32767 || height > 32767) return nullptr;
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) return nullptr;
    const size_t rowBytes = (size_t(width) * bitsPerPixel / 8 + 3) & ~size_t(3);
    auto* video = static_cast<Tal_VideoData*>(Tal_AllocMemClear(sizeof(Tal_VideoData)));
    if (!video) return nullptr;
    video->bits = static_cast<UBYTE*>(Tal_Calloc(rowBytes, size_t(height)));
    if (!video->bits) {
        Tal_FreeMem(video);
        return nullptr;
    }
    video->width = width;
    video->height = height;
    video->bitsPerPixel = bitsPerPixel;
    video->bytesPerRow = ULONG(rowBytes);
    if (bits) *bits = video->bits;
    if (bytesPerRow) *bytesPerRow = video->bytesPerRow;
    return video;
}

void Tal__FreeVideoData(Tal_VideoData* video) {
    if (!video) return;
    Tal_FreeMem(video->bits);
    Tal_FreeMem(video);
}

// ---------------------------------------------------------------------------------------------------
// Planar bitmaps.

BitMap* AllocBitMap(ULONG width, ULONG height, ULONG depth, ULONG flags) {
    if (width < 1 || height < 1 || width > 32767 || height > 32767 || depth < 1 || depth > 32) return nullptr;
    const size_t bytesPerRow = ((size_t(width) + 31) / 32) * 4;
    const size_t planeBytes = bytesPerRow * height;
    // One block: the record, then the planes (aligned for any use of the data).
    const size_t header = (sizeof(BitMap) + 15) & ~size_t(15);
    auto* block = static_cast<UBYTE*>(Tal_AllocMemClear(header + planeBytes * depth));
    if (!block) return nullptr;
    auto* bm = reinterpret_cast<BitMap*>(block);
    bm->BytesPerRow = UWORD(bytesPerRow);
    bm->Rows = UWORD(height);
    bm->Flags = UBYTE(flags);
    bm->Depth = UBYTE(depth);
    UBYTE* planes = block + header;
    if (depth <= 8)
        for (ULONG i = 0; i < depth; i++) bm->Planes[i] = planes + i * planeBytes;
    else
        bm->Planes[0] = planes;
    return bm;
}

void FreeBitMap(BitMap* bitmap) {
    Tal_FreeMem(bitmap);
}

ULONG GetBitMapAttr(const BitMap* bitmap, ULONG attr) {
    if (!bitmap) return 0;
    switch (attr) {
    case BMA_HEIGHT:
        return bitmap->Rows;
    case BMA_DEPTH:
        return bitmap->Depth;
    case BMA_WIDTH:
        return ULONG(bitmap->BytesPerRow) * 8;
    case BMA_FLAGS:
        return bitmap->Flags;
    default:
        return 0;
    }
}

host_BitmapInfo* alloc_bitmapinfo(const BitMap* bitmap) {
    if (!bitmap) return nullptr;
    auto* info = static_cast<host_BitmapInfo*>(Tal_AllocMemClear(sizeof(host_BitmapInfo)));
    if (!info) return nullptr;
    info->width = LONG(GetBitMapAttr(bitmap, BMA_WIDTH));
    info->height = -LONG(bitmap->Rows);
    info->planes = 1;
    info->bitCount = bitmap->Depth;
    return info;
}

void free_bitmapinfo(host_BitmapInfo* info) {
    Tal_FreeMem(info);
}

ULONG planar_to_chunky(const UBYTE* planes, UBYTE* out, ULONG width, ULONG rows, ULONG depth,
                       ULONG planeStride, ULONG outStride) {
    if (!planes || !out || depth < 1 || depth > 8) return 0;
    const ULONG bytes = (width + 7) / 8;
    if (bytes > planeStride || outStride < width) return 0;
    // Spreads the 4 bits of a nibble into 4 bytes, bit 3 into the first: a whole nibble per lookup.
    static constexpr auto spread = [] {
        std::array<uint32_t, 16> t{};
        for (uint32_t n = 0; n < 16; n++)
            for (uint32_t b = 0; b < 4; b++)
                if (n & (8u >> b)) t[n] |= 1u << (8 * b); // byte b of a little-endian word
        return t;
    }();
    const size_t planeSize = size_t(rows) * planeStride;
    UBYTE group[8];
    for (ULONG row = 0; row < rows; row++) {
        UBYTE* o = out + size_t(row) * outStride;
        for (ULONG byte = 0; byte < bytes; byte++) {
            uint32_t hi = 0, lo = 0;
            for (ULONG k = 0; k < depth; k++) {
                const UBYTE v = planes[k * planeSize + size_t(row) * planeStride + byte];
                hi |= spread[v >> 4] << k;
                lo |= spread[v & 15] << k;
            }
            for (int b = 0; b < 4; b++) {
                group[b] = UBYTE(hi >> (8 * b));
                group[4 + b] = UBYTE(lo >> (8 * b));
            }
            const ULONG n = std::min<ULONG>(8, width - byte * 8); // the last byte may hold fewer pixels
            std::memcpy(o + byte * 8, group, n);
        }
    }
    return 1;
}

// ---------------------------------------------------------------------------------------------------
// Pointer shapes and drawing contexts.

host_Pointer host_PointerForShape(ULONG shape) {
    switch (shape) {
    case 1:
        return host_Pointer::Move;
    case 2:
        return host_Pointer::Busy;
    case 3:
        return host_Pointer::Cross;
    case 4:
        return host_Pointer::TextBeam;
    case 5:
    case 6:
        return host_Pointer::ResizeHorizontal;
    case 7:
    case 8:
        return host_Pointer::ResizeVertical;
    case 9:
    case 12:
        return host_Pointer::ResizeDiagonalDown;
    case 10:
    case 11:
        return host_Pointer::ResizeDiagonalUp;
    default:
        return host_Pointer::Arrow;
    }
}

void host_InitDrawInfo(Tal_DrawInfo* di, RastPort* rp) {
    if (!di) return;
    *di = Tal_DrawInfo{};
    di->rastPort = rp;
    di->screen = rp ? rp->rp_Screen : nullptr;
    di->window = rp ? rp->rp_Window : nullptr;
    di->fontHeight = rp ? rp->TxHeight : host_FontHeight(host_InterfaceFont());
    di->frameWidth = 2;
    di->frameHeight = 2;
    di->backgroundPen = 0;
    di->shadePen = host_DirectPen(0x00A0A0A0);
    di->midGreyPen = host_DirectPen(0x00808080);
    di->reserved3 = 2;
    di->darkGreyPen = host_DirectPen(0x00505050);
}
