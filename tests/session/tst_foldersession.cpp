// The folder session's decisions, with no window and no korvalo-cli: what opening a folder finds,
// the questions a pass asks before any rename and what each answer does, an unfinished pass or a
// damaged record met by a new pass, and a plan run on the worker: its progress, a stop after a
// given file, the pass offered next and the recovery of a stopped pass.

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

// The folder as a row names it: six songs and a picture, and what happened to them.
void prepare(TestDir &dir, const QString &setup, fs::path &folder)
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
        QCOMPARE(sessionPass(folder, PassKind::Shuffle).outcome, Outcome::Done);
        if (setup == "damaged")
            damageRecord(folder);
    } else if (setup == "stopped") {
        QCOMPARE(sessionPass(folder, PassKind::Shuffle, 3).outcome, Outcome::Stopped);
    }
}

// Every question offers its default and escape answers, and its unattended one unless that is
// kLater (nothing done, so no button needed); none was asked unscripted.
void checkQuestions(const std::vector<Question> &questions, int unscripted = 0)
{
    for (const Question &q : questions) {
        const auto offered = [&](int answer) {
            return std::any_of(q.choices.begin(), q.choices.end(),
                               [&](const Question::Choice &c) { return c.answer == answer; });
        };
        QVERIFY2(!q.text.empty() && offered(q.defaultAnswer) && offered(q.escapeAnswer) &&
                     (q.unattendedAnswer == kLater || offered(q.unattendedAnswer)),
                 q.text.c_str());
    }
    QCOMPARE(unscripted, 0);
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
    void blockedPass_data();
    void blockedPass();
    void running_data();
    void running();
};

void TestFolderSession::opening_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<PassKind>("fits");
    QTest::addColumn<int>("songs");
    QTest::addColumn<int>("question"); // its kind, or kNone
    QTest::addColumn<int>("offered");  // an answer the question must offer
    QTest::addColumn<bool>("problem");

    QTest::newRow("plain") << "plain" << Kind::Plain << PassKind::Shuffle << 6 << kNone << 0
                           << false;
    QTest::newRow("after a shuffle")
        << "shuffled" << Kind::Prefixed << PassKind::Removal << 6 << kNone << 0 << false;
    QTest::newRow("no such folder")
        << "missing" << Kind::Unreadable << PassKind::Shuffle << 0 << kNone << 0 << true;
    QTest::newRow("a file, not a folder")
        << "file" << Kind::Unreadable << PassKind::Shuffle << 0 << kNone << 0 << true;
    QTest::newRow("the ordering folder") << "ordering" << Kind::OrderingFolder << PassKind::Shuffle
                                         << 2 << int(QKind::OrderingFolder) << kYes << true;
    QTest::newRow("a shuffle stopped")
        << "stopped" << Kind::Pending << PassKind::Removal << 6 << int(QKind::Recovery)
        << int(RecoveryChoice::Undo) << false;
    QTest::newRow("a damaged record") << "damaged" << Kind::Damaged << PassKind::Shuffle << 6
                                      << int(QKind::DamagedRecord) << kLeaveRecord << true;
}

void TestFolderSession::opening()
{
    QFETCH(QString, setup);
    QFETCH(Kind, kind);
    QFETCH(PassKind, fits);
    QFETCH(int, songs);
    QFETCH(int, question);
    QFETCH(int, offered);
    QFETCH(bool, problem);
    TestDir dir;
    fs::path folder;
    prepare(dir, setup, folder);
    if (QTest::currentTestFailed())
        return;
    const Names before = dir.names();

    FolderSession session(Front::Window);
    const FolderState &s = session.open(folder);
    QCOMPARE(s.kind, kind);
    QCOMPARE(s.fits, fits);
    QCOMPARE(s.songs, songs);
    QCOMPARE(s.problem.empty(), !problem);
    QCOMPARE(s.question ? int(s.question->kind) : kNone, question);
    if (s.question) {
        checkQuestions({*s.question});
        QVERIFY(std::any_of(s.question->choices.begin(), s.question->choices.end(),
                            [&](const Question::Choice &c) { return c.answer == offered; }));
    }
    QCOMPARE(dir.names(), before); // opening renames nothing
}

void TestFolderSession::questionsBeforeRenames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("shuffledFirst");
    QTest::addColumn<PassKind>("pass");
    QTest::addColumn<bool>("attended");
    QTest::addColumn<int>("given");    // an answer given beforehand, or kNone
    QTest::addColumn<int>("answer");   // the answer when asked
    QTest::addColumn<int>("question"); // the question put, or kNone
    QTest::addColumn<Action>("action");
    QTest::addColumn<QStringList>("after"); // a removal's names after the run

    const auto shuffle = PassKind::Shuffle;
    const int again = int(QKind::ShuffleAgain);
    QTest::newRow("plain: nothing asked") << songs(3) << false << shuffle << true << kNone << kNone
                                          << kNone << Action::Shuffle << QStringList();
    QTest::newRow("prefixed, asked: no") << songs(3) << true << shuffle << true << kNone << kNo
                                         << again << Action::Nothing << QStringList();
    QTest::newRow("prefixed, asked: yes") << songs(3) << true << shuffle << true << kNone << kYes
                                          << again << Action::Shuffle << QStringList();
    QTest::newRow("prefixed, given: yes") << songs(3) << true << shuffle << true << kYes << kNo
                                          << again << Action::Shuffle << QStringList();
    QTest::newRow("prefixed, unattended") << songs(3) << true << shuffle << false << kNone << kYes
                                          << again << Action::Nothing << QStringList();

    const auto removal = PassKind::Removal;
    const int digits = int(QKind::StripOtherDigits);
    // In a folder Korvalo has no record of, digits followed by a blank belong to the name.
    const QStringList own = {"2001 A Space Odyssey.mp3", "1234a.mp3"};
    const QStringList kept = {"2001 A Space Odyssey.mp3", "a.mp3"};
    const QStringList strippedAll = {" A Space Odyssey.mp3", "a.mp3"};
    QTest::newRow("Korvalo's prefixes only: nothing asked")
        << songs(3) << true << removal << true << kNone << kNone << kNone << Action::Removal
        << songs(3);
    QTest::newRow("own digits, asked: keep them")
        << own << false << removal << true << kNone << int(DigitAnswer::KeepOthers) << digits
        << Action::Removal << kept;
    QTest::newRow("own digits, asked: strip all")
        << own << false << removal << true << kNone << int(DigitAnswer::StripAll) << digits
        << Action::Removal << strippedAll;
    QTest::newRow("own digits, asked: cancel")
        << own << false << removal << true << kNone << int(DigitAnswer::Cancel) << digits
        << Action::Nothing << own;
    QTest::newRow("own digits, unattended: kept")
        << own << false << removal << false << kNone << int(DigitAnswer::StripAll) << digits
        << Action::Removal << kept;
    QTest::newRow("own digits, given: strip all")
        << own << false << removal << true << int(DigitAnswer::StripAll) << int(DigitAnswer::Cancel)
        << digits << Action::Removal << strippedAll;
}

// Every question comes before the first rename; the plan's renames are the run's.
void TestFolderSession::questionsBeforeRenames()
{
    QFETCH(QStringList, names);
    QFETCH(bool, shuffledFirst);
    QFETCH(PassKind, pass);
    QFETCH(bool, attended);
    QFETCH(int, given);
    QFETCH(int, answer);
    QFETCH(int, question);
    QFETCH(Action, action);
    QFETCH(QStringList, after);
    TestDir dir;
    touchAll(dir, names);
    if (shuffledFirst)
        QCOMPARE(sessionPass(dir.path(), PassKind::Shuffle).outcome, Outcome::Done);
    const Names before = dir.names();
    const auto contents = dir.contents();

    FolderSession session(Front::Terminal);
    session.open(dir.path());
    ScriptedAsker asker;
    asker.isAttended = attended;
    if (given != kNone)
        asker.givenAnswers[QKind(question)] = given;
    if (answer != kNone)
        asker.answers[QKind(question)] = answer;
    const Plan plan = session.planPass(pass, asker);
    QCOMPARE(dir.names(), before);
    QCOMPARE(plan.action, action);
    QCOMPARE(asker.met.size(), std::size_t(question == kNone ? 0 : 1));
    if (question != kNone)
        QCOMPARE(int(asker.met.front().kind), question);
    QCOMPARE(asker.asked.size(), std::size_t(question != kNone && attended && given == kNone));
    checkQuestions(asker.met, asker.unscripted);

    if (!plan.runnable()) {
        QCOMPARE(plan.report.outcome, Outcome::Cancelled);
        QVERIFY(!plan.report.problems.empty());
        if (!attended) {
            // Unasked, the report says how to answer otherwise: not the text of a refusal.
            ScriptedAsker no;
            no.answers[QKind(question)] = kNo;
            QVERIFY(session.planPass(pass, no).report.problems != plan.report.problems);
        }
        QCOMPARE(session.run(plan).outcome, Outcome::Cancelled);
        QCOMPARE(dir.names(), before);
        return;
    }

    // The from-names are exact; a shuffle's prefixes are examples, drawn again as it runs.
    const std::string dryRun = session.describe(plan);
    Names expected = before;
    for (const PlannedRename &r : plan.renames) {
        const auto it = std::find(expected.begin(), expected.end(), r.from);
        QVERIFY2(it != expected.end(), r.from.c_str());
        *it = r.to;
        QVERIFY(dryRun.find(r.from) != std::string::npos && dryRun.find(r.to) != std::string::npos);
        if (pass == PassKind::Shuffle)
            QVERIFY2(hasPrefixBefore(r.to, r.from), r.to.c_str());
    }
    std::sort(expected.begin(), expected.end());
    QCOMPARE(session.run(plan).outcome, Outcome::Done);
    if (pass == PassKind::Shuffle) {
        QCOMPARE(plan.renames.size(), before.size());
        QCOMPARE(prefixedBefore(dir.names(), before), int(before.size()));
    } else {
        QCOMPARE(dir.names(), expected);
        QCOMPARE(dir.names(), toNames(after));
    }
    QCOMPARE(dir.contents(), contents);
}

void TestFolderSession::blockedPass_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<PassKind>("pass");
    QTest::addColumn<bool>("attended");
    QTest::addColumn<int>("answer");
    QTest::addColumn<Action>("action");

    const auto undo = int(RecoveryChoice::Undo);
    const auto finish = int(RecoveryChoice::Finish);
    for (const PassKind pass : {PassKind::Shuffle, PassKind::Removal}) {
        const char *name = pass == PassKind::Shuffle ? "shuffle" : "removal";
        QTest::addRow("%s, unfinished pass: later", name)
            << "stopped" << pass << true << kLater << Action::Nothing;
        QTest::addRow("%s, unfinished pass: unattended", name)
            << "stopped" << pass << false << undo << Action::Nothing;
        QTest::addRow("%s, damaged record: later", name)
            << "damaged" << pass << true << kLater << Action::Nothing;
    }
    QTest::newRow("unfinished pass: undo")
        << "stopped" << PassKind::Shuffle << true << undo << Action::Recovery;
    QTest::newRow("unfinished pass: finish")
        << "stopped" << PassKind::Removal << true << finish << Action::Recovery;
    QTest::newRow("damaged record: leave it")
        << "damaged" << PassKind::Shuffle << true << kLeaveRecord << Action::LeaveRecord;
}

// What stands in the way of a pass is asked about first, and the pass waits for the next request.
void TestFolderSession::blockedPass()
{
    QFETCH(QString, setup);
    QFETCH(PassKind, pass);
    QFETCH(bool, attended);
    QFETCH(int, answer);
    QFETCH(Action, action);
    TestDir dir;
    fs::path folder;
    prepare(dir, setup, folder);
    if (QTest::currentTestFailed())
        return;
    const Names before = dir.names();
    const auto contents = dir.contents();

    FolderSession session(Front::Window);
    session.open(folder);
    ScriptedAsker asker;
    asker.isAttended = attended;
    asker.queue = {answer};
    const Plan plan = session.planPass(pass, asker);
    QCOMPARE(dir.names(), before);
    QCOMPARE(asker.met.size(), std::size_t(1));
    QCOMPARE(asker.met.front().kind, setup == "stopped" ? QKind::Recovery : QKind::DamagedRecord);
    QCOMPARE(asker.asked.size(), std::size_t(attended));
    checkQuestions(asker.met, asker.unscripted);
    QCOMPARE(plan.action, action);

    const Report report = session.run(plan);
    if (!plan.runnable()) {
        QCOMPARE(report.outcome, Outcome::Refused);
        QVERIFY(!report.problems.empty());
        QCOMPARE(dir.names(), before);
        return;
    }
    QCOMPARE(report.outcome, Outcome::Done);
    QCOMPARE(dir.contents(), contents);
    const Names originals = toNames(songs(6) << "cover.jpg");
    if (answer == int(RecoveryChoice::Undo))
        QCOMPARE(dir.names(), originals);
    else if (answer == int(RecoveryChoice::Finish))
        QCOMPARE(prefixedBefore(dir.names(), originals), 6);
    else
        QCOMPARE(dir.names(), before);
    // Settled: the folder opens with nothing in the way.
    const Kind now = session.open(folder).kind;
    QVERIFY(now == Kind::Plain || now == Kind::Prefixed);
}

void TestFolderSession::running_data()
{
    QTest::addColumn<PassKind>("pass");
    QTest::addColumn<int>("stopAfter");  // 0: runs to the end
    QTest::addColumn<bool>("byRequest"); // stopped with requestStop(), else the stop check
    QTest::addColumn<int>("recovery");   // the choice for the stopped pass
    QTest::addColumn<PassKind>("next");  // after a completed pass

    QTest::newRow("shuffle to the end")
        << PassKind::Shuffle << 0 << false << 0 << PassKind::Removal;
    QTest::newRow("removal to the end")
        << PassKind::Removal << 0 << false << 0 << PassKind::Shuffle;
    QTest::newRow("shuffle stopped by the check, undone")
        << PassKind::Shuffle << 2 << false << int(RecoveryChoice::Undo) << PassKind::Shuffle;
    QTest::newRow("shuffle stopped on request, undone")
        << PassKind::Shuffle << 5 << true << int(RecoveryChoice::Undo) << PassKind::Shuffle;
    QTest::newRow("removal stopped, finished")
        << PassKind::Removal << 3 << false << int(RecoveryChoice::Finish) << PassKind::Shuffle;
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
    const Names before = dir.names();

    FolderSession session(Front::Window);
    session.open(dir.path());
    ScriptedAsker asker;
    const Plan plan = session.planPass(pass, asker);
    int handled = 0;
    session.setStopCheck([&] {
        if (++handled < stopAfter || stopAfter == 0)
            return false;
        if (byRequest)
            session.requestStop();
        return !byRequest;
    });
    session.start(plan);
    Report report = session.wait();
    QVERIFY(!session.running());
    const Progress progress = session.progress();
    QCOMPARE(progress.count, 8);
    QCOMPARE(dir.contents(), contents);

    if (stopAfter == 0) {
        QCOMPARE(report.outcome, Outcome::Done);
        QCOMPARE(progress.done, 8);
        QCOMPARE(report.renamed, 8);
        QCOMPARE(report.next, std::optional<PassKind>(next));
        if (pass == PassKind::Shuffle)
            QCOMPARE(prefixedBefore(dir.names(), originals), 8);
        else
            QCOMPARE(dir.names(), originals); // the round trip gives back every name
        return;
    }
    // Exactly the files handled have their new names.
    QCOMPARE(report.outcome, Outcome::Stopped);
    QCOMPARE(report.renamed, stopAfter);
    QCOMPARE(progress.done, stopAfter);
    QCOMPARE(report.next, std::optional<PassKind>());
    const Names now = dir.names();
    const int prefixed = prefixedBefore(now, originals);
    QCOMPARE(pass == PassKind::Shuffle ? prefixed : 8 - prefixed, stopAfter);
    Names untouched;
    std::set_intersection(now.begin(), now.end(), before.begin(), before.end(),
                          std::back_inserter(untouched));
    QCOMPARE(int(untouched.size()), 9 - stopAfter);

    // The stopped pass is offered back, and the recovery chosen puts every name in order.
    QCOMPARE(session.open(dir.path()).kind, Kind::Pending);
    session.setStopCheck({});
    report = session.run(session.planRecovery(RecoveryChoice(recovery)));
    QCOMPARE(report.outcome, Outcome::Done);
    QCOMPARE(report.next, std::optional<PassKind>(next));
    QCOMPARE(dir.names(), originals);
    QCOMPARE(dir.contents(), contents);
}

QTEST_GUILESS_MAIN(TestFolderSession)
#include "tst_foldersession.moc"
