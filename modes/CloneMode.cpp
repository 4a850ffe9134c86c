// CloneMode: the picture below taken from an offset (dx, dy), for the clone tool. Pixels beyond the
// image take its nearest edge pixel. The tool moves the offset in a group of changes, during which it
// recomposes by itself.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <atomic>

namespace {

Tal_Class cloneModeClass;

struct CloneModeInstance {
    Tal_Object header;
    // Set from the tool's thread, read by the thread that composes.
    std::atomic<WORD> dx, dy;
    std::atomic<LONG> grouped;
};

Tal_Word render(CloneModeInstance* self, const Tal_Word* args) {
    modes::Span span;
    if (!modes::spanOf(args, span) || span.image->depth != 24 || !modes::hasColourResult(span)) return 0;
    LONG dx = self->dx.load(), dy = self->dy.load();
    LONG width = span.image->width, height = span.image->height;
    auto row = [&](LONG y) { return std::clamp<LONG>(y + dy, 0, height - 1); };
    modes::Below below(span, modes::clampColumn(span.x0 + dx, width), row(span.y0),
                       modes::clampColumn(span.x1 + dx, width), row(span.y1));
    if (!below.ok()) return 0;
    for (LONG y = span.y0; y <= span.y1; y++)
        for (int ch = 0; ch < 3; ch++) {
            UBYTE* out = span.result(ch, y);
            const UBYTE* from = below.rows(ch)[row(y)];
            for (LONG i = 0; i < span.n; i++) out[i] = from[modes::clampColumn(span.x0 + i + dx, width)];
        }
    return 1;
}

Tal_Word setOffset(CloneModeInstance* self, std::atomic<WORD>& offset, ULONG id, Tal_Word value) {
    WORD v = WORD(uint16_t(value));
    if (v != offset.load()) {
        offset = v;
        Tal_DoNotify(self->header.handle, id, Tal_Word(intptr_t(v)));
        if (!self->grouped.load()) Tal_DoMethod(self->header.superObject, TAL_ModeChanged);
    }
    return Tal_Word(intptr_t(offset.load()));
}

} // namespace

void* Tal_NewCloneModeClass(const TagItem*) {
    return modes::newInstance<CloneModeInstance>(&cloneModeClass, "RootMode");
}

void Tal_DisposeCloneModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoCloneModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<CloneModeInstance*>(instance);
    switch (id) {
    case TAL_ModeRenderLine:
        return render(self, args);
    case TAL_SetCloneDX:
        return setOffset(self, self->dx, id, args[0]);
    case TAL_GetCloneDX:
        return Tal_Word(intptr_t(self->dx.load()));
    case TAL_SetCloneDY:
        return setOffset(self, self->dy, id, args[0]);
    case TAL_GetCloneDY:
        return Tal_Word(intptr_t(self->dy.load()));
    case TAL_CloneOffsetGroup:
        self->grouped = args[0] != 0;
        return 1;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitCloneModeClass() {
    return Tal__SetupClass(&cloneModeClass, "CloneMode", 0x1B5A0000, "RootMode", Tal_NewCloneModeClass,
                           Tal_DisposeCloneModeClass, Tal_DoCloneModeClassMethod, nullptr,
                           sizeof(CloneModeInstance));
}

void Tal_CleanupCloneModeClass() {
    Tal__CleanupClass(&cloneModeClass);
}
