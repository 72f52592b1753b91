#include "win32/testhooks.h"

#include "session/foldersession.h"

#include <windows.h>

#include <cstdlib>
#include <memory>

namespace win32::testhooks {

namespace {

int numberFrom(const wchar_t *name)
{
    const wchar_t *value = ::_wgetenv(name);
    return value ? static_cast<int>(std::wcstol(value, nullptr, 10)) : 0;
}

} // namespace

void install(korvalo::session::FolderSession &session)
{
    const int exitAfter = numberFrom(L"KORVALO_TEST_EXIT_AFTER");
    const int delay = numberFrom(L"KORVALO_TEST_FILE_DELAY");
    if (exitAfter <= 0 && delay <= 0)
        return;
    // Runs on the worker after every file; a count of its own for each plan.
    auto files = std::make_shared<int>(0);
    session.setStopCheck([exitAfter, delay, files] {
        if (exitAfter > 0 && ++*files >= exitAfter)
            ::TerminateProcess(::GetCurrentProcess(), 3);
        if (delay > 0)
            ::Sleep(static_cast<DWORD>(delay));
        return false;
    });
}

} // namespace win32::testhooks
