#include "passes/passes.h"
#include "browse/asciichars.h"
#include "browse/mountinfo.h"
#include "journal/journalkey.h"
#include "journal/passlock.h"
#include "passes/foldergonecheck.h"
#include "passes/ordering.h"
#include "passes/recoveryplan.h"
#include "passes/volumeclaim.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <numeric>
#include <optional>
#include <string>

namespace korvalo {

namespace {

// Counts a file that was renamed, or fills in why it was not. False when the pass must end.
bool settle(PassResult &result, int index, const FileName &name, const FileName &newName,
            const RenameOutcome &outcome)
{
    if (outcome.ok()) {
        ++result.renamed;
        return true;
    }
    result.status = PassResult::Status::Failed;
    result.failedIndex = index;
    result.oldName = name;
    result.newName = newName;
    result.cause = outcome;
    return false;
}

} // namespace

std::vector<FileName> listedNames(const MusicList &list)
{
    std::vector<FileName> names;
    names.reserve(static_cast<std::size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i)
        names.push_back(list.name(i).native());
    return names;
}

OrderingOutcome storedOrderOf(const PassResult &result)
{
    OrderingOutcome order;
    order.order = result.storedOrder;
    order.cause = result.storedOrderCause;
    order.failedName = result.storedOrderFile.native();
    order.filesLeftIn = result.filesLeftIn;
    return order;
}

bool hasOrderPrefix(std::string_view name)
{
    return startsWithFourDigits(name);
}

namespace {

// The digits of an order prefix as native text.
FileName prefixText(int value)
{
    const std::string digits = std::to_string(value);
    return FileName(digits.begin(), digits.end());
}

// A pass's record in the journal, when it keeps one: every call is a no-op without a journal.
// The renames are announced before the first of them, in one write made lasting once; during the
// pass only a new draw or a refused rename adds a line, so the journal costs the pass two writes
// and a sync, whatever the number of files.
class Recording
{
public:
    explicit Recording(Journal *journal) : m_journal(journal) {}

    bool on() const { return m_journal != nullptr; }

    // Reads what the journal knows of the folder. False, with the result filled in, when the
    // pass must not start.
    bool load(const JournalKey &key, FolderRecord &record, PassResult &result)
    {
        m_key = key;
        const JournalError err = m_journal->load(key, record);
        if (!err.ok())
            return refuse(result, err);
        if (record.pending) {
            result.status = PassResult::Status::Refused;
            result.refusal = PassResult::Refusal::RecoveryPending;
            return false;
        }
        return true;
    }

    // Announces the renames; `listIndexes` gives each one's index in the list.
    bool begin(PassKind kind, std::vector<PlannedRename> planned, std::vector<int> listIndexes,
               std::span<const FileName> listed, PassResult &result)
    {
        m_planned = std::move(planned);
        m_listIndexes = std::move(listIndexes);
        PassStart start;
        start.kind = kind;
        start.fileCount = static_cast<int>(m_planned.size());
        start.planned = m_planned;
        start.listed = listed;
        const JournalError err = m_journal->beginPass(m_key, start);
        if (!err.ok() && m_planned.empty())
            return true; // nothing to rename, so nothing at risk: the pass runs unrecorded
        if (!err.ok())
            return refuse(result, err);
        m_open = true;
        m_begun = true;
        return true;
    }

    const std::vector<PlannedRename> &planned() const { return m_planned; }

    JournalError revise(int index, const FileName &to)
    {
        return m_open ? m_journal->revise(index, to) : JournalError{};
    }

    // The rename at `index` failed: the pass ends there.
    void failed(int index, PassResult &result)
    {
        if (!m_open)
            return;
        keep(result, m_journal->refused(index));
        end(PassEnd::Failed, index + 1, result);
    }

    // A journal write failed before the rename at `index`: the pass ends there.
    void broken(int index, const JournalError &err, PassResult &result)
    {
        result.status = PassResult::Status::Failed;
        keep(result, err);
        end(PassEnd::Failed, index, result);
    }

    // A pass that failed before it renamed anything, still under the volume's lock: the record
    // is settled against the folder's names at once, so that it is as before the pass (a rename
    // reported failed that was made after all is counted as made). Left unfinished, it would wait
    // for a question, or block the folder where the stick cannot be confirmed as this one.
    void forgetIfUntouched(const std::filesystem::path &folder, const PassResult &result)
    {
        if (!m_journal || m_open || !m_begun || result.renamed > 0)
            return;
        std::vector<FileName> names;
        int err = 0;
        if (entriesOf(folder, names, err))
            m_journal->settle(m_key, names); // a failure leaves the unfinished pass to be asked
    }

    // Ends the record after the list's first `handled` files.
    void endAfter(PassEnd how, int handled, PassResult &result)
    {
        if (!m_open)
            return;
        const auto past = std::lower_bound(m_listIndexes.begin(), m_listIndexes.end(), handled);
        end(how, static_cast<int>(past - m_listIndexes.begin()), result);
    }

private:
    static bool refuse(PassResult &result, const JournalError &err)
    {
        result.status = PassResult::Status::Refused;
        result.refusal =
            err.kind == JournalError::Kind::PassPending ? PassResult::Refusal::RecoveryPending
            : err.kind == JournalError::Kind::Damaged   ? PassResult::Refusal::RecordDamaged
                                                        : PassResult::Refusal::JournalUnwritable;
        result.journalError = err;
        return false;
    }

    static void keep(PassResult &result, const JournalError &err)
    {
        if (result.journalError.ok())
            result.journalError = err;
    }

    void end(PassEnd how, int attempted, PassResult &result)
    {
        if (!m_open)
            return;
        m_open = false;
        keep(result, m_journal->endPass(how, attempted));
    }

    Journal *m_journal;
    JournalKey m_key;
    bool m_open = false;
    bool m_begun = false; // the pass was recorded
    std::vector<PlannedRename> m_planned;
    std::vector<int> m_listIndexes; // ascending
};

PassResult::Refusal refusalOf(VolumeClaim::Refusal refusal)
{
    switch (refusal) {
    case VolumeClaim::Refusal::None:
        break;
    case VolumeClaim::Refusal::UnsafeDriver:
        return PassResult::Refusal::UnsafeDriver;
    case VolumeClaim::Refusal::Busy:
        return PassResult::Refusal::VolumeBusy;
    case VolumeClaim::Refusal::Unavailable:
        return PassResult::Refusal::LockUnavailable;
    }
    return PassResult::Refusal::None;
}

// The walk both passes share: the progress start, then every listed index in order, the file's
// own work followed by its progress step, and the re-read of the list at the end. `prepare` runs
// once the volume is the pass's, before the progress start; it returns false, with the result
// filled in, when nothing may be renamed. handleFile returns false when the file could not be
// renamed; it has then filled in the result.
template <typename Prepare, typename HandleFile>
PassResult walkList(PassContext &ctx, Recording &recording, Prepare prepare, HandleFile handleFile)
{
    PassResult result;
    if (ctx.list.count() < 1)
        return result; // EmptyList

    // Before anything is renamed: the driver, then the volume's lock, held to the end. A folder
    // that cannot be stat'ed has neither; its first rename will say why. The journal knows a
    // volume by its UUID, which the mount table alone does not give.
    const std::filesystem::path startFolder = ctx.folder.folder();
    VolumeClaim own;
    if (!ctx.claim)
        own = claimVolume(startFolder, ClaimMode::Hold,
                          recording.on() ? MountLookup::Resolve : MountLookup::MountTable,
                          ctx.journal ? ctx.journal->lockFolder() : PassLock::lockFolder());
    const VolumeClaim &claim = ctx.claim ? *ctx.claim : own;
    const FolderGoneCheck medium(claim.device);
    const std::optional<MountInfo> &mount = claim.mount;
    if (claim.device)
        result.device = *claim.device;
    if (mount)
        result.mountPoint = mount->mountPoint;
    if (!claim.granted()) {
        result.status = PassResult::Status::Refused;
        result.refusal = refusalOf(claim.refusal);
        result.lockFailure = claim.lockFailure;
        return result;
    }
    JournalKey key;
    if (recording.on()) {
        FolderRecord record;
        key = mount ? journalKey(*mount) : journalKeyOf(startFolder).value_or(JournalKey{});
        ctx.journal->setFolder(startFolder);
        if (!recording.load(key, record, result))
            return result;
        if (!prepare(&record, result))
            return result;
    } else if (!prepare(nullptr, result)) {
        return result;
    }

    ctx.progress.start(ctx.list.count());
    const int last = ctx.list.count() - 1;
    int handled = 0;
    for (int i = 0; i <= last && i < ctx.list.count(); ++i) {
        if (!handleFile(i, medium, result)) {
            recording.forgetIfUntouched(startFolder, result);
            return result;
        }
        handled = i + 1;
        if (!ctx.progress.step(i, ctx.list.count())) {
            result.status = PassResult::Status::Stopped;
            recording.endAfter(PassEnd::Stopped, handled, result);
            return result;
        }
    }
    // A journal that could not take the end line still has every rename announced: the folder
    // shows they were all made. The pass counts as completed; the error is told beside it.
    recording.endAfter(PassEnd::Completed, handled, result);
    result.refreshError = ctx.list.refresh();
    result.status = PassResult::Status::Completed;
    // On FAT and exFAT the files are then stored in the order the re-read list shows, for players
    // that play a folder in its stored order. Names do not change, so the list stays as it is.
    if (mount && keepsStoredOrder(*mount, ctx.storedOrder) && result.refreshError.ok() &&
        ctx.folder.folder() == startFolder) {
        const std::vector<FileName> names = listedNames(ctx.list);
        const OrderingOutcome order = arrangeStoredOrder(
            {startFolder, names, ctx.renameCalls, ctx.progress, ctx.journal, key});
        result.storedOrder = order.order;
        result.storedOrderCause = order.cause;
        result.storedOrderFile = std::filesystem::path(order.failedName);
        result.filesLeftIn = order.filesLeftIn;
        if (result.journalError.ok())
            result.journalError = order.journalError;
        // Files left in the folder they passed through are out of sight of the list and of every
        // player until they are moved back: whatever their names, the pass did not end well.
        if (!result.filesLeftIn.empty())
            result.status = PassResult::Status::Failed;
    }
    return result;
}

PassQuestions &questionsOf(const PassContext &ctx)
{
    static SafeAnswers safe;
    return ctx.questions ? *ctx.questions : safe;
}

} // namespace

namespace {

// planRemoval() with the names whose digits stay given: `keep`, sorted.
std::vector<PlannedRename> planRemovalKeeping(std::span<const FileName> listed,
                                              std::span<const FileName> keep, int *kept,
                                              std::vector<int> *listIndexes)
{
    std::vector<PlannedRename> planned;
    int left = 0;
    if (listIndexes)
        listIndexes->clear();
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const FileName &name = listed[i];
        if (!isStrippable(name))
            continue;
        if (std::binary_search(keep.begin(), keep.end(), name)) {
            ++left;
            continue;
        }
        if (listIndexes)
            listIndexes->push_back(static_cast<int>(i));
        planned.push_back({name, name.substr(4)});
    }
    if (kept)
        *kept = left;
    return planned;
}

} // namespace

StrippableNames strippableNames(std::span<const FileName> listed, const FolderRecord &record)
{
    StrippableNames names;
    std::copy_if(listed.begin(), listed.end(), std::back_inserter(names.qualifying),
                 isStrippable<FileName>);
    names.others = classifyDigitNames(names.qualifying, record).others;
    std::sort(names.others.begin(), names.others.end());
    return names;
}

std::vector<PlannedRename> planRemoval(std::span<const FileName> listed, const FolderRecord &record,
                                       bool stripAll, int *kept, std::vector<int> *listIndexes)
{
    if (stripAll)
        return planRemovalKeeping(listed, {}, kept, listIndexes);
    const std::vector<FileName> others = strippableNames(listed, record).others;
    return planRemovalKeeping(listed, others, kept, listIndexes);
}

std::vector<PlannedRename> planShuffle(std::vector<FileName> listed, RandomSource &random)
{
    std::vector<PlannedRename> planned;
    planned.reserve(listed.size());
    for (FileName &name : listed) {
        FileName to = prefixText(prefixValue(random.next())) + name;
        planned.push_back({std::move(name), std::move(to)});
    }
    return planned;
}

std::vector<PlannedRename> planReplace(std::span<const FileName> listed, const FolderRecord &record,
                                       RandomSource &random, int *replaced)
{
    const ForeignPrefixes foreign = foreignPrefixes(listed, record, listed.size());
    auto nextForeign = foreign.names.begin();
    std::vector<PlannedRename> planned;
    planned.reserve(listed.size());
    int count = 0;
    for (const FileName &name : listed) {
        // The foreign names come in the list's order: one walk beside it finds them.
        bool replace = false;
        if (nextForeign != foreign.names.end() && *nextForeign == name) {
            ++nextForeign;
            replace = foreign.mostOfList;
        }
        replace = replace || (startsWithFourDigits(name) && record.prefixed.count(name) > 0);
        FileName to;
        do {
            to = prefixText(prefixValue(random.next())) +
                 (replace ? FileName(name.begin() + 4, name.end()) : name);
        } while (to == name); // the same digits drawn again would be no new order
        count += replace ? 1 : 0;
        planned.push_back({name, std::move(to)});
    }
    if (replaced)
        *replaced = count;
    return planned;
}

// A recorded pass works on the folder and the names it announced to the journal; without a record
// the folder and each name are read afresh for every file, as the window's lists give them.
PassResult runShufflePass(PassContext ctx, RandomSource &random)
{
    Renamer renamer(ctx.renameCalls);
    Recording recording(ctx.journal);
    std::filesystem::path recordedFolder;
    const auto prepare = [&](const FolderRecord *record, PassResult &result) {
        random.reseed();
        if (!record)
            return true;
        std::vector<FileName> listed = listedNames(ctx.list);
        if (const ForeignPrefixes foreign = foreignPrefixes(listed, *record, listed.size());
            foreign.mostOfList &&
            !questionsOf(ctx).shuffleOverForeign(foreign.names, static_cast<int>(listed.size()))) {
            result.status = PassResult::Status::Cancelled;
            return false;
        }
        const std::vector<FileName> prefixed = korvaloPrefixedNames(listed, *record);
        if (!prefixed.empty() &&
            !questionsOf(ctx).shuffleAgain(prefixed, static_cast<int>(listed.size()))) {
            result.status = PassResult::Status::Cancelled;
            return false;
        }
        // Every file's first draw, in list order, before the first rename: then the journal can
        // announce them all at once. The listed names tell the journal which names it knows of
        // are gone; when it knows of none, they are not needed, and the plan takes them over
        // instead of a copy.
        const bool forgetGone = !record->prefixed.empty();
        std::vector<PlannedRename> planned;
        if (forgetGone) {
            planned = planShuffle(listed, random);
        } else {
            planned = planShuffle(std::move(listed), random);
            listed.clear();
        }
        std::vector<int> indexes(planned.size());
        std::iota(indexes.begin(), indexes.end(), 0);
        recordedFolder = ctx.folder.folder();
        return recording.begin(PassKind::Shuffle, std::move(planned), std::move(indexes), listed,
                               result);
    };
    FileName fromPath;
    FileName toPath;
    const auto shuffleFile = [&](int i, const FolderGoneCheck &medium, PassResult &result) {
        const bool recorded = recording.on();
        if (recorded && static_cast<std::size_t>(i) >= recording.planned().size())
            return true; // not announced (the list grew meanwhile): left alone
        // A recorded file's names are the journal's, used where they are.
        std::filesystem::path freshFolder;
        FileName freshName;
        const std::filesystem::path &folder =
            recorded ? recordedFolder : (freshFolder = ctx.folder.folder());
        const FileName &name = recorded ? recording.planned()[static_cast<std::size_t>(i)].from
                                        : (freshName = ctx.list.name(i).native());
        pathInFolder(fromPath, folder, name);

        // A drawn name that is taken already gets a new draw; any other failure ends the pass.
        FileName drawn;
        const FileName *newName = &drawn;
        RenameOutcome outcome;
        for (int draw = 0; draw < kPrefixDraws; ++draw) {
            if (recorded && draw == 0) {
                newName = &recording.planned()[static_cast<std::size_t>(i)].to;
            } else {
                drawn = prefixText(prefixValue(random.next())) + name;
                newName = &drawn;
                if (recorded) {
                    if (const JournalError err = recording.revise(i, drawn); !err.ok()) {
                        result.failedIndex = i;
                        result.oldName = name;
                        result.newName = drawn;
                        recording.broken(i, err, result);
                        return false;
                    }
                }
            }
            pathInFolder(toPath, folder, *newName);
            outcome = renamer.renameText(fromPath, toPath);
            if (outcome.error != RenameError::TargetExists)
                break;
        }
        if (settle(result, i, name, *newName, medium.explain(folder, outcome)))
            return true;
        recording.failed(i, result);
        return false;
    };
    return walkList(ctx, recording, prepare, shuffleFile);
}

PassResult runReplacePass(PassContext ctx, RandomSource &random)
{
    Renamer renamer(ctx.renameCalls);
    Recording recording(ctx.journal);
    std::filesystem::path plannedFolder;
    std::vector<PlannedRename> unrecorded; // the plan, where no journal keeps it
    const auto prepare = [&](const FolderRecord *record, PassResult &result) {
        random.reseed();
        const std::vector<FileName> listed = listedNames(ctx.list);
        std::vector<PlannedRename> planned =
            planReplace(listed, record ? *record : FolderRecord(), random);
        plannedFolder = ctx.folder.folder();
        if (!record) {
            unrecorded = std::move(planned);
            return true;
        }
        std::vector<int> indexes(planned.size());
        std::iota(indexes.begin(), indexes.end(), 0);
        return recording.begin(PassKind::Replace, std::move(planned), std::move(indexes), listed,
                               result);
    };
    FileName fromPath;
    FileName toPath;
    const auto replaceFile = [&](int i, const FolderGoneCheck &medium, PassResult &result) {
        const std::vector<PlannedRename> &files = recording.on() ? recording.planned() : unrecorded;
        if (static_cast<std::size_t>(i) >= files.size())
            return true; // not planned (the list grew meanwhile): left alone
        const PlannedRename &file = files[static_cast<std::size_t>(i)];
        pathInFolder(fromPath, plannedFolder, file.from);
        // A drawn name that is taken already gets a new draw; any other failure ends the pass.
        FileName drawn;
        const FileName *newName = &file.to;
        RenameOutcome outcome;
        for (int draw = 0; draw < kPrefixDraws; ++draw) {
            if (draw > 0) {
                do {
                    drawn = prefixText(prefixValue(random.next())) +
                            FileName(file.to.begin() + 4, file.to.end());
                } while (drawn == file.from);
                newName = &drawn;
                if (const JournalError err = recording.revise(i, drawn); !err.ok()) {
                    result.failedIndex = i;
                    result.oldName = file.from;
                    result.newName = drawn;
                    recording.broken(i, err, result);
                    return false;
                }
            }
            pathInFolder(toPath, plannedFolder, *newName);
            outcome = renamer.renameText(fromPath, toPath);
            if (outcome.error != RenameError::TargetExists)
                break;
        }
        if (settle(result, i, file.from, *newName, medium.explain(plannedFolder, outcome)))
            return true;
        recording.failed(i, result);
        return false;
    };
    return walkList(ctx, recording, prepare, replaceFile);
}

PassResult runRemovalPass(PassContext ctx)
{
    Renamer renamer(ctx.renameCalls);
    Recording recording(ctx.journal);
    std::filesystem::path recordedFolder;
    std::vector<int> journalIndex; // per listed index: its place in the record, or -1
    const auto prepare = [&](const FolderRecord *record, PassResult &result) {
        if (!record)
            return true;
        const std::vector<FileName> listed = listedNames(ctx.list);
        const StrippableNames digits = strippableNames(listed, *record);
        bool stripAll = true;
        if (!digits.others.empty()) {
            switch (questionsOf(ctx).stripOtherDigits(digits.others,
                                                      static_cast<int>(digits.qualifying.size()))) {
            case PassQuestions::DigitAnswer::KeepOthers:
                stripAll = false;
                break;
            case PassQuestions::DigitAnswer::StripAll:
                break;
            case PassQuestions::DigitAnswer::Cancel:
                result.status = PassResult::Status::Cancelled;
                return false;
            }
        }
        std::vector<int> indexes;
        std::vector<PlannedRename> planned =
            planRemovalKeeping(listed, stripAll ? std::span<const FileName>() : digits.others,
                               &result.keptDigits, &indexes);
        journalIndex.assign(listed.size(), -1);
        for (std::size_t j = 0; j < indexes.size(); ++j)
            journalIndex[static_cast<std::size_t>(indexes[j])] = static_cast<int>(j);
        recordedFolder = ctx.folder.folder();
        return recording.begin(PassKind::Removal, std::move(planned), std::move(indexes), listed,
                               result);
    };
    FileName fromPath;
    FileName toPath;
    const auto stripFile = [&](int i, const FolderGoneCheck &medium, PassResult &result) {
        const PlannedRename *planned = nullptr;
        FileName freshName;
        std::filesystem::path freshFolder;
        if (recording.on()) {
            if (static_cast<std::size_t>(i) >= journalIndex.size())
                return true; // not announced (the list grew meanwhile): left alone
            const int j = journalIndex[static_cast<std::size_t>(i)];
            if (j < 0)
                return true;
            planned = &recording.planned()[static_cast<std::size_t>(j)];
        } else {
            freshName = ctx.list.name(i).native();
            if (!isStrippable(freshName))
                return true;
            freshFolder = ctx.folder.folder();
        }
        // A recorded file's names are the journal's, used where they are.
        const FileName &name = planned ? planned->from : freshName;
        const std::filesystem::path &folder = planned ? recordedFolder : freshFolder;
        FileName stripped;
        if (!planned)
            stripped = freshName.substr(4);
        const FileName &newName = planned ? planned->to : stripped;
        pathInFolder(fromPath, folder, name);
        pathInFolder(toPath, folder, newName);
        const RenameOutcome outcome = renamer.renameText(fromPath, toPath);
        if (settle(result, i, name, newName, medium.explain(folder, outcome)))
            return true;
        if (planned)
            recording.failed(journalIndex[static_cast<std::size_t>(i)], result);
        return false;
    };
    return walkList(ctx, recording, prepare, stripFile);
}

} // namespace korvalo
