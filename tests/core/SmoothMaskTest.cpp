#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "TestModel.h"

namespace corvane::test {
namespace {

// Runs phases 2 and 3 on the model's Var, Cov and (raw) imMask.
std::vector<double> Smooth(TestModel& t, std::vector<double>* table = nullptr) {
    std::vector<double> correlations(4 * t.N(), -99), smoothed(t.N(), -99);
    NeighborOffsets offsets;
    CorrelateNeighbors(t.View(), t.Sizes(), offsets, correlations.data());
    const std::vector<double> before = correlations;
    SmoothMask(t.View(), t.Sizes(), offsets, correlations.data(), smoothed.data());
    EXPECT_EQ(before, correlations) << "smoothing must not touch the correlations";
    EXPECT_EQ(t.owned.imMask, smoothed);
    if (table) *table = correlations;
    return smoothed;
}

// Cov of every existing backward link set to `value` (Var 1, so it is the correlation).
void SetAllCorrelations(TestModel& t, double value) {
    t.owned.Var.assign(t.N(), 1.0);
    NeighborOffsets offsets;
    for (int p = 0; p < t.N(); ++p) {
        ComputeBackwardOffsets(offsets, p, t.H);
        for (int k = 0; k < 4; ++k) t.owned.Cov[p * 4 + k] = offsets.slot[k] ? value : 0.0;
    }
}

TEST(SmoothMask, ZeroCorrelationsDivideByNine) {
    TestModel t(3, 4, 1, 1);
    for (int p = 0; p < t.N(); ++p) t.owned.imMask[p] = 0.05 * p;
    const std::vector<double> raw = t.owned.imMask;
    const std::vector<double> smoothed = Smooth(t);
    for (int p = 0; p < t.N(); ++p) EXPECT_EQ(smoothed[p], raw[p] / 9) << p;
}

TEST(SmoothMask, UnitCorrelationsCountTheNeighbours) {
    TestModel t(4, 5, 1, 1);
    SetAllCorrelations(t, 1.0);
    t.owned.imMask.assign(t.N(), 1.0);
    const std::vector<double> smoothed = Smooth(t);
    auto at = [&](int r, int c) { return smoothed[c * t.H + r]; };
    EXPECT_EQ(at(1, 1), 1.0);
    EXPECT_EQ(at(2, 3), 1.0);
    EXPECT_EQ(at(0, 0), 4.0 / 9);
    EXPECT_EQ(at(3, 4), 4.0 / 9);
    EXPECT_EQ(at(3, 0), 4.0 / 9);
    EXPECT_EQ(at(0, 2), 6.0 / 9);
    EXPECT_EQ(at(3, 2), 6.0 / 9);  // last row, inner column
    EXPECT_EQ(at(1, 4), 6.0 / 9);
}

// Every neighbour contributes its raw probability times the correlation of
// that very pair, wherever the pair's coefficient is stored. Checked against
// a sum over 2-D coordinates, including the last row and column, on images of
// one row, one column and two rows.
TEST(SmoothMask, EachPairIsWeightedByItsOwnCorrelation) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const int shapes[][2] = {{1, 5}, {5, 1}, {2, 4}, {4, 3}};
    for (const auto& shape : shapes) {
        TestModel t(shape[0], shape[1], 1, 1);
        for (double& v : t.owned.Var) v = 0.5 + uniform(random);
        for (double& v : t.owned.Cov) v = uniform(random) - 0.2;
        for (double& v : t.owned.imMask) v = uniform(random);
        const std::vector<double> raw = t.owned.imMask;
        std::vector<double> table;
        const std::vector<double> smoothed = Smooth(t, &table);

        // Direction (dr, dc) of backward slot k from the later pixel.
        const int dr[4] = {-1, -1, 0, 1}, dc[4] = {0, -1, -1, -1};
        for (int c = 0; c < t.W; ++c) {
            for (int r = 0; r < t.H; ++r) {
                const int p = c * t.H + r;
                double expected = raw[p];
                double sum = 0;
                for (int k = 0; k < 4; ++k) {
                    // Link stored at p, towards an earlier pixel.
                    int r2 = r + dr[k], c2 = c + dc[k];
                    if (r2 >= 0 && r2 < t.H && c2 >= 0) {
                        const int q = c2 * t.H + r2;
                        const double rho = t.owned.Cov[p * 4 + k] /
                                           (std::sqrt(t.owned.Var[q]) * std::sqrt(t.owned.Var[p]));
                        EXPECT_EQ(table[p * 4 + k], rho);
                        sum += rho * raw[q];
                    } else {
                        EXPECT_EQ(table[p * 4 + k], 0.0);
                    }
                    // Link stored at a later pixel n, pointing back at p.
                    r2 = r - dr[k];
                    c2 = c - dc[k];
                    if (r2 >= 0 && r2 < t.H && c2 < t.W) {
                        const int n = c2 * t.H + r2;
                        sum += table[n * 4 + k] * raw[n];
                    }
                }
                expected = (expected + sum) / 9;
                EXPECT_NEAR(smoothed[p], expected < 0 ? 0 : expected, 1e-12)
                    << "H=" << t.H << " W=" << t.W << " r=" << r << " c=" << c;
            }
        }
    }
}

TEST(SmoothMask, NegativeAndNaNSumsBecomeZeroWithNoUpperClamp) {
    TestModel t(1, 3, 1, 1);
    t.owned.Var = {1, 1e-300, 1};
    t.owned.Cov = {0, 0, 0, 0, 0, 0, 0.5, 0, 0, 0, -4, 0};
    // Pixel 1's variance is tiny: its link to pixel 0 is 0.5/1e-150 = 5e149,
    // pixel 2's link to it -4/1e-150 = -4e150.
    t.owned.imMask = {0.9, 0.1, 0.8};
    const std::vector<double> smoothed = Smooth(t);
    EXPECT_EQ(smoothed[0], (0.9 + 0.1 * 5e149) / 9);  // far above 1: no upper clamp
    EXPECT_EQ(smoothed[1], 0.0);                    // 0.1 + 4.5e149 - 3.2e150 < 0, clamped
    EXPECT_EQ(smoothed[2], 0.0);                    // 0.8 - 4e150 * 0.1 < 0, clamped

    // A NaN link makes both ends' sums NaN, stored as 0.
    t.owned.Cov[6] = NAN;
    t.owned.imMask = {0.9, 0.1, 0.8};
    std::vector<double> table(4 * t.N()), withNaN(t.N());
    NeighborOffsets offsets;
    CorrelateNeighbors(t.View(), t.Sizes(), offsets, table.data());
    SmoothMask(t.View(), t.Sizes(), offsets, table.data(), withNaN.data());
    EXPECT_EQ(withNaN[0], 0.0);
    EXPECT_EQ(withNaN[1], 0.0);
}

// An indicator variance of 0 (after StepSize 1, or decayed over a long static
// scene) or below would give x/0 or 0/0; every link of such a pixel counts as
// uncorrelated. Any positive variance, however small, keeps the formula.
TEST(SmoothMask, VariancesOfZeroOrBelowGiveZeroCorrelation) {
    TestModel t(1, 5, 1, 1);
    t.owned.Var = {1, 0, 1, -1, 1};
    for (int p = 1; p < 5; ++p) t.owned.Cov[p * 4 + 2] = 0.5;  // slot 2: left neighbour
    std::vector<double> table(4 * t.N());
    NeighborOffsets offsets;
    CorrelateNeighbors(t.View(), t.Sizes(), offsets, table.data());
    for (int p = 1; p < 5; ++p) EXPECT_EQ(table[p * 4 + 2], 0.0) << "pixel " << p;

    const double subnormal = 4.9406564584124654e-322;
    t.owned.Var = {4, subnormal, 1, 1, NAN};
    t.owned.Cov[1 * 4 + 2] = 1e-308;
    t.owned.Cov[2 * 4 + 2] = subnormal;
    CorrelateNeighbors(t.View(), t.Sizes(), offsets, table.data());
    EXPECT_EQ(table[1 * 4 + 2], 1e-308 / (2 * std::sqrt(subnormal)));
    EXPECT_EQ(table[2 * 4 + 2], subnormal / (std::sqrt(subnormal) * 1));
    EXPECT_TRUE(std::isnan(table[4 * 4 + 2])) << "a NaN variance still passes through";
}

}  // namespace
}  // namespace corvane::test
