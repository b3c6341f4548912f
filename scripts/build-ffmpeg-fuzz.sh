#!/usr/bin/env bash
# The same minimal FFmpeg that wmaudsdk.dll links (the ASF muxer and demuxer, the WMA
# encoders and decoders, the file protocol, libswresample), built natively with clang 14,
# AddressSanitizer and libFuzzer's coverage, for the fuzz preset's WMA reader target: the
# fuzzer then covers FFmpeg's code too, not only ours.
#   scripts/build-ffmpeg-fuzz.sh
# prints the install prefix (include/, lib/) on its last line. Built from Debian's source
# package of the FFmpeg Debian ships (scripts/ffmpeg-source.sh) and cached like the mingw
# builds (VELL_CACHE, default ~/.cache/vell) under a key of the version, the compiler and
# the configure line. FFmpeg gets AddressSanitizer and coverage only: the target looks for
# memory errors on hostile files anywhere; undefined behaviour is checked in our code,
# which the fuzz preset builds with UndefinedBehaviorSanitizer as ever.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/ffmpeg-source.sh"
cache=${VELL_CACHE:-$HOME/.cache/vell}
sanitize="-fsanitize=address -fsanitize=fuzzer-no-link -fno-omit-frame-pointer -gline-tables-only"

configure_flags=(
  --cc=clang-14 --cxx=clang++-14
  --enable-static --disable-shared --disable-programs --disable-doc --disable-everything
  --disable-network --disable-autodetect --disable-debug
  --enable-encoder=wmav1,wmav2 --enable-decoder=wmav1,wmav2,wmapro,wmalossless,wmavoice
  --enable-muxer=asf --enable-demuxer=asf --enable-protocol=file --enable-swresample
  --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc --disable-x86asm
  --disable-inline-asm --disable-stripping
  "--extra-cflags=$sanitize" "--extra-ldflags=$sanitize"
)

version=$(vell_ffmpeg_version)
compiler=$(clang-14 --version | head -n 1)
key=$(printf '%s\n' "$version" "$compiler" "${configure_flags[@]}" | sha256sum | cut -c1-16)
prefix=$cache/ffmpeg-${version#*:}-fuzz-$key
if [ -f "$prefix/complete" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/ffmpeg-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "build-ffmpeg-fuzz: building FFmpeg $version with the sanitizers (once; cached in $prefix)" >&2
vell_ffmpeg_source "$work" "$version"
(cd "$work/src" && ./configure --prefix="$prefix" "${configure_flags[@]}" >&2 &&
  make -j"${VELL_JOBS:-2}" >&2 && make install >&2)
echo "FFmpeg $version, $compiler: ${configure_flags[*]}" > "$prefix/complete"
echo "$prefix"
