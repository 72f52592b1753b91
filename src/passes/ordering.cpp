#include "passes/ordering.h"

#include "browse/musicfilelist.h"
#include "passes/foldergonecheck.h"
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

// What the ordering folder's name says after its prefix, to whoever meets it on the stick: a name
// the core writes, so it is kept here and not in the session's texts. The unique part follows.
constexpr std::u8string_view kOrderingFolderNote =
    u8"：Korvalo 把它们临时移到这里，好按播放顺序放回去。请在 Korvalo 里打开上一级文件夹，"
    u8"文件会自动移回。These files belong one level up - Korvalo moved them here for a "
    u8"moment to store them in play order. Open the folder above in Korvalo to move them back (";

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
    name += kOrderingFolderNote;
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

namespace {

// Where `name` is stored among the folder's entries, -1 when it is not there or the folder cannot
// be read.
int storedIndexOf(const std::filesystem::path &folder, const FileName &name)
{
    std::vector<FileName> stored;
    int err = 0;
    if (!entriesOf(folder, stored, err))
        return -1;
    const auto at = std::find(stored.begin(), stored.end(), name);
    return at == stored.end() ? -1 : static_cast<int>(at - stored.begin());
}

// The name whose entry takes the fewest slots: the shortest in UTF-16 units, as FAT and exFAT
// count a name.
std::size_t shortestName(const std::vector<FileName> &names)
{
    std::size_t best = 0;
    std::size_t bestLength = SIZE_MAX;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::size_t length = std::filesystem::path(names[i]).u16string().size();
        if (length < bestLength) {
            best = i;
            bestLength = length;
        }
    }
    return best;
}

// True where readdir gives the entries in the order the folder stores them: the kernel's own
// FAT and exFAT drivers. A FUSE driver lists from its own memory, in an order of its own, until
// the volume is mounted again.
bool readsStoredOrder(const std::filesystem::path &folder)
{
    const std::optional<MountInfo> mount = lookUpMount(folder, MountLookup::MountTable);
    return mount && (mount->mountFsType == "vfat" || mount->mountFsType == "msdos" ||
                     mount->mountFsType == "exfat");
}

} // namespace

bool storedInListOrder(const std::filesystem::path &folder, std::span<const FileName> names)
{
    if (!readsStoredOrder(folder))
        return false;
    std::vector<FileName> stored;
    int err = 0;
    if (!entriesOf(folder, stored, err))
        return false;
    const std::unordered_set<FileName> listed(names.begin(), names.end());
    std::size_t next = 0;
    for (const FileName &name : stored) {
        if (!listed.count(name))
            continue;
        if (next >= names.size() || names[next] != name)
            return false;
        ++next;
    }
    return next == names.size();
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
    const FolderGoneCheck medium(job.folder);
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
    // walks the folder's entries from the first): the listed files, then every other entry.
    // Entries that stayed would split the slots the songs free into gaps, and a song too long
    // for a gap would go past it while a later, shorter one filled it. So the folder is emptied
    // of all but the folder they pass through, and the other entries come back after the songs,
    // under their own names: only the place where they are stored changes.
    std::vector<FileName> outOrder;
    {
        std::unordered_set<FileName> listed(job.names.begin(), job.names.end());
        std::vector<FileName> stored;
        std::vector<FileName> others;
        int err = 0;
        const FileName innerName = std::filesystem::path(inner).filename().native();
        if (entriesOf(job.folder, stored, err)) {
            for (FileName &name : stored) {
                if (listed.erase(name))
                    outOrder.push_back(std::move(name));
                else if (name != innerName && !isOrderingFolder(std::filesystem::path(name)))
                    others.push_back(std::move(name)); // another pass's folder stays put
            }
        }
        for (const FileName &name : job.names) {
            if (listed.count(name))
                outOrder.push_back(name);
        }
        outOrder.insert(outOrder.end(), others.begin(), others.end());
    }
    const int all = static_cast<int>(outOrder.size());
    const int steps = 2 * all;

    // A stop asked before the last file is out sends no further file out; once every file is
    // out, putting them back in the list's order is all there is left, stop or not.
    bool stop = !job.progress.ordering(0, steps);
    Renamer renamer(job.calls);
    int movedOut = 0;
    while (!stop && movedOut < all) {
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
        stop = !job.progress.ordering(out.moves, steps);
    }
    const bool stopped = stop && movedOut < all;
    const bool readable = readsStoredOrder(job.folder);
    FileName holder = inner;
    if (movedOut == all) {
        // The folder now holds only the one the files are in. Its entry must come before every
        // free slot, or the songs coming back fill the slots before it, and where the one whose
        // turn it is does not fit there, a later, shorter one would. vfat writes a renamed entry
        // into the first free slots, so the short name puts it first. exFAT rewrites it in place
        // when the new name is no longer, so there a longer name is what moves it to the first
        // free slots big enough; each try frees the slots it leaves, so a few tries reach the
        // start. Whether it got there is read from the folder: the entry that takes the fewest
        // slots, moved back, is stored after it only when no gap before it could take a song
        // (where readdir shows the stored order; a FUSE driver's own order says nothing).
        const FileName shorter = pathInFolder(job.folder, shortOrderingFolderName(orderName));
        if (shorter != inner && renamer.renameText(inner, shorter).ok())
            holder = shorter;
        const std::size_t probeAt = shortestName(outOrder);
        const FileName &probe = outOrder[probeAt];
        const FileName holderName = std::filesystem::path(holder).filename().native();
        for (int attempt = 0; readable && attempt < 8; ++attempt) {
            if (!renamer.renameText(pathInFolder(holder, probe), pathInFolder(job.folder, probe))
                     .ok())
                break;
            const int probeIndex = storedIndexOf(job.folder, probe);
            const bool first = probeIndex > storedIndexOf(job.folder, holderName);
            const RenameOutcome back =
                renamer.renameText(pathInFolder(job.folder, probe), pathInFolder(holder, probe));
            if (!back.ok()) {
                // It stays in the folder; the moves back find it there and skip it.
                out.cause = explained(back);
                out.failedName = probe;
                break;
            }
            if (first || holder != shorter)
                break;
            if (!renamer.renameText(shorter, inner).ok())
                break;
            if (!renamer.renameText(inner, shorter).ok()) {
                holder = inner;
                break;
            }
        }
    }
    // Back: the songs in the list's order, then the other entries in the order they were stored.
    // All of them, or after a failure or a stop those moved out so far, with no stop asked:
    // files must not be left outside their folder. A file whose name was taken meanwhile stays
    // where it is; nothing is forced.
    bool allBack = true;
    std::vector<FileName> backOrder;
    if (movedOut == all) {
        backOrder.assign(job.names.begin(), job.names.end());
        backOrder.insert(backOrder.end(), outOrder.begin() + n, outOrder.end());
    } else {
        const std::unordered_set<FileName> outside(outOrder.begin(), outOrder.begin() + movedOut);
        for (const FileName &name : job.names) {
            if (outside.count(name))
                backOrder.push_back(name);
        }
        for (int i = n; i < movedOut; ++i)
            backOrder.push_back(outOrder[static_cast<std::size_t>(i)]);
    }
    int tried = 0;
    const int backTotal = static_cast<int>(backOrder.size());
    for (const FileName &name : backOrder) {
        const FileName there = pathInFolder(job.folder, name);
        const RenameOutcome r = renamer.renameText(pathInFolder(holder, name), there);
        if (r.ok()) {
            ++out.moves;
        } else if (job.calls.lstat(there.c_str()) != 0 ||
                   job.calls.lstat(pathInFolder(holder, name).c_str()) == 0) {
            allBack = false;
            if (out.cause.ok()) {
                out.cause = explained(r);
                out.failedName = name;
            }
        }
        (void)job.progress.ordering(movedOut + ++tried, movedOut + backTotal); // not asked
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
    if (stopped) {
        out.order = StoredOrder::Stopped;
    } else if (movedOut == all && allBack) {
        // Told as the folder holds it, where that can be read: a file system that did not store
        // the songs as written is not said to have.
        if (!readable || storedInListOrder(job.folder, job.names))
            out.order = StoredOrder::Arranged;
        else
            out.inexact = true;
    }
    return out;
}

} // namespace korvalo
