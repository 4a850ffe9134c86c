// Image records and their planes: allocation and release, depth change, the image lock, navigation,
// palettes and the size texts of information displays.
#include "Vlr/Vlr.h"
#include "host/dos.h"
#include "host/hugepages.h"

#include <cstring>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr const char* kLockTag = "Vlr/lib/util";
constexpr LONG kMaxSide = 32767;
// Planes carry a few rows more than the image (scratch and spare lines).
constexpr LONG kMaxRows = kMaxSide + 8;

std::atomic<LONG> planeFailAfter{-1};

bool injectedFailure() {
    LONG n = planeFailAfter.load();
    while (n >= 0)
        if (planeFailAfter.compare_exchange_weak(n, n - 1)) return n == 0;
    return false;
}

size_t bytesPerSample(LONG depth) {
    switch (depth) {
    case 8:
        return 1;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

// One zeroed block: the row table (rounded up to 8 bytes), then the rows, each `stride` bytes.
template <typename T>
T** allocPlane(LONG width, LONG rows, LONG depth) {
    size_t stride = Tal_ImageDataStride(width, depth);
    if (!stride || rows <= 0 || rows > kMaxRows) return nullptr;
    size_t table = (size_t(rows) * sizeof(T*) + 7) & ~size_t(7);
    if (size_t(rows) > (SIZE_MAX - table) / stride) return nullptr;
    size_t total = table + size_t(rows) * stride;
    if (injectedFailure()) return nullptr;
    auto* block = static_cast<UBYTE*>(AllocVec(total, MEMF_CLEAR));
    if (!block) return nullptr;
    // Before the row table is written: a big plane is filled whole right after (loading, copying).
    host_AdviseHugePages(block, total);
    auto** rowTable = reinterpret_cast<T**>(block);
    for (LONG i = 0; i < rows; i++) rowTable[i] = reinterpret_cast<T*>(block + table + size_t(i) * stride);
    return rowTable;
}

template <typename T>
void freePlane(T**& plane) {
    Tal_FreeImageData(plane);
    plane = nullptr;
}

LONG* allocExtents(LONG height) {
    return static_cast<LONG*>(Tal_AllocMem(size_t(height + 4) * sizeof(LONG)));
}

Tal_Image* ownerOf(const Node* node) {
    return node && node->ln_Succ
               ? static_cast<Tal_Image*>(reinterpret_cast<const Tal_ImageNode*>(node)->owner)
               : nullptr;
}

bool inRegistry(Tal_ImageBase* base, const Tal_Image* image) {
    for (Tal_ImageNode* n : ListNodes<Tal_ImageNode>(&base->registry))
        if (n->owner == image) return true;
    return false;
}

// Sets the scratch and spare rows from the working planes (row h of each, row h + 1 of red or grey).
void setScratchRows(Tal_Image* image) {
    LONG h = image->height;
    image->scratch_red = image->red ? image->red[h] : nullptr;
    image->scratch_green = image->green ? image->green[h] : nullptr;
    image->scratch_blue = image->blue ? image->blue[h] : nullptr;
    image->scratch_grey = image->grey ? image->grey[h] : nullptr;
    image->spare_line = image->red ? image->red[h + 1] : image->grey ? image->grey[h + 1] : nullptr;
    image->fscratch_red = image->fred ? image->fred[h] : nullptr;
    image->fscratch_green = image->fgreen ? image->fgreen[h] : nullptr;
    image->fscratch_blue = image->fblue ? image->fblue[h] : nullptr;
    image->fspare_line = image->fred ? image->fred[h + 1] : image->fgrey ? image->fgrey[h + 1] : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Planes.

size_t Tal_ImageDataStride(LONG width, LONG depth) {
    size_t bytes = bytesPerSample(depth);
    if (!bytes || width <= 0 || width > kMaxSide) return 0;
    return (size_t(width) * bytes + 7) & ~size_t(7);
}

UBYTE** Tal_AllocImageData(LONG width, LONG rows, LONG depth) {
    if (depth == 32) return reinterpret_cast<UBYTE**>(Tal_AllocFloatImageData(width, rows));
    return allocPlane<UBYTE>(width, rows, depth);
}

float** Tal_AllocFloatImageData(LONG width, LONG rows) {
    return allocPlane<float>(width, rows, 32);
}

void Tal_FreeImageData(void* rows) {
    FreeVec(rows);
}

void Tal__FailPlaneAllocation(LONG after) {
    planeFailAfter = after;
}

// Width, height and the row extents: every image record gets them (layers use them for their paint).
namespace {

void markExtentsEmpty(LONG* minX, LONG* maxX, LONG width, LONG height) {
    for (LONG i = 0; i < height + 4; i++) {
        minX[i] = width - 1;
        maxX[i] = 0;
    }
}

bool allocWorkingPlanes(Tal_Image* image, LONG w, LONG h, LONG depth) {
    switch (depth) {
    case 8:
        image->grey = allocPlane<UBYTE>(w, h + 2, 8);
        return image->grey;
    case 24:
        image->red = allocPlane<UBYTE>(w, h + 2, 8);
        image->green = allocPlane<UBYTE>(w, h + 1, 8);
        image->blue = allocPlane<UBYTE>(w, h + 1, 8);
        return image->red && image->green && image->blue;
    case 32:
        image->fgrey = allocPlane<float>(w, h + 2, 32);
        return image->fgrey;
    case 96:
        image->fred = allocPlane<float>(w, h + 2, 32);
        image->fgreen = allocPlane<float>(w, h + 1, 32);
        image->fblue = allocPlane<float>(w, h + 1, 32);
        return image->fred && image->fgreen && image->fblue;
    default:
        return true;
    }
}

// Runs the image's thread entry and marks its end, so that a thread that ends before it made its port
// fails the allocation at once.
ULONG threadTrampoline(Tal_Word userData) {
    auto* image = reinterpret_cast<Tal_Image*>(userData);
    ULONG result = image->thread_entry ? image->thread_entry(userData) : 0;
    image->thread_state = 2;
    return result;
}

} // namespace

Tal_Image* Tal_AllocImage(Tal_Image* image, LONG width, LONG height, LONG depth, ULONG flags) {
    if (!image) return nullptr;
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide) return nullptr;
    image->depth = depth;
    image->width = width;
    image->height = height;
    image->resolution = 72.0f;

    image->row_min_x = allocExtents(height);
    image->row_max_x = allocExtents(height);
    if (!image->row_min_x || !image->row_max_x) {
        Tal_DeallocImage(image);
        return nullptr;
    }
    markExtentsEmpty(image->row_min_x, image->row_max_x, width, height);

    Tal_ImageBase* base = Tal_GetImageBase();
    if (image->kind == TAL_IMAGE && !(flags & TAL_ALLOC_NO_THREAD)) {
        if (base) {
            image->media = base->preset;
            std::snprintf(image->media_name, sizeof image->media_name, "%s", base->default_media_name);
        }
        image->thread_state = 0;
        image->thread =
            Tal_CreateObject("Thread", TAL_SetThreadEntry, threadTrampoline, TAL_SetThreadName,
                             "Image Thread", TAL_SetThreadStackSize, 0x4000, TAL_SetUserData, image);
        if (!image->thread || !Tal_DoMethod(image->thread, TAL_Start)) {
            Tal_DeallocImage(image);
            return nullptr;
        }
        // A thread that ends before it has its port, or never gets that far (5 s), fails the allocation.
        // The wait is part of making the image: it is not a pause in which the program counts as idle.
        for (int ms = 0; image->thread_state.load() == 0 && ms < 5000; ms++)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (image->thread_state.load() != 1) {
            Tal_DeallocImage(image);
            return nullptr;
        }
    }

    bool ok = allocWorkingPlanes(image, width, height, depth);
    bool wantsBase = !(flags & TAL_ALLOC_NO_BASE) && image->kind != TAL_PAINT_LAYER;
    if (ok && depth == 24 && wantsBase) {
        image->base_red = allocPlane<UBYTE>(width, height, 8);
        image->base_green = allocPlane<UBYTE>(width, height, 8);
        image->base_blue = allocPlane<UBYTE>(width, height, 8);
        ok = image->base_red && image->base_green && image->base_blue;
    } else if (ok && depth == 96 && wantsBase) {
        image->base_fred = allocPlane<float>(width, height, 32);
        image->base_fgreen = allocPlane<float>(width, height, 32);
        image->base_fblue = allocPlane<float>(width, height, 32);
        ok = image->base_fred && image->base_fgreen && image->base_fblue;
    } else if (ok && depth == 8 && image->kind == TAL_IMAGE) {
        image->base_grey = allocPlane<UBYTE>(width, height + 1, 8);
        ok = image->base_grey;
    } else if (ok && depth == 32 && image->kind == TAL_IMAGE) {
        image->base_fgrey = allocPlane<float>(width, height + 1, 32);
        ok = image->base_fgrey;
    }
    if (ok && (depth == 24 || depth == 96)) {
        image->rgb_line = static_cast<UBYTE*>(Tal_AllocMemClear(size_t(width) * 3 + 16));
        ok = image->rgb_line;
    }
    if (!ok) {
        Tal_DeallocImage(image);
        return nullptr;
    }
    setScratchRows(image);

    image->alloc_state = 1;
    if (image->opacity == 0) image->opacity = 256;
    image->red_strength = image->green_strength = image->blue_strength = 256;
    image->hue_strength = image->saturation_strength = image->value_strength = 256;
    image->highlights = image->midtones = image->shadows = 256;
    image->fade_size = 30;
    image->fade_softness = 50;
    return image;
}

void Tal_DeallocImage(Tal_Image* image) {
    if (!image) return;
    if (Tal_ImageBase* base = Tal_GetImageBase()) {
        SemaphoreGuard guard(&base->listLock);
        if (base->active_image == image) base->active_image = nullptr;
    }
    if (image->mask_image) {
        Tal_RemoveNotify(Tal_GetImageHandle(image->mask_image), image->mask_notify);
        image->mask_image = nullptr;
        image->mask_notify = 0;
    }
    if (image->mode_source_image) {
        Tal_RemoveNotify(Tal_GetImageHandle(image->mode_source_image), image->source_notify);
        image->mode_source_image = nullptr;
        image->source_notify = 0;
    }
    while (!IsListEmpty(&image->layers)) {
        Tal_Image* layer = ownerOf(image->layers.lh_Head);
        Remove(&layer->layer_node.node);
        layer->layer_node.node.ln_Succ = layer->layer_node.node.ln_Pred = nullptr;
        layer->parent = nullptr;
        Tal_DisposeObject(layer->header.handle);
    }
    image->current_layer = image->paint_layer = nullptr;
    if (image->alpha_child) {
        ULONG alpha = image->alpha_child->header.handle;
        image->alpha_child = nullptr;
        Tal_DisposeObject(alpha);
    }
    for (ULONG* mode : {&image->mode, &image->pending_mode}) {
        if (!*mode) continue;
        ULONG handle = *mode;
        *mode = 0;
        if (ULONG parent = Tal_GetParentObject(handle)) Tal_DoMethod(parent, 0x00470046, handle);
        Tal_DisposeObject(handle);
    }
    // The thread deletes its port when it ends.
    if (image->thread) {
        ULONG thread = image->thread;
        image->thread = 0;
        Tal_DisposeObject(thread);
    }
    freePlane(image->red);
    freePlane(image->green);
    freePlane(image->blue);
    freePlane(image->base_red);
    freePlane(image->base_green);
    freePlane(image->base_blue);
    freePlane(image->grey);
    freePlane(image->base_grey);
    freePlane(image->fred);
    freePlane(image->fgreen);
    freePlane(image->fblue);
    freePlane(image->base_fred);
    freePlane(image->base_fgreen);
    freePlane(image->base_fblue);
    freePlane(image->fgrey);
    freePlane(image->base_fgrey);
    for (UBYTE**& plane : image->parked) freePlane(plane);
    image->resizing = 0;
    setScratchRows(image);
    Tal_FreeMem(image->rgb_line);
    image->rgb_line = nullptr;
    Tal_FreeMem(image->row_min_x);
    Tal_FreeMem(image->row_max_x);
    image->row_min_x = image->row_max_x = nullptr;
    Tal_FreeMem(image->tone_table);
    image->tone_table = nullptr;
    Tal_FreeMem(image->info_record);
    image->info_record = nullptr;
    Tal_FreeMem(image->extra_image_path);
    image->extra_image_path = nullptr;
    if (image->extra_image) {
        ULONG extra = image->extra_image;
        image->extra_image = 0;
        Tal_DisposeObject(extra);
    }
    LONG expected = 1;
    image->alloc_state.compare_exchange_strong(expected, 0);
}

ULONG Tal_ChangeImageDepth(Tal_Image* image, LONG depth) {
    if (!image || image->depth != 24 || depth != 96 || !image->red) return 0;
    LONG w = image->width, h = image->height;
    float** planes[6] = {};
    auto release = [&] {
        for (float**& p : planes) freePlane(p);
    };
    UBYTE** from[6] = {image->red,      image->green,      image->blue,
                       image->base_red, image->base_green, image->base_blue};
    LONG rows[6] = {h + 2, h + 1, h + 1, h, h, h};
    for (int i = 0; i < 6; i++) {
        if (!from[i]) continue;
        planes[i] = allocPlane<float>(w, rows[i], 32);
        if (!planes[i]) {
            release();
            return 0;
        }
        for (LONG y = 0; y < rows[i]; y++)
            for (LONG x = 0; x < w; x++) planes[i][y][x] = from[i][y][x] / 255.0f;
    }
    image->fred = planes[0];
    image->fgreen = planes[1];
    image->fblue = planes[2];
    image->base_fred = planes[3];
    image->base_fgreen = planes[4];
    image->base_fblue = planes[5];
    freePlane(image->red);
    freePlane(image->green);
    freePlane(image->blue);
    freePlane(image->base_red);
    freePlane(image->base_green);
    freePlane(image->base_blue);
    image->depth = 96;
    setScratchRows(image);
    return 1;
}

void Tal__SetImageScratchRows(Tal_Image* image) {
    setScratchRows(image);
}

// ---------------------------------------------------------------------------------------------------
// The image lock.

ULONG Tal__IsLiveImage(const Tal_Image* image) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!image || !base) return 0;
    SemaphoreGuard guard(&base->listLock);
    return inRegistry(base, image) && image->alloc_state.load() != -1 ? 1 : 0;
}

// The record is pinned from the registry look-up until the lock is had, so that a disposal running
// meanwhile (which unlinks it first and frees it only once no pin is left) cannot free it under us.
ULONG Tal_LockImageA(Tal_Image* image, ULONG type, Tal_Word) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!image || !base) return 0;
    {
        SemaphoreGuard guard(&base->listLock);
        if (!inRegistry(base, image) || image->alloc_state.load() == -1) return 0;
        image->pins++;
    }
    bool exclusive = type == TAL_LOCK_EXCLUSIVE;
    ULONG ok = exclusive ? Tal_ObtainSemaphoreDebug(image->lock, TAL_LOCK_RETRIES, kLockTag, __LINE__)
                         : Tal_ObtainSemaphoreSharedDebug(image->lock, TAL_LOCK_RETRIES, kLockTag, __LINE__);
    if (ok && image->alloc_state.load() == -1) {
        if (exclusive)
            Tal_ReleaseSemaphoreDebug(image->lock, kLockTag, __LINE__);
        else
            Tal_ReleaseSemaphoreSharedDebug(image->lock, kLockTag, __LINE__);
        ok = 0;
    }
    if (ok) {
        image->lock_count++;
        Tal_LockObjectInstance(image->header.handle);
    }
    image->pins--;
    return ok;
}

ULONG Tal_UnlockImageA(Tal_Image* image, ULONG type, Tal_Word) {
    if (!image) return 0;
    image->lock_count--;
    if (type == TAL_LOCK_EXCLUSIVE)
        Tal_ReleaseSemaphoreDebug(image->lock, kLockTag, __LINE__);
    else
        Tal_ReleaseSemaphoreSharedDebug(image->lock, kLockTag, __LINE__);
    Tal_UnlockObjectInstance(image);
    return 1;
}

Tal_Image* Tal_LockActiveImageA(ULONG type, Tal_Word extra) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base) return nullptr;
    Tal_Image* active;
    {
        SemaphoreGuard guard(&base->listLock);
        active = base->active_image;
    }
    return active && Tal_LockImageA(active, type, extra) ? active : nullptr;
}

ULONG Tal_GetImageHandle(const Tal_Image* image) {
    return image ? image->header.handle : 0;
}

ULONG Tal_GetImageViewHandle(const Tal_ImageView* view) {
    return view ? view->header.handle : 0;
}

// ---------------------------------------------------------------------------------------------------
// Navigation.

Tal_Image* first_layer(const Tal_Image* image) {
    return image && !IsListEmpty(&image->layers) ? ownerOf(image->layers.lh_Head) : nullptr;
}
Tal_Image* last_layer(const Tal_Image* image) {
    return image && !IsListEmpty(&image->layers) ? ownerOf(image->layers.lh_TailPred) : nullptr;
}
Tal_Image* next_layer(const Tal_Image* layer) {
    if (!layer || !layer->layer_node.node.ln_Succ) return nullptr;
    return ownerOf(layer->layer_node.node.ln_Succ);
}
Tal_Image* prev_layer(const Tal_Image* layer) {
    if (!layer || !layer->layer_node.node.ln_Pred) return nullptr;
    Node* pred = layer->layer_node.node.ln_Pred;
    return pred->ln_Pred ? ownerOf(pred) : nullptr;
}
Tal_Image* first_image(const Tal_ImageBase* base) {
    return base && !IsListEmpty(&base->images) ? ownerOf(base->images.lh_Head) : nullptr;
}
Tal_Image* last_image(const Tal_ImageBase* base) {
    return base && !IsListEmpty(&base->images) ? ownerOf(base->images.lh_TailPred) : nullptr;
}
Tal_Image* next_image(const Tal_Image* image) {
    return next_layer(image);
}
Tal_Image* prev_image(const Tal_Image* image) {
    return prev_layer(image);
}

// ---------------------------------------------------------------------------------------------------
// Palettes.

namespace {

ULONG readBE32(const UBYTE* p) {
    return ULONG(p[0]) << 24 | ULONG(p[1]) << 16 | ULONG(p[2]) << 8 | p[3];
}

} // namespace

// Every chunk is checked against the file; the colours taken are the fewest of what BMHD announces,
// what the table holds and what CMAP carries. A BMHD too short to hold the plane count counts as absent.
ULONG Tal_ReadPalette(const char* path, ULONG* colours) {
    if (!path || !colours) return 0;
    FILE* file = Tal_OpenFile(path, "rb");
    if (!file) return 0;
    std::vector<UBYTE> data;
    UBYTE buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + got);
    bool failed = std::ferror(file);
    std::fclose(file);
    if (failed || data.size() < 12) return 0;

    size_t wanted = 256;
    size_t pos = 12;
    while (pos + 8 <= data.size()) {
        const UBYTE* chunk = data.data() + pos;
        size_t size = readBE32(chunk + 4);
        if (size > data.size() - pos - 8) return 0;
        const UBYTE* body = chunk + 8;
        if (std::memcmp(chunk, "BMHD", 4) == 0 && size >= 9) {
            UBYTE planes = body[8];
            wanted = planes >= 8 ? 256 : size_t(1) << planes;
        } else if (std::memcmp(chunk, "CMAP", 4) == 0) {
            size_t count = std::min({wanted, size_t(256), size / 3});
            for (size_t i = 0; i < count; i++) {
                const UBYTE* rgb = body + 3 * i;
                colours[i] = ULONG(rgb[0]) | ULONG(rgb[1]) << 8 | ULONG(rgb[2]) << 16;
            }
            return ULONG(count);
        }
        pos += 8 + size + (size & 1);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// Size texts.

ULONG Tal_FormatByteCount(char* buffer, size_t size, uint64_t bytes) {
    if (!buffer || size == 0) return 0;
    uint64_t kb = bytes < 2048 ? 1 : bytes / 1024;
    int n = bytes <= 1048576 ? std::snprintf(buffer, size, "%lluKB", (unsigned long long)kb)
                             : std::snprintf(buffer, size, "%llu,%03lluKB", (unsigned long long)(kb / 1000),
                                             (unsigned long long)(kb % 1000));
    if (n < 0 || size_t(n) >= size) {
        buffer[0] = 0;
        return 0;
    }
    return 1;
}

ULONG Tal_FormatSeconds(char* buffer, size_t size, int64_t seconds) {
    if (!buffer || size == 0) return 0;
    int n = std::snprintf(buffer, size, "%llds", (long long)std::max<int64_t>(seconds, 1));
    if (n < 0 || size_t(n) >= size) {
        buffer[0] = 0;
        return 0;
    }
    return 1;
}

ULONG Tal__CopyField(char* field, size_t size, const char* text) {
    const size_t n = text ? strnlen(text, size) : 0;
    if (!field || n >= size) return 0;
    std::memcpy(field, text ? text : "", n);
    field[n] = 0;
    return 1;
}
