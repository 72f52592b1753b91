#pragma once

// An unfinished pass the journal holds, and where its folder can be reached now: what
// unfinished.h finds and the texts tell.

#include "journal/passrecord.h"

#include <filesystem>

namespace korvalo::session {

struct UnfinishedPass
{
    JournalKey key;  // the folder as the record knows it: its volume and its path inside it
    PassRecord pass; // the pass that did not finish
    // Where the folder is mounted now; empty when it cannot be found.
    std::filesystem::path folder;
    // Its volume is mounted (the folder was moved or deleted); false when the stick is not
    // plugged in.
    bool volumePresent = false;
    // Not found, but not known to be gone either: a mount that may hold it did not answer in time
    // (a stopped FUSE daemon, a dead network share).
    bool unchecked = false;
    // Found, and another Korvalo holds its volume: the pass is running now, not unfinished.
    bool running = false;
};

} // namespace korvalo::session
