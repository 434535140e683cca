#!/usr/bin/env bash
# Fails when a folder includes a header of a folder above it, or when anything from export/ down
# includes Qt. The allowed folders below each one are the picture of the layers; the CMake link
# graph enforces the same at link time, this catches it at include time and with a clear message.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [files]="files"
  [settings]="settings files"
  [addressdb]="addressdb files"
  [hostlink]="hostlink files"
  [vcard]="vcard files"
  [export]="export vcard addressdb settings hostlink files"
  [carddav]="carddav export vcard addressdb settings hostlink files"
  [widgets]="widgets files"
  [app]="app widgets carddav export vcard addressdb settings hostlink files"
  [tools]="tools hostlink addressdb vcard settings files"
)
qt_free="files settings addressdb hostlink vcard export tools"

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file:$line: $folder/ may not include $target/ ($text)"
      status=1
    fi
  done < <(grep -rnE '^#include "[a-z]+/' --include='*.h' --include='*.cpp' "$folder" || true)
done
for folder in $qt_free; do
  [ -d "$folder" ] || continue
  if grep -rnE '^#include <Q' --include='*.h' --include='*.cpp' "$folder"; then
    echo "$folder/ must not include Qt"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "layers: ok"
exit "$status"
