#pragma once

// The unfinished passes the journal holds, in every folder it knows, and where each folder can be
// reached now: for the window's word at start-up and for `korvalo-cli status` with no folder.

#include "journal/statefolder.h"
#include "session/question.h"
#include "session/unfinishedpass.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace korvalo::session {

// How long one look-up on a mount may take before the folder is told as not checked.
inline constexpr std::chrono::milliseconds kLookUpLimit{1500};

// Every unfinished pass in the journal kept in `journalFolder`, oldest first. A record that cannot
// be read is left out: opening its folder tells what is wrong with it. A folder is looked for only
// on the mounts of its own volume, each look-up given up after kLookUpLimit, so that a mount that
// does not answer delays the scan by that much and no more.
std::vector<UnfinishedPass>
unfinishedPasses(const std::filesystem::path &journalFolder = stateFolder());

// unfinishedPasses() on a thread of its own, so that a window paints at once and answers while it
// runs: `done` is called on that thread with what was found. The destructor waits for the end,
// which every look-up's limit bounds.
class StartUpScan
{
public:
    explicit StartUpScan(std::function<void(std::vector<UnfinishedPass>)> done,
                         std::filesystem::path journalFolder = stateFolder());
    ~StartUpScan();
    StartUpScan(const StartUpScan &) = delete;
    StartUpScan &operator=(const StartUpScan &) = delete;

private:
    std::thread m_thread;
};

// What a window offers once at start-up: the unfinished passes whose folders are reachable now,
// other than `shown` (its own question comes as it opens). The question's answer is an index
// into `folders` (OpenFolder), the folder to open, or Later.
struct StartUpOffer
{
    Question question;
    std::vector<std::filesystem::path> folders;
};
std::optional<StartUpOffer> startUpOffer(const std::vector<UnfinishedPass> &passes,
                                         const std::filesystem::path &shown);

} // namespace korvalo::session
