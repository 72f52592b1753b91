#pragma once

#include "browse/musicfilelist.h"

#include <QAbstractListModel>
#include <QListView>

#include <filesystem>

// The music files of one folder as a list model. It owns the snapshot and hands it to the passes
// as their list: every read, by setFolder() or by a pass's refresh(), is wrapped in a model reset,
// so a view always shows what the passes see. Names are decoded for display only when the view
// asks, so a list of 100,000 names costs no more than the list itself.
class MusicFileModel : public QAbstractListModel, public korvalo::MusicList
{
    Q_OBJECT
public:
    explicit MusicFileModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Every row is this high, whatever script its name is in (0: the view decides).
    void setRowHeight(int height) { m_rowHeight = height; }

    // Reads the folder; when that worked it becomes the folder. On failure nothing changes.
    korvalo::ListError setFolder(const std::filesystem::path &folder);
    const std::filesystem::path &folder() const { return m_list.folder(); }

    int count() const override { return m_list.count(); }
    std::filesystem::path name(int index) const override { return m_list.name(index); }
    // Reads the current folder again; on failure the rows stay as they were.
    korvalo::ListError refresh() override;

private:
    korvalo::MusicFileList m_list;
    int m_rowHeight = 0;
};

// The file list: the .mp3 and .flac files of one folder, a snapshot that changes only when the
// folder is set or refresh() is called (it does not watch the folder).
class FileList : public QListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    // Reads the folder; when that worked it becomes the path and pathChanged() is raised (also
    // for the folder already shown, which is read again). On failure nothing changes.
    korvalo::ListError setPath(const std::filesystem::path &path);
    const std::filesystem::path &path() const { return m_model.folder(); }

    int listCount() const { return m_model.count(); }
    // The native name at an index, 0 <= index < listCount().
    std::filesystem::path list(int index) const { return m_model.name(index); }

    // Reads the current folder again, keeping the path; raises no signal. On failure the list
    // stays as it was.
    korvalo::ListError refresh() { return m_model.refresh(); }

    // The list the passes walk; its refresh() is this list's refresh(), so the view follows.
    korvalo::MusicList &musicList() { return m_model; }

signals:
    // The path was set and the new entries are in place.
    void pathChanged();

private:
    MusicFileModel m_model;
};
