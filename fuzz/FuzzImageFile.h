// The body of the image-file fuzz targets: arbitrary bytes are loaded through the registry with one
// format class registered. A load either fails with an error number or gives a buffer whose pixels, and
// alpha when it has one, can all be read.
#pragma once

#include "talio/talio.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_image {

// Larger pictures are only identified: decoding them would slow the search down.
constexpr ULONG kMaxSide = 2048;

// The input lives in an in-memory file that the registry opens by name like any other.
struct Setup {
    int fd = -1;
    std::string name;
    explicit Setup(ULONG (*initClass)()) {
        Tal_Init();
        Tal_InitRootTALIOClass();
        initClass();
        TALIO_Init(Tal_GetGlobalData());
        fd = memfd_create("fuzz-image", 0);
        name = "/proc/self/fd/" + std::to_string(fd);
    }
};

inline void readAll(const TALIO_ImageBuffer* b) {
    std::vector<UBYTE> row(size_t(b->width) * 3);
    for (ULONG y = 0; y < b->height; y++) {
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_RGB, row.data())) __builtin_trap();
        if (b->alpha && !TALIO_GetBufferData(b->alpha, 0, y, b->width, 1, 0, TALIO_PIXEL_INDEX, row.data()))
            __builtin_trap();
    }
}

inline int run(const Setup& setup, const uint8_t* data, size_t size) {
    if (setup.fd < 0 || ftruncate(setup.fd, 0) != 0) return 0;
    if (size && pwrite(setup.fd, data, size, 0) != ssize_t(size)) return 0;
    ULONG error = 0;
    TALIO_ImageBuffer* sized =
        TALIO_AutoLoadBufferA(setup.name.c_str(), TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY, &error, nullptr);
    const bool small = sized && sized->width <= kMaxSide && sized->height <= kMaxSide;
    TALIO_FreeBuffer(sized);
    if (!small) return 0;
    TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(setup.name.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
    if (!b) return 0;
    if (b->format == TALIO_FORMAT_RGBPLANES || b->format == TALIO_FORMAT_GREY8) {
        readAll(b);
    } else {
        TALIO_ImageBuffer* rgb = TALIO_ConvertBufferFormat(b, TALIO_FORMAT_RGBPLANES);
        if (!rgb) __builtin_trap();
        readAll(rgb);
        TALIO_FreeBuffer(rgb);
    }
    TALIO_FreeBuffer(b);
    return 0;
}

} // namespace fuzz_image
