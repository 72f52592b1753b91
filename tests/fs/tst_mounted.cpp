// Both passes on real exFAT and NTFS file systems, mounted through FUSE the way a USB stick or SD
// card is on Linux without the kernel's own drivers: exFAT with exfat-fuse on a loop device, NTFS
// with ntfs-3g. There the kernel's no-replace rename is refused and a plain rename silently
// replaces an existing file (exFAT has no hard links either), so these tests prove on the real
// thing that no file is ever lost or overwritten, and the file system's checker proves that the
// volume is still sound afterwards.
//
// Needs root, /dev/fuse, loop devices and the tools (exfatprogs, exfat-fuse, ntfs-3g). Where any
// is missing the test reports itself skipped with the reason.

#include "mountedimage.h"
#include "volumefiles.h"

#include "browse/musicfilelist.h"
#include "passes/passes.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using korvalo::PassResult;
using korvalo::RenameError;

class TestMounted : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void removalNeverOverwrites_data();
    void removalNeverOverwrites();
    void readOnlyMount_data();
    void readOnlyMount();
    void lazyUnmountMidPass_data();
    void lazyUnmountMidPass();
    void daemonKilledMidPass_data();
    void daemonKilledMidPass();
    void nameLengthLimit_data();
    void nameLengthLimit();

private:
    static void addKinds();
};

void TestMounted::addKinds()
{
    QTest::addColumn<FsKind>("kind");
    for (const FsKind kind : passKinds())
        QTest::newRow(kindName(kind)) << kind;
}

// ---------------------------------------------------------------------------------------------

void TestMounted::roundTrip_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<std::vector<std::string>>("music");
    QTest::addColumn<std::vector<std::string>>("others");

    const std::vector<std::string> ascii{"Track 01.mp3", "track 2.flac", "a b  c.mp3", "UPPER.MP3",
                                         "Mixed.Flac",   "x.mp3",        "12 34.mp3",  "123a.flac"};
    // exFAT and NTFS store UTF-16: Chinese, accents (composed and decomposed), emoji, leading
    // blanks, and a 124-character Chinese name that is 364 bytes long (legal there, too long for
    // ext4).
    std::vector<std::string> unicode = ascii;
    for (const char *n :
         {"中文歌曲.mp3", "周杰伦 - 稻香.flac", "Café del Mar.mp3", "Cafe\xcc\x81 NFD.mp3",
          "  two leading blanks.mp3", "trailing blank .flac", "\xf0\x9f\x98\x80 emoji.mp3",
          "Ünïcödé Ñame.FLAC"})
        unicode.emplace_back(n);
    unicode.push_back(repeat("长", 120) + ".mp3");

    const std::vector<std::string> others{"cover.jpg", "notes.txt"};
    QTest::newRow("exFAT") << FsKind::ExFat << unicode << others;
    // NTFS through ntfs-3g tells letter case apart: two songs whose names differ only in case.
    std::vector<std::string> caseTwins = unicode;
    caseTwins.insert(caseTwins.end(), {"Song.mp3", "song.mp3"});
    QTest::newRow("NTFS") << FsKind::Ntfs << caseTwins << others;
    // FAT stores UTF-16 too (in its long names), through the kernel's vfat.
    if (kernelDrivers())
        for (const FsKind kind : {FsKind::Fat, FsKind::Fat16})
            QTest::newRow(kindName(kind)) << kind << unicode << others;
}

void TestMounted::roundTrip()
{
    QFETCH(FsKind, kind);
    QFETCH(std::vector<std::string>, music);
    QFETCH(std::vector<std::string>, others);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image, 180);

    std::vector<std::string> all = music;
    all.insert(all.end(), others.begin(), others.end());
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, all, {"folder.mp3"}));

    // Shuffle: every music file gets four digits in front, nothing else changes.
    RecordingProgress progress;
    const PassRun shuffle = runPass(true, image.root(), progress);
    QVERIFY(shuffle.listError.ok());
    QCOMPARE(shuffle.listed.size(), music.size());
    QVERIFY2(shuffle.result.status == PassResult::Status::Completed,
             qPrintable(describe(shuffle.result.cause)));
    QCOMPARE(shuffle.result.renamed, int(music.size()));
    VERIFY_NO_ERROR(image.remount());
    VERIFY_NO_ERROR(unaccounted(snapshot(image.root()), before, [&](auto &n, auto &o) {
        const bool isMusic = std::find(music.begin(), music.end(), o) != music.end();
        return isMusic ? hasPrefixBefore(n, o) : n == o;
    }));

    // Removal: every name exactly as before, every content byte-identical.
    const PassResult removal = runPass(false, image.root());
    QVERIFY2(removal.status == PassResult::Status::Completed, qPrintable(describe(removal.cause)));
    QCOMPARE(removal.renamed, int(music.size()));
    VERIFY_NO_ERROR(image.remount());
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    VERIFY_VOLUME_SOUND(image);
}

// ---------------------------------------------------------------------------------------------

void TestMounted::removalNeverOverwrites_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<std::vector<std::string>>("files");
    QTest::addColumn<std::string>("failing");               // the name whose rename must fail
    QTest::addColumn<std::string>("target");                // the name it was to get
    QTest::addColumn<std::vector<std::string>>("expected"); // "final=original" for every file

    for (const FsKind kind : passKinds()) {
        const char *k = kindName(kind);
        QTest::addRow("%s: two names strip to one", k)
            << kind << std::vector<std::string>{"1111a.mp3", "2222a.mp3", "3333b.mp3"}
            << std::string("2222a.mp3") << std::string("a.mp3")
            << std::vector<std::string>{"a.mp3=1111a.mp3", "2222a.mp3=2222a.mp3",
                                        "3333b.mp3=3333b.mp3"};
        QTest::addRow("%s: stripped name exists", k)
            << kind << std::vector<std::string>{"a.mp3", "1234a.mp3", "5678c.flac"}
            << std::string("1234a.mp3") << std::string("a.mp3")
            << std::vector<std::string>{"a.mp3=a.mp3", "1234a.mp3=1234a.mp3",
                                        "5678c.flac=5678c.flac"};
        if (kind == FsKind::Ntfs)
            continue; // NTFS tells case apart: Song.mp3 and song.mp3 are two names there
        // The file system ignores case: a plain rename to song.mp3 would destroy Song.mp3.
        QTest::addRow("%s: stripped name exists in other case", k)
            << kind << std::vector<std::string>{"Song.mp3", "1234song.mp3"}
            << std::string("1234song.mp3") << std::string("song.mp3")
            << std::vector<std::string>{"Song.mp3=Song.mp3", "1234song.mp3=1234song.mp3"};
        QTest::addRow("%s: upper case stripped name exists in lower case", k)
            << kind << std::vector<std::string>{"0001b.flac", "5678TRACK.FLAC", "track.flac"}
            << std::string("5678TRACK.FLAC") << std::string("TRACK.FLAC")
            << std::vector<std::string>{"b.flac=0001b.flac", "5678TRACK.FLAC=5678TRACK.FLAC",
                                        "track.flac=track.flac"};
    }
}

void TestMounted::removalNeverOverwrites()
{
    QFETCH(FsKind, kind);
    QFETCH(std::vector<std::string>, files);
    QFETCH(std::string, failing);
    QFETCH(std::string, target);
    QFETCH(std::vector<std::string>, expected);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, files));
    RecordingProgress progress;
    const PassRun run = runPass(false, image.root(), progress);
    QVERIFY(run.listError.ok());
    QCOMPARE(run.result.status, PassResult::Status::Failed);
    QVERIFY2(run.result.cause.error == RenameError::TargetExists,
             qPrintable(describe(run.result.cause)));
    QCOMPARE(run.result.oldName.native(), failing);
    QCOMPARE(run.result.newName.native(), target);
    QCOMPARE(run.listed.at(std::size_t(run.result.failedIndex)), failing);

    // The pass stopped at the failing file: every file before it was renamed, none after it.
    QVERIFY(image.remount().isEmpty());
    const Snapshot after = snapshot(image.root());
    Snapshot wanted;
    for (const std::string &pair : expected) {
        const auto eq = pair.find('=');
        QVERIFY(before.count(pair.substr(eq + 1)) == 1);
        wanted[pair.substr(0, eq)] = before.at(pair.substr(eq + 1));
    }
    COMPARE_SNAPSHOTS(after, wanted);
    QVERIFY(hashes(after) == hashes(before));
    VERIFY_VOLUME_SOUND(image);
}

// ---------------------------------------------------------------------------------------------

void TestMounted::readOnlyMount_data()
{
    addKinds();
}

void TestMounted::readOnlyMount()
{
    QFETCH(FsKind, kind);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, {"a.mp3", "b.flac", "4321c.mp3"}));
    VERIFY_NO_ERROR(image.remount(true));

    for (const bool shuffle : {true, false}) {
        RecordingProgress progress;
        const PassRun run = runPass(shuffle, image.root(), progress);
        QVERIFY2(run.listError.ok(), "a read-only stick still lists");
        QCOMPARE(run.result.status, PassResult::Status::Failed);
        QVERIFY2(run.result.cause.error == RenameError::ReadOnly,
                 qPrintable(describe(run.result.cause)));
        QCOMPARE(run.result.cause.osError, EROFS);
        QCOMPARE(run.result.renamed, 0);
        // The first file the pass renames: index 0 for a shuffle, 4321c.mp3 for the removal.
        QCOMPARE(run.listed.at(std::size_t(run.result.failedIndex)),
                 std::string(shuffle ? run.listed.front() : "4321c.mp3"));
        COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    }
    VERIFY_NO_ERROR(image.remount());
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    VERIFY_VOLUME_SOUND(image);
}

// ---------------------------------------------------------------------------------------------

namespace {

// What a pass over six files left after the device went away after the second file: the first
// two carry a prefix, the rest keep their names, and every content is there exactly once.
QString stoppedAfterTwo(const PassRun &run, const Snapshot &before, const Snapshot &after)
{
    return unaccounted(after, before, [&](const std::string &n, const std::string &o) {
        return o == run.listed.at(0) || o == run.listed.at(1) ? hasPrefixBefore(n, o) : n == o;
    });
}

const std::vector<std::string> kSixFiles{"a.mp3", "b.mp3", "c.flac", "d.mp3", "e.mp3", "f.flac"};

} // namespace

void TestMounted::lazyUnmountMidPass_data()
{
    addKinds();
}

// The stick is taken away in the middle of a pass, the way a file manager's eject or a desktop's
// automounter does it: a lazy unmount while Korvalo is working.
void TestMounted::lazyUnmountMidPass()
{
    QFETCH(FsKind, kind);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, kSixFiles));

    const pid_t daemon = image.daemon();
    QString unmountError = "not unmounted";
    RecordingProgress progress;
    progress.onStep = [&](int index, int) {
        if (index == 1)
            unmountError = image.unmount(true);
        return true;
    };
    const PassRun run = runPass(true, image.root(), progress);
    VERIFY_NO_ERROR(unmountError);
    QVERIFY(kernelDrivers() || (daemon > 0 && processEnded(daemon)));

    QCOMPARE(run.result.status, PassResult::Status::Failed);
    QCOMPARE(run.result.failedIndex, 2);
    QCOMPARE(run.result.renamed, 2);
    QCOMPARE(progress.steps, QList<int>({0, 1}));
    // The path now leads to the empty folder under the mount, so the rename answers ENOENT; the
    // pass sees that the folder is on another file system now and says the device is gone.
    qInfo("%s, lazy unmount after the second file: the third rename failed with %s", kindName(kind),
          qPrintable(describe(run.result.cause)));
    const RenameError cause = run.result.cause.error;
    QVERIFY2(cause == RenameError::DeviceGone || cause == RenameError::IoError,
             qPrintable(describe(run.result.cause)));

    // Nothing was written to the folder under the mount, and on the stick nothing is lost.
    QVERIFY(fs::is_empty(image.root()));
    VERIFY_NO_ERROR(image.mount());
    VERIFY_NO_ERROR(stoppedAfterTwo(run, before, snapshot(image.root())));
    VERIFY_VOLUME_SOUND(image);
}

void TestMounted::daemonKilledMidPass_data()
{
    addKinds();
}

// The FUSE daemon dies in the middle of a pass (the program that serves the stick crashed, or the
// device under it vanished): every further call on the mount answers ENOTCONN.
void TestMounted::daemonKilledMidPass()
{
    QFETCH(FsKind, kind);
    if (kernelDrivers())
        QSKIP("the kernel's drivers have no daemon to kill");
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, kSixFiles));

    const pid_t daemon = image.daemon();
    QVERIFY(daemon > 0);
    bool ended = false;
    RecordingProgress progress;
    progress.onStep = [&](int index, int) {
        if (index == 1) {
            ::kill(daemon, SIGKILL);
            ended = waitEnded(daemon, 10000);
        }
        return true;
    };
    const PassRun run = runPass(true, image.root(), progress);
    QVERIFY(ended);
    QCOMPARE(run.result.status, PassResult::Status::Failed);
    QCOMPARE(run.result.failedIndex, 2);
    QCOMPARE(run.result.renamed, 2);
    qInfo("%s, FUSE daemon killed after the second file: the third rename failed with %s",
          kindName(kind), qPrintable(describe(run.result.cause)));
    QVERIFY2(run.result.cause.error == RenameError::DeviceGone,
             qPrintable(describe(run.result.cause)));

    // Listing the dead mount says so too.
    korvalo::MusicFileList list;
    const korvalo::ListError listError = list.setFolder(image.root());
    QCOMPARE(listError.kind, korvalo::ListError::Kind::DeviceGone);

    // Mounted again, the stick holds every file exactly once.
    VERIFY_NO_ERROR(image.remount());
    VERIFY_NO_ERROR(stoppedAfterTwo(run, before, snapshot(image.root())));
    VERIFY_VOLUME_SOUND(image);
}

// ---------------------------------------------------------------------------------------------

void TestMounted::nameLengthLimit_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<std::string>("name");
    QTest::addColumn<bool>("fits");
    // exFAT and NTFS count UTF-16 units: 255 at most. Chinese characters take three bytes each,
    // so these names are far longer than 255 bytes and still legal there.
    for (const FsKind kind : passKinds()) {
        const char *k = kindName(kind);
        QTest::addRow("%s: ASCII, 251 units", k) << kind << repeat("a", 247) + ".mp3" << true;
        QTest::addRow("%s: ASCII, 252 units", k) << kind << repeat("a", 248) + ".mp3" << false;
        QTest::addRow("%s: Chinese, 251 units (745 bytes)", k)
            << kind << repeat("歌", 247) + ".mp3" << true;
        QTest::addRow("%s: Chinese, 252 units (748 bytes)", k)
            << kind << repeat("歌", 248) + ".mp3" << false;
    }
}

void TestMounted::nameLengthLimit()
{
    QFETCH(FsKind, kind);
    QFETCH(std::string, name);
    QFETCH(bool, fits);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    Snapshot before;
    VERIFY_NO_ERROR(populate(image, before, {name, "b.mp3"}));
    RecordingProgress progress;
    const PassRun run = runPass(true, image.root(), progress);
    QCOMPARE(run.listed.size(), std::size_t(2));
    VERIFY_NO_ERROR(image.remount());
    const Snapshot after = snapshot(image.root());
    QVERIFY(hashes(after) == hashes(before));
    if (fits) {
        QVERIFY2(run.result.status == PassResult::Status::Completed,
                 qPrintable(describe(run.result.cause)));
        VERIFY_NO_ERROR(unaccounted(after, before, hasPrefixBefore));
    } else {
        QCOMPARE(run.result.status, PassResult::Status::Failed);
        qInfo("%s, prefix pushes a name to 256 UTF-16 units: %s", kindName(kind),
              qPrintable(describe(run.result.cause)));
        QVERIFY2(run.result.cause.error == RenameError::NameTooLong,
                 qPrintable(describe(run.result.cause)));
        QCOMPARE(run.result.oldName.native(), name);
        QVERIFY(after.count(name) == 1 && after.at(name) == before.at(name));
    }
    VERIFY_VOLUME_SOUND(image);
}

QTEST_GUILESS_MAIN(TestMounted)
#include "tst_mounted.moc"
