#pragma once

// What the texts need of the platform, one file per platform (platformtext_*.cpp).

#include <ctime>
#include <string>

namespace korvalo::texts::platform {

// The local time of `t`; false when it cannot be told.
bool localTime(std::time_t t, std::tm &out);

// A path's UTF-8 text quoted as the platform's shell reads it back (not a plain one).
std::string shellQuotedText(const std::string &s);

} // namespace korvalo::texts::platform
