#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Builds the libFuzzer targets (tests/fuzz) in build/fuzz and runs each on its
# corpus (tests/fuzz/corpus/NAME) with its dictionary (tests/fuzz/NAME.dict),
# several at a time (ZELK_FUZZ_JOBS, default the number of cores).
#
#   scripts/fuzz.sh [SECONDS]          fuzz every target SECONDS (default 300)
#                                      and merge the inputs that reach new
#                                      edges into its corpus
#   scripts/fuzz.sh --check [SECONDS]  the CI stage: every target SECONDS
#                                      (default 30) on a copy of its corpus,
#                                      a verdict line each, fails on any finding
#   scripts/fuzz.sh --seeds            writes the seed corpora anew (fuzz_seeds)
#
# ZELK_FUZZ_TARGETS="reply_stream host_stream" runs only those. A finding
# leaves its input in build/fuzz/findings/NAME-crash-... (or -leak-, -oom-,
# -timeout-); replay it with build/fuzz/tests/fuzz/fuzz_NAME FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=merge
seconds=300
case "${1:-}" in
  --check) mode=check; seconds=30; shift ;;
  --seeds) mode=seeds; shift ;;
esac
[ $# -eq 0 ] || seconds=$1
[[ $seconds =~ ^[0-9]+$ ]] || { echo "fuzz.sh: SECONDS must be a whole number, not '$seconds'" >&2; exit 2; }

build=build/fuzz
# The settings of the CMake preset "fuzz".
CC=clang CXX=clang++ cmake -S . -B "$build" -DZELK_FUZZ=ON -DZELK_BUILD_UI=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets fuzz_seeds

if [ "$mode" = seeds ]; then
  "$build/tests/fuzz/fuzz_seeds" tests/fuzz/corpus
  echo "fuzz: seeds written to tests/fuzz/corpus"
  exit 0
fi

targets=()
for bin in "$build"/tests/fuzz/fuzz_*; do
  name=${bin##*/fuzz_}
  [ "$name" != seeds ] && [ -x "$bin" ] || continue
  if [ -n "${ZELK_FUZZ_TARGETS:-}" ] && [[ " $ZELK_FUZZ_TARGETS " != *" $name "* ]]; then continue; fi
  targets+=("$name")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz targets built" >&2; exit 2; }

findings=$build/findings
logs=$build/logs
mkdir -p "$findings" "$logs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ASan with leak checks; UBSan stops at the first report (the build does not
# recover from one anyway).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}

run_target() {  # name: fuzzes it, leaves its exit status in $work/NAME.status
  local name=$1 corpus=tests/fuzz/corpus/$1 dict=()
  [ -f "tests/fuzz/$name.dict" ] && dict=(-dict="tests/fuzz/$name.dict")
  mkdir -p "$work/$name" "$corpus"
  rm -f "$findings/$name"-*  # an earlier run's
  local status=0
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "${dict[@]}" -artifact_prefix="$findings/$name-" \
    "$work/$name" "$corpus" >"$logs/$name.log" 2>&1 || status=$?
  if [ "$mode" = merge ] && [ "$status" -eq 0 ]; then
    # Only the inputs that reach code edges the corpus does not (hit counts
    # aside, -use_counters=0): a few a run, so the corpus stays small.
    "$build/tests/fuzz/fuzz_$name" -merge=1 -use_counters=0 "${dict[@]}" "$corpus" "$work/$name" \
      >>"$logs/$name.log" 2>&1 || status=$?
  fi
  echo "$status" >"$work/$name.status"
}

verdict() {  # name: one line, and the finding's report when there is one
  local name=$1 log=$logs/$1.log status runs cov
  status=$(cat "$work/$name.status")
  runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$log" | tail -1)
  cov=$(grep -E '^#[0-9]+' "$log" | grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*' | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "fuzz: $name: passed (${runs:-no runs}; ${cov:-no coverage figures}; corpus $(ls "tests/fuzz/corpus/$name" | wc -l) files)"
    return 0
  fi
  echo "fuzz: $name: FAILED (exit $status; ${runs:-stopped early}; log $log)"
  ls "$findings/$name"-* 2>/dev/null | sed 's/^/  input: /' || true
  grep -E 'oracle broken|ERROR: |SUMMARY: |^    #[0-9] ' "$log" | head -20 | sed 's/^/  /' || true
  grep -A1 'oracle broken' "$log" | sed -n 2p | sed 's/^/  /' || true
  return 1
}

start=$SECONDS
echo "fuzz: ${targets[*]}, $seconds s each, $(nproc) at a time"
for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "${ZELK_FUZZ_JOBS:-$(nproc)}" ]; do wait -n || true; done
  run_target "$name" &
done
wait

passed=0 failed=0
for name in "${targets[@]}"; do
  if verdict "$name"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz: $passed passed, $failed failed ($((SECONDS - start)) s of fuzzing)"
[ "$failed" -eq 0 ]
