#!/usr/bin/env bash
# Korvalo on Windows, checked under Wine. Cross-builds with MinGW-w64 (statically, posix threads)
# the core's check program tests/win32/check_windows.cpp, korvalo-cli.exe and whatever other
# Windows programs the build has, makes the installer and the zip (scripts/windows-packages.sh),
# and then, in one throwaway Wine prefix on an Xvfb of its own:
#   - the core's checks (listing, renaming, both passes, the journal, the pass lock, a drive root);
#   - korvalo-cli.exe on a folder of Chinese names on a drive letter, names and contents checked
#     on disk, and a pass killed midway (KORVALO_TEST_KILL_AFTER, in the test build
#     korvalo-cli-hooked.exe, tests/win32) then finished by the recovery
#     (scripts/windows/cli-checks.sh);
#   - korvalo.exe's resources, and the window, driven by clicks and keys on the same display, in
#     its test build korvalo-hooked.exe, watched through the log that one writes
#     (scripts/windows/window-checks.sh);
#   - the installer installed and uninstalled silently, and the zip's contents
#     (scripts/windows/package-checks.sh).
# Prints one line per check and a closing "N passed, N failed"; exits non-zero on any failure.
#
# Installs what it needs with apt-get when missing. Build folder: KORVALO_WINDOWS_BUILD_DIR
# (default build-windows), a Release build.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

build_dir=${KORVALO_WINDOWS_BUILD_DIR:-build-windows}
# Two jobs at most: the machine is shared.
jobs=2

export DEBIAN_FRONTEND=noninteractive
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 cmake ninja-build nsis zip
  unzip xvfb xdotool imagemagick fonts-wine fonts-noto-cjk)
# shellcheck source=scripts/install-missing.sh
source scripts/install-missing.sh
install_missing "${packages[@]}"

started=$(date +%s)
echo "== Cross-build for Windows ($build_dir)"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DKORVALO_CORE_ONLY=ON \
  -DKORVALO_WERROR=ON >/dev/null
cmake --build "$build_dir" -j "$jobs"
check_exe="$build_dir/tests/win32/check_windows.exe"
cli_exe="$PWD/$build_dir/src/cli/korvalo-cli.exe"
window_exe=$(find "$PWD/$build_dir" -name korvalo.exe -not -path '*/CMakeFiles/*' \
  -not -path '*/packages/*' -type f | head -n 1)
# The same programs built with the holds the checks set from the environment (tests/win32).
cli_hooked_exe="$PWD/$build_dir/tests/win32/korvalo-cli-hooked.exe"
window_hooked_exe="$PWD/$build_dir/tests/win32/korvalo-hooked.exe"
version=$(tr -d '[:space:]' <"$build_dir/packaging/windows/version.txt")

echo "== Make the installer and the zip"
mapfile -t made < <(scripts/windows-packages.sh "$build_dir")
setup=${made[0]}
zipfile=${made[1]}
echo "$(basename "$setup"): $(stat -c %s "$setup") bytes; $(basename "$zipfile"): $(stat -c %s "$zipfile") bytes"

# The names are UTF-8 on the Linux side: Wine reads arguments and file names in this locale.
export LC_ALL=C.UTF-8
# shellcheck source=scripts/windows/harness.sh
source scripts/windows/harness.sh
# shellcheck source=scripts/windows/cli-checks.sh
source scripts/windows/cli-checks.sh
# shellcheck source=scripts/windows/package-checks.sh
source scripts/windows/package-checks.sh

echo "== A Wine prefix"
wine_start

echo "== The core's checks"
# R: is an empty folder for the check at the root of a drive; korvalo-cli.exe's checks use it
# afterwards.
mkdir -p "$scratch/drive-r"
wine_drive r "$scratch/drive-r"
core_status=0
KORVALO_CHECK_DRIVE=R: timeout 300 "$wine" "$check_exe" </dev/null >"$scratch/core.txt" 2>&1 ||
  core_status=$?
while IFS= read -r line; do
  line=${line%$'\r'} # the C library's text mode ends its lines with CR LF
  case $line in
    *" passed, "*" failed") ;; # the program's own total: its lines are counted here
    *) count_line "$line" ;;
  esac
done <"$scratch/core.txt"
[ "$core_status" = 0 ] || fail_line "the core's check program ends with 0" "status $core_status"

echo "== korvalo-cli.exe"
cli_checks

if [ -n "$window_exe" ]; then
  echo "== korvalo.exe"
  # shellcheck source=scripts/windows/window-checks.sh
  source scripts/windows/window-checks.sh
  # Its scenarios test commands' statuses themselves: run without errexit (the || turns it off).
  window_checks "$window_exe" "$window_hooked_exe" "$scratch/window" \
    "$PWD/$build_dir/window-screenshots" ||
    fail_line "the window's scenarios ran to their end"
fi

echo "== The installer and the zip"
wine_unpersist
package_checks

echo "== $(($(date +%s) - started)) s"
summary
