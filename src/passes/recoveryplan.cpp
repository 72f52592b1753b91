#include "passes/recoveryplan.h"
#include "browse/asciichars.h"
#include "journal/journalfold.h"

#include <algorithm>
#include <unordered_set>

namespace korvalo {

namespace {

using NameSet = std::unordered_set<FileName>;

// The character after the four digits, as a code point; -1 when there is none or it cannot be
// read. Names are UTF-8 bytes on POSIX systems and UTF-16 units on Windows.
[[maybe_unused]] long charAfterDigits(const std::string &name)
{
    if (name.size() <= 4)
        return -1;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(name[i]); };
    const unsigned char b0 = byte(4);
    if (b0 < 0x80)
        return b0;
    const int length = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (length == 0 || name.size() < 4 + static_cast<std::size_t>(length))
        return -1;
    long cp = b0 & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k) {
        const unsigned char b = byte(4 + static_cast<std::size_t>(k));
        if ((b & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    return cp;
}

[[maybe_unused]] long charAfterDigits(const std::wstring &name)
{
    return name.size() > 4 ? static_cast<long>(name[4]) : -1;
}

// A blank or a punctuation mark, ASCII, general, CJK or full-width: what follows digits that
// belong to a name ("2019 Live", "1999 - Prince", "0001_Intro", "2019【Live】").
bool isBlankOrPunctuation(long c)
{
    if (c < 0)
        return true; // nothing after the digits: they are the whole name
    if (c <= 0x20 || c == 0x7F)
        return true;
    if (c < 0x80)
        return !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    return (c >= 0x2000 && c <= 0x206F) || (c >= 0x3000 && c <= 0x303F) ||
           (c >= 0xFF01 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) ||
           (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65);
}

struct Step
{
    int index;
    const FileName *from;
    const FileName *to;
};

// Plays the moves through on a copy of the folder's names: a move whose name is gone or whose
// target is taken by then is a conflict and is left out.
void simulate(NameSet names, const std::vector<Step> &steps, const PassRecord &pass,
              std::vector<RecoveryMove> &moves, std::vector<RecoveryConflict> &conflicts)
{
    for (const Step &s : steps) {
        const PlannedRename &file = pass.files[static_cast<std::size_t>(s.index)];
        if (!names.count(*s.from)) {
            conflicts.push_back({RecoveryConflict::Kind::Missing, s.index, file.from, file.to});
        } else if (names.count(*s.to)) {
            conflicts.push_back({RecoveryConflict::Kind::TargetTaken, s.index, file.from, file.to});
        } else {
            names.erase(*s.from);
            names.insert(*s.to);
            moves.push_back({s.index, *s.from, *s.to});
        }
    }
}

} // namespace

RecoveryPlan planRecovery(const PassRecord &pass, std::span<const FileName> folderNames,
                          RecoveryParts parts)
{
    RecoveryPlan plan;
    const std::vector<FileState> states = fileStates(pass, folderNames);
    plan.status.kind = pass.kind;
    plan.status.startTime = pass.startTime;
    plan.status.fileCount = pass.fileCount;
    plan.status.recorded = static_cast<int>(pass.files.size());
    plan.status.end = pass.end;
    plan.status.done = static_cast<int>(std::count(states.begin(), states.end(), FileState::Done));
    plan.status.missing =
        static_cast<int>(std::count(states.begin(), states.end(), FileState::Missing));

    plan.canUndo = pass.kind == PassKind::Shuffle || pass.kind == PassKind::Replace;
    // A replace pass is undone by one of its own kind: the old digits come back for the new ones.
    plan.undoKind = pass.kind == PassKind::Replace ? PassKind::Replace : PassKind::Restore;
    plan.finishKind = pass.kind;

    NameSet present(folderNames.begin(), folderNames.end());
    std::vector<RecoveryConflict> missing;
    std::vector<Step> undo, finish;
    for (std::size_t i = 0; i < states.size(); ++i) {
        const PlannedRename &file = pass.files[i];
        const int index = static_cast<int>(i);
        if (states[i] == FileState::Missing)
            missing.push_back({RecoveryConflict::Kind::Missing, index, file.from, file.to});
        else if (states[i] == FileState::NotDone)
            finish.push_back({index, &file.from, &file.to});
        else if (plan.canUndo)
            undo.push_back({index, &file.to, &file.from});
    }
    // Undone last to first: a file gets its name back only after the file that took that name
    // has moved on.
    std::reverse(undo.begin(), undo.end());
    // Each is played through on its own copy of the names; the last one played takes them.
    if (parts == RecoveryParts::Both)
        simulate(present, undo, pass, plan.undo, plan.undoConflicts);
    else if (parts == RecoveryParts::UndoOnly)
        simulate(std::move(present), undo, pass, plan.undo, plan.undoConflicts);
    if (parts != RecoveryParts::UndoOnly)
        simulate(std::move(present), finish, pass, plan.finish, plan.finishConflicts);

    const auto byIndex = [](const RecoveryConflict &a, const RecoveryConflict &b) {
        return a.index < b.index;
    };
    for (auto *conflicts : {&plan.undoConflicts, &plan.finishConflicts}) {
        conflicts->insert(conflicts->end(), missing.begin(), missing.end());
        std::sort(conflicts->begin(), conflicts->end(), byIndex);
    }
    return plan;
}

DigitNames classifyDigitNames(std::span<const FileName> names, const FolderRecord &record)
{
    DigitNames out;
    for (const FileName &name : names) {
        // The removal's own rule: "1984.mp3" keeps its digits, so they are nobody's prefix.
        if (!isStrippable(name))
            continue;
        bool korvalo;
        if (name[0] == '0')
            korvalo = false;
        else if (record.known)
            korvalo = record.prefixed.count(name) > 0;
        else
            korvalo = !isBlankOrPunctuation(charAfterDigits(name));
        (korvalo ? out.korvaloPrefixed : out.others).push_back(name);
    }
    return out;
}

ForeignPrefixes foreignPrefixes(std::span<const FileName> names, const FolderRecord &record,
                                std::size_t listed)
{
    ForeignPrefixes out;
    std::size_t yearLike = 0;
    for (const FileName &name : names) {
        if (!startsWithFourDigits(name) || name[0] == '0' || record.prefixed.count(name) ||
            isBlankOrPunctuation(charAfterDigits(name)))
            continue;
        const int value =
            (name[0] - '0') * 1000 + (name[1] - '0') * 100 + (name[2] - '0') * 10 + (name[3] - '0');
        if (value >= 1900 && value <= 2099)
            ++yearLike;
        out.names.push_back(name);
    }
    const std::size_t count = out.names.size();
    out.mostOfList = count >= 2 && count * 2 > listed && yearLike * 2 <= count;
    return out;
}

std::vector<FileName> korvaloPrefixedNames(std::span<const FileName> names,
                                           const FolderRecord &record)
{
    std::vector<FileName> out;
    for (const FileName &name : names) {
        if (record.prefixed.count(name))
            out.push_back(name);
    }
    return out;
}

PrefixCount countPrefixes(std::span<const FileName> folderNames, FolderRecord record)
{
    if (record.pending) {
        fold(*record.pending, fileStates(*record.pending, folderNames), record.prefixed);
        record.pending.reset();
    }
    const FolderRecord *known = &record;
    const DigitNames digits = classifyDigitNames(folderNames, *known);
    PrefixCount count;
    count.known = known->known;
    count.korvalo = static_cast<int>(digits.korvaloPrefixed.size());
    count.others = static_cast<int>(digits.others.size());
    for (const FileName &name : digits.korvaloPrefixed) {
        if (const auto it = known->prefixed.find(name);
            it != known->prefixed.end() && it->second > 1)
            ++count.stacked;
    }
    return count;
}

RecordedRun runRecordedMoves(Journal &journal, const JournalKey &key, const RecordedMoves &what,
                             const std::function<MoveOutcome(const PlannedRename &)> &move)
{
    RecordedRun run;
    const int n = static_cast<int>(what.moves.size());
    const int batch = what.batchSize > 0 ? std::min(what.batchSize, n) : n;
    PassStart start;
    start.kind = what.kind;
    start.fileCount = n;
    start.planned = what.moves.first(static_cast<std::size_t>(batch));
    start.listed = what.listed;
    start.settlePending = what.settlePending;
    run.journal = journal.beginPass(key, start);
    if (!run.journal.ok()) {
        run.end = PassEnd::Failed;
        return run;
    }
    int announced = batch;
    const auto finish = [&](PassEnd end, int attempted) {
        run.end = end;
        const JournalError err = journal.endPass(end, attempted);
        if (run.journal.ok())
            run.journal = err;
        return run;
    };
    for (int i = 0; i < n; ++i) {
        if (i == announced) {
            const int next = std::min(announced + batch, n);
            run.journal = journal.announce(what.moves.subspan(
                static_cast<std::size_t>(announced), static_cast<std::size_t>(next - announced)));
            if (!run.journal.ok())
                return finish(PassEnd::Failed, i);
            announced = next;
        }
        const MoveOutcome outcome = move(what.moves[static_cast<std::size_t>(i)]);
        if (outcome == MoveOutcome::Renamed) {
            ++run.renamed;
        } else {
            run.refusedIndexes.push_back(i);
            run.journal = journal.refused(i);
            if (outcome == MoveOutcome::Stop || !run.journal.ok())
                return finish(PassEnd::Failed, i + 1);
        }
        if (what.step && !what.step(i, n))
            return finish(PassEnd::Stopped, i + 1);
    }
    return finish(PassEnd::Completed, n);
}

RecordedRun runRecovery(Journal &journal, const JournalKey &key, const RecoveryPlan &plan,
                        RecoveryChoice choice, std::span<const FileName> folderNames,
                        const std::function<MoveOutcome(const PlannedRename &)> &move,
                        const std::function<bool(int index, int count)> &step)
{
    if (choice == RecoveryChoice::Leave) {
        RecordedRun run;
        run.journal = journal.settle(key, folderNames);
        return run;
    }
    const bool undo = choice == RecoveryChoice::Undo;
    std::vector<PlannedRename> moves;
    for (const RecoveryMove &m : undo ? plan.undo : plan.finish)
        moves.push_back({m.from, m.to});
    RecordedMoves what;
    what.kind = undo ? plan.undoKind : plan.finishKind;
    what.moves = moves;
    what.listed = folderNames;
    what.settlePending = true;
    what.step = step;
    return runRecordedMoves(journal, key, what, move);
}

} // namespace korvalo
