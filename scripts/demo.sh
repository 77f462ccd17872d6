#!/usr/bin/env bash
# The main job: builds the native library and its demo host, then plays the bundled MPEG-4
# sample on a 4 x 4 wall of display channels. Images go to out/ (mosaic.png, snapshot_ch0.bmp).
# Extra arguments go to zorvplay (e.g. --fast, --channels 9, --stream d1; --help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)" --target zorvdecoder zorvplay
echo "built: build/native/libzorvdecoder.so, build/native/zorvplay"
exec build/native/zorvplay "$@"
