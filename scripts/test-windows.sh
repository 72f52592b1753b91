#!/usr/bin/env bash
# The Qt-free core on Windows: cross-builds it with MinGW-w64 (statically, posix threads) together
# with the check program tests/windows/check_windows.cpp, and runs that under Wine. Exits with the
# check's status; it prints one line per check and a closing "N passed, N failed".
#
# Installs what it needs with apt-get when missing (g++-mingw-w64-x86-64-posix, wine64, cmake,
# ninja-build). Build folder: KORVALO_WINDOWS_BUILD_DIR (default build-windows). Wine runs in a
# throwaway prefix in a temporary folder, made afresh every time (its first start takes about
# ten seconds), with a drive letter of its own for the check at the root of a drive.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${KORVALO_WINDOWS_BUILD_DIR:-build-windows}
jobs=$(nproc 2>/dev/null || echo 2)

export DEBIAN_FRONTEND=noninteractive
packages=(g++-mingw-w64-x86-64-posix wine64 cmake ninja-build)
# shellcheck source=scripts/install-missing.sh
source "$(dirname "${BASH_SOURCE[0]}")/install-missing.sh"
install_missing "${packages[@]}"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

echo "== Cross-build the core, the folder session and the check program for Windows ($build_dir)"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DKORVALO_CORE_ONLY=ON >/dev/null
# The session is built too: the Windows front ends will stand on it.
cmake --build "$build_dir" -j "$jobs" --target check_windows korvalo_session
check="$build_dir/tests/windows/check_windows.exe"

echo "== Run the check under Wine"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvalo-windows.XXXXXX")
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
# Wine keeps its drives as links in the prefix; R: is an empty folder of the scratch folder.
mkdir -p "$scratch/drive"
ln -s "$scratch/drive" "$WINEPREFIX/dosdevices/r:"

status=0
KORVALO_CHECK_DRIVE=R: timeout 300 "$wine" "$check" || status=$?
if [ "$status" -eq 124 ]; then
  echo "The check did not end within 300 s." >&2
fi
exit "$status"
