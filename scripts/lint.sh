#!/usr/bin/env bash
# The habits CI enforces: formatting, the layers, and clang-tidy's checks (.clang-tidy) over the
# product's and tools' sources. Needs a configured build folder for compile_commands.json.
#   scripts/lint.sh [BUILD]     BUILD defaults to build/lint (configured here when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/lint}

echo "== clang-format"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

echo "== layers"
scripts/check-layers.sh

echo "== clang-tidy"
if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPV_TESTS=OFF > /dev/null
fi
# Qt's generated sources must exist before their includers can be analysed.
cmake --build "$build" --target all_autogen > /dev/null 2>&1 || true
git ls-files '*.cpp' | grep -E '^(app|widgets|carddav|export|vcard|hostlink|addressdb|settings|files|tools)/' |
  xargs -n 4 -P "$(nproc)" clang-tidy -p "$build" --quiet 2> /dev/null
echo "lint: ok"
