#!/usr/bin/env python3
"""The PEAQ bench lines every decode up with its input at the codec's true delay.

For each codec's decode path (ffmpeg's peers, and our VQF through flthost under wine when
--flthost is given, and our WMA as well when --wma-plugin is), at 44100 Hz stereo 96 kbps:
the delay found on white noise (no period to confuse it) is the codec's; the transients
clip (clicks over a held chord, whose period once fooled a sparse one-channel search) must
be found at that same delay, and again at that delay plus the frames of silence put before
it. Our own exports (VQF, WMA) must come
back with no delay at all. Exit status 0 when every path agrees.

  peaq_lag_test.py --work DIR [--flthost flthost.exe --plugin vell_vqf.flt --winerun winerun.sh
                               [--wma-plugin vell_wma.flt]]
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import peaq_grades as pg  # noqa: E402  (runs itself again under the python that has NumPy)

RATE, CHANNELS, KBPS = 44100, 2, 96
SHIFT = 733  # frames of silence put before the input: no codec's frame size divides it
WMA_ROW = 30  # the WMA plug-in's row for 96 kbps, 44.1 kHz stereo


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--work", required=True)
    p.add_argument("--flthost")
    p.add_argument("--plugin")
    p.add_argument("--winerun")
    p.add_argument("--wma-plugin")
    a = p.parse_args()
    os.makedirs(a.work, exist_ok=True)
    rnd = random.Random(1)
    noise = [0.3 * rnd.uniform(-1, 1) for _ in range(RATE * 3 * CHANNELS)]
    clicks = pg.interleave(*pg.transients(RATE), CHANNELS)
    inputs = {"noise": noise, "transients": clicks, "shifted": [0.0] * (SHIFT * CHANNELS) + clicks}
    paths = [(name, codec, ext) for name, codec, ext in pg.PEERS] + ([("vqf", None, None)] if a.flthost else [])
    paths += [("our wma", None, None)] if a.flthost and a.wma_plugin else []
    failures = []
    for name, codec, ext in paths:
        lags = {}
        for label, x in inputs.items():
            work = os.path.join(a.work, "%s-%s" % (name, label))
            os.makedirs(work, exist_ok=True)
            wav = os.path.join(work, "in.wav")
            pg.write_wav(wav, RATE, CHANNELS, x)
            if codec:
                dec = pg.encode_peer(codec, ext, wav, work, RATE, CHANNELS, KBPS)
            elif name == "vqf":
                dec = export_decode(a, a.plugin, 8, wav, os.path.join(work, "out.vqf"))
            else:
                dec = export_decode(a, a.wma_plugin, WMA_ROW, wav, os.path.join(work, "out.wma"))
            y = pg.read_f32(dec, CHANNELS) if dec else []
            if not y:
                failures.append("%s: no decode of %s" % (name, label))
                break
            # The lag of the decode against the input without the silence.
            lags[label] = pg.lag_of(clicks if label == "shifted" else x, y, CHANNELS)
        if len(lags) < len(inputs):
            continue
        # Opus works at 48 kHz: its decode comes back through a resampler, a sample either way.
        slack = 1 if codec == "libopus" else 0
        # Our exports keep the audio where the input had it: a decode that starts late or
        # early would be heard out of step with the source it replaced.
        delay = lags["noise"] if codec else 0
        want = {"noise": delay, "transients": delay, "shifted": delay + SHIFT}
        bad = [label for label in want if abs(lags[label] - want[label]) > slack]
        print("%-7s delay %5d: transients %5d, after %d frames of silence %5d  %s" % (
            name, lags["noise"], lags["transients"], SHIFT, lags["shifted"], "FAIL" if bad else "ok"))
        if bad:
            failures.append("%s: %s" % (name, ", ".join("%s at %d, not %d" % (b, lags[b], want[b]) for b in bad)))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


def export_decode(a, plugin, options, wav, out):
    """Our export through a plug-in and flthost (VQF: options word 8, 48 kbps per channel;
    WMA: its row for 96 kbps), decoded by ffmpeg: the decode's path, None where none came."""
    work = os.path.dirname(out)
    with open(os.path.join(work, "flthost.log"), "wb") as log:
        pg.subprocess.run([a.winerun, a.flthost, "export", plugin, wav, out, "--options", str(options), "--quiet"],
                          stdout=log, stderr=log)
    dec = os.path.join(work, "decoded.wav")
    pg.run(["ffmpeg", "-y", "-i", out, "-c:a", "pcm_f32le", dec])
    return dec if os.path.exists(dec) else None


if __name__ == "__main__":
    sys.exit(main())
