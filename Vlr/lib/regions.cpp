// Whole-region arithmetic between images (add, subtract, multiply, blit, merge), inversion, rectangles,
// the byte kernels behind them and the line conversions.
#include "Vlr/Vlr.h"

#include <algorithm>
#include <cstring>

namespace {

// A region clipped against the destination and the source: a start left of or above 0 on either side
// moves both sides.
struct Span {
    LONG dx, dy, sx, sy, w, h;
};

bool clipAxis(int64_t& d, int64_t& s, int64_t& n, int64_t dLimit, int64_t sLimit) {
    if (d < 0) {
        s -= d;
        n += d;
        d = 0;
    }
    if (s < 0) {
        d -= s;
        n += s;
        s = 0;
    }
    n = std::min({n, dLimit - d, sLimit - s});
    return n > 0;
}

bool clipRegion(LONG dstW, LONG dstH, LONG srcW, LONG srcH, LONG dx, LONG dy, LONG sx, LONG sy, LONG width,
                LONG height, Span& out) {
    int64_t d0 = dx, d1 = dy, s0 = sx, s1 = sy, w = width, h = height;
    if (!clipAxis(d0, s0, w, dstW, srcW) || !clipAxis(d1, s1, h, dstH, srcH)) return false;
    out = {LONG(d0), LONG(d1), LONG(s0), LONG(s1), LONG(w), LONG(h)};
    return true;
}

// Region arithmetic refuses regions one column or one row wide.
bool usable(const Span& s) {
    return s.w > 1 && s.h > 1;
}

struct PlanePair {
    UBYTE** dst;
    UBYTE** src;
};

// The plane pairs of a depth pair: 8 onto 8, 24 onto 24 channel by channel, 8 onto 24 grey onto each.
int workingPairs(Tal_Image* dst, Tal_Image* src, PlanePair pairs[3]) {
    if (dst->depth == 8 && src->depth == 8 && dst->grey && src->grey) {
        pairs[0] = {dst->grey, src->grey};
        return 1;
    }
    if (dst->depth == 24 && dst->red && dst->green && dst->blue) {
        if (src->depth == 24 && src->red && src->green && src->blue) {
            pairs[0] = {dst->red, src->red};
            pairs[1] = {dst->green, src->green};
            pairs[2] = {dst->blue, src->blue};
            return 3;
        }
        if (src->depth == 8 && src->grey) {
            pairs[0] = {dst->red, src->grey};
            pairs[1] = {dst->green, src->grey};
            pairs[2] = {dst->blue, src->grey};
            return 3;
        }
    }
    return 0;
}

using Kernel = void (*)(UBYTE*, const UBYTE*, LONG);

ULONG arithmetic(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width, LONG height,
                 Kernel kernel) {
    if (!dst || !src) return 0;
    PlanePair pairs[3];
    int count = workingPairs(dst, src, pairs);
    Span s;
    if (!count ||
        !clipRegion(dst->width, dst->height, src->width, src->height, dx, dy, sx, sy, width, height, s) ||
        !usable(s))
        return 0;
    for (int p = 0; p < count; p++)
        for (LONG r = 0; r < s.h; r++)
            kernel(pairs[p].dst[s.dy + r] + s.dx, pairs[p].src[s.sy + r] + s.sx, s.w);
    return 1;
}

void copyRows(UBYTE** dst, UBYTE** src, const Span& s) {
    for (LONG r = 0; r < s.h; r++) std::memcpy(dst[s.dy + r] + s.dx, src[s.sy + r] + s.sx, size_t(s.w));
}

bool hasBase24(const Tal_Image* image) {
    return image->base_red && image->base_green && image->base_blue;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Byte kernels.

void SaturateAddByteArray(UBYTE* __restrict dst, const UBYTE* __restrict src, LONG n) {
    for (LONG i = 0; i < n; i++) dst[i] = UBYTE(std::min(dst[i] + src[i], 255));
}

void SaturateSubByteArray(UBYTE* __restrict dst, const UBYTE* __restrict src, LONG n) {
    for (LONG i = 0; i < n; i++) dst[i] = UBYTE(std::max(dst[i] - src[i], 0));
}

void MultiplyByteArray(UBYTE* __restrict dst, const UBYTE* __restrict src, LONG n) {
    for (LONG i = 0; i < n; i++) dst[i] = UBYTE(dst[i] * src[i] / 255);
}

// Strengths above 255 (a "full" 256, or brush pressures that act as given) count as full.
void Tal__MergeByteArray(UBYTE* __restrict dst, const UBYTE* __restrict src, LONG n, LONG strength) {
    int w = std::clamp<LONG>(strength, 0, 255) * 257;
    for (LONG i = 0; i < n; i++) dst[i] = UBYTE(dst[i] - ((w * (dst[i] - src[i]) + 65278) >> 16));
}

void MergeDataViaAlphaAndTrans(UBYTE* __restrict dst, const UBYTE* __restrict src,
                               const UBYTE* __restrict alpha, LONG strength, LONG n) {
    int s = std::clamp<LONG>(strength, 0, 255) * 257;
    for (LONG i = 0; i < n; i++) {
        int w = (s * alpha[i]) >> 8;
        dst[i] = UBYTE(dst[i] + ((w * (src[i] - dst[i]) + 257) >> 16));
    }
}

// ---------------------------------------------------------------------------------------------------
// Region operations.

ULONG Tal_AddImageToImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width,
                          LONG height) {
    return arithmetic(dst, dx, dy, src, sx, sy, width, height, SaturateAddByteArray);
}

ULONG Tal_SubtractImageFromImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy,
                                 LONG width, LONG height) {
    return arithmetic(dst, dx, dy, src, sx, sy, width, height, SaturateSubByteArray);
}

ULONG Tal_MultiplyImageByImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width,
                               LONG height) {
    return arithmetic(dst, dx, dy, src, sx, sy, width, height, MultiplyByteArray);
}

ULONG Tal_BlitImageToImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width,
                           LONG height, LONG strength) {
    if (!dst || !src) return 0;
    Span s;
    if (!clipRegion(dst->width, dst->height, src->width, src->height, dx, dy, sx, sy, width, height, s) ||
        !usable(s))
        return 0;
    if (dst->depth == 8 && src->depth == 8 && dst->grey && src->grey) {
        copyRows(dst->grey, src->grey, s);
        if (dst->base_grey && src->base_grey) copyRows(dst->base_grey, src->base_grey, s);
        return 1;
    }
    if (dst->depth == 8 && src->depth == 24 && dst->grey && src->green) {
        copyRows(dst->grey, src->green, s);
        if (dst->base_grey && src->base_green) copyRows(dst->base_grey, src->base_green, s);
        return 1;
    }
    if (dst->depth != 24 || !dst->red || !dst->green || !dst->blue) return 0;
    if (src->depth == 8 && src->grey) {
        for (UBYTE** plane : {dst->red, dst->green, dst->blue}) copyRows(plane, src->grey, s);
        if (hasBase24(dst)) {
            UBYTE** from = src->base_grey ? src->base_grey : src->grey;
            for (UBYTE** plane : {dst->base_red, dst->base_green, dst->base_blue}) copyRows(plane, from, s);
        }
        return 1;
    }
    if (src->depth != 24 || !src->red || !src->green || !src->blue) return 0;
    UBYTE** d[3] = {dst->red, dst->green, dst->blue};
    UBYTE** f[3] = {src->red, src->green, src->blue};
    if (strength >= 255) {
        for (int ch = 0; ch < 3; ch++) copyRows(d[ch], f[ch], s);
        if (hasBase24(dst) && hasBase24(src)) {
            copyRows(dst->base_red, src->base_red, s);
            copyRows(dst->base_green, src->base_green, s);
            copyRows(dst->base_blue, src->base_blue, s);
        }
        return 1;
    }
    for (int ch = 0; ch < 3; ch++)
        for (LONG r = 0; r < s.h; r++)
            Tal__MergeByteArray(d[ch][s.dy + r] + s.dx, f[ch][s.sy + r] + s.sx, s.w, strength);
    return 1;
}

// Exactly `height` rows, clipped against the destination, the source and the alpha image (which lies
// over the source).
ULONG Tal__MergeImagesViaAlphaAndTrans(Tal_Image* dst, LONG x, LONG y, Tal_Image* src, LONG sx, LONG sy,
                                       LONG width, LONG height, Tal_Image* alpha, LONG strength) {
    if (!dst || !src) return 0;
    if (dst->depth == 8) return src->depth == 8 ? 1 : 0;
    if (dst->depth != 24) return 0;
    if (src->depth == 8) return 1;
    if (src->depth != 24 || !hasBase24(dst) || !src->red || !src->green || !src->blue) return 0;
    if (!alpha || !alpha->grey) return 0;
    LONG srcW = std::min(src->width, alpha->width), srcH = std::min(src->height, alpha->height);
    Span s;
    if (!clipRegion(dst->width, dst->height, srcW, srcH, x, y, sx, sy, width, height, s)) return 1;
    UBYTE** d[3] = {dst->base_red, dst->base_green, dst->base_blue};
    UBYTE** f[3] = {src->red, src->green, src->blue};
    for (int ch = 0; ch < 3; ch++)
        for (LONG r = 0; r < s.h; r++)
            MergeDataViaAlphaAndTrans(d[ch][s.dy + r] + s.dx, f[ch][s.sy + r] + s.sx,
                                      alpha->grey[s.sy + r] + s.sx, strength, s.w);
    return 1;
}

void Tal_InvertImageFunc(Tal_Image* image) {
    if (!image) return;
    UBYTE** planes[3] = {};
    int count = 0;
    bool hasBase = false;
    if (image->depth == 24) {
        hasBase = hasBase24(image);
        planes[0] = hasBase ? image->base_red : image->red;
        planes[1] = hasBase ? image->base_green : image->green;
        planes[2] = hasBase ? image->base_blue : image->blue;
        count = planes[0] && planes[1] && planes[2] ? 3 : 0;
    } else if (image->depth == 8) {
        hasBase = image->base_grey != nullptr;
        planes[0] = hasBase ? image->base_grey : image->grey;
        count = planes[0] ? 1 : 0;
    }
    if (!count) return;
    // Planes are contiguous rows of a fixed stride: invert them whole, a word at a time.
    size_t bytes = Tal_ImageDataStride(image->width, 8) * size_t(image->height);
    for (int p = 0; p < count; p++) {
        UBYTE* row = planes[p][0];
        for (size_t i = 0; i < bytes; i++) row[i] = UBYTE(~row[i]);
    }
    if (hasBase) Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
    Tal_FullProcessImage(image);
    Tal_ModifiedAllImageData(image);
}

ULONG Tal_RenderRectangle(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, LONG amount, ULONG colour) {
    if (!image || x1 < 0 || y1 < 0) return 0;
    x0 = std::clamp<LONG>(x0, 0, image->width - 1);
    y0 = std::clamp<LONG>(y0, 0, image->height - 1);
    x1 = std::min<LONG>(x1, image->width - 1);
    y1 = std::min<LONG>(y1, image->height - 1);
    if (x0 > x1 || y0 > y1) return 0;
    bool add = amount >= 1;
    auto apply = [&](UBYTE** plane, int value) {
        for (LONG y = y0; y <= y1; y++) {
            UBYTE* row = plane[y];
            for (LONG x = x0; x <= x1; x++)
                row[x] = UBYTE(add ? std::min(row[x] + value, 255) : std::max(row[x] - value, 0));
        }
    };
    if (image->depth == 8 && image->grey) {
        apply(image->grey, std::min<LONG>(amount < 0 ? -amount : amount, 255));
    } else if (image->depth == 24 && image->red && image->green && image->blue) {
        apply(image->red, colour & 0xFF);
        apply(image->green, (colour >> 8) & 0xFF);
        apply(image->blue, (colour >> 16) & 0xFF);
    } else {
        return 0;
    }
    Tal_ModifiedImageData(image, x0, y0, x1, y1);
    return 1;
}

// Refuses rows outside the image; the columns are clipped to the row, and buffer index i stands for
// column x + i.
ULONG Tal_CopyImageDataRGB(Tal_Image* image, LONG x, LONG row, LONG count, Tal_Word, UBYTE* red, UBYTE* green,
                           UBYTE* blue) {
    if (!image || row < 0 || row >= image->height || !red || !green || !blue) return 0;
    UBYTE** planes[3];
    if (image->depth == 8 && image->grey)
        planes[0] = planes[1] = planes[2] = image->grey;
    else if (image->depth == 24 && image->red && image->green && image->blue) {
        planes[0] = image->red;
        planes[1] = image->green;
        planes[2] = image->blue;
    } else
        return 0;
    int64_t c0 = std::max<int64_t>(x, 0), c1 = std::min<int64_t>(int64_t(x) + count - 1, image->width - 1);
    if (c0 > c1) return 1;
    UBYTE* out[3] = {red, green, blue};
    for (int ch = 0; ch < 3; ch++) std::memcpy(out[ch] + (c0 - x), planes[ch][row] + c0, size_t(c1 - c0 + 1));
    return 1;
}

// ---------------------------------------------------------------------------------------------------
// Line conversions.

void Tal_MakeRGBLine(const UBYTE* __restrict red, const UBYTE* __restrict green, const UBYTE* __restrict blue,
                     UBYTE* __restrict out, LONG n) {
    for (LONG i = 0; i < n; i++) {
        out[3 * i] = blue[i];
        out[3 * i + 1] = green[i];
        out[3 * i + 2] = red[i];
    }
}

void Tal_MakeRGBLine32f(const float* red, const float* green, const float* blue, UBYTE* out, LONG n) {
    // Clamped before the conversion: samples far out of range (or not a number) have no int value.
    auto byte = [](float v) {
        double x = double(v) * 255.0;
        return x >= 255.0 ? UBYTE(255) : x > 0.0 ? UBYTE(int(x)) : UBYTE(0);
    };
    for (LONG i = 0; i < n; i++) {
        out[3 * i] = byte(blue[i]);
        out[3 * i + 1] = byte(green[i]);
        out[3 * i + 2] = byte(red[i]);
    }
}

void Tal_MakeScaledRGBLine(const UBYTE* red, const UBYTE* green, const UBYTE* blue, UBYTE* out, LONG first,
                           LONG last, ULONG step) {
    for (LONG i = first; i <= last; i++) {
        size_t s = size_t((uint64_t(i) * step) >> 16);
        UBYTE* o = out + 3 * size_t(i - first);
        o[0] = blue[s];
        o[1] = green[s];
        o[2] = red[s];
    }
}

void Tal_MakeScaledGreyLine(UBYTE* out, const UBYTE* grey, LONG first, LONG last, ULONG step) {
    for (LONG i = first; i <= last; i++) {
        UBYTE v = grey[size_t((uint64_t(i) * step) >> 16)];
        UBYTE* o = out + 3 * size_t(i - first);
        o[0] = o[1] = o[2] = v;
    }
}

void Tal_SplitRGB(UBYTE* __restrict red, UBYTE* __restrict green, UBYTE* __restrict blue,
                  const UBYTE* __restrict interleaved, LONG n) {
    for (LONG i = 0; i < n; i++) {
        red[i] = interleaved[3 * i];
        green[i] = interleaved[3 * i + 1];
        blue[i] = interleaved[3 * i + 2];
    }
}
