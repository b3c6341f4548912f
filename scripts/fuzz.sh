#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target on its seed corpus.
#   scripts/fuzz.sh [--time SECONDS | --runs COUNT] [--parallel N] [--no-build] [TARGET...]
# TARGET is a name under fuzz/corpus (aud_import, aud_export, vqf_header, vqf_frame,
# vqf_import, tvqenc_encoder, wma_handoff, wma_reader); all of them by default. Default: 60 seconds each, one at a time.
# New inputs go to build/fuzz/corpus/<target> (the seeds in fuzz/corpus stay as they are),
# logs to build/fuzz/logs, crashing inputs to build/fuzz/findings. Exits 1 on any finding.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

limit=(-max_total_time=60)
parallel=1
build=1
targets=()
while (($#)); do
  case "$1" in
    --time) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); shift 2 ;;
    --parallel) parallel=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if ((${#targets[@]} == 0)); then
  for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

if ((build)); then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
fi

out=build/fuzz
mkdir -p "$out/logs" "$out/findings"

run_one() {
  local t=$1 bin="$out/fuzz/fuzz_$1" log="$out/logs/$1.log" extra=()
  mkdir -p "$out/corpus/$t"
  # The WMA reader's seeds are whole ASF files of 3-4 KB: room to grow past them.
  [ "$t" = wma_reader ] && extra=(-max_len=8192)
  # -timeout: one input taking longer than 10 s counts as a hang.
  if "$bin" "${limit[@]}" "${extra[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/findings/$t-" "$out/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    local runs time
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    time=$(sed -n 's/.*Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    echo "fuzz: $t: ${runs:-?} executions in ${time:-?} s, no finding"
  else
    echo "fuzz: $t: FINDING (see $log and $out/findings/$t-*)"
    grep -E "ERROR|SUMMARY|: [A-Z][^:]*: " "$log" | head -5 | sed 's/^/  /'
    return 1
  fi
}

status=0
pids=()
for t in "${targets[@]}"; do
  [ -x "$out/fuzz/fuzz_$t" ] || { echo "fuzz: no target fuzz_$t"; status=1; continue; }
  run_one "$t" &
  pids+=($!)
  if ((${#pids[@]} >= parallel)); then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status
