#pragma once

#include "passes/rename.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace korvalo {

// Tells a file that is gone from a folder that is gone and from a medium that is gone. All three
// make a rename answer ENOENT: when a stick is unmounted lazily in the middle of a pass (ejected by
// the desktop, or pulled out), the folder's path leads to the empty folder under the mount point;
// when the folder was moved or deleted, nothing answers to its path at all. A folder that is not
// where it was also explains any other answer: the empty folder under the mount point may refuse
// a name the stick took (ENAMETOOLONG for the long name of the ordering folder, on ext4).
class FolderGoneCheck
{
public:
    // Notes the device the folder is on now, before anything is renamed in it.
    explicit FolderGoneCheck(const std::filesystem::path &folder);
    // The same with the device noted already (deviceOf()).
    explicit FolderGoneCheck(std::optional<std::uint64_t> device) : m_device(device) {}

    const std::optional<std::uint64_t> &device() const { return m_device; }

    // The outcome of a failed rename in `folder` (or in a folder inside it): FolderGone when the
    // folder is not there but the volume is, DeviceGone when the volume is not mounted there any
    // more; else the outcome as it is, a missing folder taken as a missing file.
    RenameOutcome explain(const std::filesystem::path &folder, RenameOutcome outcome) const;

private:
    std::optional<std::uint64_t> m_device;
};

} // namespace korvalo
