// Clipboard bitmaps as PNG and back, for the exchange with other programs (libpng, in memory).
//
// libpng reports errors by a long jump back to the function that set it up; the functions that hold a
// jump point therefore keep only plain data, and their buffers are made and freed by their callers.
#include "host/clipboard.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kHeaderSize = 40;
constexpr uint64_t kMaxDecodedBytes = uint64_t(1) << 30;

ULONG le32(const UBYTE* p) {
    return ULONG(p[0]) | ULONG(p[1]) << 8 | ULONG(p[2]) << 16 | ULONG(p[3]) << 24;
}

UWORD le16(const UBYTE* p) {
    return UWORD(p[0] | p[1] << 8);
}

void put32(UBYTE* p, ULONG v) {
    for (int i = 0; i < 4; i++) p[i] = UBYTE(v >> (8 * i));
}

void quietError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void quietWarning(png_structp, png_const_charp) {}

// ---------------------------------------------------------------------------------------------------
// Bitmap to PNG.

void appendData(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<UBYTE>*>(png_get_io_ptr(png));
    bool failed = false;
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (failed) png_error(png, "out of memory");
}

void flushNothing(png_structp) {}

// The rows (bottom first unless topDown), `bytes` per pixel in B, G, R order, through `rgb` (one row).
bool encode(const UBYTE* pixels, ULONG width, ULONG rows, size_t rowBytes, ULONG bytes, bool topDown,
            UBYTE* rgb, std::vector<UBYTE>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendData, flushNothing);
    png_set_IHDR(png, info, width, rows, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // A clipboard transfer is read once: speed matters more than size.
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (ULONG y = 0; y < rows; y++) {
        const UBYTE* source = pixels + size_t(topDown ? y : rows - 1 - y) * rowBytes;
        for (ULONG x = 0; x < width; x++, source += bytes) {
            rgb[3 * x] = source[2];
            rgb[3 * x + 1] = source[1];
            rgb[3 * x + 2] = source[0];
        }
        png_write_row(png, rgb);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// PNG to bitmap.

struct Source {
    const UBYTE* data;
    size_t length;
    size_t at;
};

void readData(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (length > source->length - source->at) png_error(png, "the data ends early");
    std::memcpy(out, source->data + source->at, length);
    source->at += length;
}

// The decoded picture: 8-bit RGB or RGBA rows, made and freed by the caller of decode.
struct Decoded {
    UBYTE* pixels;
    png_bytep* rows;
    ULONG width, height, channels;
};

// No block libpng asks for can be larger than the file and its rows: a chunk that claims more is refused
// before anything is allocated for it.
png_voidp boundedMalloc(png_structp png, png_alloc_size_t size) {
    const auto* source = static_cast<const Source*>(png_get_mem_ptr(png));
    return size <= source->length + (size_t(1) << 20) ? std::malloc(size) : nullptr;
}

void boundedFree(png_structp, png_voidp block) {
    std::free(block);
}

bool decode(Source* source, ULONG maxSide, Decoded* d) {
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning,
                                               source, boundedMalloc, boundedFree);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, source, readData);
    png_set_user_limits(png, maxSide, maxSide);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);
    png_set_expand(png); // palette and small grey to 8 bits, transparency to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    d->width = png_get_image_width(png, info);
    d->height = png_get_image_height(png, info);
    d->channels = png_get_channels(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if ((d->channels != 3 && d->channels != 4) || rowBytes != size_t(d->width) * d->channels ||
        uint64_t(rowBytes) * d->height > kMaxDecodedBytes)
        png_error(png, "unexpected layout");
    d->pixels = static_cast<UBYTE*>(std::malloc(rowBytes * d->height));
    d->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * d->height));
    if (!d->pixels || !d->rows) png_error(png, "out of memory");
    for (ULONG y = 0; y < d->height; y++) d->rows[y] = d->pixels + size_t(y) * rowBytes;
    png_read_image(png, d->rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// A 24-bit bottom-up bitmap of the decoded picture, alpha laid over white.
UBYTE* bitmapOf(const Decoded& d, size_t* length) {
    const size_t rowBytes = (size_t(d.width) * 3 + 3) & ~size_t(3);
    const size_t total = kHeaderSize + rowBytes * d.height;
    UBYTE* block = host_AllocClipboardBlock(total);
    if (!block) return nullptr;
    std::memset(block, 0, total);
    put32(block, kHeaderSize);
    put32(block + 4, d.width);
    put32(block + 8, d.height);
    block[12] = 1;  // planes
    block[14] = 24; // bits
    put32(block + 20, ULONG(rowBytes * d.height));
    for (ULONG y = 0; y < d.height; y++) {
        const UBYTE* from = d.rows[y];
        UBYTE* to = block + kHeaderSize + size_t(d.height - 1 - y) * rowBytes;
        for (ULONG x = 0; x < d.width; x++, from += d.channels, to += 3) {
            const ULONG a = d.channels == 4 ? from[3] : 255;
            for (int c = 0; c < 3; c++) to[2 - c] = UBYTE((from[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
    *length = total;
    return block;
}

} // namespace

bool host__BitmapToPng(const UBYTE* bitmap, size_t length, std::vector<UBYTE>* png) {
    if (!bitmap || !png || length < kHeaderSize) return false;
    const ULONG headerSize = le32(bitmap);
    const auto width = int32_t(le32(bitmap + 4));
    const auto height = int32_t(le32(bitmap + 8));
    const ULONG bits = le16(bitmap + 14);
    const ULONG compression = le32(bitmap + 16);
    const ULONG colours = le32(bitmap + 32);
    if (headerSize < kHeaderSize || headerSize > length || width < 1 || width > 32767 || height == 0 ||
        height < -32767 || height > 32767 || (bits != 24 && bits != 32) || compression != 0 || colours > 256)
        return false;
    const ULONG rows = ULONG(height < 0 ? -height : height);
    const size_t rowBytes = (size_t(width) * bits + 31) / 32 * 4;
    const uint64_t offset = uint64_t(headerSize) + uint64_t(colours) * 4;
    if (offset + uint64_t(rowBytes) * rows > length) return false;
    png->clear();
    try {
        std::vector<UBYTE> rgb(size_t(width) * 3);
        return encode(bitmap + offset, ULONG(width), rows, rowBytes, bits / 8, height < 0, rgb.data(), png);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

UBYTE* host__PngToBitmap(const UBYTE* png, size_t length, size_t* bitmapLength, ULONG maxSide) {
    if (!png || !bitmapLength || length < 8 || png_sig_cmp(png, 0, 8) != 0) return nullptr;
    Source source{png, length, 0};
    Decoded decoded{};
    UBYTE* bitmap = decode(&source, maxSide, &decoded) ? bitmapOf(decoded, bitmapLength) : nullptr;
    std::free(decoded.pixels);
    std::free(decoded.rows);
    return bitmap;
}
