#!/usr/bin/env bash
# CPU seconds (user + system, all threads) of tovimar-eval's stereo task
# against its flow task on one rendered sequence: 100 frames at 512x384 with
# masks and 16-bit ids, each task scoring predictions equal to the ground
# truth. Runs alternate so the machine's drift weighs on both alike.
#   bench/bench_eval_flow.sh BUILD [RUNS]     BUILD: a build folder with cli/ and eval/
set -euo pipefail
build="$1"
runs="${2:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
scene="$(dirname "$0")/../examples/sceneexample.txt"
grep -v '^ *EGO' "$scene" >"$work/scene.txt"
for ((f = 0; f < 100; ++f)); do echo "EGO; 0.0; 0.0; 0.02; 0.1; 0.5; 0.0" >>"$work/scene.txt"; done
"$build/cli/tovimar-render" -q -c both -r 512x384 --outputs classic,pfm,masks,flow,ids16 -o "$work/out" \
  "$work/scene.txt"
mkdir -p "$work/disp" "$work/flow"
cp "$work"/out/0/ldisp_*.pfm "$work/disp/"
cp "$work"/out/0/lflow_*.flo "$work/flow/"

cpu_seconds() {  # the command's user + system seconds (bash's own timer of the child)
  local TIMEFORMAT='%U %S' t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
  awk '{printf "%.2f", $1 + $2}' <<<"$t"
}
# Both tasks must score every frame before they are timed.
"$build/eval/tovimar-eval" "$work/out/0" "$work/disp" >/dev/null
"$build/eval/tovimar-eval" --task flow "$work/out/0" "$work/flow" >/dev/null
echo "run  stereo-CPU-s  flow-CPU-s  ratio"
for ((r = 1; r <= runs; ++r)); do
  s=$(cpu_seconds "$build/eval/tovimar-eval" "$work/out/0" "$work/disp")
  f=$(cpu_seconds "$build/eval/tovimar-eval" --task flow "$work/out/0" "$work/flow")
  echo "$r    $s         $f        $(awk -v s="$s" -v f="$f" 'BEGIN{printf "%.2f", f / s}')"
done
