#!/usr/bin/env bash
# CPU seconds (user + system, all threads of the process and its children)
# of the work a run of both cameras does, measured side by side in rounds
# that alternate the programs, so that a machine shared with other work
# weighs on each alike:
#   - a batch of tovimar-render over SCENES flying scenes of FRAMES frames,
#     512x384, both cameras, --outputs png,pfm,masks,flow, built from the
#     base commit against the current build;
#   - the same scenes in process (Python: tovimar.Renderer(...).render with
#     outputs mask and flow, the arrays of those files) against the current
#     command line.
#
#   bench/bench_pipeline.sh [BUILD] [BASE_COMMIT] [ROUNDS] [SCENES] [FRAMES]
#
# The base commit is built once (plain RelWithDebInfo, no desktop, no tests)
# from a temporary git worktree into ${TMPDIR:-/tmp}/tovimar-bench-<commit>/build
# and kept there for later calls; the worktree itself is removed again.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
base_commit="${2:-4ac29a7}"
rounds="${3:-3}"
scenes="${4:-20}"
frames="${5:-10}"
outputs="png,pfm,masks,flow"

base_dir="${TMPDIR:-/tmp}/tovimar-bench-$base_commit"
base_render="$base_dir/build/cli/tovimar-render"
if [ ! -x "$base_render" ]; then
  echo "building $base_commit in $base_dir (once)" >&2
  mkdir -p "$base_dir"
  git -C "$root" worktree add --detach "$base_dir/src" "$base_commit" >&2
  cmake -S "$base_dir/src" -B "$base_dir/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVIMAR_BUILD_GUI=OFF -DTOVIMAR_BUILD_TESTS=OFF -DTOVIMAR_BUILD_BENCH=OFF -DTOVIMAR_BUILD_PYTHON=OFF >&2
  ninja -C "$base_dir/build" -j2 tovimar-render >&2
  git -C "$root" worktree remove --force "$base_dir/src" >&2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/scenegen/tovimar-scenegen" --preset flying --seed 1 --count "$scenes" --frames "$frames" --out "$work/scenes"
textures="$root/assets"

# "user system" CPU seconds of one command (its children included).
cpu() {
  /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null
  awk '{ printf "%.2f", $1 + $2 }' "$work/time"
}
batch() {  # RENDER
  rm -rf "$work/out"
  cpu "$1" --quiet --textures "$textures" -o "$work/out" -r 512x384 -c both --outputs "$outputs" "$work/scenes"
}
in_process() {
  cpu env PYTHONPATH="$build/python" "${PYTHON:-/usr/bin/python3}" -c '
import sys, glob, tovimar
renderer = tovimar.Renderer(width=512, height=384, textures=sys.argv[1])
frames = 0
for scene in sorted(glob.glob(sys.argv[2] + "/*.txt")):
    for frame in renderer.render(path=scene, camera="both", outputs=("mask", "flow")):
        frames += 1
assert frames == int(sys.argv[3]), frames
' "$textures" "$work/scenes" "$((scenes * frames))"
}

base_runs=() current_runs=() python_runs=()
for ((r = 1; r <= rounds; ++r)); do
  b=$(batch "$base_render")
  c=$(batch "$build/cli/tovimar-render")
  p=$(in_process)
  echo "round $r: base $b s, current $c s, in process $p s" >&2
  base_runs+=("$b") current_runs+=("$c") python_runs+=("$p")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
b=$(median "${base_runs[@]}")
c=$(median "${current_runs[@]}")
p=$(median "${python_runs[@]}")
nproc_text="$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "$scenes flying scenes x $frames frames, 512x384, both cameras, $outputs; CPU seconds (user + system), median of $rounds rounds; $nproc_text"
awk -v b="$b" -v c="$c" -v p="$p" -v base="$base_commit" 'BEGIN {
  printf "  batch, %-8s %8.2f\n", base, b
  printf "  batch, current  %8.2f  (%.2f of %s)\n", c, c / b, base
  printf "  in process      %8.2f  (%.2f of the current command line)\n", p, p / c
}'
