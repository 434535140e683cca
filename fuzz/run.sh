#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each on its committed seed corpus, with ASan+UBSan. New
# inputs go to a scratch folder; inputs that break a target go to BUILD/fuzz-artifacts/.
# Configures BUILD (default build/fuzz) with clang and -DPV_FUZZ=ON and builds the targets first.
# Exit status 1 when any target failed.
# usage: fuzz/run.sh SECONDS [BUILD]
# Environment: PV_FUZZ_TARGETS (names, default all), PV_FUZZ_TOLERATE (known findings to pass).
set -euo pipefail
usage="usage: fuzz/run.sh SECONDS [BUILD]"
seconds=${1:?$usage}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$src/build/fuzz}
targets=(${PV_FUZZ_TARGETS:-answer message ini csv ledger vcard html})

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPV_FUZZ=ON -DPV_GUI=ON -DPV_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzzer}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$src/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for t in "${targets[@]}"; do
  echo "== ${t}_fuzzer for ${seconds}s"
  mkdir -p "$scratch/$t"
  max_len=65536
  [[ $t == html ]] && max_len=4096
  if ! "$build/fuzz/${t}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/${t}-" \
      "$scratch/$t" "$src/fuzz/corpus/$t" 2>&1 |
      sed -e '/^#[0-9]/d' -e '/^###### Recommended dictionary/,/^###### End of recommended/d'; then
    failed+=("$t")
  fi
done
if (( ${#failed[@]} )); then
  echo "fuzz targets that failed: ${failed[*]} (inputs in $artifacts)"
  exit 1
fi
echo "all fuzz targets clean"
