#!/usr/bin/env python3
"""The user's ZIP installed as a user installs it, and used.

The package is unpacked; its plugins/ go into a plug-in folder of their own and its
libraries/ beside the 32-bit flthost, which stands in for the host program. In a new wine
prefix, with plain `wine` and no WINEDLLPATH, each plug-in exports a generated WAV and
imports the file back. ffprobe must see the format, and the import must give what ffmpeg
decodes from the same file (the input itself, within the codec's noise, for AUD).
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, ".."), os.path.join(here, "..", "..", "packaging")]
from check_package import build_package  # noqa: E402
from wavtools import read_wav, snr_db, test_signal, write_wav  # noqa: E402

# plug-in, output file, WAV rate, channels, ffprobe's codec name, least agreement of the
# import with ffmpeg's decode in dB (ffmpeg's IMA decoder rounds otherwise than ours: 47 dB
# reached; the VQF and WMA decodes agree to the last bit or so: 103 and 109 dB reached)
FORMATS = [
    ("vell_aud.flt", "out.aud", 22050, 1, "adpcm_ima_ws", 45),
    ("vell_vqf.flt", "out.vqf", 44100, 2, "twinvq", 100),
    ("vell_wma.flt", "out.wma", 44100, 2, "wmav2", 100),
]
SECONDS = 3


def stereo(mono):
    out = []
    for i, v in enumerate(mono):
        out += [v, mono[len(mono) - 1 - i]]
    return out


class Installed:
    def __init__(self, work, zip_path, flthost, wine):
        self.work = work
        with zipfile.ZipFile(zip_path) as z:
            z.extractall(os.path.join(work, "unpacked"))
        top = glob.glob(os.path.join(work, "unpacked", "*"))[0]
        self.plugins = os.path.join(work, "plugins")
        self.host = os.path.join(work, "host")
        shutil.copytree(os.path.join(top, "plugins"), self.plugins)
        shutil.copytree(os.path.join(top, "libraries"), self.host)
        shutil.copy(flthost, self.host)
        self.wine = wine
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("WINE", "LC_", "VELL_")) and k != "LANGUAGE"}
        self.env.update(WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")

    def run(self, *args):
        """flthost's exit code and output, read from files: wine's helpers may hold a pipe."""
        out = os.path.join(self.work, "flthost.out")
        with open(out, "w") as f:
            rc = subprocess.call([self.wine, os.path.join(self.host, "flthost.exe")] + list(args),
                                 stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                 cwd=self.work, env=self.env, timeout=600)
        with open(out) as f:
            return rc, f.read()

    def stop(self):
        subprocess.call(["/usr/lib/wine/wineserver", "-k"], env=self.env,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ffmpeg_decode(path, wav):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "fatal", "-y", "-i", path, "-c:a", "pcm_s16le", wav], check=True)
    return read_wav(wav)[2]


def codec_of(path):
    return subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                           "stream=codec_name", "-of", "csv=p=0", path],
                          capture_output=True, text=True).stdout.strip()


def check_format(inst, plugin, out_name, rate, channels, codec, least_agreement):
    tag = f"{plugin}:"
    src = os.path.join(inst.work, f"in-{rate}-{channels}.wav")
    samples = test_signal(rate * SECONDS, rate)
    samples = stereo(samples) if channels == 2 else samples
    write_wav(src, samples, rate, channels)
    plugin_path = os.path.join(inst.plugins, plugin)
    out = os.path.join(inst.work, out_name)
    back = os.path.join(inst.work, out_name + ".wav")
    rc, text = inst.run("export", plugin_path, src, out, "--quiet", "--close-messages")
    if rc != 0:
        return [f"{tag} export exit {rc}: {text.strip()}"]
    if codec_of(out) != codec:
        return [f"{tag} ffprobe sees {codec_of(out)!r}, not {codec}"]
    rc, text = inst.run("import", plugin_path, out, back, "--quiet", "--close-messages")
    if rc != 0:
        return [f"{tag} import exit {rc}: {text.strip()}"]
    _, back_channels, ours = read_wav(back)
    peer = ffmpeg_decode(out, os.path.join(inst.work, out_name + ".ffmpeg.wav"))
    if back_channels != channels:
        return [f"{tag} {back_channels} channels back, not {channels}"]
    if len(ours) < len(samples):
        return [f"{tag} {len(ours)} samples back, fewer than the {len(samples)} exported"]
    agreement = snr_db(peer, ours)
    print(f"{tag} {len(samples)} samples out, {len(ours)} back; against ffmpeg's decode "
          f"{agreement:.1f} dB, against the input {snr_db(samples, ours):.1f} dB")
    if agreement < least_agreement:
        return [f"{tag} the import differs from ffmpeg's decode ({agreement:.1f} dB)"]
    if codec == "adpcm_ima_ws" and snr_db(samples, ours) < 20:
        return [f"{tag} the AUD round trip is {snr_db(samples, ours):.1f} dB"]
    return []


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cmake", required=True)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--flthost", required=True)
    ap.add_argument("--wine", default="wine")
    a = ap.parse_args()
    package = build_package(a.cmake, a.build_dir)
    if not package:
        return 1
    work = tempfile.mkdtemp(prefix="vell-install-")
    inst = Installed(work, package, a.flthost, shutil.which(a.wine) or a.wine)
    failures = []
    try:
        for row in FORMATS:
            failures += check_format(inst, *row)
    finally:
        inst.stop()
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
