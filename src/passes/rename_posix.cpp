#include "passes/rename.h"

#include <cerrno>
#include <cstdio> // RENAME_NOREPLACE (glibc >= 2.28 with _GNU_SOURCE)

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace korvalo {

namespace {

class PosixRenameCalls : public RenameSystem
{
public:
    int renameNoReplace(const char *from, const char *to) override
    {
#ifdef __linux__
        // Through syscall(), which hands ENOSYS on as it is (the C library's wrapper makes it
        // EINVAL) and also builds where the C library lacks a wrapper.
        return ::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0
                   ? 0
                   : errno;
#else
        (void)from;
        (void)to;
        return ENOSYS;
#endif
    }
    int lstat(const char *path) override
    {
        struct stat st;
        return ::lstat(path, &st) == 0 ? 0 : errno;
    }
    int rename(const char *from, const char *to) override
    {
        return ::rename(from, to) == 0 ? 0 : errno;
    }
    int makeFolder(const char *path) override
    {
        return ::mkdir(path, 0777) == 0 ? 0 : errno;
    }
    int removeFolder(const char *path) override
    {
        return ::rmdir(path) == 0 ? 0 : errno;
    }
};

} // namespace

RenameSystem &systemRenameCalls()
{
    static PosixRenameCalls calls;
    return calls;
}

RenameOutcome Renamer::renameNative(const char *from, const char *to)
{
    // What a failed call means. ENOENT while the file is still there is about the new name:
    // exfat-fuse answers so for some names it cannot store.
    const auto failed = [&](int err) {
        RenameOutcome out = renameOutcomeFromErrno(err);
        if (err == ENOENT && m_sys.lstat(from) == 0)
            out.error = RenameError::InvalidName;
        return out;
    };

    if (m_road != RenameRoad::CheckThenRename) {
        // The kernel's own no-replace rename: atomic, and the kernel checks the target before it
        // asks the file system, so EEXIST is always to be trusted.
        const int err = m_sys.renameNoReplace(from, to);
        if (err == 0) {
            m_road = RenameRoad::NoReplaceFlag;
            return {};
        }
        // Where the flag has worked already, EINVAL is the name's fault.
        if (!isNoReplaceUnsupported(err) || m_road == RenameRoad::NoReplaceFlag)
            return failed(err);
    }

    // No flag here (exfat-fuse, ntfs-3g, fusefat, NFS, old kernels): make sure nothing answers to
    // the new name, then rename. lstat goes through the file system's own lookup, so on a
    // case-insensitive file system it also sees "Song.mp3" when asked for "song.mp3".
    //
    // The race that remains: another program that creates a file of exactly the new name between
    // the lstat and the rename loses that file to the rename. Nothing on these file systems closes
    // that window short of hard links, and a hard link left behind by a pass killed between link
    // and unlink lists one song twice and blocks every later pass (ntfs-3g). Two Korvalo passes
    // never meet here: a pass holds the volume's lock.
    const int seen = m_sys.lstat(to);
    if (seen == 0)
        return renameOutcomeFromErrno(EEXIST);
    if (seen != ENOENT)
        return failed(seen);
    const int err = m_sys.rename(from, to);
    if (err != 0)
        return failed(err);
    m_road = RenameRoad::CheckThenRename;
    return {};
}

} // namespace korvalo
