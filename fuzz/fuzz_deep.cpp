// Loads arbitrary bytes as IFF DEEP pictures: chunky true colour with its element list.
#include "fuzz/FuzzImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz_image::Setup setup({Tal_InitIFFDEEPTALIOClass});
    return fuzz_image::run(setup, data, size);
}
