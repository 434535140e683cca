#!/usr/bin/env bash
# Runs the host link fuzz targets for SECONDS in all (shared evenly) on their committed seed
# corpora; new inputs go to a scratch folder, crash inputs to BUILD_DIR/fuzz-artifacts/.
# Configures BUILD_DIR with clang and -DPV_FUZZ=ON and builds the targets first.
# usage: fuzz/run.sh SECONDS BUILD_DIR
set -euo pipefail
usage="usage: fuzz/run.sh SECONDS BUILD_DIR"
seconds=${1:?$usage}
build=${2:?$usage}
src=$(cd "$(dirname "$0")/.." && pwd)
targets=(answer message)

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPV_FUZZ=ON -DPV_GUI=OFF -DPV_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzzer}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
each=$(( seconds / ${#targets[@]} ))
(( each >= 1 )) || each=1
for t in "${targets[@]}"; do
  echo "== ${t}_fuzzer for ${each}s"
  mkdir -p "$scratch/$t"
  "$build/fuzz/${t}_fuzzer" -max_total_time="$each" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/${t}-" \
    "$scratch/$t" "$src/fuzz/corpus/$t"
done
