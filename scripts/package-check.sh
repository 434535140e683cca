#!/usr/bin/env bash
# Builds the Debian packages as a release would and checks them: desktop-file-validate,
# appstreamcli validate, lintian (no errors), the hardening of the binaries; then installs them
# with apt, runs the installed /usr/bin/vcard-parvela --version and an AUTO export of a sample
# made with the installed tools, and removes the packages again. Needs root (or sudo) for apt.
#   scripts/package-check.sh [BUILD_DIR]      (default build/package)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=${1:-build/package}
mkdir -p "$build"
build=$(cd "$build" && pwd)  # apt takes a .deb by a path, never by a bare relative name
id=io.github.vcardparvela.VcardParvela

scripts/deps.sh
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

echo "== Release build with Debian's hardening flags"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_TESTS=OFF -DPV_DEB_HARDENING=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" > /dev/null
cmake --build "$build" -j"$(nproc)" --target vcard-parvela pv-exchange-service pv-sampledb \
  pv_packaging_files
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

echo "== cpack -G DEB"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB > cpack.log) || { cat "$build/cpack.log"; exit 1; }
program=$(ls "$build"/vcard-parvela_"$version"_*.deb)
tools=$(ls "$build"/vcard-parvela-tools_"$version"_*.deb)
for deb in "$program" "$tools"; do
  echo "-- $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Depends Suggests Enhances
done
# (grep reads here-strings: with pipefail, grep -q ending a pipe early would fail it.)
depends=$(dpkg-deb --field "$program" Depends)
grep -q 'qt6-translations-l10n' <<< "$depends" || {
  echo "package-check: Depends lacks qt6-translations-l10n" >&2; exit 1; }
grep -q 'libqt6widgets6' <<< "$depends" || {
  echo "package-check: Depends lacks the Qt libraries (dpkg-shlibdeps)" >&2; exit 1; }

work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    echo "== Removing the packages"
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get remove -y -qq --purge \
      vcard-parvela vcard-parvela-tools > /dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
dpkg-deb -x "$program" "$work/root"

echo "== desktop-file-validate, appstreamcli validate"
desktop-file-validate "$work/root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml"

echo "== Hardening of /usr/bin/vcard-parvela"
bin=$work/root/usr/bin/vcard-parvela
dynamic=$(readelf -d "$bin")
segments=$(readelf -lW "$bin")
symbols=$(readelf -W --dyn-syms "$bin")
grep -q 'BIND_NOW' <<< "$dynamic" || { echo "package-check: no bind-now" >&2; exit 1; }
grep -q 'GNU_RELRO' <<< "$segments" || { echo "package-check: no relro" >&2; exit 1; }
grep -q '__stack_chk_fail' <<< "$symbols" || { echo "package-check: no stack protector" >&2; exit 1; }
grep -q '_chk@' <<< "$symbols" || { echo "package-check: no fortified calls" >&2; exit 1; }
echo "relro, bind-now, stack protector, fortify: present"

echo "== lintian"
# Errors fail the check; the warnings kept are listed in the README's packaging section.
lintian --fail-on error --tag-display-limit 0 "$program" "$tools"

echo "== apt-get install"
installed=1
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "$program" "$tools" > /dev/null
got=$(/usr/bin/vcard-parvela --version)
[ "$got" = "vcard-parvela $version" ] || { echo "--version gave: $got" >&2; exit 1; }
echo "$got"

echo "== AUTO export with the installed program, no display"
mkdir -m 700 "$work/tmp"
/usr/bin/pv-sampledb "$work/db" 500 --seed 3 > /dev/null
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work/tmp" \
  /usr/bin/vcard-parvela AUTO "$work/db" "$work/out.vcf"
cards=$(grep -c '^BEGIN:VCARD' "$work/out.vcf")
[ "$cards" -gt 0 ] || { echo "no cards written" >&2; exit 1; }
echo "$cards cards in $work/out.vcf"
# A window without a display: a one-line message and status 1, no abort.
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/vcard-parvela 2> "$work/err"
status=$?
set -e
[ "$status" = 1 ] && [ "$(wc -l < "$work/err")" = 1 ] || {
  echo "window without display: status $status, $(cat "$work/err")" >&2; exit 1; }
echo "package-check: all checks passed"
