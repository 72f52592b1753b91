#pragma once

#include <cstdint>
#include <string_view>

namespace korvalo {

// Orders names as a file manager shows them: letter case is ignored (ASCII letters) and runs of
// digits are compared by their value, so "track2" comes before "Track10". Names that compare equal
// that way are ordered by their bytes, so the order is total and deterministic.
//
// One exception, so that the list shows the order a player plays after a shuffle: when a name
// begins with a run of more than four digits whose first digit is not 0, its first four digits are
// a run of their own and the rest of the run is the next one. "291501 - Intro.mp3" (order prefix
// 2915 in front of the name's own "01") compares as 2915, then 01, so it comes before
// "3000 - Outro.mp3" and not after every other prefixed name. Names that begin with four digits
// or fewer, or with 0, are not affected. Unprefixed names that begin with five digits or more
// then order by their first four ("12345.mp3" before "2000.mp3"); dates such as "20190101" and
// "20190202" keep their order.
// Returns <0, 0 or >0.
int naturalCompare(std::string_view a, std::string_view b);

inline bool naturalLess(std::string_view a, std::string_view b)
{
    return naturalCompare(a, b) < 0;
}

// For sorting many names quickly: the beginning of a name, sixteen bytes compared as two numbers,
// whose order agrees with naturalCompare() wherever two keys differ; equal keys decide nothing.
// Letters are folded to lower case. A run of digits is written as its length without leading zeros
// ("0" plus the length, a digit, so it still sorts against other characters as a digit does)
// followed by its digits; a run of nine digits or more ends the key. A leading run is split after
// its fourth digit as naturalCompare() splits it. Zero bytes fill the key after the end of the
// name.
struct NaturalKey
{
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    // Written out: clang-tidy 14 misreads a defaulted operator<=> (modernize-use-nullptr).
    friend bool operator==(const NaturalKey &a, const NaturalKey &b)
    {
        return a.high == b.high && a.low == b.low;
    }
    friend bool operator<(const NaturalKey &a, const NaturalKey &b)
    {
        return a.high != b.high ? a.high < b.high : a.low < b.low;
    }
};

NaturalKey naturalPrefixKey(std::string_view name);

} // namespace korvalo
