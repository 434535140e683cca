#!/usr/bin/env bash
# The tests: installs what is missing, builds the whole suite with ASan+UBSan and runs it (widget
# tests on Qt's offscreen platform), runs the worker pool, export job and pipe client tests again
# under TSan, and gives every fuzz target a 20-second run.
#   scripts/test.sh            everything
#   FUZZ_SECONDS=0 scripts/test.sh   without the fuzzing run
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}  # per fuzz target

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY

echo "== ASan+UBSan build and the whole suite"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_SANITIZE=address > /dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 300

echo "== TSan: worker pool, export job, pipe client"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_SANITIZE=thread -DPV_GUI=OFF > /dev/null
cmake --build build/tsan -j"$jobs" --target export_tests hostlink_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" -L 'export|hostlink' --output-on-failure --timeout 300

if [ "$fuzz_seconds" -gt 0 ] && [ -x fuzz/run.sh ]; then
  echo "== Fuzzing every reader and writer for ${fuzz_seconds}s each"
  fuzz/run.sh "$fuzz_seconds" build/fuzz
fi
