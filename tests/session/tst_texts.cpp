#include "session/texts.h"
#include "session/unfinished.h"
#include "support/volumerows.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <set>

using namespace korvalo;
using texts::Front;

Q_DECLARE_METATYPE(korvalo::session::Question)
Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(korvalo::session::Answer)

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
    return {kind, 1700000000, 4, 3, 2, 1, std::nullopt};
}

const JournalError kDamaged{JournalError::Kind::Damaged, 0, kRecord};

// A pass that renamed `renamed` files and failed on the next ("a.mp3" to "4821a.mp3").
PassResult failedAfter(int renamed, Cause cause, int error)
{
    PassResult failed;
    failed.status = PassResult::Status::Failed;
    failed.renamed = renamed;
    failed.failedIndex = renamed;
    failed.oldName = "a.mp3";
    failed.newName = "4821a.mp3";
    failed.cause = {cause, error};
    return failed;
}

bool has(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

// One word for one thing across every front end; songs are counted in the music list alone.
void checkGlossary(const std::string &text)
{
    QVERIFY(!text.empty() && text.back() != '\n');
    for (const char *banned : {"排序号", "顺序号", "存储顺序", "恢复原文件名", "首歌曲"})
        QVERIFY2(!has(text, banned), text.c_str());
}

} // namespace

class TestTexts : public QObject
{
    Q_OBJECT

private slots:
    void everyCauseHasItsOwnText();
    void questionAnswers_data();
    void questionAnswers();
    void glossaryHolds();
    void journalReadNeverBlamesTheStick();
    void nextStepPerFront_data();
    void nextStepPerFront();
    void shownNameKeepsStartAndExtension();
    void driveText_data();
    void driveText();
    void failureNewsFirst();
    void oneCausePerReport_data();
    void oneCausePerReport();
    void unfinishedElsewhereIsBounded_data();
    void unfinishedElsewhereIsBounded();
};

void TestTexts::questionAnswers_data()
{
    QTest::addColumn<session::Question>("question");
    QTest::addColumn<session::Answer>("unattended");
    QTest::addColumn<bool>("attendedOnly"); // the window always has someone to ask
    using session::Answer;
    const Answer later = session::Later{}, stop = session::CloseAnswer::Stop;
    for (const Front front : {Front::Window, Front::Terminal}) {
        const char *f = front == Front::Window ? "window" : "terminal";
        QTest::addRow("%s: strip digits", f) << texts::stripDigitsQuestion(names(3), 5, front)
                                             << Answer(session::DigitAnswer::KeepOthers) << false;
        QTest::addRow("%s: shuffle again", f)
            << texts::shuffleAgainQuestion(names(12), 20, {}, front)
            << Answer(session::PrefixedAnswer::Cancel) << false;
        for (const PassKind kind : {PassKind::Shuffle, PassKind::Removal, PassKind::Order})
            for (const bool unconfirmed : {false, true})
                QTest::addRow("%s: recovery of %s%s", f, texts::passName(kind).c_str(),
                              unconfirmed ? ", unconfirmed" : "")
                    << texts::recoveryQuestion(interrupted(kind), 2, unconfirmed, front) << later
                    << (front == Front::Window && !unconfirmed);
        QTest::addRow("%s: damaged record", f)
            << texts::damagedRecordQuestion(kDamaged, front) << later << false;
        QTest::addRow("%s: ordering folder", f)
            << texts::orderingFolderQuestion(kFolder / "Korvalo 临时文件夹 1", front)
            << Answer(session::ReturnAnswer::Cancel) << false;
    }
    QTest::newRow("closing during a pass")
        << texts::closeDuringPassQuestion(false) << stop << false;
    QTest::newRow("closing while the files are stored in order")
        << texts::closeDuringPassQuestion(true) << stop << false;
}

// Every answer a question may give without a click is one of its choices, the text tells what
// each choice does, and a terminal user can type each choice.
void TestTexts::questionAnswers()
{
    QFETCH(session::Question, question);
    QFETCH(session::Answer, unattended);
    QFETCH(bool, attendedOnly);
    std::set<session::Answer> answers;
    std::set<std::string> keys;
    for (const session::Question::Choice &c : question.choices) {
        QVERIFY2(answers.insert(c.answer).second && keys.insert(c.key).second, c.caption.c_str());
        QVERIFY2(has(question.text, c.caption.c_str()) || question.choices.size() == 1 ||
                     c.answer == session::Answer(session::Later{}),
                 c.caption.c_str());
    }
    QVERIFY(answers.count(question.defaultAnswer) && answers.count(question.escapeAnswer));
    QCOMPARE(question.unattendedAnswer, unattended);
    QVERIFY(attendedOnly || answers.count(question.unattendedAnswer));
    QVERIFY(has(texts::prompt(question), question.choices.front().key.c_str()));
    checkGlossary(question.text);
}

// The glossary holds for every text a question does not carry.
void TestTexts::glossaryHolds()
{
    const PassResult failed = failedAfter(2, Cause::TargetExists, EEXIST);
    PassResult leftIn = failed;
    leftIn.filesLeftIn = kFolder / "Korvalo 临时文件夹 1";
    leftIn.storedOrderCause = {Cause::NoSpace, ENOSPC};
    RecoveryPlan plan;
    plan.status = interrupted(PassKind::Shuffle);
    plan.canUndo = true;
    RecoveryResult broken;
    broken.status = RecoveryResult::Status::Failed;
    OrderingOutcome stopped;
    stopped.order = StoredOrder::Stopped;

    std::vector<std::string> all = {texts::recoveryConflicts(names(12), Front::Window)};
    all.insert(all.end(),
               {texts::emptyList(), texts::cancelled(), texts::statusPrefixed(3, 1),
                texts::dryRunHeading(PassKind::Shuffle), texts::statusOtherDigits(2),
                texts::dryRunSummary(PassKind::Removal, 3, 2), texts::statusUnknownFolder(4),
                texts::orderingProgressLabel(), texts::movingBackProgressLabel(),
                texts::windowHelp(), texts::outputNotWritten()});
    for (const PassKind kind :
         {PassKind::Shuffle, PassKind::Removal, PassKind::Restore, PassKind::Order})
        all.insert(all.end(), {texts::completed(kind, 3), texts::passName(kind)});
    for (const Front f : {Front::Window, Front::Terminal}) {
        for (int c = int(Cause::None) + 1; c <= int(Cause::Other); ++c)
            all.push_back(texts::causeText(Cause(c), 5, f));
        for (int k = int(JournalError::Kind::None) + 1; k <= int(JournalError::Kind::Damaged); ++k)
            all.push_back(texts::journalFailure({JournalError::Kind(k), EIO, kRecord}, f));
        all.insert(
            all.end(),
            {texts::renameFailure(PassKind::Removal, failed, 5, kFolder, f),
             texts::renameFailure(PassKind::Shuffle, leftIn, 5, kFolder, f),
             texts::storedOrderNotArranged(PassKind::Shuffle, storedOrderOf(leftIn), kFolder, f),
             texts::storedOrderNotArranged(PassKind::Removal, stopped, kFolder, f),
             texts::stopped(PassKind::Shuffle, 2, 5, kFolder, f),
             texts::pendingPass(plan, kFolder, f), texts::againDeclined(3, {}, f),
             texts::orderingFolder(leftIn.filesLeftIn, f),
             texts::recoveryFailed(broken, kFolder, f), texts::keptDigits(2, f),
             texts::recoveryPending(kFolder, f), texts::folderGoneAway(Cause::DeviceGone, f),
             texts::folderGoneAway(Cause::FolderGone, f),
             texts::passEndNotRecorded(PassKind::Shuffle, 5,
                                       {JournalError::Kind::Write, ENOSPC, kRecord}, kFolder, f)});
    }
    for (const std::string &text : all)
        checkGlossary(text);
    QCOMPARE(texts::songCount(60), std::string("已选文件夹共有60首歌曲"));
    QVERIFY(has(texts::recoveryConflicts(names(12), Front::Window), "还有 2 个文件"));
}

// The record is in the user's state folder: a failure to read it on opening a folder says where
// it is, and never sends the user to the stick or speaks of writing.
void TestTexts::journalReadNeverBlamesTheStick()
{
    for (const int e : {EACCES, EIO, ENOENT, EROFS, ELOOP, ENOTDIR})
        for (const Front f : {Front::Window, Front::Terminal}) {
            const std::string read =
                texts::journalFailure({JournalError::Kind::Read, e, kRecord}, f);
            const std::string write =
                texts::journalFailure({JournalError::Kind::Write, e, kRecord}, f);
            QVERIFY2(has(read, kRecord.c_str()) && !has(read, "写入") && !has(read, "U盘"),
                     read.c_str());
            QVERIFY2(has(write, kRecord.c_str()) && !has(write, "U盘"), write.c_str());
        }
}

void TestTexts::nextStepPerFront_data()
{
    QTest::addColumn<std::string>("window");
    QTest::addColumn<std::string>("terminal");
    QTest::addColumn<std::string>("command"); // what the terminal's text must give; empty: same
    const auto row = [](const char *name, const std::string &command, auto text) {
        QTest::newRow(name) << text(Front::Window) << text(Front::Terminal) << command;
    };
    row("record damaged", "korvalo-cli recover '/media/U盘/音 乐' --leave",
        [&](Front f) { return texts::recordDamaged(kDamaged, kFolder, f); });
    row("recovery pending", "korvalo-cli recover '/media/U盘/音 乐'",
        [](Front f) { return texts::recoveryPending(kFolder, f); });
    row("stopped removal", "korvalo-cli recover /music --finish",
        [](Front f) { return texts::stopped(PassKind::Removal, 1, 4, "/music", f); });
    OrderingOutcome stopped;
    stopped.order = StoredOrder::Stopped;
    // Arranged again: by a replace pass for prefixed names, else by a removal alone.
    row("order not arranged after a shuffle", "再运行 korvalo-cli shuffle /music --replace",
        [&](Front f) {
            return texts::storedOrderNotArranged(PassKind::Shuffle, stopped, "/music", f);
        });
    row("order not arranged after a removal", "再运行一次 korvalo-cli remove /music：",
        [&](Front f) {
            return texts::storedOrderNotArranged(PassKind::Removal, stopped, "/music", f);
        });
    row("digits kept", "--strip-all", [](Front f) { return texts::keptDigits(2, f); });
    row("cause: target exists", "",
        [](Front f) { return texts::causeText(Cause::TargetExists, 0, f); });
    row("unsafe driver", "", [](Front f) { return texts::unsafeDriver(f); });
    row("strip digits question", "",
        [](Front f) { return texts::stripDigitsQuestion(names(2), 3, f).text; });
}

// The window names what to click and never a command; the terminal gives the command line; a
// text without a next step of its own is the same for both.
void TestTexts::nextStepPerFront()
{
    QFETCH(std::string, window);
    QFETCH(std::string, terminal);
    QFETCH(std::string, command);
    QVERIFY2(!has(window, "korvalo-cli") && !has(window, "--"), window.c_str());
    if (command.empty())
        QCOMPARE(terminal, window);
    else
        QVERIFY2(has(terminal, command.c_str()), terminal.c_str());
}

void TestTexts::shownNameKeepsStartAndExtension()
{
    const std::string latin =
        texts::shownName("Begin" + std::string(200, 'x') + "End.mp3", Front::Window);
    QVERIFY2(latin.starts_with("Begin") && latin.ends_with("End.mp3") && has(latin, "…") &&
                 latin.size() < 50,
             latin.c_str());
    const std::string chinese = QString(60, QChar(u'歌')).toStdString();
    const std::string shown = texts::shownName(chinese + ".flac", Front::Window);
    // Cut between characters, never inside one: the result is valid UTF-8 throughout.
    QVERIFY2(shown.ends_with("歌.flac") && shown.size() < chinese.size() &&
                 QString::fromStdString(shown).toStdString() == shown,
             shown.c_str());
    QCOMPARE(texts::shownName("2019 Live.mp3", Front::Window), std::string("2019 Live.mp3"));
    // A terminal's user may copy the name: never cut.
    QCOMPARE(texts::shownName(chinese + ".flac", Front::Terminal), chinese + ".flac");
}

void TestTexts::driveText_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *volume, const char *expected) {
        QTest::newRow(name) << QString(volume) << QString(expected);
    };
    row("root", "/|ext4|", "根目录 (/)");
    row("labelled root", "/|ext4|System", "System (/)");
    row("label", "/media/nem/MUSIC|vfat|MUSIC", "MUSIC (/media/nem/MUSIC)");
    row("Chinese label", "/media/nem/a|vfat|音乐盘", "音乐盘 (/media/nem/a)");
    row("no label: last folder name", "/mnt/share|cifs|", "share (/mnt/share)");
    row("drive letter with a label", "E:\\|vfat|音乐", "音乐 (E:)");
    row("drive letter without a label", "c:\\|ntfs|", "c:");
    row("drive letter, forward slash", "R:/|ext4|MUSIC", "MUSIC (R:)");
    row("a folder named like a drive is not one", "/media/E:|vfat|", "E: (/media/E:)");
}

void TestTexts::driveText()
{
    QFETCH(QString, volume);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(texts::driveText(volumes({volume}).front())), expected);
}

// The cause of a failed rename or listing is what the user acts on: no two causes read alike,
// and one without a text of its own gives its number.
void TestTexts::everyCauseHasItsOwnText()
{
    for (const Front front : {Front::Window, Front::Terminal}) {
        std::set<std::string> seen;
        for (int c = int(Cause::None) + 1; c <= int(Cause::Other); ++c) {
            const std::string text = texts::causeText(Cause(c), 5, front);
            QVERIFY2(!text.empty() && seen.insert(text).second, text.c_str());
        }
        QVERIFY(has(texts::causeText(Cause::Other, 5, front), "错误号 5"));
    }
}

// A failed pass's box opens with what happened to the folder; the file names come after.
void TestTexts::failureNewsFirst()
{
    PassResult failed = failedAfter(0, Cause::ReadOnly, EROFS);
    const std::string readOnly =
        texts::renameFailure(PassKind::Shuffle, failed, 5, kFolder, Front::Window);
    QVERIFY2(readOnly.starts_with("U盘是只读的，没有改任何文件名。\n"), readOnly.c_str());
    failed = failedAfter(2, Cause::TargetExists, EEXIST);
    const std::string taken =
        texts::renameFailure(PassKind::Removal, failed, 5, kFolder, Front::Window);
    QVERIFY2(taken.substr(0, taken.find('\n')).find("a.mp3") == std::string::npos &&
                 has(taken, "“删除排序”没有做完"),
             taken.c_str());
    // The one file after the one that failed is told too.
    const std::string lastLeft =
        texts::renameFailure(PassKind::Removal, failed, 4, kFolder, Front::Window);
    QVERIFY2(has(lastLeft, "之后的 1 个文件没有处理"), lastLeft.c_str());
}

void TestTexts::oneCausePerReport_data()
{
    QTest::addColumn<int>("front");
    QTest::newRow("window") << int(Front::Window);
    QTest::newRow("terminal") << int(Front::Terminal);
}

// A stick pulled out during a pass is said once, as the cause; the recovery question asked
// afterwards does not give another.
void TestTexts::oneCausePerReport()
{
    QFETCH(int, front);
    const std::string text = texts::renameFailure(
        PassKind::Shuffle, failedAfter(2, Cause::DeviceGone, ENODEV), 5, kFolder, Front(front));
    std::size_t said = 0;
    for (std::size_t at = text.find("U盘已被拔出"); at != std::string::npos;
         at = text.find("U盘已被拔出", at + 1))
        ++said;
    QVERIFY2(said == 1 && !has(text, "原因："), text.c_str());

    RecoveryStatus status;
    status.kind = PassKind::Shuffle;
    status.end = PassEnd::Failed;
    status.fileCount = 5;
    status.recorded = 5;
    status.done = 2;
    const std::string asked = texts::recoveryQuestion(status, 0, false, Front(front)).text;
    QVERIFY2(!has(asked, "原因：有一个文件无法改名。"), asked.c_str());
}

void TestTexts::unfinishedElsewhereIsBounded_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lines"); // folder lines in the box
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("as many as it shows") << 8 << 8;
    QTest::newRow("sixty") << 60 << 8;
}

// The start-up box lists a bounded number of folders and says how many more there are, so that
// its buttons stay on a small screen; a folder that could not be checked, or whose pass is
// running, says so.
void TestTexts::unfinishedElsewhereIsBounded()
{
    QFETCH(int, count);
    QFETCH(int, lines);
    std::vector<session::UnfinishedPass> passes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        passes[std::size_t(i)].key = {"UUID-1", "/音乐/" + std::to_string(i)};
        passes[std::size_t(i)].folder = "/media/u/" + std::to_string(i);
    }
    passes[0].running = true;
    const session::Question q = texts::unfinishedAtStartQuestion(passes);
    QCOMPARE(int(std::count(q.text.begin(), q.text.end(), '\n')),
             lines + 3 + std::min(count, 3) + (count > lines ? 1 : 0));
    QCOMPARE(has(q.text, "还有 52 个文件夹"), count == 60);
    QVERIFY2(has(q.text, "另一个 Korvalo 正在处理它"), q.text.c_str());

    passes.resize(1);
    passes[0] = {};
    passes[0].key = {"UUID-1", "/音乐"};
    passes[0].volumePresent = true;
    passes[0].unchecked = true;
    const std::string listed = texts::unfinishedList(passes);
    QVERIFY2(has(listed, "无法检查") && !has(listed, "已被移动或删除"), listed.c_str());
}

QTEST_APPLESS_MAIN(TestTexts)
#include "tst_texts.moc"
