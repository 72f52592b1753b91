# Scenarios for korvalo.exe under Wine, sourced after scripts/windows/harness.sh (by
# scripts/test-windows.sh, or run-window-checks.sh to run them alone), whose wine_start has made
# the prefix, the display and a persistent wineserver. Then:
#
#   window_checks EXE HOOKED-EXE SCRATCH SHOTS
#
# checks EXE's resources, copies HOOKED-EXE (its test build, tests/win32) into the prefix as
# korvalo.exe, makes drive R: of SCRATCH/drive, runs every scenario (or those named in
# KORVALO_WINDOW_CHECKS) and counts one line per check with the harness's counters. Screenshots go
# to SHOTS. The test build is watched through the log it writes when KORVALO_WINDOW_LOG names a
# file; it is driven with real clicks and keys (xdotool).

wc_title='Korvalo- By Nemrit'

wc_ok() { pass_line "$*"; }
wc_fail() { fail_line "$*"; }
# wc_check DESCRIPTION COMMAND...: one check, passed when the command succeeds.
wc_check() {
  local what=$1
  shift
  if "$@"; then wc_ok "$what"; else wc_fail "$what"; fi
}

# A Unix path as the program sees it (Z: is the Unix root).
wc_winpath() {
  local p=$1
  echo "Z:${p//\//\\}"
}

# --- The log ----------------------------------------------------------------------------------

# Each line of the log is headed by the milliseconds since the program started: left out here.
wc_lines() { sed 's/^[0-9]* //' "$wc_log" 2>/dev/null; }
wc_count() { # PATTERN: lines of the log matching it
  wc_lines | grep -c -- "$1" || true
}
# wc_wait PATTERN AFTER [SECONDS]: waits until more than AFTER lines match.
wc_wait() {
  local pattern=$1 after=$2 seconds=${3:-30} k
  for ((k = 0; k < seconds * 10; k++)); do
    [ "$(wc_count "$pattern")" -gt "$after" ] && return 0
    sleep 0.1
  done
  return 1
}
# The last complete state the program logged.
wc_state() {
  awk '/^state seq=/ { block = "" } { block = block $0 "\n" } /^state-end / { last = block }
       END { printf "%s", last }' <(wc_lines)
}
# wc_field LINE-PREFIX FIELD: a field of the first line of the last state starting so.
wc_field() {
  wc_state | grep -m1 -- "^$1 " | grep -o " $2=[^ ]*" | head -1 | cut -d= -f2-
}
wc_ctl() { wc_field "control name=$1" "$2"; }
wc_caption() { wc_state | grep -m1 -- "^control name=$1 " | sed 's/.* caption=//'; }
wc_items() { wc_state | grep -- "^item list=$1 " | sed 's/.* text=//'; }

# --- Input ------------------------------------------------------------------------------------

# The screen point at the middle of a control.
wc_point() {
  local screen form w h
  screen=$(wc_field window screen)
  form=$(wc_ctl "$1" form)
  IFS=, read -r _ _ w h <<<"$(wc_ctl "$1" rect)"
  echo $((${screen%,*} + ${form%,*} + w / 2)) $((${screen#*,} + ${form#*,} + h / 2))
}
wc_click() {
  # No --sync: it waits for the pointer to move, forever when it is there already.
  # shellcheck disable=SC2046
  xdotool mousemove $(wc_point "$1") sleep 0.1 click 1
  sleep 0.3
}
# wc_dir_item INDEX [REPEAT]: clicks (REPEAT 2: double-clicks) an item of the folder list.
wc_dir_item() {
  local index=$1 repeat=${2:-1} screen form top height
  screen=$(wc_field window screen)
  form=$(wc_ctl Dir1 form)
  top=$(wc_field "list name=Dir1" top)
  height=$(wc_field "list name=Dir1" itemheight)
  xdotool mousemove $((${screen%,*} + ${form%,*} + 30)) \
    $((${screen#*,} + ${form#*,} + 2 + (index - top) * height + height / 2)) \
    sleep 0.1 click --repeat "$repeat" --delay 80 1
  sleep 0.3
}
wc_dir_index() { # NAME: the index of a folder list item by its text without the indentation
  wc_items Dir1 | sed 's/^ *//' | grep -n -x -m1 -- "$1" | cut -d: -f1 | awk '{ print $1 - 1 }'
}
# wc_key WINDOW-TITLE KEY...: keys to the window of that title, the pointer over it.
wc_key() {
  local title=$1 id
  shift
  local k
  # A box is logged just before it shows: its window may not be mapped yet.
  for ((k = 0; k < 50; k++)); do
    id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | tail -1)
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || return 1
  sleep 0.3
  # Wine takes keys from the X server's test extension, given to the window that has the focus:
  # a click on the window's title bar gives it the focus and presses nothing.
  xdotool mousemove --window "$id" 60 8 sleep 0.1 click 1 2>/dev/null || true
  sleep 0.2
  xdotool key "$@"
  sleep 0.3
}
# wc_shot NAME [WINDOW-TITLE]: a screenshot of the window (the whole screen without one).
wc_shot() {
  local id
  id=$(xdotool search --onlyvisible --name "^${2:-$wc_title}\$" 2>/dev/null | tail -1)
  if [ -n "$id" ]; then
    import -display "$DISPLAY" -window "$id" "$wc_shots/$1.png" 2>/dev/null
  else
    import -display "$DISPLAY" -window root "$wc_shots/$1.png" 2>/dev/null
  fi
}

# --- The program ------------------------------------------------------------------------------

# wc_start FOLDER [VAR=VALUE...]: starts korvalo.exe in R:\FOLDER with a fresh log and waits
# until its window is up.
wc_start() {
  local folder=$1
  shift
  wc_log="$wc_scratch/log-$((++wc_runs)).txt"
  : >"$wc_log"
  env KORVALO_WINDOW_LOG="$(wc_winpath "$wc_log")" "$@" \
    "$wine" start /wait /d "R:\\$folder" 'C:\korvalo\korvalo.exe' >/dev/null 2>&1 &
  wc_pid=$!
  wc_wait '^state-end .*reason=start' 0 60 || return 1
  # Input reaches the window once X has mapped it.
  local k
  for ((k = 0; k < 50; k++)); do
    xdotool search --onlyvisible --name "^$wc_title\$" >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 1
}
# Waits for the running program to end (SECONDS, default 20); false when it does not. A window
# started within about two seconds after the last one closed may be drawn and fed no input: the
# wait ends after those.
wc_ended() {
  local k
  for ((k = 0; k < ${1:-20} * 10; k++)); do
    kill -0 "$wc_pid" 2>/dev/null || { wait "$wc_pid" 2>/dev/null; sleep 2.5; return 0; }
    sleep 0.1
  done
  return 1
}
wc_close() {
  wc_key "$wc_title" alt+F4
  wc_ended 20 || { kill "$wc_pid" 2>/dev/null; false; }
}

# The names in a folder of the drive, one a line, sorted.
wc_names() { (cd "$wc_drive/$1" && ls -1 | LC_ALL=C sort); }
# True when every name in the folder is one of `originals` with a prefix of four digits.
wc_all_prefixed() {
  local folder=$1 originals=$2
  [ "$(wc_names "$folder" | sed -E 's/^[0-9]{4}//' | LC_ALL=C sort)" = "$originals" ] &&
    ! wc_names "$folder" | grep -qvE '^[1-9][0-9]{3}'
}
wc_songs() { # FOLDER NAME...: makes a folder of small song files
  local folder=$1 name
  shift
  mkdir -p "$wc_drive/$folder"
  for name in "$@"; do printf 'ID3' >"$wc_drive/$folder/$name"; done
}

# --- Scenarios --------------------------------------------------------------------------------

wc_manifest() {
  local objdump
  objdump=$(command -v x86_64-w64-mingw32-objdump || echo objdump)
  # Resource type 24 is RT_MANIFEST; type 3 the icon.
  wc_check "the manifest resource is present (objdump)" \
    sh -c "'$objdump' -p '$wc_exe' | grep -q 'Entry: ID: 0x000018'"
  wc_check "the manifest asks for common controls 6" grep -q 'Microsoft.Windows.Common-Controls' "$wc_exe"
  wc_check "the manifest asks for DPI awareness" grep -q '<dpiAware>true</dpiAware>' "$wc_exe"
  wc_check "the icon resource is present" \
    sh -c "'$objdump' -p '$wc_exe' | grep -q 'Entry: ID: 0x00000e'"
}

wc_window_and_layout() {
  local originals
  originals=$(printf '%s\n' 一月.mp3 二月.flac 三月.mp3 | LC_ALL=C sort)
  wc_songs music 一月.mp3 二月.flac 三月.mp3
  if ! wc_start music; then
    wc_fail "the window appears (no start in the log)"
    return
  fi
  wc_check "the window appears with its title" \
    sh -c "xdotool search --onlyvisible --name '^$wc_title\$' >/dev/null"
  wc_check "the client area is 470x509 at 96 dpi" \
    test "$(wc_field window client)/$(wc_field window dpi)" = "470x509/96"
  # Every control where the layout table puts it, in pixels at 96 dpi.
  local bad="" name parent l t w h expected actual
  while IFS=' ' read -r name parent l t w h; do
    expected="$(((l * 2 + 15) / 30)),$(((t * 2 + 15) / 30)),$(((w * 2 + 15) / 30)),$(((h * 2 + 15) / 30))"
    actual=$(wc_ctl "$name" rect)
    # A closed drop-down list is as tall as its font needs under Wine: a few pixels either way.
    if [ "$name" = Drive1 ] && [ "${actual%,*}" = "${expected%,*}" ] &&
      [ $((${actual##*,} - ${expected##*,})) -ge -3 ] && [ $((${actual##*,} - ${expected##*,})) -le 3 ]; then
      actual=$expected
    fi
    [ "$actual" = "$expected" ] && [ "$(wc_ctl "$name" parent)" = "$parent" ] ||
      bad="$bad $name($actual not $expected)"
  done < <(sed -nE 's/.*ControlPlace\{"([A-Za-z0-9]+)", (kForm|"([A-Za-z0-9]+)"), \{([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)\}.*/\1 \2 \4 \5 \6 \7/p' \
    "$wc_source/src/session/layout.cpp" | sed 's/ kForm / Form1 /; s/ "\([A-Za-z0-9]*\)" / \1 /')
  wc_check "16 controls in the layout table${bad:+:$bad}" \
    test -z "$bad" -a "$(wc_state | grep -c '^control ')" -eq 16
  wc_check "at start Command1 reads 随机排序 and is enabled, Command2 is disabled" \
    test "$(wc_caption Command1)/$(wc_ctl Command1 enabled)/$(wc_ctl Command2 enabled)" = "随机排序/1/0"
  # No name carries a prefix: the first-time option fits, selected as the folder is shown.
  wc_check "at start Label3 counts the songs, Label5 reads 0%, Option1 is selected" \
    test "[$(wc_caption Label3)]/$(wc_caption Label5)/$(wc_ctl Option1 checked)$(wc_ctl Option2 checked)" = "[已选文件夹共有3首歌曲]/0%/10"
  wc_check "the lists and the bar are named by the hidden label before each (驱动器/文件夹/歌曲列表/改名进度)" \
    test "$(wc_ctl Drive1 label)/$(wc_ctl Dir1 label)/$(wc_ctl File1 label)/$(wc_ctl ProgressBar1 label)" = "驱动器/文件夹/歌曲列表/改名进度"
  wc_check "the drive list shows the drive letters, R: chosen" \
    test "$(wc_items Drive1 | sed -n "$(($(wc_field 'list name=Drive1' selected) + 1))p")" = "R:"
  wc_check "the file list shows the folder's three songs" \
    test "$(wc_items File1 | LC_ALL=C sort)" = "$originals"

  # A shuffle by clicks.
  local after
  after=$(wc_count '^state-end .*reason=finished')
  wc_click Option1
  wc_click Command1
  if wc_wait '^state-end .*reason=finished' "$after" 30; then
    wc_check "a shuffle by click prefixes every name on disk" wc_all_prefixed music "$originals"
    wc_check "the file list shows the new names" \
      test "$(wc_items File1 | LC_ALL=C sort)" = "$(wc_names music)"
    wc_check "after the shuffle Option2 is selected, Command1 reads 重新排序, disabled; Command2 enabled" \
      test "$(wc_ctl Option1 checked)$(wc_ctl Option2 checked)/$(wc_caption Command1)/$(wc_ctl Command1 enabled)/$(wc_ctl Command2 enabled)" = "01/重新排序/0/1"
    wc_check "after the shuffle the bar is full (0 to 2) and Label5 reads 100%" \
      test "$(wc_ctl ProgressBar1 min)-$(wc_ctl ProgressBar1 max)-$(wc_ctl ProgressBar1 value)/$(wc_caption Label5)" = "0-2-2/100%"
    # The log writes the label's line break as \n.
    wc_check "after the shuffle Label3 counts the songs and, on a second line, says what was done" \
      test "$(wc_caption Label3)" = '已选文件夹共有3首歌曲，\n已全部加上序号'
    sleep 0.5
    wc_shot after-shuffle
    # Opened again, the prefixed folder selects the option that fits it.
    after=$(wc_count '^state-end .*reason=folder')
    wc_click Option1
    wc_dir_item "$(wc_field 'list name=Dir1' selected)" 1
    wc_key "$wc_title" Return
    if wc_wait '^state-end .*reason=folder' "$after" 10; then
      wc_check "the prefixed folder opened again selects Option2: Command1 disabled, Command2 enabled" \
        test "$(wc_ctl Option1 checked)$(wc_ctl Option2 checked)/$(wc_ctl Command1 enabled)/$(wc_ctl Command2 enabled)" = "01/0/1"
    else
      wc_fail "the prefixed folder is opened again"
    fi
  else
    wc_fail "a shuffle by click ends"
  fi

  # A removal by keys: Option2 chosen with a click, then Shift+Tab to Command2 and Space.
  after=$(wc_count '^state-end .*reason=finished')
  wc_click Option2
  wc_key "$wc_title" shift+Tab space
  if wc_wait '^state-end .*reason=finished' "$after" 30; then
    wc_check "a removal by keys gives every file its name back" test "$(wc_names music)" = "$originals"
    wc_check "after the removal Option1 is selected, Command1 reads 随机排序, enabled; Command2 disabled" \
      test "$(wc_ctl Option1 checked)$(wc_ctl Option2 checked)/$(wc_caption Command1)/$(wc_ctl Command1 enabled)/$(wc_ctl Command2 enabled)" = "10/随机排序/1/0"
  else
    wc_fail "a removal by keys ends"
  fi
  wc_close || wc_fail "the window closes"
}

# An empty folder, opened with a double-click in the folder list: the pass is refused with the
# warning box; Enter closes it. Then back up with a click and Enter.
wc_empty_folder() {
  mkdir -p "$wc_drive/music/空文件夹"
  wc_start music || { wc_fail "the window appears for the empty folder"; return; }
  local index after
  index=$(wc_dir_index 空文件夹)
  after=$(wc_count '^state-end .*reason=folder')
  wc_dir_item "$index" 2
  if ! wc_wait '^state-end .*reason=folder' "$after" 10; then
    wc_fail "a double-click in the folder list opens the folder"
    wc_close
    return
  fi
  wc_check "a double-click opens the folder: Label3 counts 0 songs" \
    test "$(wc_caption Label3)/$(wc_field 'list name=File1' count)" = "已选文件夹共有0首歌曲/0"
  after=$(wc_count '^box kind=message')
  wc_click Option1
  wc_click Command1
  if wc_wait '^box kind=message' "$after" 10; then
    wc_check "the empty-folder warning: 警告, 你选择的文件夹里没有Mp3或者Flac文件" \
      sh -c "sed 's/^[0-9]* //' '$wc_log' | grep '^box kind=message' | tail -1 | grep -q 'icon=warning title=警告 text=你选择的文件夹里没有Mp3或者Flac文件\$'"
    sleep 0.5
    wc_shot empty-folder-warning 警告
    local answers
    answers=$(wc_count '^answer kind=message')
    wc_key 警告 Return
    wc_check "Enter closes the warning" wc_wait '^answer kind=message' "$answers" 10
  else
    wc_fail "the empty-folder warning is shown"
  fi
  # Back up one level: the parent is the item above, chosen with a click and opened with Enter.
  index=$(wc_dir_index music)
  after=$(wc_count '^state-end .*reason=folder')
  wc_dir_item "$index" 1
  wc_key "$wc_title" Return
  if wc_wait '^state-end .*reason=folder' "$after" 10; then
    wc_check "Enter in the folder list opens the folder chosen" \
      test "$(wc_field 'list name=File1' count)" = 3
  else
    wc_fail "Enter in the folder list opens the folder chosen"
  fi
  wc_close || wc_fail "the window closes"
}

# The question before a removal when names start with digits Korvalo did not write: Esc cancels
# (nothing renamed), Enter takes the default (Korvalo's prefixes go, the other digits stay).
wc_question() {
  wc_songs digits a.mp3 b.mp3
  wc_start digits || { wc_fail "the window appears for the question"; return; }
  local after
  after=$(wc_count '^state-end .*reason=finished')
  wc_click Option1
  wc_click Command1
  wc_wait '^state-end .*reason=finished' "$after" 30 || wc_fail "the shuffle before the question ends"
  printf 'ID3' >"$wc_drive/digits/2019 live.mp3"
  # The folder opened again: Enter on the folder list's current folder.
  after=$(wc_count '^state-end .*reason=folder')
  wc_dir_item "$(wc_field 'list name=Dir1' selected)" 1
  wc_key "$wc_title" Return
  wc_wait '^state-end .*reason=folder' "$after" 10 || wc_fail "the folder is read again"
  local before questions answers boxtitle=
  before=$(wc_names digits)
  questions=$(wc_count '^box kind=StripOtherDigits')
  wc_click Option2
  wc_click Command2
  if wc_wait '^box kind=StripOtherDigits' "$questions" 10; then
    sleep 0.5
    # The box is found by the title it was shown with.
    boxtitle=$(wc_lines | grep '^box kind=StripOtherDigits' | tail -1 | sed 's/.* title=//; s/ text=.*//')
    wc_shot question-box "$boxtitle"
    answers=$(wc_count '^answer kind=StripOtherDigits')
    wc_key "$boxtitle" Escape
    wc_wait '^answer kind=StripOtherDigits' "$answers" 10
    wc_check "Esc answers the question with 取消: nothing renamed" \
      test "$(wc_lines | grep '^answer kind=StripOtherDigits' | tail -1)/$(wc_names digits)" = \
      "answer kind=StripOtherDigits value=2/$before"
  else
    wc_fail "the question about other digits is asked"
  fi
  questions=$(wc_count '^box kind=StripOtherDigits')
  after=$(wc_count '^state-end .*reason=finished')
  wc_click Command2
  if wc_wait '^box kind=StripOtherDigits' "$questions" 10; then
    answers=$(wc_count '^answer kind=StripOtherDigits')
    sleep 0.3
    wc_key "$boxtitle" Return
    wc_wait '^state-end .*reason=finished' "$after" 30
    wc_check "Enter answers with the default: Korvalo's prefixes go, 2019 stays" \
      test "$(wc_names digits | tr '\n' '|')" = "2019 live.mp3|a.mp3|b.mp3|"
  else
    wc_fail "the question is asked again"
  fi
  wc_close || wc_fail "the window closes"
}

# A pass cut off by the test hook (the process ends after the third file) in a folder with a
# Chinese name, and what the next start, in another folder, offers: that folder (its name as it
# is, with Windows' separators), then its unfinished pass, undone with Enter.
wc_stopped_pass() {
  local originals="01 歌.mp3
02 歌.mp3
03 歌.mp3
04 歌.mp3
05 歌.mp3
06 歌.mp3"
  local folder=全部歌曲
  wc_songs "$folder" "01 歌.mp3" "02 歌.mp3" "03 歌.mp3" "04 歌.mp3" "05 歌.mp3" "06 歌.mp3"
  wc_start "$folder" KORVALO_TEST_KILL_AFTER=3 || { wc_fail "the window appears for the stop"; return; }
  wc_click Option1
  wc_click Command1
  wc_check "the process ends abruptly during the pass" wc_ended 30
  wc_check "three names carry a prefix, three do not" \
    test "$(wc_names "$folder" | grep -cE '^[0-9]{4}')/$(wc_names "$folder" | grep -cvE '^[0-9]{4}')" = 3/3
  local after
  # Started in another folder, the window offers the folder whose pass did not finish; Enter opens
  # it, and the folder asks its own question.
  wc_songs elsewhere 歌.mp3
  if wc_start elsewhere && wc_wait '^box kind=UnfinishedElsewhere' 0 10; then
    wc_check "a start elsewhere offers the unfinished pass: a question box titled 有未完成的改名" \
      sh -c "sed 's/^[0-9]* //' '$wc_log' | grep -q '^box kind=UnfinishedElsewhere icon=question title=有未完成的改名 '"
    # The log escapes a backslash as \\.
    wc_check "the offer names the Chinese folder as R:\\$folder" \
      sh -c "sed 's/^[0-9]* //' '$wc_log' | grep '^box kind=UnfinishedElsewhere' | grep -qF 'R:\\\\$folder'"
    sleep 0.5
    wc_shot start-up-offer 有未完成的改名
    import -display "$DISPLAY" -window root "$wc_shots/start-up-offer-screen.png" 2>/dev/null
    # Centred over the window, to a pixel or two of rounding.
    wc_check "the start-up box stands centred over the window" \
      sh -c "sed 's/^[0-9]* //' '$wc_log' | grep '^box-place ' | tail -1 | grep -qE 'offset=-?[0-2],-?[0-2]\$'"
    wc_key 有未完成的改名 Return
    wc_check "Enter opens that folder, which offers its unfinished pass" \
      wc_wait '^box kind=Recovery' 0 10
    after=$(wc_count '^state-end .*reason=finished')
    wc_key "$(wc_lines | grep '^box kind=Recovery' | tail -1 | sed 's/.* title=//; s/ text=.*//')" Return
    wc_wait '^state-end .*reason=finished' "$after" 30
    wc_check "Enter undoes it: every name as before" test "$(wc_names "$folder")" = "$originals"
    wc_check "after the undo Label3 says what was done" \
      test "$(wc_caption Label3)" = '已选文件夹共有6首歌曲，\n已改回原来的名字'
    wc_close || wc_fail "the window closes"
  else
    wc_fail "a start elsewhere offers the unfinished pass"
    kill "$wc_pid" 2>/dev/null
  fi
}

# Closing the window while a pass runs (each rename slowed by the test build): Esc goes on with the
# pass and keeps the window; Enter stops after the file in hand and closes it.
wc_close_during_pass() {
  wc_songs slow 1.mp3 2.mp3 3.mp3 4.mp3 5.mp3 6.mp3 7.mp3 8.mp3
  wc_start slow KORVALO_TEST_FILE_DELAY=2000 || { wc_fail "the window appears for closing"; return; }
  local after questions title
  after=$(wc_count '^state-end .*reason=finished')
  questions=$(wc_count '^box kind=CloseDuringPass')
  wc_click Option1
  wc_click Command1
  wc_key "$wc_title" alt+F4
  if wc_wait '^box kind=CloseDuringPass' "$questions" 10; then
    title=$(wc_lines | grep '^box kind=CloseDuringPass' | tail -1 | sed 's/.* title=//; s/ text=.*//')
    wc_key "$title" Escape
    wc_wait '^state-end .*reason=finished' "$after" 30
    wc_check "closing during a pass asks; Esc goes on: every name prefixed, the window stays" \
      test "$(wc_names slow | grep -cE '^[0-9]{4}')" = 8 -a "$(xdotool search --onlyvisible --name "^$wc_title\$" | wc -l)" -ge 1
  else
    wc_fail "closing during a pass asks the close question"
  fi
  questions=$(wc_count '^box kind=CloseDuringPass')
  wc_click Command2
  wc_key "$wc_title" alt+F4
  if wc_wait '^box kind=CloseDuringPass' "$questions" 10; then
    wc_key "$title" Return
    wc_check "Enter stops the pass and the window closes" wc_ended 30
    wc_check "the stopped removal left some names prefixed and some not" \
      test "$(wc_names slow | grep -cE '^[0-9]{4}')" -gt 0 -a "$(wc_names slow | grep -cvE '^[0-9]{4}')" -gt 0
  else
    wc_fail "closing during the removal asks the close question"
    wc_close
  fi
}

window_checks() {
  wc_exe=$1
  wc_scratch=$3
  wc_shots=$4
  wc_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  wc_runs=0
  mkdir -p "$wc_scratch/drive" "$wc_shots" "$WINEPREFIX/drive_c/korvalo"
  wc_drive="$wc_scratch/drive"
  wc_shots=$(cd "$wc_shots" && pwd)
  cp "$2" "$WINEPREFIX/drive_c/korvalo/korvalo.exe"
  wine_drive r "$wc_drive"
  local started=$SECONDS

  # KORVALO_WINDOW_CHECKS names some scenarios to run alone ("question close"); all by default.
  local scenario
  for scenario in ${KORVALO_WINDOW_CHECKS:-manifest window_and_layout empty_folder question stopped_pass close_during_pass}; do
    "wc_$scenario"
  done

  echo "The window's scenarios: $((SECONDS - started)) s; screenshots in $wc_shots"
}
