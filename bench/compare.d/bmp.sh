#!/usr/bin/env bash
# BMP loading and saving side by side, in one run, on one 12-megapixel 24-bit picture (4000 x 3000):
#   load: ours into image planes (the library's load, and the program's open path that makes an image of
#         it) against netpbm's bmptopnm and ImageMagick's convert, each decoding to nothing;
#   save: ours (the program's save path: temporary file, synced and renamed) against ppmtobmp and
#         ImageMagick's convert writing a 24-bit BMP from the picture in netpbm form.
# Every figure is the best of RUNS rounds (wall time), so that a busy machine disturbs it least. Ours are
# timed in-process by velura_bench; the peers are whole processes (their start costs a millisecond or two).
# Target: no slower than the fastest peer.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"
need "netpbm imagemagick" bmptopnm ppmtobmp convert

# The picture: a fractal landscape with detail at every scale, as a photograph has.
photo=$scratch/photo.bmp
if [[ ! -f $photo ]]; then
  echo "making the 12-megapixel picture ..."
  [[ -f $scratch/photo.ppm ]] || convert -seed 7 -size 4000x3000 plasma:fractal -depth 8 "$scratch/photo.ppm"
  ppmtobmp -bpp 24 "$scratch/photo.ppm" >"$photo" 2>/dev/null
fi
[[ -f $scratch/photo.ppm ]] || bmptopnm "$photo" >"$scratch/photo.ppm" 2>/dev/null

for ((round = 0; round < runs; round++)); do
  while read -r name ms; do keep "$name" "$ms"; done < <(
    bench_ms '^BM_Bmp' VELURA_BENCH_BMP="$photo" VELURA_BENCH_OUT="$scratch/saved.bmp")
  keep bmptopnm "$(wall sh -c "bmptopnm '$photo' >/dev/null")"
  keep convert-load "$(wall convert "$photo" null:)"
  keep ppmtobmp "$(wall sh -c "ppmtobmp -bpp 24 '$scratch/photo.ppm' >/dev/null")"
  keep convert-save "$(wall convert "$scratch/photo.ppm" bmp3:/dev/null)"
done
load_planes=${best[BM_BmpLoadIntoPlanes]:-}
load_image=${best[BM_BmpLoadAsImage]:-}
save_image=${best[BM_BmpSaveImage]:-}
[[ -n $load_planes && -n $load_image && -n $save_image ]] || { echo "compare: velura_bench gave no BMP timings" >&2; exit 1; }
bmptopnm_ms=${best[bmptopnm]} convert_load_ms=${best[convert-load]}
ppmtobmp_ms=${best[ppmtobmp]} convert_save_ms=${best[convert-save]}
fastest_load=$(awk -v a="$bmptopnm_ms" -v b="$convert_load_ms" 'BEGIN { print (a < b ? a : b) }')
fastest_save=$(awk -v a="$ppmtobmp_ms" -v b="$convert_save_ms" 'BEGIN { print (a < b ? a : b) }')

size=$(stat -c %s "$photo")
echo "BMP 4000 x 3000, 24-bit, $((size / 1024)) KiB; best of $runs rounds, wall time"
echo
printf '%-46s %9s\n' "" "ms"
printf '%-46s %9s\n' "load: ours, into the buffer's planes" "$load_planes"
printf '%-46s %9s\n' "load: ours, as an image (open path)" "$load_image"
printf '%-46s %9s\n' "load: bmptopnm to /dev/null" "$bmptopnm_ms"
printf '%-46s %9s\n' "load: ImageMagick convert to null:" "$convert_load_ms"
printf '%-46s %9s\n' "save: ours, an image (save path)" "$save_image"
printf '%-46s %9s\n' "save: ppmtobmp to /dev/null" "$ppmtobmp_ms"
printf '%-46s %9s\n' "save: ImageMagick convert to /dev/null" "$convert_save_ms"
echo
ratio "load into planes / fastest peer" "$load_planes" "$fastest_load" 1.00
ratio "load as an image / fastest peer" "$load_image" "$fastest_load" 1.00
ratio "save / fastest peer" "$save_image" "$fastest_save" 1.00
ratio "load into planes / bmptopnm" "$load_planes" "$bmptopnm_ms" 1.00
ratio "load into planes / ImageMagick" "$load_planes" "$convert_load_ms" 1.00
ratio "save / ppmtobmp" "$save_image" "$ppmtobmp_ms" 1.00
ratio "save / ImageMagick" "$save_image" "$convert_save_ms" 1.00
