#!/usr/bin/env python3
"""Builds the user's ZIP (the `package` target) and checks that it holds exactly the files
its note names, each a PE module of the build's kind where it is one."""
import argparse
import glob
import os
import subprocess
import sys
import zipfile

WANTED = {"INSTALL.txt", "plugins/vell_aud.flt", "plugins/vell_vqf.flt", "plugins/vell_wma.flt",
          "libraries/TVQENC.DLL", "libraries/wmaudsdk.dll", "licenses/LICENSE",
          "licenses/COPYING.LGPL-2.1", "licenses/TWINVQ-TABLES.md", "licenses/FFMPEG-LICENSE.md"}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cmake", required=True)
    ap.add_argument("--build-dir", required=True)
    a = ap.parse_args()
    subprocess.run([a.cmake, "--build", a.build_dir, "--target", "package"], check=True,
                   stdout=subprocess.DEVNULL)
    zips = glob.glob(os.path.join(a.build_dir, "package", "*.zip"))
    if len(zips) != 1:
        print(f"FAIL: {len(zips)} packages")
        return 1
    with zipfile.ZipFile(zips[0]) as z:
        names = {n.split("/", 1)[1] for n in z.namelist() if not n.endswith("/")}
        failures = [f"missing {n}" for n in sorted(WANTED - names)]
        failures += [f"unexpected {n}" for n in sorted(names - WANTED)]
        note = z.read(next(n for n in z.namelist() if n.endswith("INSTALL.txt"))).decode()
        for n in WANTED:
            base = os.path.basename(n)
            if base.lower().endswith((".flt", ".dll")) and base not in note:
                failures.append(f"the note does not name {base}")
            if n in names and base.lower().endswith((".flt", ".dll")):
                data = z.read(next(x for x in z.namelist() if x.endswith(n)))
                pe = int.from_bytes(data[0x3C:0x40], "little")
                machine = int.from_bytes(data[pe + 4:pe + 6], "little")
                if data[:2] != b"MZ" or machine != 0x14C:
                    failures.append(f"{n} is not a 32-bit Windows module")
    print(f"{os.path.basename(zips[0])}: {len(names)} files")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
