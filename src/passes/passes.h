#pragma once

#include "browse/musicfilelist.h"
#include "journal/journal.h"
#include "journal/passlock.h"
#include "passes/ordering.h"
#include "passes/progresssink.h"
#include "passes/randomsource.h"
#include "passes/rename.h"
#include "passes/volumeclaim.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace korvalo {

// The folder a pass renames in, read afresh for every file (the window's folder list).
class FolderSource
{
public:
    virtual ~FolderSource() = default;
    virtual std::filesystem::path folder() const = 0;
};

// A fixed folder, for callers without a window.
class FixedFolder : public FolderSource
{
public:
    explicit FixedFolder(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    std::filesystem::path folder() const override { return m_folder; }

private:
    std::filesystem::path m_folder;
};

// What a pass asks before it renames anything, when a name is at risk.
class PassQuestions
{
public:
    virtual ~PassQuestions() = default;

    enum class DigitAnswer
    {
        KeepOthers, // strip only the digits Korvalo wrote (the default)
        StripAll,   // strip every four leading digits, as the pass always did
        Cancel      // rename nothing
    };
    // The removal pass, when some names begin with four digits that Korvalo did not write:
    // `others` are those names, `qualifying` all the names that begin with four digits.
    virtual DigitAnswer stripOtherDigits(const std::vector<FileName> &others, int qualifying) = 0;
    // The shuffle pass, when listed names already carry a prefix Korvalo wrote (as the journal
    // knows): true goes on and puts a second prefix in front; false renames nothing.
    virtual bool shuffleAgain(const std::vector<FileName> &prefixed, int listed) = 0;
    // The shuffle pass, when most listed names begin with four digits that look like a prefix the
    // journal does not know (foreignPrefixes() in recoveryplan.h): true puts another prefix in
    // front of them; false renames nothing. (Their digits are replaced by runReplacePass()
    // instead.)
    virtual bool shuffleOverForeign(const std::vector<FileName> &foreign, int listed)
    {
        (void)foreign;
        (void)listed;
        return false;
    }
};

// The safe choice, without asking anyone: keep the digits Korvalo did not write, and put no
// second prefix in front.
class SafeAnswers : public PassQuestions
{
public:
    DigitAnswer stripOtherDigits(const std::vector<FileName> &, int) override
    {
        return DigitAnswer::KeepOthers;
    }
    bool shuffleAgain(const std::vector<FileName> &, int) override { return false; }
};

struct PassResult
{
    enum class Status
    {
        EmptyList, // nothing listed: nothing was done at all
        Completed, // every file handled, the list re-read
        Failed,    // a rename failed; the files before it keep their new names. Also every file
                   // renamed, but some left in the folder they passed through to be stored in
                   // order (filesLeftIn; failedIndex is -1 then, the cause in storedOrderCause)
        Stopped,   // the sink asked to stop; the files handled so far keep their new names
        Refused,   // the volume may not be renamed in now (see refusal); nothing was renamed
        Cancelled  // the user answered a question with "cancel"; nothing was renamed
    };
    enum class Refusal
    {
        None,
        VolumeBusy,      // another pass, in this or another process, holds the volume
        UnsafeDriver,    // the folder is on a driver that damages folders when it renames (fusefat)
        RecoveryPending, // the folder has an unfinished pass: recover or leave it first
        JournalUnwritable, // the pass could not be recorded (see journalError)
        LockUnavailable,   // no private lock could be taken for the volume (see lockFailure)
        RecordDamaged      // the folder's record is damaged (journalError.path): leave the folder
                           // as it is first (see leaveDamagedRecord() in folderrecovery.h)
    };

    Status status = Status::EmptyList;
    Refusal refusal = Refusal::None; // set when status == Refused
    // The volume the pass worked on, as far as it could be told: its device number and the
    // mount point that holds the folder.
    std::uint64_t device = 0;
    std::filesystem::path mountPoint;
    int renamed = 0; // files renamed by this pass
    // On failure: the file that could not be renamed, the name it was to get, and why.
    int failedIndex = -1;
    std::filesystem::path oldName;
    std::filesystem::path newName;
    RenameOutcome cause;
    // On completion: why the final re-read of the list failed, if it did.
    ListError refreshError;
    // Why the journal could not be written: with Refusal::JournalUnwritable or RecordDamaged
    // before the first rename, or with Status::Failed when a write failed part-way (the pass
    // stopped there).
    JournalError journalError;
    // Refusal::LockUnavailable: why no lock could be taken, and where.
    LockFailure lockFailure;
    // Names the removal pass left alone because their digits were not Korvalo's.
    int keptDigits = 0;

    // After every file was renamed on FAT or exFAT, where players play a folder in the order its
    // entries are stored: whether that order now follows the list. Stopped leaves the status
    // Completed: every name is right, only the order was not arranged.
    using StoredOrder = korvalo::StoredOrder;
    StoredOrder storedOrder = StoredOrder::NotApplicable;
    // NotArranged: why. No room for the folder the files pass through (a full stick or root
    // folder), or the move of storedOrderFile failed; a journal error is in journalError.
    // Stopped: a move back that failed, if one did.
    RenameOutcome storedOrderCause;
    std::filesystem::path storedOrderFile;
    // Set when files could not be moved back into the folder (the status is Failed then): they
    // are still in this folder inside it, and opening the folder (see folderrecovery.h) moves
    // them back.
    std::filesystem::path filesLeftIn;
};

// The stored order's part of a pass's result, as arrangeStoredOrder() gave it.
OrderingOutcome storedOrderOf(const PassResult &result);

struct PassContext
{
    MusicList &list;
    const FolderSource &folder;
    ProgressSink &progress;
    RenameSystem &renameCalls = systemRenameCalls();
    // Where the pass is recorded; nullptr records nothing (benchmarks, tests of the bare pass).
    Journal *journal = nullptr;
    // Who answers the pass's questions; nullptr takes SafeAnswers.
    PassQuestions *questions = nullptr;
    // Where a completed pass stores the files in the list's order (ordering.h).
    StoredOrderRule storedOrder = StoredOrderRule::FatAndExfat;
    // The volume, claimed and held by the caller (ClaimMode::Hold, with MountLookup::Resolve when
    // recording), which read the list under it; nullptr: the pass claims the volume itself.
    const VolumeClaim *claim = nullptr;
};

// How often the shuffle pass draws again when the drawn name is taken.
inline constexpr int kPrefixDraws = 100;

// Both passes refuse to start (Status::Refused) on a folder whose file system is mounted through
// a driver that damages folders when it renames, and while another pass, in any process, works on
// the same volume: each holds the volume's PassLock from its first rename to its end. Where no
// such lock can be taken at all, they refuse as well (Refusal::LockUnavailable).

// Gives every listed file a random order prefix "1000".."9999" in front of its name.
PassResult runShufflePass(PassContext ctx, RandomSource &random);

// The names the list holds now, as the platform's names, in the list's order.
std::vector<FileName> listedNames(const MusicList &list);

// True when the name's first four characters are digits.
bool hasOrderPrefix(std::string_view name);

// A new order in one rename per file: every listed name whose four leading digits are a prefix
// gets a new random prefix in their place, any other name one in front, as the shuffle pass gives
// it. The prefixes replaced are those the journal knows as Korvalo's and, where they are most of
// the list (foreignPrefixes().mostOfList), the ones it does not know: the pass is what the user
// chose for them. Recorded, stopped, failed and recovered as a shuffle is (an unfinished one is
// undone or finished); without a journal the list's names are taken as a folder it does not
// know. Asks nothing.
PassResult runReplacePass(PassContext ctx, RandomSource &random);

// Takes four leading digits off every listed name that has them. A name whose stripped form
// would begin with "." (it would become a hidden file) is left alone.
PassResult runRemovalPass(PassContext ctx);

// What a recorded pass will rename, decided before its first rename. The passes plan with these
// and nothing else, so a caller that plans beforehand (a dry run, a question asked before the
// pass starts) gets what the pass will do, given the same list, record and answers. Only a pass
// that keeps a record plans; without one, each file is looked at as the pass reaches it.

// The removal pass's question: the listed names it takes four digits off (isStrippable), in list
// order, and of those the ones whose digits Korvalo did not write (classifyDigitNames()), sorted.
// The pass asks PassQuestions::stripOtherDigits(others, qualifying.size()) when `others` is not
// empty, and not at all otherwise.
struct StrippableNames
{
    std::vector<FileName> qualifying;
    std::vector<FileName> others;
};
StrippableNames strippableNames(std::span<const FileName> listed, const FolderRecord &record);

// The removal pass's renames, in list order: every qualifying name loses its four digits, except,
// unless `stripAll`, the names whose digits are not Korvalo's. `kept` (optional) is set to the
// count of those left alone, `listIndexes` (optional) to each rename's index in `listed`.
std::vector<PlannedRename> planRemoval(std::span<const FileName> listed, const FolderRecord &record,
                                       bool stripAll, int *kept = nullptr,
                                       std::vector<int> *listIndexes = nullptr);

// The shuffle pass's renames: one draw from `random` for every listed name, in list order, the
// i-th rename for the i-th name. It does not reseed. The names that would get a second prefix,
// which the pass asks about first (PassQuestions::shuffleAgain()), are korvaloPrefixedNames() of
// the same list and record. A drawn name that is taken when the pass reaches it is drawn again
// then, so a plan made beforehand shows the prefixes only as examples.
std::vector<PlannedRename> planShuffle(std::vector<FileName> listed, RandomSource &random);

// The replace pass's renames, one draw from `random` for every listed name, in list order: new
// digits for the four leading ones of a name the record knows as Korvalo's, or of a name of
// foreignPrefixes() where they are most of the list; a prefix in front of any other name. Its
// prefixes are examples, as a shuffle's are. `replaced` (optional) counts the names whose digits
// are replaced.
std::vector<PlannedRename> planReplace(std::span<const FileName> listed, const FolderRecord &record,
                                       RandomSource &random, int *replaced = nullptr);

} // namespace korvalo
