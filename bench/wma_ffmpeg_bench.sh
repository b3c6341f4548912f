#!/usr/bin/env bash
# WMA through bin/wmaudsdk.dll (our library, FFmpeg linked in): one hour of 44100 Hz stereo
# exported at 128 kbps (options 31) and imported back through vell_wma.flt by flthost under
# wine64, and ten minutes of it through the shipped 32-bit build under wine32, against
# ffmpeg's own encode and decode of the same audio. Our times are flthost's wall-clock
# times (the host, wine's start and the plug-in); ffmpeg's are its wall-clock times. Also
# the round trip's SNR. Prints figures only.
#
#   bash bench/wma_ffmpeg_bench.sh
#
#   VELL_WIN64_BUILD=DIR     configured win64 build to use (default build/win64)
#   VELL_WIN32_BUILD=DIR     configured win32 build to use (default build/win32)
#   VELL_BENCH_SECONDS=N     length of the audio (default 3600)
#   VELL_BENCH_SECONDS32=N   length of the 32-bit run's audio (default 600; 0 skips it)
#
# Uses the running wine session (scripts/wine-session.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
win64=${VELL_WIN64_BUILD:-build/win64}
win32=${VELL_WIN32_BUILD:-build/win32}
seconds=${VELL_BENCH_SECONDS:-3600}
seconds32=${VELL_BENCH_SECONDS32:-600}

[ -f "$win64/CMakeCache.txt" ] || cmake --preset win64 -B "$win64" >/dev/null
cmake --build "$win64" -j2 --target flthost vell_wma wmasdk >/dev/null
if [ "$seconds32" -gt 0 ]; then
  [ -f "$win32/CMakeCache.txt" ] || cmake --preset win32 -B "$win32" >/dev/null
  cmake --build "$win32" -j2 --target flthost vell_wma wmasdk >/dev/null
fi

work=$(mktemp -d /tmp/vell-wma-ffmpeg-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

elapsed() {  # seconds a command takes, its output to files (wine may hold pipes open)
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/out" 2>"$work/err" || { cat "$work/out" "$work/err"; exit 1; }
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.2f}')"
}
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }

# One run: SECONDS of music-like audio (two tones and some noise, 16-bit stereo) through
# ffmpeg and through flthost of BUILD started by RUNNER.
run() {
  local label=$1 secs=$2 bin=$root/$3/bin runner=$4
  ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:r=44100:d=$secs" -f lavfi \
    -i "sine=f=997:r=44100:d=$secs" -f lavfi -i "anoisesrc=r=44100:a=0.05:d=$secs" \
    -filter_complex "[0][1][2]amix=inputs=3,pan=stereo|c0=c0|c1=c0" -c:a pcm_s16le "$work/in.wav"
  cat "$work/in.wav" >/dev/null  # into the page cache before anything is timed
  local ffmpeg_encode ffmpeg_decode our_export our_import
  ffmpeg_encode=$(elapsed ffmpeg -nostdin -v error -y -i "$work/in.wav" -c:a wmav2 -b:a 128k "$work/ffmpeg.wma")
  ffmpeg_decode=$(elapsed ffmpeg -nostdin -v error -y -i "$work/ffmpeg.wma" -f s16le "$work/ffmpeg.raw")
  our_export=$(elapsed "$runner" "$bin/flthost.exe" export "$bin/vell_wma.flt" \
    "$work/in.wav" "$work/ours.wma" --options 31 --quiet)
  our_import=$(elapsed "$runner" "$bin/flthost.exe" import "$bin/vell_wma.flt" \
    "$work/ours.wma" "$work/back.wav" --quiet)
  echo "$label: $secs s of 44100 Hz stereo, 128 kbps WMA"
  echo "  export: flthost $our_export s, ffmpeg $ffmpeg_encode s (x$(ratio "$our_export" "$ffmpeg_encode"))"
  echo "  import: flthost $our_import s, ffmpeg $ffmpeg_decode s (x$(ratio "$our_import" "$ffmpeg_decode"))"
  echo "  sizes: ours $(stat -c %s "$work/ours.wma") bytes, ffmpeg's $(stat -c %s "$work/ffmpeg.wma") bytes"
  python3 - "$work/in.wav" "$work/back.wav" <<'PY'
import array, sys
sys.path.insert(0, "tests")
import wavtools
def pcm(path, frames):  # the first frames of a 16-bit stereo WAV
    data = open(path, "rb").read(1 << 16)
    at = data.find(b"data")
    with open(path, "rb") as f:
        f.seek(at + 8)
        return array.array("h", f.read(frames * 4))
n = 44100 * 60
a, b = pcm(sys.argv[1], n), pcm(sys.argv[2], n)
print(f"  round trip: SNR over the first minute {wavtools.snr_db(a, b):.1f} dB")
PY
  echo "  frames: in $(python3 tests/wavtools.py frames "$work/in.wav"), out $(python3 tests/wavtools.py frames "$work/back.wav")"
}

run "64-bit, wine64" "$seconds" "$win64" "$root/scripts/winerun.sh"
if [ "$seconds32" -gt 0 ]; then
  run "32-bit (shipped), wine32" "$seconds32" "$win32" "$root/scripts/winerun32.sh"
fi
