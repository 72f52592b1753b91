# Sourced by scripts/test-windows.sh (and by the files of checks it sources): the counters, a
# check's line, and Wine in a throwaway prefix on an X server of its own.
#
#   check "what" COMMAND...      runs the command; "ok   what" when it succeeds, else "FAIL what"
#   check_equal "what" EXPECTED ACTUAL
#   count_line LINE              counts a line "ok   ..." or "FAIL ..." a Windows program printed
#   wine_run PROGRAM ARGS...     a Windows program in the prefix (cd first for a relative path);
#                                its status is the program's
#   wine_drive LETTER DIR        the Linux folder DIR as drive LETTER: (e.g. wine_drive r "$dir");
#                                restarts a persistent wineserver
#   wine_persist / wine_unpersist  keep one wineserver up between programs (much faster), or end
#                                it, before anything waits with "wineserver -w"
#   summary                      prints "N passed, N failed"; its status is 1 when any failed
# After wine_start: WINEPREFIX, DISPLAY, HOME (a scratch one) and the rest are exported, and
# $scratch is a temporary folder removed at exit. scripts/test-windows.sh also sets, for the
# files of checks: $source_dir, $build_dir, $version, $cli_exe, $window_exe (empty when the build
# has no window), their test builds $cli_hooked_exe and $window_hooked_exe, $setup and $zipfile;
# $wine and $wineserver are set here.

passed=0
failed=0

pass_line() {
  passed=$((passed + 1))
  echo "ok   $1"
}

fail_line() {
  failed=$((failed + 1))
  echo "FAIL $1${2:+: $2}"
}

check() {
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then pass_line "$what"; else fail_line "$what"; fi
}

check_equal() {
  if [ "$2" = "$3" ]; then
    pass_line "$1"
  else
    fail_line "$1" "expected [$2], got [$3]"
  fi
}

count_line() {
  case $1 in
    "ok   "*) pass_line "${1#ok   }" ;;
    "FAIL "*) fail_line "${1#FAIL }" ;;
    *) echo "$1" ;;
  esac
}

summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver64 || command -v wineserver)

xvfb_pid=""
wine_cleanup() {
  [ -z "${WINEPREFIX:-}" ] || "$wineserver" -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  [ -z "${scratch:-}" ] || rm -rf "$scratch"
}

# An X server of its own: every Wine command, wineboot and reg included, runs with DISPLAY set,
# since one run without it can leave the prefix unable to make any window until its server ends.
start_xvfb() {
  local fd_file="$scratch/display"
  Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x800x24 9>"$fd_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  local i
  for i in $(seq 100); do
    [ -s "$fd_file" ] && break
    sleep 0.1
  done
  [ -s "$fd_file" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(tr -d '[:space:]' <"$fd_file")"
}

wine_run() {
  "$wine" "$@"
}

# Wine's mount manager reads the drive links when it starts: a running server is restarted, so
# that the new drive answers as a volume (GetVolumePathNameW() and the like), not only as a path.
wine_drive() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/$1:"
  if [ "$wine_persistent" = 1 ]; then
    wine_unpersist
    wine_persist
  fi
}

wine_persistent=0
# Wine's services start with the first program and stay as long as the server: started here with
# nothing open, so that they hold no pipe of a later program's caller (which would then never see
# its output end).
wine_persist() {
  "$wineserver" -p
  "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  wine_persistent=1
}

wine_unpersist() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  wine_persistent=0
}

# A fresh prefix in $scratch: a scratch HOME, so that Wine writes no menu entries or icons into
# the real one (winemenubuilder is off too); Chinese in dialogs through a font link; Wine draws
# its own window frames, since Xvfb has no window manager.
wine_start() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvalo-windows.XXXXXX")
  trap wine_cleanup EXIT
  mkdir -p "$scratch/home"
  export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" \
    XDG_DATA_HOME="$scratch/home/.local/share" XDG_CACHE_HOME="$scratch/home/.cache"
  export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEARCH=win64 \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  start_xvfb
  timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  wine_persist
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK SC' /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  local marlett=/usr/share/wine/fonts/marlett.ttf
  [ ! -f "$marlett" ] || cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
}
