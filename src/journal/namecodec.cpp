#include "journal/namecodec.h"

#include "browse/asciichars.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace korvalo::namecodec {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

template <typename Unit> bool keptAsIs(Unit u)
{
    return u > 0x20 && u < 0x7F && u != '%';
}

template <typename String> void encodeText(std::string &out, const String &text)
{
    using Unit = std::make_unsigned_t<typename String::value_type>;
    if (text.empty()) {
        out += '%';
        return;
    }
    // A pass writes names for every file: runs of plain characters are copied whole.
    if constexpr (sizeof(typename String::value_type) == 1) {
        const char *p = text.data();
        const char *const end = p + text.size();
        while (p < end) {
            const char *run = p;
            while (run < end && keptAsIs(static_cast<unsigned char>(*run)))
                ++run;
            out.append(p, static_cast<std::size_t>(run - p));
            for (p = run; p < end && !keptAsIs(static_cast<unsigned char>(*p)); ++p) {
                const auto u = static_cast<unsigned char>(*p);
                const char escaped[3] = {'%', kHex[u >> 4], kHex[u & 0xF]};
                out.append(escaped, 3);
            }
        }
        return;
    }
    for (const auto c : text) {
        const auto u = static_cast<std::uint32_t>(static_cast<Unit>(c));
        if (keptAsIs(u)) {
            out += static_cast<char>(u);
        } else if (u <= 0xFF) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += "%u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(u >> shift) & 0xF];
        }
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

template <typename String> bool decodeText(std::string_view token, String &out)
{
    using Unit = typename String::value_type;
    out.clear();
    if (token == "%")
        return true;
    if (token.empty())
        return false;
    for (std::size_t i = 0; i < token.size();) {
        const char c = token[i];
        if constexpr (sizeof(Unit) == 1) {
            // A run of plain characters is copied whole.
            std::size_t run = i;
            while (run < token.size() && keptAsIs(static_cast<unsigned char>(token[run])))
                ++run;
            if (run > i) {
                out.append(token.data() + i, run - i);
                i = run;
                continue;
            }
        }
        if (c != '%') {
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                return false;
            out += static_cast<Unit>(c);
            ++i;
            continue;
        }
        const bool wide = i + 1 < token.size() && token[i + 1] == 'u';
        const std::size_t digits = wide ? 4 : 2;
        const std::size_t start = i + (wide ? 2 : 1);
        if (start + digits > token.size())
            return false;
        std::uint32_t u = 0;
        for (std::size_t k = start; k < start + digits; ++k) {
            const int v = hexValue(token[k]);
            if (v < 0)
                return false;
            u = (u << 4) | static_cast<std::uint32_t>(v);
        }
        if (wide && (sizeof(Unit) < 2 || u <= 0xFF))
            return false;
        out += static_cast<Unit>(u);
        i = start + digits;
    }
    return true;
}

} // namespace

void encodeTo(std::string &out, std::string_view text)
{
    encodeText(out, text);
}

void encodeTo(std::string &out, std::wstring_view text)
{
    encodeText(out, text);
}

bool decode(std::string_view token, std::string &out)
{
    return decodeText(token, out);
}

bool decode(std::string_view token, std::wstring &out)
{
    return decodeText(token, out);
}

template <typename String>
void encodeNewNameTo(std::string &out, const String &from, const String &to)
{
    constexpr std::size_t kDigits = 4;
    if (to == from) {
        out += "%=";
    } else if (to.size() == from.size() + kDigits && startsWithFourDigits(to) &&
               std::equal(from.begin(), from.end(), to.begin() + kDigits)) {
        out += "%+";
        for (std::size_t i = 0; i < kDigits; ++i)
            out += static_cast<char>(to[i]);
    } else if (from.size() == to.size() + kDigits && startsWithFourDigits(from) &&
               std::equal(to.begin(), to.end(), from.begin() + kDigits)) {
        out += "%-";
    } else {
        encodeText(out, to);
    }
}

template <typename String>
bool decodeNewName(std::string_view token, const String &from, String &to)
{
    constexpr std::size_t kDigits = 4;
    if (token == "%=") {
        to = from;
        return true;
    }
    if (token == "%-") {
        if (!startsWithFourDigits(from))
            return false;
        to = from.substr(kDigits);
        return true;
    }
    if (token.starts_with("%+")) {
        const std::string_view digits = token.substr(2);
        if (digits.size() != kDigits || !startsWithFourDigits(digits))
            return false;
        to.assign(digits.begin(), digits.end());
        to += from;
        return true;
    }
    return decodeText(token, to);
}

template void encodeNewNameTo(std::string &, const std::string &, const std::string &);
template void encodeNewNameTo(std::string &, const std::wstring &, const std::wstring &);
template bool decodeNewName(std::string_view, const std::string &, std::string &);
template bool decodeNewName(std::string_view, const std::wstring &, std::wstring &);

} // namespace korvalo::namecodec
