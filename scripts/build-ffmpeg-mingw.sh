#!/usr/bin/env bash
# The minimal static FFmpeg that wmaudsdk.dll links, for one mingw-w64 target:
#   scripts/build-ffmpeg-mingw.sh x86_64|i686
# prints the install prefix (include/, lib/) on its last line. Built from Debian's source
# package of the FFmpeg Debian ships, fetched without touching the system's apt setup, and
# kept in a cache outside the checkout (VELL_CACHE, default ~/.cache/vell) under a key made
# of FFmpeg's version, the toolchain's version and the configure line: a later run, or a
# clean clone on the same machine, finds it there. To link another FFmpeg, set the CMake
# variable VELL_FFMPEG_MINGW_PREFIX to its prefix instead.
set -euo pipefail
arch=${1:?usage: $0 x86_64|i686}
# FFmpeg's own x86 assembly (nasm) is built in; FFmpeg picks each routine by the processor
# at run time. Its C code for i686 is compiled for SSE2 like the rest of the 32-bit build.
case "$arch" in
  x86_64) ffarch=x86_64; arch_flags=() ;;
  i686) ffarch=x86; arch_flags=(--extra-cflags="-msse2 -mfpmath=sse") ;;
  *) echo "build-ffmpeg-mingw: unknown target $arch" >&2; exit 2 ;;
esac
cross=$arch-w64-mingw32-
cache=${VELL_CACHE:-$HOME/.cache/vell}

configure_flags=(
  --target-os=mingw32 --arch="$ffarch" --cross-prefix="$cross"
  --enable-static --disable-shared --disable-programs --disable-doc --disable-everything
  --disable-network --disable-autodetect --disable-debug
  --enable-decoder=wmav1,wmav2,wmapro,wmalossless,wmavoice
  --enable-muxer=asf --enable-demuxer=asf --enable-protocol=file --enable-swresample
  --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc
  --enable-x86asm --x86asmexe=nasm "${arch_flags[@]}"
)

command -v nasm >/dev/null || { echo "build-ffmpeg-mingw: nasm is not installed (scripts/setup.sh)" >&2; exit 1; }
version=$(dpkg-query -W -f='${source:Version}' libavcodec-dev 2>/dev/null || true)
[ -n "$version" ] || { echo "build-ffmpeg-mingw: libavcodec-dev is not installed (scripts/setup.sh)" >&2; exit 1; }
toolchain=$("${cross}gcc" --version | head -n 1)
key=$(printf '%s\n' "$version" "$toolchain" "${configure_flags[@]}" | sha256sum | cut -c1-16)
prefix=$cache/ffmpeg-${version#*:}-$arch-$key
if [ -f "$prefix/complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d "$cache/ffmpeg-build.XXXXXX" 2>/dev/null || { mkdir -p "$cache"; mktemp -d "$cache/ffmpeg-build.XXXXXX"; })
trap 'rm -rf "$work"' EXIT
echo "build-ffmpeg-mingw: building FFmpeg $version for $arch (once; cached in $prefix)" >&2

# Debian's source package: a sources list of our own, with the system's archives and keyring.
mkdir -p "$work/lists/partial" "$work/parts"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && { sed 's/^Types:.*/Types: deb-src/' "$f"; echo; }
done > "$work/vell.sources"
[ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > "$work/parts/vell.list"
mkdir -p "$work/cache/archives/partial"
apt_opts=(-o Dir::Etc::SourceList="$work/vell.sources" -o Dir::Etc::SourceParts="$work/parts"
          -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
apt-get "${apt_opts[@]}" -qq update >&2
(cd "$work" && apt-get "${apt_opts[@]}" -qq source --download-only "ffmpeg=$version" 2>&1 | grep -v unsandboxed >&2 || true)
ls "$work"/ffmpeg_*.dsc >/dev/null
# dpkg-source checks the .dsc's signature where it has the keys, and applies Debian's patches.
(cd "$work" && dpkg-source -x ffmpeg_*.dsc src >&2)

(cd "$work/src" && ./configure --prefix="$prefix" "${configure_flags[@]}" >&2 &&
  make -j"$(nproc)" >&2 && make install >&2)
# The licence the static libraries carry, for the packages that ship them.
mkdir -p "$prefix/share/licenses"
cp "$work/src/COPYING.LGPLv2.1" "$work/src/LICENSE.md" "$prefix/share/licenses/"
echo "FFmpeg $version, $toolchain: ${configure_flags[*]}" > "$prefix/complete"
echo "$prefix"
