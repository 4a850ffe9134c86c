// Pastes arbitrary bytes from the clipboard: as a bitmap put there by another program, and, when they
// start like a PNG, as the image/png another program offers (its bitmap is then pasted as well). A paste
// either fails with an error number or gives a buffer whose pixels are all readable.
#include "host/clipboard.h"
#include "ui/ui.h"
#include "talio/talio.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t kMaxSide = 2048;

struct Setup {
    ULONG clip = 0;
    Setup() {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        Tal_InitClipboardTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        clip = Tal_CreateObject("ClipboardTALIO");
    }
};

int32_t le32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

void paste(ULONG clip, const uint8_t* data, size_t size) {
    // Pictures too large to paste quickly are left alone.
    if (size >= 12) {
        const int64_t width = le32(data + 4), height = le32(data + 8);
        if (width > kMaxSide || height > kMaxSide || height < -kMaxSide) return;
    }
    if (!host_OpenClipboard()) return;
    UBYTE* block = host_AllocClipboardBlock(size);
    if (size) std::memcpy(block, data, size);
    if (!host_SetClipboardBitmap(block, size)) host_FreeClipboardBlock(block);
    host_CloseClipboard();

    ULONG error = 0;
    TALIO_ImageBuffer* b = TALIO_LoadBufferFromTALIOA(clip, TALIO_LOAD_QUIET, &error, nullptr);
    if (b) {
        TALIO_ImageBuffer* planes = b->format == TALIO_FORMAT_RGBPLANES ? b : TALIO_ConvertBufferFormat(b, 1);
        if (planes) {
            std::vector<UBYTE> row(size_t(planes->width) * 3);
            for (ULONG y = 0; y < planes->height; y++)
                TALIO_GetBufferData(planes, 0, y, planes->width, 1, 0, TALIO_PIXEL_RGB, row.data());
        }
        if (planes != b) TALIO_FreeBuffer(planes);
        TALIO_FreeBuffer(b);
    }
    if (host_OpenClipboard()) {
        host_EmptyClipboard();
        host_CloseClipboard();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    paste(setup.clip, data, size);
    static constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(data, kPngSignature, 8) == 0) {
        size_t length = 0;
        if (UBYTE* bitmap = host__PngToBitmap(data, size, &length, ULONG(kMaxSide))) {
            paste(setup.clip, bitmap, length);
            host_FreeClipboardBlock(bitmap);
        }
    }
    return 0;
}
