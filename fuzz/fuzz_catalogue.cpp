// Loads arbitrary bytes as a text catalogue and reads every text back: a load either fails or gives
// texts that end inside their data.
#include "Tal/Catalogue.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return 0;
    Tal_Catalogue cat{};
    if (Tal__ReadCatalogue(&cat, f, "Data/Lingua/Velura.etf", "")) {
        // Each text must end inside the data; AddressSanitizer reports a read past it.
        volatile size_t total = 0;
        for (ULONG i = 0; i <= cat.count; i++) total = total + std::strlen(Tal__CatalogueText(&cat, i));
    }
    Tal__ReleaseCatalogue(&cat);
    return 0;
}
