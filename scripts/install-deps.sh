#!/usr/bin/env bash
# Installs every Debian package the builds, tests, demo and Win32-under-Wine runs need, and the
# source-package lists the Win32 FFmpeg cross-build reads (scripts/build-ffmpeg-win32.sh).
# Idempotent and quiet; returns at once when everything is already there.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config make
  libavcodec-dev libavutil-dev libswscale-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libpng-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  clang-14 libclang-rt-14-dev valgrind
  xvfb xauth
  wine wine32:i386
  dpkg-dev xz-utils
)
have_sources() {
  grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources
}
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && have_sources && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! have_sources; then
  # The same archives as the binary packages, for source packages.
  echo "install-deps: adding deb-src entries"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/zorv-src-debian.sources >/dev/null
  else
    grep -Eh '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list 2>/dev/null | sed 's/^\([[:space:]]*\)deb\b/\1deb-src/' |
      $SUDO tee /etc/apt/sources.list.d/zorv-src.list >/dev/null
  fi
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq >/dev/null
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "install-deps: done"
