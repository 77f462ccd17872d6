#!/usr/bin/env bash
# Installs every Debian package the builds, tests, demo and Win32-under-Wine runs need.
# Idempotent and quiet; returns at once when everything is already there.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config make
  libavcodec-dev libavutil-dev libswscale-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libpng-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev
  clang-14 libclang-rt-14-dev valgrind
  xvfb xauth
  wine wine32:i386
  dpkg-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq >/dev/null
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
