// A pass killed at a random moment on a real FUSE-mounted stick (the program closed by force, the
// session ended, the power gone from the computer but not from the stick): afterwards every file
// is there exactly once, under its old or its new name, nothing is added (no empty decoy), the
// volume is sound, and the next pass runs through as if nothing had happened.
//
// The pass runs in a child process, which is killed right after a system call drawn at random
// among those a whole pass makes (renames, lookups, and on exFAT the folder the files pass through
// to be stored in order): every kill lands inside the pass, however loaded the machine is.
// Needs root, /dev/fuse, loop devices, exfat-fuse and ntfs-3g.

#include "mountedimage.h"
#include "volumefiles.h"

#include "journal/journal.h"
#include "passes/folderrecovery.h"
#include "passes/ordering.h"
#include "passes/passes.h"
#include "support/childprocess.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassResult;

namespace {

// Names that do not begin with digits, so that a removal pass gives every file its original
// name back.
std::vector<std::string> songNames(int n)
{
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i)
        out.push_back("Artist - Song " + std::to_string(i) + (i % 4 ? ".mp3" : ".flac"));
    return out;
}

// The real system calls, counted; with killAfter > 0 the process is killed right after the
// killAfter-th of them, as SIGKILL from outside would find it between two calls.
class CountedCalls : public korvalo::RenameSystem
{
public:
    int made = 0;
    int killAfter = 0;

    int renameNoReplace(const Char *from, const Char *to) override
    {
        return counted(real().renameNoReplace(from, to));
    }
    int lstat(const Char *path) override { return counted(real().lstat(path)); }
    int rename(const Char *from, const Char *to) override
    {
        return counted(real().rename(from, to));
    }
    int makeFolder(const Char *path) override { return counted(real().makeFolder(path)); }
    int removeFolder(const Char *path) override { return counted(real().removeFolder(path)); }

private:
    int counted(int answer)
    {
        if (++made == killAfter)
            ::kill(::getpid(), SIGKILL);
        return answer;
    }
    static korvalo::RenameSystem &real() { return korvalo::systemRenameCalls(); }
};

// Runs the pass in a child process that is killed right after its killAfter-th system call (at
// its start when 0), and gives the child's wait status.
int killedChildPass(bool shuffle, const fs::path &folder, int killAfter)
{
    const pid_t pid = forkTestChild();
    if (pid == 0) {
        RecordingProgress progress;
        progress.onStart = [&] {
            if (killAfter == 0)
                ::kill(::getpid(), SIGKILL);
        };
        CountedCalls calls;
        calls.killAfter = killAfter;
        runPass(shuffle, folder, progress, {.calls = &calls});
        ::_exit(0);
    }
    ChildGuard guard(pid);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    guard.release();
    return status;
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    struct stat sa;
    struct stat sb;
    return ::lstat(a.c_str(), &sa) == 0 && ::lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

class TestMountedKill : public QObject
{
    Q_OBJECT

private slots:
    void killedPass_data();
    void killedPass();
};

void TestMountedKill::killedPass_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<bool>("shuffle");
    for (const FsKind kind : passKinds()) {
        QTest::addRow("%s: shuffle", kindName(kind)) << kind << true;
        QTest::addRow("%s: removal", kindName(kind)) << kind << false;
    }
}

void TestMountedKill::killedPass()
{
    QFETCH(FsKind, kind);
    QFETCH(bool, shuffle);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image, 150);
    const fs::path folder = image.root();
    Snapshot original;
    VERIFY_NO_ERROR(populate(image, original, songNames(30)));
    const auto prefixAll = [&] {
        return runPass(true, folder).status == PassResult::Status::Completed;
    };

    // How many system calls the pass to be killed makes here, so the kills fall anywhere in it.
    if (!shuffle)
        QVERIFY(prefixAll());
    RecordingProgress quietProgress;
    CountedCalls counted;
    QCOMPARE(runPass(shuffle, folder, quietProgress, {.calls = &counted}).result.status,
             PassResult::Status::Completed);
    const int passCalls = counted.made;
    QVERIFY(passCalls >= 30);
    if (shuffle)
        QCOMPARE(runPass(false, folder).status, PassResult::Status::Completed);

    const unsigned seed = std::random_device{}();
    std::mt19937 rng(seed);
    const int wantedKills = kernelDrivers() ? 2 : 6; // emulation is slow
    int kills = 0;
    int attempts = 0;
    for (; kills < wantedKills && attempts < wantedKills; ++attempts) {
        if (!shuffle)
            QVERIFY(prefixAll());
        QVERIFY(image.remount().isEmpty());
        const Snapshot before = snapshot(folder);

        // Killed after 0 (at its start) to passCalls - 1 calls: never after its last one.
        const int killAfter = std::uniform_int_distribution<int>(0, passCalls - 1)(rng);
        const int status = killedChildPass(shuffle, folder, killAfter);
        QVERIFY2(status != -1, "the pass did not run in a child process");
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            ++kills;
        const QString context = QStringLiteral("%1 pass killed after %2 of %3 calls (seed %4)")
                                    .arg(shuffle ? "shuffle" : "removal")
                                    .arg(killAfter)
                                    .arg(passCalls)
                                    .arg(seed);

        const QString check = image.unmountAndCheck();
        QVERIFY2(check.isEmpty(), qPrintable(context + ": " + check));
        QVERIFY(image.mount().isEmpty());
        // A kill while the files were out of the folder to be stored in order (exFAT) leaves them
        // in a folder that says they belong one level up: opening it moves them back.
        for (const auto &e : fs::directory_iterator(folder)) {
            if (!korvalo::isOrderingFolder(e.path()))
                continue;
            korvalo::Journal journal(fs::path(tmp.path().toStdString()) / "state");
            korvalo::NullProgress quiet;
            const korvalo::RecoveryResult back =
                korvalo::returnOrderedFiles(e.path(), journal, quiet);
            QVERIFY2(back.status == korvalo::RecoveryResult::Status::Done && back.conflicts.empty(),
                     qPrintable(context + ": files not moved back from " +
                                QString::fromStdString(e.path().filename().native())));
            break;
        }

        // Every file once, under its old or its new name, with its content. On a file system with
        // hard links a kill between linking the new name and removing the old one leaves one file
        // under both names; the next pass must cope with that.
        const Snapshot after = snapshot(folder);
        Snapshot unaccounted = after;
        for (const auto &[name, hash] : before) {
            std::vector<std::string> found;
            for (const auto &[n, h] : after) {
                const bool renamed = shuffle ? hasPrefixBefore(n, name) : hasPrefixBefore(name, n);
                if ((n == name || renamed) && h == hash)
                    found.push_back(n);
            }
            const bool linkedPair =
                found.size() == 2 && sameFile(folder / found[0], folder / found[1]);
            QVERIFY2(
                found.size() == 1 || linkedPair,
                qPrintable(context + ": " + QString::fromStdString(name) + " -> " + show(after)));
            for (const std::string &n : found)
                unaccounted.erase(n);
        }
        // An empty file shows with the hash of no bytes (e3b0c442...).
        QVERIFY2(unaccounted.empty(), qPrintable(context + ", added: " + show(unaccounted)));

        // The next pass is not blocked by anything the kill left: the removal gives every file its
        // original name back.
        const PassResult next = runPass(false, folder);
        QVERIFY2(next.status == PassResult::Status::Completed,
                 qPrintable(context + ", the next removal pass: " + describe(next.cause) + " at " +
                            QString::fromStdString(next.oldName.native())));
        VERIFY_NO_ERROR(image.remount());
        COMPARE_SNAPSHOTS(snapshot(folder), original);
    }
    qInfo("%s: %d of %d %s passes killed before they ended (seed %u)", kindName(kind), kills,
          attempts, shuffle ? "shuffle" : "removal", seed);
    QVERIFY2(kills == wantedKills, "a pass was not killed where it was meant to be");
    VERIFY_VOLUME_SOUND(image);
}

QTEST_GUILESS_MAIN(TestMountedKill)
#include "tst_mountedkill.moc"
