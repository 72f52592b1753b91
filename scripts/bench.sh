#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/) and runs them all: listing, both passes
# through the core, both passes through the offscreen window, and peak memory. Prints one table
# and exits non-zero when a target is missed.
#
# Settings (environment):
#   KORVALO_BENCH_DIR    where the benchmark files go (default: /dev/shm when it is a tmpfs)
#   KORVALO_BENCH_REPS   repetitions per figure, at least 5 (default 5)
#   KORVALO_BENCH_CLOCK  "wall" to time by the wall clock instead of the process's CPU time
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in cmake ninja g++; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing; install what README.md lists" >&2; exit 2; }
done

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALO_BUILD_TESTS=OFF \
  -DKORVALO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_listing bench_passes bench_window bench_memory

rows=$(mktemp)
trap 'rm -f "$rows"' EXIT

started=$(date +%s)
status=0
for bench in bench_listing bench_passes bench_window bench_memory; do
  echo "== $bench" >&2
  # Lines for people go to the terminal as they come; result rows are kept for the table.
  set +e
  QT_LOGGING_RULES='qt.qpa.*=false' "$build/bench/$bench" 2> >(grep -v '^QStandardPaths:' >&2) |
    while IFS= read -r line; do
      case "$line" in
        ROW*) printf '%s\n' "$line" >>"$rows" ;;
        *) printf '%s\n' "$line" >&2 ;;
      esac
    done
  code=${PIPESTATUS[0]}
  set -e
  if [ "$code" -eq 1 ]; then
    status=1 # a target missed
  elif [ "$code" -ne 0 ]; then
    echo "bench.sh: $bench failed (exit $code)" >&2
    status=2
  fi
done
elapsed=$(( $(date +%s) - started ))

base=${KORVALO_BENCH_DIR:-/dev/shm}
if [ -z "${KORVALO_BENCH_DIR:-}" ] && [ "$(stat -f -c %T /dev/shm 2>/dev/null)" != tmpfs ]; then
  base=${TMPDIR:-/tmp}
fi
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
exit "$status"
