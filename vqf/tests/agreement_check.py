#!/usr/bin/env python3
"""The decoder against ffmpeg on a Windows build: runs agreement_dump (through a wine
runner), decodes each mode's VQF file with ffmpeg here, and checks the model's float output
(within 3e-5 of full scale) and the VQF reader's 16-bit output (within 1 LSB, the same count).

    agreement_check.py --winerun scripts/winerun32.sh --program agreement_dump.exe --workdir DIR
"""
import argparse
import array
import glob
import os
import shutil
import subprocess
import sys

FLOAT_TOLERANCE = 3e-5
PCM_TOLERANCE = 1


def ffmpeg_decode(path, fmt, code):
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "quiet", "-i", path, "-f", fmt, "-"],
                         stdout=subprocess.PIPE, check=False).stdout
    samples = array.array(code)
    samples.frombytes(out[:len(out) - len(out) % samples.itemsize])
    return samples


def load(path, code):
    samples = array.array(code)
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    return samples


def largest_difference(ours, theirs):
    return max((abs(a - b) for a, b in zip(ours, theirs)), default=0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--winerun", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--workdir", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.workdir, ignore_errors=True)
    os.makedirs(args.workdir)
    log = os.path.join(args.workdir, "dump.log")
    with open(log, "w") as out:
        run = subprocess.run([args.winerun, args.program, args.workdir], stdout=out,
                             stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, check=False)
    if run.returncode != 0:
        print(open(log).read())
        print(f"FAIL: {args.program} exited {run.returncode}")
        return 1
    files = sorted(glob.glob(os.path.join(args.workdir, "*.vqf")))
    failures = []
    if len(files) != 18:
        failures.append(f"{len(files)} mode files written, not 18")
    for vqf in files:
        base, mode = vqf[:-4], os.path.basename(vqf)[:-4]
        model, theirs = load(base + ".f32", "f"), ffmpeg_decode(vqf, "f32le", "f")
        pcm, theirs_pcm = load(base + ".s16", "h"), ffmpeg_decode(vqf, "s16le", "h")
        if len(model) != len(theirs) or len(pcm) != len(theirs_pcm) or not theirs:
            failures.append(f"{mode}: counts differ: model {len(model)}, reader {len(pcm)}, "
                            f"ffmpeg {len(theirs)}/{len(theirs_pcm)}")
            continue
        float_diff = largest_difference(model, theirs)
        pcm_diff = largest_difference(pcm, theirs_pcm)
        print(f"mode {mode}: {len(model)} samples, largest difference {float_diff:.3g} "
              f"before rounding, {pcm_diff} LSB after")
        if float_diff > FLOAT_TOLERANCE:
            failures.append(f"{mode}: float output {float_diff:.3g} from ffmpeg's")
        if pcm_diff > PCM_TOLERANCE:
            failures.append(f"{mode}: 16-bit output {pcm_diff} LSB from ffmpeg's")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
