// Hooks into korvalo-cli's system calls, so that a test can act at a known point of a pass however
// fast the disk is, and see what the program asked of the disk. Loaded with LD_PRELOAD; each hook
// is switched on by an environment variable:
//   KORVALO_TEST_SIGINT_AFTER=n      Ctrl-C: raises SIGINT right after the n-th rename that worked.
//   KORVALO_TEST_SIGNAL=s            raises signal number s there instead (SIGHUP: the terminal
//                                    closed, SIGTERM: the system ends the program).
//   KORVALO_TEST_DETACH=dir and KORVALO_TEST_DETACH_AFTER=n
//                                    the stick pulled out: unmounts dir lazily right after the
//                                    n-th rename that worked.
//   KORVALO_TEST_RENAME_ERRNO=e and KORVALO_TEST_RENAME_ERRNO_AFTER=n
//                                    a medium that stops answering: once n renames worked, every
//                                    renameat2, and every rename() of the music folder, fails
//                                    with error number e and renames nothing. With
//                                    KORVALO_TEST_RENAME_ERRNO_TIMES=t only the first t of them
//                                    fail (a medium that falters once).
//   KORVALO_TEST_STATE_ERRNO=e and KORVALO_TEST_STATE_ERRNO_AFTER=n
//                                    a full state folder: once n renames worked, every write to a
//                                    file in the state folder fails with error number e.
//   KORVALO_TEST_LOG=file            appends a line to the file for every write to a regular file
//                                    ("write PATH"), fsync or fdatasync ("sync PATH") and rename
//                                    that worked ("rename FROM\tTO"), in the order they are made.
// The renames counted are those of the music folder: through renameat2, which the passes call
// through syscall(), or through rename() where a FUSE driver refuses the no-replace flag. The
// journal's own renames (in the state folder) are left out. Every call goes on to the C
// library's own.

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using WriteCall = ssize_t (*)(int, const void *, size_t);

void note(const std::string &line)
{
    static const char *const file = std::getenv("KORVALO_TEST_LOG");
    if (!file)
        return;
    static const auto realWrite = real<WriteCall>("write");
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const std::string text = line + '\n';
    (void)!realWrite(fd, text.data(), text.size());
    ::close(fd);
}

std::string pathOf(int fd)
{
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("?");
}

long numberFrom(const char *variable)
{
    const char *value = std::getenv(variable);
    return value ? std::atol(value) : 0;
}

// Where the journal is kept, as the program finds it.
std::string stateHome()
{
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return state;
    const char *home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/.local/state" : std::string();
}

long musicRenames = 0; // the renames of the music folder that worked

// Whether this rename is one to fail (KORVALO_TEST_RENAME_ERRNO): sets errno when it is.
bool failRename()
{
    static const long failWith = numberFrom("KORVALO_TEST_RENAME_ERRNO");
    static const long failAfter = numberFrom("KORVALO_TEST_RENAME_ERRNO_AFTER");
    static const long times = numberFrom("KORVALO_TEST_RENAME_ERRNO_TIMES");
    static long failed = 0;
    if (failWith <= 0 || musicRenames < failAfter || (times > 0 && failed >= times))
        return false;
    ++failed;
    errno = static_cast<int>(failWith);
    return true;
}

// A rename that worked: logged, and counted when it is one of the music folder's.
void renamed(const char *from, const char *to)
{
    const int saved = errno;
    note(std::string("rename ") + from + '\t' + to);
    static const std::string state = stateHome();
    if (!state.empty() && std::strncmp(from, state.c_str(), state.size()) == 0) {
        errno = saved;
        return;
    }
    const long count = ++musicRenames;
    static const long sigintAfter = numberFrom("KORVALO_TEST_SIGINT_AFTER");
    static const long detachAfter = numberFrom("KORVALO_TEST_DETACH_AFTER");
    static const char *const detach = std::getenv("KORVALO_TEST_DETACH");
    if (detach && count == detachAfter)
        ::umount2(detach, MNT_DETACH);
    if (count == sigintAfter) {
        static const long signal = numberFrom("KORVALO_TEST_SIGNAL");
        std::raise(signal > 0 ? static_cast<int>(signal) : SIGINT);
    }
    errno = saved;
}

} // namespace

extern "C" long syscall(long number, ...)
{
    // The C library's syscall() takes up to six arguments, each passed as a long.
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long &arg : a)
        arg = va_arg(ap, long);
    va_end(ap);

    if (number == SYS_renameat2 && failRename())
        return -1;
    using Syscall = long (*)(long, ...);
    static const auto realSyscall = real<Syscall>("syscall");
    const long result = realSyscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    if (number == SYS_renameat2 && result == 0)
        renamed(reinterpret_cast<const char *>(a[1]), reinterpret_cast<const char *>(a[3]));
    return result;
}

extern "C" int rename(const char *from, const char *to)
{
    using RenameCall = int (*)(const char *, const char *);
    static const auto realRename = real<RenameCall>("rename");
    // The fallback of a driver that refuses the no-replace flag fails the same way; the
    // journal's own renames go on.
    static const std::string state = stateHome();
    if ((state.empty() || std::strncmp(from, state.c_str(), state.size()) != 0) && failRename())
        return -1;
    const int result = realRename(from, to);
    if (result == 0)
        renamed(from, to);
    return result;
}

extern "C" ssize_t write(int fd, const void *data, size_t size)
{
    static const auto realWrite = real<WriteCall>("write");
    static const long stateErrno = numberFrom("KORVALO_TEST_STATE_ERRNO");
    if (stateErrno > 0 && musicRenames >= numberFrom("KORVALO_TEST_STATE_ERRNO_AFTER")) {
        static const std::string state = stateHome();
        const int saved = errno;
        struct stat st;
        const bool file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        errno = saved;
        if (file && !state.empty() && pathOf(fd).starts_with(state)) {
            errno = static_cast<int>(stateErrno);
            return -1;
        }
    }
    const ssize_t result = realWrite(fd, data, size);
    if (std::getenv("KORVALO_TEST_LOG") && result > 0) {
        const int saved = errno;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
            note("write " + pathOf(fd));
        errno = saved;
    }
    return result;
}

namespace {

int synced(int fd, int result)
{
    if (result == 0) {
        const int saved = errno;
        note("sync " + pathOf(fd));
        errno = saved;
    }
    return result;
}

} // namespace

extern "C" int fsync(int fd)
{
    using SyncCall = int (*)(int);
    static const auto realFsync = real<SyncCall>("fsync");
    return synced(fd, realFsync(fd));
}

extern "C" int fdatasync(int fd)
{
    using SyncCall = int (*)(int);
    static const auto realFdatasync = real<SyncCall>("fdatasync");
    return synced(fd, realFdatasync(fd));
}
