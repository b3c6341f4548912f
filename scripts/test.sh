#!/usr/bin/env bash
# Sets up the machine, builds all three presets and runs every test.
#   scripts/test.sh            everything
#   scripts/test.sh win64      one preset (native, win64 or win32)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native win64 win32)

for p in "${presets[@]}"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
done

eval "$(bash scripts/wine-session.sh start)"
trap 'bash scripts/wine-session.sh stop' EXIT

status=0
for p in "${presets[@]}"; do
  echo "== tests: $p"
  ctest --preset "$p" -j2 || status=1
done

# Every fuzz target briefly on its seed corpus, so that a regression in a reader shows;
# only in the full run. VELL_FUZZ_SECONDS sets the time per target.
if [ $# -eq 0 ]; then
  echo "== fuzz"
  bash scripts/fuzz.sh --time "${VELL_FUZZ_SECONDS:-60}" || status=1
fi
exit $status
