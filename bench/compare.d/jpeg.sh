#!/usr/bin/env bash
# JPEG loading and saving side by side, in one run, on one 12-megapixel picture (4000 x 3000):
#   load: ours into image planes (the library's load, and the program's open path that makes an image of
#         it) against djpeg decoding to /dev/null and ImageMagick's convert to a null output;
#   save: ours (the program's save path: temporary file, synced and renamed) against cjpeg at the same
#         quality.
# Every figure is the best of RUNS rounds (wall time), so that a busy machine disturbs it least. Ours are
# timed in-process by velura_bench; the peers are whole processes (their start costs a millisecond or two).
# Targets: within 1.15 x djpeg and cjpeg; at most half of ImageMagick's time.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"
need "libjpeg-turbo-progs imagemagick" djpeg cjpeg convert
quality=${QUALITY:-90}

# The picture: a fractal landscape with detail at every scale, as a photograph has.
photo=$scratch/photo-$quality.jpg
if [[ ! -f $photo ]]; then
  echo "making the 12-megapixel picture ..."
  convert -seed 7 -size 4000x3000 plasma:fractal -depth 8 "$scratch/photo.ppm"
  cjpeg -quality "$quality" -outfile "$photo" "$scratch/photo.ppm"
fi
[[ -f $scratch/photo.ppm ]] || djpeg -outfile "$scratch/photo.ppm" "$photo"

for ((round = 0; round < runs; round++)); do
  while read -r name ms; do keep "$name" "$ms"; done < <(
    bench_ms '^BM_Jpeg' VELURA_BENCH_JPEG="$photo" VELURA_BENCH_OUT="$scratch/saved.jpg" \
      VELURA_BENCH_QUALITY="$quality")
  keep djpeg "$(wall djpeg -outfile /dev/null "$photo")"
  keep convert "$(wall convert "$photo" null:)"
  keep cjpeg "$(wall cjpeg -quality "$quality" -outfile /dev/null "$scratch/photo.ppm")"
done
load_planes=${best[BM_JpegLoadIntoPlanes]:-}
load_image=${best[BM_JpegLoadAsImage]:-}
save_image=${best[BM_JpegSaveImage]:-}
[[ -n $load_planes && -n $load_image && -n $save_image ]] || { echo "compare: velura_bench gave no JPEG timings" >&2; exit 1; }
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
ratio "load into planes / djpeg" "$load_planes" "$djpeg_ms" 1.15
ratio "load into planes / ImageMagick" "$load_planes" "$convert_ms" 0.50
ratio "load as an image / djpeg" "$load_image" "$djpeg_ms" 1.15
ratio "load as an image / ImageMagick" "$load_image" "$convert_ms" 0.50
ratio "save / cjpeg" "$save_image" "$cjpeg_ms" 1.15
