#pragma once

// Windows speaks UTF-16; the rest of Korvalo, its texts and its names, UTF-8. Invalid sequences
// come out as U+FFFD, as the system's own conversion makes them.

#include <string>
#include <string_view>

namespace korvalo {

std::wstring wideFromUtf8(std::string_view utf8);
std::string utf8FromWide(std::wstring_view wide);

} // namespace korvalo
