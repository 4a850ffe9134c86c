#!/usr/bin/env bash
# Runs one fuzz target for a few seconds: new inputs go to a work folder, the seeds stay as they are.
#   run-target.sh BINARY WORKDIR SEEDDIR
set -euo pipefail
binary=$1 work=$2 seeds=$3
mkdir -p "$work"
exec "$binary" -max_total_time="${VELURA_FUZZ_SECONDS:-4}" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work" "$seeds"
