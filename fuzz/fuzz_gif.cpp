// Detects and loads arbitrary bytes as a GIF file through the registry: a load either fails with an error
// number or gives a buffer whose pixels are all readable. A small picture that loads is also saved again
// (quantized, diffused and coded) into a scratch folder, in memory where there is one.
#include "talio/talio.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The input lives in an in-memory file that the registry opens by name like any other.
struct Setup {
    int fd = -1;
    std::string name, outName;
    Setup() {
        Tal_Init();
        Tal_InitRootTALIOClass();
        Tal_InitGIFTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        fd = memfd_create("fuzz-gif", 0);
        name = "/proc/self/fd/" + std::to_string(fd);
        char folder[] = "/dev/shm/fuzz-gif-XXXXXX";
        char fallback[] = "/tmp/fuzz-gif-XXXXXX";
        const char* made = mkdtemp(folder);
        if (!made) made = mkdtemp(fallback);
        if (made) outName = std::string(made) + "/out.gif";
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

    TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(setup.name.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
    if (!b) return 0;
    std::vector<UBYTE> row(size_t(b->width) * 3);
    for (ULONG y = 0; y < b->height; y++)
        TALIO_GetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_RGB, row.data());
    // Small pictures go round again through the saver, with the input choosing the colour count.
    if (uint64_t(b->width) * b->height <= 4096 && !setup.outName.empty()) {
        const ULONG gif = Tal_CreateObject("GIFTALIO");
        Tal_DoMethod(gif, GIFTALIO_SetColours, 1 + size % 256);
        Tal_DoMethod(gif, GIFTALIO_SetInterlaced, size & 1);
        const ULONG quiet = TALIO_SAVE_QUIET;
        TALIO_SaveBufferA(b->header, setup.outName.c_str(), "GIF", gif, &quiet);
        Tal_DisposeObject(gif);
    }
    TALIO_FreeBuffer(b);
    return 0;
}
