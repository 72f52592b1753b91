#include "renameloop.h"
#include "benchutil.h"

#include "browse/musicfilelist.h"
#include "journal/journal.h"
#include "passes/passes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
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

double bareRenameLoop(bool shuffle, const std::filesystem::path &folder, Naming naming,
                      RenameCall call)
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
        const long done = call == RenameCall::Plain
                              ? ::renameat(dirFd, from.c_str(), dirFd, to.c_str())
                              : ::syscall(SYS_renameat2, dirFd, from.c_str(), dirFd, to.c_str(),
                                          RENAME_NOREPLACE);
        if (done != 0)
            fail("bare rename of " + name + " failed: " + std::strerror(errno));
    }
    if (naming == Naming::OpenFolder)
        ::close(dirFd);
    return watch.elapsedMs();
}

double sameRenamesLoop(bool shuffle, const std::filesystem::path &folder)
{
    const std::vector<std::string> names = snapshotNames(folder);
    std::mt19937 rng(std::random_device{}());
    const Stopwatch watch;
    const std::string base = folder.string() + "/";
    const auto renamed = [](const std::string &from, const std::string &to) {
        if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                      RENAME_NOREPLACE) != 0)
            fail("bare rename of " + from + " failed: " + std::strerror(errno));
    };
    std::vector<std::string> now;
    now.reserve(names.size());
    for (const std::string &name : names) {
        now.push_back(shuffle ? std::to_string(1000 + rng() % 9000) + name : name.substr(4));
        renamed(base + name, base + now.back());
    }
    const std::string holdLong = base + std::string(200, 'h');
    const std::string holdShort = base + "hold";
    if (::mkdir(holdLong.c_str(), 0755) != 0)
        fail("cannot make " + holdLong + ": " + std::strerror(errno));
    for (const std::string &name : now)
        renamed(base + name, holdLong + "/" + name);
    renamed(holdLong, holdShort);
    std::sort(now.begin(), now.end());
    for (const std::string &name : now)
        renamed(holdShort + "/" + name, base + name);
    if (::rmdir(holdShort.c_str()) != 0)
        fail("cannot remove " + holdShort + ": " + std::strerror(errno));
    return watch.elapsedMs();
}

namespace {

enum class CorePass
{
    Shuffle,
    ShuffleAgain,
    Removal,
    Replace
};

// Says yes to a second prefix, as --again does.
class Again : public korvalo::SafeAnswers
{
public:
    bool shuffleAgain(const std::vector<korvalo::FileName> &, int) override { return true; }
    bool shuffleOverForeign(const std::vector<korvalo::FileName> &, int) override { return true; }
};

double timedCorePass(CorePass pass, const std::filesystem::path &folder, std::size_t n,
                     const std::filesystem::path &stateFolder)
{
    korvalo::MusicFileList list;
    if (!list.setFolder(folder).ok() || static_cast<std::size_t>(list.count()) != n)
        fail("the core lists " + std::to_string(list.count()) + " files in " + folder.string() +
             ", expected " + std::to_string(n));
    korvalo::FixedFolder where(folder);
    korvalo::NullProgress progress;
    korvalo::ClockRandomSource random;
    korvalo::PassContext ctx{list, where, progress};
    Again again;
    if (pass == CorePass::ShuffleAgain)
        ctx.questions = &again;
    std::optional<korvalo::Journal> journal;
    if (!stateFolder.empty()) {
        journal.emplace(stateFolder);
        ctx.journal = &*journal;
    }

    const Stopwatch watch;
    const korvalo::PassResult result = pass == CorePass::Shuffle || pass == CorePass::ShuffleAgain
                                           ? korvalo::runShufflePass(ctx, random)
                                       : pass == CorePass::Replace
                                           ? korvalo::runReplacePass(ctx, random)
                                           : korvalo::runRemovalPass(ctx);
    const double ms = watch.elapsedMs();

    if (result.status != korvalo::PassResult::Status::Completed ||
        static_cast<std::size_t>(result.renamed) != n || !result.refreshError.ok())
        fail("the core pass did not rename every file: renamed " + std::to_string(result.renamed) +
             " of " + std::to_string(n) + ", failed at " + std::to_string(result.failedIndex) +
             " (errno " + std::to_string(result.cause.osError) + ")");
    return ms;
}

} // namespace

double corePass(bool shuffle, const std::filesystem::path &folder, std::size_t n,
                const std::filesystem::path &stateFolder)
{
    return timedCorePass(shuffle ? CorePass::Shuffle : CorePass::Removal, folder, n, stateFolder);
}

double coreReplacePass(const std::filesystem::path &folder, std::size_t n,
                       const std::filesystem::path &stateFolder)
{
    return timedCorePass(CorePass::Replace, folder, n, stateFolder);
}

double coreShuffleAgainPass(const std::filesystem::path &folder, std::size_t n,
                            const std::filesystem::path &stateFolder)
{
    return timedCorePass(CorePass::ShuffleAgain, folder, n, stateFolder);
}

} // namespace bench
