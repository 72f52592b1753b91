#pragma once

// Opening a folder: what the journal says of an unfinished pass there, and carrying out the
// user's choice about it under the volume's pass lock.

#include "browse/mountinfo.h"
#include "journal/journalkey.h"
#include "journal/passlock.h"
#include "passes/ordering.h"
#include "passes/progresssink.h"
#include "passes/recoveryplan.h"
#include "passes/rename.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace korvalo {

// What opening a folder finds in the journal.
struct PendingRecovery
{
    JournalKey key;
    RecoveryPlan plan; // plan.status: which pass, when, how many of how many files
    // RecoveryCheck::LockUnavailable: why no lock could be taken for the volume.
    LockFailure lockFailure;
    // What the plan was worked out from (the record's text, the folder's names), so that the
    // recovery can tell whether it still holds; 0 when unknown.
    std::uint64_t recordGeneration = 0;
    std::uint64_t namesPrint = 0;
};

enum class RecoveryCheck
{
    Nothing, // no unfinished pass (or one that was settled without asking)
    Pending, // an unfinished pass: ask the user
    // An unfinished pass with nothing to ask about, but nothing tells that the folder is on the
    // stick the pass was made on: the identity of the stick, or the one the record names, could
    // not be read, and sticks written from one image have the same key. It is not settled, and
    // passes are refused until the user chooses what to do about it (out is filled as for
    // Pending).
    Unconfirmed,
    VolumeBusy,      // another Korvalo holds the volume's lock: ask again later
    LockUnavailable, // no private lock can be taken for the volume (out.lockFailure says why)
    JournalFailed,   // the journal could not be read or written
    Damaged          // the folder's record is damaged (see the error's path): nothing may be
                     // renamed until the user leaves the folder as it is (leaveDamagedRecord())
};

enum class CheckMode
{
    // Opening a folder to work in it: an unfinished pass with nothing to ask about (nothing
    // renamed yet, or every file renamed without a conflict) is settled silently when the record
    // is known to be this stick's, and a completed pass is folded into the record.
    Settle,
    // A look only (the status): nothing is written; a pass that opening the folder would settle
    // silently gives Nothing.
    ReadOnly
};

// Looks up the folder's journal record. Tells the journal the folder it is about
// (Journal::setFolder()). `record`, when given, receives the record as last read (empty when it
// could not be read), so that a caller counting the folder's prefixes need not read it again: what
// settling or folding writes afterwards says the same about the names.
RecoveryCheck checkForRecovery(const std::filesystem::path &folder, Journal &journal,
                               PendingRecovery &out, JournalError *error = nullptr,
                               CheckMode mode = CheckMode::Settle, FolderRecord *record = nullptr);
// The same with the folder's key given (journalKeyOf(folder) above).
RecoveryCheck checkForRecovery(const std::filesystem::path &folder, const JournalKey &key,
                               Journal &journal, PendingRecovery &out,
                               JournalError *error = nullptr, CheckMode mode = CheckMode::Settle,
                               FolderRecord *record = nullptr);

struct RecoveryResult
{
    enum class Status
    {
        Done,            // the choice was carried out (conflicts and refusals are listed; how the
                         // files were stored in order afterwards is in `ordering`)
        VolumeBusy,      // another Korvalo holds the volume's lock: nothing was renamed
        LockUnavailable, // no private lock can be taken (see lockFailure): nothing was renamed
        Failed           // the journal could not be written, or the medium went away
    };
    Status status = Status::Done;
    int renamed = 0;
    std::vector<FileName> conflicts; // files renamed by someone else since: reported, never forced
    std::vector<FileName> refused;   // renames the file system refused
    RenameOutcome cause;             // the last refusal's cause
    JournalError journalError;
    LockFailure lockFailure;          // with Status::LockUnavailable
    std::filesystem::path keptRecord; // leaveDamagedRecord(): where the damaged record is now
    // The progress sink's step() asked to stop: the renames after that file were not made.
    bool stopped = false;
    // After a shuffle, a removal or a restore was finished or undone in full on FAT or exFAT: the
    // files stored in the list's order, as after a completed pass (see ordering.h). Files that
    // could not be moved back are in ordering.filesLeftIn.
    OrderingOutcome ordering;
};

// Carries out `choice` for the pass `pending` describes (from checkForRecovery() on the same
// folder). The progress sink is started with the count of renames and stepped after each.
// For files left in the folder they passed through to be stored in order (plan.status.kind ==
// PassKind::Order, plan.finish the files there) every choice moves them back (see ordering.h).
// Otherwise, on FAT and exFAT, a recovery that made every rename it chose (Undo or Finish, none
// refused or stopped) then stores the folder's listed files in the list's order, as a completed
// pass does (wherever `storedOrder` says); the sink's ordering() may stop that (see
// progresssink.h).
RecoveryResult recoverFolder(const std::filesystem::path &folder, Journal &journal,
                             const PendingRecovery &pending, RecoveryChoice choice,
                             ProgressSink &progress,
                             StoredOrderRule storedOrder = StoredOrderRule::FatAndExfat);

// The user's "leave the folder as it is" for a folder whose record is damaged (RecoveryCheck::
// Damaged): under the volume's lock, the record is set aside beside itself (keptRecord) and the
// folder is one the journal does not know. Nothing in the folder is renamed. Done with nothing
// set aside when the record is no longer damaged.
RecoveryResult leaveDamagedRecord(const std::filesystem::path &folder, Journal &journal);

// Moves every entry of an ordering folder back into the folder above it under its own name (the
// names the journal recorded first, in their order), then removes the ordering folder once it is
// empty. Works without a record too (a pass that kept no journal). Takes the volume's lock; the
// progress sink is started with the count of moves and stepped after each. A name taken in the
// folder above is never forced: that file stays and is listed in conflicts.
RecoveryResult returnOrderedFiles(const std::filesystem::path &orderingFolder, Journal &journal,
                                  ProgressSink &progress);

// The same for a caller that holds the volume's lock already: `orderName` is the bare name of the
// ordering folder inside `folder`, `key` the journal's key of `folder`.
RecoveryResult returnOrderedFilesLocked(const std::filesystem::path &folder,
                                        const FileName &orderName, Journal &journal,
                                        const JournalKey &key, ProgressSink &progress,
                                        StoredOrderRule storedOrder = StoredOrderRule::FatAndExfat);

} // namespace korvalo
