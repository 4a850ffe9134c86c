// ILBMTALIO: IFF ILBM pictures, interleaved bitplanes: 1 to 8 planes with a colour map, or 24 planes of
// true colour; lines raw or ByteRun1-compressed, with or without a mask plane. Loads into a bitplane
// buffer; saves true colour (and grey, as equal red, green and blue) as 24 uncompressed planes.
//
// Everything the file says is checked against the file and against the picture its first BMHD
// announced: runs never leave their line, reads never pass the end of the file, and a later BMHD that
// tells another size refuses the file.
#include "talio/TALIOIFF.h"

#include "host/byterun1.h"

#include <algorithm>
#include <vector>

namespace {

Tal_Class ilbmClass;

struct ILBMTALIOInstance {
    Tal_Object header;
};

constexpr ULONG kIlbmClassId = 7002;
constexpr ULONG kCamgHires = 0x8004;
constexpr size_t kBmhdSize = 20;
constexpr ULONG kMaxSide = 0xFFFF;

struct Bmhd {
    ULONG width, height, planes, masking, compression;
};

Bmhd parseBmhd(const UBYTE* d) {
    return {TALIO__GetBE16(d), TALIO__GetBE16(d + 2), d[8], d[9], d[10]};
}

bool supportedPlanes(ULONG planes) {
    return (planes >= 1 && planes <= 8) || planes == 24;
}

// Bytes of one plane's line: whole 16-bit words.
size_t lineBytes(ULONG width) {
    return size_t((width + 15) / 16) * 2;
}

bool isIlbm(const TALIO_Header* h) {
    return h->peek && h->peek_length >= 12 && std::memcmp(h->peek, "FORM", 4) == 0 &&
           std::memcmp(h->peek + 8, "ILBM", 4) == 0;
}

// Reads a BMHD chunk; 1 or an error number.
ULONG readBmhd(TALIO_Header* header, const TALIO_IFFChunk& chunk, Bmhd* out) {
    if (chunk.length < kBmhdSize) return TALIO_ERR_DAMAGED;
    UBYTE data[kBmhdSize];
    if (!TALIO__ReadIFFData(header, chunk, data, sizeof data)) return TALIO_ERR_READ;
    *out = parseBmhd(data);
    return TALIO_OK;
}

ULONG identify(TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    if (!isIlbm(header)) return TALIO_ERR_UNKNOWN;
    // The chunk headers on the stream up to the first BMHD, each within the file.
    TALIO_IFFChunk chunk;
    bool found = false;
    for (uint64_t at = 12; !found && TALIO__ReadIFFChunk(header, at, &chunk); at = chunk.next)
        found = chunk.is("BMHD");
    if (!found) return TALIO_ERR_UNKNOWN;
    Bmhd bmhd;
    if (ULONG r = readBmhd(header, chunk, &bmhd); r != TALIO_OK) return r;
    if (bmhd.width == 0 || bmhd.height == 0) return TALIO_ERR_UNKNOWN;
    if (!supportedPlanes(bmhd.planes) || bmhd.compression > 1) return TALIO_ERR_UNSUPPORTED;
    TALIO_ImageBuffer* b = header->buffer;
    b->width = bmhd.width;
    b->height = bmhd.height;
    b->depth = bmhd.planes;
    b->format = TALIO_FORMAT_BITPLANES;
    b->bytes_per_row = ULONG(lineBytes(bmhd.width));
    return TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// Load.

// The BODY into the buffer's planes; a mask line is read and dropped. A BODY that ends before the
// picture is whole gives 3 when the file is cut off inside it, else 6; the rows read are kept.
ULONG readBody(TALIO_Header* header, const TALIO_IFFChunk& chunk, const Bmhd& bmhd) {
    TALIO_ImageBuffer* b = header->buffer;
    const size_t line = lineBytes(b->width);
    const size_t lines = size_t(b->depth) + (bmhd.masking == 1 ? 1 : 0);
    const ULONG cutShort = chunk.available < chunk.length ? TALIO_ERR_READ : TALIO_ERR_DAMAGED;
    std::vector<UBYTE> scratch;
    auto lineOf = [&](ULONG y, size_t k) {
        return k < b->depth ? b->planes[k] + size_t(y) * b->bytes_per_row : scratch.data();
    };

    if (bmhd.compression == 0) {
        const size_t rowBytes = line * lines;
        scratch.resize(rowBytes);
        if (TALIO_Seek(header, int64_t(chunk.data), 0) != 0) return TALIO_ERR_READ;
        uint64_t left = chunk.available;
        for (ULONG y = 0; y < b->height; y++) {
            if (left < rowBytes) return cutShort;
            if (TALIO_ReadData(scratch.data(), 1, rowBytes, header) != rowBytes) return TALIO_ERR_READ;
            left -= rowBytes;
            for (size_t k = 0; k < b->depth; k++) std::memcpy(lineOf(y, k), scratch.data() + k * line, line);
            if (!TALIO__RowsDone(header, y, y + 1, b->height)) return TALIO_ERR_CANCELLED;
        }
        return TALIO_OK;
    }

    // ByteRun1: the chunk as far as the file holds it, decoded line by line; runs are clipped to their
    // line and decoding stops where the data ends.
    if (chunk.available > SIZE_MAX / 2) return TALIO_ERR_MEMORY;
    auto* data = static_cast<UBYTE*>(Tal_AllocMem(std::max<size_t>(size_t(chunk.available), 1)));
    if (!data) return TALIO_ERR_MEMORY;
    ULONG result = TALIO_OK;
    if (!TALIO__ReadIFFData(header, chunk, data, size_t(chunk.available))) result = TALIO_ERR_READ;
    scratch.resize(line);
    const UBYTE* src = data;
    const UBYTE* end = data + chunk.available;
    for (ULONG y = 0; y < b->height && result == TALIO_OK; y++) {
        for (size_t k = 0; k < lines && result == TALIO_OK; k++)
            if (host_UnpackByteRun1(&src, end, lineOf(y, k), line, nullptr) < line) result = cutShort;
        if (result == TALIO_OK && !TALIO__RowsDone(header, y, y + 1, b->height)) result = TALIO_ERR_CANCELLED;
    }
    Tal_FreeMem(data);
    return result;
}

// Colours of a picture without a colour map: grey levels spread over its values.
void greyPalette(TALIO_ImageBuffer* b) {
    const ULONG top = (1u << b->depth) - 1;
    for (ULONG i = 0; i <= top; i++) {
        const ULONG v = (i * 255 + top / 2) / top;
        b->palette[i] = v | v << 8 | v << 16;
    }
}

ULONG load(TALIO_Header* header) {
    TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b || b->format != TALIO_FORMAT_BITPLANES || !supportedPlanes(b->depth) || !b->memory ||
        b->bytes_per_row < lineBytes(b->width))
        return TALIO_ERR_DAMAGED;
    Bmhd bmhd{};
    bool haveBmhd = false, haveCmap = false, haveBody = false;
    TALIO_IFFChunk chunk;
    for (uint64_t at = 12; TALIO__ReadIFFChunk(header, at, &chunk); at = chunk.next) {
        if (chunk.is("BMHD")) {
            // Every BMHD must tell the picture the buffer was made for.
            Bmhd next;
            if (ULONG r = readBmhd(header, chunk, &next); r != TALIO_OK) return r;
            if (next.width != b->width || next.height != b->height || next.planes != b->depth)
                return TALIO_ERR_DAMAGED;
            if (next.compression > 1) return TALIO_ERR_UNSUPPORTED;
            bmhd = next;
            haveBmhd = true;
        } else if (chunk.is("CMAP")) {
            UBYTE colours[256 * 3];
            const size_t bytes = size_t(std::min<uint64_t>(chunk.available, sizeof colours));
            if (!TALIO__ReadIFFData(header, chunk, colours, bytes)) return TALIO_ERR_READ;
            const size_t count = std::min<size_t>(bytes / 3, b->depth >= 8 ? 256 : size_t(1) << b->depth);
            for (size_t i = 0; i < count; i++)
                b->palette[i] =
                    ULONG(colours[3 * i]) | ULONG(colours[3 * i + 1]) << 8 | ULONG(colours[3 * i + 2]) << 16;
            haveCmap = true;
        } else if (chunk.is("BODY") && !haveBody) {
            if (!haveBmhd) return TALIO_ERR_DAMAGED;
            haveBody = true;
            if (ULONG r = readBody(header, chunk, bmhd); r != TALIO_OK) return r;
        }
    }
    if (!haveCmap && b->depth <= 8) greyPalette(b);
    return TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// Save.

// One channel of a row of R, G, B pixels as 8 bitplane lines of `line` bytes (bit 0 first): bit b of
// the pixel at column x goes into line b, byte x / 8, bit 7 - x mod 8. Padding bits stay 0.
void toBitplanes(const UBYTE* rgb, int channel, ULONG width, UBYTE* lines, size_t line) {
    std::memset(lines, 0, 8 * line);
    for (ULONG x0 = 0; x0 < width; x0 += 8) {
        const ULONG n = std::min<ULONG>(8, width - x0);
        UBYTE pixels[8] = {};
        for (ULONG i = 0; i < n; i++) pixels[i] = rgb[3 * size_t(x0 + i) + size_t(channel)];
        for (int bit = 0; bit < 8; bit++) {
            UBYTE byte = 0;
            for (int i = 0; i < 8; i++) byte |= UBYTE(((pixels[i] >> bit) & 1) << (7 - i));
            lines[size_t(bit) * line + x0 / 8] = byte;
        }
    }
}

ULONG save(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    const bool colour = b->depth == 24 && b->format == TALIO_FORMAT_RGBPLANES;
    const bool grey =
        b->depth == 8 && (b->format == TALIO_FORMAT_GREY8 || b->format == TALIO_FORMAT_RGBPLANES);
    if (!colour && !grey) return TALIO_ERR_UNSUPPORTED;
    const size_t line = lineBytes(b->width);
    const uint64_t body = uint64_t(b->height) * 24 * line;
    const uint64_t formSize = 4 + 28 + 12 + 8 + body + (body & 1);
    if (b->width == 0 || b->height == 0 || b->width > kMaxSide || b->height > kMaxSide ||
        formSize > 0xFFFFFFFF)
        return TALIO_ERR_UNSUPPORTED;

    UBYTE head[12 + 28 + 12 + 8] = {};
    std::memcpy(head, "FORM", 4);
    TALIO__PutBE32(head + 4, ULONG(formSize));
    std::memcpy(head + 8, "ILBMBMHD", 8);
    TALIO__PutBE32(head + 16, kBmhdSize);
    UBYTE* bmhd = head + 20;
    TALIO__PutBE16(bmhd, b->width);
    TALIO__PutBE16(bmhd + 2, b->height);
    bmhd[8] = 24;  // planes; masking, compression, pad, transparent colour and x, y stay 0
    bmhd[14] = 44; // x aspect
    bmhd[15] = 44; // y aspect
    TALIO__PutBE16(bmhd + 16, b->width);
    TALIO__PutBE16(bmhd + 18, b->height);
    std::memcpy(head + 40, "CAMG", 4);
    TALIO__PutBE32(head + 44, 4);
    TALIO__PutBE32(head + 48, b->width > 384 || b->height > 288 ? kCamgHires : 0);
    std::memcpy(head + 52, "BODY", 4);
    TALIO__PutBE32(head + 56, ULONG(body));
    if (TALIO_WriteData(head, 1, sizeof head, header) != sizeof head) return TALIO_ERR_READ;

    std::vector<UBYTE> rgb(size_t(b->width) * 3), planes(24 * line);
    for (ULONG y = 0; y < b->height; y++) {
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, b->width * 3, TALIO_PIXEL_RGB, rgb.data()))
            return TALIO_ERR_DAMAGED;
        for (int c = 0; c < 3; c++) toBitplanes(rgb.data(), c, b->width, planes.data() + 8 * line * c, line);
        if (TALIO_WriteData(planes.data(), 1, planes.size(), header) != planes.size()) return TALIO_ERR_READ;
        if (!TALIO__RowsDone(header, y, y + 1, b->height)) return TALIO_ERR_CANCELLED;
    }
    if ((body & 1) && !TALIO_WriteUBYTE(0, header)) return TALIO_ERR_READ;
    return TALIO_OK;
}

} // namespace

void* Tal_NewILBMTALIOClass(const TagItem*) {
    auto* self = static_cast<ILBMTALIOInstance*>(Tal_AllocObjectMem(&ilbmClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_ILBM, 1, "iff");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeILBMTALIOClass(void* instance) {
    auto* self = static_cast<ILBMTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoILBMTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<ILBMTALIOInstance*>(instance);
    switch (id) {
    case TALIO_Identify:
        return identify(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Load:
        return load(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return save(reinterpret_cast<TALIO_Header*>(args[0]));
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitILBMTALIOClass() {
    return Tal__SetupClass(&ilbmClass, "ILBMTALIO", kIlbmClassId, "RootTALIO", Tal_NewILBMTALIOClass,
                           Tal_DisposeILBMTALIOClass, Tal_DoILBMTALIOClassMethod, nullptr,
                           sizeof(ILBMTALIOInstance));
}

void Tal_CleanupILBMTALIOClass() {
    Tal__CleanupClass(&ilbmClass);
}
