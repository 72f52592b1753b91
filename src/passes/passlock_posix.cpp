#include "passes/passlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace korvalo {

namespace {

// A folder of our own: made with mode 0700 where missing, and trusted only when it is a real
// folder (not a link) owned by this user, so nobody else can swap the lock file.
bool ownFolder(const std::filesystem::path &folder)
{
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

} // namespace

std::filesystem::path PassLock::lockFolder()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        const std::filesystem::path folder = std::filesystem::path(runtime) / "korvalo";
        if (ownFolder(folder))
            return folder;
    }
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec)
        temp = "/tmp";
    const std::filesystem::path folder = temp / ("korvalo-" + std::to_string(::geteuid()));
    return ownFolder(folder) ? folder : std::filesystem::path();
}

std::optional<PassLock> PassLock::tryAcquire(std::uint64_t device)
{
    const std::filesystem::path folder = lockFolder();
    if (folder.empty())
        return PassLock(kNone); // nowhere to keep a lock: the pass runs as it would without one
    const std::filesystem::path file = folder / ("volume-" + std::to_string(device) + ".lock");
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return PassLock(kNone);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        if (held)
            return std::nullopt;
        return PassLock(kNone);
    }
    return PassLock(fd);
}

PassLock::~PassLock()
{
    if (m_handle != kNone)
        ::close(static_cast<int>(m_handle)); // releases the flock
}

} // namespace korvalo
