"""The WMA section of bench/peaq_grades.py: our WMA, exported through vell_wma.flt and
flthost under wine64 with whatever wmaudsdk.dll the build folder holds, graded by PEAQ beside
ffmpeg's wmav2, mp2, LAME MP3, Vorbis, AAC and Opus at the same bit rate, on the VQF
section's clips and two that load a transform codec in opposite ways (castanets: sparse
attacks over near silence; applause: dense wide-band noise). Decodes are lined up and
graded as in the VQF section.

Per plug-in row: a markdown table of ODG per codec and clip, the median ODG and DI, and the
median bit rate each file really holds (its packets over the clip's length). Spectrograms
of one castanet click (input, each decode, its coding noise) go to <work>/onset-row<N>/.
"""
import os
import statistics
import subprocess

import numpy as np

import peaq_grades as pg
import spectrogram_png

# The plug-in's rows at 44.1 kHz stereo (its options word is the row): kbps, rate, channels.
ROWS = {26: (48, 44100, 2), 28: (64, 44100, 2), 29: (80, 44100, 2), 30: (96, 44100, 2),
        31: (128, 44100, 2), 33: (160, 44100, 2)}
SIGNALS = pg.SIGNALS + ("castanets", "applause")
CODECS = ["ours"] + [n for n, _, _ in pg.PEERS]
LABEL = {"ours": "our WMA", "wmav2": "FFmpeg's wmav2", "mp2": "mp2", "lame": "LAME MP3",
         "vorbis": "Vorbis", "aac": "ffmpeg's AAC", "opus": "Opus"}
ONSET_SIGNAL = "castanets"
# The pictured stretch around the onset: a little before (pre-echo shows there) and after.
ONSET_BEFORE, ONSET_AFTER = 0.04, 0.12


def export_ours(bin_dir, wav, work, row):
    """Our WMA through vell_wma.flt and flthost under wine: (the encoded file, its decode),
    each None where it was not made; flthost's output stays in wma-flthost.log."""
    wma = os.path.join(work, "out.wma")
    dec = os.path.join(work, "ours.wav")
    for path in (wma, dec):
        if os.path.exists(path):
            os.remove(path)
    with open(os.path.join(work, "wma-flthost.log"), "wb") as log:
        r = subprocess.run([pg.wine_runner(bin_dir), os.path.join(bin_dir, "flthost.exe"),
                            "export", os.path.join(bin_dir, "vell_wma.flt"), wav, wma, "--options", str(row),
                            "--quiet"], stdout=log, stderr=log)
    if r.returncode != 0 or not os.path.exists(wma):
        return None, None
    pg.run(["ffmpeg", "-y", "-i", wma, "-c:a", "pcm_f32le", dec])
    return wma, (dec if os.path.exists(dec) else None)


def held_kbps(path, seconds):
    """The bit rate a file's audio packets hold over the clip's length (container overhead
    left out), or None where ffprobe reads no packets."""
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "packet=size",
                        "-of", "csv=p=0", path], capture_output=True, text=True)
    sizes = [int(v) for v in r.stdout.split() if v.strip().isdigit()]
    return sum(sizes) * 8 / seconds / 1000 if sizes else None


def onset_pictures(out_dir, work, rate, channels, names):
    """One PNG per codec around the castanets' lone click: the input, the lined-up decode
    and the coding noise (decode less input), both channels' powers added, all shaded on
    the input's scale; and input.png, the input alone."""
    os.makedirs(out_dir, exist_ok=True)
    start = int((pg.CASTANET_ONSET - ONSET_BEFORE) * rate)
    stop = int((pg.CASTANET_ONSET + ONSET_AFTER) * rate)
    mark = int(pg.CASTANET_ONSET * rate)
    x = np.asarray(pg.read_f32(os.path.join(work, "in.wav"), channels))
    made = [os.path.join(out_dir, "input.png")]
    spectrogram_png.picture(made[0], [x], channels, start, stop, mark)
    for n in names:
        dec = os.path.join(work, n + "-aligned.wav")
        if not os.path.exists(dec):
            continue
        y = np.asarray(pg.read_f32(dec, channels))[:len(x)]
        y = np.concatenate((y, np.zeros(len(x) - len(y))))
        made.append(os.path.join(out_dir, "%s.png" % n))
        spectrogram_png.picture(made[-1], [x, y, y - x], channels, start, stop, mark)
    return made


def report(a, peaq_dir):
    """a: build, work, wma_rows ("31,28"), and optionally signals and codecs (comma lists;
    codec names as in CODECS). Prints one table per row; returns the failures."""
    bin_dir = os.path.join(a.build, "bin")
    signals = (getattr(a, "signals", None) or ",".join(SIGNALS)).split(",")
    chosen = (getattr(a, "codecs", None) or ",".join(CODECS)).split(",")
    names = [n for n in CODECS if n in chosen]
    rows = [int(r) for r in a.wma_rows.split(",")]
    unknown = [r for r in rows if r not in ROWS]
    if unknown:
        raise SystemExit("WMA rows at 44.1 kHz stereo are %s, not %s" % (sorted(ROWS), unknown))
    failures, pictures = [], []
    grades = {r: {n: {} for n in names} for r in rows}
    rates = {r: {n: [] for n in names} for r in rows}
    for signal in signals:
        inputs = {}
        for row in rows:
            kbps, rate, channels = ROWS[row]
            work = os.path.join(a.work, "wma-row%d-%s" % (row, signal))
            os.makedirs(work, exist_ok=True)
            if (rate, channels) not in inputs:
                left, right = pg.signal_of(signal, rate, work)
                inputs[(rate, channels)] = pg.interleave(left, right, channels)
            wav = os.path.join(work, "in.wav")
            pg.write_wav(wav, rate, channels, inputs[(rate, channels)])
            x = pg.read_f32(wav, channels)  # the input as the codecs see it (16-bit)
            seconds = len(x) / channels / rate
            for n in names:
                aligned = os.path.join(work, n + "-aligned.wav")
                if os.path.exists(aligned):
                    os.remove(aligned)  # an earlier run's: never pictured as this one's
                if n == "ours":
                    coded, dec = export_ours(bin_dir, wav, work, row)
                else:
                    codec, ext = next((c, e) for p, c, e in pg.PEERS if p == n)
                    dec = pg.encode_peer(codec, ext, wav, work, rate, channels, kbps)
                    coded = os.path.join(work, "peer." + ext) if dec else None
                    if dec is None:
                        grades[row][n][signal] = None  # the peer refuses the setup: shown as -
                        continue
                # Our export that leaves no file or no decode is a failure, as is no grade.
                g = pg.grade(peaq_dir, work, n, rate, channels, x, dec) if dec else pg.FAILED
                grades[row][n][signal] = g
                if g == pg.FAILED:
                    log = " (flthost's output: %s)" % os.path.join(work, "wma-flthost.log") if n == "ours" else ""
                    failures.append("WMA row %d %s %s%s" % (row, signal, n, log))
                held = held_kbps(coded, seconds) if coded else None
                if held is not None:
                    rates[row][n].append(held)
            print("WMA row %d, %s: %s" % (row, signal, "  ".join(
                "%s %s" % (n, cell(grades[row][n].get(signal))) for n in names)), flush=True)
            if signal == ONSET_SIGNAL:
                pictures += onset_pictures(os.path.join(a.work, "onset-row%d" % row), work, rate, channels, names)
    for row in rows:
        print_table(row, signals, names, grades[row], rates[row])
    if pictures:
        print("\nspectrograms of a castanet click at %.2f s (input, decode, coding noise; 40 ms before to "
              "120 ms after): %s" % (pg.CASTANET_ONSET, ", ".join(sorted({os.path.dirname(p) for p in pictures}))))
    return failures


def cell(g):
    if g == pg.FAILED:
        return "FAILED"
    return "%.2f" % g[0] if g else "-"


def print_table(row, signals, names, grades, rates):
    kbps, rate, channels = ROWS[row]
    print("\n| %d kbps, %.1f kHz %s (row %d) | %s | median ODG | median DI | kbps held |" % (
        kbps, rate / 1000, "stereo" if channels == 2 else "mono", row, " | ".join(signals)))
    print("|---|" + "---|" * (len(signals) + 3))
    for n in names:
        got = [grades[n][s] for s in signals if grades[n].get(s) not in (None, pg.FAILED)]
        # A median over fewer clips than the others is marked with its count.
        mark = "" if len(got) == len(signals) else " (%d)" % len(got)
        odg = "**%.2f**%s" % (statistics.median(g[0] for g in got), mark) if got else "-"
        di = "%.2f" % statistics.median(g[1] for g in got) if got else "-"
        held = "%.1f" % statistics.median(rates[n]) if rates[n] else "-"
        print("| %s | %s | %s | %s | %s |" % (LABEL[n], " | ".join(cell(grades[n].get(s)) for s in signals),
                                             odg, di, held))
