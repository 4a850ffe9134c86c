// Reads arbitrary bytes as an interface ILBM picture: a file is either refused or gives a whole picture
// whose every plane row can be turned into pixels.
#include "ui/ui.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Tal_InterfacePicture picture;
    if (Tal__ReadInterfaceILBM(data, size, &picture)) {
        const BitMap* planes = picture.planes;
        std::vector<UBYTE> pixels(size_t(picture.width) * size_t(picture.height));
        if (!planar_to_chunky(planes->Planes[0], pixels.data(), ULONG(picture.width), ULONG(picture.height),
                              ULONG(picture.depth), planes->BytesPerRow, ULONG(picture.width)))
            __builtin_trap();
        if (picture.colours > (1u << picture.depth)) __builtin_trap();
        Tal__FreeInterfacePicture(&picture);
    }
    return 0;
}
