#pragma once

// Texts cross into the Windows API as UTF-16: the session's texts are UTF-8.

#include "browse/widetext_windows.h"

#include <windows.h>

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

// A window's or a control's text.
inline std::string windowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return utf8(text);
}

} // namespace win32
