#!/usr/bin/env bash
# Tries one mutant: changes one line of a source file with a sed expression, builds the given
# tests and runs them. Prints "KILLED", "SURVIVED" or "NOT APPLIED" (the expression changed
# nothing) with the tests that failed, and exits 0 in each case (2 on a usage error, 3 when the
# mutant does not build: a mutant the compiler catches is not counted).
#
#   scripts/mutate.sh src/session/foldersession.cpp:215 's/== Opening::Look/!= Opening::Look/' \
#       tst_foldersession tst_cli
#
# The sources are copied to build-mutant/ (a copy of the working tree, so that the tree itself is
# never changed) and built in build-mutant/build with ccache: the first mutant builds the tests'
# targets, each later one only the file it changes and the one put back. The tests run two at a
# time, each with MUTATE_TIMEOUT seconds (default 300), without the tests labelled slow. Mounted
# tests (-L fs) need root. A test's state folder is emptied before it runs, so that what a killed
# run left behind fails no later one. Timing checks can fail on a loaded machine: read the test
# functions a kill names before counting it.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
repo=$PWD

if [ $# -lt 3 ] || [[ $1 != *:* ]]; then
  sed -n '2,16p' "$0" >&2
  exit 2
fi
file=${1%:*}
line=${1##*:}
expr=$2
shift 2
tests=("$@")

root=$repo/build-mutant
build=$root/build
mkdir -p "$build"
# The copy follows the working tree's files (tracked, or new and not ignored). Its layout mirrors
# the tree's (root/src, root/tests ...), so that ccache sees the same relative paths as the tree's
# own build. Only files whose content differs are copied, with the time of copying: a file put
# back after the last mutant is then newer than its object, and rebuilt.
(
  cd "$repo" &&
    git ls-files -co --exclude-standard -z | while IFS= read -r -d '' f; do
      [ -f "$f" ] && ! cmp -s "$f" "$root/$f" 2>/dev/null || continue
      mkdir -p "$root/$(dirname "$f")" && cp "$f" "$root/$f"
    done
) || exit 2

target=$root/$file
[ -f "$target" ] || { echo "no such file: $file" >&2; exit 2; }
before=$(sed -n "${line}p" "$target")
sed -i "${line}${expr}" "$target"
after=$(sed -n "${line}p" "$target")
if [ "$before" = "$after" ]; then
  echo "NOT APPLIED $file:$line: $before"
  exit 0
fi
echo "MUTANT $file:$line"
echo "  - $before"
echo "  + $after"

export CCACHE_DIR=${CCACHE_DIR:-/work/.ccache} CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$repo")}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$build/configure.log" 2>&1 ||
    { echo "configure failed: $build/configure.log" >&2; exit 2; }
fi
targets=()
for t in "${tests[@]}"; do targets+=(--target "$t"); done
# korvalo-cli and the test hooks are built too: the CLI and mounted tests run them.
if ! nice cmake --build "$build" -j2 "${targets[@]}" --target korvalo-cli \
  --target korvalo_syscall_hooks >"$build/mutant-build.log" 2>&1; then
  echo "DOES NOT BUILD (see $build/mutant-build.log)"
  exit 3
fi

pattern="^($(IFS='|'; echo "${tests[*]}"))(\\.|\$)"
for t in "${tests[@]}"; do
  state=$(find "$build/tests" -maxdepth 2 -type d -name "$t-state" | head -1)
  [ -n "$state" ] && find "$state" -mindepth 1 -delete
done
log=$build/mutant-ctest.log
nice ctest --test-dir "$build" -j2 -R "$pattern" -LE slow --timeout "${MUTATE_TIMEOUT:-300}" \
  >"$log" 2>&1
failed=$(grep -E '^\s+[0-9]+ - ' "$log" | sed -E 's/^\s+[0-9]+ - ([^ ]+).*/\1/' | tr '\n' ' ')
ran=$(grep -cE 'Test +#' "$log")
if [ "$ran" -eq 0 ]; then
  echo "NO TESTS RAN for $pattern"
  exit 2
elif [ -n "$failed" ]; then
  echo "KILLED by $failed"
  # Each test function that failed, once (the rows of a table count as one).
  grep -E '^FAIL!' "$build"/Testing/Temporary/LastTest.log 2>/dev/null |
    sed -E 's/^FAIL! *: *([A-Za-z0-9_]+::[A-Za-z0-9_]+).*/    \1/' | sort -u | head -12
else
  echo "SURVIVED ($ran tests passed)"
fi
