#!/usr/bin/env bash
# The main job: installs what is missing, builds, makes a sample database and exports it silently
# to a vCard file, whose path it prints.
#   scripts/run.sh [RECORDS]      (default 1000 records)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
records=${1:-1000}

scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_TESTS=OFF > /dev/null
cmake --build build/release -j"$(nproc)" --target vcard-parvela pv-sampledb

sample="$top/out/sample"
mkdir -p "$sample"
build/release/tools/sampledb/pv-sampledb "$sample" "$records" --seed 1 > /dev/null
out="$top/out/pv.vcf"
build/release/app/vcard-parvela AUTO "$sample" "$out"
echo "$out"
