#!/usr/bin/env python3
"""Perceptual grades of our VQF beside the codecs people pick instead: PEAQ (ITU-R BS.1387,
basic version, GstPEAQ built by bench/build-peaq.sh) of each decode against its input.
Prints figures, is not a test.

Material of our own (bench/peaq_grades.py makes it): a small band arrangement (kick,
snare, hi-hat, bass, a chord pad), speech (espeak-ng) and sharp transients over held notes.
Each is encoded by our VQF (TVQENC.DLL through vell_vqf.flt and flthost under wine64) and
by ffmpeg's wmav2, mp2, LAME MP3, Vorbis, AAC and Opus at the same total bit rate; every
decode is lined up with the input (cross-correlation) and both are resampled to 48 kHz,
as PEAQ wants. Table: ODG (objective difference grade, 0 to -4) and DI (distortion index)
per codec and signal, and the medians. At low rates every codec sits near PEAQ's floor,
where the ODG no longer orders them: compare the DI there.

  bench/peaq_grades.py [--build build/win64] [--work DIR] [--setups 44/48/2,22/20/1,22/24/1]
  Spectrogram pictures of the band material (input, our decode, LAME's) go to the work folder.
"""
import argparse
import array
import math
import os
import random
import statistics
import subprocess
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# VQF modes: (kHz code, real rate, kbps per channel, options word of the plug-in).
VQF_OPTIONS = {(44, 48): 8, (44, 40): 7, (22, 32): 6, (22, 24): 5, (22, 20): 4, (16, 16): 3}
RATE = {44: 44100, 22: 22050, 16: 16000, 11: 11025, 8: 8000}
PEERS = [("wmav2", "wmav2", "wma"), ("mp2", "mp2", "mp2"), ("lame", "libmp3lame", "mp3"),
         ("vorbis", "libvorbis", "ogg"), ("aac", "aac", "m4a"), ("opus", "libopus", "opus")]
SECONDS = 8


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def write_wav(path, rate, channels, frames):
    """frames: interleaved floats, full scale 1.0."""
    pcm = array.array("h", (max(-32768, min(32767, int(round(v * 32767)))) for v in frames))
    data = pcm.tobytes()
    with open(path, "wb") as f:
        f.write(b"RIFF" + (36 + len(data)).to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little"))
        f.write((1).to_bytes(2, "little") + channels.to_bytes(2, "little") + rate.to_bytes(4, "little"))
        f.write((rate * 2 * channels).to_bytes(4, "little") + (2 * channels).to_bytes(2, "little"))
        f.write((16).to_bytes(2, "little") + b"data" + len(data).to_bytes(4, "little") + data)


def band(rate):
    """Four bars a second and a half each: kick on 1 and 3, snare on 2 and 4, eighth-note
    hi-hats, a bass line and a held chord pad; stereo, the hats and pad spread."""
    rnd = random.Random(7)
    n = SECONDS * rate
    left, right = [0.0] * n, [0.0] * n
    beat = int(rate * 0.375)
    chords = [(220.0, 277.2, 329.6), (196.0, 246.9, 293.7), (174.6, 220.0, 261.6), (196.0, 246.9, 311.1)]
    bass = [55.0, 49.0, 43.7, 49.0]
    for i in range(n):
        t = i / rate
        bar = (i // (4 * beat)) % 4
        pos = i % beat
        b = (i // beat) % 4
        s = 0.0
        if b in (0, 2):  # kick: a falling sine with a fast decay
            tt = pos / rate
            s += 0.5 * math.exp(-tt * 18) * math.sin(2 * math.pi * (50 + 90 * math.exp(-tt * 30)) * tt)
        noise = rnd.uniform(-1, 1)
        if b in (1, 3):  # snare: noise burst and a tone
            tt = pos / rate
            s += math.exp(-tt * 22) * (0.25 * noise + 0.12 * math.sin(2 * math.pi * 190 * tt))
        hat_pos = i % (beat // 2)
        hat = 0.08 * math.exp(-hat_pos / rate * 90) * (noise - (rnd.uniform(-1, 1)))
        s += 0.18 * math.sin(2 * math.pi * bass[bar] * t) * (0.6 + 0.4 * math.exp(-pos / rate * 4))
        pad = sum(0.05 * math.sin(2 * math.pi * f * t + k) for k, f in enumerate(chords[bar]))
        left[i] = s + hat * 0.7 + pad * 0.9
        right[i] = s + hat * 1.0 + pad * 1.1
    return left, right


def transients(rate):
    """Sharp clicks (castanet-like bursts) at irregular places over a held organ chord."""
    rnd = random.Random(3)
    n = SECONDS * rate
    left, right = [0.0] * n, [0.0] * n
    clicks = sorted(rnd.randrange(rate // 4, n - rate // 10) for _ in range(3 * SECONDS))
    nxt, age = 0, 10 ** 9
    for i in range(n):
        t = i / rate
        held = sum(0.07 / h * math.sin(2 * math.pi * f * h * t) for f in (261.6, 392.0) for h in (1, 2, 3))
        if nxt < len(clicks) and i == clicks[nxt]:
            age, nxt = 0, nxt + 1
        c = 0.6 * math.exp(-age / rate * 400) * rnd.uniform(-1, 1) if age < rate // 20 else 0.0
        age += 1
        left[i] = held + c
        right[i] = held * 0.9 + c * 0.8
    return left, right


def speech(rate, work):
    raw = os.path.join(work, "speech-raw.wav")
    text = ("The quick brown fox jumps over the lazy dog. She sells sea shells by the sea shore, "
            "and the shells she sells are surely sea shells.")
    run(["espeak-ng", "-s", "150", "-w", raw, text], check=True)
    out = os.path.join(work, "speech-f32.raw")
    run(["ffmpeg", "-y", "-i", raw, "-af", "apad=whole_dur=%d,volume=1.6" % SECONDS, "-t", str(SECONDS),
         "-ar", str(rate), "-ac", "1", "-f", "f32le", out], check=True)
    a = array.array("f")
    with open(out, "rb") as f:
        a.frombytes(f.read())
    return list(a), list(a)


def interleave(left, right, channels):
    if channels == 1:
        return [(l + r) * 0.5 for l, r in zip(left, right)]
    out = []
    for l, r in zip(left, right):
        out += (l, r)
    return out


def read_f32(path, channels):
    out = path + ".f32"
    run(["ffmpeg", "-y", "-i", path, "-ac", str(channels), "-f", "f32le", out])
    a = array.array("f")
    if os.path.exists(out):
        with open(out, "rb") as f:
            a.frombytes(f.read())
    return list(a)


def lag_of(x, y, channels, reach=2200):
    """The lag (frames) at which y's first channel best matches x's, within +-reach (the
    encoders' delays that their decoders leave in), over a second and a half of points."""
    n = len(x) // channels
    start = n // 3
    points = range(start, min(n - reach, start + 60000), 41)
    best, best_lag = None, 0
    for lag in range(-reach, reach + 1):
        s = 0.0
        for i in points:
            j = (i + lag) * channels
            if 0 <= j < len(y):
                s += x[i * channels] * y[j]
        if best is None or s > best:
            best, best_lag = s, lag
    return best_lag


def peaq(peaq_dir, ref, test):
    env = dict(os.environ, GST_PLUGIN_PATH=peaq_dir)
    r = subprocess.run([os.path.join(peaq_dir, "peaq"), ref, test], capture_output=True, text=True, env=env)
    odg = di = None
    for line in r.stdout.splitlines():
        if line.startswith("Objective Difference Grade:"):
            odg = float(line.split(":")[1])
        elif line.startswith("Distortion Index:"):
            di = float(line.split(":")[1])
    return odg, di


def grade(peaq_dir, work, name, rate, channels, x, decoded_path):
    """Lines the decode up with the input, resamples both to 48 kHz and grades them."""
    y = read_f32(decoded_path, channels)
    if not y:
        return None
    lag = lag_of(x, y, channels)
    y = y[lag * channels:] if lag >= 0 else [0.0] * (-lag * channels) + y
    y = (y + [0.0] * len(x))[:len(x)]
    ref48, test48 = os.path.join(work, "ref48.wav"), os.path.join(work, name + "-48.wav")
    test = os.path.join(work, name + "-aligned.wav")
    write_wav(test, rate, channels, y)
    run(["ffmpeg", "-y", "-i", os.path.join(work, "in.wav"), "-ar", "48000", "-c:a", "pcm_s16le", ref48], check=True)
    run(["ffmpeg", "-y", "-i", test, "-ar", "48000", "-c:a", "pcm_s16le", test48], check=True)
    return peaq(peaq_dir, ref48, test48)


def encode_peer(codec, ext, wav, work, rate, channels, kbps):
    """ffmpeg's encode and its decode path; None where the codec refuses the setup."""
    out = os.path.join(work, "peer." + ext)
    pre = []
    if codec == "libopus":
        pre = ["-ar", "48000" if rate > 24000 else "24000"]  # Opus takes only its own rates
    r = run(["ffmpeg", "-y", "-i", wav] + pre + ["-c:a", codec, "-b:a", "%dk" % kbps, out])
    if r.returncode != 0 or not os.path.exists(out):
        return None
    dec = os.path.join(work, "peer-%s.wav" % codec)
    run(["ffmpeg", "-y", "-i", out, "-ar", str(rate), "-ac", str(channels), "-c:a", "pcm_f32le", dec], check=True)
    return dec


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(root, "build", "win64"))
    p.add_argument("--work", default="/tmp/peaq_grades")
    p.add_argument("--setups", default="44/48/2,22/20/1,22/24/1")
    return report(p.parse_args())


def report(a):
    """a: build (a win64 build folder), work (a scratch folder), setups ("kHz/kbps/channels,...")."""
    peaq_dir = subprocess.run(["bash", os.path.join(root, "bench", "build-peaq.sh")], capture_output=True,
                              text=True, check=True).stdout.strip().splitlines()[-1]
    bin_dir = os.path.join(a.build, "bin")
    winerun = os.path.join(root, "scripts", "winerun.sh")
    os.makedirs(a.work, exist_ok=True)
    for setup in a.setups.split(","):
        khz, kbps, channels = (int(v) for v in setup.split("/"))
        rate, total = RATE[khz], kbps * channels
        print("\n%d Hz %s, %d kbps: ODG / DI (- where the codec refuses the setup)" % (
            rate, "stereo" if channels == 2 else "mono", total))
        names = ["vqf"] + [n for n, _, _ in PEERS]
        print("%-12s" % "signal" + "".join("%-16s" % n for n in names))
        results = {n: [] for n in names}
        for signal in ("band", "speech", "transients"):
            work = os.path.join(a.work, "%s-%s" % (setup.replace("/", "-"), signal))
            os.makedirs(work, exist_ok=True)
            left, right = {"band": band, "transients": transients}[signal](rate) if signal != "speech" \
                else speech(rate, work)
            x = interleave(left, right, channels)
            wav = os.path.join(work, "in.wav")
            write_wav(wav, rate, channels, x)
            x = read_f32(wav, channels)  # the input as the codecs see it (16-bit)
            row = {}
            vqf = os.path.join(work, "out.vqf")
            with open(os.path.join(work, "flthost.log"), "wb") as log:
                subprocess.run([winerun, os.path.join(bin_dir, "flthost.exe"), "export",
                                os.path.join(bin_dir, "vell_vqf.flt"), wav, vqf, "--options",
                                str(VQF_OPTIONS[(khz, kbps)]), "--quiet"], stdout=log, stderr=log)
            dec = os.path.join(work, "vqf.wav")
            run(["ffmpeg", "-y", "-i", vqf, "-c:a", "pcm_f32le", dec])
            row["vqf"] = grade(peaq_dir, work, "vqf", rate, channels, x, dec)
            for name, codec, ext in PEERS:
                dec = encode_peer(codec, ext, wav, work, rate, channels, total)
                row[name] = grade(peaq_dir, work, name, rate, channels, x, dec) if dec else None
            cells = []
            for n in names:
                g = row[n]
                if g and g[0] is not None:
                    results[n].append(g)
                    cells.append("%6.2f / %5.2f  " % g)
                else:
                    cells.append("%-16s" % "      -")
            print("%-12s" % signal + "".join(cells), flush=True)
            if signal == "band" and khz == 44:
                png = os.path.join(a.work, "band-spectrograms.png")
                pic = "showspectrumpic=s=640x320:legend=0:mode=combined"
                run(["ffmpeg", "-y", "-i", wav, "-i", os.path.join(work, "vqf.wav"), "-i",
                     os.path.join(work, "peer-libmp3lame.wav"), "-filter_complex",
                     "[0:a]%s[a];[1:a]%s[b];[2:a]%s[c];[a][b][c]hstack=inputs=3" % (pic, pic, pic),
                     "-frames:v", "1", png])
        medians = []
        for n in names:
            gs = results[n]
            medians.append("%6.2f / %5.2f  " % (statistics.median(g[0] for g in gs), statistics.median(g[1] for g in gs))
                           if gs else "%-16s" % "      -")
        print("%-12s" % "median" + "".join(medians))
    print("\nspectrograms of the band material (input, our VQF, LAME): %s" % os.path.join(a.work, "band-spectrograms.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
