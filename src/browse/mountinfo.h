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

// The system's mount table (empty where there is none).
std::vector<MountEntry> readMountTable();

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
    // nothing could tell.
    std::string fsType;
    std::string mountFsType; // as the mount table gives it
    std::string source;
    std::string uuid; // the volume's UUID where known, else empty
    std::filesystem::path mountPoint;
    // The folder inside the volume, e.g. "/Music/Car" ("/" at the root of the volume).
    std::filesystem::path pathInVolume;
    std::uint64_t device = 0; // st_dev of the folder
};

// How far mountOf() goes: the mount table alone answers for everything but the FUSE types that
// do not name their file system; resolving those reads the source.
enum class VolumeProbe
{
    Resolve,
    MountTableOnly
};

// The mount that holds `folder`, matched by the folder's device number. nullopt when the folder
// cannot be stat'ed.
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
