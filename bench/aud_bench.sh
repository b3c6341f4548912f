#!/usr/bin/env bash
# AUD speed, one hour of generated 22050 Hz mono in one run: ffmpeg's wsaud encode and its
# decode of that file to a WAV, against our export and import through flthost, both as whole
# processes (what a user waits for) and as the time inside the plug-in's calls (from open to
# close), and the codec core natively. Prints figures only.
#
#   bash bench/aud_bench.sh
#
#   VELL_WIN64_BUILD=DIR            configured win64 build to use (default build/win64)
#   VELL_NATIVE_RELEASE_BUILD=DIR   configured native-release build (default build/native-release)
#   VELL_BENCH_SECONDS=N            length of the signal (default 3600)
#   VELL_BENCH_RUNS=N               runs of each measurement; the best counts (default 3)
#   VELL_KEEP_SESSION=1             use the running wine session; neither start nor stop one
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
win64=${VELL_WIN64_BUILD:-build/win64}
native=${VELL_NATIVE_RELEASE_BUILD:-build/native-release}
seconds=${VELL_BENCH_SECONDS:-3600}
runs=${VELL_BENCH_RUNS:-3}

[ -f "$win64/CMakeCache.txt" ] || cmake --preset win64 -B "$win64" >/dev/null
[ -f "$native/CMakeCache.txt" ] || cmake --preset native-release -B "$native" >/dev/null
cmake --build "$win64" -j2 --target flthost vell_aud || { echo "aud_bench: win64 build failed" >&2; exit 1; }
cmake --build "$native" -j2 --target aud_codec_bench || { echo "aud_bench: native build failed" >&2; exit 1; }

if [ "${VELL_KEEP_SESSION:-0}" != 1 ] && ! pgrep -u "$(id -u)" -x wineserver64 >/dev/null; then
  eval "$(bash scripts/wine-session.sh start)"
  trap 'bash scripts/wine-session.sh stop; rm -rf "$work"' EXIT
else
  trap 'rm -rf "$work"' EXIT
fi
work=$(mktemp -d /tmp/vell-aud-bench.XXXXXX)

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
field() { sed -n "s/^$1: \([0-9.]*\).*/\1/p" "$2"; }
flthost() {  # output in a file: wine's helpers may hold a pipe open
  "$root/scripts/winerun.sh" "$root/$win64/bin/flthost.exe" "$@" >"$work/flthost.out" 2>"$work/flthost.err"
}

samples=$((seconds * 22050))
echo "AUD benchmark: $seconds s of 22050 Hz mono, $samples samples, best of $runs runs" \
  "(load average: $(cut -d' ' -f1-3 /proc/loadavg))"
ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=$seconds" \
  -f lavfi -i "anoisesrc=color=pink:amplitude=0.2:sample_rate=22050:duration=$seconds" \
  -filter_complex amix=inputs=2 -ac 1 -c:a pcm_s16le "$work/in.wav"
cat "$work/in.wav" >/dev/null  # into the page cache before anything is timed

# Runs a command and sets `wall` to its wall-clock seconds and `cpu` to the CPU seconds (user
# and system) of the processes it ran. On a loaded machine the wall clock also counts the wait
# for a core; the CPU time does not (nor wineserver's share of a wine program's work).
child_cpu_ms() {  # the CPU time of this shell's finished children so far, in ms
  times >"$work/times"  # (a builtin, so nothing is started to read it)
  local user sys u s
  { read -r _; read -r user sys; } <"$work/times"
  u=${user#*m} s=${sys#*m}
  u=${u%s} s=${s%s}
  children_ms=$(( ${user%%m*} * 60000 + 10#${u/./} + ${sys%%m*} * 60000 + 10#${s/./} ))
}
measure() {
  local start before
  start=$(now)
  child_cpu_ms; before=$children_ms
  "$@"
  child_cpu_ms
  cpu=$(awk -v ms=$(( children_ms - before )) 'BEGIN { printf "%.3f", ms / 1000 }')
  wall=$(elapsed "$start")
}
ffmpeg_encode() { ffmpeg -nostdin -v error -y -i "$work/in.wav" -c:a adpcm_ima_ws -f wsaud "$work/ffmpeg.aud"; }
# (ffmpeg reports the end of a wsaud file as an input/output error; the decode is complete.)
ffmpeg_decode() {
  ffmpeg -nostdin -v error -y -i "$work/ffmpeg.aud" -c:a pcm_s16le "$work/ffmpeg-back.wav" 2>"$work/ffmpeg-decode.err"
}

# The machine is shared, so each figure is the best of several runs, taken in turn so that a
# change of load touches both sides alike.
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
ff_encode= ff_decode= our_export= our_import= our_export_run= our_import_run=
ff_encode_cpu= ff_decode_cpu= our_export_cpu= our_import_cpu=
for _ in $(seq "$runs"); do
  measure ffmpeg_encode
  ff_encode=$(min "$ff_encode" "$wall") ff_encode_cpu=$(min "$ff_encode_cpu" "$cpu")
  measure ffmpeg_decode
  ff_decode=$(min "$ff_decode" "$wall") ff_decode_cpu=$(min "$ff_decode_cpu" "$cpu")

  measure flthost export "$root/$win64/bin/vell_aud.flt" "$work/in.wav" "$work/ours.aud" --time --quiet
  our_export_run=$(min "$our_export_run" "$wall") our_export_cpu=$(min "$our_export_cpu" "$cpu")
  our_export=$(min "$our_export" "$(field plugin-seconds "$work/flthost.out")")
  measure flthost import "$root/$win64/bin/vell_aud.flt" "$work/ours.aud" "$work/back.wav" --time --quiet
  our_import_run=$(min "$our_import_run" "$wall") our_import_cpu=$(min "$our_import_cpu" "$cpu")
  our_import=$(min "$our_import" "$(field plugin-seconds "$work/flthost.out")")
done

"$root/$native/bench/aud_codec_bench" "$seconds" >"$work/native.out"
native_encode=$(field native-encode-msamples-per-second "$work/native.out")
native_decode=$(field native-decode-msamples-per-second "$work/native.out")

row() {  # label, target, then ffmpeg's and our whole run (wall, CPU), our time inside the plug-in
  printf '%-22s %7.3f %7.3f  %7.3f %7.3f  %6sx %6sx  %-6s %8.3f %7sx\n' "$1" "$3" "$4" "$5" "$6" \
    "$(ratio "$3" "$5")" "$(ratio "$4" "$6")" "$2" "$7" "$(ratio "$3" "$7")"
}
echo "                       whole process, seconds          speed vs ffmpeg           inside the plug-in"
echo "                        ffmpeg (CPU)    flthost (CPU)   wall    CPU   target    seconds vs ffmpeg"
row "export (encode)" ">= 2x" "$ff_encode" "$ff_encode_cpu" "$our_export_run" "$our_export_cpu" "$our_export"
row "import (decode to WAV)" ">= 1x" "$ff_decode" "$ff_decode_cpu" "$our_import_run" "$our_import_cpu" "$our_import"
cat <<REPORT
native core encode (CPU time)     $(field native-encode-seconds "$work/native.out") s   ${native_encode} M samples/s   >= 200
native core decode (CPU time)     $(field native-decode-seconds "$work/native.out") s   ${native_decode} M samples/s   >= 200
files: WAV $(stat -c %s "$work/in.wav") bytes, ffmpeg's AUD $(stat -c %s "$work/ffmpeg.aud"), ours $(stat -c %s "$work/ours.aud")
REPORT
