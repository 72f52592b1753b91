#pragma once

#include <string_view>

namespace korvalo {

// Orders names as a file manager shows them: letter case is ignored (ASCII letters) and runs of
// digits are compared by their value, so "track2" comes before "Track10". Names that compare equal
// that way are ordered by their bytes, so the order is total and deterministic.
// Returns <0, 0 or >0.
int naturalCompare(std::string_view a, std::string_view b);

inline bool naturalLess(std::string_view a, std::string_view b)
{
    return naturalCompare(a, b) < 0;
}

} // namespace korvalo
