// Copies of images with their layers: flat copies (the picture without its unfixed paint, no base planes,
// no thread) and full copies (everything, a new image in the list with a view of its own).
#include "Vlr/Vlr.h"

#include <algorithm>
#include <cstring>

namespace {

template <typename T>
void copyPlane(T** to, T** from, LONG rows, size_t bytes) {
    if (!to || !from) return;
    for (LONG y = 0; y < rows; y++) std::memcpy(to[y], from[y], bytes);
}

void copyPixels(Tal_Image* copy, Tal_Image* image, bool flat) {
    LONG h = image->height;
    size_t bytes8 = size_t(image->width), bytesF = size_t(image->width) * sizeof(float);
    if (flat) {
        // The picture without unfixed paint: the base planes when there are some.
        bool base24 = image->base_red && image->base_green && image->base_blue;
        copyPlane(copy->red, base24 ? image->base_red : image->red, h, bytes8);
        copyPlane(copy->green, base24 ? image->base_green : image->green, h, bytes8);
        copyPlane(copy->blue, base24 ? image->base_blue : image->blue, h, bytes8);
        copyPlane(copy->grey, image->base_grey ? image->base_grey : image->grey, h, bytes8);
        bool baseF = image->base_fred && image->base_fgreen && image->base_fblue;
        copyPlane(copy->fred, baseF ? image->base_fred : image->fred, h, bytesF);
        copyPlane(copy->fgreen, baseF ? image->base_fgreen : image->fgreen, h, bytesF);
        copyPlane(copy->fblue, baseF ? image->base_fblue : image->fblue, h, bytesF);
        copyPlane(copy->fgrey, image->base_fgrey ? image->base_fgrey : image->fgrey, h, bytesF);
        return;
    }
    for (auto [to, from] : {std::pair{copy->red, image->red},
                            {copy->green, image->green},
                            {copy->blue, image->blue},
                            {copy->grey, image->grey},
                            {copy->base_red, image->base_red},
                            {copy->base_green, image->base_green},
                            {copy->base_blue, image->base_blue},
                            {copy->base_grey, image->base_grey}})
        copyPlane(to, from, h, bytes8);
    for (auto [to, from] : {std::pair{copy->fred, image->fred},
                            {copy->fgreen, image->fgreen},
                            {copy->fblue, image->fblue},
                            {copy->fgrey, image->fgrey},
                            {copy->base_fred, image->base_fred},
                            {copy->base_fgreen, image->base_fgreen},
                            {copy->base_fblue, image->base_fblue},
                            {copy->base_fgrey, image->base_fgrey}})
        copyPlane(to, from, h, bytesF);
    // The working planes take the undo data back: the copy composes its own paint.
    Tal_CopyUndoToImageData(copy, 0, 0, copy->width - 1, copy->height - 1, 0, 0);
}

void copyPlacement(Tal_Image* copy, const Tal_Image* image) {
    copy->layer_x = image->layer_x;
    copy->layer_y = image->layer_y;
    copy->layer_w = image->layer_w;
    copy->layer_h = image->layer_h;
    copy->orig_w = image->orig_w;
    copy->orig_h = image->orig_h;
    copy->source_x = image->source_x;
    copy->source_y = image->source_y;
    copy->source_w = image->source_w;
    copy->source_h = image->source_h;
    copy->source_full_w = image->source_full_w;
    copy->source_full_h = image->source_full_h;
    copy->mask_x = image->mask_x;
    copy->mask_y = image->mask_y;
    copy->mask_w = image->mask_w;
    copy->mask_h = image->mask_h;
    copy->mask_full_w = image->mask_full_w;
    copy->mask_full_h = image->mask_full_h;
}

void copyExtents(Tal_Image* copy, const Tal_Image* image) {
    if (!copy->row_min_x || !image->row_min_x) return;
    size_t n = size_t(image->height + 4) * sizeof(LONG);
    std::memcpy(copy->row_min_x, image->row_min_x, n);
    std::memcpy(copy->row_max_x, image->row_max_x, n);
}

Tal_Image* copyImage(Tal_Image* image, ULONG flags, Tal_Image* top);

// Copies the layers of `image` into `copy`, in order.
bool copyLayers(Tal_Image* copy, Tal_Image* image, ULONG flags, Tal_Image* top) {
    bool flat = flags & 1;
    for (Tal_Image* layer = first_layer(image); layer; layer = next_layer(layer)) {
        Tal_Image* made = copyImage(layer, flags, top);
        if (!made) return false;
        made->top_image = top;
        if (!Tal_DoImageMethod(copy, TAL_AddLayer, made)) {
            Tal_DisposeObject(made->header.handle);
            return false;
        }
        Tal_DoImageMethod(copy, TAL_SetCurrentLayer, made);
        // Adding gives a layer the paint colour; the copy keeps its own.
        std::memcpy(made->layer_colour, layer->layer_colour, 3);
        std::memcpy(made->pending_colour, layer->pending_colour, 3);
        made->visible = layer->visible;
        if (!flat && layer->kind == TAL_PAINT_LAYER) {
            if (layer->mode_name[0] && Tal_SelectLayerMode(made, layer->mode_name))
                Tal_DoLayerDoesntNeedsFixing(made);
            if (layer->pending_mode_name[0] && std::strcmp(layer->pending_mode_name, layer->mode_name) != 0)
                Tal_SelectLayerMode(made, layer->pending_mode_name);
            std::memcpy(made->mode_name, layer->mode_name, sizeof made->mode_name);
            std::memcpy(made->pending_mode_name, layer->pending_mode_name, sizeof made->pending_mode_name);
            std::memcpy(made->layer_colour, layer->layer_colour, 3);
            std::memcpy(made->pending_colour, layer->pending_colour, 3);
        }
    }
    if (Tal_Image* current = image->current_layer) {
        // The copy's current layer is the one in the same place.
        Tal_Image* a = first_layer(image);
        Tal_Image* b = first_layer(copy);
        for (; a && b && a != current; a = next_layer(a), b = next_layer(b)) {
        }
        if (a && b) Tal_DoImageMethod(copy, TAL_SetCurrentLayer, b);
    }
    return true;
}

Tal_Image* copyImage(Tal_Image* image, ULONG flags, Tal_Image* top) {
    bool flat = flags & 1;
    if (!Tal_LockImageA(image, TAL_LOCK_READ, 0)) return nullptr;
    auto* copy = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, image->kind));
    bool ok = copy && Tal_AllocImage(copy, image->width, image->height, image->depth, flat ? 3 : 0);
    if (ok) {
        if (!top) top = copy;
        copyPixels(copy, image, flat);
        std::memcpy(copy->layer_colour, image->layer_colour, 3);
        std::memcpy(copy->pending_colour, image->pending_colour, 3);
        copy->opacity = image->opacity;
        copy->visible = image->visible;
        ok = copyLayers(copy, image, flags, top);
    }
    if (ok && image->kind == TAL_PAINT_LAYER) {
        copyPlacement(copy, image);
        copyExtents(copy, image);
        if (!flat) {
            if (image->mode_source_image)
                Tal_DoImageMethod(copy, TAL_SetModeSourceImage, image->mode_source_image);
            if (image->mask_image) Tal_DoImageMethod(copy, TAL_SetMaskImage, image->mask_image);
            copyPlacement(copy, image);
        }
    } else if (ok && image->kind == TAL_FLOATING_IMAGE) {
        copyPlacement(copy, image);
        copyExtents(copy, image);
        if (image->alpha_child) {
            Tal_Image* alpha = copyImage(image->alpha_child, flags, top);
            ok = alpha != nullptr;
            if (ok) {
                alpha->parent = copy;
                copy->alpha_child = alpha;
            }
        }
    }
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    if (!ok) {
        if (copy) Tal_DisposeObject(copy->header.handle);
        return nullptr;
    }
    return copy;
}

} // namespace

Tal_Image* Tal__CopyImage(Tal_Image* image, ULONG flags) {
    if (!image) return nullptr;
    Tal_Image* copy = copyImage(image, flags, nullptr);
    if (copy && !(flags & 1) && image->kind == TAL_IMAGE) {
        copy->media = image->media;
        Tal_DoImageMethod(copy, TAL_AddToImageList);
        Tal_FullProcessImage(copy);
        Tal_DoImageMethod(copy, TAL_OpenView);
    }
    return copy;
}
