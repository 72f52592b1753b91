// Hostile names and folders on the local disk: names at the length limit, names that are not
// UTF-8, names that look like paths or numbers, symbolic links, a hundred thousand files, and
// files that change under a running pass. Whatever happens, no file is lost or overwritten.

#include "browse/musicfilelist.h"
#include "passes/passes.h"
#include "passes/progress.h"
#include "passes/randomsource.h"
#include "support/passrun.h"
#include "support/testdir.h"

#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using korvalo::PassResult;
using korvalo::RenameError;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// Printable form of a name that may not be UTF-8.
QByteArray printable(const std::string &name)
{
    QByteArray out;
    for (const unsigned char c : name) {
        if (c >= 0x20 && c < 0x7f && c != '\\')
            out += char(c);
        else
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    }
    return out;
}

QByteArray printable(const std::vector<std::string> &names)
{
    QByteArray out;
    for (const auto &n : names)
        out += printable(n) + ' ';
    return out;
}

// The folder's files: name -> content (links as "-> target").
std::map<std::string, std::string> state(const TestDir &dir)
{
    std::map<std::string, std::string> out;
    for (const auto &e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().native();
        if (e.is_symlink())
            out[name] = "-> " + fs::read_symlink(e.path()).native();
        else if (e.is_directory())
            out[name] = "<folder>";
        else
            out[name] = dir.read(name);
    }
    return out;
}

} // namespace

class TestPassesOnDisk : public QObject
{
    Q_OBJECT

private slots:
    void nameLengthLimit_data();
    void nameLengthLimit();
    void roundTripByteForByte_data();
    void roundTripByteForByte();
    void symbolicLinks();
    void hundredThousandFiles();
    void fileChangedUnderThePass_data();
    void fileChangedUnderThePass();
};

// ---------------------------------------------------------------------------------------------

void TestPassesOnDisk::nameLengthLimit_data()
{
    QTest::addColumn<std::string>("name");
    QTest::addColumn<bool>("fits");
    // A local file system takes names of at most 255 bytes; the prefix adds four.
    QTest::newRow("251 bytes") << std::string(247, 'a') + ".mp3" << true;
    QTest::newRow("252 bytes") << std::string(248, 'a') + ".mp3" << false;
    QTest::newRow("255 bytes") << std::string(250, 'b') + ".flac" << false;
    std::string chinese82, chinese83;
    for (int i = 0; i < 82; ++i)
        chinese82 += "歌";
    chinese83 = chinese82 + "歌";
    QTest::newRow("82 Chinese characters, 250 bytes") << chinese82 + ".mp3" << true;
    QTest::newRow("83 Chinese characters, 253 bytes") << chinese83 + ".mp3" << false;
}

void TestPassesOnDisk::nameLengthLimit()
{
    QFETCH(std::string, name);
    QFETCH(bool, fits);
    TestDir dir;
    dir.touch(name);
    dir.touch("b.mp3"); // renamed when listed before the long name, else left alone
    const auto before = state(dir);

    PassRun pass;
    RecordingProgress sink;
    runPass(pass, true, dir.path(), sink);
    QVERIFY(pass.listError.ok());
    QCOMPARE(pass.list.count(), 2);
    const auto after = state(dir);
    QCOMPARE(dir.contents(),
             (std::multiset<std::string>{"content of " + name, "content of b.mp3"}));
    if (fits) {
        QCOMPARE(pass.result.status, PassResult::Status::Completed);
        QCOMPARE(after.size(), std::size_t(2));
        for (const auto &[n, content] : after)
            QVERIFY2(hasPrefixBefore(n, n.substr(4)) && content == "content of " + n.substr(4),
                     n.c_str());
    } else {
        QCOMPARE(pass.result.status, PassResult::Status::Failed);
        QCOMPARE(pass.result.cause.error, RenameError::NameTooLong);
        QCOMPARE(pass.result.cause.osError, ENAMETOOLONG);
        QCOMPARE(pass.result.oldName.native(), name);
        QCOMPARE(pass.listed.at(std::size_t(pass.result.failedIndex)), name);
        QCOMPARE(after.at(name), before.at(name)); // the long name is kept
        const bool bFirst = pass.listed.front() == "b.mp3";
        QCOMPARE(pass.result.renamed, bFirst ? 1 : 0);
        QCOMPARE(after.count("b.mp3"), std::size_t(bFirst ? 0 : 1));
    }
}

// ---------------------------------------------------------------------------------------------

void TestPassesOnDisk::roundTripByteForByte_data()
{
    QTest::addColumn<std::vector<std::string>>("names");

    QTest::newRow("not UTF-8: GBK, Latin-1, stray bytes")
        << std::vector<std::string>{"\xd6\xd0\xce\xc4\xb8\xe8.mp3", "\xd2\xf4\xc0\xd6.mp3",
                                    "caf\xe9.flac", "\x80\x81\xfe\xff.mp3", "ok.mp3"};
    QTest::newRow("backslashes") << std::vector<std::string>{"a\\b.mp3", "\\\\server\\share.mp3",
                                                             "C:\\x.flac", "\\.mp3"};
    QTest::newRow("blanks") << std::vector<std::string>{"  two leading.mp3", " .mp3",
                                                        "trailing .mp3", "tab\there.flac"};
    QTest::newRow("shell and display hazards") << std::vector<std::string>{
        "-rf.mp3", "*.mp3", "?.flac", "line\nbreak.mp3", "a'b\".mp3", "$(reboot).mp3", "%s%n.mp3"};
    QTest::newRow("emoji and other scripts")
        << std::vector<std::string>{"\xf0\x9f\x8e\xb5 music.mp3", "\xf0\x9f\x98\x80.flac",
                                    "周杰伦 - 稻香.mp3", "Мелодия.flac", "موسيقى.mp3"};
    // Composed and decomposed é are different names here: both survive, neither becomes the other.
    QTest::newRow("NFC and NFD accents") << std::vector<std::string>{
        "Caf\xc3\xa9.mp3", "Cafe\xcc\x81.mp3", "A\xcc\x8a.flac", "e\xcc\x81t\xc3\xa9.mp3"};
    QTest::newRow("only digits before the extension") << std::vector<std::string>{
        "1.mp3", "12.mp3", "123.mp3", "1234.mp3", "0000.flac", "12345.mp3", "99999999.mp3"};
    QTest::newRow("eight leading digits")
        << std::vector<std::string>{"12345678song.mp3", "00000000 zero.flac", "20190101 live.mp3"};
    QTest::newRow("extension case and doubles")
        << std::vector<std::string>{"a.MP3", "b.Flac", "c.mp3.mp3", "d.flac.mp3", "e.mp3.flac"};
}

// A shuffle and a removal give every name back exactly, byte for byte, with its content.
void TestPassesOnDisk::roundTripByteForByte()
{
    QFETCH(std::vector<std::string>, names);
    TestDir dir;
    for (const auto &n : names)
        dir.touch(n);
    dir.touch("notes.txt");
    const auto before = state(dir);

    const PassResult shuffle = runPass(true, dir.path());
    QCOMPARE(shuffle.status, PassResult::Status::Completed);
    QCOMPARE(shuffle.renamed, int(names.size()));
    const auto shuffled = state(dir);
    QCOMPARE(shuffled.size(), before.size());
    for (const auto &n : names) {
        int found = 0;
        for (const auto &[s, content] : shuffled)
            if (hasPrefixBefore(s, n) && content == "content of " + n)
                ++found;
        QVERIFY2(found == 1, printable(n).constData());
    }
    QCOMPARE(shuffled.at("notes.txt"), std::string("content of notes.txt"));

    const PassResult removal = runPass(false, dir.path());
    QCOMPARE(removal.status, PassResult::Status::Completed);
    QCOMPARE(removal.renamed, int(names.size()));
    const auto after = state(dir);
    std::vector<std::string> got, wanted;
    for (const auto &[n, c] : after)
        got.push_back(n);
    for (const auto &[n, c] : before)
        wanted.push_back(n);
    QVERIFY2(after == before, printable(got) + "\nwanted: " + printable(wanted));
}

// ---------------------------------------------------------------------------------------------

// A link named *.mp3 to a file is listed like a file, and the pass renames the link itself: the
// file it points at keeps its name and content. Links to folders and dangling links are not
// listed at all.
void TestPassesOnDisk::symbolicLinks()
{
    TestDir outside;
    outside.touch("elsewhere.dat");
    TestDir dir;
    dir.touch("real.dat");
    dir.touch("song.mp3");
    dir.mkdir("folder");
    fs::create_symlink("real.dat", dir / "link to file.mp3");
    fs::create_symlink("song.mp3", dir / "link to song.mp3");
    fs::create_symlink(outside / "elsewhere.dat", dir / "outside.flac");
    fs::create_symlink("folder", dir / "link to folder.mp3");
    fs::create_symlink("nothing here", dir / "dangling.mp3");
    fs::create_symlink("dangling.mp3", dir / "link to dangling.flac");
    const auto before = state(dir);

    PassRun pass;
    RecordingProgress sink;
    runPass(pass, true, dir.path(), sink);
    QVERIFY(pass.listError.ok());
    const auto &names = pass.listed;
    QVERIFY2(std::set<std::string>(names.begin(), names.end()) ==
                 (std::set<std::string>{"link to file.mp3", "link to song.mp3", "outside.flac",
                                        "song.mp3"}),
             printable(names).constData());
    QCOMPARE(pass.result.status, PassResult::Status::Completed);

    const auto after = state(dir);
    QCOMPARE(after.size(), before.size());
    for (const auto &[name, what] : before) {
        const bool renamed = std::find(names.begin(), names.end(), name) != names.end();
        int found = 0;
        for (const auto &[n, w] : after)
            if ((renamed ? hasPrefixBefore(n, name) : n == name) && w == what) {
                ++found;
                if (what.rfind("-> ", 0) == 0)
                    QVERIFY2(fs::is_symlink(dir / n), n.c_str()); // still a link, not a copy
            }
        QVERIFY2(found == 1, name.c_str());
    }
    QCOMPARE(outside.names(), std::vector<std::string>{"elsewhere.dat"});
    QCOMPARE(outside.read("elsewhere.dat"), std::string("content of elsewhere.dat"));

    // The link to song.mp3 dangles while song.mp3 carries a prefix, so the removal pass does not
    // list it: it keeps its prefix until a second removal pass, after song.mp3 got its name back.
    const PassResult removal = runPass(false, dir.path());
    QCOMPARE(removal.status, PassResult::Status::Completed);
    QCOMPARE(removal.renamed, 3);
    const auto once = state(dir);
    QCOMPARE(once.count("link to song.mp3"), std::size_t(0));
    QCOMPARE(dir.read("song.mp3"), std::string("content of song.mp3"));
    const PassResult again = runPass(false, dir.path());
    QCOMPARE(again.status, PassResult::Status::Completed);
    QCOMPARE(again.renamed, 1);
    QCOMPARE(state(dir), before);
    QCOMPARE(dir.read("link to song.mp3"), std::string("content of song.mp3"));
}

// ---------------------------------------------------------------------------------------------

// A hundred thousand music files in one folder: listed, shuffled and restored, with the count and
// the percentage right all the way.
void TestPassesOnDisk::hundredThousandFiles()
{
    constexpr int n = 100000;
    TestDir dir;
    QElapsedTimer timer;
    timer.start();
    std::set<std::string> originals;
    for (int i = 0; i < n; ++i) {
        const std::string name = "track " + std::to_string(i) + (i % 3 ? ".mp3" : ".flac");
        const int fd = ::open((dir / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY2(fd >= 0, name.c_str());
        ::close(fd);
        originals.insert(name);
    }
    dir.touch("cover.jpg");
    const qint64 made = timer.restart();

    for (const bool shuffle : {true, false}) {
        PassRun pass;
        RecordingProgress sink;
        int wrongCount = 0;
        int lastIndex = -1;
        std::string halfway, end;
        sink.onStep = [&](int index, int count) {
            if (count != n || index != lastIndex + 1)
                ++wrongCount;
            lastIndex = index;
            if (index == n / 2)
                halfway = korvalo::progressText(index, count);
            if (index == n - 1)
                end = korvalo::progressText(index, count);
            return true;
        };
        runPass(pass, shuffle, dir.path(), sink);
        QVERIFY(pass.listError.ok());
        QCOMPARE(pass.list.count(), n);
        QCOMPARE(sink.startCount, n);
        QCOMPARE(pass.result.status, PassResult::Status::Completed);
        QCOMPARE(pass.result.renamed, n);
        QCOMPARE(sink.steps.size(), n);
        QCOMPARE(wrongCount, 0);
        QCOMPARE(halfway, std::string("50%"));
        QCOMPARE(end, std::string("100%"));
        // After the pass the list was read again: same count, the new names.
        QCOMPARE(pass.list.count(), n);
        const std::string first(pass.list.nameView(0));
        QVERIFY2(shuffle ? originals.count(first.substr(4)) == 1 : originals.count(first) == 1,
                 first.c_str());
        qInfo("%s pass over %d files: %lld ms", shuffle ? "shuffle" : "removal", n,
              timer.restart());
    }
    const auto names = dir.names();
    QCOMPARE(names.size(), std::size_t(n + 1));
    std::set<std::string> music(names.begin(), names.end());
    music.erase("cover.jpg");
    QVERIFY(music == originals);
    qInfo("made %d files in %lld ms", n, made);
}

// ---------------------------------------------------------------------------------------------

void TestPassesOnDisk::fileChangedUnderThePass_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<std::vector<std::string>>("files");
    QTest::addColumn<QString>("change"); // what another program does after the first file
    QTest::addColumn<int>("cause");

    const std::vector<std::string> plain{"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    const std::vector<std::string> prefixed{"1111a.mp3", "2222b.mp3", "3333c.mp3", "4444d.mp3"};
    QTest::newRow("shuffle: third file deleted")
        << true << plain << "delete" << int(RenameError::SourceMissing);
    QTest::newRow("removal: third file deleted")
        << false << prefixed << "delete" << int(RenameError::SourceMissing);
    QTest::newRow("shuffle: third file renamed away")
        << true << plain << "rename" << int(RenameError::SourceMissing);
    QTest::newRow("removal: third file renamed away")
        << false << prefixed << "rename" << int(RenameError::SourceMissing);
    // Someone creates the name the third file is to get: it is not overwritten.
    QTest::newRow("removal: third file's new name created")
        << false << prefixed << "create target" << int(RenameError::TargetExists);
}

// The list is a snapshot: a file that another program deletes, renames or competes with after the
// listing makes the pass stop at that file, and what was renamed before it stands.
void TestPassesOnDisk::fileChangedUnderThePass()
{
    QFETCH(bool, shuffle);
    QFETCH(std::vector<std::string>, files);
    QFETCH(QString, change);
    QFETCH(int, cause);

    TestDir dir;
    for (const auto &f : files)
        dir.touch(f);

    PassRun pass;
    RecordingProgress sink;
    std::string third;
    sink.onStep = [&](int index, int) {
        if (index == 0) {
            third = std::string(pass.list.nameView(2));
            if (change == "delete")
                fs::remove(dir / third);
            else if (change == "rename")
                fs::rename(dir / third, dir / ("moved " + third));
            else
                dir.write(third.substr(4), "someone else's file");
        }
        return true;
    };
    runPass(pass, shuffle, dir.path(), sink);
    QCOMPARE(third, files[2]);

    QCOMPARE(pass.result.status, PassResult::Status::Failed);
    QCOMPARE(int(pass.result.cause.error), cause);
    QCOMPARE(pass.result.failedIndex, 2);
    QCOMPARE(pass.result.renamed, 2);
    QCOMPARE(pass.result.oldName.native(), third);
    QCOMPARE(sink.steps.size(), 2);

    // The first two keep their new names, the fourth its old one.
    const auto after = state(dir);
    for (int i : {0, 1}) {
        int found = 0;
        for (const auto &[n, content] : after)
            if ((shuffle ? hasPrefixBefore(n, files[i]) : n == files[i].substr(4)) &&
                content == "content of " + files[i])
                ++found;
        QVERIFY2(found == 1, files[i].c_str());
    }
    QCOMPARE(after.at(files[3]), "content of " + files[3]);
    if (change == "rename")
        QCOMPARE(after.at("moved " + third), "content of " + third);
    if (change == "create target") {
        QCOMPARE(after.at(third), "content of " + third);
        QCOMPARE(after.at(third.substr(4)), std::string("someone else's file"));
    }
}

QTEST_APPLESS_MAIN(TestPassesOnDisk)
#include "tst_passesondisk.moc"
