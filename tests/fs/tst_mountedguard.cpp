// The guards every pass passes before it renames anything, on real FUSE mounts: the mount lookup
// names the file system behind exfat-fuse, ntfs-3g and fusefat; a pass on a fusefat mount is
// refused (that driver damages folders and loses files when renaming); and two passes on one
// volume at once, in two processes, never run together: the second is refused and nothing is lost.
// How the journal knows a folder: on exFAT and FAT, which ignore case, the folder opened as
// "MUSIC/album" has the path the volume stores; sticks written from one image (one UUID) have
// different identities, and one attached again through another loop device keeps its own.
//
// Needs root, /dev/fuse, loop devices, exfat-fuse, ntfs-3g and fusefat.

#include "mountedimage.h"
#include "volumefiles.h"

#include "browse/mountinfo.h"
#include "journal/passlock.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "session/windowview.h"
#include "support/childprocess.h"
#include "support/planrun.h"
#include "support/scriptedasker.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassResult;
using Status = korvalo::PassResult::Status;
using Refusal = korvalo::PassResult::Refusal;

namespace {

std::vector<std::string> songNames(const std::string &stem, int n)
{
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i)
        out.push_back(stem + " " + std::to_string(i) + (i % 3 ? ".mp3" : ".flac"));
    return out;
}

// What a pass in a child process reports to the test.
struct ChildOutcome
{
    Status status = Status::Failed;
    Refusal refusal = Refusal::None;
    int renamed = -1;
};

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

// A pass run in its own process, as a second Korvalo window or a script would run it. With
// `holdAtFirstFile` it stops inside its first progress step, after the first rename, until the
// test lets it go on.
class ChildPass
{
public:
    ChildPass(bool shuffle, const fs::path &folder, bool holdAtFirstFile)
    {
        if (::pipe(m_result) != 0 || ::pipe(m_held) != 0 || ::pipe(m_go) != 0)
            return;
        m_pid = forkTestChild();
        if (m_pid != 0) {
            ::close(m_result[1]);
            ::close(m_held[1]);
            ::close(m_go[0]);
            return;
        }
        RecordingProgress progress;
        progress.onStep = [&](int index, int) {
            if (holdAtFirstFile && index == 0) {
                const char byte = 1;
                char go = 0;
                (void)!::write(m_held[1], &byte, 1);
                if (!waitReadable(m_go[0], 60000) || ::read(m_go[0], &go, 1) != 1)
                    ::_exit(3);
            }
            return true;
        };
        const PassRun run = runPass(shuffle, folder, progress);
        const ChildOutcome out{run.result.status, run.result.refusal, run.result.renamed};
        (void)!::write(m_result[1], &out, sizeof out);
        ::_exit(0);
    }
    ~ChildPass()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_result[0], m_held[0], m_go[1]})
            if (fd >= 0)
                ::close(fd);
    }
    ChildPass(const ChildPass &) = delete;
    ChildPass &operator=(const ChildPass &) = delete;

    bool started() const { return m_pid > 0; }
    // True once the pass holds inside its first step.
    bool waitHeld()
    {
        char byte = 0;
        return waitReadable(m_held[0], 30000) && ::read(m_held[0], &byte, 1) == 1;
    }
    void letGo()
    {
        const char byte = 1;
        (void)!::write(m_go[1], &byte, 1);
    }
    void kill()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // The pass's outcome once it has ended; nullopt when it did not report within the time.
    std::optional<ChildOutcome> finish()
    {
        ChildOutcome out;
        const bool got = waitReadable(m_result[0], 60000) &&
                         ::read(m_result[0], &out, sizeof out) == ssize_t(sizeof out);
        if (!got)
            return std::nullopt;
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return out;
    }

private:
    pid_t m_pid = -1;
    int m_result[2] = {-1, -1};
    int m_held[2] = {-1, -1};
    int m_go[2] = {-1, -1};
};

QString describe(const ChildOutcome &o)
{
    return QStringLiteral("status %1, refusal %2, renamed %3")
        .arg(int(o.status))
        .arg(int(o.refusal))
        .arg(o.renamed);
}

} // namespace

class TestMountedGuard : public QObject
{
    Q_OBJECT

private slots:
    void mountLookup_data();
    void mountLookup();
    void storedSpelling_data();
    void storedSpelling();
    void clonesTellApart_data();
    void clonesTellApart();
    void fusefatRefused();
    void stoppedAtTheLastFile();
    void twoPassesAtOnce();
    void lockEndsWithItsProcess();
    void stickPulledBeforeClick();
};

void TestMountedGuard::mountLookup_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<std::string>("fsType");
    QTest::addColumn<bool>("unsafe");
    if (kernelDrivers()) {
        QTest::newRow("exFAT") << FsKind::ExFat << std::string("exfat") << false;
        QTest::newRow("NTFS") << FsKind::Ntfs << std::string("ntfs3") << false;
        QTest::newRow("FAT32") << FsKind::Fat << std::string("vfat") << false;
        QTest::newRow("FAT16") << FsKind::Fat16 << std::string("vfat") << false;
        return;
    }
    // mountinfo says only "fuseblk" or "fuse" for the first two: the type comes from the source.
    QTest::newRow("exFAT") << FsKind::ExFat << std::string("exfat") << false;
    QTest::newRow("NTFS") << FsKind::Ntfs << std::string("ntfs") << false;
    QTest::newRow("FAT32") << FsKind::Fat << std::string("fuse.fusefat") << true;
}

void TestMountedGuard::mountLookup()
{
    QFETCH(FsKind, kind);
    QFETCH(std::string, fsType);
    QFETCH(bool, unsafe);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    QVERIFY(fs::create_directories(image.root() / "Music" / "Car"));

    const std::optional<korvalo::MountInfo> info = korvalo::mountOf(image.root() / "Music" / "Car");
    QVERIFY(info.has_value());
    QCOMPARE(QString::fromStdString(info->fsType), QString::fromStdString(fsType));
    QCOMPARE(korvalo::isUnsafeDriver(*info), unsafe);
    QCOMPARE(QString::fromStdString(info->mountPoint.string()), image.dir());
    QCOMPARE(QString::fromStdString(info->pathInVolume.generic_string()), QString("/Music/Car"));
    QCOMPARE(QString::fromStdString(korvalo::mountOf(image.root())->pathInVolume.generic_string()),
             QString("/"));
    // fusefat names itself as the source: only the other two tell where the volume lives.
    if (kind != FsKind::Fat || kernelDrivers()) {
        QCOMPARE(QString::fromStdString(info->source), image.source());
        // The volume's own UUID, as libblkid reads it from the source.
        const ToolResult blkid =
            runTool("blkid", {"-p", "-s", "UUID", "-o", "value", image.source()});
        QVERIFY2(blkid.ok && !blkid.output.isEmpty(), qPrintable(blkid.output));
        QCOMPARE(QString::fromStdString(info->uuid), blkid.output);
    }
    QVERIFY(!korvalo::mountOf(image.root() / "no such folder").has_value());
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedGuard::storedSpelling_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");

    QTest::newRow("exFAT, other case") << FsKind::ExFat << "/Music/Album"
                                       << "/MUSIC/album";
    QTest::newRow("exFAT, non-ASCII letters") << FsKind::ExFat << "/Ärger/Łódź ΟΔΟΣ"
                                              << "/äRGER/łÓDŹ οδος";
    // fusefat stores no name beyond ASCII.
    QTest::newRow("FAT32, other case") << FsKind::Fat << "/Music/Album"
                                       << "/music/ALBUM";
    // The kernel's vfat ignores the case of ASCII letters only when it stores names in UTF-8.
    if (kernelDrivers())
        QTest::newRow("FAT16, other case") << FsKind::Fat16 << "/Music/Album"
                                           << "/MUSIC/album";
}

void TestMountedGuard::storedSpelling()
{
    QFETCH(FsKind, kind);
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const fs::path root = image.root();
    QVERIFY(fs::create_directories(root / stored.mid(1).toStdString()));
    const fs::path opened = root / typed.mid(1).toStdString();

    const std::optional<korvalo::MountInfo> info = korvalo::mountOf(opened);
    QVERIFY(info.has_value());
    QCOMPARE(QString::fromStdString(info->pathInVolume.native()), stored);
    QCOMPARE(QString::fromStdString(info->typedPathInVolume.native()), typed);
    // The journal's key of the folder, however it was typed, is the one of the stored spelling.
    const auto key = korvalo::journalKeyOf(opened);
    QVERIFY(key.has_value());
    QVERIFY(key == korvalo::journalKeyOf(root / stored.mid(1).toStdString()));
    QCOMPARE(QString::fromStdString(key->pathInVolume), stored);
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedGuard::clonesTellApart_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::newRow("exFAT on loop devices") << FsKind::ExFat;
    QTest::newRow("NTFS on image files") << FsKind::Ntfs;
}

void TestMountedGuard::clonesTellApart()
{
    QFETCH(FsKind, kind);
    REQUIRE_MOUNTABLE(kind);
    QTemporaryDir tmpA;
    QTemporaryDir tmpB;
    QVERIFY(tmpA.isValid() && tmpB.isValid());
    MountedImage a(kind, tmpA.path());
    MountedImage b(kind, tmpB.path());
    const QString created = a.create();
    QVERIFY2(created.isEmpty(), qPrintable(created));
    const ToolResult copied = runTool("cp", {"--sparse=always", a.image(), b.image()});
    QVERIFY2(copied.ok, qPrintable(copied.output));
    QVERIFY(a.mount().isEmpty());
    QVERIFY(b.mount().isEmpty());

    const std::optional<korvalo::MountInfo> first = korvalo::mountOf(a.root());
    const std::optional<korvalo::MountInfo> clone = korvalo::mountOf(b.root());
    QVERIFY(first && clone);
    QVERIFY(!first->uuid.empty());
    QCOMPARE(clone->uuid, first->uuid);
    QCOMPARE(QString::fromStdString(first->identity),
             "file:" + QString::fromStdString(fs::canonical(a.image().toStdString()).native()));
    QVERIFY2(clone->identity != first->identity && !clone->identity.empty(),
             clone->identity.c_str());

    // Plugged in again: exFAT through a new loop device, NTFS from the same file.
    QVERIFY(a.unmount().isEmpty());
    if (kind == FsKind::ExFat)
        QVERIFY(a.moveTo(tmpA.path() + "/again").isEmpty());
    QVERIFY(a.mount().isEmpty());
    const std::optional<korvalo::MountInfo> again = korvalo::mountOf(a.root());
    QVERIFY(again.has_value());
    if (kind == FsKind::ExFat)
        QVERIFY(again->source != first->source);
    QCOMPARE(again->identity, first->identity);
    VERIFY_VOLUME_SOUND(a);
    VERIFY_VOLUME_SOUND(b);
}

// fusefat damages a folder that outgrows one cluster when its files are renamed, and deletes a
// file whose new name it cannot store: no pass runs there. A small folder (that fusefat itself
// would survive) shows that the refusal comes before anything is renamed.
void TestMountedGuard::fusefatRefused()
{
    if (kernelDrivers())
        QSKIP("fusefat is not the kernel's vfat");
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::Fat, tmp, image);
    std::vector<std::string> files = songNames("Track", 6);
    files.insert(files.end(), {"1234Track 7.mp3", "5678Track 8.flac", "cover.jpg"});
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, files));

    for (const bool shuffle : {true, false}) {
        RecordingProgress progress;
        const PassRun run = runPass(shuffle, image.root(), progress);
        QVERIFY(run.listError.ok());
        QCOMPARE(run.result.status, Status::Refused);
        QCOMPARE(run.result.refusal, Refusal::UnsafeDriver);
        QCOMPARE(run.result.renamed, 0);
        COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    }
    // The session refuses as it plans: before a question, and in a dry run.
    using korvalo::session::FolderSession;
    const auto terminal = korvalo::texts::Front::Terminal;
    FolderSession session(terminal);
    QCOMPARE(session.open(image.root()).songs, 8);
    for (const auto detail : {FolderSession::Detail::Decisions, FolderSession::Detail::Renames}) {
        for (const auto kind : {korvalo::PassKind::Shuffle, korvalo::PassKind::Removal}) {
            ScriptedAsker asker;
            const korvalo::session::Plan plan = session.planPass(kind, asker, detail);
            QVERIFY(!plan.runnable());
            QCOMPARE(plan.report.problems,
                     std::vector<std::string>{korvalo::texts::unsafeDriver(terminal)});
            QVERIFY(asker.met.empty());
        }
    }
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    VERIFY_VOLUME_SOUND(image);
}

// A pass stopped at its last file leaves nothing to ask on the stick it ran on: its record is
// settled as the folder is looked at again, so the next pass is not refused for an unfinished
// pass that is not there.
void TestMountedGuard::stoppedAtTheLastFile()
{
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, songNames("Track", 4)));
    using Outcome = korvalo::session::Report::Outcome;
    korvalo::session::FolderSession session(korvalo::texts::Front::Window);
    session.open(image.root());
    ScriptedAsker asker;
    int handled = 0;
    session.setStopCheck([&] { return ++handled >= 4; });
    const korvalo::session::Report stopped =
        runPlan(session, session.planPass(korvalo::PassKind::Shuffle, asker));
    QCOMPARE(stopped.outcome, Outcome::Stopped);
    QCOMPARE(stopped.renamed, 4);
    QCOMPARE(session.state().kind, korvalo::session::FolderState::Kind::Prefixed);
    session.setStopCheck({});
    const korvalo::session::Report removed =
        runPlan(session, session.planPass(korvalo::PassKind::Removal, asker));
    QCOMPARE(removed.outcome, Outcome::Done);
    QCOMPARE(removed.renamed, 4);
    QCOMPARE(asker.unscripted, 0);
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    VERIFY_VOLUME_SOUND(image);
}

// Two passes on one exFAT volume at once, each in its own process: the first holds inside its
// first file while the second starts, in the same folder, in the same folder spelled in other
// letter case (the same folder on exFAT), or in another folder of the same volume. The second is
// always refused before it renames anything; the first then runs through; nothing is lost.
void TestMountedGuard::twoPassesAtOnce()
{
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image, 150);
    const fs::path music = image.root() / "Music";
    const fs::path other = image.root() / "Other";
    const std::vector<fs::path> secondFolders{music, image.root() / "MUSIC", other};
    QVERIFY(fs::create_directory(music) && fs::create_directory(other));
    Snapshot originalOther;
    VERIFY_NO_ERROR(populate(image, originalOther, songNames("Other", 5), {}, other));
    Snapshot originalMusic;
    VERIFY_NO_ERROR(populate(image, originalMusic, songNames("Song", 8), {}, music));

    const int runs = 30;
    for (int run = 0; run < runs; ++run) {
        // The first pass alternates, so every second run gives the files their names back.
        const bool firstShuffles = run % 2 == 0;
        const fs::path &secondFolder = secondFolders[std::size_t(run) % secondFolders.size()];
        const bool secondShuffles = (run / 2) % 2 == 0;
        const QString context = QStringLiteral("run %1, second pass %2 in %3")
                                    .arg(run)
                                    .arg(secondShuffles ? "shuffle" : "removal")
                                    .arg(QString::fromStdString(secondFolder.string()));

        ChildPass first(firstShuffles, music, true);
        QVERIFY(first.started());
        QVERIFY2(first.waitHeld(), qPrintable(context + ": the first pass did not start"));
        const Snapshot heldMusic = snapshot(music);
        const Snapshot heldOther = snapshot(other);

        ChildPass second(secondShuffles, secondFolder, false);
        QVERIFY(second.started());
        const std::optional<ChildOutcome> refused = second.finish();
        QVERIFY2(refused, qPrintable(context + ": the second pass did not end"));
        QVERIFY2(refused->status == Status::Refused && refused->refusal == Refusal::VolumeBusy &&
                     refused->renamed == 0,
                 qPrintable(context + ": " + describe(*refused)));
        COMPARE_SNAPSHOTS(snapshot(music), heldMusic);
        COMPARE_SNAPSHOTS(snapshot(other), heldOther);

        first.letGo();
        const std::optional<ChildOutcome> done = first.finish();
        QVERIFY2(done, qPrintable(context + ": the first pass did not end"));
        QVERIFY2(done->status == Status::Completed && done->renamed == 8,
                 qPrintable(context + ": first pass " + describe(*done)));
        const Snapshot now = snapshot(music);
        QVERIFY2(holdsEveryFileOnce(now, originalMusic), qPrintable(context + ": " + show(now)));
        if (!firstShuffles)
            COMPARE_SNAPSHOTS(now, originalMusic);
        COMPARE_SNAPSHOTS(snapshot(other), originalOther);
        if (run % 10 == 9) {
            VERIFY_VOLUME_SOUND(image);
            QVERIFY(image.mount().isEmpty());
        }
    }
    VERIFY_VOLUME_SOUND(image);
}

// A pass killed while it holds the volume leaves no lock behind: the next pass runs.
void TestMountedGuard::lockEndsWithItsProcess()
{
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, songNames("Song", 5)));

    ChildPass first(true, image.root(), true);
    QVERIFY(first.started());
    QVERIFY(first.waitHeld());
    first.kill();
    const PassResult next = runPass(false, image.root());
    QVERIFY2(next.status == Status::Completed, qPrintable(describe(next.cause)));
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    VERIFY_VOLUME_SOUND(image);
}

// The stick pulled out after its folder was opened: a click renames nothing, empties the list and
// says the stick is gone, not that another program moved the files.
void TestMountedGuard::stickPulledBeforeClick()
{
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image);
    for (const std::string &name : songNames("Track", 3))
        QVERIFY(writeFile(image.root() / name, contentFor(name)));
    korvalo::session::FolderSession session(korvalo::texts::Front::Window);
    QCOMPARE(session.open(image.root()).songs, 3);
    QVERIFY(image.unmount().isEmpty());

    ScriptedAsker asker;
    const korvalo::session::Plan plan = session.planPass(korvalo::PassKind::Shuffle, asker);
    QVERIFY(!plan.runnable());
    QCOMPARE(session.list().count(), 0);
    const std::vector<korvalo::session::Notice> notices =
        korvalo::session::noticesOf(plan.report, session.state());
    QCOMPARE(notices.size(), std::size_t(1));
    QCOMPARE(notices[0].title, std::string(korvalo::texts::title::kStickGone));
    QVERIFY2(notices[0].text.starts_with("U盘已被拔出"), notices[0].text.c_str());
    VERIFY_VOLUME_SOUND(image);
}

QTEST_GUILESS_MAIN(TestMountedGuard)
#include "tst_mountedguard.moc"
