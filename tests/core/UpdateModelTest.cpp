#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SyntheticScene.h"
#include "TestModel.h"

namespace corvane::test {
namespace {

// Records every scratch block the update obtains and releases.
struct AllocationLog {
    static std::vector<std::string> events;
    static int failAt;  // allocation number that fails, or -1
    static int allocations;
    static HostAllocator Host() {
        HostAllocator host;
        host.allocate = [](std::size_t bytes) -> void* {
            if (allocations++ == failAt) return nullptr;
            void* block = std::malloc(bytes);
            events.push_back("allocate " + std::to_string(bytes));
            return block;
        };
        host.release = [](void* block) {
            events.push_back("release");
            std::free(block);
        };
        return host;
    }
    static void Reset(int fail) {
        events.clear();
        failAt = fail;
        allocations = 0;
    }
};
std::vector<std::string> AllocationLog::events;
int AllocationLog::failAt = -1;
int AllocationLog::allocations = 0;

TEST(UpdateModel, CountsTheFrameAndUsesScratchInTheHostsOrder) {
    TestModel t(3, 2, 1, 2);
    t.owned.CurrentFrame = 41;
    AllocationLog::Reset(-1);
    ASSERT_TRUE(UpdateModel(t.View(), t.Frame(), t.Matrix(), AllocationLog::Host()));
    EXPECT_EQ(t.owned.CurrentFrame, 42.0);
    const std::vector<std::string> expected = {"allocate 32", "allocate 48", "allocate 192",
                                               "release", "release", "release"};
    EXPECT_EQ(AllocationLog::events, expected);
}

TEST(UpdateModel, LeavesTheModelUntouchedWhenItCannotRun) {
    for (int fail = 0; fail < 3; ++fail) {
        TestModel t(2, 2, 1, 1);
        const OwnedModel before = t.owned;
        AllocationLog::Reset(fail);
        EXPECT_FALSE(UpdateModel(t.View(), t.Frame(), t.Matrix(), AllocationLog::Host()));
        EXPECT_EQ(t.owned.CurrentFrame, before.CurrentFrame);
        EXPECT_EQ(t.owned.imMask, before.imMask);
        EXPECT_EQ(AllocationLog::events.size(), 2u * fail) << "every obtained block released";
    }
    TestModel t(2, 2, 1, 1);
    t.owned.Cov.pop_back();
    EXPECT_FALSE(t.Update());
    EXPECT_EQ(t.owned.CurrentFrame, 0.0);
}

TEST(UpdateModel, SinglePixelHasNoNeighbours) {
    TestModel t(1, 1, 1, 1);
    t.owned.Cov = {0.3, 0.3, 0.3, 0.3};
    t.owned.Mu = {0, 0, 0};
    t.owned.Pi = {0.5};
    t.frame = {255, 255, 255};  // far from the neuron: raw probability 1
    t.matrix = {0.5};
    ASSERT_TRUE(t.Update());
    EXPECT_EQ(t.owned.imMask[0], 1.0 / 9);
    EXPECT_EQ(t.owned.Cov, std::vector<double>(4, 0.0));
}

// The full update on a textured scene with a moving square: the model stays
// finite, finds the square and leaves the background alone.
TEST(UpdateModel, FindsAMovingSquareOverManyFrames) {
    SyntheticScene scene;
    scene.H = 40;
    scene.W = 50;
    scene.squareSize = 8;
    SyntheticScene empty = scene;
    empty.squareSize = 0;
    std::vector<double> frame;
    std::vector<std::uint8_t> truth;
    empty.Render(0, frame, nullptr);
    // The update alone, thresholded without the detector's decision (whose
    // feedback lets the default threshold sit lower).
    ModelParameters parameters;
    parameters.maskThreshold = 0.25;
    OwnedModel owned = BuildInitialModel(parameters, frame.data(), scene.H, scene.W);
    const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
    const std::int64_t N = static_cast<std::int64_t>(scene.H) * scene.W;

    std::int64_t tp = 0, fp = 0, fn = 0;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(N));
    for (int t = 0; t < 200; ++t) {
        scene.Render(t, frame, &truth);
        ASSERT_TRUE(UpdateModel(owned.View(), FrameImage{frame.data(), 3 * N},
                                NeighborhoodMatrix{matrix.data(), std::int64_t(matrix.size())},
                                StandardAllocator()));
        if (t < 50) continue;
        ThresholdMask(parameters, owned.imMask.data(), scene.H, scene.W, mask.data());
        for (std::int64_t p = 0; p < N; ++p) {
            const bool found = mask[p] != 0;
            tp += found && truth[p];
            fp += found && !truth[p];
            fn += !found && truth[p];
        }
    }
    for (const std::vector<double>* field :
         {&owned.Mu, &owned.Sigma2, &owned.imMask, &owned.Pi, &owned.Var, &owned.Cov})
        for (double v : *field) ASSERT_TRUE(std::isfinite(v));
    EXPECT_EQ(owned.CurrentFrame, 200.0);
    const double precision = double(tp) / double(tp + fp);
    const double recall = double(tp) / double(tp + fn);
    EXPECT_GT(precision, 0.8);
    EXPECT_GT(recall, 0.8);
}

}  // namespace
}  // namespace corvane::test
