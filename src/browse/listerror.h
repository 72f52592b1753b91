#pragma once

#include "browse/oserror.h"

namespace korvalo {

// Why a folder could not be read. The window turns these into words for the user.
struct ListError
{
    // NotFound, NotAFolder, PermissionDenied, DeviceGone, IoError or Other for a folder.
    using Kind = Cause;

    Kind kind = Kind::None;
    int osError = 0;

    bool ok() const { return kind == Kind::None; }
    static ListError fromErrno(int err) { return {causeOfErrno(err, OsAction::Listing), err}; }
    // From the error number a FolderCalls stream of the platform gives (see oserror.h).
    static ListError fromSystemError(int err)
    {
        return {causeOfSystemError(err, OsAction::Listing), err};
    }
};

} // namespace korvalo
