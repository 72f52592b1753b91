// An unfinished pass on a real FUSE-mounted stick, brought back when its folder is opened again:
// a recorded pass killed at chosen files (between the journal's record of a rename and the rename
// itself), a recovery killed in its turn, the stick pulled out in the middle of a pass or of its
// undoing, the stick put in again at another mount point, a recovery asked for while another
// process works on the volume, and a copy of the stick used while a pass is unfinished.
// Afterwards every file is back under its original name with its content, and the volume is
// sound.
//
// Needs root, /dev/fuse, loop devices, exfat-fuse and ntfs-3g.

#include "mountedimage.h"
#include "volumefiles.h"

#include "browse/mountinfo.h"
#include "browse/musicfilelist.h"
#include "journal/passlock.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "support/childprocess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassResult;
using korvalo::RecoveryCheck;
using korvalo::RecoveryChoice;
using korvalo::RecoveryResult;

Q_DECLARE_METATYPE(RecoveryChoice)

namespace {

// Forty songs: names that begin with four digits of their own (one with a leading zero, one all
// digits), Chinese names, and plain ones.
std::vector<std::string> songNames()
{
    std::vector<std::string> out{"2019 Live.mp3", "0001 Intro.mp3",    "1999 - Prince.mp3",
                                 "1234.flac",     "中文歌曲.mp3",      "周杰伦 - 稻香.flac",
                                 "晴天.mp3",      "七里香 (Live).mp3", "2046 花样年华.flac"};
    for (int i = 1; out.size() < 40; ++i)
        out.push_back("Artist - Song " + std::to_string(i) + (i % 4 ? ".mp3" : ".flac"));
    return out;
}

const int kSongs = int(songNames().size());

// Draws from a fixed seed, so that a failing row gives the same names again.
class SeededRandom : public korvalo::RandomSource
{
public:
    void reseed() override {}
    float next() override { return float(m_engine() >> 8) / float(1u << 24); }

private:
    std::mt19937 m_engine{20190101u};
};

// The real system calls, except that the process is killed right before the rename of the file
// at `killAt` (0-based, in the order the pass renames) to a free name: the journal has recorded
// that rename. A try at a taken name goes through and fails, as it does on a FUSE mount, where
// the pass sees the name taken before it renames; the kernel's drivers say so only in the
// rename itself.
class KillBeforeFile : public korvalo::RenameSystem
{
public:
    explicit KillBeforeFile(int killAt) : m_killAt(killAt) {}
    int renameNoReplace(const Char *from, const Char *to) override
    {
        reach(from, to);
        return real().renameNoReplace(from, to);
    }
    int lstat(const Char *path) override { return real().lstat(path); }
    int rename(const Char *from, const Char *to) override
    {
        reach(from, to);
        return real().rename(from, to);
    }
    int makeFolder(const Char *path) override { return real().makeFolder(path); }
    int removeFolder(const Char *path) override { return real().removeFolder(path); }

private:
    // A new draw after a taken name, or the plain rename after the refused flag, is the same file.
    void reach(const Char *from, const Char *to)
    {
        if (m_last != from) {
            m_last = from;
            ++m_files;
        }
        if (m_files - 1 == m_killAt && real().lstat(to) == ENOENT)
            ::kill(::getpid(), SIGKILL);
    }
    static korvalo::RenameSystem &real() { return korvalo::systemRenameCalls(); }

    int m_killAt;
    int m_files = 0;
    std::string m_last;
};

// A pass as the window runs it, recorded in the journal, the questions answered safely; its draws
// are SeededRandom's.
PassResult recordedPass(bool shuffle, const fs::path &folder, korvalo::Journal &journal,
                        korvalo::RenameSystem &calls = korvalo::systemRenameCalls(),
                        korvalo::ProgressSink *progress = nullptr)
{
    korvalo::NullProgress none;
    SeededRandom random;
    const PassOptions options{.journal = &journal, .calls = &calls, .random = &random};
    return runPass(shuffle, folder, progress ? *progress : none, options).result;
}

// True when a recorded pass run in a child process was killed before the file at `killAt`.
bool killedPass(bool shuffle, const fs::path &folder, int killAt)
{
    return inChild([&] {
               korvalo::Journal journal;
               KillBeforeFile calls(killAt);
               recordedPass(shuffle, folder, journal, calls);
               return 0; // not killed
           }) == -1;
}

QString keyText(const korvalo::JournalKey &key)
{
    return QString::fromStdString(key.volume + " : " + key.pathInVolume);
}

} // namespace

// NOLINTBEGIN(bugprone-macro-parentheses): the arguments name variables the macro declares.

// A fresh image with the songs in its folder "Music", and a journal and locks of the row's own.
#define PREPARE_MUSIC(kind, tmp, image, folder, original)                                          \
    QTemporaryDir tmp;                                                                             \
    MOUNT_FRESH_IMAGE(kind, tmp, image);                                                           \
    useStateFoldersIn(tmp);                                                                        \
    const fs::path folder = image.root() / "Music";                                                \
    QVERIFY(fs::create_directory(folder));                                                         \
    Snapshot original;                                                                             \
    VERIFY_NO_ERROR(populate(image, original, songNames(), {}, folder))

// NOLINTEND(bugprone-macro-parentheses)

namespace {

void useStateFoldersIn(const QTemporaryDir &tmp)
{
    const fs::path base(tmp.path().toStdString());
    fs::create_directory(base / "state");
    fs::permissions(base / "state", fs::perms::owner_all);
    qputenv("XDG_STATE_HOME", (base / "state").c_str());
}

// Opens the folder: it must find an unfinished pass of that kind over `wantFiles` files, `wantDone`
// of them renamed.
#define VERIFY_PENDING(folder, journal, pending, wantKind, wantFiles, wantDone)                    \
    do {                                                                                           \
        korvalo::JournalError error_;                                                              \
        QCOMPARE(korvalo::checkForRecovery(folder, journal, pending, &error_),                     \
                 RecoveryCheck::Pending);                                                          \
        QVERIFY(error_.ok());                                                                      \
        QCOMPARE(pending.plan.status.kind, wantKind);                                              \
        QCOMPARE(pending.plan.status.fileCount, wantFiles);                                        \
        QCOMPARE(pending.plan.status.done, wantDone);                                              \
    } while (false)

// Carries out the choice, which must rename `wantRenamed` files and leave nothing to ask about.
#define VERIFY_RECOVERED(folder, journal, pending, choice, wantRenamed)                            \
    do {                                                                                           \
        korvalo::NullProgress progress_;                                                           \
        const RecoveryResult r_ =                                                                  \
            korvalo::recoverFolder(folder, journal, pending, choice, progress_);                   \
        QCOMPARE(r_.status, RecoveryResult::Status::Done);                                         \
        QVERIFY(r_.conflicts.empty());                                                             \
        QVERIFY(r_.refused.empty());                                                               \
        QCOMPARE(r_.renamed, wantRenamed);                                                         \
        korvalo::PendingRecovery again_;                                                           \
        QCOMPARE(korvalo::checkForRecovery(folder, journal, again_), RecoveryCheck::Nothing);      \
    } while (false)

void addKinds()
{
    QTest::addColumn<FsKind>("kind");
    for (const FsKind kind : passKinds())
        QTest::newRow(kindName(kind)) << kind;
}

} // namespace

class TestMountedRecovery : public QObject
{
    Q_OBJECT

private slots:
    void killedAtFile_data();
    void killedAtFile();
    void recoveryKilled_data() { addKinds(); }
    void recoveryKilled();
    void stickPulledMidPass_data();
    void stickPulledMidPass();
    void mountedElsewhere_data() { addKinds(); }
    void mountedElsewhere();
    void volumeBusy_data() { addKinds(); }
    void volumeBusy();
    void passKilledOnAClone_data();
    void passKilledOnAClone();
};

void TestMountedRecovery::killedAtFile_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("killAt"); // the file the child dies before
    QTest::addColumn<RecoveryChoice>("choice");
    QTest::addColumn<bool>("takenName"); // the file's first draw is taken: it draws again

    const int n = kSongs;
    const auto undo = RecoveryChoice::Undo;
    const auto finish = RecoveryChoice::Finish;
    for (const FsKind kind : passKinds()) {
        const char *k = kindName(kind);
        QTest::addRow("%s: shuffle, before the first file", k)
            << kind << true << 0 << undo << false;
        QTest::addRow("%s: shuffle, after one file, undone", k)
            << kind << true << 1 << undo << false;
        QTest::addRow("%s: shuffle, half-way, undone", k) << kind << true << n / 2 << undo << false;
        QTest::addRow("%s: shuffle, before the last, undone", k)
            << kind << true << n - 1 << undo << false;
        QTest::addRow("%s: shuffle, half-way, finished", k)
            << kind << true << n / 2 << finish << false;
        QTest::addRow("%s: shuffle, between a new draw and its rename, finished", k)
            << kind << true << n / 2 << finish << true;
        QTest::addRow("%s: removal, half-way, finished", k)
            << kind << false << n / 2 << finish << false;
    }
}

// A recorded pass dies before one of its files; the folder is opened again and the user's choice
// carried out. Where that leaves every song with a prefix (a finished shuffle), the removal pass
// follows and takes off only the prefixes Korvalo wrote. Removal rows remove the prefixes of a
// whole recorded shuffle. Where the file's first draw is taken (by a folder that is no song), the
// child dies after the journal took the new draw and before the rename to it; finishing must give
// the file the new draw and leave the folder alone.
void TestMountedRecovery::killedAtFile()
{
    QFETCH(FsKind, kind);
    QFETCH(bool, shuffle);
    QFETCH(int, killAt);
    QFETCH(RecoveryChoice, choice);
    QFETCH(bool, takenName);
    PREPARE_MUSIC(kind, tmp, image, folder, original);

    std::string taken;
    std::string nextFirstDraw; // the first draw of the file after it, as the journal must hold it
    if (takenName) {
        // The pass draws every file's first prefix in list order before it renames anything.
        korvalo::MusicFileList list;
        QVERIFY(list.setFolder(folder).ok());
        SeededRandom random;
        float draw = 0;
        for (int i = 0; i <= killAt; ++i)
            draw = random.next();
        taken = std::to_string(korvalo::prefixValue(draw)) + std::string(list.nameView(killAt));
        nextFirstDraw = std::to_string(korvalo::prefixValue(random.next())) +
                        std::string(list.nameView(killAt + 1));
        QVERIFY(fs::create_directory(folder / taken));
        QVERIFY(image.remount().isEmpty());
        original = snapshot(folder);
    }

    korvalo::Journal journal;
    if (!shuffle)
        QCOMPARE(recordedPass(true, folder, journal).status, PassResult::Status::Completed);
    QVERIFY2(killedPass(shuffle, folder, killAt), "the pass was not killed");
    QVERIFY(image.remount().isEmpty());

    korvalo::PendingRecovery pending;
    if (killAt == 0) {
        // Nothing renamed: settled without asking where the stick's identity shows that the
        // record is its own; elsewhere the user leaves the folder as it is.
        const bool identified = !korvalo::journalKeyOf(folder)->stick.empty();
        QCOMPARE(korvalo::checkForRecovery(folder, journal, pending),
                 identified ? RecoveryCheck::Nothing : RecoveryCheck::Unconfirmed);
        if (!identified)
            VERIFY_RECOVERED(folder, journal, pending, RecoveryChoice::Leave, 0);
    } else {
        const auto passKind = shuffle ? korvalo::PassKind::Shuffle : korvalo::PassKind::Removal;
        VERIFY_PENDING(folder, journal, pending, passKind, kSongs, killAt);
        if (takenName) {
            // The draws are as foreseen (the next file keeps its first), and this file's is new.
            QCOMPARE(pending.plan.finish.size(), std::size_t(kSongs - killAt));
            QCOMPARE(pending.plan.finish[1].to, nextFirstDraw);
            const korvalo::RecoveryMove &next = pending.plan.finish.front();
            QVERIFY2(next.to != taken && next.to.ends_with(taken.substr(4)),
                     qPrintable(QString::fromStdString(next.to)));
        }
        const int renamed = choice == RecoveryChoice::Undo ? killAt : kSongs - killAt;
        VERIFY_RECOVERED(folder, journal, pending, choice, renamed);
    }
    if (shuffle && choice == RecoveryChoice::Finish)
        QCOMPARE(recordedPass(false, folder, journal).status, PassResult::Status::Completed);

    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(folder), original);
    VERIFY_VOLUME_SOUND(image);
}

// The recovery itself dies half-way (its window closed by force): opening the folder again finds
// the recovery unfinished, and finishing it gives every song its name back.
void TestMountedRecovery::recoveryKilled()
{
    QFETCH(FsKind, kind);
    PREPARE_MUSIC(kind, tmp, image, folder, original);

    const int killAt = kSongs / 2;
    QVERIFY2(killedPass(true, folder, killAt), "the pass was not killed");
    QVERIFY(image.remount().isEmpty());
    const int restoredBeforeKill = killAt / 2;
    const int exit = inChild([&] {
        korvalo::Journal journal;
        korvalo::PendingRecovery pending;
        if (korvalo::checkForRecovery(folder, journal, pending) != RecoveryCheck::Pending)
            return 1;
        RecordingProgress progress;
        progress.onStep = [&](int index, int) {
            if (index + 1 == restoredBeforeKill)
                ::kill(::getpid(), SIGKILL);
            return true;
        };
        korvalo::recoverFolder(folder, journal, pending, RecoveryChoice::Undo, progress);
        return 2; // not killed
    });
    QCOMPARE(exit, -1);
    QVERIFY(image.remount().isEmpty());

    korvalo::Journal journal;
    korvalo::PendingRecovery pending;
    VERIFY_PENDING(folder, journal, pending, korvalo::PassKind::Restore, killAt,
                   restoredBeforeKill);
    VERIFY_RECOVERED(folder, journal, pending, RecoveryChoice::Finish, killAt - restoredBeforeKill);
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(folder), original);
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedRecovery::stickPulledMidPass_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<bool>("duringRecovery"); // pulled while the shuffle is undone, not during it
    for (const FsKind kind : passKinds()) {
        QTest::addRow("%s: during a shuffle", kindName(kind)) << kind << false;
        QTest::addRow("%s: during its undoing", kindName(kind)) << kind << true;
    }
}

// The stick is pulled out (a lazy unmount) while a recorded shuffle, or the undoing of a killed
// one, works on it, and put in again.
void TestMountedRecovery::stickPulledMidPass()
{
    QFETCH(FsKind, kind);
    QFETCH(bool, duringRecovery);
    PREPARE_MUSIC(kind, tmp, image, folder, original);

    korvalo::Journal journal;
    const int killAt = kSongs / 2;
    if (duringRecovery) {
        QVERIFY2(killedPass(true, folder, killAt), "the pass was not killed");
        QVERIFY(image.remount().isEmpty());
    }
    // The file index after which the stick is gone.
    const int pulledAfter = duringRecovery ? killAt / 2 : kSongs / 2;
    QString unmountError = "not unmounted";
    RecordingProgress progress;
    progress.onStep = [&](int index, int) {
        if (index == pulledAfter)
            unmountError = image.unmount(true);
        return true;
    };
    korvalo::PendingRecovery pending;
    if (duringRecovery) {
        VERIFY_PENDING(folder, journal, pending, korvalo::PassKind::Shuffle, kSongs, killAt);
        const RecoveryResult pulled =
            korvalo::recoverFolder(folder, journal, pending, RecoveryChoice::Undo, progress);
        QCOMPARE(pulled.status, RecoveryResult::Status::Failed);
        QCOMPARE(pulled.cause.error, korvalo::RenameError::DeviceGone);
    } else {
        const PassResult run =
            recordedPass(true, folder, journal, korvalo::systemRenameCalls(), &progress);
        QCOMPARE(run.status, PassResult::Status::Failed);
    }
    VERIFY_NO_ERROR(unmountError);
    QVERIFY(image.mount().isEmpty());

    if (duringRecovery) {
        VERIFY_PENDING(folder, journal, pending, korvalo::PassKind::Restore, killAt,
                       pulledAfter + 1);
        VERIFY_RECOVERED(folder, journal, pending, RecoveryChoice::Finish,
                         killAt - pulledAfter - 1);
    } else {
        VERIFY_PENDING(folder, journal, pending, korvalo::PassKind::Shuffle, kSongs,
                       pulledAfter + 1);
        VERIFY_RECOVERED(folder, journal, pending, RecoveryChoice::Undo, pulledAfter + 1);
    }
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(folder), original);
    VERIFY_VOLUME_SOUND(image);
}

// A shuffle dies half-way; the stick comes back through another device and at another mount
// point. The journal knows the folder by the volume and the path inside it, so opening the folder
// there finds the unfinished pass.
void TestMountedRecovery::mountedElsewhere()
{
    QFETCH(FsKind, kind);
    PREPARE_MUSIC(kind, tmp, image, folder, original);

    const int killAt = kSongs / 2;
    QVERIFY2(killedPass(true, folder, killAt), "the pass was not killed");
    const auto keyThere = korvalo::journalKeyOf(folder);
    QVERIFY(keyThere);
    const QString oldMountPoint = image.dir();
    QVERIFY(image.unmount().isEmpty());
    VERIFY_NO_ERROR(image.moveTo(tmp.path() + "/elsewhere"));
    QVERIFY(image.mount().isEmpty());
    const fs::path here = image.root() / "Music";
    QVERIFY(image.dir() != oldMountPoint);

    korvalo::Journal journal;
    korvalo::PendingRecovery pending;
    VERIFY_PENDING(here, journal, pending, korvalo::PassKind::Shuffle, kSongs, killAt);
    QVERIFY2(pending.key == *keyThere,
             qPrintable(keyText(pending.key) + " is not " + keyText(*keyThere)));
    VERIFY_RECOVERED(here, journal, pending, RecoveryChoice::Undo, killAt);
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(here), original);
    VERIFY_VOLUME_SOUND(image);
}

// While another process holds the volume's lock (a pass or a recovery of another Korvalo), a
// recovery renames nothing and says the volume is busy; once it is let go, the recovery runs.
void TestMountedRecovery::volumeBusy()
{
    QFETCH(FsKind, kind);
    PREPARE_MUSIC(kind, tmp, image, folder, original);

    const int killAt = kSongs / 2;
    QVERIFY2(killedPass(true, folder, killAt), "the pass was not killed");
    QVERIFY(image.remount().isEmpty());
    korvalo::Journal journal;
    korvalo::PendingRecovery pending;
    VERIFY_PENDING(folder, journal, pending, korvalo::PassKind::Shuffle, kSongs, killAt);
    const Snapshot killed = snapshot(folder);

    const auto device = korvalo::deviceOf(folder);
    QVERIFY(device);
    LockHolder other([&] {
        return korvalo::PassLock::tryAcquire(korvalo::PassLock::lockFolder(), *device).lock;
    });
    QVERIFY2(other.held(), "the other process did not get the lock");
    korvalo::NullProgress progress;
    const RecoveryResult busy =
        korvalo::recoverFolder(folder, journal, pending, RecoveryChoice::Undo, progress);
    QCOMPARE(busy.status, RecoveryResult::Status::VolumeBusy);
    QCOMPARE(busy.renamed, 0);
    korvalo::PendingRecovery whileBusy;
    QCOMPARE(korvalo::checkForRecovery(folder, journal, whileBusy), RecoveryCheck::VolumeBusy);
    COMPARE_SNAPSHOTS(snapshot(folder), killed);

    other.release();
    VERIFY_RECOVERED(folder, journal, pending, RecoveryChoice::Undo, killAt);
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(folder), original);
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedRecovery::passKilledOnAClone_data()
{
    QTest::addColumn<QString>("onCopy"); // what is done on the copy while the pass is unfinished
    for (const char *what : {"status", "open", "shuffle and removal"})
        QTest::newRow(what) << QString(what);
}

// Two exFAT sticks written from one image (the same UUID, so the same journal key) on loop devices
// of their own. A shuffle killed on one stays its own to recover whatever is done on the copy:
// where the sticks' identities can be read, the copy works on a record of its own; where not,
// nothing on the copy settles the pass, and the copy's passes are refused.
void TestMountedRecovery::passKilledOnAClone()
{
    QFETCH(QString, onCopy);
    PREPARE_MUSIC(FsKind::ExFat, tmp, image, folder, original);
    MountedImage copy(FsKind::ExFat, tmp.path() + "/copy");
    QVERIFY(image.unmount().isEmpty() && QFile::copy(image.image(), copy.image()));
    QVERIFY(image.mount().isEmpty() && copy.mount().isEmpty());
    const fs::path there = copy.root() / "Music";
    const auto key = korvalo::journalKeyOf(folder), keyThere = korvalo::journalKeyOf(there);
    QVERIFY(key && keyThere && *key == *keyThere);
    const bool told = !key->stick.empty() && !keyThere->stick.empty();

    const int killAt = kSongs / 2;
    QVERIFY2(killedPass(true, folder, killAt), "the pass was not killed");
    QVERIFY(image.remount().isEmpty());
    korvalo::Journal journal;
    korvalo::PendingRecovery pending;
    if (onCopy.startsWith("shuffle")) {
        const auto status = told ? PassResult::Status::Completed : PassResult::Status::Refused;
        QCOMPARE(recordedPass(true, there, journal).status, status);
        QCOMPARE(recordedPass(false, there, journal).status, status);
    } else {
        const auto mode =
            onCopy == "status" ? korvalo::CheckMode::ReadOnly : korvalo::CheckMode::Settle;
        QCOMPARE(korvalo::checkForRecovery(there, journal, pending, nullptr, mode),
                 told ? RecoveryCheck::Nothing : RecoveryCheck::Unconfirmed);
    }
    COMPARE_SNAPSHOTS(snapshot(there), original);
    VERIFY_PENDING(folder, journal, pending, korvalo::PassKind::Shuffle, kSongs, killAt);
    VERIFY_RECOVERED(folder, journal, pending, RecoveryChoice::Undo, killAt);
    COMPARE_SNAPSHOTS(snapshot(folder), original);
    VERIFY_VOLUME_SOUND(image);
    VERIFY_VOLUME_SOUND(copy);
}

QTEST_GUILESS_MAIN(TestMountedRecovery)
#include "tst_mountedrecovery.moc"
