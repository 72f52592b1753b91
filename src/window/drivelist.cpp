#include "window/drivelist.h"

#include <QFile>
#include <QSignalBlocker>
#include <QStorageInfo>

#include <algorithm>
#include <array>
#include <string_view>

namespace korvalo {

namespace {

bool isPseudoFileSystem(std::string_view type)
{
    static constexpr std::array<std::string_view, 26> pseudo = {
        "proc",        "sysfs",      "devpts",    "devtmpfs",   "tmpfs",       "ramfs",
        "mqueue",      "debugfs",    "tracefs",   "securityfs", "pstore",      "bpf",
        "fusectl",     "configfs",   "hugetlbfs", "autofs",     "binfmt_misc", "squashfs",
        "efivarfs",    "rpc_pipefs", "nsfs",      "selinuxfs",  "nfsd",        "fuse.gvfsd-fuse",
        "fuse.portal", "fuse.lxcfs"};
    if (type.starts_with("cgroup"))
        return true;
    return std::find(pseudo.begin(), pseudo.end(), type) != pseudo.end();
}

// Folders whose mounts are the system's own business, not the user's.
bool isSystemMountPoint(const std::filesystem::path &mount)
{
    static const std::array<std::filesystem::path, 9> system = {
        "/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var/snap", "/var/lib/snapd", "/etc"};
    if (isInside(mount, "/run/media"))
        return false;
    return std::any_of(system.begin(), system.end(),
                       [&](const std::filesystem::path &s) { return isInside(mount, s); });
}

} // namespace

bool isInside(const std::filesystem::path &path, const std::filesystem::path &folder)
{
    auto p = path.begin();
    for (const auto &f : folder) {
        if (f.empty()) // a trailing separator
            continue;
        if (p == path.end() || *p != f)
            return false;
        ++p;
    }
    return true;
}

std::vector<Volume> userVolumes(const std::vector<Volume> &mounted)
{
    std::vector<Volume> out;
    bool haveRoot = false;
    for (const Volume &v : mounted) {
        const std::filesystem::path mount(v.mountPoint);
        if (v.mountPoint.empty() || mount.is_relative())
            continue;
        const bool root = mount == "/";
        if (!root) {
            if (isPseudoFileSystem(v.fsType) || v.fsType == "overlay" || isSystemMountPoint(mount))
                continue;
        }
        haveRoot = haveRoot || root;
        // A later mount on the same folder hides the earlier one.
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const Volume &o) { return o.mountPoint == v.mountPoint; });
        if (same != out.end())
            *same = v;
        else
            out.push_back(v);
    }
    if (!haveRoot)
        out.push_back({"/", "", ""});
    std::sort(out.begin(), out.end(), [](const Volume &a, const Volume &b) {
        const bool aRoot = a.mountPoint == "/";
        const bool bRoot = b.mountPoint == "/";
        if (aRoot != bRoot)
            return aRoot;
        return a.mountPoint < b.mountPoint;
    });
    return out;
}

std::string volumeText(const Volume &volume)
{
    std::string name = volume.name;
    if (name.empty()) {
        if (volume.mountPoint == "/")
            name = "根目录";
        else
            name = std::filesystem::path(volume.mountPoint).filename().native();
    }
    return name + " (" + volume.mountPoint + ")";
}

std::filesystem::path volumeRootOf(const std::filesystem::path &path,
                                   const std::vector<std::filesystem::path> &roots)
{
    std::filesystem::path best = "/";
    std::size_t bestDepth = 0;
    for (const auto &root : roots) {
        if (!isInside(path, root))
            continue;
        const std::size_t depth = std::distance(root.begin(), root.end());
        if (depth > bestDepth) {
            best = root;
            bestDepth = depth;
        }
    }
    return best;
}

std::vector<Volume> mountedVolumes()
{
    std::vector<Volume> out;
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : volumes) {
        if (!info.isValid() || !info.isReady())
            continue;
        out.push_back({QFile::encodeName(info.rootPath()).toStdString(),
                       info.fileSystemType().toStdString(), info.name().toStdString()});
    }
    return out;
}

} // namespace korvalo

DriveList::DriveList(QWidget *parent) : QComboBox(parent), m_source(&korvalo::mountedVolumes)
{
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(this, &QComboBox::activated, this, &DriveList::onActivated);
    refreshVolumes();
}

std::filesystem::path DriveList::drive() const
{
    const int index = currentIndex();
    if (index < 0 || index >= static_cast<int>(m_drives.size()))
        return "/";
    return m_drives[static_cast<std::size_t>(index)];
}

std::filesystem::path DriveList::volumeRootOf(const std::filesystem::path &path) const
{
    return korvalo::volumeRootOf(path, m_drives);
}

void DriveList::setDrive(const std::filesystem::path &path)
{
    const std::filesystem::path root = volumeRootOf(path);
    const auto it = std::find(m_drives.begin(), m_drives.end(), root);
    if (it == m_drives.end())
        return;
    const QSignalBlocker blocker(this);
    m_shown = static_cast<int>(it - m_drives.begin());
    setCurrentIndex(m_shown);
}

void DriveList::setVolumeSource(VolumeSource source)
{
    m_source = std::move(source);
    refreshVolumes();
}

void DriveList::refreshVolumes()
{
    fill(korvalo::userVolumes(m_source()), m_shown >= 0 ? drive() : std::filesystem::path());
}

void DriveList::fill(const std::vector<korvalo::Volume> &volumes, const std::filesystem::path &keep)
{
    std::vector<korvalo::Volume> list = volumes;
    if (!keep.empty() && std::none_of(list.begin(), list.end(), [&](const korvalo::Volume &v) {
            return std::filesystem::path(v.mountPoint) == keep;
        }))
        list.push_back({keep.native(), "", ""});

    const QSignalBlocker blocker(this);
    clear();
    m_drives.clear();
    m_shown = -1;
    for (const korvalo::Volume &v : list) {
        m_drives.emplace_back(v.mountPoint);
        addItem(QFile::decodeName(QByteArray::fromStdString(korvalo::volumeText(v))));
        setItemData(count() - 1, QFile::decodeName(QByteArray::fromStdString(v.mountPoint)),
                    Qt::ToolTipRole);
    }
    const auto it =
        keep.empty() ? m_drives.end() : std::find(m_drives.begin(), m_drives.end(), keep);
    m_shown = it == m_drives.end() ? (m_drives.empty() ? -1 : 0) : int(it - m_drives.begin());
    setCurrentIndex(m_shown);
}

void DriveList::showPopup()
{
    refreshVolumes();
    QComboBox::showPopup();
}

void DriveList::onActivated(int index)
{
    if (index == m_shown)
        return;
    m_shown = index;
    emit change();
}
