// Detects and loads arbitrary bytes as an image file through the registry (JPEG with its picture
// information, and whatever other loaders are registered): a load either fails with an error number or
// gives a buffer whose pixels and information fields are all readable.
#include "talio/talio.h"
#include "ui/ui.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The input lives in an in-memory file that the registry opens by name like any other.
struct Setup {
    int fd = -1;
    std::string name;
    Setup() {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        Tal_InitJPEGTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        fd = memfd_create("fuzz-image", 0);
        name = "/proc/self/fd/" + std::to_string(fd);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (setup.fd < 0 || ftruncate(setup.fd, 0) != 0) return 0;
    if (size && pwrite(setup.fd, data, size, 0) != ssize_t(size)) return 0;

    // Pictures too large to decode quickly are only identified.
    ULONG error = 0;
    TALIO_ImageBuffer* sized =
        TALIO_AutoLoadBufferA(setup.name.c_str(), TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY, &error, nullptr);
    const bool small = sized && uint64_t(sized->width) * sized->height <= (uint64_t(1) << 22);
    TALIO_FreeBuffer(sized);
    if (!small) return 0;

    // The size of the input picks the scale, so every reduction is reached.
    static constexpr ULONG reductions[] = {100, 200, 400, 800};
    const auto tags = Tal_MakeTags(TALIO_TAG_Reduction, reductions[size % 4]);
    TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(setup.name.c_str(), TALIO_LOAD_QUIET, &error, tags.data());
    if (!b) return 0;
    std::vector<UBYTE> row(size_t(b->width) * 3);
    for (ULONG y = 0; y < b->height; y++)
        TALIO_GetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_RGB, row.data());
    if (const auto* info = static_cast<const TALIO_IPTCInfo*>(b->header->extra)) {
        volatile size_t total =
            strnlen(info->caption, sizeof info->caption) + strnlen(info->keywords, sizeof info->keywords);
        (void)total;
    }
    TALIO_FreeBuffer(b);
    return 0;
}
