// Which mounted file systems the drive selector offers, how it names them, and which of them
// holds a folder.

#include "browse/volumes.h"
#include "support/volumerows.h"

#include <QStringList>
#include <QTest>

#include <filesystem>

using korvalo::Volume;

namespace fs = std::filesystem;

namespace {

QStringList mountPoints(const std::vector<Volume> &list)
{
    QStringList out;
    for (const Volume &v : list)
        out << QString::fromStdString(v.mountPoint);
    return out;
}

} // namespace

class TestVolumes : public QObject
{
    Q_OBJECT

private slots:
    void userVolumes_data();
    void userVolumes();
    void laterMountOnSameFolderWins();
    void volumeRootOf_data();
    void volumeRootOf();
};

void TestVolumes::userVolumes_data()
{
    QTest::addColumn<QStringList>("mounted");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("root first, then the others by mount point")
        << QStringList{"/home|ext4|", "/|ext4|", "/data|xfs|"}
        << QStringList{"/", "/data", "/home"};
    QTest::newRow("root added when the system lists none")
        << QStringList{"/home|ext4|"} << QStringList{"/", "/home"};
    QTest::newRow("pseudo file systems left out") << QStringList{"/|ext4|",
                                                                 "/proc|proc|",
                                                                 "/sys|sysfs|",
                                                                 "/sys/fs/cgroup/unified|cgroup2|",
                                                                 "/cg|cgroup|",
                                                                 "/dev|devtmpfs|",
                                                                 "/dev/pts|devpts|",
                                                                 "/dev/shm|tmpfs|",
                                                                 "/tmp|tmpfs|",
                                                                 "/scratch|tmpfs|",
                                                                 "/mq|mqueue|",
                                                                 "/kdebug|debugfs|",
                                                                 "/trace|tracefs|",
                                                                 "/sec|securityfs|",
                                                                 "/ps|pstore|",
                                                                 "/bpf|bpf|",
                                                                 "/fc|fusectl|",
                                                                 "/cfg|configfs|",
                                                                 "/huge|hugetlbfs|",
                                                                 "/misc|autofs|",
                                                                 "/bin_misc|binfmt_misc|",
                                                                 "/gvfs|fuse.gvfsd-fuse|"}
                                                  << QStringList{"/"};
    QTest::newRow("removable media, network shares and other disks kept")
        << QStringList{"/|btrfs|",
                       "/media/nem/MUSIC|vfat|MUSIC",
                       "/run/media/nem/STICK|exfat|STICK",
                       "/mnt/win|fuseblk|",
                       "/mnt/share|cifs|",
                       "/srv/nfs|nfs4|",
                       "/home/nem/remote|fuse.sshfs|"}
        << QStringList{"/",        "/home/nem/remote",     "/media/nem/MUSIC", "/mnt/share",
                       "/mnt/win", "/run/media/nem/STICK", "/srv/nfs"};
    QTest::newRow("overlay only as the root")
        << QStringList{"/|overlay|", "/var/lib/docker/overlay2/abc/merged|overlay|"}
        << QStringList{"/"};
    QTest::newRow("snaps left out") << QStringList{"/|ext4|", "/snap/core/123|squashfs|",
                                                   "/var/snap/x|ext4|", "/opt/img|squashfs|"}
                                    << QStringList{"/"};
    QTest::newRow("system folders left out even on real file systems")
        << QStringList{"/|ext4|",
                       "/boot|ext4|",
                       "/boot/efi|vfat|",
                       "/etc/hosts|ext4|",
                       "/run/user/1000/doc|fuse.portal|",
                       "/run/lock|ext4|",
                       "/dev/sdb1|ext4|",
                       "/proc/x|ext4|",
                       "/sys/y|ext4|"}
        << QStringList{"/"};
    QTest::newRow("a folder merely beginning like a system folder is kept")
        << QStringList{"/|ext4|", "/running|ext4|", "/device|ext4|", "/etcetera|ext4|"}
        << QStringList{"/", "/device", "/etcetera", "/running"};
    QTest::newRow("empty and relative mount points ignored")
        << QStringList{"/|ext4|", "|ext4|", "media/x|vfat|"} << QStringList{"/"};
    QTest::newRow("a mount point listed twice appears once")
        << QStringList{"/|ext4|", "/media/a|vfat|", "/media/a|exfat|"}
        << QStringList{"/", "/media/a"};
}

void TestVolumes::userVolumes()
{
    QFETCH(QStringList, mounted);
    QFETCH(QStringList, expected);
    QCOMPARE(mountPoints(korvalo::userVolumes(volumes(mounted))), expected);
}

void TestVolumes::laterMountOnSameFolderWins()
{
    const auto list =
        korvalo::userVolumes(volumes({"/|ext4|", "/media/a|vfat|OLD", "/media/a|exfat|NEW"}));
    QCOMPARE(list.size(), std::size_t(2));
    QCOMPARE(list[1].fsType, std::string("exfat"));
    QCOMPARE(list[1].name, std::string("NEW"));
}

void TestVolumes::volumeRootOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("inside a mount") << "/media/nem/MUSIC/Album"
                                    << "/media/nem/MUSIC";
    QTest::newRow("the mount point itself") << "/media/nem/MUSIC"
                                            << "/media/nem/MUSIC";
    QTest::newRow("trailing separator") << "/media/nem/MUSIC/"
                                        << "/media/nem/MUSIC";
    QTest::newRow("same beginning, other folder") << "/media/nem/MUSICAL"
                                                  << "/";
    QTest::newRow("longest mount wins") << "/home/nem/x"
                                        << "/home/nem";
    QTest::newRow("outside every mount but root") << "/tmp/x"
                                                  << "/";
    QTest::newRow("the root") << "/"
                              << "/";
}

void TestVolumes::volumeRootOf()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const std::vector<fs::path> roots = {"/", "/home", "/home/nem", "/media/nem/MUSIC"};
    QCOMPARE(korvalo::volumeRootOf(path.toStdString(), roots), fs::path(expected.toStdString()));
}

QTEST_MAIN(TestVolumes)
#include "tst_volumes.moc"
