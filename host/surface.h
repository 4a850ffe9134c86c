// A retained 32-bit pixel surface: what windows, off-screen bitmaps and the screen draw into.
#pragma once

#include "Tal/TalBase.h"

// Pixels are 0x00RRGGBB words; program colours (0x00BBGGRR) are turned into pixels by
// host_ColourToPixel and back by host_PixelToColour, nowhere else.
struct host_Surface {
    uint32_t* pixels;
    LONG width;
    LONG height;
    LONG stride; // pixels from one row to the next
};

constexpr uint32_t host_ColourToPixel(ULONG bgr) {
    return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}
constexpr ULONG host_PixelToColour(uint32_t pixel) {
    return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
}

// A zeroed surface of the given size (none when memory runs out or the size is not 1..32767);
// host_FreeSurface releases it.
host_Surface* host_AllocSurface(LONG width, LONG height);
void host_FreeSurface(host_Surface* surface);
