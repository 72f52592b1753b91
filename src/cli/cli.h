#pragma once

// korvalo-cli: both passes, a folder's status and the recovery of an interrupted pass from a
// command line, for scripts and machines without a desktop. The same pass lock, journal and
// questions as the window; a question becomes an option, asked on a terminal, and answered the
// safe way anywhere else.

#include "passes/rename.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace korvalo::cli {

// The exit statuses, as --help tells them.
enum ExitStatus : int
{
    kDone = 0,
    kRenameFailed = 1, // a file could not be renamed or was left in the ordering folder, the
                       // stored order was not arranged, the record or the output not written
    kBadUse = 2,       // a command line that cannot be run, or a folder that cannot be read
    kRefused = 3,      // nothing was renamed: the volume is busy, fusefat, cancelled, a recovery
                       // waits, the journal cannot be written
    // Stopped on request, as a shell tells a program a signal ended (128 and the signal's
    // number); while storing in order, with every file back.
    kHangUp = 129,      // the terminal was closed (SIGHUP; the console window on Windows)
    kInterrupted = 130, // Ctrl-C (SIGINT; Ctrl-Break too on Windows)
    kTerminated = 143   // the system asked the program to end (SIGTERM; a logoff on Windows)
};

// What the program talks to.
struct Console
{
    std::istream &in;
    std::ostream &out; // results: lists, renames, summaries
    std::ostream &err; // errors, questions and the progress line
    // The input is a terminal: a question without its option is asked there.
    bool askQuestions = false;
    // The error stream is a terminal: a pass draws a progress line on it.
    bool showProgress = false;
    // True once the user or the system asked to stop (Ctrl-C, the terminal closed, SIGTERM): a
    // pass stops after the file in hand.
    std::function<bool()> interrupted = [] { return false; };
    // The exit status of that request.
    std::function<int()> stopStatus = [] { return int(kInterrupted); };
    // Called with true before a question waits for its answer and with false after it: nothing
    // is being renamed in between, so a stop may end the program at once.
    std::function<void(bool)> asking = [](bool) {};
};

// Runs one command line (the arguments after the program's name); returns the exit status. The
// passes rename through `renameCalls`.
int run(const std::vector<std::string> &args, Console &console,
        RenameSystem &renameCalls = systemRenameCalls());

} // namespace korvalo::cli
