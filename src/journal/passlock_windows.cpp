#include "journal/passlock.h"

#include "journal/statefolder.h"

#include <windows.h>

namespace korvalo {

const int PassLock::kInvalidName = ERROR_INVALID_NAME;
const int PassLock::kNoFolder = ERROR_PATH_NOT_FOUND; // no profile folder

std::filesystem::path PassLock::lockFolder()
{
    // %LOCALAPPDATA% lies in the user's profile: every process of the user finds the same one.
    return stateFolder();
}

int PassLock::hold(std::intptr_t handle, std::chrono::milliseconds wait)
{
    // The file is opened shared: the lock is the byte range below, not the file, so a second
    // Korvalo opens the file and is refused the range.
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG(wait.count());
    for (;;) {
        OVERLAPPED at = {};
        if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return 0;
        const DWORD code = ::GetLastError();
        const bool held = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
        if (!held || ::GetTickCount64() >= deadline) {
            ::CloseHandle(h);
            return held ? kBusy : int(code);
        }
        ::Sleep(10);
    }
}

PassLock::~PassLock()
{
    if (m_handle != kNone)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle)); // releases the lock
}

} // namespace korvalo
