#include "journal/journalkey.h"

namespace korvalo {

JournalKey journalKey(const MountInfo &mount)
{
    JournalKey key;
    // As the volume stores it where case does not count: "MUSIC" and "Music" are one folder there.
    key.pathInVolume = mount.pathInVolume.generic_string();
    key.stick = mount.identity;
    // On a volume that ignores letter case, the folder typed in another case is the same folder;
    // records written before were keyed by the case typed.
    if (!mount.typedPathInVolume.empty() &&
        mount.typedPathInVolume.generic_string() != key.pathInVolume)
        key.typedPath = mount.typedPathInVolume.generic_string();
    if (!mount.uuid.empty()) {
        key.volume = mount.uuid;
        // While the UUID could not be read (a device only root may read, no udev), the device
        // named the volume: its records are still this folder's.
        if (mount.source.starts_with('/'))
            key.sourceVolume = mount.source;
    } else if (mount.source.starts_with('/')) {
        key.volume = mount.source;
    } else {
        // A source that names no device ("tmpfs", "none", a server's share) is shared by every
        // mount of its kind: the mount point tells them apart.
        key.volume = mount.source + '@' + mount.mountPoint.generic_string();
    }
    return key;
}

std::optional<JournalKey> journalKeyOf(const std::filesystem::path &folder)
{
    if (folder.empty())
        return std::nullopt;
    if (const auto mount = mountOf(folder))
        return journalKey(*mount);
    // No mount table to ask (or the folder cannot be stat'ed): known by its path alone.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    return JournalKey{std::string(), (ec ? folder : absolute).lexically_normal().generic_string()};
}

} // namespace korvalo
