#!/usr/bin/env bash
# PNG loading and saving side by side, in one run, on one 12-megapixel picture (4000 x 3000):
#   load: ours into image planes (the library's load) against pngtopam decoding to /dev/null;
#   save: ours (the program's save path: temporary file, synced and renamed) against pnmtopng at the same
#         compression level.
# Every figure is the best of RUNS rounds (wall time), so that a busy machine disturbs it least. Ours are
# timed in-process by velura_bench; the peers are whole processes (their start costs a millisecond or two).
# Target: no slower than the peer.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"
need "netpbm imagemagick" pngtopam pnmtopng convert
level=${COMPRESSION:-6}

# The picture: a fractal landscape with detail at every scale, as a photograph has.
[[ -f $scratch/photo.ppm ]] || {
  echo "making the 12-megapixel picture ..."
  convert -seed 7 -size 4000x3000 plasma:fractal -depth 8 "$scratch/photo.ppm"
}
photo=$scratch/photo-$level.png
[[ -f $photo ]] || pnmtopng -compression "$level" "$scratch/photo.ppm" >"$photo"

for ((round = 0; round < runs; round++)); do
  while read -r name ms; do keep "$name" "$ms"; done < <(
    bench_ms '^BM_Png' VELURA_BENCH_PNG="$photo" VELURA_BENCH_OUT="$scratch/saved.png" \
      VELURA_BENCH_COMPRESSION="$level")
  keep pngtopam "$(wall sh -c "pngtopam '$photo' >/dev/null")"
  keep pnmtopng "$(wall sh -c "pnmtopng -compression $level '$scratch/photo.ppm' >/dev/null")"
done
load=${best[BM_PngLoadIntoPlanes]:-}
save=${best[BM_PngSaveImage]:-}
[[ -n $load && -n $save ]] || { echo "compare: velura_bench gave no PNG timings" >&2; exit 1; }

size=$(stat -c %s "$photo")
echo "PNG 4000 x 3000, compression $level, $((size / 1024)) KiB; best of $runs rounds, wall time"
echo
printf '%-46s %9s\n' "" "ms"
printf '%-46s %9s\n' "load: ours, into the buffer's planes" "$load"
printf '%-46s %9s\n' "load: pngtopam to /dev/null" "${best[pngtopam]}"
printf '%-46s %9s\n' "save: ours, an image (save path)" "$save"
printf '%-46s %9s\n' "save: pnmtopng to /dev/null" "${best[pnmtopng]}"
pnmtopng -compression "$level" "$scratch/photo.ppm" >"$scratch/peer.png"
printf '%-46s %9s\n' "file size, ours, KiB" "$(($(stat -c %s "$scratch/saved.png") / 1024))"
printf '%-46s %9s\n' "file size, pnmtopng, KiB" "$(($(stat -c %s "$scratch/peer.png") / 1024))"
echo
ratio "load / pngtopam" "$load" "${best[pngtopam]}" 1.00
ratio "save / pnmtopng" "$save" "${best[pnmtopng]}" 1.00
