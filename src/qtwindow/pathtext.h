#pragma once

#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

// A path or name held as the file system's bytes, as text on the screen. Bytes that are not valid
// in the system's encoding are shown as replacement characters; the path itself keeps them, so a
// file with such a name can still be opened and renamed.
QString pathText(std::string_view native);

inline QString pathText(const std::filesystem::path &path)
{
    return pathText(std::string_view(path.native()));
}

inline QString pathText(const std::string &native)
{
    return pathText(std::string_view(native));
}
