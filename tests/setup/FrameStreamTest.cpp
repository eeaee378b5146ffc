// What a host does between frames: the prior band keeps a long quiet scene
// able to see an object, the flicker variance follows the background's own
// change but not passing objects and raises the cap only there, and the start
// reads nothing ahead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FrameStream.h"
#include "ModelSetup.h"
#include "UpdateModel.h"

namespace corvane {
namespace {

// A cheap, portable noise source: splitmix64, four bytes summed to an
// approximately normal value of unit spread.
struct Noise {
    std::uint64_t state;
    double Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return (double((z & 0xFF) + ((z >> 8) & 0xFF) + ((z >> 16) & 0xFF) + ((z >> 24) & 0xFF)) -
                510.0) / 147.8;
    }
};

// Runs `quiet` frames of a still H x W wall (colour 100, 110, 120) with sensor
// noise of 2.5 per channel, then one frame with a 6 x 6 square 40 colour units
// brighter (23 per channel) in the middle; returns the fraction of the
// square's pixels in the mask of that frame and counts the mask's pixels
// more than one pixel away from it (the smoothing blurs the square's rim).
double FoundAfterQuiet(const ModelParameters& parameters, std::int64_t quiet,
                       std::int64_t* falsePixels) {
    const std::int32_t H = 16, W = 20;
    const std::int64_t N = std::int64_t(H) * W;
    Noise noise{7};
    StreamState state;
    OwnedModel model;
    std::vector<double> frame(3 * N);
    std::vector<std::uint8_t> mask(N);
    for (std::int64_t t = 1; t <= quiet + 1; ++t) {
        for (std::int64_t p = 0; p < N; ++p) {
            const std::int64_t r = p % H, c = p / H;
            const bool object = t == quiet + 1 && r >= 5 && r < 11 && c >= 7 && c < 13;
            for (int ch = 0; ch < 3; ++ch)
                frame[ch * N + p] = std::round(100 + 10 * ch + (object ? 23 : 0) + 2.5 * noise.Next());
        }
        PrepareFrame(parameters, state, model, frame.data(), H, W);
        const std::vector<double> matrix = NeighborhoodMatrixForFrame(parameters, t);
        EXPECT_TRUE(UpdateModel(model.View(), FrameImage{frame.data(), 3 * N},
                                NeighborhoodMatrix{matrix.data(), std::int64_t(matrix.size())},
                                StandardAllocator()));
    }
    ThresholdMask(parameters, model.imMask.data(), H, W, mask.data());
    std::int64_t found = 0;
    *falsePixels = 0;
    for (std::int64_t p = 0; p < N; ++p) {
        const std::int64_t r = p % H, c = p / H;
        const bool object = r >= 5 && r < 11 && c >= 7 && c < 13;
        if (object && mask[p]) ++found;
        const bool near = r >= 4 && r < 12 && c >= 6 && c < 14;
        if (!near && mask[p]) ++*falsePixels;
    }
    return double(found) / 36.0;
}

// After 6,000 quiet frames (more than three minutes at 30 fps; the prior would
// be near 1e-28 without the band) an object is found as after a few hundred. Without the band the prior shrinks until the same object is
// invisible: the test would fail with priorFloor = 0.
TEST(PriorBandTest, AnObjectIsFoundAfterALongQuietAsAfterAShortOne) {
    const ModelParameters parameters;
    std::int64_t falseShort = 0, falseLong = 0, falseUnbanded = 0;
    const double afterShort = FoundAfterQuiet(parameters, 300, &falseShort);
    const double afterLong = FoundAfterQuiet(parameters, 6000, &falseLong);
    EXPECT_GE(afterShort, 0.9);
    EXPECT_GE(afterLong, 0.9) << "the object is still seen after 6,000 quiet frames";
    EXPECT_EQ(falseShort, 0);
    EXPECT_EQ(falseLong, 0) << "and the noise is still background";

    ModelParameters unbanded = parameters;
    unbanded.priorFloor = 0;
    EXPECT_LT(FoundAfterQuiet(unbanded, 6000, &falseUnbanded), 0.5)
        << "without a floor the prior shrinks until the object is lost";
}

TEST(PriorBandTest, PriorsOutsideTheBandAreMovedToItsEdgesAndNaNIsLeft) {
    ModelParameters parameters;
    parameters.priorFloor = 0.01;
    parameters.priorCeiling = 0.9;
    OwnedModel model;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    model.Pi = {0.0, 1e-300, 0.01, 0.5, 0.9, 1.0, nan, -1.0};
    KeepPriorInBand(parameters, model);
    EXPECT_EQ(model.Pi[0], 0.01);
    EXPECT_EQ(model.Pi[1], 0.01);
    EXPECT_EQ(model.Pi[2], 0.01);
    EXPECT_EQ(model.Pi[3], 0.5);
    EXPECT_EQ(model.Pi[4], 0.9);
    EXPECT_EQ(model.Pi[5], 0.9) << "a prior of 1 would make the pixel foreground for good";
    EXPECT_TRUE(std::isnan(model.Pi[6]));
    EXPECT_EQ(model.Pi[7], 0.01);
}

// One pixel: the flicker variance after a run of frame-to-frame changes, each
// given as the squared change per channel.
struct FlickerPixel {
    ModelParameters parameters;
    OwnedModel model;
    std::vector<double> flicker{10.0}, startCap{100.0};
    std::vector<double> previous{0, 0, 0}, frame{0, 0, 0};

    FlickerPixel() {
        model.Sigma2 = {10, 950};
        model.MaximumVariance = {100};
    }
    void Change(double squared) {
        const double d = std::sqrt(squared);
        for (int ch = 0; ch < 3; ++ch) frame[ch] = previous[ch] + (frame[0] >= 128 ? -d : d);
        TrackFlicker(parameters, frame.data(), previous.data(), startCap, flicker, model);
        previous = frame;
    }
};

TEST(FlickerTest, FollowsTheBackgroundsOwnChangeNotPassingObjects) {
    // A steady pixel with camera noise: small changes (well within
    // minimumVariance); then a car passes for 20 frames (large changes at its
    // edges and on its body) and the pixel is steady again.
    FlickerPixel steady;
    for (int t = 0; t < 400; ++t) steady.Change(t % 3 == 0 ? 16.0 : 4.0);
    EXPECT_GE(steady.flicker[0], 4.0 / 1.06) << "the median of the changes";
    EXPECT_LE(steady.flicker[0], 4.0 * 1.06);
    EXPECT_EQ(steady.model.MaximumVariance[0], 100.0) << "camera noise keeps the start cap";
    const double before = steady.flicker[0];
    for (int t = 0; t < 20; ++t) steady.Change(3000.0);
    for (int t = 0; t < 60; ++t) steady.Change(t % 3 == 0 ? 16.0 : 4.0);
    EXPECT_LE(steady.flicker[0], 1.2 * before) << "a passing car leaves the flicker as it was";
    EXPECT_EQ(steady.model.MaximumVariance[0], 100.0);

    // Leaves: large changes in most frames. The flicker variance climbs to
    // them and the cap rises with it, up to the limit.
    FlickerPixel leaves;
    leaves.parameters.flickerCapFactor = 0.5;
    for (int t = 0; t < 300; ++t) leaves.Change(t % 3 == 0 ? 9.0 : 1200.0);
    EXPECT_GT(leaves.flicker[0], 1200.0 / 1.06);
    EXPECT_LT(leaves.flicker[0], 1200.0 * 1.06);
    EXPECT_EQ(leaves.model.MaximumVariance[0],
              0.5 * (leaves.flicker[0] - leaves.parameters.minimumVariance));
    leaves.parameters.flickerCapFactor = 8;
    leaves.Change(1200.0);
    EXPECT_EQ(leaves.model.MaximumVariance[0], leaves.parameters.maximumVarianceLimit);
    EXPECT_EQ(leaves.model.Sigma2[0], 10.0) << "the variances themselves are the update's";
}

TEST(FlickerTest, NaNChangesCountAsNoRise) {
    FlickerPixel pixel;
    pixel.frame = {std::numeric_limits<double>::quiet_NaN(), 0, 0};
    TrackFlicker(pixel.parameters, pixel.frame.data(), pixel.previous.data(), pixel.startCap,
                 pixel.flicker, pixel.model);
    EXPECT_EQ(pixel.flicker[0], 10.0 / 1.05);
    EXPECT_EQ(pixel.model.MaximumVariance[0], 100.0);
}

// The flicker step, the cap and the still counts of one pixel, the formulas
// one after the other as TrackFlicker and StillCounts describe them.
struct LiteralFlicker {
    double flicker, cap, still;
};
LiteralFlicker LiteralFlickerStep(const ModelParameters& parameters, const double* now,
                                  const double* before, double flicker, double startCap,
                                  double still) {
    const double d0 = now[0] - before[0], d1 = now[1] - before[1], d2 = now[2] - before[2];
    const double change = (d0 * d0 + d1 * d1 + d2 * d2) / 3;
    const double up = 1 + parameters.flickerStep;
    const double next = change > flicker ? flicker * up : flicker / up;
    double cap = parameters.flickerCapFactor * (next - parameters.minimumVariance);
    if (cap > parameters.maximumVarianceLimit) cap = parameters.maximumVarianceLimit;
    if (cap < startCap) cap = startCap;
    return LiteralFlicker{next, cap, change < parameters.minimumVariance ? still + 1 : 0};
}

// The stream's per-pixel pass takes several pixels at once; on images of
// one row, one column and sizes that are no multiple of that, with NaN and
// infinities in the frames and in the start caps, every pixel ends with the
// bits of the literal step, and the still counts with those NextStillCounts
// foresaw.
TEST(FlickerTest, EveryPixelGetsTheLiteralStepsBits) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::int32_t H, W;
    } shapes[] = {{1, 1}, {1, 7}, {7, 1}, {3, 5}, {2, 2}, {5, 9}};
    for (const auto& shape : shapes) {
        ModelParameters parameters;
        parameters.flickerCapFactor = 3;
        const std::int64_t N = std::int64_t(shape.H) * shape.W;
        OwnedModel model;
        model.Pi.assign(N, 0.3);
        model.MaximumVariance.assign(N, 40.0);
        for (std::int64_t p = 0; p < N; p += 4) model.MaximumVariance[p] = p % 8 ? inf : nan;
        Noise noise{static_cast<std::uint64_t>(N) + 11};
        StreamState state;
        state.startFromFrames = false;
        std::vector<double> frame(3 * N);
        std::vector<double> flicker, cap, still, before;
        for (int t = 1; t <= 12; ++t) {
            for (std::int64_t i = 0; i < 3 * N; ++i) {
                // Steady pixels, changes of every size, NaN and infinities.
                const double spread = (i + t) % 3 == 0 ? 0.5 : 40;
                frame[i] = (i * 7 + t) % 23 == 0   ? nan
                           : (i * 5 + t) % 29 == 0 ? -inf
                                                  : 120 + spread * noise.Next();
            }
            std::vector<double> foreseen;
            if (t >= 2) {
                NextStillCounts(parameters, state, frame.data(), foreseen);
                before = state.previousFrame;
                flicker = state.flicker;
                cap = state.startCap;
                still = state.still;
            }
            PrepareFrame(parameters, state, model, frame.data(), shape.H, shape.W);
            if (t < 2) continue;
            for (std::int64_t p = 0; p < N; ++p) {
                const double now[3] = {frame[p], frame[N + p], frame[2 * N + p]};
                const double old[3] = {before[p], before[N + p], before[2 * N + p]};
                const LiteralFlicker literal =
                    LiteralFlickerStep(parameters, now, old, flicker[p], cap[p], still[p]);
                const std::string what = std::to_string(shape.H) + "x" +
                                         std::to_string(shape.W) + ", frame " +
                                         std::to_string(t) + ", pixel " + std::to_string(p);
                const auto bits = [](double v) {
                    std::uint64_t b;
                    std::memcpy(&b, &v, sizeof b);
                    return b;
                };
                EXPECT_EQ(bits(state.flicker[p]), bits(literal.flicker)) << what;
                EXPECT_EQ(bits(model.MaximumVariance[p]), bits(literal.cap)) << what;
                EXPECT_EQ(bits(state.still[p]), bits(literal.still)) << what;
                EXPECT_EQ(bits(state.still[p]), bits(foreseen[p])) << what;
            }
            // The frame is kept as it came, NaN and all.
            EXPECT_EQ(std::memcmp(state.previousFrame.data(), frame.data(),
                                  frame.size() * sizeof(double)),
                      0);
        }
    }
}

// The start takes the frames as they come: after frame t <= initialFrames the
// frames kept are exactly 1..t, and none after the start.
TEST(StreamStartTest, KeepsTheFramesOfTheStartAndNoMore) {
    ModelParameters parameters;
    parameters.initialFrames = 3;
    parameters.mapRows = 3;  // an odd K: neuron (K - 1) / 2 starts at the median
    parameters.mapColumns = 3;
    const std::int32_t H = 2, W = 3;
    StreamState state;
    OwnedModel model;
    std::vector<double> frame(3 * H * W);
    for (int t = 1; t <= 5; ++t) {
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = 10.0 * t + double(i);
        EXPECT_EQ(PrepareFrame(parameters, state, model, frame.data(), H, W), t);
        EXPECT_EQ(state.leadingFrames.size(), t < 3 ? std::size_t(t) : 0u) << "frame " << t;
        if (t <= 3) {
            EXPECT_EQ(model.CurrentFrame, t - 1);
            // Neurons around the median of frames 1..t, channel 0 of pixel 0:
            // 10 * median(1..t).
            const double median = t == 2 ? 15.0 : 10.0 * ((t + 1) / 2);
            const std::int64_t K = 9;
            EXPECT_EQ(model.Mu[(0 * K + (K - 1) / 2) * 3 + 0], median) << "frame " << t;
        }
        model.CurrentFrame += 1;  // as the update would
    }
    EXPECT_EQ(state.frameNumber, 5);
}

// The per-pixel steps between frames split between threads: every thread
// count gives one thread's priors, caps, flicker variances and kept frame,
// bit for bit, on shapes large enough to be split (a single row and a single
// column among them), with priors pushed out of the band, NaN in the frames
// and the flicker off as well as on.
TEST(StreamThreadsTest, EveryThreadCountGivesOneThreadsBits) {
    const struct {
        std::int32_t H, W;
    } shapes[] = {{1, 300000}, {300000, 1}, {257, 1031}};
    for (const auto& shape : shapes) {
        for (double flickerStep : {0.05, 0.0}) {
            ModelParameters parameters;
            parameters.flickerStep = flickerStep;
            const std::int64_t N = std::int64_t(shape.H) * shape.W;
            // A model continued: the steps read and write only its priors and
            // caps.
            OwnedModel start;
            start.Pi.assign(N, 0.3);
            start.MaximumVariance.assign(N, 40.0);
            Noise noise{static_cast<std::uint64_t>(N)};
            std::vector<std::vector<double>> frames(4, std::vector<double>(3 * N));
            for (auto& frame : frames)
                for (std::int64_t i = 0; i < 3 * N; ++i)
                    frame[i] = i % 1009 == 3 ? std::numeric_limits<double>::quiet_NaN()
                                             : 120 + 30 * noise.Next();
            StreamState one;
            one.startFromFrames = false;
            OwnedModel oneModel = start;
            for (const auto& frame : frames) {
                PrepareFrame(parameters, one, oneModel, frame.data(), shape.H, shape.W, 1);
                for (std::int64_t p = 0; p < N; p += 7) oneModel.Pi[p] = p % 2 ? 1.5 : -1.0;
            }
            for (int threads : {2, 3, 8, 0}) {
                StreamState state;
                state.startFromFrames = false;
                OwnedModel model = start;
                for (const auto& frame : frames) {
                    PrepareFrame(parameters, state, model, frame.data(), shape.H, shape.W, threads);
                    for (std::int64_t p = 0; p < N; p += 7) model.Pi[p] = p % 2 ? 1.5 : -1.0;
                }
                const std::string what = std::to_string(shape.H) + "x" + std::to_string(shape.W) +
                                         ", flicker step " + std::to_string(flickerStep) + ", " +
                                         std::to_string(threads) + " threads";
                // memcmp: NaN in the frames must be kept as it came.
                const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
                    return a.size() == b.size() &&
                           std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
                };
                EXPECT_TRUE(same(model.Pi, oneModel.Pi)) << what;
                EXPECT_TRUE(same(model.MaximumVariance, oneModel.MaximumVariance)) << what;
                EXPECT_TRUE(same(state.flicker, one.flicker)) << what;
                EXPECT_TRUE(same(state.previousFrame, one.previousFrame)) << what;
                EXPECT_TRUE(same(state.previousFrame, frames.back())) << what;
            }
        }
    }
}

}  // namespace
}  // namespace corvane
