#!/usr/bin/env bash
# PEAQ of our encoders natively, on bench/peaq_grades.py's clips: a quick loop for tuning an
# encoder (half a minute a setting on two cores) before grading through the plug-ins with
# peaq_grades.py. Prints each clip's ODG and DI and the medians.
#   bash bench/peaq_tune.sh wma [KBPS | KHZ/KBPS/CH ...]  our WMA encoder (wmaenc_wav): KBPS
#                                                 alone is 44.1 kHz stereo; default 128 64,
#                                                 seven clips
#   bash bench/peaq_tune.sh vqf [KHZ/KBPS/CH ...]  our TwinVQ encoder (tvqenc_wav), KBPS per
#                                                 channel; default 44/48/2 22/24/1, five clips
# build/native-release must hold the tool (WMAENC_WAV / TVQENC_WAV name another build of it;
# PEAQ_TUNE_WORK another folder for the clips and results).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
format=${1:?wma or vqf}
shift
case "$format" in
wma) tool=${WMAENC_WAV:-$root/build/native-release/bench/wmaenc_wav}
     clips="band speech transients piano orchestra castanets applause"
     set -- "${@:-128 64}" ;;
vqf) tool=${TVQENC_WAV:-$root/build/native-release/bench/tvqenc_wav}
     clips="band speech transients piano orchestra"
     set -- "${@:-44/48/2 22/24/1}" ;;
*) echo "wma or vqf" >&2; exit 2 ;;
esac
peaq_dir=$(bash "$root/bench/build-peaq.sh" | tail -n 1)
work=${PEAQ_TUNE_WORK:-/tmp/peaq_tune}
mkdir -p "$work"

for setting in $@; do
  if [ "$format" = wma ] && [[ $setting != */* ]]; then rate=44100 channels=2 args=$setting
  else
    IFS=/ read -r khz kbps channels <<<"$setting"
    rate=$(case $khz in 44) echo 44100;; 32) echo 32000;; 22) echo 22050;; 16) echo 16000;; 11) echo 11025;; 8) echo 8000;; esac)
    if [ "$format" = wma ]; then args=$kbps; else args="$khz $kbps"; fi
  fi
  # The clips at this rate, once, and the 48 kHz reference PEAQ reads.
  /usr/bin/python3 - "$root" "$work" "$rate" "$channels" $clips <<'PY'
import os, sys
sys.path.insert(0, os.path.join(sys.argv[1], "bench"))
import peaq_grades as g
work, rate, channels = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
for name in sys.argv[5:]:
    wav = os.path.join(work, f"{name}-{rate}-{channels}.wav")
    if os.path.exists(wav):
        continue
    left, right = g.signal_of(name, rate, work)
    pcm = g.interleave(left, right, channels) if channels == 2 else left
    g.write_wav(wav, rate, channels, pcm)
    g.run(["ffmpeg", "-y", "-v", "error", "-i", wav, "-ar", "48000", "-c:a", "pcm_s16le",
           wav[:-4] + "-ref48.wav"], check=True)
PY
  tag=$format-${setting//\//-}${PEAQ_TUNE_TAG:+-$PEAQ_TUNE_TAG}
  for c in $clips; do
    (
      clip=$work/$c-$rate-$channels
      # shellcheck disable=SC2086
      "$tool" "$clip.wav" $args "$work/$c-$tag.wav" > "$work/$c-$tag.txt"
      ffmpeg -v error -y -i "$work/$c-$tag.wav" -ar 48000 -c:a pcm_s16le "$work/$c-$tag-48.wav"
      GST_PLUGIN_PATH=$peaq_dir "$peaq_dir/peaq" "$clip-ref48.wav" "$work/$c-$tag-48.wav" > "$work/$c-$tag.peaq"
    ) &
    while [ "$(jobs -r | wc -l)" -ge 2 ]; do wait -n; done
  done
  wait
  /usr/bin/python3 - "$work" "$tag" "$setting" $clips <<'PY'
import re, statistics, sys
work, tag, setting, clips = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
def grade(clip, what):
    m = re.search(what + r":\s*(\S+)", open(f"{work}/{clip}-{tag}.peaq").read())
    return float(m.group(1)) if m else float("nan")
odg = [grade(c, "Objective Difference Grade") for c in clips]
di = [grade(c, "Distortion Index") for c in clips]
print(f"{setting}: " + "  ".join(f"{c} {o:.2f}/{d:.2f}" for c, o, d in zip(clips, odg, di))
      + f"  median {statistics.median(odg):.2f}/{statistics.median(di):.2f}")
PY
done
