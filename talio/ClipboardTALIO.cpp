// ClipboardTALIO: pictures from and to the clipboard, as device-independent bitmaps (a bitmap header, a
// colour table and rows padded to 4 bytes, bottom row first unless the height is negative).
//
// The bitmap may come from another program, so every size in it is checked against the block before a
// byte is read: the header's own size, the colour table, the bit-field masks and the rows.
#include "talio/talio.h"

#include "host/clipboard.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

Tal_Class clipboardClass;

struct ClipboardTALIOInstance {
    Tal_Object header;
    ULONG identifiedBits; // the bit count Identify saw, checked again by Load
};

constexpr ULONG kClipboardClassId = 7701;
constexpr ULONG kClipboardFlags = TALIO_FLAG_OWN_OUTPUT | TALIO_FLAG_NO_PROGRESS;
constexpr ULONG kInfoHeaderSize = 40;
constexpr ULONG kCopyPadding = 4; // spare bytes after a copied bitmap
constexpr ULONG kMaxSide = 65536;
constexpr ULONG kUncompressed = 0;
constexpr ULONG kBitFields = 3;

ULONG le32(const UBYTE* p) {
    return ULONG(p[0]) | ULONG(p[1]) << 8 | ULONG(p[2]) << 16 | ULONG(p[3]) << 24;
}

void put32(UBYTE* p, ULONG v) {
    for (int i = 0; i < 4; i++) p[i] = UBYTE(v >> (8 * i));
}

// One channel of a bit-field pixel: where its bits are and how many.
struct Field {
    ULONG shift = 0, bits = 0;
    UBYTE of(ULONG pixel) const {
        if (!bits) return 0;
        const ULONG most = ULONG((uint64_t(1) << bits) - 1);
        const ULONG v = (pixel >> shift) & most;
        return bits >= 8 ? UBYTE(v >> (bits - 8)) : UBYTE(v * 255 / most);
    }
};

// A mask's field; false when its bits are not one run.
bool fieldOf(ULONG mask, Field* f) {
    if (!mask) return true;
    f->shift = ULONG(std::countr_zero(mask));
    const ULONG run = mask >> f->shift;
    if ((run & (run + 1)) != 0) return false;
    f->bits = ULONG(std::popcount(run));
    return true;
}

// Where everything of a bitmap lies, checked against the block.
struct Layout {
    ULONG width, height, bits, compression;
    bool topDown;
    size_t paletteOffset;
    ULONG paletteEntries;
    size_t rowsOffset;
    size_t rowBytes;
    Field red, green, blue; // bit fields
};

// 1, or 6 for a block shorter than what its header describes, 8 for a bit count or compression the
// clipboard does not carry.
ULONG parse(const UBYTE* block, size_t length, Layout* l) {
    if (!block || length < kInfoHeaderSize) return TALIO_ERR_DAMAGED;
    const ULONG headerSize = le32(block);
    if (headerSize < kInfoHeaderSize || headerSize > length) return TALIO_ERR_DAMAGED;
    const int64_t width = int32_t(le32(block + 4));
    const int64_t height = int32_t(le32(block + 8));
    l->bits = ULONG(block[14] | block[15] << 8);
    l->compression = le32(block + 16);
    const ULONG coloursUsed = le32(block + 32);
    if (width < 1 || height == 0 || width > kMaxSide || height > kMaxSide || height < -int64_t(kMaxSide))
        return TALIO_ERR_UNKNOWN;
    l->width = ULONG(width);
    l->height = ULONG(height < 0 ? -height : height);
    l->topDown = height < 0;
    const ULONG b = l->bits;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return TALIO_ERR_UNKNOWN;
    // Uncompressed, or bit fields of 16 or 32 bits; 16 bits come only with their fields.
    const bool fields = l->compression == kBitFields && (b == 16 || b == 32);
    if (!(l->compression == kUncompressed && b != 16) && !fields) return TALIO_ERR_UNKNOWN;

    uint64_t at = headerSize;
    if (fields) {
        // The masks end a longer header, or follow the 40-byte one.
        const uint64_t masks = headerSize >= kInfoHeaderSize + 12 ? kInfoHeaderSize : headerSize;
        if (masks + 12 > length) return TALIO_ERR_DAMAGED;
        if (!fieldOf(le32(block + masks), &l->red) || !fieldOf(le32(block + masks + 4), &l->green) ||
            !fieldOf(le32(block + masks + 8), &l->blue))
            return TALIO_ERR_UNKNOWN;
        if (masks == headerSize) at += 12;
    }
    // The colour table: the count the header gives, or every index of the bit count.
    const uint64_t maxEntries = b <= 8 ? uint64_t(1) << b : 256;
    const uint64_t entries = coloursUsed ? coloursUsed : b <= 8 ? maxEntries : 0;
    if (entries > maxEntries) return TALIO_ERR_DAMAGED;
    l->paletteOffset = size_t(at);
    l->paletteEntries = ULONG(entries);
    at += entries * 4;
    l->rowsOffset = size_t(at);
    l->rowBytes = size_t((uint64_t(l->width) * b + 31) / 32 * 4);
    if (at + uint64_t(l->rowBytes) * l->height > length) return TALIO_ERR_DAMAGED;
    return TALIO_OK;
}

// The clipboard's bitmap, laid out; the clipboard stays open on success (the caller closes it).
ULONG openBitmap(const UBYTE** block, Layout* l) {
    if (!host_OpenClipboard()) return TALIO_ERR_UNKNOWN;
    size_t length = 0;
    *block = host_GetClipboardBitmap(&length);
    const ULONG result = *block ? parse(*block, length, l) : TALIO_ERR_UNKNOWN;
    if (result != TALIO_OK) host_CloseClipboard();
    return result;
}

// Buffer format and depth of a bit count.
void describe(TALIO_Header* header, ULONG bits) {
    TALIO_ImageBuffer* b = header->buffer;
    if (bits == 1) {
        b->format = TALIO_FORMAT_BITPLANES;
        b->depth = 1;
    } else if (bits <= 8) {
        b->format = header->mapped_format;
        b->depth = 8;
    } else {
        b->format = header->truecolour_format;
        b->depth = 24;
    }
}

ULONG identify(ClipboardTALIOInstance* self, TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const UBYTE* block;
    Layout l;
    const ULONG result = openBitmap(&block, &l);
    if (result != TALIO_OK) return result;
    host_CloseClipboard();
    header->buffer->width = l.width;
    header->buffer->height = l.height;
    describe(header, l.bits);
    self->identifiedBits = l.bits;
    return TALIO_OK;
}

// One row of the bitmap into buffer row y.
bool storeRow(TALIO_ImageBuffer* b, const Layout& l, const UBYTE* row, ULONG y, std::vector<UBYTE>& bgr) {
    switch (l.bits) {
    case 1:
        // Bitplane rows are padded to 2 bytes, bitmap rows to 4: only the row's own bytes are copied.
        std::memcpy(b->planes[0] + size_t(y) * b->bytes_per_row, row, (l.width + 7) / 8);
        return true;
    case 4:
        return TALIO_SetBufferData(b, 0, y, l.width, 1, ULONG(l.rowBytes), TALIO_PIXEL_INDEX4, row);
    case 8:
        return TALIO_SetBufferData(b, 0, y, l.width, 1, ULONG(l.rowBytes), TALIO_PIXEL_INDEX, row);
    case 24:
        return TALIO_SetBufferData(b, 0, y, l.width, 1, ULONG(l.rowBytes), TALIO_PIXEL_BGR, row);
    default:
        break;
    }
    if (l.compression == kUncompressed) // 32 bits
        return TALIO_SetBufferData(b, 0, y, l.width, 1, ULONG(l.rowBytes), TALIO_PIXEL_BGRX, row);
    const ULONG bytes = l.bits / 8;
    for (ULONG x = 0; x < l.width; x++) {
        const UBYTE* p = row + size_t(x) * bytes;
        const ULONG pixel = bytes == 2 ? ULONG(p[0] | p[1] << 8) : le32(p);
        bgr[3 * x] = l.blue.of(pixel);
        bgr[3 * x + 1] = l.green.of(pixel);
        bgr[3 * x + 2] = l.red.of(pixel);
    }
    return TALIO_SetBufferData(b, 0, y, l.width, 1, l.width * 3, TALIO_PIXEL_BGR, bgr.data());
}

ULONG paste(const ClipboardTALIOInstance* self, TALIO_Header* header, const UBYTE* block, const Layout& l) {
    TALIO_ImageBuffer* b = header->buffer;
    // The clipboard may have changed since Identify sized the buffer.
    if (l.width != b->width || l.height != b->height || l.bits != self->identifiedBits)
        return TALIO_ERR_DAMAGED;
    if (l.bits <= 8) {
        const UBYTE* entry = block + l.paletteOffset;
        for (ULONG i = 0; i < std::min<ULONG>(l.paletteEntries, 256); i++, entry += 4)
            b->palette[i] = ULONG(entry[2]) | ULONG(entry[1]) << 8 | ULONG(entry[0]) << 16;
    }
    std::vector<UBYTE> bgr(l.compression == kBitFields ? size_t(l.width) * 3 : 0);
    const ULONG step = header->progress_step ? header->progress_step : TALIO_ProgressStep(l.height);
    for (ULONG r = 0; r < l.height; r++) {
        const ULONG y = l.topDown ? r : l.height - 1 - r;
        if (!storeRow(b, l, block + l.rowsOffset + size_t(r) * l.rowBytes, y, bgr)) return TALIO_ERR_DAMAGED;
        if ((r + 1) % step == 0 && !TALIO_SetProgressDisplay(header, r + 1, l.height))
            return TALIO_ERR_CANCELLED;
    }
    return TALIO_OK;
}

ULONG load(const ClipboardTALIOInstance* self, TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const UBYTE* block;
    Layout l;
    if (openBitmap(&block, &l) != TALIO_OK) return TALIO_ERR_DAMAGED;
    const ULONG result = paste(self, header, block, l);
    // A pasted picture leaves the clipboard.
    if (result == TALIO_OK) host_EmptyClipboard();
    host_CloseClipboard();
    return result;
}

// Copies the picture as a 24-bit bottom-up bitmap.
ULONG copy(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b || b->width < 1 || b->height < 1 || b->width > kMaxSide || b->height > kMaxSide)
        return TALIO_ERR_DAMAGED;
    const size_t rowBytes = (size_t(b->width) * 3 + 3) & ~size_t(3);
    const size_t length = size_t(b->height) * rowBytes + kInfoHeaderSize + kCopyPadding;
    UBYTE* block = host_AllocClipboardBlock(length);
    if (!block) return TALIO_ERR_MEMORY;
    std::memset(block, 0, length);
    put32(block, kInfoHeaderSize);
    put32(block + 4, b->width);
    put32(block + 8, b->height);
    block[12] = 1;
    block[14] = 24;
    // Rows are fetched one by one: a picture that cannot give them puts nothing on the clipboard.
    UBYTE* row = block + kInfoHeaderSize;
    for (ULONG y = b->height; y-- > 0; row += rowBytes)
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_BGR, row)) {
            host_FreeClipboardBlock(block);
            return TALIO_ERR_DAMAGED;
        }
    if (!host_OpenClipboard()) {
        host_FreeClipboardBlock(block);
        return TALIO_ERR_DAMAGED;
    }
    const bool put = host_SetClipboardBitmap(block, length);
    host_CloseClipboard();
    if (!put) {
        host_FreeClipboardBlock(block);
        return TALIO_ERR_DAMAGED;
    }
    return TALIO_OK;
}

} // namespace

void* Tal_NewClipboardTALIOClass(const TagItem*) {
    auto* self = static_cast<ClipboardTALIOInstance*>(Tal_AllocObjectMem(&clipboardClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_CLIPBOARD, kClipboardFlags, nullptr);
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeClipboardTALIOClass(void* instance) {
    auto* self = static_cast<ClipboardTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoClipboardTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<ClipboardTALIOInstance*>(instance);
    switch (id) {
    case TALIO_Identify:
        return identify(self, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Load:
        return load(self, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return copy(reinterpret_cast<TALIO_Header*>(args[0]));
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitClipboardTALIOClass() {
    return Tal__SetupClass(&clipboardClass, "ClipboardTALIO", kClipboardClassId, "RootTALIO",
                           Tal_NewClipboardTALIOClass, Tal_DisposeClipboardTALIOClass,
                           Tal_DoClipboardTALIOClassMethod, nullptr, sizeof(ClipboardTALIOInstance));
}

void Tal_CleanupClipboardTALIOClass() {
    Tal__CleanupClass(&clipboardClass);
}
