// IPTC picture information: read from and written to the "Photoshop 3.0" APP13 block of a JPEG file.
#include "talio/talio.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

struct Field {
    UBYTE dataset;
    size_t offset;
    size_t size;
};

#define IPTC_FIELD(dataset, member)                                                                          \
    Field {                                                                                                  \
        dataset, offsetof(TALIO_IPTCInfo, member), sizeof(TALIO_IPTCInfo::member)                            \
    }

constexpr Field kFields[] = {
    IPTC_FIELD(5, object_name),
    IPTC_FIELD(90, city),
    IPTC_FIELD(95, province_state),
    IPTC_FIELD(100, country_code),
    IPTC_FIELD(101, country_name),
    IPTC_FIELD(110, credit),
    IPTC_FIELD(75, object_cycle),
    IPTC_FIELD(80, byline),
    IPTC_FIELD(85, byline_title),
    IPTC_FIELD(10, urgency),
    IPTC_FIELD(15, category),
    IPTC_FIELD(120, caption),
    IPTC_FIELD(20, supplemental_categories),
    IPTC_FIELD(103, transmission_reference),
    IPTC_FIELD(25, keywords),
    IPTC_FIELD(105, headline),
    IPTC_FIELD(115, source),
    IPTC_FIELD(55, date_created),
    IPTC_FIELD(60, time_created),
    IPTC_FIELD(30, release_date),
    IPTC_FIELD(35, release_time),
    IPTC_FIELD(122, writer_editor),
    IPTC_FIELD(40, special_instructions),
    IPTC_FIELD(65, originating_program),
    IPTC_FIELD(116, copyright_notice),
    IPTC_FIELD(22, fixture_identifier),
    IPTC_FIELD(7, edit_status),
};
#undef IPTC_FIELD

static_assert(offsetof(TALIO_IPTCInfo, caption) == 300 && offsetof(TALIO_IPTCInfo, headline) == 2428 &&
              offsetof(TALIO_IPTCInfo, edit_status) == 3366);

// The datasets written, in order; 65 and 70 come from the program, not from the record.
constexpr UBYTE kWriteOrder[] = {120, 5,  7,  10, 15, 20, 22,  25,  30,  35,  40,  55,  60,  65,
                                 70,  75, 80, 85, 90, 95, 100, 101, 103, 105, 110, 115, 116, 122};
constexpr UBYTE kSupplementalCategories = 20;
constexpr UBYTE kKeywords = 25;
constexpr UBYTE kOriginatingProgram = 65;
constexpr UBYTE kProgramVersion = 70;
constexpr UWORD kIptcResource = 0x0404;
constexpr char kPhotoshop[] = "Photoshop 3.0"; // with its terminating 0: 14 bytes
constexpr size_t kPhotoshopSize = sizeof kPhotoshop;
constexpr size_t kSizeFieldAt = kPhotoshopSize + 4 + 2 + 2;

const Field* fieldOf(UBYTE dataset) {
    const auto* f = std::find_if(std::begin(kFields), std::end(kFields),
                                 [&](const Field& field) { return field.dataset == dataset; });
    return f == std::end(kFields) ? nullptr : f;
}

uint32_t bigEndian(const UBYTE* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; i++) v = v << 8 | p[i];
    return v;
}

// The IPTC resource inside the Photoshop framing: [begin, end) of the data; false when there is none.
bool findIptcResource(const UBYTE* data, size_t length, size_t* begin, size_t* end) {
    if (length < kPhotoshopSize || std::memcmp(data, kPhotoshop, kPhotoshopSize) != 0) return false;
    size_t p = kPhotoshopSize;
    while (length - p >= 12 && std::memcmp(data + p, "8BIM", 4) == 0) {
        const uint32_t id = bigEndian(data + p + 4, 2);
        const size_t nameField = (size_t(data[p + 6]) + 2) & ~size_t(1); // Pascal string, padded to even
        size_t q = p + 6 + nameField;
        if (q > length || length - q < 4) return false;
        const uint32_t size = bigEndian(data + q, 4);
        q += 4;
        if (size > length - q) return false;
        if (id == kIptcResource) {
            *begin = q;
            *end = q + size;
            return true;
        }
        p = q + size + (size & 1);
        if (p > length) return false;
    }
    return false;
}

void storeDataset(TALIO_IPTCInfo* info, UBYTE dataset, const UBYTE* text, size_t length) {
    const Field* field = fieldOf(dataset);
    if (!field) return;
    char* area = reinterpret_cast<char*>(info) + field->offset;
    if (dataset == kSupplementalCategories || dataset == kKeywords) {
        // Several pieces joined by new lines, as long as the whole fits.
        const size_t used = strnlen(area, field->size);
        const size_t separator = used ? 1 : 0;
        if (length == 0 || used + separator + length > field->size) return;
        if (separator) area[used] = '\n';
        std::memcpy(area + used + separator, text, length);
        return;
    }
    const size_t n = std::min(length, field->size);
    std::memcpy(area, text, n);
    std::memset(area + n, 0, field->size - n);
}

bool writeDataset(Tal_DynamicMemory* out, UBYTE dataset, const char* text, size_t length) {
    if (length == 0) return true;
    return Tal_WriteDynamicMemoryUBYTE(out, 0x1C) && Tal_WriteDynamicMemoryUBYTE(out, 2) &&
           Tal_WriteDynamicMemoryUBYTE(out, dataset) && Tal_WriteDynamicMemoryUWORD(out, ULONG(length)) &&
           Tal_WriteDynamicMemory(out, text, ULONG(length));
}

} // namespace

void TALIO__ReadIPTC(const UBYTE* data, size_t length, TALIO_IPTCInfo* info) {
    if (!data || !info) return;
    size_t begin = 0, end = length;
    if (!findIptcResource(data, length, &begin, &end)) begin = 0, end = length;
    size_t i = begin;
    while (i < end && end - i >= 5) {
        if (data[i] != 0x1C) {
            i++;
            continue;
        }
        const UBYTE record = data[i + 1], dataset = data[i + 2];
        size_t size = bigEndian(data + i + 3, 2);
        size_t start = i + 5;
        if (size & 0x8000) {
            // An extended dataset: the next (size & 0x7FFF) bytes hold its length.
            const size_t count = size & 0x7FFF;
            if (count == 0 || count > 4 || end - start < count) return;
            size = bigEndian(data + start, count);
            start += count;
        }
        // A dataset is used only when it lies wholly inside the data; after a broken one nothing can be
        // trusted.
        if (size > end - start) return;
        if (record == 2) storeDataset(info, dataset, data + start, size);
        i = start + size;
    }
}

ULONG TALIO__BuildIPTC(const TALIO_IPTCInfo* info, Tal_DynamicMemory* out) {
    if (!info || !out) return 0;
    const size_t start = out->length;
    bool ok = Tal_WriteDynamicMemory(out, kPhotoshop, kPhotoshopSize) &&
              Tal_WriteDynamicMemory(out, "8BIM", 4) && Tal_WriteDynamicMemoryUWORD(out, kIptcResource) &&
              Tal_WriteDynamicMemoryUWORD(out, 0) && Tal_WriteDynamicMemoryULONG(out, 0);
    static constexpr char kRecordVersion[] = {0, 2};
    ok = ok && writeDataset(out, 0, kRecordVersion, 2);
    const std::string release = std::to_string(VELURA_RELEASE);
    for (UBYTE dataset : kWriteOrder) {
        if (!ok) break;
        if (dataset == kOriginatingProgram) {
            ok = writeDataset(out, dataset, "Velura", 6);
            continue;
        }
        if (dataset == kProgramVersion) {
            ok = writeDataset(out, dataset, release.c_str(), release.size());
            continue;
        }
        const Field* field = fieldOf(dataset);
        const char* area = reinterpret_cast<const char*>(info) + field->offset;
        const size_t length = strnlen(area, field->size);
        if (dataset != kSupplementalCategories && dataset != kKeywords) {
            ok = writeDataset(out, dataset, area, length);
            continue;
        }
        // One dataset per piece between new lines.
        for (size_t p = 0; ok && p <= length;) {
            const char* nl = static_cast<const char*>(std::memchr(area + p, '\n', length - p));
            const size_t pieceEnd = nl ? size_t(nl - area) : length;
            ok = writeDataset(out, dataset, area + p, pieceEnd - p);
            p = pieceEnd + 1;
        }
    }
    // The resource data is padded to an even length; the size counts the pad.
    if (ok && (out->length - start) % 2) ok = Tal_WriteDynamicMemoryUBYTE(out, 0);
    if (!ok) return 0;
    const uint32_t size = uint32_t(out->length - start - kSizeFieldAt - 4);
    for (int b = 0; b < 4; b++) out->data[start + kSizeFieldAt + b] = UBYTE(size >> (24 - 8 * b));
    return 1;
}
