// Presses Ctrl-C at a known point of a pass, however fast the disk is: loaded into korvalo-cli
// with LD_PRELOAD, it raises SIGINT in the program right after the n-th rename that worked
// (n from KORVALO_TEST_SIGINT_AFTER). The passes call renameat2 through syscall(), so that is
// what it wraps; every call goes on to the C library's own.

#include <csignal>
#include <cstdarg>
#include <cstdlib>

#include <dlfcn.h>
#include <sys/syscall.h>

extern "C" long syscall(long number, ...)
{
    // The C library's syscall() takes up to six arguments, each passed as a long.
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long &arg : a)
        arg = va_arg(ap, long);
    va_end(ap);

    using Syscall = long (*)(long, ...);
    static const auto real = reinterpret_cast<Syscall>(dlsym(RTLD_NEXT, "syscall"));
    const long result = real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    if (number == SYS_renameat2 && result == 0) {
        static const char *const after = std::getenv("KORVALO_TEST_SIGINT_AFTER");
        static long renamed = 0;
        if (after && ++renamed == std::atol(after))
            std::raise(SIGINT);
    }
    return result;
}
