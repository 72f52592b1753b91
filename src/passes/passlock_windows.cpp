#include "passes/passlock.h"
#include "passes/statefolder.h"

#include <windows.h>

#include <string>
#include <system_error>

namespace korvalo {

namespace {

// Both places are the user's own: %LOCALAPPDATA% and the temp folder lie in the user's profile.
bool madeFolder(const std::filesystem::path &folder)
{
    if (folder.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

} // namespace

std::filesystem::path PassLock::lockFolder()
{
    if (const std::filesystem::path state = stateFolder(); madeFolder(state))
        return state;
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec)
        return {};
    const std::filesystem::path folder = temp / L"Korvalo";
    return madeFolder(folder) ? folder : std::filesystem::path();
}

std::optional<PassLock> PassLock::tryAcquire(std::uint64_t device)
{
    const std::filesystem::path folder = lockFolder();
    if (folder.empty())
        return PassLock(kNone); // nowhere to keep a lock: the pass runs as it would without one
    const std::filesystem::path file = folder / (L"volume-" + std::to_wstring(device) + L".lock");
    // Shared opening: the lock is the byte range below, not the file, so a second Korvalo opens
    // the file and is refused the range.
    const HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return PassLock(kNone);
    OVERLAPPED at = {};
    if (!::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(handle);
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
            return std::nullopt;
        return PassLock(kNone);
    }
    return PassLock(reinterpret_cast<std::intptr_t>(handle));
}

PassLock::~PassLock()
{
    if (m_handle != kNone)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle)); // releases the lock
}

} // namespace korvalo
