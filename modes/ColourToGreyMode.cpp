// ColourToGreyMode: the picture below in grey, by one of eleven conversions of a pixel's red, green and
// blue to one value.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <algorithm>
#include <atomic>

namespace {

Tal_Class colourToGreyModeClass;

struct ColourToGreyModeInstance {
    Tal_Object header;
    std::atomic<LONG> conversion; // set from the interface thread, read by the thread that composes
};

template <typename Grey>
void greyRow(UBYTE* __restrict r, UBYTE* __restrict g, UBYTE* __restrict b, const UBYTE* __restrict br,
             const UBYTE* __restrict bg, const UBYTE* __restrict bb, LONG n, Grey grey) {
    for (LONG i = 0; i < n; i++) {
        UBYTE v = UBYTE(grey(int(br[i]), int(bg[i]), int(bb[i])));
        r[i] = g[i] = b[i] = v;
    }
}

// Runs `row` with the grey function of the conversion; false for a conversion that does not exist.
template <typename Row>
bool withConversion(LONG conversion, Row row) {
    switch (conversion) {
    case TAL_GREY_MIN:
        row([](int r, int g, int b) { return std::min({r, g, b}); });
        return true;
    case TAL_GREY_MAX:
        row([](int r, int g, int b) { return std::max({r, g, b}); });
        return true;
    case TAL_GREY_AVERAGE:
        row([](int r, int g, int b) { return (r + g + b) / 3; });
        return true;
    case TAL_GREY_RED:
        row([](int r, int, int) { return r; });
        return true;
    case TAL_GREY_GREEN:
        row([](int, int g, int) { return g; });
        return true;
    case TAL_GREY_BLUE:
        row([](int, int, int b) { return b; });
        return true;
    case TAL_GREY_GREEN_BLUE:
        row([](int, int g, int b) { return (g + b) >> 1; });
        return true;
    case TAL_GREY_RED_BLUE:
        row([](int r, int, int b) { return (r + b) >> 1; });
        return true;
    case TAL_GREY_RED_GREEN:
        row([](int r, int g, int) { return (r + g) >> 1; });
        return true;
    case TAL_GREY_LUMINANCE:
        row([](int r, int g, int b) { return (r * 212671 + g * 715160 + b * 72169) / 1000000; });
        return true;
    case TAL_GREY_VIDEO:
        row([](int r, int g, int b) { return (r * 299 + g * 587 + b * 114) / 1000; });
        return true;
    default:
        return false;
    }
}

Tal_Word render(ColourToGreyModeInstance* self, const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span)) return 0;
    if (span.image->depth != 24 || !modes::hasColourResult(span)) return 1;
    LONG conversion = self->conversion.load();
    for (LONG y = span.y0; y <= span.y1; y++) {
        bool known = withConversion(conversion, [&](auto grey) {
            greyRow(span.result(0, y), span.result(1, y), span.result(2, y), span.below(0, y),
                    span.below(1, y), span.below(2, y), span.n, grey);
        });
        if (!known) break;
    }
    return 1;
}

} // namespace

void* Tal_NewColourToGreyModeClass(const TagItem*) {
    auto* self = modes::newInstance<ColourToGreyModeInstance>(&colourToGreyModeClass, "RootMode");
    if (self) self->conversion = TAL_GREY_LUMINANCE;
    return self;
}

void Tal_DisposeColourToGreyModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoColourToGreyModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<ColourToGreyModeInstance*>(instance);
    switch (id) {
    case TAL_ModeRenderLine:
        return render(self, args);
    case TAL_SetGreyConversion:
        self->conversion = LONG(int32_t(args[0]));
        Tal_DoMethod(self->header.superObject, TAL_ModeChanged);
        return 0;
    case TAL_GetGreyConversion:
        return Tal_Word(intptr_t(self->conversion.load()));
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitColourToGreyModeClass() {
    return Tal__SetupClass(&colourToGreyModeClass, "ColourToGreyMode", 0x00000814, "RootMode",
                           Tal_NewColourToGreyModeClass, Tal_DisposeColourToGreyModeClass,
                           Tal_DoColourToGreyModeClassMethod, nullptr, sizeof(ColourToGreyModeInstance));
}

void Tal_CleanupColourToGreyModeClass() {
    Tal__CleanupClass(&colourToGreyModeClass);
}
