#pragma once

// The volumes a user thinks of as drives, picked from what the system has mounted.

#include <filesystem>
#include <string>
#include <vector>

namespace korvalo {

// One mounted file system as the system reports it.
struct Volume
{
    std::string mountPoint; // native bytes, e.g. "/media/user/MUSIC"
    std::string fsType;     // e.g. "ext4", "vfat", "cifs"
    std::string name;       // the volume's label, may be empty
};

// The volumes a user thinks of as drives: the root (always, first), home, removable media under
// /media, /run/media or /mnt, network shares and other real file systems. Pseudo file systems
// (proc, sysfs, cgroup, tmpfs, ...), overlay layers other than "/", snap images and everything
// mounted under /proc, /sys, /dev, /run (except /run/media), /boot, /snap or /etc are left out.
// A mount point listed twice appears once. The root comes first, the others sorted by mount point.
std::vector<Volume> userVolumes(const std::vector<Volume> &mounted);

// True when `path` is `folder` or lies inside it (compared by path components).
bool isInside(const std::filesystem::path &path, const std::filesystem::path &folder);

// Of `roots`, the one with the longest mount point that holds `path`; "/" when none does.
std::filesystem::path volumeRootOf(const std::filesystem::path &path,
                                   const std::vector<std::filesystem::path> &roots);

// The mounted file systems, read from the system, with their labels where udev publishes them.
std::vector<Volume> mountedVolumes();

} // namespace korvalo
