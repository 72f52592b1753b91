# The installer and the portable zip under Wine, sourced by scripts/test-windows.sh: a silent
# install and uninstall with the files, shortcuts and the Apps & features entry checked, and the
# zip's contents. Runs with no persistent wineserver: "wineserver -w" has to return once the
# uninstaller's copy in %TEMP% is done.

uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvalo'

# reg query VALUE: prints the value's data.
reg_value() {
  wine_run reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

# The DLLs a program imports that Windows does not bring: none, for a static build.
foreign_dlls() {
  x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print $3 }' |
    grep -viE '^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|uxtheme|dwmapi|msvcrt|ucrtbase|api-ms-win-.*)\.dll$' || true
}

# A stripped program has no debugging sections.
debug_sections() {
  x86_64-w64-mingw32-objdump -h "$1" | awk '$2 ~ /^\.debug/ { print $2 }'
}

package_checks() {
  local program
  for program in "$cli_exe" ${window_exe:+"$window_exe"}; do
    check_equal "$(basename "$program") needs no DLL beside it" "" "$(foreign_dlls "$program")"
    check_equal "$(basename "$program") is stripped" "" "$(debug_sections "$program")"
  done

  local program_dir="$WINEPREFIX/drive_c/Program Files/Korvalo"
  local menu_dir="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvalo"
  local status out size

  status=0
  wine_run "$setup" /S >/dev/null 2>&1 || status=$?
  "$wineserver" -w
  check_equal "the installer's silent install ends with 0" 0 "$status"
  check "korvalo-cli.exe is in Program Files\\Korvalo" cmp "$cli_exe" "$program_dir/korvalo-cli.exe"
  if [ -n "$window_exe" ]; then
    check "korvalo.exe is in Program Files\\Korvalo" cmp "$window_exe" "$program_dir/korvalo.exe"
    check "a Start-menu shortcut to the window" test -f "$menu_dir/Korvalo.lnk"
  fi
  check "COPYING.txt, README.txt and the uninstaller are beside it" \
    test -f "$program_dir/COPYING.txt" -a -f "$program_dir/README.txt" -a -f "$program_dir/uninstall.exe"
  check "the installed COPYING.txt is the licence" \
    bash -c "diff <(tr -d '\r' <'$program_dir/COPYING.txt') '$source_dir/COPYING'"
  # Named in the installer's language, which follows the prefix's locale.
  check "a Start-menu shortcut to the command line" \
    test -f "$menu_dir/Korvalo 命令行.lnk" -o -f "$menu_dir/Korvalo command line.lnk"
  check_equal "Apps & features: DisplayName" "Korvalo" "$(reg_value DisplayName)"
  check_equal "Apps & features: DisplayVersion" "$version" "$(reg_value DisplayVersion)"
  check_equal "Apps & features: Publisher" "Korvalo" "$(reg_value Publisher)"
  check_equal "Apps & features: InstallLocation" 'C:\Program Files\Korvalo' \
    "$(reg_value InstallLocation)"
  check_equal "Apps & features: UninstallString" '"C:\Program Files\Korvalo\uninstall.exe"' \
    "$(reg_value UninstallString)"
  size=$(reg_value EstimatedSize)
  check "Apps & features: EstimatedSize in KB ($size)" test "$((size))" -gt 100
  out=$(wine_run 'C:\Program Files\Korvalo\korvalo-cli.exe' --version 2>/dev/null) || true
  check_equal "the installed korvalo-cli.exe runs" "korvalo-cli (Korvalo) $version" "$out"

  status=0
  wine_run 'C:\Program Files\Korvalo\uninstall.exe' /S >/dev/null 2>&1 || status=$?
  "$wineserver" -w
  check_equal "the uninstaller's silent run ends with 0" 0 "$status"
  check "the uninstaller removed Program Files\\Korvalo" test ! -e "$program_dir"
  check "the uninstaller removed the Start-menu folder" test ! -e "$menu_dir"
  check "the uninstaller removed the Apps & features entry" \
    bash -c "! '$wine' reg query '$uninstall_key'"

  # The portable zip: one folder with the programs, the licence and the README.
  local unpacked="$scratch/zip" top="korvalo-$version-windows"
  mkdir -p "$unpacked"
  unzip -q "$zipfile" -d "$unpacked"
  local expected="$top/COPYING.txt $top/README.txt $top/korvalo-cli.exe"
  [ -z "$window_exe" ] || expected+=" $top/korvalo.exe"
  check_equal "the zip holds the programs, COPYING.txt and README.txt" "$expected" \
    "$(cd "$unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
  check "the zip's korvalo-cli.exe is the one built" cmp "$cli_exe" "$unpacked/$top/korvalo-cli.exe"
  check "the zip's COPYING.txt is the licence" \
    bash -c "diff <(tr -d '\r' <'$unpacked/$top/COPYING.txt') '$source_dir/COPYING'"
  out=$(cd "$unpacked/$top" && wine_run ./korvalo-cli.exe --version 2>/dev/null) || true
  check_equal "korvalo-cli.exe runs from the unpacked zip" "korvalo-cli (Korvalo) $version" "$out"
}
