#include "journal/journalfile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <utility>

namespace korvalo::journalfile {

namespace {

// A file descriptor closed when it goes.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

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

// A folder of the user's own that nobody else may write to: no one else can put a file or a link
// in it, nor swap one of its names.
int checkFolder(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return EPERM;
    return 0;
}

// A regular file of the user's own.
int checkFile(int fd, struct stat &st)
{
    if (::fstat(fd, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return ENXIO;
    if (st.st_uid != ::geteuid())
        return EPERM;
    return 0;
}

// Opens the folder itself, not a link in its place, and checks it. The calls below then name
// their files relative to it, so the folder cannot be swapped for another under them.
int openFolder(const std::filesystem::path &folder, Fd &out)
{
    const std::filesystem::path name = folder.empty() ? std::filesystem::path(".") : folder;
    const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        // O_DIRECTORY answers ENOTDIR for a link as well.
        struct stat st;
        if (err == ENOTDIR && ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return ELOOP;
        return err;
    }
    out.reset(fd);
    return checkFolder(fd);
}

// Opens a file in a private folder with `flags` (O_NOFOLLOW and O_NONBLOCK added: no link is
// followed and a pipe does not keep the call waiting) and checks that it is a private file.
int openInFolder(const std::filesystem::path &path, int flags, Fd &out, struct stat &st)
{
    Fd folder;
    if (const int err = openFolder(path.parent_path(), folder))
        return err;
    const int fd = ::openat(folder.get(), path.filename().c_str(),
                            flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno; // ELOOP for a link; ENXIO for a socket, or a pipe without a reader
    out.reset(fd);
    return checkFile(fd, st);
}

// Makes the missing folders above the state folder. Those may be links and anyone's.
int makeParents(const std::filesystem::path &folder)
{
    std::error_code ec;
    if (folder.empty() || std::filesystem::is_directory(folder, ec))
        return 0;
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (const int err = makeParents(folder.parent_path()))
            return err;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    return std::filesystem::is_directory(folder, ec) ? 0 : ENOTDIR;
}

// The random part of a new file's name, so that nobody can have put a link there beforehand.
std::string randomSuffix()
{
    static constexpr char kChars[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    unsigned char bytes[kTemporaryRandom];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet (early at boot): the clock and the process still make names that
        // O_EXCL then proves free.
        static unsigned counter = 0;
        auto x = static_cast<std::uint64_t>(
                     std::chrono::steady_clock::now().time_since_epoch().count()) ^
                 (static_cast<std::uint64_t>(::getpid()) << 32) ^ ++counter;
        for (unsigned char &b : bytes) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<unsigned char>(x >> 56);
        }
    }
    std::string out;
    for (const unsigned char b : bytes)
        out += kChars[b % (sizeof kChars - 1)];
    return out;
}

} // namespace

int AppendFile::open(const std::filesystem::path &path)
{
    close();
    Fd fd;
    struct stat st;
    if (const int err = openInFolder(path, O_WRONLY | O_APPEND, fd, st))
        return err;
    m_handle = fd.release();
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

int makeFolder(const std::filesystem::path &path)
{
    const std::filesystem::path folder = path.has_filename() ? path : path.parent_path();
    if (folder.empty())
        return ENOENT;
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return errno;
        if (const int err = makeParents(folder.parent_path()))
            return err;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    // Checked on what was opened, not on the name: whatever stood there a moment ago.
    Fd fd;
    return openFolder(folder, fd);
}

int replaceFile(const std::filesystem::path &target, std::string_view content, Lasting lasting)
{
    Fd folder;
    if (const int err = openFolder(target.parent_path(), folder))
        return err;
    const std::string name = target.filename().native();
    std::string temp;
    Fd file;
    // A name taken already (by a killed writer's leftover, or by chance) is drawn again.
    for (int attempt = 0; file.get() < 0; ++attempt) {
        temp = name + std::string(kTemporaryMarker) + randomSuffix();
        const int fd = ::openat(folder.get(), temp.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            file.reset(fd);
        else if (errno != EEXIST || attempt >= 100)
            return errno;
    }
    int err = writeAll(file.get(), content);
    if (!err && ::fsync(file.get()) != 0)
        err = errno;
    if (::close(file.release()) != 0 && !err)
        err = errno;
    // The rename replaces whatever has the target's name, a link included, and follows nothing.
    if (!err && ::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlinkat(folder.get(), temp.c_str(), 0);
        return err;
    }
    // A rename is lasting only once the folder that holds the names is synced too.
    if (lasting == Lasting::Now && ::fsync(folder.get()) != 0)
        return errno;
    return 0;
}

int readFile(const std::filesystem::path &path, std::string &out, std::uint64_t maxBytes)
{
    out.clear();
    Fd fd;
    struct stat st;
    if (const int err = openInFolder(path, O_RDONLY, fd, st))
        return err;
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return EFBIG;
    // One byte more than allowed is asked for: the file may have grown since fstat().
    const std::uint64_t cap = maxBytes < UINT64_MAX ? maxBytes + 1 : maxBytes;
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(cap, st.st_size + 1)));
    std::size_t used = 0;
    for (;;) {
        if (used == out.size()) {
            if (used >= cap)
                break;
            out.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(cap, used + std::max<std::size_t>(used, 1 << 16))));
        }
        const ssize_t n = ::read(fd.get(), out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            out.clear();
            return err;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    out.resize(used);
    if (used > maxBytes) {
        out.clear();
        return EFBIG;
    }
    return 0;
}

int openPrivateFile(const std::filesystem::path &path, std::intptr_t &handle)
{
    Fd fd;
    struct stat st;
    if (const int err = openInFolder(path, O_RDWR | O_CREAT, fd, st))
        return err;
    handle = fd.release();
    return 0;
}

Misfit misfitOf(int osError)
{
    switch (osError) {
    case ELOOP:
        return Misfit::Link;
    case EISDIR:
        return Misfit::Folder;
    case ENXIO:
        return Misfit::Special;
    case EPERM:
        return Misfit::Foreign;
    case EFBIG:
        return Misfit::TooLarge;
    default:
        return Misfit::None;
    }
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
