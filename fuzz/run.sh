#!/usr/bin/env bash
# Runs every fuzz target for a fixed time each, from its seeds in
# fuzz/corpus/<target>/, and prints executions and coverage per target.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET] [TARGET...]
#   BUILD_DIR: configured with -DLCX_FUZZ=ON and clang (built here if needed).
#   New inputs go to BUILD_DIR/fuzz/work/<target>, never into the repository;
#   a crash leaves its input in BUILD_DIR/fuzz/crashes/ and fails the run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]}
seconds=${2:-120}
shift $(( $# >= 2 ? 2 : $# ))
cmake --build "$build" --target lcx_fuzzers -j "${LCX_JOBS:-2}" >/dev/null || { echo "fuzz: build failed"; exit 1; }

targets=("$@")
if ((${#targets[@]} == 0)); then
  for dir in "$here"/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/fuzz/crashes"
failed=()
printf '%-20s %10s %8s %8s %6s\n' target executions exec/s cov ft
for t in "${targets[@]}"; do
  work="$build/fuzz/work/$t"
  mkdir -p "$work"
  log="$build/fuzz/$t.log"
  # stdout carries the engine's log lines; libFuzzer reports on stderr.
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz/crashes/$t-" \
    "$work" "$here/corpus/$t" >/dev/null 2>"$log"
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  printf '%-20s %10s %8s %8s %6s\n' "$t" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}"
  if ((rc != 0)); then
    failed+=("$t")
    grep -E 'ERROR|SUMMARY|property failed|Test unit written' "$log" | head -5
  fi
done
if ((${#failed[@]})); then
  echo "fuzz: FAILED: ${failed[*]} (logs in $build/fuzz/)"
  exit 1
fi
