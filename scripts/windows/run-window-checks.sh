#!/usr/bin/env bash
# The window's scenarios alone, for work on korvalo.exe: builds it with MinGW-w64 and runs
# window-checks.sh in a throwaway Wine prefix set up as scripts/test-windows.sh sets it up. One
# line per check and "N passed, N failed"; exits 0 only when every check passed. Screenshots are
# kept in <build folder>/window-screenshots. KORVALO_WINDOW_CHECKS="question close_during_pass"
# runs only the scenarios named. Build folder: KORVALO_WINDOWS_BUILD_DIR (default build-windows).
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=${KORVALO_WINDOWS_BUILD_DIR:-build-windows}
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=scripts/install-missing.sh
source scripts/install-missing.sh
install_missing g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 cmake ninja-build \
  xvfb xdotool imagemagick fonts-wine fonts-noto-cjk

echo "== Cross-build korvalo.exe ($build_dir)"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DKORVALO_CORE_ONLY=ON >/dev/null
cmake --build "$build_dir" -j2 --target korvalo_win32 korvalo_win32_hooked

export LC_ALL=C.UTF-8
# shellcheck source=scripts/windows/harness.sh
source scripts/windows/harness.sh
# shellcheck source=scripts/windows/window-checks.sh
source scripts/windows/window-checks.sh
echo "== A Wine prefix"
wine_start
# Its scenarios test commands' statuses themselves: run without errexit (the || turns it off).
window_checks "$PWD/$build_dir/src/win32/korvalo.exe" \
  "$PWD/$build_dir/tests/win32/korvalo-hooked.exe" "$scratch/window" \
  "$PWD/$build_dir/window-screenshots" || fail_line "the window's scenarios ran to their end"
summary
