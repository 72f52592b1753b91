#include "cli/widemain_windows.h"

int wmain(int argc, wchar_t *argv[])
{
    return korvalo::cli::runWide(argc, argv);
}
