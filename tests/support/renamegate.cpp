#include "renamegate.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <string>
#include <string_view>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Constant-initialized: the hook runs from the first syscall() on, before main() too.
std::atomic<bool> armed{false};
std::mutex mutex;
// Guarded by the mutex.
RenameGate *gate = nullptr;
std::string folder;
int holdAt = 0;
int renames = 0;
bool holding = false;

std::condition_variable &opened()
{
    static std::condition_variable cv;
    return cv;
}

using SyscallFunction = long (*)(long, ...);
std::atomic<SyscallFunction> realSyscall{nullptr};

} // namespace

RenameGate::RenameGate()
{
    const std::lock_guard<std::mutex> lock(mutex);
    gate = this;
}

RenameGate::~RenameGate()
{
    release();
    const std::lock_guard<std::mutex> lock(mutex);
    gate = nullptr;
}

void RenameGate::holdAfter(const std::filesystem::path &inFolder, int count)
{
    const std::lock_guard<std::mutex> lock(mutex);
    folder = inFolder.native() + '/';
    holdAt = count;
    renames = 0;
    armed = true;
}

void RenameGate::release()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        armed = false;
        holding = false;
    }
    opened().notify_all();
}

void RenameGate::renamed(const char *from)
{
    if (!armed)
        return;
    std::unique_lock<std::mutex> lock(mutex);
    if (!armed || !gate || std::string_view(from).rfind(folder, 0) != 0 || ++renames != holdAt)
        return;
    holding = true;
    // Posted under the lock: the gate cannot go away in between.
    QMetaObject::invokeMethod(gate, &RenameGate::held, Qt::QueuedConnection);
    opened().wait(lock, [] { return !holding; });
}

extern "C" long syscall(long number, ...) noexcept
{
    // The C library's syscall() takes up to six arguments, each passed as a long.
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long &arg : a)
        arg = va_arg(ap, long);
    va_end(ap);
    // No function-local static: its guard may wait through syscall() itself.
    SyscallFunction real = realSyscall.load();
    if (!real) {
        real = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
        realSyscall.store(real);
    }
    const long result = real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
    if (number == SYS_renameat2 && result == 0) {
        const int saved = errno;
        RenameGate::renamed(reinterpret_cast<const char *>(a[1]));
        errno = saved;
    }
    return result;
}
