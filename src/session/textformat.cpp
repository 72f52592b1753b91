#include "session/textformat.h"

#include "browse/utf8path.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace korvalo::texts {

std::string shellQuoted(const std::filesystem::path &path)
{
    const std::string s = shownPath(path);
    const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_/.,:+@%=-\\").find(c) != std::string_view::npos;
    });
    return plain ? s : platform::shellQuotedText(s);
}

std::string shortened(const std::string &s, int limit)
{
    // Each character as its bytes, with its width: bytes that are not UTF-8 count one each.
    struct Char
    {
        std::size_t begin;
        std::size_t size;
        int width;
    };
    std::vector<Char> chars;
    int total = 0;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t size = 1;
        const auto lead = static_cast<unsigned char>(s[i]);
        if (lead >= 0xC0) {
            while (i + size < s.size() &&
                   (static_cast<unsigned char>(s[i + size]) & 0xC0) == 0x80 && size < 4)
                ++size;
        }
        const int width = size > 1 ? 2 : 1;
        chars.push_back({i, size, width});
        total += width;
        i += size;
    }
    if (total <= limit)
        return s;
    // The middle goes: the start tells the name, the end its extension.
    const int half = (limit - 2) / 2;
    std::size_t head = 0;
    for (int w = 0; head < chars.size() && w + chars[head].width <= half; ++head)
        w += chars[head].width;
    std::size_t tail = chars.size();
    for (int w = 0; tail > head && w + chars[tail - 1].width <= half; --tail)
        w += chars[tail - 1].width;
    return s.substr(0, chars[head].begin) + "…" + s.substr(chars[tail].begin);
}

std::string localTime(std::int64_t secondsSince1970)
{
    const std::time_t t = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    if (!platform::localTime(t, local))
        return "?";
    char buffer[64] = {};
    std::snprintf(buffer, sizeof buffer, "%d年%d月%d日 %02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    return buffer;
}

std::string volumeText(const Volume &volume, const std::string &rootName)
{
    // A drive letter, as Windows Explorer shows it: the label, then the letter in brackets.
    const std::string &mount = volume.mountPoint;
    if (mount.size() >= 2 && mount.size() <= 3 && mount[1] == ':' &&
        ((mount[0] >= 'A' && mount[0] <= 'Z') || (mount[0] >= 'a' && mount[0] <= 'z')) &&
        (mount.size() == 2 || mount[2] == '\\' || mount[2] == '/')) {
        const std::string letter = mount.substr(0, 2);
        return volume.name.empty() ? letter : volume.name + " (" + letter + ")";
    }
    std::string name = volume.name;
    if (name.empty()) {
        if (volume.mountPoint == "/")
            name = rootName;
        else
            name = volume.mountPoint.substr(volume.mountPoint.find_last_of('/') + 1);
    }
    return name + " (" + volume.mountPoint + ")";
}

} // namespace korvalo::texts
