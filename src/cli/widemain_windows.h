#pragma once

// korvalo-cli's start on Windows: the console's streams, its Ctrl-C and the wide arguments around
// one run of a command line.

#include "passes/rename.h"

namespace korvalo::cli {

// Runs the command line of wmain() and gives its exit status; the passes rename through
// `renameCalls`.
int runWide(int argc, wchar_t *argv[], RenameSystem &renameCalls = systemRenameCalls());

} // namespace korvalo::cli
