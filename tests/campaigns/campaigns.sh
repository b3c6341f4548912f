#!/usr/bin/env bash
# The long fault campaigns under wine64 (the quick parts are CTest tests of the win64
# preset): a full disk at every byte of an AUD, a VQF and a WMA export, 1000 open/close
# cycles of each plug-in with handle and heap counts, silent readers, and the plug-in
# unloaded while the SDK still holds a context.
#   tests/campaigns/campaigns.sh [BUILD_DIR]     default build/win64 (configured, built)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build/win64}
bin=$build/bin/standin-sdk  # the campaigns run beside the stand-in SDK (its switches)
export DISPLAY=${DISPLAY:-:99}
status=0

step() {
  echo "== $*"
  "$@" || { echo "FAILED: $*"; status=1; }
}

disk_full=(python3 "$root/tests/campaigns/disk_full.py" --bin "$bin" --winerun "$root/scripts/winerun.sh")
step "${disk_full[@]}" --plugin aud --every-byte
step "${disk_full[@]}" --plugin vqf --frames 60000 --every-byte
step "${disk_full[@]}" --plugin wma --frames 1000 --every-byte

cd "$bin" || exit 1
long() {
  "$root/scripts/winerun.sh" ./campaign_tests.exe --gtest_filter="$1" 2>&1 |
    grep -E '^\[ +(OK|FAILED|figures|outcome) ' ; return "${PIPESTATUS[0]}"
}
step long '*Long*'
step long 'WmaUnload.*'
step long 'Cycles.LoadAndFreeFigures'
exit $status
