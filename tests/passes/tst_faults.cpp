// Passes that die half-way and passes that meet. A pass killed after any system call, on every
// road the rename can take, leaves every file under exactly one name, its old or its new one,
// with nothing added. A recorded pass killed at any step is recovered, by any of the user's
// choices, to every original name. Two passes started on one volume at once, in two processes:
// the second is refused before it renames anything, and nothing is lost.

#include "browse/musicfilelist.h"
#include "journal/passlock.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "standincalls.h"
#include "support/childprocess.h"
#include "support/passrun.h"
#include "support/testdir.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassKind;
using korvalo::PassResult;
using korvalo::RecoveryCheck;
using korvalo::RecoveryChoice;
using Names = std::vector<std::string>;

Q_DECLARE_METATYPE(RecoveryChoice)
Q_DECLARE_METATYPE(Names)

namespace {

// Fixed draws, so a test knows the names a shuffle gives.
class SteadyRandom : public korvalo::RandomSource
{
public:
    explicit SteadyRandom(float draw = 0.25f) : m_draw(draw) {}
    void reseed() override {}
    float next() override { return m_draw; } // 0.25: prefix 3250

private:
    float m_draw;
};

// The same draw for each file's first prefix, another one for every new draw after a taken name.
class TwoDraws : public korvalo::RandomSource
{
public:
    explicit TwoDraws(int firstDraws) : m_first(firstDraws) {}
    void reseed() override {}
    float next() override { return m_draws++ < m_first ? 0.25f : 0.5f; } // 3250, then 5500

private:
    int m_first;
    int m_draws = 0;
};

// Dies right before a given rename (0-based, counting every attempt), with whatever the journal
// holds by then: between a record and the rename it announces.
class KillBeforeRename : public StandInCalls
{
public:
    int killBefore = -1;
    int renameNoReplace(const Char *from, const Char *to) override
    {
        if (int(renames.size()) == killBefore)
            ::_exit(0);
        return StandInCalls::renameNoReplace(from, to);
    }
};

// A pass as the window runs it: the folder listed, recorded in the journal.
PassResult recordedPass(PassKind kind, const fs::path &folder, korvalo::Journal &journal,
                        korvalo::RandomSource &random, korvalo::RenameSystem &calls,
                        korvalo::ProgressSink *progress = nullptr)
{
    korvalo::MusicFileList list;
    if (!list.setFolder(folder).ok())
        return {};
    korvalo::FixedFolder source(folder);
    korvalo::NullProgress silent;
    korvalo::PassContext ctx{list, source, progress ? *progress : silent, calls};
    ctx.journal = &journal;
    switch (kind) {
    case PassKind::Shuffle:
        return korvalo::runShufflePass(ctx, random);
    case PassKind::Replace:
        return korvalo::runReplacePass(ctx, random);
    default:
        return korvalo::runRemovalPass(ctx);
    }
}

// A folder on tmpfs where there is one: renames are quickest there, and so any race widest.
QString scratchBase()
{
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                     : QDir::tempPath();
}

// A music folder holding `names` (each file's content tells its name), and a state folder beside
// it, in a scratch folder of its own.
struct Scratch
{
    explicit Scratch(const Names &names = {})
    {
        QVERIFY(area.isValid());
        fs::create_directories(folder);
        for (const auto &name : names)
            std::ofstream(folder / name, std::ios::binary) << "content of " << name;
    }
    QTemporaryDir area{scratchBase() + QStringLiteral("/tst_faults-XXXXXX")};
    const fs::path folder = fs::path(area.path().toStdString()) / "Music";
    const fs::path state = fs::path(area.path().toStdString()) / "state";
};

// Calls `wait` at the first progress step: the pass holds its lock there until told to go on.
class PausingProgress : public korvalo::ProgressSink
{
public:
    std::function<void()> wait;
    void start(int) override {}
    bool step(int index, int) override
    {
        if (index == 0 && wait)
            wait();
        return true;
    }
};

PassResult runPass(bool shuffle, const fs::path &folder, korvalo::ProgressSink &progress,
                   korvalo::RenameSystem &calls)
{
    SteadyRandom random;
    return runPass(shuffle, folder, progress, PassOptions{.calls = &calls, .random = &random})
        .result;
}

// Where every original file is now: each must be found exactly once, under its old name or the
// one the pass gives it, and the folder holds nothing else.
QString accountFor(const fs::path &folder, const std::vector<std::string> &originals, bool shuffle)
{
    std::map<std::string, std::string> now; // content -> name
    std::size_t entries = 0;
    for (const auto &e : fs::directory_iterator(folder)) {
        ++entries;
        const std::string content = contentOf(e.path());
        if (!now.emplace(content, e.path().filename().native()).second)
            return QStringLiteral("two files hold ") + QString::fromStdString(content);
    }
    if (entries != originals.size())
        return QStringLiteral("%1 entries for %2 files").arg(entries).arg(originals.size());
    for (const std::string &name : originals) {
        const auto found = now.find("content of " + name);
        if (found == now.end())
            return QStringLiteral("lost: ") + QString::fromStdString(name);
        const std::string renamed = shuffle ? "3250" + name : name.substr(4);
        if (found->second != name && found->second != renamed)
            return QStringLiteral("%1 is now called %2")
                .arg(QString::fromStdString(name), QString::fromStdString(found->second));
    }
    return {};
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void killedAfterEveryCall_data();
    void killedAfterEveryCall();
    void recordedPassKilledAtEveryStep_data();
    void recordedPassKilledAtEveryStep();
    void replaceKilledOrStopped_data();
    void replaceKilledOrStopped();
    void twoPassesAtOnce();
};

void TestFaults::killedAfterEveryCall_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("noReplaceAnswer");
    QTest::addColumn<int>("calls"); // what a whole pass over the three files makes

    // Local disks: renameat2 only. FUSE drivers (exfat-fuse, ntfs-3g): EINVAL, then lstat and
    // rename, learnt after the first file. Old kernels: ENOSYS, the same.
    QTest::newRow("shuffle, no-replace flag") << true << -1 << 3;
    QTest::newRow("shuffle, flag refused (FUSE)") << true << EINVAL << 3 + 2 + 2;
    QTest::newRow("shuffle, no renameat2 (ENOSYS)") << true << ENOSYS << 3 + 2 + 2;
    QTest::newRow("removal, no-replace flag") << false << -1 << 3;
    QTest::newRow("removal, flag refused (FUSE)") << false << EINVAL << 3 + 2 + 2;
}

void TestFaults::killedAfterEveryCall()
{
    QFETCH(bool, shuffle);
    QFETCH(int, noReplaceAnswer);
    QFETCH(int, calls);
    const std::vector<std::string> names =
        shuffle ? std::vector<std::string>{"a.mp3", "b.mp3", "c.flac"}
                : std::vector<std::string>{"1111a.mp3", "2222b.mp3", "3333c.flac"};
    // One more than the pass makes: the last run is not stopped at all.
    for (int stopAfter = 1; stopAfter <= calls + 1; ++stopAfter) {
        TestDir dir;
        for (const auto &n : names)
            dir.touch(n);
        const int exit = inChild([&] {
            StandInCalls sys;
            sys.noReplaceAnswer = noReplaceAnswer;
            sys.stopAfter = stopAfter;
            korvalo::NullProgress progress;
            const PassResult result = runPass(shuffle, dir.path(), progress, sys);
            // Reached only when the pass ran to its end: 10 plus how many calls it made.
            return result.status == PassResult::Status::Completed ? 10 + int(sys.calls.size()) : 2;
        });
        if (stopAfter <= calls)
            QVERIFY2(
                exit == 0,
                qPrintable(QStringLiteral("stop after call %1: exit %2").arg(stopAfter).arg(exit)));
        else
            QCOMPARE(exit, 10 + calls);
        const QString wrong = accountFor(dir.path(), names, shuffle);
        QVERIFY2(wrong.isEmpty(),
                 qPrintable(QStringLiteral("stopped after call %1: ").arg(stopAfter) + wrong));
    }
}

// Names that must come back: digits of their own (one a name that begins with "0"), one that is
// another's shuffled form, and a name that is all digits.
const Names kOriginals = {"a.mp3",    "2019 Live.mp3", "0001 Intro.mp3", "5678Song.mp3",
                          "Song.mp3", "1234.mp3",      "b.flac",         "1999 - Prince.mp3"};

// A recorded pass over the whole folder with the real calls, drawing as the killed ones do.
void wholePass(PassKind kind, const fs::path &folder, korvalo::Journal &journal)
{
    TwoDraws random(int(kOriginals.size()));
    QCOMPARE(int(recordedPass(kind, folder, journal, random, korvalo::systemRenameCalls()).status),
             int(PassResult::Status::Completed));
}

// Every original is back under its own name with its own content, beside `others` only.
void checkOriginalsBack(const fs::path &folder, Names others = {})
{
    others.insert(others.end(), kOriginals.begin(), kOriginals.end());
    std::sort(others.begin(), others.end());
    QCOMPARE(namesIn(folder), others);
    for (const auto &name : kOriginals)
        QCOMPARE(contentOf(folder / name), "content of " + name);
}

// A recorded pass runs in a child process that dies right before its k-th rename; the folder is
// opened again, and the user's choice carried out. Where that leaves Korvalo prefixes on the
// names (a shuffle finished or left), a removal pass follows with the safe answers. Every file
// must then be back under its original name. Removal rows remove the prefixes of a whole
// recorded shuffle. A folder named like a's first draw makes the shuffle draw again.
void TestFaults::recordedPassKilledAtEveryStep_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("killBefore"); // the rename attempt (0-based) the child dies before
    QTest::addColumn<bool>("takenName");
    QTest::addColumn<bool>("asked"); // opening the folder asks the user
    QTest::addColumn<RecoveryChoice>("choice");

    const int n = int(kOriginals.size());
    const auto undo = RecoveryChoice::Undo;
    const auto finish = RecoveryChoice::Finish;
    const auto leave = RecoveryChoice::Leave;
    QTest::newRow("shuffle, before the first rename") << true << 0 << false << false << undo;
    QTest::newRow("shuffle, after one file, undone") << true << 1 << false << true << undo;
    QTest::newRow("shuffle, half-way, undone") << true << n / 2 << false << true << undo;
    QTest::newRow("shuffle, before the last, undone") << true << n - 1 << false << true << undo;
    QTest::newRow("shuffle, half-way, finished") << true << n / 2 << false << true << finish;
    QTest::newRow("shuffle, half-way, left") << true << n / 2 << false << true << leave;
    // a.mp3 is the sixth file (names with digits come first): its first draw (the sixth rename)
    // is taken, the new one is recorded, and the child dies before the rename to it.
    QTest::newRow("shuffle, between a new draw and its rename, undone")
        << true << 6 << true << true << undo;
    QTest::newRow("shuffle, after a new draw, finished") << true << 8 << true << true << finish;
    QTest::newRow("removal, before the first rename") << false << 0 << false << false << finish;
    QTest::newRow("removal, after one file, finished") << false << 1 << false << true << finish;
    QTest::newRow("removal, half-way, finished") << false << n / 2 << false << true << finish;
    QTest::newRow("removal, before the last, finished")
        << false << n - 1 << false << true << finish;
    QTest::newRow("removal, half-way, left") << false << n / 2 << false << true << leave;
}

void TestFaults::recordedPassKilledAtEveryStep()
{
    QFETCH(bool, shuffle);
    QFETCH(int, killBefore);
    QFETCH(bool, takenName);
    QFETCH(bool, asked);
    QFETCH(RecoveryChoice, choice);

    const Scratch scratch(kOriginals);
    const fs::path &folder = scratch.folder, &state = scratch.state;
    if (takenName)
        fs::create_directory(folder / "3250a.mp3"); // not listed, but in the way
    const int n = int(kOriginals.size());
    if (!shuffle) {
        korvalo::Journal journal(state);
        wholePass(PassKind::Shuffle, folder, journal);
    }

    const int exit = inChild([&] {
        korvalo::Journal journal(state);
        TwoDraws random(n);
        KillBeforeRename calls;
        calls.killBefore = killBefore;
        const PassResult result = recordedPass(shuffle ? PassKind::Shuffle : PassKind::Removal,
                                               folder, journal, random, calls);
        return 10 + int(result.status); // reached only when not killed
    });
    QCOMPARE(exit, 0);

    korvalo::Journal journal(state);
    korvalo::PendingRecovery pending;
    korvalo::JournalError error;
    const RecoveryCheck check = korvalo::checkForRecovery(folder, journal, pending, &error);
    QVERIFY(error.ok());
    // With nothing to ask, the pass is settled silently only where the stick's identity shows the
    // record is its own; elsewhere the user chooses all the same, and leaves the folder as it is.
    const bool silent = !asked && !korvalo::journalKeyOf(folder)->stick.empty();
    QCOMPARE(int(check), int(asked    ? RecoveryCheck::Pending
                             : silent ? RecoveryCheck::Nothing
                                      : RecoveryCheck::Unconfirmed));
    if (!silent) {
        QCOMPARE(pending.plan.status.kind, shuffle ? PassKind::Shuffle : PassKind::Removal);
        QCOMPARE(pending.plan.status.fileCount, n);
        QCOMPARE(pending.plan.status.done, killBefore - (takenName && killBefore > 5 ? 1 : 0));
        korvalo::NullProgress progress;
        const korvalo::RecoveryResult recovered = korvalo::recoverFolder(
            folder, journal, pending, asked ? choice : RecoveryChoice::Leave, progress);
        QCOMPARE(int(recovered.status), int(korvalo::RecoveryResult::Status::Done));
        QVERIFY(recovered.conflicts.empty());
        QVERIFY(recovered.refused.empty());
        // Nothing is left to ask about.
        QCOMPARE(int(korvalo::checkForRecovery(folder, journal, pending)),
                 int(RecoveryCheck::Nothing));
    }
    const bool prefixesLeft = (shuffle && asked && choice != RecoveryChoice::Undo) ||
                              (!shuffle && (choice == RecoveryChoice::Leave || !asked));
    if (prefixesLeft)
        wholePass(PassKind::Removal, folder, journal);
    checkOriginalsBack(folder, takenName ? Names{"3250a.mp3"} : Names{});
}

// Stops after a given number of files, as a closed window or Ctrl-C does.
class StopAfter : public korvalo::ProgressSink
{
public:
    explicit StopAfter(int files) : m_files(files) {}
    void start(int) override {}
    bool step(int index, int) override { return index + 1 < m_files; }

private:
    int m_files;
};

// A recorded shuffle gives every original "3250" in front; a replace pass (new digits "5500")
// is then killed right before a given rename, or stopped after it, and the user's choice carried
// out. Undone, every file is back under its shuffled name; finished, under its replaced name;
// left, under one of the two; never a name with two prefixes or none. A removal with the safe
// answers then brings back every original name: the record knows each prefix as Korvalo's.
void TestFaults::replaceKilledOrStopped_data()
{
    QTest::addColumn<int>("at");       // the rename the child dies before, or the files done
    QTest::addColumn<bool>("stopped"); // stopped after `at` files, else killed
    QTest::addColumn<RecoveryChoice>("choice");
    const int n = int(kOriginals.size());
    const auto undo = RecoveryChoice::Undo;
    const auto finish = RecoveryChoice::Finish;
    QTest::newRow("killed after one file, undone") << 1 << false << undo;
    QTest::newRow("killed half-way, undone") << n / 2 << false << undo;
    QTest::newRow("killed before the last, undone") << n - 1 << false << undo;
    QTest::newRow("killed half-way, finished") << n / 2 << false << finish;
    QTest::newRow("killed after one file, finished") << 1 << false << finish;
    QTest::newRow("killed half-way, left") << n / 2 << false << RecoveryChoice::Leave;
    QTest::newRow("stopped half-way, undone") << n / 2 << true << undo;
    QTest::newRow("stopped half-way, finished") << n / 2 << true << finish;
}

void TestFaults::replaceKilledOrStopped()
{
    QFETCH(int, at);
    QFETCH(bool, stopped);
    QFETCH(RecoveryChoice, choice);
    const Scratch scratch(kOriginals);
    const fs::path &folder = scratch.folder, &state = scratch.state;
    const int n = int(kOriginals.size());
    {
        korvalo::Journal journal(state);
        wholePass(PassKind::Shuffle, folder, journal);
    }
    const auto renamed = [&](const char *prefix) {
        Names out;
        for (const auto &name : kOriginals)
            out.push_back(prefix + name);
        std::sort(out.begin(), out.end());
        return out;
    };
    const Names shuffled = renamed("3250"), replaced = renamed("5500");

    const auto replace = [&](korvalo::RenameSystem &calls, korvalo::ProgressSink *progress) {
        korvalo::Journal journal(state);
        SteadyRandom random(0.5f);
        return recordedPass(PassKind::Replace, folder, journal, random, calls, progress);
    };
    if (stopped) {
        StopAfter progress(at);
        QCOMPARE(int(replace(korvalo::systemRenameCalls(), &progress).status),
                 int(PassResult::Status::Stopped));
    } else {
        QCOMPARE(inChild([&] {
                     KillBeforeRename calls;
                     calls.killBefore = at;
                     return 10 + int(replace(calls, nullptr).status); // only when not killed
                 }),
                 0);
    }
    // Every file under exactly one of its two names.
    const Names midway = namesIn(folder);
    QCOMPARE(int(midway.size()), n);
    for (const auto &name : midway)
        QVERIFY2(std::binary_search(shuffled.begin(), shuffled.end(), name) ||
                     std::binary_search(replaced.begin(), replaced.end(), name),
                 name.c_str());

    korvalo::Journal journal(state);
    korvalo::PendingRecovery pending;
    QCOMPARE(int(korvalo::checkForRecovery(folder, journal, pending)), int(RecoveryCheck::Pending));
    QCOMPARE(pending.plan.status.kind, PassKind::Replace);
    QCOMPARE(pending.plan.status.done, at);
    QVERIFY(pending.plan.canUndo);
    korvalo::NullProgress progress;
    const korvalo::RecoveryResult recovered =
        korvalo::recoverFolder(folder, journal, pending, choice, progress);
    QCOMPARE(int(recovered.status), int(korvalo::RecoveryResult::Status::Done));
    QVERIFY(recovered.conflicts.empty());
    if (choice == RecoveryChoice::Undo)
        QCOMPARE(namesIn(folder), shuffled);
    else if (choice == RecoveryChoice::Finish)
        QCOMPARE(namesIn(folder), replaced);
    else
        QCOMPARE(namesIn(folder), midway);
    wholePass(PassKind::Removal, folder, journal);
    checkOriginalsBack(folder);
}

// Two processes start a pass on the same folder; the first waits inside its first progress step
// (holding the lock) until the second has finished. The second is always refused.
void TestFaults::twoPassesAtOnce()
{
    constexpr int runs = 200;
    for (int run = 0; run < runs; ++run) {
        const bool firstShuffles = run % 2 == 0;
        const bool secondShuffles = (run / 2) % 2 == 0;
        const Scratch scratch({"1111a.mp3", "2222b.mp3", "c.flac"});
        const fs::path &folder = scratch.folder;

        int ready[2];
        int go[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(go) == 0);
        const pid_t first = forkTestChild();
        ChildGuard firstGuard(first);
        if (first == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            PausingProgress progress;
            progress.wait = [&] {
                char c = 1;
                (void)!::write(ready[1], &c, 1);
                (void)!::read(go[0], &c, 1);
            };
            const PassResult result =
                runPass(firstShuffles, folder, progress, korvalo::systemRenameCalls());
            ::_exit(result.status == PassResult::Status::Completed ? 0 : 1);
        }
        QVERIFY(first > 0);
        ::close(ready[1]);
        ::close(go[0]);
        char c = 0;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1)); // the first holds the lock now

        const int second = inChild([&] {
            korvalo::NullProgress progress;
            StandInCalls sys;
            const PassResult result = runPass(secondShuffles, folder, progress, sys);
            const bool refused = result.status == PassResult::Status::Refused &&
                                 result.refusal == PassResult::Refusal::VolumeBusy;
            return refused && sys.calls.isEmpty() ? 0 : 1;
        });
        QVERIFY(::write(go[1], &c, 1) == 1);
        ::close(ready[0]);
        ::close(go[1]);
        int status = 0;
        QCOMPARE(::waitpid(first, &status, 0), first);
        firstGuard.release();
        QVERIFY2(second == 0, qPrintable(QStringLiteral("run %1: the second pass ran").arg(run)));
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(QStringLiteral("run %1: the first pass did not complete").arg(run)));

        std::multiset<std::string> contents;
        for (const auto &name : namesIn(folder))
            contents.insert(contentOf(folder / name));
        QCOMPARE(contents,
                 (std::multiset<std::string>{"content of 1111a.mp3", "content of 2222b.mp3",
                                             "content of c.flac"}));
    }
}

QTEST_APPLESS_MAIN(TestFaults)
#include "tst_faults.moc"
