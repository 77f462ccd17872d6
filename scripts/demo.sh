#!/usr/bin/env bash
# The main job: builds the native library and shows what it built.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)"
echo "built:"
ls -l build/native/libzorvdecoder.so
