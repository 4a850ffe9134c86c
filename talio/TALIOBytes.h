// Fixed-layout fields of file headers, read and written byte by byte in a stated byte order, so that
// neither the machine's byte order nor its alignment ever matters.
#pragma once

#include "talio/talio.h"

#include <cstdint>

inline UWORD TALIO__GetLE16(const UBYTE* p) {
    return UWORD(p[0] | p[1] << 8);
}

inline ULONG TALIO__GetLE32(const UBYTE* p) {
    return ULONG(p[0]) | ULONG(p[1]) << 8 | ULONG(p[2]) << 16 | ULONG(p[3]) << 24;
}

inline void TALIO__PutLE16(UBYTE* p, UWORD value) {
    p[0] = UBYTE(value);
    p[1] = UBYTE(value >> 8);
}

inline void TALIO__PutLE32(UBYTE* p, ULONG value) {
    for (int i = 0; i < 4; i++) p[i] = UBYTE(value >> (8 * i));
}

// Rows done so far reported to the progress display when `done` passed a multiple of the header's step
// since `before`; false when the user cancelled.
inline bool TALIO__ReportRows(TALIO_Header* header, ULONG before, ULONG done, ULONG total) {
    const ULONG step = header->progress_step ? header->progress_step : TALIO_ProgressStep(total);
    return done / step == before / step || TALIO_SetProgressDisplay(header, done, total);
}
