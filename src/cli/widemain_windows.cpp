#include "cli/widemain_windows.h"

#include "cli/cli.h"
#include "cli/console_windows.h"
#include "cli/terminal.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace korvalo::cli {

// Wide arguments (built with -municode): a folder's name reaches the program whole whatever the
// system's code page, and goes on as UTF-8 like every other text of the program.
int runWide(int argc, wchar_t *argv[], RenameSystem &renameCalls)
{
    ConsoleOutput outBuffer(STD_OUTPUT_HANDLE);
    ConsoleOutput errBuffer(STD_ERROR_HANDLE);
    ConsoleInput inBuffer(STD_INPUT_HANDLE);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);
    std::istream in(&inBuffer);

    Console console{in, out, err};
    attachTerminal(console);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(utf8FromWide(argv[i]));
    const int status = run(args, console, renameCalls);
    err.flush();
    out.flush();
    return status;
}

} // namespace korvalo::cli
