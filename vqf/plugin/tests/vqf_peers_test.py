#!/usr/bin/env python3
"""VQF files written through vell_vqf.flt, read by an independent decoder.

For mono and stereo, 8- and 16-bit input, with and without a header_info directory:
ffprobe must see a twinvq stream at the right rate and channel count with the header
texts as metadata, and ffmpeg must decode exactly ceil(L / frame size) x frame size
samples per channel from L input samples per channel (it drops the two silent frames
that end every file).

  vqf_peers_test.py --winerun scripts/winerun.sh --tool bin/vqf_export_tool.exe --workdir DIR
  vqf_peers_test.py --winerun scripts/winerun.sh --workdir DIR --flthost bin/flthost.exe --plugin bin/vell_vqf.flt [--all-modes]

With --flthost a signal goes out through flthost export and back through flthost import: the
import must be ffmpeg's decode of the file (within 1 LSB, the same length), flthost must exit
0, and the options word must name the file's bit rate.
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


# The nine rate modes as (sample rate, kbps per channel); the options word is the rate's
# 1-based place in the plug-in's list.
MODES = [(8000, 8), (11025, 8), (11025, 10), (16000, 16), (22050, 20), (22050, 24), (22050, 32),
         (44100, 40), (44100, 48)]
RATE_LIST = [8, 10, 16, 20, 24, 32, 40, 48]
FRAME_SIZE = {(8000, 8): 512, (11025, 8): 512, (11025, 10): 512, (22050, 32): 512, (44100, 40): 2048,
              (44100, 48): 2048}


def wav_data(path):
    """The data chunk of a PCM WAV file."""
    with open(path, "rb") as f:
        b = f.read()
    at = 12
    while at + 8 <= len(b):
        size = int.from_bytes(b[at + 4:at + 8], "little")
        if b[at:at + 4] == b"data":
            return b[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return b""


def flthost(args, work, command, log_name):
    """Runs flthost with the plug-in in `work`; its exit code and what it printed."""
    log_path = os.path.join(work, log_name)
    with open(log_path, "wb") as log:  # a file, not a pipe: wine's helpers may hold a pipe open
        status = subprocess.run([args.winerun, args.flthost, command[0], args.plugin] + command[1:] + ["--quiet"],
                                cwd=work, stdout=log, stderr=log).returncode
    with open(log_path, "r", errors="replace") as log:
        return status, log.read()


def run_flthost_mode(args, rate, kbps, channels, check_probe=False):
    """A signal exported through flthost in one mode and imported back through the plug-in:
    the import must equal ffmpeg's decode of the file (within 1 LSB, the same length), flthost
    must exit 0, and the options word must name the file's bit rate."""
    name = f"flthost-{rate}-{kbps}-{channels}ch"
    work = os.path.join(args.workdir, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    options = RATE_LIST.index(kbps) + 1
    expr = "0.4*sin(2*PI*330*t)+0.2*sin(2*PI*1210*t)" + ("|0.3*sin(2*PI*550*t)" if channels == 2 else "")
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"aevalsrc={expr}:s={rate}:d=1",
                    "-c:a", "pcm_s16le", os.path.join(work, "in.wav")], check=True)
    status, _ = flthost(args, work, ["export", "in.wav", "out.vqf", "--options", str(options)], "export.log")
    if status != 0:
        return [f"{name}: flthost export exited with {status}"]
    out = os.path.join(work, "out.vqf")
    failures = []
    frame_size = FRAME_SIZE.get((rate, kbps), 1024)
    expected_samples = -(-rate // frame_size) * frame_size
    if check_probe:
        stream = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", out],
                                           capture_output=True, text=True).stdout or "{}").get("streams", [{}])[0]
        if (stream.get("codec_name"), stream.get("sample_rate"), stream.get("channels")) != ("twinvq", str(rate), channels):
            failures.append(f"{name}: stream {stream}")
    reference = subprocess.run(["ffmpeg", "-v", "quiet", "-i", out, "-f", "s16le", "-"], capture_output=True).stdout
    if len(reference) != expected_samples * 2 * channels:
        failures.append(f"{name}: ffmpeg decoded {len(reference) // (2 * channels)} samples per channel, "
                        f"expected {expected_samples}")
    status, text = flthost(args, work, ["import", "out.vqf", "back.wav"], "import.log")
    if status != 0:
        return failures + [f"{name}: flthost import exited with {status}: {text.strip()}"]
    ours = wav_data(os.path.join(work, "back.wav"))
    words = f"options {options}, \"{kbps * channels * 1000} bps\""
    if words not in text:
        failures.append(f"{name}: import reported {text.strip()!r}, expected {words!r}")
    if len(ours) != len(reference):
        failures.append(f"{name}: import gave {len(ours)} bytes, ffmpeg {len(reference)}")
    else:
        a = memoryview(ours).cast("h")
        b = memoryview(reference).cast("h")
        worst = max((abs(x - y) for x, y in zip(a, b)), default=0)
        if worst > 1:
            failures.append(f"{name}: import differs from ffmpeg's decode by up to {worst}")
    return failures


def run_flthost(args):
    """flthost export and import with the plug-in: the default mode (44.1 kHz stereo), or
    with --all-modes every mode, mono and stereo."""
    cases = [(r, k, c) for r, k in MODES for c in (1, 2)] if args.all_modes else [(44100, 48, 2)]
    failures = []
    for rate, kbps, channels in cases:
        found = run_flthost_mode(args, rate, kbps, channels, check_probe=(rate, channels) == (44100, 2))
        print(("FAIL " if found else "ok   ") + f"flthost export and import {rate} Hz {kbps} kbps {channels} ch")
        failures += found
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--winerun", required=True)
    ap.add_argument("--tool", help="vqf_export_tool.exe: the peer cases")
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--flthost", help="flthost.exe: export through the host with --plugin instead")
    ap.add_argument("--plugin")
    ap.add_argument("--all-modes", action="store_true", help="with --flthost: every mode, mono and stereo")
    args = ap.parse_args()
    failures = []
    if args.flthost:
        failures += run_flthost(args)
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
