// Prefixes a shuffle finds on the names that no record here knows (another computer, another
// state folder, another tool): where they are most of the list the shuffle asks before it puts a
// second prefix in front, and "换新序号" gives every file a new order in one rename, recorded so
// that a later removal strips the new digits without asking.

#include "session/foldersession.h"
#include "session/windowview.h"
#include "support/passrun.h"
#include "support/planrun.h"
#include "support/scriptedasker.h"
#include "support/testdir.h"

#include <QTest>

#include <algorithm>

using namespace korvalo;
using namespace korvalo::session;
using QKind = Question::Kind;
using Action = Plan::Action;
using Outcome = Report::Outcome;
using Names = std::vector<std::string>;

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(ScriptedAsker::Press)

namespace {

using Press = ScriptedAsker::Press;
// No question may be asked: an answer no question here offers.
const Press kNotAsked = Answer(OpenFolder{999});
const Press kEnter = ScriptedAsker::Key::Enter;
const Press kAgain = Answer(PrefixedAnswer::AddAnother), kCancel = Answer(PrefixedAnswer::Cancel);

Names sortedNames(const QStringList &list)
{
    Names out;
    for (const QString &name : list)
        out.push_back(name.toStdString());
    std::sort(out.begin(), out.end());
    return out;
}

// How many of `now` are one of `originals` with exactly one order prefix in front.
int onePrefixOn(const Names &now, const Names &originals)
{
    return int(std::count_if(now.begin(), now.end(), [&](const std::string &name) {
        return std::any_of(originals.begin(), originals.end(), [&](const std::string &o) {
            return name.size() == o.size() + 4 && hasPrefixBefore(name, o);
        });
    }));
}

} // namespace

class TestReplace : public QObject
{
    Q_OBJECT

private slots:
    void foreignPrefixes_data();
    void foreignPrefixes();
};

// Which folders ask, and what each answer does. The names carry prefixes no record here knows;
// `stems` are the names under them, so every answer can be checked against what it must leave.
void TestReplace::foreignPrefixes_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("stems"); // each name without the digits a replace takes off
    QTest::addColumn<Press>("answer");      // kNotAsked: no question may be asked
    QTest::addColumn<bool>("attended");
    QTest::addColumn<Action>("action");

    const QStringList elsewhere{"3654许巍 - 蓝莲花.mp3", "7120Song B.mp3", "4067song c.flac",
                                "9001D.mp3"};
    const QStringList stems{"许巍 - 蓝莲花.mp3", "Song B.mp3", "song c.flac", "D.mp3"};
    QTest::newRow("shuffled elsewhere: Enter replaces")
        << elsewhere << stems << kEnter << true << Action::Replace;
    QTest::newRow("shuffled elsewhere: another prefix")
        << elsewhere << stems << kAgain << true << Action::Shuffle;
    QTest::newRow("shuffled elsewhere: cancel")
        << elsewhere << stems << kCancel << true << Action::Nothing;
    QTest::newRow("shuffled elsewhere, nobody asked: nothing renamed")
        << elsewhere << stems << kCancel << false << Action::Nothing;
    // Three of five, one with a name of its own after the digits: the rest get a prefix.
    QTest::newRow("mostly elsewhere, some plain")
        << QStringList{"3654a.mp3", "7120b.mp3", "5555c.mp3", "d.mp3", "2019 Live.mp3"}
        << QStringList{"a.mp3", "b.mp3", "c.mp3", "d.mp3", "2019 Live.mp3"} << kEnter << true
        << Action::Replace;
    // Names that begin with years or digits of their own: a plain shuffle, nothing asked.
    QTest::newRow("years and a blank")
        << QStringList{"2019 live.mp3", "2020 live.mp3", "1999 - Prince.mp3"} << QStringList()
        << kNotAsked << true << Action::Shuffle;
    QTest::newRow("years without a blank")
        << QStringList{"2019年春晚.mp3", "2020年春晚.mp3", "1998Live.mp3", "3250x.mp3"}
        << QStringList() << kNotAsked << true << Action::Shuffle;
    QTest::newRow("a few among many plain")
        << QStringList{"3654a.mp3", "7120b.mp3", "c.mp3", "d.mp3", "e.mp3"} << QStringList()
        << kNotAsked << true << Action::Shuffle;
    QTest::newRow("leading zero is never a prefix")
        << QStringList{"0123a.mp3", "0456b.mp3"} << QStringList() << kNotAsked << true
        << Action::Shuffle;
}

void TestReplace::foreignPrefixes()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, stems);
    QFETCH(Press, answer);
    QFETCH(bool, attended);
    QFETCH(Action, action);
    TestDir dir;
    touchAll(dir, names);
    const auto contents = dir.contents();
    const Names before = dir.names();

    FolderSession session(Front::Terminal);
    session.open(dir.path());
    ScriptedAsker asker;
    asker.isAttended = attended;
    if (answer != kNotAsked)
        asker.answers[QKind::ForeignPrefixes] = answer;
    const Plan plan = session.planPass(PassKind::Shuffle, asker);
    QCOMPARE(plan.action, action);
    QCOMPARE(asker.unscripted, 0);
    if (answer == kNotAsked) {
        QVERIFY(asker.met.empty());
    } else {
        QCOMPARE(asker.met.size(), std::size_t(1));
        const Question &q = asker.met.front();
        QCOMPARE(q.kind, QKind::ForeignPrefixes);
        QCOMPARE(q.defaultAnswer, Answer(PrefixedAnswer::NewDigits));
        QCOMPARE(q.unattendedAnswer, Answer(PrefixedAnswer::Cancel));
        QVERIFY2(q.text.find("另一台电脑") != std::string::npos, q.text.c_str());
        QCOMPARE(asker.asked.size(), std::size_t(attended));
    }
    const Report report = runPlan(session, plan);
    QCOMPARE(dir.contents(), contents);
    switch (action) {
    case Action::Nothing:
        QCOMPARE(report.outcome, Outcome::Cancelled);
        QCOMPARE(dir.names(), before);
        // Unasked, the report names the options that answer otherwise.
        if (!attended)
            QVERIFY(report.problems.front().find("--replace") != std::string::npos &&
                    report.problems.front().find("--again") != std::string::npos);
        return;
    case Action::Shuffle:
        QCOMPARE(report.outcome, Outcome::Done);
        QCOMPARE(onePrefixOn(dir.names(), before), int(before.size()));
        return;
    default:
        break;
    }
    // New digits in place of the old, one prefix on every other name; and the record now knows
    // each as Korvalo's: a removal with the safe answers takes every one off without asking.
    QCOMPARE(report.outcome, Outcome::Done);
    QCOMPARE(report.kind, PassKind::Replace);
    QCOMPARE(modeAfter(report, true, session.state()), std::optional<Mode>(Mode::AlreadyUsed));
    QCOMPARE(onePrefixOn(dir.names(), sortedNames(stems)), int(stems.size()));
    QVERIFY(dir.names() != before);
    ScriptedAsker nobody;
    nobody.isAttended = false;
    session.open(dir.path());
    QCOMPARE(runPlan(session, session.planPass(PassKind::Removal, nobody)).outcome, Outcome::Done);
    QVERIFY(nobody.met.empty());
    QCOMPARE(dir.names(), sortedNames(stems));
}

QTEST_GUILESS_MAIN(TestReplace)
#include "tst_replace.moc"
