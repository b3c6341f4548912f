#!/usr/bin/env python3
"""Benchmark of our TwinVQ encoder (TVQENC.DLL through vell_vqf.flt and flthost): prints
figures, is not a test.

1. Per mode and signal the SNR of ffmpeg's decode (the quality test's signals and
   measures), beside ffmpeg's wmav2 and mp2 encoders at the same total bit rate on the
   same input where they accept it (their decodes aligned by cross-correlation first).
2. Spectrograms (ffmpeg's showspectrumpic) of the sweep and the speech: the input above the
   decoded VQF, one PNG per mode and signal, in the work directory.
3. Speed: an hour (TVQENC_BENCH_SECONDS) of 44100 Hz stereo at 48 kbps per channel and of
   22050 Hz mono at 20 kbps, time inside the plug-in's calls.
4. Perceptual grades (bench/peaq_grades.py): PEAQ's ODG and distortion index of our VQF
   beside wmav2, mp2, LAME MP3, Vorbis, AAC and Opus at the same bit rate, on band music,
   speech and transients, at 44100 Hz stereo 96 kbps and 22050 Hz mono 20 and 24 kbps.

  bench/tvqenc_bench.py [--build build/win64] [--work DIR] [--modes 44/48/2,...]
  (--build build/win32: the shipped 32-bit build, under wine32)
"""
import argparse
import array
import os
import subprocess
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tvqenc", "tests"))
import vqf_quality_test as q  # noqa: E402
import peaq_grades  # noqa: E402


def decode(path, out, channels):
    subprocess.run(["ffmpeg", "-v", "quiet", "-y", "-i", path, "-ac", str(channels), "-f", "f32le", out])
    a = array.array("f")
    if os.path.exists(out):
        with open(out, "rb") as f:
            a.frombytes(f.read())
    return list(a)


def aligned(x, y, channels, span):
    """y lined up with x: the lag (in frames, either way: ffmpeg's wmav2 decode starts a
    frame early) at which the first channel of the sweep correlates best."""
    b, e = span
    frames = range(b, min(e, b + 40000), 31)
    best, best_lag = None, 0
    for lag in range(-4096, 4096):
        s = 0.0
        for i in frames:
            j = (i + lag) * channels
            if 0 <= j < len(y):
                s += x[i * channels] * y[j]
        if best is None or s > best:
            best, best_lag = s, lag
    if best_lag < 0:
        return [0.0] * (-best_lag * channels) + y
    return y[best_lag * channels:]


def peer(name, codec, wav, hz, channels, total_kbps, spans, x, work):
    out = os.path.join(work, "peer." + ("wma" if codec == "wmav2" else "mp2"))
    r = subprocess.run(["ffmpeg", "-v", "quiet", "-y", "-i", wav, "-c:a", codec, "-b:a", "%dk" % total_kbps, out])
    if r.returncode != 0 or not os.path.exists(out):
        return None
    # ffmpeg quietly resamples to a rate the encoder accepts: that encoder refused this one.
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                            "stream=sample_rate", "-of", "csv=p=0", out], capture_output=True, text=True)
    if probe.stdout.strip() != str(hz):
        return None
    y = aligned(x, decode(out, out + ".f32", channels), channels, spans["sweep"])
    figures = {}
    for kind in ("sine", "sweep", "noise"):
        b, e = spans[kind]
        b, e = b + int(0.05 * hz), e - int(0.05 * hz)
        figures[kind] = q.snr(x[b * channels:e * channels], y[b * channels:e * channels])
    b, e = spans["speech"]
    figures["speech"] = q.segmental_snr(x[b * channels:e * channels], y[b * channels:e * channels], hz * channels)
    return figures


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(root, "build", "win64"))
    p.add_argument("--work", default="/tmp/tvqenc_bench")
    p.add_argument("--modes", default="")
    args = p.parse_args()
    bin_dir = os.path.join(args.build, "bin")
    qargs = argparse.Namespace(winerun=peaq_grades.wine_runner(bin_dir),
                               flthost=os.path.join(bin_dir, "flthost.exe"),
                               plugin=os.path.join(bin_dir, "vell_vqf.flt"), workdir=args.work, report=True)
    wanted = set(filter(None, args.modes.split(",")))
    os.makedirs(args.work, exist_ok=True)  # the speed part writes there even with no mode run
    print("SNR in dB (speech: segmental); VQF beside wmav2 / mp2 at the same total bit rate ('-': refused)")
    print("%-14s %-20s %-20s %-20s %-20s %6s" % ("mode", "sine", "sweep", "noise", "speech", "x real"))
    for khz, hz, kbps, options in q.RATES:
        for channels in (1, 2):
            if wanted and "%d/%d/%d" % (khz, kbps, channels) not in wanted:
                continue
            name, f, _ = q.run_mode(qargs, khz, hz, kbps, options, channels)
            work = os.path.join(args.work, name)
            wav = os.path.join(work, "in.wav")
            pcm = array.array("h")
            with open(wav, "rb") as fh:
                pcm.frombytes(fh.read()[44:])
            x = [v / 32768.0 for v in pcm]
            spans = f.pop("spans")
            peers = [peer(name, c, wav, hz, channels, kbps * channels, spans, x, work) for c in ("wmav2", "mp2")]

            def cell(kind):
                others = " / ".join("%5.1f" % pf[kind] if pf else "    -" for pf in peers)
                return "%5.1f (%s)" % (f[kind], others)

            speed = f["audio-s"] / f["encode-s"] if f["encode-s"] else 0.0
            print("%-14s %-20s %-20s %-20s %-20s %6.1f" % (name, cell("sine"), cell("sweep"), cell("noise"),
                                                          cell("speech"), speed), flush=True)
            # Spectrograms: input above the decoded VQF.
            for kind in ("sweep", "speech"):
                b, e = spans[kind]
                png = os.path.join(work, kind + "-spectrogram.png")
                filt = ("[0:a]atrim=start_sample={b}:end_sample={e},showspectrumpic=s=800x300:legend=0[a];"
                        "[1:a]atrim=start_sample={b}:end_sample={e},showspectrumpic=s=800x300:legend=0[b];"
                        "[a][b]vstack").format(b=b, e=e)
                subprocess.run(["ffmpeg", "-v", "quiet", "-y", "-i", wav, "-i", os.path.join(work, "out.vqf"),
                                "-filter_complex", filt, "-frames:v", "1", png])
    seconds = int(os.environ.get("TVQENC_BENCH_SECONDS", "3600"))
    for hz, channels, options, label in ((44100, 2, 8, "44100 Hz stereo, 48 kbps/ch"), (22050, 1, 4, "22050 Hz mono, 20 kbps")):
        wav = os.path.join(args.work, "speed-%d-%d.wav" % (hz, channels))
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "anoisesrc=color=pink:amplitude=0.2:sample_rate=%d:duration=%d" % (hz, seconds),
                        "-ac", str(channels), "-c:a", "pcm_s16le", wav], check=True)
        log = os.path.join(args.work, "speed.log")
        with open(log, "wb") as fh:
            subprocess.run([qargs.winerun, qargs.flthost, "export", qargs.plugin, wav, wav + ".vqf", "--options",
                            str(options), "--time", "--quiet"], stdout=fh, stderr=fh)
        with open(log, "rb") as fh:
            t = [l for l in fh.read().decode(errors="replace").splitlines() if l.startswith("plugin-seconds")]
        busy = float(t[0].split()[1]) if t else 0.0
        print("speed: %s, %d s of audio in %.1f s inside the plug-in: %.1fx real time" % (
            label, seconds, busy, seconds / busy if busy else 0.0))
        os.remove(wav)
    peaq_grades.report(argparse.Namespace(build=args.build, work=os.path.join(args.work, "peaq"),
                                          setups="44/48/2,22/20/1,22/24/1"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
