#!/usr/bin/env bash
# The soak under ThreadSanitizer: 8 host threads and the stand-in players' own threads on all 500
# channels for 60 s (file heads, frames, control calls, snapshots and closes interleaved), then
# 10 000 cycles of closing and shutting down while the players call back; the short stress test
# runs too. Any data race, a host callback after its channel's close returned, or a thread stuck
# for 10 s fails the run.
#   scripts/soak.sh [seconds [cycles]]      (defaults 60 and 10000; build tree: build/tsan, or
#                                            $ZORV_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cycles=${2:-10000}
dir=${ZORV_BUILD_DIR:-build/tsan}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORV_SANITIZE=thread \
  -DZORV_BENCH=OFF -DZORV_TOOLS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target zorv_integration_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ZORV_SOAK_SECONDS=$seconds ZORV_SOAK_CYCLES=$cycles \
  "$dir"/tests/zorv_integration_tests --gtest_filter='EngineSoak*:EngineStress*'
