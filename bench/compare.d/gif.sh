#!/usr/bin/env bash
# GIF saving side by side, in one run, on one 12-megapixel picture (4000 x 3000): ours (the library's save
# path: octree reduction to 256 colours, error diffusion at the default 70%, LZW, a temporary file renamed
# over the output) against ImageMagick's convert reducing the same PPM with "-colors 256" (dithered, its
# default) and writing a GIF. Ours is timed in-process by velura_bench; ImageMagick is a whole process that
# also reads the PPM (a few tens of milliseconds). Every figure is the best of RUNS rounds (wall time).
# Target: no slower than ImageMagick.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"
need imagemagick convert

# The picture: a fractal landscape with detail at every scale, as a photograph has.
photo=$scratch/photo.ppm
if [[ ! -f $photo ]]; then
  echo "making the 12-megapixel picture ..."
  convert -seed 7 -size 4000x3000 plasma:fractal -depth 8 "$photo"
fi

for ((round = 0; round < runs; round++)); do
  while read -r name ms; do keep "$name" "$ms"; done < <(
    bench_ms '^BM_GifSave' VELURA_BENCH_GIF_SOURCE="$photo" VELURA_BENCH_OUT="$scratch/saved.gif")
  keep convert "$(wall convert "$photo" -colors 256 "$scratch/convert.gif")"
done
ours=${best[BM_GifSave]:-}
[[ -n $ours ]] || { echo "compare: velura_bench gave no GIF timing" >&2; exit 1; }
convert_ms=${best[convert]}

echo "GIF 4000 x 3000, 256 colours, dithered; best of $runs rounds, wall time"
echo
printf '%-46s %9s %9s\n' "" "ms" "KiB"
printf '%-46s %9s %9s\n' "save: ours" "$ours" "$(($(stat -c %s "$scratch/saved.gif") / 1024))"
printf '%-46s %9s %9s\n' "save: ImageMagick convert -colors 256" "$convert_ms" \
  "$(($(stat -c %s "$scratch/convert.gif") / 1024))"
echo
ratio "save / ImageMagick" "$ours" "$convert_ms" 1.00
