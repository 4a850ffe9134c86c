// Resampling one picture into another of a different size: nearest, or smooth (interpolated where a
// direction grows, averaged over bins of source pixels where it shrinks). Plane by plane, on 8-bit
// working planes.
#include "Vlr/Vlr.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// The output index each source index is averaged into when a direction shrinks; `to` (or more) for
// source indices that are not used.
std::vector<LONG> bins(LONG from, LONG to) {
    std::vector<LONG> bin(static_cast<size_t>(from), 0);
    const int64_t offset = int64_t(15) * from / 16;
    for (LONG k = 0; k < from; k++) bin[size_t(k)] = LONG((offset + int64_t(k) * to) / from);
    return bin;
}

// Linear interpolation with 6-bit fractions for a growing direction: pixel and fraction per output index.
struct Tap {
    LONG at, next, e;
};
std::vector<Tap> linearTaps(LONG from, LONG to) {
    std::vector<Tap> taps(static_cast<size_t>(to));
    for (LONG i = 0; i < to; i++) {
        const int64_t t = std::max<int64_t>(int64_t(i) * 64 * from / to - 32, 0);
        const LONG at = std::min<LONG>(LONG(t >> 6), from - 1);
        taps[size_t(i)] = {at, std::min<LONG>(at + 1, from - 1), LONG(t & 63)};
    }
    return taps;
}

// Bilinear taps when a direction grows: the pixel, its neighbour towards the sample and the
// neighbour's share in 256ths.
struct Near {
    LONG at, other, share;
};
std::vector<Near> growTaps(LONG from, LONG to) {
    std::vector<Near> taps(static_cast<size_t>(to));
    for (LONG i = 0; i < to; i++) {
        const int64_t p = int64_t(i) * from * 256 / to;
        const LONG c = LONG(p >> 8);
        const LONG d = LONG(p - int64_t(c) * 256 - 128);
        const LONG other = d >= 0 ? std::min(c + 1, from - 1) : std::max(c - 1, 0);
        taps[size_t(i)] = {c, other, d < 0 ? -d : d};
    }
    return taps;
}

void nearest(UBYTE** src, LONG sw, LONG sh, UBYTE** dst, LONG dw, LONG dh) {
    std::vector<LONG> column(static_cast<size_t>(dw));
    for (LONG j = 0; j < dw; j++) column[size_t(j)] = LONG(uint64_t(j) * uint64_t(sw) / uint64_t(dw));
    for (LONG i = 0; i < dh; i++) {
        const UBYTE* from = src[uint64_t(i) * uint64_t(sh) / uint64_t(dh)];
        UBYTE* to = dst[i];
        for (LONG j = 0; j < dw; j++) to[j] = from[column[size_t(j)]];
    }
}

// Both directions grow (or keep their size): four neighbours weighted by their shares. The weights sum to
// 256, so the products are summed before the shift: a flat picture keeps its value.
void growBoth(UBYTE** src, LONG sw, LONG sh, UBYTE** dst, LONG dw, LONG dh) {
    const std::vector<Near> rows = growTaps(sh, dh), cols = growTaps(sw, dw);
    for (LONG i = 0; i < dh; i++) {
        const Near r = rows[size_t(i)];
        const LONG a = r.share;
        const UBYTE* same = src[r.at];
        const UBYTE* other = src[r.other];
        for (LONG j = 0; j < dw; j++) {
            const Near c = cols[size_t(j)];
            const LONG b = c.share;
            const LONG vc = b * (256 - a) / 256, vr = a * (256 - b) / 256, vd = (a * b) >> 8;
            const LONG self = 256 - vc - vr - vd;
            dst[i][j] =
                UBYTE((self * same[c.at] + vc * same[c.other] + vr * other[c.at] + vd * other[c.other]) >> 8);
        }
    }
}

// Rows shrink, columns grow: each source row interpolated to the new width, then the rows of a bin
// averaged.
void shrinkRowsGrowColumns(UBYTE** src, LONG sw, LONG sh, UBYTE** dst, LONG dw, LONG dh) {
    const std::vector<Tap> cols = linearTaps(sw, dw);
    const std::vector<LONG> bin = bins(sh, dh);
    std::vector<uint32_t> sum(size_t(dh) * size_t(dw), 0), count(static_cast<size_t>(dh), 0);
    for (LONG k = 0; k < sh; k++) {
        const LONG n = bin[size_t(k)];
        if (n >= dh) continue;
        count[size_t(n)]++;
        const UBYTE* row = src[k];
        uint32_t* out = &sum[size_t(n) * size_t(dw)];
        for (LONG j = 0; j < dw; j++) {
            const Tap t = cols[size_t(j)];
            out[j] += uint32_t((row[t.next] * t.e + row[t.at] * (64 - t.e)) >> 6);
        }
    }
    for (LONG n = 0; n < dh; n++) {
        const uint32_t c = std::max<uint32_t>(count[size_t(n)], 1);
        for (LONG j = 0; j < dw; j++) dst[n][j] = UBYTE(sum[size_t(n) * size_t(dw) + size_t(j)] / c);
    }
}

// Rows grow, columns shrink: each column bin averaged in its row, the rows interpolated.
void growRowsShrinkColumns(UBYTE** src, LONG sw, LONG sh, UBYTE** dst, LONG dw, LONG dh) {
    const std::vector<Tap> rows = linearTaps(sh, dh);
    const std::vector<LONG> bin = bins(sw, dw);
    std::vector<uint32_t> count(static_cast<size_t>(dw), 0);
    for (LONG k = 0; k < sw; k++)
        if (bin[size_t(k)] < dw) count[size_t(bin[size_t(k)])]++;
    // The averaged rows of the source, one per source row.
    std::vector<UBYTE> reduced(size_t(sh) * size_t(dw));
    std::vector<uint32_t> sum(static_cast<size_t>(dw));
    for (LONG y = 0; y < sh; y++) {
        std::fill(sum.begin(), sum.end(), 0);
        for (LONG k = 0; k < sw; k++)
            if (bin[size_t(k)] < dw) sum[size_t(bin[size_t(k)])] += src[y][k];
        for (LONG n = 0; n < dw; n++)
            reduced[size_t(y) * size_t(dw) + size_t(n)] =
                UBYTE(sum[size_t(n)] / std::max<uint32_t>(count[size_t(n)], 1));
    }
    for (LONG i = 0; i < dh; i++) {
        const Tap t = rows[size_t(i)];
        const UBYTE* here = &reduced[size_t(t.at) * size_t(dw)];
        const UBYTE* next = &reduced[size_t(t.next) * size_t(dw)];
        for (LONG n = 0; n < dw; n++) dst[i][n] = UBYTE((next[n] * t.e + here[n] * (64 - t.e)) >> 6);
    }
}

// Both shrink: the sums of a bin of rows averaged over its rows, then over the columns of a column bin.
void shrinkBoth(UBYTE** src, LONG sw, LONG sh, UBYTE** dst, LONG dw, LONG dh) {
    const std::vector<LONG> rowBin = bins(sh, dh), colBin = bins(sw, dw);
    std::vector<uint32_t> rowCount(static_cast<size_t>(dh), 0), colCount(static_cast<size_t>(dw), 0);
    for (LONG k = 0; k < sh; k++)
        if (rowBin[size_t(k)] < dh) rowCount[size_t(rowBin[size_t(k)])]++;
    for (LONG k = 0; k < sw; k++)
        if (colBin[size_t(k)] < dw) colCount[size_t(colBin[size_t(k)])]++;
    std::vector<uint32_t> columnSums(static_cast<size_t>(sw)), sum(static_cast<size_t>(dw));
    LONG k = 0;
    for (LONG n = 0; n < dh; n++) {
        std::fill(columnSums.begin(), columnSums.end(), 0);
        for (; k < sh && rowBin[size_t(k)] == n; k++)
            for (LONG x = 0; x < sw; x++) columnSums[size_t(x)] += src[k][x];
        const uint32_t rows = std::max<uint32_t>(rowCount[size_t(n)], 1);
        std::fill(sum.begin(), sum.end(), 0);
        for (LONG x = 0; x < sw; x++)
            if (colBin[size_t(x)] < dw) sum[size_t(colBin[size_t(x)])] += columnSums[size_t(x)] / rows;
        for (LONG m = 0; m < dw; m++)
            dst[n][m] = UBYTE(sum[size_t(m)] / std::max<uint32_t>(colCount[size_t(m)], 1));
    }
}

void scalePlane(UBYTE** src, LONG sw, LONG sh, UBYTE** dst, LONG dw, LONG dh, bool smooth) {
    if (!smooth)
        nearest(src, sw, sh, dst, dw, dh);
    else if (dw >= sw && dh >= sh)
        growBoth(src, sw, sh, dst, dw, dh);
    else if (dw >= sw)
        shrinkRowsGrowColumns(src, sw, sh, dst, dw, dh);
    else if (dh >= sh)
        growRowsShrinkColumns(src, sw, sh, dst, dw, dh);
    else
        shrinkBoth(src, sw, sh, dst, dw, dh);
}

} // namespace

ULONG Tal__ScaleImageToImage(Tal_Image* destination, Tal_Image* source, ULONG flags) {
    if (!destination || !source) return 0;
    const LONG sw = source->width, sh = source->height, dw = destination->width, dh = destination->height;
    if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return 0;
    const bool smooth = flags & 1;
    const bool srcColour = source->depth == 24 && source->red && source->green && source->blue;
    const bool srcGrey = source->depth == 8 && source->grey;
    const bool dstColour =
        destination->depth == 24 && destination->red && destination->green && destination->blue;
    const bool dstGrey = destination->depth == 8 && destination->grey;
    if (srcColour && dstColour) {
        scalePlane(source->red, sw, sh, destination->red, dw, dh, smooth);
        scalePlane(source->green, sw, sh, destination->green, dw, dh, smooth);
        scalePlane(source->blue, sw, sh, destination->blue, dw, dh, smooth);
    } else if (srcColour && dstGrey) {
        scalePlane(source->green, sw, sh, destination->grey, dw, dh, smooth);
    } else if (srcGrey && dstGrey) {
        scalePlane(source->grey, sw, sh, destination->grey, dw, dh, smooth);
    } else if (srcGrey && dstColour) {
        scalePlane(source->grey, sw, sh, destination->red, dw, dh, smooth);
        for (LONG y = 0; y < dh; y++)
            for (LONG x = 0; x < dw; x++)
                destination->green[y][x] = destination->blue[y][x] = destination->red[y][x];
    } else {
        return 0;
    }
    return 1;
}
