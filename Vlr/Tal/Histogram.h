// Histogram: a widget that keeps a table of counts (buckets) and draws them as a curve scaled to the
// largest count. Whoever creates one asks for its bucket array, fills it and has it drawn again.
#pragma once

#include "Tal/TalBase.h"

#include <cstdint>

constexpr ULONG TAL_SetHistogramMinX = 0x0064000A; // each set returns the value it stored
constexpr ULONG TAL_GetHistogramMinX = 0x00640014;
constexpr ULONG TAL_SetHistogramMaxX = 0x0064001E;
constexpr ULONG TAL_GetHistogramMaxX = 0x00640028;
constexpr ULONG TAL_SetHistogramMinY = 0x00640032;
constexpr ULONG TAL_GetHistogramMinY = 0x0064003C;
constexpr ULONG TAL_SetHistogramMaxY = 0x00640046;
constexpr ULONG TAL_GetHistogramMaxY = 0x00640050;
// The bucket array (32-bit counts): made zeroed on the first call with maximum x - minimum x + 1 entries
// (at most TAL_HISTOGRAM_MAX_BUCKETS) and kept from then on, whatever the range becomes. Its address,
// or 0 when it cannot be made.
constexpr ULONG TAL_GetHistogramBuckets = 0x0064005A;
constexpr ULONG TAL_SetHistogramBucket = 0x00640064; // position, count: 1, or -1 (no array, outside it)
constexpr ULONG TAL_GetHistogramBucket = 0x0064006E; // position: the count, or -1

constexpr int64_t TAL_HISTOGRAM_MAX_BUCKETS = int64_t(1) << 24;

// The bucket drawn at column i of a curve `width` columns wide that shows the first n buckets.
inline uint64_t Tal_HistogramColumnBucket(uint64_t i, uint64_t n, uint64_t width) {
    return width ? i * n / width : 0;
}

ULONG Tal_InitHistogramClass();
void Tal_CleanupHistogramClass();
