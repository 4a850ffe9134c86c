// IFF files, shared by the ILBM and DEEP classes: big-endian fields, chunk headers read from a load's
// stream with their lengths checked against the file, and chunk headers written.
//
// A file is a "FORM" chunk: "FORM", a 32-bit length, the form type, then chunks; each chunk is a
// 4-character identifier, a 32-bit length and the data, followed by a pad byte when the length is odd.
#pragma once

#include "talio/talio.h"

#include <cstring>

inline ULONG TALIO__GetBE32(const UBYTE* p) {
    return ULONG(p[0]) << 24 | ULONG(p[1]) << 16 | ULONG(p[2]) << 8 | p[3];
}
inline ULONG TALIO__GetBE16(const UBYTE* p) {
    return ULONG(p[0]) << 8 | p[1];
}
inline void TALIO__PutBE32(UBYTE* p, ULONG v) {
    p[0] = UBYTE(v >> 24), p[1] = UBYTE(v >> 16), p[2] = UBYTE(v >> 8), p[3] = UBYTE(v);
}
inline void TALIO__PutBE16(UBYTE* p, ULONG v) {
    p[0] = UBYTE(v >> 8), p[1] = UBYTE(v);
}

// One chunk of a file being loaded.
struct TALIO_IFFChunk {
    char id[4];
    ULONG length;       // as the file gives it
    uint64_t data;      // offset of the data
    uint64_t available; // how much of the data the file holds: the length, or less in a cut-off file
    uint64_t next;      // offset of the next chunk, after the pad byte
    bool is(const char* name) const { return std::memcmp(id, name, 4) == 0; }
};

// The chunk whose header starts at `offset` of the load's stream; false when the file has no whole
// header there. The stream is left at the chunk's data.
bool TALIO__ReadIFFChunk(TALIO_Header* header, uint64_t offset, TALIO_IFFChunk* chunk);
// Reads `length` bytes of the chunk's data from its start into `out`; false when the file holds fewer.
bool TALIO__ReadIFFData(TALIO_Header* header, const TALIO_IFFChunk& chunk, void* out, size_t length);
// Writes a chunk header; 1 or 0.
ULONG TALIO__WriteIFFChunkHeader(TALIO_Header* header, const char* id, ULONG length);
