// Both passes on real exFAT and FAT file systems, mounted through FUSE the way a USB stick or SD
// card is on Linux: exFAT with exfat-fuse on a loop device, FAT32 with fusefat. There the kernel's
// no-replace rename is refused, hard links do not exist and a plain rename silently replaces an
// existing file, so these tests prove on the real thing that no file is ever lost or overwritten.
//
// Needs root, /dev/fuse, loop devices and the tools (exfatprogs, exfat-fuse, dosfstools, fusefat;
// mtools for one test). Where any is missing the test reports itself skipped with the reason.

#include "browse/musicfilelist.h"
#include "passes/passes.h"
#include "passes/randomsource.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvalo::PassResult;
using korvalo::RenameError;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

enum class FsKind
{
    ExFat,
    Fat
};

const char *kindName(FsKind kind)
{
    return kind == FsKind::ExFat ? "exFAT" : "FAT32";
}

const char *renameErrorName(RenameError e)
{
    switch (e) {
    case RenameError::None:
        return "None";
    case RenameError::TargetExists:
        return "TargetExists";
    case RenameError::SourceMissing:
        return "SourceMissing";
    case RenameError::PermissionDenied:
        return "PermissionDenied";
    case RenameError::ReadOnly:
        return "ReadOnly";
    case RenameError::NameTooLong:
        return "NameTooLong";
    case RenameError::InvalidName:
        return "InvalidName";
    case RenameError::NoSpace:
        return "NoSpace";
    case RenameError::Busy:
        return "Busy";
    case RenameError::IoError:
        return "IoError";
    case RenameError::DeviceGone:
        return "DeviceGone";
    case RenameError::Other:
        return "Other";
    }
    return "?";
}

QString describe(const korvalo::RenameOutcome &o)
{
    return QStringLiteral("%1 (errno %2: %3)")
        .arg(QLatin1String(renameErrorName(o.error)))
        .arg(o.osError)
        .arg(QString::fromLocal8Bit(std::strerror(o.osError)));
}

// ---------------------------------------------------------------------------------------------
// External tools, each with a timeout: a hung tool must fail the test, never hang the suite.

struct ToolResult
{
    bool ok = false;
    QString output;
};

QString findTool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    return path;
}

ToolResult runTool(const QString &name, const QStringList &args, int timeoutMs = 30000,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    ToolResult r;
    const QString program = findTool(name);
    const QString line = name + ' ' + args.join(' ');
    if (program.isEmpty()) {
        r.output = line + ": not installed";
        return r;
    }
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        r.output = line + ": " + p.errorString();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.output = line + QStringLiteral(": timed out after %1 ms").arg(timeoutMs);
        return r;
    }
    r.output = QString::fromLocal8Bit(p.readAll()).trimmed();
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok)
        r.output = line + QStringLiteral(": exit %1: ").arg(p.exitCode()) + r.output;
    return r;
}

bool isMounted(const QString &dir)
{
    QFile f("/proc/self/mountinfo");
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray target = QFile::encodeName(dir);
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && fields.at(4) == target)
            return true;
    }
    return false;
}

// The process that serves a FUSE mount: the one whose arguments name the mount folder.
pid_t findDaemon(const QString &dir)
{
    const QByteArray target = QFile::encodeName(dir);
    const QStringList pids = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        const pid_t id = pid.toInt(&numeric);
        if (!numeric)
            continue;
        QFile cmd("/proc/" + pid + "/cmdline");
        if (!cmd.open(QIODevice::ReadOnly))
            continue;
        if (cmd.readAll().split('\0').contains(target))
            return id;
    }
    return 0;
}

// True once the process has ended (gone, or a zombie that no longer holds /dev/fuse).
bool processEnded(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

bool waitEnded(pid_t pid, int timeoutMs)
{
    if (pid <= 0)
        return true;
    QElapsedTimer t;
    t.start();
    while (!processEnded(pid)) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// Why mounting `kind` cannot be tried here, or an empty text when it can.
QString unavailableReason(FsKind kind)
{
    if (::geteuid() != 0)
        return "not root: loop devices and FUSE mounts need root";
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("no usable /dev/fuse (%1)").arg(std::strerror(errno));
    ::close(fd);
    const QStringList tools =
        kind == FsKind::ExFat ? QStringList{"mkfs.exfat", "losetup", "mount.exfat-fuse", "umount"}
                              : QStringList{"mkfs.vfat", "fusefat", "fusermount", "umount"};
    for (const QString &tool : tools)
        if (findTool(tool).isEmpty())
            return tool + " is not installed";
    if (kind == FsKind::ExFat) {
        const ToolResult loop = runTool("losetup", {"-f"});
        if (!loop.ok)
            return "no free loop device: " + loop.output;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// One file system image in a temporary folder, mounted at <folder>/mnt.

class MountedImage
{
public:
    MountedImage(FsKind kind, const QString &workDir)
        : m_kind(kind), m_image(workDir + "/disk.img"), m_dir(workDir + "/mnt")
    {
        QDir().mkpath(m_dir);
    }
    ~MountedImage()
    {
        unmount();
        if (!m_loop.isEmpty())
            runTool("losetup", {"-d", m_loop}, 20000);
    }
    MountedImage(const MountedImage &) = delete;
    MountedImage &operator=(const MountedImage &) = delete;

    FsKind kind() const { return m_kind; }
    fs::path root() const { return fs::path(QFile::encodeName(m_dir).toStdString()); }
    QString dir() const { return m_dir; }
    pid_t daemon() const { return m_daemon.load(); }
    const QString &image() const { return m_image; }

    // Makes an empty file system. Returns an error text, empty on success.
    QString create()
    {
        QFile img(m_image);
        if (!img.open(QIODevice::WriteOnly) || !img.resize(qint64(64) * 1024 * 1024))
            return "cannot make the image file: " + img.errorString();
        img.close();
        const ToolResult r =
            m_kind == FsKind::ExFat
                ? runTool("mkfs.exfat", {"-L", "KORVALO", m_image})
                // No volume label: fusefat shows a label as an empty file in the root folder.
                : runTool("mkfs.vfat", {"-F", "32", "-s", "1", m_image});
        return r.ok ? QString() : r.output;
    }

    QString mount(bool readOnly = false)
    {
        ToolResult r;
        if (m_kind == FsKind::ExFat) {
            if (m_loop.isEmpty()) {
                const ToolResult loop = runTool("losetup", {"-f", "--show", m_image});
                if (!loop.ok)
                    return loop.output;
                m_loop = loop.output.section('\n', -1);
            }
            QStringList args;
            if (readOnly)
                args << "-o"
                     << "ro";
            r = runTool("mount.exfat-fuse", args << m_loop << m_dir);
        } else {
            // fusefat was seen to spin on very long names: keep to ordinary names, and the timeout.
            r = runTool("fusefat", {"-o", readOnly ? "ro" : "rw+", m_image, m_dir});
        }
        if (!r.ok)
            return r.output;
        if (!isMounted(m_dir))
            return "the mount did not appear: " + r.output;
        m_daemon = findDaemon(m_dir);
        return {};
    }

    // Unmounts and waits for the FUSE daemon to end, so everything is written to the image.
    QString unmount(bool lazy = false)
    {
        QString error;
        if (isMounted(m_dir)) {
            ToolResult r =
                m_kind == FsKind::ExFat
                    ? runTool("umount", lazy ? QStringList{"-l", m_dir} : QStringList{m_dir})
                    : runTool("fusermount",
                              lazy ? QStringList{"-u", "-z", m_dir} : QStringList{"-u", m_dir});
            if (!r.ok) {
                error = r.output;
                runTool("umount", {"-l", m_dir}); // never leave a mount behind
            }
        }
        if (!waitEnded(m_daemon, 20000)) {
            error += " the FUSE daemon did not end; killed";
            ::kill(m_daemon, SIGKILL);
            waitEnded(m_daemon, 5000);
        }
        m_daemon = 0;
        return error;
    }

    QString remount(bool readOnly = false)
    {
        const QString err = unmount();
        return err.isEmpty() ? mount(readOnly) : err;
    }

private:
    FsKind m_kind;
    QString m_image;
    QString m_dir;
    QString m_loop;
    std::atomic<pid_t> m_daemon{0};
};

// Kills the FUSE daemon when a test runs too long, so that a system call hanging in it returns
// (ENOTCONN) and the test fails with its cleanup instead of hanging the suite.
class HangGuard
{
public:
    HangGuard(const MountedImage &image, std::chrono::seconds limit)
        : m_thread([this, &image, limit] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                  m_fired = true;
                  if (const pid_t pid = image.daemon(); pid > 0)
                      ::kill(pid, SIGKILL);
              }
          })
    {
    }
    ~HangGuard()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    bool fired() const { return m_fired; }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::atomic<bool> m_fired{false};
    std::thread m_thread; // last: starts after the members above exist
};

// ---------------------------------------------------------------------------------------------
// Files and their contents.

// Content that differs for every file and is large enough to span several clusters.
std::string contentFor(const std::string &name)
{
    std::seed_seq seed(name.begin(), name.end());
    std::mt19937 gen(seed);
    std::string out(3000 + gen() % 20000, '\0');
    for (char &c : out)
        c = static_cast<char>(gen());
    return out;
}

std::string hashOf(const std::string &data)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

bool writeFile(const fs::path &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
    out.close();
    return out.good();
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every entry of a folder: name -> hash of its content ("<folder>" for folders).
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const fs::path &dir)
{
    Snapshot out;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().native();
        out[name] = e.is_directory() ? std::string("<folder>") : hashOf(readFile(e.path()));
    }
    return out;
}

QString show(const Snapshot &s)
{
    QStringList names;
    for (const auto &[name, hash] : s)
        names << QString::fromStdString(name) + '=' + QString::fromStdString(hash.substr(0, 8));
    return names.join(", ");
}

std::vector<std::string> hashes(const Snapshot &s)
{
    std::vector<std::string> out;
    for (const auto &[name, hash] : s)
        out.push_back(hash);
    std::sort(out.begin(), out.end());
    return out;
}

class LambdaProgress : public korvalo::ProgressSink
{
public:
    std::function<bool(int)> onStep;
    std::vector<int> steps;
    void start(int) override {}
    bool step(int index, int) override
    {
        steps.push_back(index);
        return onStep ? onStep(index) : true;
    }
};

// Lists the folder afresh and runs one pass over it with the real system calls.
struct PassRun
{
    korvalo::ListError listError;
    std::vector<std::string> listed;
    PassResult result;
};

PassRun runPass(bool shuffle, const fs::path &folder, korvalo::ProgressSink &progress)
{
    PassRun run;
    korvalo::MusicFileList list;
    run.listError = list.setFolder(folder);
    if (!run.listError.ok())
        return run;
    for (int i = 0; i < list.count(); ++i)
        run.listed.emplace_back(list.nameView(i));
    korvalo::FixedFolder source(folder);
    korvalo::PassContext ctx{list, source, progress};
    if (shuffle) {
        korvalo::ClockRandomSource random;
        run.result = korvalo::runShufflePass(ctx, random);
    } else {
        run.result = korvalo::runRemovalPass(ctx);
    }
    return run;
}

PassRun runPass(bool shuffle, const fs::path &folder)
{
    LambdaProgress progress;
    return runPass(shuffle, folder, progress);
}

bool isPrefixOf(const std::string &name, const std::string &original)
{
    static const QRegularExpression fourDigits("^[1-9][0-9]{3}$");
    return name.size() == original.size() + 4 &&
           name.compare(4, std::string::npos, original) == 0 &&
           fourDigits.match(QString::fromStdString(name.substr(0, 4))).hasMatch();
}

std::string repeat(const std::string &unit, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

// NOLINTBEGIN(bugprone-macro-parentheses): the arguments name variables the macros declare.

// Skips the current test (with the reason) when `kind` cannot be mounted here.
#define REQUIRE_MOUNTABLE(kind)                                                                    \
    do {                                                                                           \
        const QString reason = unavailableReason(kind);                                            \
        if (!reason.isEmpty())                                                                     \
            QSKIP(qPrintable(QStringLiteral("%1: %2").arg(kindName(kind), reason)));               \
    } while (false)

// Makes a temporary folder, an image of `kind` in it, and mounts it as `image`.
#define MOUNT_FRESH_IMAGE(kind, tmp, image)                                                        \
    REQUIRE_MOUNTABLE(kind);                                                                       \
    QTemporaryDir tmp;                                                                             \
    QVERIFY2(tmp.isValid(), qPrintable(tmp.errorString()));                                        \
    MountedImage image(kind, tmp.path());                                                          \
    {                                                                                              \
        const QString createError = image.create();                                                \
        QVERIFY2(createError.isEmpty(), qPrintable(createError));                                  \
        const QString mountError = image.mount();                                                  \
        QVERIFY2(mountError.isEmpty(), qPrintable(mountError));                                    \
    }

// NOLINTEND(bugprone-macro-parentheses)

} // namespace

Q_DECLARE_METATYPE(FsKind)

// Compares two snapshots and shows both when they differ.
#define COMPARE_SNAPSHOTS(actual, expected)                                                        \
    do {                                                                                           \
        const Snapshot &a_ = (actual);                                                             \
        const Snapshot &e_ = (expected);                                                           \
        QVERIFY2(a_ == e_, qPrintable("got: " + show(a_) + "\nwanted: " + show(e_)));              \
    } while (false)

class TestMounted : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void removalNeverOverwrites_data();
    void removalNeverOverwrites();
    void readOnlyMount_data();
    void readOnlyMount();
    void lazyUnmountMidPass_data();
    void lazyUnmountMidPass();
    void daemonKilledMidPass_data();
    void daemonKilledMidPass();
    void exfatNameLengthLimit_data();
    void exfatNameLengthLimit();
    void fatNamesFusefatCannotRename();

private:
    static void addKinds();
    // Writes the files (content derived from the name) and folders, remounts so that what the
    // tests read comes from the image, and returns the snapshot.
    static QString populate(MountedImage &image, Snapshot &out,
                            const std::vector<std::string> &files,
                            const std::vector<std::string> &folders = {});
};

void TestMounted::addKinds()
{
    QTest::addColumn<FsKind>("kind");
    QTest::newRow("exFAT") << FsKind::ExFat;
    QTest::newRow("FAT32") << FsKind::Fat;
}

QString TestMounted::populate(MountedImage &image, Snapshot &out,
                              const std::vector<std::string> &files,
                              const std::vector<std::string> &folders)
{
    for (const std::string &f : folders) {
        std::error_code ec;
        fs::create_directory(image.root() / f, ec);
        if (ec)
            return QStringLiteral("cannot make folder %1 on %2: %3")
                .arg(QString::fromStdString(f), kindName(image.kind()),
                     QString::fromStdString(ec.message()));
    }
    for (const std::string &f : files)
        if (!writeFile(image.root() / f, contentFor(f)))
            return QStringLiteral("cannot write %1 on %2: %3")
                .arg(QString::fromStdString(f), kindName(image.kind()), std::strerror(errno));
    const QString err = image.remount();
    if (!err.isEmpty())
        return "remount failed: " + err;
    out = snapshot(image.root());
    if (out.size() != files.size() + folders.size())
        return "the stick does not hold what was written: " + show(out);
    return {};
}

// ---------------------------------------------------------------------------------------------

void TestMounted::roundTrip_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<std::vector<std::string>>("music");
    QTest::addColumn<std::vector<std::string>>("others");

    const std::vector<std::string> ascii{"Track 01.mp3", "track 2.flac", "a b  c.mp3", "UPPER.MP3",
                                         "Mixed.Flac",   "x.mp3",        "12 34.mp3",  "123a.flac"};
    // exFAT stores UTF-16: Chinese, accents (composed and decomposed), emoji, leading blanks,
    // and a 124-character Chinese name that is 364 bytes long (legal there, too long for ext4).
    std::vector<std::string> unicode = ascii;
    for (const char *n :
         {"中文歌曲.mp3", "周杰伦 - 稻香.flac", "Café del Mar.mp3", "Cafe\xcc\x81 NFD.mp3",
          "  two leading blanks.mp3", "trailing blank .flac", "\xf0\x9f\x98\x80 emoji.mp3",
          "Ünïcödé Ñame.FLAC"})
        unicode.emplace_back(n);
    unicode.push_back(repeat("长", 120) + ".mp3");

    QTest::newRow("exFAT") << FsKind::ExFat << unicode
                           << std::vector<std::string>{"cover.jpg", "notes.txt"};
    // fusefat refuses names outside ASCII (EPERM): see fatNamesFusefatCannotRename.
    QTest::newRow("FAT32") << FsKind::Fat << ascii
                           << std::vector<std::string>{"cover.jpg", "notes.txt"};
}

void TestMounted::roundTrip()
{
    QFETCH(FsKind, kind);
    QFETCH(std::vector<std::string>, music);
    QFETCH(std::vector<std::string>, others);
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const HangGuard guard(image, std::chrono::seconds(180));

    std::vector<std::string> all = music;
    all.insert(all.end(), others.begin(), others.end());
    Snapshot before;
    const QString populated = populate(image, before, all, {"folder.mp3"});
    QVERIFY2(populated.isEmpty(), qPrintable(populated));

    // Shuffle: every music file gets four digits in front, nothing else changes.
    const PassRun shuffle = runPass(true, image.root());
    QVERIFY(shuffle.listError.ok());
    QCOMPARE(shuffle.listed.size(), music.size());
    QVERIFY2(shuffle.result.status == PassResult::Status::Completed,
             qPrintable(describe(shuffle.result.cause)));
    QCOMPARE(shuffle.result.renamed, int(music.size()));
    QVERIFY(image.remount().isEmpty());
    const Snapshot shuffled = snapshot(image.root());
    QCOMPARE(shuffled.size(), before.size());
    for (const auto &[name, hash] : before) {
        const bool isMusic = std::find(music.begin(), music.end(), name) != music.end();
        int found = 0;
        for (const auto &[newName, newHash] : shuffled)
            if (isMusic ? isPrefixOf(newName, name) : newName == name) {
                ++found;
                QVERIFY2(newHash == hash, newName.c_str());
            }
        QVERIFY2(found == 1, qPrintable(QString::fromStdString(name) + " -> " + show(shuffled)));
    }

    // Removal: every name exactly as before, every content byte-identical.
    const PassRun removal = runPass(false, image.root());
    QVERIFY2(removal.result.status == PassResult::Status::Completed,
             qPrintable(describe(removal.result.cause)));
    QCOMPARE(removal.result.renamed, int(music.size()));
    QVERIFY(image.remount().isEmpty());
    const Snapshot after = snapshot(image.root());
    COMPARE_SNAPSHOTS(after, before);
    QVERIFY(!guard.fired());
}

// ---------------------------------------------------------------------------------------------

void TestMounted::removalNeverOverwrites_data()
{
    QTest::addColumn<FsKind>("kind");
    QTest::addColumn<std::vector<std::string>>("files");
    QTest::addColumn<std::string>("failing");               // the name whose rename must fail
    QTest::addColumn<std::string>("target");                // the name it was to get
    QTest::addColumn<std::vector<std::string>>("expected"); // "final=original" for every file

    for (const FsKind kind : {FsKind::ExFat, FsKind::Fat}) {
        const char *k = kindName(kind);
        QTest::addRow("%s: two names strip to one", k)
            << kind << std::vector<std::string>{"1111a.mp3", "2222a.mp3", "3333b.mp3"}
            << std::string("2222a.mp3") << std::string("a.mp3")
            << std::vector<std::string>{"a.mp3=1111a.mp3", "2222a.mp3=2222a.mp3",
                                        "3333b.mp3=3333b.mp3"};
        QTest::addRow("%s: stripped name exists", k)
            << kind << std::vector<std::string>{"a.mp3", "1234a.mp3", "5678c.flac"}
            << std::string("1234a.mp3") << std::string("a.mp3")
            << std::vector<std::string>{"a.mp3=a.mp3", "1234a.mp3=1234a.mp3",
                                        "5678c.flac=5678c.flac"};
        // The file system ignores case: a plain rename to song.mp3 would destroy Song.mp3.
        QTest::addRow("%s: stripped name exists in other case", k)
            << kind << std::vector<std::string>{"Song.mp3", "1234song.mp3"}
            << std::string("1234song.mp3") << std::string("song.mp3")
            << std::vector<std::string>{"Song.mp3=Song.mp3", "1234song.mp3=1234song.mp3"};
        QTest::addRow("%s: upper case stripped name exists in lower case", k)
            << kind << std::vector<std::string>{"0001b.flac", "5678TRACK.FLAC", "track.flac"}
            << std::string("5678TRACK.FLAC") << std::string("TRACK.FLAC")
            << std::vector<std::string>{"b.flac=0001b.flac", "5678TRACK.FLAC=5678TRACK.FLAC",
                                        "track.flac=track.flac"};
    }
}

void TestMounted::removalNeverOverwrites()
{
    QFETCH(FsKind, kind);
    QFETCH(std::vector<std::string>, files);
    QFETCH(std::string, failing);
    QFETCH(std::string, target);
    QFETCH(std::vector<std::string>, expected);
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const HangGuard guard(image, std::chrono::seconds(120));

    Snapshot before;
    const QString populated = populate(image, before, files);
    QVERIFY2(populated.isEmpty(), qPrintable(populated));
    const PassRun run = runPass(false, image.root());
    QVERIFY(run.listError.ok());
    QCOMPARE(run.result.status, PassResult::Status::Failed);
    QVERIFY2(run.result.cause.error == RenameError::TargetExists,
             qPrintable(describe(run.result.cause)));
    QCOMPARE(run.result.oldName.native(), failing);
    QCOMPARE(run.result.newName.native(), target);
    QCOMPARE(run.listed.at(std::size_t(run.result.failedIndex)), failing);

    // The pass stopped at the failing file: every file before it was renamed, none after it.
    QVERIFY(image.remount().isEmpty());
    const Snapshot after = snapshot(image.root());
    Snapshot wanted;
    for (const std::string &pair : expected) {
        const auto eq = pair.find('=');
        QVERIFY(before.count(pair.substr(eq + 1)) == 1);
        wanted[pair.substr(0, eq)] = before.at(pair.substr(eq + 1));
    }
    COMPARE_SNAPSHOTS(after, wanted);
    QVERIFY(hashes(after) == hashes(before));
    QVERIFY(!guard.fired());
}

// ---------------------------------------------------------------------------------------------

void TestMounted::readOnlyMount_data()
{
    addKinds();
}

void TestMounted::readOnlyMount()
{
    QFETCH(FsKind, kind);
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const HangGuard guard(image, std::chrono::seconds(120));

    Snapshot before;
    const QString populated = populate(image, before, {"a.mp3", "b.flac", "4321c.mp3"});
    QVERIFY2(populated.isEmpty(), qPrintable(populated));
    QVERIFY(image.remount(true).isEmpty());

    for (const bool shuffle : {true, false}) {
        const PassRun run = runPass(shuffle, image.root());
        QVERIFY2(run.listError.ok(), "a read-only stick still lists");
        QCOMPARE(run.result.status, PassResult::Status::Failed);
        QVERIFY2(run.result.cause.error == RenameError::ReadOnly,
                 qPrintable(describe(run.result.cause)));
        QCOMPARE(run.result.cause.osError, EROFS);
        QCOMPARE(run.result.renamed, 0);
        // The first file the pass renames: index 0 for a shuffle, 4321c.mp3 for the removal.
        QCOMPARE(run.listed.at(std::size_t(run.result.failedIndex)),
                 std::string(shuffle ? run.listed.front() : "4321c.mp3"));
        COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    }
    QVERIFY(image.remount().isEmpty());
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    QVERIFY(!guard.fired());
}

// ---------------------------------------------------------------------------------------------

namespace {

// What a pass over six files left after the device went away after the second file: the first
// two carry a prefix, the rest keep their names, and every content is there exactly once.
void checkStoppedAfterTwo(const PassRun &run, const Snapshot &before, const Snapshot &after)
{
    QCOMPARE(after.size(), before.size());
    QVERIFY(hashes(after) == hashes(before));
    for (std::size_t i = 0; i < run.listed.size(); ++i) {
        const std::string &name = run.listed[i];
        int found = 0;
        for (const auto &[newName, hash] : after)
            if (i < 2 ? isPrefixOf(newName, name) : newName == name) {
                ++found;
                QVERIFY2(before.count(name) == 1 && hash == before.at(name), newName.c_str());
            }
        QVERIFY2(found == 1, qPrintable(QString::fromStdString(name) + " -> " + show(after)));
    }
}

const std::vector<std::string> kSixFiles{"a.mp3", "b.mp3", "c.flac", "d.mp3", "e.mp3", "f.flac"};

} // namespace

void TestMounted::lazyUnmountMidPass_data()
{
    addKinds();
}

// The stick is taken away in the middle of a pass, the way a file manager's eject or a desktop's
// automounter does it: a lazy unmount while Korvalo is working.
void TestMounted::lazyUnmountMidPass()
{
    QFETCH(FsKind, kind);
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const HangGuard guard(image, std::chrono::seconds(120));
    Snapshot before;
    const QString populated = populate(image, before, kSixFiles);
    QVERIFY2(populated.isEmpty(), qPrintable(populated));

    const pid_t daemon = image.daemon();
    QString unmountError = "not unmounted";
    LambdaProgress progress;
    progress.onStep = [&](int index) {
        if (index == 1)
            unmountError = image.unmount(true);
        return true;
    };
    const PassRun run = runPass(true, image.root(), progress);
    QVERIFY2(unmountError.isEmpty(), qPrintable(unmountError));
    QVERIFY(daemon > 0 && processEnded(daemon));

    QCOMPARE(run.result.status, PassResult::Status::Failed);
    QCOMPARE(run.result.failedIndex, 2);
    QCOMPARE(run.result.renamed, 2);
    QCOMPARE(progress.steps, (std::vector<int>{0, 1}));
    // The path now leads to the empty folder under the mount, so the rename answers ENOENT; the
    // pass sees that the folder is on another file system now and says the device is gone.
    qInfo("%s, lazy unmount after the second file: the third rename failed with %s", kindName(kind),
          qPrintable(describe(run.result.cause)));
    const RenameError cause = run.result.cause.error;
    QVERIFY2(cause == RenameError::DeviceGone || cause == RenameError::IoError,
             qPrintable(describe(run.result.cause)));

    // Nothing was written to the folder under the mount, and on the stick nothing is lost.
    QVERIFY(fs::is_empty(image.root()));
    QVERIFY(image.mount().isEmpty());
    checkStoppedAfterTwo(run, before, snapshot(image.root()));
    QVERIFY(!guard.fired());
}

void TestMounted::daemonKilledMidPass_data()
{
    addKinds();
}

// The FUSE daemon dies in the middle of a pass (the program that serves the stick crashed, or the
// device under it vanished): every further call on the mount answers ENOTCONN.
void TestMounted::daemonKilledMidPass()
{
    QFETCH(FsKind, kind);
    MOUNT_FRESH_IMAGE(kind, tmp, image);
    const HangGuard guard(image, std::chrono::seconds(120));
    Snapshot before;
    const QString populated = populate(image, before, kSixFiles);
    QVERIFY2(populated.isEmpty(), qPrintable(populated));

    const pid_t daemon = image.daemon();
    QVERIFY(daemon > 0);
    bool ended = false;
    LambdaProgress progress;
    progress.onStep = [&](int index) {
        if (index == 1) {
            ::kill(daemon, SIGKILL);
            ended = waitEnded(daemon, 10000);
        }
        return true;
    };
    const PassRun run = runPass(true, image.root(), progress);
    QVERIFY(ended);
    QCOMPARE(run.result.status, PassResult::Status::Failed);
    QCOMPARE(run.result.failedIndex, 2);
    QCOMPARE(run.result.renamed, 2);
    qInfo("%s, FUSE daemon killed after the second file: the third rename failed with %s",
          kindName(kind), qPrintable(describe(run.result.cause)));
    QVERIFY2(run.result.cause.error == RenameError::DeviceGone,
             qPrintable(describe(run.result.cause)));

    // Listing the dead mount says so too.
    korvalo::MusicFileList list;
    const korvalo::ListError listError = list.setFolder(image.root());
    QCOMPARE(listError.kind, korvalo::ListError::Kind::DeviceGone);

    // Mounted again, the stick holds every file exactly once.
    QVERIFY(image.remount().isEmpty());
    checkStoppedAfterTwo(run, before, snapshot(image.root()));
    QVERIFY(!guard.fired());
}

// ---------------------------------------------------------------------------------------------

void TestMounted::exfatNameLengthLimit_data()
{
    QTest::addColumn<std::string>("name");
    QTest::addColumn<bool>("fits");
    // exFAT counts UTF-16 units: 255 at most. Chinese characters take three bytes each, so these
    // names are far longer than 255 bytes and still legal there.
    QTest::newRow("ASCII, 251 units") << repeat("a", 247) + ".mp3" << true;
    QTest::newRow("ASCII, 252 units") << repeat("a", 248) + ".mp3" << false;
    QTest::newRow("Chinese, 251 units (745 bytes)") << repeat("歌", 247) + ".mp3" << true;
    QTest::newRow("Chinese, 252 units (748 bytes)") << repeat("歌", 248) + ".mp3" << false;
}

void TestMounted::exfatNameLengthLimit()
{
    QFETCH(std::string, name);
    QFETCH(bool, fits);
    MOUNT_FRESH_IMAGE(FsKind::ExFat, tmp, image);
    const HangGuard guard(image, std::chrono::seconds(120));

    Snapshot before;
    const QString populated = populate(image, before, {name, "b.mp3"});
    QVERIFY2(populated.isEmpty(), qPrintable(populated));
    const PassRun run = runPass(true, image.root());
    QCOMPARE(run.listed.size(), std::size_t(2));
    QVERIFY(image.remount().isEmpty());
    const Snapshot after = snapshot(image.root());
    QVERIFY(hashes(after) == hashes(before));
    if (fits) {
        QVERIFY2(run.result.status == PassResult::Status::Completed,
                 qPrintable(describe(run.result.cause)));
        for (const auto &[n, hash] : after) {
            const std::string original = n.size() > 4 ? n.substr(4) : std::string();
            QVERIFY2(isPrefixOf(n, original) && before.count(original) == 1 &&
                         before.at(original) == hash,
                     n.c_str());
        }
    } else {
        QCOMPARE(run.result.status, PassResult::Status::Failed);
        qInfo("exFAT, prefix pushes a name to 256 UTF-16 units: %s",
              qPrintable(describe(run.result.cause)));
        QVERIFY2(run.result.cause.error == RenameError::NameTooLong,
                 qPrintable(describe(run.result.cause)));
        QCOMPARE(run.result.oldName.native(), name);
        QVERIFY(after.count(name) == 1 && after.at(name) == before.at(name));
    }
    QVERIFY(!guard.fired());
}

// ---------------------------------------------------------------------------------------------

// A FAT stick written by Windows carries Chinese and accented names. fusefat shows them right but
// cannot write them: a plain rename to such a name answers EPERM after it has already removed the
// old name, and the file is gone. The pass must stop at the first one, say the name is refused,
// and lose nothing.
void TestMounted::fatNamesFusefatCannotRename()
{
    REQUIRE_MOUNTABLE(FsKind::Fat);
    if (findTool("mcopy").isEmpty())
        QSKIP("mcopy (mtools) is not installed: it writes the non-ASCII names fusefat cannot");
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    MountedImage image(FsKind::Fat, tmp.path());
    QVERIFY(image.create().isEmpty());

    const std::vector<std::string> names{"中文歌曲.mp3", "Café del Mar.flac", "1234周杰伦.mp3"};
    Snapshot before;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("MTOOLS_SKIP_CHECK", "1");
    for (const std::string &n : names) {
        const QString src = tmp.path() + "/src.bin";
        const std::string data = contentFor(n);
        QVERIFY(writeFile(QFile::encodeName(src).toStdString(), data));
        const ToolResult r = runTool(
            "mcopy", {"-i", image.image(), src, "::" + QString::fromStdString(n)}, 30000, env);
        QVERIFY2(r.ok, qPrintable(r.output));
        before[n] = hashOf(data);
    }
    QVERIFY(image.mount().isEmpty());
    const HangGuard guard(image, std::chrono::seconds(120));
    COMPARE_SNAPSHOTS(snapshot(image.root()), before);

    for (const bool shuffle : {true, false}) {
        const PassRun run = runPass(shuffle, image.root());
        QCOMPARE(run.listed.size(), names.size());
        QCOMPARE(run.result.status, PassResult::Status::Failed);
        qInfo("FAT32 via fusefat, %s pass over a non-ASCII name: %s",
              shuffle ? "shuffle" : "removal", qPrintable(describe(run.result.cause)));
        QVERIFY2(run.result.cause.error == RenameError::InvalidName,
                 qPrintable(describe(run.result.cause)));
        QCOMPARE(run.result.cause.osError, EPERM);
        QCOMPARE(run.result.renamed, 0);
        QVERIFY(image.remount().isEmpty());
        COMPARE_SNAPSHOTS(snapshot(image.root()), before);
    }
    QVERIFY(!guard.fired());
}

QTEST_GUILESS_MAIN(TestMounted)
#include "tst_mounted.moc"
