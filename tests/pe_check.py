#!/usr/bin/env python3
"""Checks a built Windows module's export and import tables, as objdump -p shows them.

  pe_check.py --objdump OBJDUMP MODULE [--exports A,B,...] [--import-dlls X.dll,Y.dll]
              [--ordinal-imports DLL:1,2,3] [--forbid-dlls PATTERN,...]

--exports          the exported names must be exactly these (order free)
--import-dlls      the module may import from these DLLs only (case-insensitive)
--ordinal-imports  from DLL exactly these ordinals, and no names
--forbid-dlls      no imported DLL name may contain one of these texts
--not-wine-builtin the module carries no wine builtin marker (a DLL that wine alone can load)
"""
import argparse
import re
import subprocess
import sys


def read_tables(objdump, module):
    text = subprocess.run([objdump, "-p", module], check=True, capture_output=True, text=True).stdout
    exports = []
    m = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s+\[\s*\d+\]\s+\S+\n)*)", text)
    if m:
        exports = re.findall(r"\]\s+(\S+)", m.group(1))
    imports = {}
    for block in re.finditer(r"DLL Name: (\S+)\n[ \t]*vma:.*\n((?:[ \t]+[0-9a-fA-F]+[ \t]+.*\n)*)", text):
        entries = []
        for line in block.group(2).splitlines():
            parts = line.split()
            if len(parts) >= 3 and parts[2] == "<none>":
                entries.append(("ordinal", int(parts[1])))
            elif len(parts) >= 3:
                entries.append(("name", parts[2]))
        imports.setdefault(block.group(1), []).extend(entries)
    return exports, imports


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("module")
    ap.add_argument("--exports")
    ap.add_argument("--import-dlls")
    ap.add_argument("--ordinal-imports", action="append", default=[])
    ap.add_argument("--forbid-dlls")
    ap.add_argument("--not-wine-builtin", action="store_true")
    a = ap.parse_args()

    exports, imports = read_tables(a.objdump, a.module)
    failures = []
    if a.exports is not None:
        want = sorted(x for x in a.exports.split(",") if x)
        if sorted(exports) != want:
            failures.append(f"exports {sorted(exports)} != expected {want}")
    if a.import_dlls is not None:
        allowed = {d.lower() for d in a.import_dlls.split(",")}
        extra = [d for d in imports if d.lower() not in allowed]
        if extra:
            failures.append(f"imports from {extra}, allowed only {sorted(allowed)}")
    for spec in a.ordinal_imports:
        dll, ords = spec.split(":")
        want = sorted(int(o) for o in ords.split(","))
        got = next((v for k, v in imports.items() if k.lower() == dll.lower()), None)
        if got is None:
            failures.append(f"no import from {dll}")
            continue
        names = [v for kind, v in got if kind == "name"]
        have = sorted(v for kind, v in got if kind == "ordinal")
        if names:
            failures.append(f"{dll} imported by name: {names}")
        if have != want:
            failures.append(f"{dll} ordinals {have} != expected {want}")
    if a.forbid_dlls:
        for bad in a.forbid_dlls.split(","):
            hits = [d for d in imports if bad.lower() in d.lower()]
            if hits:
                failures.append(f"forbidden imports {hits}")

    if a.not_wine_builtin:
        with open(a.module, "rb") as f:
            stub = f.read(0x80)  # winebuild writes its marker into the DOS stub
        if b"Wine builtin DLL" in stub:
            failures.append("marked as a wine builtin")

    print(f"{a.module}: exports {sorted(exports)}")
    for dll, entries in imports.items():
        print(f"  imports {dll}: {len(entries)} entries")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
