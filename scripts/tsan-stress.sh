#!/usr/bin/env bash
# Builds the integration suite with ThreadSanitizer (native build, build/tsan) and runs the
# concurrency tests: many host threads and vendor callback threads on hundreds of channels (the
# short stress test and the soak in its short form; scripts/soak.sh runs the long one).
# Any data race fails the run. Extra arguments go to the test program (e.g. another filter).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORV_SANITIZE=thread \
  -DZORV_BENCH=OFF -DZORV_TOOLS=OFF >/dev/null
cmake --build build/tsan -j "$(nproc)" --target zorv_integration_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
build/tsan/tests/zorv_integration_tests --gtest_filter='EngineStress*:EngineSoak*' "$@"
