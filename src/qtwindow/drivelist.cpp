#include "qtwindow/drivelist.h"

#include "qtwindow/pathtext.h"
#include "session/windowcontroller.h"

#include <QFile>
#include <QSignalBlocker>

#include <algorithm>

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
    const std::vector<korvalo::Volume> list = korvalo::session::drivesToList(volumes, keep);

    const QSignalBlocker blocker(this);
    clear();
    m_drives.clear();
    m_shown = -1;
    for (const korvalo::Volume &v : list) {
        m_drives.push_back(korvalo::pathFromUtf8(v.mountPoint));
        addItem(pathText(korvalo::texts::driveText(v)));
        setItemData(count() - 1, pathText(v.mountPoint), Qt::ToolTipRole);
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
    emit changed();
}
