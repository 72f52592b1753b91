# korvalo-cli.exe under Wine, sourced by scripts/test-windows.sh: wide arguments, UTF-8 output,
# both passes and the listing on a drive letter, exit statuses, and a pass killed midway then
# finished by the recovery. Every name and content is checked on disk from Linux: each test file
# holds its own first name, so a renamed file shows what it was called.

# run_cli ARGS...: sets cli_status, cli_out and cli_err.
run_cli() {
  cli_status=0
  cli_out=$(wine_run "$cli_exe" "$@" </dev/null 2>"$scratch/cli-err") || cli_status=$?
  cli_err=$(cat "$scratch/cli-err")
}

# Every file still has the name it holds.
names_original() {
  local f
  for f in "$1"/*; do
    [ "$(<"$f")" = "${f##*/}" ] || { echo "renamed: ${f##*/}"; return 1; }
  done
}

# How many music files carry four digits in front of the name they hold; any other difference
# in a name or a content is reported and counted as -1.
prefixed_count() {
  local f name content count=0
  for f in "$1"/*; do
    name=${f##*/}
    content=$(<"$f")
    if [ "$name" = "$content" ]; then
      continue
    elif [[ $name =~ ^[1-9][0-9]{3} ]] && [ "${name:4}" = "$content" ] &&
      [[ ${content,,} == *.mp3 || ${content,,} == *.flac ]]; then
      count=$((count + 1))
    else
      echo "unexpected: $name holding $content" >&2
      echo -1
      return
    fi
  done
  echo "$count"
}

make_files() {
  local dir=$1 name
  shift
  mkdir -p "$dir"
  for name in "$@"; do printf '%s' "$name" >"$dir/$name"; done
}

cli_checks() {
  # R: is set up by the caller, as an empty folder.
  local drive="$scratch/drive-r" songs stopped listed expected out
  songs="$drive/歌曲"
  # Names from the Basic plane and beyond it (surrogate pairs in UTF-16), a name with its own four
  # digits, an upper-case extension, and a file that is no music.
  local names=("月亮代表我的心.mp3" "甜蜜蜜.flac" "但愿人长久.MP3" "𠀀𠀁 扩展区.mp3"
    "夜来香 (1957).flac" "2019 演唱会.mp3" "封面.jpg")
  make_files "$songs" "${names[@]}"

  run_cli --version
  check_equal "korvalo-cli.exe --version" "korvalo-cli (Korvalo) $version" "$cli_out"
  run_cli --help
  check_equal "--help, redirected, is UTF-8 Chinese" "用法：korvalo-cli 命令 文件夹 [选项]" \
    "$(head -n 1 <<<"$cli_out")"
  # A pseudo-terminal makes Wine give the program a console: the text goes through WriteConsoleW.
  out=$(script -q -e -c "'$wine' '$cli_exe' --help" /dev/null </dev/null 2>&1 | tr -d '\r') || true
  check "--help on a console shows Chinese" grep -qF "用法：korvalo-cli 命令 文件夹 [选项]" <<<"$out"

  run_cli frobnicate 'R:\歌曲'
  check_equal "an unknown command: exit status 2" 2 "$cli_status"
  check "an unknown command: told in Chinese on the error stream" \
    grep -qF "没有“frobnicate”这个命令" <<<"$cli_err"
  run_cli list 'R:\没有这个文件夹'
  check_equal "listing a missing folder: exit status 2" 2 "$cli_status"
  check "listing a missing folder: its Chinese name comes back in the message" \
    grep -qF "没有这个文件夹" <<<"$cli_err"

  run_cli list 'R:\歌曲'
  check_equal "list R:\\歌曲: exit status 0" 0 "$cli_status"
  listed=$(head -n -1 <<<"$cli_out" | LC_ALL=C sort)
  expected=$(printf '%s\n' "${names[@]}" | grep -v '\.jpg$' | LC_ALL=C sort)
  check_equal "list R:\\歌曲: every music file by its Chinese name" "$expected" "$listed"
  check_equal "list R:\\歌曲: the count" "已选文件夹共有6首歌曲" "$(tail -n 1 <<<"$cli_out")"

  run_cli shuffle 'R:\歌曲'
  check_equal "shuffle R:\\歌曲: exit status 0" 0 "$cli_status"
  check_equal "shuffle: all 6 music files prefixed on disk, contents kept" 6 "$(prefixed_count "$songs")"
  check "shuffle: the picture keeps its name" test -f "$songs/封面.jpg"
  run_cli list 'R:\歌曲'
  listed=$(head -n -1 <<<"$cli_out" | LC_ALL=C sort)
  expected=$(cd "$songs" && ls | grep -v '\.jpg$' | LC_ALL=C sort)
  check_equal "list after the shuffle shows the new names" "$expected" "$listed"
  run_cli status 'R:\歌曲'
  check_equal "status after the shuffle: exit status 0" 0 "$cli_status"
  check "status after the shuffle counts 6 files" grep -qF "6" <<<"$cli_out"

  run_cli remove 'R:\歌曲'
  check_equal "remove R:\\歌曲: exit status 0" 0 "$cli_status"
  check "remove: every name back as it was, its own four digits kept" names_original "$songs"

  # A pass killed after five renames (korvalo-cli's test build), then finished.
  stopped="$drive/停下"
  local many=() i
  for i in $(seq -w 1 12); do many+=("第${i}首 歌.mp3"); done
  make_files "$stopped" "${many[@]}"
  cli_status=0
  KORVALO_TEST_KILL_AFTER=5 wine_run "$cli_hooked_exe" shuffle 'R:\停下' >/dev/null </dev/null 2>&1 || cli_status=$?
  check_equal "a shuffle killed after 5 renames ends with 137" 137 "$cli_status"
  check_equal "the killed shuffle left 5 of 12 names prefixed" 5 "$(prefixed_count "$stopped")"
  run_cli shuffle 'R:\停下'
  check_equal "another shuffle is refused while the recovery waits (status 3)" 3 "$cli_status"
  run_cli recover 'R:\停下' --finish
  check_equal "recover --finish: exit status 0" 0 "$cli_status"
  check_equal "recover --finish: all 12 names prefixed, contents kept" 12 \
    "$(prefixed_count "$stopped")"
  run_cli remove 'R:\停下'
  check_equal "after the recovery the folder takes a pass again" 0 "$cli_status"
  check "and every name is back" names_original "$stopped"

  ctrl_c_checks "$drive"
}

# Ctrl-C typed on a console (a pseudo-terminal, see ctrl-c.py): through the console handler while
# a question waits and during a pass.
ctrl_c_checks() {
  local drive=$1 asked="$1/再来" long="$1/很多" status count out i
  local typer=("$source_dir/scripts/windows/ctrl-c.py")
  if ! command -v python3 >/dev/null; then
    fail_line "Ctrl-C on a console" "python3 is missing"
    return
  fi
  make_files "$asked" "山歌.mp3" "渔歌.flac"
  run_cli shuffle 'R:\再来'
  # A second shuffle asks on a console whether to put a second number in front.
  status=0
  out=$("${typer[@]}" "请选择" "$wine" "$cli_exe" shuffle 'R:\再来' </dev/null) || status=$?
  check "a second shuffle on a console asks first" grep -qF "请选择 [r/y/n]" <<<"$out"
  check_equal "Ctrl-C while the question waits ends the program with 130" 130 "$status"
  check_equal "and renames nothing" 2 "$(prefixed_count "$asked")"

  # So many files that the pass is still renaming when its progress line first shows.
  mkdir -p "$long"
  for i in $(seq 1000 2999); do printf '%s' "第${i}首.mp3" >"$long/第${i}首.mp3"; done
  status=0
  out=$("${typer[@]}" "随机排序 " "$wine" "$cli_exe" shuffle 'R:\很多' </dev/null) || status=$?
  check_equal "Ctrl-C during a shuffle on a console ends it with 130" 130 "$status"
  count=$(prefixed_count "$long")
  check "the stopped shuffle renamed some files and not all ($count of 2000)" \
    test "$count" -gt 0 -a "$count" -lt 2000
  run_cli recover 'R:\很多' --undo
  check_equal "recover --undo after Ctrl-C: exit status 0" 0 "$cli_status"
  check "recover --undo gives every name back" names_original "$long"
}
