#include "mountedimage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

const char *kindName(FsKind kind)
{
    switch (kind) {
    case FsKind::ExFat:
        return "exFAT";
    case FsKind::Ntfs:
        return "NTFS";
    case FsKind::Fat:
        return "FAT32";
    case FsKind::Fat16:
        return "FAT16";
    }
    return "?";
}

bool kernelDrivers()
{
    return qgetenv("KORVALO_TEST_DRIVERS") == "kernel";
}

QList<FsKind> passKinds()
{
    // FAT16 differs from FAT32 in its root folder and cluster sizes, which the stored order
    // meets: it runs with the order's tests and the round trips, FAT32 with every test.
    if (kernelDrivers())
        return {FsKind::ExFat, FsKind::Ntfs, FsKind::Fat};
    return {FsKind::ExFat, FsKind::Ntfs};
}

QList<FsKind> orderKinds()
{
    if (kernelDrivers())
        return {FsKind::ExFat, FsKind::Fat, FsKind::Fat16};
    return {FsKind::ExFat};
}

int scaledCount(int count)
{
    return kernelDrivers() ? std::min(count, 120) : count;
}

QString findTool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
    return path;
}

ToolResult runTool(const QString &name, const QStringList &args, int timeoutMs,
                   const QProcessEnvironment &env)
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

namespace {

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
        if (!numeric || id == ::getpid())
            continue;
        QFile cmd("/proc/" + pid + "/cmdline");
        if (!cmd.open(QIODevice::ReadOnly))
            continue;
        if (cmd.readAll().split('\0').contains(target))
            return id;
    }
    return 0;
}

bool isFat(FsKind kind)
{
    return kind == FsKind::Fat || kind == FsKind::Fat16;
}

// The name of a file system in KORVALO_TEST_FILESYSTEMS, and the kernel's driver for it.
const char *shortName(FsKind kind)
{
    switch (kind) {
    case FsKind::ExFat:
        return "exfat";
    case FsKind::Ntfs:
        return "ntfs";
    case FsKind::Fat:
        return "fat32";
    case FsKind::Fat16:
        return "fat16";
    }
    return "?";
}

const char *kernelDriver(FsKind kind)
{
    return kind == FsKind::ExFat ? "exfat" : kind == FsKind::Ntfs ? "ntfs3" : "vfat";
}

// The options a desktop (udisks) mounts a stick with.
// `flush` makes vfat wait a tenth of a second at each close of a file written to, which is most
// of the time a test spends writing its files: the first mount of a fresh image, where a test
// writes them, goes without it.
QString desktopOptions(FsKind kind, bool readOnly, bool settingUp)
{
    QString options;
    if (kind == FsKind::ExFat)
        options = "uid=0,gid=0,iocharset=utf8,errors=remount-ro";
    else if (isFat(kind))
        options = QStringLiteral("uid=0,gid=0,shortname=mixed,utf8=1,showexec") +
                  (settingUp ? "" : ",flush");
    else
        options = "uid=0,gid=0";
    return options + (readOnly ? ",ro" : ",rw");
}

QStringList toolsFor(FsKind kind)
{
    if (kernelDrivers()) {
        switch (kind) {
        case FsKind::ExFat:
            return {"mkfs.exfat", "fsck.exfat", "losetup", "mount", "umount"};
        case FsKind::Ntfs:
            return {"mkntfs", "ntfsfix", "losetup", "mount", "umount"};
        case FsKind::Fat:
        case FsKind::Fat16:
            return {"mkfs.vfat", "fsck.vfat", "losetup", "mount", "umount"};
        }
    }
    switch (kind) {
    case FsKind::ExFat:
        return {"mkfs.exfat", "fsck.exfat", "losetup", "mount.exfat-fuse", "umount"};
    case FsKind::Ntfs:
        return {"mkntfs", "ntfsfix", "ntfs-3g", "umount"};
    case FsKind::Fat:
    case FsKind::Fat16:
        return {"mkfs.vfat", "fsck.vfat", "fusefat", "fusermount", "umount"};
    }
    return {};
}

// True when the running kernel has the file system (built in or loaded).
bool kernelHas(const char *type)
{
    QFile f("/proc/filesystems");
    if (!f.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.trimmed().split('\t').last() == type)
            return true;
    }
    return false;
}

} // namespace

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
        QThread::msleep(10);
    }
    return true;
}

QString unavailableReason(FsKind kind)
{
    const QByteArray only = qgetenv("KORVALO_TEST_FILESYSTEMS");
    if (!only.isEmpty() && !only.split(',').contains(shortName(kind)))
        return "not in this run (KORVALO_TEST_FILESYSTEMS=" + QString::fromLatin1(only) + ")";
    if (::geteuid() != 0)
        return "not root: loop devices and FUSE mounts need root";
    if (kernelDrivers()) {
        if (!kernelHas(kernelDriver(kind)))
            return QStringLiteral("the kernel has no %1 driver").arg(kernelDriver(kind));
    } else {
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return QStringLiteral("no usable /dev/fuse (%1)").arg(std::strerror(errno));
        ::close(fd);
    }
    for (const QString &tool : toolsFor(kind))
        if (findTool(tool).isEmpty())
            return tool + " is not installed";
    if (kind == FsKind::ExFat || kernelDrivers()) {
        const ToolResult loop = runTool("losetup", {"-f"});
        if (!loop.ok)
            return "no free loop device: " + loop.output;
    }
    return {};
}

MountedImage::MountedImage(FsKind kind, const QString &workDir, std::chrono::seconds hangLimit)
    : m_kind(kind), m_image(workDir + "/disk.img"), m_dir(workDir + "/mnt")
{
    QDir().mkpath(m_dir);
    if (hangLimit.count() > 0)
        m_guard = std::make_unique<HangGuard>(*this, hangLimit);
}

MountedImage::~MountedImage()
{
    m_guard.reset();
    unmount();
    if (!m_loop.isEmpty())
        runTool("losetup", {"-d", m_loop}, 20000);
}

std::filesystem::path MountedImage::root() const
{
    return std::filesystem::path(QFile::encodeName(m_dir).toStdString());
}

QString MountedImage::create()
{
    QFile img(m_image);
    if (!img.open(QIODevice::WriteOnly) || !img.resize(qint64(64) * 1024 * 1024))
        return "cannot make the image file: " + img.errorString();
    img.close();
    m_fresh = true;
    ToolResult r;
    switch (m_kind) {
    case FsKind::ExFat:
        r = runTool("mkfs.exfat", {"-L", "KORVALO", m_image});
        break;
    case FsKind::Ntfs:
        r = runTool("mkntfs", {"-F", "-Q", "-L", "KORVALO", m_image});
        break;
    case FsKind::Fat:
    case FsKind::Fat16:
        // No volume label: fusefat shows a label as an empty file in the root folder.
        r = runTool("mkfs.vfat", {"-F", m_kind == FsKind::Fat ? "32" : "16", "-s",
                                  m_kind == FsKind::Fat ? "1" : "4", m_image});
        break;
    }
    return r.ok ? QString() : r.output;
}

QString MountedImage::mount(bool readOnly)
{
    ToolResult r;
    if (kernelDrivers()) {
        if (m_loop.isEmpty()) {
            const ToolResult loop = runTool("losetup", {"-f", "--show", m_image});
            if (!loop.ok)
                return loop.output;
            m_loop = loop.output.section('\n', -1);
        }
        r = runTool("mount",
                    {"-t", kernelDriver(m_kind), "-o",
                     desktopOptions(m_kind, readOnly, std::exchange(m_fresh, false)), m_loop,
                     m_dir},
                    60000);
        if (!r.ok)
            return r.output;
        return isMounted(m_dir) ? QString() : "the mount did not appear: " + r.output;
    }
    switch (m_kind) {
    case FsKind::ExFat: {
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
        break;
    }
    case FsKind::Ntfs:
        r = runTool("ntfs-3g",
                    {"-o", readOnly ? "ro" : "rw", m_loop.isEmpty() ? m_image : m_loop, m_dir});
        break;
    case FsKind::Fat:
    case FsKind::Fat16:
        // fusefat was seen to spin on very long names: keep to ordinary names, and the timeout.
        r = runTool("fusefat", {"-o", readOnly ? "ro" : "rw+", m_image, m_dir}, 10000);
        break;
    }
    if (!r.ok)
        return r.output;
    if (!isMounted(m_dir))
        return "the mount did not appear: " + r.output;
    m_daemon = findDaemon(m_dir);
    return {};
}

QString MountedImage::unmount(bool lazy)
{
    QString error;
    if (isMounted(m_dir)) {
        const auto attempt = [&] {
            return isFat(m_kind) && !kernelDrivers()
                       ? runTool("fusermount",
                                 lazy ? QStringList{"-u", "-z", m_dir} : QStringList{"-u", m_dir},
                                 10000)
                       : runTool("umount", lazy ? QStringList{"-l", m_dir} : QStringList{m_dir});
        };
        ToolResult r = attempt();
        // A program the test killed may still be closing its files on a busy machine: the mount
        // is busy for a moment, not for good.
        for (int tries = 0; !r.ok && !lazy && r.output.contains("busy") && tries < 50; ++tries) {
            QThread::msleep(100);
            r = attempt();
        }
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

QString MountedImage::remount(bool readOnly)
{
    const QString err = unmount();
    return err.isEmpty() ? mount(readOnly) : err;
}

QString MountedImage::moveTo(const QString &mountDir)
{
    if (isMounted(m_dir))
        return "still mounted at " + m_dir;
    if (m_kind == FsKind::ExFat || m_kind == FsKind::Ntfs || kernelDrivers()) {
        // Attached before the old one is let go, so that the number differs. The image keeps its
        // name: it is the stick's identity, which a stick keeps wherever it is plugged in.
        const ToolResult loop = runTool("losetup", {"-f", "--show", m_image});
        if (!loop.ok)
            return loop.output;
        if (!m_loop.isEmpty())
            runTool("losetup", {"-d", m_loop}, 20000);
        m_loop = loop.output.section('\n', -1);
    } else {
        const QString moved = m_image + ".moved";
        if (!QFile::rename(m_image, moved))
            return "cannot rename the image to " + moved;
        m_image = moved;
    }
    m_dir = mountDir;
    if (!QDir().mkpath(m_dir))
        return "cannot make the mount point " + m_dir;
    return {};
}

QString MountedImage::unmountAndCheck()
{
    const QString err = unmount();
    if (m_guard && m_guard->fired())
        return "the test ran too long: its hang guard killed the FUSE daemon";
    if (!err.isEmpty())
        return "unmount before the check failed: " + err;
    ToolResult r;
    switch (m_kind) {
    case FsKind::ExFat:
        // The loop device is what exfat-fuse wrote through.
        r = runTool("fsck.exfat", {"-n", source()});
        break;
    case FsKind::Ntfs:
        r = runTool("ntfsfix", {"-n", source()});
        break;
    case FsKind::Fat:
    case FsKind::Fat16:
        r = runTool("fsck.vfat", {"-n", source()});
        break;
    }
    if (!r.ok)
        return QStringLiteral("%1 volume damaged: %2").arg(kindName(m_kind), r.output);
    return {};
}

HangGuard::HangGuard(const MountedImage &image, std::chrono::seconds limit)
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

HangGuard::~HangGuard()
{
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    m_thread.join();
}
