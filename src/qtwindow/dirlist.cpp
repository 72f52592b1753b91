#include "qtwindow/dirlist.h"

#include "browse/folderpath.h"
#include "browse/musicfilelist.h"
#include "browse/volumes.h"
#include "qtwindow/pathtext.h"
#include "session/windowcontroller.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include <system_error>

using korvalo::normalFolder;

DirList::DirList(QWidget *parent)
    : QTreeWidget(parent), m_rootOf([](const std::filesystem::path &p) { return p.root_path(); })
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(10);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideRight);
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item, int) { open(item); });
}

void DirList::setRootFinder(RootFinder finder)
{
    m_rootOf = std::move(finder);
}

korvalo::ListError DirList::setPath(const std::filesystem::path &path, Notify notify)
{
    const std::filesystem::path folder = normalFolder(path);
    std::vector<std::filesystem::path> subfolders;
    const korvalo::ListError err = korvalo::listSubfolders(folder, subfolders);
    if (!err.ok())
        return err;
    showFolder(folder, std::move(subfolders));
    if (notify == Notify::Yes)
        emit changed();
    return {};
}

void DirList::restorePath(const std::filesystem::path &path)
{
    const std::filesystem::path folder = normalFolder(path);
    std::vector<std::filesystem::path> subfolders;
    if (!korvalo::listSubfolders(folder, subfolders).ok())
        subfolders.clear();
    showFolder(folder, std::move(subfolders));
}

std::filesystem::path DirList::subfolder(int index) const
{
    return m_path / m_subfolders.at(static_cast<std::size_t>(index));
}

QTreeWidgetItem *DirList::itemFor(const std::filesystem::path &path) const
{
    const std::filesystem::path wanted = normalFolder(path);
    for (QTreeWidgetItemIterator it(const_cast<DirList *>(this)); *it; ++it)
        if (pathOf(*it) == wanted)
            return *it;
    return nullptr;
}

std::filesystem::path DirList::pathOf(const QTreeWidgetItem *item) const
{
    const int index = item->data(0, Qt::UserRole).toInt();
    if (index < 0 || index >= static_cast<int>(m_itemPaths.size()))
        return {};
    return m_itemPaths[static_cast<std::size_t>(index)];
}

void DirList::showFolder(const std::filesystem::path &path,
                         std::vector<std::filesystem::path> subfolders)
{
    m_path = path;
    m_subfolders = std::move(subfolders);

    // The chain from the drive's root down to the folder.
    const std::vector<std::filesystem::path> chain =
        korvalo::session::folderChain(path, m_rootOf(path));

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    setUpdatesEnabled(false);
    clear();
    m_itemPaths.clear();
    QTreeWidgetItem *parent = nullptr;
    auto add = [&](const std::filesystem::path &folder, const QString &text, const QIcon &icon) {
        auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
        item->setText(0, text);
        item->setToolTip(0, pathText(folder));
        item->setIcon(0, icon);
        item->setData(0, Qt::UserRole, static_cast<int>(m_itemPaths.size()));
        m_itemPaths.push_back(folder);
        return item;
    };
    for (std::size_t k = 0; k < chain.size(); ++k) {
        const QString text = pathText(k == 0 ? chain[k] : chain[k].filename());
        parent = add(chain[k], text, openIcon);
    }
    QTreeWidgetItem *current = parent;
    for (const auto &name : m_subfolders)
        add(path / name, pathText(name), closedIcon);
    expandAll();
    setCurrentItem(current);
    scrollToTop();
    scrollToItem(current, QAbstractItemView::EnsureVisible);
    setUpdatesEnabled(true);
}

void DirList::open(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const std::filesystem::path folder = pathOf(item);
    if (folder.empty())
        return;
    const korvalo::ListError err = setPath(folder);
    if (!err.ok())
        emit openFailed(folder, err);
}

void DirList::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        open(currentItem());
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
