#!/usr/bin/env bash
# JPEG loading and saving side by side, in one run, on one 12-megapixel picture (4000 x 3000):
#   load: ours into image planes (the library's load, and the program's open path that makes an image of
#         it) against djpeg decoding to /dev/null and ImageMagick's convert to a null output;
#   save: ours (the program's save path: temporary file, synced and renamed) against cjpeg at the same
#         quality.
# Every figure is the best of RUNS rounds (wall time), so that a busy machine disturbs it least. Ours are
# timed in-process by velura_bench; the peers are whole processes (their start costs a millisecond or two).
# Targets: within 1.15 x djpeg and cjpeg; at most half of ImageMagick's time.
#
#   bench/compare.sh            builds Release in build-compare/ when needed (BUILD_DIR to choose another)
#   RUNS=15 QUALITY=85 bench/compare.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-compare}
runs=${RUNS:-9}
quality=${QUALITY:-90}

for tool in cmake ninja djpeg cjpeg convert; do
  command -v "$tool" >/dev/null || {
    echo "compare.sh: $tool is missing (apt-get install cmake ninja-build libjpeg-turbo-progs imagemagick)" >&2
    exit 2
  }
done

# Scratch in memory when there is some, so that the disk times nobody.
if [[ -d /dev/shm && -w /dev/shm ]]; then scratch=/dev/shm/velura-compare; else scratch=${TMPDIR:-/tmp}/velura-compare; fi
mkdir -p "$scratch"

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target velura_bench -j "${JOBS:-2}" >/dev/null

# The picture: a fractal landscape with detail at every scale, as a photograph has.
photo=$scratch/photo-$quality.jpg
if [[ ! -f $photo ]]; then
  echo "making the 12-megapixel picture ..."
  convert -seed 7 -size 4000x3000 plasma:fractal -depth 8 "$scratch/photo.ppm"
  cjpeg -quality "$quality" -outfile "$photo" "$scratch/photo.ppm"
fi
[[ -f $scratch/photo.ppm ]] || djpeg -outfile "$scratch/photo.ppm" "$photo"

# The rounds interleave ours and the peers, so that a busy spell of the machine falls on all of them
# alike; each figure is its best round.
declare -A best
keep() { # NAME MS
  if [[ -z ${best[$1]:-} ]] || awk -v a="$2" -v b="${best[$1]}" 'BEGIN { exit !(a < b) }'; then best[$1]=$2; fi
}
# Wall time of a command in milliseconds.
wall() {
  local t
  t=$({ TIMEFORMAT=%R; time "$@" >/dev/null 2>&1; } 2>&1)
  awk -v s="$t" 'BEGIN { printf "%.1f", s * 1000 }'
}
for ((round = 0; round < runs; round++)); do
  # Ours: each benchmark's mean over a few iterations in this round, in milliseconds.
  while read -r name ms; do keep "$name" "$ms"; done < <(
    VELURA_BENCH_JPEG=$photo VELURA_BENCH_OUT=$scratch/saved.jpg VELURA_BENCH_QUALITY=$quality \
      "$build/velura_bench" --benchmark_filter='^BM_Jpeg' --benchmark_min_time=0.2 --benchmark_format=csv 2>/dev/null |
      awk -F, '/^"BM_Jpeg/ {
                 name = $1; gsub(/"|\/.*/, "", name); t = $3
                 if ($5 == "us") t /= 1000; else if ($5 == "ns") t /= 1e6; else if ($5 == "s") t *= 1000
                 printf "%s %.1f\n", name, t
               }')
  keep djpeg "$(wall djpeg -outfile /dev/null "$photo")"
  keep convert "$(wall convert "$photo" null:)"
  keep cjpeg "$(wall cjpeg -quality "$quality" -outfile /dev/null "$scratch/photo.ppm")"
done
load_planes=${best[BM_JpegLoadIntoPlanes]:-}
load_image=${best[BM_JpegLoadAsImage]:-}
save_image=${best[BM_JpegSaveImage]:-}
[[ -n $load_planes && -n $load_image && -n $save_image ]] || { echo "compare.sh: velura_bench gave no JPEG timings" >&2; exit 1; }
djpeg_ms=${best[djpeg]} convert_ms=${best[convert]} cjpeg_ms=${best[cjpeg]}

size=$(stat -c %s "$photo")
echo "JPEG 4000 x 3000, quality $quality, $((size / 1024)) KiB; best of $runs rounds, wall time"
echo
printf '%-46s %9s\n' "" "ms"
printf '%-46s %9s\n' "load: ours, into the buffer's planes" "$load_planes"
printf '%-46s %9s\n' "load: ours, as an image (open path)" "$load_image"
printf '%-46s %9s\n' "load: djpeg to /dev/null" "$djpeg_ms"
printf '%-46s %9s\n' "load: ImageMagick convert to null:" "$convert_ms"
printf '%-46s %9s\n' "save: ours, an image (save path)" "$save_image"
printf '%-46s %9s\n' "save: cjpeg to /dev/null" "$cjpeg_ms"
echo

missed=0
# ratio NAME OURS PEER LIMIT: prints ours / peer against the limit.
ratio() {
  local r verdict
  r=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')
  if awk -v r="$r" -v l="$4" 'BEGIN { exit !(r <= l) }'; then verdict=met; else verdict=MISSED; missed=1; fi
  printf '%-46s %6s x  (target <= %s)  %s\n' "$1" "$r" "$4" "$verdict"
}
ratio "load into planes / djpeg" "$load_planes" "$djpeg_ms" 1.15
ratio "load into planes / ImageMagick" "$load_planes" "$convert_ms" 0.50
ratio "load as an image / djpeg" "$load_image" "$djpeg_ms" 1.15
ratio "load as an image / ImageMagick" "$load_image" "$convert_ms" 0.50
ratio "save / cjpeg" "$save_image" "$cjpeg_ms" 1.15
exit 0
