#include "qtwindow/dirlist.h"
#include "qtwindow/drivelist.h"
#include "qtwindow/filelist.h"
#include "support/testdir.h"
#include "support/volumerows.h"

#include <QSignalSpy>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <filesystem>

using korvalo::ListError;
using korvalo::Volume;

namespace fs = std::filesystem;

namespace {

// The folder list's rows from top to bottom, as text and depth.
QList<QPair<QString, int>> rows(DirList &dir)
{
    QList<QPair<QString, int>> out;
    for (QTreeWidgetItemIterator it(&dir); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem *p = (*it)->parent(); p; p = p->parent())
            ++depth;
        out.append({(*it)->text(0), depth});
    }
    return out;
}

QString native(const fs::path &p)
{
    return QString::fromStdString(p.native());
}

void showList(DirList &list)
{
    list.resize(300, 400);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
}

void doubleClick(DirList &dir, QTreeWidgetItem *item)
{
    QVERIFY(item);
    dir.scrollToItem(item);
    // As a real double click arrives: a click, then the double click.
    const QPoint at = dir.visualItemRect(item).center();
    QTest::mouseClick(dir.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(dir.viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void driveListChoice();
    void driveListKeepsShownDriveThatWentAway();

    void dirListShowsChainAndSubfolders();
    void dirListActivation_data();
    void dirListActivation();
    void dirListSetPathFailureChangesNothing_data();
    void dirListSetPathFailureChangesNothing();
    void dirListReportsFolderThatWentAway();
    void dirListEntersNonUtf8Folder();

    void fileListShowsACopy();
    void fileListFortyThousandNames();
};

void TestNavigation::driveListChoice()
{
    DriveList drives;
    drives.setVolumeSource([] {
        return volumes({"/|ext4|", "/media/nem/MUSIC|vfat|MUSIC", "/mnt/share|cifs|"});
    });
    QCOMPARE(drives.count(), 3);
    QCOMPARE(drives.itemText(1), QStringLiteral("MUSIC (/media/nem/MUSIC)"));
    QCOMPARE(native(drives.drive()), QStringLiteral("/"));

    QSignalSpy change(&drives, &DriveList::changed);
    drives.setDrive("/media/nem/MUSIC/Album/CD1");
    QCOMPARE(native(drives.drive()), QStringLiteral("/media/nem/MUSIC"));
    QCOMPARE(change.count(), 0); // set by the program: no signal

    QTest::keyClick(&drives, Qt::Key_Down); // the user picks the next drive
    QCOMPARE(native(drives.drive()), QStringLiteral("/mnt/share"));
    QCOMPARE(change.count(), 1);
    drives.activated(drives.currentIndex()); // the same drive again: nothing changes
    QCOMPARE(change.count(), 1);
    QTest::keyClick(&drives, Qt::Key_Home);
    QCOMPARE(native(drives.drive()), QStringLiteral("/"));
    QCOMPARE(change.count(), 2);
}

void TestNavigation::driveListKeepsShownDriveThatWentAway()
{
    bool stickIn = true;
    DriveList drives;
    drives.setVolumeSource([&] {
        return stickIn ? volumes({"/|ext4|", "/media/STICK|vfat|STICK", "/media/ZIP|vfat|ZIP"})
                       : volumes({"/|ext4|", "/media/ZIP|vfat|ZIP"});
    });
    drives.setDrive("/media/STICK");
    stickIn = false;
    drives.refreshVolumes();
    QCOMPARE(native(drives.drive()), QStringLiteral("/media/STICK"));
    QCOMPARE(drives.count(), 3);
    drives.setDrive("/media/ZIP");
    drives.refreshVolumes();
    QCOMPARE(drives.count(), 2); // gone once it is no longer shown
    QCOMPARE(native(drives.drive()), QStringLiteral("/media/ZIP"));
}

void TestNavigation::dirListShowsChainAndSubfolders()
{
    TestDir dir;
    dir.mkdir("a/b/c/x");
    dir.mkdir("a/b/c/y10");
    dir.mkdir("a/b/c/y9");
    dir.mkdir("a/b/c/.hidden");
    dir.touch("a/b/c/song.mp3");
    dir.mkdir("a/b/c/x/deeper");
    dir.mkdir("a/sibling");

    DirList list;
    list.setRootFinder([&](const fs::path &) { return dir.path(); });
    QSignalSpy change(&list, &DirList::changed);
    QVERIFY(list.setPath(dir / "a/b/c").ok());
    QCOMPARE(change.count(), 1);
    QCOMPARE(list.path(), dir / "a/b/c");

    const QList<QPair<QString, int>> expected = {
        {native(dir.path()), 0}, {"a", 1}, {"b", 2}, {"c", 3}, {"x", 4}, {"y9", 4}, {"y10", 4}};
    QCOMPARE(rows(list), expected);
    QCOMPARE(list.subfolderCount(), 3);
    QCOMPARE(list.subfolder(0), dir / "a/b/c/x");
    QCOMPARE(list.currentItem(), list.itemFor(dir / "a/b/c"));

    // "." and ".." parts and a trailing separator name the same folder.
    QVERIFY(list.setPath(dir / "a/b/c/x/../").ok());
    QCOMPARE(list.path(), dir / "a/b/c");
    QCOMPARE(change.count(), 2);

    // Without a drive root that holds it, the chain starts at the file system's root.
    list.setRootFinder([](const fs::path &) { return fs::path("/nowhere"); });
    QVERIFY(list.setPath(dir / "a").ok());
    const auto shown = rows(list);
    QCOMPARE(shown.front(), (QPair<QString, int>{"/", 0}));
    const auto a =
        std::find_if(shown.begin(), shown.end(), [](const auto &r) { return r.first == "a"; });
    QVERIFY(a != shown.end());
    QCOMPARE(shown.last(), (QPair<QString, int>{"sibling", a->second + 1}));
}

void TestNavigation::dirListActivation_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("opens");     // else the folder shown, "top", stays
    QTest::addColumn<QString>("target"); // below the root

    QTest::newRow("double click a subfolder") << "double" << true << "top/sub1";
    QTest::newRow("double click an ancestor") << "double" << true << "";
    QTest::newRow("double click the folder itself reads it again") << "double" << true << "top";
    QTest::newRow("Enter on a subfolder") << "enter" << true << "top/sub2";
    QTest::newRow("Return on a subfolder") << "return" << true << "top/sub2";
    QTest::newRow("single click only selects") << "click" << false << "top/sub1";
    QTest::newRow("arrow keys only select") << "down" << false << "top/sub1";
}

void TestNavigation::dirListActivation()
{
    QFETCH(QString, how);
    QFETCH(bool, opens);
    QFETCH(QString, target);

    TestDir dir;
    dir.mkdir("top/sub1");
    dir.mkdir("top/sub2");
    DirList list;
    list.setRootFinder([&](const fs::path &) { return dir.path(); });
    showList(list);
    QVERIFY(list.setPath(dir / "top", DirList::Notify::No).ok());
    QSignalSpy change(&list, &DirList::changed);
    QSignalSpy failed(&list, &DirList::openFailed);

    const fs::path targetPath = target.isEmpty() ? dir.path() : dir / target.toStdString();
    QTreeWidgetItem *item = list.itemFor(targetPath);
    QVERIFY(item);
    if (how == "double") {
        doubleClick(list, item);
    } else if (how == "click") {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(item).center());
        QCOMPARE(list.currentItem(), item);
    } else if (how == "down") {
        QTest::keyClick(&list, Qt::Key_Down);
        QCOMPARE(list.currentItem(), item);
    } else {
        list.setCurrentItem(item);
        QTest::keyClick(&list, how == "enter" ? Qt::Key_Enter : Qt::Key_Return);
    }
    QCOMPARE(list.path(), opens ? targetPath : dir / "top");
    QCOMPARE(change.count(), opens ? 1 : 0);
    QCOMPARE(failed.count(), 0);
}

void TestNavigation::dirListSetPathFailureChangesNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("kind");
    QTest::newRow("missing folder") << "missing" << int(ListError::Kind::NotFound);
    QTest::newRow("a file") << "song.mp3" << int(ListError::Kind::NotAFolder);
}

void TestNavigation::dirListSetPathFailureChangesNothing()
{
    QFETCH(QString, target);
    QFETCH(int, kind);
    TestDir dir;
    dir.mkdir("here/sub");
    dir.touch("song.mp3");
    DirList list;
    QVERIFY(list.setPath(dir / "here").ok());
    const auto before = rows(list);
    QSignalSpy change(&list, &DirList::changed);

    const ListError err = list.setPath(dir / target.toStdString());
    QCOMPARE(int(err.kind), kind);
    QCOMPARE(list.path(), dir / "here");
    QCOMPARE(rows(list), before);
    QCOMPARE(change.count(), 0);
}

void TestNavigation::dirListReportsFolderThatWentAway()
{
    TestDir dir;
    dir.mkdir("top/gone");
    DirList list;
    showList(list);
    QVERIFY(list.setPath(dir / "top").ok());
    QTreeWidgetItem *item = list.itemFor(dir / "top/gone");
    fs::remove(dir / "top/gone");
    QSignalSpy change(&list, &DirList::changed);
    QSignalSpy failed(&list, &DirList::openFailed);

    doubleClick(list, item);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).value<fs::path>(), dir / "top/gone");
    QCOMPARE(int(failed.at(0).at(1).value<ListError>().kind), int(ListError::Kind::NotFound));
    QCOMPARE(change.count(), 0);
    QCOMPARE(list.path(), dir / "top");
    QVERIFY(list.itemFor(dir / "top/gone")); // still shown until the next read
}

void TestNavigation::dirListEntersNonUtf8Folder()
{
    TestDir dir;
    const std::string name = "\xff\xfe\xe6\xad\x8c"; // invalid UTF-8, then 歌
    dir.mkdir(name);
    dir.touch(name + "/a.mp3");
    DirList list;
    showList(list);
    QVERIFY(list.setPath(dir.path()).ok());
    doubleClick(list, list.itemFor(dir / name));
    QCOMPARE(list.path().native(), (dir / name).native());

    korvalo::MusicFileList songs;
    QVERIFY(songs.setFolder(list.path()).ok());
    FileList files;
    files.showList(songs);
    QCOMPARE(files.listCount(), 1);
    QVERIFY(fs::exists(files.path() / files.list(0)));
}

// File1 shows a copy of the session's list: a plan's worker may read the folder again while the
// view paints, and the view changes only when it is handed the new list.
void TestNavigation::fileListShowsACopy()
{
    TestDir dir;
    dir.touch("b.mp3");
    dir.touch("歌.MP3");
    korvalo::MusicFileList songs;
    QVERIFY(songs.setFolder(dir.path()).ok());
    FileList files;
    QSignalSpy reset(files.model(), &QAbstractItemModel::modelReset);
    files.showList(songs);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(files.path(), dir.path());
    QCOMPARE(files.model()->rowCount(), 2);
    QCOMPARE(files.model()->index(1, 0).data().toString(), QStringLiteral("歌.MP3"));

    fs::rename(dir / "b.mp3", dir / "1234b.mp3");
    QVERIFY(songs.refresh().ok());
    QCOMPARE(files.model()->index(0, 0).data().toString(), QStringLiteral("b.mp3"));
    files.showList(songs);
    QCOMPARE(reset.count(), 2);
    QCOMPARE(files.list(0), fs::path("1234b.mp3"));
}

void TestNavigation::fileListFortyThousandNames()
{
    TestDir dir;
    for (int i = 0; i < 40000; ++i)
        std::ofstream(dir / (QStringLiteral("song%1.mp3").arg(i).toStdString()));
    korvalo::MusicFileList songs;
    QVERIFY(songs.setFolder(dir.path()).ok());
    FileList files;
    files.showList(songs);
    QCOMPARE(files.listCount(), 40000);
    QCOMPARE(files.model()->rowCount(), 40000);
    QCOMPARE(files.model()->index(39999, 0).data().toString(), QStringLiteral("song39999.mp3"));
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
