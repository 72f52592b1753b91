#include "browse/mountinfo.h"
#include "passes/passes.h"
#include "standincalls.h"

#include "support/passrun.h"
#include "support/songnames.h"
#include "support/testdir.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <deque>

using korvalo::PassResult;
using korvalo::RenameError;

namespace {

// Hands out the draws a test asks for, then 0.5 for ever.
class ScriptedRandom : public korvalo::RandomSource
{
public:
    explicit ScriptedRandom(std::deque<float> draws = {}) : m_draws(std::move(draws)) {}
    int reseeds = 0;
    int draws = 0;
    void reseed() override { ++reseeds; }
    float next() override
    {
        ++draws;
        if (m_draws.empty())
            return 0.5f;
        const float r = m_draws.front();
        m_draws.pop_front();
        return r;
    }

private:
    std::deque<float> m_draws;
};

// A list of fixed names that needs no folder, for joining paths without touching the disk.
class FixedList : public korvalo::MusicList
{
public:
    explicit FixedList(std::vector<std::string> names) : m_names(std::move(names)) {}
    int refreshes = 0;
    int count() const override { return int(m_names.size()); }
    std::filesystem::path name(int i) const override { return m_names.at(std::size_t(i)); }
    korvalo::ListError refresh() override
    {
        ++refreshes;
        return {};
    }

private:
    std::vector<std::string> m_names;
};

// Where most pass tests start: a folder of files, listed, a fixed folder and a recording sink.
struct ListedFolder
{
    TestDir dir;
    korvalo::MusicFileList list;
    korvalo::FixedFolder folder{dir.path()};
    RecordingProgress progress;

    template <typename Names> explicit ListedFolder(const Names &names)
    {
        for (const auto &n : names)
            dir.touch(QString(n).toStdString());
        list.setFolder(dir.path());
    }
};

} // namespace

class TestPasses : public QObject
{
    Q_OBJECT

private slots:
    void shuffleGivesEveryFileAPrefix();
    void shuffleDrawsAgainWhenTheNameIsTaken();
    void shuffleGivesUpAfterAHundredTakenDraws();
    void removal_data();
    void removal();
    void removalStopsWhereTwoNamesMeet_data();
    void removalStopsWhereTwoNamesMeet();
    void failureInTheMiddle_data();
    void failureInTheMiddle();
    void emptyListDoesNothing_data();
    void emptyListDoesNothing();
    void stopRequestedBySink_data();
    void stopRequestedBySink();
    void joinsPathsWithoutDoubledSeparator_data();
    void joinsPathsWithoutDoubledSeparator();
    void folderIsReadForEveryFile();
    void systemCallsPerFile_data();
    void systemCallsPerFile();
    void folderMovedAwayMidPass();
    void freshRandomSourcesDiffer();
};

void TestPasses::shuffleGivesEveryFileAPrefix()
{
    QStringList names{"a.mp3", "b.flac", "1234song.mp3", "x.MP3"};
    for (int k = 0; k < 40; ++k)
        names << QStringLiteral("filler%1.mp3").arg(k);
    ListedFolder setup(names);
    auto &[dir, list, folder, progress] = setup;
    const auto before = dir.contents();
    const int n = list.count();
    QCOMPARE(n, int(names.size()));
    korvalo::ClockRandomSource random;

    const PassResult result = korvalo::runShufflePass({list, folder, progress}, random);
    QCOMPARE(int(result.status), int(PassResult::Status::Completed));
    QCOMPARE(result.renamed, n);
    QCOMPARE(progress.starts, 1);
    QCOMPARE(progress.startCount, n);
    QCOMPARE(progress.steps.size(), n);
    QCOMPARE(progress.steps.back(), n - 1);
    QCOMPARE(dir.contents(), before);

    // The list was re-read: it shows the new names, each an order prefix and an old name.
    QCOMPARE(list.count(), n);
    const QRegularExpression prefixed("^[1-9][0-9]{3}(.*)$");
    QStringList stripped;
    std::set<std::string> prefixes;
    for (const QString &name : listedNames(list)) {
        const auto m = prefixed.match(name);
        QVERIFY2(m.hasMatch(), qPrintable(name));
        stripped << m.captured(1);
        prefixes.insert(name.left(4).toStdString());
        QVERIFY(std::filesystem::exists(dir / name.toStdString()));
    }
    stripped.sort();
    QStringList expected;
    for (const auto &e : dir.names())
        expected << QString::fromStdString(e).mid(4);
    expected.sort();
    QCOMPARE(stripped, expected);
    QVERIFY(prefixes.size() > 1); // every file got its own draw
}

void TestPasses::shuffleDrawsAgainWhenTheNameIsTaken()
{
    TestDir dir;
    dir.touch("a.mp3");
    dir.touch("1000a.mp3"); // what the first draw (0.0) would make of a.mp3; not listed here
    FixedList list({"a.mp3"});
    korvalo::FixedFolder folder(dir.path());
    RecordingProgress progress;
    ScriptedRandom random({0.0f, 0.5f});

    const PassResult result = korvalo::runShufflePass({list, folder, progress}, random);
    QCOMPARE(int(result.status), int(PassResult::Status::Completed));
    QCOMPARE(random.draws, 2);
    QCOMPARE(namesOf(dir), (QStringList{"1000a.mp3", "5500a.mp3"}));
    QCOMPARE(dir.read("1000a.mp3"), std::string("content of 1000a.mp3"));
    QCOMPARE(dir.read("5500a.mp3"), std::string("content of a.mp3"));
    QCOMPARE(progress.steps, QList<int>{0});
}

void TestPasses::shuffleGivesUpAfterAHundredTakenDraws()
{
    TestDir dir;
    dir.touch("a.mp3");
    dir.touch("5500a.mp3");
    FixedList list({"a.mp3"});
    korvalo::FixedFolder folder(dir.path());
    RecordingProgress progress;
    const auto before = dir.contents();
    ScriptedRandom always; // 0.5 for ever: always "5500a.mp3", which exists

    const PassResult result = korvalo::runShufflePass({list, folder, progress}, always);
    QCOMPARE(int(result.status), int(PassResult::Status::Failed));
    QCOMPARE(int(result.cause.error), int(RenameError::TargetExists));
    QCOMPARE(always.draws, korvalo::kPrefixDraws);
    QCOMPARE(result.failedIndex, 0);
    QCOMPARE(result.oldName.native(), std::string("a.mp3"));
    QCOMPARE(result.newName.native(), std::string("5500a.mp3"));
    QCOMPARE(result.renamed, 0);
    QVERIFY(progress.steps.isEmpty());
    QCOMPARE(list.refreshes, 0);
    QCOMPARE(dir.contents(), before);
    QCOMPARE(dir.read("5500a.mp3"), std::string("content of 5500a.mp3"));
}

// What the removal pass makes of each name; a name without a change is left alone.
void TestPasses::removal_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("renamed");

    QTest::newRow("prefix off, other names alone")
        << QStringList{"7342Song.mp3", "Intro.flac"} << QStringList{"Intro.flac", "Song.mp3"} << 1;
    QTest::newRow("any four leading digits go, a blank stays")
        << QStringList{"2019 live.mp3"} << QStringList{" live.mp3"} << 1;
    QTest::newRow("a fifth digit stays") << QStringList{"12345.mp3"} << QStringList{"5.mp3"} << 1;
    QTest::newRow("only the outer prefix goes")
        << QStringList{"12345678a.mp3"} << QStringList{"5678a.mp3"} << 1;
    QTest::newRow("a name that would become hidden is left alone")
        << QStringList{"1234.mp3", "0001.flac", "5678b.mp3"}
        << QStringList{"0001.flac", "1234.mp3", "b.mp3"} << 1;
    QTest::newRow("fewer than four digits, or a blank among them")
        << QStringList{"123a.mp3", "12 34.mp3", "abcd.flac"}
        << QStringList{"12 34.mp3", "123a.mp3", "abcd.flac"} << 0;
    QTest::newRow("full-width digits are not digits")
        << QStringList{"１２３４a.mp3"} << QStringList{"１２３４a.mp3"} << 0;
}

void TestPasses::removal()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(int, renamed);
    ListedFolder setup(before);
    auto &[dir, list, folder, progress] = setup;
    QVERIFY(list.count() > 0);
    const auto contents = dir.contents();

    const PassResult result = korvalo::runRemovalPass({list, folder, progress});
    QCOMPARE(int(result.status), int(PassResult::Status::Completed));
    QCOMPARE(result.renamed, renamed);
    QCOMPARE(progress.steps.size(), before.size()); // every index gets its step
    QCOMPARE(namesOf(dir), after);
    QCOMPARE(dir.contents(), contents);
    QCOMPARE(list.count(), before.size());
}

void TestPasses::removalStopsWhereTwoNamesMeet_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<int>("failedIndex");
    QTest::addColumn<int>("renamed");

    QTest::newRow("two prefixes, one name")
        << QStringList{"1111a.mp3", "2222a.mp3"} << "2222a.mp3" << 1 << 1;
    QTest::newRow("the stripped name exists already")
        << QStringList{"1234a.mp3", "a.mp3"} << "1234a.mp3" << 0 << 0;
}

void TestPasses::removalStopsWhereTwoNamesMeet()
{
    QFETCH(QStringList, files);
    QFETCH(QString, failing);
    QFETCH(int, failedIndex);
    QFETCH(int, renamed);
    ListedFolder setup(files);
    auto &[dir, list, folder, progress] = setup;
    QVERIFY(list.count() > 0);
    const auto contents = dir.contents();

    const PassResult result = korvalo::runRemovalPass({list, folder, progress});
    QCOMPARE(int(result.status), int(PassResult::Status::Failed));
    QCOMPARE(int(result.cause.error), int(RenameError::TargetExists));
    QCOMPARE(result.failedIndex, failedIndex);
    QCOMPARE(result.renamed, renamed);
    QCOMPARE(QString::fromStdString(result.oldName.native()), failing);
    QCOMPARE(result.newName.native(), std::string("a.mp3"));
    QCOMPARE(progress.steps.size(), failedIndex); // the failing file gets no step
    QCOMPARE(dir.contents(), contents);           // nothing overwritten
    QCOMPARE(dir.read(failing.toStdString()), "content of " + failing.toStdString());
    QCOMPARE(listedNames(list), files); // not re-read after a failure
}

void TestPasses::failureInTheMiddle_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("failWith");
    QTest::addColumn<int>("error");
    QTest::newRow("shuffle, permission") << true << EACCES << int(RenameError::PermissionDenied);
    QTest::newRow("shuffle, device gone") << true << ENOTCONN << int(RenameError::DeviceGone);
    QTest::newRow("removal, read-only") << false << EROFS << int(RenameError::ReadOnly);
    QTest::newRow("removal, I/O error") << false << EIO << int(RenameError::IoError);
}

void TestPasses::failureInTheMiddle()
{
    QFETCH(bool, shuffle);
    QFETCH(int, failWith);
    QFETCH(int, error);
    const QStringList files{"1111a.mp3", "2222b.mp3", "3333c.mp3", "4444d.mp3", "5555e.mp3"};
    ListedFolder setup(files);
    auto &[dir, list, folder, progress] = setup;
    QVERIFY(list.count() > 0);
    StandInCalls calls;
    calls.failNoReplaceAt = 3;
    calls.failWith = failWith;
    ScriptedRandom random;

    const PassResult result = shuffle
                                  ? korvalo::runShufflePass({list, folder, progress, calls}, random)
                                  : korvalo::runRemovalPass({list, folder, progress, calls});
    QCOMPARE(int(result.status), int(PassResult::Status::Failed));
    QCOMPARE(int(result.cause.error), error);
    QCOMPARE(result.cause.osError, failWith);
    QCOMPARE(result.failedIndex, 2);
    QCOMPARE(result.renamed, 2);
    QCOMPARE(result.oldName.native(), std::string("3333c.mp3"));
    QCOMPARE(result.newName.native(), std::string(shuffle ? "55003333c.mp3" : "c.mp3"));
    QCOMPARE(progress.steps, (QList<int>{0, 1}));
    QCOMPARE(calls.renames.size(), std::size_t(3)); // no file after the failing one is touched
    const QStringList expected =
        shuffle
            ? QStringList{"3333c.mp3", "4444d.mp3", "55001111a.mp3", "55002222b.mp3", "5555e.mp3"}
            : QStringList{"3333c.mp3", "4444d.mp3", "5555e.mp3", "a.mp3", "b.mp3"};
    QCOMPARE(namesOf(dir), expected); // earlier renames stand
    QCOMPARE(listedNames(list), files);
}

void TestPasses::emptyListDoesNothing_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::newRow("shuffle") << true;
    QTest::newRow("removal") << false;
}

void TestPasses::emptyListDoesNothing()
{
    QFETCH(bool, shuffle);
    FixedList list({});
    korvalo::FixedFolder folder("/nonexistent");
    RecordingProgress progress;
    ScriptedRandom random;
    const PassResult result = shuffle ? korvalo::runShufflePass({list, folder, progress}, random)
                                      : korvalo::runRemovalPass({list, folder, progress});
    QCOMPARE(int(result.status), int(PassResult::Status::EmptyList));
    QCOMPARE(progress.starts, 0);
    QVERIFY(progress.steps.isEmpty());
    QCOMPARE(random.reseeds, 0);
    QCOMPARE(list.refreshes, 0);
}

void TestPasses::stopRequestedBySink_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::newRow("shuffle") << true;
    QTest::newRow("removal") << false;
}

void TestPasses::stopRequestedBySink()
{
    QFETCH(bool, shuffle);
    ListedFolder setup(QStringList{"1111a.mp3", "2222b.mp3", "3333c.mp3"});
    auto &[dir, list, folder, progress] = setup;
    QVERIFY(list.count() > 0);
    progress.onStep = [](int index, int) { return index < 1; }; // the window is closed after file 2
    ScriptedRandom random;
    const PassResult result = shuffle ? korvalo::runShufflePass({list, folder, progress}, random)
                                      : korvalo::runRemovalPass({list, folder, progress});
    QCOMPARE(int(result.status), int(PassResult::Status::Stopped));
    QCOMPARE(result.renamed, 2);
    QCOMPARE(dir.read("3333c.mp3"), std::string("content of 3333c.mp3")); // never touched
    QCOMPARE(dir.names().size(), std::size_t(3));
}

void TestPasses::joinsPathsWithoutDoubledSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("root") << "/"
                          << "/1234a.mp3"
                          << "/a.mp3";
    QTest::newRow("trailing separator") << "/media/stick/"
                                        << "/media/stick/1234a.mp3"
                                        << "/media/stick/a.mp3";
    QTest::newRow("plain folder") << "/media/stick"
                                  << "/media/stick/1234a.mp3"
                                  << "/media/stick/a.mp3";
}

void TestPasses::joinsPathsWithoutDoubledSeparator()
{
    QFETCH(QString, folder);
    QFETCH(QString, from);
    QFETCH(QString, to);
    // Every rename is refused, so nothing on the disk is touched; only the paths are looked at.
    StandInCalls calls;
    calls.failNoReplaceAt = 1;
    calls.failWith = EROFS;
    FixedList list({"1234a.mp3"});
    korvalo::FixedFolder source(folder.toStdString());
    RecordingProgress progress;
    korvalo::runRemovalPass({list, source, progress, calls});
    QCOMPARE(calls.renames.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(calls.renames[0].first), from);
    QCOMPARE(QString::fromStdString(calls.renames[0].second), to);
}

void TestPasses::folderIsReadForEveryFile()
{
    // The folder comes from the window's folder list and is asked for afresh for each file.
    struct CountingFolder : korvalo::FolderSource
    {
        std::filesystem::path path;
        mutable int reads = 0;
        std::filesystem::path folder() const override
        {
            ++reads;
            return path;
        }
    };
    TestDir dir;
    for (const char *n : {"1111a.mp3", "b.mp3", "2222c.mp3"})
        dir.touch(n);
    korvalo::MusicFileList list;
    QVERIFY(list.setFolder(dir.path()).ok());
    CountingFolder folder;
    folder.path = dir.path();
    RecordingProgress progress;
    QCOMPARE(int(korvalo::runRemovalPass({list, folder, progress}).status),
             int(PassResult::Status::Completed));
    QCOMPARE(folder.reads, 1 + 2); // once at the start, then for each file that is renamed
    ScriptedRandom random;
    QCOMPARE(int(korvalo::runShufflePass({list, folder, progress}, random).status),
             int(PassResult::Status::Completed));
    QCOMPARE(folder.reads, 3 + 1 + 3);
    QCOMPARE(random.reseeds, 1);
}

// What a pass costs in system calls: one per file where the kernel knows RENAME_NOREPLACE, two
// (lstat, rename) on FUSE drivers once the first file has shown the road.
void TestPasses::systemCallsPerFile_data()
{
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("noReplaceAnswer");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QString>("where"); // the temporary folder's base; empty: the default
    constexpr int n = 20;
    QTest::newRow("shuffle, local file system") << true << -1 << n << QString();
    QTest::newRow("shuffle, exfat-fuse / ntfs-3g")
        << true << EINVAL << 3 + 2 * (n - 1) << QString();
    QTest::newRow("removal, local file system") << false << -1 << n << QString();
    QTest::newRow("removal, exfat-fuse / ntfs-3g")
        << false << EINVAL << 3 + 2 * (n - 1) << QString();
    // tmpfs keeps no stored order worth arranging: one rename per file and not one call more.
    QTest::newRow("shuffle, tmpfs") << true << -1 << n << QStringLiteral("/dev/shm");
    QTest::newRow("removal, tmpfs") << false << -1 << n << QStringLiteral("/dev/shm");
}

void TestPasses::systemCallsPerFile()
{
    QFETCH(bool, shuffle);
    QFETCH(int, noReplaceAnswer);
    QFETCH(int, calls);
    QFETCH(QString, where);
    const QByteArray tmpdir = qgetenv("TMPDIR");
    if (!where.isEmpty()) {
        if (korvalo::mountOf(where.toStdString()).value_or(korvalo::MountInfo{}).fsType != "tmpfs")
            QSKIP("no tmpfs at /dev/shm");
        qputenv("TMPDIR", where.toLocal8Bit());
    }
    QStringList names;
    for (int k = 0; k < 20; ++k)
        names << QStringLiteral("%1song %2.mp3").arg(1000 + k).arg(k);
    ListedFolder setup(names);
    if (!where.isEmpty()) {
        if (tmpdir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", tmpdir);
        QVERIFY(setup.dir.path().string().starts_with(where.toStdString()));
    }
    auto &[dir, list, folder, progress] = setup;
    StandInCalls sys;
    sys.noReplaceAnswer = noReplaceAnswer;
    ScriptedRandom random;
    const PassResult result = shuffle
                                  ? korvalo::runShufflePass({list, folder, progress, sys}, random)
                                  : korvalo::runRemovalPass({list, folder, progress, sys});
    QCOMPARE(int(result.status), int(PassResult::Status::Completed));
    QCOMPARE(result.renamed, 20);
    QCOMPARE(int(sys.calls.size()), calls);
    if (noReplaceAnswer < 0)
        QCOMPARE(sys.calls, QStringList(calls, QStringLiteral("renameat2")));
    // Off FAT and exFAT the stored order is not arranged: not one call more.
    QCOMPARE(int(result.storedOrder), int(PassResult::StoredOrder::NotApplicable));
}

// The folder is moved away in the middle of a pass while its volume stays mounted: the next
// rename says the folder is gone, not the medium, nor that the file is.
void TestPasses::folderMovedAwayMidPass()
{
    TestDir dir;
    dir.mkdir("music");
    for (const char *n : {"1111a.mp3", "2222b.mp3", "3333c.mp3"})
        dir.touch(std::string("music/") + n);
    korvalo::MusicFileList list;
    QVERIFY(list.setFolder(dir / "music").ok());
    korvalo::FixedFolder folder(dir / "music");
    RecordingProgress progress;
    progress.onStep = [&](int index, int) {
        if (index == 0)
            std::filesystem::rename(dir / "music", dir / "moved");
        return true;
    };
    const PassResult result = korvalo::runRemovalPass({list, folder, progress});
    QCOMPARE(int(result.status), int(PassResult::Status::Failed));
    QCOMPARE(int(result.cause.error), int(RenameError::FolderGone));
    QCOMPARE(result.failedIndex, 1);
    QCOMPARE(namesOf(dir), QStringList{"moved"});
    QCOMPARE(namesIn(dir / "moved"), (std::vector<std::string>{"2222b.mp3", "3333c.mp3", "a.mp3"}));
}

// Reseeding must change the sequence: two sources, each reseeded once, draw differently.
void TestPasses::freshRandomSourcesDiffer()
{
    korvalo::ClockRandomSource a;
    korvalo::ClockRandomSource b;
    a.reseed();
    b.reseed();
    const std::vector<float> drawsA{a.next(), a.next(), a.next()};
    const std::vector<float> drawsB{b.next(), b.next(), b.next()};
    QVERIFY(drawsA != drawsB);
}

QTEST_APPLESS_MAIN(TestPasses)
#include "tst_passes.moc"
