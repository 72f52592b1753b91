#include "browse/musicfilelist.h"
#include "browse/naturalorder.h"
#include "testdir.h"

#include <QTest>

#include <cerrno>
#include <filesystem>

using korvalo::ListError;
using korvalo::MusicFileList;

namespace {

QStringList listed(const MusicFileList &list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << QString::fromStdString(std::string(list.nameView(i)));
    return out;
}

} // namespace

class TestMusicFileList : public QObject
{
    Q_OBJECT

private slots:
    void selection_data();
    void selection();
    void order_data();
    void order();
    void naturalCompare_data();
    void naturalCompare();
    void snapshotStaysUntilRefresh();
    void unreadableFolderKeepsSnapshot_data();
    void unreadableFolderKeepsSnapshot();
    void errnoToListError_data();
    void errnoToListError();
    void fortyThousandFiles();
    void nonUtf8NameIsKeptAsBytes();
    void subfolders();
};

// Which entries of a folder are listed. Entries: plain names are files; "dir:" makes a folder,
// "link:name>target" a symbolic link.
void TestMusicFileList::selection_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("extensions in any letter case")
        << QStringList{"a.mp3", "Song.MP3", "x.Flac", "y.FLAC", "z.mP3"}
        << QStringList{"a.mp3", "Song.MP3", "x.Flac", "y.FLAC", "z.mP3"};
    QTest::newRow("other files are left out")
        << QStringList{"a.mp3", "a.mp3.txt", "b.mp4", "c.wav", "mp3", "d_mp3", "e.flac~", "f.fla"}
        << QStringList{"a.mp3"};
    QTest::newRow("folders are never listed")
        << QStringList{"dir:x.mp3", "dir:y.flac", "a.flac"} << QStringList{"a.flac"};
    QTest::newRow("links to files are listed, to folders or nowhere not")
        << QStringList{"real.txt", "dir:folder", "link:tofile.mp3>real.txt",
                       "link:tofolder.mp3>folder", "link:dangling.mp3>nowhere"}
        << QStringList{"tofile.mp3"};
    QTest::newRow("hidden names and macOS companions are left out")
        << QStringList{".hidden.mp3", "._song.mp3", "song.mp3", ".flac", ".mp3"}
        << QStringList{"song.mp3"};
    QTest::newRow("nothing to list") << QStringList{"notes.txt", "dir:sub"} << QStringList{};
}

void TestMusicFileList::selection()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    TestDir dir;
    for (const QString &e : entries) {
        const std::string s = e.toStdString();
        if (s.rfind("dir:", 0) == 0) {
            dir.mkdir(s.substr(4));
        } else if (s.rfind("link:", 0) == 0) {
            const auto sep = s.find('>');
            std::filesystem::create_symlink(s.substr(sep + 1), dir / s.substr(5, sep - 5));
        } else {
            dir.touch(s);
        }
    }
    MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(listed(list), expected);
}

void TestMusicFileList::order_data()
{
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("digit runs by value")
        << QStringList{"track2.mp3", "track10.mp3", "track100.mp3"};
    QTest::newRow("letter case ignored") << QStringList{"apple.mp3", "Banana.mp3", "cherry.mp3"};
    QTest::newRow("order prefixes")
        << QStringList{"999z.mp3", "1000b.mp3", "1234a.mp3", "5678a.mp3", "9999a.flac"};
    QTest::newRow("same name but case and zeros: still a fixed order")
        << QStringList{"A1.mp3", "a01.mp3", "a1.mp3"};
}

void TestMusicFileList::order()
{
    QFETCH(QStringList, expected);
    TestDir dir;
    // Create in reverse so the folder's own order is not the expected one by chance.
    for (auto it = expected.crbegin(); it != expected.crend(); ++it)
        dir.touch(it->toStdString());
    MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(listed(list), expected);
    QVERIFY(list.refresh().ok());
    QCOMPARE(listed(list), expected);
}

void TestMusicFileList::naturalCompare_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("equal") << "abc"
                           << "abc" << 0;
    QTest::newRow("prefix first") << "abc"
                                  << "abcd" << -1;
    QTest::newRow("9 before 10") << "a9"
                                 << "a10" << -1;
    QTest::newRow("long digit runs") << "a99999999999999999999"
                                     << "a100000000000000000000" << -1;
    QTest::newRow("case ignored") << "B"
                                  << "a" << 1;
    QTest::newRow("digits before letters") << "1a"
                                           << "a" << -1;
    QTest::newRow("leading zeros tie broken by bytes") << "a01"
                                                       << "a1" << -1;
    QTest::newRow("case tie broken by bytes") << "A"
                                              << "a" << -1;
}

void TestMusicFileList::naturalCompare()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    const std::string sa = a.toStdString();
    const std::string sb = b.toStdString();
    const int ab = korvalo::naturalCompare(sa, sb);
    const int ba = korvalo::naturalCompare(sb, sa);
    QCOMPARE((ab > 0) - (ab < 0), sign);
    QCOMPARE((ba > 0) - (ba < 0), -sign); // antisymmetric, so sorting is well defined
}

void TestMusicFileList::snapshotStaysUntilRefresh()
{
    TestDir dir;
    dir.touch("a.mp3");
    dir.touch("b.flac");
    MusicFileList list;
    int notified = 0;
    int countSeen = -1;
    list.setPathChangeHandler([&] {
        ++notified;
        countSeen = list.count(); // the new entries are in place when the handler runs
    });
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(notified, 1);
    QCOMPARE(countSeen, 2);
    QCOMPARE(list.folder(), dir.path());

    std::filesystem::rename(dir / "a.mp3", dir / "1234a.mp3");
    dir.touch("c.mp3");
    QCOMPARE(listed(list), (QStringList{"a.mp3", "b.flac"}));

    QVERIFY(list.refresh().ok());
    QCOMPARE(notified, 1); // a refresh does not notify
    QCOMPARE(listed(list), (QStringList{"1234a.mp3", "b.flac", "c.mp3"}));
}

void TestMusicFileList::unreadableFolderKeepsSnapshot_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("kind");
    QTest::newRow("missing") << "missing" << int(ListError::Kind::NotFound);
    QTest::newRow("a file") << "file.mp3" << int(ListError::Kind::NotAFolder);
}

void TestMusicFileList::unreadableFolderKeepsSnapshot()
{
    QFETCH(QString, target);
    QFETCH(int, kind);
    TestDir dir;
    dir.mkdir("good");
    dir.touch("good/a.mp3");
    dir.touch("file.mp3");
    MusicFileList list;
    QVERIFY(list.setFolder(dir / "good").ok());
    int notified = 0;
    list.setPathChangeHandler([&] { ++notified; });

    const ListError err = list.setFolder(dir / target.toStdString());
    QCOMPARE(int(err.kind), kind);
    QVERIFY(err.osError != 0);
    QCOMPARE(notified, 0);
    QCOMPARE(list.folder(), dir / "good");
    QCOMPARE(listed(list), QStringList{"a.mp3"});

    // The folder vanishes: a refresh reports it and keeps the entries.
    std::filesystem::remove_all(dir / "good");
    QCOMPARE(int(list.refresh().kind), int(ListError::Kind::NotFound));
    QCOMPARE(listed(list), QStringList{"a.mp3"});
}

void TestMusicFileList::errnoToListError_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("kind");
    QTest::newRow("ENOENT") << ENOENT << int(ListError::Kind::NotFound);
    QTest::newRow("ENOTDIR") << ENOTDIR << int(ListError::Kind::NotAFolder);
    QTest::newRow("EACCES") << EACCES << int(ListError::Kind::PermissionDenied);
    QTest::newRow("EPERM") << EPERM << int(ListError::Kind::PermissionDenied);
    QTest::newRow("EIO") << EIO << int(ListError::Kind::IoError);
    QTest::newRow("ENOTCONN (FUSE daemon gone)") << ENOTCONN << int(ListError::Kind::DeviceGone);
    QTest::newRow("ENODEV") << ENODEV << int(ListError::Kind::DeviceGone);
    QTest::newRow("ENOMEDIUM") << ENOMEDIUM << int(ListError::Kind::DeviceGone);
    QTest::newRow("EMFILE") << EMFILE << int(ListError::Kind::Other);
}

void TestMusicFileList::errnoToListError()
{
    QFETCH(int, err);
    QFETCH(int, kind);
    const ListError e = ListError::fromErrno(err);
    QCOMPARE(int(e.kind), kind);
    QCOMPARE(e.osError, err);
    QVERIFY(!e.ok());
}

void TestMusicFileList::fortyThousandFiles()
{
    TestDir dir;
    const int n = 40000;
    for (int i = 0; i < n; ++i)
        std::ofstream(dir / ("song" + std::to_string(i) + (i % 2 ? ".mp3" : ".FLAC")));
    dir.touch("cover.jpg");
    MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(list.count(), n);
    QCOMPARE(std::string(list.nameView(0)), std::string("song0.FLAC"));
    QCOMPARE(std::string(list.nameView(n - 1)), "song" + std::to_string(n - 1) + ".mp3");
    QCOMPARE(std::string(list.nameView(32768)), std::string("song32768.FLAC"));
}

void TestMusicFileList::nonUtf8NameIsKeptAsBytes()
{
    TestDir dir;
    const std::string gbk = "\xd2\xf4\xc0\xd6.mp3"; // "音乐" in GBK: not valid UTF-8
    dir.touch(gbk);
    MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.name(0).native(), gbk);
    QVERIFY(std::filesystem::exists(list.folder() / list.name(0)));
}

void TestMusicFileList::subfolders()
{
    TestDir dir;
    dir.mkdir("Disc 10");
    dir.mkdir("disc 2");
    dir.mkdir(".hidden");
    dir.mkdir("album.mp3");
    dir.touch("song.mp3");
    std::filesystem::create_symlink("disc 2", dir / "link");
    std::vector<std::filesystem::path> subs;
    QVERIFY(korvalo::listSubfolders(dir.path(), subs).ok());
    QStringList names;
    for (const auto &s : subs)
        names << QString::fromStdString(s.native());
    QCOMPARE(names, (QStringList{"album.mp3", "disc 2", "Disc 10", "link"}));
    QCOMPARE(int(korvalo::listSubfolders(dir / "nope", subs).kind), int(ListError::Kind::NotFound));
}

QTEST_APPLESS_MAIN(TestMusicFileList)
#include "tst_musicfilelist.moc"
