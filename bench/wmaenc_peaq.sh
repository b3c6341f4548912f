#!/usr/bin/env bash
# PEAQ (basic version, GstPEAQ from bench/build-peaq.sh) of our WMA encoder beside FFmpeg's
# wmav2 encoder at 64 and 128 kbps, 44.1 kHz stereo, on wmaenc_bench's two signals (its
# decodes lined up with the input, resampled to 48 kHz): ODG per codec and signal.
#   bash bench/wmaenc_peaq.sh [SECONDS]   (build/native-release must hold wmaenc_bench)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-10}
work=$(mktemp -d /tmp/wmaenc_peaq.XXXXXX)
trap 'rm -rf "$work"' EXIT
peaq_dir=$(bash "$root/bench/build-peaq.sh" | tail -n 1)
"$root/build/native-release/bench/wmaenc_bench" "$seconds" "$work"
grade() {  # ref test -> ODG
  ffmpeg -v error -y -i "$1" -ar 48000 -c:a pcm_s16le "$work/ref48.wav"
  ffmpeg -v error -y -i "$2" -ar 48000 -c:a pcm_s16le "$work/test48.wav"
  GST_PLUGIN_PATH=$peaq_dir "$peaq_dir/peaq" "$work/ref48.wav" "$work/test48.wav" |
    sed -n 's/^Objective Difference Grade: *//p'
}
names=("band" "clicks over organ")
echo "PEAQ ODG (0 best, -4 worst)"
for kbps in 64 128; do
  for kind in 0 1; do
    printf '%3s kbps %-18s ours %6s   ffmpeg wmav2 %6s\n' "$kbps" "${names[$kind]}" \
      "$(grade "$work/in-$kind.wav" "$work/ours-$kbps-$kind.wav")" \
      "$(grade "$work/in-$kind.wav" "$work/ffmpeg-$kbps-$kind.wav")"
  done
done
