#!/usr/bin/env bash
# Start to first drawn window: the time from starting the program to the moment its start window is on the
# screen, drawn. The program runs headless with a script that waits until everything is drawn and idle and
# then writes a screenshot; the figure is the screenshot's modification time minus the moment the process
# was started (so it includes the few milliseconds that "wait" needs to see the program idle). Each round
# is a fresh process with an empty user directory, i.e. a first start. Target: under half a second.
#
#   bench/startup.sh            builds Release in build/ when needed (BUILD_DIR to choose another)
#   RUNS=20 bench/startup.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${RUNS:-10}
target_ms=500

if [[ ! -x "$build/velura" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target velura >/dev/null
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velura-startup.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
printf 'wait\nscreenshot %s/shot.ppm\nquit\n' "$scratch" >"$scratch/script.txt"

times=()
for ((i = 0; i < runs; i++)); do
  rm -rf "$scratch/user" "$scratch/shot.ppm"
  start=$(date +%s%N)
  VELURA_USER_DIR="$scratch/user" XDG_RUNTIME_DIR="$scratch" \
    "$build/velura" --headless --script "$scratch/script.txt" >/dev/null 2>"$scratch/err.txt" || {
    echo "startup.sh: the program failed:" >&2
    cat "$scratch/err.txt" >&2
    exit 1
  }
  drawn=$(stat -c %.9Y "$scratch/shot.ppm" | tr -d .)
  times+=($(((drawn - start) / 1000000)))
done

sorted=($(printf '%s\n' "${times[@]}" | sort -n))
median=${sorted[$((runs / 2))]}
echo "start to first drawn window over $runs starts: best ${sorted[0]} ms, median $median ms," \
  "worst ${sorted[$((runs - 1))]} ms (target: under $target_ms ms)"
if ((median >= target_ms)); then
  echo "startup.sh: the median is over the target" >&2
  exit 1
fi
