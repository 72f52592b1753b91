#include "journal/statefolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace korvalo {

std::filesystem::path stateFolder()
{
    // A relative XDG_STATE_HOME is invalid and must be ignored.
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/')
        return std::filesystem::path(xdg) / "korvalo";
    const char *home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const struct passwd *pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || home[0] != '/')
        return {};
    return std::filesystem::path(home) / ".local" / "state" / "korvalo";
}

} // namespace korvalo
