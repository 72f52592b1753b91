#!/bin/sh
# The layers hold: the core and the session include no toolkit and no iostream, and korvalo-cli's
# code writes no text of its own beyond its help (clitext.cpp): every other text is the session's.
# Called with the src folder.
src=${1:?the src folder}
status=0
if grep -nE '#include <(Q[A-Za-z]*|iostream)>' -r "$src/browse" "$src/passes" "$src/session"; then
  echo "The core and the session include no toolkit and no iostream." >&2
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
  -r "$src/browse" "$src/passes" "$src/session" "$src/cli" "$src/window" "$src/win32" |
  grep -vE '/utf8path\.cpp:|_posix\.cpp:'; then
  echo "A path from a UTF-8 string is made by pathFromUtf8(), never by std::filesystem::path." >&2
  status=1
fi
exit $status
