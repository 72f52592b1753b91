#include "cli/cli.h"
#include "cli/console_windows.h"
#include "cli/terminal.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

// Wide arguments (built with -municode): a folder's name reaches the program whole whatever the
// system's code page, and goes on as UTF-8 like every other text of the program.
int wmain(int argc, wchar_t *argv[])
{
    korvalo::cli::ConsoleOutput outBuffer(STD_OUTPUT_HANDLE);
    korvalo::cli::ConsoleOutput errBuffer(STD_ERROR_HANDLE);
    korvalo::cli::ConsoleInput inBuffer(STD_INPUT_HANDLE);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);
    std::istream in(&inBuffer);

    korvalo::cli::Console console{in, out, err};
    korvalo::cli::attachTerminal(console);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(korvalo::cli::utf8FromWide(argv[i]));
    const int status = korvalo::cli::run(args, console);
    err.flush();
    out.flush();
    return status;
}
