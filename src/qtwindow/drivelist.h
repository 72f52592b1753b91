#pragma once

#include "browse/volumes.h"

#include <QComboBox>

#include <filesystem>
#include <functional>
#include <vector>

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
    // Shows the volume that holds `path` (longest mount point) without raising changed().
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
    void changed();

private:
    void onActivated(int index);
    void fill(const std::vector<korvalo::Volume> &volumes, const std::filesystem::path &keep);

    VolumeSource m_source;
    std::vector<std::filesystem::path> m_drives;
    int m_shown = -1; // the index shown before the user's latest choice
};
