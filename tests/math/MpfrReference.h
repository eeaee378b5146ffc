// Independent reference values from GNU MPFR: exp and log correctly rounded
// to double (subnormals on their own grid), and the exact relative error of
// an unevaluated sum, for checking the fast paths' error bounds.
#pragma once

#include <cstdint>

namespace corvane {
namespace testing {

double MpfrExp(double x);
double MpfrLog(double x);

// |((h + l) * 2^k - f(x)) / f(x)|, evaluated with 400 bits.
double MpfrRelativeErrorOfExp(double x, double h, double l, int k);
double MpfrRelativeErrorOfLog(double x, double h, double l);

// How far f(x) lies from the nearest midpoint between two doubles, in ulps
// of the result (0.5 = on a double, 0 = on a midpoint): the hardness of
// rounding x.
double MpfrMidpointDistanceOfExp(double x);
double MpfrMidpointDistanceOfLog(double x);

std::uint64_t Bits(double x);
double FromBits(std::uint64_t bits);

}  // namespace testing
}  // namespace corvane
