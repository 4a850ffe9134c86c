// Image buffers: allocation in seven layouts, layers, storing and fetching pixels, format conversion.
#include "talio/talio.h"

#include "host/graphics.h"
#include "host/hugepages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TALIO_BYTE_SHUFFLES 1
#endif

namespace {

std::atomic<TALIO_AlphaResolver> alphaResolver{nullptr};

constexpr uint64_t round8(uint64_t v) {
    return (v + 7) & ~uint64_t(7);
}

// Products and sums of sizes; false when the result does not fit 64 bits.
bool mul(uint64_t a, uint64_t b, uint64_t* out) {
    return !__builtin_mul_overflow(a, b, out);
}
bool add(uint64_t a, uint64_t b, uint64_t* out) {
    return !__builtin_add_overflow(a, b, out);
}

// Pixel blocks are zeroed (a file that ends early leaves its missing pixels 0). A large block is fresh
// memory the loader fills at once: it asks for huge pages.
void* allocBlock(uint64_t size) {
    if (size == 0 || size > SIZE_MAX / 2) return nullptr;
    void* block = Tal_AllocMemClear(size_t(size));
    host_AdviseHugePages(block, size_t(size));
    return block;
}

// One plane of 8-bit rows in the image engine's layout: the row table, then the rows.
TALIO_Plane allocPlane(ULONG width, ULONG rows) {
    const uint64_t rowSize = round8(width);
    const uint64_t table = round8(uint64_t(rows) * sizeof(UBYTE*));
    uint64_t pixels, total;
    if (!mul(rowSize, rows, &pixels) || !add(table, pixels, &total) || !add(total, 16, &total))
        return nullptr;
    auto** rowTable = static_cast<UBYTE**>(allocBlock(total));
    if (!rowTable) return nullptr;
    UBYTE* first = reinterpret_cast<UBYTE*>(rowTable) + table;
    for (ULONG i = 0; i < rows; i++) rowTable[i] = first + i * rowSize;
    return rowTable;
}

void freePlane(TALIO_Plane* plane) {
    Tal_FreeMem(*plane);
    *plane = nullptr;
}

TALIO_ImageBuffer* newBuffer(ULONG width, ULONG height, ULONG depth, ULONG bytesPerRow, ULONG format) {
    auto* b = static_cast<TALIO_ImageBuffer*>(Tal_AllocMemClear(sizeof(TALIO_ImageBuffer)));
    if (!b) return nullptr;
    b->width = width;
    b->height = height;
    b->depth = depth;
    b->bytes_per_row = bytesPerRow;
    b->format = format;
    b->level = 255;
    NewList(&b->layers);
    if (!TALIO_AllocBufferMem(b)) {
        Tal_FreeMem(b);
        return nullptr;
    }
    return b;
}

void freeHeader(TALIO_Header* h) {
    if (!h) return;
    Tal_FreeMem(h->extra);
    Tal_FreeMem(h->owned_file_name);
    TALIO_ReadBuffered(nullptr, -1, h);
    Tal_FreeMem(h);
}

bool inside(const TALIO_ImageBuffer* b, ULONG x, ULONG y, ULONG width, ULONG rows) {
    return uint64_t(x) + width <= b->width && uint64_t(y) + rows <= b->height;
}

bool hasPlanes(const TALIO_ImageBuffer* b) {
    return b->red && b->green && b->blue && b->bytes_per_row >= b->width;
}

void splitColour(ULONG entry, UBYTE* r, UBYTE* g, UBYTE* b) {
    *r = UBYTE(entry);
    *g = UBYTE(entry >> 8);
    *b = UBYTE(entry >> 16);
}

// Pixels of `Step` bytes with red, green and blue at the given offsets into three planes.
template <int Step, int Red, int Green, int Blue>
void deinterleave(const UBYTE* __restrict s, ULONG width, UBYTE* __restrict R, UBYTE* __restrict G,
                  UBYTE* __restrict B) {
    for (ULONG i = 0; i < width; i++, s += Step) R[i] = s[Red], G[i] = s[Green], B[i] = s[Blue];
}

// Three-byte pixels split into planes and joined again 16 at a time with byte shuffles, where the
// processor has them: the plain loops above are what a load or save of a large picture spends most of
// its time in besides the decoder. Each returns the pixels done (a multiple of 16); the rest is the
// caller's.
#ifdef TALIO_BYTE_SHUFFLES

using ShuffleMask = std::array<signed char, 16>;

// Splitting: the lanes of each 16-byte block of 16 pixels that hold channel c, moved to their pixel.
constexpr std::array<std::array<ShuffleMask, 3>, 3> kSplitMasks = [] {
    std::array<std::array<ShuffleMask, 3>, 3> masks{};
    for (int c = 0; c < 3; c++)
        for (int block = 0; block < 3; block++) {
            masks[c][block].fill(-1);
            for (int p = 0; p < 16; p++)
                if ((3 * p + c) / 16 == block) masks[c][block][p] = (signed char)((3 * p + c) % 16);
        }
    return masks;
}();

// Joining: for each 16-byte block of output, the lanes that come from channel c's pixels.
constexpr std::array<std::array<ShuffleMask, 3>, 3> kJoinMasks = [] {
    std::array<std::array<ShuffleMask, 3>, 3> masks{};
    for (int block = 0; block < 3; block++)
        for (int c = 0; c < 3; c++) {
            masks[block][c].fill(-1);
            for (int lane = 0; lane < 16; lane++)
                if ((16 * block + lane) % 3 == c)
                    masks[block][c][lane] = (signed char)((16 * block + lane) / 3);
        }
    return masks;
}();

const bool haveShuffles = __builtin_cpu_supports("ssse3");
const bool haveWideShuffles = __builtin_cpu_supports("avx2");

__attribute__((target("ssse3"))) __m128i maskOf(const ShuffleMask& mask) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask.data()));
}

// The same mask in both 128-bit lanes: the wide shuffles work on two groups of 16 pixels at once.
__attribute__((target("avx2"))) __m256i wideMaskOf(const ShuffleMask& mask) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mask.data())));
}

__attribute__((target("avx2"))) __m256i loadLanes(const UBYTE* low, const UBYTE* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// 32 pixels at a time: the first 16 in the low lanes, the next 16 in the high ones.
__attribute__((target("avx2"))) ULONG splitWide(const UBYTE* s, ULONG width, UBYTE* const out[3]) {
    __m256i m[3][3];
    for (int c = 0; c < 3; c++)
        for (int b = 0; b < 3; b++) m[c][b] = wideMaskOf(kSplitMasks[c][b]);
    ULONG i = 0;
    for (; i + 32 <= width; i += 32, s += 96) {
        const __m256i in[3] = {loadLanes(s, s + 48), loadLanes(s + 16, s + 64), loadLanes(s + 32, s + 80)};
        for (int c = 0; c < 3; c++) {
            const __m256i v = _mm256_or_si256(
                _mm256_or_si256(_mm256_shuffle_epi8(in[0], m[c][0]), _mm256_shuffle_epi8(in[1], m[c][1])),
                _mm256_shuffle_epi8(in[2], m[c][2]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[c] + i), v);
        }
    }
    return i;
}

__attribute__((target("avx2"))) ULONG joinWide(const UBYTE* const from[3], ULONG width, UBYTE* d) {
    __m256i m[3][3];
    for (int b = 0; b < 3; b++)
        for (int c = 0; c < 3; c++) m[b][c] = wideMaskOf(kJoinMasks[b][c]);
    ULONG i = 0;
    for (; i + 32 <= width; i += 32, d += 96) {
        __m256i in[3], v[3];
        for (int c = 0; c < 3; c++) in[c] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from[c] + i));
        for (int b = 0; b < 3; b++)
            v[b] = _mm256_or_si256(
                _mm256_or_si256(_mm256_shuffle_epi8(in[0], m[b][0]), _mm256_shuffle_epi8(in[1], m[b][1])),
                _mm256_shuffle_epi8(in[2], m[b][2]));
        // Low lanes: bytes 0-47 of the output; high lanes: bytes 48-95.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm256_permute2x128_si256(v[0], v[1], 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32), _mm256_permute2x128_si256(v[2], v[0], 0x30));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 64), _mm256_permute2x128_si256(v[1], v[2], 0x31));
    }
    return i;
}

// Channels 0, 1, 2 of each pixel go to first, second, third.
__attribute__((target("ssse3"))) ULONG splitShuffled(const UBYTE* s, ULONG width, UBYTE* first, UBYTE* second,
                                                     UBYTE* third) {
    if (!haveShuffles) return 0;
    UBYTE* out[3] = {first, second, third};
    ULONG i = haveWideShuffles ? splitWide(s, width, out) : 0;
    s += 3 * size_t(i);
    __m128i m[3][3];
    for (int c = 0; c < 3; c++)
        for (int b = 0; b < 3; b++) m[c][b] = maskOf(kSplitMasks[c][b]);
    for (; i + 16 <= width; i += 16, s += 48) {
        const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32))};
        for (int c = 0; c < 3; c++) {
            const __m128i v =
                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], m[c][0]), _mm_shuffle_epi8(in[1], m[c][1])),
                             _mm_shuffle_epi8(in[2], m[c][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out[c] + i), v);
        }
    }
    return i;
}

__attribute__((target("ssse3"))) ULONG joinShuffled(const UBYTE* first, const UBYTE* second,
                                                    const UBYTE* third, ULONG width, UBYTE* d) {
    if (!haveShuffles) return 0;
    const UBYTE* from[3] = {first, second, third};
    ULONG i = haveWideShuffles ? joinWide(from, width, d) : 0;
    d += 3 * size_t(i);
    __m128i m[3][3];
    for (int b = 0; b < 3; b++)
        for (int c = 0; c < 3; c++) m[b][c] = maskOf(kJoinMasks[b][c]);
    for (; i + 16 <= width; i += 16, d += 48) {
        __m128i in[3];
        for (int c = 0; c < 3; c++) in[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from[c] + i));
        for (int b = 0; b < 3; b++) {
            const __m128i v =
                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], m[b][0]), _mm_shuffle_epi8(in[1], m[b][1])),
                             _mm_shuffle_epi8(in[2], m[b][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * b), v);
        }
    }
    return i;
}

#else

ULONG splitShuffled(const UBYTE*, ULONG, UBYTE*, UBYTE*, UBYTE*) {
    return 0;
}
ULONG joinShuffled(const UBYTE*, const UBYTE*, const UBYTE*, ULONG, UBYTE*) {
    return 0;
}

#endif

// Three-byte pixels whose channels 0, 1, 2 go to first, second, third.
void splitThree(const UBYTE* s, ULONG width, UBYTE* first, UBYTE* second, UBYTE* third) {
    const ULONG done = splitShuffled(s, width, first, second, third);
    deinterleave<3, 0, 1, 2>(s + 3 * size_t(done), width - done, first + done, second + done, third + done);
}

void joinThree(const UBYTE* first, const UBYTE* second, const UBYTE* third, ULONG width, UBYTE* d) {
    ULONG i = joinShuffled(first, second, third, width, d);
    for (d += 3 * size_t(i); i < width; i++, d += 3) d[0] = first[i], d[1] = second[i], d[2] = third[i];
}

// One row of `width` source pixels into the three planes at R, G, B.
bool storeRgbRow(const TALIO_ImageBuffer* buf, ULONG code, const UBYTE* __restrict s, ULONG width,
                 UBYTE* __restrict R, UBYTE* __restrict G, UBYTE* __restrict B) {
    switch (code) {
    case TALIO_PIXEL_RGB:
        splitThree(s, width, R, G, B);
        return true;
    case TALIO_PIXEL_RGBX:
        deinterleave<4, 0, 1, 2>(s, width, R, G, B);
        return true;
    case TALIO_PIXEL_BGR:
        splitThree(s, width, B, G, R);
        return true;
    case TALIO_PIXEL_BGRX:
        deinterleave<4, 2, 1, 0>(s, width, R, G, B);
        return true;
    case TALIO_PIXEL_XBGR:
        deinterleave<4, 3, 2, 1>(s, width, R, G, B);
        return true;
    case TALIO_PIXEL_RGB565:
        for (ULONG i = 0; i < width; i++) {
            UWORD v;
            std::memcpy(&v, s + 2 * size_t(i), 2);
            R[i] = UBYTE((v >> 11) * 255 / 31);
            G[i] = UBYTE(((v >> 5) & 63) * 255 / 63);
            B[i] = UBYTE((v & 31) * 255 / 31);
        }
        return true;
    case TALIO_PIXEL_GREY:
        std::memcpy(R, s, width);
        std::memcpy(G, s, width);
        std::memcpy(B, s, width);
        return true;
    case TALIO_PIXEL_INDEX:
        for (ULONG i = 0; i < width; i++) splitColour(buf->palette[s[i]], &R[i], &G[i], &B[i]);
        return true;
    case TALIO_PIXEL_INDEX4:
        for (ULONG i = 0; i < width; i++) {
            const UBYTE index = (i & 1) ? s[i / 2] & 15 : s[i / 2] >> 4;
            splitColour(buf->palette[index], &R[i], &G[i], &B[i]);
        }
        return true;
    default:
        return false;
    }
}

// The alpha of pixel (x, y) of a saved picture.
struct Alpha {
    bool has = false;
    TALIO_AlphaSource source{};
    UBYTE at(ULONG x, ULONG y) const {
        if (!has) return 255;
        const int64_t dx = int64_t(x) - source.x, dy = int64_t(y) - source.y;
        if (dx < 0 || dy < 0 || dx >= int64_t(source.width) || dy >= int64_t(source.height)) return 0;
        return source.rows[dy][dx];
    }
};

} // namespace

void TALIO__SetAlphaResolver(TALIO_AlphaResolver resolver) {
    alphaResolver = resolver;
}

TALIO_ImageBuffer* TALIO_AllocBuffer(ULONG width, ULONG height, ULONG depth, ULONG bytesPerRow, ULONG format,
                                     ULONG) {
    TALIO_ImageBuffer* b = newBuffer(width, height, depth, bytesPerRow, format);
    if (!b) TALIO_ErrorNumberRequest(TALIO_ERR_MEMORY);
    return b;
}

TALIO_ImageBuffer* TALIO__AllocBufferQuiet(ULONG width, ULONG height, ULONG depth, ULONG format) {
    return newBuffer(width, height, depth, 0, format);
}

ULONG TALIO_AllocBufferMem(TALIO_ImageBuffer* b) {
    if (!b || b->width == 0 || b->height == 0) return 0;
    if (b->memory || b->red_plane || b->rgba_plane[0]) TALIO_FreeBufferMem(b);
    const uint64_t w = b->width, h = b->height;

    if (b->format == TALIO_FORMAT_RGBPLANES || b->format == TALIO_FORMAT_RGBAPLANES) {
        const int count = b->format == TALIO_FORMAT_RGBPLANES ? 3 : 4;
        TALIO_Plane planes[4] = {};
        for (int i = 0; i < count; i++) {
            planes[i] = allocPlane(b->width, b->height);
            if (!planes[i]) {
                for (TALIO_Plane& p : planes) freePlane(&p);
                return 0;
            }
        }
        if (count == 3) {
            b->red_plane = planes[0], b->green_plane = planes[1], b->blue_plane = planes[2];
            b->red = planes[0][0], b->green = planes[1][0], b->blue = planes[2][0];
        } else {
            for (int i = 0; i < 4; i++) b->rgba_plane[i] = planes[i], b->rgba[i] = planes[i][0];
        }
        // The planes' own row distance, whatever the caller or a format class left here.
        b->bytes_per_row = ULONG(round8(w));
        return 1;
    }

    uint64_t minRow = 0, chosen = 0, planeCount = 1, rowExtra = 0;
    switch (b->format) {
    case TALIO_FORMAT_RGB24:
        minRow = 3 * w, chosen = round8(3 * w);
        break;
    case TALIO_FORMAT_RGB32:
        minRow = 4 * w, chosen = 0; // the caller must give it
        break;
    case TALIO_FORMAT_BITPLANES:
        if (b->depth < 1 || b->depth > 32) return 0;
        minRow = (w + 7) / 8, chosen = ((w + 15) / 8) & ~uint64_t(1), planeCount = b->depth;
        break;
    case TALIO_FORMAT_GREY8:
        minRow = w, chosen = round8(w);
        break;
    case TALIO_FORMAT_INDEXED8:
        minRow = w, chosen = round8(w), rowExtra = 64;
        break;
    default:
        return 0;
    }
    const uint64_t row = b->bytes_per_row ? b->bytes_per_row : chosen;
    if (row == 0 || row < minRow || row > 0xFFFFFFFFu) return 0;
    uint64_t size, perPlane;
    if (!mul(row + rowExtra, h, &perPlane) || !mul(perPlane, planeCount, &size) || !add(size, 1024, &size))
        return 0;
    auto* memory = static_cast<UBYTE*>(allocBlock(size));
    if (!memory) return 0;
    b->bytes_per_row = ULONG(row);
    b->memory = memory;
    switch (b->format) {
    case TALIO_FORMAT_RGB24:
        b->rgb24 = memory;
        break;
    case TALIO_FORMAT_RGB32:
        b->rgb32 = memory;
        break;
    case TALIO_FORMAT_BITPLANES:
        for (ULONG i = 0; i < b->depth; i++) b->planes[i] = memory + i * row * h;
        break;
    case TALIO_FORMAT_GREY8:
        b->grey = memory;
        break;
    default:
        b->indexed = memory;
        break;
    }
    return 1;
}

ULONG TALIO__AllocWorkingCopy(TALIO_ImageBuffer* b) {
    if (!b || !b->header || !b->header->copy_wanted || b->format != TALIO_FORMAT_RGBPLANES || !b->red_plane)
        return 0;
    if (b->red_copy) return 1;
    const uint64_t rows = uint64_t(b->height) + b->header->copy_spare_rows;
    if (rows > 0xFFFFFFFFu) return 0;
    TALIO_Plane planes[3] = {};
    for (TALIO_Plane& p : planes)
        if (!(p = allocPlane(b->width, ULONG(rows)))) {
            for (TALIO_Plane& q : planes) freePlane(&q);
            return 0;
        }
    b->red_copy = planes[0], b->green_copy = planes[1], b->blue_copy = planes[2];
    return 1;
}

void TALIO_FreeBufferMem(TALIO_ImageBuffer* b) {
    if (!b) return;
    Tal_FreeMem(b->memory);
    b->memory = nullptr;
    std::fill(std::begin(b->planes), std::end(b->planes), nullptr);
    b->rgb24 = b->rgb32 = b->grey = b->indexed = nullptr;
    freePlane(&b->red_plane);
    freePlane(&b->green_plane);
    freePlane(&b->blue_plane);
    freePlane(&b->red_copy);
    freePlane(&b->green_copy);
    freePlane(&b->blue_copy);
    b->red = b->green = b->blue = nullptr;
    for (int i = 0; i < 4; i++) {
        freePlane(&b->rgba_plane[i]);
        b->rgba[i] = nullptr;
    }
}

void TALIO_FreeBuffer(TALIO_ImageBuffer* b) {
    if (!b) return;
    freeHeader(b->header);
    b->header = nullptr;
    TALIO_FreeBufferMem(b);
    TALIO_FreeBuffer(b->mask);
    TALIO_FreeBuffer(b->mask2);
    TALIO_FreeBuffer(b->alpha);
    // A buffer described by hand may come with its layer list never initialised.
    if (b->layers.lh_Head)
        while (Node* layer = RemHead(&b->layers))
            TALIO_FreeBuffer(reinterpret_cast<TALIO_ImageBuffer*>(layer));
    Tal_FreeMem(b->placement);
    if (b->mode_object) Tal_DisposeObject(b->mode_object);
    Tal_FreeMem(b);
}

TALIO_ImageBuffer* TALIO_AddLayer(TALIO_ImageBuffer* parent, ULONG width, ULONG height, ULONG depth,
                                  ULONG format, ULONG kind, ULONG) {
    if (!parent || (kind != 1 && kind != 2) || !parent->layers.lh_Head) return nullptr;
    TALIO_ImageBuffer* layer = newBuffer(width, height, depth, 0, format);
    if (!layer) return nullptr;
    if (kind == 2) {
        layer->alpha = newBuffer(width, height, 8, 0, TALIO_FORMAT_GREY8);
        if (!layer->alpha) {
            TALIO_FreeBuffer(layer);
            return nullptr;
        }
    }
    AddTail(&parent->layers, &layer->node);
    return layer;
}

ULONG TALIO_SetBufferData(TALIO_ImageBuffer* b, ULONG x, ULONG y, ULONG width, ULONG rows,
                          ULONG sourceRowBytes, ULONG code, const void* source) {
    if (!b || !source || !inside(b, x, y, width, rows)) return 0;
    const auto* src = static_cast<const UBYTE*>(source);
    const size_t stride = b->bytes_per_row;
    switch (b->format) {
    case TALIO_FORMAT_RGBPLANES: {
        static constexpr ULONG codes[] = {3, 4, 7, 9, 11, 12, 14, 17, 18};
        if (!hasPlanes(b) || std::find(std::begin(codes), std::end(codes), code) == std::end(codes)) return 0;
        const bool copy = b->red_copy && b->green_copy && b->blue_copy;
        for (ULONG r = 0; r < rows; r++) {
            const size_t at = (size_t(y) + r) * stride + x;
            storeRgbRow(b, code, src + size_t(r) * sourceRowBytes, width, b->red + at, b->green + at,
                        b->blue + at);
            // While the row is at hand: the copy's rows have the planes' layout.
            if (copy) {
                std::memcpy(b->red_copy[0] + at, b->red + at, width);
                std::memcpy(b->green_copy[0] + at, b->green + at, width);
                std::memcpy(b->blue_copy[0] + at, b->blue + at, width);
            }
        }
        return 1;
    }
    case TALIO_FORMAT_GREY8:
    case TALIO_FORMAT_INDEXED8: {
        const ULONG wanted = b->format == TALIO_FORMAT_GREY8 ? TALIO_PIXEL_GREY : TALIO_PIXEL_INDEX;
        UBYTE* pixels = b->format == TALIO_FORMAT_GREY8 ? b->grey : b->indexed;
        if (code != wanted || !pixels || stride < b->width) return 0;
        // Only `width` bytes: padded source rows are longer than the buffer's rows.
        for (ULONG r = 0; r < rows; r++)
            std::memcpy(pixels + (size_t(y) + r) * stride + x, src + size_t(r) * sourceRowBytes, width);
        return 1;
    }
    default:
        return 0;
    }
}

ULONG TALIO_GetBufferData(const TALIO_ImageBuffer* b, ULONG x, ULONG y, ULONG width, ULONG rows,
                          ULONG destinationRowBytes, ULONG code, void* destination) {
    if (!b || !destination || !inside(b, x, y, width, rows)) return 0;
    const bool grey = b->format == TALIO_FORMAT_GREY8;
    if (grey ? !b->grey || b->bytes_per_row < b->width : b->format != TALIO_FORMAT_RGBPLANES || !hasPlanes(b))
        return 0;
    static constexpr ULONG codes[] = {3, 4, 11, 12, 14, 15, 16};
    if (std::find(std::begin(codes), std::end(codes), code) == std::end(codes)) return 0;

    Alpha alpha;
    if (code == TALIO_PIXEL_RGBA || code == TALIO_PIXEL_RGBA_INVERSE) {
        TALIO_AlphaResolver resolver = alphaResolver.load();
        alpha.has =
            resolver && b->source_image && resolver(b->source_image, &alpha.source) == 1 && alpha.source.rows;
    }
    const size_t stride = b->bytes_per_row;
    auto* out = static_cast<UBYTE*>(destination);
    for (ULONG r = 0; r < rows; r++) {
        const size_t at = (size_t(y) + r) * stride + x;
        const UBYTE* __restrict R = grey ? b->grey + at : b->red + at;
        const UBYTE* __restrict G = grey ? R : b->green + at;
        const UBYTE* __restrict B = grey ? R : b->blue + at;
        UBYTE* __restrict d = out + size_t(r) * destinationRowBytes;
        // One loop per code, so that the common ones compile to straight copies.
        switch (code) {
        case TALIO_PIXEL_INDEX:
            std::memcpy(d, G, width);
            break;
        case TALIO_PIXEL_RGB:
            joinThree(R, G, B, width, d);
            break;
        case TALIO_PIXEL_RGBX:
            for (ULONG i = 0; i < width; i++, d += 4) d[0] = R[i], d[1] = G[i], d[2] = B[i];
            break;
        case TALIO_PIXEL_BGR:
            joinThree(B, G, R, width, d);
            break;
        case TALIO_PIXEL_BGRX:
            for (ULONG i = 0; i < width; i++, d += 4) d[0] = B[i], d[1] = G[i], d[2] = R[i];
            break;
        default:
            for (ULONG i = 0; i < width; i++, d += 4) {
                const UBYTE a = alpha.at(x + i, y + r);
                d[0] = R[i], d[1] = G[i], d[2] = B[i];
                d[3] = code == TALIO_PIXEL_RGBA ? a : UBYTE(255 - a);
            }
            break;
        }
    }
    return 1;
}

TALIO_ImageBuffer* TALIO_ConvertBufferFormat(const TALIO_ImageBuffer* b, ULONG target) {
    if (!b || target != TALIO_FORMAT_RGBPLANES) return nullptr;
    TALIO_ImageBuffer* out = newBuffer(b->width, b->height, 24, 0, TALIO_FORMAT_RGBPLANES);
    if (!out) return nullptr;
    std::copy(std::begin(b->palette), std::end(b->palette), out->palette);
    const ULONG w = b->width, h = b->height, stride = b->bytes_per_row;
    bool done = false;
    auto copyPlanes = [&](const UBYTE* r, const UBYTE* g, const UBYTE* bl) {
        if (!r || !g || !bl || stride < w) return false;
        for (ULONG y = 0; y < h; y++) {
            const size_t from = size_t(y) * stride, to = size_t(y) * out->bytes_per_row;
            std::memcpy(out->red + to, r + from, w);
            std::memcpy(out->green + to, g + from, w);
            std::memcpy(out->blue + to, bl + from, w);
        }
        return true;
    };
    switch (b->format) {
    case TALIO_FORMAT_RGBPLANES:
        done = copyPlanes(b->red, b->green, b->blue);
        break;
    case TALIO_FORMAT_RGBAPLANES:
        // The first three planes are red, green and blue; the fourth (alpha) is left behind.
        done = copyPlanes(b->rgba[0], b->rgba[1], b->rgba[2]);
        break;
    case TALIO_FORMAT_RGB24:
        done = b->rgb24 && TALIO_SetBufferData(out, 0, 0, w, h, stride, TALIO_PIXEL_RGB, b->rgb24);
        break;
    case TALIO_FORMAT_RGB32:
        done = b->rgb32 && TALIO_SetBufferData(out, 0, 0, w, h, stride, TALIO_PIXEL_RGBX, b->rgb32);
        break;
    case TALIO_FORMAT_GREY8:
        done = b->grey && TALIO_SetBufferData(out, 0, 0, w, h, stride, TALIO_PIXEL_GREY, b->grey);
        break;
    case TALIO_FORMAT_INDEXED8:
        done = b->indexed && TALIO_SetBufferData(out, 0, 0, w, h, stride, TALIO_PIXEL_INDEX, b->indexed);
        break;
    case TALIO_FORMAT_BITPLANES: {
        if (!b->memory || b->depth < 1 || b->depth > 32) break;
        if (b->depth > 8) {
            // Planes 0-7, 8-15 and 16-23 are the red, green and blue bits.
            UBYTE* channels[] = {out->red, out->green, out->blue};
            done = true;
            for (ULONG c = 0; c < 3 && 8 * c < b->depth; c++)
                done = done &&
                       planar_to_chunky(b->planes[8 * c], channels[c], w, h,
                                        std::min<ULONG>(8, b->depth - 8 * c), stride, out->bytes_per_row);
            break;
        }
        TALIO_ImageBuffer* indexes = newBuffer(w, h, b->depth, 0, TALIO_FORMAT_INDEXED8);
        if (!indexes) break;
        done =
            planar_to_chunky(b->planes[0], indexes->indexed, w, h, b->depth, stride,
                             indexes->bytes_per_row) &&
            TALIO_SetBufferData(out, 0, 0, w, h, indexes->bytes_per_row, TALIO_PIXEL_INDEX, indexes->indexed);
        TALIO_FreeBuffer(indexes);
        break;
    }
    default:
        break;
    }
    if (!done) {
        TALIO_FreeBuffer(out);
        return nullptr;
    }
    return out;
}

ULONG TALIO_ComputeBestColourmapA(TALIO_ImageBuffer* b, ULONG count) {
    if (!b) return 1;
    // At least one entry, and never more than the palette holds.
    for (ULONG i = 0; i < std::clamp<ULONG>(count, 1, 256); i++) b->palette[i] = i | i << 8 | i << 16;
    return 1;
}
