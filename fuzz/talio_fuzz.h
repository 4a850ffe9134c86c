// Shared by the image-file fuzz targets: the input as an in-memory file that the registry opens by name
// like any other, and the size check that keeps large pictures to identification.
#pragma once

#include "talio/talio.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

struct FuzzImageFile {
    int fd = memfd_create("fuzz-image", 0);
    std::string name = "/proc/self/fd/" + std::to_string(fd);

    // The bytes become the file's whole content; false when they cannot.
    bool hold(const uint8_t* data, size_t size) const {
        if (fd < 0 || ftruncate(fd, 0) != 0) return false;
        return size == 0 || pwrite(fd, data, size, 0) == ssize_t(size);
    }
    // True when the file identifies as a picture small enough to decode quickly (2048 x 2048 at most).
    bool small() const {
        ULONG error = 0;
        TALIO_ImageBuffer* sized =
            TALIO_AutoLoadBufferA(name.c_str(), TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY, &error, nullptr);
        const bool ok = sized && uint64_t(sized->width) * sized->height <= (uint64_t(1) << 22);
        TALIO_FreeBuffer(sized);
        return ok;
    }
};
