// The exact path of the correctly rounded exp and log: a fixed-point
// evaluation with 224 fraction bits in 32-bit integer words, for the rare
// arguments whose fast-path result lies too close to the midpoint between two
// doubles. Integer arithmetic, so the same on every target.
#pragma once

#include <cstdint>

namespace corvane {
namespace rounded {

// exp(x) for kExpLargestZero < x <= kExpLargestFinite; n is the reduction's
// step count round(x * 256/ln 2) (any integer near it works).
double ExpExact(double x, std::int64_t n);

// log(2^exponentShift * x) for a positive normal x (a subnormal argument is
// passed scaled by 2^52, with exponentShift = -52).
double LogExact(double x, int exponentShift);

// How many exact evaluations ran in this thread, for tests and measurements.
std::uint64_t ExactEvaluationCount();
// How many of them could not be decided with 224 bits (expected: none).
std::uint64_t ExactUndecidedCount();

}  // namespace rounded
}  // namespace corvane
