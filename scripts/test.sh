#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test twice: once in a normal build, once
# built with AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero when a test fails.
#
# The tests labelled "fs" mount real exFAT, NTFS and FAT images through FUSE and loop devices and
# check them with each file system's checker; they need root and report themselves skipped without it.
#
# Build folders: KORVALO_BUILD_DIR (default build) and KORVALO_ASAN_BUILD_DIR (default build-asan).
# KORVALO_SKIP_ASAN=1 leaves the sanitizer run out. After the tests, scripts/test-windows.sh
# cross-builds the core's check program, korvalo-cli.exe, the installer and the zip for Windows
# with MinGW and checks them under Wine;
# KORVALO_SKIP_WINDOWS=1 leaves it out. The journal's reader is then fuzzed with clang's
# libFuzzer for a minute (build folder build-fuzz, the core alone; KORVALO_FUZZ_SECONDS changes
# the time, KORVALO_SKIP_FUZZ=1 leaves it out): a crash, a hang or a blown memory limit fails the
# script, and the input that caused it is left in build-fuzz/. Then scripts/test-package.sh checks the program as
# installed (validators, the Debian package checked by lintian and installed with apt-get on this
# machine, help and version without a display, the installed program's window icon); KORVALO_SKIP_PACKAGE=1 leaves it out.
# Both builds are configured through CMakePresets.json (presets default and asan, where the
# sanitizers' options are kept), with every compiler warning an error (KORVALO_WERROR). Before
# them, clang-format checks every tracked C++ file against .clang-format.
# Then scripts/test-kernel-drivers.sh boots Debian's kernels under QEMU and runs every mounted test
# binary (KORVALO_KERNEL_TESTS names fewer) on the kernel's own vfat (FAT32, FAT16), exfat and
# ntfs3 drivers; KORVALO_SKIP_KERNEL=1 leaves it out, and it prints "SKIPPED:" with the reason
# where QEMU or a kernel cannot be had.
# KORVALO_TIDY=1 also runs clang-tidy (with the committed .clang-tidy) over src/; it is not part of
# the default run.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${KORVALO_BUILD_DIR:-build}
asan_dir=${KORVALO_ASAN_BUILD_DIR:-build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

export DEBIAN_FRONTEND=noninteractive
packages=(
  g++ cmake ninja-build pkg-config qt6-base-dev libblkid-dev fonts-noto-cjk clang-format git
  # the mounted file system tests: mkfs, fsck, FUSE drivers, losetup
  exfatprogs exfat-fuse ntfs-3g dosfstools fusefat fuse3 mount
)
if [ "${KORVALO_TIDY:-0}" = 1 ]; then packages+=(clang-tidy); fi
# shellcheck source=scripts/install-missing.sh
source "$(dirname "${BASH_SOURCE[0]}")/install-missing.sh"
install_missing "${packages[@]}"

status=0

echo "== clang-format over the tracked C++ files"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror || status=1

echo "== Build ($build_dir) and test"
cmake --preset default -B "$build_dir" -DKORVALO_WERROR=ON >/dev/null
cmake --build "$build_dir" -j "$jobs"
ctest --preset default --test-dir "$build_dir" -j "$jobs" || status=1

if [ "${KORVALO_SKIP_KERNEL:-0}" != 1 ]; then
  echo "== The kernel's vfat, exfat and ntfs3 drivers: the mounted tests in QEMU ($build_dir)"
  install_missing qemu-system-x86 busybox-static xz-utils
  KORVALO_BUILD_DIR="$build_dir" bash scripts/test-kernel-drivers.sh || status=1
fi

if [ "${KORVALO_SKIP_ASAN:-0}" != 1 ]; then
  echo "== Build ($asan_dir) with AddressSanitizer and UndefinedBehaviorSanitizer, and test"
  cmake --preset asan -B "$asan_dir" -DKORVALO_WERROR=ON >/dev/null
  cmake --build "$asan_dir" -j "$jobs"
  # Any finding ends the test with an error, so ctest counts it as failed (the preset's options).
  ctest --preset asan --test-dir "$asan_dir" -j "$jobs" || status=1
fi

if [ "${KORVALO_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== Windows: cross-built with MinGW, checked under Wine"
  bash scripts/test-windows.sh || status=1
fi

if [ "${KORVALO_SKIP_FUZZ:-0}" != 1 ]; then
  seconds=${KORVALO_FUZZ_SECONDS:-60}
  echo "== Fuzzing the journal's reader for ${seconds} s (clang, libFuzzer; build-fuzz)"
  install_missing clang libclang-rt-14-dev
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKORVALO_CORE_ONLY=ON -DKORVALO_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$jobs" --target fuzz_journal
  # The seeds are copied: the fuzzer adds the inputs it finds to its corpus folder.
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/* "$corpus"/
  # Its line per new input goes to a log; the end of it, with the figures, is shown.
  if ! build-fuzz/tests/fuzz/fuzz_journal -max_total_time="$seconds" -timeout=5 \
    -rss_limit_mb=2048 -artifact_prefix=build-fuzz/ -print_final_stats=1 "$corpus" \
    >build-fuzz/fuzz.log 2>&1; then
    status=1
    tail -n 60 build-fuzz/fuzz.log
  else
    grep -E "^(Done|stat::)" build-fuzz/fuzz.log
  fi
  rm -rf "$corpus"
fi

if [ "${KORVALO_SKIP_PACKAGE:-0}" != 1 ]; then
  echo "== Installed program and Debian package ($build_dir)"
  KORVALO_BUILD_DIR="$build_dir" bash scripts/test-package.sh || status=1
fi

if [ "${KORVALO_TIDY:-0}" = 1 ]; then
  echo "== clang-tidy over src/"
  run-clang-tidy -p "$build_dir" -quiet "$PWD/src/" >"$build_dir/clang-tidy.log" 2>&1 || {
    grep -E "(warning|error):" "$build_dir/clang-tidy.log" | sort -u
    status=1
  }
fi

exit $status
