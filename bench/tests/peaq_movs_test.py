#!/usr/bin/env python3
"""bench/peaq_movs.py reads PEAQ's basic network from the vendored source as the measure
computes it: on MOVs the measure printed, it gives the distortion index the measure printed
beside them (our TwinVQ decodes of three clips; far apart in the network's range)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import peaq_movs  # noqa: E402

# MOVs in the network's order, then the distortion index the measure printed.
CASES = {
    "22/24 mono speech": ([541.749280, 504.988473, -3.056716, 27.946602, 2.389768, 1.882859,
                           28.255716, 31.592729, 3.266900, 0.999999, 0.909333], -3.166),
    "22/24 mono piano": ([446.714286, 437.241071, 0.637145, 26.146046, 1.940893, 0.925666,
                          25.759765, 176.147531, 1.387770, 1.000000, 0.948229], -2.961),
    "44/48 stereo band": ([912.505985, 879.417672, 1.455318, 32.179433, 1.992534, 0.562084,
                           21.163469, 207.998158, 3.783957, 0.993661, 0.336000], -1.093),
}


def main():
    di = peaq_movs.basic_network()
    failed = 0
    for name, (movs, printed) in CASES.items():
        got = di(movs)
        ok = abs(got - printed) <= 0.0015
        failed += not ok
        print(f"{'ok  ' if ok else 'FAIL'} {name}: {got:.4f}, the measure printed {printed:.3f}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
