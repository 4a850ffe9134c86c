// Colour reduction for the palette formats: an octree quantizer that reduces a picture to at most 256
// colours, and a mapper that turns rows of pixels into indexes of such a palette, by nearest colour or by
// serpentine error diffusion.
#pragma once

#include "talio/talio.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// The red, green and blue rows of a picture (a grey picture has the same row three times).
struct TALIO_PlaneRows {
    const UBYTE* red = nullptr;
    const UBYTE* green = nullptr;
    const UBYTE* blue = nullptr;
    size_t stride = 0; // between rows
    ULONG width = 0, height = 0;
};

// The rows of a buffer of format 1 or 9; false for any other buffer.
bool TALIO__PlaneRowsOf(const TALIO_ImageBuffer* buffer, TALIO_PlaneRows* out);

// The octree quantizer. Every pixel descends L levels from the root (the smallest L >= 1 with
// 2^(L+1) > colours; 8 for 256), the octant at each level being the next bit of red, green and blue (4, 2,
// 1). The tree is then pruned in passes: a pass merges every node whose passing count (pixels through it)
// is at most the threshold into its parent, and the next threshold is the smallest passing count that
// survived, until at most `colours` nodes hold pixels. The palette is those nodes' rounded mean colours,
// numbered after their children in octant order.
//
// Because a node's passing count never changes, the tree left after the pass with threshold T is exactly
// the nodes passing more than T; so the cells are counted level by level in flat arrays, the final T is
// found from the counts alone, and no tree is ever linked or pruned.
class TALIO_Octree {
  public:
    TALIO_Octree();
    ~TALIO_Octree();
    TALIO_Octree(const TALIO_Octree&) = delete;
    TALIO_Octree& operator=(const TALIO_Octree&) = delete;

    // Reduces the picture to at most `colours` (clamped to 1..256). False when memory runs out or the
    // picture is empty.
    bool build(const TALIO_PlaneRows& picture, ULONG colours);
    ULONG count() const { return count_; }
    // Entries as red + green * 256 + blue * 65536; those from count() on are 0.
    const std::array<ULONG, 256>& palette() const { return palette_; }
    // The palette index of the node holding the pixels of this colour (a colour of the built picture).
    ULONG home(UBYTE r, UBYTE g, UBYTE b) const;

  private:
    struct Levels;
    ULONG depth_ = 0;
    ULONG count_ = 0;
    std::array<ULONG, 256> palette_{};
    UBYTE* homes_ = nullptr; // palette index of every cell of the last level
};

// Maps pixels to the nearest palette colour: squared distance, the lowest index among equals. The search
// keeps, for each cube of 8 x 8 x 8 colours, the entries that can be nearest to some colour in it (made
// when the cube is first met), so a lookup compares a handful of entries.
class TALIO_ColourMapper {
  public:
    TALIO_ColourMapper();
    // A new palette of `count` entries (1..256); the cubes are made anew, the diffusion state stays.
    void setPalette(const ULONG* palette, ULONG count);
    ULONG count() const { return count_; }
    // Running errors 0, the next row left to right.
    void reset();
    UBYTE nearest(int r, int g, int b);
    // One row to indexes. Rows go alternately left to right and right to left, the errors running on from
    // pixel to pixel and row to row: each pixel is taken minus the running error (limited to 0..255), gets
    // its nearest colour P, and the error becomes ((error * 70) / 100 + P - pixel) * dithering / 100. At
    // dithering 0 every pixel gets its nearest colour.
    void mapRow(const UBYTE* red, const UBYTE* green, const UBYTE* blue, ULONG width, ULONG dithering,
                UBYTE* out);

  private:
    const UBYTE* candidates(ULONG cube, ULONG* n);

    ULONG count_ = 0;
    int red_[256] = {}, green_[256] = {}, blue_[256] = {};
    std::vector<uint32_t> cubeStart_;  // 1 + offset into pool_, 0 while not made
    std::vector<UBYTE> pool_;          // per cube: the number of entries - 1, then the entries
    uint32_t lastColour_ = UINT32_MAX; // the last colour looked up, and its entry
    UBYTE lastIndex_ = 0;
    int errors_[3] = {0, 0, 0};
    bool rightToLeft_ = false;
};
