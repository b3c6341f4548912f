#!/usr/bin/env python3
"""Which of PEAQ's model output variables (MOVs) make the distance between two decodes of one
input. Prints figures, is not a test.

  bench/peaq_movs.py REF48.wav A48.wav B48.wav   (48 kHz files, as bench/peaq_grades.py and
                                                  bench/peaq_tune.sh leave them)

Grades A and B with the measure's command that prints every MOV (bench/build-peaq.sh), then
runs the basic version's network on A's MOVs with one of them taken from B at a time: the
change in the distortion index (DI) that MOV makes on its own. The network is not additive,
so the changes need not sum to the whole distance; a MOV whose change is large is where B
differs from A in what PEAQ hears (near PEAQ's floor the network saturates and every change
is small). The network's weights are read from the vendored source, and A's DI as computed
here is checked against the one the measure printed.
"""
import math
import os
import re
import subprocess
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NN_SOURCE = os.path.join(root, "third_party", "gstpeaq", "src", "nn.c")
SETTINGS = os.path.join(root, "third_party", "gstpeaq", "src", "settings.h")
# The order the network takes them in, as the element prints them.
MOVS = ["BandwidthRefB", "BandwidthTestB", "Total NMRB", "WinModDiff1B", "ADBB", "EHSB",
        "AvgModDiff1B", "AvgModDiff2B", "RmsNoiseLoudB", "MFPDB", "RelDistFramesB"]


def c_array(text, name):
    body = re.search(name + r"\s*(?:\[[^]]*\])+\s*=\s*\{(.*?)\};", text, re.S).group(1)
    return [float(v) for v in re.findall(r"-?\d+\.?\d*(?:e-?\d+)?", body)]


def basic_network():
    text = open(NN_SOURCE).read()
    amin, amax = c_array(text, "amin_basic"), c_array(text, "amax_basic")
    wx = c_array(text, "wx_basic")
    wxb, wy = c_array(text, "wxb_basic"), c_array(text, "wy_basic")
    wyb = float(re.search(r"wyb_basic\s*=\s*(-?[\d.]+)", text).group(1))
    clamp = re.search(r"#define\s+CLAMP_MOVS\s+1", open(SETTINGS).read()) is not None
    assert len(amin) == len(amax) == len(MOVS) and len(wx) == 3 * len(MOVS)

    def distortion_index(movs):
        x = list(wxb)
        for i, value in enumerate(movs):
            m = (value - amin[i]) / (amax[i] - amin[i])
            if clamp:
                m = min(max(m, 0.0), 1.0)
            for j in range(3):
                x[j] += wx[3 * i + j] * m
        return wyb + sum(wy[j] / (1.0 + math.exp(-x[j])) for j in range(3))
    return distortion_index


def measure(peaq_dir, ref, test):
    env = dict(os.environ, GST_PLUGIN_PATH=peaq_dir)
    out = subprocess.run([os.path.join(peaq_dir, "peaq-movs"), ref, test], env=env,
                         capture_output=True, text=True, check=True).stdout
    values = [float(re.search(re.escape(n) + r":\s*(\S+)", out).group(1)) for n in MOVS]
    printed = float(re.search(r"Distortion Index:\s*(\S+)", out).group(1))
    return values, printed


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    ref, a, b = sys.argv[1:]
    peaq_dir = subprocess.run(["bash", os.path.join(root, "bench", "build-peaq.sh")],
                              capture_output=True, text=True, check=True).stdout.split()[-1]
    di = basic_network()
    movs_a, printed_a = measure(peaq_dir, ref, a)
    movs_b, printed_b = measure(peaq_dir, ref, b)
    if abs(di(movs_a) - printed_a) > 0.01 or abs(di(movs_b) - printed_b) > 0.01:
        sys.exit(f"the network read from {NN_SOURCE} gives {di(movs_a):.3f} and "
                 f"{di(movs_b):.3f}, the measure printed {printed_a:.3f} and {printed_b:.3f}")
    print(f"DI: A {printed_a:.3f}, B {printed_b:.3f} ({printed_b - printed_a:+.3f})")
    print(f"{'MOV':16} {'A':>10} {'B':>10}  DI with B's alone")
    for i, name in enumerate(MOVS):
        swapped = movs_a[:i] + [movs_b[i]] + movs_a[i + 1:]
        print(f"{name:16} {movs_a[i]:10.3f} {movs_b[i]:10.3f}  {di(swapped) - printed_a:+.3f}")


if __name__ == "__main__":
    main()
