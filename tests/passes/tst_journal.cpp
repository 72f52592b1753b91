#include "browse/musicfilelist.h"
#include "journal/filestates.h"
#include "journal/journal.h"
#include "journal/journalformat.h"
#include "journal/namecodec.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "passes/recoveryplan.h"
#include "support/childprocess.h"
#include "support/testdir.h"

#include <QTest>

#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

using korvalo::FileName;
using korvalo::FolderRecord;
using korvalo::Journal;
using korvalo::JournalError;
using korvalo::JournalKey;
using korvalo::MoveOutcome;
using korvalo::PassEnd;
using korvalo::PassKind;
using korvalo::PlannedRename;
using korvalo::RecoveryCheck;
using korvalo::RecoveryChoice;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(PassKind)
Q_DECLARE_METATYPE(RecoveryChoice)
Q_DECLARE_METATYPE(Names)
Q_DECLARE_METATYPE(JournalError::Kind)
Q_DECLARE_METATYPE(korvalo::RecoveryCheck)
Q_DECLARE_METATYPE(JournalKey)

namespace {

const JournalKey kKey{"2C6E-91F0", "/Music"};

// The rename a pass makes, as one plain system call that never replaces a file.
int renameInFolder(const fs::path &folder, const FileName &from, const FileName &to)
{
    return ::renameat2(AT_FDCWD, (folder / from).c_str(), AT_FDCWD, (folder / to).c_str(),
                       RENAME_NOREPLACE) == 0
               ? 0
               : errno;
}

std::function<MoveOutcome(const PlannedRename &)> movesIn(const fs::path &folder)
{
    return [folder](const PlannedRename &m) {
        return renameInFolder(folder, m.from, m.to) == 0 ? MoveOutcome::Renamed
                                                         : MoveOutcome::Refused;
    };
}

// Waits for a child and checks that it ended as planned.
void reap(pid_t pid)
{
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

// Names that must survive: digits of their own, a name that is another one's shuffled form,
// percent signs and blanks, Chinese, and bytes that are not UTF-8.
const Names kOriginals = {
    "5678Song.mp3", "2019 Live.mp3", "0001 Intro.mp3", "Song.mp3",       "1999 - Prince.mp3",
    "1234.mp3",     "歌曲.mp3",      "a%b c.mp3",      "\xff\xfe x.mp3", "Track 01.flac",
};

// A shuffle's start that announces every rename.
korvalo::PassStart startOf(std::span<const PlannedRename> planned)
{
    korvalo::PassStart start;
    start.fileCount = int(planned.size());
    start.planned = planned;
    return start;
}

// Sticks written from one image share the journal's key, and only their identities tell them
// apart.
JournalKey keyOf(const std::string &stick, const std::string &path = "/Music",
                 const std::string &typed = {})
{
    return JournalKey{"2C6E-91F0", path, stick, typed};
}

// The record files' names and bytes.
std::map<std::string, std::string> records(const TestDir &state)
{
    std::map<std::string, std::string> bytes;
    for (const std::string &name : state.names())
        bytes[name] = state.read(name);
    return bytes;
}

// A shuffle of a.mp3 .. d.mp3 recorded under `key`, killed after renaming the first `renamed` in
// `folder`, or ended after them as `end` says. Gives the record files after it.
std::map<std::string, std::string> shuffle(const TestDir &state, const JournalKey &key,
                                           const TestDir &folder, int renamed,
                                           std::optional<PassEnd> end = std::nullopt)
{
    std::vector<korvalo::PlannedRename> planned;
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
        planned.push_back({name, std::string("3250") + name});
    Journal journal(state.path());
    if (journal.beginPass(key, startOf(planned)).ok()) {
        for (int i = 0; i < renamed; ++i)
            fs::rename(folder / planned[i].from, folder / planned[i].to);
        if (end)
            journal.endPass(*end, renamed);
    }
    return records(state);
}

void fill(TestDir &folder)
{
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
        folder.touch(name);
}

// Lines as the journal writes them, each sealed with its checksum.
QByteArray sealed(std::initializer_list<std::string> lines)
{
    std::string out;
    for (const std::string &line : lines) {
        const std::size_t start = out.size();
        out += line;
        korvalo::journalformat::sealLine(out, start);
    }
    return QByteArray::fromStdString(out);
}

std::string prefixFor(int i)
{
    // "Song.mp3" gets the prefix that makes it "5678Song.mp3", a name the first file leaves.
    return i == 3 ? "5678" : std::to_string(1000 + 111 * i);
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void killAtEveryStep_data();
    void killAtEveryStep();
    void tornLastLine_data();
    void tornLastLine();
    void damagedRecordIsNeverUsed_data();
    void damagedRecordIsNeverUsed();
    void unwritableJournalStopsBeforeFirstRename_data();
    void unwritableJournalStopsBeforeFirstRename();
    void stateFolder_data();
    void stateFolder();
    void sizeStaysBounded();
    void recordsOfManyFoldersAreBounded();
    void conflictsAreReportedNotForced_data();
    void conflictsAreReportedNotForced();
    void fileStatesFromTheRecord_data();
    void fileStatesFromTheRecord();
    void digitNames_data();
    void digitNames();
    void pendingPassOfAnotherStick_data();
    void pendingPassOfAnotherStick();
    void recordMovesToTheFullKey_data();
    void recordMovesToTheFullKey();
    void oneWriterPerRecord();

private:
    std::unique_ptr<TestDir> m_state;
    QByteArray m_savedXdg, m_savedHome;
};

void TestJournal::init()
{
    m_state = std::make_unique<TestDir>();
    m_savedXdg = qgetenv("XDG_STATE_HOME");
    m_savedHome = qgetenv("HOME");
}

void TestJournal::cleanup()
{
    qputenv("XDG_STATE_HOME", m_savedXdg);
    qputenv("HOME", m_savedHome);
    m_state.reset();
}

// A pass runs in a child process that records it and renames through plain system calls, and is
// killed at a given step: after k renames (kill at k), or right after a record that announces a
// rename it then does not make. The folder is then reached through another mount point (moved),
// the journal is read with the same key, and the chosen recovery runs. It may be killed (or
// stopped) in turn, after some of its renames; the recovery of that recovery must still bring
// every name back.
void TestJournal::killAtEveryStep_data()
{
    QTest::addColumn<PassKind>("kind");
    QTest::addColumn<int>("batch");        // files announced at a time
    QTest::addColumn<int>("killAt");       // renames made before the kill
    QTest::addColumn<bool>("afterRedraw"); // killed after recording a new draw, before its rename
    QTest::addColumn<bool>("stopped");     // not killed: stopped with an end line, the recovery too
    QTest::addColumn<RecoveryChoice>("choice");
    QTest::addColumn<int>("secondKill"); // the recovery is killed after this many renames (-1: not)

    const int n = int(kOriginals.size());
    const auto undo = RecoveryChoice::Undo;
    const auto finish = RecoveryChoice::Finish;
    const auto shuffle = PassKind::Shuffle;
    QTest::newRow("shuffle killed before the first rename")
        << shuffle << 4 << 0 << false << false << undo << -1;
    QTest::newRow("shuffle killed after one rename")
        << shuffle << 4 << 1 << false << false << undo << -1;
    QTest::newRow("shuffle killed half-way")
        << shuffle << 4 << n / 2 << false << false << undo << -1;
    QTest::newRow("shuffle killed before the last rename")
        << shuffle << 4 << n - 1 << false << false << undo << -1;
    QTest::newRow("shuffle killed before its end line")
        << shuffle << 4 << n << false << false << undo << -1;
    QTest::newRow("shuffle announced in one batch")
        << shuffle << 0 << n / 2 << false << false << undo << -1;
    QTest::newRow("killed between a batch's record and its rename")
        << shuffle << 4 << 4 << false << false << undo << -1;
    QTest::newRow("killed between a new draw and its rename")
        << shuffle << 4 << 4 << true << false << undo << -1;
    QTest::newRow("new draw, shuffle finished")
        << shuffle << 4 << 4 << true << false << finish << -1;
    QTest::newRow("shuffle killed half-way, finished")
        << shuffle << 4 << n / 2 << false << false << finish << -1;
    QTest::newRow("shuffle stopped half-way")
        << shuffle << 4 << n / 2 << false << true << undo << -1;
    QTest::newRow("removal killed half-way, finished")
        << PassKind::Removal << 4 << n / 2 << false << false << finish << -1;
    QTest::newRow("undo killed in turn") << shuffle << 4 << n - 1 << false << false << undo << 3;
    QTest::newRow("finish killed in turn") << shuffle << 4 << 2 << false << false << finish << 1;
    QTest::newRow("undo stopped in turn") << shuffle << 4 << n - 1 << false << true << undo << 3;
    QTest::newRow("finish stopped in turn") << shuffle << 4 << 2 << false << true << finish << 1;
}

void TestJournal::killAtEveryStep()
{
    QFETCH(PassKind, kind);
    QFETCH(int, batch);
    QFETCH(int, killAt);
    QFETCH(bool, afterRedraw);
    QFETCH(bool, stopped);
    QFETCH(RecoveryChoice, choice);
    QFETCH(int, secondKill);
    const RecoveryChoice firstChoice = choice;

    const int n = int(kOriginals.size());
    // The names before the pass, and what the pass plans for each.
    Names before;
    std::vector<PlannedRename> planned;
    for (int i = 0; i < n; ++i) {
        const std::string prefixed = prefixFor(i) + kOriginals[i];
        before.push_back(kind == PassKind::Shuffle ? kOriginals[i] : prefixed);
        planned.push_back({before.back(), kind == PassKind::Shuffle ? prefixed : kOriginals[i]});
    }
    if (kind == PassKind::Removal) {
        // "5678Song.mp3" must become "Song.mp3" before "10005678Song.mp3" can take its name.
        std::reverse(before.begin(), before.end());
        std::reverse(planned.begin(), planned.end());
    }
    TestDir root;
    const fs::path folder = root.path() / "mount-a" / "Music";
    fs::create_directories(folder);
    for (const std::string &name : before)
        root.write("mount-a/Music/" + name, "content of " + name);
    // A file outside the pass holds the fifth file's planned name: the shuffle draws again.
    const std::string outsider = kind == PassKind::Shuffle ? planned[4].to : "outsider.mp3";
    root.write("mount-a/Music/" + outsider, "outsider");

    const fs::path state = m_state->path();
    const pid_t pid = forkTestChild();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        Journal journal(state);
        const int first = batch > 0 ? batch : n;
        korvalo::PassStart start;
        start.kind = kind;
        start.fileCount = n;
        start.planned = std::span(planned).first(first);
        if (!journal.beginPass(kKey, start).ok())
            ::_exit(2);
        int announced = first;
        for (int i = 0; i < n; ++i) {
            if (i == announced) {
                const int next = std::min(announced + batch, n);
                if (!journal.announce(std::span(planned).subspan(announced, next - announced)).ok())
                    ::_exit(2);
                announced = next;
            }
            if (i == killAt && stopped) {
                journal.endPass(PassEnd::Stopped, i);
                ::_exit(0);
            }
            if (i == killAt && !afterRedraw)
                ::_exit(0);
            FileName to = planned[i].to;
            int err = renameInFolder(folder, planned[i].from, to);
            if (err == EEXIST && kind == PassKind::Shuffle) {
                to = std::to_string(9000 + i) + planned[i].from;
                if (!journal.revise(i, to).ok())
                    ::_exit(2);
                if (i == killAt)
                    ::_exit(0);
                err = renameInFolder(folder, planned[i].from, to);
            }
            if (err != 0)
                ::_exit(3);
        }
        if (killAt == n)
            ::_exit(0);
        ::_exit(journal.endPass(PassEnd::Completed, n).ok() ? 0 : 2);
    }
    reap(pid);
    if (QTest::currentTestFailed())
        return;

    // Where every file should end: the names from before, or the pass's planned names as it left
    // them (a new draw included). Files in a batch not yet announced were not touched.
    Names expected;
    std::map<std::string, std::string> contentOfName;
    Names recordedTo;
    {
        Journal journal(state);
        korvalo::FolderRecord record;
        QVERIFY(journal.load(kKey, record).ok());
        QVERIFY(record.known);
        QVERIFY(record.pending);
        QCOMPARE(record.pending->kind, kind);
        QCOMPARE(record.pending->fileCount, n);
        QCOMPARE(record.pending->end.has_value(), stopped);
        for (const PlannedRename &f : record.pending->files)
            recordedTo.push_back(f.to);
    }
    for (int i = 0; i < n; ++i) {
        const bool backToBefore = choice == RecoveryChoice::Undo;
        const std::string name =
            backToBefore || i >= int(recordedTo.size()) ? before[i] : recordedTo[i];
        expected.push_back(name);
        contentOfName[name] = "content of " + before[i];
    }
    expected.push_back(outsider);
    contentOfName[outsider] = "outsider";
    std::sort(expected.begin(), expected.end());

    // The stick comes back at another mount point.
    fs::rename(root.path() / "mount-a", root.path() / "mount-b");
    const fs::path moved = root.path() / "mount-b" / "Music";

    Journal journal(state);
    korvalo::FolderRecord record;
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(record.pending);
    Names names = namesIn(moved);
    korvalo::RecoveryPlan plan = korvalo::planRecovery(*record.pending, names);
    QCOMPARE(plan.status.done, std::min(killAt, n));
    QCOMPARE(plan.status.missing, 0);
    QCOMPARE(plan.canUndo, kind == PassKind::Shuffle);
    QVERIFY((choice == RecoveryChoice::Undo ? plan.undoConflicts : plan.finishConflicts).empty());

    if (secondKill >= 0) {
        const pid_t again = forkTestChild();
        QVERIFY(again >= 0);
        if (again == 0) {
            Journal child(state);
            int made = 0;
            const auto step = [&](int index, int) { return !stopped || index + 1 < secondKill; };
            const korvalo::RecordedRun run = korvalo::runRecovery(
                child, kKey, plan, choice, names,
                [&](const PlannedRename &m) {
                    if (!stopped && made++ == secondKill)
                        ::_exit(0);
                    return movesIn(moved)(m);
                },
                step);
            // Not killed: the recovery had fewer renames than the row expects, or did not stop.
            ::_exit(stopped && run.end == PassEnd::Stopped ? 0 : 4);
        }
        reap(again);
        if (QTest::currentTestFailed())
            return;
        // The interrupted recovery is itself a pass to recover, by finishing it.
        QVERIFY(journal.load(kKey, record).ok());
        QVERIFY(record.pending);
        QCOMPARE(record.pending->kind,
                 choice == RecoveryChoice::Undo ? PassKind::Restore : PassKind::Shuffle);
        QCOMPARE(record.pending->end.has_value(), stopped);
        names = namesIn(moved);
        plan = korvalo::planRecovery(*record.pending, names);
        QCOMPARE(plan.status.done, secondKill);
        choice = RecoveryChoice::Finish;
    }

    const korvalo::RecordedRun run =
        korvalo::runRecovery(journal, kKey, plan, choice, names, movesIn(moved));
    QVERIFY(run.journal.ok());
    QCOMPARE(run.end, PassEnd::Completed);
    QVERIFY(run.refusedIndexes.empty());

    QCOMPARE(namesIn(moved), expected);
    for (const auto &[name, content] : contentOfName)
        QCOMPARE(contentOf(moved / name), content);

    // The journal now knows exactly which names carry a prefix that Korvalo wrote.
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(!record.pending);
    std::map<FileName, int> prefixed;
    if (kind == PassKind::Shuffle && firstChoice == RecoveryChoice::Finish) {
        for (const std::string &name : recordedTo)
            prefixed[name] = 1;
    }
    QCOMPARE(record.prefixed, prefixed);
}

// A line cut off at a kill or a power cut, or garbage after the last whole line, is not read;
// everything before it is, and the next write leaves a whole record. The tails are appended
// without checksums (as a cut-off line has none that holds), but for a whole end line.
void TestJournal::tornLastLine_data()
{
    QTest::addColumn<QByteArray>("tail");
    std::string ended = "end completed 2";
    korvalo::journalformat::sealLine(ended, 0);
    QTest::newRow("a line without its end") << QByteArray("f 1234a.mp3 a.m");
    QTest::newRow("a new draw for a file not announced") << QByteArray("r 7 9999x.mp3\n");
    QTest::newRow("a broken escape") << QByteArray("f %zz b.mp3\n");
    QTest::newRow("zero bytes of a block never written") << QByteArray(512, '\0');
    QTest::newRow("a second end line")
        << QByteArray::fromStdString(ended) + QByteArray("end stopped 1\n");
}

void TestJournal::tornLastLine()
{
    QFETCH(QByteArray, tail);
    const std::vector<PlannedRename> planned = {{"a.mp3", "1234a.mp3"}, {"b.mp3", "5678b.mp3"}};
    fs::path file;
    {
        Journal journal(m_state->path());
        QVERIFY(journal.beginPass(kKey, startOf(planned)).ok());
        QVERIFY(journal.refused(1).ok());
    } // gone without an end line, as if killed
    for (const auto &e : fs::directory_iterator(m_state->path()))
        file = e.path();
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out.write(tail.constData(), tail.size());
    }
    Journal journal(m_state->path());
    korvalo::FolderRecord record;
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(record.tornTail);
    if (tail.startsWith("end completed")) {
        // The pass ended completed: it is folded in, and the line after the end is not read.
        QVERIFY(!record.pending);
        QCOMPARE(record.prefixed, (std::map<FileName, int>{{"1234a.mp3", 1}}));
        return;
    }
    QVERIFY(record.pending);
    QCOMPARE(record.pending->files, planned);
    QCOMPARE(record.pending->refused, (std::vector<bool>{false, true}));
    QVERIFY(!record.pending->end);

    const Names folder = {"1234a.mp3", "b.mp3"};
    QVERIFY(journal.settle(kKey, folder).ok());
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(!record.tornTail);
    QVERIFY(!record.pending);
    QCOMPARE(record.prefixed, (std::map<FileName, int>{{"1234a.mp3", 1}}));

    // A pass recorded after a cut-off line is read in full.
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out.write(tail.constData(), tail.size());
    }
    korvalo::PassStart start;
    start.kind = PassKind::Removal;
    start.fileCount = 1;
    const std::vector<PlannedRename> removal = {{"1234a.mp3", "a.mp3"}};
    start.planned = removal;
    QVERIFY(journal.beginPass(kKey, start).ok());
    QVERIFY(journal.endPass(PassEnd::Stopped, 0).ok());
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(!record.tornTail);
    QVERIFY(record.pending);
    QCOMPARE(record.pending->files, removal);
}

// A record that Korvalo did not write as it is, whether garbled or forged, is never acted on and
// never taken for an unknown folder: opening the folder and both passes refuse it as damaged
// until the user leaves the folder as it is, which keeps the record beside itself. A record a kill
// cut short is still used, and an unfinished pass in it can be undone. Each record's header is
// written with the test folder's key ("v1" as the first version wrote it, "none" for no header),
// followed by the row's lines.
void TestJournal::damagedRecordIsNeverUsed_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Names>("folder");
    QTest::addColumn<korvalo::RecoveryCheck>("check");
    QTest::addColumn<int>("unrecorded"); // files of the pass its record does not hold
    QTest::addColumn<Names>("afterUndo");

    const auto damaged = korvalo::RecoveryCheck::Damaged;
    const auto pending = korvalo::RecoveryCheck::Pending;
    const Names folder = {"1111a.mp3", "b.mp3", "c.mp3"};
    const Names before = {"a.mp3", "b.mp3", "c.mp3"};
    // A shuffle of three files killed after its first rename.
    const QByteArray killed =
        sealed({"pass shuffle 1700000000 3", "f a.mp3 %+1111", "f b.mp3 %+2222", "f c.mp3 %+3333"});
    const QByteArray pass1 = sealed({"pass shuffle 1700000000 1"});

    // Refused as damaged, whatever the folder holds.
    const auto refused = [&](const char *name, const QByteArray &body, const Names &names,
                             const QString &header = "v2") {
        QTest::newRow(name) << header << body << names << damaged << 0 << Names{};
    };
    const Names bonus{"1111a.mp3", "7777bonus.mp3", "b.mp3", "c.mp3"};
    refused("a name with a slash", pass1 + sealed({"f ../a.mp3 %+1111"}), folder);
    refused("a name \"..\"", pass1 + sealed({"f .. %+1111"}), folder);
    refused("a name with a NUL", pass1 + sealed({"f a%00.mp3 %+1111"}), folder);
    refused("an f line appended after the end line",
            killed + sealed({"end stopped 1", "f bonus.mp3 %+7777"}), bonus);
    refused("an f line beyond the pass's count", killed + sealed({"f bonus.mp3 %+7777"}), bonus);
    refused("an f line appended after a cut-off one",
            sealed({"pass shuffle 1700000000 4", "f a.mp3 %+1111", "f b.mp3 %+2222"}) +
                QByteArray("f c.mp\n") + sealed({"f bonus.mp3 %+7777"}),
            bonus);
    QByteArray garbled = killed;
    garbled[garbled.indexOf("f b.mp3") + 2] = 'B'; // its checksum no longer holds
    refused("a whole line with a wrong checksum in the middle", garbled, folder);
    refused("garbage", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), folder, "none");
    refused("an oversized record",
            QByteArray(int(korvalo::journalformat::kRecordSizeFloor) + (1 << 20), 'x'), folder);
    refused("an order pass through a folder that is not Korvalo's",
            sealed({"pass order 1700000000 1", "dir Albums", "f a.mp3 %="}), {"Albums", "a.mp3"});

    QTest::newRow("a torn last line: used")
        << "v2" << killed + QByteArray("no 1 #0") << folder << pending << 0 << before;
    QTest::newRow("a record cut off among its files: the rest were never renamed")
        << "v2"
        << sealed({"pass shuffle 1700000000 3", "f a.mp3 %+1111", "f b.mp3 %+2222"}) +
               QByteArray("f c.m")
        << folder << pending << 1 << before;
    QTest::newRow("the first version, a pass pending: recoverable")
        << "v1"
        << QByteArray("pass shuffle 1700000000 3\nf a.mp3 %+1111\nf b.mp3 %+2222\n"
                      "f c.mp3 %+3333\nr 1 5555b.mp3\n")
        << folder << pending << 0 << before;
    // The folder line cannot be read, so the order pass moved nothing (its lines are written in
    // one step before the first move): the folder above is not taken for Korvalo's.
    QTest::newRow("the first version, an order pass through \"..\"")
        << "v1" << QByteArray("pass order 1700000000 1\ndir ..\n") << Names{"a.mp3"}
        << korvalo::RecoveryCheck::Nothing << 0 << Names{};
    // The pass would have found the fourth file's new name taken by the second file, which it had
    // not renamed yet: 7777bonus.mp3 is that file, untouched, and stays as it is.
    QTest::newRow("a file's new name is the old name of a file not renamed")
        << "v2"
        << sealed({"pass shuffle 1700000000 4", "f a.mp3 %+1111", "f 7777bonus.mp3 %+5555",
                   "f c.mp3 %+3333", "f bonus.mp3 %+7777"})
        << Names{"1111a.mp3", "7777bonus.mp3", "c.mp3"} << pending << 0
        << Names{"7777bonus.mp3", "a.mp3", "c.mp3"};
}

void TestJournal::damagedRecordIsNeverUsed()
{
    QFETCH(QString, header);
    QFETCH(QByteArray, body);
    QFETCH(Names, folder);
    QFETCH(korvalo::RecoveryCheck, check);
    QFETCH(int, unrecorded);
    QFETCH(Names, afterUndo);
    TestDir music;
    for (const std::string &name : folder) {
        if (name == "Albums")
            music.mkdir(name);
        else
            music.touch(name);
    }
    const JournalKey key = korvalo::journalKeyOf(music.path()).value();
    std::string text;
    if (header == "v2") {
        text = korvalo::journalformat::keyLines(key, key.stick);
    } else if (header == "v1") {
        text = "korvalo-journal 1\nkey ";
        korvalo::namecodec::encodeTo(text, key.volume);
        text += ' ';
        korvalo::namecodec::encodeTo(text, key.pathInVolume);
        text += '\n';
    }
    text += body.toStdString();
    const fs::path record = m_state->path() / (korvalo::journalformat::keyHash(key) + ".journal");
    {
        std::ofstream out(record, std::ios::binary);
        out << text;
    }

    Journal journal(m_state->path());
    korvalo::FolderRecord loaded;
    const JournalError error = journal.load(key, loaded);
    const bool isDamaged = check == korvalo::RecoveryCheck::Damaged;
    QCOMPARE(error.kind, isDamaged ? JournalError::Kind::Damaged : JournalError::Kind::None);
    QCOMPARE(loaded.known, !isDamaged);
    korvalo::PendingRecovery pending;
    JournalError checkError;
    QCOMPARE(korvalo::checkForRecovery(music.path(), journal, pending, &checkError), check);
    if (isDamaged)
        QCOMPARE(checkError.path, record);
    else
        QCOMPARE(pending.plan.status.fileCount - pending.plan.status.recorded, unrecorded);

    if (check == korvalo::RecoveryCheck::Nothing) {
        QVERIFY(!loaded.pending);
        QCOMPARE(music.names(), folder);
        return;
    }

    // Both passes refuse, and rename nothing.
    korvalo::MusicFileList list;
    QVERIFY(list.setFolder(music.path()).ok());
    korvalo::FixedFolder where(music.path());
    korvalo::NullProgress quiet;
    korvalo::PassContext ctx{list, where, quiet, korvalo::systemRenameCalls(), &journal};
    korvalo::ClockRandomSource random;
    for (const korvalo::PassResult &result :
         {korvalo::runShufflePass(ctx, random), korvalo::runRemovalPass(ctx)}) {
        QCOMPARE(result.status, korvalo::PassResult::Status::Refused);
        QCOMPARE(result.refusal, isDamaged ? korvalo::PassResult::Refusal::RecordDamaged
                                           : korvalo::PassResult::Refusal::RecoveryPending);
    }
    QCOMPARE(music.names(), folder);

    if (isDamaged) {
        // Left as it is: the record is kept beside itself, and the folder is one never seen.
        const korvalo::RecoveryResult left = korvalo::leaveDamagedRecord(music.path(), journal);
        QCOMPARE(left.status, korvalo::RecoveryResult::Status::Done);
        QCOMPARE(left.keptRecord.parent_path(), m_state->path());
        QVERIFY(contentOf(left.keptRecord) == text);
        QVERIFY(!fs::exists(record));
        QVERIFY(journal.load(key, loaded).ok());
        QVERIFY(!loaded.known);
        QCOMPARE(music.names(), folder);
        return;
    }
    const korvalo::RecoveryResult undone =
        korvalo::recoverFolder(music.path(), journal, pending, RecoveryChoice::Undo, quiet);
    QCOMPARE(undone.status, korvalo::RecoveryResult::Status::Done);
    QCOMPARE(music.names(), afterUndo);
    QVERIFY(contentOf(record).starts_with(korvalo::journalformat::kMagic));
}

// A journal that cannot be written stops the pass before it renames anything.
void TestJournal::unwritableJournalStopsBeforeFirstRename_data()
{
    QTest::addColumn<std::string>("stateHome"); // relative to a temporary folder holding "file"
    QTest::addColumn<JournalError::Kind>("kind");
    QTest::newRow("state home under a regular file")
        << std::string("file/state") << JournalError::Kind::Folder;
    QTest::newRow("journal folder is a regular file")
        << std::string("") << JournalError::Kind::Folder;
}

void TestJournal::unwritableJournalStopsBeforeFirstRename()
{
    QFETCH(std::string, stateHome);
    QFETCH(JournalError::Kind, kind);
    m_state->touch("file");
    if (stateHome.empty()) {
        fs::create_directories(m_state->path() / "home");
        m_state->touch("home/korvalo");
        stateHome = "home";
    }
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString((m_state->path() / stateHome).native()));
    Journal journal; // in the user's state folder

    TestDir music;
    music.touch("a.mp3");
    const std::vector<PlannedRename> moves = {{"a.mp3", "1234a.mp3"}};
    int renames = 0;
    korvalo::RecordedMoves what;
    what.kind = PassKind::Shuffle;
    what.moves = moves;
    const korvalo::RecordedRun run =
        korvalo::runRecordedMoves(journal, kKey, what, [&](const PlannedRename &) {
            ++renames;
            return MoveOutcome::Renamed;
        });
    QCOMPARE(run.journal.kind, kind);
    QVERIFY(run.journal.osError != 0);
    QCOMPARE(renames, 0);
    QCOMPARE(music.names(), Names{"a.mp3"});
}

void TestJournal::stateFolder_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<std::string>("expected");
    QTest::newRow("XDG_STATE_HOME")
        << QByteArray("/x/state") << QByteArray("/h") << std::string("/x/state/korvalo");
    QTest::newRow("unset: under home")
        << QByteArray() << QByteArray("/h") << std::string("/h/.local/state/korvalo");
    QTest::newRow("relative: ignored")
        << QByteArray("state") << QByteArray("/h") << std::string("/h/.local/state/korvalo");
}

void TestJournal::stateFolder()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QByteArray, home);
    QFETCH(std::string, expected);
    if (xdg.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", xdg);
    qputenv("HOME", home);
    QCOMPARE(korvalo::stateFolder().native(), expected);
}

// However many passes run on a folder, its record holds its names and at most one pass.
void TestJournal::sizeStaysBounded()
{
    Journal journal(m_state->path());
    Names names;
    for (int i = 0; i < 300; ++i)
        names.push_back("Song number " + std::to_string(i) + ".mp3");
    std::uintmax_t largest = 0;
    std::uintmax_t firstTwo = 0; // the record after a shuffle and a removal
    for (int pass = 0; pass < 40; ++pass) {
        std::vector<PlannedRename> moves;
        for (std::string &name : names) {
            const std::string to =
                pass % 2 == 0 ? std::to_string(1000 + (pass * 37 + int(moves.size())) % 9000) + name
                              : name.substr(4);
            moves.push_back({name, to});
            name = to;
        }
        korvalo::RecordedMoves what;
        what.kind = pass % 2 == 0 ? PassKind::Shuffle : PassKind::Removal;
        what.moves = moves;
        what.batchSize = 64;
        // The folder's names: names no longer there are forgotten.
        Names listed;
        for (const PlannedRename &m : moves)
            listed.push_back(m.from);
        what.listed = listed;
        const korvalo::RecordedRun run = korvalo::runRecordedMoves(
            journal, kKey, what, [](const PlannedRename &) { return MoveOutcome::Renamed; });
        QVERIFY(run.journal.ok());
        Names files = namesIn(m_state->path());
        QCOMPARE(files.size(), std::size_t(1));
        const std::uintmax_t size = fs::file_size(m_state->path() / files[0]);
        std::uintmax_t &bound = pass < 2 ? firstTwo : largest;
        bound = std::max(bound, size);
    }
    QVERIFY(firstTwo > 0);
    QVERIFY2(largest <= firstTwo + 200, qPrintable(QString::number(largest)));
    korvalo::FolderRecord record;
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(record.clean());
}

// Records of folders not used for the longest time are dropped, never one still to be recovered.
void TestJournal::recordsOfManyFoldersAreBounded()
{
    const int limit = 5;
    {
        Journal first(m_state->path(), limit);
        const std::vector<PlannedRename> moves = {{"a.mp3", "1234a.mp3"}};
        QVERIFY(first.beginPass(kKey, startOf(moves)).ok()); // killed: never ended
    }
    Journal journal(m_state->path(), limit);
    const std::vector<PlannedRename> moves = {{"b.mp3", "1234b.mp3"}};
    for (int folder = 0; folder < 20; ++folder) {
        korvalo::RecordedMoves what;
        what.kind = PassKind::Shuffle;
        what.moves = moves;
        const JournalKey key{"2C6E-91F0", "/Music/" + std::to_string(folder)};
        QVERIFY(korvalo::runRecordedMoves(journal, key, what, [](const PlannedRename &) {
                    return MoveOutcome::Renamed;
                }).journal.ok());
        QVERIFY(namesIn(m_state->path()).size() <= std::size_t(limit));
    }
    korvalo::FolderRecord record;
    QVERIFY(journal.load(kKey, record).ok());
    QVERIFY(record.pending);
    QVERIFY(journal.load({"2C6E-91F0", "/Music/19"}, record).ok());
    QCOMPARE(record.prefixed.size(), std::size_t(1));
    QVERIFY(journal.load({"2C6E-91F0", "/Music/0"}, record).ok());
    QVERIFY(!record.known);
}

// Files changed by someone else since the pass are reported and left alone.
void TestJournal::conflictsAreReportedNotForced_data()
{
    QTest::addColumn<Names>("folder");
    QTest::addColumn<int>("undoMoves");
    QTest::addColumn<QString>("undoConflicts"); // "index:kind" with M missing, T target taken
    QTest::addColumn<int>("finishMoves");
    QTest::addColumn<QString>("finishConflicts");
    // The pass: a.mp3, b.mp3 and c.mp3 to 1111a.mp3, 2222b.mp3 and 3333c.mp3, killed after two.
    QTest::newRow("untouched since")
        << Names{"1111a.mp3", "2222b.mp3", "c.mp3"} << 2 << "" << 1 << "";
    QTest::newRow("a renamed file renamed again")
        << Names{"x.mp3", "2222b.mp3", "c.mp3"} << 1 << "0:M" << 1 << "0:M";
    QTest::newRow("a new file under an old name")
        << Names{"1111a.mp3", "a.mp3", "2222b.mp3", "c.mp3"} << 1 << "0:T" << 1 << "";
    QTest::newRow("a new file under a planned name")
        << Names{"1111a.mp3", "2222b.mp3", "c.mp3", "3333c.mp3"} << 2 << "" << 0 << "2:T";
}

void TestJournal::conflictsAreReportedNotForced()
{
    QFETCH(Names, folder);
    QFETCH(int, undoMoves);
    QFETCH(QString, undoConflicts);
    QFETCH(int, finishMoves);
    QFETCH(QString, finishConflicts);
    korvalo::PassRecord pass;
    pass.fileCount = 3;
    pass.files = {{"a.mp3", "1111a.mp3"}, {"b.mp3", "2222b.mp3"}, {"c.mp3", "3333c.mp3"}};
    const korvalo::RecoveryPlan plan = korvalo::planRecovery(pass, folder);
    const auto text = [](const std::vector<korvalo::RecoveryConflict> &conflicts) {
        QStringList out;
        for (const auto &c : conflicts)
            out << QString("%1:%2").arg(c.index).arg(
                c.kind == korvalo::RecoveryConflict::Kind::Missing ? "M" : "T");
        return out.join(' ');
    };
    QCOMPARE(int(plan.undo.size()), undoMoves);
    QCOMPARE(text(plan.undoConflicts), undoConflicts);
    QCOMPARE(int(plan.finish.size()), finishMoves);
    QCOMPARE(text(plan.finishConflicts), finishConflicts);
}

void TestJournal::fileStatesFromTheRecord_data()
{
    QTest::addColumn<PassKind>("kind");
    QTest::addColumn<Names>("from");
    QTest::addColumn<Names>("to");
    QTest::addColumn<int>("refused");   // the index of a refused rename, or -1
    QTest::addColumn<int>("attempted"); // from the end line
    QTest::addColumn<Names>("folder");
    QTest::addColumn<QString>("states"); // per file: D done, N not done, M missing
    const Names abc{"a.mp3", "b.mp3", "c.mp3"};
    const Names prefixed{"1111a.mp3", "2222b.mp3", "3333c.mp3"};
    QTest::newRow("stopped after two, an old name back since: the end line tells")
        << PassKind::Shuffle << abc << prefixed << -1 << 2
        << Names{"1111a.mp3", "2222b.mp3", "b.mp3", "c.mp3"} << "DDN";
    QTest::newRow("removal refused: the name without its digits was there")
        << PassKind::Removal << Names{"1234x.mp3"} << Names{"x.mp3"} << 0 << 1
        << Names{"1234x.mp3", "x.mp3"} << "N";
}

// Where each file of a pass that ended early stands, from the record and the folder's names (a
// killed pass's files: see killAtEveryStep).
void TestJournal::fileStatesFromTheRecord()
{
    QFETCH(PassKind, kind);
    QFETCH(Names, from);
    QFETCH(Names, to);
    QFETCH(int, refused);
    QFETCH(int, attempted);
    QFETCH(Names, folder);
    QFETCH(QString, states);
    korvalo::PassRecord pass;
    pass.kind = kind;
    pass.fileCount = int(from.size());
    for (std::size_t i = 0; i < from.size(); ++i)
        pass.files.push_back({from[i], to[i]});
    pass.refused.assign(from.size(), false);
    if (refused >= 0)
        pass.refused[std::size_t(refused)] = true;
    pass.end = refused >= 0 ? PassEnd::Failed : PassEnd::Stopped;
    pass.attempted = attempted;
    QString text;
    for (const korvalo::FileState state : korvalo::fileStates(pass, folder))
        text += state == korvalo::FileState::Done      ? 'D'
                : state == korvalo::FileState::NotDone ? 'N'
                                                       : 'M';
    QCOMPARE(text, states);
}

// Which four leading digits Korvalo wrote, after the passes the journal recorded on a folder
// (each a prefix put in front of every name, or "-" for taking four digits off every name that
// has them, "+name" for a file copied onto the stick); an empty history is a folder the journal
// does not know. A rename to a name that is taken is refused, as on a stick.
void TestJournal::digitNames_data()
{
    QTest::addColumn<Names>("names");
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<Names>("korvalo");
    QTest::addColumn<Names>("others");
    const Names mixed = {"2019 Live.mp3", "1999 - Prince.mp3", "0001_Intro.flac", "Song.mp3"};
    QTest::newRow("unknown folder: digits before a blank or punctuation are the name's")
        << Names{"2019 Live.mp3",    "1999 - Prince.mp3", "0001_Intro.flac",
                 "2019【Live】.mp3", "1234.mp3",          "4321Song.mp3",
                 "5555歌曲.mp3",     "12345.mp3",         "Song.mp3"}
        << QStringList()
        << Names{"4321Song.mp3", "5555歌曲.mp3", "12345.mp3"}
        // "1234.mp3" is neither: a removal never takes its digits (the name would be hidden).
        << Names{"2019 Live.mp3", "1999 - Prince.mp3", "0001_Intro.flac", "2019【Live】.mp3"};
    QTest::newRow("unknown folder: a leading 0 is never Korvalo's")
        << Names{"0123Song.mp3"} << QStringList() << Names{} << Names{"0123Song.mp3"};
    QTest::newRow("shuffled once") << mixed << QStringList{"4000"}
                                   << Names{"40002019 Live.mp3", "40001999 - Prince.mp3",
                                            "40000001_Intro.flac", "4000Song.mp3"}
                                   << Names{};
    QTest::newRow("shuffled, then prefixes removed: a second removal would strip the names' own")
        << mixed << QStringList{"4000", "-"} << Names{}
        << Names{"2019 Live.mp3", "1999 - Prince.mp3", "0001_Intro.flac"};
    QTest::newRow("shuffled twice, removed once")
        << Names{"Song.mp3"} << QStringList{"4000", "5000", "-"} << Names{"4000Song.mp3"}
        << Names{};
    QTest::newRow("known folder: a name shuffled elsewhere")
        << Names{"Song.mp3"} << QStringList{"4000", "-"} << Names{} << Names{"7777Song.mp3"};
    QTest::newRow("removal refused where the name without digits is taken")
        << Names{"Song.mp3"} << QStringList{"4000", "+Song.mp3", "-"} << Names{"4000Song.mp3"}
        << Names{};
}

void TestJournal::digitNames()
{
    QFETCH(Names, names);
    QFETCH(QStringList, history);
    QFETCH(Names, korvalo);
    QFETCH(Names, others);
    Journal journal(m_state->path());
    for (const QString &step : history) {
        if (step.startsWith('+')) {
            names.push_back(step.mid(1).toStdString());
            continue;
        }
        std::vector<PlannedRename> moves;
        for (const std::string &name : names) {
            if (step == "-" && !korvalo::startsWithFourDigits(name))
                continue;
            moves.push_back({name, step == "-" ? name.substr(4) : step.toStdString() + name});
        }
        korvalo::RecordedMoves what;
        what.kind = step == "-" ? PassKind::Removal : PassKind::Shuffle;
        what.moves = moves;
        QVERIFY(korvalo::runRecordedMoves(journal, kKey, what, [&](const PlannedRename &m) {
                    if (std::find(names.begin(), names.end(), m.to) != names.end())
                        return MoveOutcome::Refused;
                    *std::find(names.begin(), names.end(), m.from) = m.to;
                    return MoveOutcome::Renamed;
                }).journal.ok());
    }
    // Copied onto the stick since.
    if (QByteArray(QTest::currentDataTag()).contains("elsewhere"))
        names.push_back("7777Song.mp3");

    korvalo::FolderRecord record;
    QVERIFY(journal.load(kKey, record).ok());
    QCOMPARE(record.known, !history.isEmpty());
    const korvalo::DigitNames digits = korvalo::classifyDigitNames(names, record);
    QCOMPARE(digits.korvaloPrefixed, korvalo);
    QCOMPARE(digits.others, others);
    // The shuffle asks about exactly the names whose prefix Korvalo wrote.
    if (record.known)
        QCOMPARE(korvalo::korvaloPrefixedNames(names, record), korvalo);
}

void TestJournal::pendingPassOfAnotherStick_data()
{
    // The stick the killed pass ran on, then the one opened now ("": unknown).
    QTest::addColumn<QString>("sticks");
    QTest::addColumn<RecoveryCheck>("check");
    QTest::newRow("a clone: another identity") << "A B" << RecoveryCheck::Nothing;
    QTest::newRow("no identity on either side") << " " << RecoveryCheck::Unconfirmed;
    QTest::newRow("a record from before identities") << " B" << RecoveryCheck::Unconfirmed;
    QTest::newRow("the folder's identity unread") << "A " << RecoveryCheck::Unconfirmed;
    QTest::newRow("the same stick") << "A A" << RecoveryCheck::Nothing;
}

// A shuffle killed on stick A after two files; stick B, a copy from before, shows every old name,
// so nothing is asked there. Only the same stick settles A's pass; otherwise A's record stays byte
// for byte, and a pass on B is refused, or, on a stick known to be another, runs on a record of
// its own that takes nothing from A's, and is found again once A's is gone.
void TestJournal::pendingPassOfAnotherStick()
{
    QFETCH(QString, sticks);
    QFETCH(RecoveryCheck, check);
    const std::string recordStick = sticks.section(' ', 0, 0).toStdString();
    const std::string folderStick = sticks.section(' ', 1).toStdString();
    TestDir state, a, b;
    fill(a);
    fill(b);
    const auto before = shuffle(state, keyOf(recordStick), a, 2);
    const JournalKey keyB = keyOf(folderStick);
    Journal journal(state.path());
    korvalo::PendingRecovery pending;
    // The status's look foresees what opening does, and writes nothing.
    QCOMPARE(korvalo::checkForRecovery(b.path(), keyB, journal, pending, nullptr,
                                       korvalo::CheckMode::ReadOnly),
             check);
    QCOMPARE(records(state), before);
    QCOMPARE(korvalo::checkForRecovery(b.path(), keyB, journal, pending), check);
    FolderRecord record;
    if (recordStick == folderStick && !recordStick.empty()) {
        QVERIFY(journal.load(keyB, record).ok() && record.known && !record.pending);
        return;
    }
    const bool another = !recordStick.empty() && !folderStick.empty();
    const auto after = shuffle(state, keyB, b, 4, PassEnd::Completed);
    for (const auto &[name, bytes] : before)
        QCOMPARE(after.at(name), bytes);
    QCOMPARE(after.size(), another ? 2u : 1u);
    QVERIFY(journal.load(keyOf(recordStick), record).ok() && record.pending);
    if (another) {
        for (const auto &[name, bytes] : before)
            fs::remove(state / name);
        QVERIFY(journal.load(keyB, record).ok() && !record.pending);
        QCOMPARE(record.prefixed.size(), 4u);
    }
}

// A record keyed as it could be when the pass began moves to the folder's full key when next
// written: a pass killed in ".../MUSIC" before the volume's case or the stick's identity was known,
// on a volume that stores the folder as "Music"; a shuffle recorded while the volume's UUID could
// not be read, keyed by the device. Either is found as the folder's, and its old key finds nothing
// after the move (without the device named, another volume's record is not this one's).
void TestJournal::recordMovesToTheFullKey_data()
{
    QTest::addColumn<JournalKey>("recorded");
    QTest::addColumn<JournalKey>("folder");
    QTest::newRow("under the typed case") << keyOf("", "/MUSIC") << keyOf("S", "/Music", "/MUSIC");
    JournalKey byUuid = keyOf("S");
    byUuid.sourceVolume = "/dev/loop2";
    QTest::newRow("under the device") << JournalKey{"/dev/loop2", "/Music", "S"} << byUuid;
}

void TestJournal::recordMovesToTheFullKey()
{
    QFETCH(JournalKey, recorded);
    QFETCH(JournalKey, folder);
    TestDir state, music;
    fill(music);
    shuffle(state, recorded, music, 2);
    Journal journal(state.path());
    korvalo::PendingRecovery pending;
    QCOMPARE(korvalo::checkForRecovery(music.path(), folder, journal, pending),
             RecoveryCheck::Pending);
    QCOMPARE(pending.plan.status.done, 2);
    QVERIFY(journal.settle(folder, music.names()).ok());
    QCOMPARE(state.names().size(), 1u);
    const korvalo::journalformat::Parsed moved =
        korvalo::journalformat::parse(state.read(state.names()[0]));
    QVERIFY(moved.valid);
    QCOMPARE(moved.key, kKey);
    QCOMPARE(moved.stick, "S");
    QCOMPARE(moved.prefixed,
             (std::map<korvalo::FileName, int>{{"3250a.mp3", 1}, {"3250b.mp3", 1}}));
    korvalo::FolderRecord record;
    QVERIFY(journal.load(recorded, record).ok());
    QVERIFY(!record.known);
}

// Clones of a stick share a record's key but take different volume locks: while a pass on one is
// being recorded, the other neither begins a pass over the record nor rewrites it.
void TestJournal::oneWriterPerRecord()
{
    TestDir state, folder;
    fill(folder);
    const JournalKey onA = keyOf("A", "/Music"), onB = keyOf("B", "/Music");
    const std::vector<korvalo::PlannedRename> planned{{"a.mp3", "3250a.mp3"}};
    const korvalo::PassStart start = startOf(planned);
    Journal a(state.path()), b(state.path());
    QVERIFY(a.beginPass(onA, start).ok());
    QCOMPARE(b.beginPass(onB, start).kind, korvalo::JournalError::Kind::RecordBusy);
    QCOMPARE(b.settle(onB, folder.names()).kind, korvalo::JournalError::Kind::RecordBusy);
    QVERIFY(a.endPass(PassEnd::Completed, 1).ok());
    QVERIFY(b.beginPass(onB, start).ok());
    QVERIFY(b.endPass(PassEnd::Completed, 1).ok());
}

QTEST_APPLESS_MAIN(TestJournal)

#include "tst_journal.moc"
