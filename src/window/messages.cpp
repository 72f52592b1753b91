#include "window/messages.h"

#include "session/texts.h"

namespace messages {

namespace texts = korvalo::texts;
using korvalo::texts::Front;

namespace {

QString text(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

// The session's question as a message box asks it.
Question boxQuestion(const korvalo::session::Question &question)
{
    Question q;
    q.icon = question.tone == korvalo::session::Question::Tone::Warning ? QMessageBox::Warning
                                                                        : QMessageBox::Question;
    q.title = text(question.title);
    q.text = text(question.text);
    for (const korvalo::session::Question::Choice &choice : question.choices)
        q.choices.push_back({text(choice.caption), choice.answer});
    q.defaultAnswer = question.defaultAnswer;
    q.escapeAnswer = question.escapeAnswer;
    return q;
}

} // namespace

QString warningTitle()
{
    return text(texts::caption::kWarningTitle);
}

QString emptyListText()
{
    return text(texts::emptyList());
}

QString causeText(korvalo::Cause cause, int osError)
{
    return text(texts::causeText(cause, osError, Front::Window));
}

QString listErrorText(const korvalo::ListError &error)
{
    return text(texts::listErrorText(error, Front::Window));
}

QString renameErrorText(const korvalo::RenameOutcome &outcome)
{
    return text(texts::renameErrorText(outcome, Front::Window));
}

QString unsafeDriverText()
{
    return text(texts::unsafeDriver(Front::Window));
}

QString volumeBusyText()
{
    return text(texts::volumeBusy(Front::Window));
}

QString lockUnavailableText(const korvalo::LockFailure &failure)
{
    return text(texts::lockUnavailable(failure, Front::Window));
}

QString boxName(const std::filesystem::path &name)
{
    return text(texts::shownName(name, Front::Window));
}

QString folderFailure(const std::filesystem::path &folder, const korvalo::ListError &error)
{
    return text(texts::folderFailure(folder, error, Front::Window));
}

QString renameFailure(const korvalo::PassResult &result, int total,
                      const korvalo::ListError &afterwards)
{
    // The pass and the folder name the terminal's next step only.
    return text(texts::renameFailure(korvalo::PassKind::Shuffle, result, total, {}, Front::Window,
                                     afterwards));
}

QString refreshFailure(const std::filesystem::path &folder, const korvalo::ListError &error)
{
    return text(texts::refreshFailure(folder, error, Front::Window));
}

QString journalFailure(const korvalo::JournalError &error)
{
    return text(texts::journalFailure(error, Front::Window));
}

QString damagedRecordText(const korvalo::JournalError &error)
{
    return text(texts::recordDamaged(error, {}, Front::Window));
}

QString damagedRecordLeftText(const std::filesystem::path &keptAs)
{
    return text(texts::damagedRecordLeft(keptAs));
}

QString recoveryPendingText()
{
    return text(texts::recoveryPending({}, Front::Window));
}

QString recoveryBusyText()
{
    return text(texts::recoveryBusy(Front::Window));
}

QString recoveryReport(const korvalo::RecoveryResult &result)
{
    std::vector<std::string> parts;
    if (std::string failed = texts::recoveryFailed(result, {}, Front::Window); !failed.empty())
        parts.push_back(std::move(failed));
    if (!result.conflicts.empty())
        parts.push_back(texts::recoveryConflicts(result.conflicts, Front::Window));
    if (!result.refused.empty())
        parts.push_back(texts::recoveryRefused(result.refused, result.cause, Front::Window));
    std::string report;
    for (const std::string &part : parts)
        report += (report.empty() ? "" : "\n\n") + part;
    return text(report);
}

QString storedOrderFailure(const korvalo::PassResult &result)
{
    return text(texts::storedOrderNotArranged(result, {}, Front::Window));
}

QString filesLeftOut(const korvalo::PassResult &result)
{
    return text(texts::filesLeftOut(result, Front::Window));
}

Question stripDigitsQuestion(const std::vector<korvalo::FileName> &others, int qualifying)
{
    return boxQuestion(texts::stripDigitsQuestion(others, qualifying, Front::Window));
}

Question shuffleAgainQuestion(const std::vector<korvalo::FileName> &prefixed, int listed)
{
    return boxQuestion(texts::shuffleAgainQuestion(prefixed, listed, {}, Front::Window));
}

Question recoveryQuestion(const korvalo::RecoveryStatus &status, int filesAway, bool unconfirmed)
{
    return boxQuestion(texts::recoveryQuestion(status, filesAway, unconfirmed, Front::Window));
}

Question damagedRecordQuestion(const korvalo::JournalError &error)
{
    return boxQuestion(texts::damagedRecordQuestion(error, Front::Window));
}

Question orderingFolderQuestion(const std::filesystem::path &folder)
{
    return boxQuestion(texts::orderingFolderQuestion(folder, Front::Window));
}

Question closeDuringPassQuestion()
{
    return boxQuestion(texts::closeDuringPassQuestion());
}

} // namespace messages
