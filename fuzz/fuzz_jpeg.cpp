// Detects and loads arbitrary bytes as an image file through the registry (JPEG with its picture
// information, and whatever other loaders are registered): a load either fails with an error number or
// gives a buffer whose pixels and information fields are all readable.
#include "talio_fuzz.h"
#include "ui/ui.h"

#include <cstring>
#include <vector>

namespace {

struct Setup {
    FuzzImageFile input;
    Setup() {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        Tal_InitJPEGTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    // Pictures too large to decode quickly are only identified.
    if (!setup.input.hold(data, size) || !setup.input.small()) return 0;

    // The size of the input picks the scale, so every reduction is reached.
    static constexpr ULONG reductions[] = {100, 200, 400, 800};
    ULONG error = 0;
    const auto tags = Tal_MakeTags(TALIO_TAG_Reduction, reductions[size % 4]);
    TALIO_ImageBuffer* b =
        TALIO_AutoLoadBufferA(setup.input.name.c_str(), TALIO_LOAD_QUIET, &error, tags.data());
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
