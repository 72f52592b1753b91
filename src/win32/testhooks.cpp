#include "win32/testhooks.h"

#include "session/windowcontroller.h"

#include <windows.h>

#include <cstdlib>

namespace win32::testhooks {

namespace {

int numberFrom(const wchar_t *name)
{
    const wchar_t *value = ::_wgetenv(name);
    return value ? static_cast<int>(std::wcstol(value, nullptr, 10)) : 0;
}

} // namespace

void install(korvalo::session::WindowController &controller)
{
    const int delay = numberFrom(L"KORVALO_TEST_FILE_DELAY");
    if (delay <= 0)
        return;
    // Runs on the worker after every file.
    controller.setAfterEachFile([delay] { ::Sleep(static_cast<DWORD>(delay)); });
}

} // namespace win32::testhooks
