// Histogram: a framed drawing area 130 pixels high showing a table of counts as a curve, the largest
// count at the top. Positions outside the bucket array are refused, and drawing reads only buckets that
// exist, whatever the range was set to after the array was made.
#include "Vlr/Tal/Histogram.h"
#include "ui/ui.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

namespace {

Tal_Class histogramClass;

constexpr LONG kAreaHeight = 130;

struct Buckets {
    std::mutex lock;
    ULONG* counts = nullptr; // made once, zeroed
    size_t entries = 0;
};

struct HistogramInstance {
    Tal_Object header;
    std::atomic<LONG> minX, minY, maxX, maxY;
    Buckets* buckets;
    ULONG area; // the Space the curve is drawn in
};

HistogramInstance* of(void* instance) {
    return static_cast<HistogramInstance*>(instance);
}

ULONG* bucketArray(HistogramInstance* h) {
    Buckets& b = *h->buckets;
    std::lock_guard guard(b.lock);
    if (!b.counts) {
        const int64_t entries = int64_t(h->maxX) - h->minX + 1;
        if (entries < 1 || entries > TAL_HISTOGRAM_MAX_BUCKETS) return nullptr;
        b.counts = new (std::nothrow) ULONG[size_t(entries)]();
        if (b.counts) b.entries = size_t(entries);
    }
    return b.counts;
}

// The bucket at a position: none without an array or outside it.
ULONG* bucketAt(Buckets& b, LONG position) {
    if (!b.counts || position < 0 || size_t(position) >= b.entries) return nullptr;
    return b.counts + position;
}

// The curve: each column of the inner width shows the bucket that falls on it, scaled so that the
// largest of the buckets shown reaches the top. With nothing to show (no counts, no room) only the
// baseline is drawn.
void drawCurve(HistogramInstance* h) {
    const ULONG self = h->header.handle;
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    const Tal_Box box = *reinterpret_cast<Tal_Box*>(Tal_DoMethod(h->area, TAL_GetBox));
    RastPort* rp = di->rastPort;
    if (box.width > 0 && box.height > 0 && rp) {
        const ULONG pen = rp->FgPen;
        const UBYTE mode = rp->DrawMode;
        SetDrMd(rp, JAM2);
        SetAPen(rp, 0);
        RectFill(rp, box.x, box.y, box.x + box.width - 1, box.y + box.height - 1);
        const LONG fx = di->frameWidth, fy = di->frameHeight;
        const LONG innerWidth = box.width - 2 * fx, innerHeight = box.height - 2 * fy;
        const LONG left = box.x + fx, bottom = box.y + box.height - fy;
        SetAPen(rp, 1);
        Move(rp, left, bottom);
        Buckets& b = *h->buckets;
        std::lock_guard guard(b.lock);
        const size_t shown = std::min<size_t>(size_t(std::max<LONG>(h->maxX, 0)), b.entries);
        const ULONG largest = shown ? *std::max_element(b.counts, b.counts + shown) : 0;
        if (innerWidth > 0 && innerHeight > 0 && largest > 0) {
            for (LONG i = 0; i < innerWidth; i++) {
                const uint64_t k = Tal_HistogramColumnBucket(uint64_t(i), shown, uint64_t(innerWidth));
                const LONG v = LONG(uint64_t(innerHeight) * b.counts[k] / largest);
                Draw(rp, left + i, bottom - v);
            }
        } else if (innerWidth > 0) {
            Draw(rp, left + innerWidth, bottom);
        }
        SetAPen(rp, pen);
        SetDrMd(rp, mode);
    }
    Tal_UnlockDrawInfo(self);
}

} // namespace

void* Tal_NewHistogramClass(const TagItem*) {
    auto* h = of(Tal_AllocObjectMem(&histogramClass));
    if (!h) return nullptr;
    new (&h->minX) std::atomic<LONG>(0);
    new (&h->minY) std::atomic<LONG>(0);
    new (&h->maxX) std::atomic<LONG>(255);
    new (&h->maxY) std::atomic<LONG>(255);
    h->buckets = new (std::nothrow) Buckets;
    // clang-format off
    h->header.superObject = Tal_CreateObjects(0,
        TAL_TREE_VGROUP,
            TAL_TREE_VGROUP, TAL_SetGroupFrame, 5,
                TAL_TREE_OBJECT, "Space", TAL_SetSpaceFixedHeight, kAreaHeight, TAL_TREE_HANDLE, &h->area,
                TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    // clang-format on
    if (!h->buckets || !h->header.superObject || !h->area) {
        Tal_DisposeObject(h->header.superObject);
        delete h->buckets;
        Tal_FreeObjectMem(h);
        return nullptr;
    }
    return h;
}

void Tal_DisposeHistogramClass(void* instance) {
    auto* h = of(instance);
    Tal_DisposeObject(h->header.superObject);
    delete[] h->buckets->counts;
    delete h->buckets;
    Tal_FreeObjectMem(h);
}

Tal_Word Tal_DoHistogramClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* h = of(instance);
    const LONG arg = args ? LONG(int32_t(args[0])) : 0;
    switch (id) {
    case TAL_SetHistogramMinX:
        return Tal_ToWord(h->minX = arg);
    case TAL_SetHistogramMaxX:
        return Tal_ToWord(h->maxX = arg);
    case TAL_SetHistogramMinY:
        return Tal_ToWord(h->minY = arg);
    case TAL_SetHistogramMaxY:
        return Tal_ToWord(h->maxY = arg);
    case TAL_GetHistogramMinX:
        return Tal_ToWord(h->minX.load());
    case TAL_GetHistogramMaxX:
        return Tal_ToWord(h->maxX.load());
    case TAL_GetHistogramMinY:
        return Tal_ToWord(h->minY.load());
    case TAL_GetHistogramMaxY:
        return Tal_ToWord(h->maxY.load());
    case TAL_GetHistogramBuckets:
        return reinterpret_cast<Tal_Word>(bucketArray(h));
    case TAL_SetHistogramBucket: {
        std::lock_guard guard(h->buckets->lock);
        ULONG* at = bucketAt(*h->buckets, arg);
        if (!at) return Tal_ToWord(LONG(-1));
        *at = ULONG(args[1]);
        return 1;
    }
    case TAL_GetHistogramBucket: {
        std::lock_guard guard(h->buckets->lock);
        const ULONG* at = bucketAt(*h->buckets, arg);
        return at ? Tal_Word(*at) : Tal_ToWord(LONG(-1));
    }
    case TAL_DrawObject: {
        const Tal_Word result = Tal_DoMethodA(h->header.superObject, id, args);
        drawCurve(h);
        return result;
    }
    case TAL_StoreChildren:
        return 1; // its drawing area is its own
    default:
        return Tal_DoMethodA(h->header.superObject, id, args);
    }
}

ULONG Tal_InitHistogramClass() {
    return Tal__SetupClass(&histogramClass, "Histogram", 0x00640000, "Group", Tal_NewHistogramClass,
                           Tal_DisposeHistogramClass, Tal_DoHistogramClassMethod, nullptr,
                           sizeof(HistogramInstance));
}

void Tal_CleanupHistogramClass() {
    Tal__CleanupClass(&histogramClass);
}
