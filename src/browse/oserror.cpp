#include "browse/oserror.h"

#include <cerrno>

namespace korvalo {

bool isDeviceGoneErrno(int err)
{
    switch (err) {
    case ENODEV:
    case ENXIO:
#ifdef ENOTCONN
    case ENOTCONN:
#endif
#ifdef ECONNABORTED
    case ECONNABORTED:
#endif
#ifdef ESTALE
    case ESTALE:
#endif
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
        return true;
    default:
        return false;
    }
}

bool isNoReplaceUnsupported(int err)
{
    return err == EINVAL || err == ENOSYS;
}

Cause causeOfErrno(int err, OsAction action)
{
    switch (err) {
    case 0:
        return Cause::None;
    case EEXIST:
    case ENOTEMPTY:
        return Cause::TargetExists;
    case ENOENT:
        return action == OsAction::Listing ? Cause::NotFound : Cause::SourceMissing;
    case ENOTDIR:
        return action == OsAction::Listing ? Cause::NotAFolder : Cause::FolderGone;
    case EACCES:
    case EPERM:
        return Cause::PermissionDenied;
    case EROFS:
        return Cause::ReadOnly;
    case ENAMETOOLONG:
        return Cause::NameTooLong;
    case EINVAL:
    case EILSEQ:
        return Cause::InvalidName;
    // A full FAT root folder has no free entry for a longer name: ENOSPC, not a bad name.
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return Cause::NoSpace;
    case EBUSY:
    case ETXTBSY:
        return Cause::Busy;
    case EIO:
        return Cause::IoError;
    default:
        return isDeviceGoneErrno(err) ? Cause::DeviceGone : Cause::Other;
    }
}

} // namespace korvalo
