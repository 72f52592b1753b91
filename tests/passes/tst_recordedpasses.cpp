// The passes as they run with the journal: the questions they ask before a name is at risk, and
// what each answer does; a folder with an unfinished pass; a volume held by another process; a
// journal that cannot be written; what a stopped or failed pass leaves in the record; and files
// moved back from the folder they passed through to be stored in order; the files stored in order
// after a recovery, and a stop while they are.

#include "browse/musicfilelist.h"
#include "journal/passlock.h"
#include "passes/folderrecovery.h"
#include "passes/ordering.h"
#include "passes/passes.h"
#include "passes/standincalls.h"
#include "support/childprocess.h"
#include "support/songnames.h"
#include "support/testdir.h"

#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassQuestions;
using korvalo::PassResult;
using korvalo::RecoveryCheck;
using Answer = PassQuestions::DigitAnswer;

Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(PassResult::Status)
Q_DECLARE_METATYPE(korvalo::StoredOrder)
Q_DECLARE_METATYPE(korvalo::RecoveryChoice)

namespace {

class SteadyRandom : public korvalo::RandomSource
{
public:
    void reseed() override {}
    float next() override { return 0.25f; } // prefix 3250
};

// Answers as told and remembers what it was asked.
class ScriptedAnswers : public PassQuestions
{
public:
    Answer digits = Answer::KeepOthers;
    bool again = false;
    QStringList asked;
    int qualifying = -1;
    int questions = 0;

    Answer stripOtherDigits(const std::vector<korvalo::FileName> &others, int count) override
    {
        record(others);
        qualifying = count;
        return digits;
    }
    bool shuffleAgain(const std::vector<korvalo::FileName> &prefixed, int) override
    {
        record(prefixed);
        return again;
    }

private:
    void record(const std::vector<korvalo::FileName> &names)
    {
        ++questions;
        asked.clear();
        for (const auto &n : names)
            asked << QString::fromStdString(n);
        asked.sort();
    }
};

class CountingProgress : public korvalo::ProgressSink
{
public:
    explicit CountingProgress(int stopAt = -1) : stopAt(stopAt) {}
    int starts = 0;
    int steps = 0;
    int stopAt;
    void start(int) override { ++starts; }
    bool step(int index, int) override
    {
        ++steps;
        return index != stopAt;
    }
};

// Notes the names that appear in a folder after each step, in the order they came.
class ArrivalOrder : public korvalo::ProgressSink
{
public:
    explicit ArrivalOrder(const TestDir &dir) : m_dir(dir)
    {
        const auto names = dir.names();
        m_seen.insert(names.begin(), names.end());
    }
    QStringList arrived;
    void start(int) override {}
    bool step(int, int) override
    {
        for (const std::string &name : m_dir.names()) {
            if (m_seen.insert(name).second)
                arrived << QString::fromStdString(name);
        }
        return true;
    }

private:
    const TestDir &m_dir;
    std::set<std::string> m_seen;
};

// Watches a folder while its files are stored in order: at every ordering() call, the files that
// left the folder since the last call and those that came back, in that order. From the call
// whose `done` is stopAt on it says stop, as a user who keeps asking would; the calls after that
// are noted.
class OrderingWatch : public korvalo::ProgressSink
{
public:
    OrderingWatch(const TestDir &dir, int stopAt) : m_dir(dir), m_stopAt(stopAt) {}
    QStringList left;
    QStringList back;
    int calls = 0;
    QList<QPair<int, int>> afterStop; // (done, total) of the calls after the first stop

    void start(int) override {}
    bool step(int, int) override { return true; }
    bool ordering(int done, int total) override
    {
        ++calls;
        const std::set<std::string> now = files();
        if (calls > 1) {
            for (const std::string &name : m_last)
                if (!now.count(name))
                    left << QString::fromStdString(name);
            for (const std::string &name : now)
                if (!m_last.count(name))
                    back << QString::fromStdString(name);
        }
        m_last = now;
        if (m_stopped)
            afterStop << qMakePair(done, total);
        m_stopped = m_stopped || done == m_stopAt;
        return !m_stopped;
    }

private:
    std::set<std::string> files() const
    {
        std::set<std::string> out;
        for (const std::string &name : m_dir.names())
            if (!korvalo::isOrderingFolder(m_dir / name))
                out.insert(name);
        return out;
    }

    const TestDir &m_dir;
    int m_stopAt;
    bool m_stopped = false;
    std::set<std::string> m_last;
};

// The names of `order` that are in `some`, in the order of `order`.
QStringList inOrder(const QStringList &order, const QStringList &some)
{
    QStringList out;
    for (const QString &name : order)
        if (some.contains(name))
            out << name;
    return out;
}

// The ordering folders in a folder.
int orderingFolders(const TestDir &dir)
{
    int n = 0;
    for (const std::string &name : dir.names())
        n += korvalo::isOrderingFolder(dir / name);
    return n;
}

// Where most tests here start: a music folder holding `songs`, and a journal of its own.
struct RecordedFolder
{
    explicit RecordedFolder(const QStringList &songs = {}) { touchAll(dir, songs); }
    TestDir state;
    korvalo::Journal journal{state.path()};
    TestDir dir;
};

// What opening the folder finds, as an int for QCOMPARE.
int checkIn(const TestDir &dir, korvalo::Journal &journal, korvalo::PendingRecovery &pending)
{
    return int(korvalo::checkForRecovery(dir.path(), journal, pending));
}

korvalo::FolderRecord recordOf(const TestDir &dir, const korvalo::Journal &journal)
{
    korvalo::FolderRecord record;
    if (!journal.load(*korvalo::journalKeyOf(dir.path()), record).ok())
        qWarning("the record could not be read");
    return record;
}

// One pass over the folder as it is now, recorded in `journal`.
PassResult run(bool shuffle, const TestDir &dir, korvalo::Journal *journal,
               PassQuestions *questions = nullptr, korvalo::ProgressSink *sink = nullptr,
               korvalo::StoredOrderRule order = korvalo::StoredOrderRule::FatAndExfat)
{
    korvalo::MusicFileList list;
    if (!list.setFolder(dir.path()).ok())
        return {};
    korvalo::FixedFolder folder(dir.path());
    korvalo::NullProgress none;
    SteadyRandom random;
    korvalo::PassContext ctx{list, folder, sink ? *sink : none};
    ctx.journal = journal;
    ctx.questions = questions;
    ctx.storedOrder = order;
    return shuffle ? korvalo::runShufflePass(ctx, random) : korvalo::runRemovalPass(ctx);
}

} // namespace

class TestRecordedPasses : public QObject
{
    Q_OBJECT

private slots:
    void questions_data();
    void questions();
    void planIsWhatThePassRenames_data();
    void planIsWhatThePassRenames();
    void unfinishedPassAndBusyVolume();
    void recoveryFollowsChangesAfterTheQuestion_data();
    void recoveryFollowsChangesAfterTheQuestion();
    void completedPassFoldedWhenOpened();
    void unwritableJournalStopsBeforeFirstRename_data();
    void unwritableJournalStopsBeforeFirstRename();
    void stoppedPassRecordsWhatItTried_data();
    void stoppedPassRecordsWhatItTried();
    void refusedRemovalKeepsKorvalosPrefix();
    void orderedFilesReturnInRecordedOrder_data();
    void orderedFilesReturnInRecordedOrder();
    void storingInOrderStopped_data();
    void storingInOrderStopped();
    void recoveryStoresInListOrder_data();
    void recoveryStoresInListOrder();
    void orderingFolderNotMadeLeavesNothing();
};

// A folder gets a recorded shuffle of `shuffled` (none: never shuffled), then `added` copied in;
// the pass under test runs `times` times. `asked`: the names the last run asked about (empty: no
// question was asked).
void TestRecordedPasses::questions_data()
{
    QTest::addColumn<QStringList>("shuffled");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("times");
    QTest::addColumn<Answer>("digits");
    QTest::addColumn<bool>("again");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<PassResult::Status>("status");
    QTest::addColumn<QStringList>("after");

    const QStringList own{"0001_Intro.flac", "1999 - Prince.mp3", "2019 Live.mp3", "Song.mp3"};
    const QStringList ownAsked{"0001_Intro.flac", "1999 - Prince.mp3", "2019 Live.mp3"};
    const auto done = PassResult::Status::Completed;
    const auto cancelled = PassResult::Status::Cancelled;
    const auto keep = Answer::KeepOthers;
    QTest::newRow("never shuffled, digits of their own, keep")
        << QStringList() << own << false << 1 << keep << false << ownAsked << done << own;
    QTest::newRow("never shuffled, digits of their own, strip all")
        << QStringList() << own << false << 1 << Answer::StripAll << false << ownAsked << done
        << QStringList{" - Prince.mp3", " Live.mp3", "Song.mp3", "_Intro.flac"};
    QTest::newRow("never shuffled, digits of their own, cancel")
        << QStringList() << own << false << 1 << Answer::Cancel << false << ownAsked << cancelled
        << own;
    QTest::newRow("never shuffled, order prefixes only: no question")
        << QStringList() << QStringList{"7342Song.mp3", "Intro.flac"} << false << 1 << keep << false
        << QStringList() << done << QStringList{"Intro.flac", "Song.mp3"};
    QTest::newRow("names that would become hidden: no question")
        << QStringList() << QStringList{"1234.mp3", "0001.flac", "a.mp3"} << false << 1 << keep
        << false << QStringList() << done << QStringList{"0001.flac", "1234.mp3", "a.mp3"};
    QTest::newRow("songs copied onto a shuffled folder, keep")
        << QStringList{"a.mp3", "5678b.mp3"} << QStringList{"2019 Live.mp3", "7777x.mp3"} << false
        << 1 << keep << false << QStringList{"2019 Live.mp3", "7777x.mp3"} << done
        << QStringList{"2019 Live.mp3", "5678b.mp3", "7777x.mp3", "a.mp3"};
    QTest::newRow("songs copied onto a shuffled folder, strip all")
        << QStringList{"a.mp3"} << QStringList{"2019 Live.mp3", "7777x.mp3"} << false << 1
        << Answer::StripAll << false << QStringList{"2019 Live.mp3", "7777x.mp3"} << done
        << QStringList{" Live.mp3", "a.mp3", "x.mp3"};
    QTest::newRow("removal twice after a shuffle")
        << QStringList{"a.mp3", "2019 Live.mp3", "5678Song.mp3"} << QStringList() << false << 2
        << keep << false << QStringList{"2019 Live.mp3", "5678Song.mp3"} << done
        << QStringList{"2019 Live.mp3", "5678Song.mp3", "a.mp3"};
    QTest::newRow("shuffle of a never-shuffled folder: no question")
        << QStringList() << QStringList{"7342Song.mp3"} << true << 1 << keep << false
        << QStringList() << done << QStringList{"32507342Song.mp3"};
    QTest::newRow("shuffle over Korvalo's prefixes, cancel")
        << QStringList{"a.mp3"} << QStringList{"b.mp3"} << true << 1 << keep << false
        << QStringList{"3250a.mp3"} << cancelled << QStringList{"3250a.mp3", "b.mp3"};
    QTest::newRow("shuffle over Korvalo's prefixes, go on")
        << QStringList{"a.mp3"} << QStringList{"b.mp3"} << true << 1 << keep << true
        << QStringList{"3250a.mp3"} << done << QStringList{"32503250a.mp3", "3250b.mp3"};
}

void TestRecordedPasses::questions()
{
    QFETCH(QStringList, shuffled);
    QFETCH(QStringList, added);
    QFETCH(bool, shuffle);
    QFETCH(int, times);
    QFETCH(Answer, digits);
    QFETCH(bool, again);
    QFETCH(QStringList, asked);
    QFETCH(PassResult::Status, status);
    QFETCH(QStringList, after);

    RecordedFolder setup(shuffled);
    auto &[state, journal, dir] = setup;
    if (!shuffled.isEmpty())
        QCOMPARE(int(run(true, dir, &journal).status), int(PassResult::Status::Completed));
    for (const QString &name : added)
        dir.touch(name.toStdString());
    const auto contents = dir.contents();
    const int count = int(dir.names().size());

    ScriptedAnswers answers;
    answers.digits = digits;
    answers.again = again;
    PassResult result;
    CountingProgress progress;
    for (int k = 0; k < times; ++k) {
        answers.questions = 0;
        answers.asked.clear();
        progress = CountingProgress();
        result = run(shuffle, dir, &journal, &answers, &progress);
    }
    QCOMPARE(answers.asked, asked);
    QCOMPARE(answers.questions, asked.isEmpty() ? 0 : 1);
    QCOMPARE(int(result.status), int(status));
    QCOMPARE(namesOf(dir), after);
    QCOMPARE(dir.contents(), contents);
    if (status == PassResult::Status::Cancelled) {
        QCOMPARE(result.renamed, 0);
        QCOMPARE(progress.starts, 0);
    } else {
        // The progress display runs as it always did: once started, a step for every name.
        QCOMPARE(progress.starts, 1);
        QCOMPARE(progress.steps, count);
        QCOMPARE(result.keptDigits,
                 !shuffle && digits == Answer::KeepOthers ? int(asked.size()) : 0);
    }
}

void TestRecordedPasses::planIsWhatThePassRenames_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<Answer>("digits");
    QTest::newRow("removal, keep") << false << Answer::KeepOthers;
    QTest::newRow("removal, strip all") << false << Answer::StripAll;
    QTest::newRow("shuffle again") << true << Answer::KeepOthers;
}

// A plan made beforehand, from the list and the record, asks what the pass asks and holds the
// renames the pass then makes.
void TestRecordedPasses::planIsWhatThePassRenames()
{
    QFETCH(bool, shuffle);
    QFETCH(Answer, digits);
    RecordedFolder setup({"a.mp3", "1999 - Prince.mp3", "1234.mp3"});
    auto &[state, journal, dir] = setup;
    QCOMPARE(int(run(true, dir, &journal).status), int(PassResult::Status::Completed));
    touchAll(dir, {"2019 Live.mp3", "7777x.mp3", "b.mp3"});

    korvalo::MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    std::vector<korvalo::FileName> listed;
    for (int i = 0; i < list.count(); ++i)
        listed.push_back(list.name(i).native());
    const korvalo::FolderRecord record = recordOf(dir, journal);
    SteadyRandom random;
    int kept = -1;
    std::vector<korvalo::FileName> asked;
    std::vector<korvalo::PlannedRename> plan;
    if (shuffle) {
        asked = korvalo::korvaloPrefixedNames(listed, record);
        plan = korvalo::planShuffle(listed, random);
    } else {
        asked = korvalo::strippableNames(listed, record).others;
        plan = korvalo::planRemoval(listed, record, digits == Answer::StripAll, &kept);
    }
    std::set<std::string> expected(listed.begin(), listed.end());
    for (const korvalo::PlannedRename &rename : plan) {
        QVERIFY(expected.erase(rename.from));
        QVERIFY(expected.insert(rename.to).second);
    }
    QVERIFY(!asked.empty() && !plan.empty());

    ScriptedAnswers answers;
    answers.digits = digits;
    answers.again = true;
    const PassResult result = run(shuffle, dir, &journal, &answers);
    QCOMPARE(int(result.status), int(PassResult::Status::Completed));
    QStringList askedNames;
    for (const auto &name : asked)
        askedNames << QString::fromStdString(name);
    askedNames.sort(); // as ScriptedAnswers keeps them
    QCOMPARE(answers.asked, askedNames);
    QCOMPARE(result.renamed, int(plan.size()));
    if (!shuffle)
        QCOMPARE(result.keptDigits, kept);
    const std::vector<std::string> after = dir.names();
    QCOMPARE(std::set<std::string>(after.begin(), after.end()), expected);
}

// A pass stopped half-way leaves the folder to be recovered: passes are refused until it is.
// While another process holds the volume, neither the check nor the recovery touches anything.
// A completed pass stays in the record name by name until the folder is next opened, which folds
// it in once: what the journal knows is the same before and after.
// Between the question and the answer the folder or its record may change: the recovery works
// from what is there when it runs, and from the plan already made only when nothing changed.
void TestRecordedPasses::recoveryFollowsChangesAfterTheQuestion_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("conflicts");
    const QString nothing;
    QTest::newRow("nothing") << nothing
                             << QStringList{"32502019 Live.mp3", "3250a.mp3", "3250b.mp3",
                                            "3250c.mp3"}
                             << 0;
    QTest::newRow("a file left to rename renamed by hand")
        << "b.mp3>x.mp3" << QStringList{"32502019 Live.mp3", "3250a.mp3", "3250c.mp3", "x.mp3"}
        << 1;
    QTest::newRow("a file put under a name the recovery gives")
        << "+3250c.mp3"
        << QStringList{"32502019 Live.mp3", "3250a.mp3", "3250b.mp3", "3250c.mp3", "c.mp3"} << 1;
    QTest::newRow("recovered meanwhile by another Korvalo")
        << "undo" << QStringList{"2019 Live.mp3", "a.mp3", "b.mp3", "c.mp3"} << 0;
}

void TestRecordedPasses::recoveryFollowsChangesAfterTheQuestion()
{
    QFETCH(QString, change);
    QFETCH(QStringList, after);
    QFETCH(int, conflicts);
    RecordedFolder setup({"2019 Live.mp3", "a.mp3", "b.mp3", "c.mp3"});
    auto &[state, journal, dir] = setup;
    CountingProgress stopAfterTwo(1);
    QCOMPARE(int(run(true, dir, &journal, nullptr, &stopAfterTwo).status),
             int(PassResult::Status::Stopped));
    korvalo::PendingRecovery pending;
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Pending));

    korvalo::NullProgress progress;
    if (change == "undo") {
        korvalo::Journal other(state.path());
        korvalo::PendingRecovery theirs;
        QCOMPARE(checkIn(dir, other, theirs), int(RecoveryCheck::Pending));
        QCOMPARE(int(korvalo::recoverFolder(dir.path(), other, theirs,
                                            korvalo::RecoveryChoice::Undo, progress)
                         .status),
                 int(korvalo::RecoveryResult::Status::Done));
    } else if (change.startsWith('+')) {
        dir.touch(change.mid(1).toStdString());
    } else if (!change.isEmpty()) {
        const QStringList names = change.split('>');
        fs::rename(dir.path() / names[0].toStdString(), dir.path() / names[1].toStdString());
    }
    const korvalo::RecoveryResult result = korvalo::recoverFolder(
        dir.path(), journal, pending, korvalo::RecoveryChoice::Finish, progress);
    QCOMPARE(int(result.status), int(korvalo::RecoveryResult::Status::Done));
    QCOMPARE(int(result.conflicts.size()), conflicts);
    QVERIFY(result.refused.empty());
    QCOMPARE(namesOf(dir), after);
}

void TestRecordedPasses::completedPassFoldedWhenOpened()
{
    RecordedFolder setup({"a.mp3", "b.mp3"});
    auto &[state, journal, dir] = setup;
    QCOMPARE(int(run(true, dir, &journal).status), int(PassResult::Status::Completed));
    const auto record = [&] {
        const std::vector<std::string> files = state.names();
        return files.size() == 1 ? state.read(files[0]) : std::string();
    };
    QVERIFY(record().find("\npass shuffle ") != std::string::npos);
    const korvalo::JournalKey key = *korvalo::journalKeyOf(dir.path());
    korvalo::FolderRecord before;
    QVERIFY(journal.load(key, before).ok());
    QVERIFY(before.passToFold);

    korvalo::PendingRecovery pending;
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Nothing));
    QCOMPARE(record().find("\npass "), std::string::npos);
    korvalo::FolderRecord after;
    QVERIFY(journal.load(key, after).ok());
    QVERIFY(!after.passToFold);
    QCOMPARE(after.prefixed.size(), std::size_t(2));
    QVERIFY(after.prefixed == before.prefixed);
}

void TestRecordedPasses::unfinishedPassAndBusyVolume()
{
    const QStringList originals{"2019 Live.mp3", "a.mp3", "b.mp3", "c.mp3"};
    RecordedFolder setup(originals);
    auto &[state, journal, dir] = setup;
    CountingProgress stopAfterTwo(1);
    QCOMPARE(int(run(true, dir, &journal, nullptr, &stopAfterTwo).status),
             int(PassResult::Status::Stopped));
    const QStringList halfShuffled = namesOf(dir);
    QCOMPARE(halfShuffled, (QStringList{"32502019 Live.mp3", "3250a.mp3", "b.mp3", "c.mp3"}));

    for (const bool shuffle : {true, false}) {
        const PassResult refused = run(shuffle, dir, &journal);
        QCOMPARE(int(refused.status), int(PassResult::Status::Refused));
        QCOMPARE(int(refused.refusal), int(PassResult::Refusal::RecoveryPending));
    }

    // Another process takes the volume's lock and holds it until told.
    struct stat st;
    QCOMPARE(::stat(dir.path().c_str(), &st), 0);
    LockHolder holder([&] {
        return korvalo::PassLock::tryAcquire(korvalo::PassLock::lockFolder(), st.st_dev).lock;
    });
    QVERIFY(holder.held());

    korvalo::PendingRecovery pending;
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::VolumeBusy));
    korvalo::NullProgress progress;
    korvalo::PendingRecovery guessed;
    guessed.key = *korvalo::journalKeyOf(dir.path());
    QCOMPARE(int(korvalo::recoverFolder(dir.path(), journal, guessed, korvalo::RecoveryChoice::Undo,
                                        progress)
                     .status),
             int(korvalo::RecoveryResult::Status::VolumeBusy));
    QCOMPARE(namesOf(dir), halfShuffled);

    holder.release();

    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Pending));
    QCOMPARE(pending.plan.status.done, 2);
    QCOMPARE(pending.plan.status.fileCount, 4);
    QCOMPARE(int(korvalo::recoverFolder(dir.path(), journal, pending, korvalo::RecoveryChoice::Undo,
                                        progress)
                     .status),
             int(korvalo::RecoveryResult::Status::Done));
    QCOMPARE(namesOf(dir), originals);
    // The folder is known to be clean now: a removal asks about the digits of its own.
    ScriptedAnswers answers;
    QCOMPARE(int(run(false, dir, &journal, &answers).status), int(PassResult::Status::Completed));
    QCOMPARE(answers.asked, QStringList{"2019 Live.mp3"});
    QCOMPARE(namesOf(dir), originals);
}

void TestRecordedPasses::unwritableJournalStopsBeforeFirstRename_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::newRow("shuffle") << true;
    QTest::newRow("removal") << false;
}

void TestRecordedPasses::unwritableJournalStopsBeforeFirstRename()
{
    QFETCH(bool, shuffle);
    TestDir state;
    state.touch("file");
    korvalo::Journal journal(state / "file/korvalo"); // under a regular file
    TestDir dir;
    dir.touch("1234a.mp3");
    dir.touch("b.mp3");
    const QStringList before = namesOf(dir);
    CountingProgress progress;
    const PassResult result = run(shuffle, dir, &journal, nullptr, &progress);
    QCOMPARE(int(result.status), int(PassResult::Status::Refused));
    QCOMPARE(int(result.refusal), int(PassResult::Refusal::JournalUnwritable));
    QVERIFY(!result.journalError.ok());
    QCOMPARE(result.renamed, 0);
    QCOMPARE(progress.starts, 0);
    QCOMPARE(namesOf(dir), before);
}

void TestRecordedPasses::stoppedPassRecordsWhatItTried_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("stopAt");       // the list index after which the pass stops
    QTest::addColumn<int>("attempted");    // the renames it tried, as its end line must say
    QTest::addColumn<bool>("undo");        // then recovered: undone, else finished
    QTest::addColumn<QString>("inTheWay"); // a file copied in since the pass stopped ("": none)
    QTest::addColumn<QString>("reported"); // the conflict, named as the file is now
    const QStringList songs{"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    QTest::newRow("shuffle stopped after two") << songs << true << 1 << 2 << true << ""
                                               << "";
    // "2000 Live.mp3" keeps its digits: the list's second name is no rename of the pass.
    QTest::newRow("removal stopped after a name it leaves alone")
        << QStringList{"1111a.mp3", "2000 Live.mp3", "3333c.mp3"} << false << 1 << 1 << true << ""
        << "";
    // The pass renamed a.mp3 and b.mp3 and stopped before c.mp3.
    const QStringList abc{"a.mp3", "b.mp3", "c.mp3"};
    QTest::newRow("conflict as the file is now: undo, the old name taken")
        << abc << true << 1 << 2 << true << "a.mp3"
        << "3250a.mp3";
    QTest::newRow("conflict as the file is now: finish, the planned name taken")
        << abc << true << 1 << 2 << false << "3250c.mp3"
        << "c.mp3";
}

// The end line of a stopped pass counts the renames it tried, not the names it went past. A file
// the recovery then leaves alone because its name is taken is reported under the name it has.
void TestRecordedPasses::stoppedPassRecordsWhatItTried()
{
    QFETCH(QStringList, names);
    QFETCH(bool, shuffle);
    QFETCH(int, stopAt);
    QFETCH(int, attempted);
    QFETCH(bool, undo);
    QFETCH(QString, inTheWay);
    QFETCH(QString, reported);
    RecordedFolder setup(names);
    auto &[state, journal, dir] = setup;
    CountingProgress progress(stopAt);
    const PassResult result = run(shuffle, dir, &journal, nullptr, &progress);
    QCOMPARE(int(result.status), int(PassResult::Status::Stopped));
    QCOMPARE(result.renamed, attempted);

    const korvalo::FolderRecord record = recordOf(dir, journal);
    QVERIFY(record.pending);
    QVERIFY(record.pending->end == korvalo::PassEnd::Stopped);
    QCOMPARE(record.pending->attempted, attempted);
    if (inTheWay.isEmpty())
        return;

    dir.write(inTheWay.toStdString(), "copied in");
    korvalo::PendingRecovery pending;
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Pending));
    korvalo::NullProgress quiet;
    const korvalo::RecoveryResult recovered = korvalo::recoverFolder(
        dir.path(), journal, pending,
        undo ? korvalo::RecoveryChoice::Undo : korvalo::RecoveryChoice::Finish, quiet);
    QCOMPARE(int(recovered.status), int(korvalo::RecoveryResult::Status::Done));
    QCOMPARE(recovered.conflicts, std::vector<korvalo::FileName>{reported.toStdString()});
    QVERIFY(fs::exists(dir / reported.toStdString()));
    QCOMPARE(dir.read(inTheWay.toStdString()), std::string("copied in"));
}

// A removal of Korvalo's prefix is refused where the name without it is taken: the pass fails,
// nothing was renamed, and the journal still knows whose digits those are.
void TestRecordedPasses::refusedRemovalKeepsKorvalosPrefix()
{
    RecordedFolder setup({"x.mp3"});
    auto &[state, journal, dir] = setup;
    QCOMPARE(int(run(true, dir, &journal).status), int(PassResult::Status::Completed));
    dir.touch("x.mp3"); // copied onto the stick again
    const PassResult removal = run(false, dir, &journal);
    QCOMPARE(int(removal.status), int(PassResult::Status::Failed));
    QCOMPARE(int(removal.cause.error), int(korvalo::RenameError::TargetExists));

    // Nothing was renamed: settled by the pass itself, still under the volume's lock, so that
    // nothing is left to ask about, whether or not the stick's identity can be read.
    korvalo::PendingRecovery pending;
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Nothing));
    const korvalo::FolderRecord record = recordOf(dir, journal);
    QVERIFY(!record.pending);
    QCOMPARE(record.prefixed, (std::map<korvalo::FileName, int>{{"3250x.mp3", 1}}));
}

void TestRecordedPasses::orderedFilesReturnInRecordedOrder_data()
{
    QTest::addColumn<bool>("openInner"); // the folder they are in is opened, not the one above
    QTest::addColumn<QString>("taken");  // a name taken in the folder above meanwhile
    QTest::newRow("folder opened") << false << QString();
    QTest::newRow("the folder they are in opened") << true << QString();
    QTest::newRow("a name taken above") << false << "f.mp3";
}

// Files left in the folder they passed through by a killed ordering go back in the order the
// journal recorded (that finishes the arrangement), whatever order the folder lists them in. A
// file whose name is taken above stays there, and the folder is offered again.
void TestRecordedPasses::orderedFilesReturnInRecordedOrder()
{
    QFETCH(bool, openInner);
    QFETCH(QString, taken);
    RecordedFolder setup;
    auto &[state, journal, dir] = setup;
    const std::vector<std::string> written{"a.mp3", "b.mp3", "c.mp3", "d.mp3",
                                           "e.mp3", "f.mp3", "g.mp3", "h.mp3"};
    const std::vector<std::string> listOrder(written.rbegin(), written.rend());
    // The folder took its short name once every file was in it.
    const korvalo::FileName recordedName = korvalo::orderingFolderName();
    const korvalo::FileName orderName = korvalo::shortOrderingFolderName(recordedName);
    {
        std::vector<korvalo::PlannedRename> planned;
        for (const std::string &name : listOrder)
            planned.push_back({name, name});
        korvalo::PassStart start;
        start.kind = korvalo::PassKind::Order;
        start.fileCount = int(planned.size());
        start.planned = planned;
        start.orderFolder = recordedName;
        korvalo::Journal killed(state.path());
        QVERIFY(killed.beginPass(*korvalo::journalKeyOf(dir.path()), start).ok());
    } // killed while the files were out: no end line
    dir.mkdir(orderName);
    for (const std::string &name : written)
        dir.touch(orderName + "/" + name);
    if (!taken.isEmpty())
        dir.write(taken.toStdString(), "copied in");

    ArrivalOrder arrivals(dir);
    korvalo::RecoveryResult result;
    if (openInner) {
        result = korvalo::returnOrderedFiles(dir / orderName, journal, arrivals);
    } else {
        korvalo::PendingRecovery pending;
        QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Pending));
        result = korvalo::recoverFolder(dir.path(), journal, pending,
                                        korvalo::RecoveryChoice::Finish, arrivals);
    }
    QCOMPARE(int(result.status), int(korvalo::RecoveryResult::Status::Done));
    QStringList expected;
    for (const std::string &name : listOrder) {
        if (QString::fromStdString(name) != taken)
            expected << QString::fromStdString(name);
    }
    QCOMPARE(arrivals.arrived, expected);

    korvalo::PendingRecovery again;
    if (taken.isEmpty()) {
        QVERIFY(!fs::exists(dir / orderName));
        QCOMPARE(checkIn(dir, journal, again), int(RecoveryCheck::Nothing));
        return;
    }
    QCOMPARE(result.conflicts, std::vector<korvalo::FileName>{taken.toStdString()});
    const std::string left = orderName + "/" + taken.toStdString();
    QCOMPARE(dir.read(left), "content of " + left);
    QCOMPARE(checkIn(dir, journal, again), int(RecoveryCheck::Pending));
    QCOMPARE(int(again.plan.status.kind), int(korvalo::PassKind::Order));
    QCOMPARE(int(again.plan.finish.size()), 1);
}

void TestRecordedPasses::storingInOrderStopped_data()
{
    QTest::addColumn<int>("stopAt");   // the move after which stop is asked (0: before the first)
    QTest::addColumn<int>("failBack"); // the move back that fails (1-based; 0: none)
    QTest::addColumn<int>("out");      // the files that go out
    QTest::addColumn<korvalo::StoredOrder>("order");
    using korvalo::StoredOrder;
    // Six songs and cover.jpg, which goes out after them.
    QTest::newRow("never stopped") << -1 << 0 << 7 << StoredOrder::Arranged;
    QTest::newRow("stopped before the first file goes out") << 0 << 0 << 0 << StoredOrder::Stopped;
    QTest::newRow("stopped while the files go out") << 2 << 0 << 2 << StoredOrder::Stopped;
    QTest::newRow("stopped before the other entry goes out") << 6 << 0 << 6 << StoredOrder::Stopped;
    QTest::newRow("stopped once every file is out") << 7 << 0 << 7 << StoredOrder::Arranged;
    QTest::newRow("stopped while the files come back") << 9 << 0 << 7 << StoredOrder::Arranged;
    QTest::newRow("stopped, then a move back fails") << 3 << 2 << 3 << StoredOrder::Stopped;
}

// A stop while the files are stored in order sends no further file out; those out come back in
// the list's order without being asked again, the folder they passed through goes and the record
// is closed. A file that cannot come back stays there, and opening the folder brings it back.
void TestRecordedPasses::storingInOrderStopped()
{
    QFETCH(int, stopAt);
    QFETCH(int, failBack);
    QFETCH(int, out);
    QFETCH(korvalo::StoredOrder, order);
    const QStringList listOrder{"c.mp3", "f.mp3", "a.mp3", "e.mp3", "b.mp3", "d.mp3"};
    RecordedFolder setup(QStringList(listOrder) << "cover.jpg");
    auto &[state, journal, dir] = setup;
    const std::vector<std::string> before = dir.names();
    std::vector<korvalo::FileName> names;
    for (const QString &name : listOrder)
        names.push_back(name.toStdString());

    StandInCalls calls;
    calls.failNoReplaceAt = failBack > 0 ? out + failBack : 0;
    calls.failWith = EIO;
    OrderingWatch watch(dir, stopAt);
    const korvalo::OrderingOutcome outcome = korvalo::arrangeStoredOrder(
        {dir.path(), names, calls, watch, &journal, *korvalo::journalKeyOf(dir.path())});
    QCOMPARE(outcome.order, order);
    QCOMPARE(watch.left.size(), out);
    QStringList expectedBack = inOrder(QStringList(listOrder) << "cover.jpg", watch.left);
    if (failBack > 0)
        expectedBack.removeAt(failBack - 1);
    QCOMPARE(watch.back, expectedBack);
    QVERIFY(!journal.passOpen());
    // After a stop each move back is still told, the last with every move done.
    if (stopAt >= 0 && out > 0)
        QCOMPARE(watch.afterStop.last(), qMakePair(2 * out, 2 * out));

    korvalo::PendingRecovery pending;
    if (failBack == 0) {
        QVERIFY(outcome.filesLeftIn.empty());
        QCOMPARE(dir.names(), before);
        QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Nothing));
        return;
    }
    QCOMPARE(outcome.filesLeftIn.parent_path(), dir.path());
    QCOMPARE(orderingFolders(dir), 1);
    QCOMPARE(int(outcome.cause.error), int(korvalo::RenameError::IoError));
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Pending));
    QCOMPARE(int(pending.plan.status.kind), int(korvalo::PassKind::Order));
    korvalo::NullProgress quiet;
    const korvalo::RecoveryResult back = korvalo::recoverFolder(
        dir.path(), journal, pending, korvalo::RecoveryChoice::Finish, quiet);
    QCOMPARE(back.renamed, 1);
    QCOMPARE(dir.names(), before);
}

void TestRecordedPasses::recoveryStoresInListOrder_data()
{
    QTest::addColumn<bool>("shuffle"); // the pass that was stopped: a shuffle, else a removal
    QTest::addColumn<korvalo::RecoveryChoice>("choice");
    QTest::addColumn<int>("stopAt"); // the move after which stop is asked (-1: never)
    QTest::addColumn<korvalo::StoredOrder>("order");
    QTest::addColumn<int>("out"); // the files that go out
    QTest::addColumn<QStringList>("after");
    using korvalo::RecoveryChoice;
    using korvalo::StoredOrder;
    const QStringList plain{"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"};
    QStringList prefixed;
    for (const QString &name : plain)
        prefixed << "3250" + name;
    QTest::newRow("shuffle finished")
        << true << RecoveryChoice::Finish << -1 << StoredOrder::Arranged << 5 << prefixed;
    QTest::newRow("shuffle undone")
        << true << RecoveryChoice::Undo << -1 << StoredOrder::Arranged << 5 << plain;
    QTest::newRow("removal finished")
        << false << RecoveryChoice::Finish << -1 << StoredOrder::Arranged << 5 << plain;
    QTest::newRow("shuffle left as it is")
        << true << RecoveryChoice::Leave << -1 << StoredOrder::NotApplicable << 0
        << QStringList{"3250a.mp3", "3250b.mp3", "c.mp3", "d.mp3", "e.mp3"};
    QTest::newRow("shuffle finished, stopped while the files go out")
        << true << RecoveryChoice::Finish << 2 << StoredOrder::Stopped << 2 << prefixed;
}

// Where the volume keeps its stored order, a recovery that shuffles the names or puts them back
// stores the files in the list's order, as a completed pass does; leaving the pass as it is moves
// nothing. Two of five files were renamed when the pass was stopped.
void TestRecordedPasses::recoveryStoresInListOrder()
{
    QFETCH(bool, shuffle);
    QFETCH(korvalo::RecoveryChoice, choice);
    QFETCH(int, stopAt);
    QFETCH(korvalo::StoredOrder, order);
    QFETCH(int, out);
    QFETCH(QStringList, after);
    const auto everywhere = korvalo::StoredOrderRule::Everywhere;
    RecordedFolder setup({"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"});
    auto &[state, journal, dir] = setup;
    if (!shuffle)
        QCOMPARE(run(true, dir, &journal, nullptr, nullptr, everywhere).storedOrder,
                 korvalo::StoredOrder::Arranged);
    CountingProgress stopper(1);
    QCOMPARE(int(run(shuffle, dir, &journal, nullptr, &stopper, everywhere).status),
             int(PassResult::Status::Stopped));
    QCOMPARE(orderingFolders(dir), 0); // a stopped pass stores nothing in order

    korvalo::PendingRecovery pending;
    QCOMPARE(checkIn(dir, journal, pending), int(RecoveryCheck::Pending));
    OrderingWatch watch(dir, stopAt);
    const korvalo::RecoveryResult result =
        korvalo::recoverFolder(dir.path(), journal, pending, choice, watch, everywhere);
    QCOMPARE(int(result.status), int(korvalo::RecoveryResult::Status::Done));
    QCOMPARE(result.ordering.order, order);
    QVERIFY(result.ordering.filesLeftIn.empty());
    QCOMPARE(namesOf(dir), after);
    QCOMPARE(watch.left.size(), out);
    if (choice == korvalo::RecoveryChoice::Leave)
        QCOMPARE(watch.calls, 0);
    // Back in the order the list shows now.
    korvalo::MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(watch.back, inOrder(listedNames(list), watch.left));
    korvalo::PendingRecovery again;
    QCOMPARE(checkIn(dir, journal, again), int(RecoveryCheck::Nothing));
}

// No room for the folder the files pass through (a full stick, a full root folder): the order is
// not arranged, and nothing is left for opening the folder to offer.
void TestRecordedPasses::orderingFolderNotMadeLeavesNothing()
{
    RecordedFolder setup({"a.mp3", "b.mp3"});
    auto &[state, journal, dir] = setup;
    const std::vector<korvalo::FileName> names{"a.mp3", "b.mp3"};
    StandInCalls calls;
    calls.makeFolderAnswer = ENOSPC;
    korvalo::NullProgress none;
    const korvalo::OrderingOutcome outcome = korvalo::arrangeStoredOrder(
        {dir.path(), names, calls, none, &journal, *korvalo::journalKeyOf(dir.path())});
    QCOMPARE(outcome.order, korvalo::StoredOrder::NotArranged);
    QVERIFY(!recordOf(dir, journal).pending);
}

QTEST_APPLESS_MAIN(TestRecordedPasses)
#include "tst_recordedpasses.moc"
