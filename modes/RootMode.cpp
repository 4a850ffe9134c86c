// RootMode: the base of every paint mode. It knows the layer it belongs to, keeps the mode's flags and
// ten small parameters (announcing each change and asking for a recompose), shows the mode's options
// panel in the mode options container while its layer is the current one, and turns changes of the
// layer's source image into changes of the layer.
#include "ui/ui.h"
#include "modes/ModeCommon.h"
#include "modes/modes.h"

#include <atomic>

namespace {

Tal_Class rootModeClass;

constexpr int kParameters = 10;

// The parameters in their storage order, with their set and get methods.
struct Parameter {
    ULONG set, get;
};
constexpr Parameter kParameterMethods[kParameters] = {
    {TAL_SetModeAmount, TAL_GetModeAmount},         {TAL_SetModeRadius, TAL_GetModeRadius},
    {TAL_SetModeAngle, TAL_GetModeAngle},           {TAL_SetModeParameterE, TAL_GetModeParameterE},
    {TAL_SetModeColourMode, TAL_GetModeColourMode}, {TAL_SetModeParameterJ, TAL_GetModeParameterJ},
    {TAL_SetModeParameterH, TAL_GetModeParameterH}, {TAL_SetModeParameterI, TAL_GetModeParameterI},
    {TAL_SetModeParameterF, TAL_GetModeParameterF}, {TAL_SetModeParameterG, TAL_GetModeParameterG},
};

struct RootModeInstance {
    Tal_Object header;
    // Set from the interface thread, read by the thread that composes.
    std::atomic<Tal_Image*> layer;
    ULONG panel;
    Tal_Word imageNotify; // on the image-base object, while the mode has a panel
    ULONG notifySource;
    LONG panelShown; // the panel is a member of the mode options container
    std::atomic<ULONG> flags;
    std::atomic<WORD> parameters[kParameters];
    UWORD hasPanel;
};

Tal_Word signExtended(WORD value) {
    return Tal_Word(intptr_t(value));
}

ULONG selfHandle(const RootModeInstance* self) {
    return Tal_GetTopMostObject(self->header.handle);
}

Tal_Image* currentLayer() {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base) return nullptr;
    SemaphoreGuard guard(&base->listLock);
    return base->active_image ? base->active_image->current_layer : nullptr;
}

ULONG optionsContainer() {
    Tal_ImageBase* base = Tal_GetImageBase();
    return base ? base->mode_options_container : 0;
}

// A layer has two modes while a chosen one waits for the fix: only the waiting one shows its panel.
bool isShownMode(const RootModeInstance* self, Tal_Image* layer) {
    Tal_Image* parent = layer->parent;
    if (parent) ObtainSemaphore(&parent->compose_lock);
    ULONG shown = layer->pending_mode ? layer->pending_mode : layer->mode;
    if (parent) ReleaseSemaphore(&parent->compose_lock);
    return shown == selfHandle(self);
}

void hidePanel(RootModeInstance* self) {
    if (!self->panelShown) return;
    if (ULONG group = Tal_GetParentObject(self->panel)) Tal_DoMethod(group, TAL_RemoveMember, self->panel);
    self->panelShown = 0;
}

// The current layer is now `current`: the panel shows while it is the mode's layer.
void currentLayerChanged(RootModeInstance* self, Tal_Image* current) {
    Tal_Image* layer = self->layer.load();
    if (current != layer) hidePanel(self);
    ULONG container = optionsContainer();
    if (!container) return;
    if (self->panel && !self->panelShown && layer && current == layer && isShownMode(self, layer)) {
        Tal_DoMethod(container, TAL_AddHead, self->panel);
        self->panelShown = 1;
    }
    Tal_DoMethod(container, TAL_DrawObject);
}

void setLayer(RootModeInstance* self, Tal_Image* layer) {
    self->layer = layer;
    Tal_DoMethod(self->header.handle, TAL_SetCurrentLayer, currentLayer());
    // A mode with options of its own brings its panel forward where its image is on show.
    Tal_ImageBase* base = Tal_GetImageBase();
    Tal_Image* top = layer ? layer->top_image : nullptr;
    if (self->hasPanel && base && base->mode_options_plugin && top && top->first_view)
        Tal_DoMethod(base->mode_options_plugin, TAL_PluginToFront);
}

ULONG setOptions(RootModeInstance* self, ULONG panel) {
    if (self->panel && self->panel != panel) {
        hidePanel(self);
        Tal_DisposeObject(self->panel);
    }
    self->panel = panel;
    self->hasPanel = panel != 0;
    if (!panel) return 1;
    // Shown inside the options container: no title bar (three shows bring it back) and no frame.
    for (int i = 0; i < 3; i++) Tal_DoMethod(panel, TAL_PluginHideTitle);
    Tal_DoMethod(panel, TAL_SetGroupFrame, 0);
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!self->imageNotify && base && base->image_object) {
        self->notifySource = Tal_GetImageHandle(base->image_object);
        self->imageNotify = Tal_AddNotify(self->notifySource, TAL_SetCurrentLayer, TAL_AnyValue,
                                          selfHandle(self), 2, TAL_SetCurrentLayer, TAL_TriggerValue);
    }
    return 1;
}

void changed(RootModeInstance* self) {
    if (Tal_Image* layer = self->layer.load()) Tal_RedoLayerChanges(layer);
}

// A change of the layer's source image over (x0, y0)..(x1, y1) is a change of the layer where the
// source lies on it.
void sourceChanged(RootModeInstance* self, const Tal_Word* args) {
    Tal_Image* layer = self->layer.load();
    ULONG kind = ULONG(args[0]);
    auto* source = reinterpret_cast<Tal_Image*>(args[1]);
    if (!layer || !source || kind > TAL_CHANGE_FORMAT) return;
    LONG x0 = LONG(args[2]), y0 = LONG(args[3]), x1 = LONG(args[4]), y1 = LONG(args[5]);
    LONG sx = layer->source_x, sy = layer->source_y;
    if ((self->flags.load() & TAL_ModeSourceAtLastRow) && source->interruptible.load()) {
        if (y1 < source->height - 1) return;
        Tal__AnnounceImageChange(layer, TAL_CHANGE_REGION, sx, sy, sx + layer->width - 1, sy + y1);
        return;
    }
    Tal__AnnounceImageChange(layer, TAL_CHANGE_REGION, sx + x0, sy + y0, sx + x1, sy + y1);
}

Tal_Word parameterMethod(RootModeInstance* self, ULONG id, const Tal_Word* args, bool& handled) {
    handled = true;
    for (int i = 0; i < kParameters; i++) {
        if (id == kParameterMethods[i].get) return signExtended(self->parameters[i].load());
        if (id != kParameterMethods[i].set) continue;
        WORD value = WORD(uint16_t(args[0]));
        if (value != self->parameters[i].load()) {
            self->parameters[i] = value;
            Tal_DoNotify(self->header.handle, id, signExtended(value));
            changed(self);
        }
        return signExtended(self->parameters[i].load());
    }
    handled = false;
    return 0;
}

} // namespace

void* Tal_NewRootModeClass(const TagItem*) {
    return modes::newInstance<RootModeInstance>(&rootModeClass, "Root");
}

void Tal_DisposeRootModeClass(void* instance) {
    auto* self = static_cast<RootModeInstance*>(instance);
    if (self->imageNotify) Tal_RemoveNotify(self->notifySource, self->imageNotify);
    hidePanel(self);
    Tal_DisposeObject(self->panel);
    modes::disposeInstance(self);
}

Tal_Word Tal_DoRootModeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<RootModeInstance*>(instance);
    switch (id) {
    case TAL_ModeRenderLine:
        return 0; // no effect of its own
    case TAL_GetModeFlags:
        return self->flags.load();
    case TAL_SetModeFlags:
        self->flags = ULONG(args[0]);
        return 1;
    case TAL_SetModeLayer:
        setLayer(self, reinterpret_cast<Tal_Image*>(args[0]));
        return 1;
    case TAL_GetModeLayer:
        return reinterpret_cast<Tal_Word>(self->layer.load());
    case TAL_SetModeOptions:
        return setOptions(self, ULONG(args[0]));
    case TAL_GetModeOptions:
        return self->panel;
    case TAL_ModeChanged:
        changed(self);
        return 1;
    case TAL_SetCurrentLayer:
        currentLayerChanged(self, reinterpret_cast<Tal_Image*>(args[0]));
        return 0;
    case TAL_SetModeSourceImage:
        return 0;
    case TAL_SourceListener:
        sourceChanged(self, args);
        return 0;
    default: {
        bool handled;
        Tal_Word result = parameterMethod(self, id, args, handled);
        return handled ? result : Tal_DoMethodA(self->header.superObject, id, args);
    }
    }
}

ULONG Tal_InitRootModeClass() {
    return Tal__SetupClass(&rootModeClass, "RootMode", 0x00000800, "Root", Tal_NewRootModeClass,
                           Tal_DisposeRootModeClass, Tal_DoRootModeClassMethod, nullptr,
                           sizeof(RootModeInstance));
}

void Tal_CleanupRootModeClass() {
    Tal__CleanupClass(&rootModeClass);
}
