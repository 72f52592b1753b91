#pragma once

#include "browse/musicfilelist.h"

#include <QAbstractListModel>
#include <QListView>

#include <filesystem>

// Shows the names of a music file list. Names are decoded for display only when the view asks,
// so a list of 100,000 names costs no more than the list itself.
class MusicFileModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit MusicFileModel(const korvalo::MusicFileList &list, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Every row is this high, whatever script its name is in (0: the view decides).
    void setRowHeight(int height) { m_rowHeight = height; }

    // Around every change of the list's entries.
    void beginChange() { beginResetModel(); }
    void endChange() { endResetModel(); }

private:
    const korvalo::MusicFileList &m_list;
    int m_rowHeight = 0;
};

// The file list: the .mp3 and .flac files of one folder, a snapshot that changes only when the
// folder is set or refresh() is called (it does not watch the folder).
class FileList : public QListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    // Reads the folder; when that worked it becomes the path and pathChange() is raised (also for
    // the folder already shown, which is read again). On failure nothing changes.
    korvalo::ListError setPath(const std::filesystem::path &path);
    const std::filesystem::path &path() const { return m_list.folder(); }

    int listCount() const { return m_list.count(); }
    // The native name at an index, 0 <= index < listCount().
    std::filesystem::path list(int index) const { return m_list.name(index); }

    // Reads the current folder again, keeping the path; raises no signal. On failure the list
    // stays as it was.
    korvalo::ListError refresh();

    // The list for the passes: its refresh() is this list's refresh(), so the view follows.
    korvalo::MusicList &passList() { return m_passList; }
    const korvalo::MusicFileList &musicFileList() const { return m_list; }

signals:
    // The path was set and the new entries are in place.
    void pathChange();

private:
    class PassList : public korvalo::MusicList
    {
    public:
        explicit PassList(FileList &owner) : m_owner(owner) {}
        int count() const override { return m_owner.m_list.count(); }
        std::filesystem::path name(int index) const override { return m_owner.m_list.name(index); }
        korvalo::ListError refresh() override { return m_owner.refresh(); }

    private:
        FileList &m_owner;
    };

    korvalo::MusicFileList m_list;
    MusicFileModel m_model;
    PassList m_passList;
};
