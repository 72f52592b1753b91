#pragma once

#include <QComboBox>

#include <filesystem>
#include <functional>
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

// The text a drive selector shows for a volume: a readable name and the mount point.
std::string volumeText(const Volume &volume);

// True when `path` is `folder` or lies inside it (compared by path components).
bool isInside(const std::filesystem::path &path, const std::filesystem::path &folder);

// Of `roots`, the one with the longest mount point that holds `path`; "/" when none does.
std::filesystem::path volumeRootOf(const std::filesystem::path &path,
                                   const std::vector<std::filesystem::path> &roots);

// The mounted file systems, read from the system.
std::vector<Volume> mountedVolumes();

} // namespace korvalo

// The drive selector: the machine's volumes, each shown by name and mount point. Its value,
// drive(), is the mount point of the chosen volume, a folder the folder list accepts as its path.
class DriveList : public QComboBox
{
    Q_OBJECT
public:
    using VolumeSource = std::function<std::vector<korvalo::Volume>()>;

    explicit DriveList(QWidget *parent = nullptr);

    // The mount point of the shown volume.
    std::filesystem::path drive() const;
    // Shows the volume that holds `path` (longest mount point) without raising change().
    void setDrive(const std::filesystem::path &path);
    // The volume that holds `path`, of the volumes listed.
    std::filesystem::path volumeRootOf(const std::filesystem::path &path) const;
    // The mount points listed, in list order.
    const std::vector<std::filesystem::path> &drives() const { return m_drives; }

    // Where the volumes come from (the system's mounts unless a test says otherwise). Re-reads
    // the list at once, keeping the shown drive.
    void setVolumeSource(VolumeSource source);
    // Re-reads the volumes, keeping the shown drive (it stays listed even if it went away).
    void refreshVolumes();

    void showPopup() override;

signals:
    // The user chose another drive.
    void change();

private:
    void onActivated(int index);
    void fill(const std::vector<korvalo::Volume> &volumes, const std::filesystem::path &keep);

    VolumeSource m_source;
    std::vector<std::filesystem::path> m_drives;
    int m_shown = -1; // the index shown before the user's latest choice
};
