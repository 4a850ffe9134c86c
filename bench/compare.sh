#!/usr/bin/env bash
# Side-by-side comparisons with outside tools, one script a topic in bench/compare.d/ (each prints its
# figures and the ratios against its targets). Velura's side is timed in-process by velura_bench, built in
# Release in build-compare/ (BUILD_DIR to choose another); every figure is the best of RUNS rounds.
#
#   bench/compare.sh              every topic
#   bench/compare.sh jpeg gif     only these
#   RUNS=15 bench/compare.sh jpeg
set -euo pipefail
dir=$(cd "$(dirname "$0")" && pwd)/compare.d
topics=("$@")
if [[ ${#topics[@]} -eq 0 ]]; then
  for f in "$dir"/*.sh; do topics+=("$(basename "$f" .sh)"); done
fi
for topic in "${topics[@]}"; do
  [[ -f $dir/$topic.sh ]] || { echo "compare.sh: no comparison named $topic" >&2; exit 2; }
  echo "== $topic"
  bash "$dir/$topic.sh"
  echo
done
