#!/usr/bin/env bash
# Export speed of the WMA plug-in with our encoder: SECONDS of 44100 Hz stereo (two tones and
# some noise, as wma_ffmpeg_bench.sh makes) exported at row 31 (128 kbps) through flthost,
# vell_wma.flt and wmaudsdk.dll of the shipped 32-bit build under wine32. Prints the time
# inside the plug-in (flthost --time, wall clock) and the whole process's processor time,
# each as times real time; a loaded machine stretches the first more than the second.
# With PEER_BIN (a folder holding flthost.exe, vell_wma.flt and another wmaudsdk.dll, such as
# a build that encodes with FFmpeg's wmav2 encoder) the same runs of it follow, alternating.
# Figures only.
#
#   bash bench/wma_export_speed.sh [PEER_BIN]
#
#   VELL_WIN32_BUILD=DIR   configured win32 build to use (default build/win32)
#   VELL_BENCH_SECONDS=N   length of the audio (default 120)
#   VELL_BENCH_RUNS=N      runs of each (default 3)
#
# Uses the running wine session (scripts/wine-session.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
win32=${VELL_WIN32_BUILD:-build/win32}
seconds=${VELL_BENCH_SECONDS:-120}
runs=${VELL_BENCH_RUNS:-3}
peer=${1:-}

[ -f "$win32/CMakeCache.txt" ] || cmake --preset win32 -B "$win32" >/dev/null
cmake --build "$win32" -j2 --target flthost vell_wma wmasdk >/dev/null

work=$(mktemp -d /tmp/vell-wma-export-speed.XXXXXX)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:r=44100:d=$seconds" -f lavfi \
  -i "sine=f=997:r=44100:d=$seconds" -f lavfi -i "anoisesrc=r=44100:a=0.05:d=$seconds" \
  -filter_complex "[0][1][2]amix=inputs=3,pan=stereo|c0=c0|c1=c0" -c:a pcm_s16le "$work/in.wav"
cat "$work/in.wav" >/dev/null  # into the page cache before anything is timed

export_once() {  # label, folder with flthost.exe, vell_wma.flt, wmaudsdk.dll
  local label=$1 bin=$2
  /usr/bin/time -f "%U %S" -o "$work/cpu" "$root/scripts/winerun32.sh" "$bin/flthost.exe" export \
    "$bin/vell_wma.flt" "$work/in.wav" "$work/out.wma" --options 31 --time --quiet \
    >"$work/out" 2>"$work/err" || { cat "$work/out" "$work/err"; exit 1; }
  python3 - "$label" "$seconds" "$work/out" "$work/cpu" "$work/out.wma" <<'PY'
import os, sys
label, seconds, out, cpu, wma = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
inside = float(next(l.split()[1] for l in open(out) if l.startswith("plugin-seconds:")))
user, system = (float(v) for v in open(cpu).read().split())
print(f"  {label}: in the plug-in {inside:.2f} s (x{seconds / inside:.1f} real time), "
      f"process CPU {user + system:.2f} s (x{seconds / (user + system):.1f}), {os.path.getsize(wma)} bytes")
PY
}

echo "$seconds s of 44100 Hz stereo to 128 kbps WMA (row 31), 32-bit build under wine32"
for _ in $(seq "$runs"); do
  export_once "ours" "$root/$win32/bin"
  [ -z "$peer" ] || export_once "peer" "$peer"
done
