// Detects and loads arbitrary bytes as an image file through the registry (JPEG with its picture
// information, and whatever other loaders are registered): a load either fails with an error number or
// gives a buffer whose pixels and information fields are all readable.
#include "fuzz/FuzzImageFile.h"

#include <cstring>
#include <vector>

namespace {

struct Setup {
    fuzz_image::Setup input{Tal_InitJPEGTALIOClass};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    // Pictures too large to decode quickly are only identified.
    if (!setup.input.hold(data, size)) return 0;

    // The size of the input picks the scale, so every reduction is reached.
    static constexpr ULONG reductions[] = {100, 200, 400, 800};
    ULONG error = 0;
    const auto tags = Tal_MakeTags(TALIO_TAG_Reduction, reductions[size % 4]);
    TALIO_ImageBuffer* b =
        TALIO_AutoLoadBufferA(setup.input.name.c_str(), TALIO_LOAD_QUIET, &error, tags.data());
    if (!b) return 0;
    fuzz_image::readAll(b);
    if (const auto* info = static_cast<const TALIO_IPTCInfo*>(b->header->extra)) {
        volatile size_t total =
            strnlen(info->caption, sizeof info->caption) + strnlen(info->keywords, sizeof info->keywords);
        (void)total;
    }
    TALIO_FreeBuffer(b);
    return 0;
}
