// The detector's own per-frame work split between threads: the frame's
// conversion, the closing, the hole filling, the blinking and the absorbing
// must give one thread's bits for every count, on images split into bands
// of one pixel, bands with nothing in them, and more bands than columns.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>


#include <gtest/gtest.h>

#include "Detector.h"
#include "FrameLayout.h"
#include "MaskDecision.h"
#include "ProcessThreads.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace corvane::test {
namespace {

struct Random {
    std::uint32_t state;
    std::uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    std::int64_t Below(std::int64_t n) { return static_cast<std::int64_t>(Next()) % n; }
};

// Shapes whose pixels are split into two or more tasks at every thread
// count above 1, a single row and a single column among them.
struct Shape {
    std::int32_t H, W;
};
const Shape kShapes[] = {{1, 300000}, {300000, 1}, {2, 150001}, {150001, 3}, {613, 1001}};

std::string Name(const Shape& shape, int threads) {
    return std::to_string(shape.H) + " x " + std::to_string(shape.W) + ", " +
           std::to_string(threads) + " threads";
}

// Foreground blobs (squares of 3 to 15) with background carved out of them
// (squares of 1 to 4, some at the border), and single pixels of either:
// holes of every size, regions open to the border, notches for the closing.
std::vector<std::uint8_t> BlobMask(const Shape& shape, std::uint32_t seed) {
    const std::int64_t H = shape.H, W = shape.W, N = H * W;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(N), 0);
    Random random{seed};
    const auto square = [&](std::int64_t side, std::uint8_t value) {
        const std::int64_t r0 = random.Below(H), c0 = random.Below(W);
        for (std::int64_t c = c0; c < std::min(W, c0 + side); ++c)
            for (std::int64_t r = r0; r < std::min(H, r0 + side); ++r) mask[c * H + r] = value;
    };
    for (std::int64_t i = 0; i < N / 150; ++i) square(3 + random.Below(13), 255);
    for (std::int64_t i = 0; i < N / 100; ++i) square(1 + random.Below(4), 0);
    for (std::int64_t i = 0; i < N / 50; ++i) mask[random.Below(N)] = random.Next() % 2 ? 255 : 0;
    return mask;
}

// The closing as written: every pixel's clipped window, dilation then
// erosion (separably: the OR and AND of a rectangle).
std::vector<std::uint8_t> LiteralClosing(const std::vector<std::uint8_t>& mask, const Shape& shape,
                                         std::int64_t k) {
    const std::int64_t H = shape.H, W = shape.W;
    auto pass = [&](const std::vector<std::uint8_t>& in, bool every, bool down) {
        std::vector<std::uint8_t> out(in.size());
        for (std::int64_t c = 0; c < W; ++c)
            for (std::int64_t r = 0; r < H; ++r) {
                bool any = false, all = true;
                for (std::int64_t d = -k; d <= k; ++d) {
                    const std::int64_t rr = down ? r + d : r, cc = down ? c : c + d;
                    if (rr < 0 || rr >= H || cc < 0 || cc >= W) continue;
                    any = any || in[cc * H + rr] != 0;
                    all = all && in[cc * H + rr] != 0;
                }
                out[c * H + r] = (every ? all : any) ? 255 : 0;
            }
        return out;
    };
    const std::vector<std::uint8_t> dilated = pass(pass(mask, false, true), false, false);
    return pass(pass(dilated, true, true), true, false);
}

// Hole filling as written: every 4-connected region of background is
// labelled; those with no border pixel and at most `largest` pixels become
// foreground.
std::vector<std::uint8_t> LiteralHoles(const std::vector<std::uint8_t>& mask, const Shape& shape,
                                       std::int64_t largest) {
    const std::int64_t H = shape.H, W = shape.W, N = H * W;
    std::vector<std::uint8_t> out = mask;
    std::vector<char> seen(static_cast<std::size_t>(N), 0);
    std::vector<std::int64_t> region;
    for (std::int64_t start = 0; start < N; ++start) {
        if (mask[start] != 0 || seen[start]) continue;
        region.assign(1, start);
        seen[start] = 1;
        bool border = false;
        for (std::size_t i = 0; i < region.size(); ++i) {
            const std::int64_t p = region[i], r = p % H, c = p / H;
            border = border || r == 0 || r == H - 1 || c == 0 || c == W - 1;
            const std::int64_t rows[4] = {r - 1, r + 1, r, r}, columns[4] = {c, c, c - 1, c + 1};
            for (int n = 0; n < 4; ++n) {
                if (rows[n] < 0 || rows[n] >= H || columns[n] < 0 || columns[n] >= W) continue;
                const std::int64_t q = columns[n] * H + rows[n];
                if (mask[q] != 0 || seen[q]) continue;
                seen[q] = 1;
                region.push_back(q);
            }
        }
        if (!border && static_cast<std::int64_t>(region.size()) <= largest)
            for (std::int64_t p : region) out[p] = 255;
    }
    return out;
}

TEST(DetectorThreads, ClosingAndHoleFillingGiveTheLiteralMaskOnEveryThreadCount) {
    std::uint32_t seed = 7;
    std::int64_t holes = 0;  // the test must meet some
    for (const Shape& shape : kShapes) {
        const std::vector<std::uint8_t> mask = BlobMask(shape, seed++);
        const std::vector<std::uint8_t> closed = LiteralClosing(mask, shape, 2);
        for (std::int64_t largest : {0, 1, 6, 40, 1 << 30}) {
            const std::vector<std::uint8_t> filled = LiteralHoles(closed, shape, largest);
            for (std::size_t p = 0; p < filled.size(); ++p) holes += filled[p] != closed[p];
            for (int threads : {1, 2, 3, 8, 0}) {
                // Scratch reserved for another count, or none: it is had
                // where it is short.
                MaskScratch scratch;
                if (threads == 3) {
                    ModelParameters parameters;
                    ReserveMaskScratch(parameters, shape.H, shape.W, 2, scratch);
                }
                std::vector<std::uint8_t> result = mask;
                CloseMask(result.data(), shape.H, shape.W, 5, scratch, threads);
                ASSERT_TRUE(result == closed) << "closing, " << Name(shape, threads);
                FillHoles(result.data(), shape.H, shape.W, largest, scratch, threads);
                ASSERT_TRUE(result == filled)
                    << "holes of at most " << largest << ", " << Name(shape, threads);
                // Again with the same scratch: nothing of the last walk stays.
                result = closed;
                FillHoles(result.data(), shape.H, shape.W, largest, scratch, threads);
                ASSERT_TRUE(result == filled) << "again, " << Name(shape, threads);
            }
        }
    }
    EXPECT_GT(holes, 0);
}

// A whole mask, decisions to the filled mask with shadows, through FinishMask.
TEST(DetectorThreads, FinishMaskGivesOneThreadsMaskOnEveryThreadCount) {
    ModelParameters parameters;
    parameters.shadows = 1;
    parameters.shadowValue = 127;
    std::uint32_t seed = 99;
    for (const Shape& shape : kShapes) {
        std::vector<std::uint8_t> decision = BlobMask(shape, seed++);
        Random random{seed};
        for (auto& d : decision)
            if (d == 0 && random.Next() % 7 == 0) d = kDecidedShadow;
        std::vector<std::uint8_t> one(decision.size());
        MaskScratch oneScratch;
        FinishMask(parameters, decision.data(), shape.H, shape.W, one.data(), oneScratch, 1);
        for (int threads : {2, 3, 8, 0}) {
            MaskScratch scratch;
            ReserveMaskScratch(parameters, shape.H, shape.W, threads, scratch);
            std::vector<std::uint8_t> mask(decision.size());
            FinishMask(parameters, decision.data(), shape.H, shape.W, mask.data(), scratch,
                       threads);
            ASSERT_TRUE(mask == one) << Name(shape, threads);
        }
    }
}

// The frame's conversion: every sample type, grey and alpha, padded and
// reversed rows, a column-major frame; a NaN seen by any task makes the
// frame non-finite.
TEST(DetectorThreads, EveryThreadCountReadsTheSameFrame) {
    const Shape shapes[] = {{1, 140000}, {140000, 1}, {613, 331}};
    for (const Shape& shape : shapes) {
        const std::int64_t H = shape.H, W = shape.W, N = H * W;
        Random random{static_cast<std::uint32_t>(N)};
        for (SampleType type : {SampleType::Uint8, SampleType::Uint16, SampleType::Float32,
                                SampleType::Float64}) {
            for (int channels : {1, 3, 4}) {
                const std::int64_t bytes = SampleBytes(type);
                // Rows padded by 3 samples, read bottom row first.
                const std::int64_t rowStride = (W * channels + 3) * bytes;
                std::vector<char> data(static_cast<std::size_t>(H * rowStride));
                for (auto& b : data) b = static_cast<char>(random.Next() % 200);
                if (type == SampleType::Float32 || type == SampleType::Float64)
                    for (std::size_t i = 0; i + bytes <= data.size(); i += bytes) {
                        const double v = static_cast<double>(random.Next() % 256);
                        if (type == SampleType::Float32) {
                            const float f = static_cast<float>(v);
                            std::memcpy(&data[i], &f, 4);
                        } else {
                            std::memcpy(&data[i], &v, 8);
                        }
                    }
                HostFrame frame = RowMajorFrame(data.data(), type, H, W, channels);
                frame.strides[0] = -rowStride;
                frame.data = data.data() + (H - 1) * rowStride;
                const std::vector<HostFrame> frames = {
                    frame, ColumnMajorFrame(data.data(), type, H, W, channels)};
                for (const HostFrame& f : frames) {
                    std::vector<double> one(static_cast<std::size_t>(3 * N));
                    const bool finite = ReadHostFrame(f, one.data(), 1);
                    EXPECT_TRUE(finite);
                    for (int threads : {2, 3}) {
                        std::vector<double> planes(one.size(), -1);
                        EXPECT_EQ(ReadHostFrame(f, planes.data(), threads), finite)
                            << Name(shape, threads);
                        ASSERT_TRUE(planes == one) << Name(shape, threads) << ", "
                                                   << channels << " channels";
                    }
                }
                if (type != SampleType::Float64) continue;
                // A NaN in the frame's last pixel, read by the last task.
                const double nan = std::numeric_limits<double>::quiet_NaN();
                std::memcpy(data.data() + (H - 1) * rowStride + (W - 1) * channels * bytes, &nan,
                            8);
                HostFrame plain = RowMajorFrame(data.data(), type, H, W, channels);
                plain.strides[0] = rowStride;
                std::vector<double> planes(static_cast<std::size_t>(3 * N));
                for (int threads : {1, 2, 3, 8})
                    EXPECT_FALSE(ReadHostFrame(plain, planes.data(), threads))
                        << Name(shape, threads);
            }
        }
    }
}

// A detector on each thread count gives one thread's masks, probabilities,
// models and stream, bit for bit, with the blinking, the absorbing, the
// closing and the hole filling on (a scene still enough to absorb), on a
// single row and a single column as well.
TEST(DetectorThreads, EveryThreadCountGivesOneThreadsMasksAndModels) {
    const Shape shapes[] = {{480, 360}, {1, 140000}, {140000, 1}};
    for (const Shape& shape : shapes) {
        SyntheticScene scene;
        scene.H = shape.H;
        scene.W = shape.W;
        const bool thin = std::min(shape.H, shape.W) == 1;
        scene.squareSize = thin ? 3 : 40;
        scene.noise = 2;
        ModelParameters parameters;
        // (A 5 x 5 median of a single row or column is empty.)
        if (thin) parameters.medianSize = 1;
        parameters.mapRows = 2;
        parameters.mapColumns = 2;
        parameters.initialFrames = 2;
        parameters.absorbFrames = 2;
        parameters.staticShare = 0.3;
        const int frames = 7;
        std::vector<std::vector<double>> video(frames);
        for (int t = 0; t < frames; ++t) scene.Render(t, video[t], nullptr);
        const std::size_t N = static_cast<std::size_t>(shape.H) * shape.W;
        struct Run {
            std::vector<std::vector<std::uint8_t>> masks;
            std::vector<std::vector<double>> probabilities;
            OwnedModel model;
            StreamState stream;
        };
        const auto run = [&](int threads) {
            Detector detector(parameters);
            detector.SetThreads(threads);
            std::string error;
            EXPECT_TRUE(detector.Start(shape.H, shape.W, &error)) << error;
            Run result;
            for (const auto& frame : video) {
                std::vector<std::uint8_t> mask(N);
                std::vector<double> probability(N);
                EXPECT_TRUE(detector.Process(FrameImage{frame.data(), std::int64_t(frame.size())},
                                             mask.data(), probability.data(), &error))
                    << error;
                result.masks.push_back(mask);
                result.probabilities.push_back(probability);
            }
            result.model = detector.model();
            result.stream = detector.stream();
            return result;
        };
        const Run one = run(1);
        std::size_t found = 0;
        for (std::uint8_t v : one.masks.back()) found += v != 0;
        EXPECT_GT(found, 0u) << Name(shape, 1);
        for (int threads : {2, 3, 7}) {
            const Run many = run(threads);
            for (int t = 0; t < frames; ++t) {
                ASSERT_TRUE(many.masks[t] == one.masks[t])
                    << Name(shape, threads) << ", frame " << t + 1;
                ASSERT_EQ(0, std::memcmp(many.probabilities[t].data(),
                                         one.probabilities[t].data(), N * sizeof(double)))
                    << Name(shape, threads) << ", frame " << t + 1;
            }
            EXPECT_LT(FirstDifferentField(many.model, one.model), 0) << Name(shape, threads);
            for (const StreamField& field : StreamFields())
                EXPECT_TRUE(many.stream.*field.values == one.stream.*field.values)
                    << field.name << ", " << Name(shape, threads);
        }
    }
}

// The blinking in the decision's own pass is the decision, then
// TrackBlinking; the absorbing on several threads is the absorbing on one.
TEST(DetectorThreads, BlinkingInTheDecisionsPassAndAbsorbingOnThreads) {
    const std::int32_t H = 547, W = 549;  // 300303 pixels
    const std::int64_t N = std::int64_t(H) * W;
    const std::int64_t K = 4;
    ModelParameters parameters;
    parameters.mapRows = 2;
    parameters.mapColumns = 2;
    parameters.absorbFrames = 3;
    parameters.staticShare = 0.1;
    parameters.shadows = 1;
    Random random{5};
    OwnedModel start;
    start.Mu.resize(static_cast<std::size_t>(3 * K * N));
    for (double& mu : start.Mu) mu = static_cast<double>(random.Next() % 256);
    start.Sigma2.assign(static_cast<std::size_t>(K * N), 50.0);
    start.imMask.resize(static_cast<std::size_t>(N));
    for (double& m : start.imMask) m = static_cast<double>(random.Next() % 1000) / 1000;
    start.MaximumVariance.resize(static_cast<std::size_t>(N));
    for (double& cap : start.MaximumVariance) cap = 20 + static_cast<double>(random.Next() % 80);
    start.MinimumVariance = 25;
    std::vector<double> frame(static_cast<std::size_t>(3 * N)), still(static_cast<std::size_t>(N));
    std::vector<double> history(static_cast<std::size_t>(N)), blink(static_cast<std::size_t>(N));
    for (std::int64_t p = 0; p < N; ++p) {
        for (int ch = 0; ch < 3; ++ch) frame[ch * N + p] = static_cast<double>(random.Next() % 256);
        still[p] = static_cast<double>(random.Next() % 8);
        history[p] = static_cast<double>(random.Next() % 4);
        blink[p] = static_cast<double>(random.Next() % 1000) / 1000;
    }
    std::vector<std::uint8_t> decision(static_cast<std::size_t>(N));
    DecidePixels(parameters, start.View(), frame.data(), H, W, decision.data(), still.data(),
                 blink.data());
    std::vector<double> expectedHistory = history, expectedBlink = blink;
    TrackBlinking(parameters, decision.data(), expectedHistory, expectedBlink);
    OwnedModel expected = start;
    AbsorbExplained(parameters, expected, frame.data(), decision.data(), still.data(), 20);
    EXPECT_FALSE(expected.Mu == start.Mu) << "something must be absorbed";
    EXPECT_FALSE(expectedBlink == blink) << "some blink rate must move";
    for (int threads : {1, 2, 3, 8, 0}) {
        std::vector<double> h = history, b = blink;
        const BlinkTracking tracking{b.data(), h.data()};
        std::vector<std::uint8_t> tracked(decision.size());
        DecidePixels(parameters, start.View(), frame.data(), H, W, tracked.data(), still.data(),
                     nullptr, threads, &tracking);
        EXPECT_TRUE(tracked == decision) << threads << " threads";
        EXPECT_TRUE(h == expectedHistory && b == expectedBlink) << threads << " threads";
        OwnedModel model = start;
        AbsorbExplained(parameters, model, frame.data(), decision.data(), still.data(), 20,
                        threads);
        EXPECT_TRUE(model.Mu == expected.Mu) << threads << " threads";
        EXPECT_TRUE(model.Sigma2 == expected.Sigma2) << threads << " threads";
    }
}

#if defined(__linux__)
// A host may unload the library between two frames (a MEX file cleared, a
// Python module at exit): the threads a frame ran on, kept from one of its
// steps to the next, are all gone when the frame returns, and when a frame
// is scored.
TEST(DetectorThreads, NoThreadOutlivesAFrame) {
    SyntheticScene scene;
    scene.H = 256;
    scene.W = 300;
    scene.squareSize = 30;
    ModelParameters parameters;
    parameters.initialFrames = 2;
    Detector detector(parameters);
    detector.SetThreads(4);
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
    // A thread once first, so that a runtime's own thread that starts with
    // the first (ThreadSanitizer's) is counted in `before`.
    std::thread([] {}).join();
    const int before = ProcessThreads();
    ASSERT_GT(before, 0);
    std::vector<double> frame;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(scene.H) * scene.W);
    for (int t = 0; t < 4; ++t) {
        scene.Render(t, frame, nullptr);
        const FrameImage image{frame.data(), std::int64_t(frame.size())};
        ASSERT_TRUE(detector.Process(image, mask.data(), nullptr, &error)) << error;
        EXPECT_EQ(ProcessThreads(), before) << "after frame " << t + 1;
        ASSERT_TRUE(detector.Score(image, mask.data(), nullptr, &error)) << error;
        EXPECT_EQ(ProcessThreads(), before) << "after scoring frame " << t + 1;
    }
}
#endif

}  // namespace
}  // namespace corvane::test
