#include "journal/statefolder.h"

#include <cstdlib>

namespace korvalo {

std::filesystem::path stateFolder()
{
    if (const wchar_t *local = ::_wgetenv(L"LOCALAPPDATA"); local && local[0])
        return std::filesystem::path(local) / L"Korvalo";
    if (const wchar_t *profile = ::_wgetenv(L"USERPROFILE"); profile && profile[0])
        return std::filesystem::path(profile) / L"AppData" / L"Local" / L"Korvalo";
    return {};
}

} // namespace korvalo
