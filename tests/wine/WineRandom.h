// A small deterministic generator (xorshift64*) for the Wine test programs: the
// same numbers on Linux and in the Windows builds, so both sides make the same
// models and frames.
#ifndef CORVANE_TESTS_WINE_WINE_RANDOM_H
#define CORVANE_TESTS_WINE_WINE_RANDOM_H

#include <cstdint>

namespace corvane::wine {

struct Random {
    std::uint64_t state;
    explicit Random(std::uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t Next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [lo, hi), with 53 random bits.
    double Uniform(double lo, double hi) {
        return lo + (hi - lo) * (static_cast<double>(Next() >> 11) * 0x1.0p-53);
    }
};

}  // namespace corvane::wine

#endif
