// The text catalogue loader. The file is outside data: every size, offset and count is checked against
// the file before anything is allocated or read, all arithmetic is done in 64 bits, and the text data
// always ends with a zero byte, so a text can never be read past its block.
#include "Tal/Catalogue.h"
#include "Tal/CatalogueFormat.h"
#include "host/dos.h"

#include <cctype>
#include <new>
#include <string>
#include <sys/types.h>

namespace {

// The process-wide catalogue. Loaded once at start-up and released at shut-down; in between every
// thread only reads it.
Tal_Catalogue catalogue;

const char* ownName(const char* path) {
    const char* own = path;
    for (const char* p = path; *p; p++)
        if (*p == '/' || *p == '\\') own = p + 1;
    return own;
}

bool readExactly(FILE* f, void* into, uint64_t n) {
    return n == 0 || std::fread(into, 1, n, f) == n;
}

uint32_t le(const UBYTE* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

// Unscrambles in place and returns the byte sum; a carriage return counts as 13 but is kept as a space.
uint32_t unscramble(UBYTE* p, uint64_t n) {
    uint32_t sum = 0;
    for (uint64_t i = 0; i < n; i++) {
        UBYTE c = p[i] ^ TAL_CATALOGUE_KEY;
        sum += c;
        p[i] = c == 13 ? 32 : c;
    }
    return sum;
}

// Brings block `index` into memory unless it is there already; only one block is held at a time. A
// block is known by its index, not by its start: an empty block shares its start with the next one.
bool loadBlock(Tal_Catalogue* cat, ULONG index) {
    if (cat->block && cat->blockIndex == index) return true;
    uint64_t start = cat->blockOffsets[index];
    uint64_t size = uint64_t(cat->blockOffsets[index + 1]) - start;
    if (fseeko(cat->file, off_t(start), SEEK_SET) != 0) return false;
    FreeVec(cat->block);
    cat->block = static_cast<UBYTE*>(AllocVec(size_t(size), 0));
    if (!cat->block || !readExactly(cat->file, cat->block, size)) {
        FreeVec(cat->block);
        cat->block = nullptr;
        return false;
    }
    cat->blockIndex = index;
    cat->blockSum = unscramble(cat->block, size);
    return true;
}

bool identMatches(const UBYTE* field, const char* ident) {
    for (size_t i = 0; ident[i]; i++)
        if (std::tolower(field[i]) != std::tolower(UBYTE(ident[i]))) return false;
    return true;
}

// The load proper, into a fresh record; the caller discards it on failure.
bool readInto(Tal_Catalogue* cat, FILE* f, const char* name, const char* ident) {
    cat->file = f;
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    off_t end = ftello(f);
    if (end < 0 || fseeko(f, 0, SEEK_SET) != 0) return false;
    uint64_t fileSize = uint64_t(end);

    // Name field: its length is all that identifies the file's own name; the identification text
    // follows it.
    uint64_t nameLength = std::strlen(ownName(name));
    uint64_t identLength = std::strlen(ident);
    uint64_t fieldLength = nameLength + identLength + 1;
    uint64_t fixedEnd = fieldLength + TAL_CATALOGUE_HEADER_SIZE;
    if (fixedEnd > fileSize) return false;
    std::string head(size_t(fixedEnd), '\0');
    auto* h = reinterpret_cast<UBYTE*>(head.data());
    if (!readExactly(f, h, fixedEnd) || !identMatches(h + nameLength, ident)) return false;
    const UBYTE* fields = h + fieldLength;
    ULONG checksum = le(fields, 2);
    ULONG count = le(fields + 2, 2);
    ULONG blockCount = le(fields + 4, 2);
    ULONG size = le(fields + 6, 4);

    uint64_t tablesEnd = fixedEnd + 4 * uint64_t(count) + (blockCount ? 4 * (uint64_t(blockCount) + 1) : 0);
    uint64_t dataEnd = tablesEnd + (count ? size : 0);
    if (dataEnd > fileSize) return false;
    std::string tables(size_t(tablesEnd - fixedEnd), '\0');
    auto* t = reinterpret_cast<UBYTE*>(tables.data());
    if (!readExactly(f, t, tables.size())) return false;

    uint32_t sum = 0;
    if (count) {
        cat->texts = static_cast<char**>(AllocVec(count * sizeof(char*), 0));
        cat->data = static_cast<char*>(AllocVec(size_t(size) + 1, 0));
        if (!cat->texts || !cat->data) return false;
        cat->size = size;
        cat->count = count;
        for (ULONG i = 0; i < count; i++) {
            ULONG offset = le(t + 4 * i, 4);
            if (offset >= size) return false;
            cat->texts[i] = cat->data + offset;
        }
    }
    if (blockCount) {
        cat->blockOffsets = static_cast<ULONG*>(AllocVec((blockCount + 1) * sizeof(ULONG), 0));
        if (!cat->blockOffsets) return false;
        cat->blockCount = blockCount;
        for (ULONG i = 0; i <= blockCount; i++) {
            cat->blockOffsets[i] = le(t + 4 * (uint64_t(count) + i), 4);
            if (cat->blockOffsets[i] > fileSize || (i && cat->blockOffsets[i] < cat->blockOffsets[i - 1]))
                return false;
        }
    }
    if (count) {
        if (!readExactly(f, cat->data, size)) return false;
        sum += unscramble(reinterpret_cast<UBYTE*>(cat->data), size);
        cat->data[size] = 0;
    }
    for (ULONG i = 0; i < blockCount; i++) {
        if (!loadBlock(cat, i)) return false;
        sum += cat->blockSum;
    }
    if (!blockCount) {
        std::fclose(f);
        cat->file = nullptr;
    }
    if ((sum & 0xFFFF) != checksum) return false;
    cat->loaded = 1;
    return true;
}

} // namespace

ULONG Tal__ReadCatalogue(Tal_Catalogue* cat, FILE* file, const char* name, const char* ident) {
    if (!file) return 0;
    if (!cat || cat->loaded || !name || !ident) {
        std::fclose(file);
        return 0;
    }
    Tal_Catalogue fresh{};
    bool ok = false;
    try {
        ok = readInto(&fresh, file, name, ident);
    } catch (const std::bad_alloc&) {
        // the small header buffers: out of memory is a failed load like any other
    }
    if (!ok) {
        Tal__ReleaseCatalogue(&fresh);
        return 0;
    }
    *cat = fresh;
    return 1;
}

void Tal__ReleaseCatalogue(Tal_Catalogue* cat) {
    if (!cat) return;
    FreeVec(cat->texts);
    FreeVec(cat->data);
    FreeVec(cat->blockOffsets);
    FreeVec(cat->block);
    if (cat->file) std::fclose(cat->file);
    *cat = Tal_Catalogue{};
}

const char* Tal__CatalogueText(const Tal_Catalogue* cat, ULONG number) {
    return cat && number < cat->count ? cat->texts[number] : "";
}

ULONG Tal__LoadCatalogue(const char* name, const char* ident) {
    if (!name || catalogue.loaded) return 0;
    // The extension goes on only when the file part has none; a dot in a directory does not count.
    std::string path;
    try {
        path = name;
        if (!std::strchr(ownName(name), '.')) path += TAL_CATALOGUE_EXTENSION;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    FILE* f = Tal_OpenFile(path.c_str(), "rb");
    return f ? Tal__ReadCatalogue(&catalogue, f, path.c_str(), ident ? ident : "") : 0;
}

void Tal__FreeCatalogue() {
    Tal__ReleaseCatalogue(&catalogue);
}

const char* Tal_GetCatalogueText(ULONG number) {
    return Tal__CatalogueText(&catalogue, number);
}
