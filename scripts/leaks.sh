#!/usr/bin/env bash
# Leak cycles under LeakSanitizer: 10 000 lifetimes of the library (initialise, open Hikvision and
# MPEG-4 channels, feed them with callbacks, snapshots, close, shut down) in an AddressSanitizer
# build. The test itself fails on a snapshot temporary file, a module or a thread left behind;
# LeakSanitizer fails the run on any byte lost.
#   scripts/leaks.sh [cycles]      (default 10000; build tree: build/asan, or $ZORV_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
cycles=${1:-10000}
dir=${ZORV_BUILD_DIR:-build/asan}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORV_SANITIZE=address \
  -DZORV_BENCH=OFF -DZORV_TOOLS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target zorv_integration_tests
export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
ZORV_LEAK_CYCLES=$cycles "$dir"/tests/zorv_integration_tests --gtest_filter='LeakCycles*'
