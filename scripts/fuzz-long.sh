#!/usr/bin/env bash
# A longer random search than the test stage's: each target fuzzes for
# SECONDS (default 600) from a random seed, keeping its growing corpus in
# build-fuzz/long/<target>/ between runs. Findings are written to
# build-fuzz/findings/. Mend the fault, then copy the finding into the
# target's seed folder (named regression_<what>) so every test run replays it.
#
#   scripts/fuzz-long.sh [SECONDS] [TARGET...]   e.g. scripts/fuzz-long.sh 1800 fuzz_bmp
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-targets.sh
seconds="${1:-600}"
shift || true

fuzz_build
mkdir -p "$FUZZ_BUILD/findings"
status=0
for entry in "${FUZZ_TARGETS[@]}"; do
  read -r target seeds max_len _ <<<"$entry"
  if [ $# -gt 0 ] && [[ " $* " != *" $target "* ]]; then continue; fi
  corpus="$FUZZ_BUILD/long/$target"
  mkdir -p "$corpus"
  if "$FUZZ_BUILD/tests/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" \
       -artifact_prefix="$FUZZ_BUILD/findings/$target-" "$corpus" "$seeds"; then
    echo "fuzz-long: $target survived ${seconds}s"
  else
    echo "fuzz-long: $target found an input, see $FUZZ_BUILD/findings/"
    status=1
  fi
done
exit $status
