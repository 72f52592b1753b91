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

// The system's mount table (empty where there is none, as on Windows).
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
    // forward slashes on Windows too.
    std::filesystem::path pathInVolume;
    std::uint64_t device = 0; // deviceOf() the folder
    std::string identity; // the stick's own identity (USB serial, loop backing file); empty when
                          // none can be read
    std::filesystem::path typedPathInVolume; // the folder's path inside the volume as the caller
                                             // typed it (pathInVolume is as the stick stores it)
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

// The same from given pieces, for tests: `folder` absolute and without links, `device` its
// st_dev, `identify` asked for what a mount's source holds.
MountInfo mountFromTable(const std::filesystem::path &folder, std::uint64_t device,
                         const std::vector<MountEntry> &table,
                         const std::function<VolumeId(const MountEntry &)> &identify);

// What the source of a mount holds: udev's record of the block device in `udevData`
// (b<major>:<minor>, ID_FS_TYPE and ID_FS_UUID) where there is one, else libblkid on the source
// when it can be read. Empty when neither answers.
VolumeId identifyVolume(const MountEntry &entry,
                        const std::filesystem::path &udevData = "/run/udev/data");
// The values udev keeps in one of its data files.
VolumeId parseUdevData(std::string_view text);

// True for drivers that must not run a pass: fusefat damages folders and loses files when it
// renames.
bool isUnsafeDriver(const MountInfo &info);

} // namespace korvalo
