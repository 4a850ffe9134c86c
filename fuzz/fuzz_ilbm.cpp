// Loads arbitrary bytes as IFF ILBM pictures: bitplanes raw or ByteRun1, colour maps, mask planes.
#include "fuzz/FuzzImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz_image::Setup setup({Tal_InitILBMTALIOClass});
    return fuzz_image::run(setup, data, size);
}
