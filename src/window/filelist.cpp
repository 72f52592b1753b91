#include "window/filelist.h"

#include <QFile>

MusicFileModel::MusicFileModel(const korvalo::MusicFileList &list, QObject *parent)
    : QAbstractListModel(parent), m_list(list)
{
}

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
    const std::string_view name = m_list.nameView(index.row());
    return QFile::decodeName(
        QByteArray::fromRawData(name.data(), static_cast<qsizetype>(name.size())));
}

FileList::FileList(QWidget *parent) : QListView(parent), m_model(m_list), m_passList(*this)
{
    setModel(&m_model);
    setUniformItemSizes(true);
    // Room for the Chinese fallback font, which stands taller than the Latin one.
    m_model.setRowHeight(fontMetrics().height() + 4);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
}

korvalo::ListError FileList::setPath(const std::filesystem::path &path)
{
    m_model.beginChange();
    const korvalo::ListError err = m_list.setFolder(path);
    m_model.endChange();
    if (err.ok())
        emit pathChange();
    return err;
}

korvalo::ListError FileList::refresh()
{
    m_model.beginChange();
    const korvalo::ListError err = m_list.refresh();
    m_model.endChange();
    return err;
}
