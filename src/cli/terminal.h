#pragma once

// What korvalo-cli is connected to: whether its streams are terminals, and the requests to stop.

#include "cli/cli.h"

namespace korvalo::cli {

// Sets what `console` knows of the terminal and takes over the requests to stop: Ctrl-C (SIGINT),
// the terminal closed (SIGHUP) and the end asked by the system (SIGTERM: a logout, systemd,
// `timeout`); on Windows Ctrl-C and Ctrl-Break, the console window closed and the user logging off
// or the system shutting down. During a pass each only asks the pass to stop after the file in
// hand, so that no rename is cut off from its record, and the program then ends with the status of
// its own (kInterrupted, kHangUp, kTerminated); while a question waits, it ends the program at once
// with that status.
void attachTerminal(Console &console);

} // namespace korvalo::cli
