// Arbitrary bytes as an image file: they live in an in-memory file that the registry opens by name like
// any other, with only the format classes a target names registered. Pictures larger than a target
// explores quickly are only identified.
#pragma once

#include "talio/talio.h"
#include "ui/ui.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

class FuzzImageInput {
  public:
    explicit FuzzImageInput(void (*registerClasses)()) {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        registerClasses();
        TALIO_Init(Tal_GetGlobalData());
        fd_ = memfd_create("fuzz-image", 0);
        name_ = "/proc/self/fd/" + std::to_string(fd_);
    }

    // Loads the bytes quietly; the buffer (the caller frees it), or none when they do not load or the
    // picture is above 2048 x 2048.
    TALIO_ImageBuffer* load(const uint8_t* data, size_t size) {
        if (fd_ < 0 || ftruncate(fd_, 0) != 0) return nullptr;
        if (size && pwrite(fd_, data, size, 0) != ssize_t(size)) return nullptr;
        ULONG error = 0;
        TALIO_ImageBuffer* sized =
            TALIO_AutoLoadBufferA(name_.c_str(), TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY, &error, nullptr);
        const bool small = sized && sized->width <= 2048 && sized->height <= 2048;
        TALIO_FreeBuffer(sized);
        return small ? TALIO_AutoLoadBufferA(name_.c_str(), TALIO_LOAD_QUIET, &error, nullptr) : nullptr;
    }

    // Reads every pixel of a loaded buffer, as the image engine does when it adopts it.
    static void readAll(const TALIO_ImageBuffer* b) {
        TALIO_ImageBuffer* rgb =
            b->format == TALIO_FORMAT_RGBPLANES ? nullptr : TALIO_ConvertBufferFormat(b, 1);
        const TALIO_ImageBuffer* planes = rgb ? rgb : b;
        std::vector<UBYTE> row(size_t(planes->width) * 3);
        for (ULONG y = 0; y < planes->height; y++)
            TALIO_GetBufferData(planes, 0, y, planes->width, 1, 0, TALIO_PIXEL_RGB, row.data());
        TALIO_FreeBuffer(rgb);
    }

  private:
    int fd_ = -1;
    std::string name_;
};
