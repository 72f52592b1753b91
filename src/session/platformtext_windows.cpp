#include "session/platformtext.h"

namespace korvalo::texts::platform {

std::string utf8(const std::filesystem::path &path)
{
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

bool localTime(std::time_t t, std::tm &out)
{
    return localtime_s(&out, &t) == 0;
}

std::string shellQuotedText(const std::string &s)
{
    // cmd.exe and PowerShell both take a double-quoted path; a path holds no double quote.
    return '"' + s + '"';
}

} // namespace korvalo::texts::platform
