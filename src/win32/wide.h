#pragma once

// Texts cross into the Windows API as UTF-16: the session's texts are UTF-8.

#include "browse/widetext_windows.h"

#include <string>
#include <string_view>

namespace win32 {

inline std::wstring wide(std::string_view utf8)
{
    return korvalo::wideFromUtf8(utf8);
}

inline std::string utf8(std::wstring_view text)
{
    return korvalo::utf8FromWide(text);
}

} // namespace win32
