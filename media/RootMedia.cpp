// RootMedia: the brush engine. A stroke request (a dab, a straight line or a curve) becomes dabs of the
// brush picture laid into the coverage of a paint layer; in smear mode the dabs drag the picture itself
// along. Lines space their dabs by the brush size and announce the union of what their dabs changed once.
#include "media/Media.h"
#include "Vlr/ImageFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

Tal_Class rootMediaClass;

// Brushes larger than this are refused: a brush picture is made (and filled) at every size change.
constexpr LONG kMaxBrushSide = 4096;

// The dab's pseudo-random numbers: one small generator per dab, seeded from its position, so that a dab
// at the same place always scatters the same way whatever else runs at the same time.
class DabRandom {
  public:
    explicit DabRandom(uint32_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFF;
    }

  private:
    uint32_t state_;
};

Tal_Media* of(void* instance) {
    return static_cast<Tal_Media*>(instance);
}

ULONG outermost(const Tal_Media* self) {
    return Tal_GetTopMostObject(self->header.handle);
}

Tal_Word word(LONG v) {
    return Tal_Word(intptr_t(v));
}

template <typename T>
T* pointer(Tal_Word w) {
    return reinterpret_cast<T*>(w);
}

// A picture of the medium: a kind-0 image without base planes and without a thread.
Tal_Image* newPicture(LONG width, LONG height, LONG depth) {
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    if (image && !Tal_AllocImage(image, width, height, depth, TAL_ALLOC_NO_BASE | TAL_ALLOC_NO_THREAD)) {
        Tal_DisposeObject(image->header.handle);
        image = nullptr;
    }
    return image;
}

void release(Tal_Image*& image) {
    if (image) Tal_DisposeObject(image->header.handle);
    image = nullptr;
}

// Settings change between strokes, never in the middle of one.
template <typename T>
void setField(Tal_Media* self, T& field, T value) {
    SemaphoreGuard guard(&self->lock);
    field = value;
}

Tal_Word nameOrNone(const char* field) {
    return field[0] ? reinterpret_cast<Tal_Word>(field) : 0;
}

// Mode names handed to other threads stay valid for the whole run (there are few of them).
const char* keptModeName(const char* name) {
    static std::mutex lock;
    static std::set<std::string> names;
    std::lock_guard guard(lock);
    return names.insert(name).first->c_str();
}

// ---------------------------------------------------------------------------------------------------
// The brush pictures.

void freeImages(Tal_Media* self) {
    SemaphoreGuard guard(&self->lock);
    release(self->brush_image);
    release(self->smear_image);
    release(self->alpha_image);
}

Tal_Image* makeImages(Tal_Media* self) {
    SemaphoreGuard guard(&self->lock);
    const LONG w = self->width, h = self->height;
    if (!self->brush_image) self->brush_image = newPicture(w, h, self->image_mode ? 24 : 8);
    if (!self->brush_image) return nullptr;
    if (self->smear_mode && !self->smear_image) self->smear_image = newPicture(w + 1, h + 1, 24);
    if (self->master_alpha_image && !self->alpha_image) self->alpha_image = newPicture(w, h, 24);
    return self->brush_image;
}

// The built-in round brush: 255 at the centre falling off with the square of the distance.
void drawRoundBrush(Tal_Image* brush) {
    const LONG w = brush->width, h = brush->height;
    if (w == 1 && h == 1) {
        brush->grey[0][0] = 255;
        return;
    }
    const LONG r = w >> 1;
    const uint32_t r2 = uint32_t(r) * uint32_t(r);
    for (LONG i = 0; i <= (h >> 1) && i < h; i++) {
        UBYTE* row = brush->grey[i];
        for (LONG j = 0; j <= r && j < w; j++) {
            const uint32_t d = uint32_t((r - i) * (r - i) + (r - j) * (r - j));
            if (d >= r2) continue;
            const UBYTE v = UBYTE(255u * (r2 - d) / r2);
            row[j] = v;
            row[w - 1 - j] = v;
        }
        if (h - 1 - i != i) std::memcpy(brush->grey[h - 1 - i], row, size_t(w));
    }
}

void fillImages(Tal_Media* self) {
    SemaphoreGuard guard(&self->lock);
    Tal_Image* brush = self->brush_image;
    if (!brush) return;
    if (!self->master_image) {
        if (brush->depth == 8) drawRoundBrush(brush);
        return;
    }
    if (self->alpha_image && self->master_alpha_image)
        Tal__ScaleImageToImage(self->alpha_image, self->master_alpha_image, 1);
    if (self->width != 1 || brush->depth != 8) {
        Tal__ScaleImageToImage(brush, self->master_image, 1);
        return;
    }
    // A one-pixel coverage brush takes the master's centre (full when the centre is empty).
    const Tal_Image* m = self->master_image;
    UBYTE** plane = m->depth == 24 ? m->green : m->depth == 8 ? m->grey : nullptr;
    const UBYTE v = plane ? plane[m->height / 2][m->width / 2] : 0;
    brush->grey[0][0] = v ? v : 255;
}

// Sizes the brush and rebuilds its pictures through the outermost object.
void setSize(Tal_Media* self, LONG s) {
    if (s > kMaxBrushSide) return;
    SemaphoreGuard guard(&self->lock);
    self->size = s;
    const LONG w = std::max<LONG>(s, 1);
    LONG h = w;
    if (const Tal_Image* m = self->master_image)
        h = LONG(std::clamp<int64_t>(int64_t(w) * m->height / m->width, 1, kMaxBrushSide));
    self->width = w;
    self->height = h;
    const ULONG outer = outermost(self);
    Tal_DoMethod(outer, TAL_FreeMediaImages);
    if (Tal_DoMethod(outer, TAL_MakeMediaImages)) Tal_DoMethod(outer, TAL_FillMediaImage);
}

// A mode change needs other pictures (a smear picture, a 24-bit brush): made now when the brush exists,
// else at the first stroke.
void rebuildAfterModeChange(Tal_Media* self) {
    SemaphoreGuard guard(&self->lock);
    if (!self->brush_image) return;
    const ULONG outer = outermost(self);
    Tal_DoMethod(outer, TAL_FreeMediaImages);
    if (Tal_DoMethod(outer, TAL_MakeMediaImages)) Tal_DoMethod(outer, TAL_FillMediaImage);
}

// Master pictures: loaded from a file (owned) or lent by the caller (borrowed, never freed here).
void dropMaster(Tal_Image*& image, bool& owned) {
    if (owned) release(image);
    image = nullptr;
    owned = false;
}

Tal_Image* loadMaster(Tal_Media* self, const char* name, bool alpha) {
    SemaphoreGuard guard(&self->lock);
    char(&field)[TAL_MEDIA_NAME_SIZE] = alpha ? self->master_alpha_image_name : self->master_image_name;
    if (!Tal__CopyField(field, sizeof field, name)) return nullptr;
    Tal_Image*& image = alpha ? self->master_alpha_image : self->master_image;
    bool& owned = alpha ? self->alpha_owned : self->master_owned;
    dropMaster(image, owned);
    if (!field[0]) return nullptr;
    image = Tal__LoadImageA(field, 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY, nullptr);
    owned = image != nullptr;
    return image;
}

void lendMaster(Tal_Media* self, Tal_Image* given, bool alpha) {
    SemaphoreGuard guard(&self->lock);
    Tal_Image*& image = alpha ? self->master_alpha_image : self->master_image;
    bool& owned = alpha ? self->alpha_owned : self->master_owned;
    if (image == given) return;
    dropMaster(image, owned);
    image = given;
    (alpha ? self->master_alpha_image_name : self->master_image_name)[0] = 0;
}

Tal_Word setModeName(Tal_Media* self, const char* name) {
    if (!name) name = "";
    // A layer's mode name field is the limit: a longer name could never be taken.
    if (std::strlen(name) >= TAL_NAME_FIELD) return 0;
    {
        SemaphoreGuard guard(&self->lock);
        Tal__CopyField(self->mode_name, sizeof self->mode_name, name);
    }
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base || !name[0]) return 0;
    const char* kept = keptModeName(name);
    SemaphoreGuard guard(&base->listLock);
    if (Tal_Image* active = base->active_image)
        if (active->paint_layer) Tal_DoAsyncImageMethod(active->paint_layer, TAL_SetLayerMode, kept);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// Dabs.

LONG strength(const Tal_Media* self, Tal_Word tablet) {
    LONG g = self->pressure;
    if (const auto* pen = pointer<const TalTabletData>(tablet))
        g = std::min<LONG>(255, g * LONG(pen->word >> 24) / 255);
    return g;
}

// The brush's coverage values of one row (the green plane of a 24-bit brush).
const UBYTE* brushRow(const Tal_Image* brush, LONG row) {
    return brush->depth == 8 ? brush->grey[row] : brush->green[row];
}

void addRow(UBYTE* __restrict cov, const UBYTE* __restrict brush, uint32_t g, LONG n) {
    for (LONG i = 0; i < n; i++) {
        const uint32_t v = cov[i] + ((g * brush[i]) >> 8);
        cov[i] = UBYTE(v > 255 ? 255 : v);
    }
}

void subtractRow(UBYTE* __restrict cov, const UBYTE* __restrict brush, uint32_t g, LONG n) {
    for (LONG i = 0; i < n; i++) {
        const uint32_t take = (g * brush[i]) >> 8;
        cov[i] = UBYTE(cov[i] > take ? cov[i] - take : 0);
    }
}

// Paper texture: bright areas of the texture take less paint.
void addTexturedRow(UBYTE* cov, const UBYTE* brush, const UBYTE* texture, LONG textureWidth, LONG column,
                    uint32_t g, LONG n) {
    for (LONG i = 0; i < n; i++) {
        const LONG t = texture[(column + i) % textureWidth];
        const LONG b = std::max<LONG>(0, brush[i] - std::max<LONG>(0, t - 127));
        const uint32_t v = cov[i] + ((g * uint32_t(b)) >> 8);
        cov[i] = UBYTE(v > 255 ? 255 : v);
    }
}

// The auxiliary image of the top image, which serves as paper texture: its green (or grey) plane.
struct Texture {
    UBYTE** plane = nullptr;
    LONG width = 0, height = 0;
};
Texture textureOf(const Tal_Image* top) {
    Texture t;
    if (!top || !top->extra_image) return t;
    const auto* image = static_cast<const Tal_Image*>(Tal_GetObjectInstance(top->extra_image));
    if (!image || image->alloc_state.load() != 1) return t;
    t.plane = image->depth == 24 ? image->green : image->depth == 8 ? image->grey : nullptr;
    t.width = image->width;
    t.height = image->height;
    return t;
}

void smearDab(Tal_Media* self, Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x, LONG y,
              Tal_Word tablet) {
    const LONG g = std::min<LONG>(strength(self, tablet), 255);
    Tal_Image* holder = layer;
    while (holder->kind == TAL_FLOATING_IMAGE && holder->current_layer) holder = holder->current_layer;
    Tal_Image* picture = holder->parent ? holder->parent : top;
    const Tal_Image* brush = self->brush_image;
    Tal_Image* smear = self->smear_image;
    if (!picture || picture->alloc_state.load() != 1 || !smear) return;
    UBYTE** work[3] = {picture->red, picture->green, picture->blue};
    UBYTE** base[3] = {picture->base_red, picture->base_green, picture->base_blue};
    int channels = 3;
    if (picture->depth == 8) {
        work[0] = picture->grey;
        base[0] = picture->base_grey;
        channels = 1;
    } else if (picture->depth != 24) {
        return;
    }
    for (int c = 0; c < channels; c++)
        if (!work[c]) return;

    // The dab's rectangle in the picture, half-open, within the layer and the picture.
    const LONG w = self->width, h = self->height;
    const LONG lx = holder->layer_x, ly = holder->layer_y;
    const LONG left0 = x + lx - w / 2, top0 = y + ly - h / 2;
    const LONG l = std::max({left0, lx, LONG(0)}), t = std::max({top0, ly, LONG(0)});
    const LONG r = std::min({left0 + w, lx + holder->width, picture->width});
    const LONG b = std::min({top0 + h, ly + holder->height, picture->height});
    if (l >= r || t >= b) return;
    if (self->smear_mode == 2) {
        Tal_ModifiedLayer(holder, l - lx, t - ly, r - 1 - lx, b - 1 - ly);
        Tal_ProcessLayer(holder, l - lx, t - ly, r - 1 - lx, b - 1 - ly);
    }
    picture->restore_pending++;
    const LONG n = r - l, o = l - left0;
    if (kind == 1) {
        // Pick up the picture around the previous dab (edges repeat), then drag it here.
        UBYTE** held[3] = {smear->red, smear->green, smear->blue};
        const LONG pl = self->last_x + lx - w / 2, pt = self->last_y + ly - h / 2;
        for (int c = 0; c < channels; c++)
            for (LONG i = 0; i < h; i++) {
                const UBYTE* from = work[c][std::clamp<LONG>(pt + i, 0, picture->height - 1)];
                UBYTE* to = held[c][i];
                for (LONG j = 0; j < w; j++) to[j] = from[std::clamp<LONG>(pl + j, 0, picture->width - 1)];
            }
        for (LONG py = t; py < b; py++) {
            const LONG i = py - top0;
            const UBYTE* coverage = brushRow(brush, i) + o;
            for (int c = 0; c < channels; c++) {
                UBYTE* out = work[c][py] + l;
                const UBYTE* from = held[c][i] + o;
                for (LONG j = 0; j < n; j++) {
                    const int s = (g * coverage[j]) >> 8;
                    out[j] = UBYTE(out[j] + (((from[j] - out[j]) * s * 257 + 257) >> 16));
                }
            }
        }
    } else {
        // Wiping restores the unpainted picture through the brush.
        for (int c = 0; c < channels; c++)
            if (!base[c]) return;
        for (LONG py = t; py < b; py++)
            for (int c = 0; c < channels; c++)
                MergeDataViaAlphaAndTrans(work[c][py] + l, base[c][py] + l, brushRow(brush, py - top0) + o, g,
                                          n);
    }
    Tal__NoteMediaChange(self, picture, l, t, r - 1, b - 1);
    if (!(flags & TAL_STROKE_QUIET)) Tal_ModifiedImageData(picture, l, t, r - 1, b - 1);
}

void dab(Tal_Media* self, Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x, LONG y,
         Tal_Word tablet) {
    const Tal_Image* brush = self->brush_image;
    if (!brush || !layer) return;
    if (self->smear_mode) {
        smearDab(self, top, layer, kind, flags, x, y, tablet);
        return;
    }
    const LONG g = strength(self, tablet);
    DabRandom random(uint32_t(x) * uint32_t(y));
    // A medium built on this engine scatters its dabs: widely at light pressure, hardly at full.
    if (self->header.outerObject) {
        const uint32_t m = std::max<uint32_t>(1, uint32_t(self->width * 2) / uint32_t(std::max<LONG>(g, 1)));
        x += LONG(random.next() % m) - LONG(m / 2);
        y += LONG(random.next() % m) - LONG(m / 2);
    }
    if (self->jitter) {
        const uint32_t jx = uint32_t(std::max<LONG>(1, self->width * self->jitter / 100));
        const uint32_t jy = uint32_t(std::max<LONG>(1, self->height * self->jitter / 100));
        x += LONG(random.next() % jx) - LONG(jx / 2);
        y += LONG(random.next() % jy) - LONG(jy / 2);
    }
    // The 24-bit brush of image mode is stamped by the image medium, not here.
    if (self->image_mode) return;
    Tal_Image* target = layer->kind == TAL_FLOATING_IMAGE ? layer->current_layer : layer;
    if (!target || target->depth != 8 || !target->grey || target->alloc_state.load() != 1) return;

    const LONG left = x - self->width / 2, top0 = y - self->height / 2;
    const LONG right = left + self->width - 1, bottom = top0 + self->height - 1;
    const LONG r = std::clamp<LONG>(right, 0, target->width - 1);
    const LONG b = std::clamp<LONG>(bottom, 0, target->height - 1);
    if (r < left || b < top0 || r <= 0 || b <= 0) return;
    const LONG l = std::clamp<LONG>(left, 0, target->width - 1);
    const LONG t = std::clamp<LONG>(top0, 0, target->height - 1);
    const LONG n = r - l + 1;
    const Texture texture = kind == 1 ? textureOf(top) : Texture{};
    for (LONG py = t; py <= b; py++) {
        const UBYTE* values = brushRow(brush, py - top0) + (l - left);
        UBYTE* cov = target->grey[py] + l;
        if (kind != 1)
            subtractRow(cov, values, uint32_t(g), n);
        else if (texture.plane)
            addTexturedRow(cov, values, texture.plane[py % texture.height], texture.width, l, uint32_t(g), n);
        else
            addRow(cov, values, uint32_t(g), n);
    }
    // The painted extents always cover the paint; only the announcement is left to a quiet caller.
    Tal_ModifiedLayer(target, l, t, r, b);
    Tal__NoteMediaChange(self, target, l, t, r, b);
    if (!(flags & TAL_STROKE_QUIET)) Tal_ModifiedImageData(target, l, t, r, b);
}

void sendDab(ULONG medium, Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x, LONG y,
             Tal_Word tablet) {
    Tal_DoMethod(medium, TAL_MediaStroke, TAL_MEDIA_DAB, top, layer, kind, flags, x, y, tablet);
}

// ---------------------------------------------------------------------------------------------------
// Lines and curves.

struct Changed {
    bool any;
    Tal_Image* in;
    LONG x0, y0, x1, y1;
};

Changed takeChanged(Tal_Media* self) {
    Changed c{self->changed_any, self->changed_in, self->changed_x0,
              self->changed_y0,  self->changed_x1, self->changed_y1};
    self->changed_any = false;
    self->changed_in = nullptr;
    return c;
}

// Marks and announces what a line's dabs changed: coverage on the layer (and on the floating image's
// paint layer the dabs went to), picture changes on the picture.
void announce(Tal_Image* layer, const Changed& c) {
    if (!c.any || !c.in) return;
    if (c.in->kind == TAL_IMAGE || (c.in->kind == TAL_FLOATING_IMAGE && c.in != layer)) {
        Tal_ModifiedImageData(c.in, c.x0, c.y0, c.x1, c.y1);
        return;
    }
    Tal_ModifiedLayer(layer, c.x0, c.y0, c.x1, c.y1);
    if (c.in != layer) Tal_ModifiedImageData(c.in, c.x0, c.y0, c.x1, c.y1);
    Tal_ModifiedImageData(layer, c.x0, c.y0, c.x1, c.y1);
}

void drawLine(Tal_Media* self, Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x0, LONG y0,
              LONG x1, LONG y1, Tal_Word tablet) {
    const ULONG outer = outermost(self);
    const LONG dx = x1 - x0, dy = y1 - y0;
    if (dx == 0 && dy == 0) {
        sendDab(outer, top, layer, kind, flags, x0, y0, tablet);
        return;
    }
    SemaphoreGuard guard(&self->lock);
    const Changed enclosing = takeChanged(self);
    const LONG step = std::max<LONG>(1, self->size / 24);
    const ULONG quiet = flags | TAL_STROKE_QUIET;
    const LONG adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    // The minor coordinate is carried with five fraction bits.
    if (adx >= ady) {
        const LONG dir = dx >= 0 ? 1 : -1;
        const LONG inc = step * ((dy * 32) / adx);
        LONG fy = y0 * 32;
        for (LONG walked = 0, x = x0; walked < adx; walked += step, x += dir * step, fy += inc)
            sendDab(outer, top, layer, kind, quiet, x, fy >> 5, tablet);
    } else {
        const LONG dir = dy >= 0 ? 1 : -1;
        const LONG inc = step * ((dx * 32) / ady);
        LONG fx = x0 * 32;
        for (LONG walked = 0, y = y0; walked < ady; walked += step, y += dir * step, fx += inc)
            sendDab(outer, top, layer, kind, quiet, fx >> 5, y, tablet);
    }
    const Changed c = takeChanged(self);
    // An enclosing line hears of these changes too.
    if (enclosing.any)
        Tal__NoteMediaChange(self, enclosing.in, enclosing.x0, enclosing.y0, enclosing.x1, enclosing.y1);
    if (c.any) Tal__NoteMediaChange(self, c.in, c.x0, c.y0, c.x1, c.y1);
    if (!(flags & TAL_STROKE_QUIET)) announce(layer, c);
}

void drawCurve(Tal_Media* self, Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x0, LONG y0,
               LONG xm, LONG ym, LONG x2, LONG y2, Tal_Word tablet) {
    // The control point that makes the curve pass through (xm, ym) at its middle.
    const LONG cx = 2 * xm - (x0 + x2) / 2, cy = 2 * ym - (y0 + y2) / 2;
    const ULONG along = flags | TAL_STROKE_ALONG_LINE;
    LONG px = x0, py = y0;
    for (int i = 0; i < 20; i++) {
        const float t = float(i) * 0.05f;
        const float b0 = (1.0f - t) * (1.0f - t), b1 = 2.0f * t * (1.0f - t), b2 = t * t;
        const LONG x = LONG(b0 * float(x0)) + LONG(b1 * float(cx)) + LONG(b2 * float(x2));
        const LONG y = LONG(b0 * float(y0)) + LONG(b1 * float(cy)) + LONG(b2 * float(y2));
        if (i > 0) drawLine(self, top, layer, kind, along, px, py, x, y, tablet);
        px = x;
        py = y;
    }
    drawLine(self, top, layer, kind, along, px, py, x2, y2, tablet);
}

Tal_Word stroke(Tal_Media* self, const Tal_Word* args) {
    const ULONG request = ULONG(args[0]);
    if (request != TAL_MEDIA_LINE && request != TAL_MEDIA_CURVE && request != TAL_MEDIA_DAB) {
        // The end of a stroke: the next stroke starts afresh.
        SemaphoreGuard guard(&self->lock);
        self->last_stroke_kind = 0;
        return 0;
    }
    Tal_Image* top = pointer<Tal_Image>(args[1]);
    Tal_Image* layer = pointer<Tal_Image>(args[2]);
    const LONG kind = LONG(args[3]);
    const ULONG flags = ULONG(args[4]);
    const LONG x0 = LONG(args[5]), y0 = LONG(args[6]);
    SemaphoreGuard guard(&self->lock);
    if (!self->brush_image) setSize(self, self->width);
    if (!self->brush_image) return 0;
    if (kind != self->last_stroke_kind) {
        self->last_stroke_kind = kind;
        self->last_x = x0;
        self->last_y = y0;
    }
    if (kind == 0) return 0;
    switch (request) {
    case TAL_MEDIA_LINE: {
        const LONG x1 = LONG(args[7]), y1 = LONG(args[8]);
        if (self->freehand_mode || (flags & TAL_STROKE_ALONG_LINE)) {
            drawLine(self, top, layer, kind, flags, x0, y0, x1, y1, args[9]);
        } else {
            // Only the end point gets a dab; a smear drags from the start.
            self->last_x = x0;
            self->last_y = y0;
            sendDab(outermost(self), top, layer, kind, flags, x1, y1, args[9]);
        }
        break;
    }
    case TAL_MEDIA_CURVE:
        drawCurve(self, top, layer, kind, flags, x0, y0, LONG(args[7]), LONG(args[8]), LONG(args[9]),
                  LONG(args[10]), args[11]);
        break;
    default:
        dab(self, top, layer, kind, flags, x0, y0, args[7]);
        // Smear picks up where this dab was.
        self->last_x = x0;
        self->last_y = y0;
        break;
    }
    return 1;
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
#define PAIR(set, get, setName, getName, format)                                                             \
    ENTRY(set, setName, TAL_METHOD_SETTER, get, format, nullptr),                                            \
        ENTRY(get, getName, TAL_METHOD_GETTER, set, nullptr, format)
// A stored medium writes its attributes in this order: the size last, since only the size rebuilds the
// brush from the master pictures and modes set before it.
const Tal_MethodEntry rootMediaMethods[] = {
    PAIR(TAL_SetMediaPressure, TAL_GetMediaPressure, "Tal_SetMediaPressure", "Tal_GetMediaPressure", "%ld"),
    PAIR(TAL_SetMasterMediaImageName, TAL_GetMasterMediaImageName, "Tal_SetMasterMediaImageName",
         "Tal_GetMasterMediaImageName", "%s"),
    PAIR(TAL_SetMasterMediaAlphaImageName, TAL_GetMasterMediaAlphaImageName,
         "Tal_SetMasterMediaAlphaImageName", "Tal_GetMasterMediaAlphaImageName", "%s"),
    PAIR(TAL_SetMediaFreehandMode, TAL_GetMediaFreehandMode, "Tal_SetMediaFreehandMode",
         "Tal_GetMediaFreehandMode", "%ld"),
    PAIR(TAL_SetMediaSmearMode, TAL_GetMediaSmearMode, "Tal_SetMediaSmearMode", "Tal_GetMediaSmearMode",
         "%ld"),
    PAIR(TAL_SetMediaImageMode, TAL_GetMediaImageMode, "Tal_SetMediaImageMode", "Tal_GetMediaImageMode",
         "%ld"),
    PAIR(TAL_SetMediaJitter, TAL_GetMediaJitter, "Tal_SetMediaJitter", "Tal_GetMediaJitter", "%ld"),
    PAIR(TAL_SetMediaFlags, TAL_GetMediaFlags, "Tal_SetMediaFlags", "Tal_GetMediaFlags", "%ld"),
    PAIR(TAL_SetMediaModeName, TAL_GetMediaModeName, "Tal_SetMediaModeName", "Tal_GetMediaModeName", "%s"),
    PAIR(TAL_SetMediaSize, TAL_GetMediaSize, "Tal_SetMediaSize", "Tal_GetMediaSize", "%ld"),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef PAIR
#undef ENTRY

} // namespace

Tal_Media* Tal__GetMedia(ULONG handle) {
    for (int step = 0; handle && step < 16; step++) {
        auto* object = static_cast<Tal_Object*>(Tal_GetObjectInstance(handle));
        if (!object) return nullptr;
        if (object->objClass == &rootMediaClass) return static_cast<Tal_Media*>(static_cast<void*>(object));
        handle = object->superObject;
    }
    return nullptr;
}

void Tal__NoteMediaChange(Tal_Media* media, Tal_Image* where, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!media || !where) return;
    SemaphoreGuard guard(&media->lock);
    if (!media->changed_any) {
        media->changed_any = true;
        media->changed_in = where;
        media->changed_x0 = x0;
        media->changed_y0 = y0;
        media->changed_x1 = x1;
        media->changed_y1 = y1;
        return;
    }
    media->changed_x0 = std::min(media->changed_x0, x0);
    media->changed_y0 = std::min(media->changed_y0, y0);
    media->changed_x1 = std::max(media->changed_x1, x1);
    media->changed_y1 = std::max(media->changed_y1, y1);
}

void Tal__DrawMediaLine(Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x0, LONG y0, LONG x1,
                        LONG y1, Tal_Word tablet) {
    if (Tal_Media* media = top ? Tal__GetMedia(top->media) : nullptr)
        drawLine(media, top, layer, kind, flags, x0, y0, x1, y1, tablet);
}

void Tal__DrawMediaCurve(Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x0, LONG y0, LONG xm,
                         LONG ym, LONG x2, LONG y2, Tal_Word tablet) {
    if (Tal_Media* media = top ? Tal__GetMedia(top->media) : nullptr)
        drawCurve(media, top, layer, kind, flags, x0, y0, xm, ym, x2, y2, tablet);
}

void* Tal_NewRootMediaClass(const TagItem*) {
    auto* self = static_cast<Tal_Media*>(Tal_AllocObjectMem(&rootMediaClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("Root");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    self->width = self->height = 70;
    self->pressure = 20;
    InitSemaphore(&self->lock);
    return self;
}

void Tal_DisposeRootMediaClass(void* instance) {
    Tal_Media* self = of(instance);
    // The outer objects are going away themselves: the pictures are freed here directly.
    freeImages(self);
    dropMaster(self->master_image, self->master_owned);
    dropMaster(self->master_alpha_image, self->alpha_owned);
    Tal_DisposeObject(self->header.superObject);
    CleanupSemaphore(&self->lock);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoRootMediaClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    Tal_Media* self = of(instance);
    switch (id) {
    case TAL_MediaStroke:
        return stroke(self, args);
    case TAL_SetMediaSize:
        setSize(self, LONG(args[0]));
        return 0;
    case TAL_GetMediaSize:
        return word(self->size);
    case TAL_SetMediaPressure:
        setField(self, self->pressure, UWORD(args[0]));
        return 0;
    case TAL_GetMediaPressure:
        return self->pressure;
    case TAL_SetMasterMediaImageName:
    case TAL_SetMasterMediaAlphaImageName:
        return reinterpret_cast<Tal_Word>(
            loadMaster(self, pointer<const char>(args[0]), id == TAL_SetMasterMediaAlphaImageName));
    case TAL_GetMasterMediaImageName:
        return nameOrNone(self->master_image_name);
    case TAL_GetMasterMediaAlphaImageName:
        return nameOrNone(self->master_alpha_image_name);
    case TAL_SetMasterMediaImage:
    case TAL_SetMasterMediaAlphaImage:
        lendMaster(self, pointer<Tal_Image>(args[0]), id == TAL_SetMasterMediaAlphaImage);
        return 0;
    case TAL_SetMediaBrushImage: {
        // The medium takes the picture over: it is freed with the other brush pictures.
        SemaphoreGuard guard(&self->lock);
        if (self->brush_image != pointer<Tal_Image>(args[0])) release(self->brush_image);
        self->brush_image = pointer<Tal_Image>(args[0]);
        return 0;
    }
    case TAL_GetMediaBrushImage:
        return reinterpret_cast<Tal_Word>(self->brush_image);
    case TAL_MakeMediaImages:
        return reinterpret_cast<Tal_Word>(makeImages(self));
    case TAL_FreeMediaImages:
        freeImages(self);
        return 1;
    case TAL_FillMediaImage:
        fillImages(self);
        return 1;
    case TAL_SetMediaFreehandMode:
        setField(self, self->freehand_mode, LONG(args[0]));
        return 0;
    case TAL_GetMediaFreehandMode:
        return word(self->freehand_mode);
    case TAL_SetMediaSmearMode:
    case TAL_SetMediaImageMode: {
        LONG& mode = id == TAL_SetMediaSmearMode ? self->smear_mode : self->image_mode;
        SemaphoreGuard guard(&self->lock);
        if (mode != LONG(args[0])) {
            mode = LONG(args[0]);
            rebuildAfterModeChange(self);
        }
        return 0;
    }
    case TAL_GetMediaSmearMode:
        return word(self->smear_mode);
    case TAL_GetMediaImageMode:
        return word(self->image_mode);
    case TAL_SetMediaJitter:
        setField(self, self->jitter, LONG(args[0]));
        return 0;
    case TAL_GetMediaJitter:
        return word(self->jitter);
    case TAL_GetMediaWidth:
        return word(self->width);
    case TAL_GetMediaHeight:
        return word(self->height);
    case TAL_SetMediaFlags:
        setField(self, self->flags, LONG(args[0]));
        return 0;
    case TAL_GetMediaFlags:
        return word(self->flags);
    case TAL_SetMediaModeName:
        return setModeName(self, pointer<const char>(args[0]));
    case TAL_GetMediaModeName:
        return nameOrNone(self->mode_name);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitRootMediaClass() {
    return Tal__SetupClass(&rootMediaClass, "RootMedia", TAL_ROOT_MEDIA_CLASS, "Root", Tal_NewRootMediaClass,
                           Tal_DisposeRootMediaClass, Tal_DoRootMediaClassMethod, rootMediaMethods,
                           sizeof(Tal_Media));
}

void Tal_CleanupRootMediaClass() {
    Tal__CleanupClass(&rootMediaClass);
}
