// PaintMode: the layer's colour itself. The compositor skips this mode for plain 8-bit layers and blends
// the colour directly, with the same result.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <cstring>

namespace {

Tal_Class paintModeClass;

struct PaintModeInstance {
    Tal_Object header;
};

Tal_Word render(const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span) || !span.layer) return 0;
    const UBYTE* colour = span.layer->layer_colour;
    if (span.image->depth == 24 && modes::hasColourResult(span)) {
        for (LONG y = span.y0; y <= span.y1; y++)
            for (int ch = 0; ch < 3; ch++) std::memset(span.result(ch, y), colour[ch], size_t(span.n));
        return 1;
    }
    if (span.image->depth == 8 && span.record->grey_result) {
        int grey = (colour[0] + colour[1] + colour[2]) / 3;
        for (LONG y = span.y0; y <= span.y1; y++) std::memset(span.greyResult(y), grey, size_t(span.n));
        return 1;
    }
    return 0;
}

} // namespace

void* Tal_NewPaintModeClass(const TagItem*) {
    return modes::newInstance<PaintModeInstance>(&paintModeClass, "RootMode");
}

void Tal_DisposePaintModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoPaintModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    if (id == TAL_ModeRenderLine) return render(args);
    return Tal_DoMethodA(static_cast<PaintModeInstance*>(instance)->header.superObject, id, args);
}

ULONG Tal_InitPaintModeClass() {
    return Tal__SetupClass(&paintModeClass, "PaintMode", 0x00000801, "RootMode", Tal_NewPaintModeClass,
                           Tal_DisposePaintModeClass, Tal_DoPaintModeClassMethod, nullptr,
                           sizeof(PaintModeInstance));
}

void Tal_CleanupPaintModeClass() {
    Tal__CleanupClass(&paintModeClass);
}
