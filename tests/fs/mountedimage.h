#pragma once

// Real file systems mounted the way a USB stick or SD card is on Linux. Two sets of drivers:
// FUSE (exFAT with exfat-fuse on a loop device, NTFS with ntfs-3g, FAT with fusefat), and, with
// KORVALO_TEST_DRIVERS=kernel, the kernel's own exfat, ntfs3 and vfat on loop devices with the
// options a desktop mounts a stick with (scripts/test-kernel-drivers.sh boots a kernel that has
// them). KORVALO_TEST_FILESYSTEMS (a comma list of exfat, ntfs, fat32, fat16) limits a run to
// some file systems. Each image lives in a temporary folder; every external tool runs with a
// timeout, so a hung driver fails a test instead of hanging the suite.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/types.h>

enum class FsKind
{
    ExFat, // exfat-fuse on a loop device
    Ntfs,  // ntfs-3g on the image
    Fat,   // FAT32: fusefat on the image (a driver the passes refuse), or the kernel's vfat
    Fat16  // FAT16, the same drivers
};
Q_DECLARE_METATYPE(FsKind)

const char *kindName(FsKind kind);

// True when the tests mount with the kernel's drivers (KORVALO_TEST_DRIVERS=kernel).
bool kernelDrivers();
// The file systems a pass runs on with the drivers in use, and those of them that keep a folder's
// stored order (FAT and exFAT; fusefat is refused, so under FUSE only exFAT).
QList<FsKind> passKinds();
QList<FsKind> orderKinds();
// A file count for a test, fewer under emulation: the kernel's drivers are tested in a virtual
// machine without hardware help, where file operations are many times slower.
int scaledCount(int count);

struct ToolResult
{
    bool ok = false;
    QString output; // the tool's output; on failure the command line and why it failed first
};

// The tool's full path, also from the sbin folders a non-login PATH may lack; empty when missing.
QString findTool(const QString &name);
ToolResult runTool(const QString &name, const QStringList &args, int timeoutMs = 30000,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// True once the process has ended (gone, or a zombie that no longer holds /dev/fuse).
bool processEnded(pid_t pid);
bool waitEnded(pid_t pid, int timeoutMs);

// Why `kind` cannot be mounted here (not root, no /dev/fuse, a tool missing), or an empty text.
QString unavailableReason(FsKind kind);

class HangGuard;

// One file system image in a folder, mounted at <folder>/mnt. With a hang limit, a HangGuard
// watches it from the start, and the check at the end fails once the guard had to act. The
// destructor unmounts and detaches the loop device whatever state a failed test left.
class MountedImage
{
public:
    MountedImage(FsKind kind, const QString &workDir, std::chrono::seconds hangLimit = {});
    ~MountedImage();
    MountedImage(const MountedImage &) = delete;
    MountedImage &operator=(const MountedImage &) = delete;

    FsKind kind() const { return m_kind; }
    std::filesystem::path root() const;
    QString dir() const { return m_dir; }
    const QString &image() const { return m_image; }
    // What the driver reads: the loop device for exfat-fuse and the kernel's drivers, else the
    // image itself.
    QString source() const { return m_loop.isEmpty() ? m_image : m_loop; }
    // The FUSE daemon serving the mount, 0 when not mounted or mounted by the kernel's driver.
    pid_t daemon() const { return m_daemon.load(); }

    // Each returns an error text, empty on success.
    QString create(); // an empty 64 MiB file system
    // The first mount of a fresh image is for writing the test's files: on the kernel's vfat it
    // leaves out `flush`, which slows each file written; every later mount is a desktop's.
    QString mount(bool readOnly = false);
    // Unmounts and waits for the FUSE daemon to end, so everything is written to the image. A lazy
    // unmount is the stick pulled out while something still works on it.
    QString unmount(bool lazy = false);
    QString remount(bool readOnly = false);
    // The stick pulled out and put in again elsewhere: while unmounted, the next mount() reads the
    // volume through another source (a new loop device for exFAT and NTFS, the image under
    // another file name for FAT) and mounts it at `mountDir`.
    QString moveTo(const QString &mountDir);
    // Unmounts and runs the file system's checker (fsck.exfat -n, ntfsfix -n, fsck.vfat -n) on
    // the image: a pass can leave every name right and the volume damaged all the same. Fails
    // too when the hang guard killed the FUSE daemon.
    QString unmountAndCheck();

private:
    FsKind m_kind;
    QString m_image;
    QString m_dir;
    QString m_loop;
    bool m_fresh = false;
    std::atomic<pid_t> m_daemon{0};
    std::unique_ptr<HangGuard> m_guard;
};

// Kills the FUSE daemon when a test runs too long, so that a system call hanging in it returns
// (ENOTCONN) and the test fails with its cleanup instead of hanging the suite.
class HangGuard
{
public:
    HangGuard(const MountedImage &image, std::chrono::seconds limit);
    ~HangGuard();
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;
    bool fired() const { return m_fired; }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::atomic<bool> m_fired{false};
    std::thread m_thread; // last: starts after the members above exist
};

// NOLINTBEGIN(bugprone-macro-parentheses): the arguments name variables the macros declare.

// Skips the current test (with the reason) when `kind` cannot be mounted here.
#define REQUIRE_MOUNTABLE(kind)                                                                    \
    do {                                                                                           \
        const QString reason_ = unavailableReason(kind);                                           \
        if (!reason_.isEmpty())                                                                    \
            QSKIP(qPrintable(QStringLiteral("%1: %2").arg(kindName(kind), reason_)));              \
    } while (false)

// Fails the test with `errorText` unless it is empty.
#define VERIFY_NO_ERROR(errorText)                                                                 \
    do {                                                                                           \
        const QString error_ = (errorText);                                                        \
        QVERIFY2(error_.isEmpty(), qPrintable(error_));                                            \
    } while (false)

// How long a test on one image may take before its hang guard acts: an optional number of seconds.
inline std::chrono::seconds hangLimit(int seconds = 120)
{
    return std::chrono::seconds(seconds);
}

// Makes a fresh image of `kind` in the temporary folder `dir` (a QTemporaryDir) and mounts it,
// guarded against hangs for the seconds given after `image` (hangLimit's when none are).
#define MOUNT_FRESH_IMAGE(kind, dir, image, ...)                                                   \
    REQUIRE_MOUNTABLE(kind);                                                                       \
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));                                        \
    MountedImage image(kind, dir.path(), hangLimit(__VA_ARGS__));                                  \
    VERIFY_NO_ERROR(image.create());                                                               \
    VERIFY_NO_ERROR(image.mount())

// Ends a test on a mounted image: unmounted, the checker must find the volume sound.
#define VERIFY_VOLUME_SOUND(image) VERIFY_NO_ERROR((image).unmountAndCheck())

// NOLINTEND(bugprone-macro-parentheses)
