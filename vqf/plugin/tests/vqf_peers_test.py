#!/usr/bin/env python3
"""VQF files written through vell_vqf.flt, read by an independent decoder.

For mono and stereo, 8- and 16-bit input, with and without a header_info directory:
ffprobe must see a twinvq stream at the right rate and channel count with the header
texts as metadata, and ffmpeg must decode exactly ceil(L / frame size) x frame size
samples per channel from L input samples per channel (it drops the two silent frames
that end every file).

  vqf_peers_test.py --winerun scripts/winerun.sh --tool bin/vqf_export_tool.exe --workdir DIR
  vqf_peers_test.py --winerun scripts/winerun.sh --workdir DIR --flthost bin/flthost.exe --plugin bin/vell_vqf.flt
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

# (sample rate, channels, bits, options word, frame size, samples per channel)
CASES = [
    (44100, 2, 16, 8, 2048, 44100),      # the default mode, one second
    (44100, 1, 8, 7, 2048, 3 * 2048),    # 40 kbps, an exact multiple of the frame
    (8000, 1, 16, 1, 512, 1000),
    (11025, 2, 8, 2, 512, 5000),
    (16000, 2, 16, 3, 1024, 1024 + 1),
    (22050, 1, 16, 4, 1024, 30000),
    (22050, 2, 8, 6, 512, 20000),
]

HEADER_FILES = {"ALBM": b"Peer album", "BAND": b"The Peers", "NOTE": b"written by the plug-in test",
                "YEAR": b"2001 5\n", "SCND/NAME": b"Second title"}
EXPECTED_TAGS = {"ALBM": "Peer album", "band": "The Peers", "note": "written by the plug-in test"}


def run_case(args, case, with_header):
    rate, channels, bits, options, frame_size, length = case
    name = f"{rate}-{channels}ch-{bits}bit-{'hdr' if with_header else 'plain'}"
    work = os.path.join(args.workdir, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if with_header:
        for rel, content in HEADER_FILES.items():
            path = os.path.join(work, "header_info", rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
    with open(os.path.join(work, "tool.log"), "wb") as log:
        status = subprocess.run([args.winerun, args.tool, "out.vqf", str(rate), str(bits), str(channels),
                                 str(options), str(length)], cwd=work, stdout=log, stderr=log).returncode
    if status != 0:
        return [f"{name}: export tool exited with {status}"]
    out = os.path.join(work, "out.vqf")
    failures = []
    probe = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", out],
                                      capture_output=True, text=True, errors="replace").stdout or "{}")
    stream = (probe.get("streams") or [{}])[0]
    if stream.get("codec_name") != "twinvq":
        failures.append(f"{name}: codec {stream.get('codec_name')}")
    if stream.get("sample_rate") != str(rate):
        failures.append(f"{name}: sample rate {stream.get('sample_rate')}")
    if stream.get("channels") != channels:
        failures.append(f"{name}: channels {stream.get('channels')}")
    tags = probe.get("format", {}).get("tags", {})
    for key, value in EXPECTED_TAGS.items():
        got = tags.get(key)
        if with_header and got != value:
            failures.append(f"{name}: tag {key} = {got!r}, expected {value!r} (tags {tags})")
        if not with_header and got is not None:
            failures.append(f"{name}: unexpected tag {key}")
    pcm = subprocess.run(["ffmpeg", "-v", "quiet", "-i", out, "-f", "s16le", "-acodec", "pcm_s16le", "-"],
                         capture_output=True).stdout
    decoded = len(pcm) // (2 * channels)
    expected = -(-length // frame_size) * frame_size
    if decoded != expected:
        failures.append(f"{name}: ffmpeg decoded {decoded} samples per channel, expected {expected}")
    return failures


# Two exports open at once: 8 kHz mono at 8 kbps and 44.1 kHz stereo at 48 kbps.
PAIR = [(8000, 1, 16, 1, 512, 7000), (44100, 2, 16, 8, 2048, 30000)]


def decoded_samples(path, channels):
    pcm = subprocess.run(["ffmpeg", "-v", "quiet", "-i", path, "-f", "s16le", "-acodec", "pcm_s16le", "-"],
                         capture_output=True).stdout
    return len(pcm) // (2 * channels)


def run_pair(args, close_first):
    name = f"pair-{close_first}-closed-first"
    work = os.path.join(args.workdir, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    command = [args.winerun, args.tool]
    for i, (rate, channels, bits, options, _, length) in enumerate(PAIR):
        command += [f"out{i}.vqf", str(rate), str(bits), str(channels), str(options), str(length)]
    with open(os.path.join(work, "tool.log"), "wb") as log:
        status = subprocess.run(command + [close_first], cwd=work, stdout=log, stderr=log).returncode
    if status != 0:
        return [f"{name}: export tool exited with {status}"]
    failures = []
    for i, (rate, channels, _, _, frame_size, length) in enumerate(PAIR):
        decoded = decoded_samples(os.path.join(work, f"out{i}.vqf"), channels)
        expected = -(-length // frame_size) * frame_size
        if decoded != expected:
            failures.append(f"{name}: ffmpeg decoded {decoded} samples per channel of out{i}, expected {expected}")
    return failures


def run_flthost(args):
    """flthost export with the plug-in: a two-second stereo WAV at the default options."""
    work = os.path.join(args.workdir, "flthost")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    wav, out = os.path.join(work, "in.wav"), os.path.join(work, "out.vqf")
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100:duration=2",
                    "-ac", "2", "-c:a", "pcm_s16le", wav], check=True)
    with open(os.path.join(work, "flthost.log"), "wb") as log:
        status = subprocess.run([args.winerun, args.flthost, "export", args.plugin, "in.wav", "out.vqf", "--quiet"],
                                cwd=work, stdout=log, stderr=log).returncode
    if status != 0:
        return [f"flthost export exited with {status}"]
    stream = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", out],
                                       capture_output=True, text=True).stdout or "{}").get("streams", [{}])[0]
    pcm = subprocess.run(["ffmpeg", "-v", "quiet", "-i", out, "-f", "s16le", "-"], capture_output=True).stdout
    failures = []
    if (stream.get("codec_name"), stream.get("sample_rate"), stream.get("channels")) != ("twinvq", "44100", 2):
        failures.append(f"flthost export: stream {stream}")
    if len(pcm) // 4 != 44 * 2048:  # ceil(88200 / 2048) frames
        failures.append(f"flthost export: ffmpeg decoded {len(pcm) // 4} samples per channel")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--winerun", required=True)
    ap.add_argument("--tool", help="vqf_export_tool.exe: the peer cases")
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--flthost", help="flthost.exe: export through the host with --plugin instead")
    ap.add_argument("--plugin")
    args = ap.parse_args()
    failures = []
    if args.flthost:
        found = run_flthost(args)
        print(("FAIL " if found else "ok   ") + "flthost export")
        failures += found
    for i, case in enumerate(CASES if args.tool else []):
        for with_header in (False, True) if i < 3 else (i % 2 == 0,):
            found = run_case(args, case, with_header)
            print(("FAIL " if found else "ok   ") + f"{case} header_info={with_header}")
            failures += found
    for close_first in ("first", "second") if args.tool else ():
        found = run_pair(args, close_first)
        print(("FAIL " if found else "ok   ") + f"two exports at once, {close_first} closed first")
        failures += found
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
