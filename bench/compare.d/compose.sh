#!/usr/bin/env bash
# The compositor side by side, in one run, on a 4000 x 3000 picture with one 8-bit paint layer of random
# coverage: ours through the Paint fast path and through a mode's line method, against pixman compositing
# the same solid colour through an 8-bit mask (velura_bench links pixman as a yardstick only), each in a
# Release build and in a RelWithDebInfo build (-O2, as distributions build), whose kernels must vectorise
# as well. Every figure is the best of RUNS rounds; the rounds interleave the two builds.
# Targets: fast path at most pixman's time; through a mode at most 3 x the fast path; RelWithDebInfo
# within 1.2 x of Release.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"
debug_build=${RWDI_BUILD_DIR:-$root/build-compare-rwdi}
if [[ ! -f $debug_build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$debug_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$debug_build" --target velura_bench -j "${JOBS:-2}" >/dev/null

filter='^BM_(ComposePaintFastPath|ComposeThroughMode|PixmanSolidThroughMask)$'
for ((round = 0; round < runs; round++)); do
  while read -r name ms; do keep "release $name" "$ms"; done < <(bench_ms "$filter")
  while read -r name ms; do keep "rwdi $name" "$ms"; done < <(build=$debug_build bench_ms "$filter")
done
for key in "release BM_ComposePaintFastPath" "release BM_ComposeThroughMode" "rwdi BM_ComposePaintFastPath" \
  "rwdi BM_ComposeThroughMode"; do
  [[ -n ${best[$key]:-} ]] || { echo "compare: velura_bench gave no timing for $key" >&2; exit 1; }
done
fast=${best[release BM_ComposePaintFastPath]} mode=${best[release BM_ComposeThroughMode]}
fast_rwdi=${best[rwdi BM_ComposePaintFastPath]} mode_rwdi=${best[rwdi BM_ComposeThroughMode]}
pixman=${best[release BM_PixmanSolidThroughMask]:-}

echo "Compositing 4000 x 3000, one 8-bit paint layer; best of $runs rounds"
echo
printf '%-46s %9s %15s\n' "" "Release" "RelWithDebInfo"
printf '%-46s %9s %15s\n' "ours, Paint fast path (ms)" "$fast" "$fast_rwdi"
printf '%-46s %9s %15s\n' "ours, through a mode's line method (ms)" "$mode" "$mode_rwdi"
if [[ -n $pixman ]]; then
  printf '%-46s %9s\n' "pixman, solid colour through an a8 mask (ms)" "$pixman"
fi
echo
if [[ -n $pixman ]]; then
  ratio "fast path / pixman" "$fast" "$pixman" 1.00
else
  echo "fast path / pixman: pixman was not found when velura_bench was built (libpixman-1-dev)"
fi
ratio "through a mode / fast path" "$mode" "$fast" 3.00
ratio "fast path, RelWithDebInfo / Release" "$fast_rwdi" "$fast" 1.20
ratio "through a mode, RelWithDebInfo / Release" "$mode_rwdi" "$mode" 1.20
