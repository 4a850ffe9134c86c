// Loads arbitrary bytes as PNG files through libpng: every colour type, bit depth and interlace.
#include "fuzz/FuzzImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz_image::Setup setup({Tal_InitPNGTALIOClass});
    return fuzz_image::run(setup, data, size);
}
