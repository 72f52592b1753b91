#include "renameloop.h"
#include "benchutil.h"

#include "browse/musicfilelist.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace bench {

std::vector<std::string> snapshotNames(const std::filesystem::path &folder)
{
    korvalo::MusicFileList list;
    if (!list.setFolder(folder).ok())
        fail("cannot list " + folder.string());
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i)
        names.emplace_back(list.nameView(i));
    return names;
}

double bareRenameLoop(bool shuffle, const std::filesystem::path &folder, Naming naming)
{
    const std::vector<std::string> names = snapshotNames(folder);
    std::mt19937 rng(std::random_device{}());
    const Stopwatch watch;
    const int dirFd = naming == Naming::OpenFolder
                          ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                          : AT_FDCWD;
    if (naming == Naming::OpenFolder && dirFd < 0)
        fail("cannot open " + folder.string());
    const std::string base = naming == Naming::OpenFolder ? std::string() : folder.string() + "/";
    std::string from;
    std::string to;
    for (const std::string &name : names) {
        from = base;
        from += name;
        to = base;
        if (shuffle) {
            to += std::to_string(1000 + rng() % 9000);
            to += name;
        } else {
            to.append(name, 4);
        }
        if (::syscall(SYS_renameat2, dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) != 0)
            fail("bare rename of " + name + " failed: " + std::strerror(errno));
    }
    if (naming == Naming::OpenFolder)
        ::close(dirFd);
    return watch.elapsedMs();
}

} // namespace bench
