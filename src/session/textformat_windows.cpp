#include "session/textformat.h"

namespace korvalo::texts::platform {

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
