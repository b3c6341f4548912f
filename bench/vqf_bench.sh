#!/usr/bin/env bash
# Benchmark of vell_vqf.flt: one hour of 44100 Hz stereo (a tone left, pink noise right)
# exported at 48 kbps per channel through `flthost export --time`, beside the recording
# encoder library (tvqenc_probe.dll, which forwards to the stand-in TVQENC.DLL and times
# every call into it), then decoded by ffmpeg in the same run; and that hour of VQF
# imported back through `flthost import` (our own TwinVQ decoder) beside ffmpeg's decode of
# the same file to a WAV: wall clock and processor time (user + system of the process, which
# other work on a loaded machine changes less); with build/native-release, the reader and
# decoder natively on the same file beside ffmpeg's decode alone. Prints figures only.
#
#   bench/vqf_bench.sh [BUILD_DIR]     default build/win64; VQF_BENCH_SECONDS=N for a shorter run
#   bench/vqf_bench.sh build/win32     the shipped 32-bit build under wine32
#
# Targets: the plug-in's own work (its time minus the library's calls) >= 2000x real time,
# the whole export (time inside the plug-in's calls) shorter than ffmpeg's decode, and the
# import through flthost (wine's start included) at least as fast as ffmpeg's decode to a
# WAV in the 64-bit build, at most 1.5 times its time in the 32-bit one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
seconds=${VQF_BENCH_SECONDS:-3600}
export DISPLAY=${DISPLAY:-:99}
runner=$root/scripts/winerun.sh
if grep -q '^CMAKE_SIZEOF_VOID_P:INTERNAL=4' "$build/CMakeCache.txt" 2>/dev/null ||
   i686-w64-mingw32-objdump -f "$build/bin/flthost.exe" 2>/dev/null | grep -q 'pei-i386'; then
  runner=$root/scripts/winerun32.sh
fi

for file in flthost.exe vell_vqf.flt TVQENC.DLL tvqenc_probe.dll; do
  if [ ! -f "$build/bin/$file" ]; then
    echo "missing $build/bin/$file: build the win64 preset first" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vqf_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$build/bin/flthost.exe" "$build/bin/vell_vqf.flt" "$work/"
cp "$build/bin/tvqenc_probe.dll" "$work/TVQENC.DLL"
cp "$build/bin/TVQENC.DLL" "$work/tvqenc_real.dll"
cd "$work"

now() { date +%s.%N; }
echo "generating ${seconds} s of 44100 Hz stereo 16-bit input..."
ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" \
  -f lavfi -i "anoisesrc=color=pink:sample_rate=44100:amplitude=0.3:duration=$seconds" \
  -filter_complex "[0][1]amerge=inputs=2" -c:a pcm_s16le in.wav

start=$(now)
VELL_PROBE_REPORT="$work/probe.txt" VELL_PROBE_TIMING_ONLY=1 \
  "$runner" flthost.exe export vell_vqf.flt in.wav out.vqf --options 8 --time --quiet \
  > export.txt 2> export.err < /dev/null
export_wall=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
plugin=$(sed -n 's/^plugin-seconds: //p' export.txt)
read -r frames encode library < <(sed -n 's/.*frames=\([0-9]*\) encodeSeconds=\([0-9.]*\) librarySeconds=\([0-9.]*\).*/\1 \2 \3/p' probe.txt)

start=$(now)
ffmpeg -v quiet -i out.vqf -f null - < /dev/null || true  # it ends a complete file with an I/O error
decode=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

# The import: flthost's whole process against ffmpeg writing the same WAV, each timed by
# the wall clock and by its processor time.
# cpu OUT COMMAND...: runs COMMAND (output to OUT, errors to OUT.err), prints its processor seconds.
cpu() {
  local out=$1
  shift
  /usr/bin/time -f '%U %S' -o "$work/cpu.txt" "$@" > "$out" 2> "$out.err" < /dev/null || true
  awk 'END { print $1 + $2 }' "$work/cpu.txt"
}
cat out.vqf > /dev/null
start=$(now)
import_cpu=$(cpu import.txt "$runner" flthost.exe import vell_vqf.flt out.vqf back.wav --time --quiet)
import_wall=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
import_plugin=$(sed -n 's/^plugin-seconds: //p' import.txt)
start=$(now)
decode_cpu=$(cpu ffmpeg.txt ffmpeg -v quiet -y -i out.vqf -c:a pcm_s16le ffmpeg.wav)
decode_wav=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
native=$root/build/native-release/bench/vqf_import_bench
if [ -x "$native" ]; then
  native_line=$("$native" out.vqf 3)
  null_cpu=$(cpu null.txt ffmpeg -v quiet -i out.vqf -f null -)
fi

awk -v s="$seconds" -v p="$plugin" -v e="$encode" -v l="$library" -v d="$decode" -v w="$export_wall" \
    -v f="$frames" -v bytes="$(stat -c %s out.vqf)" -v iw="$import_wall" -v ip="$import_plugin" \
    -v ib="$(stat -c %s back.wav)" -v dw="$decode_wav" -v fb="$(stat -c %s ffmpeg.wav)" \
    -v ic="$import_cpu" -v dc="$decode_cpu" -v nl="${native_line:-}" -v nc="${null_cpu:-}" \
    -v runner="$(basename "$runner")" 'BEGIN {
  own = p - l
  printf "audio:                         %d s of 44100 Hz stereo, 48 kbps per channel\n", s
  printf "output:                        %d bytes, %d frames\n", bytes, f
  printf "inside the plug-in calls:      %.3f s (flthost wall clock %.3f s)\n", p, w
  printf "  inside TvqEncodeFrame:       %.3f s = %.1f%% of it\n", e, 100 * e / p
  printf "  inside all library calls:    %.3f s\n", l
  printf "  the plug-in own work:        %.3f s = %.0fx real time (target >= 2000x)\n", own, s / own
  printf "ffmpeg decode of the result:   %.3f s\n", d
  printf "export / decode:               %.2f (target < 1)\n", p / d
  printf "import through flthost (%s): %.3f s wall clock, %.3f s processor (inside the plug-in %.3f s), %d bytes\n", runner, iw, ic, ip, ib
  printf "ffmpeg decode to a WAV:        %.3f s wall clock, %.3f s processor, %d bytes\n", dw, dc, fb
  printf "import / ffmpeg:               %.2f wall clock, %.2f processor (target <= 1 in 64 bits, <= 1.5 in 32)\n", iw / dw, ic / dc
  if (nl != "") {
    printf "natively, reader and decoder:  %s\n", nl
    printf "natively, ffmpeg decode alone: %.3f s processor\n", nc
  }
}'
