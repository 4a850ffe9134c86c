// Reads arbitrary bytes as the data of a JPEG file's "Photoshop 3.0" marker, then writes the record back:
// nothing is read outside the data or written outside the record's fields.
#include "talio/talio.h"

#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that a read past it is caught.
    std::unique_ptr<UBYTE[]> marker(new UBYTE[size ? size : 1]);
    if (size) std::memcpy(marker.get(), data, size);
    auto info = std::make_unique<TALIO_IPTCInfo>();
    std::memset(info.get(), 0, sizeof(TALIO_IPTCInfo));
    TALIO__ReadIPTC(marker.get(), size, info.get());
    Tal_DynamicMemory* block = Tal_InitDynamicMemoryA(TAL_DYNMEM_BIGENDIAN);
    if (block && TALIO__BuildIPTC(info.get(), block)) {
        // The texts written read back the same.
        auto again = std::make_unique<TALIO_IPTCInfo>();
        std::memset(again.get(), 0, sizeof(TALIO_IPTCInfo));
        TALIO__ReadIPTC(block->data, block->length, again.get());
        const size_t length = strnlen(info->caption, sizeof info->caption);
        if (strnlen(again->caption, sizeof again->caption) != length ||
            std::memcmp(again->caption, info->caption, length) != 0)
            __builtin_trap();
    }
    Tal_CleanupDynamicMemory(block);
    return 0;
}
