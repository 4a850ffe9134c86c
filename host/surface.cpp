#include "host/surface.h"

#include <cstdlib>

host_Surface* host_AllocSurface(LONG width, LONG height) {
    if (width < 1 || height < 1 || width > 32767 || height > 32767) return nullptr;
    auto* surface = static_cast<host_Surface*>(Tal_AllocMemClear(sizeof(host_Surface)));
    if (!surface) return nullptr;
    surface->pixels = static_cast<uint32_t*>(Tal_Calloc(size_t(width) * size_t(height), sizeof(uint32_t)));
    if (!surface->pixels) {
        Tal_FreeMem(surface);
        return nullptr;
    }
    surface->width = width;
    surface->height = height;
    surface->stride = width;
    return surface;
}

void host_FreeSurface(host_Surface* surface) {
    if (!surface) return;
    Tal_FreeMem(surface->pixels);
    Tal_FreeMem(surface);
}
