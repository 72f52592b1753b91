#include "passes/folderrecovery.h"

#include "browse/musicfilelist.h"
#include "journal/passlock.h"
#include "passes/ordering.h"
#include "passes/passes.h"
#include "passes/rename.h"
#include "passes/volumeclaim.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace korvalo {

namespace {

// The volume's lock for a recovery, held while the claim lives. Putting names back is not refused
// for the driver, so only the lock is claimed. A folder that cannot be stat'ed has no lock to
// take; the renames will say why they fail.
VolumeClaim lockVolume(const std::filesystem::path &folder, const Journal &journal)
{
    return claimVolume(folder, ClaimMode::Hold, MountLookup::None, journal.lockFolder());
}

// The volume's lock for a recovery; not granted, with the result's status saying why, when it is
// not to be had.
VolumeClaim lockForRecovery(const std::filesystem::path &folder, const Journal &journal,
                            RecoveryResult &result)
{
    VolumeClaim claim = lockVolume(folder, journal);
    switch (claim.refusal) {
    case VolumeClaim::Refusal::None:
        break;
    case VolumeClaim::Refusal::Busy:
    case VolumeClaim::Refusal::UnsafeDriver: // not claimed with a mount: never given
        result.status = RecoveryResult::Status::VolumeBusy;
        break;
    case VolumeClaim::Refusal::Unavailable:
        result.status = RecoveryResult::Status::LockUnavailable;
        result.lockFailure = claim.lockFailure;
        break;
    }
    return claim;
}

// A record whose last pass completed holds that pass name by name until it is folded in. Done
// here, once, when the folder is opened, so that later openings read each name once instead of
// folding the pass again. Only under the volume's lock, where no pass of another Korvalo can be
// writing the record; a failure leaves the record as readable as it was.
void foldCompletedPass(const std::filesystem::path &folder, Journal &journal, const JournalKey &key)
{
    if (lockVolume(folder, journal).granted())
        journal.foldCompleted(key);
}

// The folder's names as one number, whatever their order: a plan made from names with the same
// print was made from the same names.
std::uint64_t printOf(const std::vector<FileName> &names)
{
    std::uint64_t sum = names.size(), mixed = 0;
    for (const FileName &name : names) {
        const std::uint64_t h = std::hash<FileName>{}(name);
        sum += h;
        mixed ^= h * 0x9E3779B97F4A7C15ull + (h >> 29);
    }
    return (sum ^ (mixed * 0xBF58476D1CE4E5B9ull)) | 1; // never 0, which means unknown
}

// Nothing to ask: nothing was renamed, or every file was, as planned.
bool nothingToAsk(const RecoveryPlan &plan)
{
    const RecoveryStatus &s = plan.status;
    return s.done == 0 || (s.done == s.fileCount && s.done == s.recorded && s.missing == 0 &&
                           plan.finishConflicts.empty() && plan.finish.empty());
}

// After a recovery that shuffled the folder's names, or put them back: on FAT and exFAT its
// files are stored in the list's order, as after a completed pass, so that players that play the
// stored order play the names as they now are.
OrderingOutcome arrangeAfterRecovery(const std::filesystem::path &folder, Journal &journal,
                                     const JournalKey &key, ProgressSink &progress,
                                     StoredOrderRule rule)
{
    OrderingOutcome out;
    if (!keepsStoredOrder(folder, rule))
        return out;
    MusicFileList list;
    if (const ListError error = list.setFolder(folder); !error.ok()) {
        out.order = StoredOrder::NotArranged;
        out.cause = {error.kind, error.osError};
        return out;
    }
    const std::vector<FileName> names = listedNames(list);
    if (storedInListOrder(folder, names)) {
        out.order = names.empty() ? StoredOrder::NotApplicable : StoredOrder::Arranged;
        return out; // files moved back in the list's order after a kill late in the moves back
    }
    return arrangeStoredOrder({folder, names, systemRenameCalls(), progress, &journal, key});
}

} // namespace

RecoveryCheck checkForRecovery(const std::filesystem::path &folder, Journal &journal,
                               PendingRecovery &out, JournalError *error, CheckMode mode,
                               FolderRecord *recordRead)
{
    if (error)
        *error = {};
    if (recordRead)
        *recordRead = {};
    const std::optional<JournalKey> key = journalKeyOf(folder);
    if (!key)
        return RecoveryCheck::Nothing;
    return checkForRecovery(folder, *key, journal, out, error, mode, recordRead);
}

RecoveryCheck checkForRecovery(const std::filesystem::path &folder, const JournalKey &key,
                               Journal &journal, PendingRecovery &out, JournalError *error,
                               CheckMode mode, FolderRecord *recordRead)
{
    FolderRecord own;
    FolderRecord &record = recordRead ? *recordRead : own;
    record = {};
    const auto fail = [&](const JournalError &err) {
        if (error)
            *error = err;
        // Without a state folder there is no journal, so nothing to recover; the passes say so.
        if (err.kind == JournalError::Kind::NoStateFolder)
            return RecoveryCheck::Nothing;
        return err.kind == JournalError::Kind::Damaged ? RecoveryCheck::Damaged
                                                       : RecoveryCheck::JournalFailed;
    };
    if (error)
        *error = {};
    out.lockFailure = {};
    out.recordGeneration = 0;
    out.namesPrint = 0;
    const bool settle = mode == CheckMode::Settle;
    journal.setFolder(folder);
    if (const JournalError err = journal.load(key, record); !err.ok())
        return fail(err);
    if (!record.pending) {
        if (record.passToFold && settle)
            foldCompletedPass(folder, journal, key);
        return RecoveryCheck::Nothing;
    }

    const VolumeClaim claim = lockVolume(folder, journal);
    if (claim.refusal == VolumeClaim::Refusal::Unavailable) {
        out.lockFailure = claim.lockFailure;
        return RecoveryCheck::LockUnavailable;
    }
    if (!claim.granted())
        return RecoveryCheck::VolumeBusy;
    // Read again under the lock: another Korvalo may have recovered the folder meanwhile.
    if (const JournalError err = journal.load(key, record); !err.ok())
        return fail(err);
    if (!record.pending)
        return RecoveryCheck::Nothing;
    // Settled without asking only on the stick the pass was made on: a copy of the stick has the
    // same key, and settling its pass against this folder would lose what it renamed.
    const bool sameStick = !key.stick.empty() && record.stick == key.stick;
    if (record.pending->kind == PassKind::Order) {
        // Files still in the folder they passed through to be stored in order: there is nothing
        // to choose, but they are out of sight until moved back, so the user is asked first.
        const PassRecord &pass = *record.pending;
        std::vector<FileName> inside;
        int err = 0;
        const std::filesystem::path inner = orderingFolderIn(folder, pass.orderFolder);
        std::error_code ec;
        const bool nothingInside = !std::filesystem::exists(inner, ec) ||
                                   (entriesOf(inner, inside, err) && inside.empty());
        if (nothingInside && sameStick && settle) {
            NullProgress quiet;
            const RecoveryResult run =
                returnOrderedFilesLocked(folder, inner.filename().native(), journal, key, quiet);
            return run.journalError.ok() ? RecoveryCheck::Nothing : fail(run.journalError);
        }
        out.key = key;
        out.plan = RecoveryPlan();
        RecoveryStatus &s = out.plan.status;
        s.kind = PassKind::Order;
        s.startTime = pass.startTime;
        s.fileCount = pass.fileCount;
        s.recorded = static_cast<int>(pass.files.size());
        s.done = std::max(s.recorded - static_cast<int>(inside.size()), 0);
        s.end = pass.end;
        out.plan.finishKind = PassKind::Order;
        for (const FileName &name : inside)
            out.plan.finish.push_back({-1, name, name});
        // Stored in order after a shuffle: undoing it is moving the files back and taking off
        // the prefixes the shuffle wrote (a removal pass does that).
        out.plan.canUndo =
            !pass.files.empty() &&
            std::all_of(pass.files.begin(), pass.files.end(),
                        [&](const PlannedRename &f) { return record.prefixed.count(f.to) > 0; });
        return !nothingInside ? RecoveryCheck::Pending
               : sameStick    ? RecoveryCheck::Nothing
                              : RecoveryCheck::Unconfirmed;
    }
    std::vector<FileName> names;
    int listErr = 0;
    if (!entriesOf(folder, names, listErr))
        return RecoveryCheck::Nothing; // the folder cannot be read: ask when it can
    RecoveryPlan plan = planRecovery(*record.pending, names);
    if (nothingToAsk(plan) && sameStick) {
        if (!settle)
            return RecoveryCheck::Nothing;
        if (const JournalError err = journal.settle(key, names); !err.ok())
            return fail(err);
        return RecoveryCheck::Nothing;
    }
    const bool ask = !nothingToAsk(plan);
    out.key = key;
    out.plan = std::move(plan);
    out.recordGeneration = journal.lastReadGeneration();
    out.namesPrint = printOf(names);
    return ask ? RecoveryCheck::Pending : RecoveryCheck::Unconfirmed;
}

RecoveryResult recoverFolder(const std::filesystem::path &folder, Journal &journal,
                             const PendingRecovery &pending, RecoveryChoice choice,
                             ProgressSink &progress, StoredOrderRule storedOrder)
{
    RecoveryResult result;
    const VolumeClaim claim = lockForRecovery(folder, journal, result);
    if (!claim.granted())
        return result;
    journal.setFolder(folder);
    // The plan is made again from the folder as it is now: the user may have taken a while to
    // answer, and files may have been renamed meanwhile.
    FolderRecord record;
    if (const JournalError err = journal.load(pending.key, record); !err.ok()) {
        result.status = RecoveryResult::Status::Failed;
        result.journalError = err;
        return result;
    }
    if (!record.pending)
        return result; // recovered or left meanwhile
    // Files out in the folder they passed through go back whatever the choice: leaving them
    // there would hide them from the list and from every player.
    if (record.pending->kind == PassKind::Order)
        return returnOrderedFilesLocked(
            folder, orderingFolderIn(folder, record.pending->orderFolder).filename().native(),
            journal, pending.key, progress, storedOrder);
    std::vector<FileName> names;
    int listErr = 0;
    if (!entriesOf(folder, names, listErr)) {
        result.status = RecoveryResult::Status::Failed;
        result.cause = renameOutcomeFromErrno(listErr);
        return result;
    }
    if (choice == RecoveryChoice::Undo && record.pending->kind != PassKind::Shuffle &&
        record.pending->kind != PassKind::Replace)
        choice = RecoveryChoice::Finish; // only a shuffle is undone; the rest are finished
    // Unless record and names are what the plan was made from: then it is the same plan.
    std::optional<RecoveryPlan> fresh;
    if (pending.recordGeneration == 0 || pending.recordGeneration != journal.lastReadGeneration() ||
        pending.namesPrint != printOf(names))
        fresh = planRecovery(*record.pending, names,
                             choice == RecoveryChoice::Undo     ? RecoveryParts::UndoOnly
                             : choice == RecoveryChoice::Finish ? RecoveryParts::FinishOnly
                                                                : RecoveryParts::Both);
    const RecoveryPlan &plan = fresh ? *fresh : pending.plan;

    if (choice != RecoveryChoice::Leave) {
        const bool undo = choice == RecoveryChoice::Undo;
        for (const RecoveryConflict &c : undo ? plan.undoConflicts : plan.finishConflicts) {
            // The file as the user can find it: under the name it has now, if it is still there.
            const FileName &now = c.kind == RecoveryConflict::Kind::Missing ? c.before
                                  : undo                                    ? c.after
                                                                            : c.before;
            result.conflicts.push_back(now);
        }
    }

    const auto &moves = choice == RecoveryChoice::Undo ? plan.undo : plan.finish;
    if (choice != RecoveryChoice::Leave && !moves.empty())
        progress.start(static_cast<int>(moves.size()));
    Renamer renamer;
    bool gone = false;
    const auto move = [&](const PlannedRename &m) {
        const RenameOutcome outcome = renamer.rename(folder / std::filesystem::path(m.from),
                                                     folder / std::filesystem::path(m.to));
        if (outcome.ok())
            return MoveOutcome::Renamed;
        result.cause = outcome;
        // A folder that cannot be reached any more: the medium went away or the folder was moved.
        if (!deviceOf(folder) || outcome.error == RenameError::DeviceGone) {
            gone = true;
            result.cause.error = RenameError::DeviceGone;
            return MoveOutcome::Stop;
        }
        return MoveOutcome::Refused;
    };
    const auto step = [&](int index, int count) { return progress.step(index, count); };
    const RecordedRun run = runRecovery(journal, pending.key, plan, choice, names, move, step);
    result.renamed = run.renamed;
    result.stopped = run.end == PassEnd::Stopped;
    for (const int i : run.refusedIndexes)
        result.refused.push_back(moves[static_cast<std::size_t>(i)].from);
    if (!run.journal.ok()) {
        result.status = RecoveryResult::Status::Failed;
        result.journalError = run.journal;
    } else if (gone) {
        result.status = RecoveryResult::Status::Failed;
    } else if (choice != RecoveryChoice::Leave && run.end == PassEnd::Completed &&
               run.refusedIndexes.empty()) {
        // Every name as the choice wanted it, as after a completed pass; names the file system
        // refused are told first, and a stick that refuses renames gets no moves.
        result.ordering = arrangeAfterRecovery(folder, journal, pending.key, progress, storedOrder);
    }
    return result;
}

RecoveryResult leaveDamagedRecord(const std::filesystem::path &folder, Journal &journal)
{
    RecoveryResult result;
    const VolumeClaim claim = lockForRecovery(folder, journal, result);
    if (!claim.granted())
        return result;
    journal.setFolder(folder);
    const std::optional<JournalKey> key = journalKeyOf(folder);
    if (!key)
        return result;
    result.journalError = journal.setAsideDamaged(*key, result.keptRecord);
    if (!result.journalError.ok())
        result.status = RecoveryResult::Status::Failed;
    return result;
}

RecoveryResult returnOrderedFilesLocked(const std::filesystem::path &folder,
                                        const FileName &orderName, Journal &journal,
                                        const JournalKey &key, ProgressSink &progress,
                                        StoredOrderRule storedOrder)
{
    RecoveryResult result;
    journal.setFolder(folder);
    const std::filesystem::path inner = folder / std::filesystem::path(orderName);
    std::vector<FileName> present;
    int listErr = 0;
    std::error_code ec;
    const bool exists = std::filesystem::exists(inner, ec);
    if (exists && !entriesOf(inner, present, listErr)) {
        result.status = RecoveryResult::Status::Failed;
        result.cause = renameOutcomeFromSystemError(listErr);
        return result;
    }

    // The order the journal recorded first: moving the files back in it finishes an arrangement
    // that was cut short in its second half.
    FolderRecord record;
    if (const JournalError err = journal.load(key, record);
        !err.ok() && err.kind != JournalError::Kind::NoStateFolder) {
        result.status = RecoveryResult::Status::Failed;
        result.journalError = err;
        return result;
    }
    const bool ours = record.pending && record.pending->kind == PassKind::Order &&
                      (record.pending->orderFolder == orderName ||
                       shortOrderingFolderName(record.pending->orderFolder) == orderName);
    std::vector<PlannedRename> moves;
    {
        std::unordered_set<FileName> left(present.begin(), present.end());
        if (ours) {
            for (const PlannedRename &file : record.pending->files) {
                if (left.erase(file.to))
                    moves.push_back({file.to, file.to});
            }
        }
        for (const FileName &name : present) {
            if (left.count(name))
                moves.push_back({name, name});
        }
    }
    const bool recorded = ours || (!record.pending && !moves.empty());
    if (recorded) {
        PassStart start;
        start.kind = PassKind::Order;
        start.fileCount = static_cast<int>(moves.size());
        start.planned = moves;
        start.settlePending = true;
        start.orderFolder = orderName;
        if (const JournalError err = journal.beginPass(key, start);
            !err.ok() && err.kind != JournalError::Kind::NoStateFolder) {
            result.status = RecoveryResult::Status::Failed;
            result.journalError = err;
            return result;
        }
    }

    const int count = static_cast<int>(moves.size());
    if (count > 0)
        progress.start(count);
    Renamer renamer;
    bool gone = false;
    for (int i = 0; i < count && !gone; ++i) {
        const FileName &name = moves[static_cast<std::size_t>(i)].from;
        const RenameOutcome outcome =
            renamer.renameText(pathInFolder(inner, name), pathInFolder(folder, name));
        if (outcome.ok()) {
            ++result.renamed;
        } else if (outcome.error == RenameError::TargetExists) {
            result.conflicts.push_back(name);
        } else {
            result.refused.push_back(name);
            result.cause = outcome;
            if (!deviceOf(folder) || outcome.error == RenameError::DeviceGone) {
                gone = true;
                result.cause.error = RenameError::DeviceGone;
            }
        }
        progress.step(i, count);
    }
    bool removed = !exists;
    if (exists && result.renamed == count && !gone) {
        std::error_code removeEc;
        removed = std::filesystem::remove(inner, removeEc);
    }
    if (journal.passOpen()) {
        const JournalError err =
            journal.endPass(removed ? PassEnd::Completed : PassEnd::Failed, count);
        if (!err.ok())
            result.journalError = err;
    } else if (ours && removed) {
        // Nothing was announced (the journal could not be written): the record is settled as
        // the folder is now.
        std::vector<FileName> names;
        int err = 0;
        if (entriesOf(folder, names, err))
            result.journalError = journal.settle(key, names);
    }
    if (gone || !result.journalError.ok()) {
        result.status = RecoveryResult::Status::Failed;
    } else if (removed && result.conflicts.empty() && result.refused.empty()) {
        // Moved back, the files are stored in the list's order only when the pass was cut short
        // in its moves back; cut short while they went out, those that stayed come first. So
        // the order is arranged again unless the folder already holds it.
        result.ordering = arrangeAfterRecovery(folder, journal, key, progress, storedOrder);
    }
    return result;
}

RecoveryResult returnOrderedFiles(const std::filesystem::path &orderingFolder, Journal &journal,
                                  ProgressSink &progress)
{
    RecoveryResult result;
    const std::filesystem::path inner = withoutTrailingSeparator(orderingFolder);
    const std::filesystem::path folder = inner.parent_path();
    const VolumeClaim claim = lockForRecovery(folder, journal, result);
    if (!claim.granted())
        return result;
    const JournalKey key = journalKeyOf(folder).value_or(JournalKey{});
    return returnOrderedFilesLocked(folder, inner.filename().native(), journal, key, progress);
}

} // namespace korvalo
