#!/usr/bin/env bash
# WMA import speed: one hour of 44100 Hz stereo 16-bit PCM in the stand-in SDK's container,
# imported through vell_wma.flt by flthost, once with 4 KB and once with 64 KB blocks from
# the SDK's delivery thread. The time is the time inside the plug-in's calls, from open to
# close (flthost --time), so it measures the block hand-off between the SDK's thread and
# the host's reads. Prints figures only; MB are 10^6 bytes.
#
#   bash bench/wma_bench.sh
#
#   VELL_WIN64_BUILD=DIR   configured win64 build to use (default build/win64)
#   VELL_BENCH_SECONDS=N   length of the stream (default 3600)
#
# Uses the running wine session (DISPLAY=:99 and its wineserver).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
win64=${VELL_WIN64_BUILD:-build/win64}
seconds=${VELL_BENCH_SECONDS:-3600}
export DISPLAY=${DISPLAY:-:99}

[ -f "$win64/CMakeCache.txt" ] || cmake --preset win64 -B "$win64" >/dev/null
cmake --build "$win64" -j2 --target standin_sdk_host >/dev/null

work=$(mktemp -d /tmp/vell-wma-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The container: a 48-byte header (magic, header size, compressed bit rate, rate and
# channels, the PCM's WAVEFORMATEX, byte count, duration in ms), then the PCM itself.
python3 - "$work/hour.wma" "$seconds" <<'PY'
import struct, sys
path, seconds = sys.argv[1], int(sys.argv[2])
rate, channels, bits = 44100, 2, 16
align = channels * bits // 8
pcm_bytes = seconds * rate * align
header = (b"VWMA" + struct.pack("<IIII", 48, 96000, rate, channels)
          + struct.pack("<HHIIHHH", 1, channels, rate, rate * align, align, bits, 0)
          + b"\0\0" + struct.pack("<II", pcm_bytes, pcm_bytes * 1000 // (rate * align)))
assert len(header) == 48
chunk = bytes((i * 7 + (i >> 9)) & 0xFF for i in range(1 << 20))
with open(path, "wb") as f:
    f.write(header)
    left = pcm_bytes
    while left:
        n = min(left, len(chunk))
        f.write(chunk[:n])
        left -= n
PY
cat "$work/hour.wma" >/dev/null  # into the page cache before anything is timed
bytes=$(( $(stat -c %s "$work/hour.wma") - 48 ))

field() { sed -n "s/^$1: *\([0-9.]*\).*/\1/p" "$2"; }

echo "WMA import benchmark: $seconds s of 44100 Hz stereo, $bytes bytes of PCM (load average: $(cut -d' ' -f1-3 /proc/loadavg))"
for block in 4096 65536; do
  # Output to files: wine's helper processes may hold a pipe open.
  set +e
  VELL_WMA_BLOCK=$block "$root/scripts/winerun.sh" "$root/$win64/bin/standin-sdk/flthost.exe" import \
    "$root/$win64/bin/standin-sdk/vell_wma.flt" "$work/hour.wma" "$work/back.wav" --time --quiet \
    >"$work/out" 2>"$work/err"
  status=$?
  set -e
  # Exit 9 is flthost's short-read warning: the plug-in announces duration + 1 ms by design.
  if [ $status -ne 0 ] && [ $status -ne 9 ]; then
    echo "flthost import failed ($status):"; cat "$work/out" "$work/err"; exit 1
  fi
  read_bytes=$(sed -n 's/^read: *\([0-9]*\) bytes.*/\1/p' "$work/out")
  secs=$(field plugin-seconds "$work/out")
  awk -v b="$read_bytes" -v s="$secs" -v k="$block" -v want="$bytes" 'BEGIN {
    blocks = int((b + k - 1) / k)
    printf "  SDK blocks of %6d bytes: %d bytes in %.3f s inside the plug-in: %8.1f MB/s, %9.0f blocks/s%s\n",
           k, b, s, b / s / 1e6, blocks / s, (b == want ? "" : "  (INCOMPLETE)")
  }'
  rm -f "$work/back.wav"
done
