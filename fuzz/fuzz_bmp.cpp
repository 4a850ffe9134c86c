// Arbitrary bytes loaded as a BMP file: a load either fails with an error number or gives a picture
// whose every pixel can be read.
#include "ImageInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzImageInput input([] { Tal_InitBMPTALIOClass(); });
    if (TALIO_ImageBuffer* b = input.load(data, size)) {
        FuzzImageInput::readAll(b);
        TALIO_FreeBuffer(b);
    }
    return 0;
}
