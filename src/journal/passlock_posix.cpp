#include "journal/passlock.h"

#include "journal/statefolder.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace korvalo {

const int PassLock::kInvalidName = EINVAL;
const int PassLock::kNoFolder = ENOENT;

std::filesystem::path PassLock::lockFolder()
{
    // The runtime folder systemd-logind makes for a logged-in user, whatever XDG_RUNTIME_DIR says
    // (sudo and cron leave it unset, or set to someone else's). Without it, the state folder.
    const std::filesystem::path runtime = "/run/user/" + std::to_string(::geteuid());
    struct stat st;
    if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        return runtime / "korvalo";
    return stateFolder();
}

int PassLock::hold(std::intptr_t handle, std::chrono::milliseconds wait)
{
    const int fd = static_cast<int>(handle);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return err == EWOULDBLOCK ? kBusy : err;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

PassLock::~PassLock()
{
    if (m_handle != kNone)
        ::close(static_cast<int>(m_handle)); // releases the flock
}

} // namespace korvalo
