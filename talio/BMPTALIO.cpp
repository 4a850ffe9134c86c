// BMPTALIO: Windows and OS/2 device-independent bitmaps. Loads 1, 4, 8 (plain or run-length coded) and
// 24 bits a pixel, rows bottom-up or top-down; saves uncompressed 24-bit Windows bitmaps.
//
// Everything taken from the file (offsets, run lengths, skips) is checked against the picture and the
// file before it is used: a damaged file gives an error number, never a write outside a row.
#include "talio/talio.h"

#include "talio/TALIOBytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

Tal_Class bmpClass;

constexpr ULONG kBmpClassId = 7004;
constexpr ULONG kBmpFlags = 1;
constexpr uint64_t kFileHeaderSize = 14;
constexpr ULONG kOs2HeaderSize = 12;
constexpr ULONG kSavedInfoSize = 40;
constexpr uint64_t kSavedPixelOffset = kFileHeaderSize + kSavedInfoSize;
constexpr size_t kPaletteBlock = 1024; // 256 entries of 4 bytes
constexpr ULONG kRle8 = 1;
constexpr size_t kChunkBytes = 256 * 1024; // rows are read and written this many bytes at a time

struct BMPTALIOInstance {
    Tal_Object header;
    ULONG windows_header;    // 1: colour table entries of 4 bytes, 0 (OS/2): of 3
    uint64_t pixel_offset;   // where the rows start
    uint64_t palette_offset; // 14 + the info header's size
    ULONG bit_count;
    ULONG compression; // 0 for OS/2 headers
    ULONG top_down;    // a negative height: the first row of the file is the top row
};

// Bytes of one row in the file, padded to a multiple of 4.
size_t fileRowBytes(ULONG bits, ULONG width) {
    const uint64_t bitsInRow = uint64_t(width) * bits;
    return size_t(((bitsInRow + 7) / 8 + 3) & ~uint64_t(3));
}

// The buffer row of the n-th row stored in the file.
ULONG bufferRow(const BMPTALIOInstance* self, ULONG height, ULONG n) {
    return self->top_down ? n : height - 1 - n;
}

// ---------------------------------------------------------------------------------------------------
// Identify.

ULONG identify(BMPTALIOInstance* self, TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const UBYTE* p = header->peek;
    const ULONG n = header->peek_length;
    if (!p || n < 18 || p[0] != 'B' || p[1] != 'M') return TALIO_ERR_UNKNOWN;
    const ULONG infoSize = TALIO__GetLE32(p + 14);
    int64_t width, height;
    ULONG bits, compression = 0;
    if (infoSize == kOs2HeaderSize) {
        if (n < 26) return TALIO_ERR_UNKNOWN;
        width = int16_t(TALIO__GetLE16(p + 18));
        height = int16_t(TALIO__GetLE16(p + 20));
        bits = TALIO__GetLE16(p + 24);
    } else {
        // The Windows fields up to the bit count, and the compression when the header holds it.
        if (infoSize < 16 || n < kFileHeaderSize + std::min<ULONG>(infoSize, 20)) return TALIO_ERR_UNKNOWN;
        width = int32_t(TALIO__GetLE32(p + 18));
        height = int32_t(TALIO__GetLE32(p + 22));
        bits = TALIO__GetLE16(p + 28);
        if (infoSize >= 20) compression = TALIO__GetLE32(p + 30);
    }
    if (width <= 0 || height == 0) return TALIO_ERR_UNKNOWN;
    TALIO_ImageBuffer* b = header->buffer;
    switch (bits) {
    case 1:
        b->format = TALIO_FORMAT_BITPLANES;
        b->depth = 1;
        b->bytes_per_row = ULONG(fileRowBytes(1, ULONG(width)));
        break;
    case 4:
    case 8:
        b->format = header->mapped_format;
        b->depth = 8;
        break;
    case 24:
        b->format = header->truecolour_format;
        b->depth = 24;
        break;
    default:
        return TALIO_ERR_UNKNOWN;
    }
    b->width = ULONG(width);
    b->height = ULONG(height < 0 ? -height : height);
    self->windows_header = infoSize == kOs2HeaderSize ? 0 : 1;
    self->pixel_offset = TALIO__GetLE32(p + 10);
    self->palette_offset = kFileHeaderSize + infoSize;
    self->bit_count = bits;
    self->compression = compression;
    self->top_down = height < 0 ? 1 : 0;
    return TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// Load.

// The colour table: at most 1024 bytes between the info header and the pixels; entries the file does not
// hold stay black.
ULONG readPalette(const BMPTALIOInstance* self, TALIO_Header* header) {
    UBYTE block[kPaletteBlock] = {};
    const size_t length =
        size_t(std::min<uint64_t>(self->pixel_offset - self->palette_offset, kPaletteBlock));
    if (TALIO_Seek(header, int64_t(self->palette_offset), 0) != 0) return TALIO_ERR_READ;
    const size_t got = length ? TALIO_ReadData(block, 1, length, header) : 0;
    const size_t entry = self->windows_header ? 4 : 3;
    ULONG* palette = header->buffer->palette;
    for (size_t i = 0; i < (size_t(1) << self->bit_count) && (i + 1) * entry <= got; i++) {
        const UBYTE* e = block + i * entry;
        palette[i] = ULONG(e[2]) | ULONG(e[1]) << 8 | ULONG(e[0]) << 16;
    }
    return TALIO_OK;
}

// Hands the uncompressed rows of the file to `store(row n of the file, its bytes)`, reading many rows at
// once; a file that ends early gives 3.
template <typename Store>
ULONG forEachFileRow(const BMPTALIOInstance* self, TALIO_Header* header, size_t rowBytes, Store store) {
    TALIO_ImageBuffer* b = header->buffer;
    const ULONG perChunk = ULONG(std::clamp<size_t>(kChunkBytes / rowBytes, 1, b->height));
    std::vector<UBYTE> chunk(rowBytes * perChunk);
    for (ULONG first = 0; first < b->height;) {
        const ULONG rows = std::min(perChunk, b->height - first);
        if (TALIO_ReadData(chunk.data(), rowBytes, rows, header) != rows) return TALIO_ERR_READ;
        for (ULONG i = 0; i < rows; i++)
            if (!store(bufferRow(self, b->height, first + i), chunk.data() + i * rowBytes))
                return TALIO_ERR_DAMAGED;
        if (!TALIO__ReportRows(header, first, first + rows, b->height)) return TALIO_ERR_CANCELLED;
        first += rows;
    }
    return TALIO_OK;
}

// Run-length coded 8-bit rows. Runs and copies are cut at the end of the padded row, skips end at the
// last row; decoding ends with the last row, at the end-of-picture code or with an error at the end of
// the file.
ULONG decodeRle8(const BMPTALIOInstance* self, TALIO_Header* header) {
    TALIO_ImageBuffer* b = header->buffer;
    const size_t rowBytes = fileRowBytes(8, b->width);
    std::vector<UBYTE> row(rowBytes, 0);
    size_t x = 0; // the current column, at most rowBytes
    ULONG y = 0;  // rows of the file finished
    auto put = [&](const UBYTE* source, UBYTE value, size_t count) {
        const size_t n = std::min(count, rowBytes - x);
        if (source)
            std::memcpy(row.data() + x, source, n);
        else
            std::memset(row.data() + x, value, n);
        x += n;
    };
    // Stores the current row and starts the next one (cleared, at column 0).
    auto finishRow = [&]() -> ULONG {
        if (!TALIO_SetBufferData(b, 0, bufferRow(self, b->height, y), b->width, 1, ULONG(rowBytes),
                                 TALIO_PIXEL_INDEX, row.data()))
            return TALIO_ERR_DAMAGED;
        std::fill(row.begin(), row.end(), 0);
        x = 0;
        y++;
        return TALIO__ReportRows(header, y - 1, y, b->height) ? TALIO_OK : TALIO_ERR_CANCELLED;
    };
    while (y < b->height) {
        UBYTE pair[2];
        if (TALIO_ReadBuffered(pair, 2, header) != 2) return TALIO_ERR_READ;
        if (pair[0]) {
            put(nullptr, pair[1], pair[0]);
            continue;
        }
        if (pair[1] == 0 || pair[1] == 1) { // end of the row; end of the picture
            if (ULONG r = finishRow(); r != TALIO_OK) return r;
            if (pair[1] == 1) break;
        } else if (pair[1] == 2) { // move right dx and up dy
            UBYTE delta[2];
            if (TALIO_ReadBuffered(delta, 2, header) != 2) return TALIO_ERR_READ;
            const size_t column = x;
            if (delta[1]) {
                if (ULONG r = finishRow(); r != TALIO_OK) return r;
                y = std::min<ULONG>(b->height, y + delta[1] - 1);
            }
            x = std::min(column + delta[0], rowBytes);
        } else { // a copy of pair[1] bytes, padded to an even count
            UBYTE bytes[256];
            const size_t count = pair[1], padded = count + (count & 1);
            if (TALIO_ReadBuffered(bytes, int64_t(padded), header) != padded) return TALIO_ERR_READ;
            put(bytes, 0, count);
        }
    }
    return TALIO_OK;
}

ULONG loadPixels(const BMPTALIOInstance* self, TALIO_Header* header) {
    TALIO_ImageBuffer* b = header->buffer;
    const size_t rowBytes = fileRowBytes(self->bit_count, b->width);
    switch (self->bit_count) {
    case 1: {
        const size_t used = (size_t(b->width) + 7) / 8;
        if (b->format != TALIO_FORMAT_BITPLANES || !b->planes[0] || b->bytes_per_row < used)
            return TALIO_ERR_DAMAGED;
        return forEachFileRow(self, header, rowBytes, [&](ULONG y, const UBYTE* bytes) {
            std::memcpy(b->planes[0] + size_t(y) * b->bytes_per_row, bytes, used);
            return true;
        });
    }
    case 4: {
        std::vector<UBYTE> indexes(size_t(b->width) + 1);
        return forEachFileRow(self, header, rowBytes, [&](ULONG y, const UBYTE* bytes) {
            for (ULONG i = 0; i < b->width; i++) indexes[i] = (i & 1) ? bytes[i / 2] & 15 : bytes[i / 2] >> 4;
            return TALIO_SetBufferData(b, 0, y, b->width, 1, b->width, TALIO_PIXEL_INDEX, indexes.data()) !=
                   0;
        });
    }
    case 8:
        if (self->compression == kRle8) return decodeRle8(self, header);
        return forEachFileRow(self, header, rowBytes, [&](ULONG y, const UBYTE* bytes) {
            return TALIO_SetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_INDEX, bytes) != 0;
        });
    default:
        return forEachFileRow(self, header, rowBytes, [&](ULONG y, const UBYTE* bytes) {
            return TALIO_SetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_BGR, bytes) != 0;
        });
    }
}

ULONG load(const BMPTALIOInstance* self, TALIO_Header* header) {
    if (!header || !header->buffer || !header->stream || !self->bit_count) return TALIO_ERR_DAMAGED;
    // Run-length coding exists for 8-bit rows only (RLE4 and bit fields are not read).
    const bool rle8 = self->bit_count == 8 && self->compression == kRle8;
    if (self->compression != 0 && !rle8) return TALIO_ERR_UNSUPPORTED;
    if (self->pixel_offset < self->palette_offset || self->pixel_offset > header->file_size)
        return TALIO_ERR_DAMAGED;
    if (self->bit_count <= 8)
        if (ULONG r = readPalette(self, header); r != TALIO_OK) return r;
    if (TALIO_Seek(header, int64_t(self->pixel_offset), 0) != 0) return TALIO_ERR_READ;
    const ULONG result = loadPixels(self, header);
    TALIO_ReadBuffered(nullptr, -1, header);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Save.

ULONG save(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    // True colour, or grey written as true colour.
    const bool colour = b->depth == 24 && b->format == TALIO_FORMAT_RGBPLANES;
    const bool grey = b->depth == 8 && b->format == TALIO_FORMAT_GREY8;
    if (!colour && !grey) return TALIO_ERR_UNSUPPORTED;
    const uint64_t w = b->width, h = b->height;
    const uint64_t rowBytes = (3 * w + 3) & ~uint64_t(3);
    const uint64_t fileSize = kSavedPixelOffset + rowBytes * h;
    // The header's sizes are 32-bit.
    if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || fileSize > UINT32_MAX)
        return TALIO_ERR_UNSUPPORTED;

    UBYTE head[kSavedPixelOffset] = {'B', 'M'};
    TALIO__PutLE32(head + 2, ULONG(fileSize));
    TALIO__PutLE32(head + 10, ULONG(kSavedPixelOffset));
    TALIO__PutLE32(head + 14, kSavedInfoSize);
    TALIO__PutLE32(head + 18, ULONG(w));
    TALIO__PutLE32(head + 22, ULONG(h));
    TALIO__PutLE16(head + 26, 1);
    TALIO__PutLE16(head + 28, 24);
    TALIO__PutLE32(head + 34, ULONG(rowBytes * h));
    if (TALIO_WriteData(head, 1, sizeof head, header) != sizeof head) return TALIO_ERR_READ;

    // Rows from the bottom up, many to a write; the pad bytes stay 0.
    const ULONG perChunk = ULONG(std::clamp<uint64_t>(kChunkBytes / rowBytes, 1, h));
    std::vector<UBYTE> chunk(size_t(rowBytes) * perChunk, 0);
    for (ULONG first = 0; first < h;) {
        const ULONG rows = std::min<ULONG>(perChunk, ULONG(h) - first);
        for (ULONG i = 0; i < rows; i++)
            if (!TALIO_GetBufferData(b, 0, ULONG(h) - 1 - (first + i), ULONG(w), 1, ULONG(rowBytes),
                                     TALIO_PIXEL_BGR, chunk.data() + i * rowBytes))
                return TALIO_ERR_DAMAGED;
        if (TALIO_WriteData(chunk.data(), size_t(rowBytes), rows, header) != rows) return TALIO_ERR_READ;
        if (!TALIO__ReportRows(header, first, first + rows, ULONG(h))) return TALIO_ERR_CANCELLED;
        first += rows;
    }
    return TALIO_OK;
}

} // namespace

void* Tal_NewBMPTALIOClass(const TagItem*) {
    auto* self = static_cast<BMPTALIOInstance*>(Tal_AllocObjectMem(&bmpClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_FILE, kBmpFlags, "bmp");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeBMPTALIOClass(void* instance) {
    auto* self = static_cast<BMPTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoBMPTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<BMPTALIOInstance*>(instance);
    switch (id) {
    case TALIO_Identify:
        return identify(self, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Load:
        return load(self, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return save(reinterpret_cast<TALIO_Header*>(args[0]));
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitBMPTALIOClass() {
    return Tal__SetupClass(&bmpClass, "BMPTALIO", kBmpClassId, "RootTALIO", Tal_NewBMPTALIOClass,
                           Tal_DisposeBMPTALIOClass, Tal_DoBMPTALIOClassMethod, nullptr,
                           sizeof(BMPTALIOInstance));
}

void Tal_CleanupBMPTALIOClass() {
    Tal__CleanupClass(&bmpClass);
}
