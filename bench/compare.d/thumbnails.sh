#!/usr/bin/env bash
# The file requester's thumbnails side by side: listing a folder of 200 JPEG photographs of 2000 x 1500
# with thumbnails that fit 50 x 39, cold (no thumbnail database: each picture decoded at a reduced size,
# shrunk, stored as a JPEG) and warm (all from the database), against vipsthumbnail making the same
# thumbnails. Every figure is the best of RUNS rounds (wall time; ours in-process, vips a whole process).
# Targets: cold within 1.2 x vips; warm under a tenth of cold.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"
need "libvips-tools libjpeg-turbo-progs imagemagick" vipsthumbnail cjpeg convert
runs=${RUNS:-3}

photos=$scratch/photos
if [[ ! -f $photos/photo-199.jpg ]]; then
  echo "making 200 photographs of 2000 x 1500 ..."
  mkdir -p "$photos"
  convert -seed 11 -size 2000x1500 plasma:fractal -depth 8 "$scratch/photo.ppm"
  for i in $(seq 0 199); do cjpeg -quality 90 -outfile "$photos/photo-$i.jpg" "$scratch/photo.ppm"; done
fi

for ((round = 0; round < runs; round++)); do
  while read -r name ms; do keep "$name" "$ms"; done < <(bench_ms '^BM_Thumbnails' VELURA_BENCH_THUMBNAILS="$photos")
  rm -rf "$scratch/vips" && mkdir -p "$scratch/vips"
  keep vips "$(wall vipsthumbnail --size 50x39 -o "$scratch/vips/%s.jpg" "$photos"/*.jpg)"
done
cold=${best[BM_ThumbnailsCold]:-} warm=${best[BM_ThumbnailsWarm]:-}
[[ -n $cold && -n $warm ]] || { echo "compare: velura_bench gave no thumbnail timings" >&2; exit 1; }
vips=${best[vips]}

echo "200 JPEG photographs of 2000 x 1500, thumbnails within 50 x 39; best of $runs rounds, wall time"
echo
printf '%-46s %9s\n' "" "ms"
printf '%-46s %9s\n' "listing, cold (no database)" "$cold"
printf '%-46s %9s\n' "listing, warm (from the database)" "$warm"
printf '%-46s %9s\n' "vipsthumbnail, the same thumbnails" "$vips"
echo
ratio "cold / vipsthumbnail" "$cold" "$vips" 1.2
ratio "warm / cold" "$warm" "$cold" 0.1
exit $missed
