#include "cli/cli.h"

#include "browse/musicfilelist.h"
#include "cli/clitext.h"
#include "cli/utf8.h"
#include "passes/progress.h"
#include "session/foldersession.h"
#include "session/progressview.h"
#include "session/texts.h"
#include "session/unfinished.h"

#include <algorithm>
#include <chrono>
#include <istream>
#include <optional>
#include <ostream>
#include <thread>

namespace korvalo::cli {

namespace {

namespace fs = std::filesystem;
using DigitAnswer = PassQuestions::DigitAnswer;

// A text from the table as one or more whole lines.
std::string withNewline(std::string text)
{
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

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
    // shuffle over names with a prefix: AddAnother (--again) or NewDigits (--replace)
    std::optional<session::PrefixedAnswer> prefixAnswer;
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
        return badUse(texts::missingCommand());
    static const std::pair<const char *, Command> commands[] = {
        {"list", Command::List},     {"shuffle", Command::Shuffle}, {"remove", Command::Remove},
        {"status", Command::Status}, {"recover", Command::Recover},
    };
    const auto found = std::find_if(std::begin(commands), std::end(commands),
                                    [&](const auto &c) { return words[0] == c.first; });
    if (found == std::end(commands))
        return badUse(texts::unknownCommand(words[0]));
    inv.command = found->second;
    // A status with no folder is about every folder the journal knows.
    if (words.size() < 2 && inv.command != Command::Status)
        return badUse(texts::missingFolder(words[0]));
    if (words.size() > 2)
        return badUse(texts::extraArgument(words[2]));
    if (words.size() == 2)
        inv.folder = pathFromUtf8(words[1]);

    // Each option, the commands it belongs to, and what it sets.
    std::string digitOption;
    std::string prefixOption;
    std::string recoveryOption;
    for (const std::string &option : options) {
        const bool pass = inv.command == Command::Shuffle || inv.command == Command::Remove;
        if (option == "--dry-run") {
            if (!pass)
                return badUse(texts::optionNotFor(option, {"shuffle", "remove"}));
            inv.dryRun = true;
        } else if (option == "--again" || option == "--replace") {
            if (inv.command != Command::Shuffle)
                return badUse(texts::optionNotFor(option, {"shuffle"}));
            const session::PrefixedAnswer answer = option == "--again"
                                                       ? session::PrefixedAnswer::AddAnother
                                                       : session::PrefixedAnswer::NewDigits;
            if (inv.prefixAnswer && *inv.prefixAnswer != answer)
                return badUse(texts::conflictingOptions(prefixOption, option));
            inv.prefixAnswer = answer;
            prefixOption = option;
        } else if (option == "--strip-all" || option == "--keep-original-digits") {
            if (inv.command != Command::Remove)
                return badUse(texts::optionNotFor(option, {"remove"}));
            const DigitAnswer answer =
                option == "--strip-all" ? DigitAnswer::StripAll : DigitAnswer::KeepOthers;
            if (inv.digits && *inv.digits != answer)
                return badUse(texts::conflictingOptions(digitOption, option));
            inv.digits = answer;
            digitOption = option;
        } else if (option == "--undo" || option == "--finish" || option == "--leave") {
            if (inv.command != Command::Recover)
                return badUse(texts::optionNotFor(option, {"recover"}));
            const RecoveryChoice choice = option == "--undo"     ? RecoveryChoice::Undo
                                          : option == "--finish" ? RecoveryChoice::Finish
                                                                 : RecoveryChoice::Leave;
            if (inv.recovery && *inv.recovery != choice)
                return badUse(texts::conflictingOptions(recoveryOption, option));
            inv.recovery = choice;
            recoveryOption = option;
        } else {
            return badUse(texts::unknownOption(option));
        }
    }
    if (inv.command == Command::Recover && !inv.recovery)
        return badUse(texts::missingRecoveryChoice());
    return parsed;
}

// The session's questions on a terminal: the option given on the command line, else asked there
// when the input is a terminal; the session takes the safe answer when it is not.
class TerminalAsker : public session::Asker
{
public:
    TerminalAsker(Console &console, const Invocation &inv) : m_console(console), m_inv(inv) {}

    bool attended() const override { return m_console.askQuestions; }

    std::optional<session::Answer> given(const session::Question &q) const override
    {
        using Kind = session::Question::Kind;
        if ((q.kind == Kind::ShuffleAgain || q.kind == Kind::ForeignPrefixes) && m_inv.prefixAnswer)
            return *m_inv.prefixAnswer;
        if (q.kind == Kind::StripOtherDigits && m_inv.digits)
            return *m_inv.digits;
        return std::nullopt;
    }

    session::Answer ask(const session::Question &q) override
    {
        m_console.err << withNewline(q.text);
        for (;;) {
            m_console.err << texts::prompt(q) << std::flush;
            std::string line;
            m_console.asking(true);
            const bool got = static_cast<bool>(std::getline(m_console.in, line));
            m_console.asking(false);
            if (!got)
                return q.escapeAnswer; // the input ended
            const std::string typed = trimmed(line);
            if (typed.empty())
                return q.defaultAnswer;
            for (const session::Question::Choice &choice : q.choices) {
                if (sameAnswer(typed, choice))
                    return choice.answer;
            }
        }
    }

private:
    static std::string trimmed(const std::string &line)
    {
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
        const auto first = std::find_if_not(line.begin(), line.end(), blank);
        const auto last = std::find_if_not(line.rbegin(), line.rend(), blank).base();
        return first < last ? std::string(first, last) : std::string();
    }
    static std::string lower(std::string s)
    {
        for (char &c : s)
            c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        return s;
    }
    // The choice's key in either case, a word it begins ("yes" for "y"), or its caption.
    static bool sameAnswer(const std::string &typed, const session::Question::Choice &choice)
    {
        const std::string t = lower(typed);
        const std::string key = lower(choice.key);
        if (t == key || typed == choice.caption)
            return true;
        const bool letterKey = key.size() == 1 && key[0] >= 'a' && key[0] <= 'z';
        return letterKey && t.size() > 1 && t[0] == key[0] &&
               std::all_of(t.begin(), t.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    }

    Console &m_console;
    const Invocation &m_inv;
};

// The progress line on the terminal while the session's worker runs the plan, redrawn when its
// percentage or its heading changes. Ctrl-C stops the worker after the file in hand, or, while
// the files are stored in order, has it bring back those out: its stop check (runCommand()).
session::Report runWithProgress(session::FolderSession &session, const session::Plan &plan,
                                Console &console)
{
    session.start(plan);
    int shown = -1;
    const std::string *shownLabel = nullptr;
    bool drawn = false;
    const std::string ordering = texts::orderingProgressLabel();
    const std::string movingBack = texts::movingBackProgressLabel();
    const auto draw = [&](const session::Progress &p) {
        if (!console.showProgress || p.count <= 0)
            return;
        const std::string &label = p.movingBack ? movingBack : p.ordering ? ordering : plan.label;
        // The moves are counted from none made; the renames by the file last handled.
        const int index = p.ordering ? p.done : p.done - 1;
        const int count = p.ordering ? p.count + 1 : p.count;
        const int percent = progressPercent(index, count);
        if (percent == shown && &label == shownLabel)
            return;
        // A heading that changes may be shorter than the last: the rest of the line is cleared.
        const char *clear = &label == shownLabel ? "" : "\x1b[K";
        shown = percent;
        shownLabel = &label;
        const session::SongCount songs = session::songsOf(p);
        console.err << '\r' << label << ' ' << songs.done << '/' << songs.count << "  "
                    << progressText(index, count) << clear << std::flush;
        drawn = true;
    };
    while (session.running()) {
        draw(session.progress());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    const session::Report report = session.wait();
    draw(session.progress());
    if (drawn)
        console.err << '\n';
    return report;
}

int exitStatus(const session::Report &report, const Console &console)
{
    using Outcome = session::Report::Outcome;
    switch (report.outcome) {
    case Outcome::Done:
        return report.incomplete ? kRenameFailed : kDone;
    case Outcome::Partial:
        return kRenameFailed;
    case Outcome::BadFolder:
        return kBadUse;
    case Outcome::Stopped:
        return console.stopStatus();
    case Outcome::Refused:
    case Outcome::Cancelled:
        break;
    }
    return kRefused;
}

// What was done on the output, what went wrong on the error stream; the exit status.
int told(const session::Report &report, Console &console)
{
    for (const std::string &line : report.done)
        console.out << withNewline(line);
    // A folder with no music is no failure: said on the output, as a result.
    for (const std::string &problem : report.problems)
        (report.emptyList ? console.out : console.err) << withNewline(problem);
    return exitStatus(report, console);
}

// Runs a plan the session made: a dry run prints it, a stop asked for before it began renames
// nothing.
int runPlan(session::FolderSession &session, const session::Plan &plan, bool dryRun,
            Console &console)
{
    if (!plan.runnable())
        return told(plan.report, console);
    if (dryRun) {
        console.out << session.describe(plan);
        return kDone;
    }
    if (console.interrupted()) {
        console.err << withNewline(texts::cancelled());
        return console.stopStatus();
    }
    return told(runWithProgress(session, plan, console), console);
}

int runList(const Invocation &inv, Console &console)
{
    session::FolderSession session(texts::Front::Terminal);
    const session::FolderState &state = session.open(inv.folder, session::Opening::ListOnly);
    if (!state.problem.empty()) {
        console.err << withNewline(state.problem);
        return kBadUse;
    }
    const MusicFileList &list = session.list();
    for (int i = 0; i < list.count(); ++i)
        console.out << list.nameView(i) << '\n';
    console.out << withNewline(texts::songCount(list.count()));
    return kDone;
}

int runCommand(const Invocation &inv, Console &console, RenameSystem &renameCalls)
{
    session::FolderSession session(texts::Front::Terminal, StoredOrderRule::FatAndExfat,
                                   renameCalls);
    // The worker reads the flag the signal handler sets, after every file.
    session.setStopCheck(console.interrupted);
    switch (inv.command) {
    case Command::List:
        break;
    case Command::Status:
        if (inv.folder.empty()) {
            console.out << withNewline(texts::unfinishedList(session::unfinishedPasses()));
            return kDone;
        }
        session.open(inv.folder, session::Opening::Look);
        return told(session.status(), console);
    case Command::Shuffle:
    case Command::Remove: {
        session.open(inv.folder);
        TerminalAsker asker(console, inv);
        const PassKind kind =
            inv.command == Command::Shuffle ? PassKind::Shuffle : PassKind::Removal;
        const auto detail = inv.dryRun ? session::FolderSession::Detail::Renames
                                       : session::FolderSession::Detail::Decisions;
        return runPlan(session, session.planPass(kind, asker, detail), inv.dryRun, console);
    }
    case Command::Recover:
        session.open(inv.folder);
        return runPlan(session, session.planRecovery(*inv.recovery), false, console);
    }
    return runList(inv, console);
}

// A result that did not reach the output (a full disk, a closed pipe) is no success, whatever was
// renamed: a script would go on without it. The renames are in the record already.
int withOutputChecked(int status, Console &console)
{
    if (console.out.flush())
        return status;
    console.err << withNewline(texts::outputNotWritten()) << std::flush;
    return status == kDone ? kRenameFailed : status;
}

} // namespace

int run(const std::vector<std::string> &args, Console &console, RenameSystem &renameCalls)
{
    const Parsed parsed = parse(args);
    switch (parsed.kind) {
    case Parsed::Kind::Help:
        console.out << text::help();
        return withOutputChecked(kDone, console);
    case Parsed::Kind::Version:
        console.out << text::version();
        return withOutputChecked(kDone, console);
    case Parsed::Kind::BadUse:
        console.err << withNewline(parsed.error);
        return kBadUse;
    case Parsed::Kind::Run:
        break;
    }
    return withOutputChecked(runCommand(parsed.invocation, console, renameCalls), console);
}

} // namespace korvalo::cli
