#!/usr/bin/env python3
"""Perceptual grades of our VQF beside the codecs people pick instead: PEAQ (ITU-R BS.1387,
basic version, GstPEAQ built by bench/build-peaq.sh) of each decode against its input.
Prints figures, is not a test.

Material of our own (bench/peaq_grades.py makes it): a small band arrangement (kick,
snare, hi-hat, bass, a chord pad), speech (espeak-ng), sharp transients over held notes, a
piano-like instrument (hammered onsets under ringing notes) and an orchestral passage.
Each is encoded by our VQF (TVQENC.DLL through vell_vqf.flt and flthost under wine64) and
by ffmpeg's wmav2, mp2, LAME MP3, Vorbis, AAC and Opus at the same total bit rate; every
decode is lined up with the input (the cross-correlation of the whole signal over all
channels) and both are resampled to 48 kHz,
as PEAQ wants. Table: ODG (objective difference grade, 0 to -4) and DI (distortion index)
per codec and signal, and the medians. At low rates every codec sits near PEAQ's floor,
where the ODG no longer orders them: compare the DI there.

A decode that PEAQ cannot grade (no finite ODG) is reported as FAILED and the exit status is 1.

A second section (bench/peaq_wma.py) grades our WMA, exported through vell_wma.flt, beside
the same peers at the plug-in's rows 31 (128 kbps) and 28 (64 kbps), 44.1 kHz stereo, on
these clips and two more (castanets, applause), as markdown tables of medians.

  bench/peaq_grades.py [--build build/win64] [--work DIR] [--formats vqf,wma]
                       [--setups 44/48/2,22/20/1,22/24/1] [--wma-rows 31,28]
                       [--signals band,speech,...] [--codecs vqf,ours,mp2,...]
  Spectrogram pictures of the band material (input, our VQF decode, LAME's) and of one
  castanet click (input, each WMA section decode and its coding noise, onset-row<N>/) go to
  the work folder.
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
SYSTEM_PYTHON = "/usr/bin/python3"

try:
    import numpy as np
except ImportError:
    # NumPy comes from Debian's archive (bench/build-peaq.sh installs it) for the system's
    # python: run the script again there when another python started it.
    if os.path.exists(SYSTEM_PYTHON) and os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    raise

# VQF modes: (kHz code, real rate, kbps per channel, options word of the plug-in).
VQF_OPTIONS = {(44, 48): 8, (44, 40): 7, (22, 32): 6, (22, 24): 5, (22, 20): 4, (16, 16): 3}
RATE = {44: 44100, 22: 22050, 16: 16000, 11: 11025, 8: 8000}
PEERS = [("wmav2", "wmav2", "wma"), ("mp2", "mp2", "mp2"), ("lame", "libmp3lame", "mp3"),
         ("vorbis", "libvorbis", "ogg"), ("aac", "aac", "m4a"), ("opus", "libopus", "opus")]
SECONDS = 8
SIGNALS = ("band", "speech", "transients", "piano", "orchestra")


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


def piano(rate):
    """A piano-like instrument: hammered notes (a short noise strike, slightly stretched
    partials that die away faster the higher they are) ringing on under a sustain pedal
    while new notes strike over them, some in quick runs; lower notes to the left."""
    rnd = np.random.default_rng(11)
    n = SECONDS * rate
    left, right = np.zeros(n), np.zeros(n)
    t_all = np.arange(n) / rate
    keys = [40, 44, 47, 52, 56, 59, 64, 63, 61, 59, 52, 55, 59, 64, 67, 71, 76, 74, 72, 71, 45, 49, 52, 57]
    onsets = np.cumsum(rnd.choice([0.12, 0.25, 0.25, 0.5], size=len(keys)))
    onsets = 0.2 + onsets - onsets[0]
    for key, start in zip(keys, onsets):
        i0 = int(start * rate)
        if i0 >= n:
            break
        f0 = 440.0 * 2 ** ((key - 69) / 12)
        t = t_all[:n - i0]
        note = np.zeros(len(t))
        for k in range(1, 16):
            f = k * f0 * math.sqrt(1 + 0.0004 * k * k)
            if f > 0.45 * rate:
                break
            note += np.sin(2 * math.pi * f * t + k) * np.exp(-t * (0.6 + 0.35 * k * f0 / 220)) / k ** 1.1
        strike = min(len(t), int(0.004 * rate))
        note[:strike] += 0.6 * rnd.uniform(-1, 1, strike) * np.exp(-np.arange(strike) / (0.001 * rate))
        note *= 0.14 * (1 - np.exp(-t * 3000))
        pan = (key - 40) / 36
        left[i0:] += note * (1.1 - 0.4 * pan)
        right[i0:] += note * (0.7 + 0.4 * pan)
    return list(left), list(right)


def orchestra(rate):
    """An orchestral passage: a string section (detuned bowed voices with vibrato and slow
    attacks) changing chords legato, a woodwind melody over it, a brass swell, timpani
    strokes and pizzicato basses, the whole rising in a crescendo; the sections spread."""
    rnd = np.random.default_rng(5)
    n = SECONDS * rate
    t = np.arange(n) / rate
    left, right = np.zeros(n), np.zeros(n)

    def voice(f, start, stop, harmonics, tilt, attack, vib, phase):
        env = np.clip((t - start) / attack, 0, 1) * np.clip((stop - t) / 0.25 + 1, 0, 1)
        env *= (t >= start) & (t < stop + 0.25)
        ph = 2 * math.pi * np.cumsum(f * (1 + 0.004 * vib * np.sin(2 * math.pi * 5.5 * t + phase))) / rate
        out = np.zeros(n)
        for k in harmonics:
            if k * f < 0.45 * rate:
                out += np.sin(k * ph + k * phase) / k ** tilt
        return out * env

    chords = [(196.0, 246.9, 293.7, 392.0), (220.0, 261.6, 329.6, 440.0),
              (174.6, 220.0, 261.6, 349.2), (196.0, 246.9, 293.7, 370.0)]
    for c, chord in enumerate(chords):
        for j, f in enumerate(chord):
            for d in (-0.003, 0.0, 0.004):  # a section: a few players slightly apart
                v = voice(f * (1 + d), 2.0 * c, 2.0 * c + 2.0, range(1, 20), 1.0, 0.3, 1.0, rnd.uniform(0, 6))
                pan = j / 3
                left += 0.018 * v * (1.2 - 0.5 * pan)
                right += 0.018 * v * (0.7 + 0.5 * pan)
    melody = [587.3, 659.3, 784.0, 740.0, 659.3, 587.3, 523.3, 587.3, 659.3, 784.0, 880.0, 784.0]
    for k, f in enumerate(melody):
        v = voice(f, 0.5 + 0.6 * k, 0.5 + 0.6 * k + 0.55, range(1, 12, 2), 1.3, 0.04, 1.5, rnd.uniform(0, 6))
        left += 0.05 * v
        right += 0.035 * v
    brass = sum(voice(f, 4.0, 7.5, range(1, 25), 0.8, 1.5, 0.3, rnd.uniform(0, 6)) for f in (98.0, 146.8, 196.0))
    swell = np.clip((t - 4.0) / 3.0, 0, 1)
    left += 0.03 * brass * swell
    right += 0.045 * brass * swell
    for start in (1.0, 3.0, 5.0, 5.25, 7.0):  # timpani: a falling low tone and the stick's noise
        i0 = int(start * rate)
        tt = t[:n - i0]
        hit = np.sin(2 * math.pi * (92 + 10 * np.exp(-tt * 20)) * tt) * np.exp(-tt * 3)
        m = min(len(tt), int(0.01 * rate))
        hit[:m] += 0.3 * rnd.uniform(-1, 1, m) * np.exp(-np.arange(m) / (0.002 * rate))
        left[i0:] += 0.22 * hit
        right[i0:] += 0.18 * hit
    for k in range(16):  # pizzicato basses on the beats
        i0 = int((0.25 + 0.5 * k) * rate)
        tt = t[:n - i0]
        f = chords[min(3, k // 4)][0] / 2
        pluck = sum(np.sin(2 * math.pi * f * h * tt) / h for h in (1, 2, 3, 4)) * np.exp(-tt * 9)
        left[i0:] += 0.08 * pluck
        right[i0:] += 0.1 * pluck
    rise = 0.55 + 0.45 * t / SECONDS
    return list(left * rise), list(right * rise)


# The castanets clip's first click after a quiet stretch: the onset the WMA section pictures.
CASTANET_ONSET = 2.0


def castanets(rate):
    """Sparse attacks over near silence: glockenspiel strikes (a few inharmonic partials, a
    hard mallet attack, a second-long ring) and castanet clicks (millisecond bursts of
    bright noise, often in quick pairs and rolls) between them. Pre-echo has nothing to
    hide under here, and a long transform spreads each click over silence."""
    rnd = np.random.default_rng(17)
    n = SECONDS * rate
    t_all = np.arange(n) / rate
    left, right = np.zeros(n), np.zeros(n)
    # Glockenspiel: partial ratios of a struck bar, each dying faster the higher it is.
    notes = [(1.0, 1568.0), (1.5, 2093.0), (3.2, 1760.0), (4.4, 2637.0), (5.6, 2349.0), (6.7, 3136.0)]
    for start, f0 in notes:
        i0 = int(start * rate)
        t = t_all[:n - i0]
        bar = sum(a * np.sin(2 * math.pi * f0 * r * t) * np.exp(-t * d)
                  for r, a, d in ((1.0, 1.0, 2.5), (2.76, 0.45, 6.0), (5.40, 0.25, 12.0), (8.93, 0.12, 25.0)))
        bar *= 0.16 * (1 - np.exp(-t * 8000))
        pan = rnd.uniform(0.3, 0.7)
        left[i0:] += bar * (1.2 - pan)
        right[i0:] += bar * (0.2 + pan)
    # Castanets: the first click stands alone, later ones come as pairs and rolls.
    clicks = [CASTANET_ONSET]
    for start in (2.6, 3.9, 4.9, 6.1, 7.2):
        for k in range(int(rnd.integers(1, 5))):
            clicks.append(start + k * rnd.uniform(0.035, 0.07))
    kernel = np.sin(2 * math.pi * 2600 * np.arange(48) / rate) * np.exp(-np.arange(48) / 10)
    for start in clicks:
        i0 = int(start * rate)
        m = min(n - i0, int(0.012 * rate))
        burst = np.convolve(rnd.uniform(-1, 1, m), kernel)[:m] * np.exp(-np.arange(m) / (0.0015 * rate))
        burst *= 0.5 / max(1e-9, np.max(np.abs(burst)))
        left[i0:i0 + m] += burst * 0.9
        right[i0:i0 + m] += burst * 0.75
    return list(left), list(right)


def applause(rate):
    """Dense, wide-band noise with no quiet moment: a crowd clapping (about two hundred
    claps a second, each a short resonant noise burst placed anywhere between the two
    channels) over rain (hiss with fine droplets). Every band is busy at once and the two
    channels correlate loosely, which leaves a transform codec no tonal component to save
    bits on and less to gain from mid/side."""
    rnd = np.random.default_rng(23)
    n = SECONDS * rate
    left, right = np.zeros(n), np.zeros(n)
    m = int(0.02 * rate)
    decay = np.exp(-np.arange(m) / (0.003 * rate))
    for _ in range(200 * SECONDS):
        i0 = int(rnd.integers(0, n - m))
        fc = rnd.uniform(700, 3500)
        k = np.arange(64)
        kernel = np.sin(2 * math.pi * fc * k / rate) * np.exp(-k / rnd.uniform(4, 16))
        clap = np.convolve(rnd.uniform(-1, 1, m), kernel)[:m] * decay
        clap *= rnd.uniform(0.05, 0.2) / max(1e-9, np.max(np.abs(clap)))
        pan = rnd.uniform(0, 1)
        left[i0:i0 + m] += clap * math.cos(pan * math.pi / 2)
        right[i0:i0 + m] += clap * math.sin(pan * math.pi / 2)
    # Rain: hiss tilted to the highs, and droplets (single-sample ticks through a short
    # high resonance), independent in each channel.
    drop = np.sin(2 * math.pi * 6000 * np.arange(24) / rate) * np.exp(-np.arange(24) / 5)
    for ch in (left, right):
        hiss = rnd.normal(0, 1, n)
        ch += 0.012 * (hiss - np.concatenate(([0.0], hiss[:-1])) * 0.7)
        ticks = np.zeros(n)
        where = rnd.integers(0, n, 400 * SECONDS)
        ticks[where] = rnd.uniform(-0.15, 0.15, len(where))
        ch += np.convolve(ticks, drop)[:n]
    return list(left * 2.2), list(right * 2.2)


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


def lag_of(x, y, channels, reach=4096):
    """The lag (frames) at which y best matches x, within +-reach (the encoders' delays that
    their decoders leave in): the cross-correlation of the whole signal, summed over all
    channels, by FFT. A held chord's period correlates almost as well as the true lag on a
    few points of one channel; over every sample the onsets decide."""
    a = np.asarray(x, dtype=np.float64)
    b = np.asarray(y, dtype=np.float64)
    a = a[:len(a) // channels * channels].reshape(-1, channels)
    b = b[:len(b) // channels * channels].reshape(-1, channels)
    if not len(a) or not len(b):
        return 0
    size = 1 << (len(a) + len(b)).bit_length()
    corr = np.zeros(size)
    for c in range(channels):
        # corr[k] = sum_i a[i] * b[i + k]; negative k wraps to the end.
        corr += np.fft.irfft(np.conj(np.fft.rfft(a[:, c], size)) * np.fft.rfft(b[:, c], size), size)
    ahead = min(reach, len(b) - 1)
    behind = min(reach, len(a) - 1)
    lags = np.concatenate((np.arange(0, ahead + 1), np.arange(-behind, 0)))
    values = np.concatenate((corr[:ahead + 1], corr[size - behind:] if behind else corr[:0]))
    return int(lags[int(np.argmax(values))])


def peaq(peaq_dir, ref, test):
    """(ODG, DI), or None where PEAQ gives no finite grade: a NaN is a failed measurement
    (a reference bandwidth misjudged from noise above 21.6 kHz), not a grade."""
    env = dict(os.environ, GST_PLUGIN_PATH=peaq_dir)
    r = subprocess.run([os.path.join(peaq_dir, "peaq"), ref, test], capture_output=True, text=True, env=env)
    odg = di = None
    for line in r.stdout.splitlines():
        if line.startswith("Objective Difference Grade:"):
            odg = float(line.split(":")[1])
        elif line.startswith("Distortion Index:"):
            di = float(line.split(":")[1])
    if odg is None or di is None or not math.isfinite(odg) or not math.isfinite(di):
        return None
    return odg, di


FAILED = "failed"


def grade(peaq_dir, work, name, rate, channels, x, decoded_path):
    """Lines the decode up with the input, resamples both to 48 kHz and grades them: (ODG,
    DI), or FAILED where there is no decode or PEAQ gives no finite grade."""
    y = read_f32(decoded_path, channels)
    if not y:
        return FAILED
    lag = lag_of(x, y, channels)
    y = y[lag * channels:] if lag >= 0 else [0.0] * (-lag * channels) + y
    y = (y + [0.0] * len(x))[:len(x)]
    ref48, test48 = os.path.join(work, "ref48.wav"), os.path.join(work, name + "-48.wav")
    test = os.path.join(work, name + "-aligned.wav")
    write_wav(test, rate, channels, y)
    run(["ffmpeg", "-y", "-i", os.path.join(work, "in.wav"), "-ar", "48000", "-c:a", "pcm_s16le", ref48], check=True)
    run(["ffmpeg", "-y", "-i", test, "-ar", "48000", "-c:a", "pcm_s16le", test48], check=True)
    return peaq(peaq_dir, ref48, test48) or FAILED


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


def wine_runner(bin_dir):
    """The project's wine runner for the build whose programs are in bin_dir: wine32 for a
    32-bit build (its flthost.exe is an i386 image), wine64 otherwise."""
    probe = subprocess.run(["i686-w64-mingw32-objdump", "-f", os.path.join(bin_dir, "flthost.exe")],
                           capture_output=True, text=True)
    name = "winerun32.sh" if "pei-i386" in probe.stdout else "winerun.sh"
    return os.path.join(root, "scripts", name)


def encode_vqf(bin_dir, wav, work, khz, kbps):
    """Our VQF through vell_vqf.flt and flthost under wine, decoded by ffmpeg: the decode's path."""
    vqf = os.path.join(work, "out.vqf")
    if os.path.exists(vqf):
        os.remove(vqf)
    with open(os.path.join(work, "flthost.log"), "wb") as log:
        subprocess.run([wine_runner(bin_dir), os.path.join(bin_dir, "flthost.exe"), "export",
                        os.path.join(bin_dir, "vell_vqf.flt"), wav, vqf, "--options",
                        str(VQF_OPTIONS[(khz, kbps)]), "--quiet"], stdout=log, stderr=log)
    dec = os.path.join(work, "vqf.wav")
    if os.path.exists(dec):
        os.remove(dec)
    run(["ffmpeg", "-y", "-i", vqf, "-c:a", "pcm_f32le", dec])
    return dec


def signal_of(signal, rate, work):
    if signal == "speech":
        return speech(rate, work)
    return {"band": band, "transients": transients, "piano": piano, "orchestra": orchestra,
            "castanets": castanets, "applause": applause}[signal](rate)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(root, "build", "win64"))
    p.add_argument("--work", default="/tmp/peaq_grades")
    p.add_argument("--formats", default="vqf,wma", help="sections to run: vqf, wma or both")
    p.add_argument("--setups", default="44/48/2,22/20/1,22/24/1", help="VQF: kHz/kbps per channel/channels")
    p.add_argument("--wma-rows", default="31,28", help="WMA: the plug-in's rows (options words)")
    p.add_argument("--signals", help="clips (default: the five, and castanets and applause for WMA)")
    p.add_argument("--codecs", help="vqf or ours (our WMA), and wmav2, mp2, lame, vorbis, aac, opus")
    a = p.parse_args()
    formats = a.formats.split(",")
    if not formats or set(formats) - {"vqf", "wma"}:
        p.error("--formats takes vqf, wma or both")
    status = report(a) if "vqf" in formats else 0
    if "wma" in formats:
        import peaq_wma  # noqa: E402  (beside this file)
        failures = peaq_wma.report(a, peaq_build())
        if failures:
            print("FAILED (no export, no decode, or PEAQ gave no finite grade): " + "; ".join(failures))
            status = 1
    return status


def peaq_build():
    """The folder holding GstPEAQ's `peaq` and its plug-in, built once per machine."""
    return subprocess.run(["bash", os.path.join(root, "bench", "build-peaq.sh")], capture_output=True,
                          text=True, check=True).stdout.strip().splitlines()[-1]


def report(a):
    """a: build (a win64 build folder), work (a scratch folder), setups ("kHz/kbps/channels,..."),
    and optionally signals and codecs (comma lists). Returns 1 where a grade failed."""
    peaq_dir = peaq_build()
    bin_dir = os.path.join(a.build, "bin")
    signals = (getattr(a, "signals", None) or ",".join(SIGNALS)).split(",")
    chosen = getattr(a, "codecs", None)
    chosen = chosen.split(",") if chosen else ["vqf"] + [n for n, _, _ in PEERS]
    peers = [p for p in PEERS if p[0] in chosen]
    failures = []
    os.makedirs(a.work, exist_ok=True)
    for setup in a.setups.split(","):
        khz, kbps, channels = (int(v) for v in setup.split("/"))
        rate, total = RATE[khz], kbps * channels
        print("\n%d Hz %s, %d kbps: ODG / DI (- where the codec refuses the setup)" % (
            rate, "stereo" if channels == 2 else "mono", total))
        names = (["vqf"] if "vqf" in chosen else []) + [n for n, _, _ in peers]
        print("%-12s" % "signal" + "".join("%-16s" % n for n in names))
        results = {n: [] for n in names}
        for signal in signals:
            work = os.path.join(a.work, "%s-%s" % (setup.replace("/", "-"), signal))
            os.makedirs(work, exist_ok=True)
            left, right = signal_of(signal, rate, work)
            x = interleave(left, right, channels)
            wav = os.path.join(work, "in.wav")
            write_wav(wav, rate, channels, x)
            x = read_f32(wav, channels)  # the input as the codecs see it (16-bit)
            row = {}
            if "vqf" in names:
                row["vqf"] = grade(peaq_dir, work, "vqf", rate, channels, x, encode_vqf(bin_dir, wav, work, khz, kbps))
            for name, codec, ext in peers:
                dec = encode_peer(codec, ext, wav, work, rate, channels, total)
                row[name] = grade(peaq_dir, work, name, rate, channels, x, dec) if dec else None
            cells = []
            for n in names:
                g = row[n]
                if g == FAILED:
                    failures.append("%s %s %s" % (setup, signal, n))
                    cells.append("%-16s" % "  FAILED")
                elif g:
                    results[n].append(g)
                    cells.append("%6.2f / %5.2f  " % g)
                else:
                    cells.append("%-16s" % "      -")
            print("%-12s" % signal + "".join(cells), flush=True)
            if signal == "band" and khz == 44 and "vqf" in names and "lame" in names:
                png = os.path.join(a.work, "band-spectrograms.png")
                pic = "showspectrumpic=s=640x320:legend=0:mode=combined"
                run(["ffmpeg", "-y", "-i", wav, "-i", os.path.join(work, "vqf.wav"), "-i",
                     os.path.join(work, "peer-libmp3lame.wav"), "-filter_complex",
                     "[0:a]%s[a];[1:a]%s[b];[2:a]%s[c];[a][b][c]hstack=inputs=3" % (pic, pic, pic),
                     "-frames:v", "1", png])
        medians = []
        for n in names:
            gs = results[n]
            # A median over fewer clips than the others is marked with its count.
            mark = "" if len(gs) == len(signals) else "(%d)" % len(gs)
            medians.append(("%6.2f / %5.2f%-3s" % (statistics.median(g[0] for g in gs),
                                                  statistics.median(g[1] for g in gs), mark))
                           if gs else "%-16s" % "      -")
        print("%-12s" % "median" + "".join(medians))
    print("\nspectrograms of the band material (input, our VQF, LAME): %s" % os.path.join(a.work, "band-spectrograms.png"))
    if failures:
        print("FAILED (no decode, or PEAQ gave no finite grade): " + "; ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
