#!/usr/bin/env bash
# Kills exports at random moments and checks that every target is the old or the new file and
# that no temporary file is left (tests/reliability/kill_test.py does the work).
#   scripts/kill-test.sh [KILLS] [RECORDS] [BUILD_DIR]   (defaults: 100 kills, 300000 records,
#                                                          build/release)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
kills=${1:-100}
records=${2:-300000}
build=${3:-build/release}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j"$(nproc)" --target vcard-parvela pv-sampledb pv-export-bench
# Debian's own interpreter, whatever python3 comes first on PATH.
exec /usr/bin/python3 tests/reliability/kill_test.py "$build" --kills "$kills" --records "$records"
