#pragma once

#include <filesystem>

namespace korvalo {

// A folder as the folder lists show and compare it: absolute, without "." or ".." parts and
// without a trailing separator, a root ("/", "R:\") excepted.
std::filesystem::path normalFolder(const std::filesystem::path &path);

} // namespace korvalo
