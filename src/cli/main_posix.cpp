#include "cli/cli.h"
#include "cli/terminal.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    korvalo::cli::Console console{std::cin, std::cout, std::cerr};
    korvalo::cli::attachTerminal(console);
    return korvalo::cli::run(std::vector<std::string>(argv + 1, argv + argc), console);
}
