// The compositor: the visible picture of an image recomputed, row by row, from its base planes and its
// layers, and the picture below a layer as the modes see it.
//
// Every blend is integer arithmetic with 16-bit fixed-point weights: out + ((src − out) × w + 257) >> 16,
// where a full weight (65535) reproduces the source exactly. The per-row loops are plain loops over
// planar bytes, so the compiler vectorises them.
#include "Tal/RootIDs.h"
#include "Vlr/Vlr.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr UWORD kFull = 256;

LONG loadExtent(const LONG* p) {
    return __atomic_load_n(p, __ATOMIC_RELAXED);
}

Tal_Image* topOf(Tal_Image* image) {
    while (image && image->parent) image = image->parent;
    return image;
}

// ---------------------------------------------------------------------------------------------------
// Row kernels. The hot ones are built twice, for AVX2 and for the baseline, and the processor picks; not
// under ThreadSanitizer, whose runtime is not up yet when the choice is made.

#if defined(__SANITIZE_THREAD__)
#define VLR_NO_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VLR_NO_CLONES 1
#endif
#endif
#if defined(__x86_64__) && !defined(VLR_NO_CLONES)
#define VLR_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define VLR_ROW_KERNEL
#endif

// The Paint fast path: each channel moves toward the layer colour by the coverage k, with the weight
// k × 257 shared by the three channels. `from` is the picture below (the output itself, or the base
// planes when this layer is the first on the row).
VLR_ROW_KERNEL void paintRowFrom(UBYTE* __restrict r, UBYTE* __restrict g, UBYTE* __restrict b,
                                 const UBYTE* __restrict fr, const UBYTE* __restrict fg,
                                 const UBYTE* __restrict fb, const UBYTE* __restrict cov, LONG n, int cr,
                                 int cg, int cb) {
    for (LONG i = 0; i < n; i++) {
        int w = cov[i] * 257;
        int o0 = fr[i], o1 = fg[i], o2 = fb[i];
        r[i] = UBYTE(o0 + (((cr - o0) * w + 257) >> 16));
        g[i] = UBYTE(o1 + (((cg - o1) * w + 257) >> 16));
        b[i] = UBYTE(o2 + (((cb - o2) * w + 257) >> 16));
    }
}

VLR_ROW_KERNEL void paintRowInPlace(UBYTE* __restrict r, UBYTE* __restrict g, UBYTE* __restrict b,
                                    const UBYTE* __restrict cov, LONG n, int cr, int cg, int cb) {
    for (LONG i = 0; i < n; i++) {
        int w = cov[i] * 257;
        int o0 = r[i], o1 = g[i], o2 = b[i];
        r[i] = UBYTE(o0 + (((cr - o0) * w + 257) >> 16));
        g[i] = UBYTE(o1 + (((cg - o1) * w + 257) >> 16));
        b[i] = UBYTE(o2 + (((cb - o2) * w + 257) >> 16));
    }
}

// The general blend: weight = channel opacity × coverage.
VLR_ROW_KERNEL void blendRow(UBYTE* __restrict out, const UBYTE* __restrict result,
                             const UBYTE* __restrict cov, LONG n, int opacity) {
    for (LONG i = 0; i < n; i++) {
        int o = out[i];
        out[i] = UBYTE(o + (((result[i] - o) * (opacity * cov[i]) + 257) >> 16));
    }
}

// Coverage through an 8-bit mask: k = (coverage × mask) >> 8.
void blendRowMasked(UBYTE* __restrict out, const UBYTE* __restrict result, const UBYTE* __restrict cov,
                    const UBYTE* __restrict mask, LONG n, int opacity) {
    for (LONG i = 0; i < n; i++) {
        int o = out[i];
        int k = (cov[i] * mask[i]) >> 8;
        out[i] = UBYTE(o + (((result[i] - o) * (opacity * k) + 257) >> 16));
    }
}

// Coverage through one channel of a 24-bit mask: weight = ((coverage × opacity) >> 8) × mask, 16 bits.
void blendRowMaskChannel(UBYTE* __restrict out, const UBYTE* __restrict result, const UBYTE* __restrict cov,
                         const UBYTE* __restrict mask, LONG n, int opacity) {
    for (LONG i = 0; i < n; i++) {
        int o = out[i];
        int w = (((cov[i] * opacity) >> 8) * mask[i]) & 0xFFFF;
        out[i] = UBYTE(o + (((result[i] - o) * w + 257) >> 16));
    }
}

// result = below + ((result − below) × weight + 257) >> 16 with one weight for the run.
void weightRow(UBYTE* __restrict result, const UBYTE* __restrict below, LONG n, int weight) {
    for (LONG i = 0; i < n; i++) {
        int b = below[i];
        result[i] = UBYTE(b + (((result[i] - b) * weight + 257) >> 16));
    }
}

// ---------------------------------------------------------------------------------------------------
// Effect controls.

void buildToneTable(Tal_Image* layer) {
    if (!layer->tone_table) layer->tone_table = static_cast<UBYTE*>(Tal_AllocMemClear(768));
    if (!layer->tone_table) return;
    auto loss = [](UWORD v) { return v < 256 ? 255 - int(v) : 0; };
    int la = loss(layer->highlights), lb = loss(layer->midtones), lc = loss(layer->shadows);
    for (int i = 0; i < 766; i++) {
        int d = 255;
        if (i <= 510) d = 255 - (510 - i) * lc / 510;
        if (126 < i && i < 382) d -= lb * (i - 127) / 510;
        if (381 < i && i < 638) d -= (638 - i) * lb / 510;
        if (i > 255) d -= la * (i - 256) / 510;
        layer->tone_table[i] = UBYTE(d > 254 ? 255 : d);
    }
    layer->tone_table_dirty = 0;
}

struct Hsv {
    int h, s, v;
};

Hsv toHsv(int r, int g, int b) {
    int v = std::max({r, g, b});
    int lo = std::min({r, g, b});
    int d = v - lo;
    if (v == 0 || d == 0) return {0, 0, v};
    int s = d * 255 / v;
    int h;
    if (r == v)
        h = (g - b) * 60 / d;
    else if (g == v)
        h = 120 + (b - r) * 60 / d;
    else
        h = 240 + (r - g) * 60 / d;
    if (h < 0) h += 360;
    return {h, s, v};
}

void fromHsv(int h, int s, int v, UBYTE* r, UBYTE* g, UBYTE* b) {
    int sector = (h / 60) % 6;
    int f = (h % 60) * 256 / 60;
    int p = ((255 - s) * v * 257 + 1) >> 16;
    int q = ((255 - (s * f) / 256) * v * 257 + 1) >> 16;
    int t = ((255 - (s * (256 - f)) / 256) * v * 257 + 1) >> 16;
    int rgb[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    *r = UBYTE(rgb[sector][0]);
    *g = UBYTE(rgb[sector][1]);
    *b = UBYTE(rgb[sector][2]);
}

// The fade weight of one pixel, 0..65535; 64-bit throughout so that large pictures do not wrap.
struct Fade {
    LONG shape = 0;
    bool invert = false;
    int64_t W = 0, H = 0;
    // Edges.
    int64_t B = 0, E = 1, F = 0;
    // Circle and ellipse.
    int64_t R2 = 0, ER = 1;

    void setup(const Tal_Image* layer, LONG width, LONG height) {
        shape = layer->fade_shape;
        invert = layer->fade_invert != 0;
        W = width;
        H = height;
        int64_t m = std::max(W, H);
        if (shape == TAL_FADE_EDGES) {
            B = (m * layer->fade_size / 150) & 0xFFFF;
            E = std::max<int64_t>(1, B * layer->fade_softness / 100);
            F = 65535 / E;
        } else if (shape == TAL_FADE_CIRCLE || shape == TAL_FADE_ELLIPSE) {
            int64_t r = (100 - int64_t(layer->fade_size)) * m / 150;
            R2 = r * r;
            ER = std::max<int64_t>(R2 * layer->fade_softness / 100, 1);
        }
    }

    int64_t rowTerm(int64_t y) const {
        int64_t g;
        if (y < H - B)
            g = 0;
        else if (y < H - B + E)
            g = F * (y - (H - B));
        else
            g = 65535;
        if (y <= B) g += y < B - E ? 65535 : F * (B - y);
        return g;
    }

    int weight(int64_t x, int64_t y, int64_t rowG) const {
        int64_t w;
        if (shape == TAL_FADE_EDGES) {
            int64_t g = rowG;
            if (x >= W - B + E)
                g = rowG + 65535;
            else if (x >= W - B)
                g = std::max(rowG, F * (x - (W - B)));
            if (x <= B) {
                if (x < B - E)
                    g += 65535;
                else
                    g = std::max(g, F * (B - x));
            }
            w = std::min<int64_t>(g, 65535);
            return int(invert ? 65535 - w : w);
        }
        int64_t dx = W / 2 - x, dy = H / 2 - y, d;
        if (shape == TAL_FADE_CIRCLE)
            d = dx * dx + dy * dy;
        else if (W + H <= 4000)
            d = dx * dx * H / W + dy * dy * W / H;
        else
            d = H * (dx * dx / W) + W * (dy * dy / H);
        int64_t k;
        if (d > R2)
            k = 0;
        else if (d < R2 - ER)
            k = 65535;
        else
            k = std::min<int64_t>((R2 - d) * 255 / ER * 257, 65535);
        return int(invert ? k : 65535 - k);
    }
};

// What the compositor knows of one layer for the whole rectangle.
struct LayerInfo {
    Tal_Image* layer;
    Tal_Image* mask; // locked for the composition, or none
    bool skip;       // a link could not be locked: the layer sits this composition out
    bool plain;
    bool fast;
    LONG lx, ly, lw, lh; // position and the active size, within the allocation
    int opacity, o257;
    int oc[3];
    bool channelStrengths, hsv, tonal;
    Fade fade;
};

struct Links {
    std::vector<Tal_Image*> locked;
    ~Links() {
        for (Tal_Image* image : locked) Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    }
    // Locks a link for the composition; a link to an image that is gone is dropped for good.
    bool take(Tal_Image*& link) {
        if (!link) return true;
        if (Tal_LockImageA(link, TAL_LOCK_READ, 0)) {
            locked.push_back(link);
            return true;
        }
        if (Tal__IsLiveImage(link)) return false;
        link = nullptr;
        return true;
    }
};

struct Compose {
    Tal_Image* image;
    LONG W, H;
    LONG X0, x1;
    UBYTE** out[3];
    Tal_Image* stop;
    bool interruptible;
    std::vector<LayerInfo> layers;
    std::vector<UBYTE> scratch; // red, green, blue and grey result lines
    LONG stride;
};

// A recompose of the image's layer `layer`; a recompose without a layer names the paint layer. Queued
// messages carry two zero words after their arguments, so the words read here always exist.
bool isRecomposeOf(const Tal_AsyncMessage* msg, const Tal_Image* image, Tal_Word layer) {
    Tal_Word arg;
    if (msg->command == TAL_RecomposeLayer && msg->target == image->header.handle)
        arg = msg->args[0];
    else if (msg->command == TAL_DoAsyncMethodMethod && Tal_AsyncArgCount(msg) >= 2 &&
             ULONG(msg->args[0]) == image->header.handle && ULONG(msg->args[1]) == TAL_RecomposeLayer)
        arg = msg->args[2];
    else
        return false;
    return arg == layer || (!arg && reinterpret_cast<Tal_Word>(image->paint_layer) == layer);
}

} // namespace

// A recomposite gives way only to a newer recompose of the same image and layer, and only on the
// image's thread: other messages never recompose those rows, so stopping for them would leave stale
// pixels.
ULONG Tal__NewerRecomposeWaiting(Tal_Image* image) {
    Tal_Image* top = topOf(image);
    MsgPort* port = top ? top->thread_port : nullptr;
    if (!port || top->thread_task.load() != FindTask(nullptr)) return 0;
    bool found = false;
    Tal_Word layer = image->recompose_arg;
    Forbid();
    for (Node* n = port->mp_MsgList.lh_Head; n->ln_Succ && !found; n = n->ln_Succ)
        found = isRecomposeOf(reinterpret_cast<Tal_AsyncMessage*>(n), image, layer);
    Permit();
    return found ? 1 : 0;
}

namespace {

bool hasPlanes(const Tal_Image* layer) {
    if (layer->kind == TAL_PAINT_LAYER)
        return layer->depth == 8 ? layer->grey != nullptr
                                 : layer->depth == 24 && layer->red && layer->green && layer->blue;
    if (layer->kind == TAL_FLOATING_IMAGE) {
        const Tal_Image* alpha = layer->alpha_child;
        return layer->red && layer->green && layer->blue && alpha && alpha->grey &&
               alpha->width == layer->width && alpha->height == layer->height;
    }
    return false;
}

bool maskUsable(const Tal_Image* mask) {
    return mask && ((mask->depth == 8 && mask->grey) ||
                    (mask->depth == 24 && mask->red && mask->green && mask->blue));
}

LayerInfo describe(Tal_Image* layer, Tal_Image* image, Links& links) {
    LayerInfo info{};
    info.layer = layer;
    info.lx = layer->layer_x;
    info.ly = layer->layer_y;
    info.lw = std::clamp<LONG>(layer->layer_w, 0, layer->width);
    info.lh = std::clamp<LONG>(layer->layer_h, 0, layer->height);
    // Mask and mode source are locked for the whole rectangle, so that they cannot go meanwhile.
    bool maskOk = links.take(layer->mask_image);
    bool sourceOk = links.take(layer->mode_source_image);
    info.skip = !maskOk || !sourceOk || !hasPlanes(layer);
    info.mask = maskOk ? layer->mask_image : nullptr;
    if (info.mask && !maskUsable(info.mask)) info.skip = true;

    // Opacity and strengths beyond full count as full, so that no weight exceeds 65535.
    int o = std::min<int>(layer->opacity, kFull);
    info.opacity = o;
    info.o257 = o * 257 >> 8;
    info.oc[0] = o * std::min<int>(layer->red_strength, kFull) / 255;
    info.oc[1] = o * std::min<int>(layer->green_strength, kFull) / 255;
    info.oc[2] = o * std::min<int>(layer->blue_strength, kFull) / 255;
    info.channelStrengths =
        layer->red_strength != kFull || layer->green_strength != kFull || layer->blue_strength != kFull;
    info.hsv =
        layer->hue_strength != kFull || layer->saturation_strength != kFull || layer->value_strength != kFull;
    info.tonal = layer->highlights != kFull || layer->midtones != kFull || layer->shadows != kFull;
    info.plain = o == kFull && !info.channelStrengths && !info.hsv && !info.tonal &&
                 layer->fade_shape == TAL_FADE_NONE && image->kind == TAL_IMAGE;
    // Whether the mode is "Paint" is settled under the compose lock, where the mode changes.
    info.fast = info.plain && layer->kind == TAL_PAINT_LAYER && layer->depth == 8 && !info.mask;
    if (layer->fade_shape != TAL_FADE_NONE) info.fade.setup(layer, image->width, image->height);
    return info;
}

bool applies(const LayerInfo& info, LONG y) {
    const Tal_Image* layer = info.layer;
    if (info.skip || !layer->visible || y < info.ly || y >= info.ly + info.lh) return false;
    if (info.mask) {
        LONG my = info.ly + layer->mask_y;
        if (y < my || y >= my + info.mask->height) return false;
    }
    if (layer->kind == TAL_PAINT_LAYER) {
        LONG r = y - info.ly;
        return layer->row_min_x && loadExtent(&layer->row_min_x[r]) <= loadExtent(&layer->row_max_x[r]);
    }
    return true;
}

// The effect controls, applied to the mode's result before blending; `below` is the picture so far.
void applyEffects(const LayerInfo& info, UBYTE* res[3], UBYTE* below[3], LONG n, LONG x, LONG y) {
    Tal_Image* layer = info.layer;
    if (info.channelStrengths) {
        const UWORD strengths[3] = {layer->red_strength, layer->green_strength, layer->blue_strength};
        for (int ch = 0; ch < 3; ch++)
            if (strengths[ch] != kFull)
                weightRow(res[ch], below[ch], n, std::min<int>(strengths[ch], 255) * 257);
    }
    if (info.hsv) {
        int wv = std::min<int>(layer->value_strength, 255) * 257;
        int ws = std::min<int>(layer->saturation_strength, 255) * 257;
        for (LONG i = 0; i < n; i++) {
            Hsv b = toHsv(below[0][i], below[1][i], below[2][i]);
            Hsv r = toHsv(res[0][i], res[1][i], res[2][i]);
            int v = b.v + (((r.v - b.v) * wv + 257) >> 16);
            int s = b.s + (((r.s - b.s) * ws + 257) >> 16);
            fromHsv(r.h, s, v, &res[0][i], &res[1][i], &res[2][i]);
        }
    }
    if (info.tonal) {
        if (!layer->tone_table) return; // no memory for the table: the remaining controls are skipped
        for (LONG i = 0; i < n; i++) {
            int w = layer->tone_table[below[0][i] + below[1][i] + below[2][i]] * 257;
            for (int ch = 0; ch < 3; ch++) {
                int b = below[ch][i];
                res[ch][i] = UBYTE(b + (((res[ch][i] - b) * w + 257) >> 16));
            }
        }
    }
    if (layer->fade_shape != TAL_FADE_NONE) {
        const Fade& fade = info.fade;
        int64_t rowG = fade.shape == TAL_FADE_EDGES ? fade.rowTerm(y) : 0;
        for (LONG i = 0; i < n; i++) {
            int w = fade.weight(x + i, y, rowG);
            for (int ch = 0; ch < 3; ch++) {
                int b = below[ch][i];
                res[ch][i] = UBYTE(b + (((res[ch][i] - b) * w + 257) >> 16));
            }
        }
    }
}

// The span of a paint layer on a row: image columns IS..E go to the mode (IS a multiple of 4, which the
// modes rely on); the blend covers B..E, since columns left of the layer or of its mask are outside it
// and keep their pixels.
struct PaintSpan {
    LONG IS, B, E, r, maskLeft;
    bool empty;
};

PaintSpan paintSpan(const Compose& c, const LayerInfo& info, LONG y) {
    const Tal_Image* layer = info.layer;
    PaintSpan span{};
    span.r = y - info.ly;
    LONG minX = loadExtent(&layer->row_min_x[span.r]);
    LONG maxX = std::min(loadExtent(&layer->row_max_x[span.r]), info.lw - 1);
    LONG S = std::max(c.X0, info.lx + std::max<LONG>(minX, 0));
    span.E = std::min(c.x1, info.lx + maxX);
    if (info.mask) {
        span.maskLeft = info.lx + layer->mask_x;
        S = std::max(S, span.maskLeft);
        span.E = std::min(span.E, span.maskLeft + info.mask->width - 1);
    }
    span.empty = S > span.E;
    span.IS = S & ~LONG(3);
    span.B = std::max(span.IS, info.lx);
    if (info.mask) span.B = std::max(span.B, span.maskLeft);
    return span;
}

void copyBaseColumns(Compose& c, LONG y, LONG x0, LONG x1) {
    if (x0 > x1) return;
    Tal_Image* image = c.image;
    UBYTE** base[3] = {image->base_red, image->base_green, image->base_blue};
    for (int ch = 0; ch < 3; ch++) std::memcpy(c.out[ch][y] + x0, base[ch][y] + x0, size_t(x1 - x0 + 1));
}

void copyBaseRow(Compose& c, LONG y) {
    copyBaseColumns(c, y, c.X0, c.x1);
}

// The first layer of a row on the Paint fast path composes straight from the base planes, which saves
// a pass over the row.
void composeFastRowFromBase(Compose& c, const LayerInfo& info, LONG y) {
    PaintSpan span = paintSpan(c, info, y);
    if (span.empty) {
        copyBaseRow(c, y);
        return;
    }
    Tal_Image* image = c.image;
    Tal_Image* layer = info.layer;
    copyBaseColumns(c, y, c.X0, span.B - 1);
    copyBaseColumns(c, y, span.E + 1, c.x1);
    LONG B = span.B;
    const UBYTE* colour = layer->layer_colour;
    paintRowFrom(c.out[0][y] + B, c.out[1][y] + B, c.out[2][y] + B, image->base_red[y] + B,
                 image->base_green[y] + B, image->base_blue[y] + B, layer->grey[span.r] + (B - info.lx),
                 span.E - B + 1, colour[0], colour[1], colour[2]);
}

void composePaintRow(Compose& c, const LayerInfo& info, LONG y) {
    Tal_Image* layer = info.layer;
    PaintSpan span = paintSpan(c, info, y);
    if (span.empty) return;
    LONG IS = span.IS, B = span.B, E = span.E, r = span.r, maskLeft = span.maskLeft;
    LONG n = E - B + 1;
    LONG lc = B - info.lx; // layer column of B

    if (info.fast) {
        const UBYTE* colour = layer->layer_colour;
        paintRowInPlace(c.out[0][y] + B, c.out[1][y] + B, c.out[2][y] + B, layer->grey[r] + lc, n, colour[0],
                        colour[1], colour[2]);
        return;
    }
    if (!layer->mode) return;

    UBYTE* scratch[4];
    for (int i = 0; i < 4; i++) scratch[i] = c.scratch.data() + size_t(i) * c.stride;
    Tal_ImageLock region{c.image,  layer,    IS,       y,       E,       y,
                         c.out[0], c.out[1], c.out[2], nullptr, nullptr, nullptr};
    Tal_ImageLock below{};
    below.image = c.image;
    below.layer = layer;
    Tal_ModeLineRecord record{&region, &below, &scratch[0], &scratch[1], &scratch[2], &scratch[3]};
    Tal_DoMethod(layer->mode, TAL_ModeRenderLine, &record);

    UBYTE* res[3] = {scratch[0] + (B - IS), scratch[1] + (B - IS), scratch[2] + (B - IS)};
    UBYTE* out[3] = {c.out[0][y] + B, c.out[1][y] + B, c.out[2][y] + B};
    if (!info.plain) applyEffects(info, res, out, n, B, y);

    if (layer->depth == 24) {
        UBYTE** planes[3] = {layer->red, layer->green, layer->blue};
        for (int ch = 0; ch < 3; ch++) blendRow(out[ch], res[ch], planes[ch][r] + lc, n, info.oc[ch]);
        return;
    }
    const UBYTE* cov = layer->grey[r] + lc;
    if (!info.mask) {
        for (int ch = 0; ch < 3; ch++) blendRow(out[ch], res[ch], cov, n, info.oc[ch]);
        return;
    }
    Tal_Image* mask = info.mask;
    LONG mr = r - layer->mask_y;
    LONG mc = B - maskLeft;
    if (mask->depth == 8) {
        for (int ch = 0; ch < 3; ch++)
            blendRowMasked(out[ch], res[ch], cov, mask->grey[mr] + mc, n, info.oc[ch]);
    } else {
        UBYTE** planes[3] = {mask->red, mask->green, mask->blue};
        for (int ch = 0; ch < 3; ch++)
            blendRowMaskChannel(out[ch], res[ch], cov, planes[ch][mr] + mc, n, info.oc[ch]);
    }
}

// A floating image over the picture: its pixels are premultiplied by its alpha, so this is "over" with
// the opacity; paint on its own layer makes it opaque where painted.
void composeFloatingRow(Compose& c, const LayerInfo& info, LONG y) {
    Tal_Image* f = info.layer;
    LONG S = std::max(c.X0, info.lx);
    LONG E = std::min(c.x1, info.lx + info.lw - 1);
    if (info.mask) {
        S = std::max(S, info.lx + f->mask_x);
        E = std::min(E, info.lx + f->mask_x + info.mask->width - 1);
    }
    if (S > E) return;
    LONG B = std::max(S & ~LONG(3), info.lx);
    if (info.mask) B = std::max(B, info.lx + f->mask_x);
    LONG fy = y - info.ly;
    const UBYTE* alpha = f->alpha_child->grey[fy];
    Tal_Image* paint = f->current_layer;
    const UBYTE* paintRowPtr = nullptr;
    LONG px = 0, pw = 0;
    if (paint && paint->kind == TAL_PAINT_LAYER && paint->depth == 8 && paint->grey && paint->visible) {
        LONG py = fy - paint->layer_y;
        LONG ph = std::clamp<LONG>(paint->layer_h, 0, paint->height);
        if (py >= 0 && py < ph) {
            paintRowPtr = paint->grey[py];
            px = paint->layer_x;
            pw = std::clamp<LONG>(paint->layer_w, 0, paint->width);
        }
    }
    const UBYTE* fp[3] = {f->red[fy], f->green[fy], f->blue[fy]};
    UBYTE* o[3] = {c.out[0][y], c.out[1][y], c.out[2][y]};
    int O = info.opacity, O257 = info.o257;
    for (LONG x = B; x <= E; x++) {
        LONG fx = x - info.lx;
        int p = 0;
        if (paintRowPtr && fx - px >= 0 && fx - px < pw) p = paintRowPtr[fx - px] * O257 / 257;
        int a = alpha[fx] * O257 / 257;
        int m = p + a * (255 - p) / 255;
        if (m == 0) continue;
        int k = 255 - std::min(m, 255);
        for (int ch = 0; ch < 3; ch++) {
            int v = ((o[ch][x] * k + fp[ch][fx] * O + 1) * 257) >> 16;
            o[ch][x] = UBYTE(std::clamp(v, 0, 255));
        }
    }
}

} // namespace

void Tal_ProcessImageBelowLayer(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, UBYTE** red_rows,
                                UBYTE** green_rows, UBYTE** blue_rows, UBYTE** grey_rows,
                                Tal_Image* stop_layer) {
    (void)grey_rows;
    if (!image || image->process_enable.load() < 1 || image->restore_pending.load()) return;
    if (image->depth != 24 || !image->base_red || !image->base_green || !image->base_blue) return;
    if (!red_rows || !green_rows || !blue_rows) return;
    x0 = std::max<LONG>(x0, 0);
    y0 = std::max<LONG>(y0, 0);
    x1 = std::min<LONG>(x1, image->width - 1);
    y1 = std::min<LONG>(y1, image->height - 1);
    if (x0 > x1 || y0 > y1) return;

    Compose c;
    c.image = image;
    c.W = image->width;
    c.H = image->height;
    c.X0 = x0 & ~LONG(3);
    c.x1 = x1;
    c.out[0] = red_rows;
    c.out[1] = green_rows;
    c.out[2] = blue_rows;
    c.stop = stop_layer;
    c.stride = (image->width + 15) & ~LONG(7);
    Links links;
    try {
        c.scratch.assign(size_t(c.stride) * 4, 0);
        for (Tal_Image* layer = first_layer(image); layer; layer = next_layer(layer))
            c.layers.push_back(describe(layer, image, links));
    } catch (const std::bad_alloc&) {
        return;
    }

    // The links are locked before the compose lock: a linked image that changes meanwhile recomposes
    // its users, which needs their compose locks.
    ObtainSemaphore(&image->compose_lock);
    // Tone tables are rebuilt under the compose lock: two threads composing one image would otherwise
    // build the same table at once.
    for (LayerInfo& info : c.layers) {
        if (info.tonal && (info.layer->tone_table_dirty || !info.layer->tone_table))
            buildToneTable(info.layer);
        info.fast = info.fast && std::strcmp(info.layer->mode_name, TAL_PAINT_MODE_NAME) == 0;
    }
    for (LONG y = y0; y <= y1; y++) {
        if (image->interruptible.load() && Tal__NewerRecomposeWaiting(image)) break;
        bool copied = false;
        for (const LayerInfo& info : c.layers) {
            bool use = applies(info, y);
            if (use && !copied) {
                copied = true;
                if (info.fast && info.layer != stop_layer) {
                    composeFastRowFromBase(c, info, y);
                    continue;
                }
                copyBaseRow(c, y);
            }
            if (info.layer == stop_layer) break;
            if (!use) continue;
            if (info.layer->kind == TAL_PAINT_LAYER)
                composePaintRow(c, info, y);
            else
                composeFloatingRow(c, info, y);
        }
    }
    ReleaseSemaphore(&image->compose_lock);
}

void Tal_ProcessImage(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!image || !Tal_LockImageA(image, TAL_LOCK_COMPOSE, 0)) return;
    Tal_ProcessImageBelowLayer(image, x0, y0, x1, y1, image->red, image->green, image->blue, image->grey,
                               nullptr);
    Tal_UnlockImageA(image, TAL_LOCK_COMPOSE, 0);
}

void Tal_FullProcessImage(Tal_Image* image) {
    if (image) Tal_ProcessImage(image, 0, 0, image->width - 1, image->height - 1);
}

void Tal_ProcessLayer(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!layer || !layer->parent) return;
    Tal_Image* parent = layer->parent;
    LONG w = parent->width, h = parent->height;
    x0 = std::clamp<LONG>(x0 + layer->layer_x, 0, w - 1);
    y0 = std::clamp<LONG>(y0 + layer->layer_y, 0, h - 1);
    x1 = std::clamp<LONG>(x1 + layer->layer_x, 0, w - 1);
    y1 = std::clamp<LONG>(y1 + layer->layer_y, 0, h - 1);
    Tal_ProcessImage(parent, x0, y0, x1, y1);
}

void Tal_FullProcessLayer(Tal_Image* layer) {
    if (!layer) return;
    Tal_ProcessLayer(layer, 0, 0, layer->width - 1, layer->height - 1);
    layer->fix_count = 0;
}

// ---------------------------------------------------------------------------------------------------
// The picture below a layer.

namespace {

// Rows of a region with the image's edge pixels repeated beyond its columns and rows.
struct BelowData {
    std::vector<UBYTE> pixels;
    std::vector<UBYTE*> tables[3];
};

// Copies with edge repetition: buffer row for absolute row `ry`, columns cx0..cx1, from `planes`.
void fillRow(UBYTE* dst, UBYTE** planes, LONG ry, LONG cx0, LONG cx1, LONG W) {
    const UBYTE* src = planes[ry];
    for (LONG x = cx0; x <= cx1; x++) dst[x - cx0] = src[std::clamp<LONG>(x, 0, W - 1)];
}

} // namespace

Tal_ImageLock* Tal_GetImageDataBelowLayer(Tal_ImageLock* lock) {
    if (!lock || !lock->image) return nullptr;
    Tal_Image* image = lock->image;
    Tal_Image* layer = lock->layer;
    LONG W = image->width, H = image->height;
    LONG x0 = lock->x0, y0 = lock->y0, x1 = lock->x1, y1 = lock->y1;
    if (x1 < x0 || y1 < y0) return nullptr;
    bool inside = x0 >= 0 && y0 >= 0 && x1 < W && y1 < H;
    bool composeBelow = layer && prev_layer(layer);

    if (!composeBelow && inside) {
        if (!layer) {
            lock->red_rows = image->red;
            lock->green_rows = image->green;
            lock->blue_rows = image->blue;
            lock->grey_rows = image->grey;
            return lock;
        }
        if (image->depth != 24 || !image->base_red) return nullptr;
        lock->red_rows = image->base_red;
        lock->green_rows = image->base_green;
        lock->blue_rows = image->base_blue;
        lock->grey_rows = image->base_grey;
        return lock;
    }
    if (image->depth != 24) return nullptr;
    UBYTE** source[3] = {layer ? image->base_red : image->red, layer ? image->base_green : image->green,
                         layer ? image->base_blue : image->blue};
    if (!source[0] || !source[1] || !source[2]) return nullptr;

    // Buffer rows: one per image row the region touches (rows beyond the image repeat the edge row),
    // wide enough for the region and for the compositor, which starts on a multiple of 4.
    LONG ry0 = std::clamp<LONG>(y0, 0, H - 1), ry1 = std::clamp<LONG>(y1, 0, H - 1);
    LONG cxa = std::clamp<LONG>(x0, 0, W - 1), cxb = std::clamp<LONG>(x1, 0, W - 1);
    LONG cx0 = std::min(x0, cxa & ~LONG(3)), cx1 = std::max(x1, cxb);
    size_t rowBytes = size_t(cx1 - cx0 + 1);
    size_t rows = size_t(ry1 - ry0 + 1);
    auto* data = new (std::nothrow) BelowData;
    if (!data) return nullptr;
    try {
        data->pixels.resize(rowBytes * rows * 3);
        // Tables cover the region's rows and the image rows composed (absolute indexing).
        LONG ty0 = std::min(y0, ry0), ty1 = std::max(y1, ry1);
        for (int ch = 0; ch < 3; ch++) data->tables[ch].assign(size_t(ty1 - ty0 + 1), nullptr);
        for (int ch = 0; ch < 3; ch++) {
            UBYTE** table = data->tables[ch].data() - ty0;
            for (LONG y = ty0; y <= ty1; y++) {
                LONG ry = std::clamp<LONG>(y, ry0, ry1);
                table[y] = data->pixels.data() + (size_t(ch) * rows + size_t(ry - ry0)) * rowBytes - cx0;
            }
            for (LONG ry = ry0; ry <= ry1; ry++) fillRow(table[ry] + cx0, source[ch], ry, cx0, cx1, W);
        }
        if (composeBelow) {
            UBYTE** t[3];
            for (int ch = 0; ch < 3; ch++) t[ch] = data->tables[ch].data() - ty0;
            Tal_ProcessImageBelowLayer(image, cxa, ry0, cxb, ry1, t[0], t[1], t[2], nullptr, layer);
            // Columns beyond the image repeat the composed edge pixels.
            for (int ch = 0; ch < 3; ch++)
                for (LONG ry = ry0; ry <= ry1; ry++) {
                    UBYTE* row = t[ch][ry];
                    for (LONG x = cx0; x < 0; x++) row[x] = row[0];
                    for (LONG x = W; x <= cx1; x++) row[x] = row[W - 1];
                }
        }
        LONG off = std::min(y0, ry0);
        lock->red_rows = data->tables[0].data() - off;
        lock->green_rows = data->tables[1].data() - off;
        lock->blue_rows = data->tables[2].data() - off;
    } catch (const std::bad_alloc&) {
        delete data;
        return nullptr;
    }
    lock->block1 = data;
    return lock;
}

void Tal_FreeImageLock(Tal_ImageLock* lock) {
    if (!lock) return;
    delete static_cast<BelowData*>(lock->block1);
    lock->block1 = nullptr;
    Tal_FreeMem(lock->block2);
    lock->block2 = nullptr;
}
