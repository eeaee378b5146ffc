#include <cmath>

#include <gtest/gtest.h>

#include "internal/ModelConstants.h"
#include "RoundedMath.h"
#include "TestModel.h"

namespace corvane::test {
namespace {

void SetNeuron(TestModel& t, int p, int j, double r, double g, double b, double variance) {
    double* mu = &t.owned.Mu[(p * t.K + j) * 3];
    mu[0] = r;
    mu[1] = g;
    mu[2] = b;
    t.owned.Sigma2[p * t.K + j] = variance;
}

TEST(CompeteNeurons, OneNeuronOnTheColourGivesTheUnitDensity) {
    TestModel t(1, 1, 1, 1);
    SetNeuron(t, 0, 0, 10, 20, 30, 1.0);
    t.frame = {10, 20, 30};
    t.owned.Pi[0] = 0.5;
    CompeteNeurons(t.View(), t.Sizes(), t.Frame());
    const double g = ExpCorrectlyRounded(-2.756815599614018);
    const double f = 0.5 * 6.030862941101084e-8;
    EXPECT_EQ(t.owned.imMask[0], f / (g * 0.5 + f));
    EXPECT_LT(t.owned.imMask[0], 1e-6);
    EXPECT_GT(t.owned.imMask[0], 0.9e-6);
    EXPECT_EQ(t.owned.NeuroWin[0], 0.0);
}

TEST(CompeteNeurons, WinnerIsTheDensestNeuronAndTiesKeepTheLowerIndex) {
    TestModel t(1, 2, 2, 2);
    t.frame = {50, 60, 50, 60, 50, 60};  // pixel 0 is grey 50, pixel 1 grey 60
    // Pixel 0: neurons 1 and 3 are identical and closest.
    SetNeuron(t, 0, 0, 0, 0, 0, 1);
    SetNeuron(t, 0, 1, 51, 51, 51, 4);
    SetNeuron(t, 0, 2, 200, 200, 200, 4);
    SetNeuron(t, 0, 3, 51, 51, 51, 4);
    // Pixel 1: a wide neuron far away beats a narrow one that is farther still.
    SetNeuron(t, 1, 0, 255, 255, 255, 1);
    SetNeuron(t, 1, 1, 255, 255, 255, 1);
    SetNeuron(t, 1, 2, 90, 90, 90, 400);
    SetNeuron(t, 1, 3, 0, 0, 0, 1);
    CompeteNeurons(t.View(), t.Sizes(), t.Frame());
    EXPECT_EQ(t.owned.NeuroWin[0], 1.0);
    EXPECT_EQ(t.owned.NeuroWin[1], 2.0);
}

TEST(CompeteNeurons, UnderflowingAndNaNDensities) {
    // Every density underflows: the mixture is 0, so a positive prior gives
    // certain foreground and a zero prior 0/0.
    TestModel t(2, 1, 1, 2);
    t.frame = {0, 0, 0, 0, 0, 0};
    for (int p = 0; p < 2; ++p)
        for (int j = 0; j < 2; ++j) SetNeuron(t, p, j, 255, 255, 255, 1);
    t.owned.Pi = {0.3, 0.0};
    t.owned.NeuroWin = {7, 7};
    CompeteNeurons(t.View(), t.Sizes(), t.Frame());
    EXPECT_EQ(t.owned.imMask[0], 1.0);
    EXPECT_TRUE(std::isnan(t.owned.imMask[1]));
    // An underflowed density is 0, which still beats the initial best.
    EXPECT_EQ(t.owned.NeuroWin[0], 0.0);

    // NaN densities never win; with all of them NaN the winner stays 0.
    TestModel n(1, 1, 1, 3);
    n.frame = {1, 2, 3};
    SetNeuron(n, 0, 0, NAN, 0, 0, 1);
    SetNeuron(n, 0, 1, 0, 0, NAN, 1);
    SetNeuron(n, 0, 2, 0, 0, 0, NAN);
    n.owned.NeuroWin[0] = 2;
    CompeteNeurons(n.View(), n.Sizes(), n.Frame());
    EXPECT_EQ(n.owned.NeuroWin[0], 0.0);
    EXPECT_TRUE(std::isnan(n.owned.imMask[0]));
}

TEST(CompeteNeurons, PriorsOfZeroAndOne) {
    TestModel t(1, 2, 1, 1);
    t.frame.assign(6, 101.0);  // one unit from every neuron: a positive density
    t.owned.Pi = {0.0, 1.0};
    CompeteNeurons(t.View(), t.Sizes(), t.Frame());
    EXPECT_EQ(t.owned.imMask[0], 0.0);
    EXPECT_EQ(t.owned.imMask[1], 1.0);
}

TEST(CompeteNeurons, VarianceFloorIsAddedForScoringAndRemovedAfter) {
    TestModel t(1, 1, 1, 2);
    t.owned.MinimumVariance = 4.0;
    t.frame = {0, 0, 0};
    SetNeuron(t, 0, 0, 0, 0, 0, 0.0);   // scored with variance 4, stored as 0
    SetNeuron(t, 0, 1, 0, 0, 0, 0.1);   // 0.1 + 4 - 4 is not 0.1 in doubles
    t.owned.Pi[0] = 0.5;
    CompeteNeurons(t.View(), t.Sizes(), t.Frame());
    EXPECT_EQ(t.owned.Sigma2[0], 0.0);
    EXPECT_EQ(t.owned.Sigma2[1], (0.1 + 4.0) - 4.0);
    EXPECT_NE(t.owned.Sigma2[1], 0.1);
    const double g0 = ExpCorrectlyRounded(-2.756815599614018 - 1.5 * LogCorrectlyRounded(4.0));
    const double g1 = ExpCorrectlyRounded(-2.756815599614018 - 1.5 * LogCorrectlyRounded(0.1 + 4.0));
    const double f = 0.5 * UniformForegroundDensity;
    EXPECT_EQ(t.owned.imMask[0], f / ((g0 + g1) / 2 * 0.5 + f));
}

}  // namespace
}  // namespace corvane::test
