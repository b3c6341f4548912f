#!/usr/bin/env python3
"""A full disk at every write position of an AUD, VQF or WMA export, under wine64.

Starts campaign_disk_full.exe under `prlimit` with SIGXFSZ ignored and, before each of its
exports, lowers that process's file-size limit to the next position (`prlimit --pid`).
Positions: every byte from 0 to the reference size (--every-byte), or the write boundaries
and a spread of bytes between them. Fails on a crash, a hang or a file reported complete
that is not.

  disk_full.py --bin BUILD/bin --winerun scripts/winerun.sh --plugin aud [--frames N]
               [--block BYTES] [--every-byte | --positions N]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time


def wait_for(path, proc, seconds=120):
    end = time.time() + seconds
    while not os.path.exists(path):
        if proc.poll() is not None:
            raise RuntimeError("the driver ended early (exit %s)" % proc.returncode)
        if time.time() > end:
            raise RuntimeError("timed out waiting for %s (a hang?)" % os.path.basename(path))
        time.sleep(0.001)


def positions(size, block, every_byte, count):
    if every_byte:
        return list(range(size + 1))
    picks = {0, 1, 11, 12, 13, 43, 44, 48, 49, size - 1, size}
    for edge in range(0, size + 1, 512):  # both plug-ins' pieces are multiples of 512
        picks.update({edge - 1, edge, edge + 1})
    step = max(1, size // max(1, count))
    picks.update(range(0, size, step))
    return sorted(p for p in picks if 0 <= p <= size)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--winerun", required=True)
    ap.add_argument("--plugin", choices=["aud", "vqf", "wma"], required=True)
    ap.add_argument("--frames", type=int, default=6000)
    ap.add_argument("--block", type=int, default=4096)
    ap.add_argument("--every-byte", action="store_true")
    ap.add_argument("--positions", type=int, default=40)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="vell-diskfull-")
    driver = os.path.join(args.bin, "campaign_disk_full.exe")
    winedir = "Z:" + work.replace("/", "\\")
    # SIGXFSZ ignored survives the execs; the process keeps this pid down to the program.
    cmd = ["sh", "-c", "trap '' XFSZ; exec prlimit --fsize=unlimited \"$@\"", "sh",
           args.winerun, driver, args.plugin, winedir, str(args.frames), str(args.block)]
    with open(os.path.join(work, "driver.log"), "w") as log:
        proc = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT)
    failures = []
    try:
        wait_for(os.path.join(work, "ready"), proc)
        size = int(open(os.path.join(work, "ref_size")).read())
        limits = positions(size, args.block, args.every_byte, args.positions)
        started = time.time()
        for i, limit in enumerate(limits):
            wait_for(os.path.join(work, "want.%d" % i), proc)
            subprocess.run(["prlimit", "--pid", str(proc.pid), "--fsize=%d:unlimited" % limit], check=True)
            open(os.path.join(work, "go.%d" % i), "w").close()
            wait_for(os.path.join(work, "done.%d" % i), proc, 60)
            subprocess.run(["prlimit", "--pid", str(proc.pid), "--fsize=unlimited:unlimited"], check=True)
            open(os.path.join(work, "free.%d" % i), "w").close()
        wait_for(os.path.join(work, "want.%d" % len(limits)), proc)
        open(os.path.join(work, "stop"), "w").close()
        proc.wait(60)
        lines = open(os.path.join(work, "results.txt")).read().splitlines()
        counts = {}
        for limit, line in zip(limits, lines):
            verdict = line.split()[-1]
            counts[verdict] = counts.get(verdict, 0) + 1
            if verdict not in ("complete", "reported", "removed"):
                failures.append("limit %d: %s" % (limit, line))
        if len(lines) != len(limits):
            failures.append("%d results for %d limits" % (len(lines), len(limits)))
        if proc.returncode != 0:
            failures.append("driver exit status %d" % proc.returncode)
        print("disk full, %s: reference %d bytes, %d limits in %.0f s: %s" % (
            args.plugin, size, len(limits), time.time() - started,
            ", ".join("%s %d" % kv for kv in sorted(counts.items()))))
    except Exception as e:  # a crash or a hang of the driver
        failures.append(str(e))
        print(open(os.path.join(work, "driver.log")).read()[-2000:])
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    for f in failures[:20]:
        print("FAIL:", f)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("work directory kept:", work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
