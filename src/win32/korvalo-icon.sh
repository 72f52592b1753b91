#!/usr/bin/env bash
# Makes korvalo.ico, the program's icon on Windows, from the PNG sizes of data/icons. The .ico is
# committed, so the build needs no image tool; run this again after the icon changes.
# Needs ImageMagick (convert).
set -euo pipefail
cd "$(dirname "$0")"
png=../../data/icons/hicolor
convert "$png"/16x16/apps/io.github.korvalo.Korvalo.png \
  "$png"/24x24/apps/io.github.korvalo.Korvalo.png \
  "$png"/32x32/apps/io.github.korvalo.Korvalo.png \
  "$png"/48x48/apps/io.github.korvalo.Korvalo.png \
  "$png"/64x64/apps/io.github.korvalo.Korvalo.png \
  "$png"/256x256/apps/io.github.korvalo.Korvalo.png korvalo.ico
