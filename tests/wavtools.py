#!/usr/bin/env python3
"""WAV helpers for the host tests, the demo and the benchmark.

As a program:
  wavtools.py snr REFERENCE.wav DECODED.wav   prints "snr-db: X" over the common length
  wavtools.py frames FILE.wav                 prints the number of sample frames
"""
import argparse
import array
import math
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import wave


def write_wav(path, samples, rate=22050, channels=1, width=2):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(array.array("h", samples).tobytes() if width == 2 else bytes(samples))


def read_wav(path):
    """(rate, channels, 16-bit samples as an array)"""
    with wave.open(path, "rb") as w:
        assert w.getsampwidth() == 2, "16-bit WAV expected"
        return w.getframerate(), w.getnchannels(), array.array("h", w.readframes(w.getnframes()))


def test_signal(count, rate=22050):
    """Two tones and a slow sweep: loud enough to exercise the step sizes, deterministic."""
    out = []
    for i in range(count):
        t = i / rate
        v = 9000 * math.sin(2 * math.pi * 440 * t) + 4000 * math.sin(2 * math.pi * 3100 * t)
        v += 6000 * math.sin(2 * math.pi * (50 + 400 * t) * t)
        out.append(max(-32768, min(32767, int(v))))
    return out


def snr_db(reference, decoded):
    n = min(len(reference), len(decoded))
    signal_power = sum(v * v for v in reference[:n])
    noise = sum((reference[i] - decoded[i]) ** 2 for i in range(n))
    return float("inf") if noise == 0 else 10 * math.log10(signal_power / noise)


class Flthost:
    """Runs flthost.exe under wine with its output in files (wine's helpers may hold pipes open)."""

    def __init__(self, bin_dir, winerun, work_dir):
        self.bin = bin_dir
        self.winerun = winerun
        self.work = work_dir

    def plugin(self, name):
        return os.path.join(self.bin, name)

    def run(self, *args, file_limit=None):
        out_path = os.path.join(self.work, "flthost.out")
        err_path = os.path.join(self.work, "flthost.err")

        def limit():
            # A write past the limit then fails with EFBIG instead of killing the process.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))

        with open(out_path, "w") as out, open(err_path, "w") as err:
            rc = subprocess.call([self.winerun, os.path.join(self.bin, "flthost.exe"), *args],
                                 stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                 preexec_fn=limit if file_limit else None, timeout=240)
        with open(out_path) as out, open(err_path) as err:
            return rc, out.read(), err.read()


class HostTestCase(unittest.TestCase):
    """A test with a scratch directory and flthost; run_tests() sets where the programs are."""
    bin_dir = winerun = None

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="flthost-test-")
        self.host = Flthost(self.bin_dir, self.winerun, self.dir)
        self.aud = self.host.plugin("vell_aud.flt")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)


def run_tests():
    """unittest.main for a test script called with --bin BUILD/bin --winerun scripts/winerun.sh."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--winerun", required=True)
    paths, rest = ap.parse_known_args()
    HostTestCase.bin_dir, HostTestCase.winerun = paths.bin, paths.winerun
    unittest.main(module="__main__", argv=[sys.argv[0], *rest])


def main(argv):
    if len(argv) == 4 and argv[1] == "snr":
        print(f"snr-db: {snr_db(read_wav(argv[2])[2], read_wav(argv[3])[2]):.2f}")
    elif len(argv) == 3 and argv[1] == "frames":
        with wave.open(argv[2], "rb") as w:
            print(w.getnframes())
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
