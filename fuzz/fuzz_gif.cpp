// Detects and loads arbitrary bytes as a GIF file through the registry: a load either fails with an error
// number or gives a buffer whose pixels are all readable. A small picture that loads is also saved again
// (quantized, diffused and coded) into a scratch folder, in memory where there is one.
#include "fuzz/FuzzImageFile.h"

#include <cstdlib>
#include <vector>

namespace {

struct Setup {
    fuzz_image::Setup input{Tal_InitGIFTALIOClass};
    std::string output;
    Setup() {
        char folder[] = "/dev/shm/fuzz-gif-XXXXXX";
        char fallback[] = "/tmp/fuzz-gif-XXXXXX";
        const char* made = mkdtemp(folder);
        if (!made) made = mkdtemp(fallback);
        if (made) folder_ = made, output = folder_ + "/out.gif";
    }
    ~Setup() {
        if (folder_.empty()) return;
        unlink(output.c_str());
        rmdir(folder_.c_str());
    }

  private:
    std::string folder_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (!setup.input.hold(data, size)) return 0;
    ULONG error = 0;
    TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(setup.input.name.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
    if (!b) return 0;
    fuzz_image::readAll(b);
    // Small pictures go round again through the saver, the input choosing the colours and the interlace.
    if (uint64_t(b->width) * b->height <= 4096 && !setup.output.empty()) {
        const ULONG gif = Tal_CreateObject("GIFTALIO");
        Tal_DoMethod(gif, GIFTALIO_SetColours, 1 + size % 256);
        Tal_DoMethod(gif, GIFTALIO_SetInterlaced, size & 1);
        const ULONG quiet = TALIO_SAVE_QUIET;
        TALIO_SaveBufferA(b->header, setup.output.c_str(), "GIF", gif, &quiet);
        Tal_DisposeObject(gif);
    }
    TALIO_FreeBuffer(b);
    return 0;
}
