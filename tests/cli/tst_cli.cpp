// korvalo-cli as a script runs it: the real executable on temporary folders, its input not a
// terminal unless a test types on one. Exit statuses, a dry run and a refused pass that leave the
// folder as it was, the questions answered on a terminal and the safe way elsewhere, a pass
// stopped by Ctrl-C and recovered afterwards, and the journal made lasting before the first rename
// and after a stop. A closed terminal and SIGTERM stop a pass as Ctrl-C does, also while the files
// are stored in order on exFAT; output, order and record that could not be written fail the
// command; a mount that does not answer is not waited for.

#include "browse/mountinfo.h"
#include "journal/journalformat.h"
#include "journal/journalkey.h"
#include "journal/passlock.h"
#include "journal/statefolder.h"
#include "passes/ordering.h"
#include "session/unfinished.h"
#include "support/clirun.h"
#include "support/hostileplace.h"
#include "support/songnames.h"
#include "support/testdir.h"

#include "mountedimage.h"
#include "volumefiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
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

int countPrefixedBefore(const QStringList &now, const QStringList &originals)
{
    int n = 0;
    for (const QString &name : now)
        n += std::any_of(originals.begin(), originals.end(), [&](const QString &o) {
            return hasPrefixBefore(name.toStdString(), o.toStdString());
        });
    return n;
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
    void twoShufflesAtOnce();
    void stopSignal_data();
    void stopSignal();
    void storingInOrderCutShort_data();
    void storingInOrderCutShort();
    void outputNotWritten_data();
    void outputNotWritten();
    void recordNotWrittenFails();
    void stuckMountIsNotWaitedFor();
    void ownDigitsCountedByOneRule();
    void stoppedRemovalCountsItsPlan();
    void exitStatusesDocumented_data();
    void exitStatusesDocumented();
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
        lock = korvalo::PassLock::tryAcquire(korvalo::PassLock::lockFolder(),
                                             korvalo::deviceOf(dir.path()).value())
                   .lock;
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

    const auto row = [](const char *name, const char *pass, const char *choice, int status,
                        const char *outcome, bool deviceGone) {
        QTest::newRow(name) << QString(pass) << QString(choice) << status << QString(outcome)
                            << deviceGone;
    };
    row("shuffle --undo", "shuffle", "--undo", 0, "before", false);
    row("shuffle --finish", "shuffle", "--finish", 0, "done", false);
    row("shuffle --leave", "shuffle", "--leave", 0, "left", false);
    row("remove --finish", "remove", "--finish", 0, "done", false);
    row("remove --undo: not offered", "remove", "--undo", 2, "left", false);
    row("shuffle --undo, the stick gone", "shuffle", "--undo", 1, "part", true);
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

// A script started twice: two shuffles of one folder at the same instant. One renames; the other
// is refused, or finds the first one's prefixes and renames nothing (nobody to ask); the folder is
// never left blocked, and one removal gives back every name.
void TestCli::twoShufflesAtOnce()
{
    int stale = 0; // runs where the second found the folder changed since it was opened
    for (int run = 0; run < 8; ++run) {
        TestDir dir;
        touchAll(dir, songs(5));
        std::array<QProcess, 2> shuffles;
        for (QProcess &p : shuffles) {
            p.setStandardInputFile(QProcess::nullDevice());
            p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        }
        for (QProcess &p : shuffles)
            p.start(QStringLiteral(KORVALO_CLI),
                    {QStringLiteral("shuffle"), QString::fromStdString(dir.path().native())});
        QList<int> statuses;
        QString refusal;
        for (QProcess &p : shuffles) {
            QVERIFY(p.waitForFinished(60000));
            statuses << p.exitCode();
            if (p.exitCode() != 0)
                refusal = QString::fromUtf8(p.readAllStandardError());
        }
        std::sort(statuses.begin(), statuses.end());
        QCOMPARE(statuses, (QList<int>{0, 3}));
        // Busy, or changed since it was opened, or (opened after the first ended) prefixed.
        QVERIFY2(refusal.contains(QStringLiteral("另一个 Korvalo")) ||
                     refusal.contains(QStringLiteral("已经带着 Korvalo 加上的序号")),
                 qPrintable(refusal));
        stale += refusal.contains(QStringLiteral("刚刚"));
        const CliRun status = cli({"status", "%1"}, dir);
        QVERIFY2(!status.out.contains(QStringLiteral("无法确认")), qPrintable(status.out));
        QCOMPARE(countPrefixedBefore(namesOf(dir), songs(5)), 5);
        QCOMPARE(cli({"remove", "%1"}, dir).status, 0);
        QCOMPARE(namesOf(dir), sorted(songs(5)));
    }
    qInfo("the second shuffle found the folder changed since it opened it in %d of 8 runs", stale);
}

// The names of a folder on a mounted image, with the ordering folder, if one was left, in view.
QString ordered(const fs::path &folder)
{
    return show(snapshot(folder));
}

// The three ways a pass is stopped: Ctrl-C, the terminal closed, the system's request to end.
const struct
{
    const char *name;
    int number;
    int status;
} kStops[] = {{"SIGINT", SIGINT, 130}, {"SIGHUP", SIGHUP, 129}, {"SIGTERM", SIGTERM, 143}};

void TestCli::stopSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    for (const auto &stop : kStops)
        QTest::newRow(stop.name) << stop.number << stop.status;
}

// Each signal stops a pass after the file in hand, ends with its own status and leaves nothing
// but what `recover` handles.
void TestCli::stopSignal()
{
    QFETCH(int, signal);
    QFETCH(int, status);
    TestDir dir;
    touchAll(dir, songs(6));
    const CliRun run =
        interruptedPass("shuffle", dir, 2, {QStringLiteral("KORVALO_TEST_SIGNAL=%1").arg(signal)});
    QVERIFY2(run.status == status, qPrintable(QString::number(run.status) + run.err));
    QCOMPARE(countPrefixedBefore(namesOf(dir), songs(6)), 2);
    QVERIFY2(run.err.contains("recover"), qPrintable(run.err));
}

void TestCli::storingInOrderCutShort_data()
{
    QTest::addColumn<QStringList>("hooks");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    // Twelve renames, then four of the twelve moves out.
    for (const auto &stop : kStops)
        QTest::addRow("%s", stop.name)
            << QStringList{QStringLiteral("KORVALO_TEST_SIGNAL=%1").arg(stop.number),
                           "KORVALO_TEST_SIGINT_AFTER=16"}
            << stop.status << QStringLiteral("存放顺序没有整理");
    // Twelve renames and two moves out; the third move is refused.
    QTest::newRow("the device gone")
        << QStringList{QStringLiteral("KORVALO_TEST_RENAME_ERRNO=%1").arg(ENODEV),
                       "KORVALO_TEST_RENAME_ERRNO_AFTER=14", "KORVALO_TEST_RENAME_ERRNO_TIMES=1"}
        << 1 << QStringLiteral("没能整理这些歌曲在U盘上的存放顺序");
}

// A stop, or a move refused, while the files are stored in order on exFAT: no further file goes
// out and those out come back, the ordering folder is gone and nothing is left for `recover`; the
// status and the text say the order was not arranged.
void TestCli::storingInOrderCutShort()
{
    QFETCH(QStringList, hooks);
    QFETCH(int, status);
    QFETCH(QString, says);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image, 100);
    const fs::path folder = image.root();
    std::vector<std::string> names;
    for (int i = 1; i <= 12; ++i)
        names.push_back("歌曲 " + std::to_string(i) + ".mp3");
    Snapshot original;
    const QString populated = populate(image, original, names);
    QVERIFY2(populated.isEmpty(), qPrintable(populated));

    const CliRun run = cli({"shuffle", "%1"}, folder, hooked(hooks));
    QVERIFY2(run.status == status, qPrintable(QString::number(run.status) + ": " + run.err));
    QVERIFY2(run.err.contains(says), qPrintable(run.err));
    const Snapshot after = snapshot(folder);
    QVERIFY2(holdsEveryFileOnce(after, original), qPrintable(ordered(folder)));
    QCOMPARE(after.size(), original.size());
    const CliRun look = cli({"status", "%1"}, folder);
    QVERIFY2(look.status == 0 && look.out.contains(QStringLiteral("没有需要处理的")),
             qPrintable(look.out));
    VERIFY_VOLUME_SOUND(image);
}

void TestCli::outputNotWritten_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("renames");
    QTest::newRow("list") << QStringList{"list", "%1"} << false;
    QTest::newRow("status") << QStringList{"status", "%1"} << false;
    QTest::newRow("status of every folder") << QStringList{"status"} << false;
    QTest::newRow("shuffle --dry-run") << QStringList{"shuffle", "%1", "--dry-run"} << false;
    QTest::newRow("help") << QStringList{"--help"} << false;
    QTest::newRow("shuffle: its report") << QStringList{"shuffle", "%1"} << true;
}

// Output that cannot be written (stdout on /dev/full) fails the command, after the renames it made
// were recorded: they stand, and `status` tells them.
void TestCli::outputNotWritten()
{
    QFETCH(QStringList, args);
    QFETCH(bool, renames);
    TestDir dir;
    touchAll(dir, songs(3));
    QStringList filled;
    for (const QString &arg : args)
        filled << QString(arg).replace("%1", QString::fromStdString(dir.path().native()));
    QProcess p;
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QStringLiteral("/dev/full"));
    p.start(QStringLiteral(KORVALO_CLI), filled);
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 1, qPrintable(QString::number(p.exitCode()) + err));
    QVERIFY2(err.contains(QStringLiteral("标准输出")), qPrintable(err));
    QCOMPARE(countPrefixedBefore(namesOf(dir), songs(3)), renames ? 3 : 0);
    const CliRun look = cli({"status", "%1"}, dir);
    QVERIFY2(look.status == 0, qPrintable(look.err));
    if (renames)
        QVERIFY2(look.out.contains(QStringLiteral("3 个文件名带着 Korvalo")), qPrintable(look.out));
}

// The state folder full after the renames began: every file was renamed, the end of the pass did
// not reach the record. A failure, told without contradiction, and `recover --finish` puts the
// record right without renaming anything again.
void TestCli::recordNotWrittenFails()
{
    TestDir dir;
    touchAll(dir, songs(5));
    const CliRun run = cli({"shuffle", "%1"}, dir,
                           hooked({QStringLiteral("KORVALO_TEST_STATE_ERRNO=%1").arg(ENOSPC),
                                   "KORVALO_TEST_STATE_ERRNO_AFTER=2"}));
    QVERIFY2(run.status == 1, qPrintable(QString::number(run.status) + ": " + run.err));
    QVERIFY2(run.err.contains(QStringLiteral("5 个文件都已改好")), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("没有继续改名")), qPrintable(run.err));
    QVERIFY2(run.err.contains("--finish"), qPrintable(run.err));
    const QStringList renamed = namesOf(dir);
    QCOMPARE(countPrefixedBefore(renamed, songs(5)), 5);

    const CliRun finished = cli({"recover", "%1", "--finish"}, dir);
    QVERIFY2(finished.status == 0, qPrintable(finished.err));
    QCOMPARE(namesOf(dir), renamed);
    const CliRun look = cli({"status", "%1"}, dir);
    QVERIFY2(look.out.contains(QStringLiteral("没有需要处理的")), qPrintable(look.out));
}

// `status` with no folder does not wait on a mount that does not answer (a FUSE daemon stopped,
// as a dead network share behaves): the folder on it is told as not checked, within the limit of
// one look-up, and the other records are told as usual.
void TestCli::stuckMountIsNotWaitedFor()
{
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image, 100);
    const fs::path folder = image.root();
    Snapshot original;
    QVERIFY(populate(image, original, {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}).isEmpty());
    QCOMPARE(cli({"shuffle", "%1"}, folder, hooked({"KORVALO_TEST_SIGINT_AFTER=2"})).status, 130);
    TestDir local;
    touchAll(local, songs(4));
    QCOMPARE(interruptedPass("shuffle", local, 2).status, 130);

    const pid_t daemon = image.daemon();
    QVERIFY(daemon > 0);
    QVERIFY(::kill(daemon, SIGSTOP) == 0);
    struct Resume
    {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{daemon};
    // A sanitizer build's leak check stops every thread at the end, and cannot stop the look-up
    // left waiting on the stuck mount: it is left out of this one run.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    const QStringList noLeakCheck{"ASAN_OPTIONS=" + asan + (asan.isEmpty() ? "" : ":") +
                                  "detect_leaks=0"};
    QElapsedTimer timer;
    timer.start();
    const CliRun look = cli({"status"}, fs::path(), noLeakCheck);
    const qint64 took = timer.elapsed();
    qInfo("status with a stopped FUSE daemon: %lld ms", static_cast<long long>(took));
    QVERIFY2(took < 2 * korvalo::session::kLookUpLimit.count() + 2000, qPrintable(look.out));
    QVERIFY2(look.status == 0, qPrintable(look.err));
    QVERIFY2(look.out.contains(QStringLiteral("无法检查")), qPrintable(look.out));
    QVERIFY2(look.out.contains(QString::fromStdString(local.path().native())),
             qPrintable(look.out));
    ::kill(daemon, SIGCONT);
    QCOMPARE(cli({"recover", "%1", "--undo"}, folder).status, 0);
    VERIFY_VOLUME_SOUND(image);
}

// "1984.mp3" keeps its four digits in a removal (the name would be left hidden): `status` does not
// count them either, as Korvalo's or as the name's own.
void TestCli::ownDigitsCountedByOneRule()
{
    TestDir dir;
    touchAll(dir, {"1984.mp3", "a.mp3"});
    const CliRun look = cli({"status", "%1"}, dir);
    QVERIFY2(look.status == 0, qPrintable(look.err));
    QVERIFY2(!look.out.contains(QStringLiteral("四位数字")), qPrintable(look.out));
    const CliRun dry = cli({"remove", "%1", "--strip-all", "--dry-run"}, dir);
    QVERIFY2(dryRunRenames(dry.out).isEmpty(), qPrintable(dry.out));
}

// A removal stopped after its first file counts the files it was to rename, not the folder's.
void TestCli::stoppedRemovalCountsItsPlan()
{
    TestDir dir;
    touchAll(dir, songs(20) + QStringList{"1999 a.mp3", "2001 b.mp3"});
    const CliRun run =
        cli({"remove", "%1", "--strip-all"}, dir, hooked({"KORVALO_TEST_SIGINT_AFTER=1"}));
    QVERIFY2(run.status == 130, qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("在 2 个文件中改了 1 个")), qPrintable(run.err));
}

void TestCli::exitStatusesDocumented_data()
{
    QTest::addColumn<QString>("document"); // below the source folder; empty: --help
    QTest::newRow("--help") << QString();
    QTest::newRow("README") << "README.md";
    QTest::newRow("man page") << "data/man/korvalo-cli.1.in";
    QTest::newRow("man page, Chinese") << "data/man/zh_CN/korvalo-cli.1.in";
}

// --help, the README's table and both man pages name every exit status the program gives.
void TestCli::exitStatusesDocumented()
{
    QFETCH(QString, document);
    QString text;
    if (document.isEmpty()) {
        text = cli({"--help"}, fs::path()).out;
    } else {
        QFile file(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../../") + document);
        QVERIFY(file.open(QIODevice::ReadOnly));
        text = QString::fromUtf8(file.readAll());
    }
    for (const int status : {0, 1, 2, 3, 129, 130, 143}) {
        const QString n = QString::number(status);
        const bool named = text.contains("\n  " + n + " ") || text.contains("| " + n + " |") ||
                           text.contains(".B " + n + "\n");
        QVERIFY2(named, qPrintable(n));
    }
    QVERIFY(text.contains("SIGHUP") && text.contains("SIGTERM"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
