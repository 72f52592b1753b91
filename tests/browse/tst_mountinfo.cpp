#include "browse/mountinfo.h"
#include "support/testdir.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using korvalo::MountEntry;
using korvalo::MountInfo;
using korvalo::VolumeId;

namespace {

// Recorded on machines like the ones Korvalo runs on: the root, tmpfs, fusefat on an image,
// exfat-fuse on a loop device (fuseblk), ntfs-3g on an image (fuse), a kernel vfat stick whose
// mount point holds a blank, a bind mount of a folder of that stick, and a kernel exFAT stick with
// two optional fields.
const char *const table =
    "22 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
    "25 22 0:23 / /dev/shm rw,nosuid,nodev shared:3 - tmpfs tmpfs rw\n"
    "30 22 0:45 / /mnt/fat rw,nosuid,nodev,relatime shared:20 - fuse.fusefat /root/fat.img "
    "rw,user_id=0,group_id=0\n"
    "31 22 0:46 / /mnt/ex rw,nosuid,nodev,relatime shared:21 - fuseblk /dev/loop3 "
    "rw,user_id=0,group_id=0,allow_other,blksize=4096\n"
    "32 22 0:47 / /mnt/nt rw,nosuid,nodev,relatime shared:22 - fuse /root/ntfs.img "
    "rw,user_id=0,group_id=0,allow_other\n"
    "33 22 8:17 / /media/user/My\\040Music rw,relatime shared:23 - vfat /dev/sdb1 rw,fmask=0022\n"
    "34 22 8:17 /Albums/Car /srv/car\\134box rw,relatime shared:23 - vfat /dev/sdb1 rw\n"
    "35 22 8:33 / /media/user/STICK rw,nosuid shared:24 master:7 - exfat /dev/sdc1 rw\n"
    "36 22 0:50 / /mnt/odd rw - fuse.sshfs user@host:/srv\\040music rw\n"
    "not a mount line\n";

std::uint64_t dev(unsigned major, unsigned minor)
{
    return makedev(major, minor);
}

// Answers for the sources a test knows about; records who was asked.
struct FakeIdentify
{
    QStringList asked;
    VolumeId operator()(const MountEntry &entry)
    {
        asked << QString::fromStdString(entry.source);
        if (entry.source == "/dev/loop3")
            return {"exfat", "1234-ABCD", "file:/root/ex.img"};
        if (entry.source == "/root/ntfs.img")
            return {"ntfs", "5A1B2C3D4E5F6071", "file:/root/ntfs.img"};
        if (entry.source == "/dev/sdb1")
            return {"vfat", "9C33-6BBD", "usb:0781:5567:4C530001#1"};
        return {};
    }
};

// A sysfs tree as the kernel lays it out, cut down to what identityFromSysfs() reads: each entry
// "path=value" is a file, "path->target" a link (relative, as the kernel makes them).
void makeSysfs(const std::filesystem::path &root)
{
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb2/";
    const std::string mmc = "devices/platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/";
    const std::string entries[] = {
        // loop3 reads an image; the root hub usb2 has a serial number (its PCI address), the stick
        // 2-1 one of its own, 2-2 none; an SD card in the machine's reader; the fixed disk.
        "dev/block/7:3->../../devices/virtual/block/loop3",
        "devices/virtual/block/loop3/loop/backing_file=/images/car.img",
        "dev/block/259:0->../../devices/virtual/block/loop3/loop3p1",
        "devices/virtual/block/loop3/loop3p1/partition=1",
        usb + "idVendor=1d6b",
        usb + "serial=0000:00:14.0",
        usb + "2-1/idVendor=0781",
        usb + "2-1/idProduct=5567",
        usb + "2-1/serial=4C530001 ",
        "dev/block/8:17->../../" + usb + "2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1",
        usb + "2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1/partition=1",
        usb + "2-2/idVendor=058f",
        "dev/block/8:32->../../" + usb + "2-2/2-2:1.0/host7/target7:0:0/7:0:0:0/block/sdc",
        usb + "2-2/2-2:1.0/host7/target7:0:0/7:0:0:0/block/sdc/removable=1",
        mmc + "cid=035344534333324780d30e4b6a014a00",
        mmc + "serial=0xd30e4b6a",
        "dev/block/179:1->../../" + mmc + "block/mmcblk0/mmcblk0p1",
        mmc + "block/mmcblk0/mmcblk0p1/partition=1",
        "dev/block/254:0->../../devices/pci0000:00/0000:00:02.0/virtio1/block/vda",
        "devices/pci0000:00/0000:00:02.0/virtio1/block/vda/removable=0",
    };
    for (const std::string &entry : entries) {
        const std::size_t link = entry.find("->");
        const std::size_t equals = entry.find('=');
        const std::filesystem::path path = root / entry.substr(0, std::min(link, equals));
        std::filesystem::create_directories(path.parent_path());
        if (link != std::string::npos)
            std::filesystem::create_directory_symlink(entry.substr(link + 2), path);
        else
            std::ofstream(path) << entry.substr(equals + 1) << '\n'; // sysfs ends values so
    }
}

// What the table tells of a folder's mount, in MountInfo's terms.
struct Mount
{
    QString fsType, mountFsType, uuid, mountPoint, pathInVolume;
};

} // namespace

Q_DECLARE_METATYPE(Mount)

class TestMountInfo : public QObject
{
    Q_OBJECT

private slots:
    void parsesRecordedTable();
    void mountOfFolder_data();
    void mountOfFolder();
    void identityFromSysfs_data();
    void identityFromSysfs();
    void udevRecord();
    void blkidReadsAnImage();
    void realFolder();
};

void TestMountInfo::parsesRecordedTable()
{
    const std::vector<MountEntry> entries = korvalo::parseMountInfo(table);
    QCOMPARE(entries.size(), std::size_t(9));
    QCOMPARE(entries[0].device, dev(254, 1));
    QCOMPARE(entries[0].mountPoint, std::string("/"));
    QCOMPARE(entries[2].fsType, std::string("fuse.fusefat"));
    QCOMPARE(entries[2].source, std::string("/root/fat.img"));
    QCOMPARE(entries[3].fsType, std::string("fuseblk"));
    QCOMPARE(entries[3].device, dev(0, 46));
    QCOMPARE(entries[5].mountPoint, std::string("/media/user/My Music")); // \040
    QCOMPARE(entries[6].mountPoint, std::string("/srv/car\\box"));        // \134
    QCOMPARE(entries[6].root, std::string("/Albums/Car"));
    QCOMPARE(entries[7].fsType, std::string("exfat")); // after two optional fields
    QCOMPARE(entries[7].source, std::string("/dev/sdc1"));
    QCOMPARE(entries[8].source, std::string("user@host:/srv music"));
}

void TestMountInfo::mountOfFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<quint64>("device");
    QTest::addColumn<Mount>("mount");
    QTest::addColumn<bool>("unsafe");

    QTest::newRow("fusefat on an image: refused")
        << "/mnt/fat/Music" << quint64(dev(0, 45))
        << Mount{"fuse.fusefat", "fuse.fusefat", "", "/mnt/fat", "/Music"} << true;
    QTest::newRow("exfat-fuse on a loop device (fuseblk)")
        << "/mnt/ex/Music/Car" << quint64(dev(0, 46))
        << Mount{"exfat", "fuseblk", "1234-ABCD", "/mnt/ex", "/Music/Car"} << false;
    QTest::newRow("ntfs-3g on an image (fuse)")
        << "/mnt/nt" << quint64(dev(0, 47))
        << Mount{"ntfs", "fuse", "5A1B2C3D4E5F6071", "/mnt/nt", "/"} << false;
    QTest::newRow("kernel vfat, blank in the mount point")
        << "/media/user/My Music/Pop" << quint64(dev(8, 17))
        << Mount{"vfat", "vfat", "9C33-6BBD", "/media/user/My Music", "/Pop"} << false;
    QTest::newRow("bind mount of a folder of the same stick")
        << "/srv/car\\box/Rock" << quint64(dev(8, 17))
        << Mount{"vfat", "vfat", "9C33-6BBD", "/srv/car\\box", "/Albums/Car/Rock"} << false;
    QTest::newRow("tmpfs: no source to ask")
        << "/dev/shm/x" << quint64(dev(0, 23)) << Mount{"tmpfs", "tmpfs", "", "/dev/shm", "/x"}
        << false;
    QTest::newRow("a FUSE mount nothing can tell")
        << "/mnt/odd" << quint64(dev(0, 50))
        << Mount{"fuse.sshfs", "fuse.sshfs", "", "/mnt/odd", "/"} << false;
    QTest::newRow("a device the table does not know")
        << "/somewhere" << quint64(dev(0, 99)) << Mount{"unknown", "", "", "", "/somewhere"}
        << false;
}

void TestMountInfo::mountOfFolder()
{
    QFETCH(QString, folder);
    QFETCH(quint64, device);
    QFETCH(Mount, mount);
    QFETCH(bool, unsafe);

    FakeIdentify identify;
    const MountInfo info =
        korvalo::mountFromTable(folder.toStdString(), device, korvalo::parseMountInfo(table),
                                [&](const MountEntry &e) { return identify(e); });
    QCOMPARE(QString::fromStdString(info.fsType), mount.fsType);
    QCOMPARE(QString::fromStdString(info.mountFsType), mount.mountFsType);
    QCOMPARE(QString::fromStdString(info.uuid), mount.uuid);
    QCOMPARE(QString::fromStdString(info.mountPoint.native()), mount.mountPoint);
    QCOMPARE(QString::fromStdString(info.pathInVolume.native()), mount.pathInVolume);
    QCOMPARE(info.device, device);
    QCOMPARE(korvalo::isUnsafeDriver(info), unsafe);
    // fusefat is told by its type alone: nothing is read off its image to refuse it.
    if (unsafe)
        QVERIFY(identify.asked.isEmpty());
}

void TestMountInfo::identityFromSysfs_data()
{
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<QString>("identity");

    QTest::newRow("loop device: its image") << 7u << 3u << "file:/images/car.img";
    QTest::newRow("partition of a loop device") << 259u << 0u << "file:/images/car.img#1";
    QTest::newRow("partition of a USB stick") << 8u << 17u << "usb:0781:5567:4C530001#1";
    QTest::newRow("USB disk without serial: not the hub's") << 8u << 32u << "";
    QTest::newRow("SD card") << 179u << 1u << "mmc:035344534333324780d30e4b6a014a00#1";
    QTest::newRow("fixed disk") << 254u << 0u << "";
}

void TestMountInfo::identityFromSysfs()
{
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(QString, identity);
    TestDir sys;
    makeSysfs(sys.path());
    QCOMPARE(QString::fromStdString(korvalo::identityFromSysfs(sys.path(), major, minor)),
             identity);
}

void TestMountInfo::udevRecord()
{
    const VolumeId id = korvalo::parseUdevData("S:disk/by-uuid/1234-ABCD\n"
                                               "I:2084017\n"
                                               "E:ID_FS_UUID=1234-ABCD\n"
                                               "E:ID_FS_UUID_ENC=1234-ABCD\n"
                                               "E:ID_FS_TYPE=exfat\n"
                                               "E:ID_FS_USAGE=filesystem\n"
                                               "G:systemd\n");
    QCOMPARE(id.type, std::string("exfat"));
    QCOMPARE(id.uuid, std::string("1234-ABCD"));
    QVERIFY(korvalo::parseUdevData("E:ID_SERIAL=x\n").type.empty());
}

// libblkid reads the type and the UUID off an image, as it does off ntfs-3g's source.
void TestMountInfo::blkidReadsAnImage()
{
    const QString mkfs =
        QStandardPaths::findExecutable(QStringLiteral("mkfs.vfat"), {"/sbin", "/usr/sbin"});
    if (mkfs.isEmpty())
        QSKIP("mkfs.vfat (dosfstools) is not installed");
    TestDir dir;
    const std::filesystem::path image = dir / "fat.img";
    dir.touch("fat.img");
    std::filesystem::resize_file(image, 4 << 20);
    QCOMPARE(QProcess::execute(mkfs, {QStringLiteral("-i"), QStringLiteral("1234abcd"),
                                      QString::fromStdString(image.native())}),
             0);
    MountEntry entry;
    entry.fsType = "fuse";
    entry.source = image.native();
    const VolumeId id = korvalo::identifyVolume(entry, dir / "no-udev-here");
    QCOMPARE(id.type, std::string("vfat"));
    QCOMPARE(id.uuid, std::string("1234-ABCD"));
    QCOMPARE(id.identity, "file:" + std::filesystem::canonical(image).native());

    entry.source = (dir / "missing.img").native();
    QVERIFY(korvalo::identifyVolume(entry).type.empty());
}

void TestMountInfo::realFolder()
{
    TestDir dir;
    struct stat st;
    QCOMPARE(::stat(dir.path().c_str(), &st), 0);
    const auto info = korvalo::mountOf(dir.path());
    QVERIFY(info);
    QCOMPARE(info->device, std::uint64_t(st.st_dev));
    QVERIFY(!info->fsType.empty());
    QVERIFY(!info->mountPoint.empty());
    QVERIFY(!korvalo::mountOf(dir / "missing"));
}

QTEST_APPLESS_MAIN(TestMountInfo)
#include "tst_mountinfo.moc"
