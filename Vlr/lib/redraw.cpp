// Display redraw: an image rectangle is mapped to the view, clipped to what is visible, built into
// interleaved 24-bit lines at the view's scale (as it is, nearest or bilinear) in the one shared redraw
// buffer, and written to the view's window band by band. The standard renderer and the full-screen one
// live here; the 12-bit dithering renderer has a file of its own.
#include "Vlr/lib/redraw.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr const char* kLockTag = "Vlr/lib/redraw";
constexpr LONG kBufferRows = 33;            // a band: the band height setting (32) + 1
constexpr LONG kMaxSpan = 4096;             // the widest screen
constexpr uint64_t kDivide65025 = 16909061; // n ÷ 65025 = n × this >> 40 for every n below 2^24
constexpr LONG kWholeImage = 0x7FFFFFFF;    // a right or bottom edge: the image's own (clamped)

std::atomic<const std::atomic<LONG>*> redrawModeSetting{nullptr};
std::atomic<const std::atomic<LONG>*> interpolatedSetting{nullptr};
std::atomic<LONG> bufferWidthWanted{0};

// The column table of the span being drawn; used under the redraw-buffer lock only.
LONG spanColumns[kMaxSpan];
UBYTE spanFractions[kMaxSpan];

Tal_ImageBase* engine() {
    return Tal_GetImageBase();
}

LONG screenWidthFor(Tal_DrawInfo* di) {
    Tal_ImageBase* base = engine();
    for (ULONG screen : {base ? base->redraw_screen : 0u, di ? di->screenObject : 0u}) {
        if (!screen) continue;
        if (auto* s = reinterpret_cast<Screen*>(Tal_DoMethod(screen, 0x004601B8)); s && s->Width > 0)
            return s->Width;
    }
    const LONG width = host_ScreenWidth();
    return width > 0 ? width : 240;
}

bool allocated(const Tal_Image* image) {
    return image->alloc_state.load() == 1;
}

bool smoothing(const Tal_ImageView* view) {
    if (view->interpolation == 1) return false;
    if (view->interpolation == 2) return true;
    const Tal_ImageBase* base = engine();
    const LONG thumbW = base ? base->thumb_width : 50, thumbH = base ? base->thumb_height : 39;
    return Tal__InterpolatedDisplay() || (view->shown_w <= thumbW && view->shown_h <= thumbH);
}

// The feedback of the current layer's live action belongs on top of the picture in its first view.
void drawLiveFeedback(Tal_ImageView* view, Tal_Image* image) {
    Tal_Image* layer = image->current_layer;
    if (!layer || !layer->live_action || image->first_view != view) return;
    const ULONG action = layer->live_action;
    layer->live_action = 0;
    Tal_DoMethod(action, 0x1389003C);
    Tal_DoMethod(action, 0x13890032);
    layer->live_action = action;
}

// The interleaved line of one screen row of a 24-bit (or 96-bit, unscaled) picture, output pixels
// first..last counted from the shown picture's left.
void buildLine(const Tal_RedrawJob& j, const Tal_SmoothColumns& columns, LONG screenRow, LONG first,
               LONG last, UBYTE* out) {
    const Tal_Image* image = j.image;
    const LONG row = Tal__ImageRow(j, screenRow);
    if (image->depth == 8) {
        Tal_MakeScaledGreyLine(out, image->grey[row], first, last, ULONG((uint64_t(j.W) << 16) / j.DW));
    } else if (j.DW == j.W) {
        if (image->depth == 96)
            Tal_MakeRGBLine32f(image->fred[row] + first, image->fgreen[row] + first,
                               image->fblue[row] + first, out, last - first + 1);
        else
            Tal_MakeRGBLine(image->red[row] + first, image->green[row] + first, image->blue[row] + first, out,
                            last - first + 1);
    } else if (j.smooth && j.W == 1) {
        // The fast line reads two columns at once: a picture one pixel wide takes the rule as it is.
        Tal_MakeSmoothScaledRGBLine(image->red[0], image->green[0], image->blue[0],
                                    size_t(image->red[1] - image->red[0]), out, first, last, screenRow - j.T,
                                    j.W, j.H, j.DW, j.DH);
    } else if (j.smooth) {
        const int64_t position = (int64_t(screenRow - j.T) * j.H << 8) / j.DH;
        const LONG k = LONG(std::clamp<int64_t>(position >> 8, 0, j.H - 1));
        const LONG k1 = std::min(k + 1, j.H - 1);
        const UBYTE* const rows0[3] = {image->red[k], image->green[k], image->blue[k]};
        const UBYTE* const rows1[3] = {image->red[k1], image->green[k1], image->blue[k1]};
        Tal__SmoothLine(rows0, rows1, LONG(position & 255), columns, out);
    } else {
        Tal_MakeScaledRGBLine(image->red[row], image->green[row], image->blue[row], out, first, last,
                              ULONG((uint64_t(j.W) << 16) / j.DW));
    }
}

// Builds the rectangle in spans no wider than the buffer and bands of its rows, and writes each band.
void renderBands(const Tal_RedrawJob& j, bool fullScreen) {
    Tal_RedrawTarget target(j, j.x0, j.y0, j.x1, j.y1);
    if (!target) return;
    const LONG spanWidth = std::min<LONG>(target.width(), kMaxSpan);
    const bool scaledSmooth = j.smooth && j.DW != j.W && j.image->depth == 24;
    const bool carry = fullScreen && Tal__RedrawMode() == TAL_REDRAW_MODE_12BIT && j.image->depth != 8;
    for (LONG left = j.x0; left <= j.x1; left += spanWidth) {
        const LONG right = std::min(j.x1, left + spanWidth - 1);
        const LONG first = left - j.L, last = right - j.L, n = right - left + 1;
        Tal_SmoothColumns columns{spanColumns, spanFractions, 0};
        if (scaledSmooth) Tal__SmoothColumnTable(&columns, first, last, j.W, j.DW);
        // The serpentine carry of the full-screen renderer runs through the whole rectangle.
        LONG carries[3] = {0, 0, 0};
        for (LONG top = j.y0; top <= j.y1; top += target.height()) {
            const LONG rows = std::min(target.height(), j.y1 - top + 1);
            for (LONG r = 0; r < rows; r++) {
                UBYTE* out = target.row(r);
                buildLine(j, columns, top + r, first, last, out);
                if (!carry) continue;
                const bool leftward = ((top + r) & 1) != 0;
                for (LONG i = 0; i < n; i++) {
                    UBYTE* p = out + 3 * size_t(leftward ? n - 1 - i : i);
                    for (int c = 0; c < 3; c++) {
                        const LONG v = std::min<LONG>(255, p[c] + carries[c]);
                        p[c] = UBYTE(v);
                        carries[c] = v & 15;
                    }
                }
            }
            target.write(left, top, n, rows);
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Settings and the buffer.

bool Tal__ViewVisibleRect(const Tal_ImageView* view, LONG* x0, LONG* y0, LONG* x1, LONG* y1) {
    const Tal_Box* b = view->layout_box;
    if (!b || b->width <= 0 || b->height <= 0) return false;
    *x0 = b->x;
    *y0 = b->y;
    *x1 = b->x + b->width - 1;
    *y1 = b->y + b->height - 1;
    if (const Region* clip = b->clipRegion) {
        *x0 = std::max<LONG>(*x0, clip->bounds.MinX);
        *y0 = std::max<LONG>(*y0, clip->bounds.MinY);
        *x1 = std::min<LONG>(*x1, clip->bounds.MaxX);
        *y1 = std::min<LONG>(*y1, clip->bounds.MaxY);
    }
    *x0 = std::max<LONG>(*x0, 0);
    *y0 = std::max<LONG>(*y0, 0);
    return *x0 <= *x1 && *y0 <= *y1;
}

void Tal__UseDisplaySettings(const std::atomic<LONG>* redrawMode, const std::atomic<LONG>* interpolated) {
    redrawModeSetting = redrawMode;
    interpolatedSetting = interpolated;
}

LONG Tal__RedrawMode() {
    const std::atomic<LONG>* s = redrawModeSetting.load();
    return s ? s->load() : 0;
}

LONG Tal__InterpolatedDisplay() {
    const std::atomic<LONG>* s = interpolatedSetting.load();
    return s ? s->load() : 0;
}

ULONG Tal__InitRedraw(ULONG screen) {
    if (Tal_ImageBase* base = engine()) base->redraw_screen = screen;
    return screen ? 1 : 0;
}

Tal_VideoData* Tal__LockRedrawBuffer(Tal_DrawInfo* drawInfo) {
    Tal_ImageBase* base = engine();
    if (!base) return nullptr;
    ObtainSemaphore(&base->redraw_lock);
    if (!base->redraw_buffer) {
        LONG width = bufferWidthWanted.load();
        if (width <= 0) width = screenWidthFor(drawInfo);
        UBYTE* bits = nullptr;
        ULONG rowBytes = 0;
        base->redraw_buffer = Tal__AllocVideoData(drawInfo ? drawInfo->screen : nullptr, width, kBufferRows,
                                                  24, &bits, &rowBytes);
    }
    return base->redraw_buffer;
}

void Tal__UnlockRedrawBuffer(Tal_DrawInfo*) {
    if (Tal_ImageBase* base = engine()) ReleaseSemaphore(&base->redraw_lock);
}

void Tal__FreeRedrawBuffer() {
    Tal_ImageBase* base = engine();
    if (!base) return;
    SemaphoreGuard guard(&base->redraw_lock);
    Tal__FreeVideoData(base->redraw_buffer);
    base->redraw_buffer = nullptr;
}

void Tal__SetRedrawBufferWidth(LONG width) {
    bufferWidthWanted = std::clamp<LONG>(width, 0, kMaxSpan);
    Tal__FreeRedrawBuffer();
}

Tal_RedrawTarget::Tal_RedrawTarget(const Tal_RedrawJob& job, LONG x0, LONG y0, LONG x1, LONG y1)
    : view_(job.viewHandle) {
    drawInfo_ = Tal_LockDrawInfoAreaDebug(view_, x0, y0, x1 - x0 + 1, y1 - y0 + 1, kLockTag, __LINE__);
    if (!drawInfo_) return;
    bufferLocked_ = true;
    buffer_ = Tal__LockRedrawBuffer(drawInfo_);
}

Tal_RedrawTarget::~Tal_RedrawTarget() {
    if (bufferLocked_) Tal__UnlockRedrawBuffer(drawInfo_);
    if (drawInfo_) Tal_UnlockDrawInfoDebug(view_, kLockTag, __LINE__);
}

void Tal_RedrawTarget::write(LONG x, LONG y, LONG w, LONG rows, LONG firstRow) const {
    WritePixelArray(buffer_->bits, 0, firstRow, LONG(buffer_->bytesPerRow), drawInfo_->rastPort, x, y, w,
                    rows, buffer_);
}

// ---------------------------------------------------------------------------------------------------
// Bilinear lines.

void Tal_MakeSmoothScaledRGBLine(const UBYTE* red, const UBYTE* green, const UBYTE* blue, size_t row_stride,
                                 UBYTE* out, LONG first, LONG last, LONG screen_row, LONG image_width,
                                 LONG image_height, LONG shown_width, LONG shown_height) {
    if (image_width < 1 || image_height < 1 || shown_width < 1 || shown_height < 1) return;
    const int64_t rowPosition = (int64_t(screen_row) * image_height << 8) / shown_height;
    const int64_t k = std::clamp<int64_t>(rowPosition >> 8, 0, image_height - 1);
    const int64_t k1 = std::min<int64_t>(k + 1, image_height - 1);
    const uint64_t fy = uint64_t(rowPosition & 255);
    const UBYTE* planes[3] = {blue, green, red};
    for (LONG i = first; i <= last; i++) {
        const int64_t p = (int64_t(image_width) * i << 8) / shown_width;
        const int64_t m = std::clamp<int64_t>(p >> 8, 0, image_width - 1);
        const int64_t m1 = std::min<int64_t>(m + 1, image_width - 1);
        const uint64_t fx = uint64_t(p & 255);
        UBYTE* o = out + 3 * size_t(i - first);
        for (int c = 0; c < 3; c++) {
            const UBYTE* r0 = planes[c] + size_t(k) * row_stride;
            const UBYTE* r1 = planes[c] + size_t(k1) * row_stride;
            const uint64_t sum = r0[m] * (255 - fx) * (255 - fy) + r0[m1] * fx * (255 - fy) +
                                 r1[m] * (255 - fx) * fy + r1[m1] * fx * fy;
            o[c] = UBYTE(sum / 65025);
        }
    }
}

void Tal__SmoothColumnTable(Tal_SmoothColumns* columns, LONG first, LONG last, LONG W, LONG DW) {
    LONG n = 0;
    for (LONG i = first; i <= last; i++, n++) {
        const int64_t p = (int64_t(W) * i << 8) / DW;
        LONG m = LONG(std::clamp<int64_t>(p >> 8, 0, W - 1));
        LONG f = LONG(p & 255);
        // The last column mixes with itself: all of it, as the column before at its full weight gives.
        if (m == W - 1 && W > 1) {
            m = W - 2;
            f = 255;
        }
        columns->column[n] = m;
        columns->fraction[n] = UBYTE(f);
    }
    columns->count = n;
}

namespace {

// One output value: a × (255 − f) + b × f is a × 255 + (b − a) × f, one product a weight instead of two.
// The two columns of a row are read together.
inline UBYTE smoothValue(const UBYTE* top, const UBYTE* bottom, LONG m, int32_t wx, int32_t wy) {
    uint16_t a, b;
    std::memcpy(&a, top + m, 2);
    std::memcpy(&b, bottom + m, 2);
    const int32_t a0 = a & 0xFF, a1 = a >> 8, b0 = b & 0xFF, b1 = b >> 8;
    const int32_t upper = a0 * 255 + (a1 - a0) * wx;
    const int32_t lower = b0 * 255 + (b1 - b0) * wx;
    const uint32_t sum = uint32_t(upper * 255 + (lower - upper) * wy);
    return UBYTE((uint64_t(sum) * kDivide65025) >> 40);
}

#ifdef __SSE2__
// Eight output values of one channel at once. The horizontal mixes fit 16-bit lanes (at most 255 × 255);
// the vertical sums are taken in 32 bits; the division by 65025 is a float product (every sum below 2^24
// is exact in a float) put right by the remainder.
inline __m128i smoothEight(const UBYTE* top, const UBYTE* bottom, const LONG* m, __m128i fx, __m128i gx,
                           __m128i wy0, __m128i wy1) {
    auto pairs = [m](const UBYTE* row) {
        auto at = [&](int k) {
            uint16_t v;
            std::memcpy(&v, row + m[k], 2);
            return int(v);
        };
        __m128i v = _mm_cvtsi32_si128(at(0));
        v = _mm_insert_epi16(v, at(1), 1);
        v = _mm_insert_epi16(v, at(2), 2);
        v = _mm_insert_epi16(v, at(3), 3);
        v = _mm_insert_epi16(v, at(4), 4);
        v = _mm_insert_epi16(v, at(5), 5);
        v = _mm_insert_epi16(v, at(6), 6);
        return _mm_insert_epi16(v, at(7), 7);
    };
    const __m128i low = _mm_set1_epi16(0xFF);
    auto across = [&](__m128i p) {
        return _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(p, low), gx),
                             _mm_mullo_epi16(_mm_srli_epi16(p, 8), fx));
    };
    const __m128i upper = across(pairs(top)), lower = across(pairs(bottom));
    const __m128i ul = _mm_mullo_epi16(upper, wy0), uh = _mm_mulhi_epu16(upper, wy0);
    const __m128i ll = _mm_mullo_epi16(lower, wy1), lh = _mm_mulhi_epu16(lower, wy1);
    auto divide = [](__m128i n) {
        const __m128 f = _mm_cvtepi32_ps(n);
        __m128i q = _mm_cvttps_epi32(_mm_mul_ps(f, _mm_set1_ps(1.0f / 65025.0f)));
        const __m128 r = _mm_sub_ps(f, _mm_mul_ps(_mm_cvtepi32_ps(q), _mm_set1_ps(65025.0f)));
        q = _mm_add_epi32(q, _mm_castps_si128(_mm_cmplt_ps(r, _mm_setzero_ps())));
        return _mm_sub_epi32(q, _mm_castps_si128(_mm_cmpge_ps(r, _mm_set1_ps(65025.0f))));
    };
    const __m128i first = divide(_mm_add_epi32(_mm_unpacklo_epi16(ul, uh), _mm_unpacklo_epi16(ll, lh)));
    const __m128i second = divide(_mm_add_epi32(_mm_unpackhi_epi16(ul, uh), _mm_unpackhi_epi16(ll, lh)));
    const __m128i words = _mm_packs_epi32(first, second);
    return _mm_packus_epi16(words, words);
}
#endif

} // namespace

void Tal__SmoothLine(const UBYTE* const rows0[3], const UBYTE* const rows1[3], LONG fy,
                     const Tal_SmoothColumns& columns, UBYTE* __restrict out) {
    const LONG* column = columns.column;
    const UBYTE* fraction = columns.fraction;
    LONG i = 0;
#ifdef __SSE2__
    const __m128i wy0 = _mm_set1_epi16(short(255 - fy)), wy1 = _mm_set1_epi16(short(fy));
    for (; i + 8 <= columns.count; i += 8) {
        const __m128i fx = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(fraction + i)),
                                             _mm_setzero_si128());
        const __m128i gx = _mm_sub_epi16(_mm_set1_epi16(255), fx);
        const __m128i b = smoothEight(rows0[2], rows1[2], column + i, fx, gx, wy0, wy1);
        const __m128i g = smoothEight(rows0[1], rows1[1], column + i, fx, gx, wy0, wy1);
        const __m128i r = smoothEight(rows0[0], rows1[0], column + i, fx, gx, wy0, wy1);
        // Blue, green, red and a spare byte per pixel, then each pixel's three bytes.
        const __m128i bg = _mm_unpacklo_epi8(b, g), r0 = _mm_unpacklo_epi8(r, _mm_setzero_si128());
        const __m128i quads[2] = {_mm_unpacklo_epi16(bg, r0), _mm_unpackhi_epi16(bg, r0)};
        UBYTE* o = out + 3 * size_t(i);
        for (const __m128i& q : quads) {
            const uint64_t p01 = uint64_t(_mm_cvtsi128_si64(q)),
                           p23 = uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(q, q)));
            const uint64_t first = (p01 & 0xFFFFFF) | (p01 >> 32 & 0xFFFFFF) << 24 | (p23 & 0xFFFF) << 48;
            const uint32_t rest = uint32_t(p23 >> 16 & 0xFF) | uint32_t(p23 >> 32 & 0xFFFFFF) << 8;
            std::memcpy(o, &first, 8);
            std::memcpy(o + 8, &rest, 4);
            o += 12;
        }
    }
#endif
    for (; i < columns.count; i++) {
        const LONG m = column[i];
        const int32_t wx = fraction[i];
        out[3 * i] = smoothValue(rows0[2], rows1[2], m, wx, fy);
        out[3 * i + 1] = smoothValue(rows0[1], rows1[1], m, wx, fy);
        out[3 * i + 2] = smoothValue(rows0[0], rows1[0], m, wx, fy);
    }
}

// ---------------------------------------------------------------------------------------------------
// Renderers and the redraw of a rectangle.

void Tal__RenderStandard(const Tal_RedrawJob& job) {
    // A float picture is drawn only as it is.
    if (job.image->depth == 96 && job.DW != job.W) return;
    renderBands(job, false);
}

void Tal__RenderFullScreen(const Tal_RedrawJob& job) {
    if (job.image->depth == 96 && job.DW != job.W) return;
    Tal_RedrawJob j = job;
    j.smooth = job.image->depth != 8; // scaled lines always bilinear, grey pictures nearest
    renderBands(j, true);
}

void Tal_RedrawImageView(Tal_ImageView* view, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!view || !view->layout_box || !view->image) return;
    Tal_Image* image = view->image;
    // The image is validated by its lock before anything of it is read.
    if (!Tal_LockImageA(image, TAL_LOCK_READ, 0)) return;
    if (image->header.handle != view->image_handle || image->redraw_enable.load() < 1 || !allocated(image) ||
        image->width < 1 || image->height < 1 || view->shown_w < 1 || view->shown_h < 1) {
        Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
        return;
    }
    Tal_RedrawJob j{};
    j.view = view;
    j.viewHandle = view->header.handle;
    j.image = image;
    j.W = image->width;
    j.H = image->height;
    j.DW = view->shown_w;
    j.DH = view->shown_h;
    j.L = view->layout_box->x;
    j.T = view->layout_box->y;
    j.smooth = smoothing(view);
    if (j.smooth) {
        // Interpolation spreads each pixel into its neighbours.
        x0--;
        y0--;
        x1++;
        y1++;
    }
    x0 = std::max<LONG>(x0, 0);
    y0 = std::max<LONG>(y0, 0);
    x1 = std::min(x1, j.W - 1);
    y1 = std::min(y1, j.H - 1);
    image->redraw_busy++;
    if (x0 <= x1 && y0 <= y1 && Tal__ViewVisibleRect(view, &j.vx0, &j.vy0, &j.vx1, &j.vy1)) {
        j.rawX0 = Tal__ScreenX(j, x0);
        j.rawX1 = std::max(j.rawX0, LONG(j.L + int64_t(x1 + 1) * j.DW / j.W - 1));
        j.rawY0 = j.T + LONG(int64_t(y0) * j.DH / j.H);
        j.rawY1 = std::max(j.rawY0, LONG(j.T + int64_t(y1 + 1) * j.DH / j.H - 1));
        j.x0 = std::max(j.rawX0, j.vx0);
        j.y0 = std::max(j.rawY0, j.vy0);
        j.x1 = std::min(j.rawX1, j.vx1);
        j.y1 = std::min(j.rawY1, j.vy1);
        if (j.x0 <= j.x1 && j.y0 <= j.y1) {
            if (view->full_screen)
                Tal__RenderFullScreen(j);
            else if (Tal__RedrawMode() == TAL_REDRAW_MODE_12BIT && image->depth == 24)
                Tal__Render12Bit(j);
            else
                Tal__RenderStandard(j);
        }
    }
    drawLiveFeedback(view, image);
    __atomic_store_n(&view->redraw_pending, 0, __ATOMIC_RELAXED); // redraws come from every thread
    image->redraw_busy--;
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
}

namespace {

// The first view of a top image, with the rectangle clamped to it, under the image's lock.
void redrawInFirstView(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!image || !Tal_LockImageA(image, TAL_LOCK_READ, 0)) return;
    if (allocated(image) && image->first_view) {
        x0 = std::max<LONG>(x0, 0);
        y0 = std::max<LONG>(y0, 0);
        x1 = std::min(x1, image->width - 1);
        y1 = std::min(y1, image->height - 1);
        if (x0 <= x1 && y0 <= y1) Tal_RedrawImageView(image->first_view, x0, y0, x1, y1);
    }
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
}

} // namespace

void Tal_RedrawImage(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1) {
    redrawInFirstView(image, x0, y0, x1, y1);
}

void Tal_FullRedrawImage(Tal_Image* image) {
    // The size is read under the lock: the rectangle is clamped there.
    redrawInFirstView(image, 0, 0, kWholeImage, kWholeImage);
}

Tal_Image* Tal__LayerPlace(Tal_Image* layer, LONG* dx, LONG* dy, LONG* width, LONG* height) {
    *dx = *dy = 0;
    if (!layer || !Tal_LockImageA(layer, TAL_LOCK_READ, 0)) return nullptr;
    if (width) *width = layer->width;
    if (height) *height = layer->height;
    Tal_Image* top = layer;
    for (int depth = 0; top->parent && depth < 64; depth++) {
        *dx += top->layer_x;
        *dy += top->layer_y;
        top = top->parent;
    }
    Tal_UnlockImageA(layer, TAL_LOCK_READ, 0);
    return top;
}

void Tal_RedrawLayer(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1) {
    LONG dx, dy;
    Tal_Image* top = Tal__LayerPlace(layer, &dx, &dy);
    if (top && top != layer) redrawInFirstView(top, x0 + dx, y0 + dy, x1 + dx, y1 + dy);
}

void Tal_FullRedrawLayer(Tal_Image* layer) {
    LONG dx, dy, w = 0, h = 0;
    Tal_Image* top = Tal__LayerPlace(layer, &dx, &dy, &w, &h);
    if (top && top != layer) redrawInFirstView(top, dx, dy, dx + w - 1, dy + h - 1);
}
