#!/usr/bin/env bash
# Throughput of batch rendering: one process against two shards running side
# by side, over the same small generated scenes, with llvmpipe's default
# thread count and with LP_NUM_THREADS=1. Also one process per scene, the cost
# a batch saves. Prints frames per second, CPU time per frame and the ratios;
# checks that every configuration wrote the same files. Wall-clock ratios need
# an otherwise idle machine; CPU time per frame does not.
#
#   bench/bench_shards.sh BUILD-DIR [SCENES=12] [FRAMES=6] [RESOLUTION=320x240] [REPEAT=2]
#
# Use a Release build (cmake -DCMAKE_BUILD_TYPE=Release); other load on the
# machine shows in the figures.
set -euo pipefail
build="$1"
scenes="${2:-12}"
frames="${3:-6}"
resolution="${4:-320x240}"
repeat="${5:-2}"
render="$build/cli/tovimar-render"
scenegen="$build/scenegen/tovimar-scenegen"
work="$(mktemp -d /tmp/tovimar-bench-shards-XXXXXX)"
trap 'rm -rf "$work"' EXIT
unset SLURM_ARRAY_TASK_ID SLURM_ARRAY_TASK_COUNT

# Scenes of one preset with a fixed number of solids cost about the same (the
# segmentation draws once per solid), so the shards (k mod 2) carry similar work.
half=$((scenes / 2))
"$scenegen" --quiet --preset flying --seed 1 --count "$half" --frames "$frames" --floor-chance 0 --objects 10,10 --out "$work/a"
"$scenegen" --quiet --preset room --seed 2 --count $((scenes - half)) --frames "$frames" --objects 6,6 --out "$work/b"
mkdir -p "$work/scenes"
for f in "$work"/a/*.txt; do cp "$f" "$work/scenes/a_$(basename "$f")"; done
for f in "$work"/b/*.txt; do cp "$f" "$work/scenes/b_$(basename "$f")"; done
total_frames=$((scenes * frames * 2))  # both cameras

calc() { awk "BEGIN { print ($1) }"; }  # awk: present on every Debian system, unlike bc
best=()
declare -A fps

# $1 name, $2 LP_NUM_THREADS ("" = llvmpipe's default), $3 mode: one | two | each
measure() {
  local name="$1" threads="$2" mode="$3" fastest="" cpu=""
  for _ in $(seq "$repeat"); do
    local out="$work/out-$name"
    rm -rf "$out"
    local timing
    # Wall time and the CPU time (user + system) of every process of the run.
    timing="$( { TIMEFORMAT='%R %U %S'; time (
      if [ -n "$threads" ]; then export LP_NUM_THREADS="$threads"; fi
      case "$mode" in
        one) "$render" --quiet -r "$resolution" -o "$out" "$work/scenes" ;;
        two)
          "$render" --quiet -r "$resolution" -o "$out" --shard 0/2 "$work/scenes" &
          "$render" --quiet -r "$resolution" -o "$out" --shard 1/2 "$work/scenes" &
          wait -n && wait -n ;;
        each)
          k=0
          for scene in "$work"/scenes/*.txt; do
            "$render" --quiet -r "$resolution" -o "$out" -s "$k" "$scene"
            k=$((k + 1))
          done ;;
      esac
    ) >/dev/null; } 2>&1 )"
    local seconds cpu_seconds
    seconds="$(echo "$timing" | awk '{ print $1 }')"
    cpu_seconds="$(echo "$timing" | awk '{ print $2 + $3 }')"
    if [ -z "$fastest" ] || [ "$(calc "$seconds < $fastest")" -eq 1 ]; then
      fastest="$seconds"
      cpu="$cpu_seconds"
    fi
  done
  fps[$name]="$(calc "$total_frames / $fastest")"
  printf '%-36s %8.2f s %8.2f frames/s %8.1f ms CPU per frame\n' "$name" "$fastest" "${fps[$name]}" \
    "$(calc "$cpu * 1000 / $total_frames")"
}

echo "bench_shards: $scenes scenes x $frames frames x 2 cameras = $total_frames frames at $resolution, best of $repeat, $(nproc) CPUs, load average $(cut -d" " -f1-3 /proc/loadavg)"
measure "1 process, llvmpipe default threads" "" one
measure "1 process, LP_NUM_THREADS=1" 1 one
measure "2 shards, llvmpipe default threads" "" two
measure "2 shards, LP_NUM_THREADS=1" 1 two
measure "1 process per scene (no batch)" "" each

one_best="${fps[1 process, llvmpipe default threads]}"
if [ "$(calc "${fps[1 process, LP_NUM_THREADS=1]} > $one_best")" -eq 1 ]; then
  one_best="${fps[1 process, LP_NUM_THREADS=1]}"
fi
printf '2 shards (default threads) / best 1 process: %.2fx\n' "$(calc "${fps[2 shards, llvmpipe default threads]} / $one_best")"
printf '2 shards (LP_NUM_THREADS=1) / best 1 process: %.2fx\n' "$(calc "${fps[2 shards, LP_NUM_THREADS=1]} / $one_best")"
printf 'batch / 1 process per scene: %.2fx\n' "$(calc "${fps[1 process, llvmpipe default threads]} / ${fps[1 process per scene (no batch)]}")"

reference="$work/out-1 process, llvmpipe default threads"
for name in "1 process, LP_NUM_THREADS=1" "2 shards, llvmpipe default threads" "2 shards, LP_NUM_THREADS=1" \
            "1 process per scene (no batch)"; do
  if ! diff -r -q -x 'batch*.json' -x meta.json "$reference" "$work/out-$name" >/dev/null; then
    echo "bench_shards: the files of '$name' differ from one process's" >&2
    exit 1
  fi
done
echo "every configuration wrote the same files"
