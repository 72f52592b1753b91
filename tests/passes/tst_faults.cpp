// Passes that die half-way and passes that meet. A pass killed after any system call, on every
// road the rename can take, leaves every file under exactly one name, its old or its new one,
// with nothing added. Two passes started on one volume at once, in two processes: the second is
// refused before it renames anything, and nothing is lost.

#include "browse/musicfilelist.h"
#include "passes/passes.h"
#include "standincalls.h"
#include "support/testdir.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassResult;

namespace {

// Fixed draws, so a test knows the names a shuffle gives.
class SteadyRandom : public korvalo::RandomSource
{
public:
    void reseed() override {}
    float next() override { return 0.25f; } // prefix 3250
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
    korvalo::MusicFileList list;
    if (!list.setFolder(folder).ok())
        return {};
    korvalo::FixedFolder source(folder);
    SteadyRandom random;
    const korvalo::PassContext ctx{list, source, progress, calls};
    return shuffle ? korvalo::runShufflePass(ctx, random) : korvalo::runRemovalPass(ctx);
}

// Runs `body` in a child process and gives its exit status (-1 when it did not exit normally).
template <typename Body> int inChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Where every original file is now: each must be found exactly once, under its old name or the
// one the pass gives it, and the folder holds nothing else.
QString accountFor(const fs::path &folder, const std::vector<std::string> &originals, bool shuffle)
{
    std::map<std::string, std::string> now; // content -> name
    std::size_t entries = 0;
    for (const auto &e : fs::directory_iterator(folder)) {
        ++entries;
        std::ifstream in(e.path(), std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
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
    void initTestCase();
    void killedAfterEveryCall_data();
    void killedAfterEveryCall();
    void twoPassesAtOnce();

private:
    QTemporaryDir m_runtime; // XDG_RUNTIME_DIR: where the passes keep their locks
};

void TestFaults::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
}

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

// Two processes start a pass on the same folder; the first waits inside its first progress step
// (holding the lock) until the second has finished. The second is always refused.
void TestFaults::twoPassesAtOnce()
{
    // On tmpfs where there is one: a plain rename is quickest there, and so any race widest.
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir area(base + QStringLiteral("/tst_faults-XXXXXX"));
    QVERIFY(area.isValid());
    constexpr int runs = 200;
    for (int run = 0; run < runs; ++run) {
        const bool firstShuffles = run % 2 == 0;
        const bool secondShuffles = (run / 2) % 2 == 0;
        const fs::path folder = fs::path(area.path().toStdString()) / std::to_string(run);
        fs::create_directory(folder);
        const std::vector<std::string> names{"1111a.mp3", "2222b.mp3", "c.flac"};
        for (const auto &n : names)
            std::ofstream(folder / n, std::ios::binary) << "content of " << n;

        int ready[2];
        int go[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(go) == 0);
        const pid_t first = ::fork();
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
        QVERIFY2(second == 0, qPrintable(QStringLiteral("run %1: the second pass ran").arg(run)));
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(QStringLiteral("run %1: the first pass did not complete").arg(run)));

        std::size_t entries = 0;
        std::multiset<std::string> contents;
        for (const auto &e : fs::directory_iterator(folder)) {
            ++entries;
            std::ifstream in(e.path(), std::ios::binary);
            contents.insert(std::string((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>()));
        }
        QCOMPARE(entries, names.size());
        QCOMPARE(contents,
                 (std::multiset<std::string>{"content of 1111a.mp3", "content of 2222b.mp3",
                                             "content of c.flac"}));
    }
}

QTEST_APPLESS_MAIN(TestFaults)
#include "tst_faults.moc"
