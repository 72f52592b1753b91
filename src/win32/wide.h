#pragma once

// Texts cross into the Windows API as UTF-16: the session's texts are UTF-8.

#include <string>
#include <string_view>

namespace win32 {

std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view text);

} // namespace win32
