#include "passes/ordering.h"

#include "browse/musicfilelist.h"
#include "passes/mediumcheck.h"
#include "passes/volumeclaim.h"

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

std::filesystem::path withoutTrailingSeparator(const std::filesystem::path &folder)
{
    return folder.has_filename() || !folder.has_relative_path() ? folder : folder.parent_path();
}

bool keepsStoredOrder(const MountInfo &mount, StoredOrderRule rule)
{
    return rule == StoredOrderRule::Everywhere || mount.fsType == "vfat" ||
           mount.fsType == "msdos" || mount.fsType == "exfat";
}

bool keepsStoredOrder(const std::filesystem::path &folder, StoredOrderRule rule)
{
    const std::optional<MountInfo> mount = lookUpMount(folder, MountLookup::MountTable);
    return mount && keepsStoredOrder(*mount, rule);
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
    out.order = StoredOrder::NotArranged;
    const FileName orderName = orderingFolderName();
    FileName inner = pathInFolder(job.folder, orderName);
    // A stick pulled out during the moves makes them answer "no such file", as a file renamed by
    // someone else would: the same check as the pass's renames tells the two apart.
    const MediumCheck medium(job.folder);
    const auto explained = [&](const RenameOutcome &r) { return medium.explain(job.folder, r); };

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
    int madeErr = job.calls.makeFolder(inner.c_str());
    if (madeErr && renameOutcomeFromSystemError(madeErr).error == RenameError::NameTooLong) {
        // A file system that counts a name's bytes rather than its UTF-16 units refuses the long
        // name. The short one is as unique, and the record finds it (orderingFolderIn()).
        inner = pathInFolder(job.folder, shortOrderingFolderName(orderName));
        madeErr = job.calls.makeFolder(inner.c_str());
    }
    if (madeErr) {
        out.cause = explained(renameOutcomeFromSystemError(madeErr));
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

    // A stop asked before the last file is out sends no further file out; once every file is
    // out, putting them back in the list's order is all there is left, stop or not.
    bool stop = !job.progress.ordering(0, 2 * n);
    Renamer renamer(job.calls);
    int movedOut = 0;
    while (!stop && movedOut < n) {
        const FileName &name = outOrder[static_cast<std::size_t>(movedOut)];
        const RenameOutcome r =
            renamer.renameText(pathInFolder(job.folder, name), pathInFolder(inner, name));
        if (!r.ok()) {
            out.cause = explained(r);
            out.failedName = name;
            break;
        }
        ++movedOut;
        ++out.moves;
        stop = !job.progress.ordering(out.moves, 2 * n);
    }
    const bool stopped = stop && movedOut < n;
    // With every file out, the folder takes a short name. A rename puts its entry into the first
    // free slots, which now come before every music file's, so the files coming back flow in
    // behind it instead of around it. Where the rename is refused the order is only less exact.
    FileName holder = inner;
    if (movedOut == n) {
        const FileName shorter = pathInFolder(job.folder, shortOrderingFolderName(orderName));
        if (shorter != inner && renamer.renameText(inner, shorter).ok())
            holder = shorter;
    }
    // Back in the list's order: all of them, or after a failure or a stop those moved out so far,
    // with no stop asked: files must not be left outside their folder. A file whose name was
    // taken meanwhile stays where it is; nothing is forced.
    bool allBack = true;
    const std::unordered_set<FileName> outside(outOrder.begin(), outOrder.begin() + movedOut);
    int tried = 0;
    for (const FileName &name : job.names) {
        if (movedOut < n && !outside.count(name))
            continue; // never moved out: a failure or a stop came before its turn
        const RenameOutcome r =
            renamer.renameText(pathInFolder(holder, name), pathInFolder(job.folder, name));
        if (r.ok()) {
            ++out.moves;
        } else {
            allBack = false;
            if (out.cause.ok()) {
                out.cause = explained(r);
                out.failedName = name;
            }
        }
        (void)job.progress.ordering(movedOut + ++tried, 2 * movedOut); // not asked: see above
    }
    const int removeErr = allBack ? job.calls.removeFolder(holder.c_str()) : -1;
    if (removeErr == 0) {
        endRecord(PassEnd::Completed, n);
    } else {
        // Left for the recovery when the folder is opened next.
        out.filesLeftIn = std::filesystem::path(holder);
        if (removeErr > 0 && out.cause.ok())
            out.cause = explained(renameOutcomeFromSystemError(removeErr));
        endRecord(PassEnd::Failed, movedOut);
    }
    if (stopped)
        out.order = StoredOrder::Stopped;
    else if (movedOut == n && allBack)
        out.order = StoredOrder::Arranged;
    return out;
}

} // namespace korvalo
