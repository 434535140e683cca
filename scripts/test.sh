#!/usr/bin/env bash
# The tests: installs what is missing, then
#   1. builds the whole suite with ASan+UBSan, warnings as errors, and runs it (widget tests on Qt's
#      offscreen platform, the CardDAV tests against a local Radicale);
#   2. checks the habits: formatting, the layers, clang-tidy;
#   3. runs the worker pool, export job and pipe client tests again under TSan;
#   4. builds a release with Debian's hardening flags, warnings as errors, and runs the slow tests
#      there (full-size hostile databases, exports killed at random moments);
#   5. builds the Debian packages from that build, checks, installs, runs and removes them;
#   6. gives every fuzz target FUZZ_SECONDS (20) of fuzzing.
#   scripts/test.sh                                everything
#   FUZZ_SECONDS=0 PACKAGE_CHECK=0 scripts/test.sh   without fuzzing and packages
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}
package_check=${PACKAGE_CHECK:-1}
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY

echo "== ASan+UBSan build and the whole suite"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_SANITIZE=address -DPV_WERROR=ON \
  "${launcher[@]}" > /dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j"$jobs" -LE slow --output-on-failure --timeout 300

echo "== Formatting, layers, clang-tidy"
scripts/lint.sh build/asan

echo "== TSan: worker pool, export job, pipe client, file writer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_SANITIZE=thread -DPV_GUI=OFF \
  "${launcher[@]}" > /dev/null
cmake --build build/tsan -j"$jobs" --target export_tests hostlink_tests files_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" -L 'export|hostlink|files' -LE slow \
  --output-on-failure --timeout 300

echo "== Release build with Debian's hardening flags, and the slow tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_WERROR=ON -DPV_TESTS=ON \
  -DPV_DEB_HARDENING=ON "${launcher[@]}" > /dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release -L slow --output-on-failure --timeout 900

if [ "$package_check" != 0 ]; then
  echo "== Debian packages"
  scripts/package-check.sh build/release
fi

if [ "$fuzz_seconds" -gt 0 ] && [ -x fuzz/run.sh ]; then
  echo "== Fuzzing every reader and writer for ${fuzz_seconds}s each"
  fuzz/run.sh "$fuzz_seconds" build/fuzz
fi
echo "== All checks passed"
