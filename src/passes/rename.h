#pragma once

#include "browse/oserror.h"

#include <filesystem>
#include <string>

namespace korvalo {

// Why a rename failed, from the one table of causes (oserror.h). The window turns these into
// words for the user.
using RenameError = Cause;

struct RenameOutcome
{
    RenameError error = RenameError::None;
    int osError = 0; // errno (or the Windows error code) behind the error

    bool ok() const { return error == RenameError::None; }
};

RenameOutcome renameOutcomeFromErrno(int err);
// From the error number of the platform's own calls (see causeOfSystemError()).
RenameOutcome renameOutcomeFromSystemError(int err);

// The system calls a rename is built from, so tests can make them answer as a FUSE-mounted exFAT,
// FAT or NTFS stick does, count them, or stop dead after any of them. Each takes native paths and
// returns 0 or the error number it got, as it got it (errno; on Windows the GetLastError() code):
// deciding what an answer means (ENOSYS included) is the rename's business, not this layer's.
// None creates, opens or removes a file; the only thing made or removed is the empty folder that
// the files pass through when their stored order is arranged.
class RenameSystem
{
public:
    using Char = std::filesystem::path::value_type;
    virtual ~RenameSystem() = default;
    // renameat2(RENAME_NOREPLACE); on Windows MoveFileExW() without MOVEFILE_REPLACE_EXISTING.
    virtual int renameNoReplace(const Char *from, const Char *to) = 0;
    // lstat(): 0 when something (file, folder, link, dangling or not) answers to the name.
    virtual int lstat(const Char *path) = 0;
    // Plain rename(2), which replaces an existing target.
    virtual int rename(const Char *from, const Char *to) = 0;
    // mkdir() of a new, empty folder (CreateDirectoryW() on Windows).
    virtual int makeFolder(const Char *path) = 0;
    // rmdir() of an empty folder (RemoveDirectoryW() on Windows).
    virtual int removeFolder(const Char *path) = 0;
};

// The operating system's own calls.
RenameSystem &systemRenameCalls();

// How renames are done on the file system at hand.
enum class RenameRoad
{
    Unknown,        // nothing tried yet: the no-replace flag first
    NoReplaceFlag,  // renameat2(RENAME_NOREPLACE), or MoveFileExW() on Windows: atomic, one call
    CheckThenRename // no flag: lstat() of the new name, then a plain rename()
};

// Renames files within one folder and never replaces an existing file on purpose: when a file of
// the new name exists, the rename fails with TargetExists and both files stay as they are. It
// creates, opens and removes nothing.
//
// One renamer serves one pass on one file system. Once the fallback has worked for a file, the
// rest go straight to it: a FUSE mount answers the flag with EINVAL every time, and asking again
// would cost a round trip to the driver per file. Only success teaches it, since EINVAL can also
// mean a name the file system refuses.
class Renamer
{
public:
    explicit Renamer(RenameSystem &sys = systemRenameCalls()) : m_sys(sys) {}

    RenameOutcome rename(const std::filesystem::path &from, const std::filesystem::path &to);
    // The same for full paths held as native text, as a pass forms them for every file: no path
    // object is made, since on a fast disk making them costs a noticeable share of the rename.
    RenameOutcome renameText(const std::filesystem::path::string_type &from,
                             const std::filesystem::path::string_type &to);

    RenameRoad road() const { return m_road; }

private:
    RenameOutcome renameNative(const RenameSystem::Char *from, const RenameSystem::Char *to);

    RenameSystem &m_sys;
    RenameRoad m_road = RenameRoad::Unknown;
};

// The full path of a bare name in a folder as native text, as folder / name gives it but without
// making path objects: a pass forms two for every file, and on a fast file system making path
// objects costs a noticeable share of the rename itself. The first form writes into `out`, so a
// pass that keeps one buffer per path allocates nothing after its first file.
void pathInFolder(std::filesystem::path::string_type &out, const std::filesystem::path &folder,
                  const std::filesystem::path::string_type &name);
std::filesystem::path::string_type pathInFolder(const std::filesystem::path &folder,
                                                const std::filesystem::path::string_type &name);

// One rename with a renamer of its own.
RenameOutcome renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to,
                              RenameSystem &sys = systemRenameCalls());
RenameOutcome renameNoReplaceText(const std::filesystem::path::string_type &from,
                                  const std::filesystem::path::string_type &to,
                                  RenameSystem &sys = systemRenameCalls());

} // namespace korvalo
