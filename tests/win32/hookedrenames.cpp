#include "hookedrenames.h"

#include <windows.h>

#include <cstdlib>

namespace {

long numberFrom(const wchar_t *name)
{
    const wchar_t *value = ::_wgetenv(name);
    return value ? std::wcstol(value, nullptr, 10) : 0L;
}

class HookedRenameCalls : public korvalo::RenameSystem
{
public:
    int renameNoReplace(const Char *from, const Char *to) override
    {
        const int err = m_system.renameNoReplace(from, to);
        if (err != 0)
            return err;
        if (m_delay > 0)
            ::Sleep(static_cast<DWORD>(m_delay));
        if (m_killAfter > 0 && ++m_renamed >= m_killAfter)
            ::TerminateProcess(::GetCurrentProcess(), 137);
        return 0;
    }
    int lstat(const Char *path) override { return m_system.lstat(path); }
    int rename(const Char *from, const Char *to) override { return m_system.rename(from, to); }
    int makeFolder(const Char *path) override { return m_system.makeFolder(path); }
    int removeFolder(const Char *path) override { return m_system.removeFolder(path); }

private:
    korvalo::RenameSystem &m_system = korvalo::systemRenameCalls();
    const long m_killAfter = numberFrom(L"KORVALO_TEST_KILL_AFTER");
    const long m_delay = numberFrom(L"KORVALO_TEST_FILE_DELAY");
    long m_renamed = 0;
};

} // namespace

korvalo::RenameSystem &hookedRenameCalls()
{
    static HookedRenameCalls calls;
    return calls;
}
