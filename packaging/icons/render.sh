#!/usr/bin/env bash
# Renders the PNG sizes of the program's icon from its SVG (needs rsvg-convert, librsvg2-bin).
# The PNGs are kept in the source tree, so a build needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")"
id=io.github.vcardparvela.VcardParvela
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "$id.svg" -o "hicolor/${size}x${size}/apps/$id.png"
done
