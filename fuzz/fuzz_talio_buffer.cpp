// Drives the buffer functions with arbitrary sizes, layouts, row distances and pixel codes, as format
// classes do with values read from files: every call either refuses or stays inside the buffers.
#include "talio/talio.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t next(uint32_t limit) { // 0..limit-1
        uint32_t v = 0;
        for (int i = 0; i < 3; i++) v = v << 8 | (at < size ? data[at++] : 0);
        return limit ? v % limit : 0;
    }
};

constexpr ULONG kFormats[] = {1, 3, 4, 8, 9, 11, 13, 2};
constexpr ULONG kCodes[] = {3, 4, 7, 9, 11, 12, 14, 15, 16, 17, 18, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const ULONG width = 1 + in.next(80), height = 1 + in.next(40), depth = 1 + in.next(33);
    const ULONG format = kFormats[in.next(8)];
    const ULONG bytesPerRow = in.next(2) ? in.next(400) : 0;
    // Made as the registry makes it: the format class fills the fields, then the pixels are allocated.
    auto* b = static_cast<TALIO_ImageBuffer*>(Tal_AllocMemClear(sizeof(TALIO_ImageBuffer)));
    NewList(&b->layers);
    b->width = width, b->height = height, b->depth = depth, b->bytes_per_row = bytesPerRow,
    b->format = format;
    if (!TALIO_AllocBufferMem(b)) {
        TALIO_FreeBuffer(b);
        return 0;
    }
    for (ULONG& entry : b->palette) entry = in.next(1u << 24);
    for (int round = 0; round < 4; round++) {
        const ULONG x = in.next(100), y = in.next(50), w = in.next(100), rows = in.next(50);
        const ULONG rowBytes = in.next(500), code = kCodes[in.next(12)];
        // The caller's rows: as many as it says, each as long as it says.
        std::vector<UBYTE> pixels(size_t(rows) * rowBytes + size_t(w) * 4 + 4);
        for (UBYTE& p : pixels) p = UBYTE(in.next(256));
        TALIO_SetBufferData(b, x, y, w, rows, rowBytes, code, pixels.data());
        const ULONG outBytes = std::max<ULONG>(rowBytes, w * 4);
        std::vector<UBYTE> out(size_t(rows) * outBytes + 4);
        TALIO_GetBufferData(b, x, y, w, rows, outBytes, code, out.data());
    }
    TALIO_FreeBuffer(TALIO_ConvertBufferFormat(b, 1));
    TALIO_AddLayer(b, width, height, depth, format, 1 + in.next(3), 0);
    TALIO_FreeBuffer(b);
    return 0;
}
