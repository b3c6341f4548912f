#!/usr/bin/env python3
"""Writes the package's notices that come from the build machine rather than the tree:

WINPTHREADS.txt: the notices of mingw-w64's winpthreads, which the toolchain links
statically into TVQENC.DLL, vell_vqf.flt and wmaudsdk.dll, taken from Debian's copyright
file of the mingw-w64 development package (its winpthreads stanzas and the licence texts
they name; the test programs' stanza is left out, as none of them is linked).

SOURCES.txt: where the corresponding source of the LGPL parts is: FFmpeg's exact source
(Debian's source package and version, with its patches) and configure line, as the FFmpeg
build recorded them, and the folders of this project that hold our LGPL parts.

  make_notices.py --copyright FILE --ffmpeg-build-note FILE --out DIR
"""
import argparse
import os
import re
import sys


def paragraphs(text):
    return [p for p in re.split(r"\n\s*\n", text) if p.strip()]


def winpthreads_notice(copyright_text):
    paras = paragraphs(copyright_text)
    stanzas = [p for p in paras if p.startswith("Files:") and "winpthreads" in p.split("Copyright:")[0]
               and "tests_pthread" not in p]
    if not stanzas:
        raise SystemExit("make_notices: no winpthreads stanza in the copyright file")
    named = {m.group(1).strip() for s in stanzas for m in [re.search(r"^License: *(.+)$", s, re.M)] if m}
    texts = [p for p in paras if p.startswith("License:") and p.splitlines()[0][8:].strip() in named
             and len(p.splitlines()) > 1]
    head = ("winpthreads (mingw-w64), linked statically into TVQENC.DLL, vell_vqf.flt and wmaudsdk.dll.\n"
            "Its notices, as Debian's mingw-w64 package states them:\n")
    return head + "\n" + "\n\n".join(stanzas + texts) + "\n"


def sources_notice(build_note):
    # "FFmpeg <debian version>, <toolchain>: <configure flags>"
    m = re.match(r"FFmpeg (\S+), (.+?): (.*)$", build_note.strip())
    if not m:
        raise SystemExit("make_notices: unexpected FFmpeg build note: " + build_note)
    version, toolchain, flags = m.groups()
    return f"""Corresponding source of the LGPL parts of this package

wmaudsdk.dll links FFmpeg statically (LGPL 2.1 or later in this configuration).
  Source: Debian's source package "ffmpeg", version {version}, with the patches
  Debian applies (dpkg-source -x); from Debian 12 (bookworm):
    apt-get source ffmpeg={version}
  Configured with:
    {flags}
  Compiled with {toolchain}.

The source of our own LGPL parts (vell_vqf.flt, TVQENC.DLL and wmaudsdk.dll) is the
source tree of the release this package was built from, in its folders twinvq/ (the
TwinVQ codec core and its tables), tvqenc/ (TVQENC.DLL), vqf/ (vell_vqf.flt) and
wmasdk/ (wmaudsdk.dll), with contract/, cmake/ and scripts/ to build them
(scripts/build-ffmpeg-mingw.sh builds the FFmpeg above; wmasdk/README.md says how to
link another FFmpeg). Whoever gave you this package gives you that source on request.
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--copyright", required=True)
    ap.add_argument("--ffmpeg-build-note", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    with open(a.copyright, encoding="utf-8") as f:
        notice = winpthreads_notice(f.read())
    with open(os.path.join(a.out, "WINPTHREADS.txt"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(notice)
    with open(a.ffmpeg_build_note, encoding="utf-8") as f:
        sources = sources_notice(f.read())
    with open(os.path.join(a.out, "SOURCES.txt"), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(sources)
    return 0


if __name__ == "__main__":
    sys.exit(main())
