// FlipYMode: the picture below mirrored top to bottom across the whole image.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <cstring>

namespace {

Tal_Class flipYModeClass;

struct FlipYModeInstance {
    Tal_Object header;
};

Tal_Word render(const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span) || span.image->depth != 24 || !modes::hasColourResult(span)) return 0;
    LONG height = span.image->height;
    modes::Below below(span, span.x0, height - 1 - span.y1, span.x1, height - 1 - span.y0);
    if (!below.ok()) return 1;
    for (LONG y = span.y0; y <= span.y1; y++)
        for (int ch = 0; ch < 3; ch++)
            std::memcpy(span.result(ch, y), below.rows(ch)[height - 1 - y] + span.x0, size_t(span.n));
    return 1;
}

} // namespace

void* Tal_NewFlipYModeClass(const TagItem*) {
    return modes::newInstance<FlipYModeInstance>(&flipYModeClass, "RootMode");
}

void Tal_DisposeFlipYModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoFlipYModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    if (id == TAL_ModeRenderLine) return render(args);
    return Tal_DoMethodA(static_cast<FlipYModeInstance*>(instance)->header.superObject, id, args);
}

ULONG Tal_InitFlipYModeClass() {
    return Tal__SetupClass(&flipYModeClass, "FlipYMode", 0x00000815, "RootMode", Tal_NewFlipYModeClass,
                           Tal_DisposeFlipYModeClass, Tal_DoFlipYModeClassMethod, nullptr,
                           sizeof(FlipYModeInstance));
}

void Tal_CleanupFlipYModeClass() {
    Tal__CleanupClass(&flipYModeClass);
}
