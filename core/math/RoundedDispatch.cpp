// Chooses the block path once, from what the CPU reports.
#include <cmath>

#include "RoundedBlockPaths.h"
#include "RoundedMath.h"
#include "RoundedTables.inc"

namespace corvane {

namespace {

RoundedMathPath Detect() {
#if defined(CORVANE_ROUNDED_AVX2)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return RoundedMathPath::Avx512;
    if (__builtin_cpu_supports("avx2")) return RoundedMathPath::Avx2;
#endif
#if defined(CORVANE_ROUNDED_SSE2)
    return RoundedMathPath::Sse2;
#else
    return RoundedMathPath::Scalar;
#endif
}

const RoundedMathPath fastest = Detect();

bool cLibraryForComparison = false;

}  // namespace

void UseCLibraryInBlocksForComparison(bool on) { cLibraryForComparison = on; }

RoundedMathPath RoundedMathFastestPath() { return fastest; }

bool RoundedMathPathAvailable(RoundedMathPath path) {
    switch (path) {
        case RoundedMathPath::Scalar: return true;
        case RoundedMathPath::Sse2:
#if defined(CORVANE_ROUNDED_SSE2)
            return true;
#else
            return false;
#endif
        case RoundedMathPath::Avx2:
            return fastest == RoundedMathPath::Avx2 || fastest == RoundedMathPath::Avx512;
        case RoundedMathPath::Avx512: return fastest == RoundedMathPath::Avx512;
    }
    return false;
}

void ExpCorrectlyRoundedBlockWith(RoundedMathPath path, const double* in, double* out,
                                  std::int64_t count) {
    if (cLibraryForComparison) {
        for (std::int64_t i = 0; i < count; ++i)
            out[i] = in[i] <= rounded::kExpLargestZero ? 0.0 : std::exp(in[i]);
        return;
    }
    switch (path) {
#if defined(CORVANE_ROUNDED_AVX2)
        case RoundedMathPath::Avx512:
            if (fastest == RoundedMathPath::Avx512) return rounded::ExpBlockAvx512(in, out, count);
            break;
        case RoundedMathPath::Avx2:
            if (RoundedMathPathAvailable(path)) return rounded::ExpBlockAvx2(in, out, count);
            break;
#endif
#if defined(CORVANE_ROUNDED_SSE2)
        case RoundedMathPath::Sse2: return rounded::ExpBlockSse2(in, out, count);
#endif
        default: break;
    }
    for (std::int64_t i = 0; i < count; ++i) out[i] = ExpCorrectlyRounded(in[i]);
}

void LogCorrectlyRoundedBlockWith(RoundedMathPath path, const double* in, double* out,
                                  std::int64_t count) {
    if (cLibraryForComparison) {
        for (std::int64_t i = 0; i < count; ++i) out[i] = std::log(in[i]);
        return;
    }
    switch (path) {
#if defined(CORVANE_ROUNDED_AVX2)
        case RoundedMathPath::Avx512:
            if (fastest == RoundedMathPath::Avx512) return rounded::LogBlockAvx512(in, out, count);
            break;
        case RoundedMathPath::Avx2:
            if (RoundedMathPathAvailable(path)) return rounded::LogBlockAvx2(in, out, count);
            break;
#endif
#if defined(CORVANE_ROUNDED_SSE2)
        case RoundedMathPath::Sse2: return rounded::LogBlockSse2(in, out, count);
#endif
        default: break;
    }
    for (std::int64_t i = 0; i < count; ++i) out[i] = LogCorrectlyRounded(in[i]);
}

void ExpCorrectlyRoundedBlock(const double* in, double* out, std::int64_t count) {
    ExpCorrectlyRoundedBlockWith(fastest, in, out, count);
}

void LogCorrectlyRoundedBlock(const double* in, double* out, std::int64_t count) {
    LogCorrectlyRoundedBlockWith(fastest, in, out, count);
}

}  // namespace corvane
