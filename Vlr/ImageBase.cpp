// The global state of the image engine: the image list, the registry of live images, the active image,
// the engine-wide image object and the defaults.
#include "Vlr/Vlr.h"

#include <cstdio>
#include <mutex>
#include <new>

namespace {

std::mutex openLock;

// Notification target codes that name the current image and layer.
ULONG resolveImageTarget(ULONG code) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base) return 0;
    SemaphoreGuard guard(&base->listLock);
    Tal_Image* image = base->active_image;
    if (!image) return 0;
    if (code == TAL_TARGET_IMAGE) return image->header.handle;
    Tal_Image* layer = image->current_layer;
    if (!layer) return 0;
    if (code == TAL_TARGET_INNER_LAYER && layer->current_layer) layer = layer->current_layer;
    return layer->header.handle;
}

} // namespace

Tal_ImageBase* Tal_GetImageBase() {
    return static_cast<Tal_ImageBase*>(Tal_GetGlobalData()->imageBase);
}

Tal_ImageBase* Tal__OpenImageEngine() {
    std::lock_guard guard(openLock);
    Tal_GlobalData* gd = Tal_GetGlobalData();
    if (auto* base = static_cast<Tal_ImageBase*>(gd->imageBase)) {
        base->count++;
        return base;
    }
    auto* base = static_cast<Tal_ImageBase*>(Tal_AllocMemClear(sizeof(Tal_ImageBase)));
    if (!base) return nullptr;
    new (&base->live_redo) std::atomic<LONG>(0);
    NewList(&base->images);
    NewList(&base->registry);
    InitSemaphore(&base->listLock);
    InitSemaphore(&base->redraw_lock);
    base->paint_red = 100;
    base->paint_green = 177;
    base->paint_blue = 255;
    std::snprintf(base->default_mode_name, sizeof base->default_mode_name, "%s", TAL_PAINT_MODE_NAME);
    std::snprintf(base->default_media_name, sizeof base->default_media_name, "AirBrush");
    std::snprintf(base->product_name, sizeof base->product_name, "Velura");
    base->thumb_width = 50;
    base->thumb_height = 39;
    base->redraw_lines = 32;
    base->single_image = 1;
    base->are_you_sure = 1;
    base->max_undo_size = 1;
    base->count = 1;
    gd->imageBase = base;
    Tal__SetImageTargetResolver(resolveImageTarget);

    auto* object = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    if (!object || !Tal_AllocImage(object, 8, 8, 24, 0)) {
        if (object) Tal_DisposeObject(object->header.handle);
        Tal__SetImageTargetResolver(nullptr);
        gd->imageBase = nullptr;
        CleanupSemaphore(&base->redraw_lock);
        CleanupSemaphore(&base->listLock);
        Tal_FreeMem(base);
        return nullptr;
    }
    base->image_object = object;
    return base;
}

void Tal__CloseImageEngine() {
    std::lock_guard guard(openLock);
    Tal_GlobalData* gd = Tal_GetGlobalData();
    auto* base = static_cast<Tal_ImageBase*>(gd->imageBase);
    if (!base || --base->count > 0) return;
    Tal__DisposeMediaPresets();
    // Images still open go first, then the hub; layers go with their images.
    for (;;) {
        Tal_Image* image;
        {
            SemaphoreGuard list(&base->listLock);
            image = first_image(base);
        }
        if (!image) break;
        Tal_DisposeObject(image->header.handle);
    }
    if (base->image_object) Tal_DisposeObject(base->image_object->header.handle);
    base->image_object = nullptr;
    // Background disposals of images must end while the engine still exists.
    while (gd->pendingDisposals.load() > 0) Delay(1);
    for (;;) {
        ULONG handle = 0;
        {
            SemaphoreGuard list(&base->listLock);
            for (Tal_ImageNode* n : ListNodes<Tal_ImageNode>(&base->registry)) {
                auto* image = static_cast<Tal_Image*>(n->owner);
                if (!image->parent) {
                    handle = image->header.handle;
                    break;
                }
            }
        }
        if (!handle) break;
        Tal_DisposeObject(handle);
    }
    Tal__SetImageTargetResolver(nullptr);
    gd->imageBase = nullptr;
    CleanupSemaphore(&base->redraw_lock);
    CleanupSemaphore(&base->listLock);
    Tal_FreeMem(base);
}
