#pragma once

#include <string>

namespace korvalo {

// The range a progress bar takes for a pass over `count` files: 0 to count - 1.
struct ProgressRange
{
    int minimum = 0;
    int maximum = 0;
};

ProgressRange progressRange(int count);

// The bar's value after the file at `index`.
inline int progressValue(int index)
{
    return index;
}

// The share of the index range reached after the file at `index`, as whole percent:
// 100 * index / (count - 1), rounded to the nearest whole number, halves upwards.
// A single file counts as complete (100). The result is clamped to 0..100.
int progressPercent(int index, int count);

// The percent text the label shows: "0%", "33%", "100%".
std::string progressText(int index, int count);

} // namespace korvalo
