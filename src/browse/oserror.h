#pragma once

namespace korvalo {

// Why listing a folder or renaming a file failed, one value per cause the user can act on. Both
// the listing (ListError) and the rename (RenameOutcome) speak in these; the window has one text
// for each.
enum class Cause
{
    None,
    TargetExists,     // a file of the new name exists already; nothing was changed
    SourceMissing,    // the file to rename is not there (any more), though its folder is
    FolderGone,       // the folder itself was moved or deleted; the medium is still there
    NotFound,         // the folder to read does not exist (any more)
    NotAFolder,       // the path names a file, not a folder
    PermissionDenied, // no right to read the folder or change names in it
    ReadOnly,         // the file system is mounted read-only
    NameTooLong,      // the new name is longer than the file system allows
    InvalidName,      // the file system refuses a character of the new name
    NoSpace,          // the folder or device is full
    Busy,             // the file is in use
    IoError,          // the device reported an error
    DeviceGone,       // the medium was removed or the mount went away
    Other             // anything else; the errno is kept beside it
};

// What was being done when the system answered: the same errno means different things for a
// folder being read and for a file being renamed (ENOENT: the folder, or the file).
enum class OsAction
{
    Listing,
    Renaming
};

// The one table from an errno to a cause, for listing and renaming alike.
Cause causeOfErrno(int err, OsAction action);

// The same for the operating system's own error number, as the calls of the platform files
// return it: the errno on POSIX systems (causeOfErrno), the GetLastError() code on Windows.
Cause causeOfSystemError(int err, OsAction action);

// True for the answers that mean the medium went away under a call: the device was removed, the
// network share or the FUSE daemon that served the mount is gone (also mid-call), the medium was
// taken out of its drive.
bool isDeviceGoneErrno(int err);

// True when renameat2() says it cannot honour RENAME_NOREPLACE here: EINVAL from a file system
// without the flag (FUSE drivers, NFS), ENOSYS from a kernel without the call. EINVAL can also
// mean a name the file system refuses; the fallback then fails too and says so.
bool isNoReplaceUnsupported(int err);

} // namespace korvalo
