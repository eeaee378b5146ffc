// Fixed numbers of the model.
#pragma once

namespace corvane {

// 1.5 * ln(2*pi): log normaliser of a three-dimensional unit normal density.
constexpr double GaussianLogNormalizer = 2.756815599614018;

// 1/255^3: density of colours spread uniformly over the 0..255 cube, the
// model's picture of a foreground colour.
constexpr double UniformForegroundDensity = 6.030862941101084e-8;

// Starting value of the best density in the competition: the most negative
// finite double, so any finite or infinite density beats it and NaN never does.
constexpr double InitialBestDensity = -1.7976931348623157e308;

// The size of a full 3x3 neighbourhood; stays 9 at the border.
constexpr double SmoothingDivisor = 9;

// The floor of a stored foreground prior, the smallest positive normal double:
// below it the prior times UniformForegroundDensity underflows to 0,
// the raw foreground probability is then 0 for every colour and the prior
// could never rise again.
constexpr double SmallestPrior = 2.2250738585072014e-308;

// Turns a squared 3-channel distance into a per-channel variance. Twelve
// decimal threes, deliberately not the double nearest to 1/3.
constexpr double VarianceTargetFactor = 0.333333333333;

}  // namespace corvane
