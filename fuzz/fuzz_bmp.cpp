// Arbitrary bytes loaded as a BMP file: a load either fails with an error number or gives a picture
// whose every pixel can be read.
#include "fuzz/FuzzImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz_image::Setup setup({Tal_InitBMPTALIOClass});
    return fuzz_image::run(setup, data, size);
}
