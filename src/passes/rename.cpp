#include "rename.h"
#include "../browse/listerror.h"

#include <cerrno>
#include <cstdio> // RENAME_NOREPLACE (glibc >= 2.28 with _GNU_SOURCE)

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#endif

namespace korvalo {

int RenameSystem::probeNewName(const std::filesystem::path &)
{
    return 0;
}

int RenameSystem::renameNoReplaceText(const std::filesystem::path::value_type *from,
                                      const std::filesystem::path::value_type *to)
{
    return renameNoReplace(std::filesystem::path(from), std::filesystem::path(to));
}

RenameOutcome renameOutcomeFromErrno(int err)
{
    RenameOutcome out;
    out.osError = err;
    switch (err) {
    case 0:
        out.error = RenameError::None;
        break;
    case EEXIST:
    case ENOTEMPTY:
        out.error = RenameError::TargetExists;
        break;
    case ENOENT:
        out.error = RenameError::SourceMissing;
        break;
    case EACCES:
    case EPERM:
        out.error = RenameError::PermissionDenied;
        break;
    case EROFS:
        out.error = RenameError::ReadOnly;
        break;
    case ENAMETOOLONG:
        out.error = RenameError::NameTooLong;
        break;
    case EINVAL:
    case EILSEQ:
        out.error = RenameError::InvalidName;
        break;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        out.error = RenameError::NoSpace;
        break;
    case EBUSY:
    case ETXTBSY:
        out.error = RenameError::Busy;
        break;
    case EIO:
        out.error = RenameError::IoError;
        break;
    default:
        out.error = isDeviceGoneErrno(err) ? RenameError::DeviceGone : RenameError::Other;
        break;
    }
    return out;
}

#ifdef _WIN32

namespace {

RenameOutcome fromWindowsError(DWORD code)
{
    RenameOutcome out;
    out.osError = static_cast<int>(code);
    switch (code) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        out.error = RenameError::TargetExists;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        out.error = RenameError::SourceMissing;
        break;
    case ERROR_ACCESS_DENIED:
        out.error = RenameError::PermissionDenied;
        break;
    case ERROR_WRITE_PROTECT:
        out.error = RenameError::ReadOnly;
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        out.error = RenameError::NameTooLong;
        break;
    case ERROR_INVALID_NAME:
        out.error = RenameError::InvalidName;
        break;
    case ERROR_DISK_FULL:
        out.error = RenameError::NoSpace;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        out.error = RenameError::Busy;
        break;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
        out.error = RenameError::DeviceGone;
        break;
    default:
        out.error = RenameError::Other;
        break;
    }
    return out;
}

} // namespace

RenameSystem &systemRenameCalls()
{
    // Not used on Windows: MoveFileExW without MOVEFILE_REPLACE_EXISTING never replaces.
    struct Unused : RenameSystem
    {
        int renameNoReplace(const std::filesystem::path &, const std::filesystem::path &) override
        {
            return ENOSYS;
        }
        int link(const std::filesystem::path &, const std::filesystem::path &) override
        {
            return ENOSYS;
        }
        int unlink(const std::filesystem::path &) override { return ENOSYS; }
        int lexists(const std::filesystem::path &) override { return ENOSYS; }
        int plainRename(const std::filesystem::path &, const std::filesystem::path &) override
        {
            return ENOSYS;
        }
    };
    static Unused calls;
    return calls;
}

RenameOutcome renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to,
                              RenameSystem &)
{
    if (MoveFileExW(from.c_str(), to.c_str(), 0))
        return {};
    return fromWindowsError(GetLastError());
}

RenameOutcome renameNoReplaceText(const std::filesystem::path::string_type &from,
                                  const std::filesystem::path::string_type &to, RenameSystem &)
{
    if (MoveFileExW(from.c_str(), to.c_str(), 0))
        return {};
    return fromWindowsError(GetLastError());
}

#else

namespace {

int kernelRenameNoReplace(const char *from, const char *to)
{
#ifdef __linux__
    // Called through syscall() so that it also builds where the C library lacks a wrapper.
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    return errno == ENOSYS ? EINVAL : errno;
#else
    (void)from;
    (void)to;
    return EINVAL;
#endif
}

class PosixRenameCalls : public RenameSystem
{
public:
    int renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        return kernelRenameNoReplace(from.c_str(), to.c_str());
    }
    int renameNoReplaceText(const char *from, const char *to) override
    {
        return kernelRenameNoReplace(from, to);
    }
    int link(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    int unlink(const std::filesystem::path &path) override
    {
        return ::unlink(path.c_str()) == 0 ? 0 : errno;
    }
    int lexists(const std::filesystem::path &path) override
    {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 ? 0 : errno;
    }
    int plainRename(const std::filesystem::path &from, const std::filesystem::path &to) override
    {
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    int probeNewName(const std::filesystem::path &path) override
    {
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return errno;
        ::close(fd);
        return ::unlink(path.c_str()) == 0 ? 0 : errno;
    }
};

// Answers of link() that mean the file system has no hard links (exFAT, FAT).
bool linksUnsupported(int err)
{
    return err == EPERM || err == ENOSYS || err == EOPNOTSUPP || err == EXDEV || err == EMLINK;
}

} // namespace

RenameSystem &systemRenameCalls()
{
    static PosixRenameCalls calls;
    return calls;
}

namespace {

RenameOutcome renameWithoutFlag(const std::filesystem::path &from, const std::filesystem::path &to,
                                RenameSystem &sys);

} // namespace

RenameOutcome renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to,
                              RenameSystem &sys)
{
    // 1. The kernel's own no-replace rename: atomic, and it checks the target before it asks the
    //    file system, so EEXIST is always to be trusted.
    const int err = sys.renameNoReplace(from, to);
    if (err != EINVAL)
        return renameOutcomeFromErrno(err);
    return renameWithoutFlag(from, to, sys);
}

RenameOutcome renameNoReplaceText(const std::string &from, const std::string &to, RenameSystem &sys)
{
    const int err = sys.renameNoReplaceText(from.c_str(), to.c_str());
    if (err != EINVAL)
        return renameOutcomeFromErrno(err);
    return renameWithoutFlag(std::filesystem::path(from), std::filesystem::path(to), sys);
}

namespace {

RenameOutcome renameWithoutFlag(const std::filesystem::path &from, const std::filesystem::path &to,
                                RenameSystem &sys)
{
    // EINVAL: the file system does not support the flag (FUSE exFAT/FAT/NTFS, NFS), or the name
    // itself is invalid there. Plain rename(2) would silently replace an existing file, so:

    // 2. Hard link to the new name (fails with EEXIST when the name is taken, atomically), then
    //    remove the old name. The content is never touched.
    const int linkErr = sys.link(from, to);
    if (linkErr == 0) {
        const int unlinkErr = sys.unlink(from);
        if (unlinkErr == 0)
            return {};
        // Could not remove the old name: take the new one away again so the file keeps exactly
        // one name, the old one, and report why.
        sys.unlink(to);
        return renameOutcomeFromErrno(unlinkErr);
    }
    if (!linksUnsupported(linkErr))
        return renameOutcomeFromErrno(linkErr);

    // 3. No hard links here: make sure nothing answers to the new name, then rename. lstat goes
    //    through the file system's own lookup, so on a case-insensitive file system it also sees
    //    "Song.mp3" when asked for "song.mp3".
    //    The race that remains: a file created under the new name by another program between the
    //    check and the rename would be replaced. Nothing on these file systems closes that window;
    //    it is as narrow as two system calls in a row.
    const int existsErr = sys.lexists(to);
    if (existsErr == 0)
        return renameOutcomeFromErrno(EEXIST);
    if (existsErr != ENOENT)
        return renameOutcomeFromErrno(existsErr);

    // 4. fusefat removes the old name before it finds that it cannot write the new one: a plain
    //    rename to a name it refuses (any character outside ASCII) answers EPERM and the file is
    //    gone. So first make sure the file system takes the new name, with an empty file created
    //    exclusively under it and removed again. A refusal there is the name's fault: EPERM from
    //    creating a file on these file systems is not a permission matter (that would be EACCES).
    const int probeErr = sys.probeNewName(to);
    if (probeErr != 0) {
        RenameOutcome out = renameOutcomeFromErrno(probeErr);
        if (probeErr == EPERM)
            out.error = RenameError::InvalidName;
        return out;
    }
    return renameOutcomeFromErrno(sys.plainRename(from, to));
}

} // namespace

#endif

} // namespace korvalo
