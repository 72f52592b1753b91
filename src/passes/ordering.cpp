#include "passes/ordering.h"

#include "browse/musicfilelist.h"
#include "passes/passlock.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>

namespace korvalo {

namespace {

// The folder a path names, without a trailing separator.
std::filesystem::path withoutTrailingSeparator(const std::filesystem::path &folder)
{
    return folder.has_filename() || !folder.has_relative_path() ? folder : folder.parent_path();
}

} // namespace

bool keepsStoredOrder(const MountInfo &mount)
{
    return mount.fsType == "vfat" || mount.fsType == "msdos" || mount.fsType == "exfat";
}

FileName orderingFolderName()
{
    // Unique enough that a folder left by an earlier crash is never met again: the clock and a
    // random draw.
    std::random_device device;
    const auto now =
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const std::uint64_t value = (static_cast<std::uint64_t>(device()) << 32) ^ now;
    // Long on purpose, besides telling the user what to do. The folder's entry takes the first
    // free run of slots big enough for its name; a short one would often land in a gap between
    // the music files (a rename to a longer name moves an entry and leaves one), and the files
    // coming back would have to flow around it. A name as long as a file system allows needs
    // more slots than such a gap holds, so it goes after them.
    std::u8string name(kOrderingFolderPrefix);
    name += u8"：Korvalo 把它们临时移到这里，好按播放顺序放回去。请在 Korvalo 里打开上一级文件夹，"
            u8"文件会自动移回。These files belong one level up - Korvalo moved them here for a "
            u8"moment to store them in play order. Open the folder above in Korvalo to move them "
            u8"back (";
    constexpr char8_t kHex[] = u8"0123456789abcdef";
    for (int shift = 44; shift >= 0; shift -= 4)
        name += kHex[(value >> shift) & 0xF];
    name += u8")";
    return std::filesystem::path(name).native();
}

FileName shortOrderingFolderName(const FileName &name)
{
    const std::u8string text = std::filesystem::path(name).u8string();
    const std::size_t unique = text.rfind(u8'(');
    if (!text.starts_with(kOrderingFolderPrefix) || unique == std::u8string::npos ||
        unique < kOrderingFolderPrefix.size())
        return name;
    std::u8string out(kOrderingFolderPrefix);
    out += u8' ';
    out += text.substr(unique);
    return std::filesystem::path(out).native();
}

std::filesystem::path orderingFolderIn(const std::filesystem::path &folder,
                                       const FileName &recordedName)
{
    const std::filesystem::path recorded = folder / std::filesystem::path(recordedName);
    std::error_code ec;
    if (std::filesystem::exists(recorded, ec))
        return recorded;
    const std::filesystem::path shorter =
        folder / std::filesystem::path(shortOrderingFolderName(recordedName));
    return std::filesystem::exists(shorter, ec) ? shorter : recorded;
}

bool isOrderingFolder(const std::filesystem::path &folder)
{
    return withoutTrailingSeparator(folder).filename().u8string().starts_with(
        kOrderingFolderPrefix);
}

bool entriesOf(const std::filesystem::path &folder, std::vector<FileName> &names, int &err)
{
    names.clear();
    err = 0;
    const std::unique_ptr<FolderCalls::Stream> stream = systemFolderCalls().open(folder, err);
    if (!stream)
        return false;
    std::string_view name;
    while (stream->next(name, err)) {
        if (name != "." && name != "..")
            names.push_back(pathOfName(name).native());
    }
    return err == 0;
}

OrderingOutcome arrangeStoredOrder(const OrderingJob &job)
{
    OrderingOutcome out;
    const int n = static_cast<int>(job.names.size());
    if (n == 0)
        return out;
    out.order = PassResult::StoredOrder::NotArranged;
    const FileName orderName = orderingFolderName();
    const FileName inner = pathInFolder(job.folder, orderName);

    // Recorded, and made lasting, before the folder is made: a kill at any later instant finds
    // the record when the folder is opened next.
    if (job.journal) {
        std::vector<PlannedRename> planned;
        planned.reserve(job.names.size());
        for (const FileName &name : job.names)
            planned.push_back({name, name});
        PassStart start;
        start.kind = PassKind::Order;
        start.fileCount = n;
        start.planned = planned;
        start.orderFolder = orderName;
        if (const JournalError err = job.journal->beginPass(job.key, start); !err.ok()) {
            out.journalError = err;
            return out;
        }
    }
    const auto endRecord = [&](PassEnd how, int attempted) {
        if (!job.journal)
            return;
        const JournalError err = job.journal->endPass(how, attempted);
        if (out.journalError.ok())
            out.journalError = err;
    };
    if (const int err = job.calls.makeFolder(inner.c_str())) {
        out.cause = renameOutcomeFromSystemError(err);
        endRecord(PassEnd::Completed, 0);
        return out;
    }

    // Out in the order they are stored, which is how a FUSE driver finds each name soonest (it
    // walks the folder's entries from the first); back in the list's order.
    std::vector<FileName> outOrder;
    {
        std::unordered_set<FileName> listed(job.names.begin(), job.names.end());
        std::vector<FileName> stored;
        int err = 0;
        if (entriesOf(job.folder, stored, err)) {
            for (FileName &name : stored) {
                if (listed.erase(name))
                    outOrder.push_back(std::move(name));
            }
        }
        for (const FileName &name : job.names) {
            if (listed.count(name))
                outOrder.push_back(name);
        }
    }

    job.progress.ordering(0, 2 * n);
    Renamer renamer(job.calls);
    int movedOut = 0;
    for (; movedOut < n; ++movedOut) {
        const FileName &name = outOrder[static_cast<std::size_t>(movedOut)];
        const RenameOutcome r =
            renamer.renameText(pathInFolder(job.folder, name), pathInFolder(inner, name));
        if (!r.ok()) {
            out.cause = r;
            out.failedName = name;
            break;
        }
        ++out.moves;
        job.progress.ordering(out.moves, 2 * n);
    }
    // With every file out, the folder takes a short name. A rename puts its entry into the first
    // free slots, which now come before every music file's, so the files coming back flow in
    // behind it instead of around it. Where the rename is refused the order is only less exact.
    FileName holder = inner;
    if (movedOut == n) {
        const FileName shorter = pathInFolder(job.folder, shortOrderingFolderName(orderName));
        if (renamer.renameText(inner, shorter).ok())
            holder = shorter;
    }
    // Back in the list's order: all of them, or after a failure those moved out so far. A file
    // whose name was taken meanwhile stays where it is; nothing is forced.
    bool allBack = true;
    const std::unordered_set<FileName> outside(outOrder.begin(), outOrder.begin() + movedOut);
    int tried = 0;
    for (const FileName &name : job.names) {
        if (movedOut < n && !outside.count(name))
            continue; // never moved out: a move out failed before its turn
        const RenameOutcome r =
            renamer.renameText(pathInFolder(holder, name), pathInFolder(job.folder, name));
        if (r.ok()) {
            ++out.moves;
        } else {
            allBack = false;
            if (out.cause.ok()) {
                out.cause = r;
                out.failedName = name;
            }
        }
        job.progress.ordering(movedOut + ++tried, 2 * movedOut);
    }
    const int removeErr = allBack ? job.calls.removeFolder(holder.c_str()) : -1;
    if (removeErr == 0) {
        endRecord(PassEnd::Completed, n);
    } else {
        // Left for the recovery when the folder is opened next.
        out.filesLeftIn = std::filesystem::path(holder);
        if (removeErr > 0 && out.cause.ok())
            out.cause = renameOutcomeFromSystemError(removeErr);
        endRecord(PassEnd::Failed, movedOut);
    }
    if (movedOut == n && allBack)
        out.order = PassResult::StoredOrder::Arranged;
    return out;
}

RecoveryResult returnOrderedFilesLocked(const std::filesystem::path &folder,
                                        const FileName &orderName, Journal &journal,
                                        const JournalKey &key, ProgressSink &progress)
{
    RecoveryResult result;
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
    if (gone || !result.journalError.ok())
        result.status = RecoveryResult::Status::Failed;
    return result;
}

RecoveryResult returnOrderedFiles(const std::filesystem::path &orderingFolder, Journal &journal,
                                  ProgressSink &progress)
{
    RecoveryResult result;
    const std::filesystem::path inner = withoutTrailingSeparator(orderingFolder);
    const std::filesystem::path folder = inner.parent_path();
    std::optional<PassLock> lock;
    if (const auto device = deviceOf(folder)) {
        LockAttempt attempt = PassLock::tryAcquire(*device);
        if (!attempt.held()) {
            result.status = attempt.busy() ? RecoveryResult::Status::VolumeBusy
                                           : RecoveryResult::Status::LockUnavailable;
            if (attempt.unavailable)
                result.lockFailure = *attempt.unavailable;
            return result;
        }
        lock = std::move(attempt.lock);
    }
    const JournalKey key = journalKeyOf(folder).value_or(JournalKey{});
    return returnOrderedFilesLocked(folder, inner.filename().native(), journal, key, progress);
}

} // namespace korvalo
