#include "browse/utf8path.h"

namespace korvalo {

std::filesystem::path pathFromUtf8(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8Text(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string shownPath(const std::filesystem::path &path)
{
    return utf8Text(std::filesystem::path(path).make_preferred());
}

} // namespace korvalo
