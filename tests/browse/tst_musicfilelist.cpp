#include "browse/musicfilelist.h"
#include "browse/naturalorder.h"
#include "support/songnames.h"
#include "support/testdir.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <set>

using korvalo::ListError;
using korvalo::MusicFileList;

namespace {

// A folder that exists only in the test: the names it gives, all of one kind, and a readdir that
// can fail after a given number of entries.
class ScriptedFolder : public korvalo::FolderCalls
{
public:
    std::vector<std::string> names;
    korvalo::EntryKind kind = korvalo::EntryKind::File;
    int failAfter = -1; // entries given before readdir fails; -1: never
    int failWith = EIO;

    std::unique_ptr<Stream> open(const std::filesystem::path &, int &) override
    {
        return std::make_unique<Reading>(*this);
    }

private:
    class Reading : public Stream
    {
    public:
        explicit Reading(const ScriptedFolder &folder) : m_folder(folder) {}
        bool next(std::string_view &name, int &err) override
        {
            if (m_folder.failAfter >= 0 && m_at == std::size_t(m_folder.failAfter)) {
                err = m_folder.failWith;
                return false;
            }
            if (m_at == m_folder.names.size()) {
                err = 0;
                return false;
            }
            name = m_folder.names[m_at++];
            return true;
        }
        korvalo::EntryKind kind() override { return m_folder.kind; }

    private:
        const ScriptedFolder &m_folder;
        std::size_t m_at = 0;
    };
};

// The natural order written the plain way, to check the fast one against: a name is a row of
// tokens, a run of digits (compared by value: fewer significant digits first, then digit by
// digit) or one other byte (letters folded to lower case). A run meets a byte by its first digit.
// A run of more than four digits that begins the name, the first not 0, is two runs: its first
// four digits (the order prefix) and the rest. Names equal that way are ordered by their bytes.
bool referenceLess(const std::string &a, const std::string &b)
{
    struct Token
    {
        bool digits;
        std::string text; // the run without leading zeros, or the folded byte
        unsigned char first;
    };
    const auto tokens = [](const std::string &s) {
        std::vector<Token> out;
        for (std::size_t k = 0; k < s.size();) {
            const auto c = static_cast<unsigned char>(s[k]);
            if (std::isdigit(c)) {
                std::size_t end = k;
                while (end < s.size() && std::isdigit(static_cast<unsigned char>(s[end])))
                    ++end;
                if (k == 0 && c != '0' && end > 4)
                    end = 4;
                std::string run = s.substr(k, end - k);
                run.erase(0, std::min(run.find_first_not_of('0'), run.size()));
                out.push_back({true, run, c});
                k = end;
            } else {
                const auto folded =
                    static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                out.push_back({false, std::string(1, char(folded)), folded});
                ++k;
            }
        }
        return out;
    };
    const std::vector<Token> ta = tokens(a);
    const std::vector<Token> tb = tokens(b);
    for (std::size_t k = 0; k < ta.size() && k < tb.size(); ++k) {
        const Token &x = ta[k];
        const Token &y = tb[k];
        if (x.digits && y.digits) {
            if (x.text.size() != y.text.size())
                return x.text.size() < y.text.size();
            if (x.text != y.text)
                return x.text < y.text;
        } else if (x.first != y.first) {
            return x.first < y.first;
        }
    }
    if (ta.size() != tb.size())
        return ta.size() < tb.size();
    return a < b; // std::string compares bytes as unsigned
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
    void orderMatchesReference();
    void keyAgreesWithNaturalCompare();
    void readdirFailingPartWay_data();
    void readdirFailingPartWay();
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
    QCOMPARE(listedNames(list), expected);
}

void TestMusicFileList::order_data()
{
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("digit runs by value")
        << QStringList{"track2.mp3", "track10.mp3", "track100.mp3"};
    QTest::newRow("letter case ignored") << QStringList{"apple.mp3", "Banana.mp3", "cherry.mp3"};
    QTest::newRow("order prefixes")
        << QStringList{"999z.mp3", "1000b.mp3", "1234a.mp3", "5678a.mp3", "9999a.flac"};
    // After a shuffle the player plays by the prefix, whatever digits the name had of its own.
    QTest::newRow("prefixes with and without the names' own digits")
        << QStringList{"1000.mp3",
                       QString::fromUtf8("123401 序曲.mp3"),
                       QString::fromUtf8("1234晚安.mp3"),
                       "2915 - Outro.mp3",
                       "291501 - Intro.mp3",
                       "3000Song.mp3",
                       "9100001.mp3",
                       "9999 99.mp3",
                       "999901 - a.mp3"};
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
    QCOMPARE(listedNames(list), expected);
    QVERIFY(list.refresh().ok());
    QCOMPARE(listedNames(list), expected);
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
    // Names that share their beginning: the shared part must not cut a run of digits in two.
    QTest::newRow("shared digits: 101 after 12") << "a101"
                                                 << "a12" << 1;
    QTest::newRow("over 16 shared bytes, then digits") << "Some Artist - Some Album 101.mp3"
                                                       << "Some Artist - Some Album 12.mp3" << 1;
    QTest::newRow("Z folds like z: after _") << "Z"
                                             << "_" << 1;
    QTest::newRow("ten-digit runs by value") << "x9999999999"
                                             << "x10000000000" << -1;

    // A name that begins with an order prefix and then its own digits: the prefix decides.
    QTest::newRow("prefix and own digits before a later prefix") << "291501 - Intro.mp3"
                                                                 << "3000 - Outro.mp3" << -1;
    QTest::newRow("lowest prefix first") << "1000.mp3"
                                         << "100001 - Intro.mp3" << -1;
    QTest::newRow("prefix 9100, own 001: before 9999") << "9100001.mp3"
                                                       << "9999 99.mp3" << -1;
    QTest::newRow("same prefix: name without own digits first") << "2915 - Outro.mp3"
                                                                << "291501 - Intro.mp3" << -1;
    QTest::newRow("same prefix: own digits by value, zeros skipped") << "2915009 - c.mp3"
                                                                     << "291510 - b.mp3" << -1;
    QTest::newRow("same prefix: own digits before letters") << "123401 - Intro.mp3"
                                                            << "1234Intro.mp3" << -1;
    QTest::newRow("same prefix: case ignored after own digits") << "291501 - apple.mp3"
                                                                << "291501 - Zebra.mp3" << -1;
    QTest::newRow("same prefix: zeros and case tie broken by bytes") << "291501 - A.mp3"
                                                                     << "29151 - a.mp3" << -1;
    QTest::newRow("Chinese: own digits before the characters")
        << QString::fromUtf8("123401 序曲.mp3") << QString::fromUtf8("1234晚安.mp3") << -1;
    QTest::newRow("Chinese: the prefix decides")
        << QString::fromUtf8("999901 序曲.mp3") << QString::fromUtf8("1000晚安.mp3") << 1;

    // Names the prefix rule leaves as they were.
    QTest::newRow("own digits only, by value") << "01 - a.mp3"
                                               << "2 - b.mp3" << -1;
    QTest::newRow("four digits exactly, by value") << "999.mp3"
                                                   << "2915.mp3" << -1;
    QTest::newRow("leading zero: the whole run by value") << "0123456.mp3"
                                                          << "1235.mp3" << 1;
    QTest::newRow("digits not at the start: the whole run") << "a291501.mp3"
                                                            << "a3000.mp3" << 1;
    QTest::newRow("dates keep their order") << "20190202 Trip.mp3"
                                            << "20190101 Trip.mp3" << 1;
    // The price of reading five digits as a prefix and more: the first four decide.
    QTest::newRow("five digits against four: the first four") << "12345.mp3"
                                                              << "2000.mp3" << -1;
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
    // The sort trusts the keys where they differ.
    const korvalo::NaturalKey ka = korvalo::naturalPrefixKey(sa);
    const korvalo::NaturalKey kb = korvalo::naturalPrefixKey(sb);
    if (!(ka == kb))
        QCOMPARE(ka < kb, sign < 0);
}

namespace {

// Random names of the kinds the order has to get right: long shared beginnings, order prefixes
// with and without the name's own leading digits, long digit runs, leading zeros, Chinese, and
// the bytes next to the letters ('Z', '_', '[').
std::set<std::string> randomNames(std::mt19937 &random, std::size_t count)
{
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const std::vector<std::string> beginnings{"",
                                              "x",
                                              "The Artist - The Album (2019) - ",
                                              "The Artist - The Album (2019) - 0",
                                              "1000",
                                              "2915",
                                              "9999"};
    const std::vector<std::string> others{"a", "A", "z", "Z", "_", "[", " ", "b", "-", "序曲"};
    std::set<std::string> names;
    while (names.size() < count) {
        std::string name = beginnings[std::size_t(pick(int(beginnings.size())))];
        for (int part = pick(4) + 1; part > 0; --part) {
            if (pick(2)) {
                for (int k = pick(3) + 1; k > 0; --k)
                    name += others[std::size_t(pick(int(others.size())))];
            } else {
                const int zeros = pick(4) == 0 ? pick(3) : 0;
                name += std::string(std::size_t(zeros), '0');
                for (int k = pick(12) + 1; k > 0; --k)
                    name += char('0' + pick(10));
            }
        }
        names.insert(name + (pick(2) ? ".mp3" : ".FLAC"));
    }
    return names;
}

} // namespace

// The listed order of many random names, against the plain comparator above.
void TestMusicFileList::orderMatchesReference()
{
    std::mt19937 random(20240611);
    const std::set<std::string> names = randomNames(random, 3000);
    ScriptedFolder folder;
    folder.names.assign(names.begin(), names.end());
    std::shuffle(folder.names.begin(), folder.names.end(), random);
    MusicFileList list(folder);
    QVERIFY(list.setFolder("/anywhere").ok());
    std::vector<std::string> expected(names.begin(), names.end());
    std::sort(expected.begin(), expected.end(), referenceLess);
    QCOMPARE(list.count(), int(expected.size()));
    for (int i = 0; i < list.count(); ++i)
        QVERIFY2(list.nameView(i) == expected[std::size_t(i)],
                 qPrintable(QStringLiteral("at %1: %2, expected %3")
                                .arg(i)
                                .arg(QString::fromStdString(std::string(list.nameView(i))),
                                     QString::fromStdString(expected[std::size_t(i)]))));
}

// The sort reads a name only where the keys agree: wherever two keys differ, their order must be
// naturalCompare()'s. Every pair of a set of random names.
void TestMusicFileList::keyAgreesWithNaturalCompare()
{
    std::mt19937 random(20250302);
    const std::set<std::string> generated = randomNames(random, 600);
    const std::vector<std::string> names(generated.begin(), generated.end());
    std::vector<korvalo::NaturalKey> keys;
    for (const std::string &n : names)
        keys.push_back(korvalo::naturalPrefixKey(n));
    int decidedByKey = 0;
    for (std::size_t x = 0; x < names.size(); ++x) {
        for (std::size_t y = 0; y < names.size(); ++y) {
            if (keys[x] == keys[y])
                continue;
            ++decidedByKey;
            if ((keys[x] < keys[y]) != korvalo::naturalLess(names[x], names[y]))
                QFAIL(qPrintable(
                    QStringLiteral("the keys of %1 and %2 disagree with the names")
                        .arg(QString::fromStdString(names[x]), QString::fromStdString(names[y]))));
        }
    }
    // Most pairs are decided by the keys, or the check above would say little.
    QVERIFY(decidedByKey > int(names.size() * names.size()) / 2);
}

// A readdir that fails part-way ends the listing with its error, never with a shorter list: the
// snapshot stays as it was, for a new folder, a re-read and the folder list alike.
void TestMusicFileList::readdirFailingPartWay_data()
{
    QTest::addColumn<int>("failWith");
    QTest::addColumn<int>("kind");
    QTest::newRow("I/O error") << EIO << int(ListError::Kind::IoError);
    QTest::newRow("FUSE daemon gone") << ENOTCONN << int(ListError::Kind::DeviceGone);
}

void TestMusicFileList::readdirFailingPartWay()
{
    QFETCH(int, failWith);
    QFETCH(int, kind);
    ScriptedFolder folder;
    folder.names = {"a.mp3", "b.mp3", "c.mp3"};
    MusicFileList list(folder);
    QVERIFY(list.setFolder("/stick/music").ok());
    QCOMPARE(list.count(), 3);

    folder.names = {"d.mp3", "e.mp3", "f.mp3"};
    folder.failAfter = 2;
    folder.failWith = failWith;
    ListError err = list.refresh();
    QCOMPARE(int(err.kind), kind);
    QCOMPARE(err.osError, failWith);
    QCOMPARE(listedNames(list), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
    err = list.setFolder("/stick/other");
    QCOMPARE(int(err.kind), kind);
    QCOMPARE(list.folder(), std::filesystem::path("/stick/music"));
    QCOMPARE(listedNames(list), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));

    folder.kind = korvalo::EntryKind::Folder;
    std::vector<std::filesystem::path> subfolders{"kept"};
    QCOMPARE(int(korvalo::listSubfolders("/stick", subfolders, folder).kind), kind);
    QCOMPARE(subfolders, std::vector<std::filesystem::path>{"kept"});
}

void TestMusicFileList::snapshotStaysUntilRefresh()
{
    TestDir dir;
    dir.touch("a.mp3");
    dir.touch("b.flac");
    MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.folder(), dir.path());

    std::filesystem::rename(dir / "a.mp3", dir / "1234a.mp3");
    dir.touch("c.mp3");
    QCOMPARE(listedNames(list), (QStringList{"a.mp3", "b.flac"}));

    QVERIFY(list.refresh().ok());
    QCOMPARE(list.folder(), dir.path());
    QCOMPARE(listedNames(list), (QStringList{"1234a.mp3", "b.flac", "c.mp3"}));
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
    const ListError err = list.setFolder(dir / target.toStdString());
    QCOMPARE(int(err.kind), kind);
    QVERIFY(err.osError != 0);
    QCOMPARE(list.folder(), dir / "good");
    QCOMPARE(listedNames(list), QStringList{"a.mp3"});

    // The folder vanishes: a refresh reports it and keeps the entries.
    std::filesystem::remove_all(dir / "good");
    QCOMPARE(int(list.refresh().kind), int(ListError::Kind::NotFound));
    QCOMPARE(listedNames(list), QStringList{"a.mp3"});
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
    // Folders are ordered as the files are: a leading run of more than four digits is split.
    dir.mkdir("2020 Best");
    dir.mkdir("201901 Tour");
    dir.mkdir(".hidden");
    dir.mkdir("album.mp3");
    dir.touch("song.mp3");
    std::filesystem::create_symlink("disc 2", dir / "link");
    std::vector<std::filesystem::path> subs;
    QVERIFY(korvalo::listSubfolders(dir.path(), subs).ok());
    QStringList names;
    for (const auto &s : subs)
        names << QString::fromStdString(s.native());
    QCOMPARE(names,
             (QStringList{"201901 Tour", "2020 Best", "album.mp3", "disc 2", "Disc 10", "link"}));
    QCOMPARE(int(korvalo::listSubfolders(dir / "nope", subs).kind), int(ListError::Kind::NotFound));
}

QTEST_APPLESS_MAIN(TestMusicFileList)
#include "tst_musicfilelist.moc"
