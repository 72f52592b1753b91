#!/usr/bin/env bash
# Renders the PNG sizes of the icon from its SVG. The PNGs are committed, so that neither the build
# nor the window needs an SVG renderer; run this again after changing the SVG.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/hicolor"
svg=scalable/apps/io.github.korvalo.Korvalo.svg
for size in 16 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "$svg" -o "${size}x${size}/apps/io.github.korvalo.Korvalo.png"
done
