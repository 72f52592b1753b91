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
exit $status
