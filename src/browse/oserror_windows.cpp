#include "browse/oserror.h"

#include <windows.h>

namespace korvalo {

Cause causeOfSystemError(int err, OsAction action)
{
    switch (static_cast<DWORD>(err)) {
    case ERROR_SUCCESS:
        return Cause::None;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return Cause::TargetExists;
    case ERROR_FILE_NOT_FOUND:
        return action == OsAction::Listing ? Cause::NotFound : Cause::SourceMissing;
    // The folder of the path is not there: for a listing the folder asked for, for a rename the
    // folder the file was in.
    case ERROR_PATH_NOT_FOUND:
        return action == OsAction::Listing ? Cause::NotFound : Cause::FolderGone;
    case ERROR_DIRECTORY:
        return action == OsAction::Listing ? Cause::NotAFolder : Cause::FolderGone;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return Cause::PermissionDenied;
    case ERROR_WRITE_PROTECT:
        return Cause::ReadOnly;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return Cause::NameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_NO_UNICODE_TRANSLATION:
        return Cause::InvalidName;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_CANNOT_MAKE:
        return Cause::NoSpace;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return Cause::Busy;
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
        return Cause::IoError;
    // The stick was pulled out, the drive letter is gone, or the network share went away.
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_INVALID_DRIVE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_MEDIA_CHANGED:
    case ERROR_UNRECOGNIZED_VOLUME:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
        return Cause::DeviceGone;
    default:
        return Cause::Other;
    }
}

} // namespace korvalo
