#!/usr/bin/env bash
# Benchmark of vell_vqf.flt: one hour of 44100 Hz stereo (a tone left, pink noise right)
# exported at 48 kbps per channel through `flthost export --time`, beside the recording
# encoder library (tvqenc_probe.dll, which forwards to the stand-in TVQENC.DLL and times
# every call into it), then decoded by ffmpeg in the same run; and that hour of VQF
# imported back through `flthost import` (our own TwinVQ decoder) beside ffmpeg's decode of
# the same file to a WAV. Prints figures only.
#
#   bench/vqf_bench.sh [BUILD_DIR]     default build/win64; VQF_BENCH_SECONDS=N for a shorter run
#
# Targets: the plug-in's own work (its time minus the library's calls) >= 2000x real time,
# the whole export (time inside the plug-in's calls) shorter than ffmpeg's decode, and the
# import through flthost (wall clock, wine's start included) at least as fast as ffmpeg's
# decode to a WAV.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
seconds=${VQF_BENCH_SECONDS:-3600}
export DISPLAY=${DISPLAY:-:99}

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
  "$root/scripts/winerun.sh" flthost.exe export vell_vqf.flt in.wav out.vqf --options 8 --time --quiet \
  > export.txt 2> export.err < /dev/null
export_wall=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
plugin=$(sed -n 's/^plugin-seconds: //p' export.txt)
read -r frames encode library < <(sed -n 's/.*frames=\([0-9]*\) encodeSeconds=\([0-9.]*\) librarySeconds=\([0-9.]*\).*/\1 \2 \3/p' probe.txt)

start=$(now)
ffmpeg -v quiet -i out.vqf -f null - < /dev/null || true  # it ends a complete file with an I/O error
decode=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

# The import: flthost's whole process against ffmpeg writing the same WAV.
cat out.vqf > /dev/null
start=$(now)
"$root/scripts/winerun.sh" flthost.exe import vell_vqf.flt out.vqf back.wav --time --quiet \
  > import.txt 2> import.err < /dev/null
import_wall=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
import_plugin=$(sed -n 's/^plugin-seconds: //p' import.txt)
start=$(now)
ffmpeg -v quiet -y -i out.vqf -c:a pcm_s16le ffmpeg.wav < /dev/null || true
decode_wav=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

awk -v s="$seconds" -v p="$plugin" -v e="$encode" -v l="$library" -v d="$decode" -v w="$export_wall" \
    -v f="$frames" -v bytes="$(stat -c %s out.vqf)" -v iw="$import_wall" -v ip="$import_plugin" \
    -v ib="$(stat -c %s back.wav)" -v dw="$decode_wav" -v fb="$(stat -c %s ffmpeg.wav)" 'BEGIN {
  own = p - l
  printf "audio:                         %d s of 44100 Hz stereo, 48 kbps per channel\n", s
  printf "output:                        %d bytes, %d frames\n", bytes, f
  printf "inside the plug-in calls:      %.3f s (flthost wall clock %.3f s)\n", p, w
  printf "  inside TvqEncodeFrame:       %.3f s = %.1f%% of it\n", e, 100 * e / p
  printf "  inside all library calls:    %.3f s\n", l
  printf "  the plug-in own work:        %.3f s = %.0fx real time (target >= 2000x)\n", own, s / own
  printf "ffmpeg decode of the result:   %.3f s\n", d
  printf "export / decode:               %.2f (target < 1)\n", p / d
  printf "import through flthost:        %.3f s wall clock (inside the plug-in %.3f s), %d bytes\n", iw, ip, ib
  printf "ffmpeg decode to a WAV:        %.3f s, %d bytes\n", dw, fb
  printf "import / ffmpeg:               %.2f (target <= 1)\n", iw / dw
}'
