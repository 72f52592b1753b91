#pragma once

namespace korvalo {

// True for the answers that mean the medium went away under a call: the device was removed, the
// network share or the FUSE daemon that served the mount is gone (also mid-call), the medium was
// taken out of its drive.
bool isDeviceGoneErrno(int err);

// Why a folder could not be read. The window turns these into words for the user.
struct ListError
{
    enum class Kind
    {
        None,
        NotFound,         // the folder does not exist (any more)
        NotAFolder,       // the path names a file
        PermissionDenied, // no right to read it
        DeviceGone,       // the medium was removed or the mount went away
        IoError,          // the device reported a read error
        Other             // anything else; osError holds the number
    };

    Kind kind = Kind::None;
    int osError = 0;

    bool ok() const { return kind == Kind::None; }
    static ListError fromErrno(int err);
};

} // namespace korvalo
