// Reads arbitrary bytes as the thumbnail database's records (_Entries) and as its Index: every record kept
// names a plain file of at most 259 characters, and writing the records back reads back the same.
#include "ui/FileRequester.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<Tal_ThumbnailRecord> records = Tal_DecodeThumbnailRecords(data, size);
    for (const Tal_ThumbnailRecord& r : records)
        if (r.name.empty() || r.name.size() > 259 || r.name.find('/') != std::string::npos || r.name == "." ||
            r.name == "..")
            std::abort();
    const std::vector<UBYTE> again = Tal_EncodeThumbnailRecords(records);
    if (Tal_DecodeThumbnailRecords(again.data(), again.size()).size() != records.size()) std::abort();
    std::vector<std::pair<ULONG, std::string>> folders;
    const ULONG highest = Tal_ParseThumbnailIndex(data, size, &folders);
    for (const auto& [number, folder] : folders)
        if (number > highest || folder.empty() || folder[0] != '/') std::abort();
    return 0;
}
