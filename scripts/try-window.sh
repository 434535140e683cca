#!/usr/bin/env bash
# Tries the window without Parvela: builds, makes a sample database, starts the reference
# exchange service that tells the window where the database is, and opens the window. Its
# settings, the service's files and the desktop that "Los!" writes pv.vcf to are kept in
# out/try-window/, so nothing of the user's own is touched; the service stops with the window.
#   scripts/try-window.sh [RECORDS]     (default 1000 records; needs a display)
# With the packages installed (vcard-parvela and vcard-parvela-tools) it uses those instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
records=${1:-1000}

if [ -x /usr/bin/vcard-parvela ] && [ -x /usr/bin/pv-exchange-service ]; then
  program=/usr/bin/vcard-parvela sampledb=/usr/bin/pv-sampledb service=/usr/bin/pv-exchange-service
else
  scripts/deps.sh
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_TESTS=OFF > /dev/null
  cmake --build build/release -j"$(nproc)" --target vcard-parvela pv-sampledb pv-exchange-service
  program=build/release/app/vcard-parvela
  sampledb=build/release/tools/sampledb/pv-sampledb
  service=build/release/tools/exchange/pv-exchange-service
fi

try=$top/out/try-window
mkdir -p "$try/Desktop"
[ -d "$try/tmp" ] || mkdir -m 700 "$try/tmp"
export TMPDIR=$try/tmp XDG_DESKTOP_DIR=$try/Desktop
"$sampledb" "$try/db" "$records" --seed 1 > /dev/null

"$service" --value "DBPATH=$try/db" > "$try/service.out" &
service_pid=$!
trap 'kill "$service_pid" 2> /dev/null || true; wait "$service_pid" 2> /dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$try/service.out" ] && break
  sleep 0.1
done
[ -s "$try/service.out" ] || { echo "try-window.sh: the exchange service did not start" >&2; exit 1; }

echo "Database: $try/db (the service names it as DBPATH)"
echo "\"Los!\" writes: $try/Desktop/pv.vcf; settings: $try/tmp/PVTempDir/vcard/UserMode.INI"
"$program"
