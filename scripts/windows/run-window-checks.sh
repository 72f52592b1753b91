#!/usr/bin/env bash
# Builds korvalo.exe with MinGW-w64 and drives it under Wine on an Xvfb display of its own, with
# the scenarios of window-checks.sh: one line per check and a closing "N passed, N failed". Exits
# 0 only when every check passed.
#
# The Wine prefix is a throwaway one in a temporary folder (its first start takes about twenty
# seconds), with a scratch HOME so that Wine writes nothing into the real one; one wineserver is
# kept running for every scenario and ended at the end. Screenshots are kept in
# <build folder>/window-screenshots. Build folder: KORVALO_WINDOWS_BUILD_DIR (default
# build-windows).
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=${KORVALO_WINDOWS_BUILD_DIR:-build-windows}
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=scripts/install-missing.sh
source scripts/install-missing.sh
install_missing g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 cmake ninja-build \
  xvfb xdotool imagemagick fonts-wine fonts-noto-cjk

echo "== Cross-build korvalo.exe ($build_dir)"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DKORVALO_CORE_ONLY=ON >/dev/null
cmake --build "$build_dir" -j2 --target korvalo_win32
exe="$build_dir/src/win32/korvalo.exe"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvalo-window.XXXXXX")
xvfb_pid=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  # KORVALO_WINDOW_KEEP=1 keeps the prefix, the drive and the program's logs for a look.
  if [ "${KORVALO_WINDOW_KEEP:-0}" = 1 ]; then
    echo "Kept: $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT

# A display of our own: the first free number from 91 on.
display=91
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done

# Every Wine command runs with the display set: one without it leaves the prefix unable to make
# windows for as long as its wineserver lives.
export DISPLAY=":$display" HOME="$scratch/home" WINEPREFIX="$scratch/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$HOME"

echo "== Prepare a Wine prefix"
mkdir -p "$WINEPREFIX"
"$wineserver" -p
timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
# Wine draws its own window frames (there is no window manager); the caption buttons need
# Marlett. Message boxes' Tahoma has no Chinese: a font link adds it.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
  /v Tahoma /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK SC' /f >/dev/null 2>&1
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

# shellcheck source=scripts/windows/window-checks.sh
source scripts/windows/window-checks.sh
status=0
window_checks "$exe" "$scratch/checks" "$build_dir/window-screenshots" || status=$?
exit "$status"
