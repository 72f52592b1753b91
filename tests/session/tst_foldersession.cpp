// The folder session's decisions, with no window and no korvalo-cli: opening a folder and what
// stands in a pass's way, the questions before any rename, and a plan run, stopped and recovered.

#include "passes/journalformat.h"
#include "passes/journalkey.h"
#include "passes/ordering.h"
#include "passes/statefolder.h"
#include "session/foldersession.h"
#include "support/passrun.h"
#include "support/scriptedasker.h"
#include "support/testdir.h"

#include <QTest>

#include <algorithm>

using namespace korvalo;
using namespace korvalo::session;
namespace fs = std::filesystem;
using Kind = FolderState::Kind;
using QKind = Question::Kind;
using Action = Plan::Action;
using Outcome = Report::Outcome;
using DigitAnswer = PassQuestions::DigitAnswer;
using Names = std::vector<std::string>;

Q_DECLARE_METATYPE(PassKind)
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Outcome)

namespace {

constexpr int kNone = -100; // no answer given beforehand, no question expected

Names toNames(const QStringList &list)
{
    Names out;
    for (const QString &name : list)
        out.push_back(name.toStdString());
    std::sort(out.begin(), out.end());
    return out;
}

QStringList songs(int count)
{
    QStringList out;
    for (int i = 1; i <= count; ++i)
        out << QStringLiteral("song%1.mp3").arg(i);
    return out;
}

// How many of `now` are one of `originals` with a Korvalo prefix in front.
int prefixedBefore(const Names &now, const Names &originals)
{
    return int(std::count_if(now.begin(), now.end(), [&](const std::string &name) {
        return std::any_of(originals.begin(), originals.end(),
                           [&](const std::string &o) { return hasPrefixBefore(name, o); });
    }));
}

// A whole pass through a session, asking nothing twice; stopped after `stopAfter` files if > 0.
Report sessionPass(const fs::path &folder, PassKind kind, int stopAfter = 0)
{
    FolderSession session(Front::Terminal);
    session.open(folder);
    ScriptedAsker asker;
    asker.answers = {{QKind::ShuffleAgain, kYes}};
    int handled = 0;
    if (stopAfter > 0)
        session.setStopCheck([&] { return ++handled >= stopAfter; });
    return session.run(session.planPass(kind, asker));
}

// A garbled byte in the middle of the folder's record.
void damageRecord(const fs::path &folder)
{
    const fs::path record =
        stateFolder() / (journalformat::keyHash(journalKeyOf(folder).value()) + ".journal");
    std::fstream file(record, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(std::streamoff(fs::file_size(record) / 2));
    file.put('\x7f');
}

// The folder as a row names it: six songs and a picture, and what happened to them; false if
// that could not be made.
bool prepare(TestDir &dir, const QString &setup, fs::path &folder)
{
    touchAll(dir, songs(6) << "cover.jpg");
    folder = dir.path();
    if (setup == "missing") {
        folder = dir / "gone";
    } else if (setup == "file") {
        folder = dir / "song1.mp3";
    } else if (setup == "ordering") {
        // The shorter name: the long one is made for FAT, which counts UTF-16 units, not bytes.
        const std::string inner = shortOrderingFolderName(orderingFolderName());
        dir.mkdir(inner);
        touchAll(dir, {QString::fromStdString(inner + "/a.mp3"),
                       QString::fromStdString(inner + "/b.flac")});
        folder = dir / inner;
    } else if (setup == "shuffled" || setup == "damaged") {
        if (sessionPass(folder, PassKind::Shuffle).outcome != Outcome::Done)
            return false;
        if (setup == "damaged")
            damageRecord(folder);
    } else if (setup == "stopped") {
        return sessionPass(folder, PassKind::Shuffle, 3).outcome == Outcome::Stopped;
    }
    return true;
}

// The one question met is of `kind` and offers its default and escape answers, and its
// unattended one unless that is kLater (nothing done, so no button needed); nothing was asked
// unscripted, and it was asked only where someone is there and no answer was given beforehand.
void checkQuestion(const ScriptedAsker &asker, QKind kind, bool asked)
{
    QCOMPARE(asker.met.size(), std::size_t(1));
    const Question &q = asker.met.front();
    const auto offered = [&](int answer) {
        return std::any_of(q.choices.begin(), q.choices.end(),
                           [&](const Question::Choice &c) { return c.answer == answer; });
    };
    QCOMPARE(q.kind, kind);
    QVERIFY2(offered(q.defaultAnswer) && offered(q.escapeAnswer) &&
                 (q.unattendedAnswer == kLater || offered(q.unattendedAnswer)),
             q.text.c_str());
    QCOMPARE(asker.asked.size(), std::size_t(asked));
    QCOMPARE(asker.unscripted, 0);
}

} // namespace

class TestFolderSession : public QObject
{
    Q_OBJECT

private slots:
    void opening_data();
    void opening();
    void questionsBeforeRenames_data();
    void questionsBeforeRenames();
    void running_data();
    void running();
};

void TestFolderSession::opening_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<PassKind>("fits");
    QTest::addColumn<int>("songs");
    QTest::addColumn<bool>("problem");
    QTest::addColumn<PassKind>("pass"); // a pass asked for while a question stands in the way
    QTest::addColumn<bool>("attended");
    QTest::addColumn<int>("answer"); // kNone: no question as it opens
    QTest::addColumn<Action>("action");

    const auto shuffle = PassKind::Shuffle, removal = PassKind::Removal;
    const auto row = [&](const char *name, const char *setup, Kind kind, PassKind fits, int songs,
                         bool problem) -> QTestData & {
        return QTest::newRow(name) << setup << kind << fits << songs << problem;
    };
    row("plain", "plain", Kind::Plain, shuffle, 6, false)
        << shuffle << true << kNone << Action::Nothing;
    row("after a shuffle", "shuffled", Kind::Prefixed, removal, 6, false)
        << shuffle << true << kNone << Action::Nothing;
    row("no such folder", "missing", Kind::Unreadable, shuffle, 0, true)
        << shuffle << true << kNone << Action::Nothing;
    row("a file, not a folder", "file", Kind::Unreadable, shuffle, 0, true)
        << shuffle << true << kNone << Action::Nothing;
    row("the ordering folder", "ordering", Kind::OrderingFolder, shuffle, 2, true)
        << shuffle << true << kNone << Action::Nothing;
    // What stands in the way of a pass is asked about first; the pass waits for the next request.
    const int undo = int(RecoveryChoice::Undo);
    row("unfinished pass: later", "stopped", Kind::Pending, removal, 6, false)
        << shuffle << true << kLater << Action::Nothing;
    row("unfinished pass: unattended", "stopped", Kind::Pending, removal, 6, false)
        << removal << false << undo << Action::Nothing;
    row("unfinished pass: undo", "stopped", Kind::Pending, removal, 6, false)
        << shuffle << true << undo << Action::Recovery;
    row("unfinished pass: finish", "stopped", Kind::Pending, removal, 6, false)
        << removal << true << int(RecoveryChoice::Finish) << Action::Recovery;
    row("damaged record: later", "damaged", Kind::Damaged, shuffle, 6, true)
        << removal << true << kLater << Action::Nothing;
    row("damaged record: leave it", "damaged", Kind::Damaged, shuffle, 6, true)
        << shuffle << true << kLeaveRecord << Action::LeaveRecord;
}

void TestFolderSession::opening()
{
    QFETCH(QString, setup);
    QFETCH(PassKind, pass);
    QFETCH(bool, attended);
    QFETCH(int, answer);
    TestDir dir;
    fs::path folder;
    QVERIFY(prepare(dir, setup, folder));
    const Names before = dir.names();
    const auto contents = dir.contents();

    FolderSession session(Front::Window);
    const FolderState &s = session.open(folder);
    QTEST(s.kind, "kind");
    QTEST(s.fits, "fits");
    QTEST(s.songs, "songs");
    QTEST(!s.problem.empty(), "problem");
    QCOMPARE(dir.names(), before); // opening renames nothing
    QCOMPARE(s.question.has_value(), answer != kNone || setup == "ordering");
    if (answer == kNone)
        return;

    ScriptedAsker asker;
    asker.isAttended = attended;
    asker.queue = {answer};
    const Plan plan = session.planPass(pass, asker);
    QCOMPARE(dir.names(), before);
    checkQuestion(asker, setup == "stopped" ? QKind::Recovery : QKind::DamagedRecord, attended);
    QTEST(plan.action, "action");

    const Report report = session.run(plan);
    QCOMPARE(dir.contents(), contents);
    QCOMPARE(report.outcome, plan.runnable() ? Outcome::Done : Outcome::Refused);
    QCOMPARE(report.problems.empty(), plan.runnable());
    const Names originals = toNames(songs(6) << "cover.jpg");
    if (answer == int(RecoveryChoice::Undo) && plan.runnable())
        QCOMPARE(dir.names(), originals);
    else if (answer == int(RecoveryChoice::Finish))
        QCOMPARE(prefixedBefore(dir.names(), originals), 6);
    else
        QCOMPARE(dir.names(), before);
    // Settled, the folder opens with nothing in the way.
    QCOMPARE(bool(session.open(folder).question), !plan.runnable());
}

void TestFolderSession::questionsBeforeRenames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("attended");
    QTest::addColumn<int>("given");  // an answer given beforehand, or kNone
    QTest::addColumn<int>("answer"); // the answer when asked, or kNone: nothing to ask
    QTest::addColumn<Action>("action");
    QTest::addColumn<QStringList>("after"); // a removal's names after the run; none: a shuffle

    // Korvalo's own prefixes are put on first where a row's names are songs.
    const QStringList none;
    QTest::newRow("plain: nothing asked")
        << QStringList{"a.mp3"} << true << kNone << kNone << Action::Shuffle << none;
    QTest::newRow("prefixed, asked: no")
        << songs(3) << true << kNone << kNo << Action::Nothing << none;
    QTest::newRow("prefixed, given: yes")
        << songs(3) << true << kYes << kNo << Action::Shuffle << none;
    QTest::newRow("prefixed, unattended")
        << songs(3) << false << kNone << kYes << Action::Nothing << none;

    // In a folder Korvalo has no record of, digits followed by a blank belong to the name.
    const QStringList own = {"2001 A Space Odyssey.mp3", "1234a.mp3"};
    const QStringList kept = {"2001 A Space Odyssey.mp3", "a.mp3"};
    const QStringList strippedAll = {" A Space Odyssey.mp3", "a.mp3"};
    const int keep = int(DigitAnswer::KeepOthers), all = int(DigitAnswer::StripAll);
    QTest::newRow("own digits, asked: keep them")
        << own << true << kNone << keep << Action::Removal << kept;
    QTest::newRow("own digits, asked: cancel")
        << own << true << kNone << int(DigitAnswer::Cancel) << Action::Nothing << own;
    QTest::newRow("own digits, unattended: kept")
        << own << false << kNone << all << Action::Removal << kept;
    QTest::newRow("own digits, given: strip all")
        << own << true << all << int(DigitAnswer::Cancel) << Action::Removal << strippedAll;
}

// Every question comes before the first rename; the plan's renames are the run's.
void TestFolderSession::questionsBeforeRenames()
{
    QFETCH(QStringList, names);
    QFETCH(bool, attended);
    QFETCH(int, given);
    QFETCH(int, answer);
    QFETCH(QStringList, after);
    const PassKind pass = after.isEmpty() ? PassKind::Shuffle : PassKind::Removal;
    const QKind kind = pass == PassKind::Shuffle ? QKind::ShuffleAgain : QKind::StripOtherDigits;
    TestDir dir;
    touchAll(dir, names);
    if (names == songs(3))
        QCOMPARE(sessionPass(dir.path(), PassKind::Shuffle).outcome, Outcome::Done);
    const Names before = dir.names();
    const auto contents = dir.contents();

    FolderSession session(Front::Terminal);
    session.open(dir.path());
    ScriptedAsker asker;
    asker.isAttended = attended;
    if (given != kNone)
        asker.givenAnswers[kind] = given;
    if (answer != kNone)
        asker.answers[kind] = answer;
    const Plan plan = session.planPass(pass, asker);
    QCOMPARE(dir.names(), before);
    QTEST(plan.action, "action");
    if (answer == kNone)
        QVERIFY(asker.met.empty());
    else
        checkQuestion(asker, kind, attended && given == kNone);

    if (!plan.runnable()) {
        QCOMPARE(plan.report.outcome, Outcome::Cancelled);
        // Unasked, the report says how to answer otherwise: not the text of a refusal.
        ScriptedAsker no;
        no.answers[kind] = kNo;
        QVERIFY(attended || session.planPass(pass, no).report.problems != plan.report.problems);
        QCOMPARE(session.run(plan).outcome, Outcome::Cancelled);
        QCOMPARE(dir.names(), before);
        return;
    }
    // The from-names are exact; a shuffle's prefixes are examples, drawn again as it runs.
    const std::string dryRun = session.describe(plan);
    Names expected = before;
    for (const PlannedRename &r : plan.renames) {
        const auto it = std::find(expected.begin(), expected.end(), r.from);
        QVERIFY2(it != expected.end() && dryRun.find(r.from) != std::string::npos &&
                     dryRun.find(r.to) != std::string::npos,
                 r.from.c_str());
        *it = r.to;
    }
    std::sort(expected.begin(), expected.end());
    QCOMPARE(session.run(plan).outcome, Outcome::Done);
    if (pass == PassKind::Shuffle)
        QCOMPARE(prefixedBefore(dir.names(), before), int(before.size()));
    else
        QVERIFY(dir.names() == expected && expected == toNames(after));
    QCOMPARE(dir.contents(), contents);
}

void TestFolderSession::running_data()
{
    QTest::addColumn<PassKind>("pass");
    QTest::addColumn<int>("stopAfter");  // 0: runs to the end
    QTest::addColumn<bool>("byRequest"); // stopped with requestStop(), else the stop check
    QTest::addColumn<int>("recovery");   // the choice for the stopped pass
    QTest::addColumn<PassKind>("next");  // once completed

    const auto shuffle = PassKind::Shuffle, removal = PassKind::Removal;
    const int undo = int(RecoveryChoice::Undo);
    QTest::newRow("shuffle to the end") << shuffle << 0 << false << 0 << removal;
    QTest::newRow("removal to the end") << removal << 0 << false << 0 << shuffle;
    QTest::newRow("shuffle stopped by the check, undone")
        << shuffle << 2 << false << undo << shuffle;
    QTest::newRow("shuffle stopped on request, undone") << shuffle << 5 << true << undo << shuffle;
    QTest::newRow("removal stopped, finished")
        << removal << 3 << false << int(RecoveryChoice::Finish) << shuffle;
}

void TestFolderSession::running()
{
    QFETCH(PassKind, pass);
    QFETCH(int, stopAfter);
    QFETCH(bool, byRequest);
    QFETCH(int, recovery);
    QFETCH(PassKind, next);
    TestDir dir;
    touchAll(dir, songs(8) << "cover.jpg");
    const Names originals = dir.names();
    const auto contents = dir.contents();
    if (pass == PassKind::Removal)
        QCOMPARE(sessionPass(dir.path(), PassKind::Shuffle).outcome, Outcome::Done);

    FolderSession session(Front::Window);
    session.open(dir.path());
    ScriptedAsker asker;
    int handled = 0;
    session.setStopCheck([&] {
        if (++handled < stopAfter || stopAfter == 0)
            return false;
        if (byRequest)
            session.requestStop();
        return !byRequest;
    });
    session.start(session.planPass(pass, asker));
    Report report = session.wait();
    QVERIFY(!session.running());
    // Exactly the files handled have their new names.
    const int done = stopAfter == 0 ? 8 : stopAfter;
    QCOMPARE(session.progress().done, done);
    QCOMPARE(session.progress().count, 8);
    QCOMPARE(report.renamed, done);
    QCOMPARE(report.outcome, stopAfter == 0 ? Outcome::Done : Outcome::Stopped);
    QCOMPARE(report.next, stopAfter == 0 ? std::optional(next) : std::nullopt);
    QCOMPARE(dir.contents(), contents);
    const int prefixed = prefixedBefore(dir.names(), originals);
    QCOMPARE(pass == PassKind::Shuffle ? prefixed : 8 - prefixed, done);
    if (stopAfter == 0)
        return;

    // The stopped pass is offered back, and the recovery chosen puts every name in order.
    QCOMPARE(session.open(dir.path()).kind, Kind::Pending);
    session.setStopCheck({});
    report = session.run(session.planRecovery(RecoveryChoice(recovery)));
    QCOMPARE(report.outcome, Outcome::Done);
    QCOMPARE(report.next, std::optional(next));
    QCOMPARE(dir.names(), originals);
    QCOMPARE(dir.contents(), contents);
    // The session's list follows: the next plan starts from the names as they are.
    Names listed;
    for (int i = 0; i < session.list().count(); ++i)
        listed.push_back(session.list().name(i).string());
    Names songsNow = dir.names();
    std::erase(songsNow, "cover.jpg");
    std::sort(listed.begin(), listed.end());
    QCOMPARE(listed, songsNow);
}

QTEST_GUILESS_MAIN(TestFolderSession)
#include "tst_foldersession.moc"
