#pragma once

// The renames of korvalo.exe's and korvalo-cli.exe's passes as the checks under Wine hold them up,
// where no debugger or system call hook can stop a program at a known point of a pass (the
// renames happen in the wineserver). Read once from the environment, inert without it:
//   KORVALO_TEST_KILL_AFTER=n   right after the n-th rename that worked the process ends at once,
//                               exit code 137: nothing is flushed, closed or recorded, so the
//                               journal is left as a killed program leaves it.
//   KORVALO_TEST_FILE_DELAY=MS  every rename takes MS milliseconds more, so that a pass lasts long
//                               enough to be closed while it runs.
// Only the passes' renames count (of the music folder and of the ordering folder), not the
// journal's own.

#include "passes/rename.h"

korvalo::RenameSystem &hookedRenameCalls();
