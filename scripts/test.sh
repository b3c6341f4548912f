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
passed=0
failed=0
notrun=0
unran=()
logs=$(mktemp -d)
for p in "${presets[@]}"; do
  echo "== tests: $p"
  # Into a file rather than a pipe: wine's helper processes may hold a pipe open.
  ctest --preset "$p" -j2 >"$logs/$p.log" 2>&1 || status=1
  cat "$logs/$p.log"
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$logs/$p.log" | tail -n 1 || true)
  if [ -n "$summary" ]; then
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
    t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
    # Skipped tests (the win32 ones where 32-bit programs cannot run) are not passes, and a
    # run in which the shipped 32-bit build did not run is not green.
    s=$(grep -c '(Skipped)$' "$logs/$p.log" || true)
    passed=$((passed + t - f - s))
    failed=$((failed + f))
    notrun=$((notrun + s))
    if [ "$s" -gt 0 ]; then
      status=1
      reason=$(grep -m1 -oE 'not run: .*' "$logs/$p.log" || echo "see the log above")
      echo "test: FAILED: $s $p test(s) did not run: ${reason#not run: }" >&2
      unran+=("$p")
    fi
  else
    status=1
  fi
done
rm -rf "$logs"

# Every fuzz target briefly on its seed corpus, so that a regression in a reader shows;
# only in the full run. VELL_FUZZ_SECONDS sets the time per target.
if [ $# -eq 0 ]; then
  echo "== fuzz"
  bash scripts/fuzz.sh --time "${VELL_FUZZ_SECONDS:-60}" || status=1
fi
echo "ctest: $passed passed, $failed failed, $notrun not run"
if ((${#unran[@]})); then
  echo "test: the run is failed: tests of ${unran[*]} did not run (scripts/setup-win32.sh says why)" >&2
fi
exit $status
