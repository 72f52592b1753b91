#include "cli/utf8.h"

#include "browse/utf8path.h"

namespace korvalo::cli {

std::size_t completeUtf8Length(std::string_view bytes)
{
    // A sequence is at most four bytes long: only the last three can start an unfinished one.
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const std::size_t length = byte >= 0xF0 && byte <= 0xF4   ? 4
                                   : byte >= 0xE0 && byte <= 0xEF ? 3
                                   : byte >= 0xC2 && byte <= 0xDF ? 2
                                                                  : 1;
        return length > back ? size - back : size;
    }
    return size;
}

std::filesystem::path pathFromUtf8(const std::string &text)
{
    return korvalo::pathFromUtf8(text);
}

} // namespace korvalo::cli
