#!/usr/bin/env bash
# Golden outputs: renders a fixed set of scenes and settings with
# tovimar-render and compares the SHA-256 of every file written (of meta.json,
# what is left when its wall times, version and checkout paths are taken out)
# with the values stored in expected.sha256. Any changed, missing or extra
# file fails the test with its name.
#
#   golden_runs.sh RENDER WORKDIR            check
#   golden_runs.sh RENDER WORKDIR --update   rewrite expected.sha256 (commit it
#                                            only with a message that says why
#                                            the bytes changed)
set -euo pipefail
render="$1"
work="$2"
mode="${3:-check}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
scenes="$here/scenes"
expected="$here/expected.sha256"

rm -rf "$work"
mkdir -p "$work"
cd "$work"

run() {
  local name="$1"; shift
  "$render" --quiet --textures "$root/assets" --out "$name" --seq 0 "$@"
}

# The example scene, both cameras, default settings.
run example "$root/examples/sceneexample.txt"
# Planes (shared random state), noise, fog, another baseline.
run planes_noise "$scenes/planes_noise.txt"
# Two ids at exactly the same depth, at an odd size.
run same_depth_odd_size --resolution 333x201 "$scenes/same_depth.txt"
# Ids outside 0..255 with the palette and the antialiasing filter.
run odd_ids_palette_aa --palette --antialias "$scenes/odd_ids.txt"
# The same in grey, right camera only, other background, focal and baseline.
run odd_ids_right --camera right --background 10,20,30 --focal 420,5 --baseline 0,2 "$scenes/odd_ids.txt"
# A scene file that starts with a byte order mark, with objects of id -1.
run bom_id_minus_one --camera both "$scenes/bom_id_minus_one.txt"
# A large frame with noise.
run large --camera left --resolution 1024x768 "$scenes/large.txt"
# Solids moving on their own, camera motion and noise, small: every product
# in each layout that has a place for it, both cameras.
moving="$scenes/moving_noise_ego.txt"
run moving_classic --resolution 96x64 --outputs classic,pfm,depth,kitti,png,masks,flow,ids16 "$moving"
run moving_middlebury --resolution 96x64 --layout middlebury --outputs png,pfm,masks,flow,ids16 "$moving"
run moving_kitti --resolution 96x64 --layout kitti --outputs png,kitti,masks,flow,ids16 "$moving"
run moving_sceneflow --resolution 96x64 --layout sceneflow --outputs png,pfm,flow,ids16 "$moving"

actual="$work/actual.sha256"
# meta.json records wall times, the program version and the paths of this
# checkout, so its own bytes are left out; what is left of it when those are
# taken away (normalise_meta) is hashed under the name "meta.json:normalised".
normalise_meta() {
  python3 -c '
import json, sys
root = sys.argv[2]
with open(sys.argv[1], encoding="utf-8") as f:
    doc = json.load(f)
# The version of the program that wrote it and the wall time of every frame.
doc.pop("version")
for run in doc["runs"].values():
    for frame in run["frames"]:
        frame.pop("seconds")
# The command line and the texture folder name files of this checkout.
def unrooted(value):
    if isinstance(value, dict):
        return {k: unrooted(v) for k, v in value.items()}
    if isinstance(value, list):
        return [unrooted(v) for v in value]
    return value.replace(root, "<root>") if isinstance(value, str) else value
sys.stdout.write(json.dumps(unrooted(doc), sort_keys=True, indent=1, ensure_ascii=True) + "\n")
' "$1" "$root"
}
find . -type f ! -name actual.sha256 -printf '%P\n' | LC_ALL=C sort | while read -r f; do
  if [ "$(basename "$f")" = meta.json ]; then
    sum="$(normalise_meta "$f" | sha256sum)"
    echo "${sum%% *}  $f:normalised"
  else
    sha256sum "$f"
  fi
done >"$actual"

if [ "$mode" = "--update" ]; then
  cp "$actual" "$expected"
  echo "golden: wrote $(wc -l <"$expected") values to $expected"
  exit 0
fi

if diff -q "$expected" "$actual" >/dev/null; then
  echo "golden: all $(wc -l <"$expected") files match"
  exit 0
fi

# Name every file that differs, is missing or is new.
LC_ALL=C join -j2 -a1 -a2 -e MISSING -o 0,1.1,2.1 \
  <(awk '{print $1, $2}' "$expected" | LC_ALL=C sort -k2) \
  <(awk '{print $1, $2}' "$actual" | LC_ALL=C sort -k2) |
  while read -r file want got; do
    if [ "$want" = MISSING ]; then echo "golden: new file $file"
    elif [ "$got" = MISSING ]; then echo "golden: missing file $file"
    elif [ "$want" != "$got" ]; then echo "golden: changed $file"
    fi
  done
exit 1
