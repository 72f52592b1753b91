// korvalo-cli.exe with its passes' renames held up as the checks under Wine ask (hookedrenames.h).

#include "cli/widemain_windows.h"
#include "hookedrenames.h"

int wmain(int argc, wchar_t *argv[])
{
    return korvalo::cli::runWide(argc, argv, hookedRenameCalls());
}
