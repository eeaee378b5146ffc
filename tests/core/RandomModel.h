// Random models full of awkward values, and bit-for-bit comparison of
// models: the harness of the tests that hold one form of the update against
// another.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "TestModel.h"

namespace corvane::test {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

inline std::uint64_t Bits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Identical bits, except that any NaN matches any NaN.
inline bool SameBits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || Bits(a) == Bits(b);
}

inline ::testing::AssertionResult SameField(const char* name, const std::vector<double>& expected,
                                     const std::vector<double>& actual) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << name << ": sizes differ";
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (!SameBits(expected[i], actual[i]))
            return ::testing::AssertionFailure()
                   << name << "[" << i << "]: expected " << expected[i] << " (0x" << std::hex
                   << Bits(expected[i]) << "), got " << actual[i] << " (0x"
                   << Bits(actual[i]) << std::dec << ")";
    return ::testing::AssertionSuccess();
}

// Every field of the table, element by element (SameBits).
inline ::testing::AssertionResult SameModel(const OwnedModel& expected, const OwnedModel& actual) {
    const BackgroundModel e = expected.ReadView(), a = actual.ReadView();
    for (const ModelField& field : kModelFields) {
        const DoubleView& x = e.*field.view;
        const DoubleView& y = a.*field.view;
        ::testing::AssertionResult same = SameField(
            field.name, std::vector<double>(x.data, x.data + x.count),
            std::vector<double>(y.data, y.data + y.count));
        if (!same) return same;
    }
    return ::testing::AssertionSuccess();
}

// Random values with a chosen share of awkward ones.
class Values {
public:
    Values(std::uint64_t seed, double specialShare) : rng_(seed), specialShare_(specialShare) {}

    double Uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng_);
    }
    bool Chance(double p) { return Uniform(0, 1) < p; }

    double Special() {
        static const double specials[] = {0.0,   -0.0, kInf,    -kInf, kNaN, 1.0,
                                          -1.0, 1e-310, 1e308, -1e308, 0.5, 255.0};
        return specials[std::uniform_int_distribution<int>(0, 11)(rng_)];
    }
    // Mostly uniform in [lo, hi), sometimes awkward.
    double Field(double lo, double hi) { return Chance(specialShare_) ? Special() : Uniform(lo, hi); }
    // Mostly uniform, sometimes one of `picks`.
    double OneOf(std::initializer_list<double> picks, double lo, double hi) {
        if (!Chance(0.3)) return Field(lo, hi);
        const int i = std::uniform_int_distribution<int>(0, int(picks.size()) - 1)(rng_);
        return picks.begin()[i];
    }

private:
    std::mt19937_64 rng_;
    double specialShare_;
};

// A model whose neurons sit partly near the frame's colours (so densities are
// large and the winner matters) and partly anywhere.
inline void Randomize(TestModel& t, Values& values) {
    const std::int64_t N = t.N();
    const std::int64_t K = t.K;
    for (double& x : t.frame) x = values.Field(0, 255);
    for (std::int64_t p = 0; p < N; ++p) {
        for (std::int64_t j = 0; j < K; ++j) {
            for (int ch = 0; ch < 3; ++ch) {
                const double near = t.frame[ch * N + p] + values.Uniform(-20, 20);
                t.owned.Mu[(p * K + j) * 3 + ch] =
                    values.Chance(0.5) ? near : values.Field(0, 255);
            }
            t.owned.Sigma2[p * K + j] = values.OneOf({0.0, 1.0, -5.0, 400.0}, 0, 500);
        }
        t.owned.Pi[p] = values.OneOf({0.0, 1.0}, 0, 1);
        t.owned.Var[p] = values.OneOf({0.0, 1e-300}, 0, 0.3);
        t.owned.MaximumVariance[p] = values.OneOf({0.0, 50.0}, 20, 600);
        t.owned.imMask[p] = kNaN;  // never read
        t.owned.NeuroWin[p] = values.Uniform(-1e9, 1e9);
    }
    for (double& cov : t.owned.Cov) cov = values.Field(-0.3, 0.3);
    for (double& weight : t.matrix) weight = values.OneOf({0.0, 1.0, -0.5}, 0, 0.2);
    t.owned.MinimumVariance = values.OneOf({0.0, 25.0, 1e-3}, 0, 50);
    t.owned.StepSize = values.OneOf({0.0, 1.0, 0.01}, 0, 1);
    t.owned.CurrentFrame = values.OneOf({0.0, kNaN}, 0, 1e6);
}

struct Shape {
    std::int32_t H, W;
};

// Single pixel, single row, single column, two rows, and a few plain shapes.
inline const Shape kShapes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 1}, {1, 2}, {2, 2},
                         {2, 6}, {3, 3}, {5, 4}, {4, 9}, {11, 6}};

}  // namespace corvane::test
