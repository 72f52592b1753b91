#pragma once

// What korvalo-cli is connected to: whether its streams are terminals, and Ctrl-C.

#include "cli/cli.h"

namespace korvalo::cli {

// Sets what `console` knows of the terminal and takes over Ctrl-C (SIGINT): during a pass it
// only asks the pass to stop after the file in hand, so that no rename is cut off from its record;
// while a question waits, it ends the program at once with status 130.
void attachTerminal(Console &console);

} // namespace korvalo::cli
