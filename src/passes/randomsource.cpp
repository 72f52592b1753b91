#include "passes/randomsource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace korvalo {

void ClockRandomSource::reseed()
{
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::uint32_t entropy[4] = {0x9e3779b9u, 0x7f4a7c15u, 0x85ebca6bu, 0xc2b2ae35u};
    try {
        std::random_device device;
        for (auto &word : entropy)
            word ^= device();
    } catch (const std::exception &) {
        // No entropy source on this system: the clock alone still gives a new sequence.
    }
    std::seed_seq seq{static_cast<std::uint32_t>(now),
                      static_cast<std::uint32_t>(now >> 32),
                      entropy[0],
                      entropy[1],
                      entropy[2],
                      entropy[3]};
    m_engine.seed(seq);
}

float ClockRandomSource::next()
{
    // 24 random bits make every float in [0, 1) on a grid of 2^-24, the largest 1 - 2^-24.
    return static_cast<float>(m_engine() >> 8) * 0x1p-24f;
}

int prefixValue(float r)
{
    const double value = std::floor(9000.0 * static_cast<double>(r) + 1000.0);
    return static_cast<int>(std::clamp(value, 1000.0, 9999.0));
}

} // namespace korvalo
