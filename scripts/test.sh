#!/usr/bin/env bash
# Builds both targets and runs every test: native first, then Win32 under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
gen=(-G Ninja)

echo "== native build"
cmake -S . -B build/native "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$jobs"
echo "== native tests"
ctest --test-dir build/native --output-on-failure -j 1

echo "== win32 build"
# The MPEG-4 decoder DLLs for the Win32 test tree: Debian's FFmpeg source, cross-built once, cached.
ffmpeg_win32=$(scripts/build-ffmpeg-win32.sh | tail -1)
cmake -S . -B build/win32 "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORV_BENCH=OFF -DZORV_FFMPEG_WIN32="$ffmpeg_win32" >/dev/null
cmake --build build/win32 -j "$jobs"
echo "== win32 tests (Wine)"
ctest --test-dir build/win32 --output-on-failure -j 1
