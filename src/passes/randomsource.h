#pragma once

#include <cstdint>
#include <random>

namespace korvalo {

// Where the order prefixes come from: reseeded at the start of every pass that finds files, then
// drawn once per file as a single-precision value 0 <= r < 1.
class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual void reseed() = 0;
    virtual float next() = 0;
};

// A Mersenne Twister seeded from the clock mixed with std::random_device.
class ClockRandomSource : public RandomSource
{
public:
    void reseed() override;
    float next() override;

private:
    std::mt19937 m_engine{0x4b6f7276u};
};

// The order prefix value for a draw: the largest integer not above 9000 * r + 1000, always in
// 1000..9999 (also for the largest float below 1).
int prefixValue(float r);

} // namespace korvalo
