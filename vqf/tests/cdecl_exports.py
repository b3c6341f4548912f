#!/usr/bin/env python3
"""Checks that a 32-bit DLL's exported functions use the C calling convention.

  cdecl_exports.py --objdump OBJDUMP MODULE NAME...

On i686 a __cdecl function leaves its arguments for the caller to pop and returns with a
plain `ret`; a __stdcall one pops them itself (`ret $0xN`) and its symbol carries an @N
suffix. For each NAME the export table must point at a function whose symbol is _NAME
(no @N) and whose every return instruction is a plain `ret`; at least one must exist.
"""
import argparse
import re
import subprocess
import sys


def export_addresses(objdump, module):
    text = subprocess.run([objdump, "-p", module], check=True, capture_output=True, text=True).stdout
    base = int(re.search(r"ImageBase\s+([0-9a-fA-F]+)", text).group(1), 16)
    rvas = [int(r, 16) for r in re.findall(r"\+base\[\s*\d+\]\s+([0-9a-fA-F]+) Export RVA", text)]
    table = text.split("[Ordinal/Name Pointer] Table\n", 1)[1].split("\n\n", 1)[0]
    names = re.findall(r"\[\s*(\d+)\]\s+(\S+)", table)
    # The name table lists names in sorted order with their index into the address table.
    return {name: base + rvas[int(index)] for index, name in names}


def functions(objdump, module):
    """Symbol name -> (address, list of return instructions) from the disassembly."""
    text = subprocess.run([objdump, "-d", module], check=True, capture_output=True, text=True).stdout
    result = {}
    current = None
    for line in text.splitlines():
        m = re.match(r"^([0-9a-f]+) <(.+)>:$", line)
        if m:
            current = m.group(2)
            result[current] = (int(m.group(1), 16), [])
            continue
        if current and re.search(r"\t(ret|retl|retw)\b", line):
            result[current][1].append(line.split("\t")[-1].strip())
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("module")
    ap.add_argument("names", nargs="+")
    a = ap.parse_args()

    exports = export_addresses(a.objdump, a.module)
    code = functions(a.objdump, a.module)
    failures = []
    for name in a.names:
        if name not in exports:
            failures.append(f"{name}: not exported")
            continue
        symbols = [s for s, (address, _) in code.items() if address == exports[name]
                   and not s.endswith(".cold")]
        if not symbols:
            failures.append(f"{name}: no symbol at its export address")
            continue
        symbol = symbols[0]
        returns = code[symbol][1] + code.get(symbol + ".cold", (0, []))[1]
        if symbol != "_" + name:
            failures.append(f"{name}: symbol {symbol} (an @N suffix means __stdcall)")
        elif not returns:
            failures.append(f"{name}: no return instruction found")
        elif any(r != "ret" for r in returns):
            failures.append(f"{name}: returns with {sorted(set(returns))}; __cdecl returns with a plain ret")
        else:
            print(f"{name}: {symbol}, {len(returns)} x ret")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
