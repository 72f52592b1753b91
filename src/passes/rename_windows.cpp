#include "passes/rename.h"

#include <windows.h>

namespace korvalo {

namespace {

int lastError()
{
    return static_cast<int>(::GetLastError());
}

class WindowsRenameCalls : public RenameSystem
{
public:
    // Without MOVEFILE_REPLACE_EXISTING, MoveFileExW() never replaces a file: the file system
    // checks for the new name and renames in one step, whatever the drive (NTFS, FAT32, exFAT).
    // Without MOVEFILE_COPY_ALLOWED it never copies either.
    int renameNoReplace(const wchar_t *from, const wchar_t *to) override
    {
        return ::MoveFileExW(from, to, 0) ? 0 : lastError();
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
