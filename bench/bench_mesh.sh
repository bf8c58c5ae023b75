#!/usr/bin/env bash
# The cost of a model's triangles: a sphere of about 100,000 triangles as an
# OBJ model (MESH) against the same scene without it and against 49 SPHEREs
# (32 slices and stacks each: about 97,000 triangles of Tovimar's own solids),
# 20 frames at 512x384, both cameras, the classic files; and the time to load
# the model (a scene of one frame with it, against one without it). CPU
# seconds (user + system, all threads) and wall seconds, runs alternating.
#   bench/bench_mesh.sh RENDER [RUNS]
set -euo pipefail
render="$1"
runs="${2:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A UV sphere of 224 x 224 quads: 2 * 224 * 223 = 99,904 triangles.
python3 - "$work/sphere.obj" <<'PY'
import math, sys
n = 224
lines = []
for i in range(n + 1):
    t = math.pi * i / n
    for j in range(n):
        p = 2 * math.pi * j / n
        lines.append("v %.6f %.6f %.6f\n" % (math.sin(t) * math.cos(p), math.sin(t) * math.sin(p), math.cos(t)))
def at(i, j):
    return i * n + (j % n) + 1
for i in range(n):
    for j in range(n):
        a, b, c, d = at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j)
        if i > 0:
            lines.append("f %d %d %d\n" % (a, b, c))
        if i < n - 1:
            lines.append("f %d %d %d\n" % (a, c, d))
open(sys.argv[1], "w").write("".join(lines))
PY
frames=20
ego() { for ((f = 0; f < $1; ++f)); do echo "EGO; 0.0; 0.0; 0.02; 0.1; 0.5; 0.0"; done; }
backdrop="QUAD;5;3;1;1;1;-6;6;-4;6;6;-4;6;6;4;-6;6;4"
{ echo "$backdrop"; echo "MESH;7;5;1;1;1;0;3;0;0;0;0;0.8;sphere.obj"; ego $frames; } >"$work/mesh.txt"
{ echo "$backdrop"; ego $frames; } >"$work/plain.txt"
{
  echo "$backdrop"
  for ((i = 0; i < 49; ++i)); do echo "SPHERE;7;5;1;1;1;$(( i % 7 - 3 )).0;3;$(( i / 7 - 3 )).0;0;0;0;0.12"; done
  ego $frames
} >"$work/spheres.txt"
{ echo "$backdrop"; echo "MESH;7;5;1;1;1;0;3;0;0;0;0;0.8;sphere.obj"; ego 1; } >"$work/mesh1.txt"
{ echo "$backdrop"; ego 1; } >"$work/plain1.txt"

seconds() {  # wall and CPU seconds of one run
  local TIMEFORMAT='%R %U %S' t
  rm -rf "$work/out"
  t=$( { time "$render" -q -c both -r 512x384 -o "$work/out" "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
  awk '{printf "%.2f %.2f", $1, $2 + $3}' <<<"$t"
}
"$render" -q -c both -r 512x384 -o "$work/check" "$work/mesh.txt"
test -f "$work/check/0/right_0019.bmp"  # every frame is made
echo "run  (wall CPU) plain  mesh  spheres (20 frames)   load: (CPU) plain1 mesh1"
for ((r = 1; r <= runs; ++r)); do
  echo "$r    $(seconds "$work/plain.txt")  $(seconds "$work/mesh.txt")  $(seconds "$work/spheres.txt")" \
       "   $(seconds "$work/plain1.txt" | cut -d' ' -f2) $(seconds "$work/mesh1.txt" | cut -d' ' -f2)"
done
