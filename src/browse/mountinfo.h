#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvalo {

// One line of /proc/self/mountinfo.
struct MountEntry
{
    std::uint64_t device = 0; // makedev(major, minor) of the mounted file system
    std::string root;         // the folder of the file system mounted here ("/" for all of it)
    std::string mountPoint;   // where it is mounted, escapes (\040 for a blank) decoded
    std::string fsType;       // e.g. "ext4", "fuseblk", "fuse", "fuse.fusefat", "vfat", "exfat"
    std::string source;       // the mount source, escapes decoded
};

// The entries of a mountinfo table, in its order; lines that cannot be read are left out.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// The system's mount table. On Windows: the drive letters in use, each the whole of its volume
// (root "/", mount point "E:\\"), with nothing else filled in.
std::vector<MountEntry> readMountTable();

// A device number as st_dev holds it (makedev()).
std::uint64_t deviceNumber(unsigned long major, unsigned long minor);

// The volume a folder is on: its device number (st_dev), on Windows the volume's serial number.
// nullopt when the folder cannot be reached.
std::optional<std::uint64_t> deviceOf(const std::filesystem::path &folder);

// What a volume holds, as udev recorded it or libblkid reads it off the source.
struct VolumeId
{
    std::string type; // e.g. "exfat", "ntfs", "vfat"; empty when unknown
    std::string uuid;
    std::string identity; // the medium that holds the volume, as MountInfo::identity
};

struct MountInfo
{
    // The file system: "exfat", "vfat", "ntfs", "ext4", "tmpfs", "fuse.fusefat", ... For the FUSE
    // types that do not say ("fuseblk", "fuse") it is what the source holds, or "unknown" when
    // nothing could tell. On Windows the same names: FAT32 (and FAT) is "vfat".
    std::string fsType;
    std::string mountFsType; // as the mount table gives it; on Windows as the volume names it
    std::string source;      // on Windows the volume's name, "\\?\Volume{...}\"
    // The volume's UUID where known, else empty; on Windows its serial number ("2C6E-91F0").
    std::string uuid;
    std::filesystem::path mountPoint; // on Windows the volume's root, e.g. "E:\"
    // The folder inside the volume, e.g. "/Music/Car" ("/" at the root of the volume); with
    // forward slashes on Windows too. On file systems that ignore letter case (ignoresCase()) each
    // name below the mount point is spelled as the volume stores it, so the folder opened as
    // "MUSIC/car" and as "Music/Car" has one path; a name that cannot be found is kept as typed.
    // On Windows every volume is spelled as stored.
    std::filesystem::path pathInVolume;
    // The same path as the caller spelled the folder; equal to pathInVolume where case counts.
    std::filesystem::path typedPathInVolume;
    // The medium the volume lives on, read from the system and never from the volume, so two
    // sticks written from one image (one UUID) differ and the same stick plugged in again, under
    // another device node, does not:
    //   "usb:<idVendor>:<idProduct>:<serial>"  a USB disk's own serial number
    //   "mmc:<cid>"                             an SD/MMC card in a reader on the system's bus
    //   "file:<absolute path>"                  an image file, through a loop device or given to
    //                                           the driver as it is
    // with "#<n>" after it for partition n. Empty when nothing tells: a USB disk without a serial
    // number, an encrypted volume, a fixed disk, a network share, tmpfs, Windows, or
    // VolumeProbe::MountTableOnly.
    std::string identity;
    std::uint64_t device = 0; // deviceOf() the folder
};

// How far mountOf() goes: the mount table alone answers for everything but the FUSE types that
// do not name their file system; resolving those reads the source.
enum class VolumeProbe
{
    Resolve,
    MountTableOnly
};

// The mount that holds `folder`, matched by the folder's device number. nullopt when the folder
// cannot be stat'ed. On Windows, the volume that holds it (GetVolumePathNameW and
// GetVolumeInformationW); `probe` changes nothing there.
std::optional<MountInfo> mountOf(const std::filesystem::path &folder,
                                 VolumeProbe probe = VolumeProbe::Resolve);

// Spells a path below a mount point as the volume stores it: (mount point, path below it as
// typed) -> the path below it as stored.
using SpellStored = std::function<std::filesystem::path(const std::filesystem::path &,
                                                        const std::filesystem::path &)>;

// The same from given pieces, for tests: `folder` absolute and without links, `device` its
// st_dev, `identify` asked for what a mount's source holds, `spell` for the folder's stored
// spelling on a file system that ignores case (no call: kept as typed).
MountInfo mountFromTable(const std::filesystem::path &folder, std::uint64_t device,
                         const std::vector<MountEntry> &table,
                         const std::function<VolumeId(const MountEntry &)> &identify,
                         const SpellStored &spell = {});

// True for the file systems that ignore letter case in names: FAT (kernel vfat/msdos, fusefat)
// and exFAT. Not NTFS: ntfs-3g and the kernel's ntfs3 tell "Song" from "song".
bool ignoresCase(const std::string &fsType);

// True when two names are equal ignoring letter case, as FAT and exFAT compare them: UTF-8, with
// the capitals of ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and full-width Latin folded
// to their small letters. Other scripts, letters that fold to two (German sharp s), and the
// Turkish dotted and dotless i count as they are; bytes that are not UTF-8 only equal themselves.
bool sameIgnoringCase(std::string_view a, std::string_view b);

// Linux: the identity (MountInfo::identity) of block device major:minor, read from the sysfs
// tree at `sysRoot`; empty when it tells nothing.
std::string identityFromSysfs(const std::filesystem::path &sysRoot, unsigned long major,
                              unsigned long minor);

// What the source of a mount holds: udev's record of the block device in `udevData`
// (b<major>:<minor>, ID_FS_TYPE and ID_FS_UUID) where there is one, else libblkid on the source
// when it can be read; and the identity of the device or image file. Empty when none answers.
VolumeId identifyVolume(const MountEntry &entry,
                        const std::filesystem::path &udevData = "/run/udev/data");
// The values udev keeps in one of its data files.
VolumeId parseUdevData(std::string_view text);

// True for drivers that must not run a pass: fusefat damages folders and loses files when it
// renames.
bool isUnsafeDriver(const MountInfo &info);

} // namespace korvalo
