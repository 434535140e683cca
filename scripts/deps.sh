#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmark need, when any is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
  libsqlite3-dev sqlite3
  libgtest-dev libbenchmark-dev
  clang libclang-rt-dev
  python3 python3-vobject
  xvfb xauth fonts-dejavu-core
  xdotool imagemagick x11-utils
  openbox fonts-wine
  dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin
  radicale apache2-utils qtkeychain-qt6-dev curl openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ical.js, the second independent vCard parser of the end-to-end tests, at the version pinned in
# tests/e2e/node/package-lock.json. Node and npm come from Debian unless the machine has them.
if ! command -v npm >/dev/null 2>&1; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends nodejs npm
fi
node_folder="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/e2e/node"
if [ ! -f "$node_folder/node_modules/ical.js/package.json" ]; then
  npm ci --prefix "$node_folder" --no-audit --no-fund --loglevel=error ||
    echo "warning: ical.js could not be installed; the end-to-end tests skip its checks" >&2
fi
