// The image-file fuzz targets' common part: arbitrary bytes become an in-memory file that the registry
// opens by name like any other, with the format classes a target names registered. Larger pictures are
// only identified (decoding them would slow the search down). A load either fails with an error number
// or gives a buffer whose pixels, and alpha when it has one, can all be read.
#pragma once

#include "talio/talio.h"
#include "ui/ui.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace fuzz_image {

constexpr ULONG kMaxSide = 2048;

struct Setup {
    int fd = -1;
    std::string name;
    explicit Setup(std::initializer_list<ULONG (*)()> classes) {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        for (ULONG (*init)() : classes) init();
        TALIO_Init(Tal_GetGlobalData());
        fd = memfd_create("fuzz-image", 0);
        name = "/proc/self/fd/" + std::to_string(fd);
    }
    // The bytes become the file's whole content, and it identifies as a picture small enough to decode.
    bool hold(const uint8_t* data, size_t size) const {
        if (fd < 0 || ftruncate(fd, 0) != 0) return false;
        if (size && pwrite(fd, data, size, 0) != ssize_t(size)) return false;
        ULONG error = 0;
        TALIO_ImageBuffer* sized =
            TALIO_AutoLoadBufferA(name.c_str(), TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY, &error, nullptr);
        const bool small = sized && sized->width <= kMaxSide && sized->height <= kMaxSide;
        TALIO_FreeBuffer(sized);
        return small;
    }
};

inline void readPlanes(const TALIO_ImageBuffer* b) {
    std::vector<UBYTE> row(size_t(b->width) * 3);
    for (ULONG y = 0; y < b->height; y++) {
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_RGB, row.data())) __builtin_trap();
        if (b->alpha && !TALIO_GetBufferData(b->alpha, 0, y, b->width, 1, 0, TALIO_PIXEL_INDEX, row.data()))
            __builtin_trap();
    }
}

// Reads every pixel of a loaded buffer, as the image engine does when it adopts it.
inline void readAll(const TALIO_ImageBuffer* b) {
    if (b->format == TALIO_FORMAT_RGBPLANES || b->format == TALIO_FORMAT_GREY8) {
        readPlanes(b);
        return;
    }
    TALIO_ImageBuffer* rgb = TALIO_ConvertBufferFormat(b, TALIO_FORMAT_RGBPLANES);
    if (!rgb) __builtin_trap();
    readPlanes(rgb);
    TALIO_FreeBuffer(rgb);
}

// The whole body of a plain target: hold, load quietly, read everything.
inline int run(const Setup& setup, const uint8_t* data, size_t size) {
    if (!setup.hold(data, size)) return 0;
    ULONG error = 0;
    TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(setup.name.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
    if (!b) return 0;
    readAll(b);
    TALIO_FreeBuffer(b);
    return 0;
}

} // namespace fuzz_image
