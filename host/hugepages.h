// Huge pages for large pixel blocks.
//
// A big picture's planes are fresh memory that a loader or the compositor fills at once. Backed by 4 KiB
// pages, every 4 KiB costs a page fault, which for a large picture weighs as much as the last tenth of
// its decoding; asking for 2 MiB pages spares nearly all of them. The kernel takes it as a hint only.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>

// Asks for huge pages for the whole 2 MiB pages inside a block, right after it is allocated and before
// it is written (pages already touched keep their small pages). Blocks under 4 MiB are left alone.
inline void host_AdviseHugePages(void* block, size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    if (!block || size < 2 * kHuge) return;
    const uintptr_t from = (uintptr_t(block) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = (uintptr_t(block) + size) & ~(kHuge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}
