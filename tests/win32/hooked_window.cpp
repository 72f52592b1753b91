// korvalo.exe with its passes' renames held up as the checks under Wine ask (hookedrenames.h),
// and watched through the log they read (windowlog.h).

#include "hookedrenames.h"
#include "win32/program.h"
#include "windowlog.h"

#include <memory>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    const std::unique_ptr<WindowLog> log = WindowLog::fromEnvironment();
    return win32::runWindow(instance, show, hookedRenameCalls(), log.get());
}
