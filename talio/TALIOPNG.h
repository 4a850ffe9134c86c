// The PNG writer of PNGTALIO for pictures without interlace (see TALIOPNGWriter.cpp).
#pragma once

#include "talio/talio.h"

// Writes the header's buffer (true colour in planes, channels 3, or grey, channels 1) as a whole PNG file
// of 8-bit samples to the header's stream, compressed at the zlib level (0..9). 1, 3 when writing fails,
// 2 when memory runs out or a row cannot be read, 9 when cancelled.
ULONG TALIO__WritePNG(TALIO_Header* header, int channels, int level);
