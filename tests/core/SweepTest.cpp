// The one-pass UpdateModel against the four-pass UpdateModelReference: the same
// bits in every field, frame after frame, on random models full of awkward
// values.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "internal/ModelConstants.h"
#include "SyntheticScene.h"
#include "RandomModel.h"
#include "TestModel.h"
#include "internal/PixelKernel.h"
#include "RoundedMath.h"
#include "RoundedTables.inc"

namespace corvane::test {
namespace {

// Runs `frames` updates on two copies of `t`, each frame a fresh random frame,
// and compares everything after every frame.
void ExpectSameSequence(TestModel& t, Values& values, int frames) {
    TestModel reference = t;
    for (int frame = 0; frame < frames; ++frame) {
        if (frame > 0)
            for (double& x : t.frame) x = values.Field(0, 255);
        reference.frame = t.frame;
        const bool expectedOk = UpdateModelReference(reference.View(), reference.Frame(),
                                                     reference.Matrix(), StandardAllocator());
        const bool ok = UpdateModel(t.View(), t.Frame(), t.Matrix(), StandardAllocator());
        ASSERT_EQ(expectedOk, ok);
        ASSERT_TRUE(SameModel(reference.owned, t.owned)) << "after frame " << frame;
    }
}

TEST(Sweep, MatchesTheReferenceOnRandomModelsOfEveryShapeAndMapSize) {
    std::uint64_t seed = 1;
    for (const Shape& shape : kShapes) {
        for (std::int32_t K = 1; K <= 16; ++K) {
            // K as a map: a single row of K, or 2 x K/2 where it divides.
            const std::int32_t mapRows = K % 2 == 0 ? 2 : 1;
            for (double specialShare : {0.0, 0.02, 0.2}) {
                SCOPED_TRACE("H " + std::to_string(shape.H) + " W " + std::to_string(shape.W) +
                             " K " + std::to_string(K) + " special share " +
                             std::to_string(specialShare));
                TestModel t(shape.H, shape.W, mapRows, K / mapRows);
                Values values(seed++, specialShare);
                Randomize(t, values);
                ExpectSameSequence(t, values, 3);
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST(Sweep, MatchesTheReferenceWithMoreNeuronsThanOneScoringBlock) {
    const std::int32_t maps[][2] = {{17, 1}, {4, 8}, {3, 11}};
    std::uint64_t seed = 1000;
    for (const auto& map : maps) {
        for (const Shape& shape : {Shape{1, 1}, Shape{3, 4}}) {
            TestModel t(shape.H, shape.W, map[0], map[1]);
            Values values(seed++, 0.05);
            Randomize(t, values);
            ExpectSameSequence(t, values, 3);
            if (HasFatalFailure()) return;
        }
    }
}

// Corner cases of whole models rather than single values.
TEST(Sweep, MatchesTheReferenceOnDegenerateModels) {
    Values values(77, 0.0);
    {  // every density underflows: raw probability 1 (or NaN where Pi is 0)
        TestModel t(4, 5, 3, 3);
        Randomize(t, values);
        for (double& x : t.frame) x = 255;
        for (double& mu : t.owned.Mu) mu = 0;
        for (double& s2 : t.owned.Sigma2) s2 = 1;
        t.owned.MinimumVariance = 0;
        ExpectSameSequence(t, values, 2);
    }
    {  // everything NaN
        TestModel t(3, 4, 2, 2);
        for (double* field : {&t.owned.MinimumVariance, &t.owned.StepSize})
            *field = kNaN;
        for (std::vector<double>* field : {&t.owned.Mu, &t.owned.Sigma2, &t.owned.Pi,
                                           &t.owned.Var, &t.owned.Cov, &t.owned.MaximumVariance,
                                           &t.frame, &t.matrix})
            for (double& v : *field) v = kNaN;
        ExpectSameSequence(t, values, 2);
    }
    {  // Var 0 everywhere, negative covariances, StepSize 1 then 0
        for (double step : {1.0, 0.0}) {
            TestModel t(6, 5, 3, 1);
            Randomize(t, values);
            for (double& v : t.owned.Var) v = 0;
            for (double& cov : t.owned.Cov) cov = -std::fabs(cov);
            t.owned.StepSize = step;
            ExpectSameSequence(t, values, 3);
        }
    }
    {  // Pi exactly 1 everywhere and exactly 0 everywhere
        for (double prior : {1.0, 0.0}) {
            TestModel t(5, 3, 2, 3);
            Randomize(t, values);
            for (double& pi : t.owned.Pi) pi = prior;
            ExpectSameSequence(t, values, 2);
        }
    }
}

// A realistic run: a learned model on a scene with a moving square.
TEST(Sweep, MatchesTheReferenceOnAMovingSquare) {
    for (std::int32_t mapSide : {3, 4}) {
        SyntheticScene scene;
        scene.H = 29;
        scene.W = 23;
        scene.squareSize = 7;
        std::vector<double> frame;
        scene.Render(0, frame, nullptr);
        ModelParameters parameters;
        parameters.mapRows = mapSide;
        parameters.mapColumns = mapSide;
        OwnedModel reference = BuildInitialModel(parameters, frame.data(), scene.H, scene.W);
        OwnedModel onePass = reference;
        const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
        const NeighborhoodMatrix weights{matrix.data(), std::int64_t(matrix.size())};
        for (int t = 0; t < 40; ++t) {
            scene.Render(t, frame, nullptr);
            const FrameImage image{frame.data(), std::int64_t(frame.size())};
            ASSERT_TRUE(UpdateModelReference(reference.View(), image, weights, StandardAllocator()));
            ASSERT_TRUE(UpdateModel(onePass.View(), image, weights, StandardAllocator()));
            ASSERT_TRUE(SameModel(reference, onePass)) << "map " << mapSide << ", frame " << t;
        }
    }
}

// The block exp gives +0 without computing at and below the underflow bound.
// Around it the scalar function must agree: +0 at and below it, the smallest
// subnormal just above.
TEST(Sweep, ExpUnderflowBoundIsExact) {
    const double bound = rounded::kExpLargestZero;
    EXPECT_EQ(Bits(ExpCorrectlyRounded(bound)), Bits(0.0));
    EXPECT_EQ(ExpCorrectlyRounded(std::nextafter(bound, 0.0)), std::numeric_limits<double>::denorm_min());
    double x = bound;
    for (int i = 0; i < 100000; ++i, x = std::nextafter(x, -kInf))
        ASSERT_EQ(Bits(ExpCorrectlyRounded(x)), Bits(0.0)) << x;
    for (double below : {-746.0, -1000.0, -1e300, -kInf})
        EXPECT_EQ(Bits(ExpCorrectlyRounded(below)), Bits(0.0)) << below;
}

// A neuron whose exponent lands on the bound, and one whose exponent is the
// double above it: the density is +0 in the first case and the smallest
// subnormal in the second. Next to a neuron of density exactly 0 (neuron 0,
// far away), only the second wins, so NeuroWin shows which one was computed.
TEST(Sweep, MatchesTheReferenceAtTheExpUnderflowBound) {
    // With effective variance 1, a frame colour of 0 and a neuron at
    // (mu0, mu1, 0), the exponent is -G - 0.5 * (mu0^2 + mu1^2). Not every
    // double is reachable through mu0 alone, so search mu1 as well.
    auto exponent = [](double mu0, double mu1) {
        return (-GaussianLogNormalizer - 1.5 * LogCorrectlyRounded(1.0)) -
               (0.5 * (mu0 * mu0 + mu1 * mu1 + 0.0)) / 1.0;
    };
    const double targets[] = {rounded::kExpLargestZero, std::nextafter(rounded::kExpLargestZero, 0.0)};
    for (int i = 0; i < 2; ++i) {
        const double target = targets[i];
        const double start = std::sqrt(2 * (-GaussianLogNormalizer - target));
        double mu0 = 0, mu1 = 0;
        bool found = false;
        for (int a = -64; a <= 64 && !found; ++a) {
            mu0 = start + a * 1e-14 * start;
            for (int b = 0; b < 4096 && !found; ++b) {
                mu1 = b * 0x1p-24;
                found = exponent(mu0, mu1) == target;
            }
        }
        ASSERT_TRUE(found) << "no neuron reaches exponent " << target;

        TestModel t(1, 1, 1, 2);
        t.owned.MinimumVariance = 0;
        t.owned.Sigma2 = {1.0, 1.0};
        t.owned.Pi = {0.5};
        t.frame = {0, 0, 0};
        t.owned.Mu = {1000, 0, 0, mu0, mu1, 0};
        TestModel reference = t;
        ASSERT_TRUE(UpdateModelReference(reference.View(), reference.Frame(), reference.Matrix(),
                                         StandardAllocator()));
        ASSERT_TRUE(t.Update());
        EXPECT_TRUE(SameModel(reference.owned, t.owned));
        EXPECT_EQ(t.owned.NeuroWin[0], i == 0 ? 0.0 : 1.0);
    }
}

}  // namespace
}  // namespace corvane::test
