#!/usr/bin/env bash
# Screenshots of the main window for docs/: the window as it opens (main-window.png), the balloon
# over "Los!" (balloon-hint.png), an export running with its spinner (export-running.png) and the
# message at its end (export-done.png). Runs the real program under Xvfb against the reference
# exchange service and a sample database large enough to keep the export busy for a while, and
# moves and clicks the mouse with xdotool.
#   scripts/screenshots.sh [BUILD_DIR]   (without BUILD_DIR it builds build/release)
#   RECORDS=N scripts/screenshots.sh     (sample size, default 300000)
set -euo pipefail

# Inside the virtual display: run the program and take the pictures.
if [ "${1:-}" = "--in-display" ]; then
  "$PV_PROGRAM" &
  pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Vcard$' | head -1)
  eval "$(xdotool getwindowgeometry --shell "$wid")"  # X, Y, WIDTH, HEIGHT
  xdotool mousemove 0 0
  sleep 1
  import -window "$wid" "$PV_DOCS/main-window.png"

  # The balloon shows when the mouse rests on "Los!" (158,96; 89x49).
  xdotool mousemove $((X + 200)) $((Y + 120))
  sleep 2
  import -window root -crop $((WIDTH + 200))x$((HEIGHT + 40))+$((X - 10))+$((Y - 10)) +repage \
    "$PV_DOCS/balloon-hint.png"

  xdotool click 1
  sleep 1.2
  import -window "$wid" "$PV_DOCS/export-running.png"

  box=$(timeout 600 xdotool search --sync --onlyvisible --name '^vCard Parvela$' | head -1)
  sleep 1
  import -window "$box" "$PV_DOCS/export-done.png"
  eval "$(xdotool getwindowgeometry --shell "$box")"
  xdotool mousemove $((X + 20)) $((Y + 20)) key Escape
  # Closing the message box ends the program; stop it when the key went astray.
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null || true
  wait "$pid" || true
  exit 0
fi

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
records=${RECORDS:-300000}

if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
else
  scripts/deps.sh
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_TESTS=OFF > /dev/null
  cmake --build build/release -j"$(nproc)" --target vcard-parvela pv-exchange-service pv-sampledb
  build=$top/build/release
fi
for tool in xvfb-run xdotool import; do
  command -v "$tool" > /dev/null || { echo "screenshots.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2> /dev/null || true
    wait "$service_pid" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A private temporary folder for the service's name file and the settings, and a desktop.
mkdir -m 700 "$work/tmp"
mkdir "$work/desktop"
export TMPDIR=$work/tmp XDG_DESKTOP_DIR=$work/desktop
echo "Making a sample of $records records"
"$build/tools/sampledb/pv-sampledb" "$work/db" "$records" --seed 1 > /dev/null
"$build/tools/exchange/pv-exchange-service" --value "DBPATH=$work/db" > "$work/service.out" &
service_pid=$!
# The service prints its pipe name once it serves.
for _ in $(seq 100); do
  [ -s "$work/service.out" ] && break
  sleep 0.1
done
[ -s "$work/service.out" ] || { echo "screenshots.sh: the exchange service did not start" >&2; exit 1; }

mkdir -p docs
export PV_PROGRAM=$build/app/vcard-parvela PV_DOCS=$top/docs
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 800x600x24" bash "$top/scripts/screenshots.sh" --in-display
ls -1 docs/main-window.png docs/balloon-hint.png docs/export-running.png docs/export-done.png
