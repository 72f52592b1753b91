#pragma once

// What the journal holds about a folder and the passes made in it: plain values, read and written
// by the journal (journal.h) and judged against the folder by the recovery (passes/recoveryplan.h).

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvalo {

// The beginning of the name of the folder the files of an order pass pass through (see
// ordering.h). A user who finds it (after a crash) reads that its files belong one level up.
inline constexpr std::u8string_view kOrderingFolderPrefix = u8"Korvalo 临时文件夹 - 文件属于上一级";

// A bare file name as the file system holds it.
using FileName = std::filesystem::path::string_type;

// Which folder a record is about. The same stick folder has the same key wherever it is mounted.
// Two sticks written from one image share their UUID, so their folders share the key: the stick's
// own identity, when it can be read, tells whose record it is.
struct JournalKey
{
    std::string volume;       // the volume's UUID, else the mount's source
    std::string pathInVolume; // the folder's path inside the volume, as the volume stores it
    // Not part of the key (the comparison and the record's file name leave them out), and
    // initialised empty so that {volume, path} still makes a key:
    // the identity of the stick the folder is on (see MountInfo::identity); empty when unknown.
    std::string stick{};
    // The folder's path as the user typed it, where that differs in letter case from
    // pathInVolume (a volume that ignores case): records written before were keyed by it.
    std::string typedPath{};
    // The mount's source ("/dev/sdb1"), where `volume` is the UUID: records written while the
    // UUID could not be read were keyed by it.
    std::string sourceVolume{};

    bool operator==(const JournalKey &other) const
    {
        return volume == other.volume && pathInVolume == other.pathInVolume;
    }
};

enum class PassKind
{
    Shuffle, // writes an order prefix in front of every name
    Removal, // takes four leading digits off
    Restore, // puts back the names from before an interrupted shuffle
    Order,   // moves the files out into a folder of its own and back, names unchanged, so that
             // FAT and exFAT store them in the list's order (see ordering.h)
    Replace  // a new order in one rename per file: a name's four leading digits are replaced by
             // new ones, a name without a prefix gets one (see runReplacePass())
};

// True when the pass writes a prefix; false when it takes one off. A Replace pass tells it by
// each file's names (see journalfold.h).
inline bool addsPrefix(PassKind kind)
{
    return kind == PassKind::Shuffle;
}

enum class PassEnd
{
    Completed, // every file renamed
    Stopped,   // stopped on purpose after a file (the window was closed)
    Failed     // a rename failed and the pass ended there
};

// One rename a pass means to make.
struct PlannedRename
{
    FileName from;
    FileName to;

    bool operator==(const PlannedRename &) const = default;
};

// A pass as the journal holds it.
struct PassRecord
{
    PassKind kind = PassKind::Shuffle;
    std::int64_t startTime = 0; // seconds since 1970-01-01 UTC
    int fileCount = 0;          // files the pass set out to rename
    // The renames the pass announced, in the order it makes them; for each file the name it
    // planned last (a shuffle draws again when the drawn name is taken).
    std::vector<PlannedRename> files;
    // Files the pass tried and did not rename (a refused rename).
    std::vector<bool> refused;
    // Present when the pass ended without being killed; attempted counts the files, from the
    // first, that it tried to rename.
    std::optional<PassEnd> end;
    int attempted = 0;
    // PassKind::Order: the bare name of the folder the files pass through, inside the folder. It
    // begins with kOrderingFolderPrefix.
    FileName orderFolder;
};

inline bool isRefused(const PassRecord &pass, std::size_t index)
{
    return index < pass.refused.size() && pass.refused[index];
}

// What the journal knows about one folder.
struct FolderRecord
{
    bool known = false; // the journal has a record of this folder
    // The names whose leading digits Korvalo wrote, each with how many prefixes Korvalo stacked
    // in front of it (a name shuffled twice carries two).
    std::map<FileName, int> prefixed;
    // A pass that was killed, stopped or failed and has not been recovered or left yet.
    std::optional<PassRecord> pending;
    // The identity of the stick whose pass wrote the record; empty when unknown (a stick whose
    // identity could not be read, or a record from before identities were kept).
    std::string stick{};
    // The record ended in a line that could not be read (cut off by a kill or a power cut); what
    // came before it is used.
    bool tornTail = false;
    // The last pass completed and is still written out name by name (it is folded in when the
    // record is next written: foldCompleted() does it).
    bool passToFold = false;

    // Known to carry no prefix that Korvalo wrote.
    bool clean() const { return known && prefixed.empty() && !pending; }
};

} // namespace korvalo
