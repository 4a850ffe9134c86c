// ColouriseMode: the picture below in the shades of one colour. Each pixel's luminance picks an entry of
// three ramps that run from black through the colour (at 127) towards white; the ramps are rebuilt only
// when the colour changes. The colour is the layer's, unless one was chosen with the colour methods.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace {

Tal_Class colouriseModeClass;

struct ColouriseModeInstance {
    Tal_Object header;
    uint32_t ramps[256]; // red, green and blue entries packed as 0x00BBGGRR, for one look-up a pixel
    int builtFor[3];     // −1 until the ramps are first built
    // Chosen from the interface thread, read and (without a choice) set by the thread that composes.
    std::atomic<int> chosen[3];
    std::atomic<int> explicitColour;
};

uint32_t rampEntry(int i, int c) {
    return uint32_t(i <= 127 ? i * c / 127 : std::min(255, c + ((255 - c) * (i - 128) >> 7)));
}

void buildRamps(uint32_t* ramps, const int* colour) {
    for (int i = 0; i < 256; i++)
        ramps[i] = rampEntry(i, colour[0]) | rampEntry(i, colour[1]) << 8 | rampEntry(i, colour[2]) << 16;
}

MODES_ROW_KERNEL void colouriseRow(UBYTE* __restrict r, UBYTE* __restrict g, UBYTE* __restrict b,
                                   const UBYTE* __restrict br, const UBYTE* __restrict bg,
                                   const UBYTE* __restrict bb, LONG n, const uint32_t* __restrict ramps) {
    for (LONG i = 0; i < n; i++) {
        uint32_t v = ramps[(br[i] * 307 + bg[i] * 595 + bb[i] * 122) >> 10];
        r[i] = UBYTE(v);
        g[i] = UBYTE(v >> 8);
        b[i] = UBYTE(v >> 16);
    }
}

Tal_Word render(ColouriseModeInstance* self, const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span) || span.image->depth != 24 || !modes::hasColourResult(span)) return 0;
    int colour[3];
    if (self->explicitColour.load()) {
        for (int ch = 0; ch < 3; ch++) colour[ch] = self->chosen[ch].load();
    } else {
        if (!span.layer) return 0;
        for (int ch = 0; ch < 3; ch++) {
            colour[ch] = span.layer->layer_colour[ch];
            self->chosen[ch] = colour[ch];
        }
    }
    if (!std::equal(colour, colour + 3, self->builtFor)) {
        buildRamps(self->ramps, colour);
        std::copy(colour, colour + 3, self->builtFor);
    }
    for (LONG y = span.y0; y <= span.y1; y++)
        colouriseRow(span.result(0, y), span.result(1, y), span.result(2, y), span.below(0, y),
                     span.below(1, y), span.below(2, y), span.n, self->ramps);
    return 1;
}

} // namespace

void* Tal_NewColouriseModeClass(const TagItem*) {
    auto* self = modes::newInstance<ColouriseModeInstance>(&colouriseModeClass, "RootMode");
    if (self) std::fill(self->builtFor, self->builtFor + 3, -1);
    return self;
}

void Tal_DisposeColouriseModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoColouriseModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<ColouriseModeInstance*>(instance);
    switch (id) {
    case TAL_ModeRenderLine:
        return render(self, args);
    case TAL_SetColouriseRed:
    case TAL_SetColouriseGreen:
    case TAL_SetColouriseBlue: {
        int ch = id == TAL_SetColouriseRed ? 0 : id == TAL_SetColouriseGreen ? 1 : 2;
        // A component beyond a byte would wrap in the ramps.
        self->chosen[ch] = std::clamp<int>(int32_t(args[0]), 0, 255);
        self->explicitColour = 1;
        return 0;
    }
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitColouriseModeClass() {
    return Tal__SetupClass(&colouriseModeClass, "ColouriseMode", 0x00000814, "RootMode",
                           Tal_NewColouriseModeClass, Tal_DisposeColouriseModeClass,
                           Tal_DoColouriseModeClassMethod, nullptr, sizeof(ColouriseModeInstance));
}

void Tal_CleanupColouriseModeClass() {
    Tal__CleanupClass(&colouriseModeClass);
}
