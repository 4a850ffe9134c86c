# Sourced by the side-by-side comparisons in bench/compare.d/: the Release build of velura_bench, a scratch
# folder, best-of-rounds bookkeeping, wall times of whole commands and the ratio lines.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-compare}
runs=${RUNS:-9}

# need TOOL... (PACKAGES): stops with a clear message when a peer is missing.
need() {
  local hint=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "compare: $tool is missing (apt-get install $hint)" >&2; exit 2; }
  done
}
need "cmake ninja-build" cmake ninja

# Scratch in memory when there is some, so that the disk times nobody.
if [[ -d /dev/shm && -w /dev/shm ]]; then scratch=/dev/shm/velura-compare; else scratch=${TMPDIR:-/tmp}/velura-compare; fi
mkdir -p "$scratch"

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target velura_bench velura-convert -j "${JOBS:-2}" >/dev/null

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
# bench_ms FILTER [ENV=VALUE...]: runs the matching velura_bench benchmarks once and prints "NAME MS" lines
# (each benchmark's mean over a few iterations).
bench_ms() {
  local filter=$1
  shift
  env "$@" "$build/velura_bench" --benchmark_filter="$filter" --benchmark_min_time=0.2 --benchmark_format=csv \
    2>/dev/null |
    awk -F, '/^"BM_/ {
               name = $1; gsub(/"|\/.*/, "", name); t = $3
               if ($5 == "us") t /= 1000; else if ($5 == "ns") t /= 1e6; else if ($5 == "s") t *= 1000
               printf "%s %.3f\n", name, t
             }'
}

missed=0
# ratio NAME OURS PEER LIMIT: prints ours / peer against the limit.
ratio() {
  local r verdict
  r=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')
  if awk -v r="$r" -v l="$4" 'BEGIN { exit !(r <= l) }'; then verdict=met; else verdict=MISSED; missed=1; fi
  printf '%-46s %6s x  (target <= %s)  %s\n' "$1" "$r" "$4" "$verdict"
}
