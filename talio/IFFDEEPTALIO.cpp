// IFFDEEPTALIO: IFF DEEP pictures, chunky true colour with 8 bits a component, uncompressed. The size
// comes from DGBL; DPEL must describe exactly red, green and blue of 8 bits each, in any order; DBOD holds
// the rows top first, unpadded. Saves true colour (and grey, as equal red, green and blue).
#include "talio/TALIOIFF.h"

#include <vector>

namespace {

Tal_Class deepClass;

struct IFFDEEPTALIOInstance {
    Tal_Object header;
};

constexpr ULONG kDeepClassId = 7004;
constexpr ULONG kMaxSide = 0xFFFF;
constexpr ULONG kFormOverhead = 68; // DEEP, the DGBL, DPEL and DLOC chunks and the DBOD header
constexpr UBYTE kAspect = 22;

bool isDeep(const TALIO_Header* h) {
    const UBYTE* p = h->peek;
    return p && h->peek_length >= 26 && std::memcmp(p, "FORM", 4) == 0 &&
           std::memcmp(p + 8, "DEEP", 4) == 0 && std::memcmp(p + 12, "DGBL", 4) == 0 &&
           TALIO__GetBE32(p + 16) >= 8 && TALIO__GetBE16(p + 24) == 0;
}

ULONG identify(TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    if (!isDeep(header)) return TALIO_ERR_UNKNOWN;
    TALIO_ImageBuffer* b = header->buffer;
    b->width = TALIO__GetBE16(header->peek + 20);
    b->height = TALIO__GetBE16(header->peek + 22);
    if (b->width == 0 || b->height == 0) return TALIO_ERR_UNKNOWN;
    b->depth = 24;
    b->format = header->truecolour_format;
    return TALIO_OK;
}

// The DPEL chunk: where red, green and blue sit in a pixel. 1, or 7 for anything but one 8-bit element of
// each, 3 when the file ends inside it.
ULONG readElements(TALIO_Header* header, const TALIO_IFFChunk& chunk, int order[3]) {
    UBYTE data[4 + 3 * 4];
    if (chunk.length < 4) return TALIO_ERR_UNSUPPORTED;
    if (!TALIO__ReadIFFData(header, chunk, data, 4)) return TALIO_ERR_READ;
    if (TALIO__GetBE32(data) != 3 || chunk.length < sizeof data) return TALIO_ERR_UNSUPPORTED;
    if (!TALIO__ReadIFFData(header, chunk, data, sizeof data)) return TALIO_ERR_READ;
    order[0] = order[1] = order[2] = -1;
    for (int i = 0; i < 3; i++) {
        const ULONG type = TALIO__GetBE16(data + 4 + 4 * i), bits = TALIO__GetBE16(data + 6 + 4 * i);
        if (type < 1 || type > 3 || bits != 8 || order[type - 1] >= 0) return TALIO_ERR_UNSUPPORTED;
        order[type - 1] = i;
    }
    return TALIO_OK;
}

ULONG readBody(TALIO_Header* header, const TALIO_IFFChunk& chunk, const int order[3]) {
    TALIO_ImageBuffer* b = header->buffer;
    const size_t rowBytes = size_t(b->width) * 3;
    std::vector<UBYTE> row(rowBytes), rgb(rowBytes);
    if (TALIO_Seek(header, int64_t(chunk.data), 0) != 0) return TALIO_ERR_READ;
    uint64_t left = chunk.available;
    for (ULONG y = 0; y < b->height; y++) {
        if (left < rowBytes || TALIO_ReadData(row.data(), 1, rowBytes, header) != rowBytes)
            return TALIO_ERR_READ;
        left -= rowBytes;
        for (size_t x = 0; x < b->width; x++)
            for (int c = 0; c < 3; c++) rgb[3 * x + size_t(c)] = row[3 * x + size_t(order[c])];
        if (!TALIO_SetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_RGB, rgb.data()))
            return TALIO_ERR_DAMAGED;
        if (!TALIO__RowsDone(header, y, y + 1, b->height)) return TALIO_ERR_CANCELLED;
    }
    return TALIO_OK;
}

ULONG load(TALIO_Header* header) {
    TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    int order[3];
    bool haveElements = false;
    TALIO_IFFChunk chunk;
    // From the first chunk (DGBL, which identified the file) to the DBOD; the end of the file ends it.
    for (uint64_t at = 12; TALIO__ReadIFFChunk(header, at, &chunk); at = chunk.next) {
        if (chunk.is("DPEL")) {
            if (ULONG r = readElements(header, chunk, order); r != TALIO_OK) return r;
            haveElements = true;
        } else if (chunk.is("DLOC")) {
            UBYTE size[4];
            if (chunk.length < 8) return TALIO_ERR_DAMAGED;
            if (!TALIO__ReadIFFData(header, chunk, size, sizeof size)) return TALIO_ERR_READ;
            if (TALIO__GetBE16(size) != b->width || TALIO__GetBE16(size + 2) != b->height)
                return TALIO_ERR_UNSUPPORTED;
        } else if (chunk.is("DBOD")) {
            if (!haveElements) return TALIO_ERR_READ;
            return readBody(header, chunk, order);
        }
    }
    return TALIO_OK;
}

ULONG save(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    const bool colour = b->depth == 24 && b->format == TALIO_FORMAT_RGBPLANES;
    const bool grey =
        b->depth == 8 && (b->format == TALIO_FORMAT_GREY8 || b->format == TALIO_FORMAT_RGBPLANES);
    if (!colour && !grey) return TALIO_ERR_UNSUPPORTED;
    const uint64_t body = uint64_t(b->width) * b->height * 3;
    if (b->width == 0 || b->height == 0 || b->width > kMaxSide || b->height > kMaxSide ||
        body + kFormOverhead > 0xFFFFFFFF)
        return TALIO_ERR_UNSUPPORTED;

    UBYTE head[8 + kFormOverhead] = {};
    std::memcpy(head, "FORM", 4);
    TALIO__PutBE32(head + 4, ULONG(kFormOverhead + body));
    std::memcpy(head + 8, "DEEPDGBL", 8);
    TALIO__PutBE32(head + 16, 8);
    TALIO__PutBE16(head + 20, b->width);
    TALIO__PutBE16(head + 22, b->height); // compression 0
    head[26] = kAspect;
    head[27] = kAspect;
    std::memcpy(head + 28, "DPEL", 4);
    TALIO__PutBE32(head + 32, 16);
    TALIO__PutBE32(head + 36, 3);
    for (int i = 0; i < 3; i++) {
        TALIO__PutBE16(head + 40 + 4 * i, ULONG(i + 1));
        TALIO__PutBE16(head + 42 + 4 * i, 8);
    }
    std::memcpy(head + 52, "DLOC", 4);
    TALIO__PutBE32(head + 56, 8);
    TALIO__PutBE16(head + 60, b->width);
    TALIO__PutBE16(head + 62, b->height); // x and y 0
    std::memcpy(head + 68, "DBOD", 4);
    TALIO__PutBE32(head + 72, ULONG(body));
    if (TALIO_WriteData(head, 1, sizeof head, header) != sizeof head) return TALIO_ERR_READ;

    // Rows unpadded; the DBOD's pad byte is left out, as DEEP files have it.
    const size_t rowBytes = size_t(b->width) * 3;
    std::vector<UBYTE> row(rowBytes);
    for (ULONG y = 0; y < b->height; y++) {
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, ULONG(rowBytes), TALIO_PIXEL_RGB, row.data()))
            return TALIO_ERR_DAMAGED;
        if (TALIO_WriteData(row.data(), 1, rowBytes, header) != rowBytes) return TALIO_ERR_READ;
        if (!TALIO__RowsDone(header, y, y + 1, b->height)) return TALIO_ERR_CANCELLED;
    }
    return TALIO_OK;
}

} // namespace

void* Tal_NewIFFDEEPTALIOClass(const TagItem*) {
    auto* self = static_cast<IFFDEEPTALIOInstance*>(Tal_AllocObjectMem(&deepClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_FILE, 1, "iff");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeIFFDEEPTALIOClass(void* instance) {
    auto* self = static_cast<IFFDEEPTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoIFFDEEPTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<IFFDEEPTALIOInstance*>(instance);
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

ULONG Tal_InitIFFDEEPTALIOClass() {
    return Tal__SetupClass(&deepClass, "IFFDEEPTALIO", kDeepClassId, "RootTALIO", Tal_NewIFFDEEPTALIOClass,
                           Tal_DisposeIFFDEEPTALIOClass, Tal_DoIFFDEEPTALIOClassMethod, nullptr,
                           sizeof(IFFDEEPTALIOInstance));
}

void Tal_CleanupIFFDEEPTALIOClass() {
    Tal__CleanupClass(&deepClass);
}
