#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/) and runs them all: listing, both passes
# through the core, both passes through the offscreen window (from the click to the window's
# passFinished, beside the same pass through the core with its journal), peak memory, loading the
# journal's record of a large folder, finishing a shuffle stopped halfway, and both passes on
# sticks mounted through FUSE (exfat-fuse, ntfs-3g) with their system calls per file counted by
# strace. Prints one table and exits non-zero when a target is missed.
#
# The FUSE rows need root (loop devices, mounts); without it they are skipped with the reason.
# As root, the tools they need (exfatprogs, exfat-fuse, ntfs-3g, strace) are installed if missing.
#
# Settings (environment):
#   KORVALO_BENCH_DIR    where the benchmark files go (default: /dev/shm when it is a tmpfs)
#   KORVALO_BENCH_REPS   repetitions per figure, at least 5 (default 5)
#   KORVALO_BENCH_CLOCK  "wall" to time by the wall clock instead of the process's CPU time
#                        (the FUSE rows always use the wall clock: the driver's process does the work)
#   KORVALO_BENCH_ONLY   the benchmarks to run, e.g. "bench_mounted" (default: all of
#                        bench_listing bench_passes bench_window bench_memory bench_journal
#                        bench_mounted)
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in cmake ninja g++; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing; install what README.md lists" >&2; exit 2; }
done

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALO_BUILD_TESTS=OFF \
  -DKORVALO_BUILD_BENCH=ON >/dev/null
only=${KORVALO_BENCH_ONLY:-bench_listing bench_passes bench_window bench_memory bench_journal bench_mounted}
read -r -a selected <<<"$only"
# Two jobs at most: the machine may be shared, and the benchmarks run right after.
cmake --build "$build" -j2 --target "${selected[@]}"

rows=$(mktemp)
work=$(mktemp -d)
loopdev=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
  for m in "$work"/mnt-*; do
    if mountpoint -q "$m" 2>/dev/null; then timeout 30 umount "$m" || umount -l "$m"; fi
  done
  if [ -n "$loopdev" ]; then timeout 30 losetup -d "$loopdev" || true; fi
  rm -rf "$rows" "$work"
}
trap cleanup EXIT

# Where the benchmarks put their files (bench::scratchBase() decides the same way).
base=${KORVALO_BENCH_DIR:-/dev/shm}
if [ -z "${KORVALO_BENCH_DIR:-}" ] && [ "$(stat -f -c %T /dev/shm 2>/dev/null)" != tmpfs ]; then
  base=${TMPDIR:-/tmp}
fi

# Runs one benchmark program: lines for people go to the terminal as they come, result rows are
# kept for the table. Exit 1 means a target missed; anything else non-zero, a failed benchmark.
run_bench() {
  local code
  set +e
  QT_LOGGING_RULES='qt.qpa.*=false' "$@" 2> >(grep -v '^QStandardPaths:' >&2) |
    while IFS= read -r line; do
      case "$line" in
        ROW*) printf '%s\n' "$line" >>"$rows" ;;
        *) printf '%s\n' "$line" >&2 ;;
      esac
    done
  code=${PIPESTATUS[0]}
  set -e
  if [ "$code" -eq 1 ]; then
    status=1
  elif [ "$code" -ne 0 ]; then
    echo "bench.sh: $1 failed (exit $code)" >&2
    status=2
  fi
}

started=$(date +%s)
status=0
for bench in bench_listing bench_passes bench_window bench_memory bench_journal; do
  [[ " $only " == *" $bench "* ]] || continue
  echo "== $bench" >&2
  run_bench "$build/bench/$bench"
done

# ---- Both passes on FUSE mounts: time against a plain rename(2) loop, and system calls per file.

mounted=$build/bench/bench_mounted
files=2000
half=$((files / 2))
counts=$work/counts.txt
: >"$counts"

# strace -c's table for one command: "calls name" for every system call it made.
syscalls() { # out-file command...
  local out=$1
  shift
  strace -f -c -o "$out.raw" "$@" >/dev/null
  awk '$NF != "syscall" && $NF != "total" && $1 ~ /^[0-9.]+$/ { print $4, $NF }' "$out.raw" >"$out"
}

# The system calls of `what` (a pass, or the plain rename loop) over the n files prepared in DIR,
# less those of listing the folder `lists` times, which the command does besides the renames:
# "calls name" lines in OUT.
net_calls() { # out what(pass|loop) pass(shuffle|removal) dir n lists
  local out=$1 what=$2 pass=$3 dir=$4 n=$5 lists=$6
  if [ "$what" = pass ]; then
    syscalls "$work/a" "$mounted" pass "$pass" "$dir" "$n"
  else
    syscalls "$work/a" "$mounted" loop "$pass" "$dir"
  fi
  syscalls "$work/b" "$mounted" list "$dir" "$lists"
  awk 'FNR == NR { base[$2] = $1; next } { print $1 - base[$2], $2 }' "$work/b" "$work/a" >"$out"
}

# System calls per file: the difference between a folder of $files and one of half as many, so
# that what a pass does once (finding its mount, taking its lock) is not spread over the files.
# Appends "what, label, pass, calls per file, breakdown, calls once per pass" to the counts.
count_calls() { # label what(pass|loop) pass(shuffle|removal) big-dir small-dir lists
  local label=$1 what=$2 pass=$3 big=$4 small=$5 lists=$6
  net_calls "$work/big" "$what" "$pass" "$big" "$files" "$lists"
  net_calls "$work/small" "$what" "$pass" "$small" "$half" "$lists"
  awk -v n="$files" -v h="$half" -v label="$label" -v what="$what" -v pass="$pass" '
    FNR == NR { few[$2] = $1; next }
    { many[$2] = $1 }
    END {
      total = 0; once = 0; parts = ""
      for (c in many) {
        per = (many[c] - few[c]) / (n - h)
        total += per
        once += few[c] - per * h
        if (per >= 0.05) parts = parts sprintf(" %s %.2f", c, per)
      }
      printf "%s\t%s\t%s\t%.2f\t%s\t%.0f\n", what, label, pass, total, parts, once
    }' "$work/small" "$work/big" >>"$counts"
}

mount_image() { # fs dir -> sets loopdev for exfat
  local fs=$1 dir=$2 img=$work/$1.img
  mkdir -p "$dir"
  truncate -s 256M "$img"
  case $fs in
    exfat-fuse)
      timeout 60 mkfs.exfat "$img" >/dev/null
      loopdev=$(timeout 30 losetup -f --show "$img")
      timeout 30 mount.exfat-fuse "$loopdev" "$dir" ;;
    ntfs-3g)
      timeout 60 mkntfs -F -Q "$img" >/dev/null 2>&1
      timeout 30 ntfs-3g "$img" "$dir" ;;
  esac
}

unmount_image() { # fs dir
  local fs=$1 dir=$2 daemon
  daemon=$(pgrep -f -- " $dir\$" | head -n 1 || true)
  timeout 30 umount "$dir"
  # The driver writes everything out before it ends; the checker must read what it wrote.
  local tries=0
  while [ -n "$daemon" ] && kill -0 "$daemon" 2>/dev/null && [ $((tries += 1)) -le 200 ]; do
    sleep 0.1
  done
  if [ -n "$loopdev" ]; then timeout 30 losetup -d "$loopdev"; loopdev=; fi
  case $fs in
    exfat-fuse) timeout 60 fsck.exfat -n "$work/$fs.img" >/dev/null ;;
    ntfs-3g) timeout 60 ntfsfix -n "$work/$fs.img" >/dev/null ;;
  esac || { echo "bench.sh: $fs volume damaged after the benchmark" >&2; status=2; }
}

mounted_skip=
if [[ " $only " != *" bench_mounted "* ]]; then
  mounted_skip="not asked for (KORVALO_BENCH_ONLY)"
elif [ "$(id -u)" -ne 0 ]; then
  mounted_skip="not root: loop devices and FUSE mounts need root"
elif [ ! -c /dev/fuse ]; then
  mounted_skip="no /dev/fuse"
elif ! losetup -f >/dev/null 2>&1; then
  mounted_skip="no free loop device"
else
  missing=()
  for p in exfatprogs exfat-fuse ntfs-3g strace; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    { DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null; } || mounted_skip="cannot install ${missing[*]}"
  fi
  if [ -z "$mounted_skip" ] && ! strace -f -c -o /dev/null true 2>/dev/null; then
    mounted_skip="strace cannot trace here"
  fi
fi

if [ -n "$mounted_skip" ]; then
  echo "== bench_mounted skipped: $mounted_skip" >&2
else
  for fs in exfat-fuse ntfs-3g; do
    # On exFAT a pass ends by moving its files out and back so that they are stored in the
    # list's order (three moves per file in all): that figure is the pass with those moves.
    case $fs in exfat-fuse) ratio=4.0 label="exfat-fuse, stored in order" ;;
      ntfs-3g) ratio=2.0 label=$fs ;; esac
    echo "== bench_mounted on $fs" >&2
    dir=$work/mnt-$fs
    mount_image "$fs" "$dir"
    KORVALO_BENCH_DIR=$dir run_bench "$mounted" time "$label" "$ratio"
    # Finishing a shuffle stopped halfway, against a whole one: on exFAT both end by storing the
    # files in order.
    if [ "$fs" = exfat-fuse ]; then
      KORVALO_BENCH_DIR=$dir run_bench "$mounted" recovery "$label" 1.5
    fi
    for d in count floor; do
      "$mounted" prepare "$dir/$d" "$files" plain
      "$mounted" prepare "$dir/$d-half" "$half" plain
    done
    count_calls "$fs" pass shuffle "$dir/count" "$dir/count-half" 2
    count_calls "$fs" pass removal "$dir/count" "$dir/count-half" 2
    count_calls "$fs" loop shuffle "$dir/floor" "$dir/floor-half" 1
    unmount_image "$fs" "$dir"
  done
fi
# The same count on tmpfs (or wherever the other benchmarks ran), where the kernel's no-replace
# rename works: one call per file is the whole rename.
if [[ " $only " != *" bench_mounted "* ]]; then
  :
elif ! strace -f -c -o /dev/null true 2>/dev/null; then
  echo "== system call counts skipped: strace is missing or cannot trace here" >&2
else
  local_dir=$(mktemp -d "$base/korvalo-bench-calls-XXXXXX")
  label=$(stat -f -c %T "$base")
  "$mounted" prepare "$local_dir/count" "$files" plain
  "$mounted" prepare "$local_dir/count-half" "$half" plain
  count_calls "$label" pass shuffle "$local_dir/count" "$local_dir/count-half" 2
  count_calls "$label" pass removal "$local_dir/count" "$local_dir/count-half" 2
  rm -rf "$local_dir"
fi
# Rows of the call counts: a pass's calls per file, next to the plain loop's on the same file
# system where it was counted.
while IFS=$'\t' read -r what label pass per parts once; do
  [ "$what" = pass ] || continue
  floor=$(awk -F'\t' -v l="$label" '$1 == "loop" && $2 == l { print $4 " calls" }' "$counts")
  # exfat-fuse: lstat and rename for the rename itself, and again for each of the two moves.
  case $label in exfat-fuse) target=6 ;; ntfs-3g) target=2 ;; *) target=1 ;; esac
  verdict=pass
  if awk -v p="$per" -v t="$target" 'BEGIN { exit !(p > t + 0.005) }'; then verdict=FAIL; status=1; fi
  printf 'ROW\t6 calls per file, %s (%s)\t%s\t%s calls\t%s\t-\t<= %s calls\t%s\n' "$pass" "$label" \
    "$files" "$per" "${floor:--}" "$target" "$verdict" >>"$rows"
done <"$counts"

elapsed=$(( $(date +%s) - started ))

clock="CPU time (user + system)"
[ "${KORVALO_BENCH_CLOCK:-}" = wall ] && clock="wall clock"
reps=${KORVALO_BENCH_REPS:-5}
[ "$reps" -ge 5 ] 2>/dev/null || reps=5

echo
echo "Korvalo benchmarks, $(date +%Y-%m-%d): $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
echo "Files on $(stat -f -c %T "$base") ($base). Medians of $clock over at least $reps repetitions (25 up to 1,000 files, 11 up to 10,000, 7 above). Run took ${elapsed} s."
echo
line() { printf '| %-38s | %7s | %12s | %12s | %11s | %14s | %-6s |\n' "$@"; }
line figure N korvalo baseline ratio target result
line "$(printf -- '-%.0s' {1..38})" "------:" "-----------:" "-----------:" "----------:" "-------------:" "------"
while IFS=$'\t' read -r _ figure n korvalo baseline ratio target result; do
  line "$figure" "$n" "$korvalo" "$baseline" "$ratio" "$target" "$result"
done <"$rows"
echo
if grep -q $'^ROW\t3 .* beyond ' "$rows"; then
  echo "Rows 3 \"beyond core+journal\": the window's pass against the same pass through the core with its journal (the baseline column), what the window adds counted in bare loops (the median over the repetitions)."
fi
if [ -n "$mounted_skip" ]; then
  echo "Rows 5 (passes on FUSE mounts) skipped: $mounted_skip."
else
  echo "Rows 5: wall clock, $files files on the FUSE mount, against a plain rename(2) loop over the same names (the unsafe floor)."
fi
if [ -s "$counts" ]; then
  echo "Rows 6: system calls per file (strace -f -c; $files files against $half, less those of listing the folder), against the plain rename(2) loop:"
  while IFS=$'\t' read -r what label pass per parts once; do
    [ "$what" = pass ] && what="$pass pass" || what="plain rename(2) loop"
    printf '  %-12s %-22s %5s per file:%s; %s once\n' "$label" "$what" "$per" "$parts" "$once"
  done <"$counts"
fi
exit "$status"
