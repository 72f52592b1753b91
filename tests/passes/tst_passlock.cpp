// The pass lock is never silently missing: every process of the user finds the same lock whatever
// its environment, a lock folder or file that is not private refuses the pass instead of letting
// it run unlocked, and a record's lock waits briefly, then reports it busy.

#include "journal/passlock.h"
#include "passes/volumeclaim.h"
#include "support/childprocess.h"
#include "support/hostileplace.h"
#include "support/passrun.h"
#include "support/testdir.h"

#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace fs = std::filesystem;
using korvalo::LockAttempt;
using korvalo::PassLock;
using korvalo::PassResult;

namespace {

// No volume has these: the lock files cannot meet those of a real pass.
constexpr std::uint64_t kDevice = 0xF00D0001;

void setRuntime(const std::string &runtime)
{
    if (runtime.empty())
        ::unsetenv("XDG_RUNTIME_DIR");
    else
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

} // namespace

class TestPassLock : public QObject
{
    Q_OBJECT

private slots:
    void sameLockWhateverTheRuntimeFolder_data();
    void sameLockWhateverTheRuntimeFolder();
    void unavailableLockRefuses_data();
    void unavailableLockRefuses();
    void recordLock_data();
    void recordLock();
    void volumeClaim();
};

void TestPassLock::sameLockWhateverTheRuntimeFolder_data()
{
    QTest::addColumn<QString>("first");  // XDG_RUNTIME_DIR of the process that takes the lock
    QTest::addColumn<QString>("second"); // ... of the one that tries it next
    QTest::newRow("desktop, then sudo") << "ours"
                                        << "unset";
    QTest::newRow("cron, then desktop") << "unset"
                                        << "ours";
    QTest::newRow("desktop, then a shared folder") << "ours"
                                                   << "/tmp";
}

void TestPassLock::sameLockWhateverTheRuntimeFolder()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    TestDir runtime;
    const auto runtimeOf = [&](const QString &which) {
        return which == "unset"  ? std::string()
               : which == "ours" ? runtime.path().native()
                                 : which.toStdString();
    };
    const fs::path expected = PassLock::lockFolder();

    LockHolder holder([&] {
        setRuntime(runtimeOf(first));
        LockAttempt attempt = PassLock::tryAcquire(PassLock::lockFolder(), kDevice);
        return PassLock::lockFolder() == expected ? std::move(attempt.lock) : std::nullopt;
    });
    QVERIFY(holder.held());
    QCOMPARE(inChildWithin(5000,
                           [&] {
                               setRuntime(runtimeOf(second));
                               if (PassLock::lockFolder() != expected)
                                   return 3;
                               const LockAttempt attempt =
                                   PassLock::tryAcquire(PassLock::lockFolder(), kDevice);
                               return attempt.busy() ? 0 : attempt.held() ? 1 : 2;
                           }),
             0); // busy: held by the first
    holder.release();
    QVERIFY(
        PassLock::tryAcquire(PassLock::lockFolder(), kDevice).held()); // let go with its process
}

void TestPassLock::unavailableLockRefuses_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<int>("error");
    QTest::newRow("folder: another user's") << "folder: another user's" << EPERM;
    QTest::newRow("folder: a regular file") << "folder: a regular file" << ENOTDIR;
    // At the lock file's place:
    QTest::newRow("link to a file") << "link to a file" << ELOOP;
    QTest::newRow("another user's file") << "another user's file" << EPERM;
    QTest::newRow("pipe") << "pipe" << ENXIO;
    QTest::newRow("folder") << "folder" << EISDIR;
}

void TestPassLock::unavailableLockRefuses()
{
    QFETCH(QString, place);
    QFETCH(int, error);
    TestDir music;
    music.touch("a.mp3");
    music.touch("b.mp3");
    struct stat st;
    QCOMPARE(::stat(music.path().c_str(), &st), 0);
    TestDir base;
    base.touch("victim");
    const fs::path locks = base / "korvalo";
    const fs::path file = locks / ("volume-" + std::to_string(st.st_dev) + ".lock");
    if (place == "folder: a regular file")
        base.touch("korvalo");
    else
        base.mkdir("korvalo");
    if (place == "folder: another user's")
        QCOMPARE(::chown(locks.c_str(), 65534, 65534), 0);
    else
        plantAt(file, place, base / "victim");
    const LockAttempt attempt = PassLock::tryAcquire(locks, st.st_dev);
    QVERIFY(!attempt.held() && !attempt.busy());
    QCOMPARE(attempt.unavailable->osError, error);
    korvalo::Journal journal(base / "state", korvalo::Journal::kDefaultMaxRecords, locks);
    const PassResult result = runPass(true, music.path(), &journal);
    QCOMPARE(int(result.status), int(PassResult::Status::Refused));
    QCOMPARE(int(result.refusal), int(PassResult::Refusal::LockUnavailable));
    QCOMPARE(result.lockFailure.osError, error);
    QCOMPARE(music.names(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
    QCOMPARE(base.read("victim"), std::string("content of victim"));
}

void TestPassLock::recordLock_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("a record's hash") << "0123456789ABCDEF" << true;
    QTest::newRow("up and out") << "../escape" << false;
    QTest::newRow("into a folder") << "a/b" << false;
    QTest::newRow("hidden") << ".hidden" << false;
}

void TestPassLock::recordLock()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    TestDir base;
    const fs::path locks = base / "locks";
    const std::string record = name.toStdString();
    using std::chrono::milliseconds;

    LockAttempt first = PassLock::acquireRecord(locks, record, milliseconds(0));
    if (!valid) {
        QVERIFY(first.unavailable);
        QCOMPARE(first.unavailable->osError, EINVAL);
        QVERIFY(!fs::exists(base / "escape.lock"));
        return;
    }
    QVERIFY(first.held());
    // Held: a second writer waits as long as it was told, then is told it is busy.
    const auto start = std::chrono::steady_clock::now();
    QVERIFY(PassLock::acquireRecord(locks, record, milliseconds(150)).busy());
    QVERIFY(std::chrono::steady_clock::now() - start >= milliseconds(150));
    // Let go meanwhile: the waiting writer gets it.
    std::thread releaser([&] {
        std::this_thread::sleep_for(milliseconds(100));
        first.lock.reset();
    });
    const LockAttempt second = PassLock::acquireRecord(locks, record);
    releaser.join();
    QVERIFY(second.held());
}

// A held claim keeps every other claim on the volume off, a look that only tries lets go at once,
// and a folder that cannot be reached claims nothing and refuses nothing.
void TestPassLock::volumeClaim()
{
    using korvalo::ClaimMode;
    using korvalo::MountLookup;
    using korvalo::VolumeClaim;
    TestDir music;
    TestDir elsewhere;
    using Refusal = VolumeClaim::Refusal;
    const fs::path locks = PassLock::lockFolder();
    const auto refusal = [&](const fs::path &folder, ClaimMode mode) {
        return int(korvalo::claimVolume(folder, mode, MountLookup::MountTable, locks).refusal);
    };

    VolumeClaim first =
        korvalo::claimVolume(music.path(), ClaimMode::Hold, MountLookup::Resolve, locks);
    QVERIFY(first.granted() && first.lock);
    QVERIFY(first.mount && first.device && first.mount->device == *first.device);
    QCOMPARE(korvalo::deviceOf(elsewhere.path()), first.device);
    for (const ClaimMode mode : {ClaimMode::Hold, ClaimMode::TryOnly}) {
        QCOMPARE(refusal(music.path(), mode), int(Refusal::Busy));
        QCOMPARE(refusal(elsewhere.path(), mode), int(Refusal::Busy)); // the same volume
    }
    first.lock.reset();

    const VolumeClaim look =
        korvalo::claimVolume(music.path(), ClaimMode::TryOnly, MountLookup::None, locks);
    QVERIFY(look.granted() && !look.lock && look.device && !look.mount);
    QVERIFY(PassLock::tryAcquire(locks, *look.device).held()); // the look let it go

    const VolumeClaim gone =
        korvalo::claimVolume(music / "missing", ClaimMode::Hold, MountLookup::Resolve, locks);
    QVERIFY(gone.granted() && !gone.device && !gone.lock && !gone.mount);
}

QTEST_GUILESS_MAIN(TestPassLock)
#include "tst_passlock.moc"
