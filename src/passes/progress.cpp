#include "passes/progress.h"

#include <algorithm>
#include <cstdint>

namespace korvalo {

ProgressRange progressRange(int count)
{
    return {0, std::max(0, count - 1)};
}

int progressPercent(int index, int count)
{
    const std::int64_t span = std::int64_t(count) - 1;
    if (span <= 0)
        return 100; // one file: the pass is complete after it
    const std::int64_t i = std::clamp<std::int64_t>(index, 0, span);
    // round(100 * i / span) with halves upwards, in integers so no rounding error creeps in.
    return static_cast<int>((200 * i + span) / (2 * span));
}

std::string progressText(int index, int count)
{
    return std::to_string(progressPercent(index, count)) + '%';
}

} // namespace korvalo
