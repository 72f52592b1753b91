#pragma once

// The order a folder's entries are stored in. Many car stereos and cheap players do not sort a
// folder by name: they play a FAT or exFAT folder in the order its entries are stored, and a
// rename keeps a file's entry where it was (exFAT rewrites it in place when the new name fits).
// A shuffle would change nothing for them. FAT and exFAT write a new entry into the first free
// run of slots big enough for it, from the start of the folder, so after a pass Korvalo moves the
// listed files into a new folder inside the chosen one and back again in the list's order: a
// folder emptied of its entries gets them back in the order written. The folder's other entries
// (pictures, playlists, subfolders) go out and back too, after the songs: where they stayed they
// would split the freed slots into gaps that a later, shorter name fills first. Names never
// change and contents are never opened; the other entries end up stored after the songs.
//
// The moves are recorded in the journal (PassKind::Order) before the first of them, so that a
// kill or a pulled stick in either half is recovered when the folder is opened next: every file
// back in the folder under its name, the folder they passed through removed.
//
// The user may stop it (ProgressSink::ordering()): no further file goes out, and those out come
// back at once, every one of them, whatever is asked meanwhile. The names are right either way.

#include "browse/mountinfo.h"
#include "journal/journal.h"
#include "passes/progresssink.h"
#include "passes/rename.h"

#include <filesystem>
#include <span>
#include <string_view>

namespace korvalo {

// After a completed pass on FAT or exFAT, where players play a folder in the order its entries
// are stored: whether that order now follows the list.
enum class StoredOrder
{
    NotApplicable, // another file system (or the pass did not complete): nothing was moved
    Arranged,      // the files are stored in the list's order
    NotArranged,   // it could not be arranged (see storedOrderCause); the names are right
    Stopped        // the user stopped it: no further file went out and those out came back (see
                   // filesLeftIn for any that could not); the names are right
};

// Which file systems a pass or a recovery arranges the stored order on.
enum class StoredOrderRule
{
    FatAndExfat, // those that keep it, below
    Everywhere   // every one: on a local disk, arranged as on a stick (the tests')
};

// True for the file systems that store a folder's entries in the order they were written and
// play them so: FAT (vfat, msdos) and exFAT, through the kernel or FUSE; for every one with
// StoredOrderRule::Everywhere.
bool keepsStoredOrder(const MountInfo &mount, StoredOrderRule rule = StoredOrderRule::FatAndExfat);

// keepsStoredOrder() for the volume that holds `folder`, its mount looked up as a pass looks it
// up (MountLookup::MountTable in volumeclaim.h). False when the folder cannot be reached.
bool keepsStoredOrder(const std::filesystem::path &folder,
                      StoredOrderRule rule = StoredOrderRule::FatAndExfat);

// The beginning of the name of the folder the files pass through is kOrderingFolderPrefix
// (passrecord.h: the journal checks a recorded order pass's folder against it).

// A new name for that folder: the prefix and something unique.
FileName orderingFolderName();

// The shorter name the folder takes once every file is in it: the prefix and the same unique
// part. Given the shorter name, gives it back unchanged.
FileName shortOrderingFolderName(const FileName &name);

// The folder, named `recordedName` or its shorter name, that holds files of a pass in `folder`:
// whichever of the two is there, else the one named `recordedName`.
std::filesystem::path orderingFolderIn(const std::filesystem::path &folder,
                                       const FileName &recordedName);

// The folder a path names, without a trailing separator.
std::filesystem::path withoutTrailingSeparator(const std::filesystem::path &folder);

// True when the folder is one the files of a pass pass through (its last component begins with
// the prefix). Front ends say that its files belong one level up and offer
// returnOrderedFiles() instead of a pass.
bool isOrderingFolder(const std::filesystem::path &folder);

struct OrderingOutcome
{
    StoredOrder order = StoredOrder::NotApplicable;
    RenameOutcome cause;
    FileName failedName;
    JournalError journalError;
    std::filesystem::path filesLeftIn; // files that could not be moved back are in this folder
    // Every file moved out and back, but read back from the folder the songs are not stored in
    // the list's order (the file system did not write them where it was expected to).
    bool inexact = false;
    int moves = 0; // moves made
};

struct OrderingJob
{
    std::filesystem::path folder;
    std::span<const FileName> names; // the listed files, in the list's order
    RenameSystem &calls;
    ProgressSink &progress;
    Journal *journal = nullptr; // nullptr records nothing
    JournalKey key;
};

// Moves the listed files, then the folder's other entries, into a new folder inside `folder` and
// back (the files in the given order, then the others as they were stored), each move a
// no-replace rename. Arranged only when the folder, read afterwards, stores them so. When the
// folder cannot be made, nothing is moved. When a move out fails, or the progress sink says stop
// before the last file is out, the files moved out so far are moved back before it returns, without
// asking the sink again; a file that cannot be moved back stays in the inner folder, whose path the
// outcome gives (the journal then holds an unfinished pass, and opening the folder moves it back).
// The inner folder is removed at the end. A stop once every file is out changes nothing: they all
// go back, in the list's order.
OrderingOutcome arrangeStoredOrder(const OrderingJob &job);

// True when the listed files among the folder's entries are known to be stored in the order of
// `names`, all of them there. Known only where readdir gives the stored order (the kernel's FAT
// and exFAT drivers); a FUSE driver lists in an order of its own until the volume is mounted
// again, so there it is false.
bool storedInListOrder(const std::filesystem::path &folder, std::span<const FileName> names);

// The bare names of the entries in a folder ("." and ".." left out). False, with the error
// number, when it cannot be read.
bool entriesOf(const std::filesystem::path &folder, std::vector<FileName> &names, int &err);

} // namespace korvalo
