#!/usr/bin/env bash
# Time per frame of two tovimar-render builds on the same work, side by side:
# the example scene's objects with 60 frames of camera motion, one camera,
# at 512x384 and 1024x768. Runs alternate (A B A B ...) so both see the same
# machine load; the start-up (a one-frame run) is taken off; the best run of
# each is reported, with the ratio and each one's peak memory.
#   bench/bench_against.sh RENDER_A RENDER_B [RUNS] [SCENE]   (needs GNU time, package "time")
set -euo pipefail
a="$1"
b="$2"
runs="${3:-3}"
scene="${4:-$(dirname "$0")/../examples/sceneexample.txt}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
frames=60
grep -v '^ *EGO' "$scene" >"$work/one.txt"
cp "$work/one.txt" "$work/many.txt"
echo "EGO; 0.0; 0.0; 0.02; 0.1; 0.5; 0.0" >>"$work/one.txt"
for ((f = 0; f < frames; ++f)); do echo "EGO; 0.0; 0.0; 0.02; 0.1; 0.5; 0.0" >>"$work/many.txt"; done

# Best wall time in ms (and the peak memory in KiB of that run) of one command.
best_of() {  # args: render, size, scene
  local best="" peak=""
  for ((r = 0; r < runs; ++r)); do
    rm -rf "$work/out"
    local t0 t1 kib
    t0=$(date +%s%N)
    kib=$( { /usr/bin/time -f '%M' "$1" -q -c left -r "$2" -o "$work/out" "$3" >/dev/null; } 2>&1 | tail -1)
    t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; peak=$kib; fi
  done
  echo "$best $peak"
}

echo "A = $a"
echo "B = $b"
for size in 512x384 1024x768; do
  read -r a_one _ < <(best_of "$a" "$size" "$work/one.txt")
  read -r b_one _ < <(best_of "$b" "$size" "$work/one.txt")
  # Alternate the long runs so that both see the same load.
  a_best="" b_best="" a_peak="" b_peak=""
  for ((r = 0; r < runs; ++r)); do
    read -r ms kib < <(runs=1 best_of "$a" "$size" "$work/many.txt")
    if [ -z "$a_best" ] || [ "$ms" -lt "$a_best" ]; then a_best=$ms; a_peak=$kib; fi
    read -r ms kib < <(runs=1 best_of "$b" "$size" "$work/many.txt")
    if [ -z "$b_best" ] || [ "$ms" -lt "$b_best" ]; then b_best=$ms; b_peak=$kib; fi
  done
  awk -v s="$size" -v f="$frames" -v a1="$a_one" -v b1="$b_one" -v a="$a_best" -v b="$b_best" \
      -v ap="$a_peak" -v bp="$b_peak" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
    am = (a - a1) / (f - 1); bm = (b - b1) / (f - 1)
    printf "%s, %d frames, best of the runs, start-up taken off (load average %s):\n", s, f, load
    printf "  A %8.1f ms per frame, peak %6.1f MB\n", am, ap / 1024
    printf "  B %8.1f ms per frame, peak %6.1f MB\n", bm, bp / 1024
    printf "  A / B %.2fx\n", am / bm
  }'
done
