// NegativeMode: the complement of the picture below, channel by channel.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

namespace {

Tal_Class negativeModeClass;

struct NegativeModeInstance {
    Tal_Object header;
};

void negateRow(UBYTE* __restrict out, const UBYTE* __restrict below, LONG n) {
    for (LONG i = 0; i < n; i++) out[i] = UBYTE(~below[i]);
}

Tal_Word render(const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span) || span.image->depth != 24 || !modes::hasColourResult(span)) return 0;
    for (LONG y = span.y0; y <= span.y1; y++)
        for (int ch = 0; ch < 3; ch++) negateRow(span.result(ch, y), span.below(ch, y), span.n);
    return 1;
}

} // namespace

void* Tal_NewNegativeModeClass(const TagItem*) {
    return modes::newInstance<NegativeModeInstance>(&negativeModeClass, "RootMode");
}

void Tal_DisposeNegativeModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoNegativeModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    if (id == TAL_ModeRenderLine) return render(args);
    return Tal_DoMethodA(static_cast<NegativeModeInstance*>(instance)->header.superObject, id, args);
}

ULONG Tal_InitNegativeModeClass() {
    return Tal__SetupClass(&negativeModeClass, "NegativeMode", 0x00000801, "RootMode",
                           Tal_NewNegativeModeClass, Tal_DisposeNegativeModeClass,
                           Tal_DoNegativeModeClassMethod, nullptr, sizeof(NegativeModeInstance));
}

void Tal_CleanupNegativeModeClass() {
    Tal__CleanupClass(&negativeModeClass);
}
