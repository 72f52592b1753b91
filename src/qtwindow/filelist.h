#pragma once

#include "browse/musicfilelist.h"

#include <QAbstractListModel>
#include <QListView>

#include <filesystem>

// The music files of one folder as a list model: a copy of the session's snapshot, taken on the
// window's thread, so that a plan's worker can read the folder again while the view paints. Names
// are decoded for display only when the view asks, so a list of 100,000 names costs no more than
// the list itself.
class MusicFileModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit MusicFileModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Every row is this high, whatever script its name is in (0: the view decides).
    void setRowHeight(int height) { m_rowHeight = height; }

    // Shows a copy of the list.
    void setList(const korvalo::MusicFileList &list);
    const std::filesystem::path &folder() const { return m_list.folder(); }

    int count() const { return m_list.count(); }
    std::filesystem::path name(int index) const { return m_list.name(index); }

private:
    korvalo::MusicFileList m_list;
    int m_rowHeight = 0;
};

// The file list: the .mp3 and .flac files of one folder, as the folder session listed them. It
// changes only when the window hands it a list (it does not watch the folder).
class FileList : public QListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    // Shows the list and its folder as the path.
    void showList(const korvalo::MusicFileList &list) { m_model.setList(list); }
    const std::filesystem::path &path() const { return m_model.folder(); }

    int listCount() const { return m_model.count(); }
    // The native name at an index, 0 <= index < listCount().
    std::filesystem::path list(int index) const { return m_model.name(index); }

private:
    MusicFileModel m_model;
};
