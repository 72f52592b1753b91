#include "journal/journalformat.h"

namespace korvalo::journalformat {

bool leavesTheEntry(FileName::value_type c)
{
    return c == '/';
}

} // namespace korvalo::journalformat
