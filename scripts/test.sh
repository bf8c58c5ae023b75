#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test headless, runs the threaded
# parts' tests under ThreadSanitizer, checks the Python module and the
# installation in a plain build, then fuzzes the scene line parser, the
# BMP reader, the manifest reader and the model loader for a fixed number of
# runs each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
# intercept_tls_get_addr=0: GCC 12's sanitizer runtime takes a dynamic-TLS
# block that happens to start 16 bytes into a page for a glibc-2.19 header and
# reads a bogus range from it, so LeakSanitizer's exit-time scan crashes now
# and then ("Tracer caught signal 11") after a test has passed. Fixed in the
# runtime of later compilers; turning the interceptor off keeps the leak check.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0"
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOVIMAR_SANITIZE=ON -DTOVIMAR_WERROR=ON >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2

# The Python module (not built with the sanitizers: an instrumented module
# cannot be loaded into the interpreter) and the installation: a plain build
# for /usr runs the module's tests, installs into a temporary root, runs the
# installed tovimar-render on the example, imports the installed module (which
# must find the installed textures) and makes the .deb.
cmake -S . -B build-install -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIMAR_WERROR=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DTOVIMAR_BUILD_BENCH=OFF >/dev/null
cmake --build build-install --target _tovimar tovimar-render tovimar-scenegen tovimar-eval tovimar-dataset tovimar
ctest --test-dir build-install --output-on-failure -L python
install_root=$(mktemp -d)
DESTDIR="$install_root" cmake --install build-install >/dev/null
"$install_root/usr/bin/tovimar-render" -q -o "$install_root/out" -r 64x48 examples/sceneexample.txt
test -f "$install_root/out/0/right_0002.bmp"
test -x "$install_root/usr/bin/tovimar" && test -x "$install_root/usr/bin/tovimar-scenegen" && test -x "$install_root/usr/bin/tovimar-dataset"
(cd "$install_root" && PYTHONPATH="$install_root/usr/lib/python3/dist-packages" /usr/bin/python3 -c "
import tovimar
assert tovimar.__file__.startswith('$install_root'), tovimar.__file__
frame = next(iter(tovimar.Renderer(64, 48).render(tovimar.generate_scene(frames=1), camera='left')))
assert frame['left']['image'].shape == (48, 64, 3)
")
(cd build-install && cpack -G DEB >/dev/null &&
  dpkg-deb -c tovimar_*.deb | grep 'usr/lib/python3/dist-packages/tovimar/_tovimar' >/dev/null)
rm -rf "$install_root"
echo "install: the installed programs and module work; the .deb holds them"

# ThreadSanitizer: the threaded parts (each frame's files written behind the
# next drawing, the per-pixel work split over two threads, both cameras side
# by side in memory) through the ground-truth, dataset and run tests and the
# command line's runs; Mesa, LLVM, GDAL and the unwinder, which are not
# instrumented, are suppressed. Only those tests and the program they run are built.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIMAR_TSAN=ON -DTOVIMAR_WERROR=ON \
  -DTOVIMAR_BUILD_GUI=OFF -DTOVIMAR_BUILD_BENCH=OFF >/dev/null
tsan_tests="truth/test_truth_unit truth/test_truth_segmentation dataset/test_dataset_unit dataset/test_dataset_runs
            run/test_run_unit run/test_run_runs cli/test_cli_render"
cmake --build build-tsan --target tovimar-render $(for t in $tsan_tests; do basename "$t"; done)
for t in $tsan_tests; do
  TSAN_OPTIONS="suppressions=$(pwd)/tests/tsan.supp halt_on_error=1" ./build-tsan/tests/$t --gtest_brief=1
done
echo "tsan: the ground-truth, dataset, run and command-line tests ran clean"

# Fuzz the scene line parser, the BMP reader, the manifest reader and the model loader
# (libFuzzer, clang): every stored input replayed, then a fixed number of runs
# from a fixed seed, so the stage gives the same verdict on every run.
bash scripts/fuzz.sh
