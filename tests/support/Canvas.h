// A drawing port on a surface of its own, for tests that look at what was drawn.
#pragma once

#include "host/graphics.h"

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

constexpr ULONG kRed = 0x000000FF, kBlue = 0x00FF0000, kWhite = 0x00FFFFFF, kBlack = 0;

// A port drawing into a surface of its own, filled with one colour.
struct Canvas {
    host_Surface* surface;
    Layer layer;
    RastPort rp;
    Canvas(LONG w, LONG h, ULONG colour = kWhite) : surface(host_AllocSurface(w, h)), layer(surface) {
        InitRastPort(&rp);
        rp.rp_Layer = &layer;
        FillPixelArray(&rp, 0, 0, w, h, colour);
    }
    ~Canvas() { host_FreeSurface(surface); }
    ULONG at(LONG x, LONG y) { return ReadRGBPixel(&rp, x, y); }
    std::vector<uint32_t> pixels() const {
        return {surface->pixels, surface->pixels + size_t(surface->width) * surface->height};
    }
    // The pixels that differ from a colour, as (x, y) pairs.
    std::set<std::pair<LONG, LONG>> changed(ULONG background = kWhite) {
        std::set<std::pair<LONG, LONG>> out;
        for (LONG y = 0; y < surface->height; y++)
            for (LONG x = 0; x < surface->width; x++)
                if (at(x, y) != background) out.insert({x, y});
        return out;
    }
    // Every surface pixel differs from its neighbours: complement drawing shows in any place.
    void noise() {
        for (LONG i = 0; i < surface->width * surface->height; i++)
            surface->pixels[i] = uint32_t(i * 2654435761u);
    }
};

// Writes a surface as a 24-bit bottom-up BMP.
inline bool writeBmp(const std::string& path, const host_Surface* s) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t rowBytes = (uint32_t(s->width) * 3 + 3) & ~3u, dataSize = rowBytes * uint32_t(s->height);
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++) std::fputc(int((v >> (8 * i)) & 0xFF), f);
    };
    std::fputs("BM", f);
    put(54 + dataSize, 4), put(0, 4), put(54, 4);
    put(40, 4), put(uint32_t(s->width), 4), put(uint32_t(s->height), 4), put(1, 2), put(24, 2);
    put(0, 4), put(dataSize, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
    for (LONG y = s->height - 1; y >= 0; y--) {
        for (LONG x = 0; x < s->width; x++) put(s->pixels[size_t(y) * s->stride + x], 3); // B, G, R
        put(0, int(rowBytes - uint32_t(s->width) * 3));
    }
    return std::fclose(f) == 0;
}
