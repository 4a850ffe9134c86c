// Draws the interface pictures that ship as IFF ILBM files and writes them, ByteRun1-compressed, into
// the installation tree:
//   Data/Images/FolderContracted.iff  the folder icon of the directory tree (16 × 14, colour 0 clear)
//   Data/Images/DidYouKnow.iff        the picture of the tip window (48 × 48, a light bulb on white)
//
// Usage: interfacePictures DIRECTORY   (the directory holding Data/, normally data/)
//
// The files are checked in; run this after changing a picture:
//   c++ -std=c++20 -O2 tools/interfacePictures.cpp -o /tmp/interfacePictures && /tmp/interfacePictures data
#include "pictureFiles.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using pictures::Picture;
using pictures::save;

namespace {

// ---------------------------------------------------------------------------------------------------
// The folder: pixel art, one letter per pixel.

Picture folder() {
    // '.' clear (colour 0 shows the background), '#' outline, 'y' face, 'o' shade, 'w' light edge,
    // 'l' the tab's lighter face.
    static const char* const rows[] = {
        "................", "..#####.........", ".#lllll#........", "#lllllll#######.", "#wwwwwwwwwwwwww#",
        "#wyyyyyyyyyyyyy#", "#wyyyyyyyyyyyyy#", "#wyyyyyyyyyyyyy#", "#wyyyyyyyyyyyyy#", "#wyyyyyyyyyyyyy#",
        "#wyyyyyyyyyyyyo#", "#yooooooooooooo#", "################", "................",
    };
    const std::string letters = ".#yowl";
    Picture p{16,
              14,
              3,
              {{255, 255, 255},
               {64, 40, 0},
               {248, 204, 72},
               {214, 150, 30},
               {255, 236, 160},
               {255, 222, 120},
               {0, 0, 0},
               {0, 0, 0}},
              {}};
    p.pixels.resize(size_t(p.width) * size_t(p.height));
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++) p.at(x, y) = uint8_t(letters.find(rows[y][x]));
    return p;
}

// ---------------------------------------------------------------------------------------------------
// The light bulb: drawn from circles and bands, then outlined.

Picture bulb() {
    enum : uint8_t { White, Black, Yellow, Light, Orange, Grey, Dark, Pale };
    Picture p{48,
              48,
              3,
              {{255, 255, 255},
               {0, 0, 0},
               {252, 214, 40},
               {255, 246, 170},
               {236, 150, 20},
               {150, 150, 150},
               {90, 90, 90},
               {214, 214, 214}},
              {}};
    p.pixels.assign(size_t(p.width) * size_t(p.height), White);
    const double cx = 23.5, cy = 18.5, r = 13.0;
    auto inGlass = [&](int x, int y) {
        const double dx = x + 0.5 - cx - 0.5, dy = y + 0.5 - cy - 0.5;
        if (std::hypot(dx, dy) <= r) return true;
        // The neck narrows from the globe down to the screw.
        const double ny = y + 0.5 - (cy + 8);
        if (ny < 0 || ny > 7) return false;
        const double half = 9.0 - ny * 0.45;
        return std::fabs(x + 0.5 - 24.0) <= half;
    };
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 48; x++)
            if (inGlass(x, y)) {
                // Lit from the top left: light, then yellow, then a warmer rim.
                const double d = std::hypot(x + 0.5 - (cx - 4), y + 0.5 - (cy - 5));
                p.at(x, y) = d < 5.5 ? Light : d < 15 ? Yellow : Orange;
            }
    // The screw: grey bands with dark grooves, and the contact below.
    for (int y = 34; y <= 41; y++)
        for (int x = 17; x <= 30; x++) p.at(x, y) = (y - 34) % 3 == 2 ? Dark : (x < 20 ? Pale : Grey);
    for (int y = 42; y <= 44; y++)
        for (int x = 20 + (y - 42); x <= 27 - (y - 42); x++) p.at(x, y) = Dark;
    // A black outline round everything that is not white.
    std::vector<uint8_t> shape = p.pixels;
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 48; x++) {
            if (shape[size_t(y) * 48 + size_t(x)] != White) continue;
            bool edge = false;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    const int nx = x + dx, ny = y + dy;
                    if ((dx || dy) && nx >= 0 && ny >= 0 && nx < 48 && ny < 48 &&
                        shape[size_t(ny) * 48 + size_t(nx)] != White && (dx == 0 || dy == 0))
                        edge = true;
                }
            if (edge) p.at(x, y) = Black;
        }
    // The filament: a small zigzag in the middle of the glass.
    const int zig[][2] = {{19, 25}, {20, 23}, {21, 25}, {22, 23}, {23, 25},
                          {24, 23}, {25, 25}, {26, 23}, {27, 25}, {28, 23}};
    for (auto [x, y] : zig) {
        p.at(x, y) = Orange;
        p.at(x, y + 1) = Orange;
    }
    for (int y = 27; y <= 33; y++) {
        p.at(19, y) = Dark;
        p.at(28, y) = Dark;
    }
    // Rays round the globe.
    const double rays[][2] = {{-90, 0}, {-135, 0}, {-45, 0}, {180, 0}, {0, 0}, {-160, 0}, {-20, 0}};
    for (auto [angle, unused] : rays) {
        (void)unused;
        const double a = angle * 3.14159265358979 / 180.0;
        for (double d = r + 3; d <= r + 7.5; d += 0.25) {
            const int x = int(std::floor(cx + 0.5 + d * std::cos(a))),
                      y = int(std::floor(cy + 0.5 + d * std::sin(a)));
            if (x >= 0 && y >= 0 && x < 48 && y < 48) p.at(x, y) = Orange;
        }
    }
    return p;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY (the folder holding Data/)\n", argv[0]);
        return 2;
    }
    const std::string images = std::string(argv[1]) + "/Data/Images/";
    bool ok = save(images + "FolderContracted.iff", folder());
    ok = save(images + "DidYouKnow.iff", bulb()) && ok;
    if (!ok) std::fprintf(stderr, "%s: cannot write the pictures into %s\n", argv[0], images.c_str());
    return ok ? 0 : 1;
}
