#!/bin/bash
# Two korvalo-cli runs on one folder at once, as a user with two terminals or a script started
# twice would make them. Prints what each run ended with and whether every original name comes
# back with the default `remove` afterwards.
#
#   bash scripts/race-repro.sh build/src/cli/korvalo-cli [runs]
#
# 1. `remove` waits at its own-digits question while `shuffle` runs in another terminal, then the
#    user presses Enter.
# 2. Two shuffles started at the same instant, `runs` times (8 unless given).
# Each case works in a folder of its own under a fresh state folder, never the user's.
set -u
cli=$(readlink -f "${1:?usage: race-repro.sh path/to/korvalo-cli [runs]}")
runs=${2:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work/state"
mkdir -p "$XDG_STATE_HOME"

# A folder of `count` songs, one of them named with four digits of its own.
make_folder() {
    rm -rf "$1"
    mkdir -p "$1"
    for i in $(seq 1 "$2"); do echo "song $i" >"$1/Track $i.mp3"; done
    echo "odyssey" >"$1/2001 A Space Odyssey.mp3"
}

# Every original name back after one default `remove`: prints "restored" or what is left.
restored() {
    "$cli" remove "$1" </dev/null >/dev/null 2>&1
    local now
    now=$(cd "$1" && ls | sort)
    if [ "$now" = "$2" ]; then echo restored; else echo "NOT restored: $(echo "$now" | head -3 | tr '\n' ' ')"; fi
}

blocked() {
    "$cli" status "$1" 2>&1 | grep -q "无法确认" && echo " BLOCKED" || true
}

echo "== 1. remove waiting at its question while shuffle runs"
q="$work/q1"
make_folder "$q" 5
orig=$(cd "$q" && ls | sort)
fifo="$work/typed"
mkfifo "$fifo"
# `script` gives the remove a terminal of its own; what the fifo carries is typed at it.
script -qfec "$cli remove '$q'" /dev/null <"$fifo" >"$work/a.out" 2>&1 &
a=$!
exec 3>"$fifo"
for _ in $(seq 1 50); do grep -q "回车" "$work/a.out" 2>/dev/null && break; sleep 0.1; done
"$cli" shuffle "$q" </dev/null >/dev/null 2>&1
echo "shuffle B: exit $?"
printf '\n' >&3
exec 3>&-
wait $a
echo "remove A: exit $?  $(tr -d '\r' <"$work/a.out" | grep -v '^$' | tail -2 | tr '\n' ' ')"
"$cli" status "$q" 2>&1 | sed -n 2p
echo "afterwards: $(restored "$q" "$orig")"

echo "== 2. two shuffles started at the same instant, $runs runs"
for r in $(seq 1 "$runs"); do
    q="$work/q2-$r"
    make_folder "$q" "${SONGS:-5}"
    orig=$(cd "$q" && ls | sort)
    "$cli" shuffle "$q" </dev/null >"$work/x.out" 2>&1 &
    x=$!
    "$cli" shuffle "$q" </dev/null >"$work/y.out" 2>&1 &
    y=$!
    wait $x
    sx=$?
    wait $y
    sy=$?
    why() { head -1 "$1"; }
    line="run $r: exits $sx $sy"
    [ "$sx" != 0 ] && line="$line | $(why "$work/x.out")"
    [ "$sy" != 0 ] && line="$line | $(why "$work/y.out")"
    echo "$line$(blocked "$q") | $(restored "$q" "$orig")"
done
