// AirBrushMedia: the ordinary brush, the engine of RootMedia under its own name. Being the outer object of
// its RootMedia part, it scatters its dabs by pressure.
#include "media/Media.h"

namespace {

Tal_Class airBrushMediaClass;

struct AirBrushMediaInstance {
    Tal_Object header;
};

} // namespace

void* Tal_NewAirBrushMediaClass(const TagItem*) {
    auto* self = static_cast<AirBrushMediaInstance*>(Tal_AllocObjectMem(&airBrushMediaClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("RootMedia");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeAirBrushMediaClass(void* instance) {
    auto* self = static_cast<AirBrushMediaInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoAirBrushMediaClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<AirBrushMediaInstance*>(instance);
    return Tal_DoMethodA(self->header.superObject, id, args);
}

ULONG Tal_InitAirBrushMediaClass() {
    return Tal__SetupClass(&airBrushMediaClass, "AirBrushMedia", TAL_AIRBRUSH_MEDIA_CLASS, "RootMedia",
                           Tal_NewAirBrushMediaClass, Tal_DisposeAirBrushMediaClass,
                           Tal_DoAirBrushMediaClassMethod, nullptr, sizeof(AirBrushMediaInstance));
}

void Tal_CleanupAirBrushMediaClass() {
    Tal__CleanupClass(&airBrushMediaClass);
}
