#pragma once

namespace korvalo {

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
