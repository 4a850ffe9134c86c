// EmbossMode: the picture below as a relief lit from one side. For each pixel the differences between
// the pixels before and after it along the direction of the angle, out to the radius, are summed and
// added, scaled by the amount, to a mid grey (or to the layer's colour).
#include "modes/ModeCommon.h"
#include "modes/modes.h"

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

// Calls emit(i, xa, xb) for the pixels i = 0..n − 1 from column x0, with xa = x − dx and xb = x + dx
// clamped to the picture; only the pixels near its edges need the clamping.
template <typename Emit>
void overColumns(LONG x0, LONG n, LONG dx, LONG width, Emit emit) {
    LONG reach = std::abs(dx);
    LONG lo = std::clamp<LONG>(reach - x0, 0, n);
    LONG hi = std::clamp<LONG>(width - reach - x0, lo, n);
    auto clamped = [&](LONG i) {
        LONG x = x0 + i;
        emit(i, modes::clampColumn(x - dx, width), modes::clampColumn(x + dx, width));
    };
    for (LONG i = 0; i < lo; i++) clamped(i);
    for (LONG i = lo; i < hi; i++) emit(i, x0 + i - dx, x0 + i + dx);
    for (LONG i = hi; i < n; i++) clamped(i);
}

UBYTE clampByte(int v) {
    return UBYTE(std::clamp(v, 0, 255));
}

// One row of one channel: `rows` is the picture below indexed by absolute row and column.
void embossRow(UBYTE* __restrict out, UBYTE** rows, LONG y, LONG x0, LONG n, LONG width, const Relief& r,
               int base, std::vector<int>& sum) {
    if (r.radius == 1 && r.strength == 256) {
        // One step at full strength: the difference itself.
        LONG dx = WORD(r.X >> 10), dy = WORD(r.Y >> 10);
        const UBYTE* a = rows[y - dy];
        const UBYTE* b = rows[y + dy];
        overColumns(x0, n, dx, width,
                    [&](LONG i, LONG xa, LONG xb) { out[i] = clampByte(base + a[xa] - b[xb]); });
        return;
    }
    sum.assign(size_t(n), 0);
    int* s = sum.data();
    for (int step = r.radius; step >= 1; step--) {
        LONG dx = WORD((r.X * step) >> 10), dy = WORD((r.Y * step) >> 10);
        const UBYTE* a = rows[y - dy];
        const UBYTE* b = rows[y + dy];
        overColumns(x0, n, dx, width, [&](LONG i, LONG xa, LONG xb) { s[i] += a[xa] - b[xb]; });
    }
    // 32 bits throughout: strong settings must reach white and black, not wrap.
    for (LONG i = 0; i < n; i++) out[i] = clampByte(base + ((r.strength * s[i]) >> 8));
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
