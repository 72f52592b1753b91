#include "qtwindow/commandline.h"

#include "session/texts.h"

#include <ostream>

std::vector<std::string> commandLineArguments(int argc, const char *const *argv)
{
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

std::optional<int> answerCommandLine(const std::vector<std::string> &args,
                                     const std::string &version, std::ostream &out)
{
    // As korvalo-cli reads them: help before the version wherever each stands, nothing after "--".
    bool help = false;
    bool showVersion = false;
    for (const std::string &arg : args) {
        if (arg == "--")
            break;
        help = help || arg == "-h" || arg == "--help";
        showVersion = showVersion || arg == "-V" || arg == "--version";
    }
    if (help)
        out << korvalo::texts::windowHelp() << '\n';
    else if (showVersion)
        out << "korvalo (Korvalo) " << version << '\n';
    else
        return std::nullopt;
    out.flush();
    return 0;
}
