#pragma once

// The unfinished passes the journal holds, in every folder it knows, and where each folder can be
// reached now: for the window's word at start-up and for `korvalo-cli status` with no folder.

#include "passes/statefolder.h"
#include "session/question.h"
#include "session/unfinishedpass.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace korvalo::session {

// Every unfinished pass in the journal kept in `journalFolder`, oldest first. A record that cannot
// be read is left out: opening its folder tells what is wrong with it.
std::vector<UnfinishedPass>
unfinishedPasses(const std::filesystem::path &journalFolder = stateFolder());

// What a window offers once at start-up: the unfinished passes whose folders are reachable now,
// other than `shown` (its own question comes as it opens). The question's answer is an index
// into `folders`, the folder to open, or kLater.
struct StartUpOffer
{
    Question question;
    std::vector<std::filesystem::path> folders;
};
std::optional<StartUpOffer> startUpOffer(const std::vector<UnfinishedPass> &passes,
                                         const std::filesystem::path &shown);

} // namespace korvalo::session
