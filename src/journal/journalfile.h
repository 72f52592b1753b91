#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The few file operations on the files Korvalo keeps in the user's state and runtime folders (the
// pass journal, the lock files), one implementation per platform. Each returns 0 or the operating
// system's error number (errno, or the Windows error code).
//
// Those files are private: nothing is written or read through a link, a file is used only when it
// is a regular file of the user's own, in a folder of the user's own that nobody else may write
// to, and a new file is made under a name nobody could have put a link at. Where a check fails the
// call answers with one of the numbers below (misfitOf() tells them apart):
//
//                                   POSIX    Windows
//   a link in place of the file     ELOOP    ERROR_CANT_RESOLVE_FILENAME (any reparse point)
//   a folder in place of the file   EISDIR   336 (ERROR_DIRECTORY_NOT_SUPPORTED)
//   a pipe, device or socket        ENXIO    ERROR_BAD_FILE_TYPE
//   owned by another user, or a     EPERM    (not checked: the folder lies in the user's profile,
//   folder others may write to                whose access list keeps other users out)
//   larger than the reader allows   EFBIG    ERROR_FILE_TOO_LARGE
//
// A folder in the way of a path (a file where a folder should be) stays ENOTDIR / ERROR_DIRECTORY,
// and a file that is not there ENOENT / ERROR_FILE_NOT_FOUND.
namespace korvalo::journalfile {

// A file that lines are appended to. An append has reached the kernel when it returns, so a
// program killed right after it loses nothing; sync() makes it survive a power cut as well.
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile() { close(); }
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // Opens an existing file (made by replaceFile()); it is never created here.
    int open(const std::filesystem::path &path);
    int append(std::string_view text);
    int sync();
    void close();
    bool isOpen() const { return m_handle != kClosed; }

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t m_handle = kClosed;
};

// Creates the folder and its missing parents (mode 0700 where that can be said). The folder
// itself must then be a real folder of the user's own that no one else may write to; its parents
// may belong to anyone (/root/.local). A folder that does not qualify is refused, not repaired:
// it may already hold what someone else put there.
int makeFolder(const std::filesystem::path &folder);

enum class Lasting
{
    Now,       // the new content has replaced the old on disk when the call returns
    Eventually // a power cut soon after may bring the old content back (one sync less)
};

// Replaces the file's content as one step: writes a new file under a unique name beside it (made
// afresh, never opened through a link), syncs it and renames it over the target, so a kill or a
// power cut leaves either the old or the new content. A link at the target is replaced, not
// written through.
int replaceFile(const std::filesystem::path &target, std::string_view content, Lasting lasting);

// replaceFile() writes "<target name>.new-<random>" and renames it into place.
inline constexpr std::string_view kTemporaryMarker = ".new-";
inline constexpr std::size_t kTemporaryRandom = 10; // letters and digits

// True for the names replaceFile() writes before renaming them into place: one is left behind
// only by a program killed in between.
inline bool isTemporaryName(const std::filesystem::path &name)
{
    const std::filesystem::path::string_type text = name.filename().native();
    using Unit = std::filesystem::path::value_type;
    const std::size_t tail = kTemporaryMarker.size() + kTemporaryRandom;
    if (text.size() <= tail)
        return false;
    const std::size_t at = text.size() - tail;
    for (std::size_t i = 0; i < kTemporaryMarker.size(); ++i) {
        if (text[at + i] != static_cast<Unit>(kTemporaryMarker[i]))
            return false;
    }
    return true;
}

// Reads the whole file into `out`, when it is a private file (see above) of at most maxBytes.
// Never waits: a pipe in place of the file is refused, not read.
int readFile(const std::filesystem::path &path, std::string &out, std::uint64_t maxBytes);

// Opens the file for reading and writing, creating it (mode 0600) where missing, under the same
// checks; for lock files. `handle`: the file descriptor or the Windows HANDLE, the caller's to
// close.
int openPrivateFile(const std::filesystem::path &path, std::intptr_t &handle);

// What an error number of these calls says about the file or folder in its place.
enum class Misfit
{
    None,    // an error the system gave for another reason
    Link,    // a link (a reparse point on Windows)
    Folder,  // a folder in place of a file
    Special, // a pipe, a device or a socket
    Foreign, // owned by another user, or a folder others may write to
    TooLarge // a file far larger than any record Korvalo writes
};
Misfit misfitOf(int osError);

// Gives a file a new name in the same folder, never replacing a file there (EEXIST, on every
// platform, when `to` exists) and never following a link: a link is renamed itself.
int keepAside(const std::filesystem::path &from, const std::filesystem::path &to);

} // namespace korvalo::journalfile
