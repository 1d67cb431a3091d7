#pragma once

#include <cstdint>
#include <random>

// The one generator of a run. Values are single precision with 0 <= r < 1.
class RandomSource {
public:
    explicit RandomSource(double seed = 0.0) { seedFrom(seed); }

    void seedFrom(double seed);
    float next();

private:
    std::mt19937 engine_;
};
