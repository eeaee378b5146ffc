// A small synthetic video for examples, tests and benchmarks: a fixed noisy
// background with a square of a different colour moving across it.
#pragma once

#include <cstdint>
#include <vector>

namespace corvane {

struct SyntheticScene {
    std::int32_t H = 60;
    std::int32_t W = 80;
    std::int32_t squareSize = 12;
    double noise = 4.0;       // standard deviation of the per-frame noise, colour units
    std::uint32_t seed = 1;

    // Frame t (0-based) as an H x W x 3 column-major array of doubles in 0..255.
    // `foreground`, when not null, receives N flags: 1 where the square is.
    void Render(std::int32_t t, std::vector<double>& frame,
                std::vector<std::uint8_t>* foreground) const;
};

}  // namespace corvane
