#include "passes/journalfile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace korvalo::journalfile {

namespace {

int writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

// A rename is lasting only once the folder that holds the names is synced too.
int syncFolder(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

} // namespace

int AppendFile::open(const std::filesystem::path &path)
{
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    m_handle = fd;
    return 0;
}

int AppendFile::append(std::string_view text)
{
    if (!isOpen())
        return EBADF;
    return writeAll(static_cast<int>(m_handle), text);
}

int AppendFile::sync()
{
    if (!isOpen())
        return EBADF;
    return ::fdatasync(static_cast<int>(m_handle)) == 0 ? 0 : errno;
}

void AppendFile::close()
{
    if (isOpen())
        ::close(static_cast<int>(m_handle));
    m_handle = kClosed;
}

int makeFolder(const std::filesystem::path &folder)
{
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec))
        return 0;
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (const int err = makeFolder(folder.parent_path()))
            return err;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    return std::filesystem::is_directory(folder, ec) ? 0 : ENOTDIR;
}

int replaceFile(const std::filesystem::path &target, std::string_view content, Lasting lasting)
{
    std::filesystem::path temp = target;
    temp += ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int err = writeAll(fd, content);
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return err;
    }
    return lasting == Lasting::Now ? syncFolder(target.parent_path()) : 0;
}

int keepAside(const std::filesystem::path &from, const std::filesystem::path &to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the no-replace rename: a second link, which fails on a name that is
    // taken, then the old one goes.
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) != 0)
        return errno;
    return ::unlink(from.c_str()) == 0 ? 0 : errno;
}

} // namespace korvalo::journalfile
