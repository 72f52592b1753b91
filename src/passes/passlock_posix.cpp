#include "passes/passlock.h"

#include "passes/journalfile.h"
#include "passes/statefolder.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace korvalo {

const int PassLock::kInvalidName = EINVAL;

std::filesystem::path PassLock::ruleFolder()
{
    // The runtime folder systemd-logind makes for a logged-in user, whatever XDG_RUNTIME_DIR says
    // (sudo and cron leave it unset, or set to someone else's). Without it, the state folder.
    const std::filesystem::path runtime = "/run/user/" + std::to_string(::geteuid());
    struct stat st;
    if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        return runtime / "korvalo";
    return stateFolder();
}

LockAttempt PassLock::acquire(const std::filesystem::path &fileName, std::chrono::milliseconds wait)
{
    LockAttempt attempt;
    const std::filesystem::path folder = lockFolder();
    if (folder.empty()) {
        attempt.unavailable = LockFailure{ENOENT, folder}; // no home folder to keep it in
        return attempt;
    }
    if (const int err = journalfile::makeFolder(folder)) {
        attempt.unavailable = LockFailure{err, folder};
        return attempt;
    }
    const std::filesystem::path file = folder / fileName;
    std::intptr_t handle = kNone;
    if (const int err = journalfile::openPrivateFile(file, handle)) {
        attempt.unavailable = LockFailure{err, file};
        return attempt;
    }
    const int fd = static_cast<int>(handle);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EWOULDBLOCK) {
            ::close(fd);
            attempt.unavailable = LockFailure{err, file};
            return attempt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return attempt; // busy
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    attempt.lock = PassLock(handle);
    return attempt;
}

PassLock::~PassLock()
{
    if (m_handle != kNone)
        ::close(static_cast<int>(m_handle)); // releases the flock
}

} // namespace korvalo
