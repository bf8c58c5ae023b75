#!/usr/bin/env bash
# Time per frame of tovimar-render with different --outputs sets on one
# scene (default: the example scene), several runs each, best run reported.
#   bench/bench_outputs.sh RENDER [SCENE] [RUNS]
set -euo pipefail
render="$1"
scene="${2:-$(dirname "$0")/../examples/sceneexample.txt}"
runs="${3:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Twenty frames of the scene's objects, so the start-up weighs little.
grep -v '^ *EGO' "$scene" >"$work/scene.txt"
for ((f = 0; f < 20; ++f)); do echo "EGO; 0.0; 0.0; 0.02; 0.1; 0.5; 0.0" >>"$work/scene.txt"; done
scene_name="$(basename "$scene")"
scene="$work/scene.txt"
frames=20

best_ms() {  # args: label, tovimar-render options
  local label="$1"; shift
  local best=""
  for ((r = 0; r < runs; ++r)); do
    rm -rf "$work/out"
    local t0 t1
    t0=$(date +%s%N)
    "$render" -q -o "$work/out" "$@" "$scene"
    t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

for size in 512x384 1024x768; do
  echo "scene $scene_name, $frames frames, $size, best of $runs runs (ms per frame, one camera unless said):"
  classic=$(best_ms classic -c left -r "$size")
  flow=$(best_ms flow -c left -r "$size" --outputs classic,flow)
  both_classic=$(best_ms both -c both -r "$size")
  both_dataset=$(best_ms dataset -c both -r "$size" --outputs pfm,kitti,masks,png)
  awk -v f="$frames" -v c="$classic" -v fl="$flow" -v bc="$both_classic" -v bd="$both_dataset" 'BEGIN {
    printf "  classic                          %8.1f\n", c / f
    printf "  classic,flow                     %8.1f  (+%.0f%%)\n", fl / f, 100 * (fl - c) / c
    printf "  both cameras, classic            %8.1f\n", bc / (2 * f)
    printf "  both cameras, pfm,kitti,masks,png %7.1f\n", bd / (2 * f)
  }'
done
