# Sourced by the fuzz scripts: builds the libFuzzer targets (clang, their own
# build folder, nothing else of the project) and names each target with its
# seed folder, longest input and the test stage's number of runs (about 20 s
# each on 2 cores: the manifest reader is the slowest per input).
FUZZ_BUILD=build-fuzz
FUZZ_TARGETS=(
  "fuzz_parseline tests/fuzz/seeds 4096 60000"
  "fuzz_bmp tests/fuzz/bmp_seeds 4096 1500000"
  "fuzz_manifest tests/fuzz/manifest_seeds 16384 5000"
  "fuzz_model tests/fuzz/model_seeds 4096 6000"
)

fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVIMAR_FUZZ=ON -DTOVIMAR_BUILD_GUI=OFF -DTOVIMAR_BUILD_TESTS=ON -DTOVIMAR_BUILD_BENCH=OFF >/dev/null
  cmake --build "$FUZZ_BUILD" --target fuzz_parseline fuzz_bmp fuzz_manifest fuzz_model
}
