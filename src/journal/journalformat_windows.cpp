#include "journal/journalformat.h"

namespace korvalo::journalformat {

bool leavesTheEntry(FileName::value_type c)
{
    // "C:x" would name a place on another drive, and "x:y" a stream of a file.
    return c == L'/' || c == L'\\' || c == L':';
}

} // namespace korvalo::journalformat
