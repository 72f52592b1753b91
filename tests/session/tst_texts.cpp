#include "session/texts.h"

#include <QTest>

#include <cerrno>
#include <set>

using namespace korvalo;
using texts::Front;

Q_DECLARE_METATYPE(korvalo::session::Question)
Q_DECLARE_METATYPE(std::string)

namespace {

const std::filesystem::path kFolder = "/media/U盘/音 乐";
const std::filesystem::path kRecord = "/home/u/.local/state/korvalo/journal/ab12.txt";

std::vector<FileName> names(int count)
{
    std::vector<FileName> out;
    for (int i = 0; i < count; ++i)
        out.push_back("2019 Live " + std::to_string(i) + ".mp3");
    return out;
}

RecoveryStatus interrupted(PassKind kind)
{
    RecoveryStatus s;
    s.kind = kind;
    s.startTime = 1700000000;
    s.fileCount = 4;
    s.recorded = 3;
    s.done = 2;
    s.missing = 1;
    return s;
}

JournalError journalError(JournalError::Kind kind, int osError)
{
    return {kind, osError, kRecord};
}

bool has(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

class TestTexts : public QObject
{
    Q_OBJECT

private slots:
    void questionAnswers_data();
    void questionAnswers();
    void glossaryHolds();
    void journalReadNeverBlamesTheStick_data();
    void journalReadNeverBlamesTheStick();
    void nextStepPerFront_data();
    void nextStepPerFront();
    void shownNameKeepsStartAndExtension();
};

void TestTexts::questionAnswers_data()
{
    QTest::addColumn<session::Question>("question");
    QTest::addColumn<int>("unattended");
    QTest::addColumn<bool>("attendedOnly"); // the window always has someone to ask
    using Digit = PassQuestions::DigitAnswer;
    for (const Front front : {Front::Window, Front::Terminal}) {
        const bool w = front == Front::Window;
        const char *f = w ? "window" : "terminal";
        QTest::addRow("%s: strip digits", f)
            << texts::stripDigitsQuestion(names(3), 5, front) << int(Digit::KeepOthers) << false;
        QTest::addRow("%s: shuffle again", f)
            << texts::shuffleAgainQuestion(names(12), 20, {}, front) << session::kNo << false;
        for (const PassKind kind : {PassKind::Shuffle, PassKind::Removal, PassKind::Order})
            for (const bool unconfirmed : {false, true})
                QTest::addRow("%s: recovery of %s%s", f, texts::passName(kind).c_str(),
                              unconfirmed ? ", unconfirmed" : "")
                    << texts::recoveryQuestion(interrupted(kind), 2, unconfirmed, front)
                    << session::kLater << (w && !unconfirmed);
        QTest::addRow("%s: damaged record", f)
            << texts::damagedRecordQuestion(journalError(JournalError::Kind::Damaged, 0), front)
            << session::kLater << false;
        QTest::addRow("%s: ordering folder", f)
            << texts::orderingFolderQuestion(kFolder / "Korvalo 临时文件夹 1", front)
            << session::kNo << false;
    }
}

// Every answer a question may give without a click is one of its choices, and a terminal user
// can type each choice.
void TestTexts::questionAnswers()
{
    QFETCH(session::Question, question);
    QFETCH(int, unattended);
    QFETCH(bool, attendedOnly);
    std::set<int> answers;
    std::set<std::string> keys;
    for (const session::Question::Choice &c : question.choices) {
        QVERIFY(!c.caption.empty() && !c.key.empty());
        QVERIFY2(answers.insert(c.answer).second, c.caption.c_str());
        QVERIFY2(keys.insert(c.key).second, c.key.c_str());
        QVERIFY2(has(question.text, c.caption.c_str()) || question.choices.size() == 1 ||
                     c.answer == session::kLater,
                 c.caption.c_str()); // the text tells what each choice does
    }
    QVERIFY(!question.title.empty());
    QVERIFY(answers.count(question.defaultAnswer));
    QVERIFY(answers.count(question.escapeAnswer));
    QCOMPARE(question.unattendedAnswer, unattended);
    if (!attendedOnly)
        QVERIFY(answers.count(question.unattendedAnswer));
    QVERIFY(has(texts::prompt(question), question.choices.front().key.c_str()));
}

// One word for one thing across every front end.
void TestTexts::glossaryHolds()
{
    PassResult failed;
    failed.status = PassResult::Status::Failed;
    failed.renamed = 2;
    failed.failedIndex = 2;
    failed.oldName = "b.mp3";
    failed.newName = "1234b.mp3";
    failed.cause = {Cause::TargetExists, EEXIST};
    PassResult leftIn = failed;
    leftIn.filesLeftIn = kFolder / "Korvalo 临时文件夹 1";
    leftIn.storedOrderCause = {Cause::NoSpace, ENOSPC};
    RecoveryPlan plan;
    plan.status = interrupted(PassKind::Shuffle);
    plan.canUndo = true;
    RecoveryResult broken;
    broken.status = RecoveryResult::Status::Failed;

    std::vector<std::string> all = {texts::emptyList(),
                                    texts::cancelled(),
                                    texts::dryRunHeading(PassKind::Shuffle),
                                    texts::dryRunSummary(PassKind::Removal, 3, 2),
                                    texts::statusHeading(kFolder, 60),
                                    texts::statusPrefixed(3, 1),
                                    texts::statusUnknownFolder(4),
                                    texts::statusOtherDigits(2),
                                    texts::recoveryConflicts(names(12), Front::Window)};
    for (const PassKind kind :
         {PassKind::Shuffle, PassKind::Removal, PassKind::Restore, PassKind::Order}) {
        all.push_back(texts::completed(kind, 3));
        all.push_back(texts::passName(kind));
    }
    for (const Front front : {Front::Window, Front::Terminal}) {
        for (int c = int(Cause::None) + 1; c <= int(Cause::Other); ++c)
            all.push_back(texts::causeText(Cause(c), 5, front));
        for (int k = int(JournalError::Kind::None) + 1; k <= int(JournalError::Kind::Damaged); ++k)
            all.push_back(texts::journalFailure(journalError(JournalError::Kind(k), EIO), front));
        all.push_back(texts::renameFailure(PassKind::Removal, failed, 5, kFolder, front));
        all.push_back(texts::renameFailure(PassKind::Shuffle, leftIn, 5, kFolder, front));
        all.push_back(texts::storedOrderNotArranged(leftIn, kFolder, front));
        all.push_back(texts::stopped(PassKind::Shuffle, 2, 5, kFolder, front));
        all.push_back(texts::pendingPass(plan, kFolder, front));
        all.push_back(texts::againDeclined(3, {}, front));
        all.push_back(texts::orderingFolder(leftIn.filesLeftIn, front));
        all.push_back(texts::recoveryFailed(broken, kFolder, front));
        all.push_back(texts::keptDigits(2, front));
        all.push_back(texts::recoveryPending(kFolder, front));
        for (const PassKind kind : {PassKind::Shuffle, PassKind::Removal, PassKind::Order})
            all.push_back(texts::recoveryQuestion(interrupted(kind), 2, true, front).text);
        all.push_back(texts::stripDigitsQuestion(names(2), 4, front).text);
        all.push_back(texts::shuffleAgainQuestion(names(2), 4, {}, front).text);
        all.push_back(
            texts::damagedRecordQuestion(journalError(JournalError::Kind::Damaged, 0), front).text);
    }
    for (const std::string &text : all) {
        QVERIFY(!text.empty());
        for (const char *banned : {"排序号", "顺序号", "存储顺序", "恢复原文件名"})
            QVERIFY2(!has(text, banned), text.c_str());
        QVERIFY2(text.back() != '\n', text.c_str());
        // Songs are counted in the music list alone; files everywhere else.
        if (text != texts::statusHeading(kFolder, 60))
            QVERIFY2(!has(text, "首歌曲"), text.c_str());
    }
    QCOMPARE(texts::songCount(60), std::string("已选文件夹共有60首歌曲"));
    QVERIFY(has(texts::statusHeading(kFolder, 60), "共有 60 首歌曲"));
    QVERIFY(has(texts::recoveryConflicts(names(12), Front::Window), "还有 2 个文件"));
}

void TestTexts::journalReadNeverBlamesTheStick_data()
{
    QTest::addColumn<int>("osError");
    for (const int e : {EACCES, EIO, ENOENT, EROFS, ENOSPC, ELOOP, EPERM, EFBIG, ENOTDIR})
        QTest::addRow("%s", std::strerror(e)) << e;
}

// The record is in the user's state folder: a failure to read it on opening a folder says where
// it is, and never sends the user to the stick or speaks of writing.
void TestTexts::journalReadNeverBlamesTheStick()
{
    QFETCH(int, osError);
    for (const Front front : {Front::Window, Front::Terminal}) {
        const std::string read =
            texts::journalFailure(journalError(JournalError::Kind::Read, osError), front);
        QVERIFY2(has(read, kRecord.c_str()), read.c_str());
        QVERIFY2(!has(read, "写入") && !has(read, "U盘"), read.c_str());
        const std::string write =
            texts::journalFailure(journalError(JournalError::Kind::Write, osError), front);
        QVERIFY2(has(write, kRecord.c_str()) && !has(write, "U盘"), write.c_str());
    }
}

void TestTexts::nextStepPerFront_data()
{
    QTest::addColumn<std::string>("window");
    QTest::addColumn<std::string>("terminal");
    QTest::addColumn<std::string>("command"); // what the terminal's text must give; empty: same
    const JournalError damaged = journalError(JournalError::Kind::Damaged, 0);
    const auto both = [](auto text) {
        return std::pair{text(Front::Window), text(Front::Terminal)};
    };
    const auto row = [](const char *name, std::pair<std::string, std::string> texts,
                        const std::string &command) {
        QTest::newRow(name) << texts.first << texts.second << command;
    };
    row("record damaged", both([&](Front f) { return texts::recordDamaged(damaged, kFolder, f); }),
        "korvalo-cli recover '/media/U盘/音 乐' --leave");
    row("recovery pending", both([](Front f) { return texts::recoveryPending(kFolder, f); }),
        "korvalo-cli recover '/media/U盘/音 乐'");
    row("stopped removal",
        both([](Front f) { return texts::stopped(PassKind::Removal, 1, 4, "/music", f); }),
        "korvalo-cli recover /music --finish");
    row("digits kept", both([](Front f) { return texts::keptDigits(2, f); }), "--strip-all");
    row("cause: target exists",
        both([](Front f) { return texts::causeText(Cause::TargetExists, 0, f); }), "");
    row("unsafe driver", both([](Front f) { return texts::unsafeDriver(f); }), "");
    row("strip digits question",
        both([](Front f) { return texts::stripDigitsQuestion(names(2), 3, f).text; }), "");
}

// The window names what to click and never a command; the terminal gives the command line; a
// text without a next step of its own is the same for both.
void TestTexts::nextStepPerFront()
{
    QFETCH(std::string, window);
    QFETCH(std::string, terminal);
    QFETCH(std::string, command);
    QVERIFY2(!has(window, "korvalo-cli") && !has(window, "--"), window.c_str());
    if (command.empty()) {
        QCOMPARE(terminal, window);
        return;
    }
    QVERIFY2(has(terminal, command.c_str()), terminal.c_str());
}

void TestTexts::shownNameKeepsStartAndExtension()
{
    const std::string latin =
        texts::shownName("Begin" + std::string(200, 'x') + "End.mp3", Front::Window);
    QVERIFY2(latin.starts_with("Begin") && latin.ends_with("End.mp3") && has(latin, "…"),
             latin.c_str());
    QVERIFY(latin.size() < 50);
    std::string chinese;
    for (int i = 0; i < 60; ++i)
        chinese += "歌";
    const std::string shown = texts::shownName(chinese + ".flac", Front::Window);
    QVERIFY2(shown.ends_with("歌.flac") && shown.size() < chinese.size(), shown.c_str());
    // Cut between characters, never inside one: the result is valid UTF-8 throughout.
    QVERIFY(QString::fromStdString(shown).toStdString() == shown);
    QCOMPARE(texts::shownName("2019 Live.mp3", Front::Window), std::string("2019 Live.mp3"));
    // A terminal's user may copy the name: never cut.
    QCOMPARE(texts::shownName(chinese + ".flac", Front::Terminal), chinese + ".flac");
}

QTEST_APPLESS_MAIN(TestTexts)
#include "tst_texts.moc"
