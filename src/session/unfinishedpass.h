#pragma once

// An unfinished pass the journal holds, and where its folder can be reached now: what
// unfinished.h finds and the texts tell.

#include "passes/passrecord.h"

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
};

} // namespace korvalo::session
