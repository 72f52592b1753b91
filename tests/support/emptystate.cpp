// Compiled into every test: each run of a test starts from an empty state folder, a folder of its
// own inside the test's XDG_STATE_HOME (set in tests/CMakeLists.txt), removed when the run ends,
// so that journals left by a run that was killed (planted links, unfinished passes) never reach
// the next one. The programs a
// test starts inherit it. Folders of runs that are gone are removed as the next run starts.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kRunPrefix = "run-";

std::string &runFolder()
{
    static std::string folder;
    return folder;
}

void removeRunFolder()
{
    std::error_code ec;
    if (!runFolder().empty())
        fs::remove_all(runFolder(), ec);
}

// The run folders under `base` whose process has ended.
void removeEndedRuns(const fs::path &base)
{
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code linkEc;
        if (name.rfind(kRunPrefix, 0) != 0 || it->is_symlink(linkEc))
            continue;
        const long pid = std::strtol(name.c_str() + kRunPrefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code removeEc;
            fs::remove_all(it->path(), removeEc);
        }
    }
}

const bool stateFolderEmptied = [] {
    const char *state = std::getenv("XDG_STATE_HOME");
    if (!state || state[0] != '/')
        return true;
    const fs::path base(state);
    // A run folder already (a program this run started, which links this file too): kept.
    if (base.filename().string().rfind(kRunPrefix, 0) == 0)
        return true;
    removeEndedRuns(base);
    const fs::path own = base / (std::string(kRunPrefix) + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(own, ec);
    if (!fs::create_directory(own, ec))
        return true;
    runFolder() = own.string();
    ::setenv("XDG_STATE_HOME", own.c_str(), 1);
    std::atexit(removeRunFolder);
    return true;
}();

} // namespace
