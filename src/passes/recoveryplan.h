#pragma once

// The plan for a pass that did not finish (planRecovery()) and its run as a recorded pass of its
// own (runRecovery()), and which leading digits Korvalo wrote. Pure functions of the journal's
// record and the folder's names as they are now, except the two run functions at the end, which
// rename through a function the caller gives. Opening a folder and carrying out the user's choice
// under the volume's lock, built on these, is folderrecovery.h.

#include "browse/asciichars.h"
#include "journal/filestates.h"
#include "journal/journal.h"

#include <functional>
#include <span>
#include <vector>

namespace korvalo {

struct RecoveryMove
{
    int index = -1; // the file's place in the pass record
    FileName from;
    FileName to;
};

// A file the recovery must not touch. It is reported to the user, never forced.
struct RecoveryConflict
{
    enum class Kind
    {
        Missing,    // neither the file's old nor its new name is in the folder
        TargetTaken // another file holds the name this file would get back or be given
    };
    Kind kind = Kind::Missing;
    int index = -1;
    FileName before; // the file's name before the pass
    FileName after;  // the name the pass planned for it
};

struct RecoveryStatus
{
    PassKind kind = PassKind::Shuffle;
    std::int64_t startTime = 0; // seconds since 1970-01-01 UTC
    int fileCount = 0;          // files the pass set out to rename
    int recorded = 0;           // files the journal holds a planned rename for
    int done = 0;               // files renamed (as the folder shows)
    int missing = 0;            // files under neither name
    std::optional<PassEnd> end; // how the pass ended; none when it was killed
};

struct RecoveryPlan
{
    RecoveryStatus status;
    // Every renamed file back to its name from before the pass, in the order to make them.
    // Offered for an interrupted shuffle or replace pass only; a removal is recovered by finishing
    // it.
    bool canUndo = false;
    std::vector<RecoveryMove> undo;
    std::vector<RecoveryConflict> undoConflicts;
    PassKind undoKind = PassKind::Restore;
    // The renames the pass did not make yet, in its order.
    std::vector<RecoveryMove> finish;
    std::vector<RecoveryConflict> finishConflicts;
    PassKind finishKind = PassKind::Shuffle;
};

// Which of the two ways out a plan works out: both when the user is to choose, one when the choice
// is made (the other's moves and conflicts are then left empty).
enum class RecoveryParts
{
    Both,
    UndoOnly,
    FinishOnly
};

RecoveryPlan planRecovery(const PassRecord &pass, std::span<const FileName> folderNames,
                          RecoveryParts parts = RecoveryParts::Both);

// The names of a folder that begin with four digits, split for the removal pass's question.
struct DigitNames
{
    std::vector<FileName> korvaloPrefixed; // four digits that Korvalo wrote
    std::vector<FileName> others;          // digits that belong to the name
};

// Sorts the names that begin with four digits. Korvalo never writes a leading "0". For a folder
// the journal knows, its digits are those the journal says Korvalo wrote. For a folder it does not
// know (shuffled elsewhere or by another tool), digits followed by a blank or punctuation belong
// to the name: an order prefix is written directly in front of a name, and names rarely begin
// with a blank. Settle an unfinished pass before asking.
DigitNames classifyDigitNames(std::span<const FileName> names, const FolderRecord &record);

// Names that look like Korvalo's prefix without the record knowing them as Korvalo's: four
// digits "1000".."9999" directly in front of the rest of the name (not a blank or a punctuation
// mark), written by Korvalo on another computer or under another state folder, or by another
// tool.
struct ForeignPrefixes
{
    std::vector<FileName> names; // in the order given
    // They are most of the list, so a shuffle asks before it puts a second prefix in front of
    // them: at least two, more than half of the listed names, and spread as random prefixes are,
    // not bunched on years the way names begin ("2019年春晚", "1999Live"): at most half of them
    // begin with 1900..2099, where a random prefix falls once in 45.
    bool mostOfList = false;
};
// `names` holds at least every listed name that begins with four digits; `listed` counts the
// list.
ForeignPrefixes foreignPrefixes(std::span<const FileName> names, const FolderRecord &record,
                                std::size_t listed);

// The names that carry a prefix Korvalo wrote, as the journal knows them: a shuffle over them
// would put a second prefix in front.
std::vector<FileName> korvaloPrefixedNames(std::span<const FileName> names,
                                           const FolderRecord &record);

// What a folder's names carry, as its status tells it.
struct PrefixCount
{
    bool known = false; // the journal has a record of the folder (else the names alone tell)
    int korvalo = 0;    // names whose four leading digits Korvalo wrote
    int stacked = 0;    // of those, names carrying more than one of its prefixes
    int others = 0;     // names whose four leading digits are their own
};

// Counts the folder's names. An unfinished pass is taken as the folder shows it: the files it
// renamed carry its prefix (or, for a removal, lost one), as leaving the pass would record them,
// so the counts agree with the pass's own count of renamed files.
// The record is taken by value: the pass is folded into it in place (move it in when it is not
// needed afterwards).
PrefixCount countPrefixes(std::span<const FileName> folderNames, FolderRecord record);

// What a rename function tells about one file.
enum class MoveOutcome
{
    Renamed,
    Refused, // this file keeps its name; go on with the others
    Stop     // this file keeps its name and the pass ends here (the device is gone)
};

struct RecordedRun
{
    JournalError journal; // the journal could not be written: renaming stopped
    PassEnd end = PassEnd::Completed;
    int renamed = 0;
    std::vector<int> refusedIndexes; // files whose rename was refused
};

struct RecordedMoves
{
    PassKind kind = PassKind::Restore;
    std::span<const PlannedRename> moves;
    std::span<const FileName> listed; // see PassStart::listed
    bool settlePending = false;       // see PassStart::settlePending
    int batchSize = 0;                // files announced at a time; 0 announces all first
    // Called after each file with its index and the count, for the progress display; false
    // stops the pass after that file.
    std::function<bool(int index, int count)> step;
};

// Makes a list of renames as one recorded pass: each batch is announced before its renames, and
// `move` renames one file. Stops before the first rename if the journal cannot be written.
RecordedRun runRecordedMoves(Journal &journal, const JournalKey &key, const RecordedMoves &what,
                             const std::function<MoveOutcome(const PlannedRename &)> &move);

enum class RecoveryChoice
{
    Undo,   // every renamed file back to its name from before the pass
    Finish, // make the renames the pass did not make
    Leave   // rename nothing; the journal takes the folder as it is
};

// Carries out the user's choice for an unfinished pass, as a recorded pass of its own, so that
// a recovery that is itself interrupted can be recovered. `plan` comes from planRecovery() over
// the same folder names.
RecordedRun runRecovery(Journal &journal, const JournalKey &key, const RecoveryPlan &plan,
                        RecoveryChoice choice, std::span<const FileName> folderNames,
                        const std::function<MoveOutcome(const PlannedRename &)> &move,
                        const std::function<bool(int index, int count)> &step = {});

} // namespace korvalo
