#pragma once

// Plans run through the folder session, as both front ends run them: a fresh FolderSession opens
// the folder, plans, and runs the plan on its worker thread. Used to compare finishing a pass that
// was stopped halfway with a whole pass over the same number of files.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// The phases of one plan through the session, in milliseconds of the benchmarks' clock.
struct SessionTimes
{
    double open = 0; // the session made, open(): the listing and the journal's view of the folder
    double plan = 0; // planPass() or planRecovery()
    double run = 0;  // run(): the renames, the stored order where the file system keeps it, the
                     // list re-read and the folder looked at again
    // The files were then stored in the list's order (FAT, exFAT).
    bool ordered = false;

    double total() const { return open + plan + run; }
};

// A whole shuffle pass through a session over the folder's `n` music files: open(), planPass(),
// run(). The journal goes to the state folder $XDG_STATE_HOME names. A pass that does not rename
// every file ends the benchmark.
SessionTimes sessionShuffle(const std::filesystem::path &folder, std::size_t n);

// A shuffle pass through a session stopped after `stopAfter` of the folder's `n` files, as a user
// stops it: its journal left with the pass unfinished. Not timed.
void stopShuffleAfter(const std::filesystem::path &folder, std::size_t n, std::size_t stopAfter);

// Finishing that pass as a user does the next time the folder is opened: a fresh session's open()
// finds it (checkForRecovery()), planRecovery(Finish), run() (recoverFolder()). `left` files are
// still to be renamed; a recovery that does not rename them all ends the benchmark.
SessionTimes sessionFinish(const std::filesystem::path &folder, std::size_t left);

// A folder for the journal that is never on the stick under test: /dev/shm when it is a tmpfs,
// else the system's temporary folder (a user's state folder is on the computer, not the stick).
std::filesystem::path localBase();

// The figure: in each repetition, two folders of the same `n` names; a shuffle in one is stopped
// at n / 2 (not timed); then, taking turns at going first, a whole shuffle pass through the session
// in the other and the stopped one finished through the session. Prints the phases and the spread
// of the per-repetition ratios, and the row (recovery against pass); returns whether the ratio
// holds the target (always, for a row that is not `binding`).
bool recoveryRow(const std::string &figure, std::size_t n, int reps, double target,
                 bool binding = true);

} // namespace bench
