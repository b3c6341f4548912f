#!/usr/bin/env python3
"""The 32-bit libraries compute in SSE2: counts the x87 arithmetic instructions in a Windows
module's code (objdump) and fails above a limit. What remains is the C runtime's own math
functions (pow, exp, sincos, the number formatting) written for x87, and the fabs that
32-bit code applies to a value the calling convention returns on the x87 stack.

    x87_check.py --objdump OBJDUMP --limit N MODULE
"""
import argparse
import re
import subprocess
import sys

# Arithmetic on the x87 stack; loads, stores and exchanges are not counted (the calling
# convention returns float values there).
X87_ARITHMETIC = re.compile(
    r"^fi?(add|sub|subr|mul|div|divr)p?|^f(sqrt|chs|abs|prem1?|sin|cos|sincos|patan|ptan|"
    r"yl2x|yl2xp1|2xm1|scale|rndint|u?comi?p?p?)$")
SSE_ARITHMETIC = re.compile(r"^v?(add|sub|mul|div|sqrt|min|max)(ss|sd|ps|pd)$")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--limit", type=int, required=True)
    parser.add_argument("module")
    args = parser.parse_args()
    listing = subprocess.run([args.objdump, "-d", "--no-show-raw-insn", args.module],
                             capture_output=True, text=True, check=True).stdout
    x87 = sse = 0
    for line in listing.splitlines():
        fields = line.split("\t")
        if len(fields) < 2 or not fields[1].strip():
            continue
        mnemonic = fields[1].split()[0]
        x87 += bool(X87_ARITHMETIC.match(mnemonic))
        sse += bool(SSE_ARITHMETIC.match(mnemonic))
    print(f"{args.module}: {x87} x87 arithmetic instructions (limit {args.limit}), "
          f"{sse} SSE/AVX float arithmetic")
    if x87 > args.limit or sse == 0:
        print("FAIL: the module computes on x87: is the 32-bit build still compiled with "
              "-msse2 -mfpmath=sse?")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
