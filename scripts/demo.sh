#!/usr/bin/env bash
# The newcomer's first command: sets up the machine, builds the win64 preset, and sends a few
# seconds of generated test signal through the plug-ins with the command-line host flthost,
# printing what happened at each step. The files are left in <build>/demo for a closer look.
#
#   bash scripts/demo.sh
#
#   VELL_DEMO_BUILD=DIR   use this already configured win64 build directory instead of build/win64
#   VELL_KEEP_SESSION=1   use the wine session that is running; neither start nor stop one
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh
build=${VELL_DEMO_BUILD:-build/win64}
# Quiet unless something fails; then the end of the build's output says what.
quietly() {
  local log rc=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || { tail -n 40 "$log"; echo "demo: '$*' failed" >&2; }
  rm -f "$log"
  return $rc
}
echo "== building the win64 preset (a few minutes the first time)"
if [ -n "${VELL_DEMO_BUILD:-}" ]; then
  quietly cmake --build "$build" -j2
else
  quietly cmake --preset win64
  quietly cmake --build --preset win64
fi

# Start a display and a wineserver unless one is running already; stop only what we started.
if [ "${VELL_KEEP_SESSION:-0}" != 1 ] && ! pgrep -u "$(id -u)" -x wineserver64 >/dev/null; then
  eval "$(bash scripts/wine-session.sh start)"
  trap 'bash scripts/wine-session.sh stop' EXIT
else
  export DISPLAY=${DISPLAY:-:99}
fi

bin=$root/$build/bin
[ -d "$bin" ] || bin=$build/bin
demo=$(cd "$bin/.." && pwd)/demo
mkdir -p "$demo"
rm -f "$demo"/*

say() { printf '\n== %s\n' "$*"; }
show() { sed 's/^/   /' "$@"; }
bytes() { stat -c %s "$1"; }

# flthost under wine, its output in files (wine's helpers may hold a pipe open); shows both.
flthost() {
  local rc=0
  "$root/scripts/winerun.sh" "$bin/flthost.exe" "$@" >"$demo/flthost.out" 2>"$demo/flthost.err" || rc=$?
  show "$demo/flthost.out" "$demo/flthost.err"
  return $rc
}

# A test signal: two tones and a slow tremolo, SECONDS long, at RATE Hz, CHANNELS (default 1).
make_signal() {  # PATH SECONDS RATE [CHANNELS]
  ffmpeg -nostdin -v error -y -f lavfi \
    -i "aevalsrc=0.35*sin(2*PI*440*t)+0.25*sin(2*PI*1250*t)*sin(2*PI*0.5*t):s=$3:d=$2" \
    -ac "${4:-1}" -c:a pcm_s16le "$1"
}

frames() { python3 "$root/tests/wavtools.py" frames "$1"; }

section_aud() {
  local wav=$demo/signal-22050.wav aud=$demo/signal.aud back=$demo/signal-from-aud.wav
  say "AUD: 5 seconds of 22050 Hz mono test signal -> $(basename "$aud") -> $(basename "$back")"
  make_signal "$wav" 5 22050
  echo "-- what vell_aud.flt says about itself:"
  flthost info "$bin/vell_aud.flt"
  echo "-- export through the plug-in:"
  flthost export "$bin/vell_aud.flt" "$wav" "$aud" --time
  echo "-- ffprobe's view of the AUD file:"
  ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of default=nw=1 "$aud" | sed 's/^/   /'
  echo "   samples=$(ffprobe -v error -show_frames -show_entries frame=nb_samples -of csv=p=0 "$aud" |
    awk '{ n += $1 } END { print n }')"
  echo "-- import back through the plug-in:"
  flthost import "$bin/vell_aud.flt" "$aud" "$back" --time
  echo "-- round trip:"
  echo "   WAV $(bytes "$wav") bytes -> AUD $(bytes "$aud") bytes" \
    "($(awk -v a="$(bytes "$wav")" -v b="$(bytes "$aud")" 'BEGIN { printf "%.2f", a / b }'):1)"
  echo "   samples in $(frames "$wav"), samples out $(frames "$back")"
  echo "   $(python3 "$root/tests/wavtools.py" snr "$wav" "$back") (signal-to-noise ratio of the round trip)"
}

section_vqf() {
  local wav=$demo/signal-44100-stereo.wav vqf=$demo/signal.vqf decoded=$demo/signal-ffmpeg-from-vqf.wav
  local back=$demo/signal-from-vqf.wav
  say "VQF: 5 seconds of 44100 Hz stereo -> $(basename "$vqf") at 48 kbps per channel (options 8) and back"
  make_signal "$wav" 5 44100 2
  echo "-- export through the plug-in (our TwinVQ encoder TVQENC.DLL lies beside flthost.exe):"
  flthost export "$bin/vell_vqf.flt" "$wav" "$vqf" --options 8 --time
  echo "-- ffprobe's view of the VQF file:"
  ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of default=nw=1 "$vqf" |
    sed 's/^/   /'
  # ffmpeg decodes whole frames; its sample i is input sample i.
  ffmpeg -nostdin -v quiet -y -i "$vqf" -c:a pcm_s16le "$decoded" || true
  echo "   WAV $(bytes "$wav") bytes -> VQF $(bytes "$vqf") bytes;" \
    "samples in $(frames "$wav"), ffmpeg decodes $(frames "$decoded") (whole 2048-sample frames)"
  echo "-- import back through the plug-in (our own TwinVQ decoder, no library needed):"
  flthost import "$bin/vell_vqf.flt" "$vqf" "$back" --time || return $?
  echo "-- round trip, through our decoder and through ffmpeg's (the two agree within 1 LSB):"
  echo "   samples out: ours $(frames "$back"), ffmpeg's $(frames "$decoded")"
  echo "   ours:     $(python3 "$root/tests/wavtools.py" snr "$wav" "$back") (signal-to-noise ratio of the round trip)"
  echo "   ffmpeg's: $(python3 "$root/tests/wavtools.py" snr "$wav" "$decoded")"
}

section_wma() {
  local wav=$demo/signal-44100-stereo.wav wma=$demo/signal.wma back=$demo/signal-from-wma.wav
  say "WMA: the same signal -> $(basename "$wma") as 64 kbps, 44 kHz, stereo (options 28) and back"
  [ -f "$wav" ] || make_signal "$wav" 5 44100 2
  echo "-- export through the plug-in (bin/wmaudsdk.dll, our WMA library, encodes with FFmpeg):"
  flthost export "$bin/vell_wma.flt" "$wav" "$wma" --options 28 --time
  echo "-- ffprobe's view of the WMA file:"
  ffprobe -v error -show_entries format=format_name,duration,bit_rate:stream=codec_name,sample_rate,channels,bit_rate \
    -of default=nw=1 "$wma" | sed 's/^/   /'
  echo "-- import back through the plug-in:"
  # The plug-in announces the stream's duration plus one millisecond; flthost takes a read
  # that ends that close to the announced size as a normal end and says how many bytes came.
  flthost import "$bin/vell_wma.flt" "$wma" "$back" --time || return $?
  echo "-- round trip (WMA is lossy: the measure is the signal-to-noise ratio):"
  echo "   WAV $(bytes "$wav") bytes -> WMA $(bytes "$wma") bytes;" \
    "samples in $(frames "$wav"), samples out $(frames "$back");" \
    "$(python3 "$root/tests/wavtools.py" snr "$wav" "$back")"
}

# Each plug-in has a section.
sections=(aud vqf wma)
for section in "${sections[@]}"; do
  "section_$section"
done
say "done; the files are in $demo"
