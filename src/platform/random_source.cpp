#include "random_source.h"

#include <cstring>

void RandomSource::seedFrom(double seed)
{
    // Every bit of the seed counts, so seeds a fraction of a second apart differ.
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof seed);
    std::memcpy(&bits, &seed, sizeof bits);
    std::seed_seq seq{static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32)};
    engine_.seed(seq);
}

float RandomSource::next()
{
    // 24 random bits fill a float's mantissa exactly, so the result never rounds up to 1.
    return static_cast<float>(engine_() >> 8) * (1.0f / 16777216.0f);
}
