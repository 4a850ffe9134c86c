// Change tracking: announcements and painted extents, the copies between working and base planes,
// pending mode and colour changes, fixing, and the protocol by which an image changes its size.
#include "ui/ui.h"
#include "Vlr/Vlr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void storeExtent(LONG* p, LONG v) {
    __atomic_store_n(p, v, __ATOMIC_RELAXED);
}
LONG loadExtent(const LONG* p) {
    return __atomic_load_n(p, __ATOMIC_RELAXED);
}

// Clamps a rectangle to 0..w − 1, 0..h − 1; false when nothing of it lies inside.
bool clampRect(LONG w, LONG h, LONG& x0, LONG& y0, LONG& x1, LONG& y1) {
    if (x1 < 0 || y1 < 0 || x0 > w - 1 || y0 > h - 1 || x1 < x0 || y1 < y0) return false;
    x0 = std::max<LONG>(x0, 0);
    y0 = std::max<LONG>(y0, 0);
    x1 = std::min<LONG>(x1, w - 1);
    y1 = std::min<LONG>(y1, h - 1);
    return true;
}

thread_local bool overrideActive = false;
thread_local LONG overrideValue = 0;

} // namespace

// ---------------------------------------------------------------------------------------------------
// Live redo.

LONG Tal__LiveRedo() {
    if (overrideActive) return overrideValue;
    Tal_ImageBase* base = Tal_GetImageBase();
    return base ? base->live_redo.load() : 0;
}

Tal_LiveRedoOverride::Tal_LiveRedoOverride(LONG value) : saved_(overrideValue), hadOverride_(overrideActive) {
    overrideActive = true;
    overrideValue = value;
}

Tal_LiveRedoOverride::~Tal_LiveRedoOverride() {
    overrideActive = hadOverride_;
    overrideValue = saved_;
}

// ---------------------------------------------------------------------------------------------------
// Announcements.

void Tal__AnnounceImageChange(Tal_Image* image, ULONG type, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!image || image->notify_hold.load() > 0) return;
    if (!clampRect(image->width, image->height, x0, y0, x1, y1)) return;
    Tal_DoImageNotify(image, TAL_ImageDataChanged, type, image, x0, y0, x1, y1, 0, 0);
}

void Tal_ModifiedLayer(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!layer || !layer->row_min_x || !layer->row_max_x) return;
    if (!clampRect(layer->width, layer->height, x0, y0, x1, y1)) return;
    for (LONG y = y0; y <= y1; y++) {
        if (x0 < loadExtent(&layer->row_min_x[y])) storeExtent(&layer->row_min_x[y], x0);
        if (x1 > loadExtent(&layer->row_max_x[y])) storeExtent(&layer->row_max_x[y], x1);
    }
}

void Tal_ModifiedImageData(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!image || image->notify_hold.load() > 0) return;
    if (!clampRect(image->width, image->height, x0, y0, x1, y1)) return;
    if (image->kind != TAL_IMAGE) Tal_ModifiedLayer(image, x0, y0, x1, y1);
    Tal_DoImageNotify(image, TAL_ImageDataChanged, TAL_CHANGE_REGION, image, x0, y0, x1, y1, 0, 0);
}

void Tal_ModifiedAllImageData(Tal_Image* image) {
    if (!image || image->notify_hold.load() > 0) return;
    LONG x1 = image->width - 1, y1 = image->height - 1;
    if (image->kind != TAL_IMAGE) Tal_ModifiedLayer(image, 0, 0, x1, y1);
    Tal_DoImageNotify(image, TAL_ImageDataChanged, TAL_CHANGE_ALL, image, 0, 0, x1, y1, 0, 0);
}

void Tal_ModifiedImageFormat(Tal_Image* image) {
    if (!image || image->notify_hold.load() > 0) return;
    Tal_DoImageNotify(image, TAL_ImageDataChanged, TAL_CHANGE_FORMAT, image, 0, 0, image->width - 1,
                      image->height - 1, 0, 0);
}

void Tal__RedrawInViews(Tal_Image* image, ULONG type, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!image || image->alloc_state.load() != 1) return;
    if (!clampRect(image->width, image->height, x0, y0, x1, y1)) return;
    for (Tal_ImageNode* n : ListNodes<Tal_ImageNode>(&image->views))
        Tal_DoMethod(Tal_GetImageViewHandle(static_cast<Tal_ImageView*>(n->owner)), TAL_ImageDataChanged,
                     type, image, x0, y0, x1, y1, 0, 0);
}

void Tal_RedrawLayerChanges(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!layer || !layer->parent) return;
    Tal__RedrawInViews(layer->parent, TAL_CHANGE_REGION, x0 + layer->layer_x, y0 + layer->layer_y,
                       x1 + layer->layer_x, y1 + layer->layer_y);
}

void Tal_FullRedrawLayerChanges(Tal_Image* layer) {
    if (layer) Tal_RedrawLayerChanges(layer, 0, 0, layer->width - 1, layer->height - 1);
}

// ---------------------------------------------------------------------------------------------------
// Copies between working and base planes.

namespace {

struct PlaneSet {
    UBYTE** p[3];
    int count;
};

PlaneSet workingPlanes(Tal_Image* image) {
    if (image->depth == 24) return {{image->red, image->green, image->blue}, image->red ? 3 : 0};
    if (image->depth == 8) return {{image->grey}, image->grey ? 1 : 0};
    return {{}, 0};
}

PlaneSet basePlanes(Tal_Image* image) {
    if (image->depth == 24)
        return {{image->base_red, image->base_green, image->base_blue}, image->base_red ? 3 : 0};
    if (image->depth == 8) return {{image->base_grey}, image->base_grey ? 1 : 0};
    return {{}, 0};
}

// Sizes of the two plane sets: between Begin and End of a resize the working planes have the new
// size and the base planes (or the parked old planes) the old one.
void workingSize(const Tal_Image* image, LONG& w, LONG& h) {
    w = image->resizing ? image->new_width : image->width;
    h = image->resizing ? image->new_height : image->height;
}

// Clips the source rectangle and the destination point so that both fit their planes. Starts are
// clamped each on its own side (a crop passes a source start left of 0 and the margin as destination).
bool clipCopy(LONG srcW, LONG srcH, LONG dstW, LONG dstH, LONG& x0, LONG& y0, LONG& x1, LONG& y1, LONG& dx,
              LONG& dy) {
    if (x1 < x0 || y1 < y0) return false;
    x0 = std::clamp<LONG>(x0, 0, srcW - 1);
    y0 = std::clamp<LONG>(y0, 0, srcH - 1);
    x1 = std::min<LONG>(x1, srcW - 1);
    y1 = std::min<LONG>(y1, srcH - 1);
    dx = std::clamp<LONG>(dx, 0, dstW - 1);
    dy = std::clamp<LONG>(dy, 0, dstH - 1);
    x1 = std::min<LONG>(x1, x0 + (dstW - dx) - 1);
    y1 = std::min<LONG>(y1, y0 + (dstH - dy) - 1);
    return x1 >= x0 && y1 >= y0;
}

void copyPlanes(const PlaneSet& from, const PlaneSet& to, LONG x0, LONG y0, LONG x1, LONG y1, LONG dx,
                LONG dy) {
    size_t n = size_t(x1 - x0 + 1);
    for (int p = 0; p < from.count; p++)
        for (LONG y = y0; y <= y1; y++) std::memmove(to.p[p][dy + (y - y0)] + dx, from.p[p][y] + x0, n);
}

} // namespace

void Tal_CopyImageToUndoData(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, LONG dx, LONG dy) {
    if (!image) return;
    PlaneSet base = basePlanes(image), work = workingPlanes(image);
    if (!base.count || base.count != work.count) return;
    LONG ww, wh;
    workingSize(image, ww, wh);
    if (!clipCopy(ww, wh, image->width, image->height, x0, y0, x1, y1, dx, dy)) return;
    copyPlanes(work, base, x0, y0, x1, y1, dx, dy);
}

void Tal_CopyUndoToImageData(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, LONG dx, LONG dy) {
    if (!image) return;
    PlaneSet base = basePlanes(image), work = workingPlanes(image);
    if (!base.count || base.count != work.count) return;
    LONG ww, wh;
    workingSize(image, ww, wh);
    if (!clipCopy(image->width, image->height, ww, wh, x0, y0, x1, y1, dx, dy)) return;
    copyPlanes(base, work, x0, y0, x1, y1, dx, dy);
}

// ---------------------------------------------------------------------------------------------------
// Pending changes.

ULONG Tal_LayerNeedsFixing(Tal_Image* layer) {
    if (!layer) return 0;
    layer->fix_count++;
    if (Tal__LiveRedo() || (layer->kind == TAL_PAINT_LAYER && prev_layer(layer))) {
        Tal_RedoLayerChanges(layer);
        return 1;
    }
    return 0;
}

namespace {

// A layer's mode slots and colour change under the compose lock of the image that composes the layer,
// so that no composition is inside a mode when it leaves its slot; the mode taken out of use is
// disposed after the lock is released.
class ModeSlotsGuard {
  public:
    explicit ModeSlotsGuard(Tal_Image* layer) : image_(layer->parent) {
        if (image_) ObtainSemaphore(&image_->compose_lock);
    }
    ~ModeSlotsGuard() {
        if (image_) ReleaseSemaphore(&image_->compose_lock);
    }
    ModeSlotsGuard(const ModeSlotsGuard&) = delete;
    ModeSlotsGuard& operator=(const ModeSlotsGuard&) = delete;

  private:
    Tal_Image* image_;
};

// The pending mode goes into use; the mode it replaces (0 when nothing was pending).
ULONG promotePendingMode(Tal_Image* layer) {
    if (!layer->pending_mode) return 0;
    ULONG old = layer->mode;
    layer->mode = layer->pending_mode;
    layer->pending_mode = 0;
    std::memcpy(layer->mode_name, layer->pending_mode_name, sizeof layer->mode_name);
    return old;
}

} // namespace

void Tal_DoLayerDoesntNeedsFixing(Tal_Image* layer) {
    if (!layer) return;
    Tal_Image* parent = layer->parent;
    bool locked = parent && Tal_LockImageA(parent, TAL_LOCK_EXCLUSIVE, 0);
    ULONG oldMode;
    {
        ModeSlotsGuard slots(layer);
        oldMode = promotePendingMode(layer);
        std::memcpy(layer->layer_colour, layer->pending_colour, 3);
    }
    layer->fix_count = 0;
    if (parent && parent->kind == TAL_FLOATING_IMAGE) parent->fix_count = 0;
    if (locked) Tal_UnlockImageA(parent, TAL_LOCK_EXCLUSIVE, 0);
    Tal_DisposeObject(oldMode);
}

// The changed layer is named: the parent's paint layer may be another one, and the recompose applies
// the pending state of the layer it recomposes.
void Tal_RedoLayerChanges(Tal_Image* layer) {
    if (layer && layer->parent) Tal_DoAsyncImageMethod(layer->parent, TAL_RecomposeLayer, layer);
}

void Tal_FixLayerChanges(Tal_Image* layer) {
    if (layer && layer->parent) Tal_DoImageMethod(layer->parent, TAL_FixLayers, 0);
}

ULONG Tal_SelectLayerMode(Tal_Image* layer, const char* name) {
    if (!layer || !name) return 0;
    {
        ModeSlotsGuard slots(layer);
        if (std::strcmp(name, layer->pending_mode_name) == 0) return 1;
    }
    // A name that does not fit is refused, never cut.
    char className[TAL_NAME_FIELD];
    int n = std::snprintf(className, sizeof className, "%sMode", name);
    if (n < 0 || size_t(n) >= sizeof className) return 0;
    ULONG mode = Tal_CreateObject(className);
    if (!mode) return 0;
    ULONG oldMode, inUse;
    {
        ModeSlotsGuard slots(layer);
        oldMode = promotePendingMode(layer);
        inUse = layer->mode;
        layer->pending_mode = mode;
        std::snprintf(layer->pending_mode_name, sizeof layer->pending_mode_name, "%s", name);
    }
    Tal_DisposeObject(oldMode);
    // The options panel of the mode in use leaves its group; the new mode shows its own when current.
    ULONG panel = inUse ? ULONG(Tal_DoMethod(inUse, TAL_GetModeOptions)) : 0;
    ULONG group = panel ? Tal_GetParentObject(panel) : 0;
    if (group) Tal_DoMethod(group, TAL_RemoveMember, panel);
    Tal_DoMethod(mode, TAL_SetModeLayer, layer);
    if (group) Tal_DoMethod(group, TAL_DrawObject);
    Tal_DoImageNotify(layer, TAL_SetLayerMode, layer->pending_mode_name);
    if (Tal_ImageBase* base = Tal_GetImageBase())
        Tal_DoImageNotify(base->image_object, TAL_SetLayerMode, layer->pending_mode_name);
    Tal_LayerNeedsFixing(layer);
    return 1;
}

// ---------------------------------------------------------------------------------------------------
// Fixing.

ULONG Tal__FixImageLayers(Tal_Image* image, LONG qualifier, Tal_FixData* data) {
    if (!image || image->depth != 24 || !image->base_red || !image->red) return 0;
    LONG W = image->width, H = image->height;
    bool floating = image->kind == TAL_FLOATING_IMAGE;
    std::vector<WORD> first(size_t(H) + 8, WORD(W - 1)), last(size_t(H) + 8, 0);
    std::vector<bool> fixed(size_t(H), false);
    bool whole = image->restore_pending.load() != 0;
    size_t total = 0;
    for (LONG y = 0; y < H; y++) {
        LONG lo = W - 1, hi = -1;
        if (whole) {
            lo = 0;
            hi = W - 1;
        }
        for (Tal_Image* layer = first_layer(image); layer; layer = next_layer(layer)) {
            LONG r = y - layer->layer_y;
            if (r < 0 || r >= layer->height || !layer->row_min_x) continue;
            LONG mn = loadExtent(&layer->row_min_x[r]), mx = loadExtent(&layer->row_max_x[r]);
            if (mn <= mx && !whole) {
                lo = std::min(lo, layer->layer_x + mn);
                hi = std::max(hi, layer->layer_x + mx);
            }
            if (qualifier == 1) {
                storeExtent(&layer->row_min_x[r], layer->width - 1);
                storeExtent(&layer->row_max_x[r], 0);
            }
        }
        lo = std::max<LONG>(lo, 0);
        hi = std::min<LONG>(hi, W - 1);
        if (hi < lo) continue;
        first[size_t(y)] = WORD(lo);
        last[size_t(y)] = WORD(hi);
        fixed[size_t(y)] = true;
        total += size_t(hi - lo + 1);
    }

    // Save the replaced base runs, then copy the composed rows into the base planes.
    size_t channels = floating ? 4 : 3;
    UBYTE* saved = total && data ? static_cast<UBYTE*>(Tal_AllocMem(total * channels)) : nullptr;
    UBYTE* at = saved;
    UBYTE** base[3] = {image->base_red, image->base_green, image->base_blue};
    UBYTE** work[3] = {image->red, image->green, image->blue};
    Tal_Image* alpha = floating ? image->alpha_child : nullptr;
    for (LONG y = 0; y < H; y++) {
        if (!fixed[size_t(y)]) continue;
        LONG lo = first[size_t(y)], n = last[size_t(y)] - lo + 1;
        if (at) {
            for (int ch = 0; ch < 3; ch++, at += n) std::memcpy(at, base[ch][y] + lo, size_t(n));
            if (floating) {
                if (alpha && alpha->grey)
                    std::memcpy(at, alpha->grey[y] + lo, size_t(n));
                else
                    std::memset(at, 0, size_t(n));
                at += n;
            }
        }
        for (int ch = 0; ch < 3; ch++) std::memcpy(base[ch][y] + lo, work[ch][y] + lo, size_t(n));
    }

    // A floating image becomes opaque where it was painted.
    Tal_Image* paint = floating ? image->current_layer : nullptr;
    if (alpha && alpha->grey && paint && paint->kind == TAL_PAINT_LAYER && paint->grey) {
        for (LONG y = 0; y < H; y++) {
            LONG py = y - paint->layer_y;
            if (py < 0 || py >= paint->height) continue;
            for (LONG x = 0; x < W; x++) {
                LONG px = x - paint->layer_x;
                if (px < 0 || px >= paint->width) continue;
                int a = alpha->grey[y][x];
                alpha->grey[y][x] = UBYTE(a + paint->grey[py][px] * (255 - a) / 255);
            }
        }
    }

    if (data) {
        data->first = static_cast<WORD*>(Tal_AllocMem(first.size() * sizeof(WORD)));
        data->last = static_cast<WORD*>(Tal_AllocMem(last.size() * sizeof(WORD)));
        if (data->first && data->last) {
            std::memcpy(data->first, first.data(), first.size() * sizeof(WORD));
            std::memcpy(data->last, last.data(), last.size() * sizeof(WORD));
        }
        data->saved = saved;
        data->size = saved ? total * channels : 0;
        data->width = W;
        data->height = H;
        data->nothingFixed = total == 0;
        data->floating = floating;
    }

    if (qualifier == 1) {
        for (Tal_Image* layer = first_layer(image); layer; layer = next_layer(layer)) {
            Tal_DoLayerDoesntNeedsFixing(layer);
            Tal_DoImageMethod(layer, TAL_ClearImageData);
            // A cleared floating image is transparent, not a black box.
            if (layer->kind == TAL_FLOATING_IMAGE && layer->alpha_child)
                Tal_DoImageMethod(layer->alpha_child, TAL_ClearImageData);
        }
        image->restore_pending = 0;
    } else if (qualifier == 2) {
        Tal_FullProcessImage(image);
        Tal__RedrawInViews(image, TAL_CHANGE_ALL, 0, 0, W - 1, H - 1);
    }
    return 1;
}

ULONG Tal__RestoreFixData(Tal_Image* image, const Tal_FixData* data) {
    if (!image || !data || !data->saved || !data->first || !data->last) return 0;
    if (data->width != image->width || data->height != image->height || image->depth != 24 ||
        !image->base_red)
        return 0;
    UBYTE** base[3] = {image->base_red, image->base_green, image->base_blue};
    UBYTE** work[3] = {image->red, image->green, image->blue};
    Tal_Image* alpha = data->floating ? image->alpha_child : nullptr;
    const UBYTE* at = data->saved;
    const UBYTE* end = data->saved + data->size;
    for (LONG y = 0; y < data->height; y++) {
        LONG lo = data->first[y], hi = data->last[y];
        if (hi < lo || (lo == data->width - 1 && hi == 0 && data->width > 1)) continue;
        size_t n = size_t(hi - lo + 1);
        if (at + n * (data->floating ? 4 : 3) > end) return 0;
        for (int ch = 0; ch < 3; ch++, at += n) {
            std::memcpy(base[ch][y] + lo, at, n);
            if (data->floating) std::memcpy(work[ch][y] + lo, at, n);
        }
        if (data->floating) {
            if (alpha && alpha->grey) std::memcpy(alpha->grey[y] + lo, at, n);
            at += n;
        }
    }
    return 1;
}

void Tal__FreeFixData(Tal_FixData* data) {
    if (!data) return;
    Tal_FreeMem(data->first);
    Tal_FreeMem(data->last);
    Tal_FreeMem(data->saved);
    *data = Tal_FixData{};
}

// ---------------------------------------------------------------------------------------------------
// The resize protocol. Begin takes the exclusive lock and makes working planes of the new size; the
// caller reads the old picture from the base planes and writes the new one; End commits, Abort goes
// back. Composition is held off in between, so that nothing composes planes of two sizes.

namespace {

struct Planes24 {
    UBYTE** p[3] = {};
    void release() {
        for (UBYTE**& plane : p) {
            Tal_FreeImageData(plane);
            plane = nullptr;
        }
    }
};

bool allocWorking(LONG depth, LONG w, LONG h, Planes24& out) {
    if (depth == 8) {
        out.p[0] = Tal_AllocImageData(w, h + 2, 8);
        return out.p[0];
    }
    out.p[0] = Tal_AllocImageData(w, h + 2, 8);
    out.p[1] = Tal_AllocImageData(w, h + 1, 8);
    out.p[2] = Tal_AllocImageData(w, h + 1, 8);
    if (out.p[0] && out.p[1] && out.p[2]) return true;
    out.release();
    return false;
}

void setWorking(Tal_Image* image, const Planes24& planes) {
    if (image->depth == 8) {
        image->grey = planes.p[0];
    } else {
        image->red = planes.p[0];
        image->green = planes.p[1];
        image->blue = planes.p[2];
    }
}

Planes24 takeWorking(Tal_Image* image) {
    Planes24 planes;
    if (image->depth == 8) {
        planes.p[0] = image->grey;
        image->grey = nullptr;
    } else {
        planes.p[0] = image->red;
        planes.p[1] = image->green;
        planes.p[2] = image->blue;
        image->red = image->green = image->blue = nullptr;
    }
    return planes;
}

Planes24 takeBase(Tal_Image* image) {
    Planes24 planes;
    if (image->depth == 8) {
        planes.p[0] = image->base_grey;
        image->base_grey = nullptr;
    } else {
        planes.p[0] = image->base_red;
        planes.p[1] = image->base_green;
        planes.p[2] = image->base_blue;
        image->base_red = image->base_green = image->base_blue = nullptr;
    }
    return planes;
}

void setBase(Tal_Image* image, const Planes24& planes) {
    if (image->depth == 8) {
        image->base_grey = planes.p[0];
    } else {
        image->base_red = planes.p[0];
        image->base_green = planes.p[1];
        image->base_blue = planes.p[2];
    }
}

bool hasBase(const Tal_Image* image) {
    return image->depth == 8 ? image->base_grey != nullptr : image->base_red != nullptr;
}

void finishResize(Tal_Image* image) {
    image->resizing = 0;
    image->process_enable++;
    Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
}

} // namespace

ULONG Tal_BeginNewImageSize(Tal_Image* image, LONG width, LONG height) {
    if (!image || width <= 0 || width > 32767 || height <= 0 || height > 32767) return 0;
    if (image->depth != 8 && image->depth != 24) return 0;
    if (!Tal_LockImageA(image, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    bool layer = image->kind == TAL_PAINT_LAYER;
    // An image's old picture is read from its base planes: without them there is nothing to read.
    if (image->resizing || (!layer && !hasBase(image))) {
        Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
        return 0;
    }
    Planes24 fresh;
    if (!allocWorking(image->depth, width, height, fresh)) {
        Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
        return 0;
    }
    Planes24 old = takeWorking(image);
    // Kept until End or Abort: a layer parks them in its base slots (a crop reads them there), an image
    // beside its base planes, so that Abort needs no memory.
    if (layer)
        setBase(image, old);
    else
        std::copy(std::begin(old.p), std::end(old.p), std::begin(image->parked));
    setWorking(image, fresh);
    image->new_width = width;
    image->new_height = height;
    image->resizing = 1;
    image->process_enable--;
    return 1;
}

ULONG Tal_EndNewImageSize(Tal_Image* image, LONG width, LONG height) {
    if (!image || !image->resizing || width != image->new_width || height != image->new_height) return 0;
    bool layer = image->kind == TAL_PAINT_LAYER;
    // Everything is allocated before anything changes, so that a failure leaves the Begin state.
    LONG* minX = static_cast<LONG*>(Tal_AllocMem(size_t(height + 4) * sizeof(LONG)));
    LONG* maxX = static_cast<LONG*>(Tal_AllocMem(size_t(height + 4) * sizeof(LONG)));
    UBYTE* rgbLine =
        image->depth == 24 ? static_cast<UBYTE*>(Tal_AllocMemClear(size_t(width) * 3 + 16)) : nullptr;
    Planes24 base;
    bool ok = minX && maxX && (image->depth != 24 || rgbLine);
    if (ok && !layer) {
        if (image->depth == 8)
            ok = (base.p[0] = Tal_AllocImageData(width, height + 1, 8)) != nullptr;
        else
            ok = (base.p[0] = Tal_AllocImageData(width, height, 8)) &&
                 (base.p[1] = Tal_AllocImageData(width, height, 8)) &&
                 (base.p[2] = Tal_AllocImageData(width, height, 8));
    }
    if (!ok) {
        Tal_FreeMem(minX);
        Tal_FreeMem(maxX);
        Tal_FreeMem(rgbLine);
        base.release();
        return 0;
    }

    Planes24 old = takeBase(image);
    old.release();
    if (!layer) {
        setBase(image, base);
        for (UBYTE**& plane : image->parked) {
            Tal_FreeImageData(plane);
            plane = nullptr;
        }
    }
    image->width = width;
    image->height = height;
    Tal_FreeMem(image->row_min_x);
    Tal_FreeMem(image->row_max_x);
    image->row_min_x = minX;
    image->row_max_x = maxX;
    // The whole of a layer (a paint layer or a floating image) counts as changed.
    bool painted = image->kind != TAL_IMAGE;
    for (LONG i = 0; i < height + 4; i++) {
        minX[i] = painted ? 0 : width - 1;
        maxX[i] = painted ? width - 1 : 0;
    }
    image->layer_w = WORD(width);
    image->layer_h = WORD(height);
    Tal_FreeMem(image->rgb_line);
    image->rgb_line = rgbLine;
    Tal__SetImageScratchRows(image);
    finishResize(image);
    if (!layer) {
        Tal_CopyImageToUndoData(image, 0, 0, width - 1, height - 1, 0, 0);
        Tal_FullProcessImage(image);
        Tal_ModifiedImageFormat(image);
    }
    return 1;
}

ULONG Tal_AbortNewImageSize(Tal_Image* image, LONG, LONG) {
    if (!image || !image->resizing) return 0;
    if (image->action_list)
        if (ULONG newest = ULONG(Tal_DoMethod(image->action_list, TAL_GetFirstGroupObject)))
            Tal_DoMethod(newest, TAL_ActionResizeAborted);
    bool layer = image->kind == TAL_PAINT_LAYER;
    Planes24 fresh = takeWorking(image);
    fresh.release();
    if (layer) {
        setWorking(image, takeBase(image));
    } else {
        Planes24 old;
        std::copy(std::begin(image->parked), std::end(image->parked), std::begin(old.p));
        std::fill(std::begin(image->parked), std::end(image->parked), nullptr);
        setWorking(image, old);
    }
    Tal__SetImageScratchRows(image);
    finishResize(image);
    if (layer) {
        Tal_FullProcessLayer(image);
        Tal_FullRedrawLayerChanges(image);
    } else {
        Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
        Tal_FullProcessImage(image);
        Tal__RedrawInViews(image, TAL_CHANGE_ALL, 0, 0, image->width - 1, image->height - 1);
    }
    return 1;
}
