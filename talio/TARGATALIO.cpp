// TARGATALIO: 24-bit TARGA files, uncompressed (image type 2) or run-length coded (type 10). Only a file
// that ends in the TARGA 2.0 footer is taken for one, so that no other file is ever mistaken for it.
//
// Run-length packets may run on from one row into the next: the decoder keeps what a packet holds beyond
// a row for the next call. That carry is process-wide (one decoder for the program); a compressed load
// holds it for its whole run, so two such loads take turns rather than mixing their packets.
#include "talio/talio.h"

#include "ui/ui.h"
#include "Tal/Catalogue.h"
#include "talio/TALIOBytes.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

Tal_Class targaClass;

struct TARGATALIOInstance {
    Tal_Object header;
    ULONG top_origin;   // rows are stored top row first
    ULONG right_origin; // kept, not used
    ULONG compressed;
    ULONG image_type;
    uint64_t pixel_offset; // after the header, the identification field and any colour map
};

constexpr ULONG kTargaClassId = 7004;
constexpr ULONG kTargaFlags = 1;
constexpr size_t kHeaderSize = 18;
constexpr size_t kFooterSize = 26;
constexpr char kSignature[] = "TRUEVISION-XFILE";
constexpr UBYTE kUncompressed = 2;
constexpr UBYTE kRunLength = 10;
constexpr UBYTE kTopOrigin = 0x20;
constexpr UBYTE kRightOrigin = 0x10;
constexpr ULONG kMaxSide = 0xFFFF;
constexpr ULONG kCompressLabel = 252;

// The save option, process-wide for the run.
std::mutex optionsLock;
ULONG tgaCompress = 0;

ULONG compressOption() {
    std::lock_guard guard(optionsLock);
    return tgaCompress;
}

void setCompressOption(Tal_Word value) {
    std::lock_guard guard(optionsLock);
    tgaCompress = value ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// The run-length decoder's carry: the pixels of the last packet that the last call did not want.

constexpr size_t kCarryPixels = 128;
constexpr size_t kMaxPixelSize = 4;

struct Carry {
    UBYTE pixels[kCarryPixels * kMaxPixelSize];
    size_t next;        // the next carried pixel (always 0 for a run)
    size_t count;       // pixels still carried
    bool run;           // one pixel repeated, rather than `count` pixels from `next` on
    uint64_t remaining; // bytes of packets left in the file (what follows them is not pixels)
};

std::mutex decoderLock; // held by a compressed load from its first row to its reset
Carry carry{{}, 0, 0, false, UINT64_MAX};

// Reads up to n bytes of packets; the bytes read.
size_t readPackets(UBYTE* destination, size_t n, TALIO_Header* header) {
    n = size_t(std::min<uint64_t>(n, carry.remaining));
    const size_t got = n ? TALIO_ReadBuffered(destination, int64_t(n), header) : 0;
    carry.remaining -= got;
    return got;
}

// Writes up to `wanted` of the carried pixels; the number written.
size_t takeCarried(UBYTE* out, size_t wanted, size_t size) {
    const size_t n = std::min(wanted, carry.count);
    for (size_t i = 0; i < n; i++) {
        const size_t from = carry.run ? 0 : carry.next + i;
        std::memcpy(out + i * size, carry.pixels + from * size, size);
    }
    if (!carry.run) carry.next += n;
    carry.count -= n;
    return n;
}

// ---------------------------------------------------------------------------------------------------
// Identify.

ULONG identify(TARGATALIOInstance* self, TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const UBYTE* p = header->peek;
    // The header and the footer, one after the other at least.
    if (!p || header->peek_length < kHeaderSize || !header->stream ||
        header->file_size < kHeaderSize + kFooterSize)
        return TALIO_ERR_UNKNOWN;
    UBYTE footer[kFooterSize];
    if (TALIO_Seek(header, int64_t(header->file_size - kFooterSize), 0) != 0 ||
        TALIO_ReadData(footer, 1, kFooterSize, header) != kFooterSize ||
        std::memcmp(footer + 8, kSignature, 16) != 0)
        return TALIO_ERR_UNKNOWN;
    TALIO_Seek(header, 0, 0);

    TALIO_ImageBuffer* b = header->buffer;
    b->width = TALIO__GetLE16(p + 12);
    b->height = TALIO__GetLE16(p + 14);
    b->depth = p[16];
    b->format = header->truecolour_format;
    self->top_origin = (p[17] & kTopOrigin) ? 1 : 0;
    self->right_origin = (p[17] & kRightOrigin) ? 1 : 0;
    self->image_type = p[2];
    self->compressed = p[2] == kRunLength ? 1 : 0;
    // A colour map (which a true-colour file may carry) lies between the identification and the pixels.
    const uint64_t mapBytes = p[1] ? uint64_t(TALIO__GetLE16(p + 5)) * ((p[7] + 7u) / 8) : 0;
    self->pixel_offset = kHeaderSize + p[0] + mapBytes;
    return TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// Load.

// The rows from the pixel offset on, of which `available` bytes lie before the footer.
ULONG loadRows(const TARGATALIOInstance* self, TALIO_Header* header, uint64_t available) {
    TALIO_ImageBuffer* b = header->buffer;
    const size_t rowBytes = size_t(b->width) * 3;
    std::vector<UBYTE> row(rowBytes);
    for (ULONG n = 0; n < b->height; n++) {
        size_t got = 0;
        if (self->compressed)
            got = TALIO_RLEDecode(row.data(), 1, int64_t(rowBytes), header);
        else if (uint64_t(n + 1) * rowBytes <= available)
            got = TALIO_ReadDataLocal(row.data(), 1, rowBytes, header);
        if (got != rowBytes) return TALIO_ERR_READ;
        const ULONG y = self->top_origin ? n : b->height - 1 - n;
        if (!TALIO_SetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_BGR, row.data()))
            return TALIO_ERR_DAMAGED;
        if (!TALIO__ReportRows(header, n, n + 1, b->height)) return TALIO_ERR_CANCELLED;
    }
    return TALIO_OK;
}

ULONG load(const TARGATALIOInstance* self, TALIO_Header* header) {
    if (!header || !header->buffer || !header->stream) return TALIO_ERR_DAMAGED;
    TALIO_ImageBuffer* b = header->buffer;
    // True colour only; other image types (colour-mapped, grey, none) are refused rather than misread.
    if (b->depth != 24 || (self->image_type != kUncompressed && self->image_type != kRunLength))
        return TALIO_ERR_UNSUPPORTED;
    if (self->pixel_offset > header->file_size - kFooterSize) return TALIO_ERR_DAMAGED;
    const uint64_t available = header->file_size - kFooterSize - self->pixel_offset;
    if (TALIO_Seek(header, int64_t(self->pixel_offset), 0) != 0) return TALIO_ERR_READ;
    if (!self->compressed) return loadRows(self, header, available);
    std::lock_guard guard(decoderLock);
    TALIO_RLEDecode(nullptr, 0, -1, header);
    carry.remaining = available;
    const ULONG result = loadRows(self, header, available);
    TALIO_RLEDecode(nullptr, 0, -1, header);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Save.

// Run-length codes one row of 3-byte pixels into `out` (room for 4 bytes a pixel); the bytes written.
// A packet holds 1 to 128 pixels and never crosses the row, nor looks past it.
size_t encodeRow(const UBYTE* px, ULONG width, UBYTE* out) {
    auto same = [px](ULONG a, ULONG b) {
        return std::memcmp(px + 3 * size_t(a), px + 3 * size_t(b), 3) == 0;
    };
    size_t o = 0;
    for (ULONG start = 0; start < width;) {
        const bool run = start + 1 < width && same(start, start + 1);
        ULONG end = start + 1; // one past the packet's last pixel
        // A run ends before the first pixel that differs from its predecessor, a raw packet before the
        // second pixel of the first equal pair.
        while (end < width && end - start < 128 && same(end, end - 1) == run) end++;
        const size_t count = end - start;
        out[o++] = UBYTE((count - 1) | (run ? 0x80 : 0));
        const size_t bytes = run ? 3 : 3 * count;
        std::memcpy(out + o, px + 3 * size_t(start), bytes);
        o += bytes;
        start = end;
    }
    return o;
}

ULONG save(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    // True colour, or grey written as true colour.
    const bool colour = b->depth == 24 && b->format == TALIO_FORMAT_RGBPLANES;
    const bool grey = b->depth == 8 && b->format == TALIO_FORMAT_GREY8;
    if (!colour && !grey) return TALIO_ERR_UNSUPPORTED;
    if (b->width == 0 || b->height == 0 || b->width > kMaxSide || b->height > kMaxSide)
        return TALIO_ERR_UNSUPPORTED;
    const ULONG compress = compressOption();

    UBYTE head[kHeaderSize] = {0, 0, compress ? kRunLength : kUncompressed};
    TALIO__PutLE16(head + 12, UWORD(b->width));
    TALIO__PutLE16(head + 14, UWORD(b->height));
    head[16] = 24;
    head[17] = kTopOrigin;
    if (TALIO_WriteData(head, 1, sizeof head, header) != sizeof head) return TALIO_ERR_READ;

    const size_t rowBytes = size_t(b->width) * 3;
    std::vector<UBYTE> row(rowBytes), packets(compress ? size_t(b->width) * 4 : 0);
    for (ULONG y = 0; y < b->height; y++) {
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_BGR, row.data()))
            return TALIO_ERR_DAMAGED;
        const UBYTE* bytes = row.data();
        size_t length = rowBytes;
        if (compress) {
            length = encodeRow(row.data(), b->width, packets.data());
            bytes = packets.data();
        }
        if (TALIO_WriteData(bytes, 1, length, header) != length) return TALIO_ERR_READ;
        if (!TALIO__ReportRows(header, y, y + 1, b->height)) return TALIO_ERR_CANCELLED;
    }

    UBYTE footer[kFooterSize] = {};
    std::memcpy(footer + 8, kSignature, 16);
    footer[24] = '.';
    if (TALIO_WriteData(footer, 1, sizeof footer, header) != sizeof footer) return TALIO_ERR_READ;
    return TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// The save-options group: one check box, tied to the process-wide option.

Tal_Word compressChanged(Tal_Word, ULONG, ULONG, const Tal_Word* args) {
    setCompressOption(args[0]);
    return 0;
}

ULONG buildSaveOptions() {
    for (const char* name : {"Group", "CheckBox"})
        if (!Tal_FindClassFromName(name)) return 0;
    ULONG check = 0;
    const ULONG group = Tal_CreateObjects(0, TAL_TREE_VGROUP, TAL_SetGroupFrame, 1,             //
                                          TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &check, //
                                          TAL_SetLabel, Tal_GetCatalogueText(kCompressLabel),   //
                                          TAL_SetChecked, compressOption(), TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    if (group && check) Tal_AddCallBackNotify(check, TAL_SetChecked, TAL_AnyValue, compressChanged, 0);
    return group;
}

} // namespace

size_t TALIO_RLEDecode(void* destination, size_t, int64_t byteCount, TALIO_Header* header) {
    if (byteCount < 0) {
        carry.count = carry.next = 0;
        carry.remaining = UINT64_MAX;
        if (header) TALIO_ReadBuffered(nullptr, -1, header);
        return 0;
    }
    if (!destination || !header || !header->buffer) return 0;
    const size_t size = header->buffer->depth / 8;
    if (size < 1 || size > kMaxPixelSize) return 0;
    auto* out = static_cast<UBYTE*>(destination);
    const size_t wanted = size_t(byteCount) / size;
    size_t done = takeCarried(out, wanted, size);
    while (done < wanted) {
        UBYTE packet;
        if (readPackets(&packet, 1, header) != 1) break;
        const size_t count = (packet & 0x7F) + 1;
        carry.run = packet & 0x80;
        carry.next = 0;
        // The packet's pixels go into the carry first, so that a packet longer than the rest of the row
        // never reaches past it.
        const size_t stored = carry.run ? 1 : count;
        const size_t got = readPackets(carry.pixels, stored * size, header) / size;
        carry.count = got == stored ? count : got;
        done += takeCarried(out + done * size, wanted - done, size);
        if (got < stored) {
            carry.count = 0;
            break;
        }
    }
    return done * size;
}

void* Tal_NewTARGATALIOClass(const TagItem*) {
    auto* self = static_cast<TARGATALIOInstance*>(Tal_AllocObjectMem(&targaClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_FILE, kTargaFlags, "tga");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeTARGATALIOClass(void* instance) {
    auto* self = static_cast<TARGATALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoTARGATALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<TARGATALIOInstance*>(instance);
    switch (id) {
    case TARGATALIO_SetCompress:
        setCompressOption(args[0]);
        return 1;
    case TARGATALIO_GetCompress:
        return compressOption();
    case TALIO_Identify:
        return identify(self, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Load:
        return load(self, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return save(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_GetSaveOptions:
        return TALIO__SaveOptionsOf(self->header.superObject, buildSaveOptions);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitTARGATALIOClass() {
    return Tal__SetupClass(&targaClass, "TARGATALIO", kTargaClassId, "RootTALIO", Tal_NewTARGATALIOClass,
                           Tal_DisposeTARGATALIOClass, Tal_DoTARGATALIOClassMethod, nullptr,
                           sizeof(TARGATALIOInstance));
}

void Tal_CleanupTARGATALIOClass() {
    Tal__CleanupClass(&targaClass);
}
