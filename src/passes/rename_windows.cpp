#include "passes/rename.h"

#include <cwchar>

#include <windows.h>

namespace korvalo {

namespace {

int lastError()
{
    return static_cast<int>(::GetLastError());
}

// A test hook for Windows, where no debugger or system call hook can stop a program at a known
// point of a pass (under Wine the renames happen in the wineserver). When the environment
// variable KORVALO_TEST_KILL_AFTER holds a number n > 0, the process ends at once, exit code 137,
// right after the program's n-th rename that worked: nothing is flushed, closed or recorded, so
// the journal is left as a killed program leaves it, and the recovery has to sort it out. Only the
// renames made through these calls count (those of the music folder and of the stored-order
// folder), not the journal's own. Unset, empty or 0, nothing changes.
long killAfterRenames()
{
    static const long n = [] {
        const wchar_t *value = ::_wgetenv(L"KORVALO_TEST_KILL_AFTER");
        return value ? std::wcstol(value, nullptr, 10) : 0L;
    }();
    return n;
}

void countRenameForKillHook()
{
    static long renames = 0;
    const long limit = killAfterRenames();
    if (limit > 0 && ++renames >= limit)
        ::TerminateProcess(::GetCurrentProcess(), 137);
}

class WindowsRenameCalls : public RenameSystem
{
public:
    // Without MOVEFILE_REPLACE_EXISTING, MoveFileExW() never replaces a file: the file system
    // checks for the new name and renames in one step, whatever the drive (NTFS, FAT32, exFAT).
    // Without MOVEFILE_COPY_ALLOWED it never copies either.
    int renameNoReplace(const wchar_t *from, const wchar_t *to) override
    {
        if (!::MoveFileExW(from, to, 0))
            return lastError();
        countRenameForKillHook();
        return 0;
    }
    int lstat(const wchar_t *path) override
    {
        return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ? 0 : lastError();
    }
    int rename(const wchar_t *from, const wchar_t *to) override
    {
        return ::MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : lastError();
    }
    int makeFolder(const wchar_t *path) override
    {
        return ::CreateDirectoryW(path, nullptr) ? 0 : lastError();
    }
    int removeFolder(const wchar_t *path) override
    {
        return ::RemoveDirectoryW(path) ? 0 : lastError();
    }
};

} // namespace

RenameSystem &systemRenameCalls()
{
    static WindowsRenameCalls calls;
    return calls;
}

// Windows has the no-replace rename on every file system, so there is no other road: rename()
// is never called.
RenameOutcome Renamer::renameNative(const wchar_t *from, const wchar_t *to)
{
    const int err = m_sys.renameNoReplace(from, to);
    if (err == 0) {
        m_road = RenameRoad::NoReplaceFlag;
        return {};
    }
    return renameOutcomeFromSystemError(err);
}

} // namespace korvalo
