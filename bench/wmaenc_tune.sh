#!/usr/bin/env bash
# PEAQ of our WMA encoder natively (bench/wmaenc_wav), on bench/peaq_grades.py's clips at
# 44.1 kHz stereo: a quick loop for tuning the encoder (half a minute a rate on two cores)
# before grading through the plug-in with peaq_grades.py --formats wma.
#   bash bench/wmaenc_tune.sh [KBPS ...]   (default 128 64; build/native-release must hold wmaenc_wav)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=$root/build/native-release/bench/wmaenc_wav
peaq_dir=$(bash "$root/bench/build-peaq.sh" | tail -n 1)
work=${WMAENC_TUNE_WORK:-/tmp/wmaenc_tune}
mkdir -p "$work"
clips="band speech transients piano orchestra castanets applause"
# The clips, once: 44.1 kHz stereo WAV and the 48 kHz reference PEAQ reads.
/usr/bin/python3 - "$root" "$work" $clips <<'PY'
import os, sys
sys.path.insert(0, os.path.join(sys.argv[1], "bench"))
import peaq_grades as g
work = sys.argv[2]
for name in sys.argv[3:]:
    wav = os.path.join(work, name + ".wav")
    if os.path.exists(wav):
        continue
    left, right = g.signal_of(name, 44100, work)
    g.write_wav(wav, 44100, 2, g.interleave(left, right, 2))
    g.run(["ffmpeg", "-y", "-i", wav, "-ar", "48000", "-c:a", "pcm_s16le", os.path.join(work, name + "-ref48.wav")], check=True)
PY
for kbps in "${@:-128 64}"; do
  for c in $clips; do
    (
      "$tool" "$work/$c.wav" "$kbps" "$work/$c-$kbps.wav" > "$work/$c-$kbps.txt"
      ffmpeg -v error -y -i "$work/$c-$kbps.wav" -ar 48000 -c:a pcm_s16le "$work/$c-$kbps-48.wav"
      GST_PLUGIN_PATH=$peaq_dir "$peaq_dir/peaq" "$work/$c-ref48.wav" "$work/$c-$kbps-48.wav" |
        sed -n 's/^Objective Difference Grade: *//p' > "$work/$c-$kbps.odg"
    ) &
    while [ "$(jobs -r | wc -l)" -ge 2 ]; do wait -n; done
  done
  wait
  printf '%s kbps:' "$kbps"
  for c in $clips; do printf ' %s %s' "$c" "$(cat "$work/$c-$kbps.odg")"; done
  printf '  median %s\n' "$(for c in $clips; do cat "$work/$c-$kbps.odg"; done | sort -g | sed -n 4p)"
done
