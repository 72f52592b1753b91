#include "passes/folderrecovery.h"

#include "passes/ordering.h"
#include "passes/passlock.h"
#include "passes/rename.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace korvalo {

namespace {

enum class Locked
{
    Yes,        // held (or there is no volume to lock)
    Busy,       // another process holds it
    Unavailable // no private lock can be taken: `failure` says why
};

// The volume's lock. A folder that cannot be stat'ed has no lock to take; the renames will say why
// they fail.
Locked lockVolume(const std::filesystem::path &folder, std::optional<PassLock> &lock,
                  LockFailure &failure)
{
    const auto device = deviceOf(folder);
    if (!device)
        return Locked::Yes;
    LockAttempt attempt = PassLock::tryAcquire(*device);
    if (attempt.unavailable) {
        failure = *attempt.unavailable;
        return Locked::Unavailable;
    }
    if (attempt.busy())
        return Locked::Busy;
    lock = std::move(attempt.lock);
    return Locked::Yes;
}

// A record whose last pass completed holds that pass name by name until it is folded in. Done
// here, once, when the folder is opened, so that later openings read each name once instead of
// folding the pass again. Only under the volume's lock, where no pass of another Korvalo can be
// writing the record; a failure leaves the record as readable as it was.
void foldCompletedPass(const std::filesystem::path &folder, Journal &journal, const JournalKey &key)
{
    std::optional<PassLock> lock;
    LockFailure failure;
    if (lockVolume(folder, lock, failure) == Locked::Yes)
        journal.foldCompleted(key);
}

// Nothing to ask: nothing was renamed, or every file was, as planned.
bool nothingToAsk(const RecoveryPlan &plan)
{
    const RecoveryStatus &s = plan.status;
    return s.done == 0 || (s.done == s.fileCount && s.done == s.recorded && s.missing == 0 &&
                           plan.finishConflicts.empty() && plan.finish.empty());
}

} // namespace

JournalKey journalKey(const MountInfo &mount)
{
    JournalKey key;
    key.pathInVolume = mount.pathInVolume.generic_string();
    if (!mount.uuid.empty()) {
        key.volume = mount.uuid;
    } else if (mount.source.starts_with('/')) {
        key.volume = mount.source;
    } else {
        // A source that names no device ("tmpfs", "none", a server's share) is shared by every
        // mount of its kind: the mount point tells them apart.
        key.volume = mount.source + '@' + mount.mountPoint.generic_string();
    }
    return key;
}

std::optional<JournalKey> journalKeyOf(const std::filesystem::path &folder)
{
    if (folder.empty())
        return std::nullopt;
    if (const auto mount = mountOf(folder))
        return journalKey(*mount);
    // No mount table to ask (or the folder cannot be stat'ed): known by its path alone.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    return JournalKey{std::string(), (ec ? folder : absolute).lexically_normal().generic_string()};
}

RecoveryCheck checkForRecovery(const std::filesystem::path &folder, Journal &journal,
                               PendingRecovery &out, JournalError *error)
{
    const auto fail = [&](const JournalError &err) {
        if (error)
            *error = err;
        // Without a state folder there is no journal, so nothing to recover; the passes say so.
        return err.kind == JournalError::Kind::NoStateFolder ? RecoveryCheck::Nothing
                                                             : RecoveryCheck::JournalFailed;
    };
    if (error)
        *error = {};
    out.lockFailure = {};
    const std::optional<JournalKey> key = journalKeyOf(folder);
    if (!key)
        return RecoveryCheck::Nothing;
    FolderRecord record;
    if (const JournalError err = journal.load(*key, record); !err.ok())
        return fail(err);
    if (!record.pending) {
        if (record.passToFold)
            foldCompletedPass(folder, journal, *key);
        return RecoveryCheck::Nothing;
    }

    std::optional<PassLock> lock;
    switch (lockVolume(folder, lock, out.lockFailure)) {
    case Locked::Yes:
        break;
    case Locked::Busy:
        return RecoveryCheck::VolumeBusy;
    case Locked::Unavailable:
        return RecoveryCheck::LockUnavailable;
    }
    // Read again under the lock: another Korvalo may have recovered the folder meanwhile.
    if (const JournalError err = journal.load(*key, record); !err.ok())
        return fail(err);
    if (!record.pending)
        return RecoveryCheck::Nothing;
    if (record.pending->kind == PassKind::Order) {
        // Files still in the folder they passed through to be stored in order: there is nothing
        // to choose, but they are out of sight until moved back, so the user is asked first.
        const PassRecord &pass = *record.pending;
        std::vector<FileName> inside;
        int err = 0;
        const std::filesystem::path inner = orderingFolderIn(folder, pass.orderFolder);
        std::error_code ec;
        if (!std::filesystem::exists(inner, ec) ||
            (entriesOf(inner, inside, err) && inside.empty())) {
            NullProgress quiet;
            const RecoveryResult run =
                returnOrderedFilesLocked(folder, inner.filename().native(), journal, *key, quiet);
            return run.journalError.ok() ? RecoveryCheck::Nothing : fail(run.journalError);
        }
        out.key = *key;
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
        return RecoveryCheck::Pending;
    }
    std::vector<FileName> names;
    int listErr = 0;
    if (!entriesOf(folder, names, listErr))
        return RecoveryCheck::Nothing; // the folder cannot be read: ask when it can
    RecoveryPlan plan = planRecovery(*record.pending, names);
    if (nothingToAsk(plan)) {
        if (const JournalError err = journal.settle(*key, names); !err.ok())
            return fail(err);
        return RecoveryCheck::Nothing;
    }
    out.key = *key;
    out.plan = std::move(plan);
    return RecoveryCheck::Pending;
}

RecoveryResult recoverFolder(const std::filesystem::path &folder, Journal &journal,
                             const PendingRecovery &pending, RecoveryChoice choice,
                             ProgressSink &progress)
{
    RecoveryResult result;
    std::optional<PassLock> lock;
    switch (lockVolume(folder, lock, result.lockFailure)) {
    case Locked::Yes:
        break;
    case Locked::Busy:
        result.status = RecoveryResult::Status::VolumeBusy;
        return result;
    case Locked::Unavailable:
        result.status = RecoveryResult::Status::LockUnavailable;
        return result;
    }
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
            journal, pending.key, progress);
    std::vector<FileName> names;
    int listErr = 0;
    if (!entriesOf(folder, names, listErr)) {
        result.status = RecoveryResult::Status::Failed;
        result.cause = renameOutcomeFromErrno(listErr);
        return result;
    }
    if (choice == RecoveryChoice::Undo && record.pending->kind != PassKind::Shuffle)
        choice = RecoveryChoice::Finish; // only a shuffle is undone; the rest are finished
    const RecoveryPlan plan = planRecovery(*record.pending, names);

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
    for (const int i : run.refusedIndexes)
        result.refused.push_back(moves[static_cast<std::size_t>(i)].from);
    if (!run.journal.ok()) {
        result.status = RecoveryResult::Status::Failed;
        result.journalError = run.journal;
    } else if (gone) {
        result.status = RecoveryResult::Status::Failed;
    }
    return result;
}

} // namespace korvalo
