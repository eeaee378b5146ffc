// Correctly rounded exp and log for doubles: for every argument the result is
// the double nearest to the exact value (ties cannot occur), so every CPU,
// operating system and compiler that rounds +, -, * as IEEE 754 says gives
// the same bits. Only those basic operations are used (no fused multiply-add,
// no x87, no long double), and the block functions' vector paths perform, per
// lane, the same operations in the same order as the scalar functions.
//
// Special values match the C library: exp(NaN) and log(NaN) return the quieted
// NaN, exp(+-inf) = +inf / +0, exp overflows to +inf and underflows to +0 at
// the correctly rounded thresholds; log(+-0) = -inf, log(+inf) = +inf, and
// log of a negative number (or -inf) is the NaN with bits 0xfff8000000000000.
#pragma once

#include <cstdint>

namespace corvane {

double ExpCorrectlyRounded(double x);
double LogCorrectlyRounded(double x);

// out[i] = exp(in[i]) / log(in[i]) for i < count, with the fastest vector
// path this CPU has. in and out may be the same array but must not otherwise
// overlap.
void ExpCorrectlyRoundedBlock(const double* in, double* out, std::int64_t count);
void LogCorrectlyRoundedBlock(const double* in, double* out, std::int64_t count);

// The vector paths, for tests and benchmarks that compare them.
enum class RoundedMathPath { Scalar, Sse2, Avx2, Avx512 };
bool RoundedMathPathAvailable(RoundedMathPath path);
RoundedMathPath RoundedMathFastestPath();
void ExpCorrectlyRoundedBlockWith(RoundedMathPath path, const double* in, double* out,
                                  std::int64_t count);
void LogCorrectlyRoundedBlockWith(RoundedMathPath path, const double* in, double* out,
                                  std::int64_t count);

// For benchmarks that measure what the correctly rounded functions gain:
// while on, the block functions above (of every path) call the C library's exp and log,
// one value at a time, as the update did before (exp skipped at and below
// the underflow threshold). Those are not correctly rounded, so results then
// differ in the last bits. Not for use outside benchmarks; not thread-safe.
void UseCLibraryInBlocksForComparison(bool on);

}  // namespace corvane
