// korvalo-cli as a script runs it: the real executable on temporary folders, its input not a
// terminal unless a test types on one. Exit statuses, a dry run and a refused pass that leave the
// folder as it was, the questions answered on a terminal and the safe way elsewhere, a pass
// stopped by Ctrl-C and recovered afterwards, and the journal made lasting before the first rename
// and after a stop.

#include "browse/mountinfo.h"
#include "passes/journalformat.h"
#include "passes/journalkey.h"
#include "passes/ordering.h"
#include "passes/passlock.h"
#include "passes/statefolder.h"
#include "support/clirun.h"
#include "support/hostileplace.h"
#include "support/passrun.h"
#include "support/testdir.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <optional>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A shuffle that Ctrl-C stops right after its n-th rename.
CliRun interruptedPass(const QString &pass, const TestDir &folder, int after,
                       const QStringList &extraEnv = {})
{
    return cli(
        {pass, QStringLiteral("%1")}, folder,
        hooked(QStringList{QStringLiteral("KORVALO_TEST_SIGINT_AFTER=%1").arg(after)} + extraEnv));
}

// Whether the journal was made lasting before line `end` of a system call log ("write PATH",
// "sync PATH", "rename FROM\tTO"): the last of its lines about the journal's folder before `end`
// syncs a file there, or the folder after a file was renamed into place.
QString syncedBefore(const QStringList &log, qsizetype end, const QString &journalFolder)
{
    QString last;
    for (qsizetype i = 0; i < end; ++i) {
        if (log[i].mid(log[i].indexOf(' ') + 1).startsWith(journalFolder))
            last = log[i];
    }
    return last.startsWith("sync ") ? QString() : "not synced:\n" + log.mid(0, end).join('\n');
}

namespace fs = std::filesystem;

QStringList namesOf(const TestDir &dir)
{
    QStringList out;
    for (const std::string &name : dir.names())
        out << QString::fromStdString(name);
    return out;
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

int countPrefixedBefore(const QStringList &now, const QStringList &originals)
{
    int n = 0;
    for (const QString &name : now)
        n += std::any_of(originals.begin(), originals.end(), [&](const QString &o) {
            return hasPrefixBefore(name.toStdString(), o.toStdString());
        });
    return n;
}

QStringList songs(int count)
{
    QStringList out;
    for (int i = 1; i <= count; ++i)
        out << QStringLiteral("song%1.mp3").arg(i);
    return out;
}

// The "from → to" lines of a dry run.
QList<QPair<QString, QString>> dryRunRenames(const QString &out)
{
    QList<QPair<QString, QString>> renames;
    for (const QString &line : out.split('\n')) {
        const qsizetype arrow = line.indexOf(QStringLiteral(" → "));
        if (arrow > 0)
            renames.append({line.left(arrow), line.mid(arrow + 3)});
    }
    return renames;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exitStatus_data();
    void exitStatus();
    void listsAsTheWindowDoes();
    void shuffleThenRemoveGivesBackTheNames();
    void dryRunTouchesNothing_data();
    void dryRunTouchesNothing();
    void digitQuestion_data();
    void digitQuestion();
    void againQuestion_data();
    void againQuestion();
    void refusedPassLeavesTheFolder_data();
    void refusedPassLeavesTheFolder();
    void stateFolderTroubleIsTold_data();
    void stateFolderTroubleIsTold();
    void interruptedPassIsRecovered_data();
    void interruptedPassIsRecovered();
    void journalLastsAcrossRenames_data();
    void journalLastsAcrossRenames();
    void orderingFolderGetsNoPass_data();
    void orderingFolderGetsNoPass();
};

void TestCli::exitStatus_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");

    const QStringList songs = {QStringLiteral("a.mp3"), QStringLiteral("b.flac")};
    QTest::newRow("help") << songs << QStringList{"--help"} << 0;
    QTest::newRow("version") << songs << QStringList{"shuffle", "%1", "--version"} << 0;
    QTest::newRow("no music to shuffle")
        << QStringList{"cover.jpg"} << QStringList{"shuffle", "%1"} << 0;
    QTest::newRow("no digits to remove") << songs << QStringList{"remove", "%1"} << 0;
    QTest::newRow("nothing to recover") << songs << QStringList{"recover", "%1", "--undo"} << 0;
    QTest::newRow("a taken name") << QStringList{"1234a.mp3", "a.mp3"}
                                  << QStringList{"remove", "%1"} << 1;
    QTest::newRow("no command") << songs << QStringList{} << 2;
    QTest::newRow("unknown command") << songs << QStringList{"jumble", "%1"} << 2;
    QTest::newRow("no folder") << songs << QStringList{"shuffle"} << 2;
    QTest::newRow("two folders") << songs << QStringList{"shuffle", "%1", "%1"} << 2;
    QTest::newRow("unknown option") << songs << QStringList{"shuffle", "%1", "--fast"} << 2;
    QTest::newRow("option of another command")
        << songs << QStringList{"shuffle", "%1", "--strip-all"} << 2;
    QTest::newRow("both digit answers")
        << songs << QStringList{"remove", "%1", "--strip-all", "--keep-original-digits"} << 2;
    QTest::newRow("recover without a choice") << songs << QStringList{"recover", "%1"} << 2;
    QTest::newRow("two recovery choices")
        << songs << QStringList{"recover", "%1", "--undo", "--leave"} << 2;
    QTest::newRow("no such folder") << songs << QStringList{"shuffle", "%1/gone"} << 2;
    QTest::newRow("a file, not a folder") << songs << QStringList{"remove", "%1/a.mp3"} << 2;
    QTest::newRow("status of no such folder") << songs << QStringList{"status", "%1/gone"} << 2;
}

// None of these renames anything.
void TestCli::exitStatus()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    TestDir dir;
    touchAll(dir, names);
    const QStringList before = namesOf(dir);

    const CliRun run = cli(args, dir);
    QVERIFY2(run.status == status, qPrintable(QStringLiteral("status %1, expected %2\n%3%4")
                                                  .arg(run.status)
                                                  .arg(status)
                                                  .arg(run.out, run.err)));
    QCOMPARE(namesOf(dir), before);
    // Something is said either way: the result, or what went wrong.
    QVERIFY(!(status == 0 ? run.out : run.err).isEmpty());
}

void TestCli::listsAsTheWindowDoes()
{
    TestDir dir;
    touchAll(dir, {"track10.mp3", "Track9.FLAC", "a.flac", "cover.jpg", ".hidden.mp3"});
    dir.mkdir("folder.mp3");

    const CliRun run = cli({"list", "%1"}, dir);
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("a.flac\nTrack9.FLAC\ntrack10.mp3\n已选文件夹共有3首歌曲\n"));
}

void TestCli::shuffleThenRemoveGivesBackTheNames()
{
    TestDir dir;
    const QStringList originals = {"01 Intro.mp3", "歌曲.flac", "1234.mp3", "b.MP3"};
    touchAll(dir, originals);
    dir.touch("cover.jpg");
    const auto contents = dir.contents();

    QCOMPARE(cli({"shuffle", "%1"}, dir).status, 0);
    QStringList now = namesOf(dir);
    QVERIFY(now.removeOne("cover.jpg"));
    QCOMPARE(countPrefixedBefore(now, originals), originals.size());

    QCOMPARE(cli({"remove", "%1"}, dir).status, 0);
    QCOMPARE(namesOf(dir), sorted(originals + QStringList{"cover.jpg"}));
    QCOMPARE(dir.contents(), contents);
}

void TestCli::dryRunTouchesNothing_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("args");

    QTest::newRow("shuffle") << QStringList{"a.mp3", "b.flac", "cover.jpg"}
                             << QStringList{"shuffle", "%1", "--dry-run"};
    const QStringList digits = {"1234a.mp3", "2001 A Space Odyssey.mp3", "b.flac", "5678.mp3"};
    QTest::newRow("remove") << digits << QStringList{"remove", "--dry-run", "%1"};
    QTest::newRow("remove, strip all")
        << digits << QStringList{"remove", "%1", "--strip-all", "--dry-run"};
}

// The dry run renames nothing and shows the renames, one "from → to" line each, of names in the
// folder. That a plan's renames are the run's is the session's (tst_foldersession).
void TestCli::dryRunTouchesNothing()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, args);
    TestDir dir;
    touchAll(dir, names);
    const QStringList before = namesOf(dir);

    const CliRun dry = cli(args, dir);
    QCOMPARE(dry.status, 0);
    QCOMPARE(namesOf(dir), before);
    const auto renames = dryRunRenames(dry.out);
    QVERIFY2(!renames.isEmpty(), qPrintable(dry.out));
    for (const auto &[from, to] : renames)
        QVERIFY2(before.contains(from) && !to.isEmpty(), qPrintable(from));
}

void TestCli::digitQuestion_data()
{
    QTest::addColumn<QByteArray>("typed"); // null: the input is not a terminal
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("expected");

    // In a folder Korvalo has no record of, digits followed by a blank belong to the name.
    const QStringList kept = {"2001 A Space Odyssey.mp3", "a.mp3"};
    const QStringList strippedAll = {" A Space Odyssey.mp3", "a.mp3"};
    const QStringList untouched = {"1234a.mp3", "2001 A Space Odyssey.mp3"};
    const QByteArray none;
    QTest::newRow("no terminal, no option: kept") << none << QString() << 0 << kept;
    QTest::newRow("no terminal, --keep-original-digits")
        << none << QStringLiteral("--keep-original-digits") << 0 << kept;
    QTest::newRow("no terminal, --strip-all")
        << none << QStringLiteral("--strip-all") << 0 << strippedAll;
    QTest::newRow("terminal, Enter: kept") << QByteArray("\n") << QString() << 0 << kept;
    QTest::newRow("terminal, 2: stripped") << QByteArray("2\n") << QString() << 0 << strippedAll;
    QTest::newRow("terminal, 3: cancelled") << QByteArray("3\n") << QString() << 3 << untouched;
    QTest::newRow("terminal, input ends: cancelled")
        << QByteArray("\x04") << QString() << 3 << untouched;
    QTest::newRow("terminal, the option asks nothing")
        << QByteArray("3\n") << QStringLiteral("--strip-all") << 0 << strippedAll;
}

void TestCli::digitQuestion()
{
    QFETCH(QByteArray, typed);
    QFETCH(QString, option);
    QFETCH(int, status);
    QFETCH(QStringList, expected);
    TestDir dir;
    touchAll(dir, {"2001 A Space Odyssey.mp3", "1234a.mp3"});

    QStringList args = {"remove", "%1"};
    if (!option.isEmpty())
        args << option;
    const CliRun run = cli(args, dir, {}, typed);
    QVERIFY2(run.status == status, qPrintable(run.err));
    QCOMPARE(namesOf(dir), expected);
}

void TestCli::againQuestion_data()
{
    QTest::addColumn<QByteArray>("typed"); // null: the input is not a terminal
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("elsewhere"); // shuffled first under another state folder
    QTest::addColumn<int>("prefixes");   // on each name afterwards; 0: refused, -1: bad use
    for (const bool elsewhere : {false, true}) {
        const char *where = elsewhere ? "shuffled elsewhere" : "shuffled here";
        QTest::addRow("%s, no terminal, no option: refused", where)
            << QByteArray() << QString() << elsewhere << 0;
        QTest::addRow("%s, no terminal, --again", where)
            << QByteArray() << "--again" << elsewhere << 2;
        QTest::addRow("%s, no terminal, --replace", where)
            << QByteArray() << "--replace" << elsewhere << 1;
        QTest::addRow("%s, terminal, y", where) << QByteArray("y\n") << QString() << elsewhere << 2;
        QTest::addRow("%s, terminal, r", where) << QByteArray("r\n") << QString() << elsewhere << 1;
    }
    // Enter takes the question's default: nothing for Korvalo's own prefixes, a new order for
    // prefixes written elsewhere.
    QTest::newRow("shuffled here, terminal, Enter: refused")
        << QByteArray("\n") << QString() << false << 0;
    QTest::newRow("shuffled elsewhere, terminal, Enter: replaced")
        << QByteArray("\n") << QString() << true << 1;
    QTest::newRow("--replace with --again: bad use")
        << QByteArray() << "--replace --again" << false << -1;
}

// A second shuffle over names that carry a prefix, Korvalo's here or one written under another
// state folder (another computer), puts a second one in front only when told to; --replace gives
// new digits in place of the old, and the record here then knows them as Korvalo's.
void TestCli::againQuestion()
{
    QFETCH(QByteArray, typed);
    QFETCH(QString, options);
    QFETCH(bool, elsewhere);
    QFETCH(int, prefixes);
    TestDir dir;
    QTemporaryDir otherState;
    QVERIFY(otherState.isValid());
    // Four names: three random prefixes of four landing on years (so not asked about) is rarer
    // than one run in 20,000.
    const QStringList originals = {"a.mp3", "b.mp3", "c.flac", "d.mp3"};
    touchAll(dir, originals);
    const QStringList env =
        elsewhere ? QStringList{"XDG_STATE_HOME=" + otherState.path()} : QStringList();
    QCOMPARE(cli({"shuffle", "%1"}, dir, env).status, 0);
    const QStringList once = namesOf(dir);

    const CliRun run =
        cli(QStringList{"shuffle", "%1"} + options.split(' ', Qt::SkipEmptyParts), dir, {}, typed);
    QCOMPARE(run.status, prefixes > 0 ? 0 : prefixes == 0 ? 3 : 2);
    if (prefixes <= 0) {
        QCOMPARE(namesOf(dir), once);
        if (typed.isNull() && prefixes == 0)
            QVERIFY(run.err.contains("--again") && run.err.contains("--replace"));
        return;
    }
    const QStringList now = namesOf(dir);
    QCOMPARE(countPrefixedBefore(now, prefixes == 2 ? once : originals), originals.size());
    if (prefixes == 1) {
        QVERIFY(now != once);
        QCOMPARE(cli({"remove", "%1"}, dir).status, 0);
        QCOMPARE(namesOf(dir), sorted(originals));
    }
}

void TestCli::initTestCase()
{
    // korvalo-cli runs as a program of its own and keeps its locks where the program's rule says:
    // the locks this test takes must be found there.
    korvalo::PassLock::setFolderForTests({});
}

void TestCli::refusedPassLeavesTheFolder_data()
{
    QTest::addColumn<QStringList>("args");
    // What refuses it: "pending" (an unfinished pass), "damaged" (the folder's record has a
    // garbled line) or "held" (the volume's lock is held).
    QTest::addColumn<QString>("blocker");

    for (const char *pass : {"shuffle", "remove"}) {
        QTest::addRow("%s, volume held", pass) << QStringList{pass, "%1"} << "held";
        QTest::addRow("%s, recovery pending", pass) << QStringList{pass, "%1"} << "pending";
        QTest::addRow("%s --dry-run, recovery pending", pass)
            << QStringList{pass, "%1", "--dry-run"} << "pending";
    }
    QTest::newRow("shuffle --dry-run, volume held")
        << QStringList{"shuffle", "%1", "--dry-run"} << "held";
    QTest::newRow("recover, volume held") << QStringList{"recover", "%1", "--undo"} << "held";
    QTest::newRow("shuffle, record damaged, then left")
        << QStringList{"shuffle", "%1"} << "damaged";
}

void TestCli::refusedPassLeavesTheFolder()
{
    QFETCH(QStringList, args);
    QFETCH(QString, blocker);
    TestDir dir;
    touchAll(dir, songs(6) + QStringList{"1234 digits.mp3"});

    std::optional<korvalo::PassLock> lock;
    fs::path record;
    if (blocker == "pending") {
        QCOMPARE(interruptedPass("shuffle", dir, 3).status, 130);
    } else if (blocker == "damaged") {
        QCOMPARE(cli({"shuffle", "%1"}, dir).status, 0);
        const korvalo::JournalKey key = korvalo::journalKeyOf(dir.path()).value();
        record = korvalo::stateFolder() / (korvalo::journalformat::keyHash(key) + ".journal");
        std::fstream file(record, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(std::streamoff(fs::file_size(record) / 2));
        file.put('\x7f'); // a byte in a line in the middle
    } else {
        // The recovery needs a pass to recover: made before the lock is taken.
        if (args.first() == "recover")
            QCOMPARE(interruptedPass("shuffle", dir, 3).status, 130);
        lock = korvalo::PassLock::tryAcquire(korvalo::deviceOf(dir.path()).value()).lock;
        QVERIFY(lock);
    }
    const QStringList before = namesOf(dir);
    const auto contents = dir.contents();

    const CliRun run = cli(args, dir);
    QCOMPARE(run.status, 3);
    QCOMPARE(namesOf(dir), before);
    QCOMPARE(dir.contents(), contents);
    if (blocker == "pending")
        QVERIFY2(run.err.contains("recover"), qPrintable(run.err));
    if (blocker != "damaged")
        return;
    QVERIFY2(run.err.contains("--leave"), qPrintable(run.err));

    // Left as it is: the record is kept beside itself, and the folder is one never seen.
    const std::string damaged = contentOf(record);
    const CliRun left = cli({"recover", "%1", "--leave"}, dir);
    QVERIFY2(left.status == 0, qPrintable(left.err));
    QVERIFY(!fs::exists(record));
    std::vector<fs::path> kept;
    for (const auto &e : fs::directory_iterator(record.parent_path())) {
        if (e.path().filename().native().starts_with(record.filename().native() + ".damaged-"))
            kept.push_back(e.path());
    }
    QCOMPARE(kept.size(), std::size_t(1));
    QVERIFY(contentOf(kept[0]) == damaged);
    QVERIFY2(left.out.contains(QString::fromStdString(kept[0].native())), qPrintable(left.out));
    QCOMPARE(namesOf(dir), before);
    QCOMPARE(cli({"status", "%1"}, dir).status, 0);
}

// Something else in place of the folder's record (a pipe kept status and shuffle waiting, a link
// to /dev/zero ran out of memory), or a lock folder that is not private (the pass ran unlocked):
// the command answers at once with status 3, names the file or folder and renames nothing.
void TestCli::stateFolderTroubleIsTold_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QStringList>("args");
    for (const char *place : {"record: pipe", "record: link to /dev/zero", "record: folder",
                              "record: another user's file", "lock folder: another user's",
                              "lock folder: a link", "lock folder: others may write"}) {
        // status takes the lock only for a pending pass.
        if (QString(place).startsWith("record"))
            QTest::addRow("status, %s", place) << place << QStringList{"status", "%1"};
        QTest::addRow("shuffle, %s", place) << place << QStringList{"shuffle", "%1"};
    }
    QTest::newRow("remove --dry-run, lock folder: a link")
        << "lock folder: a link" << QStringList{"remove", "%1", "--dry-run"};
}

void TestCli::stateFolderTroubleIsTold()
{
    QFETCH(QString, place);
    QFETCH(QStringList, args);
    const bool lock = place.startsWith("lock");
    if (lock && korvalo::PassLock::lockFolder().native().starts_with("/run/user/"))
        QSKIP("the locks live in /run/user here, not in the state folder");
    TestDir state, dir;
    touchAll(dir, songs(3));
    const QStringList env{QStringLiteral("XDG_STATE_HOME=") + QString::fromStdString(state.path())};
    fs::path named = state / "korvalo"; // the lock folder, or the record in it
    if (!lock) {
        QCOMPARE(cli({"shuffle", "%1"}, dir, env).status, 0);
        for (const auto &entry : fs::directory_iterator(named))
            if (entry.path().extension() == ".journal")
                named = entry.path();
        QVERIFY(fs::remove(named));
    }
    if (!lock)
        plantAt(named, place.section(": ", 1), state / "victim");
    else if (place.endsWith("a link"))
        fs::create_directory_symlink(state.path(), named);
    else
        fs::create_directory(named);
    if (place.endsWith("others may write"))
        QCOMPARE(::chmod(named.c_str(), 0757), 0);
    else if (place.endsWith("another user's"))
        QCOMPARE(::chown(named.c_str(), 65534, 65534), 0);
    const QStringList before = namesOf(dir);

    const CliRun run = cli(args, dir, env);
    QCOMPARE(run.status, 3);
    QCOMPARE(namesOf(dir), before);
    QVERIFY2(run.err.contains(QString::fromStdString(named.native())) &&
                 run.err.contains(lock ? QStringLiteral("锁文件") : QStringLiteral("已损坏")),
             qPrintable(run.err));
}

void TestCli::interruptedPassIsRecovered_data()
{
    QTest::addColumn<QString>("pass");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("status");
    // What the folder holds afterwards: the names before the interrupted pass ("before"), as it
    // left them ("left"), as if it had run to the end ("done"), or two of its files undone
    // ("part").
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<bool>("deviceGone"); // the recovery's renames fail with ENODEV after two

    QTest::newRow("shuffle --undo") << "shuffle"
                                    << "--undo" << 0 << "before" << false;
    QTest::newRow("shuffle --finish") << "shuffle"
                                      << "--finish" << 0 << "done" << false;
    QTest::newRow("shuffle --leave") << "shuffle"
                                     << "--leave" << 0 << "left" << false;
    QTest::newRow("remove --finish") << "remove"
                                     << "--finish" << 0 << "done" << false;
    QTest::newRow("remove --undo: not offered") << "remove"
                                                << "--undo" << 2 << "left" << false;
    QTest::newRow("shuffle --undo, the stick gone") << "shuffle"
                                                    << "--undo" << 1 << "part" << true;
}

// Ctrl-C stops the pass after the file in hand; the status reports the unfinished pass, a new
// pass is refused, and the recovery chosen puts the folder in order.
void TestCli::interruptedPassIsRecovered()
{
    QFETCH(QString, pass);
    QFETCH(QString, choice);
    QFETCH(int, status);
    QFETCH(QString, outcome);
    QFETCH(bool, deviceGone);
    TestDir dir;
    const QStringList originals = songs(20);
    touchAll(dir, originals);
    if (pass == "remove")
        QCOMPARE(cli({"shuffle", "%1"}, dir).status, 0);
    const QStringList before = namesOf(dir);

    QCOMPARE(interruptedPass(pass, dir, 5).status, 130);
    const QStringList left = namesOf(dir);
    if (pass == "shuffle")
        QCOMPARE(countPrefixedBefore(left, originals), 5);
    else
        QCOMPARE(countPrefixedBefore(left, originals), originals.size() - 5);

    const CliRun report = cli({"status", "%1"}, dir);
    QCOMPARE(report.status, 0);
    QVERIFY2(report.out.contains("--finish"), qPrintable(report.out));
    // With no folder, every unfinished pass the journal holds: this folder's among them.
    const QString quotedFolder =
        QStringLiteral("“%1”").arg(QString::fromStdString(dir.path().native()));
    const CliRun everywhere = cli({"status"}, dir);
    QVERIFY2(everywhere.status == 0 && everywhere.out.contains(quotedFolder),
             qPrintable(everywhere.out));
    // The status's counts agree with the unfinished pass: the files it renamed carry Korvalo's
    // prefix, or lost it.
    const int prefixed = pass == "shuffle" ? 5 : int(originals.size()) - 5;
    QVERIFY2(report.out.contains(QStringLiteral("其中 %1 个文件名带着 Korvalo").arg(prefixed)) &&
                 report.out.contains(QStringLiteral("已改名 5 个")) &&
                 !report.out.contains(QStringLiteral("原有的")),
             qPrintable(report.out));

    const CliRun recovery =
        cli({"recover", "%1", choice}, dir,
            deviceGone ? hooked({QStringLiteral("KORVALO_TEST_RENAME_ERRNO=%1").arg(ENODEV),
                                 QStringLiteral("KORVALO_TEST_RENAME_ERRNO_AFTER=2")})
                       : QStringList());
    QVERIFY2(recovery.status == status, qPrintable(recovery.err));
    if (deviceGone)
        QVERIFY2(recovery.err.contains(QStringLiteral("设备已移除")), qPrintable(recovery.err));
    const QStringList after = namesOf(dir);
    if (outcome == "before") {
        QCOMPARE(after, before);
    } else if (outcome == "left") {
        QCOMPARE(after, left);
    } else if (outcome == "part") {
        QCOMPARE(countPrefixedBefore(after, originals), 3);
    } else if (pass == "shuffle") {
        QCOMPARE(countPrefixedBefore(after, originals), originals.size());
    } else {
        QCOMPARE(after, sorted(originals));
    }
    const bool settled = status == 0;
    QCOMPARE(cli({"status", "%1"}, dir).out.contains("--finish"), !settled);
    QCOMPARE(cli({"status"}, dir).out.contains(quotedFolder), !settled);
}

void TestCli::journalLastsAcrossRenames_data()
{
    QTest::addColumn<QString>("before"); // a pass run on the folder first, or none
    QTest::addColumn<QString>("pass");
    QTest::addColumn<int>("stopAfter"); // Ctrl-C after this many renames; 0: never
    QTest::newRow("the first pass: the record written afresh") << QString() << "shuffle" << 0;
    QTest::newRow("a later pass: appended to the record") << "shuffle"
                                                          << "remove" << 0;
    QTest::newRow("a pass stopped by Ctrl-C: its end line") << QString() << "shuffle" << 3;
}

// What the journal says of a pass is on the disk before the pass's first rename, and, when the
// pass is stopped, after its end line: a power cut then finds the record, not an older one.
void TestCli::journalLastsAcrossRenames()
{
    QFETCH(QString, before);
    QFETCH(QString, pass);
    QFETCH(int, stopAfter);
    TestDir dir;
    touchAll(dir, songs(6));
    TestDir state;
    const QString stateHome = QString::fromStdString(fs::canonical(state.path()).native());
    const QString journalFolder = stateHome + "/korvalo";
    const QString stateEnv = "XDG_STATE_HOME=" + stateHome;
    if (!before.isEmpty())
        QCOMPARE(cli({before, "%1"}, dir, {stateEnv}).status, 0);

    TestDir logDir;
    const QString logFile = QString::fromStdString((logDir / "calls.log").native());
    const QStringList env{stateEnv, "KORVALO_TEST_LOG=" + logFile};
    const CliRun run = stopAfter > 0 ? interruptedPass(pass, dir, stopAfter, env)
                                     : cli({pass, "%1"}, dir, hooked(env));
    QCOMPARE(run.status, stopAfter > 0 ? 130 : 0);
    QFile file(logFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList log = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);

    const QString music = "rename " + QString::fromStdString(dir.path().native()) + '/';
    const auto firstRename = std::find_if(
        log.begin(), log.end(), [&](const QString &line) { return line.startsWith(music); });
    QVERIFY2(firstRename != log.end(), qPrintable(log.join('\n')));
    const QString beforeFirst = syncedBefore(log, firstRename - log.begin(), journalFolder);
    QVERIFY2(beforeFirst.isEmpty(), qPrintable(beforeFirst));
    if (stopAfter > 0) {
        const QString atTheEnd = syncedBefore(log, log.size(), journalFolder);
        QVERIFY2(atTheEnd.isEmpty(), qPrintable(atTheEnd));
    }
}

void TestCli::orderingFolderGetsNoPass_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    for (const char *command : {"shuffle", "remove", "status"})
        QTest::newRow(command) << QStringList{command, "%1"} << 3;
    QTest::newRow("recover --leave") << QStringList{"recover", "%1", "--leave"} << 3;
    QTest::newRow("recover --finish") << QStringList{"recover", "%1", "--finish"} << 0;
}

// The folder the files pass through to be stored in order, left behind by a crash: its files
// belong one level up. Only `recover --finish` acts on it, and it moves them back there.
void TestCli::orderingFolderGetsNoPass()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    TestDir dir;
    dir.touch("other.txt");
    const QString inner = QString::fromUtf8(
        reinterpret_cast<const char *>(std::u8string(korvalo::kOrderingFolderPrefix).c_str()));
    dir.mkdir(inner.toStdString());
    touchAll(dir, {inner + "/b.mp3", inner + "/a.flac"});
    args.replaceInStrings(QStringLiteral("%1"), QStringLiteral("%1/") + inner);

    const CliRun run = cli(args, dir);
    QCOMPARE(run.status, status);
    if (status == 0) {
        QCOMPARE(namesOf(dir), (QStringList{"a.flac", "b.mp3", "other.txt"}));
        QCOMPARE(dir.read("b.mp3"), "content of " + inner.toStdString() + "/b.mp3");
        return;
    }
    QVERIFY2(run.err.contains(QStringLiteral("上一级")) && run.err.contains("recover") &&
                 run.err.contains("--finish"),
             qPrintable(run.err));
    QCOMPARE(namesOf(dir), (QStringList{inner, "other.txt"}));
    QCOMPARE(dir.read(inner.toStdString() + "/b.mp3"),
             "content of " + inner.toStdString() + "/b.mp3");
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
