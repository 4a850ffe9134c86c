// IFF chunks on the streams of loads and saves (see TALIOIFF.h).
#include "talio/TALIOIFF.h"

#include <algorithm>

bool TALIO__ReadIFFChunk(TALIO_Header* header, uint64_t offset, TALIO_IFFChunk* chunk) {
    const uint64_t size = header->file_size;
    if (offset > size || size - offset < 8 || offset > uint64_t(INT64_MAX)) return false;
    UBYTE bytes[8];
    if (TALIO_Seek(header, int64_t(offset), 0) != 0 || TALIO_ReadData(bytes, 1, 8, header) != 8) return false;
    std::memcpy(chunk->id, bytes, 4);
    chunk->length = TALIO__GetBE32(bytes + 4);
    chunk->data = offset + 8;
    chunk->available = std::min<uint64_t>(chunk->length, size - chunk->data);
    chunk->next = chunk->data + chunk->length + (chunk->length & 1);
    return true;
}

bool TALIO__ReadIFFData(TALIO_Header* header, const TALIO_IFFChunk& chunk, void* out, size_t length) {
    if (length > chunk.available) return false;
    return TALIO_Seek(header, int64_t(chunk.data), 0) == 0 &&
           TALIO_ReadData(out, 1, length, header) == length;
}

ULONG TALIO__WriteIFFChunkHeader(TALIO_Header* header, const char* id, ULONG length) {
    UBYTE bytes[8];
    std::memcpy(bytes, id, 4);
    TALIO__PutBE32(bytes + 4, length);
    return TALIO_WriteData(bytes, 1, 8, header) == 8 ? 1 : 0;
}
