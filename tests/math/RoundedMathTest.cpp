// The correctly rounded exp and log against GNU MPFR: special values, dense
// grids over the ranges the model uses, constructed hard-to-round arguments,
// a short random run; the exact path on its own; the fast paths' error bounds;
// and every vector path against the scalar functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "MpfrReference.h"
#include "RoundedExact.h"
#include "RoundedMath.h"
#include "RoundedScalarDetail.h"
#include "RoundedTables.inc"

namespace corvane {
namespace {

using testing::Bits;
using testing::FromBits;

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Hex(double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", x);
    return text;
}

// Every argument through the scalar function and every block path, against
// MPFR. Returns a description of the first few mismatches (empty when none).
std::string CheckAll(const std::vector<double>& args, bool isExp) {
    std::string failures;
    int count = 0;
    auto fail = [&](const std::string& what) {
        if (++count <= 5) failures += what + "\n";
    };
    std::vector<double> scalar(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        const double x = args[i];
        const double y = isExp ? ExpCorrectlyRounded(x) : LogCorrectlyRounded(x);
        const double want = isExp ? testing::MpfrExp(x) : testing::MpfrLog(x);
        scalar[i] = y;
        if (Bits(y) != Bits(want) && !(std::isnan(y) && std::isnan(want))) {
            fail((isExp ? "exp(" : "log(") + Hex(x) + ") = " + Hex(y) + ", MPFR " + Hex(want));
        }
    }
    for (RoundedMathPath path :
         {RoundedMathPath::Scalar, RoundedMathPath::Sse2, RoundedMathPath::Avx2,
          RoundedMathPath::Avx512}) {
        if (!RoundedMathPathAvailable(path)) continue;
        std::vector<double> out(args.size(), -1.0);
        // Blocks of 1 to 40 values (every tail after every number of whole
        // two-register steps, on every path) and the update's runs of 64.
        std::size_t i = 0;
        for (std::int64_t block = 1; i < args.size();
             block = block == 64 ? 1 : block == 40 ? 64 : block + 1) {
            const std::int64_t n = std::min<std::int64_t>(block, args.size() - i);
            if (isExp) {
                ExpCorrectlyRoundedBlockWith(path, args.data() + i, out.data() + i, n);
            } else {
                LogCorrectlyRoundedBlockWith(path, args.data() + i, out.data() + i, n);
            }
            i += n;
        }
        for (std::size_t k = 0; k < args.size(); ++k) {
            if (Bits(out[k]) != Bits(scalar[k])) {
                fail("path " + std::to_string(static_cast<int>(path)) + (isExp ? " exp(" : " log(") +
                     Hex(args[k]) + ") = " + Hex(out[k]) + ", scalar " + Hex(scalar[k]));
            }
        }
    }
    if (count > 5) failures += std::to_string(count) + " mismatches in all\n";
    return failures;
}

std::vector<double> Geometric(double from, double to, int n) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i) v.push_back(from * std::pow(to / from, (i + 0.5) / n));
    return v;
}

std::vector<double> Uniform(double from, double to, int n) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i) v.push_back(from + (to - from) * (i + 0.5) / n);
    return v;
}

// count consecutive doubles starting at x, walking towards `towards`.
void AddWalk(std::vector<double>& v, double x, double towards, int count) {
    for (int i = 0; i < count; ++i, x = std::nextafter(x, towards)) v.push_back(x);
}

TEST(RoundedMath, SpecialValuesAreTheCLibrarys) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double signalling = FromBits(0x7ff4000000000001ULL);
    const double negativeSignalling = FromBits(0xfff4000000000001ULL);
    // exp
    EXPECT_EQ(Bits(ExpCorrectlyRounded(0.0)), Bits(1.0));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(-0.0)), Bits(1.0));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(kInf)), Bits(kInf));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(-kInf)), Bits(0.0));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(nan)), Bits(nan));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(signalling)), 0x7ffc000000000001ULL);
    EXPECT_EQ(Bits(ExpCorrectlyRounded(negativeSignalling)), 0xfffc000000000001ULL);
    EXPECT_EQ(Bits(ExpCorrectlyRounded(1e300)), Bits(kInf));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(-1e300)), Bits(0.0));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(4.9e-324)), Bits(1.0));
    EXPECT_EQ(Bits(ExpCorrectlyRounded(-4.9e-324)), Bits(1.0));
    // The overflow and underflow thresholds are those of correct rounding.
    const double largestFinite = rounded::kExpLargestFinite;
    EXPECT_EQ(ExpCorrectlyRounded(largestFinite), testing::MpfrExp(largestFinite));
    EXPECT_LT(ExpCorrectlyRounded(largestFinite), kInf);
    EXPECT_EQ(ExpCorrectlyRounded(std::nextafter(largestFinite, kInf)), kInf);
    EXPECT_EQ(testing::MpfrExp(std::nextafter(largestFinite, kInf)), kInf);
    const double largestZero = rounded::kExpLargestZero;
    EXPECT_EQ(Bits(ExpCorrectlyRounded(largestZero)), Bits(0.0));
    EXPECT_EQ(testing::MpfrExp(largestZero), 0.0);
    EXPECT_EQ(ExpCorrectlyRounded(std::nextafter(largestZero, 0.0)), 0x1p-1074);
    EXPECT_EQ(testing::MpfrExp(std::nextafter(largestZero, 0.0)), 0x1p-1074);
    // log
    EXPECT_EQ(Bits(LogCorrectlyRounded(1.0)), Bits(0.0));
    EXPECT_EQ(Bits(LogCorrectlyRounded(0.0)), Bits(-kInf));
    EXPECT_EQ(Bits(LogCorrectlyRounded(-0.0)), Bits(-kInf));
    EXPECT_EQ(Bits(LogCorrectlyRounded(kInf)), Bits(kInf));
    EXPECT_EQ(Bits(LogCorrectlyRounded(-kInf)), 0xfff8000000000000ULL);
    EXPECT_EQ(Bits(LogCorrectlyRounded(-1.0)), 0xfff8000000000000ULL);
    EXPECT_EQ(Bits(LogCorrectlyRounded(-4.9e-324)), 0xfff8000000000000ULL);
    EXPECT_EQ(Bits(LogCorrectlyRounded(nan)), Bits(nan));
    EXPECT_EQ(Bits(LogCorrectlyRounded(signalling)), 0x7ffc000000000001ULL);
    EXPECT_EQ(Bits(LogCorrectlyRounded(negativeSignalling)), 0xfffc000000000001ULL);
    EXPECT_EQ(LogCorrectlyRounded(0x1p-1074), testing::MpfrLog(0x1p-1074));
    EXPECT_EQ(LogCorrectlyRounded(std::numeric_limits<double>::max()),
              testing::MpfrLog(std::numeric_limits<double>::max()));
    for (int e = -1074; e <= 1023; ++e) {
        const double x = std::ldexp(1.0, e);
        ASSERT_EQ(LogCorrectlyRounded(x), testing::MpfrLog(x)) << "2^" << e;
    }
    // The block paths give the same bits for all of them, mixed with
    // ordinary arguments in every lane position.
    const std::vector<double> specials = {0.0, -0.0, kInf, -kInf, nan, signalling,
                                          negativeSignalling, 1.0, -1.0, 4.9e-324, -4.9e-324,
                                          2.2250738585072014e-308, 1e300, -1e300, largestFinite,
                                          std::nextafter(largestFinite, kInf), largestZero,
                                          std::nextafter(largestZero, 0.0), 3.5, -3.5, 710.0,
                                          -708.0, -745.0, 709.5};
    for (bool isExp : {true, false}) {
        for (RoundedMathPath path :
             {RoundedMathPath::Sse2, RoundedMathPath::Avx2, RoundedMathPath::Avx512}) {
            if (!RoundedMathPathAvailable(path)) continue;
            std::vector<double> out(specials.size());
            (isExp ? ExpCorrectlyRoundedBlockWith : LogCorrectlyRoundedBlockWith)(
                path, specials.data(), out.data(), static_cast<std::int64_t>(specials.size()));
            for (std::size_t i = 0; i < specials.size(); ++i) {
                const double want = isExp ? ExpCorrectlyRounded(specials[i])
                                          : LogCorrectlyRounded(specials[i]);
                EXPECT_EQ(Bits(out[i]), Bits(want)) << (isExp ? "exp " : "log ") << Hex(specials[i]);
            }
        }
    }
}

TEST(RoundedMath, LogMatchesMpfrOverDenseGrids) {
    std::vector<double> args = Geometric(1e-3, 1e6, 400000);   // effective variances
    for (double x : Geometric(1e-300, 1e300, 60000)) args.push_back(x);
    for (double x : Geometric(4.9e-324, 2.2e-308, 5000)) args.push_back(x);  // subnormal
    AddWalk(args, 1.0, 2.0, 3000);  // x near 1: results that need relative accuracy
    AddWalk(args, 1.0, 0.0, 3000);
    for (int e = -1022; e <= 1023; e += 7) {  // either side of powers of two
        AddWalk(args, std::ldexp(1.0, e), kInf, 6);
        AddWalk(args, std::ldexp(1.0, e), 0.0, 6);
    }
    EXPECT_EQ(CheckAll(args, false), "");
}

TEST(RoundedMath, ExpMatchesMpfrOverDenseGrids) {
    std::vector<double> args = Uniform(-745.2, 0.0, 400000);  // the model's exponents
    for (double x : Uniform(-746.0, 710.0, 60000)) args.push_back(x);
    for (double x : Uniform(-745.14, -708.3, 20000)) args.push_back(x);  // subnormal results
    for (double x : Uniform(709.0, 709.79, 2000)) args.push_back(x);      // near overflow
    for (double x : Geometric(1e-300, 1.0, 20000)) {                      // near 0
        args.push_back(x);
        args.push_back(-x);
    }
    AddWalk(args, 0.0, 1.0, 2000);
    AddWalk(args, -0.0, -1.0, 2000);
    AddWalk(args, rounded::kExpLargestFinite, 0.0, 2000);
    AddWalk(args, rounded::kExpLargestZero, 0.0, 2000);
    AddWalk(args, -708.3964185322641, 0.0, 1000);  // where results become normal
    AddWalk(args, -708.3964185322641, -kInf, 1000);
    EXPECT_EQ(CheckAll(args, true), "");
}

// The hardest arguments among random ones (corvane_math_check --hardest 8
// --count 1400000 --seed 4: 2.8 million logs, 4.2 million exps): their results
// lie within 2^-18 to 2^-24 ulp of a midpoint.
constexpr double kHardLogArguments[] = {
    0x1.0c2f2eb0b820ep+283, 0x1.2b54f36935af7p-588, 0x1.eb44f09ffd1e5p+312,
    0x1.ea09aa02dcb91p-2, 0x1.405671de0d0cep-428, 0x1.dd21d45a0211fp+136,
    0x1.e91492321b3f8p-2, 0x1.1a43c9c835766p+449,
};
constexpr double kHardExpArguments[] = {
    0x1.aa139d7908dbp+8, -0x1.93a30c573eb58p+6, 0x1.5bff1d4a093p+9,
    0x1.b3922b5f422a4p+7, -0x1.71292c1b1e688p+7, -0x1.f123c9fef95ap+4,
    0x1.6994258cfb338p+7, -0x1.40a00004b1b1bp-43,
};

// Arguments whose results lie extremely close to a midpoint between two
// doubles, which only the exact path decides.
//  - exp(x) for x = +-odd * 2^-53 (2^-54 below 0): 1 + x is a midpoint, and
//    exp(x) exceeds it by about x^2/2;
//  - log(1 - 2^-52) = -(2^-52 + 2^-105) - 2^-157.6...: a midpoint plus 2^-53.6 ulp;
//    log(1 +- j 2^-52..53) more generally;
//  - the hardest arguments found by searching 4 million random arguments per
//    function with MPFR (corvane_math_check --hardest).
TEST(RoundedMath, HardToRoundArguments) {
    std::vector<double> exps, logs;
    for (int odd = 1; odd < 4000; odd += 2) {
        exps.push_back(odd * 0x1p-53);
        exps.push_back(-odd * 0x1p-54);
        exps.push_back(odd * 0x1p-60);
    }
    for (int j = 1; j < 4000; ++j) {
        logs.push_back(1.0 + j * 0x1p-52);
        logs.push_back(1.0 - j * 0x1p-53);
    }
    for (double x : kHardExpArguments) exps.push_back(x);
    for (double x : kHardLogArguments) logs.push_back(x);
    EXPECT_LT(testing::MpfrMidpointDistanceOfLog(1.0 - 0x1p-52), 0x1p-50);
    EXPECT_LT(testing::MpfrMidpointDistanceOfExp(0x1p-53), 0x1p-50);
    const std::uint64_t before = rounded::ExactEvaluationCount();
    EXPECT_EQ(CheckAll(exps, true), "");
    EXPECT_EQ(CheckAll(logs, false), "");
    EXPECT_GT(rounded::ExactEvaluationCount(), before) << "the exact path was never needed";
    EXPECT_EQ(rounded::ExactUndecidedCount(), 0u);
}

// The exact path decides only the rare arguments the fast path leaves, so it
// is checked here on its own, on arguments of every kind.
TEST(RoundedMath, ExactPathMatchesMpfrOnItsOwn) {
    std::mt19937_64 random(14);
    std::uniform_real_distribution<double> exponents(-745.13, 709.78);
    int mismatches = 0;
    for (int i = 0; i < 20000; ++i) {
        double x = exponents(random);
        if (i % 4 == 1) x = std::ldexp(exponents(random) / 746, -static_cast<int>(random() % 60));
        if (i % 4 == 2) x = std::uniform_real_distribution<double>(-745.13, -708.4)(random);
        const std::int64_t n = static_cast<std::int64_t>(std::nearbyint(x * rounded::kExpStepsPerUnit));
        const double y = rounded::ExpExact(x, n);
        if (Bits(y) != Bits(testing::MpfrExp(x)) && ++mismatches <= 5) {
            ADD_FAILURE() << "exact exp(" << Hex(x) << ") = " << Hex(y);
        }
        double v;
        do {
            v = FromBits(random() & 0x7fefffffffffffffULL);
        } while (!(v >= 0x1p-1022));
        if (i % 3 == 1) v = 1.0 + std::ldexp(exponents(random) / 746, -static_cast<int>(random() % 52));
        const double logarithm = rounded::LogExact(v, 0);
        if (Bits(logarithm) != Bits(testing::MpfrLog(v)) && ++mismatches <= 5) {
            ADD_FAILURE() << "exact log(" << Hex(v) << ") = " << Hex(logarithm);
        }
        // A subnormal argument goes in scaled by 2^52.
        const double subnormal = FromBits(random() & 0x000fffffffffffffULL);
        if (subnormal > 0) {
            const double scaled = rounded::LogExact(subnormal * 0x1p52, -52);
            if (Bits(scaled) != Bits(testing::MpfrLog(subnormal)) && ++mismatches <= 5) {
                ADD_FAILURE() << "exact log(" << Hex(subnormal) << ") = " << Hex(scaled);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(rounded::ExactUndecidedCount(), 0u);
}

// The rounding test is only sound if the fast paths' errors stay below the
// tolerances it assumes: measured here on random arguments and the grids'
// extremes, with room to spare (a quarter of the tolerance).
TEST(RoundedMath, FastPathErrorsStayWellInsideTheirTolerance) {
    std::mt19937_64 random(3);
    double worstLog = 0, worstExp = 0;
    for (int i = 0; i < 60000; ++i) {
        double x;
        do {
            x = FromBits(random() & 0x7fefffffffffffffULL);
        } while (!(x >= 0x1p-1022));
        if (i % 2) x = std::exp(std::uniform_real_distribution<double>(-7, 14)(random));
        if (i % 5 == 0) x = 1.0 + std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                                             -static_cast<int>(random() % 60) - 7);
        double h, l, err;
        rounded::LogFastPath(x, h, l, err);
        // log's bound depends on the argument: the error as a share of it.
        if (x != 1) {
            const double error = testing::MpfrRelativeErrorOfLog(x, h, l) * std::fabs(h);
            worstLog = std::max(worstLog, error / err);
        }

        double e = std::uniform_real_distribution<double>(-745.1, 709.7)(random);
        if (i % 3 == 0) e = std::ldexp(e / 746, -static_cast<int>(random() % 80));
        int k;
        rounded::ExpFastPath(e, h, l, k);
        worstExp = std::max(worstExp, testing::MpfrRelativeErrorOfExp(e, h, l, k));
    }
    EXPECT_LT(worstLog, 1.0 / 4) << "log: 2^" << std::log2(worstLog) << " of its bound";
    EXPECT_LT(worstExp, 0x1p-68 / 4) << "exp: 2^" << std::log2(worstExp);
}

// log's bound is absolute away from 1 (2^-72), so on the update's variances
// (raised by the floor, above 1) the fast path decides nearly every
// rounding; a bound relative to the result (2^-67 |log x|, as it was) sends
// one argument in ten thousand or so to the exact path, each about a
// thousand times as slow, with no wrong bit to show for it.
TEST(RoundedMath, LogOfVariancesRarelyNeedsTheExactPath) {
    std::mt19937_64 random(25);
    std::vector<double> args(400000), out(args.size());
    std::uniform_real_distribution<double> logUniform(std::log(2.0), std::log(1e6));
    // exp of a double has a logarithm within a fraction of an ulp of that
    // double, never near a midpoint: the low half of its bits is drawn anew.
    for (double& x : args) {
        const double grid = std::exp(logUniform(random));
        x = FromBits((Bits(grid) & ~0xffffffffULL) | (random() & 0xffffffffULL));
    }
    for (RoundedMathPath path :
         {RoundedMathPath::Scalar, RoundedMathPath::Sse2, RoundedMathPath::Avx2,
          RoundedMathPath::Avx512}) {
        if (!RoundedMathPathAvailable(path)) continue;
        const std::uint64_t before = rounded::ExactEvaluationCount();
        LogCorrectlyRoundedBlockWith(path, args.data(), out.data(),
                                     static_cast<std::int64_t>(args.size()));
        EXPECT_LE(rounded::ExactEvaluationCount() - before, 8u)
            << "path " << static_cast<int>(path);
    }
}

TEST(RoundedMath, RandomArgumentsMatchMpfr) {
    std::mt19937_64 random(2026);
    std::vector<double> logs, exps;
    for (int i = 0; i < 100000; ++i) {
        double x;
        do {
            x = FromBits(random() & 0x7fffffffffffffffULL);  // every binade, subnormals too
        } while (!(x > 0 && x < kInf));
        logs.push_back(x);
        logs.push_back(std::exp(std::uniform_real_distribution<double>(-7, 14)(random)));
        exps.push_back(std::uniform_real_distribution<double>(-745.2, 0.0)(random));
        exps.push_back(std::uniform_real_distribution<double>(-746.0, 710.0)(random));
    }
    EXPECT_EQ(CheckAll(logs, false), "");
    EXPECT_EQ(CheckAll(exps, true), "");
}

// The block functions take in == out, and write nothing past count.
TEST(RoundedMath, BlocksWorkInPlaceAndStayInBounds) {
    for (RoundedMathPath path :
         {RoundedMathPath::Scalar, RoundedMathPath::Sse2, RoundedMathPath::Avx2,
          RoundedMathPath::Avx512}) {
        if (!RoundedMathPathAvailable(path)) continue;
        for (std::int64_t n = 0; n <= 17; ++n) {
            std::vector<double> values(n + 2, 7.0), expected(n);
            for (std::int64_t i = 0; i < n; ++i) {
                values[i + 1] = 0.37 * (i + 1) - 3;
                expected[i] = ExpCorrectlyRounded(values[i + 1]);
            }
            ExpCorrectlyRoundedBlockWith(path, values.data() + 1, values.data() + 1, n);
            for (std::int64_t i = 0; i < n; ++i) EXPECT_EQ(Bits(values[i + 1]), Bits(expected[i]));
            for (std::int64_t i = 0; i < n; ++i) expected[i] = LogCorrectlyRounded(values[i + 1]);
            LogCorrectlyRoundedBlockWith(path, values.data() + 1, values.data() + 1, n);
            for (std::int64_t i = 0; i < n; ++i) EXPECT_EQ(Bits(values[i + 1]), Bits(expected[i]));
            EXPECT_EQ(values.front(), 7.0);
            EXPECT_EQ(values.back(), 7.0);
        }
    }
}

}  // namespace
}  // namespace corvane
