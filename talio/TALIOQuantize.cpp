// Colour reduction: the octree quantizer and the palette mapper (see TALIOQuantize.h).
#include "talio/TALIOQuantize.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kMaxDepth = 8;

// Bit i of a channel value moved to bit 3i: three of them side by side give the octants of every level,
// most significant first.
struct SpreadTable {
    uint32_t bits[256];
};
constexpr SpreadTable kSpread = [] {
    SpreadTable t{};
    for (uint32_t v = 0; v < 256; v++)
        for (uint32_t i = 0; i < 8; i++) t.bits[v] |= ((v >> i) & 1) << (3 * i);
    return t;
}();

// The cell of the deepest level a colour falls in, at depth 8: 24 bits of octants.
inline uint32_t cellOf(UBYTE r, UBYTE g, UBYTE b) {
    return kSpread.bits[r] << 2 | kSpread.bits[g] << 1 | kSpread.bits[b];
}

inline int limit(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

// The depth for a number of colours: the smallest L >= 1 with 2^(L+1) > colours.
ULONG depthFor(ULONG colours) {
    ULONG depth = 1;
    while ((ULONG(1) << (depth + 1)) <= colours) depth++;
    return depth;
}

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Block = std::unique_ptr<T[], FreeDeleter<T>>;

// Zeroed blocks come from calloc: the large ones are fresh pages, so only the cells a picture touches
// cost anything.
template <typename T>
Block<T> zeroed(size_t count) {
    return Block<T>(static_cast<T*>(std::calloc(count, sizeof(T))));
}

int squared(int d) {
    return d * d;
}

} // namespace

bool TALIO__PlaneRowsOf(const TALIO_ImageBuffer* b, TALIO_PlaneRows* out) {
    if (!b || !out || b->width == 0 || b->height == 0 || b->bytes_per_row < b->width) return false;
    out->width = b->width;
    out->height = b->height;
    out->stride = b->bytes_per_row;
    if (b->format == TALIO_FORMAT_RGBPLANES && b->red && b->green && b->blue) {
        out->red = b->red, out->green = b->green, out->blue = b->blue;
        return true;
    }
    if (b->format == TALIO_FORMAT_GREY8 && b->grey) {
        out->red = out->green = out->blue = b->grey;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------
// The octree.

// Passing counts of every cell of every level (level k has 8^k cells, the children of cell c being
// 8c .. 8c + 7), the cells that hold pixels, and the palette index of the colour nodes above the last
// level (index + 1; 0 for none).
struct TALIO_Octree::Levels {
    Block<uint32_t> passing[kMaxDepth + 1];
    std::vector<uint32_t> used[kMaxDepth + 1];
    Block<UWORD> index[kMaxDepth];

    bool make(ULONG depth) {
        for (ULONG k = 0; k <= depth; k++) {
            passing[k] = zeroed<uint32_t>(size_t(1) << (3 * k));
            if (!passing[k]) return false;
            if (k < depth && !(index[k] = zeroed<UWORD>(size_t(1) << (3 * k)))) return false;
        }
        return true;
    }
};

TALIO_Octree::TALIO_Octree() = default;

TALIO_Octree::~TALIO_Octree() {
    std::free(homes_);
}

ULONG TALIO_Octree::home(UBYTE r, UBYTE g, UBYTE b) const {
    return homes_ ? homes_[cellOf(r, g, b) >> (3 * (kMaxDepth - depth_))] : 0;
}

bool TALIO_Octree::build(const TALIO_PlaneRows& pic, ULONG colours) {
    count_ = 0;
    palette_.fill(0);
    std::free(homes_);
    homes_ = nullptr;
    if (!pic.red || !pic.green || !pic.blue || pic.width == 0 || pic.height == 0) return false;
    const ULONG wanted = std::clamp<ULONG>(colours, 1, 256);
    const ULONG L = depth_ = depthFor(wanted);
    const ULONG shift = 3 * (kMaxDepth - L);
    try {
        Levels lv;
        if (!lv.make(L)) return false;
        homes_ = static_cast<UBYTE*>(std::calloc(size_t(1) << (3 * L), 1));
        if (!homes_) return false;

        // The cells of the last level, from the pixels (a run of one cell at a time); then every level
        // above from the one below.
        uint32_t* leaves = lv.passing[L].get();
        uint32_t cell = cellOf(pic.red[0], pic.green[0], pic.blue[0]) >> shift, run = 0;
        auto countRun = [&] {
            if (leaves[cell] == 0) lv.used[L].push_back(cell);
            leaves[cell] += run;
        };
        for (ULONG y = 0; y < pic.height; y++) {
            const size_t at = size_t(y) * pic.stride;
            const UBYTE *R = pic.red + at, *G = pic.green + at, *B = pic.blue + at;
            for (ULONG x = 0; x < pic.width; x++) {
                const uint32_t c = cellOf(R[x], G[x], B[x]) >> shift;
                if (c != cell) countRun(), cell = c, run = 0;
                run++;
            }
        }
        countRun();
        for (ULONG k = L; k-- > 0;) {
            uint32_t* above = lv.passing[k].get();
            const uint32_t* below = lv.passing[k + 1].get();
            for (uint32_t c : lv.used[k + 1]) {
                if (above[c >> 3] == 0) lv.used[k].push_back(c >> 3);
                above[c >> 3] += below[c];
            }
        }

        // After the pass with threshold T the nodes passing more than T are left (the root always). Of
        // those, a node of the last level holds pixels while T < its count; one above it holds pixels
        // once a child with pixels is merged (T >= its smallest child) and until it goes itself
        // (T >= its count). So each node holds pixels over one range of T, and the number of colour
        // nodes at T is the number of ranges containing T. The passes end at the first T, in rising
        // order, with at most `wanted` of them (0 first: a tree small enough is not pruned at all).
        const uint64_t pixels = uint64_t(pic.width) * pic.height;
        const size_t denseSize = size_t(std::min<uint64_t>(pixels + 1, 1 << 16));
        std::vector<int32_t> dense(denseSize, 0);
        std::vector<std::pair<uint32_t, int32_t>> sparse;
        auto mark = [&](uint32_t t, int32_t delta) {
            if (t < denseSize)
                dense[t] += delta;
            else
                sparse.emplace_back(t, delta);
        };
        for (ULONG k = 0; k <= L; k++) {
            const uint32_t* here = lv.passing[k].get();
            for (uint32_t c : lv.used[k]) {
                if (k == L) {
                    mark(0, 1), mark(here[c], -1);
                    continue;
                }
                const uint32_t* children = lv.passing[k + 1].get() + size_t(c) * 8;
                uint32_t smallest = UINT32_MAX;
                for (int j = 0; j < 8; j++)
                    if (children[j]) smallest = std::min(smallest, children[j]);
                if (k == 0)
                    mark(smallest, 1);
                else if (smallest < here[c])
                    mark(smallest, 1), mark(here[c], -1);
            }
        }
        uint32_t threshold = 0;
        bool found = false;
        int64_t nodes = 0;
        for (size_t t = 0; t < denseSize && !found; t++) {
            nodes += dense[t];
            if (nodes <= int64_t(wanted)) threshold = uint32_t(t), found = true;
        }
        std::sort(sparse.begin(), sparse.end());
        for (size_t i = 0; i < sparse.size() && !found;) {
            const uint32_t t = sparse[i].first;
            for (; i < sparse.size() && sparse[i].first == t; i++) nodes += sparse[i].second;
            if (nodes <= int64_t(wanted)) threshold = t, found = true;
        }
        if (!found) return false; // cannot happen: the root alone is one colour

        // Number the colour nodes after their children, in octant order.
        auto survives = [&](ULONG k, uint32_t c) { return k == 0 || lv.passing[k][c] > threshold; };
        auto number = [&](auto&& self, ULONG k, uint32_t c) -> void {
            bool colour = k == L;
            if (k < L)
                for (uint32_t j = 0; j < 8; j++) {
                    const uint32_t child = c * 8 + j;
                    if (!lv.passing[k + 1][child]) continue;
                    if (survives(k + 1, child))
                        self(self, k + 1, child);
                    else
                        colour = true;
                }
            if (!colour || count_ >= 256) return;
            if (k == L)
                homes_[c] = UBYTE(count_);
            else
                lv.index[k][c] = UWORD(count_ + 1);
            count_++;
        };
        number(number, 0, 0);

        // A cell that was merged belongs to its deepest surviving ancestor.
        for (uint32_t c : lv.used[L]) {
            if (survives(L, c)) continue;
            for (ULONG k = L; k-- > 0;) {
                const uint32_t a = c >> (3 * (L - k));
                if (survives(k, a)) {
                    homes_[c] = UBYTE(lv.index[k][a] - 1);
                    break;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        count_ = 0;
        return false;
    }

    // The colours: rounded means of the pixels each node holds (a run of one colour at a time).
    uint64_t n[256] = {}, sumR[256] = {}, sumG[256] = {}, sumB[256] = {};
    UBYTE r = pic.red[0], g = pic.green[0], b = pic.blue[0];
    uint64_t run = 0;
    auto add = [&] {
        const UBYTE i = homes_[cellOf(r, g, b) >> shift];
        n[i] += run, sumR[i] += r * run, sumG[i] += g * run, sumB[i] += b * run;
    };
    for (ULONG y = 0; y < pic.height; y++) {
        const size_t at = size_t(y) * pic.stride;
        const UBYTE *R = pic.red + at, *G = pic.green + at, *B = pic.blue + at;
        for (ULONG x = 0; x < pic.width; x++) {
            if (R[x] != r || G[x] != g || B[x] != b) add(), r = R[x], g = G[x], b = B[x], run = 0;
            run++;
        }
    }
    add();
    for (ULONG i = 0; i < count_; i++) {
        if (!n[i]) continue;
        const uint64_t half = n[i] / 2;
        palette_[i] = ULONG((sumR[i] + half) / n[i]) | ULONG((sumG[i] + half) / n[i]) << 8 |
                      ULONG((sumB[i] + half) / n[i]) << 16;
    }
    return count_ > 0;
}

// ---------------------------------------------------------------------------------------------------
// The mapper.

namespace {
constexpr ULONG kCubes = 32 * 32 * 32;
} // namespace

TALIO_ColourMapper::TALIO_ColourMapper() = default;

void TALIO_ColourMapper::setPalette(const ULONG* palette, ULONG count) {
    count_ = std::clamp<ULONG>(count, 1, 256);
    for (ULONG i = 0; i < count_; i++) {
        const ULONG e = palette ? palette[i] : 0;
        red_[i] = int(e & 255), green_[i] = int((e >> 8) & 255), blue_[i] = int((e >> 16) & 255);
    }
    cubeStart_.assign(kCubes, 0);
    pool_.clear();
    lastColour_ = UINT32_MAX;
}

void TALIO_ColourMapper::reset() {
    errors_[0] = errors_[1] = errors_[2] = 0;
    rightToLeft_ = false;
}

// The entries that can be nearest to a colour of the cube: none is nearer to any colour of the cube than
// the worst case of the entry whose worst case is best.
const UBYTE* TALIO_ColourMapper::candidates(ULONG cube, ULONG* n) {
    if (!cubeStart_[cube]) {
        const int lo[3] = {int(cube >> 10) * 8, int((cube >> 5) & 31) * 8, int(cube & 31) * 8};
        int nearestCase[256];
        int bound = INT_MAX;
        for (ULONG i = 0; i < count_; i++) {
            const int p[3] = {red_[i], green_[i], blue_[i]};
            int best = 0, worst = 0;
            for (int a = 0; a < 3; a++) {
                // Distances from the entry to the cube's near and far faces along this axis.
                const int toLow = p[a] - lo[a], toHigh = lo[a] + 7 - p[a];
                const int nearSide = toLow < 0 ? -toLow : toHigh < 0 ? -toHigh : 0;
                const int farSide = toLow > toHigh ? toLow : toHigh; // the two add up to 7
                best += squared(nearSide);
                worst += squared(farSide);
            }
            nearestCase[i] = best;
            if (worst < bound) bound = worst;
        }
        const size_t start = pool_.size();
        pool_.push_back(0);
        for (ULONG i = 0; i < count_; i++)
            if (nearestCase[i] <= bound) pool_.push_back(UBYTE(i));
        pool_[start] = UBYTE(pool_.size() - start - 2);
        cubeStart_[cube] = uint32_t(start + 1);
    }
    const UBYTE* list = pool_.data() + cubeStart_[cube] - 1;
    *n = ULONG(list[0]) + 1;
    return list + 1;
}

UBYTE TALIO_ColourMapper::nearest(int r, int g, int b) {
    // Flat areas ask for the same colour again and again.
    const uint32_t key = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
    if (key == lastColour_) return lastIndex_;
    ULONG n = 0;
    const UBYTE* list = candidates(ULONG(r >> 3) << 10 | ULONG(g >> 3) << 5 | ULONG(b >> 3), &n);
    UBYTE best = list[0];
    int bestDistance = INT_MAX;
    for (ULONG k = 0; k < n; k++) {
        const UBYTE i = list[k];
        const int d = squared(r - red_[i]) + squared(g - green_[i]) + squared(b - blue_[i]);
        if (d < bestDistance) bestDistance = d, best = i;
    }
    lastColour_ = key;
    lastIndex_ = best;
    return best;
}

void TALIO_ColourMapper::mapRow(const UBYTE* red, const UBYTE* green, const UBYTE* blue, ULONG width,
                                ULONG dithering, UBYTE* out) {
    if (width == 0) return;
    const bool backwards = rightToLeft_;
    rightToLeft_ = !rightToLeft_;
    if (dithering == 0) {
        for (ULONG x = 0; x < width; x++) out[x] = nearest(red[x], green[x], blue[x]);
        errors_[0] = errors_[1] = errors_[2] = 0;
        return;
    }
    const int amount = int(std::min<ULONG>(dithering, 100));
    int eR = errors_[0], eG = errors_[1], eB = errors_[2];
    for (ULONG n = 0; n < width; n++) {
        const ULONG x = backwards ? width - 1 - n : n;
        const int R = red[x], G = green[x], B = blue[x];
        const UBYTE i = nearest(limit(R - eR), limit(G - eG), limit(B - eB));
        eR = ((eR * 70) / 100 + red_[i] - R) * amount / 100;
        eG = ((eG * 70) / 100 + green_[i] - G) * amount / 100;
        eB = ((eB * 70) / 100 + blue_[i] - B) * amount / 100;
        out[x] = i;
    }
    errors_[0] = eR, errors_[1] = eG, errors_[2] = eB;
}
