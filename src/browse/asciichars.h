#pragma once

// The character tests that names need, on the bytes (or, on Windows, the UTF-16 units) a file
// system gives: ASCII only, whatever the locale, so that a name is read the same everywhere.

namespace korvalo {

template <typename Char> constexpr bool isAsciiDigit(Char c)
{
    return c >= Char('0') && c <= Char('9');
}

// 'A'..'Z' to 'a'..'z'; every other character as it is.
template <typename Char> constexpr Char foldAsciiCase(Char c)
{
    return (c >= Char('A') && c <= Char('Z')) ? Char(c - Char('A') + Char('a')) : c;
}

// True when the first four characters of a name are digits: what an order prefix looks like.
template <typename String> bool startsWithFourDigits(const String &name)
{
    return name.size() >= 4 && isAsciiDigit(name[0]) && isAsciiDigit(name[1]) &&
           isAsciiDigit(name[2]) && isAsciiDigit(name[3]);
}

// A name the removal pass takes four digits off. The stripped name must not begin with ".":
// "1234.mp3" would become the hidden ".mp3".
template <typename String> bool isStrippable(const String &name)
{
    return startsWithFourDigits(name) && name.size() > 4 && name[4] != '.';
}

} // namespace korvalo
