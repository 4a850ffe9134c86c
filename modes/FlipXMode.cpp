// FlipXMode: the picture below mirrored left to right across the whole image.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

namespace {

Tal_Class flipXModeClass;

struct FlipXModeInstance {
    Tal_Object header;
};

void mirrorRow(UBYTE* __restrict out, const UBYTE* __restrict row, LONG x0, LONG n, LONG width) {
    const UBYTE* from = row + (width - 1 - x0);
    for (LONG i = 0; i < n; i++) out[i] = from[-i];
}

Tal_Word render(const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span) || span.image->depth != 24 || !modes::hasColourResult(span)) return 0;
    LONG width = span.image->width;
    modes::Below below(span, width - 1 - span.x1, span.y0, width - 1 - span.x0, span.y1);
    if (!below.ok()) return 1;
    for (LONG y = span.y0; y <= span.y1; y++)
        for (int ch = 0; ch < 3; ch++)
            mirrorRow(span.result(ch, y), below.rows(ch)[y], span.x0, span.n, width);
    return 1;
}

} // namespace

void* Tal_NewFlipXModeClass(const TagItem*) {
    return modes::newInstance<FlipXModeInstance>(&flipXModeClass, "RootMode");
}

void Tal_DisposeFlipXModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoFlipXModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    if (id == TAL_ModeRenderLine) return render(args);
    return Tal_DoMethodA(static_cast<FlipXModeInstance*>(instance)->header.superObject, id, args);
}

ULONG Tal_InitFlipXModeClass() {
    return Tal__SetupClass(&flipXModeClass, "FlipXMode", 0x00000814, "RootMode", Tal_NewFlipXModeClass,
                           Tal_DisposeFlipXModeClass, Tal_DoFlipXModeClassMethod, nullptr,
                           sizeof(FlipXModeInstance));
}

void Tal_CleanupFlipXModeClass() {
    Tal__CleanupClass(&flipXModeClass);
}
