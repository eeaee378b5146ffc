// A detector whose memory runs out in the middle of a frame: every
// allocation a frame makes, one at a time, is made to fail, and the detector
// must come back exactly as it was and then go on as if nothing had happened.
//
// This binary replaces the global operator new so that the allocation to fail
// can be chosen; the update's scratch comes from the detector's host
// allocator, which the test sets to one that fails on the same count.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Detector.h"
#include "ModelSetup.h"
#include "SyntheticScene.h"

namespace {

// Allocations counted while armed; the one numbered gFailAt fails.
std::atomic<bool> gArmed{false};
std::atomic<long> gCount{0};
std::atomic<long> gFailAt{0};
std::atomic<long> gFailed{0};

bool ShouldFail() {
    if (!gArmed.load(std::memory_order_relaxed)) return false;
    if (++gCount != gFailAt.load()) return false;
    ++gFailed;
    return true;
}

void* Allocate(std::size_t bytes) {
    if (ShouldFail()) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

}  // namespace

void* operator new(std::size_t bytes) {
    void* block = Allocate(bytes);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t bytes) { return ::operator new(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace corvane::test {
namespace {

HostAllocator FailingHost() {
    HostAllocator host;
    host.allocate = [](std::size_t bytes) { return Allocate(bytes); };
    host.release = [](void* block) { std::free(block); };
    return host;
}

// Everything that makes up what a detector is between frames, as seen from
// outside, for comparing a detector before and after a failed frame.
struct Snapshot {
    bool started;
    bool sizeFixed;
    std::int32_t H, W;
    std::int64_t frames;
    OwnedModel model;
    StreamState stream;
};

Snapshot Take(const Detector& d) {
    return Snapshot{d.started(), d.sizeFixed(), d.rows(), d.columns(),
                    d.framesProcessed(), d.model(), d.stream()};
}

void ExpectSame(const Snapshot& a, const Snapshot& b, const std::string& where) {
    EXPECT_EQ(a.started, b.started) << where;
    EXPECT_EQ(a.sizeFixed, b.sizeFixed) << where;
    EXPECT_EQ(a.H, b.H) << where;
    EXPECT_EQ(a.W, b.W) << where;
    EXPECT_EQ(a.frames, b.frames) << where;
    const OwnedModel &m = a.model, &n = b.model;
    EXPECT_TRUE(m.Mu == n.Mu && m.Sigma2 == n.Sigma2 && m.imMask == n.imMask && m.Pi == n.Pi &&
                m.NeuroWin == n.NeuroWin && m.Var == n.Var && m.Cov == n.Cov &&
                m.MaximumVariance == n.MaximumVariance && m.CurrentFrame == n.CurrentFrame)
        << where << ": the model changed";
    const StreamState &s = a.stream, &t = b.stream;
    EXPECT_EQ(s.frameNumber, t.frameNumber) << where;
    EXPECT_EQ(s.H, t.H) << where;
    EXPECT_EQ(s.W, t.W) << where;
    EXPECT_TRUE(s.leadingFrames == t.leadingFrames) << where << ": the start's frames";
    for (const StreamField& field : StreamFields())
        EXPECT_TRUE(s.*field.values == t.*field.values) << where << ": " << field.name;
}

class DetectorMemoryTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        // Wide enough for the median filter and the frame's per-pixel work
        // to be split between two threads.
        scene.H = 40;
        scene.W = 1700;
        scene.squareSize = 9;
        parameters.mapRows = 2;
        parameters.mapColumns = 2;
        parameters.initialFrames = 3;
        parameters.calibrationFrames = 5;
        parameters.calibrationRate = 0.5;
        parameters.shadows = 1;
        frames.resize(9);
        for (std::size_t t = 0; t < frames.size(); ++t)
            scene.Render(static_cast<std::int32_t>(t), frames[t], nullptr);
    }
    std::size_t N() const { return static_cast<std::size_t>(scene.H) * scene.W; }
    FrameImage Frame(std::size_t t) const {
        return FrameImage{frames[t].data(), static_cast<std::int64_t>(frames[t].size())};
    }

    SyntheticScene scene;
    ModelParameters parameters;
    std::vector<std::vector<double>> frames;
};

// Every allocation of every frame fails in turn: the start's frames, the
// calibration, the frames after; the detector is unchanged after each
// failure, says it ran out of memory, writes no mask, and in the end has
// given the masks, probabilities and model of a detector that never failed.
TEST_P(DetectorMemoryTest, AFrameThatRunsOutOfMemoryChangesNothing) {
    const int threads = GetParam();
    Detector plain(parameters), failing(parameters);
    plain.SetThreads(threads);
    failing.SetThreads(threads);
    failing.SetAllocator(FailingHost());
    std::string error;
    ASSERT_TRUE(plain.Start(scene.H, scene.W, &error));
    ASSERT_TRUE(failing.Start(scene.H, scene.W, &error));
    long failures = 0;
    for (std::size_t t = 0; t < frames.size(); ++t) {
        std::vector<std::uint8_t> expected(N()), mask(N());
        std::vector<double> expectedProbability(N()), probability(N());
        ASSERT_TRUE(plain.Process(Frame(t), expected.data(), expectedProbability.data(), &error))
            << error;
        for (long at = 1;; ++at) {
            const Snapshot before = Take(failing);
            std::fill(mask.begin(), mask.end(), 77);
            std::fill(probability.begin(), probability.end(), -1.0);
            gCount = 0;
            gFailAt = at;
            gFailed = 0;
            gArmed = true;
            const bool ok = failing.Process(Frame(t), mask.data(), probability.data(), &error);
            gArmed = false;
            const std::string where = "frame " + std::to_string(t + 1) + ", allocation " +
                                      std::to_string(at);
            if (ok) {
                EXPECT_EQ(gFailed.load(), 0) << where << ": a failed allocation went unnoticed";
                break;
            }
            ++failures;
            EXPECT_EQ(gFailed.load(), 1) << where;
            EXPECT_TRUE(failing.outOfMemory()) << where;
            EXPECT_NE(error.find("not enough memory"), std::string::npos) << where << ": " << error;
            EXPECT_EQ(mask, std::vector<std::uint8_t>(N(), 77)) << where << ": a mask was written";
            ExpectSame(before, Take(failing), where);
            ASSERT_LT(at, 200) << "a frame that never succeeds";
        }
        EXPECT_FALSE(failing.outOfMemory());
        EXPECT_EQ(mask, expected) << "frame " << t + 1;
        EXPECT_EQ(probability, expectedProbability) << "frame " << t + 1;
    }
    EXPECT_GT(failures, static_cast<long>(frames.size())) << "too few allocations were tried";
    ExpectSame(Take(plain), Take(failing), "the end");
}

INSTANTIATE_TEST_SUITE_P(Threads, DetectorMemoryTest, ::testing::Values(1, 2));

// A first frame that runs out of memory does not fix the image size: the
// detector may be started again on another.
TEST_F(DetectorMemoryTest, AFailedFirstFrameLeavesTheSizeOpen) {
    Detector detector(parameters);
    detector.SetAllocator(FailingHost());
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error));
    EXPECT_FALSE(detector.sizeFixed());
    std::vector<std::uint8_t> mask(N());
    gCount = 0;
    gFailAt = 3;
    gArmed = true;
    EXPECT_FALSE(detector.Process(Frame(0), mask.data(), nullptr, &error));
    gArmed = false;
    EXPECT_TRUE(detector.outOfMemory());
    EXPECT_FALSE(detector.sizeFixed());
    EXPECT_TRUE(detector.model().Mu.empty());
    EXPECT_EQ(detector.framesProcessed(), 0);
    ASSERT_TRUE(detector.Process(Frame(0), mask.data(), nullptr, &error)) << error;
    EXPECT_TRUE(detector.sizeFixed());
    EXPECT_EQ(detector.framesProcessed(), 1);
}

// Scoring a frame that runs out of memory is refused as out of memory too,
// and changes nothing.
TEST_F(DetectorMemoryTest, ScoringThatRunsOutOfMemoryChangesNothing) {
    Detector detector(parameters);
    detector.SetThreads(2);
    detector.SetAllocator(FailingHost());
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error));
    std::vector<std::uint8_t> mask(N());
    for (std::size_t t = 0; t < 4; ++t)
        ASSERT_TRUE(detector.Process(Frame(t), mask.data(), nullptr, &error)) << error;
    for (long at = 1;; ++at) {
        const Snapshot before = Take(detector);
        gCount = 0;
        gFailAt = at;
        gFailed = 0;
        gArmed = true;
        const bool ok = detector.Score(Frame(4), mask.data(), nullptr, &error);
        gArmed = false;
        ExpectSame(before, Take(detector), "scoring, allocation " + std::to_string(at));
        if (ok) break;
        EXPECT_TRUE(detector.outOfMemory());
        ASSERT_LT(at, 200);
    }
}

}  // namespace
}  // namespace corvane::test
