#pragma once

#include "browse/listerror.h"

#include <QTreeWidget>

#include <filesystem>
#include <functional>
#include <vector>

// The folder list: the current folder's ancestors from its drive's root down to the folder
// itself, shown open and indented by depth, then the folder's subfolders (hidden ones left out)
// one level deeper. Double-clicking an item, or Enter on it, makes that folder the path and
// raises changed(); a single click only selects. Paths stay native, so a folder whose name is not
// valid UTF-8 can be entered like any other.
class DirList : public QTreeWidget
{
    Q_OBJECT
public:
    enum class Notify
    {
        Yes,
        No
    };
    // Gives the root of the drive that holds a folder; the chain shown starts there.
    using RootFinder = std::function<std::filesystem::path(const std::filesystem::path &)>;

    explicit DirList(QWidget *parent = nullptr);

    // Reads the folder's subfolders and shows it; raises changed() when it worked (also when it is
    // the folder already shown, which reads it again). On failure nothing changes.
    korvalo::ListError setPath(const std::filesystem::path &path, Notify notify = Notify::Yes);
    // Shows the folder without raising changed(), even when its subfolders cannot be read (it is
    // then shown without them). For putting the list back where the file list is.
    void restorePath(const std::filesystem::path &path);
    const std::filesystem::path &path() const { return m_path; }

    // The subfolders shown below the current folder.
    int subfolderCount() const { return static_cast<int>(m_subfolders.size()); }
    std::filesystem::path subfolder(int index) const;
    // The item that stands for a folder shown in the list, or nullptr.
    QTreeWidgetItem *itemFor(const std::filesystem::path &path) const;

    void setRootFinder(RootFinder finder);

signals:
    // The path changed (by the user or by setPath()).
    void changed();
    // The user chose a folder that could not be read; the list stays as it was.
    void openFailed(const std::filesystem::path &path, korvalo::ListError error);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Every folder of the chain is shown open: no expand or collapse arrows.
    void drawBranches(QPainter *, const QRect &, const QModelIndex &) const override {}

private:
    void open(QTreeWidgetItem *item);
    void showFolder(const std::filesystem::path &path,
                    std::vector<std::filesystem::path> subfolders);
    std::filesystem::path pathOf(const QTreeWidgetItem *item) const;

    RootFinder m_rootOf;
    std::filesystem::path m_path;
    std::vector<std::filesystem::path> m_subfolders;
    std::vector<std::filesystem::path> m_itemPaths; // indexed by the items' Qt::UserRole
};
