#!/usr/bin/env python3
"""Builds the user's ZIP (the `package` target) and checks that it holds exactly the files
its note names, each a PE module of the build's kind where it is one; that winpthreads'
notices are there; and that the sources note names FFmpeg's exact source (Debian's
package version, the configure line) and the folders of our LGPL parts."""
import argparse
import glob
import os
import subprocess
import sys
import zipfile

WANTED = {"INSTALL.txt", "plugins/vell_aud.flt", "plugins/vell_vqf.flt", "plugins/vell_wma.flt",
          "libraries/TVQENC.DLL", "libraries/wmaudsdk.dll", "licenses/LICENSE",
          "licenses/COPYING.LGPL-2.1", "licenses/TWINVQ-TABLES.md", "licenses/FFMPEG-LICENSE.md",
          "licenses/WINPTHREADS.txt", "licenses/SOURCES.txt"}
# What each notice must say.
NOTICES = {
    "licenses/WINPTHREADS.txt": ["mingw-w64-libraries/winpthreads/*", "Lockless Inc.",
                                 "Permission is hereby granted", "Redistributions in binary form"],
    "licenses/SOURCES.txt": ["apt-get source ffmpeg=", "--enable-demuxer=asf", "--disable-everything",
                             "twinvq/", "tvqenc/", "vqf/", "wmasdk/"],
}


def build_package(cmake, build_dir):
    """Builds the `package` target; the ZIP's path, or None (said) unless there is one."""
    subprocess.run([cmake, "--build", build_dir, "--target", "package"], check=True,
                   stdout=subprocess.DEVNULL)
    zips = glob.glob(os.path.join(build_dir, "package", "*.zip"))
    if len(zips) != 1:
        print(f"FAIL: {len(zips)} packages")
        return None
    return zips[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cmake", required=True)
    ap.add_argument("--build-dir", required=True)
    a = ap.parse_args()
    package = build_package(a.cmake, a.build_dir)
    if not package:
        return 1
    zips = [package]
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
        for n, phrases in NOTICES.items():
            if n not in names:
                continue
            text = z.read(next(x for x in z.namelist() if x.endswith(n))).decode("utf-8")
            failures += [f"{n} does not say {p!r}" for p in phrases if p not in text]
        version = subprocess.run(["dpkg-query", "-W", "-f=${source:Version}", "libavcodec-dev"],
                                 capture_output=True, text=True).stdout.strip()
        if version and "licenses/SOURCES.txt" in names:
            text = z.read(next(x for x in z.namelist() if x.endswith("licenses/SOURCES.txt"))).decode("utf-8")
            if f"ffmpeg={version}" not in text:
                failures.append(f"licenses/SOURCES.txt does not name FFmpeg {version}")
    print(f"{os.path.basename(zips[0])}: {len(names)} files")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
