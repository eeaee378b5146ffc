#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "internal/ModelConstants.h"
#include "TestModel.h"

namespace corvane::test {
namespace {

void Adapt(TestModel& t) {
    NeighborOffsets offsets;
    AdaptModel(t.View(), t.Sizes(), offsets, t.Frame(), t.Matrix());
}

TEST(AdaptModel, StepSizesZeroAndOne) {
    TestModel t(2, 2, 1, 1);
    t.owned.imMask = {0.1, 0.7, 0.3, 0.9};
    t.owned.Pi = {0.2, 0.4, 0.6, 0.8};
    t.owned.Var = {0.1, 0.2, 0.3, 0.4};
    for (int i = 0; i < 16; ++i) t.owned.Cov[i] = 0.01 * (i + 1);

    TestModel frozen = t;
    frozen.owned.StepSize = 0;
    Adapt(frozen);
    EXPECT_EQ(frozen.owned.Pi, t.owned.Pi);
    EXPECT_EQ(frozen.owned.Var, t.owned.Var);
    // Only slots whose neighbour exists keep their value. Pixel 3 (row 1,
    // column 1) has above, above-left and left; pixel 0 none.
    const std::vector<double> kept = {0, 0, 0, 0, 0.05, 0, 0, 0, 0, 0, 0.11, 0.12, 0.13, 0.14, 0.15, 0};
    EXPECT_EQ(frozen.owned.Cov, kept);

    TestModel full = t;
    full.owned.StepSize = 1;
    Adapt(full);
    EXPECT_EQ(full.owned.Pi, t.owned.imMask);
    EXPECT_EQ(full.owned.Var, std::vector<double>(4, 0.0));
    EXPECT_EQ(full.owned.Cov, std::vector<double>(16, 0.0));
}

// A pixel's covariance reads its backward neighbours' Pi as already updated
// in this same pass.
TEST(AdaptModel, CovarianceReadsTheNeighboursUpdatedPrior) {
    TestModel t(2, 1, 1, 1);
    const double c = 0.25;
    t.owned.StepSize = c;
    t.owned.imMask = {0.8, 0.6};
    t.owned.Pi = {0.1, 0.3};
    t.owned.Var = {0.2, 0.2};
    t.owned.Cov = {0, 0, 0, 0, 0.05, 0, 0, 0};
    Adapt(t);
    const double pi0 = c * 0.8 + (1 - c) * 0.1;
    const double pi1 = c * 0.6 + (1 - c) * 0.3;
    const double e1 = 0.6 - pi1;
    EXPECT_EQ(t.owned.Pi[0], pi0);
    EXPECT_EQ(t.owned.Var[1], e1 * e1 * c + 0.2 * (1 - c));
    EXPECT_EQ(t.owned.Cov[4], (0.8 - pi0) * e1 * c + (1 - c) * 0.05);
    EXPECT_NE(t.owned.Cov[4], (0.8 - 0.1) * e1 * c + (1 - c) * 0.05);
}

TEST(AdaptModel, NeuronsMoveByTheWinnersColumnScaledByBackgroundWeight) {
    TestModel t(1, 1, 1, 3);
    t.owned.StepSize = 0.5;
    t.owned.imMask = {0.2};
    t.owned.Pi = {0.4};
    t.owned.NeuroWin = {1};
    t.frame = {100, 50, 10};
    t.owned.Mu = {90, 40, 0, 80, 60, 30, 10, 10, 10};
    t.owned.Sigma2 = {5, 6, 7};
    t.owned.MaximumVariance = {1000};
    t.matrix = {9, 9, 9, 0.1, 0.3, 0.0, 9, 9, 9};  // column 1: 0.1, 0.3, 0
    Adapt(t);
    const double newPi = 0.5 * 0.2 + 0.5 * 0.4;
    const double b = (1 - 0.2) / (1 - newPi);
    const double a1 = b * 0.3;
    EXPECT_EQ(t.owned.Mu[3], 80 + a1 * 20);
    EXPECT_EQ(t.owned.Mu[4], 60 + a1 * -10);
    EXPECT_EQ(t.owned.Mu[5], 30 + a1 * -20);
    EXPECT_EQ(t.owned.Sigma2[1], 6 + a1 * ((100.0 + 400 + 400) * 0.333333333333 - 6));
    // Weight 0: neither mean nor variance moves.
    EXPECT_EQ(t.owned.Mu[6], 10);
    EXPECT_EQ(t.owned.Sigma2[2], 7);
    EXPECT_EQ(t.owned.Mu[0], 90 + b * 0.1 * 10);
}

TEST(AdaptModel, VarianceIsCappedEvenWhenNothingMoves) {
    TestModel t(1, 1, 1, 2);
    t.owned.imMask = {1.0};  // certain foreground: b = 0
    t.owned.Pi = {0.5};
    t.owned.Sigma2 = {50, NAN};
    t.owned.MaximumVariance = {20};
    t.matrix = {1, 1, 1, 1};
    const std::vector<double> mu = t.owned.Mu;
    Adapt(t);
    EXPECT_EQ(t.owned.Mu, mu);
    EXPECT_EQ(t.owned.Sigma2[0], 20.0);
    EXPECT_TRUE(std::isnan(t.owned.Sigma2[1]));  // NaN is not clamped
}

// A prior that reaches exactly 1 must not divide by zero into every mean of
// the pixel: those neurons would be NaN for good.
TEST(AdaptModel, PriorOfOneLeavesTheNeuronsInPlace) {
    TestModel t(1, 1, 1, 2);
    t.owned.StepSize = 0.5;
    t.owned.imMask = {1.0};
    t.owned.Pi = {1.0};
    t.frame = {0, 0, 0};
    t.owned.Mu = {10, 20, 30, 40, 50, 60};
    t.owned.Sigma2 = {5, 900};
    t.owned.MaximumVariance = {100};
    t.matrix = {0.5, 0.5, 0.5, 0.5};
    Adapt(t);
    EXPECT_EQ(t.owned.Pi[0], 1.0);
    EXPECT_EQ(t.owned.Mu, (std::vector<double>{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(t.owned.Sigma2, (std::vector<double>{5, 100}));

    // Just below 1 the division stays as it is, b far above 1 included.
    TestModel u = t;
    u.owned.imMask = {0.5};
    u.owned.Pi = {1.0};  // newPi = 0.75, b = 2
    Adapt(u);
    EXPECT_EQ(u.owned.Mu[0], 10 + 2 * 0.5 * -10);
}

}  // namespace
}  // namespace corvane::test
