// The fixed facts of the catalogue file format, shared by the loader and the build-time compiler
// (tools/etfc), which must agree on them byte for byte. No dependencies: the compiler does not link
// the program's library.
#pragma once

#include <cstdint>

// Every byte of the text data and of the blocks is stored combined with this key by exclusive-or.
constexpr uint8_t TAL_CATALOGUE_KEY = 0x5A;

// Appended to a catalogue name whose file part has no extension.
constexpr const char* TAL_CATALOGUE_EXTENSION = ".etf";

// After the name field: checksum (16 bits), text count N (16), block count B (16), text data size S (32).
constexpr unsigned TAL_CATALOGUE_HEADER_SIZE = 10;

// Texts and blocks are counted in 16 bits.
constexpr uint32_t TAL_CATALOGUE_MAX_COUNT = 0xFFFF;
