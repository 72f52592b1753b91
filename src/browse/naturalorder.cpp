#include "browse/naturalorder.h"
#include "browse/asciichars.h"

#include <algorithm>

namespace korvalo {

namespace {

bool isDigit(unsigned char c)
{
    return isAsciiDigit(c);
}

unsigned char fold(unsigned char c)
{
    return foldAsciiCase(c);
}

// The digits of an order prefix. A run of digits that begins the name and has more of them, the
// first not 0, is read as the prefix followed by the name's own digits (see naturalorder.h).
constexpr std::size_t prefixDigits = 4;

// The end of the run of digits whose significant digits begin at `from`: where the digits stop,
// or after the prefix when `from` is the start of the name (no leading zeros skipped) and the run
// is longer than a prefix.
std::size_t runEnd(std::string_view s, std::size_t from)
{
    std::size_t end = from;
    while (end < s.size() && isDigit(static_cast<unsigned char>(s[end])))
        ++end;
    if (from == 0 && end > prefixDigits)
        return prefixDigits;
    return end;
}

} // namespace

int naturalCompare(std::string_view a, std::string_view b)
{
    // Names in one folder often share a long beginning. Skip the bytes both share, but start
    // again at the beginning of a run of digits that reaches the first difference, since a run is
    // compared by its value as a whole. The positions skipped compare equal either way. A run that
    // begins the name goes back to its start, where runEnd() splits it as a prefix.
    const std::size_t shared = std::min(a.size(), b.size());
    std::size_t same = 0;
    while (same < shared && a[same] == b[same])
        ++same;
    while (same > 0 && isDigit(static_cast<unsigned char>(a[same - 1])))
        --same;
    std::size_t i = same;
    std::size_t j = same;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (isDigit(ca) && isDigit(cb)) {
            // Compare the digit runs by value: skip leading zeros, then the longer run is larger,
            // then the first differing digit decides.
            std::size_t ia = i;
            std::size_t jb = j;
            while (ia < a.size() && a[ia] == '0')
                ++ia;
            while (jb < b.size() && b[jb] == '0')
                ++jb;
            const std::size_t ea = runEnd(a, ia);
            const std::size_t eb = runEnd(b, jb);
            const std::size_t la = ea - ia;
            const std::size_t lb = eb - jb;
            if (la != lb)
                return la < lb ? -1 : 1;
            for (std::size_t k = 0; k < la; ++k) {
                if (a[ia + k] != b[jb + k])
                    return static_cast<unsigned char>(a[ia + k]) <
                                   static_cast<unsigned char>(b[jb + k])
                               ? -1
                               : 1;
            }
            i = ea;
            j = eb;
            continue;
        }
        const unsigned char fa = fold(ca);
        const unsigned char fb = fold(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
        ++i;
        ++j;
    }
    const bool aDone = i >= a.size();
    const bool bDone = j >= b.size();
    if (aDone != bDone)
        return aDone ? -1 : 1;
    // Equal as a person reads them ("a01" and "A1"): fall back to the bytes for a total order.
    const int raw = a.compare(b);
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

NaturalKey naturalPrefixKey(std::string_view name)
{
    constexpr std::size_t size = 16;
    unsigned char key[size] = {};
    std::size_t out = 0;
    std::size_t k = 0;
    while (out < size && k < name.size()) {
        const auto c = static_cast<unsigned char>(name[k]);
        if (!isDigit(c)) {
            key[out++] = fold(c);
            ++k;
            continue;
        }
        while (k < name.size() && name[k] == '0')
            ++k;
        const std::size_t end = runEnd(name, k);
        if (end - k >= 9) {
            key[out++] = '9';
            break;
        }
        key[out++] = static_cast<unsigned char>('0' + (end - k));
        while (out < size && k < end)
            key[out++] = static_cast<unsigned char>(name[k++]);
    }
    NaturalKey packed;
    for (std::size_t b = 0; b < size / 2; ++b) {
        packed.high = (packed.high << 8) | key[b];
        packed.low = (packed.low << 8) | key[size / 2 + b];
    }
    return packed;
}

} // namespace korvalo
