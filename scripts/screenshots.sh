#!/usr/bin/env bash
# Screenshots for docs/, taken of the real program under Xvfb with a real window manager
# (openbox), against the reference exchange service and a sample database large enough to keep
# the export busy for a while; the mouse and the keys are driven with xdotool:
#   main-window.png     the window as it opens
#   balloon-hint.png    the balloon over "Los!"
#   export-running.png  an export running, with its spinner and the form greyed out
#   export-done.png     the message at its end
#   dark-theme.png      under a dark desktop theme: the form keeps its own colours; the link,
#                       reached with Tab, has opened the (dark) save dialog
#   scripts/screenshots.sh [BUILD_DIR]   (without BUILD_DIR it builds build/release)
#   RECORDS=N scripts/screenshots.sh     (sample size, default 300000)
set -euo pipefail

# The window's id once it shows (title given as a regular expression).
wait_window() { timeout "${2:-30}" xdotool search --sync --onlyvisible --name "$1" | head -1; }

# Starts openbox with the given theme and waits until it manages windows.
start_wm() {
  mkdir -p "$PV_WORK/openbox-$1"
  cat > "$PV_WORK/openbox-$1/rc.xml" << RC
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>$1</name><titleLayout>NLC</titleLayout></theme>
  <placement><policy>Smart</policy><center>yes</center></placement>
</openbox_config>
RC
  openbox --sm-disable --config-file "$PV_WORK/openbox-$1/rc.xml" &
  wm_pid=$!
  for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id' && break
    sleep 0.1
  done
}

stop() { kill "$1" 2> /dev/null || true; wait "$1" 2> /dev/null || true; }

# Inside the virtual display: run the program and take the pictures.
if [ "${1:-}" = "--in-display" ]; then
  start_wm Clearlooks
  "$PV_PROGRAM" &
  pid=$!
  wid=$(wait_window '^Vcard$')
  eval "$(xdotool getwindowgeometry --shell "$wid")"  # X, Y, WIDTH, HEIGHT
  xdotool mousemove 0 0
  sleep 1
  import -window "$wid" -frame "$PV_DOCS/main-window.png"

  # The balloon shows when the mouse rests on "Los!" (158,96; 89x49).
  xdotool mousemove $((X + 200)) $((Y + 120))
  sleep 2
  import -window root -crop $((WIDTH + 200))x$((HEIGHT + 75))+$((X - 20))+$((Y - 45)) +repage \
    "$PV_DOCS/balloon-hint.png"

  xdotool click 1
  sleep 1.2
  import -window "$wid" -frame "$PV_DOCS/export-running.png"

  box=$(wait_window '^vCard Parvela$' 600)
  sleep 1
  import -window "$box" -frame "$PV_DOCS/export-done.png"
  eval "$(xdotool getwindowgeometry --shell "$box")"
  xdotool mousemove $((X + 20)) $((Y + 20)) key Escape
  # Closing the message box ends the program; stop it when the key went astray.
  for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
  stop "$pid"
  stop "$wm_pid"

  # A dark desktop (the server's root is black): a dark window theme, and Qt's KDE theme reading
  # a dark colour scheme, as on a desktop set to a dark look.
  start_wm Onyx
  (cd "$XDG_DESKTOP_DIR" &&
    XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME=$PV_WORK/dark \
      exec "$PV_PROGRAM") &
  pid=$!
  wid=$(wait_window '^Vcard$')
  xdotool windowmove "$wid" 20 40
  sleep 0.5
  xdotool windowactivate --sync "$wid" key Tab Tab Tab Return
  dialog=$(wait_window '^(Speichern|Save)')
  sleep 1
  xdotool windowsize "$dialog" 560 380 windowmove "$dialog" 300 60
  sleep 1
  import -window root -crop 1000x440+0+30 +repage "$PV_DOCS/dark-theme.png"
  xdotool key --window "$dialog" Escape
  sleep 0.5
  xdotool windowactivate --sync "$wid" key Escape
  for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
  stop "$pid"
  stop "$wm_pid"
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
for tool in xvfb-run xdotool import openbox xprop; do
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
# The dark colour scheme Qt's KDE theme reads (a Breeze Dark look).
mkdir -p "$work/dark"
cat > "$work/dark/kdeglobals" << 'KDE'
[General]
ColorScheme=BreezeDark
[Colors:Window]
BackgroundNormal=32,35,38
ForegroundNormal=252,252,252
[Colors:View]
BackgroundNormal=20,22,24
ForegroundNormal=252,252,252
ForegroundLink=29,153,243
ForegroundVisited=155,89,182
[Colors:Button]
BackgroundNormal=41,44,48
ForegroundNormal=252,252,252
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252
[Colors:Tooltip]
BackgroundNormal=41,44,48
ForegroundNormal=252,252,252
KDE
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
export PV_PROGRAM=$build/app/vcard-parvela PV_DOCS=$top/docs PV_WORK=$work
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1024x700x24" bash "$top/scripts/screenshots.sh" --in-display
ls -1 docs/main-window.png docs/balloon-hint.png docs/export-running.png docs/export-done.png \
  docs/dark-theme.png
