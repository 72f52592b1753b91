#pragma once

// Paths from and to the UTF-8 text Korvalo keeps its names, records and texts in. A path built from
// a plain std::string is read in the system's code page on Windows (a Chinese folder name turns
// into other characters there), so every std::string that becomes a path goes through here.

#include <filesystem>
#include <string>
#include <string_view>

namespace korvalo {

std::filesystem::path pathFromUtf8(std::string_view text);
std::string utf8Text(const std::filesystem::path &path);
// As a user reads it: with the system's own separators ("R:\音乐" on Windows).
std::string shownPath(const std::filesystem::path &path);

} // namespace korvalo
