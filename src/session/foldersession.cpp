#include "session/foldersession.h"

#include "browse/asciichars.h"
#include "browse/mountinfo.h"
#include "journal/journalkey.h"
#include "journal/passlock.h"
#include "passes/foldergonecheck.h"
#include "passes/ordering.h"
#include "passes/randomsource.h"
#include "passes/volumeclaim.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string_view>
#include <utility>

namespace korvalo::session {

namespace fs = std::filesystem;
using Outcome = Report::Outcome;
using DigitAnswer = PassQuestions::DigitAnswer;

namespace {

// The answers a plan fixed before the pass, handed to the pass so that it asks nobody.
class PlannedAnswers : public PassQuestions
{
public:
    explicit PlannedAnswers(const Plan &plan) : m_plan(plan) {}
    DigitAnswer stripOtherDigits(const std::vector<FileName> &, int) override
    {
        return m_plan.stripAll ? DigitAnswer::StripAll : DigitAnswer::KeepOthers;
    }
    bool shuffleAgain(const std::vector<FileName> &, int) override { return m_plan.again; }
    bool shuffleOverForeign(const std::vector<FileName> &, int) override { return m_plan.again; }

private:
    const Plan &m_plan;
};

// Asks, or takes the safe answer where nobody can be asked (and says so).
Answer answerOf(Asker &asker, const Question &question, bool *unasked = nullptr)
{
    if (const std::optional<Answer> given = asker.given(question))
        return *given;
    if (!asker.attended()) {
        if (unasked)
            *unasked = true;
        return question.unattendedAnswer;
    }
    return asker.ask(question);
}

// An answer as the kind its question offers; another kind (a front end's slip) as its escape.
template <class Kind> Kind answerAs(const Question &question, const Answer &answer)
{
    const Kind *kind = std::get_if<Kind>(&answer);
    return kind ? *kind : std::get<Kind>(question.escapeAnswer);
}

// A plan that renames nothing, only reports: why nothing is to be done, or that it is done.
Plan emptyPlan(const fs::path &folder, PassKind kind, Outcome outcome, std::string problem = {})
{
    Plan plan;
    plan.folder = folder;
    plan.report.kind = kind;
    plan.report.outcome = outcome;
    if (!problem.empty())
        plan.report.problems.push_back(std::move(problem));
    return plan;
}

// The listed names, in the list's order, as one number: a plan made from names with the same
// print was made from the same names.
std::uint64_t namesPrintOf(const MusicFileList &list)
{
    std::uint64_t print = 0xCBF29CE484222325ull ^ static_cast<std::uint64_t>(list.count());
    for (int i = 0; i < list.count(); ++i) {
        print ^= std::hash<std::string_view>{}(list.nameView(i));
        print *= 0x100000001B3ull;
    }
    return print;
}

// What a record knows of its folder, as one number.
std::uint64_t recordPrintOf(const FolderRecord &record)
{
    std::uint64_t print = record.known ? 0x9E3779B97F4A7C15ull : 1;
    const auto mix = [&](std::uint64_t h) { print = (print ^ h) * 0x100000001B3ull; };
    for (const auto &[name, count] : record.prefixed) {
        mix(std::hash<FileName>{}(name));
        mix(static_cast<std::uint64_t>(count));
    }
    mix(record.pending ? static_cast<std::uint64_t>(record.pending->startTime) + 2 : 0);
    mix(std::hash<std::string>{}(record.stick));
    return print;
}

// Nobody to ask: a plan made elsewhere than planPass() is checked with the safe answers.
class NobodyThere : public Asker
{
public:
    bool attended() const override { return false; }
    Answer ask(const Question &question) override { return question.unattendedAnswer; }
};

bool beginsWithFourDigits(const FileName &name)
{
    return name.size() >= 4 &&
           std::all_of(name.begin(), name.begin() + 4, [](auto c) { return c >= '0' && c <= '9'; });
}

} // namespace

// Where a running plan's progress goes: the session's hand-off, read by the front end.
class FolderSession::ProgressHandOff : public ProgressSink
{
public:
    explicit ProgressHandOff(FolderSession &session) : m_session(session) {}

    void start(int count) override { set(0, count, false); }
    bool step(int index, int count) override
    {
        set(index + 1, count, false);
        return !stopAsked();
    }
    // A stop is heeded until the last file is out; the moves back after it are shown as such.
    bool ordering(int done, int total) override
    {
        if (m_movingBack) {
            set(done - total / 2, total / 2, true, true);
            return true;
        }
        set(done, total, true);
        if (!stopAsked())
            return true;
        m_movingBack = done < total / 2;
        return false;
    }

private:
    bool stopAsked()
    {
        if (m_session.m_stopCheck && m_session.m_stopCheck())
            m_session.m_stop = true;
        return m_session.m_stop.load(std::memory_order_relaxed);
    }

    void set(int done, int count, bool ordering, bool movingBack = false)
    {
        const std::lock_guard<std::mutex> hold(m_session.m_mutex);
        m_session.m_progress.done = done;
        m_session.m_progress.count = count;
        m_session.m_progress.ordering = ordering;
        m_session.m_progress.movingBack = movingBack;
    }

    FolderSession &m_session;
    bool m_movingBack = false;
};

FolderSession::FolderSession(Front front, StoredOrderRule storedOrder, RenameSystem &renameCalls)
    : m_front(front), m_journal(std::make_unique<Journal>()), m_storedOrder(storedOrder),
      m_renameCalls(renameCalls)
{
}

FolderSession::~FolderSession()
{
    if (!m_thread.joinable())
        return;
    m_stop = true;
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

const FolderState &FolderSession::open(const fs::path &folder, Opening how)
{
    m_state = FolderState();
    m_openedRecord.reset();
    FolderState &s = m_state;
    s.folder = folder;
    m_device = deviceOf(folder);
    const ListError error = m_list.setFolder(folder);
    // The ordering folder is offered its move back even when it cannot be listed.
    if (!error.ok() && (how == Opening::ListOnly || !isOrderingFolder(folder))) {
        s.kind = FolderState::Kind::Unreadable;
        s.listError = error;
        s.problem = texts::folderFailure(folder, error, m_front);
        return s;
    }
    s.songs = error.ok() ? m_list.count() : 0;
    if (how != Opening::ListOnly)
        assess(how);
    return s;
}

void FolderSession::assess(Opening how)
{
    m_openedRecord.reset();
    FolderState &s = m_state;
    const fs::path folder = s.folder;
    const int songs = s.songs;
    s = FolderState();
    s.folder = folder;
    s.songs = songs;
    if (isOrderingFolder(folder)) {
        // Its files belong one level up: it gets no pass of its own, only the move back.
        s.kind = FolderState::Kind::OrderingFolder;
        s.question = texts::orderingFolderQuestion(folder, m_front);
        s.problem = texts::orderingFolder(folder, m_front);
        return;
    }

    JournalError error;
    FolderRecord record;
    const RecoveryCheck check =
        checkForRecovery(folder, *m_journal, s.pending, &error,
                         how == Opening::Look ? CheckMode::ReadOnly : CheckMode::Settle, &record);
    s.journalError = error;
    switch (check) {
    case RecoveryCheck::Nothing:
        break;
    case RecoveryCheck::Pending:
    case RecoveryCheck::Unconfirmed: {
        const bool unconfirmed = check == RecoveryCheck::Unconfirmed;
        s.kind = unconfirmed ? FolderState::Kind::Unconfirmed : FolderState::Kind::Pending;
        s.question = texts::recoveryQuestion(s.pending.plan.status,
                                             static_cast<int>(s.pending.plan.finish.size()),
                                             unconfirmed, m_front);
        break;
    }
    case RecoveryCheck::VolumeBusy:
        s.kind = FolderState::Kind::Busy;
        s.problem = texts::recoveryBusy(m_front);
        break;
    case RecoveryCheck::LockUnavailable:
        s.kind = FolderState::Kind::LockUnavailable;
        s.problem = texts::lockUnavailable(s.pending.lockFailure, m_front);
        break;
    case RecoveryCheck::Damaged:
        s.kind = FolderState::Kind::Damaged;
        s.question = texts::damagedRecordQuestion(error, m_front);
        s.problem = texts::recordDamaged(error, folder, m_front);
        return;
    case RecoveryCheck::JournalFailed:
        s.kind = FolderState::Kind::JournalFailed;
        s.problem = texts::journalFailure(error, m_front);
        return;
    }

    m_openedRecord = recordPrintOf(record);
    // What the names carry, by the record just read. An unfinished pass is counted as the names
    // show it, so the counts agree with its own.
    s.prefixes = countPrefixes(listedNames(m_list), std::move(record));
    if (s.prefixes.korvalo > 0)
        s.fits = PassKind::Removal;
    if (s.kind == FolderState::Kind::Plain && s.prefixes.korvalo > 0)
        s.kind = FolderState::Kind::Prefixed;
}

Plan FolderSession::answerOpening(const Answer &answer)
{
    const FolderState &s = m_state;
    switch (s.kind) {
    case FolderState::Kind::OrderingFolder:
        if (answer == Answer(ReturnAnswer::MoveBack))
            return planReturn();
        break;
    case FolderState::Kind::Damaged:
        if (std::holds_alternative<LeaveRecord>(answer)) {
            Plan plan;
            plan.action = Plan::Action::LeaveRecord;
            plan.folder = s.folder;
            return plan;
        }
        break;
    case FolderState::Kind::Pending:
    case FolderState::Kind::Unconfirmed:
        if (const RecoveryChoice *choice = std::get_if<RecoveryChoice>(&answer))
            return planRecovery(*choice);
        break;
    default:
        break;
    }
    return emptyPlan(s.folder, s.pending.plan.status.kind, Outcome::Cancelled);
}

Plan FolderSession::planReturn()
{
    Plan plan;
    plan.action = Plan::Action::ReturnOrdered;
    plan.folder = m_state.folder;
    plan.label = texts::returnProgressLabel();
    plan.report.kind = PassKind::Order;
    return plan;
}

Plan FolderSession::planRecovery(RecoveryChoice choice)
{
    const FolderState &s = m_state;
    const PassKind kind = s.pending.plan.status.kind;
    switch (s.kind) {
    case FolderState::Kind::OrderingFolder:
        if (choice == RecoveryChoice::Finish)
            return planReturn();
        return emptyPlan(s.folder, PassKind::Order, Outcome::Refused, s.problem);
    case FolderState::Kind::Unreadable:
        return emptyPlan(s.folder, kind, Outcome::BadFolder, s.problem);
    case FolderState::Kind::Plain:
    case FolderState::Kind::Prefixed: {
        Plan plan = emptyPlan(s.folder, kind, Outcome::Done);
        plan.report.done.push_back(texts::nothingToRecover(s.folder));
        return plan;
    }
    case FolderState::Kind::Busy:
        return emptyPlan(s.folder, kind, Outcome::Refused, texts::volumeBusy(m_front));
    case FolderState::Kind::LockUnavailable:
        return emptyPlan(s.folder, kind, Outcome::Refused, s.problem);
    case FolderState::Kind::JournalFailed:
        return emptyPlan(s.folder, kind, Outcome::Refused,
                         s.problem + "\n" + texts::nothingRenamed());
    case FolderState::Kind::Damaged:
        if (choice == RecoveryChoice::Leave)
            return answerOpening(LeaveRecord{});
        return emptyPlan(s.folder, kind, Outcome::Refused, s.problem);
    case FolderState::Kind::Pending:
    case FolderState::Kind::Unconfirmed:
        break;
    }
    if (choice == RecoveryChoice::Undo && !s.pending.plan.canUndo)
        return emptyPlan(s.folder, kind, Outcome::BadFolder,
                         texts::cannotUndo(kind, s.folder, m_front));
    Plan plan;
    plan.action = Plan::Action::Recovery;
    plan.folder = s.folder;
    plan.choice = choice;
    plan.pending = s.pending;
    plan.label = texts::recoveryProgressLabel(kind);
    plan.report.kind = kind;
    const RecoveryPlan &r = s.pending.plan;
    const auto &moves = choice == RecoveryChoice::Undo     ? r.undo
                        : choice == RecoveryChoice::Finish ? r.finish
                                                           : std::vector<RecoveryMove>();
    for (const RecoveryMove &m : moves)
        plan.renames.push_back({m.from, m.to});
    return plan;
}

Plan FolderSession::planPass(PassKind kind, Asker &asker, Detail detail)
{
    const FolderState &s = m_state;
    const fs::path &folder = s.folder;
    switch (s.kind) {
    case FolderState::Kind::OrderingFolder:
        // Its files belong one level up: moving them back is offered again, nothing else.
        if (answerOf(asker, *s.question) == Answer(ReturnAnswer::MoveBack))
            return planReturn();
        return emptyPlan(folder, kind, Outcome::Refused, s.problem);
    case FolderState::Kind::Unreadable:
        return emptyPlan(folder, kind, Outcome::BadFolder, s.problem);
    case FolderState::Kind::Busy:
    case FolderState::Kind::LockUnavailable:
        return emptyPlan(folder, kind, Outcome::Refused, s.problem);
    case FolderState::Kind::JournalFailed:
        return emptyPlan(folder, kind, Outcome::Refused,
                         s.problem + "\n" + texts::nothingRenamed());
    case FolderState::Kind::Pending:
    case FolderState::Kind::Unconfirmed:
    case FolderState::Kind::Damaged: {
        // What is in the way is asked about first; the pass itself waits for the next request.
        if (const Answer answer = answerOf(asker, *s.question);
            !std::holds_alternative<Later>(answer)) {
            Plan plan = answerOpening(answer);
            if (plan.runnable())
                return plan;
        }
        std::string why = s.kind == FolderState::Kind::Damaged
                              ? s.problem
                              : texts::pendingPass(s.pending.plan, folder, m_front) + "\n" +
                                    texts::recoveryPending(folder, m_front);
        if (s.kind == FolderState::Kind::Unconfirmed)
            why += "\n" + texts::stickUnconfirmed(folder, m_front);
        return emptyPlan(folder, kind, Outcome::Refused, why);
    }
    case FolderState::Kind::Plain:
    case FolderState::Kind::Prefixed:
        break;
    }
    if (std::optional<Plan> gone = goneAway(kind))
        return std::move(*gone);
    // The questions are about the names as they are now, not as they were when the folder was
    // opened (a window may have stood open for hours).
    // Where it changed since the folder was opened, the user is told, as under the lock.
    Plan opened;
    opened.namesPrint = namesPrintOf(m_list);
    opened.recordPrint = m_openedRecord.value_or(0);
    if (const ListError error = m_list.refresh(); !error.ok())
        return emptyPlan(folder, kind, Outcome::BadFolder,
                         texts::folderFailure(folder, error, m_front));
    return planListed(kind, asker, detail, m_openedRecord ? &opened : nullptr, nullptr);
}

Plan FolderSession::planListed(PassKind kind, Asker &asker, Detail detail, const Plan *earlier,
                               std::shared_ptr<const VolumeClaim> held)
{
    const fs::path &folder = m_state.folder;
    if (m_list.count() == 0) {
        Plan plan = emptyPlan(folder, kind, Outcome::Done, texts::emptyList());
        plan.report.emptyList = true;
        return plan;
    }

    // Refused where the pass would refuse: the driver and the volume's lock, only tried here
    // unless held already.
    const VolumeClaim tried = held ? VolumeClaim()
                                   : claimVolume(folder, ClaimMode::TryOnly,
                                                 MountLookup::MountTable, m_journal->lockFolder());
    switch (const VolumeClaim &claim = held ? *held : tried; claim.refusal) {
    case VolumeClaim::Refusal::None:
        break;
    case VolumeClaim::Refusal::UnsafeDriver:
        return emptyPlan(folder, kind, Outcome::Refused, texts::unsafeDriver(m_front));
    case VolumeClaim::Refusal::Busy:
        return emptyPlan(folder, kind, Outcome::Refused, texts::volumeBusy(m_front));
    case VolumeClaim::Refusal::Unavailable:
        return emptyPlan(folder, kind, Outcome::Refused,
                         texts::lockUnavailable(claim.lockFailure, m_front));
    }
    FolderRecord record;
    if (const JournalError error =
            m_journal->load(journalKeyOf(folder).value_or(JournalKey{}), record);
        !error.ok()) {
        if (error.kind == JournalError::Kind::Damaged)
            return emptyPlan(folder, kind, Outcome::Refused,
                             texts::nothingRenamed() + "\n" +
                                 texts::recordDamaged(error, folder, m_front));
        return emptyPlan(folder, kind, Outcome::Refused,
                         texts::journalFailure(error, m_front) + "\n" + texts::nothingRenamed());
    }

    Plan plan;
    plan.folder = folder;
    plan.report.kind = kind;
    plan.label = texts::progressLabel(kind);
    plan.asker = &asker;
    plan.claim = std::move(held);
    plan.namesPrint = namesPrintOf(m_list);
    plan.recordPrint = recordPrintOf(record);
    if (earlier &&
        (plan.namesPrint != earlier->namesPrint || plan.recordPrint != earlier->recordPrint))
        plan.changed =
            texts::folderChangedMeanwhile(plan.recordPrint != earlier->recordPrint, m_front);
    // The questions are about names that begin with four digits; only a dry run needs them all.
    // In a large folder the copies are worth sparing: the pass lists the names again as it runs.
    const bool allNames = detail == Detail::Renames;
    std::vector<FileName> names;
    if (allNames) {
        names = listedNames(m_list);
    } else {
        for (int i = 0; i < m_list.count(); ++i)
            if (const std::string_view name = m_list.nameView(i); hasOrderPrefix(name))
                names.push_back(pathOfName(name).native());
    }
    if (kind == PassKind::Shuffle) {
        const std::vector<FileName> prefixed = korvaloPrefixedNames(names, record);
        const ForeignPrefixes foreign =
            foreignPrefixes(names, record, static_cast<std::size_t>(m_list.count()));
        // Digits that look like a prefix written elsewhere are asked about where they are most of
        // the list; else the prefixes Korvalo knows as its own.
        std::optional<Question> q;
        if (foreign.mostOfList)
            q = texts::foreignPrefixesQuestion(foreign.names, m_list.count(), m_front);
        else if (!prefixed.empty())
            q = texts::shuffleAgainQuestion(prefixed, m_list.count(), folder, m_front);
        bool replace = false;
        if (q) {
            bool unasked = false;
            const std::vector<FileName> &about = foreign.mostOfList ? foreign.names : prefixed;
            switch (answerAs<PrefixedAnswer>(
                *q, answerFor(plan, earlier, asker, *q, about, &unasked))) {
            case PrefixedAnswer::NewDigits:
                replace = true;
                break;
            case PrefixedAnswer::AddAnother:
                plan.again = true;
                break;
            case PrefixedAnswer::Cancel: {
                Plan none = emptyPlan(
                    folder, kind, Outcome::Cancelled,
                    !unasked ? texts::cancelled()
                    : foreign.mostOfList
                        ? texts::foreignDeclined(static_cast<int>(foreign.names.size()), folder,
                                                 m_front)
                        : texts::againDeclined(static_cast<int>(prefixed.size()), folder, m_front));
                none.changed = plan.changed;
                return none;
            }
            }
        }
        if (allNames) {
            ClockRandomSource random;
            random.reseed();
            plan.renames = replace ? planReplace(names, record, random)
                                   : planShuffle(std::move(names), random);
        }
        if (replace) {
            plan.report.kind = PassKind::Replace;
            plan.label = texts::progressLabel(PassKind::Replace);
        }
        plan.action = replace ? Plan::Action::Replace : Plan::Action::Shuffle;
        return plan;
    }

    const StrippableNames digits = strippableNames(names, record);
    if (!digits.others.empty()) {
        // The names with four leading digits that the removal leaves alone: both lists keep the
        // list's order, so one walk finds them.
        std::vector<FileName> leftAlone;
        auto next = digits.qualifying.begin();
        for (const FileName &name : names) {
            if (next != digits.qualifying.end() && *next == name)
                ++next;
            else if (beginsWithFourDigits(name))
                leftAlone.push_back(name);
        }
        const Question q = texts::stripDigitsQuestion(
            digits.others, static_cast<int>(digits.qualifying.size()), m_front, leftAlone);
        switch (answerAs<DigitAnswer>(q, answerFor(plan, earlier, asker, q, digits.others))) {
        case DigitAnswer::KeepOthers:
            plan.stripAll = false;
            break;
        case DigitAnswer::StripAll:
            break;
        case DigitAnswer::Cancel: {
            Plan none = emptyPlan(folder, kind, Outcome::Cancelled, texts::cancelled());
            none.changed = plan.changed;
            return none;
        }
        }
    }
    if (allNames)
        plan.renames = planRemoval(names, record, plan.stripAll, &plan.kept);
    plan.action = Plan::Action::Removal;
    return plan;
}

Answer FolderSession::answerFor(Plan &plan, const Plan *earlier, Asker &asker, Question question,
                                std::vector<FileName> about, bool *unasked)
{
    Answer answer;
    const auto same = [&](const Plan::Asked &a) {
        return a.kind == question.kind && a.about == about;
    };
    if (const auto it = earlier
                            ? std::find_if(earlier->answers.begin(), earlier->answers.end(), same)
                            : std::vector<Plan::Asked>::const_iterator();
        earlier && it != earlier->answers.end()) {
        answer = it->answer;
    } else {
        // Asked again: the user sees why first.
        if (!plan.changed.empty())
            question.text = plan.changed + "\n\n" + question.text;
        answer = answerOf(asker, question, unasked);
    }
    plan.answers.push_back({question.kind, std::move(about), answer});
    return answer;
}

Plan FolderSession::checkedUnderLock(Plan plan)
{
    // A replace is the shuffle's answer: planned again as the shuffle it was asked as.
    const PassKind kind =
        plan.action == Plan::Action::Removal ? PassKind::Removal : PassKind::Shuffle;
    const fs::path folder = plan.folder;
    NobodyThere nobody;
    Asker &asker = plan.asker ? *plan.asker : nobody;
    auto claim = std::make_shared<const VolumeClaim>(
        claimVolume(folder, ClaimMode::Hold, MountLookup::Resolve, m_journal->lockFolder()));
    if (!claim->granted())
        return planListed(kind, asker, Detail::Decisions, &plan, std::move(claim));
    if (std::optional<Plan> gone = goneAway(kind))
        return std::move(*gone);
    if (const ListError error = m_list.refresh(); !error.ok()) {
        return emptyPlan(folder, kind, Outcome::BadFolder,
                         texts::folderFailure(folder, error, m_front));
    }
    Plan checked = planListed(kind, asker, Detail::Decisions, &plan, std::move(claim));
    checked.asker = plan.asker;
    if (checked.changed.empty())
        checked.changed = plan.changed; // since the folder was opened
    if (!checked.runnable() && !checked.changed.empty()) {
        checked.report.problems.insert(checked.report.problems.begin(), checked.changed);
    }
    return checked;
}

std::string FolderSession::describe(const Plan &plan) const
{
    if (!plan.runnable())
        return std::string();
    const PassKind kind = plan.action == Plan::Action::Shuffle   ? PassKind::Shuffle
                          : plan.action == Plan::Action::Replace ? PassKind::Replace
                          : plan.action == Plan::Action::Removal ? PassKind::Removal
                                                                 : plan.pending.plan.status.kind;
    // One line each: the texts end with no line break.
    std::string out = texts::dryRunHeading(kind) + '\n';
    for (const PlannedRename &rename : plan.renames)
        out += texts::dryRunRename(rename.from, rename.to) + '\n';
    return out + texts::dryRunSummary(kind, static_cast<int>(plan.renames.size()), plan.kept) +
           '\n';
}

Report FolderSession::status() const
{
    const FolderState &s = m_state;
    using Kind = FolderState::Kind;
    Report report;
    switch (s.kind) {
    case Kind::Unreadable:
        report.outcome = Outcome::BadFolder;
        report.problems.push_back(s.problem);
        return report;
    case Kind::OrderingFolder:
    case Kind::Damaged:
    case Kind::JournalFailed:
    case Kind::LockUnavailable: // an unfinished pass is looked at only under the volume's lock
        report.outcome = Outcome::Refused;
        report.problems.push_back(s.problem);
        return report;
    default:
        break;
    }
    report.done.push_back(texts::statusHeading(s.folder, s.songs));
    report.done.push_back(s.prefixes.known
                              ? texts::statusPrefixed(s.prefixes.korvalo, s.prefixes.stacked)
                              : texts::statusUnknownFolder(s.prefixes.korvalo));
    if (s.prefixes.others > 0)
        report.done.push_back(texts::statusOtherDigits(s.prefixes.others));
    switch (s.kind) {
    case Kind::Pending:
        report.done.push_back(texts::pendingPass(s.pending.plan, s.folder, m_front));
        break;
    case Kind::Unconfirmed:
        report.done.push_back(texts::pendingPass(s.pending.plan, s.folder, m_front));
        report.done.push_back(texts::stickUnconfirmed(s.folder, m_front));
        break;
    case Kind::Busy:
        report.done.push_back(texts::statusBusy());
        break;
    default:
        report.done.push_back(texts::statusNothingPending());
        break;
    }
    return report;
}

void FolderSession::start(Plan plan, std::function<void()> finished)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ended.wait(lock, [&] { return !m_progress.running; });
    // Nothing runs now, so the list and the journal are the caller's: the pass's plan is checked
    // against the folder as it is under the lock.
    if ((plan.action == Plan::Action::Shuffle || plan.action == Plan::Action::Replace ||
         plan.action == Plan::Action::Removal) &&
        !plan.claim) {
        lock.unlock();
        plan = checkedUnderLock(std::move(plan));
        lock.lock();
        m_ended.wait(lock, [&] { return !m_progress.running; });
    }
    m_stop = false;
    m_progress = Progress();
    m_progress.running = true;
    m_report = Report();
    m_job = std::move(plan);
    m_finished = std::move(finished);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { work(); });
    lock.unlock();
    m_wake.notify_one();
}

void FolderSession::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_job || m_quit; });
        if (!m_job)
            return;
        Plan plan = std::move(*m_job);
        m_job.reset();
        const std::function<void()> finished = std::move(m_finished);
        m_finished = nullptr;
        lock.unlock();
        Report report = finish(plan);
        plan = Plan(); // freed before the front end hears of the end, not while it waits
        lock.lock();
        m_report = std::move(report);
        m_progress.running = false;
        lock.unlock();
        m_ended.notify_all();
        if (finished)
            finished();
        lock.lock();
    }
}

Report FolderSession::finish(Plan &plan)
{
    Report report = execute(plan);
    // What the record knows now is this plan's doing: a later plan compares with nothing.
    m_openedRecord.reset();
    // The volume is let go before the folder is looked at again, which takes its lock itself.
    plan.claim.reset();
    // The list shows the folder as it is now: a completed pass re-read it already.
    const bool pass = plan.action == Plan::Action::Shuffle ||
                      plan.action == Plan::Action::Replace || plan.action == Plan::Action::Removal;
    // The state follows, so that what the folder offers next is asked about what it is now: an
    // unfinished pass left by a stop or a failure, one put right.
    // Files moved back from the ordering folder: the folder they went to is the one open now.
    fs::path movedTo;
    if (plan.action == Plan::Action::ReturnOrdered &&
        (report.outcome == Outcome::Done || report.outcome == Outcome::Partial))
        movedTo = withoutTrailingSeparator(plan.folder).parent_path();
    if (!movedTo.empty()) {
        if (m_list.setFolder(movedTo).ok()) {
            m_state.folder = movedTo;
            m_state.songs = m_list.count();
            assess(Opening::Work);
        }
    } else if (!(pass && report.outcome == Outcome::Done)) {
        if (m_list.refresh().ok()) {
            m_state.songs = m_list.count();
        } else if (goneAway(report.kind)) {
            // Pulled out during the plan: its report says so already.
            return report;
        }
        // A recovery carried out leaves its record as a completed pass does: folded in at the
        // next opening. Looking without writing spares rewriting the whole record right now.
        const bool recovered =
            plan.action == Plan::Action::Recovery && report.outcome == Outcome::Done;
        assess(recovered ? Opening::Look : Opening::Work);
    }
    return report;
}

std::optional<Plan> FolderSession::goneAway(PassKind kind)
{
    const fs::path folder = m_state.folder;
    if (!m_device || deviceOf(folder) == m_device)
        return std::nullopt;
    const Cause cause =
        FolderGoneCheck(m_device).explain(folder, {Cause::SourceMissing, ENOENT}).error ==
                Cause::DeviceGone
            ? Cause::DeviceGone
            : Cause::FolderGone;
    m_list = MusicFileList();
    m_state = FolderState();
    m_state.folder = folder;
    m_state.kind = FolderState::Kind::Unreadable;
    m_state.listError = {cause, ENOENT};
    m_state.problem = texts::folderGoneAway(cause, m_front);
    return emptyPlan(folder, kind, Outcome::BadFolder, m_state.problem);
}

bool FolderSession::running() const
{
    const std::lock_guard<std::mutex> hold(m_mutex);
    return m_progress.running;
}

Progress FolderSession::progress() const
{
    const std::lock_guard<std::mutex> hold(m_mutex);
    return m_progress;
}

Report FolderSession::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ended.wait(lock, [&] { return !m_progress.running; });
    return m_report;
}

Report FolderSession::execute(const Plan &plan)
{
    ProgressHandOff sink(*this);
    const fs::path &folder = plan.folder;
    Report report;
    report.kind = plan.report.kind;

    // A recovery, a move back or a record set aside: what RecoveryResult says.
    const auto fromRecovery = [&](const RecoveryResult &result, const fs::path &shown) {
        report.renamed = result.renamed;
        switch (result.status) {
        case RecoveryResult::Status::VolumeBusy:
            report.outcome = Outcome::Refused;
            report.problems.push_back(texts::volumeBusy(m_front));
            return;
        case RecoveryResult::Status::LockUnavailable:
            report.outcome = Outcome::Refused;
            report.problems.push_back(texts::lockUnavailable(result.lockFailure, m_front));
            return;
        case RecoveryResult::Status::Failed:
            report.outcome = Outcome::Partial;
            report.problems.push_back(texts::recoveryFailed(result, shown, m_front));
            return;
        case RecoveryResult::Status::Done:
            break;
        }
        if (!result.conflicts.empty())
            report.problems.push_back(texts::recoveryConflicts(result.conflicts, m_front));
        if (!result.refused.empty())
            report.problems.push_back(
                texts::recoveryRefused(result.refused, result.cause, m_front));
        if (!report.problems.empty())
            report.outcome = Outcome::Partial;
    };

    switch (plan.action) {
    case Plan::Action::Nothing:
        return plan.report;
    case Plan::Action::Shuffle:
    case Plan::Action::Replace:
    case Plan::Action::Removal: {
        const PassKind kind = plan.action == Plan::Action::Shuffle   ? PassKind::Shuffle
                              : plan.action == Plan::Action::Replace ? PassKind::Replace
                                                                     : PassKind::Removal;
        const int total = m_list.count();
        const FixedFolder fixed(folder);
        PlannedAnswers answers(plan);
        const PassContext context{m_list,          fixed,    sink,          m_renameCalls,
                                  m_journal.get(), &answers, m_storedOrder, plan.claim.get()};
        ClockRandomSource random;
        const PassResult result = kind == PassKind::Shuffle   ? runShufflePass(context, random)
                                  : kind == PassKind::Replace ? runReplacePass(context, random)
                                                              : runRemovalPass(context);
        Report passed = passReport(kind, result, total);
        if (!plan.changed.empty()) {
            // Made again under the lock: what it did was not what the user saw planned.
            passed.done.insert(passed.done.begin(), plan.changed);
            passed.remade = true;
        }
        return passed;
    }
    case Plan::Action::Recovery: {
        const RecoveryResult result =
            recoverFolder(folder, *m_journal, plan.pending, plan.choice, sink, m_storedOrder);
        fromRecovery(result, folder);
        if (report.outcome != Outcome::Done && report.outcome != Outcome::Partial)
            return report;
        if (result.stopped) {
            report.outcome = Outcome::Stopped;
            report.problems = {texts::recoveryStopped(result.renamed, folder, m_front)};
            return report;
        }
        report.done.push_back(report.kind == PassKind::Order
                                  ? texts::orderedFilesReturned(result.renamed, folder)
                                  : texts::recovered(report.kind, plan.choice, result.renamed));
        if (report.kind == PassKind::Order && plan.choice == RecoveryChoice::Undo &&
            report.outcome == Outcome::Done) {
            // The files were being stored in order after a shuffle: undoing it is taking off the
            // prefixes it wrote, as a removal does (and the removal stores them in order again).
            MusicFileList list;
            if (const ListError error = list.setFolder(folder); !error.ok()) {
                report.outcome = Outcome::Partial;
                report.problems.push_back(texts::refreshFailure(folder, error, m_front));
                return report;
            }
            const FixedFolder fixed(folder);
            const PassContext context{list, fixed, sink, m_renameCalls, m_journal.get()};
            const PassResult undone = runRemovalPass(context);
            Report removal = passReport(PassKind::Removal, undone, list.count());
            removal.kind = PassKind::Shuffle;
            removal.done.insert(removal.done.begin(), report.done.begin(), report.done.end());
            removal.renamed += report.renamed;
            return removal;
        }
        // The names as a finished shuffle leaves them, or as a removal does; files moved back
        // from an ordering keep the names their pass gave them.
        const bool shuffled =
            (report.kind == PassKind::Shuffle && plan.choice == RecoveryChoice::Finish) ||
            report.kind == PassKind::Replace ||
            (report.kind == PassKind::Order && plan.pending.plan.canUndo);
        storedOrderTold(report, shuffled ? PassKind::Shuffle : PassKind::Removal, result.ordering,
                        folder);
        return report;
    }
    case Plan::Action::ReturnOrdered: {
        const RecoveryResult result = returnOrderedFiles(folder, *m_journal, sink);
        const fs::path parent = withoutTrailingSeparator(folder).parent_path();
        fromRecovery(result, parent);
        if (report.outcome == Outcome::Done || report.outcome == Outcome::Partial) {
            report.done.push_back(texts::orderedFilesReturned(result.renamed, parent));
            storedOrderTold(report, PassKind::Removal, result.ordering, parent);
        }
        return report;
    }
    case Plan::Action::LeaveRecord: {
        const RecoveryResult result = leaveDamagedRecord(folder, *m_journal);
        fromRecovery(result, folder);
        if (report.outcome == Outcome::Done) {
            report.done.push_back(result.keptRecord.empty()
                                      ? texts::nothingToRecover(folder) // put right meanwhile
                                      : texts::damagedRecordLeft(result.keptRecord));
        }
        return report;
    }
    }
    return report;
}

void FolderSession::storedOrderTold(Report &report, PassKind namesOf, const OrderingOutcome &order,
                                    const fs::path &folder) const
{
    if (!order.filesLeftIn.empty()) {
        // Out of sight of the list and of every player until they are moved back, which opening
        // the folder offers first: the buttons wait for that, as after any failed pass.
        report.outcome = Outcome::Partial;
        report.problems.push_back(texts::filesLeftOut(order, m_front));
    } else if (order.order == StoredOrder::NotArranged || order.order == StoredOrder::Stopped) {
        if (order.order == StoredOrder::Stopped && report.outcome == Outcome::Done)
            report.outcome = Outcome::Stopped;
        report.incomplete = true;
        report.problems.push_back(texts::storedOrderNotArranged(namesOf, order, folder, m_front));
    }
    if (!order.journalError.ok()) {
        report.incomplete = true;
        report.problems.push_back(texts::journalAfterPass(order.journalError, m_front));
    }
}

Report FolderSession::passReport(PassKind kind, const PassResult &result, int total) const
{
    const fs::path &folder = m_state.folder;
    Report report;
    report.kind = kind;
    report.renamed = result.renamed;
    report.total = total;
    report.kept = result.keptDigits;
    const auto problem = [&](Outcome outcome, std::string text) {
        report.outcome = outcome;
        report.problems.push_back(std::move(text));
        return report;
    };
    // The files the pass was to rename, as its texts count them: every listed one for a shuffle;
    // for a removal those it takes four digits off, less those whose digits it keeps. The list is
    // as it was before the pass: only a completed pass reads it again.
    const auto planned = [&] {
        if (kind != PassKind::Removal)
            return total;
        int strippable = 0;
        for (int i = 0; i < m_list.count(); ++i)
            strippable += isStrippable(m_list.nameView(i)) ? 1 : 0;
        return strippable - result.keptDigits;
    };
    using Status = PassResult::Status;
    using Refusal = PassResult::Refusal;
    switch (result.status) {
    case Status::EmptyList:
        report.emptyList = true;
        return problem(Outcome::Done, texts::emptyList());
    case Status::Completed:
        report.done.push_back(texts::completed(kind, result.renamed));
        if (result.keptDigits > 0)
            report.done.push_back(texts::keptDigits(result.keptDigits, m_front));
        if (!result.refreshError.ok())
            report.problems.push_back(texts::refreshFailure(folder, result.refreshError, m_front));
        if (!result.journalError.ok()) {
            // The end of the pass did not reach its record, which still shows it unfinished.
            report.incomplete = true;
            report.problems.push_back(texts::passEndNotRecorded(
                kind, result.renamed, result.journalError, folder, m_front));
        }
        storedOrderTold(report, kind, storedOrderOf(result), folder);
        return report;
    case Status::Failed:
        if (result.filesLeftIn.empty())
            return problem(Outcome::Partial,
                           texts::renameFailure(kind, result, planned(), folder, m_front));
        problem(Outcome::Partial, texts::filesLeftOut(storedOrderOf(result), m_front));
        if (!result.journalError.ok())
            report.problems.push_back(texts::journalAfterPass(result.journalError, m_front));
        return report;
    case Status::Stopped:
        return problem(Outcome::Stopped,
                       texts::stopped(kind, result.renamed, planned(), folder, m_front));
    case Status::Cancelled:
        return problem(Outcome::Cancelled, texts::cancelled());
    case Status::Refused:
        break;
    }
    switch (result.refusal) {
    case Refusal::VolumeBusy:
        return problem(Outcome::Refused, texts::volumeBusy(m_front));
    case Refusal::UnsafeDriver:
        return problem(Outcome::Refused, texts::unsafeDriver(m_front));
    case Refusal::LockUnavailable:
        return problem(Outcome::Refused, texts::lockUnavailable(result.lockFailure, m_front));
    case Refusal::RecoveryPending:
        // Found after the folder was opened: another Korvalo left it meanwhile.
        return problem(Outcome::Refused, texts::recoveryPending(folder, m_front));
    case Refusal::RecordDamaged:
        return problem(Outcome::Refused,
                       texts::nothingRenamed() + "\n" +
                           texts::recordDamaged(result.journalError, folder, m_front));
    case Refusal::None:
    case Refusal::JournalUnwritable:
        break;
    }
    return problem(Outcome::Refused, texts::journalFailure(result.journalError, m_front) + "\n" +
                                         texts::nothingRenamed());
}

} // namespace korvalo::session
