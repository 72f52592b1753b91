#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from a MinGW build (see scripts/test-windows.sh
# or cmake/mingw-w64-x86_64.cmake):
#   korvalo-<version>-setup.exe    NSIS, 64-bit, Simplified Chinese and English pages, installs
#                                  to Program Files\Korvalo with Start-menu shortcuts and an
#                                  uninstaller listed in Apps & features
#   korvalo-<version>-windows.zip  the programs, COPYING.txt and README.txt in one folder
# Both carry korvalo-cli.exe, and korvalo.exe (the window) when the build has it.
#
#   scripts/windows-packages.sh [BUILD_DIR [OUT_DIR]]   (defaults: build-windows, BUILD_DIR/packages)
# Needs makensis (package nsis) and zip. Prints the two files' paths.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-build-windows}" && pwd)
out_dir=${2:-$build_dir/packages}
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)

version=$(tr -d '[:space:]' <"$build_dir/packaging/windows/version.txt")
[ -n "$version" ] || { echo "No version in $build_dir/packaging/windows/version.txt" >&2; exit 1; }
# The version resource wants four numbers: "1.00" becomes 1.0.0.0.
IFS=. read -r -a parts <<<"$version"
vi_version=""
for i in 0 1 2 3; do
  vi_version+="$((10#${parts[i]:-0}))"
  [ "$i" -eq 3 ] || vi_version+="."
done

cli="$build_dir/src/cli/korvalo-cli.exe"
[ -f "$cli" ] || { echo "No $cli: build the target korvalo-cli first" >&2; exit 1; }
window=$(find "$build_dir" -name korvalo.exe -not -path '*/CMakeFiles/*' -not -path '*/packages/*' \
  -type f | head -n 1)

stage=$(mktemp -d "${TMPDIR:-/tmp}/korvalo-packages.XXXXXX")
trap 'rm -rf "$stage"' EXIT
name="korvalo-$version-windows"
mkdir -p "$stage/$name"
cp "$cli" "$stage/$name/korvalo-cli.exe"
[ -z "$window" ] || cp "$window" "$stage/$name/korvalo.exe"
# Windows line ends, and a byte order mark on the README so that any Notepad reads it as UTF-8.
sed 's/\r*$/\r/' "$source_dir/COPYING" >"$stage/$name/COPYING.txt"
{ printf '\xef\xbb\xbf'; sed 's/\r*$/\r/' "$source_dir/packaging/windows/README.txt"; } \
  >"$stage/$name/README.txt"

# The installer's licence page wraps lines itself and is narrower than COPYING's lines: it gets
# one line per paragraph.
awk 'BEGIN { RS = ""; ORS = "\r\n\r\n" } { gsub(/\n/, " "); print }' "$source_dir/COPYING" \
  >"$stage/license-page.txt"

setup="$out_dir/korvalo-$version-setup.exe"
defines=(-DVERSION="$version" -DVIVERSION="$vi_version" -DOUTFILE="$setup"
  -DCLI="$stage/$name/korvalo-cli.exe" -DLICENSE="$stage/license-page.txt"
  -DCOPYING="$stage/$name/COPYING.txt"
  -DREADME="$stage/$name/README.txt")
[ -z "$window" ] || defines+=(-DWINDOW="$stage/$name/korvalo.exe")
makensis -V2 -INPUTCHARSET UTF8 "${defines[@]}" "$source_dir/packaging/windows/korvalo.nsi" >&2

zipfile="$out_dir/$name.zip"
rm -f "$zipfile"
(cd "$stage" && zip -q -X -r "$zipfile" "$name")
echo "$setup"
echo "$zipfile"
