// ImageMedia: stamps a picture instead of laying coverage. Its brush is a scaled copy of the layer's
// source image (or of the picture itself), merged straight into the picture's working planes, through
// the mask of the source's current layer when it has one. Its size is a percentage of that picture.
#include "media/Media.h"

#include <algorithm>
#include <cstring>

namespace {

Tal_Class imageMediaClass;

// The size a new image medium stamps at, in percent of the stamp picture, until one is set.
constexpr LONG kDefaultPercent = 25;

struct ImageMediaInstance {
    Tal_Object header;
    LONG percent; // the size as set
};

ImageMediaInstance* of(void* instance) {
    return static_cast<ImageMediaInstance*>(instance);
}

// The brush size for a percentage: of the master's width when there is a master, else the value itself.
LONG pixelsFor(const Tal_Media* media, LONG percent) {
    if (!media->master_image) return percent;
    return LONG(ULONG(media->master_image->width) * ULONG(percent) / 100u);
}

void setSize(ImageMediaInstance* self, Tal_Media* media, LONG percent) {
    self->percent = percent;
    Tal_DoMethod(self->header.superObject, TAL_SetMediaSize, pixelsFor(media, percent));
}

// The stamp follows the layer: its source image, else the picture itself. A new stamp picture is lent
// to the engine as master (with the mask of its current layer as alpha) and the brush is scaled again.
void followStamp(ImageMediaInstance* self, Tal_Media* media, Tal_Image* top, Tal_Image* layer) {
    Tal_Image* source = layer->mode_source_image;
    Tal_Image* stamp = source ? source : top;
    Tal_Image* alpha = source && source->current_layer ? source->current_layer->mask_image : nullptr;
    if (stamp == media->master_image && alpha == media->master_alpha_image) return;
    const ULONG outer = Tal_GetTopMostObject(self->header.handle);
    Tal_DoMethod(outer, TAL_SetMasterMediaImage, stamp);
    Tal_DoMethod(outer, TAL_SetMasterMediaAlphaImage, alpha);
    setSize(self, media, self->percent);
}

Tal_Word imageDab(ImageMediaInstance* self, const Tal_Word* args) {
    Tal_Media* media = Tal__GetMedia(self->header.superObject);
    auto* top = reinterpret_cast<Tal_Image*>(args[1]);
    auto* layer = reinterpret_cast<Tal_Image*>(args[2]);
    const LONG kind = LONG(args[3]);
    const ULONG flags = ULONG(args[4]);
    const LONG x = LONG(args[5]), y = LONG(args[6]);
    const auto* pen = reinterpret_cast<const TalTabletData*>(args[7]);
    if (!media || !top || !layer || kind == 0) return 0;
    if (top->depth != 24 || !top->red || !top->green || !top->blue || top->alloc_state.load() != 1) return 0;
    SemaphoreGuard guard(&media->lock);
    followStamp(self, media, top, layer);
    if (!media->brush_image) Tal_DoMethod(self->header.superObject, TAL_SetMediaSize, media->width);
    const Tal_Image* brush = media->brush_image;
    const Tal_Image* alpha = media->alpha_image;
    if (!brush || brush->depth != 24) return 0;
    // Erasing restores the picture through the alpha; without one there is nothing to restore through.
    if (kind != 1 && (!alpha || !top->base_red)) return 0;

    LONG g = media->pressure;
    if (kind == 1 && pen)
        g = std::min<LONG>(255, std::max<LONG>(0, LONG(int8_t(pen->word >> 24)) + 88) * g / 255);
    g = std::min<LONG>(g, 255);

    // Half-open rectangle, within the layer and the picture.
    const LONG left0 = x - media->width / 2, top0 = y - media->height / 2;
    const LONG l = std::max<LONG>(left0, 0), t = std::max<LONG>(top0, 0);
    const LONG r = std::min({left0 + media->width, layer->width, top->width});
    const LONG b = std::min({top0 + media->height, layer->height, top->height});
    if (l >= r || t >= b) return 0;
    const LONG n = r - l, o = l - left0;
    UBYTE** out[3] = {top->red, top->green, top->blue};
    UBYTE** base[3] = {top->base_red, top->base_green, top->base_blue};
    UBYTE** stamp[3] = {brush->red, brush->green, brush->blue};
    UBYTE** weight[3] = {};
    if (alpha) {
        weight[0] = alpha->red;
        weight[1] = alpha->green;
        weight[2] = alpha->blue;
    }
    for (LONG py = t; py < b; py++) {
        const LONG i = py - top0;
        for (int c = 0; c < 3; c++) {
            UBYTE* dst = out[c][py] + l;
            if (kind != 1)
                MergeDataViaAlphaAndTrans(dst, base[c][py] + l, weight[c][i] + o, g, n);
            else if (alpha)
                MergeDataViaAlphaAndTrans(dst, stamp[c][i] + o, weight[c][i] + o, g, n);
            else if (g >= 255)
                std::memcpy(dst, stamp[c][i] + o, size_t(n));
            else
                Tal__MergeByteArray(dst, stamp[c][i] + o, n, g);
        }
    }
    // The working planes now hold stamped pixels that compositing must not overwrite.
    top->restore_pending++;
    Tal__NoteMediaChange(media, top, l, t, r - 1, b - 1);
    if (!(flags & TAL_STROKE_QUIET))
        Tal_ModifiedImageData(layer->parent ? layer->parent : top, l, t, r - 1, b - 1);
    return 1;
}

} // namespace

void* Tal_NewImageMediaClass(const TagItem*) {
    auto* self = of(Tal_AllocObjectMem(&imageMediaClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("RootMedia", TAL_SetMediaImageMode, 1);
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    self->percent = kDefaultPercent;
    return self;
}

void Tal_DisposeImageMediaClass(void* instance) {
    auto* self = of(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoImageMediaClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = of(instance);
    switch (id) {
    case TAL_SetMediaSize:
        if (Tal_Media* media = Tal__GetMedia(self->header.superObject)) {
            SemaphoreGuard guard(&media->lock);
            setSize(self, media, LONG(args[0]));
        }
        return 0;
    case TAL_GetMediaSize:
        return Tal_Word(intptr_t(self->percent));
    case TAL_MediaStroke:
        if (ULONG(args[0]) == TAL_MEDIA_DAB) return imageDab(self, args);
        return Tal_DoMethodA(self->header.superObject, id, args);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitImageMediaClass() {
    return Tal__SetupClass(&imageMediaClass, "ImageMedia", TAL_IMAGE_MEDIA_CLASS, "RootMedia",
                           Tal_NewImageMediaClass, Tal_DisposeImageMediaClass, Tal_DoImageMediaClassMethod,
                           nullptr, sizeof(ImageMediaInstance));
}

void Tal_CleanupImageMediaClass() {
    Tal__CleanupClass(&imageMediaClass);
}
