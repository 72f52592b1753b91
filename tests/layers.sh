#!/bin/sh
# The layers hold: the core and the session include no toolkit and no iostream, and korvalo-cli's
# code writes no text of its own beyond its help (clitext.cpp): every other text is the session's.
# Platform code lives in *_posix.* and *_windows.* files only, and no two units (a header and its
# source, with their platform files) include each other, however far round. Shipped code reads no
# test switch: the tests inject, or hold a test build of their own. Called with the src folder.
src=${1:?the src folder}
status=0
if grep -nE '#include <(Q[A-Za-z]*|iostream)>' -r "$src/browse" "$src/journal" "$src/passes" "$src/session"; then
  echo "The core and the session include no toolkit and no iostream." >&2
  status=1
fi
# In the core, browse/ builds on nothing else and journal/ on browse/ alone (passes/ on both).
if grep -rn '#include "' "$src/browse" "$src/journal" | grep -vE \
  '/browse/[^:]*:[0-9]+:#include "browse/|/journal/[^:]*:[0-9]+:#include "(browse|journal)/'; then
  echo "browse/ builds on nothing else in src/, journal/ on browse/ alone." >&2
  status=1
fi
# Any byte outside ASCII: a Chinese text written in the front end.
if grep -nP '[^\x00-\x7F]' "$src"/cli/*.cpp "$src"/cli/*.h | grep -v '/clitext\.'; then
  echo "korvalo-cli's texts are the session's (src/session/texts.cpp), its help excepted." >&2
  status=1
fi
# A path built from a std::string reads it in the system's code page on Windows, where Korvalo's
# strings are UTF-8: every such path is made by pathFromUtf8() (browse/utf8path.h).
if grep -nE '(fs|filesystem)::path\((std::string\b|[A-Za-z_.>-]*(pathInVolume|\.root|\.mountPoint)\b)|emplace_back\([a-z]+\.mountPoint\)' \
  -r "$src/browse" "$src/journal" "$src/passes" "$src/session" "$src/cli" "$src/qtwindow" "$src/win32" |
  grep -vE '/utf8path\.cpp:|_posix\.cpp:'; then
  echo "A path from a UTF-8 string is made by pathFromUtf8(), never by std::filesystem::path." >&2
  status=1
fi
# A platform branch in a shared file.
if grep -nE '^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif).*\b_?WIN(32|64)\b' -r "$src" \
  --include='*.cpp' --include='*.h' | grep -vE '_(posix|windows)\.(cpp|h):'; then
  echo "Platform code goes in *_posix.* and *_windows.* files, not behind #ifdef _WIN32." >&2
  status=1
fi
# A test switch read from the environment (getenv, _wgetenv, qgetenv alike).
if grep -rn 'KORVALO_TEST_' "$src"; then
  echo "Shipped code reads no KORVALO_TEST_ variable: tests inject, or build a test program." >&2
  status=1
fi
# Include cycles between units: "a/b" stands for a/b.h, a/b.cpp, a/b_posix.cpp, a/b_windows.cpp.
if ! find "$src" -name '*.cpp' -o -name '*.h' | sort | xargs grep -H '^#include "' | awk -v src="$src/" '
  function unit(path) {
    sub("^" src, "", path); sub(/\.(cpp|h)$/, "", path); sub(/_(posix|windows)$/, "", path)
    return path
  }
  function visit(u, path,   i, v) {
    state[u] = 1
    for (i = 1; i <= count[u]; i++) {
      v = to[u, i]
      if (state[v] == 1) { print "include cycle: " path " -> " v; found = 1 }
      else if (!state[v]) visit(v, path " -> " v)
    }
    state[u] = 2
  }
  {
    split($0, part, ":"); from = unit(part[1])
    match($0, /"[^"]*"/); target = unit(src substr($0, RSTART + 1, RLENGTH - 2))
    if (from != target && !seen[from, target]++) { to[from, ++count[from]] = target; units[from] }
  }
  END { for (u in units) if (!state[u]) visit(u, u); exit found }'; then
  echo "Units include each other: break the cycle." >&2
  status=1
fi
exit $status
