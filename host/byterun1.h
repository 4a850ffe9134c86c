// ByteRun1: the run-length coding of IFF picture lines, read by the interface's pictures and by the
// image-file library alike.
#pragma once

#include "Tal/TalBase.h"

#include <cstddef>

// Decodes one line of `length` bytes from the bytes at *source up to `end`, and moves *source past what
// it used. A control byte n below 128 copies the next n + 1 bytes, one above 128 repeats the next byte
// 257 - n times, 128 does nothing. Nothing is read at or past `end` and nothing written past the line: the
// part of a run that overruns the line is used up and dropped, and *overran is set. Returns the bytes
// written, fewer than `length` only when the source ended first.
size_t host_UnpackByteRun1(const UBYTE** source, const UBYTE* end, UBYTE* line, size_t length, bool* overran);
