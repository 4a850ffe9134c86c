// What the mode classes share: making and disposing an instance with its superclass instance, the span
// a mode line record asks for, and the picture below the layer fetched beyond that span.
#pragma once

#include "Vlr/Vlr.h"

#include <algorithm>

// Row kernels are built for AVX2 and for the baseline, and the processor picks; not under
// ThreadSanitizer, whose runtime is not up yet when the choice is made.
#if defined(__SANITIZE_THREAD__)
#define MODES_NO_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MODES_NO_CLONES 1
#endif
#endif
#if defined(__x86_64__) && !defined(MODES_NO_CLONES)
#define MODES_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define MODES_ROW_KERNEL
#endif

namespace modes {

// A new instance of `cls` holding a new object of the class `super`; none on failure.
template <typename T>
T* newInstance(Tal_Class* cls, const char* super) {
    auto* self = static_cast<T*>(Tal_AllocObjectMem(cls));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject(super);
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

inline void disposeInstance(void* instance) {
    Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
    Tal_FreeObjectMem(instance);
}

// The span of one call: pixels x0..x1 of rows y0..y1; result row y − y0 receives entries 0..x1 − x0.
struct Span {
    const Tal_ModeLineRecord* record;
    Tal_Image* image; // the image being composed
    Tal_Image* layer;
    LONG x0, y0, x1, y1;
    LONG n; // pixels a row

    UBYTE* result(int channel, LONG y) const {
        UBYTE** tables[3] = {record->red_result, record->green_result, record->blue_result};
        return tables[channel][y - y0];
    }
    UBYTE* greyResult(LONG y) const { return record->grey_result[y - y0]; }
    // The picture composed so far below the layer, at column x0 of row y.
    const UBYTE* below(int channel, LONG y) const {
        const Tal_ImageLock* r = record->region;
        UBYTE** tables[3] = {r->red_rows, r->green_rows, r->blue_rows};
        return tables[channel][y] + x0;
    }
};

// False when the record is not one to work on (no tables, an empty span, no image).
inline bool spanOf(const Tal_Word* args, Span& span) {
    const auto* record = reinterpret_cast<const Tal_ModeLineRecord*>(args ? args[0] : 0);
    if (!record || !record->region || !record->region->image) return false;
    const Tal_ImageLock* r = record->region;
    span = {record, r->image, r->layer, r->x0, r->y0, r->x1, r->y1, r->x1 - r->x0 + 1};
    return span.n > 0 && r->y1 >= r->y0;
}

inline bool hasColourResult(const Span& span) {
    const Tal_ModeLineRecord* r = span.record;
    return r->red_result && r->green_result && r->blue_result;
}

// The picture below the layer over a rectangle, through the record's second lock (rows and columns
// beyond the image repeat its edges); released when it goes.
class Below {
  public:
    Below(const Span& span, LONG x0, LONG y0, LONG x1, LONG y1) : lock_(span.record->below) {
        if (!lock_) return;
        lock_->image = span.image;
        lock_->layer = span.layer;
        lock_->x0 = x0;
        lock_->y0 = y0;
        lock_->x1 = x1;
        lock_->y1 = y1;
        ok_ = Tal_GetImageDataBelowLayer(lock_) != nullptr;
    }
    ~Below() {
        if (ok_) Tal_FreeImageLock(lock_);
    }
    Below(const Below&) = delete;
    Below& operator=(const Below&) = delete;

    bool ok() const { return ok_; }
    UBYTE** rows(int channel) const {
        UBYTE** tables[3] = {lock_->red_rows, lock_->green_rows, lock_->blue_rows};
        return tables[channel];
    }
    UBYTE** grey() const { return lock_->grey_rows; }

  private:
    Tal_ImageLock* lock_;
    bool ok_ = false;
};

inline LONG clampColumn(LONG x, LONG width) {
    return std::clamp<LONG>(x, 0, width - 1);
}

} // namespace modes
