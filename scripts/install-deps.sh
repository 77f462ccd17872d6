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

# Source entries beside the binary ones: the Win32 build cross-compiles Debian's FFmpeg source
# package (scripts/build-ffmpeg-win32.sh fetches it with apt-get source).
need_update=0
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  SUDO_SRC=""
  [ "$(id -u)" -ne 0 ] && SUDO_SRC=sudo
  for f in /etc/apt/sources.list.d/*.sources; do
    grep -qs debian-archive-keyring "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" | $SUDO_SRC tee "/etc/apt/sources.list.d/zorv-src-$(basename "$f")" >/dev/null
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's|^deb \(.*/debian.*\)|deb-src \1|p' /etc/apt/sources.list | $SUDO_SRC tee /etc/apt/sources.list.d/zorv-src.list >/dev/null
  fi
  need_update=1
fi
if [ ${#missing[@]} -eq 0 ]; then
  if [ "$need_update" -eq 1 ]; then
    ${SUDO_SRC:-} apt-get update -qq >/dev/null
  fi
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "install-deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq >/dev/null
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
