// Faults that only show after many frames from inputs the model accepts:
// a prior that underflows, indicator variances that decay to 0, and
// background weights that make a neuron overshoot. Each test is a short,
// fast reproducer; the soak test (soak/) runs the same scenes for tens of
// thousands of frames.
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "internal/ModelConstants.h"
#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "TestModel.h"

namespace corvane::test {
namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;

void Adapt(TestModel& t) {
    NeighborOffsets offsets;
    AdaptModel(t.View(), t.Sizes(), offsets, t.Frame(), t.Matrix());
}

// Every field the update writes.
bool AllFinite(const OwnedModel& m) {
    const BackgroundModel view = m.ReadView();
    for (const ModelField& field : kModelFields) {
        if (!field.written) continue;
        const DoubleView values = view.*field.view;
        for (std::int64_t i = 0; i < values.count; ++i)
            if (!std::isfinite(values.data[i])) return false;
    }
    return true;
}

// A model of a static noisy background (the synthetic scene without its
// square) with an object of a far colour over the pixels r, c in [1, 4).
struct StaticScene {
    SyntheticScene scene;
    ModelParameters parameters;
    std::vector<double> frame;
    std::vector<double> matrix;
    OwnedModel model;

    explicit StaticScene(double stepSize) {
        scene.H = 5;
        scene.W = 5;
        scene.squareSize = 0;
        parameters.stepSize = stepSize;
        scene.Render(0, frame, nullptr);
        model = BuildInitialModel(parameters, frame.data(), scene.H, scene.W);
        matrix = BuildNeighborhoodMatrix(parameters);
    }
    bool Step(std::int32_t t, bool object) {
        scene.Render(t, frame, nullptr);
        const std::int64_t N = static_cast<std::int64_t>(scene.H) * scene.W;
        if (object)
            for (int c = 1; c < 4; ++c)
                for (int r = 1; r < 4; ++r)
                    for (int ch = 0; ch < 3; ++ch) frame[ch * N + c * scene.H + r] = ch == 1 ? 20 : 240;
        return UpdateModel(model.View(), FrameImage{frame.data(), static_cast<std::int64_t>(frame.size())},
                           NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())},
                           StandardAllocator());
    }
    double CentreMask() const { return model.imMask[2 * scene.H + 2]; }
};

TEST(LongRun, PriorIsKeptAtTheSmallestNormalDouble) {
    TestModel t(1, 5, 1, 1);
    t.owned.StepSize = 0.5;
    t.owned.imMask = {0, 0, 0, 0, 0};
    t.owned.Pi = {0, 1.5 * kSmallestNormal, 3 * kSmallestNormal, 1e-300, NAN};
    Adapt(t);
    EXPECT_EQ(t.owned.Pi[0], kSmallestNormal);
    EXPECT_EQ(t.owned.Pi[1], kSmallestNormal);  // 0.75 of it would be subnormal
    EXPECT_EQ(t.owned.Pi[2], 0.5 * 3 * kSmallestNormal);  // above: the plain formula
    EXPECT_EQ(t.owned.Pi[3], 0.5 * 1e-300);
    EXPECT_TRUE(std::isnan(t.owned.Pi[4]));
}

// StepSize 0.5 halves the prior of a static pixel every frame: after about
// 1100 frames it would be 0, its raw foreground probability 0 for any colour
// and the pixel blind for good. The floor keeps it able to see the object.
TEST(LongRun, StaticSceneDoesNotBlindThePixels) {
    StaticScene s(0.5);
    for (std::int32_t t = 1; t <= 1500; ++t) ASSERT_TRUE(s.Step(t, false));
    for (const double pi : s.model.Pi) EXPECT_GE(pi, kSmallestNormal);
    double best = 0;
    for (std::int32_t t = 1501; t <= 1540; ++t) {
        ASSERT_TRUE(s.Step(t, true));
        best = std::fmax(best, s.CentreMask());
    }
    EXPECT_GT(best, 0.5) << "the object never showed at the centre";
    EXPECT_TRUE(AllFinite(s.model));
}

// StepSize 1 sets every indicator variance to exactly 0 after one frame. The
// correlations must not become 0/0 (which zeroed every mask value and then
// every prior): with the links taken as 0 the raw probability, divided by 9,
// still shows the object.
TEST(LongRun, StepSizeOneKeepsTheMaskAlive) {
    StaticScene s(1.0);
    for (std::int32_t t = 1; t <= 50; ++t) ASSERT_TRUE(s.Step(t, false));
    for (const double var : s.model.Var) EXPECT_EQ(var, 0.0);
    double best = 0;
    for (std::int32_t t = 51; t <= 60; ++t) {
        ASSERT_TRUE(s.Step(t, true));
        best = std::fmax(best, s.CentreMask());
    }
    EXPECT_GT(best, 0.1) << "the centre's mask stayed at 0";
    EXPECT_LE(best, 1.0 / 9);
    EXPECT_TRUE(AllFinite(s.model));
}

TEST(LongRun, NeuronRateIsCappedAtOne) {
    TestModel t(1, 1, 1, 3);
    t.owned.StepSize = 0.01;
    t.owned.imMask = {0.0};
    t.owned.Pi = {0.99};  // newPi = 0.9801, b = 1 / 0.0199, about 50
    t.owned.NeuroWin = {0};
    t.frame = {100, 50, 10};
    t.owned.Mu = {80, 60, 30, 80, 60, 30, 80, 60, 30};
    t.owned.Sigma2 = {300, 300, 300};
    t.matrix = {1, 0.01, 0.001, 0, 0, 0, 0, 0, 0};
    Adapt(t);
    const double b = (1 - 0.0) / (1 - (0.01 * 0.0 + (1 - 0.01) * 0.99));
    // Neuron 0: b * 1 > 1, so it moves exactly onto the colour.
    EXPECT_EQ(t.owned.Mu[0], 80 + 1.0 * 20);
    EXPECT_EQ(t.owned.Mu[1], 60 + 1.0 * -10);
    EXPECT_EQ(t.owned.Mu[2], 30 + 1.0 * -20);
    const double target = (100.0 + 400 + 400) * VarianceTargetFactor;
    EXPECT_EQ(t.owned.Sigma2[0], 300 + 1.0 * (target - 300));
    // Neurons 1 and 2: b times their weight stays below 1, the plain formula.
    const double a1 = b * 0.01, a2 = b * 0.001;
    ASSERT_LT(a1, 1.0);
    EXPECT_EQ(t.owned.Mu[3], 80 + a1 * 20);
    EXPECT_EQ(t.owned.Sigma2[1], 300 + a1 * (target - 300));
    EXPECT_EQ(t.owned.Mu[6], 80 + a2 * 20);
}

// A prior near 1, a falling mask and a small StepSize make b about 1/StepSize;
// with a weight of 1 every frame used to multiply each mean's distance from
// the colour by about b - 1, and the means overflowed to infinity and NaN
// within a few hundred frames.
TEST(LongRun, MeansStayWithinTheColoursSeen) {
    ModelParameters parameters;
    parameters.mapRows = 1;
    parameters.mapColumns = 1;
    parameters.stepSize = 0.001;
    parameters.learningRate = 1;
    const std::int32_t H = 3, W = 3;
    std::vector<double> frame(3 * H * W, 100.0);
    OwnedModel model = BuildInitialModel(parameters, frame.data(), H, W);
    model.Pi.assign(H * W, 0.999999);
    const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
    for (int t = 0; t < 1000; ++t) {
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = 98 + (t * 7 + i * 3) % 5;
        ASSERT_TRUE(UpdateModel(model.View(), FrameImage{frame.data(), 27},
                                NeighborhoodMatrix{matrix.data(), 1}, StandardAllocator()));
        for (const double mu : model.Mu) {
            ASSERT_GE(mu, 98.0) << "frame " << t;
            ASSERT_LE(mu, 102.0) << "frame " << t;
        }
        for (const double s2 : model.Sigma2) ASSERT_GE(s2, 0.0) << "frame " << t;
    }
    EXPECT_TRUE(AllFinite(model));
}

}  // namespace
}  // namespace corvane::test
