// The stored order of a folder on a real exFAT stick (exfat-fuse): players that play a folder in
// the order its entries are stored must play it in the list's order after a pass. The order is
// read raw, with readdir, after the volume was unmounted and mounted again, so it is what the
// stick holds. A pass killed while its files are out of the folder is recovered when the folder
// is opened next, and a stick without room for the folder they pass through keeps its names.
// korvalo-cli's shuffle interrupted: a stick pulled out while the files are out of the folder
// fails it, saying where the files are and how they come back; Ctrl-C while the files are stored
// in order brings those out back and ends it with status 130; a shuffle stopped and then finished
// or undone with korvalo-cli recover is stored in the list's order too.
//
// Needs root, /dev/fuse, loop devices, exfatprogs and exfat-fuse.

#include "mountedimage.h"
#include "volumefiles.h"

#include "browse/musicfilelist.h"
#include "journal/journal.h"
#include "journal/passlock.h"
#include "passes/folderrecovery.h"
#include "passes/ordering.h"
#include "passes/passes.h"
#include "support/childprocess.h"
#include "support/clirun.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassResult;

namespace {

// Forty names as a music collection has them, Chinese and Latin, from 5 to 120 characters; the
// first `count` of them.
std::vector<std::string> realisticNames(std::size_t count = 40)
{
    const std::vector<std::string> artists = {"周杰伦", "Adele",           "王菲",   "The Beatles",
                                              "陈奕迅", "Daft Punk",       "邓紫棋", "Miles Davis",
                                              "五月天", "Ludovico Einaudi"};
    const std::vector<std::string> titles = {"晴天", "Someone Like You", "红豆", "Let It Be",
                                             "十年", "Get Lucky",        "泡沫", "So What",
                                             "倔强", "Nuvole Bianche"};
    std::vector<std::string> out = {"a.mp3", "晴天.mp3", "01 Intro.flac"};
    for (int i = 0; out.size() < 38; ++i) {
        const std::string &artist = artists[static_cast<std::size_t>(i) % artists.size()];
        const std::string &title = titles[static_cast<std::size_t>(i * 3) % titles.size()];
        std::string name = artist + " - " + title + " " + std::to_string(i + 1);
        if (i % 5 == 2)
            name += " (Live at the Royal Albert Hall, Remastered Edition)";
        out.push_back(name + (i % 4 == 3 ? ".flac" : ".mp3"));
    }
    // 120 characters, Latin and Chinese.
    out.push_back(repeat("Symphony No. 9 in D minor ", 4) + repeat("x", 120 - 104 - 4) + ".mp3");
    out.push_back(repeat("长", 116) + ".mp3");
    out.resize(count);
    return out;
}

// The music names of a folder in the order readdir gives them: the stored order.
std::vector<std::string> storedMusicOrder(const fs::path &folder)
{
    std::vector<std::string> out;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (korvalo::isMusicFileName(name) && !korvalo::isHiddenName(name))
            out.push_back(name);
    }
    ::closedir(dir);
    return out;
}

// Kendall's tau between the order `a` and the order `b` of the same names.
double kendallTau(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
    std::map<std::string, int> rank;
    for (std::size_t i = 0; i < b.size(); ++i)
        rank[b[i]] = static_cast<int>(i);
    long concordant = 0;
    long discordant = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (std::size_t j = i + 1; j < a.size(); ++j)
            (rank[a[i]] < rank[a[j]] ? concordant : discordant) += 1;
    }
    const long pairs = concordant + discordant;
    return pairs ? double(concordant - discordant) / double(pairs) : 1.0;
}

// The real calls, but no folder can be made: a full stick, or a full FAT16 root folder.
class NoRoomCalls : public korvalo::RenameSystem
{
public:
    int renameNoReplace(const Char *from, const Char *to) override
    {
        return real().renameNoReplace(from, to);
    }
    int lstat(const Char *path) override { return real().lstat(path); }
    int rename(const Char *from, const Char *to) override { return real().rename(from, to); }
    int makeFolder(const Char *) override { return ENOSPC; }
    int removeFolder(const Char *path) override { return real().removeFolder(path); }

private:
    static korvalo::RenameSystem &real() { return korvalo::systemRenameCalls(); }
};

// Stops the process dead at the given ordering move, as a kill or a pulled stick would.
class DieAtMove : public korvalo::NullProgress
{
public:
    explicit DieAtMove(int move) : m_move(move) {}
    bool ordering(int done, int) override
    {
        if (done == m_move)
            ::_exit(7);
        return true;
    }

private:
    int m_move;
};

// The ordering folder in `folder`, or an empty path.
fs::path orderingFolderOf(const fs::path &folder)
{
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec)) {
        if (korvalo::isOrderingFolder(e.path()))
            return e.path();
    }
    return {};
}

class CountingProgress : public korvalo::NullProgress
{
public:
    int lastDone = -1;
    int total = 0;
    bool ordering(int done, int all) override
    {
        lastDone = done;
        total = all;
        return true;
    }
};

// The names `list` shows, in its order.
std::vector<std::string> listOrderOf(const korvalo::MusicFileList &list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.count(); ++i)
        out.emplace_back(list.nameView(i));
    return out;
}

// The same for `folder`, listed afresh.
std::vector<std::string> listOrderOf(const fs::path &folder)
{
    korvalo::MusicFileList list;
    list.setFolder(folder);
    return listOrderOf(list);
}

Snapshot musicOnly(const Snapshot &s, bool music)
{
    Snapshot out;
    for (const auto &[name, hash] : s) {
        if (korvalo::isMusicFileName(name) == music)
            out[name] = hash;
    }
    return out;
}

} // namespace

class TestMountedOrder : public QObject
{
    Q_OBJECT

private slots:
    void storedInListOrder_data();
    void storedInListOrder();
    void killedWhileFilesAreOut_data();
    void killedWhileFilesAreOut();
    void noRoomForTheFolder_data() { addOrderKinds(); }
    void noRoomForTheFolder();
    void cliShuffleInterrupted_data();
    void cliShuffleInterrupted();
    void exactNextToOtherEntries_data();
    void exactNextToOtherEntries();
    void killedShuffleFinishedInPrefixOrder_data() { addOrderKinds(); }
    void killedShuffleFinishedInPrefixOrder();

private:
    static void addOrderKinds()
    {
        QTest::addColumn<FsKind>("kind");
        for (const FsKind kind : orderKinds())
            QTest::newRow(kindName(kind)) << kind;
    }
};

void TestMountedOrder::storedInListOrder_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<bool>("others"); // two other files and a subfolder among the music
    QTest::addColumn<int>("rounds");
    for (const FsKind kind : orderKinds()) {
        QTest::addRow("%s: music only", kindName(kind)) << kind << false << 1;
        // Several shuffles: a gap that the order depends on depends on the draw. Under emulation
        // one: exactNextToOtherEntries meets the gaps there with holes as well.
        QTest::addRow("%s: with other entries", kindName(kind))
            << kind << true << (kernelDrivers() ? 1 : 4);
    }
}

// Shuffles, each followed by a removal: the music files come back in the list's order exactly,
// with or without other entries among them.
void TestMountedOrder::storedInListOrder()
{
    QFETCH(FsKind, kind);
    QFETCH(bool, others);
    QFETCH(int, rounds);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    korvalo::Journal journal(fs::path(tmp.path().toStdString()) / "state");
    const fs::path folder = image.root() / "Music";

    std::vector<std::string> names = realisticNames();
    std::vector<std::string> folders;
    if (others) {
        names.insert(names.begin() + 5, "cover.jpg");
        names.insert(names.begin() + 20, "歌词 - 十年.lrc");
        folders.push_back("Live 2019");
    }
    QVERIFY(fs::create_directory(folder));
    Snapshot original;
    VERIFY_NO_ERROR(populate(image, original, names, folders, folder));
    QCOMPARE(musicOnly(original, true).size(), std::size_t(40));

    for (int round = 0; round < rounds; ++round) {
        for (const bool shuffle : {true, false}) {
            CountingProgress progress;
            const PassRun run = runPass(shuffle, folder, progress, {.journal = &journal});
            QCOMPARE(int(run.result.status), int(PassResult::Status::Completed));
            QCOMPARE(int(run.result.storedOrder), int(PassResult::StoredOrder::Arranged));
            const int moves = 2 * int(names.size() + folders.size());
            QCOMPARE(progress.lastDone, moves);
            QCOMPARE(progress.total, moves);
            QVERIFY(run.result.filesLeftIn.empty());
            VERIFY_NO_ERROR(image.remount());

            const std::vector<std::string> stored = storedMusicOrder(folder);
            const std::vector<std::string> listed = listOrderOf(run.list); // as the pass left it
            const double tau = kendallTau(stored, listed);
            qInfo("%s, %s, %s: Kendall tau between list order and stored order %.3f",
                  kindName(kind), others ? "with other entries" : "music only",
                  shuffle ? "shuffle" : "removal", tau);
            if (stored != listed && qEnvironmentVariableIsSet("ORDER_DEBUG"))
                for (std::size_t k = 0; k < stored.size(); ++k)
                    qInfo("%zu %s | %s", k, stored[k].c_str(), listed[k].c_str());
            QCOMPARE(stored, listed);

            // Contents unchanged, other entries untouched, no folder left behind.
            const Snapshot after = snapshot(folder);
            QCOMPARE(hashes(after), hashes(original));
            COMPARE_SNAPSHOTS(musicOnly(after, false), musicOnly(original, false));
        }
    }
    COMPARE_SNAPSHOTS(snapshot(folder), original);
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedOrder::killedWhileFilesAreOut_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<bool>("shuffle");
    QTest::addColumn<int>("dieAt");            // the ordering move (of 2 x 14) the pass dies at
    QTest::addColumn<bool>("openInnerFolder"); // the user opens the folder the files are in
    for (const FsKind kind : orderKinds()) {
        const char *k = kindName(kind);
        QTest::addRow("%s: shuffle, moving out", k) << kind << true << 5 << false;
        QTest::addRow("%s: shuffle, moving the other entries out", k)
            << kind << true << 13 << false;
        QTest::addRow("%s: removal, moving back", k) << kind << false << 18 << false;
        QTest::addRow("%s: shuffle, moving back, the inner folder opened", k)
            << kind << true << 17 << true;
    }
}

// The pass dies in a child process with some files out of the folder; opening the folder (or the
// folder they are in) brings every file back under its name and removes the inner folder.
void TestMountedOrder::killedWhileFilesAreOut()
{
    QFETCH(FsKind, kind);
    QFETCH(bool, shuffle);
    QFETCH(int, dieAt);
    QFETCH(bool, openInnerFolder);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    korvalo::Journal journal(fs::path(tmp.path().toStdString()) / "state");
    const fs::path folder = image.root();
    std::vector<std::string> names = realisticNames(12);
    names.push_back("notes.txt");
    Snapshot original;
    VERIFY_NO_ERROR(populate(image, original, names, {"Live"}));
    korvalo::NullProgress quiet;
    if (!shuffle)
        QCOMPARE(runPass(true, folder, &journal).status, PassResult::Status::Completed);
    const Snapshot before = snapshot(folder);

    const int died = inChild([&] {
        DieAtMove progress(dieAt);
        runPass(shuffle, folder, progress, {.journal = &journal});
        return 0;
    });
    QVERIFY2(died == 7, "the pass did not die where meant");

    // Files are out of sight in a folder whose name tells where they belong.
    const fs::path inner = orderingFolderOf(folder);
    QVERIFY2(!inner.empty(), qPrintable(show(snapshot(folder))));
    QVERIFY(!korvalo::isOrderingFolder(folder));

    if (openInnerFolder) {
        const korvalo::RecoveryResult r = korvalo::returnOrderedFiles(inner, journal, quiet);
        QCOMPARE(int(r.status), int(korvalo::RecoveryResult::Status::Done));
        QVERIFY(r.conflicts.empty());
    } else {
        korvalo::PendingRecovery pending;
        QCOMPARE(int(korvalo::checkForRecovery(folder, journal, pending)),
                 int(korvalo::RecoveryCheck::Pending));
        QCOMPARE(int(pending.plan.status.kind), int(korvalo::PassKind::Order));
        QVERIFY(!pending.plan.finish.empty());
        const korvalo::RecoveryResult r =
            korvalo::recoverFolder(folder, journal, pending, korvalo::RecoveryChoice::Leave, quiet);
        QCOMPARE(int(r.status), int(korvalo::RecoveryResult::Status::Done));
        QCOMPARE(r.renamed, int(pending.plan.finish.size()));
    }
    korvalo::PendingRecovery again;
    QCOMPARE(int(korvalo::checkForRecovery(folder, journal, again)),
             int(korvalo::RecoveryCheck::Nothing));
    QVERIFY(!fs::exists(inner));

    // Every file back under the name the pass gave it, with its content; nothing else changed.
    VERIFY_NO_ERROR(unaccounted(snapshot(folder), before, [&](auto &n, auto &o) {
        if (!korvalo::isMusicFileName(o))
            return n == o;
        return shuffle ? hasPrefixBefore(n, o) : hasPrefixBefore(o, n);
    }));
    // And the next pass runs.
    QCOMPARE(runPass(!shuffle, folder, &journal).status, PassResult::Status::Completed);
    VERIFY_VOLUME_SOUND(image);
}

// No room for the folder the files pass through: the pass completes, its names stand, nothing
// is moved, and the result says the order could not be arranged.
void TestMountedOrder::noRoomForTheFolder()
{
    QFETCH(FsKind, kind);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    korvalo::Journal journal(fs::path(tmp.path().toStdString()) / "state");
    const fs::path folder = image.root();
    Snapshot original;
    VERIFY_NO_ERROR(populate(image, original, {"a.mp3", "b.mp3", "c.flac"}));

    NoRoomCalls calls;
    CountingProgress progress;
    const PassRun run = runPass(true, folder, progress, {.journal = &journal, .calls = &calls});
    QCOMPARE(int(run.result.status), int(PassResult::Status::Completed));
    QCOMPARE(run.result.renamed, 3);
    QCOMPARE(int(run.result.storedOrder), int(PassResult::StoredOrder::NotArranged));
    QCOMPARE(int(run.result.storedOrderCause.error), int(korvalo::RenameError::NoSpace));
    QCOMPARE(progress.lastDone, -1); // no move made
    QVERIFY(run.result.filesLeftIn.empty());
    const Snapshot after = snapshot(folder);
    QCOMPARE(hashes(after), hashes(original));
    QCOMPARE(after.size(), original.size());
    korvalo::PendingRecovery pending;
    QCOMPARE(int(korvalo::checkForRecovery(folder, journal, pending)),
             int(korvalo::RecoveryCheck::Nothing));
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedOrder::cliShuffleInterrupted_data()
{
    // The renames the hooks count: the songs renamed, their moves out, the folder they are in
    // renamed, their moves back. What korvalo-cli tells is on its standard error, "%1" the folder.
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<int>("songs");
    QTest::addColumn<int>("ctrlCAfter"); // 0: none
    QTest::addColumn<int>("pullAfter");  // the stick is gone after this rename; 0: never
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("told");
    QTest::addColumn<QString>("recovery"); // korvalo-cli recover's choice afterwards; empty: none
    QTest::addColumn<bool>("prefixed");    // every song carries a prefix at the end
    const auto p = korvalo::kOrderingFolderPrefix;
    const QStringList pulled{"设备已移除", "korvalo-cli recover %1 --finish",
                             QString::fromUtf8(reinterpret_cast<const char *>(p.data()), p.size())};
    const QStringList stoppedOrdering{"已停止", "存放顺序", "korvalo-cli shuffle %1 --replace"};
    const QStringList stoppedRenaming{"已停止", "korvalo-cli recover %1 --undo"};
    for (const FsKind kind : orderKinds()) {
        const char *k = kindName(kind);
        QTest::addRow("%s: Ctrl-C while the files go out", k)
            << kind << 12 << 12 + 4 << 0 << 130 << stoppedOrdering << QString() << true;
        QTest::addRow("%s: Ctrl-C while the files come back", k)
            << kind << 12 << 12 + 12 + 1 + 3 << 0 << 0 << QStringList() << QString() << true;
        QTest::addRow("%s: Ctrl-C while renaming, finished", k)
            << kind << 20 << 7 << 0 << 130 << stoppedRenaming << "--finish" << true;
        QTest::addRow("%s: Ctrl-C while renaming, undone", k)
            << kind << 20 << 7 << 0 << 130 << stoppedRenaming << "--undo" << false;
        QTest::addRow("%s: pulled while moving out", k)
            << kind << 12 << 0 << 12 + 4 << 1 << pulled << "--finish" << true;
        QTest::addRow("%s: pulled while moving back", k)
            << kind << 12 << 0 << 12 + 12 + 1 + 3 << 1 << pulled << "--finish" << true;
        // Stopped with four files out; the stick is gone after the first of them came back.
        QTest::addRow("%s: Ctrl-C, then pulled while moving back", k)
            << kind << 12 << 12 + 4 << 12 + 4 + 1 << 1 << pulled << "--finish" << true;
    }
}

// korvalo-cli's shuffle stopped with Ctrl-C or on a stick pulled out, then recovered with
// korvalo-cli recover where it says so. Ctrl-C while the files are out of the folder to be stored
// in order lets no further file go out and brings those out back: status 130, the order not
// arranged and how to have it arranged. Pressed while they come back, it lets them all come back.
// A pulled stick gives status 1, names the device as the cause, the folder the files are in and
// the command that brings them back; with the stick in again, that command does. At the end
// nothing is left to recover, and read raw after a fresh mount the files are stored in the list's
// order wherever the order was arranged.
void TestMountedOrder::cliShuffleInterrupted()
{
    QFETCH(FsKind, kind);
    QFETCH(int, songs);
    QFETCH(int, ctrlCAfter);
    QFETCH(int, pullAfter);
    QFETCH(int, status);
    QFETCH(QStringList, told);
    QFETCH(QString, recovery);
    QFETCH(bool, prefixed);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const fs::path folder = image.root();
    Snapshot original;
    VERIFY_NO_ERROR(populate(image, original, realisticNames(std::size_t(songs))));

    const QString path = QString::fromStdString(folder.native());
    QStringList hooks{QStringLiteral("KORVALO_TEST_SIGINT_AFTER=%1").arg(ctrlCAfter)};
    if (pullAfter > 0)
        hooks << "KORVALO_TEST_DETACH=" + path
              << QStringLiteral("KORVALO_TEST_DETACH_AFTER=%1").arg(pullAfter);
    const CliRun run = cli({"shuffle", "%1"}, folder, hooked(hooks));
    QVERIFY2(run.status == status, qPrintable(QString::number(run.status) + ": " + run.err));
    for (const QString &text : told)
        QVERIFY2(run.err.contains(QString(text).replace("%1", path)), qPrintable(run.err));
    if (told.isEmpty())
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    if (pullAfter > 0) {
        VERIFY_NO_ERROR(image.unmount()); // the daemon ends once the program is gone
        VERIFY_NO_ERROR(image.mount());
        QVERIFY(!orderingFolderOf(folder).empty());
    }
    if (!recovery.isEmpty()) {
        const CliRun recovered = cli({"recover", "%1", recovery}, folder);
        QVERIFY2(recovered.status == 0, qPrintable(recovered.err));
    }

    QVERIFY(orderingFolderOf(folder).empty());
    const Snapshot after = snapshot(folder);
    if (prefixed)
        VERIFY_NO_ERROR(unaccounted(after, original, hasPrefixBefore));
    else
        COMPARE_SNAPSHOTS(after, original);
    const CliRun look = cli({"status", "%1"}, folder);
    QVERIFY2(look.status == 0 && look.out.contains("没有需要处理的"), qPrintable(look.out));
    VERIFY_NO_ERROR(image.remount());
    if (status != 130 || !recovery.isEmpty())
        QCOMPARE(storedMusicOrder(folder), listOrderOf(folder));
    VERIFY_VOLUME_SOUND(image);
}

void TestMountedOrder::exactNextToOtherEntries_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<bool>("atRoot");
    QTest::addColumn<QString>("what"); // the pass, or the recovery after a kill in the moves out
    for (const FsKind kind : orderKinds()) {
        for (const bool atRoot : {true, false}) {
            if (kind == FsKind::Fat16 && !atRoot)
                continue; // its subfolders are FAT32's; its root is its own, and emulation slow
            for (const char *what : {"shuffle", "removal", "--finish", "--undo"})
                QTest::addRow("%s, %s: %s", kindName(kind), atRoot ? "root" : "subfolder", what)
                    << kind << atRoot << QString(what);
        }
    }
}

// A folder as sticks hold them: songs of every name length with cover.jpg, folder.jpg, a playlist
// and a subfolder of scans among them, and holes where songs were deleted. Read raw after a
// remount, the songs are stored exactly in the list's order after a shuffle, after a removal, and
// after a shuffle killed while its files went out and then finished or undone with korvalo-cli
// recover. The other entries keep their names and contents.
void TestMountedOrder::exactNextToOtherEntries()
{
    QFETCH(FsKind, kind);
    QFETCH(bool, atRoot);
    QFETCH(QString, what);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image, 200);
    const fs::path folder = atRoot ? image.root() : image.root() / "Music" / "Album";
    QVERIFY(fs::create_directories(folder / "Scans"));
    QVERIFY(writeFile(folder / "Scans" / "back.jpg", contentFor("back.jpg")));
    const std::vector<std::string> songs = realisticNames();
    std::vector<std::string> deleted;
    for (std::size_t i = 0; i < songs.size(); ++i) {
        QVERIFY(writeFile(folder / songs[i], contentFor(songs[i])));
        const std::map<std::size_t, std::string> others = {
            {3, "cover.jpg"}, {11, "folder.jpg"}, {25, "playlist.m3u"}};
        if (others.count(i))
            QVERIFY(writeFile(folder / others.at(i), contentFor(others.at(i))));
        if (i % 5 == 2) { // holes of every size once these are deleted
            deleted.push_back(repeat("已删除 ", int(i % 7) * 3) + std::to_string(i) + ".mp3");
            QVERIFY(writeFile(folder / deleted.back(), contentFor(deleted.back())));
        }
    }
    VERIFY_NO_ERROR(image.remount());
    for (const std::string &name : deleted)
        QVERIFY(fs::remove(folder / name));
    VERIFY_NO_ERROR(image.remount());
    const Snapshot original = snapshot(folder);
    QCOMPARE(original.size(), songs.size() + 4);

    if (what == "shuffle" || what == "removal") {
        korvalo::Journal journal(fs::path(tmp.path().toStdString()) / "state");
        const PassResult shuffled = runPass(true, folder, &journal);
        QCOMPARE(int(shuffled.status), int(PassResult::Status::Completed));
        const PassResult run = what == "shuffle" ? shuffled : runPass(false, folder, &journal);
        QCOMPARE(int(run.status), int(PassResult::Status::Completed));
        QCOMPARE(int(run.storedOrder), int(PassResult::StoredOrder::Arranged));
    } else {
        const int died = inChild([&] {
            korvalo::Journal journal; // the state folder korvalo-cli uses too
            DieAtMove progress(17);   // 17 of 40 songs out
            runPass(true, folder, progress, {.journal = &journal});
            return 0;
        });
        QVERIFY2(died == 7, "the pass did not die where meant");
        QVERIFY(!orderingFolderOf(folder).empty());
        const CliRun recovered = cli({"recover", "%1", what}, folder);
        QVERIFY2(recovered.status == 0, qPrintable(recovered.out + recovered.err));
    }

    VERIFY_NO_ERROR(image.remount());
    QVERIFY(orderingFolderOf(folder).empty());
    const std::vector<std::string> listed = listOrderOf(folder);
    const std::vector<std::string> stored = storedMusicOrder(folder);
    qInfo("%s, %s, %s: Kendall tau between list order and stored order %.6f", kindName(kind),
          atRoot ? "root" : "subfolder", qPrintable(what), kendallTau(stored, listed));
    QCOMPARE(stored, listed);
    const Snapshot after = snapshot(folder);
    QVERIFY2(holdsEveryFileOnce(after, original), qPrintable(show(after)));
    COMPARE_SNAPSHOTS(musicOnly(after, false), musicOnly(original, false));
    QCOMPARE(readFile(folder / "Scans" / "back.jpg"), contentFor("back.jpg"));
    if (what == "--undo")
        COMPARE_SNAPSHOTS(after, original);
    VERIFY_VOLUME_SOUND(image);
}

// Two thousand songs, half of them named with their own track numbers ("07 - Track 7.mp3"), a
// shuffle killed halfway and finished with korvalo-cli recover: read raw after a fresh mount, the
// files are stored in the list's order, and the list goes by the prefixes alone, whatever digits
// a name begins with.
void TestMountedOrder::killedShuffleFinishedInPrefixOrder()
{
    QFETCH(FsKind, kind);
    QTemporaryDir tmp;
    MOUNT_FRESH_IMAGE(kind, tmp, image, 300);
    const fs::path folder = image.root() / "Album"; // a FAT16 root holds 512 entries at most
    QVERIFY(fs::create_directory(folder));
    const int count = scaledCount(2000);
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i)
        names.push_back(i % 2 ? QStringLiteral("%1 - Track %2.mp3")
                                    .arg(i % 100, 2, 10, QLatin1Char('0'))
                                    .arg(i)
                                    .toStdString()
                              : "歌曲 " + std::to_string(i) + ".flac");
    Snapshot original;
    VERIFY_NO_ERROR(populate(image, original, names, {}, folder));

    const int died = inChild([&] {
        korvalo::Journal journal; // the state folder korvalo-cli uses too
        RecordingProgress dies;
        dies.onStep = [count](int index, int) {
            if (index == count / 2)
                ::_exit(7);
            return true;
        };
        runPass(true, folder, dies, {.journal = &journal});
        return 0;
    });
    QVERIFY2(died == 7, "the pass did not die where meant");

    const CliRun recovered = cli({"recover", "%1", "--finish"}, folder);
    QVERIFY2(recovered.status == 0, qPrintable(recovered.err));
    QVERIFY(orderingFolderOf(folder).empty());
    QVERIFY(holdsEveryFileOnce(snapshot(folder), original));

    VERIFY_NO_ERROR(image.remount());
    const std::vector<std::string> listed = listOrderOf(folder);
    QCOMPARE(int(listed.size()), count);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        QVERIFY2(korvalo::hasOrderPrefix(listed[i]) && !original.count(listed[i]),
                 listed[i].c_str());
        if (i > 0)
            QVERIFY2(listed[i - 1].compare(0, 4, listed[i], 0, 4) <= 0,
                     (listed[i - 1] + " before " + listed[i]).c_str());
    }
    QCOMPARE(storedMusicOrder(folder), listed);
    VERIFY_VOLUME_SOUND(image);
}

QTEST_GUILESS_MAIN(TestMountedOrder)
#include "tst_mountedorder.moc"
