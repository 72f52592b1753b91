#pragma once

// How the journal writes a name on one line of text: printable ASCII other than "%" stays as it
// is, every other byte is "%XX" (a UTF-16 unit above 0xFF is "%uXXXX"), and an empty text is a
// lone "%". So a name never holds a blank or a line break, and reads back to the same bytes.

#include <string>
#include <string_view>

namespace korvalo::namecodec {

void encodeTo(std::string &out, std::string_view text);
void encodeTo(std::string &out, std::wstring_view text);

// False when the token is not an encoded text of this kind (a byte name cannot hold "%uXXXX").
bool decode(std::string_view token, std::string &out);
bool decode(std::string_view token, std::wstring &out);

// A planned name is most often the old one with four digits put in front (a shuffle) or taken off
// (a removal), or the old one itself (a move to store the order): such a name is written as that
// change, "%+" and the digits, "%-" or "%=", which halves what a pass writes. A name that is
// encoded never begins so.
template <typename String>
void encodeNewNameTo(std::string &out, const String &from, const String &to);
template <typename String>
bool decodeNewName(std::string_view token, const String &from, String &to);

} // namespace korvalo::namecodec
