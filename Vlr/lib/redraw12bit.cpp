// The 12-bit dithering renderer, for displays that show 4 bits per channel: the low bits a pixel loses
// are carried into the next pixel. The carry runs through blocks of 8 × 8 screen pixels anchored at
// multiples of 8 and restarts in every block, so a redraw of any part of a block gives the same pixels as
// a redraw of the whole: a block cut by the edge of the redraw still starts its carry at its origin (the
// pixels outside are computed, not drawn).
#include "Vlr/lib/redraw.h"

#include <algorithm>

namespace {

constexpr LONG kBlock = 8;

LONG floorTo(LONG v, LONG n) {
    return v >= 0 ? v / n * n : -((-v + n - 1) / n) * n;
}

// Samples one screen pixel of the picture: nearest with 10-bit steps, or bilinear with 8-bit positions.
// Positions outside the shown picture take its edge.
struct Sampler {
    const Tal_RedrawJob& j;
    bool smooth;
    uint64_t stepX, stepY; // nearest: (W << 10) ÷ DW, (H << 10) ÷ DH

    explicit Sampler(const Tal_RedrawJob& job)
        : j(job), smooth(Tal__InterpolatedDisplay() != 0 || job.view->interpolation == 2),
          stepX((uint64_t(job.W) << 10) / uint64_t(job.DW)),
          stepY((uint64_t(job.H) << 10) / uint64_t(job.DH)) {
        if (job.view->interpolation == 1) smooth = false;
    }

    void sample(LONG x, LONG y, UBYTE out[3]) const {
        const Tal_Image* image = j.image;
        const int64_t dx = std::max<int64_t>(x - j.L, 0), dy = std::max<int64_t>(y - j.T, 0);
        if (!smooth) {
            const LONG c = LONG(std::min<int64_t>(int64_t((uint64_t(dx) * stepX) >> 10), j.W - 1));
            const LONG r = LONG(std::min<int64_t>(int64_t((uint64_t(dy) * stepY) >> 10), j.H - 1));
            out[0] = image->red[r][c];
            out[1] = image->green[r][c];
            out[2] = image->blue[r][c];
            return;
        }
        const int64_t px = std::min<int64_t>((dx * j.W << 8) / j.DW, (int64_t(j.W) - 1) << 8);
        const int64_t py = std::min<int64_t>((dy * j.H << 8) / j.DH, (int64_t(j.H) - 1) << 8);
        const LONG m = LONG(px >> 8), k = LONG(py >> 8);
        const LONG m1 = std::min(m + 1, j.W - 1), k1 = std::min(k + 1, j.H - 1);
        const uint64_t fx = uint64_t(px & 255), fy = uint64_t(py & 255);
        UBYTE** planes[3] = {image->red, image->green, image->blue};
        for (int c = 0; c < 3; c++) {
            const uint64_t sum = planes[c][k][m] * (255 - fx) * (255 - fy) +
                                 planes[c][k][m1] * fx * (255 - fy) + planes[c][k1][m] * (255 - fx) * fy +
                                 planes[c][k1][m1] * fx * fy;
            out[c] = UBYTE(sum / 65025);
        }
    }
};

} // namespace

void Tal__Render12Bit(const Tal_RedrawJob& job) {
    // The rectangle grows to whole blocks, then is cut to what is visible.
    const LONG bx0 = floorTo(job.rawX0, kBlock), by0 = floorTo(job.rawY0, kBlock);
    const LONG bx1 = floorTo(job.rawX1, kBlock) + kBlock - 1, by1 = floorTo(job.rawY1, kBlock) + kBlock - 1;
    const LONG x0 = std::max(bx0, job.vx0), y0 = std::max(by0, job.vy0);
    const LONG x1 = std::min(bx1, job.vx1), y1 = std::min(by1, job.vy1);
    if (x0 > x1 || y0 > y1) return;
    Tal_RedrawTarget target(job, x0, y0, x1, y1);
    if (!target || target.height() < kBlock) return;
    const Sampler sampler(job);
    const LONG spanWidth = target.width();
    for (LONG left = x0; left <= x1; left += spanWidth) {
        const LONG right = std::min(x1, left + spanWidth - 1);
        for (LONG bandTop = floorTo(y0, kBlock); bandTop <= y1; bandTop += kBlock) {
            for (LONG blockLeft = floorTo(left, kBlock); blockLeft <= right; blockLeft += kBlock) {
                LONG carry[3] = {0, 0, 0};
                for (LONG y = bandTop; y < bandTop + kBlock; y++) {
                    for (LONG x = blockLeft; x < blockLeft + kBlock; x++) {
                        UBYTE rgb[3];
                        sampler.sample(x, y, rgb);
                        UBYTE out[3];
                        for (int c = 0; c < 3; c++) {
                            const LONG v = std::min<LONG>(255, rgb[c] + carry[c]);
                            out[c] = UBYTE(v);
                            carry[c] = v & 15;
                        }
                        if (x < left || x > right || y < y0 || y > y1) continue;
                        UBYTE* p = target.row(y - bandTop) + 3 * size_t(x - left);
                        p[0] = out[2];
                        p[1] = out[1];
                        p[2] = out[0];
                    }
                }
            }
            const LONG top = std::max(bandTop, y0), bottom = std::min(bandTop + kBlock - 1, y1);
            target.write(left, top, right - left + 1, bottom - top + 1, top - bandTop);
        }
    }
}
