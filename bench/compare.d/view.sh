#!/usr/bin/env bash
# The image display side by side, in one run: a full redraw of the view of a 4000 x 3000 picture at its
# fitting magnification, bilinear, against pixman scaling the same picture to the same size with its
# bilinear filter (velura_bench links pixman as a yardstick only); and the time from a pointer move to the
# presented frame while a radius-35 brush strokes the paint layer, at 100% and at 800%.
# Targets: the redraw no slower than pixman; a move to its frame under 8 ms at both magnifications.
set -euo pipefail
source "$(dirname "$0")/../compare-lib.sh"

# One benchmark a run: their counters differ, which one CSV table cannot hold.
for ((round = 0; round < runs; round++)); do
  for name in ViewFullRedrawAtFit PixmanBilinearScale MoveToFrameAt100 MoveToFrameAt800; do
    while read -r bench ms; do keep "$bench" "$ms"; done < <(bench_ms "^BM_$name")
  done
done
for key in BM_ViewFullRedrawAtFit BM_MoveToFrameAt100 BM_MoveToFrameAt800; do
  [[ -n ${best[$key]:-} ]] || { echo "compare: velura_bench gave no timing for $key" >&2; exit 1; }
done
redraw=${best[BM_ViewFullRedrawAtFit]} pixman=${best[BM_PixmanBilinearScale]:-}
at100=${best[BM_MoveToFrameAt100]} at800=${best[BM_MoveToFrameAt800]}

echo "Display of a 4000 x 3000 picture; best of $runs rounds"
echo
printf '%-50s %9s\n' "full redraw at fit, bilinear (ms)" "$redraw"
[[ -n $pixman ]] && printf '%-50s %9s\n' "pixman, bilinear scale to the same size (ms)" "$pixman"
printf '%-50s %9s\n' "pointer move to presented frame, 100% (ms)" "$at100"
printf '%-50s %9s\n' "pointer move to presented frame, 800% (ms)" "$at800"
echo
if [[ -n $pixman ]]; then
  ratio "redraw / pixman" "$redraw" "$pixman" 1.00
else
  echo "redraw / pixman: pixman was not found when velura_bench was built (libpixman-1-dev)"
fi
ratio "move to frame at 100% / 8 ms" "$at100" 8 1.00
ratio "move to frame at 800% / 8 ms" "$at800" 8 1.00
