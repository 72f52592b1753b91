#pragma once

// Every text korvalo-cli shows, in one place: simplified Chinese, each saying what to do next.

#include "browse/listerror.h"
#include "passes/folderrecovery.h"
#include "passes/journal.h"
#include "passes/passes.h"

#include <filesystem>
#include <string>
#include <vector>

namespace korvalo::cli::text {

// A path as a shell reads it back: quoted only when it has to be.
std::string shellQuoted(const std::filesystem::path &path);
// A path or bare name between Chinese quotation marks.
std::string quoted(const std::filesystem::path &path);

std::string help();
std::string version();
// A command line that cannot be run, with what was wrong.
std::string badUse(const std::string &what);
std::string unknownCommand(const std::string &word);
std::string unknownOption(const std::string &option);
std::string optionNotFor(const std::string &option, const std::string &commands);
std::string conflictingOptions(const std::string &first, const std::string &second);
std::string missingCommand();
std::string missingFolder(const std::string &command);
std::string extraArgument(const std::string &word);
std::string missingRecoveryChoice();

// One text per cause of a failed listing or rename.
std::string causeText(Cause cause, int osError);
std::string folderFailure(const std::filesystem::path &folder, const ListError &error);

// The passes.
std::string passName(PassKind kind);
std::string songCount(int count);
std::string emptyList(const std::filesystem::path &folder);
std::string completed(PassKind kind, int renamed);
std::string keptDigits(int kept);
std::string renameFailure(PassKind kind, const PassResult &result, int total,
                          const std::filesystem::path &folder);
std::string stopped(PassKind kind, int renamed, int total, const std::filesystem::path &folder);
std::string volumeBusy();
// No private lock could be taken for the volume: which folder, why, what to do.
std::string lockUnavailable(const LockFailure &failure);
std::string unsafeDriver();
std::string journalFailure(const JournalError &error);
// The folder's record in the state folder is damaged: nothing is renamed until it is left.
std::string recordDamaged(const JournalError &error, const std::filesystem::path &folder);
std::string damagedRecordLeft(const std::filesystem::path &keptAs);
std::string journalAfterPass(const JournalError &error);
std::string nothingRenamed();
std::string cancelled();
std::string againDeclined(int prefixed);

// The questions a pass asks on a terminal, and what to type.
std::string digitQuestion(const std::vector<FileName> &others, int qualifying);
std::string digitPrompt();
std::string againQuestion(int prefixed, int listed);
std::string againPrompt();

// A dry run.
std::string dryRunHeading(PassKind kind);
std::string dryRunRename(const FileName &from, const FileName &to);
std::string dryRunSummary(PassKind kind, int renames, int kept);

// A folder's status and the recovery of an interrupted pass.
std::string statusHeading(const std::filesystem::path &folder, int count);
std::string statusPrefixed(int prefixed, int stacked);
std::string statusUnknownFolder(int lookPrefixed);
std::string statusOtherDigits(int others);
std::string statusNothingPending();
std::string statusBusy();
std::string pendingPass(const RecoveryPlan &plan, const std::filesystem::path &folder);
std::string pendingBlocksPass(const RecoveryPlan &plan, const std::filesystem::path &folder);
// After pendingPass(): why Korvalo did not settle that pass on its own
// (RecoveryCheck::Unconfirmed).
std::string stickUnconfirmed(const std::filesystem::path &folder);
std::string nothingToRecover(const std::filesystem::path &folder);
std::string cannotUndo(PassKind kind, const std::filesystem::path &folder);
std::string recovered(RecoveryChoice choice, int renamed);
std::string recoveryConflicts(const std::vector<FileName> &names);
std::string recoveryRefused(const std::vector<FileName> &names, const RenameOutcome &cause);
std::string recoveryFailed(const RecoveryResult &result);
std::string recoveryStopped(int renamed, const std::filesystem::path &folder);

// The stored order of a folder on FAT or exFAT, and the folder its files pass through for it.
std::string storedOrderNotArranged(const PassResult &result);
// A pass that renamed every file but left some in the folder they passed through (filesLeftIn).
std::string filesLeftOut(const PassResult &result);
std::string orderingFolder(const std::filesystem::path &folder);
std::string orderedFilesReturned(int moved, const std::filesystem::path &parent);

} // namespace korvalo::cli::text
