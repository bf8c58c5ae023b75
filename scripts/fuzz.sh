#!/usr/bin/env bash
# The fuzz stage of the tests, the same on every run: each target first
# replays every seed and regression input of its seed folder one by one, then
# fuzzes for a fixed number of runs from a fixed random seed, starting from
# the seeds in an empty working corpus. A finding fails the stage and leaves
# the input as build-fuzz/crash-* (or leak-*, timeout-*).
#
#   scripts/fuzz.sh            each target's runs (scripts/fuzz-targets.sh) from seed FUZZ_SEED (default 1);
#                              FUZZ_RUNS overrides the number of runs of every target
#
# For a longer random search see scripts/fuzz-long.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-targets.sh
seed="${FUZZ_SEED:-1}"
# Leaks inside system libraries are not findings (as in the tests).
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0}"

fuzz_build
for entry in "${FUZZ_TARGETS[@]}"; do
  read -r target seeds max_len target_runs <<<"$entry"
  runs="${FUZZ_RUNS:-$target_runs}"
  binary="$FUZZ_BUILD/tests/fuzz/$target"
  # Replay: every stored input on its own (libFuzzer runs file arguments once).
  "$binary" -artifact_prefix="$FUZZ_BUILD/" "$seeds"/* 2>"$FUZZ_BUILD/$target.replay.log" ||
    { cat "$FUZZ_BUILD/$target.replay.log"; echo "fuzz: $target failed on a stored input"; exit 1; }
  corpus=$(mktemp -d)
  "$binary" -seed="$seed" -runs="$runs" -max_len="$max_len" -artifact_prefix="$FUZZ_BUILD/" \
    -print_final_stats=0 "$corpus" "$seeds" 2>"$FUZZ_BUILD/$target.log" ||
    { tail -n 60 "$FUZZ_BUILD/$target.log"; rm -rf "$corpus"; echo "fuzz: $target found a failing input"; exit 1; }
  rm -rf "$corpus"
  echo "fuzz: $target replayed $(ls "$seeds" | wc -l) stored inputs and survived $runs runs from seed $seed"
done
