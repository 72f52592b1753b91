#include "cli/cli.h"

#include "browse/mountinfo.h"
#include "browse/musicfilelist.h"
#include "cli/clitext.h"
#include "passes/folderrecovery.h"
#include "passes/ordering.h"
#include "passes/passes.h"
#include "passes/passlock.h"
#include "passes/progress.h"
#include "passes/randomsource.h"
#include "passes/recovery.h"

#include <algorithm>
#include <istream>
#include <optional>
#include <ostream>

namespace korvalo::cli {

namespace {

namespace fs = std::filesystem;
using DigitAnswer = PassQuestions::DigitAnswer;

enum class Command
{
    List,
    Shuffle,
    Remove,
    Status,
    Recover
};

struct Invocation
{
    Command command = Command::List;
    fs::path folder;
    bool dryRun = false;
    bool again = false;
    std::optional<DigitAnswer> digits;
    std::optional<RecoveryChoice> recovery;
};

// A command line read: what to run, or help, the version, or why it cannot be run.
struct Parsed
{
    enum class Kind
    {
        Run,
        Help,
        Version,
        BadUse
    };
    Kind kind = Kind::Run;
    Invocation invocation;
    std::string error;
};

Parsed badUse(std::string error)
{
    Parsed p;
    p.kind = Parsed::Kind::BadUse;
    p.error = std::move(error);
    return p;
}

Parsed parse(const std::vector<std::string> &args)
{
    std::vector<std::string> words;
    std::vector<std::string> options;
    bool optionsEnded = false;
    for (const std::string &arg : args) {
        if (!optionsEnded && arg == "--")
            optionsEnded = true;
        else if (!optionsEnded && arg.size() > 1 && arg[0] == '-')
            options.push_back(arg);
        else
            words.push_back(arg);
    }
    for (const std::string &option : options) {
        if (option == "-h" || option == "--help")
            return {Parsed::Kind::Help, {}, {}};
    }
    for (const std::string &option : options) {
        if (option == "-V" || option == "--version")
            return {Parsed::Kind::Version, {}, {}};
    }

    Parsed parsed;
    Invocation &inv = parsed.invocation;
    if (words.empty())
        return badUse(text::missingCommand());
    static const std::pair<const char *, Command> commands[] = {
        {"list", Command::List},     {"shuffle", Command::Shuffle}, {"remove", Command::Remove},
        {"status", Command::Status}, {"recover", Command::Recover},
    };
    const auto found = std::find_if(std::begin(commands), std::end(commands),
                                    [&](const auto &c) { return words[0] == c.first; });
    if (found == std::end(commands))
        return badUse(text::unknownCommand(words[0]));
    inv.command = found->second;
    if (words.size() < 2)
        return badUse(text::missingFolder(words[0]));
    if (words.size() > 2)
        return badUse(text::extraArgument(words[2]));
    inv.folder = words[1];

    // Each option, the commands it belongs to, and what it sets.
    std::string digitOption;
    std::string recoveryOption;
    for (const std::string &option : options) {
        const bool pass = inv.command == Command::Shuffle || inv.command == Command::Remove;
        if (option == "--dry-run") {
            if (!pass)
                return badUse(text::optionNotFor(option, "shuffle 或 remove"));
            inv.dryRun = true;
        } else if (option == "--again") {
            if (inv.command != Command::Shuffle)
                return badUse(text::optionNotFor(option, "shuffle"));
            inv.again = true;
        } else if (option == "--strip-all" || option == "--keep-original-digits") {
            if (inv.command != Command::Remove)
                return badUse(text::optionNotFor(option, "remove"));
            const DigitAnswer answer =
                option == "--strip-all" ? DigitAnswer::StripAll : DigitAnswer::KeepOthers;
            if (inv.digits && *inv.digits != answer)
                return badUse(text::conflictingOptions(digitOption, option));
            inv.digits = answer;
            digitOption = option;
        } else if (option == "--undo" || option == "--finish" || option == "--leave") {
            if (inv.command != Command::Recover)
                return badUse(text::optionNotFor(option, "recover"));
            const RecoveryChoice choice = option == "--undo"     ? RecoveryChoice::Undo
                                          : option == "--finish" ? RecoveryChoice::Finish
                                                                 : RecoveryChoice::Leave;
            if (inv.recovery && *inv.recovery != choice)
                return badUse(text::conflictingOptions(recoveryOption, option));
            inv.recovery = choice;
            recoveryOption = option;
        } else {
            return badUse(text::unknownOption(option));
        }
    }
    if (inv.command == Command::Recover && !inv.recovery)
        return badUse(text::missingRecoveryChoice());
    return parsed;
}

std::vector<FileName> listedNames(const MusicFileList &list)
{
    std::vector<FileName> names;
    names.reserve(static_cast<std::size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i)
        names.emplace_back(list.nameView(i));
    return names;
}

// One line on the terminal that follows a pass, redrawn when its percentage changes and after the
// last file; nothing when the error stream is not a terminal. A stop asked for ends the pass after
// the file in hand.
class LineProgress : public ProgressSink
{
public:
    LineProgress(Console &console, std::string label)
        : m_console(console), m_label(std::move(label))
    {
    }
    ~LineProgress() override { finish(); }

    void start(int) override { m_shown = -1; }
    bool step(int index, int count) override
    {
        if (m_console.showProgress) {
            const int percent = progressPercent(index, count);
            if (percent != m_shown || index + 1 == count) {
                m_shown = percent;
                m_console.err << '\r' << m_label << ' ' << index + 1 << '/' << count << "  "
                              << progressText(index, count) << std::flush;
                m_drawn = true;
            }
        }
        return !m_console.interrupted();
    }
    // Ends the line, so that what follows starts on its own.
    void finish()
    {
        if (m_drawn)
            m_console.err << '\n';
        m_drawn = false;
    }

private:
    Console &m_console;
    std::string m_label;
    int m_shown = -1;
    bool m_drawn = false;
};

// The pass's questions: the option given on the command line, else asked on a terminal, else the
// safe answer.
class CommandLineAnswers : public PassQuestions
{
public:
    CommandLineAnswers(Console &console, const Invocation &inv) : m_console(console), m_inv(inv) {}

    DigitAnswer stripOtherDigits(const std::vector<FileName> &others, int qualifying) override
    {
        if (m_inv.digits)
            return *m_inv.digits;
        if (!m_console.askQuestions)
            return DigitAnswer::KeepOthers;
        m_console.err << text::digitQuestion(others, qualifying);
        for (;;) {
            const std::optional<std::string> answer = ask(text::digitPrompt());
            if (!answer)
                return DigitAnswer::Cancel; // the input ended: rename nothing
            if (answer->empty() || *answer == "1")
                return DigitAnswer::KeepOthers;
            if (*answer == "2")
                return DigitAnswer::StripAll;
            if (*answer == "3")
                return DigitAnswer::Cancel;
        }
    }

    bool shuffleAgain(const std::vector<FileName> &prefixed, int listed) override
    {
        m_prefixed = static_cast<int>(prefixed.size());
        if (m_inv.again)
            return true;
        if (!m_console.askQuestions) {
            m_declinedUnasked = true;
            return false;
        }
        m_console.err << text::againQuestion(m_prefixed, listed);
        for (;;) {
            const std::optional<std::string> answer = ask(text::againPrompt());
            if (!answer || answer->empty() || *answer == "n" || *answer == "N" || *answer == "no" ||
                *answer == "否")
                return false;
            if (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "是")
                return true;
        }
    }

    // Why a pass was cancelled, as the user is to read it.
    std::string cancelText() const
    {
        return m_declinedUnasked ? text::againDeclined(m_prefixed) : text::cancelled();
    }

private:
    // One line of input without its surrounding blanks; nullopt when the input ended.
    std::optional<std::string> ask(const std::string &prompt)
    {
        m_console.err << prompt << std::flush;
        std::string line;
        m_console.asking(true);
        const bool got = static_cast<bool>(std::getline(m_console.in, line));
        m_console.asking(false);
        if (!got)
            return std::nullopt;
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
        while (!line.empty() && blank(line.back()))
            line.pop_back();
        line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), blank));
        return line;
    }

    Console &m_console;
    const Invocation &m_inv;
    int m_prefixed = 0;
    bool m_declinedUnasked = false;
};

// The folder the files of a pass pass through to be stored in order: its files belong one level
// up, so it gets no pass of its own, only `recover --finish`. nullopt: another folder.
std::optional<int> refuseIfOrderingFolder(const fs::path &folder, Console &console)
{
    if (!isOrderingFolder(folder))
        return std::nullopt;
    console.err << text::orderingFolder(folder);
    return kRefused;
}

// Moves the files of an ordering folder back one level up.
// The exit status of a recovery that was refused or failed, told on the error stream; nothing for
// one that was done.
std::optional<int> recoveryRefusedOrFailed(const RecoveryResult &result, Console &console)
{
    switch (result.status) {
    case RecoveryResult::Status::VolumeBusy:
        console.err << text::volumeBusy();
        return kRefused;
    case RecoveryResult::Status::LockUnavailable:
        console.err << text::lockUnavailable(result.lockFailure);
        return kRefused;
    case RecoveryResult::Status::Failed:
        console.err << text::recoveryFailed(result);
        return kRenameFailed;
    case RecoveryResult::Status::Done:
        break;
    }
    return std::nullopt;
}

int returnFromOrderingFolder(const fs::path &folder, Console &console)
{
    if (console.interrupted()) {
        console.err << text::cancelled();
        return kInterrupted;
    }
    Journal journal;
    LineProgress progress(console, "移回文件");
    const RecoveryResult result = returnOrderedFiles(folder, journal, progress);
    progress.finish();
    if (const std::optional<int> code = recoveryRefusedOrFailed(result, console))
        return *code;
    console.out << text::orderedFilesReturned(result.renamed, folder.parent_path());
    if (!result.conflicts.empty())
        console.err << text::recoveryConflicts(result.conflicts);
    if (!result.refused.empty())
        console.err << text::recoveryRefused(result.refused, result.cause);
    return result.conflicts.empty() && result.refused.empty() ? kDone : kRenameFailed;
}

// What the journal says of the folder before a pass; an unfinished pass with nothing to ask about
// is settled here, as the window does when it opens a folder. nullopt: go on.
std::optional<int> refuseIfPending(const fs::path &folder, Journal &journal, Console &console)
{
    PendingRecovery pending;
    JournalError error;
    switch (checkForRecovery(folder, journal, pending, &error)) {
    case RecoveryCheck::Nothing:
        return std::nullopt;
    case RecoveryCheck::Pending:
        console.err << text::pendingBlocksPass(pending.plan, folder);
        return kRefused;
    case RecoveryCheck::Unconfirmed:
        console.err << text::pendingBlocksPass(pending.plan, folder)
                    << text::stickUnconfirmed(folder);
        return kRefused;
    case RecoveryCheck::VolumeBusy:
        console.err << text::volumeBusy();
        return kRefused;
    case RecoveryCheck::LockUnavailable:
        console.err << text::lockUnavailable(pending.lockFailure);
        return kRefused;
    case RecoveryCheck::Damaged:
        console.err << text::nothingRenamed() << text::recordDamaged(error, folder);
        return kRefused;
    case RecoveryCheck::JournalFailed:
        break;
    }
    console.err << text::journalFailure(error) << text::nothingRenamed();
    return kRefused;
}

// The renames a pass would make now, printed, and nothing renamed. It refuses where the pass
// would, and asks what the pass would ask.
int dryRun(PassKind kind, const MusicFileList &list, Journal &journal,
           CommandLineAnswers &questions, Console &console)
{
    const fs::path &folder = list.folder();
    if (const auto mount = mountOf(folder); mount && isUnsafeDriver(*mount)) {
        console.err << text::unsafeDriver();
        return kRefused;
    }
    // The lock is only tried, and let go at once: a dry run renames nothing.
    if (const auto device = deviceOf(folder)) {
        const LockAttempt attempt = PassLock::tryAcquire(*device);
        if (attempt.unavailable) {
            console.err << text::lockUnavailable(*attempt.unavailable);
            return kRefused;
        }
        if (attempt.busy()) {
            console.err << text::volumeBusy();
            return kRefused;
        }
    }
    FolderRecord record;
    if (const JournalError error =
            journal.load(journalKeyOf(folder).value_or(JournalKey{}), record);
        !error.ok()) {
        if (error.kind == JournalError::Kind::Damaged)
            console.err << text::nothingRenamed() << text::recordDamaged(error, folder);
        else
            console.err << text::journalFailure(error) << text::nothingRenamed();
        return kRefused;
    }

    const std::vector<FileName> names = listedNames(list);
    std::vector<PlannedRename> planned;
    int kept = 0;
    if (kind == PassKind::Shuffle) {
        const std::vector<FileName> prefixed = korvaloPrefixedNames(names, record);
        if (!prefixed.empty() &&
            !questions.shuffleAgain(prefixed, static_cast<int>(names.size()))) {
            console.err << questions.cancelText();
            return kRefused;
        }
        ClockRandomSource random;
        random.reseed();
        for (const FileName &name : names) {
            const std::string digits = std::to_string(prefixValue(random.next()));
            planned.push_back({name, digits + name});
        }
    } else {
        std::vector<FileName> qualifying;
        std::copy_if(names.begin(), names.end(), std::back_inserter(qualifying),
                     isStrippable<FileName>);
        std::vector<FileName> others = classifyDigitNames(qualifying, record).others;
        std::sort(others.begin(), others.end());
        bool stripAll = true;
        if (!others.empty()) {
            switch (questions.stripOtherDigits(others, static_cast<int>(qualifying.size()))) {
            case DigitAnswer::KeepOthers:
                stripAll = false;
                kept = static_cast<int>(others.size());
                break;
            case DigitAnswer::StripAll:
                break;
            case DigitAnswer::Cancel:
                console.err << questions.cancelText();
                return kRefused;
            }
        }
        for (const FileName &name : qualifying) {
            if (stripAll || !std::binary_search(others.begin(), others.end(), name))
                planned.push_back({name, name.substr(4)});
        }
    }
    console.out << text::dryRunHeading(kind);
    for (const PlannedRename &rename : planned)
        console.out << text::dryRunRename(rename.from, rename.to);
    console.out << text::dryRunSummary(kind, static_cast<int>(planned.size()), kept);
    return kDone;
}

int runList(const Invocation &inv, Console &console)
{
    MusicFileList list;
    if (const ListError error = list.setFolder(inv.folder); !error.ok()) {
        console.err << text::folderFailure(inv.folder, error);
        return kBadUse;
    }
    for (int i = 0; i < list.count(); ++i)
        console.out << list.nameView(i) << '\n';
    console.out << text::songCount(list.count());
    return kDone;
}

// Lists a folder that a pass or the status works on: refused for Korvalo's own ordering folder,
// bad use when it cannot be read. Nothing when the list is ready.
std::optional<int> openMusicFolder(const fs::path &folder, MusicFileList &list, Console &console)
{
    if (const auto refused = refuseIfOrderingFolder(folder, console))
        return refused;
    if (const ListError error = list.setFolder(folder); !error.ok()) {
        console.err << text::folderFailure(folder, error);
        return kBadUse;
    }
    return std::nullopt;
}

int runPass(const Invocation &inv, Console &console)
{
    const PassKind kind = inv.command == Command::Shuffle ? PassKind::Shuffle : PassKind::Removal;
    MusicFileList list;
    if (const auto refused = openMusicFolder(inv.folder, list, console))
        return *refused;
    Journal journal;
    if (const auto refused = refuseIfPending(inv.folder, journal, console))
        return *refused;
    if (list.count() == 0) {
        console.out << text::emptyList(inv.folder);
        return kDone;
    }
    CommandLineAnswers questions(console, inv);
    if (inv.dryRun)
        return dryRun(kind, list, journal, questions, console);
    if (console.interrupted()) {
        console.err << text::cancelled();
        return kInterrupted;
    }

    const int total = list.count();
    LineProgress progress(console, text::passName(kind));
    const FixedFolder folder(inv.folder);
    const PassContext context{list, folder, progress, systemRenameCalls(), &journal, &questions};
    ClockRandomSource random;
    const PassResult result =
        kind == PassKind::Shuffle ? runShufflePass(context, random) : runRemovalPass(context);
    progress.finish();

    using Status = PassResult::Status;
    switch (result.status) {
    case Status::EmptyList:
        console.out << text::emptyList(inv.folder);
        return kDone;
    case Status::Completed:
        console.out << text::completed(kind, result.renamed);
        if (result.keptDigits > 0)
            console.out << text::keptDigits(result.keptDigits);
        if (!result.journalError.ok())
            console.err << text::journalAfterPass(result.journalError);
        if (result.storedOrder == PassResult::StoredOrder::NotArranged)
            console.err << text::storedOrderNotArranged(result);
        return kDone;
    case Status::Failed:
        console.err << (result.filesLeftIn.empty()
                            ? text::renameFailure(kind, result, total, inv.folder)
                            : text::filesLeftOut(result));
        if (!result.filesLeftIn.empty() && !result.journalError.ok())
            console.err << text::journalAfterPass(result.journalError);
        return kRenameFailed;
    case Status::Stopped:
        console.err << text::stopped(kind, result.renamed, total, inv.folder);
        return kInterrupted;
    case Status::Cancelled:
        console.err << questions.cancelText();
        return kRefused;
    case Status::Refused:
        break;
    }
    switch (result.refusal) {
    case PassResult::Refusal::VolumeBusy:
        console.err << text::volumeBusy();
        break;
    case PassResult::Refusal::UnsafeDriver:
        console.err << text::unsafeDriver();
        break;
    case PassResult::Refusal::LockUnavailable:
        console.err << text::lockUnavailable(result.lockFailure);
        break;
    case PassResult::Refusal::RecoveryPending: {
        // Found after the check above: another Korvalo left it meanwhile.
        JournalError pending;
        pending.kind = JournalError::Kind::PassPending;
        console.err << text::journalFailure(pending);
        break;
    }
    case PassResult::Refusal::RecordDamaged:
        console.err << text::nothingRenamed()
                    << text::recordDamaged(result.journalError, inv.folder);
        break;
    case PassResult::Refusal::None:
    case PassResult::Refusal::JournalUnwritable:
        console.err << text::journalFailure(result.journalError) << text::nothingRenamed();
        break;
    }
    return kRefused;
}

int runStatus(const Invocation &inv, Console &console)
{
    MusicFileList list;
    if (const auto refused = openMusicFolder(inv.folder, list, console))
        return *refused;
    Journal journal;
    PendingRecovery pending;
    JournalError error;
    // A look only: the status writes nothing, not even what opening the folder would settle.
    const RecoveryCheck check =
        checkForRecovery(inv.folder, journal, pending, &error, CheckMode::ReadOnly);
    if (check == RecoveryCheck::Damaged) {
        console.err << text::recordDamaged(error, inv.folder);
        return kRefused;
    }
    FolderRecord record;
    if (check != RecoveryCheck::JournalFailed)
        error = journal.load(journalKeyOf(inv.folder).value_or(JournalKey{}), record);
    if (!error.ok() && error.kind != JournalError::Kind::NoStateFolder) {
        console.err << text::journalFailure(error);
        return kRefused;
    }

    // An unfinished pass is counted as the names show it, so the counts agree with its own.
    const PrefixCount count = countPrefixes(listedNames(list), record);
    console.out << text::statusHeading(inv.folder, list.count());
    if (count.known)
        console.out << text::statusPrefixed(count.korvalo, count.stacked);
    else
        console.out << text::statusUnknownFolder(count.korvalo);
    if (count.others > 0)
        console.out << text::statusOtherDigits(count.others);
    switch (check) {
    case RecoveryCheck::Pending:
        console.out << text::pendingPass(pending.plan, inv.folder);
        break;
    case RecoveryCheck::Unconfirmed:
        console.out << text::pendingPass(pending.plan, inv.folder)
                    << text::stickUnconfirmed(inv.folder);
        break;
    case RecoveryCheck::VolumeBusy:
        console.out << text::statusBusy();
        break;
    case RecoveryCheck::LockUnavailable:
        // An unfinished pass is looked at only under the volume's lock.
        console.err << text::lockUnavailable(pending.lockFailure);
        return kRefused;
    case RecoveryCheck::Nothing:
    case RecoveryCheck::JournalFailed:
    case RecoveryCheck::Damaged:
        console.out << text::statusNothingPending();
        break;
    }
    return kDone;
}

// `recover` on a folder whose record is damaged: only --leave, which sets the record aside.
int leaveDamaged(const Invocation &inv, Journal &journal, const JournalError &error,
                 Console &console)
{
    if (*inv.recovery != RecoveryChoice::Leave) {
        console.err << text::nothingRenamed() << text::recordDamaged(error, inv.folder);
        return kRefused;
    }
    const RecoveryResult result = leaveDamagedRecord(inv.folder, journal);
    if (const std::optional<int> code = recoveryRefusedOrFailed(result, console))
        return *code;
    if (result.keptRecord.empty())
        console.out << text::nothingToRecover(inv.folder); // put right meanwhile
    else
        console.out << text::damagedRecordLeft(result.keptRecord);
    return kDone;
}

int runRecover(const Invocation &inv, Console &console)
{
    if (isOrderingFolder(inv.folder)) {
        if (*inv.recovery != RecoveryChoice::Finish)
            return *refuseIfOrderingFolder(inv.folder, console);
        return returnFromOrderingFolder(inv.folder, console);
    }
    MusicFileList list;
    if (const ListError error = list.setFolder(inv.folder); !error.ok()) {
        console.err << text::folderFailure(inv.folder, error);
        return kBadUse;
    }
    Journal journal;
    PendingRecovery pending;
    JournalError error;
    switch (checkForRecovery(inv.folder, journal, pending, &error)) {
    case RecoveryCheck::Nothing:
        console.out << text::nothingToRecover(inv.folder);
        return kDone;
    case RecoveryCheck::VolumeBusy:
        console.err << text::volumeBusy();
        return kRefused;
    case RecoveryCheck::LockUnavailable:
        console.err << text::lockUnavailable(pending.lockFailure);
        return kRefused;
    case RecoveryCheck::JournalFailed:
        console.err << text::journalFailure(error) << text::nothingRenamed();
        return kRefused;
    case RecoveryCheck::Damaged:
        return leaveDamaged(inv, journal, error, console);
    case RecoveryCheck::Pending:
    case RecoveryCheck::Unconfirmed: // the user's choice is what it waits for
        break;
    }
    const RecoveryChoice choice = *inv.recovery;
    if (choice == RecoveryChoice::Undo && !pending.plan.canUndo) {
        console.err << text::cannotUndo(pending.plan.status.kind, inv.folder);
        return kBadUse;
    }
    if (console.interrupted()) {
        console.err << text::cancelled();
        return kInterrupted;
    }

    LineProgress progress(console, "处理没完成的" + text::passName(pending.plan.status.kind));
    const RecoveryResult result = recoverFolder(inv.folder, journal, pending, choice, progress);
    progress.finish();
    if (const std::optional<int> code = recoveryRefusedOrFailed(result, console))
        return *code;
    if (console.interrupted() && choice != RecoveryChoice::Leave) {
        console.err << text::recoveryStopped(result.renamed, inv.folder);
        return kInterrupted;
    }
    if (pending.plan.status.kind == PassKind::Order)
        console.out << text::orderedFilesReturned(result.renamed, inv.folder);
    else
        console.out << text::recovered(choice, result.renamed);
    if (!result.conflicts.empty())
        console.err << text::recoveryConflicts(result.conflicts);
    if (!result.refused.empty())
        console.err << text::recoveryRefused(result.refused, result.cause);
    return result.conflicts.empty() && result.refused.empty() ? kDone : kRenameFailed;
}

} // namespace

int run(const std::vector<std::string> &args, Console &console)
{
    const Parsed parsed = parse(args);
    switch (parsed.kind) {
    case Parsed::Kind::Help:
        console.out << text::help();
        return kDone;
    case Parsed::Kind::Version:
        console.out << text::version();
        return kDone;
    case Parsed::Kind::BadUse:
        console.err << parsed.error;
        return kBadUse;
    case Parsed::Kind::Run:
        break;
    }
    const Invocation &inv = parsed.invocation;
    switch (inv.command) {
    case Command::List:
        return runList(inv, console);
    case Command::Shuffle:
    case Command::Remove:
        return runPass(inv, console);
    case Command::Status:
        return runStatus(inv, console);
    case Command::Recover:
        break;
    }
    return runRecover(inv, console);
}

} // namespace korvalo::cli
