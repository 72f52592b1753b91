#include "passes/rename.h"
#include "standincalls.h"
#include "support/testdir.h"

#include <QTest>

#include <cerrno>

using korvalo::RenameError;
using korvalo::RenameOutcome;

class TestRename : public QObject
{
    Q_OBJECT

private slots:
    void realCalls_data();
    void realCalls();
    void fallbacks_data();
    void fallbacks();
    void learnsOncePerPass_data();
    void learnsOncePerPass();
    void errnoToCause_data();
    void errnoToCause();
};

void TestRename::realCalls_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<int>("error");

    QTest::newRow("free name") << "a.mp3"
                               << "1234a.mp3" << QStringList{"a.mp3"} << int(RenameError::None);
    QTest::newRow("onto an existing file")
        << "1234a.mp3"
        << "a.mp3" << QStringList{"a.mp3", "1234a.mp3"} << int(RenameError::TargetExists);
    QTest::newRow("source missing")
        << "gone.mp3"
        << "1234gone.mp3" << QStringList{} << int(RenameError::SourceMissing);
    QTest::newRow("name too long") << "a.mp3" << QString(256, 'x') + ".mp3" << QStringList{"a.mp3"}
                                   << int(RenameError::NameTooLong);
}

void TestRename::realCalls()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, existing);
    QFETCH(int, error);
    TestDir dir;
    for (const QString &name : existing)
        dir.touch(name.toStdString());
    const auto before = dir.contents();

    const RenameOutcome out =
        korvalo::renameNoReplace(dir / from.toStdString(), dir / to.toStdString());
    QCOMPARE(int(out.error), error);
    QCOMPARE(dir.contents(), before); // never a byte lost, whatever happened
    if (out.ok()) {
        QVERIFY(!std::filesystem::exists(dir / from.toStdString()));
        QCOMPARE(dir.read(to.toStdString()), "content of " + from.toStdString());
    } else {
        QVERIFY(out.osError != 0);
        for (const QString &name : existing) // each file still under its own name
            QCOMPARE(dir.read(name.toStdString()), "content of " + name.toStdString());
    }
}

// The roads through the fallbacks, as the file systems on USB sticks answer. The FAT answers were
// measured on real volumes: a full FAT16 root folder has no room for a longer name (ENOSPC), FAT
// refuses characters such as '?' (EINVAL), exfat-fuse and ntfs-3g refuse bytes that are not UTF-8
// (EILSEQ) and exfat-fuse answers ENOENT for some names it cannot store.
void TestRename::fallbacks_data()
{
    QTest::addColumn<int>("noReplaceAnswer");
    QTest::addColumn<int>("renameAnswer");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("error");

    const QStringList fallback{"renameat2", "lstat", "rename"};

    QTest::newRow("flag supported")
        << -1 << -1 << false << QStringList{"renameat2"} << int(RenameError::None);
    QTest::newRow("flag supported, target exists")
        << -1 << -1 << true << QStringList{"renameat2"} << int(RenameError::TargetExists);
    QTest::newRow("flag refused (FUSE): check, then rename")
        << EINVAL << -1 << false << fallback << int(RenameError::None);
    QTest::newRow("no renameat2 at all (ENOSYS): check, then rename")
        << ENOSYS << -1 << false << fallback << int(RenameError::None);
    QTest::newRow("flag refused, target exists: no rename at all")
        << EINVAL << -1 << true << QStringList{"renameat2", "lstat"}
        << int(RenameError::TargetExists);
    QTest::newRow("read-only: no fallback")
        << EROFS << -1 << false << QStringList{"renameat2"} << int(RenameError::ReadOnly);
    QTest::newRow("FAT: full root folder")
        << EINVAL << ENOSPC << false << fallback << int(RenameError::NoSpace);
    QTest::newRow("FAT: a character it refuses")
        << EINVAL << EINVAL << false << fallback << int(RenameError::InvalidName);
    QTest::newRow("exFAT/NTFS: a name that is not UTF-8")
        << EINVAL << EILSEQ << false << fallback << int(RenameError::InvalidName);
    QTest::newRow("exFAT: ENOENT for a name it cannot store")
        << EINVAL << ENOENT << false << (fallback + QStringList{"lstat"})
        << int(RenameError::InvalidName);
    QTest::newRow("exFAT/NTFS: over 255 UTF-16 units")
        << EINVAL << ENAMETOOLONG << false << fallback << int(RenameError::NameTooLong);
}

// Every row through both entry points, the one for paths and the one for native text.
void TestRename::fallbacks()
{
    QFETCH(int, noReplaceAnswer);
    QFETCH(int, renameAnswer);
    QFETCH(bool, targetExists);
    QFETCH(QStringList, calls);
    QFETCH(int, error);

    for (const bool text : {false, true}) {
        TestDir dir;
        dir.touch("a.mp3");
        if (targetExists)
            dir.touch("b.mp3");
        const auto before = dir.contents();
        StandInCalls sys;
        sys.noReplaceAnswer = noReplaceAnswer;
        sys.renameAnswer = renameAnswer;

        const RenameOutcome out = text
                                      ? korvalo::renameNoReplaceText((dir / "a.mp3").native(),
                                                                     (dir / "b.mp3").native(), sys)
                                      : korvalo::renameNoReplace(dir / "a.mp3", dir / "b.mp3", sys);
        QCOMPARE(sys.calls, calls);
        QCOMPARE(int(out.error), error);
        QCOMPARE(dir.contents(), before);
        if (out.ok()) {
            QCOMPARE(dir.names(), std::vector<std::string>{"b.mp3"});
            QCOMPARE(dir.read("b.mp3"), std::string("content of a.mp3"));
        } else {
            // The file keeps exactly its old name, and a file that was there keeps its content.
            QVERIFY(out.osError != 0);
            QCOMPARE(dir.read("a.mp3"), std::string("content of a.mp3"));
            if (targetExists)
                QCOMPARE(dir.read("b.mp3"), std::string("content of b.mp3"));
            else
                QVERIFY(!std::filesystem::exists(dir / "b.mp3"));
        }
    }
}

// One renamer over several files: after the first file whose fallback worked, the rest go straight
// to it. Only success teaches it.
void TestRename::learnsOncePerPass_data()
{
    QTest::addColumn<int>("noReplaceAnswer");
    QTest::addColumn<int>("firstRenameAnswer"); // what the first plain rename answers
    QTest::addColumn<QList<int>>("callsPerFile");
    QTest::addColumn<int>("road");

    QTest::newRow("local file system: one call each")
        << -1 << -1 << QList<int>{1, 1, 1, 1} << int(korvalo::RenameRoad::NoReplaceFlag);
    QTest::newRow("exfat-fuse, ntfs-3g: lstat and rename after the first")
        << EINVAL << -1 << QList<int>{3, 2, 2, 2} << int(korvalo::RenameRoad::CheckThenRename);
    QTest::newRow("old kernel (ENOSYS): the same")
        << ENOSYS << -1 << QList<int>{3, 2, 2, 2} << int(korvalo::RenameRoad::CheckThenRename);
    QTest::newRow("first name refused: nothing learnt from it")
        << EINVAL << EINVAL << QList<int>{3, 3, 2, 2} << int(korvalo::RenameRoad::CheckThenRename);
}

void TestRename::learnsOncePerPass()
{
    QFETCH(int, noReplaceAnswer);
    QFETCH(int, firstRenameAnswer);
    QFETCH(QList<int>, callsPerFile);
    QFETCH(int, road);

    TestDir dir;
    StandInCalls sys;
    sys.noReplaceAnswer = noReplaceAnswer;
    sys.renameAnswer = firstRenameAnswer;
    korvalo::Renamer renamer(sys);
    QCOMPARE(int(renamer.road()), int(korvalo::RenameRoad::Unknown));
    QList<int> counted;
    for (int k = 0; k < callsPerFile.size(); ++k) {
        const std::string name = "f" + std::to_string(k) + ".mp3";
        dir.touch(name);
        const qsizetype before = sys.calls.size();
        const RenameOutcome out =
            renamer.renameText((dir / name).native(), (dir / ("1234" + name)).native());
        counted << int(sys.calls.size() - before);
        QCOMPARE(out.ok(), k > 0 || firstRenameAnswer < 0);
        sys.renameAnswer = -1;
    }
    QCOMPARE(counted, callsPerFile);
    QCOMPARE(int(renamer.road()), road);

    // Once the flag has worked, EINVAL from it is the name's fault: no fallback is tried.
    if (road == int(korvalo::RenameRoad::NoReplaceFlag)) {
        sys.noReplaceAnswer = EINVAL;
        sys.calls.clear();
        const RenameOutcome out =
            renamer.renameText((dir / "1234f0.mp3").native(), (dir / "bad?.mp3").native());
        QCOMPARE(sys.calls, QStringList{"renameat2"});
        QCOMPARE(out.error, RenameError::InvalidName);
    }
}

void TestRename::errnoToCause_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("error");
    QTest::newRow("EEXIST") << EEXIST << int(RenameError::TargetExists);
    QTest::newRow("ENOTEMPTY") << ENOTEMPTY << int(RenameError::TargetExists);
    QTest::newRow("ENOENT") << ENOENT << int(RenameError::SourceMissing);
    QTest::newRow("EACCES") << EACCES << int(RenameError::PermissionDenied);
    QTest::newRow("EPERM") << EPERM << int(RenameError::PermissionDenied);
    QTest::newRow("EROFS") << EROFS << int(RenameError::ReadOnly);
    QTest::newRow("ENAMETOOLONG") << ENAMETOOLONG << int(RenameError::NameTooLong);
    QTest::newRow("EINVAL after the fallbacks") << EINVAL << int(RenameError::InvalidName);
    QTest::newRow("EILSEQ") << EILSEQ << int(RenameError::InvalidName);
    QTest::newRow("ENOSPC") << ENOSPC << int(RenameError::NoSpace);
    QTest::newRow("EBUSY") << EBUSY << int(RenameError::Busy);
    QTest::newRow("EIO") << EIO << int(RenameError::IoError);
    QTest::newRow("ENOTCONN") << ENOTCONN << int(RenameError::DeviceGone);
    QTest::newRow("ENODEV") << ENODEV << int(RenameError::DeviceGone);
    QTest::newRow("ESTALE") << ESTALE << int(RenameError::DeviceGone);
    QTest::newRow("ENOTDIR: the folder is a folder no more")
        << ENOTDIR << int(RenameError::FolderGone);
    QTest::newRow("EXDEV") << EXDEV << int(RenameError::Other);
}

void TestRename::errnoToCause()
{
    QFETCH(int, err);
    QFETCH(int, error);
    const RenameOutcome out = korvalo::renameOutcomeFromErrno(err);
    QCOMPARE(int(out.error), error);
    QCOMPARE(out.osError, err);
}

QTEST_APPLESS_MAIN(TestRename)
#include "tst_rename.moc"
