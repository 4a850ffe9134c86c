// EmbossMode: the picture below as a relief lit from one side. For each pixel the differences between
// the pixels before and after it along the direction of the angle, out to the radius, are summed and
// added, scaled by the amount, to a mid grey (or to the layer's colour).
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

Tal_Class embossModeClass;

struct EmbossModeInstance {
    Tal_Object header;
};

// The ranges the options offer; other stored values act as the nearest end.
constexpr int kMaxAmount = 200;
constexpr int kMaxRadius = 128;

// A direction component in 1/1024 pixel; a positive one between half a pixel and a whole one counts as
// a whole pixel, the way a negative one rounds.
int component(double value) {
    int v = WORD(std::ceil(1025.0 * value));
    return v > 512 && v < 1024 ? 1024 : v;
}

struct Relief {
    int strength; // 256 = 100 %
    int radius;
    int X, Y;
    LONG marginX, marginY;
    int base[3];
};

Relief reliefOf(ULONG mode, const Tal_Image* layer) {
    Relief r{};
    int amount = std::clamp<int>(int32_t(Tal_DoMethod(mode, TAL_GetModeAmount)), -kMaxAmount, kMaxAmount);
    r.radius = std::min<int>(int32_t(Tal_DoMethod(mode, TAL_GetModeRadius)), kMaxRadius);
    int angle = int32_t(Tal_DoMethod(mode, TAL_GetModeAngle));
    bool colourMode = int32_t(Tal_DoMethod(mode, TAL_GetModeColourMode)) != 0;
    r.strength = amount * 256 / 100;
    double a = (angle + 90) * M_PI / 180.0;
    r.X = component(std::cos(a));
    r.Y = component(std::sin(a));
    int reach = std::max(r.radius, 0);
    r.marginX = (std::abs(reach * r.X) >> 10) + 1;
    r.marginY = (std::abs(reach * r.Y) >> 10) + 1;
    for (int ch = 0; ch < 3; ch++) r.base[ch] = colourMode && layer ? layer->layer_colour[ch] : 127;
    return r;
}

// The pixels i = 0..n − 1 from column x0 read columns x − dx and x + dx: those in [lo, hi) read inside
// the picture, the others need their columns clamped to it.
struct Unclamped {
    LONG lo, hi;
};
Unclamped unclamped(LONG x0, LONG n, LONG dx, LONG width) {
    LONG reach = std::abs(dx);
    LONG lo = std::clamp<LONG>(reach - x0, 0, n);
    return {lo, std::clamp<LONG>(width - reach - x0, lo, n)};
}

UBYTE clampByte(int v) {
    return UBYTE(std::clamp(v, 0, 255));
}

MODES_ROW_KERNEL void differenceRow(UBYTE* __restrict out, const UBYTE* __restrict a,
                                    const UBYTE* __restrict b, LONG n, int base) {
    for (LONG i = 0; i < n; i++) out[i] = clampByte(base + a[i] - b[i]);
}

MODES_ROW_KERNEL void sumRow(int* __restrict sum, const UBYTE* __restrict a, const UBYTE* __restrict b,
                             LONG n) {
    for (LONG i = 0; i < n; i++) sum[i] += a[i] - b[i];
}

// 32 bits throughout: strong settings must reach white and black, not wrap.
MODES_ROW_KERNEL void scaleRow(UBYTE* __restrict out, const int* __restrict sum, LONG n, int base,
                               int strength) {
    for (LONG i = 0; i < n; i++) out[i] = clampByte(base + ((strength * sum[i]) >> 8));
}

// One row of one channel: `rows` is the picture below indexed by absolute row and column.
void embossRow(UBYTE* out, UBYTE** rows, LONG y, LONG x0, LONG n, LONG width, const Relief& r, int base,
               std::vector<int>& sum) {
    auto offsets = [&](int step) {
        LONG dx = WORD((r.X * step) >> 10), dy = WORD((r.Y * step) >> 10);
        return std::array<LONG, 2>{dx, dy};
    };
    auto clamped = [&](const UBYTE* a, const UBYTE* b, LONG i, LONG dx) {
        LONG x = x0 + i;
        return a[modes::clampColumn(x - dx, width)] - b[modes::clampColumn(x + dx, width)];
    };
    // The row the next call reads first, fetched early: the picture below streams in from memory.
    const UBYTE* next = rows[y + r.marginY] + x0;
    for (LONG i = 0; i < n; i += 64) __builtin_prefetch(next + i);
    if (r.radius == 1 && r.strength == 256) {
        // One step at full strength: the difference itself.
        auto [dx, dy] = offsets(1);
        const UBYTE* a = rows[y - dy];
        const UBYTE* b = rows[y + dy];
        Unclamped u = unclamped(x0, n, dx, width);
        for (LONG i = 0; i < u.lo; i++) out[i] = clampByte(base + clamped(a, b, i, dx));
        differenceRow(out + u.lo, a + x0 + u.lo - dx, b + x0 + u.lo + dx, u.hi - u.lo, base);
        for (LONG i = u.hi; i < n; i++) out[i] = clampByte(base + clamped(a, b, i, dx));
        return;
    }
    sum.assign(size_t(n), 0);
    int* s = sum.data();
    for (int step = r.radius; step >= 1; step--) {
        auto [dx, dy] = offsets(step);
        const UBYTE* a = rows[y - dy];
        const UBYTE* b = rows[y + dy];
        Unclamped u = unclamped(x0, n, dx, width);
        for (LONG i = 0; i < u.lo; i++) s[i] += clamped(a, b, i, dx);
        sumRow(s + u.lo, a + x0 + u.lo - dx, b + x0 + u.lo + dx, u.hi - u.lo);
        for (LONG i = u.hi; i < n; i++) s[i] += clamped(a, b, i, dx);
    }
    scaleRow(out, s, n, base, r.strength);
}

Tal_Word render(EmbossModeInstance* self, const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span)) return 0;
    LONG depth = span.image->depth;
    if (depth == 24 ? !modes::hasColourResult(span) : depth != 8 || !span.record->grey_result) return 0;
    Relief r = reliefOf(self->header.superObject, span.layer);
    LONG width = span.image->width;
    modes::Below below(span, std::max<LONG>(0, span.x0 - r.marginX), span.y0 - r.marginY,
                       std::min<LONG>(span.x1 + r.marginX, width - 1), span.y1 + r.marginY);
    if (!below.ok() || (depth == 8 && !below.grey())) return 0;
    std::vector<int> sum;
    for (LONG y = span.y0; y <= span.y1; y++) {
        if (depth == 8) {
            embossRow(span.greyResult(y), below.grey(), y, span.x0, span.n, width, r, r.base[1], sum);
            continue;
        }
        for (int ch = 0; ch < 3; ch++)
            embossRow(span.result(ch, y), below.rows(ch), y, span.x0, span.n, width, r, r.base[ch], sum);
    }
    return 1;
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
#define PAIR(set, get, setName, getName)                                                                     \
    ENTRY(set, setName, TAL_METHOD_SETTER, get, "%ld", nullptr),                                             \
        ENTRY(get, getName, TAL_METHOD_GETTER, set, nullptr, "%ld")
const Tal_MethodEntry embossMethods[] = {
    PAIR(TAL_SetModeAmount, TAL_GetModeAmount, "Tal_SetModeAmount", "Tal_GetModeAmount"),
    PAIR(TAL_SetModeRadius, TAL_GetModeRadius, "Tal_SetModeRadius", "Tal_GetModeRadius"),
    PAIR(TAL_SetModeAngle, TAL_GetModeAngle, "Tal_SetModeAngle", "Tal_GetModeAngle"),
    PAIR(TAL_SetModeColourMode, TAL_GetModeColourMode, "Tal_SetModeColourMode", "Tal_GetModeColourMode"),
    {},
};
#undef PAIR
#undef ENTRY

} // namespace

void* Tal_NewEmbossModeClass(const TagItem*) {
    auto* self = modes::newInstance<EmbossModeInstance>(&embossModeClass, "RootMode");
    if (!self) return nullptr;
    // The defaults, whether or not a panel is ever built.
    Tal_DoMethod(self->header.superObject, TAL_SetModeRadius, 1);
    Tal_DoMethod(self->header.superObject, TAL_SetModeAngle, 135);
    Tal_DoMethod(self->header.superObject, TAL_SetModeAmount, 100);
    Tal_DoMethod(self->header.superObject, TAL_SetModeColourMode, 0);
    return self;
}

void Tal_DisposeEmbossModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoEmbossModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<EmbossModeInstance*>(instance);
    if (id == TAL_ModeRenderLine) return render(self, args);
    return Tal_DoMethodA(self->header.superObject, id, args);
}

ULONG Tal_InitEmbossModeClass() {
    return Tal__SetupClass(&embossModeClass, "EmbossMode", 0x00000808, "RootMode", Tal_NewEmbossModeClass,
                           Tal_DisposeEmbossModeClass, Tal_DoEmbossModeClassMethod, embossMethods,
                           sizeof(EmbossModeInstance));
}

void Tal_CleanupEmbossModeClass() {
    Tal__CleanupClass(&embossModeClass);
}
