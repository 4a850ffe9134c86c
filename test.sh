#!/usr/bin/env bash
# Builds the tests and runs every one of them.
#   ./test.sh          Debug build with AddressSanitizer and UndefinedBehaviorSanitizer in build-test/
#   ./test.sh --tsan   the same tests under ThreadSanitizer in build-tsan/
# Extra arguments after the options go to ctest (for example -R Tags).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
need_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

mode=asan
if [ "${1:-}" = "--tsan" ]; then mode=tsan; shift; fi
jobs=$(nproc)

if [ "$mode" = tsan ]; then
  dir=build-tsan
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELURA_SANITIZE=thread >/dev/null
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
else
  dir=build-test
  # The fuzz targets need clang; the tests run them briefly.
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELURA_FUZZ=ON >/dev/null
  cmake --build build-fuzz
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELURA_SANITIZE=address \
    -DVELURA_FUZZ_BIN_DIR="$PWD/build-fuzz" >/dev/null
  export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
fi
cmake --build "$dir"
cd "$dir"
ctest --output-on-failure -j "$jobs" "$@"
