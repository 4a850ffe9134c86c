#!/usr/bin/env bash
# Builds Velura (Release, in build/) and starts it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
need_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target velura
exec ./build/velura "$@"
