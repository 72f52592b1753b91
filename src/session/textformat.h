#pragma once

// How the texts show names, paths, times and drives: the rules of writing them out, apart from
// the words of the text table (texts.cpp). The platform's part is kept by file
// (textformat_posix.cpp, textformat_windows.cpp).

#include "browse/volumes.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace korvalo::texts {

// A path as a shell reads it back: quoted only when it has to be.
std::string shellQuoted(const std::filesystem::path &path);
// UTF-8 text no wider than `limit` (a Chinese character counts two, a Latin letter one): a longer
// one loses its middle to "…", so that its start and its end (a file's extension) stay.
std::string shortened(const std::string &text, int limit);
// A moment as a date and time in the user's time zone ("2024年3月5日 14:07"); "?" where it
// cannot be told.
std::string localTime(std::int64_t secondsSince1970);
// A drive as a drive list shows it: its label, else `rootName` for the root file system or the
// last name of its mount point, with the mount point (or, on Windows, its letter) in brackets.
std::string volumeText(const Volume &volume, const std::string &rootName);

namespace platform {

// The local time of `t`; false when it cannot be told.
bool localTime(std::time_t t, std::tm &out);

// A path's UTF-8 text quoted as the platform's shell reads it back (not a plain one).
std::string shellQuotedText(const std::string &s);

} // namespace platform

} // namespace korvalo::texts
