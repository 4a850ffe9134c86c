// Writes catalogue files: the compiler (tools/etfc.cpp) and the tests build them with this, so that
// both produce exactly what the loader (Tal/Catalogue.cpp) reads. Header-only and free of the
// program's library.
//
// File layout, all numbers little-endian: name field (the file's own name, the identification text, a
// zero byte); checksum (16 bits, sum of all unscrambled data and block bytes modulo 65536); text count N
// (16); block count B (16); text data size S (32); N text offsets into the data; B + 1 block offsets
// into the file (only when B > 0); the S bytes of zero-terminated texts; the blocks. Data and blocks
// are scrambled with TAL_CATALOGUE_KEY.
#pragma once

#include "Tal/CatalogueFormat.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace etf {

// The part of a path after its last "/" or "\".
inline std::string_view fileOwnName(std::string_view path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

inline void putLE(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(char((value >> (8 * i)) & 0xFF));
}

inline void putScrambled(std::string& out, std::string_view bytes, uint32_t& sum) {
    for (char c : bytes) {
        sum += uint8_t(c);
        out.push_back(char(uint8_t(c) ^ TAL_CATALOGUE_KEY));
    }
}

// The bytes of a catalogue stored under `fileName` (only its own name counts) with the identification
// text `ident`, holding `texts` (8-bit, no zero bytes) and `blocks`. False with a reason in `error` when
// the texts cannot be stored in this format.
inline bool buildCatalogue(const std::vector<std::string>& texts, const std::vector<std::string>& blocks,
                           std::string_view fileName, std::string_view ident, std::string& out,
                           std::string& error) {
    out.clear();
    if (texts.size() > TAL_CATALOGUE_MAX_COUNT || blocks.size() > TAL_CATALOGUE_MAX_COUNT) {
        error = "more than 65535 texts or blocks";
        return false;
    }
    std::string_view own = fileOwnName(fileName);
    uint64_t dataSize = 0;
    for (size_t i = 0; i < texts.size(); i++) {
        if (texts[i].find('\0') != std::string::npos) {
            error = "text " + std::to_string(i) + " contains a zero byte";
            return false;
        }
        dataSize += texts[i].size() + 1;
    }
    uint64_t tablesEnd = own.size() + ident.size() + 1 + TAL_CATALOGUE_HEADER_SIZE +
                         4 * uint64_t(texts.size()) +
                         (blocks.empty() ? 0 : 4 * (uint64_t(blocks.size()) + 1));
    uint64_t end = tablesEnd + dataSize;
    for (const std::string& b : blocks) end += b.size();
    if (end > 0xFFFFFFFFu) {
        error = "catalogue larger than 4 GiB";
        return false;
    }

    uint32_t sum = 0;
    std::string data;
    std::string offsets;
    for (const std::string& t : texts) {
        putLE(offsets, uint32_t(data.size()), 4);
        putScrambled(data, t, sum);
        putScrambled(data, std::string_view("\0", 1), sum);
    }
    std::string blockTable;
    std::string blockData;
    if (!blocks.empty()) {
        uint32_t at = uint32_t(tablesEnd + dataSize);
        for (const std::string& b : blocks) {
            putLE(blockTable, at, 4);
            putScrambled(blockData, b, sum);
            at += uint32_t(b.size());
        }
        putLE(blockTable, at, 4);
    }

    out.append(own).append(ident).push_back('\0');
    putLE(out, sum & 0xFFFF, 2);
    putLE(out, uint32_t(texts.size()), 2);
    putLE(out, uint32_t(blocks.size()), 2);
    putLE(out, uint32_t(dataSize), 4);
    out += offsets;
    out += blockTable;
    out += data;
    out += blockData;
    return true;
}

} // namespace etf
