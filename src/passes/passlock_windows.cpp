#include "passes/passlock.h"

#include "passes/journalfile.h"
#include "passes/statefolder.h"

#include <windows.h>

namespace korvalo {

const int PassLock::kInvalidName = ERROR_INVALID_NAME;

std::filesystem::path PassLock::ruleFolder()
{
    // %LOCALAPPDATA% lies in the user's profile: every process of the user finds the same one.
    return stateFolder();
}

LockAttempt PassLock::acquire(const std::filesystem::path &fileName, std::chrono::milliseconds wait)
{
    LockAttempt attempt;
    const std::filesystem::path folder = lockFolder();
    if (folder.empty()) {
        attempt.unavailable = LockFailure{ERROR_PATH_NOT_FOUND, folder}; // no profile folder
        return attempt;
    }
    if (const int err = journalfile::makeFolder(folder)) {
        attempt.unavailable = LockFailure{err, folder};
        return attempt;
    }
    const std::filesystem::path file = folder / fileName;
    // Shared opening: the lock is the byte range below, not the file, so a second Korvalo opens
    // the file and is refused the range.
    std::intptr_t handle = kNone;
    if (const int err = journalfile::openPrivateFile(file, handle)) {
        attempt.unavailable = LockFailure{err, file};
        return attempt;
    }
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG(wait.count());
    for (;;) {
        OVERLAPPED at = {};
        if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            break;
        const DWORD code = ::GetLastError();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            ::CloseHandle(h);
            attempt.unavailable = LockFailure{int(code), file};
            return attempt;
        }
        if (::GetTickCount64() >= deadline) {
            ::CloseHandle(h);
            return attempt; // busy
        }
        ::Sleep(10);
    }
    attempt.lock = PassLock(handle);
    return attempt;
}

PassLock::~PassLock()
{
    if (m_handle != kNone)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle)); // releases the lock
}

} // namespace korvalo
