#pragma once

#include "browse/listerror.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korvalo {

// What the passes need of the list they walk: a count, the name at an index, and a re-read.
class MusicList
{
public:
    virtual ~MusicList() = default;
    virtual int count() const = 0;
    virtual std::filesystem::path name(int index) const = 0;
    // Re-reads the current folder. Returns the reason when it cannot be read; the previous
    // snapshot then stays as it was.
    virtual ListError refresh() = 0;
};

// What a folder entry is, a link taken for what it points at.
enum class EntryKind
{
    File,
    Folder,
    Other
};

// The system calls a listing is built from (opendir, readdir, stat; FindFirstFileExW on Windows),
// so tests can make a folder answer as a failing device does: a readdir that fails part-way must
// end the listing with an error, not with a shorter list.
class FolderCalls
{
public:
    class Stream
    {
    public:
        virtual ~Stream() = default;
        // The next entry's bare name, valid until the next call: true when there is one; false
        // after the last entry (err 0) or when reading failed (err the errno, or on Windows the
        // GetLastError() code).
        virtual bool next(std::string_view &name, int &err) = 0;
        // What the entry last returned by next() is (a stat where the folder does not say).
        virtual EntryKind kind() = 0;
    };
    virtual ~FolderCalls() = default;
    // The folder's entries; nullptr with err set when it cannot be opened.
    virtual std::unique_ptr<Stream> open(const std::filesystem::path &folder, int &err) = 0;
};

// The operating system's own calls. On Windows they leave out the entries with the hidden or the
// system attribute, as Explorer does, and give the names in UTF-8.
FolderCalls &systemFolderCalls();

// A bare name as a listing gives it, as a path. On Windows the listing's UTF-8 is turned back into
// the file system's UTF-16 (a path made of a std::string would read it in the ANSI code page).
std::filesystem::path pathOfName(std::string_view name);

// True for a bare name that ends in ".mp3" or ".flac", whatever the letter case.
bool isMusicFileName(std::string_view name);
// True for a name a file manager hides: it begins with ".".
bool isHiddenName(std::string_view name);

// A snapshot of the music files of one folder: the bare names of its entries that end in ".mp3"
// or ".flac" (any letter case), that are files or links to files, and are not hidden. The names
// are kept as the bytes the file system gave, in natural order (see naturalorder.h). The snapshot
// changes only when the folder is set or refreshed, never because files were renamed meanwhile.
class MusicFileList : public MusicList
{
public:
    explicit MusicFileList(FolderCalls &calls = systemFolderCalls()) : m_calls(&calls) {}

    // Reads the folder and, when that worked, makes it the current folder. On failure the
    // previous folder and snapshot stay.
    ListError setFolder(const std::filesystem::path &folder);
    const std::filesystem::path &folder() const { return m_folder; }

    int count() const override { return static_cast<int>(m_entries.size()); }
    std::filesystem::path name(int index) const override;
    // The name at an index without a copy; valid until the next read.
    std::string_view nameView(int index) const;

    // Re-reads the current folder, keeping it.
    ListError refresh() override;

private:
    struct Entry
    {
        std::uint32_t offset;
        std::uint32_t length;
    };

    ListError read(const std::filesystem::path &folder);

    FolderCalls *m_calls;
    std::filesystem::path m_folder;
    // All names back to back in one buffer; entries point into it in display order.
    std::string m_names;
    std::vector<Entry> m_entries;
};

// Subfolders of a folder (bare names, natural order, hidden ones left out), for folder browsing.
ListError listSubfolders(const std::filesystem::path &folder,
                         std::vector<std::filesystem::path> &out,
                         FolderCalls &calls = systemFolderCalls());

} // namespace korvalo
