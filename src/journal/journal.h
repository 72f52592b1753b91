#pragma once

// The pass journal: what Korvalo remembers about the music folders it renamed in, kept in the
// user's state folder (see statefolder.h), never in the music folder. It records every pass so
// that after a kill at any instant the journal and the folder together tell which files carry a
// prefix that Korvalo wrote and what each file was called before, and it knows, per folder, the
// names whose leading digits Korvalo wrote.
//
// One file per folder, named by a hash of the folder's key; two sticks written from one image
// (the same volume UUID, so the same key) each get a file of their own once their identities can
// be read, and neither reads nor writes the other's. Between passes it holds only what is
// known of the folder; during a pass the pass's records are appended to it, and when the pass
// ends it is rewritten in one step with the pass folded in. So the journal never grows beyond one
// pass and the names of one folder per folder, and the number of folders is bounded too.

#include "journal/journalfile.h"
#include "journal/passlock.h"
#include "journal/passrecord.h"
#include "journal/statefolder.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvalo {

namespace journalformat {
struct Parsed;
}

struct JournalError
{
    enum class Kind
    {
        None,
        NoStateFolder, // no home folder to keep the journal in
        Folder,        // the journal's folder cannot be made
        Read,          // the folder's record cannot be read
        Write,         // a record cannot be written
        Sync,          // a record cannot be made lasting
        PassPending,   // the folder has an unfinished pass: recover or leave it first
        RecordBusy,    // another Korvalo is writing the folder's record: try again shortly
        PassOpen,      // beginPass() while a pass is being recorded
        NoPass,        // a pass record call without beginPass()
        Damaged        // the folder's record is damaged, or larger than any record of the folder
                       // can be (osError EFBIG), or no private file of Korvalo's: it is not used,
                       // and no pass may start until it is set aside (setAsideDamaged())
    };

    Kind kind = Kind::None;
    int osError = 0;            // errno (or the Windows error code) behind it
    std::filesystem::path path; // the journal file or folder concerned

    bool ok() const { return kind == Kind::None; }
};

// How a pass starts its record.
struct PassStart
{
    PassKind kind = PassKind::Shuffle;
    int fileCount = 0; // files the pass sets out to rename
    // Renames announced with the start (may be all of them: then a killed pass can be finished).
    std::span<const PlannedRename> planned;
    // The names in the folder now. When given, names the journal remembers that are no longer
    // there are forgotten, and settlePending may settle an unfinished pass against them.
    std::span<const FileName> listed;
    // Settle an unfinished pass against `listed` in the same step, instead of refusing with
    // PassPending. For the renames of a recovery.
    bool settlePending = false;
    // PassKind::Order: see PassRecord::orderFolder. Its files are announced with from == to.
    FileName orderFolder;
};

class Journal
{
public:
    // Older records beyond this many folders are dropped, the least recently used first; a record
    // with an unfinished pass is never dropped.
    static constexpr int kDefaultMaxRecords = 500;
    // While a pass runs, its records are made lasting on disk when it starts, when it ends, and
    // in between at most this often.
    static constexpr std::chrono::milliseconds kSyncInterval{1000};

    // The journal in `folder`; the locks of its records, and of the volumes its passes work on,
    // in `lockFolder` (passlock.h).
    explicit Journal(std::filesystem::path folder = stateFolder(),
                     int maxRecords = kDefaultMaxRecords,
                     std::filesystem::path lockFolder = PassLock::lockFolder());
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    const std::filesystem::path &folder() const { return m_folder; }
    const std::filesystem::path &lockFolder() const { return m_lockFolder; }

    // The music folder the next calls are about. The number of its entries bounds how large a
    // genuine record of it can be (journalformat::recordSizeBound()): a larger record is reported
    // Damaged without being read in full. Counted only for a record larger than
    // journalformat::kRecordSizeFloor; without a folder, that is the bound.
    void setFolder(const std::filesystem::path &musicFolder);

    // What the journal knows of a folder. An unknown folder gives known == false and no error
    // (NoStateFolder when there is no home folder to keep a journal in; Damaged for a record that
    // must not be used). The record of another stick with the same key (both identities known and
    // different) is not this folder's.
    // A pass that ended completed but was not folded in yet (killed in between) is folded here.
    JournalError load(const JournalKey &key, FolderRecord &out) const;

    // Recording a pass, one at a time. beginPass() writes the pass's record (with the renames
    // given in `start.planned`) and makes it lasting before it returns; announce() writes further
    // renames. Each write has reached the kernel when the call returns, so a rename made after
    // it is never lost when the program is killed.
    // Any error means nothing more may be renamed: the pass must stop.
    JournalError beginPass(const JournalKey &key, const PassStart &start);
    JournalError announce(std::span<const PlannedRename> more);
    // The file at `index` (in announcement order) will be renamed to `to` instead: a shuffle's new
    // draw after the drawn name turned out to be taken. Call before renaming to it.
    JournalError revise(int index, const FileName &to);
    // The rename of the file at `index` was refused; the file keeps its name.
    JournalError refused(int index);
    // Ends the record. `attempted`: how many files, from the first, the pass tried to rename.
    // Completed folds the pass into what is known of the folder; Stopped and Failed leave it
    // unfinished, to be recovered or left when the folder is opened next.
    JournalError endPass(PassEnd end, int attempted);
    bool passOpen() const { return m_file.isOpen(); }

    // Ends an unfinished pass without renaming anything ("leave the folder as it is"): the files it
    // renamed, as the folder's names show, become known to carry its prefixes (or to have lost
    // them). The listed names also prune names no longer in the folder.
    JournalError settle(const JournalKey &key, std::span<const FileName> folderNames);
    // Writes the record afresh with its completed last pass folded in, so that later reads take
    // each name once. A record without one, or with an unfinished pass, is left as it is.
    JournalError foldCompleted(const JournalKey &key);

    // Sets a damaged record of the folder aside: renamed, never replacing anything, to a name
    // beside it that ends in ".damaged-" and the time (UTC), given in `keptAs`. The folder is then
    // one the journal does not know. A record that is not damaged is left as it is (`keptAs`
    // empty). For the user's "leave it as it is" answer, under the volume's lock.
    JournalError setAsideDamaged(const JournalKey &key, std::filesystem::path &keptAs);

    // Which text the last record read was: equal numbers, from any journal, mean byte-for-byte
    // the same text. 0 before anything was read.
    std::uint64_t lastReadGeneration() const;

private:
    // The record store, which the pass protocol above is built on: where a folder's record is,
    // reading it (readRecord()) and writing it (writeRecord()) under its lock (lockRecord()).

    // Where a folder's record is read from and written to: the same file, except for a record
    // found under the letter case the folder was typed in (JournalKey::typedPath), which moves to
    // the key's own file when it is next written.
    struct Location
    {
        std::filesystem::path path; // the record, or where a new one goes when !exists
        std::filesystem::path writeTo;
        bool exists = false;
    };
    enum class RecordWrite
    {
        Rewrite,        // the whole record written afresh (see journalfile::Lasting::Eventually)
        RewriteForPass, // the same, lasting before the call returns, and left open for the pass
        AppendForPass // lines appended, lasting before the call returns, and left open for the pass
    };

    // A folder's record as readRecord() gives it.
    struct StoredRecord
    {
        Location where;
        // What the file says; null when there is no record (!where.exists).
        std::shared_ptr<const journalformat::Parsed> parsed;
        // What is known of the folder: which names carry Korvalo's prefixes, with the record's
        // last pass folded in unless it is `unfinished`.
        std::map<FileName, int> prefixed;
        bool completed = false;  // the last pass completed
        bool unfinished = false; // the last pass did not finish and was not settled
    };
    // Every read of a folder's record: locates it, reads it (no larger than the music folder's
    // bound), parses it, refuses a damaged one (Damaged) and folds its last pass into what is
    // known of the folder: a completed pass as recorded; an unfinished one against
    // `settleAgainst`, the folder's names, when given, else it is left unfinished. No record is
    // no error (out.parsed is null).
    JournalError readRecord(const JournalKey &key, StoredRecord &out,
                            std::optional<std::span<const FileName>> settleAgainst = {}) const;
    JournalError locate(const JournalKey &key, Location &where) const;
    JournalError findRecord(const JournalKey &key, std::filesystem::path &path, bool &found) const;
    // Reads a record, no larger than the music folder's bound.
    JournalError readBounded(const std::filesystem::path &path, std::string &text) const;
    // The record's lines as parse() reads them. A record is read several times while a folder is
    // opened and recovered (before and under the lock, again to begin the recovery's own pass),
    // and parsing a large one costs far more than reading it: the last text parsed is kept and
    // compared byte for byte, so nothing is taken on trust that the file does not say now.
    std::shared_ptr<const journalformat::Parsed> parseRecord(std::string &&text) const;

    JournalError lockRecord(const JournalKey &key, std::optional<PassLock> &lock) const;
    JournalError writeRecord(const Location &where, std::string_view text, RecordWrite how);
    void dropOldRecords(const std::filesystem::path &keep) const;

    // The pass protocol's own steps. settle() and foldCompleted(): the record read and written
    // afresh.
    JournalError rewrite(const JournalKey &key, std::span<const FileName> folderNames,
                         bool completedOnly);
    JournalError appendLine(const std::string &text);
    JournalError maybeSync(bool force);

    std::filesystem::path m_folder;
    int m_maxRecords;
    std::filesystem::path m_lockFolder;
    std::filesystem::path m_musicFolder;
    mutable std::optional<std::uintmax_t> m_musicEntries; // counted when first needed
    mutable std::mutex m_parsedMutex; // the record may be looked at while a pass runs elsewhere
    mutable std::string m_parsedText;
    mutable std::shared_ptr<const journalformat::Parsed> m_parsed;
    mutable std::uint64_t m_parsedGeneration = 0;

    // The pass being recorded.
    journalfile::AppendFile m_file;
    // The lock keyed by the record being written: held from before the record is read for a
    // pass to the pass's end, so two processes (a window and a script, or two clones of one stick,
    // which take different volume locks) never write one record at once.
    std::optional<PassLock> m_recordLock;
    std::filesystem::path m_path;
    JournalKey m_key;
    std::map<FileName, int> m_prefixed;
    PassRecord m_pass;
    std::chrono::steady_clock::time_point m_lastSync;
};

} // namespace korvalo
