#pragma once

// What korvalo does with its command line before the window opens. --help and --version are
// answered on standard output and end the program without Qt, so that they work where there is
// no display (a terminal over ssh, a package check). Every other argument is left to Qt, which
// takes its own (-platform, -style …) and ignores the rest.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// The arguments after the program's name, as main() gets them.
std::vector<std::string> commandLineArguments(int argc, const char *const *argv);

// The exit status when the arguments ask for help or the version, which have been written to
// `out`; nothing when the window is to open. `version` is the program's version.
std::optional<int> answerCommandLine(const std::vector<std::string> &args,
                                     const std::string &version, std::ostream &out);
