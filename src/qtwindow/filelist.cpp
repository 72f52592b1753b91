#include "qtwindow/filelist.h"

#include "qtwindow/pathtext.h"

MusicFileModel::MusicFileModel(QObject *parent) : QAbstractListModel(parent) {}

int MusicFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_list.count();
}

QVariant MusicFileModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_list.count())
        return {};
    // With uniform row sizes the first row sets the height for all; a fixed height keeps the
    // rows alike whether the first name is Latin or Chinese.
    if (role == Qt::SizeHintRole && m_rowHeight > 0)
        return QSize(-1, m_rowHeight);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    return pathText(m_list.nameView(index.row()));
}

void MusicFileModel::setList(const korvalo::MusicFileList &list)
{
    beginResetModel();
    m_list = list;
    endResetModel();
}

FileList::FileList(QWidget *parent) : QListView(parent)
{
    setModel(&m_model);
    setUniformItemSizes(true);
    // Room for the Chinese fallback font, which stands taller than the Latin one.
    m_model.setRowHeight(fontMetrics().height() + 4);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
}
