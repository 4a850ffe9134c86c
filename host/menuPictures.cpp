// The built-in pictures of the menu bar's image buttons, drawn pixel by pixel for a 240 × 320 screen.
#include "host/controls.h"

#include <array>

namespace {

constexpr LONG kSize = 16;
constexpr ULONG kKey = 0xFF00FF; // magenta: transparent

struct Ink {
    char symbol;
    ULONG colour; // 0x00RRGGBB as written here, for readability
};

constexpr Ink kInks[] = {
    {'k', 0x000000}, // outline
    {'d', 0x404040}, // dark grey
    {'g', 0x808080}, // grey
    {'w', 0xFFFFFF}, // white
    {'B', 0x0040C0}, // paint, dark
    {'b', 0x2080F0}, // paint
    {'c', 0x80C8FF}, // paint, light
    {'r', 0xD01010}, // red
    {'p', 0xF090A8}, // eraser rubber
    {'P', 0xC05070}, // eraser rubber, shaded
};

// Fill the paint layer with the current paint mode: a paint pot pouring.
constexpr const char* kFill[kSize] = {
    "................", //
    "....kkk.........", //
    "...k...k........", //
    "..k.....k.......", //
    "..k....kkkk.....", //
    "..k..kkcccckk...", //
    "..kkkwkccbbbbk..", //
    ".kwwwwwkbbbbBk..", //
    "kwwwwwwwkkBBkb..", //
    "kgwwwwwwwwkk.bb.", //
    ".kgwwwwwwwgk.bb.", //
    "..kgwwwwwgk..bb.", //
    "...kgwwwgk..bbbb", //
    "....kggdk..bbbbb", //
    ".....kkk....bbb.", //
    "................", //
};

// Clear the paint layer: a painted sheet struck out.
constexpr const char* kClear[kSize] = {
    "kkkkkkkkkk......", //
    "kwwwwwwwwkk.....", //
    "kwbbwwwwwkwk....", //
    "kwwbbbwwwkkkk...", //
    "kwwwwbbbwwwwk...", //
    "kwwwwwwbbwwwk...", //
    "kwwcwwkkkkwwkkkk", //
    "kwwccwkrrkkkkrrk", //
    "kwwwcckrrrkkrrrk", //
    "kwwwwwkkrrrrrrkk", //
    "kwwwwwwkkrrrrkk.", //
    "kwwwwwwkkrrrrkk.", //
    "kwwwwwkkrrrrrrkk", //
    "kkkkkkkrrrkkrrrk", //
    "......krrkkkkrrk", //
    "......kkkk..kkkk", //
};

// The erase mode: a rubber.
constexpr const char* kErase[kSize] = {
    "................", //
    ".........kkk....", //
    "........kpppk...", //
    ".......kpppppk..", //
    "......kpppppppk.", //
    ".....kpppppppPk.", //
    "....kwkpppppPk..", //
    "...kwwwkpppPk...", //
    "..kwwwwwkpPk....", //
    ".kwwwwwwwkk.....", //
    ".kgwwwwwgk......", //
    "..kgwwwgk.......", //
    "...kgwgk........", //
    "....kkk..ddddddd", //
    "................", //
    "................", //
};

using Pixels = std::array<UBYTE, kSize * kSize * 3>;

ULONG inkOf(char symbol) {
    for (const Ink& ink : kInks)
        if (ink.symbol == symbol) return ink.colour;
    return kKey;
}

Pixels build(const char* const (&art)[kSize]) {
    Pixels b{};
    for (LONG y = 0; y < kSize; y++)
        for (LONG x = 0; x < kSize; x++) {
            const char symbol = art[y][x];
            const ULONG rgb = symbol ? inkOf(symbol) : kKey;
            UBYTE* p = b.data() + (y * kSize + x) * 3;
            p[0] = UBYTE(rgb);
            p[1] = UBYTE(rgb >> 8);
            p[2] = UBYTE(rgb >> 16);
        }
    return b;
}

} // namespace

const host_Picture* host_MenuBarPicture(ULONG number) {
    static const Pixels fill = build(kFill), clear = build(kClear), erase = build(kErase);
    // The key as a program colour: magenta reads the same either way round.
    static const host_Picture pictures[] = {
        {kSize, kSize, fill.data(), kKey},
        {kSize, kSize, clear.data(), kKey},
        {kSize, kSize, erase.data(), kKey},
    };
    switch (number) {
    case 1:
        return &pictures[0];
    case 2:
        return &pictures[1];
    case 4:
        return &pictures[2];
    default:
        return nullptr;
    }
}
