#!/usr/bin/env bash
# Cross-builds Debian's FFmpeg source package for 32-bit Windows: only the MPEG-4 decoder and
# parser, shared (avcodec-NN.dll, avutil-NN.dll), without assembly, libgcc linked in. The
# Win32 build of the library binds these DLLs at run time from "PlayDll\Mp4\" and compiles
# against the headers installed beside them.
#
# The result is cached per source version under ${XDG_CACHE_HOME:-~/.cache}/zorv/ffmpeg-win32;
# "current" points at the prefix of the last good build. A second run returns at once.
# Prints the install prefix as its last line. Needs a deb-src entry (scripts/install-deps.sh).
set -euo pipefail

cache=${ZORV_FFMPEG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zorv/ffmpeg-win32}
host=i686-w64-mingw32
jobs=${JOBS:-$(nproc)}
config=(
  --prefix=PREFIX
  --enable-cross-compile --cross-prefix=${host}- --arch=x86 --target-os=mingw32
  --disable-everything --disable-autodetect --disable-x86asm --disable-debug
  --enable-decoder=mpeg4 --enable-parser=mpeg4video
  --enable-shared --disable-static
  --disable-programs --disable-doc --disable-avdevice --disable-avformat --disable-avfilter
  --disable-swresample --disable-swscale --disable-postproc --disable-network
  --enable-w32threads
  --extra-ldflags=-static-libgcc
)

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

version=$(apt-cache showsrc ffmpeg 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1)
if [ -z "$version" ]; then
  # No source lists: fall back to the last good build, if any.
  if [ -f "$cache/current/.done" ]; then
    readlink -f "$cache/current"
    exit 0
  fi
  echo "build-ffmpeg-win32: no FFmpeg source package known to apt (run scripts/install-deps.sh)" >&2
  exit 1
fi

key=$(printf '%s\n' "$version" "${config[@]}" | sha1sum | cut -c1-12)
dir="$cache/${version//[:~]/_}-$key"
prefix="$dir/prefix"
if [ -f "$prefix/.done" ]; then
  ln -sfn "$prefix" "$cache/current"
  echo "$prefix"
  exit 0
fi

log="$dir/build.log"
rm -rf "$dir"
mkdir -p "$dir/src" "$dir/build"
echo "build-ffmpeg-win32: building FFmpeg $version for $host (log: $log)" >&2
(
  cd "$dir/src"
  apt-get source --only-source "ffmpeg=$version"
) >"$log" 2>&1 || { tail -20 "$log" >&2; exit 1; }
srcdir=$(find "$dir/src" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)
(
  cd "$dir/build"
  "$srcdir/configure" "${config[@]/PREFIX/$prefix}"
  make -j"$jobs"
  make install
) >>"$log" 2>&1 || { tail -30 "$log" >&2; exit 1; }

# Only system DLLs may remain as imports: the decoder must load from its own folder alone.
for dll in "$prefix"/bin/*.dll; do
  imports=$(${host}-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  for imp in $imports; do
    case "$imp" in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|bcrypt.dll|avutil-*.dll) ;;
      *) echo "build-ffmpeg-win32: $dll imports $imp" >&2; exit 1 ;;
    esac
  done
done
rm -rf "$dir/src" "$dir/build"
touch "$prefix/.done"
ln -sfn "$prefix" "$cache/current"
echo "$prefix"
