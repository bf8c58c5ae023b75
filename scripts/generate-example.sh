#!/usr/bin/env bash
# The main job: install what is missing, build, and render the example scene's
# stereo sequence (left and right camera) into ./out/0/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVIMAR_BUILD_TESTS=OFF -DTOVIMAR_BUILD_BENCH=OFF >/dev/null
cmake --build build
./build/cli/tovimar-render --out out --seq 0 --camera both examples/sceneexample.txt
echo "Frames are in $(pwd)/out/0/"
