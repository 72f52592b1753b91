#include "filelist.h"

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
