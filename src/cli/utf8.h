#pragma once

// UTF-8 text as korvalo-cli passes it around: its arguments, its output and the names it prints
// are UTF-8 on every platform, whatever the system's own encoding.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvalo::cli {

// How much of `bytes` can be converted now: all of it but an incomplete sequence at its end,
// whose remaining bytes may come with the next write. Invalid bytes count as complete (the
// converter replaces them), so nothing is held back for ever.
std::size_t completeUtf8Length(std::string_view bytes);

// A path from UTF-8 text. A plain std::string would be read in the system's code page on Windows.
std::filesystem::path pathFromUtf8(const std::string &text);

} // namespace korvalo::cli
