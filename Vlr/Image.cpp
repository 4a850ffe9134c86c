// Image: the class of every picture, paint layer and floating image, and of the engine-wide image
// object. Every top-level image owns a thread that performs its asynchronous methods in arrival order.
#include "Tal/Catalogue.h"
#include "ui/ui.h"
#include "Vlr/ImageFile.h"
#include "Vlr/Vlr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

Tal_Class imageClass;

constexpr const char* kLockTag = "Vlr/Image";

Tal_Image* of(void* instance) {
    return static_cast<Tal_Image*>(instance);
}
ULONG handleOf(const Tal_Image* image) {
    return image ? image->header.handle : 0;
}
Tal_ImageBase* engine() {
    return Tal_GetImageBase();
}
Tal_Image* topOf(Tal_Image* image) {
    while (image && image->parent) image = image->parent;
    return image;
}
bool onOwnThread(Tal_Image* image) {
    Task* task = image->thread_task.load();
    return task && task == FindTask(nullptr);
}
Tal_Image* imageArg(Tal_Word w) {
    auto* image = reinterpret_cast<Tal_Image*>(w);
    return image && Tal__IsLiveImage(image) ? image : nullptr;
}
bool isLayerOf(const Tal_Image* parent, const Tal_Image* layer) {
    for (Tal_Image* l = first_layer(parent); l; l = next_layer(l))
        if (l == layer) return true;
    return false;
}
bool allocated(const Tal_Image* image) {
    return image->alloc_state.load() == 1;
}

// Notifies from the image and from the engine-wide image object (once when they are the same).
template <typename... A>
void notifyBoth(Tal_Image* image, ULONG id, A... args) {
    Tal_DoImageNotify(image, id, args...);
    Tal_ImageBase* base = engine();
    if (base && base->image_object && base->image_object != image)
        Tal_DoImageNotify(base->image_object, id, args...);
}

void disposeObject(Tal_Image* self, ULONG handle);

// ---------------------------------------------------------------------------------------------------
// The image thread.

void handleMessage(Tal_Image* self, Tal_AsyncMessage* msg) {
    size_t count = Tal_AsyncArgCount(msg);
    switch (ULONG(msg->command)) {
    case TAL_DisposeSelf:
        if (count >= 1) disposeObject(self, ULONG(msg->args[0]));
        break;
    case TAL_DrawObject:
        if (count >= 1 && msg->args[0]) Tal_DoMethod(ULONG(msg->args[0]), TAL_DrawObject);
        break;
    case TAL_DoAsyncMethodMethod:
        if (count >= 2) Tal_DoMethodA(ULONG(msg->args[0]), ULONG(msg->args[1]), msg->args + 2);
        break;
    default:
        Tal_DoMethodA(msg->target, ULONG(msg->command), msg->args);
        break;
    }
}

// Layers send their asynchronous requests to their top image's port; it goes with the thread.
void setPortOfTree(Tal_Image* image, MsgPort* port) {
    Tal_DoMethod(handleOf(image), TAL_SetAsyncPort, port);
    for (Tal_Image* layer = first_layer(image); layer; layer = next_layer(layer)) setPortOfTree(layer, port);
}

ULONG imageThread(Tal_Word userData) {
    auto* self = reinterpret_cast<Tal_Image*>(userData);
    Task* me = FindTask(nullptr);
    if (me) me->tc_GlobalData = Tal_GetGlobalData();
    MsgPort* port = CreateMsgPort();
    if (!port) {
        self->thread_state = 2;
        return 0;
    }
    self->thread_task = me;
    Tal_DoMethod(handleOf(self), TAL_SetAsyncPort, port);
    self->thread_port = port;
    self->thread_state = 1;
    ULONG portMask = 1u << port->mp_SigBit;
    for (;;) {
        if (Wait(portMask | SIGBREAKF_CTRL_C) & SIGBREAKF_CTRL_C) break;
        bool stop = false;
        while (!stop) {
            auto* msg = reinterpret_cast<Tal_AsyncMessage*>(GetMsg(port));
            if (!msg) break;
            handleMessage(self, msg);
            Tal_FreeAsyncMsg(msg);
            stop = SetSignal(0, 0) & SIGBREAKF_CTRL_C;
        }
        if (stop) break;
    }
    setPortOfTree(self, nullptr);
    self->thread_port = nullptr;
    DeleteMsgPort(port);
    self->thread_task = nullptr;
    self->thread_state = 2;
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// Disposal.

// On the image thread a disposal of the image itself would wait for that thread: it goes to the
// background instead.
void disposeObject(Tal_Image* self, ULONG handle) {
    if (handle == handleOf(self) && onOwnThread(self))
        Tal_AsyncDisposeObject(handle);
    else
        Tal_DisposeObject(handle);
}

void removeFromList(Tal_Image* image) {
    Tal_ImageBase* base = engine();
    if (!base) return;
    bool removed = false;
    {
        SemaphoreGuard guard(&base->listLock);
        if (image->in_list) {
            Remove(&image->layer_node.node);
            image->layer_node.node.ln_Succ = image->layer_node.node.ln_Pred = nullptr;
            image->in_list = 0;
            removed = true;
        }
    }
    if (removed) notifyBoth(image, TAL_RemoveFromImageList, image);
}

void disposeImage(Tal_Image* self) {
    Tal_ImageBase* base = engine();
    // Unlinked first: from here on no lock can be taken on the record.
    if (base) {
        SemaphoreGuard guard(&base->listLock);
        self->alloc_state = -1;
        if (self->registry_node.node.ln_Succ) {
            Remove(&self->registry_node.node);
            self->registry_node.node.ln_Succ = self->registry_node.node.ln_Pred = nullptr;
        }
    } else {
        self->alloc_state = -1;
    }
    Tal_DoImageNotify(self, TAL_ImageDataChanged, TAL_ImageDisposing, self, 0, 0, self->width - 1,
                      self->height - 1, 0, 0);
    if (self->kind == TAL_IMAGE && base) {
        bool active;
        {
            SemaphoreGuard guard(&base->listLock);
            active = base->active_image == self;
        }
        if (active && base->image_object) Tal_DoImageMethod(base->image_object, TAL_SetActiveImage, 0);
        removeFromList(self);
        while (!IsListEmpty(&self->views)) {
            auto* node = reinterpret_cast<Tal_ImageNode*>(self->views.lh_Head);
            Remove(&node->node);
            node->node.ln_Succ = node->node.ln_Pred = nullptr;
            Tal_DisposeObject(Tal_GetImageViewHandle(static_cast<Tal_ImageView*>(node->owner)));
        }
        self->first_view = nullptr;
    }
    // The thread ends before the exclusive wait: it may be waiting for this image's lock itself.
    if (self->thread) {
        ULONG thread = self->thread;
        self->thread = 0;
        Tal_DisposeObject(thread);
    }
    while (!Tal_ObtainSemaphoreDebug(self->lock, TAL_MUST_LOCK, kLockTag, __LINE__)) Delay(1);
    ULONG actions = self->action_list;
    self->action_list = 0;
    Tal_DisposeObject(actions);
    Tal_DeallocImage(self);
    Tal_ReleaseSemaphoreDebug(self->lock, kLockTag, __LINE__);
    // Callers that found the record before it was unlinked finish their (failing) lock first.
    while (self->pins.load() > 0) Delay(1);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeSemaphoreDebug(self->lock, kLockTag, __LINE__);
    CleanupSemaphore(&self->compose_lock);
    Tal_FreeObjectMem(self);
}

ULONG disposeInBackground(Task* task) {
    auto* self = reinterpret_cast<Tal_Image*>(task->tc_UserData);
    // The image thread is inside the call that disposed the image; it leaves it before it is stopped.
    disposeImage(self);
    Tal_GetGlobalData()->pendingDisposals--;
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// Layers.

MsgPort* portOf(Tal_Image* image) {
    Tal_Image* top = topOf(image);
    return top ? top->thread_port : nullptr;
}

void installListener(Tal_Image* self, Tal_Image* layer) {
    ULONG method = layer->kind == TAL_PAINT_LAYER ? TAL_PaintLayerListener : TAL_FloatingListener;
    if (layer->parent_notify) Tal_RemoveNotify(handleOf(layer), layer->parent_notify);
    layer->parent_notify =
        Tal_AddNotify(handleOf(layer), TAL_ImageDataChanged, TAL_AnyValue, handleOf(self), 9, method,
                      TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument,
                      TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument);
}

void setPaintColour(Tal_Image* layer) {
    Tal_ImageBase* base = engine();
    if (!base) return;
    UBYTE colour[3] = {UBYTE(base->paint_red), UBYTE(base->paint_green), UBYTE(base->paint_blue)};
    std::memcpy(layer->layer_colour, colour, 3);
    std::memcpy(layer->pending_colour, colour, 3);
}

ULONG addLayer(Tal_Image* self, Tal_Image* layer) {
    if (!layer || layer == self || layer->layer_node.node.ln_Succ) return 0;
    if (!Tal_LockImageA(self, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    Tal_Image* anchor = self->current_layer;
    if (anchor && anchor->parent && anchor->parent != self && anchor->parent->kind == TAL_FLOATING_IMAGE)
        anchor = anchor->parent;
    if (anchor && anchor != layer && isLayerOf(self, anchor))
        Insert(&self->layers, &layer->layer_node.node, &anchor->layer_node.node);
    else
        AddTail(&self->layers, &layer->layer_node.node);
    layer->parent = self;
    layer->visible = 1;
    self->current_layer = layer;
    self->paint_layer = layer->kind == TAL_FLOATING_IMAGE ? layer->current_layer : layer;
    Tal_UnlockImageA(self, TAL_LOCK_EXCLUSIVE, 0);

    Tal_DoLayerDoesntNeedsFixing(layer);
    setPaintColour(layer);
    Tal_DoLayerDoesntNeedsFixing(layer);
    installListener(self, layer);
    MsgPort* port = portOf(self);
    Tal_DoMethod(handleOf(layer), TAL_SetAsyncPort, port);
    if (layer->kind == TAL_FLOATING_IMAGE && layer->current_layer)
        Tal_DoMethod(handleOf(layer->current_layer), TAL_SetAsyncPort, port);
    return 1;
}

ULONG removeLayer(Tal_Image* self, Tal_Image* layer) {
    if (!layer || !Tal_LockImageA(self, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    bool found = isLayerOf(self, layer);
    if (found) {
        Remove(&layer->layer_node.node);
        layer->layer_node.node.ln_Succ = layer->layer_node.node.ln_Pred = nullptr;
        if (self->current_layer == layer) self->current_layer = nullptr;
        if (self->paint_layer == layer || (self->paint_layer && self->paint_layer->parent == layer))
            self->paint_layer = nullptr;
    }
    Tal_UnlockImageA(self, TAL_LOCK_EXCLUSIVE, 0);
    if (found && layer->parent_notify) {
        Tal_RemoveNotify(handleOf(layer), layer->parent_notify);
        layer->parent_notify = 0;
    }
    return found ? 1 : 0;
}

ULONG setActiveImage(Tal_Image* self, Tal_Image* image);

ULONG setCurrentLayer(Tal_Image* self, Tal_Image* layer) {
    if (layer != self->current_layer) {
        if (self->live_action) Tal_DoMethod(self->live_action, TAL_Released);
        if (self->action_list) {
            if (ULONG item = ULONG(Tal_DoMethod(self->action_list, TAL_GetActiveItem)))
                Tal_DoMethod(item, TAL_Released);
            Tal_DoMethod(self->action_list, TAL_SetActiveItem, 0);
            Tal_DoMethod(self->action_list, TAL_ReleaseSelection);
        }
    }
    self->current_layer = layer;
    self->paint_layer = layer && layer->kind == TAL_FLOATING_IMAGE ? layer->current_layer : layer;
    if (!self->in_list) return 1;
    Tal_ImageBase* base = engine();
    bool active;
    {
        SemaphoreGuard guard(&base->listLock);
        active = base->active_image == self;
    }
    if (!active) setActiveImage(self, self);
    notifyBoth(self, TAL_SetCurrentLayer, self->current_layer);
    notifyBoth(self, TAL_PaintLayerChanged, self->paint_layer);
    return 1;
}

Tal_Image* newLayer(Tal_Image* self, LONG kind, LONG depth, LONG width, LONG height) {
    Tal_ImageBase* base = engine();
    if (!base || (kind != TAL_PAINT_LAYER && kind != TAL_FLOATING_IMAGE)) return nullptr;
    Tal_Image* top = self->top_image ? self->top_image : self;
    Tal_Image* layer = nullptr;
    {
        // Creating a layer composes nothing: its pending state is taken at once below.
        Tal_LiveRedoOverride noRedo(0);
        layer = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, kind));
        bool ok = layer != nullptr;
        if (ok) {
            layer->parent = self;
            ok = Tal_AllocImage(layer, width, height, kind == TAL_FLOATING_IMAGE ? 24 : depth, 0) != nullptr;
        }
        if (ok && kind == TAL_FLOATING_IMAGE) {
            auto* alpha =
                static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_PAINT_LAYER));
            ok = alpha != nullptr;
            if (ok) {
                alpha->parent = layer;
                layer->alpha_child = alpha;
                ok = Tal_AllocImage(alpha, width, height, 8, 0) != nullptr;
            }
            ok = ok && Tal_DoImageMethod(layer, TAL_NewLayer, TAL_PAINT_LAYER, 8, width, height);
            if (ok && layer->current_layer) layer->current_layer->top_image = top;
        }
        if (!ok) {
            if (layer) Tal_DisposeObject(handleOf(layer));
            return nullptr;
        }
    }
    layer->top_image = top;
    layer->orig_w = layer->layer_w = WORD(width);
    layer->orig_h = layer->layer_h = WORD(height);
    if (!addLayer(self, layer)) {
        Tal_DisposeObject(handleOf(layer));
        return nullptr;
    }
    if (self->in_list) setCurrentLayer(self, layer);
    if (kind == TAL_PAINT_LAYER) {
        Tal_LiveRedoOverride noRedo(0);
        Tal_SelectLayerMode(layer, base->default_mode_name);
        Tal_DoLayerDoesntNeedsFixing(layer);
    }
    // The newest actions hear of the new layer.
    if (self->action_list) {
        ULONG action = ULONG(Tal_DoMethod(self->action_list, TAL_GetFirstGroupObject));
        for (int i = 0; i < 4 && action; i++) {
            Tal_DoMethod(action, TAL_ActionNewActionAdded);
            action = ULONG(Tal_DoMethod(self->action_list, TAL_GetNextGroupObject, action));
        }
    }
    return layer;
}

// Moves the layer (self) after `anchor` in its parent's list (none: to the bottom).
ULONG moveLayerAfter(Tal_Image* self, Tal_Image* anchor) {
    Tal_Image* parent = self->parent;
    if (!parent || anchor == self) return 0;
    Tal_Image* top = topOf(self);
    if (!Tal_LockImageA(top, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    bool ok = isLayerOf(parent, self) && (!anchor || isLayerOf(parent, anchor));
    if (ok) {
        Remove(&self->layer_node.node);
        Insert(&parent->layers, &self->layer_node.node, anchor ? &anchor->layer_node.node : nullptr);
    }
    Tal_UnlockImageA(top, TAL_LOCK_EXCLUSIVE, 0);
    if (!ok) return 0;
    if (self->kind == TAL_PAINT_LAYER) {
        Tal_DoAsyncImageMethod(parent, TAL_RecomposeLayer, self);
    } else {
        Tal_ProcessLayer(self, 0, 0, self->width - 1, self->height - 1);
        Tal_FullRedrawLayerChanges(self);
    }
    return 1;
}

// Recomposes the layer through its parent, asynchronously on the image thread.
void recomposeLayer(Tal_Image* self) {
    if (self->parent) Tal_DoAsyncImageMethod(self->parent, TAL_RecomposeLayer, self);
}

// The banded recomposite of a layer (the paint layer when none is named): band by band, announcing the
// layer changed, which recomposes the parent through its listener. A newer recompose of the same layer
// queued meanwhile supersedes it.
ULONG recompose(Tal_Image* self, Tal_Word arg) {
    while (self->redraw_busy.load() != 0) Delay(15);
    if (!Tal_LockImageA(self, TAL_LOCK_COMPOSE, 0)) return 0;
    Tal_Image* layer = arg ? reinterpret_cast<Tal_Image*>(arg) : self->paint_layer;
    if (arg && !isLayerOf(self, layer)) layer = nullptr;
    bool ok = allocated(self) && layer;
    LONG K = layer ? layer->height : 0;
    Tal_UnlockImageA(self, TAL_LOCK_COMPOSE, 0);
    if (!ok) return 0;
    LONG band = std::max<LONG>(10, K / 10);
    Tal_DoImageNotify(self, TAL_LongOperationStart, Tal_GetCatalogueText(501));
    Tal_DoLayerDoesntNeedsFixing(layer);
    self->recompose_arg = reinterpret_cast<Tal_Word>(layer);
    self->interruptible = 1;
    for (LONG u = 0; u < K; u += band) {
        if (!Tal_LockImageA(self, TAL_LOCK_COMPOSE, 0)) break;
        bool stop =
            Tal__NewerRecomposeWaiting(self) || !(arg ? isLayerOf(self, layer) : self->paint_layer == layer);
        if (!stop) {
            Tal__AnnounceImageChange(layer, TAL_CHANGE_REGION, 0, u, layer->width - 1,
                                     std::min(u + band - 1, K - 1));
            Tal_DoImageNotify(self, TAL_LongOperationProgress, u, K);
        }
        Tal_UnlockImageA(self, TAL_LOCK_COMPOSE, 0);
        if (stop) break;
    }
    self->interruptible = 0;
    self->recompose_arg = 0;
    Tal_DoImageNotify(self, TAL_LongOperationEnd);
    return 1;
}

// Fills the working planes (whole rows); a paint layer has its parent recompose, an image takes the new
// picture as its base.
ULONG fillData(Tal_Image* self, ULONG value) {
    if (!allocated(self)) return 0;
    size_t stride = Tal_ImageDataStride(self->width, 8);
    auto fill = [&](UBYTE** plane, UBYTE v) {
        if (plane) std::memset(plane[0], v, stride * size_t(self->height));
    };
    if (self->depth == 8) {
        fill(self->grey, UBYTE(value));
    } else if (self->depth == 24) {
        fill(self->red, UBYTE(value));
        fill(self->green, UBYTE(value >> 8));
        fill(self->blue, UBYTE(value >> 16));
    } else {
        return 0;
    }
    if (self->kind == TAL_PAINT_LAYER) {
        recomposeLayer(self);
    } else {
        Tal_CopyImageToUndoData(self, 0, 0, self->width - 1, self->height - 1, 0, 0);
        Tal_FullProcessImage(self);
        Tal_ModifiedAllImageData(self);
    }
    return 1;
}

// Moves the layer and restores what it covered, then recomposes the union of the two rectangles.
ULONG setLayerPosition(Tal_Image* self, LONG x, LONG y, LONG w, LONG h) {
    Tal_Image* parent = self->parent;
    LONG left = std::min<LONG>(self->layer_x, x), top = std::min<LONG>(self->layer_y, y);
    LONG right = std::max<LONG>(self->layer_x, x) + std::max<LONG>(self->layer_w, w);
    LONG bottom = std::max<LONG>(self->layer_y, y) + std::max<LONG>(self->layer_h, h);
    if (parent) {
        left = std::clamp<LONG>(left, 0, parent->width - 1);
        top = std::clamp<LONG>(top, 0, parent->height - 1);
        right = std::clamp<LONG>(right, 0, parent->width - 1);
        bottom = std::clamp<LONG>(bottom, 0, parent->height - 1);
        Tal_CopyUndoToImageData(parent, left, top, right, bottom, left, top);
    }
    self->layer_x = WORD(x);
    self->layer_y = WORD(y);
    self->layer_w = WORD(w);
    self->layer_h = WORD(h);
    if (self->kind == TAL_FLOATING_IMAGE) Tal_ModifiedLayer(self, 0, 0, self->width - 1, self->height - 1);
    if (parent) {
        Tal_ProcessImage(parent, left, top, right, bottom);
        Tal_ModifiedImageData(parent, left, top, right, bottom);
    }
    return 1;
}

void replaceLink(Tal_Image* self, Tal_Image*& link, Tal_Word& notify, Tal_Image* image, ULONG listener) {
    if (link && notify) Tal_RemoveNotify(handleOf(link), notify);
    link = image;
    notify = 0;
    if (image)
        notify =
            Tal_AddNotify(handleOf(image), TAL_ImageDataChanged, TAL_AnyValue, handleOf(self), 9, listener,
                          TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument,
                          TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument, TAL_TriggerArgument);
}

void tellParentAndBase(Tal_Image* self, ULONG id, Tal_Image* value) {
    if (self->parent) Tal_DoImageNotify(self->parent, id, value);
    Tal_ImageBase* base = engine();
    if (base && base->image_object && base->image_object != self->parent)
        Tal_DoImageNotify(base->image_object, id, value);
}

ULONG setMaskImage(Tal_Image* self, Tal_Word arg) {
    Tal_Image* mask = imageArg(arg);
    if (arg && !mask) return 0;
    replaceLink(self, self->mask_image, self->mask_notify, mask, TAL_MaskListener);
    if (mask) {
        self->mask_w = self->mask_full_w = WORD(mask->width);
        self->mask_h = self->mask_full_h = WORD(mask->height);
    }
    Tal_ProcessLayer(self, 0, 0, self->width - 1, self->height - 1);
    tellParentAndBase(self, TAL_SetMaskImage, mask);
    return 1;
}

ULONG setModeSource(Tal_Image* self, Tal_Word arg) {
    Tal_Image* source = imageArg(arg);
    if (arg && !source) return 0;
    replaceLink(self, self->mode_source_image, self->source_notify, source, TAL_SourceListener);
    if (source) {
        self->source_w = self->source_full_w = WORD(source->width);
        self->source_h = self->source_full_h = WORD(source->height);
    }
    if (self->mode && (Tal_DoMethod(self->mode, TAL_GetModeFlags) & TAL_ModeReadsSource)) {
        Tal_DoMethod(self->mode, TAL_SetModeSourceImage, source);
        recomposeLayer(self);
    }
    tellParentAndBase(self, TAL_SetModeSourceImage, source);
    return 1;
}

// Listener of a layer's changes: recompose this image over the layer's rectangle and announce it.
ULONG layerChanged(Tal_Image* self, const Tal_Word* args, bool toTop) {
    Tal_Image* top = topOf(self);
    ULONG type = ULONG(args[0]);
    auto* layer = reinterpret_cast<Tal_Image*>(args[1]);
    if (!top || top->notify_hold.load() > 0 || type > 2 || !isLayerOf(self, layer)) return 0;
    LONG x0 = LONG(args[2]) + layer->layer_x, y0 = LONG(args[3]) + layer->layer_y;
    LONG x1 = LONG(args[4]) + layer->layer_x, y1 = LONG(args[5]) + layer->layer_y;
    Tal_Image* target = self;
    if (toTop)
        for (; target->parent; target = target->parent) {
            x0 += target->layer_x;
            x1 += target->layer_x;
            y0 += target->layer_y;
            y1 += target->layer_y;
        }
    if (x1 < 0 || y1 < 0 || x0 >= target->width || y0 >= target->height) return 0;
    x0 = std::max<LONG>(x0, 0);
    y0 = std::max<LONG>(y0, 0);
    x1 = std::min<LONG>(x1, target->width - 1);
    y1 = std::min<LONG>(y1, target->height - 1);
    Tal_ProcessImage(target, x0, y0, x1, y1);
    Tal_ModifiedImageData(target, x0, y0, x1, y1);
    return 1;
}

ULONG maskChanged(Tal_Image* self, const Tal_Word* args) {
    ULONG type = ULONG(args[0]);
    if (reinterpret_cast<Tal_Image*>(args[1]) != self->mask_image) return 0;
    if (type == TAL_ImageDisposing) {
        // The mask's notifications go with it.
        self->mask_image = nullptr;
        self->mask_notify = 0;
        return 1;
    }
    if (type > 2) return 0;
    Tal__AnnounceImageChange(self, TAL_CHANGE_REGION, LONG(args[2]) + self->mask_x,
                             LONG(args[3]) + self->mask_y, LONG(args[4]) + self->mask_x,
                             LONG(args[5]) + self->mask_y);
    return 1;
}

ULONG sourceChanged(Tal_Image* self, const Tal_Word* args) {
    if (reinterpret_cast<Tal_Image*>(args[1]) != self->mode_source_image) return 0;
    if (ULONG(args[0]) == TAL_ImageDisposing) {
        self->mode_source_image = nullptr;
        self->source_notify = 0;
    }
    if (self->mode && (Tal_DoMethod(self->mode, TAL_GetModeFlags) & TAL_ModeReadsSource))
        Tal_DoMethodA(self->mode, TAL_SourceListener, args);
    return 1;
}

// ---------------------------------------------------------------------------------------------------
// Views.

Tal_ImageView* viewOf(ULONG handle) {
    return static_cast<Tal_ImageView*>(Tal_GetObjectInstance(handle));
}

ULONG openView(Tal_Image* self) {
    ULONG handle = Tal_CreateObject("ImageView");
    Tal_ImageView* view = handle ? viewOf(handle) : nullptr;
    if (!view) {
        Tal_DisposeObject(handle);
        return 0;
    }
    view->view_node.owner = view;
    Tal_DoMethod(handle, TAL_ViewSetImage, self);
    if (!Tal_LockImageA(self, TAL_LOCK_EXCLUSIVE, 0)) {
        Tal_DisposeObject(handle);
        return 0;
    }
    AddHead(&self->views, &view->view_node.node);
    self->first_view = view;
    Tal_UnlockImageA(self, TAL_LOCK_EXCLUSIVE, 0);
    Tal_DoMethod(handle, TAL_ShowView);
    return handle;
}

ULONG closeView(Tal_Image* self, ULONG handle) {
    Tal_ImageView* view = viewOf(handle);
    if (!view) return 0;
    Tal_ImageBase* base = engine();
    bool last = ListCount(&self->views) <= 1;
    if (last && base && base->are_you_sure && self->modified_count.load() > 0 &&
        !Tal_MessageBoxA("Velura", "Image has been modified, are you sure you want to close it?", 2))
        return 0;
    if (!Tal_LockImageA(self, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    bool linked = false;
    for (Tal_ImageNode* n : ListNodes<Tal_ImageNode>(&self->views))
        if (n == &view->view_node) linked = true;
    if (linked) {
        Tal__UnlinkView(self, view);
        if (IsListEmpty(&self->views)) view->dispose_image = 1;
    }
    Tal_UnlockImageA(self, TAL_LOCK_EXCLUSIVE, 0);
    if (linked) Tal_AsyncDisposeObject(handle);
    return 1;
}

// ---------------------------------------------------------------------------------------------------
// The image list and the engine-wide state.

ULONG addToList(Tal_Image* self) {
    Tal_ImageBase* base = engine();
    if (!base) return 0;
    bool added = false;
    {
        SemaphoreGuard guard(&base->listLock);
        if (!self->in_list && !self->layer_node.node.ln_Succ) {
            AddTail(&base->images, &self->layer_node.node);
            self->in_list = 1;
            added = true;
        }
    }
    if (added) notifyBoth(self, TAL_AddToImageList, self);
    return added ? 1 : 0;
}

ULONG setActiveImage(Tal_Image* self, Tal_Image* image) {
    Tal_ImageBase* base = engine();
    if (!base) return 0;
    {
        SemaphoreGuard guard(&base->listLock);
        if (base->active_image == image) return 1;
        base->active_image = image;
    }
    Tal_DoImageNotify(self, TAL_SetActiveImage, image);
    if (base->image_object && base->image_object != self)
        Tal_DoImageNotify(base->image_object, TAL_SetActiveImage, image);
    if (image && image != self && image != base->image_object)
        Tal_DoImageNotify(image, TAL_SetActiveImage, image);
    Tal_Image* layer = image ? image->current_layer : nullptr;
    Tal_Image* paint = image ? image->paint_layer : nullptr;
    Tal_DoImageNotify(base->image_object, TAL_SetCurrentLayer, layer);
    Tal_DoImageNotify(base->image_object, TAL_PaintLayerChanged, paint);
    if (image && image != base->image_object) {
        Tal_DoImageNotify(image, TAL_SetCurrentLayer, layer);
        Tal_DoImageNotify(image, TAL_PaintLayerChanged, paint);
    }
    return 1;
}

ULONG setGlobalComponent(int index, LONG value) {
    Tal_ImageBase* base = engine();
    if (!base) return 0;
    LONG* slot[3] = {&base->paint_red, &base->paint_green, &base->paint_blue};
    *slot[index] = std::clamp<LONG>(value, 0, 255);
    Tal_Image* active;
    {
        SemaphoreGuard guard(&base->listLock);
        active = base->active_image;
    }
    if (active && active->paint_layer)
        Tal_DoImageMethod(active->paint_layer, TAL_SetLayerRed + ULONG(index), *slot[index]);
    Tal_DoImageNotify(base->image_object, TAL_SetGlobalRed + ULONG(index), *slot[index]);
    return 1;
}

// One component of the layer colour; the other two come from the pending colour, which is what the
// layer is going to show.
ULONG setLayerComponent(Tal_Image* self, int index, LONG value) {
    UBYTE component = UBYTE(std::clamp<LONG>(value, 0, 255));
    if (self->pending_colour[index] == component) return 1;
    UBYTE colour[3] = {self->pending_colour[0], self->pending_colour[1], self->pending_colour[2]};
    colour[index] = component;
    return ULONG(Tal_DoImageMethod(self, TAL_SetLayerColour,
                                   ULONG(colour[0]) | ULONG(colour[1]) << 8 | ULONG(colour[2]) << 16));
}

ULONG packedPaintColour(const Tal_ImageBase* base) {
    return ULONG(base->paint_red & 0xFF) | ULONG(base->paint_green & 0xFF) << 8 |
           ULONG(base->paint_blue & 0xFF) << 16;
}

ULONG setGlobalColour(ULONG colour) {
    Tal_ImageBase* base = engine();
    if (!base) return 0;
    colour &= 0x00FFFFFF;
    if (colour == packedPaintColour(base)) return 1;
    base->paint_red = LONG(colour & 0xFF);
    base->paint_green = LONG((colour >> 8) & 0xFF);
    base->paint_blue = LONG((colour >> 16) & 0xFF);
    Tal_Image* active;
    {
        SemaphoreGuard guard(&base->listLock);
        active = base->active_image;
    }
    if (active && active->paint_layer)
        Tal_DoAsyncImageMethod(active->paint_layer, TAL_SetLayerColour, colour, 0);
    Tal_DoImageNotify(base->image_object, TAL_SetGlobalColourRGB, colour);
    return 1;
}

// A picture handed over by another copy of the program. Its record came from outside: the size and the
// length of the pixel data are checked before anything is made.
Tal_Image* newImageFromBitmap(Tal_BitmapRecord* record) {
    Tal_Image* image = nullptr;
    if (record && record->pixels && record->width >= 1 && record->width <= 32767 && record->height >= 1 &&
        record->height <= 32767) {
        uint64_t rowBytes = (uint64_t(record->width) * 3 + 3) & ~uint64_t(3);
        if (uint64_t(record->length) >= rowBytes * uint64_t(record->height))
            image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
        if (image && !Tal_AllocImage(image, record->width, record->height, 24, 0)) {
            Tal_DisposeObject(handleOf(image));
            image = nullptr;
        }
        if (image) {
            for (LONG y = 0; y < record->height; y++) {
                const UBYTE* row = record->pixels + size_t(record->height - 1 - y) * rowBytes;
                for (LONG x = 0; x < record->width; x++) {
                    image->blue[y][x] = row[3 * x];
                    image->green[y][x] = row[3 * x + 1];
                    image->red[y][x] = row[3 * x + 2];
                }
            }
            Tal_CopyImageToUndoData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
            addToList(image);
            Tal_DoImageMethod(image, TAL_NewLayer, TAL_PAINT_LAYER, 8, image->width, image->height);
            Tal_DoImageMethod(image, TAL_SetActiveImage, image);
            Tal_DoImageMethod(image, TAL_OpenView);
        }
    }
    Tal_FreeMem(record);
    return image;
}

// ---------------------------------------------------------------------------------------------------
// Files.

constexpr size_t kAuxPathSize = 260;
// The print saver is a program of its own; no class here answers to its word, so the save falls back.
constexpr const char* kPrintFormat = "Print";

const char* pathArg(Tal_Word w) {
    auto* path = reinterpret_cast<const char*>(w);
    return path && *path ? path : nullptr;
}

// The active image's first view, when the image shows one (else 0).
ULONG activeView(Tal_Image** active) {
    Tal_ImageBase* base = engine();
    *active = nullptr;
    if (!base) return 0;
    {
        SemaphoreGuard guard(&base->listLock);
        *active = base->active_image;
    }
    if (!*active || !Tal_LockImageA(*active, TAL_LOCK_READ, 0)) return 0;
    ULONG view = Tal_GetImageViewHandle((*active)->first_view);
    Tal_UnlockImageA(*active, TAL_LOCK_READ, 0);
    return view;
}

// With one image at a time the opened image takes the active image's place (see Tal__OpenInPlaceOfActive).
// Without a path the user chooses the file (browsing: among thumbnails).
Tal_Word openFile(const char* path, bool browse = false) {
    struct Request {
        const char* path;
        bool browse;
    } request{path, browse};
    return reinterpret_cast<Tal_Word>(Tal__OpenInPlaceOfActive(
        [](ULONG flags, void* user) {
            const auto* r = static_cast<const Request*>(user);
            const auto tags = Tal_MakeTags(TAL_TAG_BrowseImages, r->browse ? 1 : 0);
            return Tal__LoadImageA(r->path, 0, 0, flags, tags.data());
        },
        &request));
}

// Saves in the image's own format; without a path the user would name the file (the save requester).
ULONG saveFile(Tal_Image* self, const char* path, ULONG flags) {
    return Tal__SaveImageA(self, path, self->format_name, 0, flags, nullptr);
}

// The auxiliary image (the paper texture of the brushes) is loaded only, quietly. The load runs outside
// the lock; a file that does not load keeps the previous one.
ULONG loadAuxiliaryImage(Tal_Image* self, const char* path) {
    if (!path || strnlen(path, kAuxPathSize) >= kAuxPathSize) return 0;
    if (!Tal_LockImageA(self, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    bool same = self->extra_image && self->extra_image_path && std::strcmp(self->extra_image_path, path) == 0;
    Tal_UnlockImageA(self, TAL_LOCK_EXCLUSIVE, 0);
    if (same) return 1;
    Tal_Image* loaded = Tal__LoadImageA(path, 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY, nullptr);
    if (!loaded) return 0;
    ULONG previous = 0;
    bool stored = false;
    if (Tal_LockImageA(self, TAL_LOCK_EXCLUSIVE, 0)) {
        if (!self->extra_image_path) self->extra_image_path = static_cast<char*>(Tal_AllocMem(kAuxPathSize));
        if (self->extra_image_path) {
            std::snprintf(self->extra_image_path, kAuxPathSize, "%s", path);
            previous = self->extra_image;
            self->extra_image = handleOf(loaded);
            stored = true;
        }
        Tal_UnlockImageA(self, TAL_LOCK_EXCLUSIVE, 0);
    }
    Tal_DisposeObject(stored ? previous : handleOf(loaded));
    return stored ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// Attributes.

// A reduction r sets strength 256 − r; a change recomposes the layer.
ULONG setStrength(Tal_Image* self, UWORD& field, LONG reduction, bool tone) {
    UWORD value = UWORD(std::clamp<LONG>(256 - reduction, 0, 0xFFFF));
    if (value == field) return 1;
    field = value;
    if (tone) self->tone_table_dirty = 1;
    recomposeLayer(self);
    return 1;
}

LONG percent(Tal_Word w) {
    return LONG(w) * 256 / 100;
}

Tal_Word setFade(Tal_Image* self, LONG& field, LONG value) {
    if (field != value) {
        field = value;
        recomposeLayer(self);
    }
    return Tal_Word(intptr_t(field));
}

struct StrengthMethod {
    ULONG id;
    UWORD Tal_Image::*field;
    bool tone;
};
constexpr StrengthMethod strengthMethods[] = {
    {TAL_SetRedReduction, &Tal_Image::red_strength, false},
    {TAL_SetGreenReduction, &Tal_Image::green_strength, false},
    {TAL_SetBlueReduction, &Tal_Image::blue_strength, false},
    {TAL_SetHueReduction, &Tal_Image::hue_strength, false},
    {TAL_SetSaturationReduction, &Tal_Image::saturation_strength, false},
    {TAL_SetValueReduction, &Tal_Image::value_strength, false},
    {TAL_SetHighlightsReduction, &Tal_Image::highlights, true},
    {TAL_SetMidtonesReduction, &Tal_Image::midtones, true},
    {TAL_SetShadowsReduction, &Tal_Image::shadows, true},
};

} // namespace

// ---------------------------------------------------------------------------------------------------
// The class.

void* Tal_NewImageClass(const TagItem*) {
    Tal_ImageBase* base = engine();
    if (!base) return nullptr;
    auto* self = static_cast<Tal_Image*>(Tal_AllocObjectMem(&imageClass));
    if (!self) return nullptr;
    new (&self->process_enable) std::atomic<LONG>(1);
    new (&self->redraw_enable) std::atomic<LONG>(1);
    new (&self->notify_hold) std::atomic<LONG>(0);
    new (&self->interruptible) std::atomic<LONG>(0);
    new (&self->fix_count) std::atomic<LONG>(0);
    new (&self->restore_pending) std::atomic<LONG>(0);
    new (&self->redraw_busy) std::atomic<LONG>(0);
    new (&self->alloc_state) std::atomic<LONG>(0);
    new (&self->lock_count) std::atomic<LONG>(0);
    new (&self->modified_count) std::atomic<LONG>(0);
    new (&self->pins) std::atomic<LONG>(0);
    new (&self->thread_task) std::atomic<Task*>(nullptr);
    new (&self->thread_state) std::atomic<LONG>(0);
    self->header.superObject = Tal_CreateObject("Root");
    self->action_list = Tal_CreateObject("ListTree", TAL_SetGroupAlignment, 4);
    self->lock = Tal_AllocSemaphoreDebug(kLockTag, __LINE__);
    if (!self->header.superObject || !self->action_list || !self->lock) {
        Tal_DisposeObject(self->action_list);
        Tal_DisposeObject(self->header.superObject);
        Tal_FreeSemaphoreDebug(self->lock, kLockTag, __LINE__);
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    self->damage_rect = reinterpret_cast<Tal_Box*>(Tal_DoMethod(self->header.superObject, TAL_GetBox));
    std::snprintf(self->format_name, sizeof self->format_name, "%s", base->product_name);
    NewList(&self->layers);
    NewList(&self->views);
    self->layer_node.owner = self;
    self->registry_node.owner = self;
    self->thread_entry = imageThread;
    InitSemaphore(&self->compose_lock);
    self->visible = 1;
    SemaphoreGuard guard(&base->listLock);
    AddTail(&base->registry, &self->registry_node.node);
    return self;
}

void Tal_DisposeImageClass(void* instance) {
    Tal_Image* self = of(instance);
    if (!onOwnThread(self)) {
        disposeImage(self);
        return;
    }
    Tal_GlobalData* gd = Tal_GetGlobalData();
    gd->pendingDisposals++;
    if (!CreateNewProcTags(NP_Entry, disposeInBackground, NP_Name, "Image Disposal", NP_UserData, self)) {
        gd->pendingDisposals--;
        KPutStr("Image: no thread for the disposal of an image; it stays in memory\n");
    }
}

Tal_Word Tal_DoImageMethodA(void* instance, ULONG id, const Tal_Word* args) {
    Tal_Image* self = of(instance);
    Tal_ImageBase* base = engine();
    for (const StrengthMethod& m : strengthMethods) {
        if (id == m.id) return setStrength(self, self->*m.field, LONG(args[0]), m.tone);
        if (id == m.id - 10) return setStrength(self, self->*m.field, percent(args[0]), m.tone);
    }
    switch (id) {
    case TAL_SetImageWidth:
        if (!allocated(self)) self->width = LONG(args[0]);
        return 1;
    case TAL_SetImageHeight:
        if (!allocated(self)) self->height = LONG(args[0]);
        return 1;
    case TAL_SetImageDepth:
        if (!allocated(self)) self->depth = LONG(args[0]);
        return 1;
    case TAL_SetImageKind:
        if (!allocated(self)) self->kind = LONG(args[0]);
        return 1;
    case TAL_Start:
        if (allocated(self)) return 1;
        return Tal_AllocImage(self, self->width, self->height, self->depth, 0) ? 1 : 0;
    case TAL_Stop:
        disposeObject(self, handleOf(self));
        return 1;
    case TAL_DrawObject:
        Tal_DoMethodA(self->header.superObject, id, args);
        Tal__RedrawInViews(self, TAL_CHANGE_ALL, 0, 0, self->width - 1, self->height - 1);
        return 0;
    case TAL_DrawObjectRect:
        Tal_DoMethodA(self->header.superObject, id, args);
        Tal__RedrawInViews(self, TAL_CHANGE_REGION, LONG(args[0]), LONG(args[1]), LONG(args[2]),
                           LONG(args[3]));
        return 0;
    case TAL_HandleIDCMP:
        if (base && base->current_tool)
            return Tal_DoMethod(base->current_tool, TAL_HandleToolInput, self, args[0]);
        return 2;
    case TAL_AskMinMax: {
        Tal_Box* box = self->damage_rect;
        if (box) {
            box->x = box->y = 0;
            box->minWidth = box->minHeight = 0;
            box->width = box->maxWidth = WORD(std::clamp<LONG>(self->width, 0, 32767));
            box->height = box->maxHeight = WORD(std::clamp<LONG>(self->height, 0, 32767));
        }
        return 0;
    }
    case TAL_Pressed:
    case TAL_Released:
    case TAL_GadgetEvent3:
    case TAL_GadgetEvent4:
        return 0;
    case TAL_GetImageRecord:
        return reinterpret_cast<Tal_Word>(self);
    case TAL_RecomposeLayer:
        return recompose(self, args[0]);
    case TAL_GetLayerMode:
        return reinterpret_cast<Tal_Word>(self->mode_name);
    case TAL_GetGlobalImageMediaName:
        return base ? reinterpret_cast<Tal_Word>(base->preset_name) : 0;
    case TAL_SetImageMedia:
        return Tal__SetImageMedia(self, ULONG(args[0]));
    case TAL_SetGlobalImageMediaName:
        return Tal__ChooseMediaPreset(self, reinterpret_cast<const char*>(args[0]));
    case TAL_SetTransparencyPercent:
    case TAL_SetTransparency: {
        LONG t = id == TAL_SetTransparencyPercent ? percent(args[0]) : LONG(args[0]);
        UWORD opacity = UWORD(std::clamp<LONG>(256 - t, 0, 256));
        if (opacity != self->opacity) {
            self->opacity = opacity;
            recomposeLayer(self);
        }
        return 1;
    }
    case TAL_NewLayer:
        return reinterpret_cast<Tal_Word>(
            newLayer(self, LONG(args[0]), LONG(args[1]), LONG(args[2]), LONG(args[3])));
    case TAL_AddLayer:
        return addLayer(self, reinterpret_cast<Tal_Image*>(args[0]));
    case TAL_RemoveLayer:
        return removeLayer(self, reinterpret_cast<Tal_Image*>(args[0]));
    case TAL_SetCurrentLayer:
        return setCurrentLayer(self, reinterpret_cast<Tal_Image*>(args[0]));
    case TAL_SetParentImage:
        self->parent = reinterpret_cast<Tal_Image*>(args[0]);
        return 1;
    case TAL_ClearImageData:
        return fillData(self, 0);
    case TAL_FillImageData:
        return fillData(self, ULONG(args[0]));
    case TAL_SetModeSourceImage:
        return setModeSource(self, args[0]);
    case TAL_SetMaskImage:
        return setMaskImage(self, args[0]);
    case TAL_SetSourcePlacement:
        self->source_x = WORD(args[0]);
        self->source_y = WORD(args[1]);
        self->source_w = WORD(args[2]);
        self->source_h = WORD(args[3]);
        recomposeLayer(self);
        return 1;
    case TAL_SetMaskPlacement:
        self->mask_x = WORD(args[0]);
        self->mask_y = WORD(args[1]);
        self->mask_w = WORD(args[2]);
        self->mask_h = WORD(args[3]);
        return setLayerPosition(self, self->layer_x, self->layer_y, self->layer_w, self->layer_h);
    case TAL_SetLayerPosition:
        return setLayerPosition(self, WORD(args[0]), WORD(args[1]), WORD(args[2]), WORD(args[3]));
    case TAL_LayerToTop:
        return next_layer(self) ? moveLayerAfter(self, last_layer(self->parent)) : 0;
    case TAL_LayerUp: {
        Tal_Image* next = next_layer(self);
        return next ? moveLayerAfter(self, next) : 0;
    }
    case TAL_LayerDown: {
        Tal_Image* prev = prev_layer(self);
        return prev ? moveLayerAfter(self, prev_layer(prev)) : 0;
    }
    case TAL_LayerToBottom:
        return prev_layer(self) ? moveLayerAfter(self, nullptr) : 0;
    case TAL_MoveLayerAfter:
        return moveLayerAfter(self, reinterpret_cast<Tal_Image*>(args[0]));
    case TAL_ImageDataChanged:
        return 0;
    case TAL_PaintLayerListener:
        return layerChanged(self, args, false);
    case TAL_FloatingListener:
        return layerChanged(self, args, true);
    case TAL_MaskListener:
        return maskChanged(self, args);
    case TAL_SourceListener:
        return sourceChanged(self, args);
    case TAL_ShowLayer:
        self->visible = 1;
        Tal__AnnounceImageChange(self, TAL_CHANGE_ALL, 0, 0, self->width - 1, self->height - 1);
        return 1;
    case TAL_HideLayer:
        self->visible = 0;
        // The image that composes the layer gets its base back over the layer (rows no other layer
        // touches are not rewritten by composing); for a layer of a floating image that is the floating
        // image, whose change then recomposes the top image.
        if (Tal_Image* parent = self->parent) {
            LONG x = self->layer_x, y = self->layer_y;
            Tal_CopyUndoToImageData(parent, x, y, x + self->layer_w - 1, y + self->layer_h - 1, x, y);
        }
        Tal__AnnounceImageChange(self, TAL_CHANGE_ALL, 0, 0, self->width - 1, self->height - 1);
        return 1;
    case TAL_ShowView:
    case TAL_HideViewRequest:
        return Tal_DoMethod(ULONG(args[0]), id);
    case TAL_ActivateAndShow:
        setActiveImage(self, self);
        if (self->first_view) Tal_DoMethod(Tal_GetImageViewHandle(self->first_view), TAL_ShowView);
        return 1;
    case TAL_HideView:
        if (self->first_view) Tal_DoMethod(Tal_GetImageViewHandle(self->first_view), TAL_HideViewRequest);
        return 1;
    case TAL_OpenView:
        return openView(self);
    case TAL_CloseView:
        return closeView(self, ULONG(args[0]));
    case TAL_ImageNothing:
        return 1;
    case TAL_SetFadeShape:
        return setFade(self, self->fade_shape, LONG(args[0]));
    case TAL_GetFadeShape:
        return Tal_Word(intptr_t(self->fade_shape));
    case TAL_SetFadeSize:
        return setFade(self, self->fade_size, LONG(args[0]));
    case TAL_GetFadeSize:
        return Tal_Word(intptr_t(self->fade_size));
    case TAL_SetFadeSoftness:
        return setFade(self, self->fade_softness, LONG(args[0]));
    case TAL_GetFadeSoftness:
        return Tal_Word(intptr_t(self->fade_softness));
    case TAL_SetFadeInvert:
        return setFade(self, self->fade_invert, LONG(args[0]));
    case TAL_GetFadeInvert:
        return Tal_Word(intptr_t(self->fade_invert));
    case TAL_LoadFileAsLayer:
        return reinterpret_cast<Tal_Word>(Tal__LoadFileAsLayer(self, pathArg(args[0]), 0));
    case TAL_LoadAuxiliaryImage:
        return loadAuxiliaryImage(self, pathArg(args[0]));
    case TAL_OpenImageFile:
    case TAL_BrowseImages:
        return openFile(pathArg(args[0]), id == TAL_BrowseImages);
    case TAL_SaveImage:
        if (self->file_path[0]) return saveFile(self, self->file_path, 0);
        return Tal__SaveImageA(self, nullptr, base ? base->product_name : nullptr, 0, 0, nullptr);
    // Save as and save a copy take the path the requester would give (0: ask for it).
    case TAL_SaveImageAs:
        return saveFile(self, pathArg(args[0]), 0);
    case TAL_SaveImageCopy:
        return saveFile(self, pathArg(args[0]), TAL_SAVE_COPY);
    case TAL_PrintImage:
        return Tal__SaveImageA(self, nullptr, kPrintFormat, 0, 0, nullptr);
    case TAL_AddToImageList:
        return addToList(self);
    case TAL_RemoveFromImageList:
        removeFromList(self);
        return 1;
    case TAL_SetActiveImage:
        return setActiveImage(self, reinterpret_cast<Tal_Image*>(args[0]));
    case TAL_SetLayerRed:
    case TAL_SetLayerGreen:
    case TAL_SetLayerBlue:
        return setLayerComponent(self, int(id - TAL_SetLayerRed), LONG(args[0]));
    case TAL_SetGlobalRed:
    case TAL_SetGlobalGreen:
    case TAL_SetGlobalBlue:
        return setGlobalComponent(int(id - TAL_SetGlobalRed), LONG(args[0]));
    case TAL_SetGlobalColourRGB:
        return setGlobalColour(ULONG(args[0]));
    case TAL_GetGlobalColourRGB:
        return base ? packedPaintColour(base) : 0;
    case TAL_NewImageFromBitmap:
        return reinterpret_cast<Tal_Word>(newImageFromBitmap(reinterpret_cast<Tal_BitmapRecord*>(args[0])));
    case TAL_ViewSetMagnification:
    case TAL_ViewFit:
        Delay(10);
        return self->first_view ? Tal_DoMethodA(Tal_GetImageViewHandle(self->first_view), id, args) : 0;
    case TAL_DisposeObjectLater:
        Delay(10);
        disposeObject(self, ULONG(args[0]));
        return 1;
    case TAL_QuitRequest: {
        const bool quit = Tal_MessageBoxA("Velura", Tal_GetCatalogueText(24), 2);
        // Close requests made while the question was open are answered by it.
        Tal__DropAsyncMessages(portOf(self), TAL_QuitRequest);
        if (!quit) return 0;
        return base ? Tal_DoMethod(base->app_object, TAL_Stop) : 0;
    }
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

// The new image is made before the active image's view is closed, so that one that is not made (or a
// refused close) costs nothing.
Tal_Image* Tal__OpenInPlaceOfActive(Tal_Image* (*make)(ULONG flags, void* user), void* user) {
    Tal_ImageBase* base = engine();
    Tal_Image* active = nullptr;
    ULONG view = base && base->single_image ? activeView(&active) : 0;
    if (!view) return make(0, user);
    Tal_Image* image = make(TAL_LOAD_NO_VIEW, user);
    if (!image) return nullptr;
    if (!Tal_DoImageMethod(active, TAL_CloseView, view)) {
        // The new image may have become active with its first layer: the old one gets its place back.
        Tal_DoImageMethod(active, TAL_SetActiveImage, active);
        Tal_DisposeObject(handleOf(image));
        return nullptr;
    }
    Tal_DoImageMethod(image, TAL_OpenView);
    Tal_DoImageMethod(image, TAL_SetActiveImage, image);
    return image;
}

ULONG Tal_CheckImageMsgPort(Tal_Image* image, Tal_Word) {
    Tal_Image* top = topOf(image);
    MsgPort* port = top ? top->thread_port : nullptr;
    if (!port) return 0;
    Forbid();
    bool waiting = !IsListEmpty(&port->mp_MsgList);
    Permit();
    return waiting ? 1 : 0;
}

ULONG Tal_InitImageClass() {
    return Tal__SetupClass(&imageClass, "Image", 0x00100000, "Root", Tal_NewImageClass, Tal_DisposeImageClass,
                           Tal_DoImageMethodA, nullptr, sizeof(Tal_Image));
}

void Tal_CleanupImageClass() {
    Tal__CleanupClass(&imageClass);
}
