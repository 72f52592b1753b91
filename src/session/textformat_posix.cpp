#include "session/textformat.h"

namespace korvalo::texts::platform {

bool localTime(std::time_t t, std::tm &out)
{
    return localtime_r(&t, &out) != nullptr;
}

std::string shellQuotedText(const std::string &s)
{
    std::string out = "'";
    for (const char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace korvalo::texts::platform
