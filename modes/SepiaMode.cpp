// SepiaMode: Colourise in the sepia brown 138, 107, 75, whatever the layer's colour.
#include "modes/ModeCommon.h"
#include "modes/modes.h"

namespace {

Tal_Class sepiaModeClass;

struct SepiaModeInstance {
    Tal_Object header;
};

constexpr int kSepia[3] = {138, 107, 75};

} // namespace

void* Tal_NewSepiaModeClass(const TagItem*) {
    auto* self = modes::newInstance<SepiaModeInstance>(&sepiaModeClass, "ColouriseMode");
    if (!self) return nullptr;
    Tal_DoMethod(self->header.superObject, TAL_SetColouriseRed, kSepia[0]);
    Tal_DoMethod(self->header.superObject, TAL_SetColouriseGreen, kSepia[1]);
    Tal_DoMethod(self->header.superObject, TAL_SetColouriseBlue, kSepia[2]);
    return self;
}

void Tal_DisposeSepiaModeClass(void* instance) {
    modes::disposeInstance(instance);
}

Tal_Word Tal_DoSepiaModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    return Tal_DoMethodA(static_cast<SepiaModeInstance*>(instance)->header.superObject, id, args);
}

ULONG Tal_InitSepiaModeClass() {
    return Tal__SetupClass(&sepiaModeClass, "SepiaMode", 0x00000814, "ColouriseMode", Tal_NewSepiaModeClass,
                           Tal_DisposeSepiaModeClass, Tal_DoSepiaModeClassMethod, nullptr,
                           sizeof(SepiaModeInstance));
}

void Tal_CleanupSepiaModeClass() {
    Tal__CleanupClass(&sepiaModeClass);
}
