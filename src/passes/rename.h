#pragma once

#include <filesystem>

namespace korvalo {

// Why a rename failed. The window turns these into words for the user.
enum class RenameError
{
    None,
    TargetExists,     // a file of the new name exists already; nothing was changed
    SourceMissing,    // the file to rename is not there (any more)
    PermissionDenied, // no right to change names in the folder
    ReadOnly,         // the file system is mounted read-only
    NameTooLong,      // the new name is longer than the file system allows
    InvalidName,      // the file system refuses a character of the new name
    NoSpace,          // the folder or device is full
    Busy,             // the file is in use
    IoError,          // the device reported an error
    DeviceGone,       // the medium was removed or the mount went away
    Other             // anything else; osError holds the number
};

struct RenameOutcome
{
    RenameError error = RenameError::None;
    int osError = 0; // errno (or the Windows error code) behind the error

    bool ok() const { return error == RenameError::None; }
};

RenameOutcome renameOutcomeFromErrno(int err);

// The system calls the rename is built from, so tests can make them answer as a FUSE-mounted
// exFAT or FAT stick does. Each returns 0 or an errno value; none touches a file's content.
class RenameSystem
{
public:
    virtual ~RenameSystem() = default;
    virtual int renameNoReplace(const std::filesystem::path &from,
                                const std::filesystem::path &to) = 0;
    virtual int link(const std::filesystem::path &from, const std::filesystem::path &to) = 0;
    virtual int unlink(const std::filesystem::path &path) = 0;
    // 0 when something (file, folder, link, dangling or not) answers to the name, ENOENT when not.
    virtual int lexists(const std::filesystem::path &path) = 0;
    virtual int plainRename(const std::filesystem::path &from, const std::filesystem::path &to) = 0;
    // Whether the file system takes `path` as the name of a new file: creates an empty file of
    // that name exclusively and removes it again. 0 when it does, else the errno it answered
    // (EEXIST when something answers to the name). Asked only before a plain rename. The default
    // answers 0 without asking, for stand-ins that do not care.
    virtual int probeNewName(const std::filesystem::path &path);
    // The no-replace rename of step 1 for paths held as native text. The default makes paths of
    // them for renameNoReplace(); the operating system's calls pass the text on as it is.
    virtual int renameNoReplaceText(const std::filesystem::path::value_type *from,
                                    const std::filesystem::path::value_type *to);
};

// The operating system's own calls.
RenameSystem &systemRenameCalls();

// Renames a file within one folder and never replaces an existing file: when a file of the new
// name exists, the rename fails with TargetExists and both files stay as they are.
RenameOutcome renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to,
                              RenameSystem &sys = systemRenameCalls());

// The same for full paths held as native text, as a pass forms them for every file: no path
// object is made unless the file system needs the fallbacks. On a fast disk, making two path
// objects per file costs a seventh of the rename itself.
RenameOutcome renameNoReplaceText(const std::filesystem::path::string_type &from,
                                  const std::filesystem::path::string_type &to,
                                  RenameSystem &sys = systemRenameCalls());

} // namespace korvalo
