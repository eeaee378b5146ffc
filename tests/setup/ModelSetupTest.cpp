#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "ModelSetup.h"
#include "RoundedMath.h"

namespace corvane::test {
namespace {

TEST(MedianFrameTest, OddCountTakesTheMiddleEvenCountTheMeanOfTheTwoMiddle) {
    const std::vector<double> a{1, 10, 5}, b{3, 0, 5}, c{2, 7, 200}, d{9, 8, 0};
    EXPECT_EQ(MedianFrame({a.data(), b.data(), c.data()}, 3), (std::vector<double>{2, 7, 5}));
    EXPECT_EQ(MedianFrame({a.data(), b.data(), c.data(), d.data()}, 3),
              (std::vector<double>{2.5, 7.5, 5}));
    EXPECT_EQ(MedianFrame({a.data()}, 3), a);

    // NaN counts as larger than every number: a defined median, no undefined sort.
    std::vector<std::vector<double>> frames(33, std::vector<double>{1.0});
    for (std::size_t f = 0; f < frames.size(); f += 2) frames[f][0] = NAN;
    for (std::size_t f = 1; f < frames.size(); f += 4) frames[f][0] = -3.0;
    std::vector<const double*> pointers;
    for (const auto& frame : frames) pointers.push_back(frame.data());
    EXPECT_TRUE(std::isnan(MedianFrame(pointers, 1)[0]));  // 17 of 33 are NaN
    frames[0][0] = frames[2][0] = 7.0;                     // now 15
    EXPECT_EQ(MedianFrame(pointers, 1)[0], 7.0);
}

TEST(BuildInitialModelTest, NeuronsStartAtTheMedianOfTheLeadingFrames) {
    ModelParameters parameters;
    parameters.mapRows = 2;
    parameters.mapColumns = 1;
    parameters.initialSpread = 0;
    parameters.initialVariance = 100;
    parameters.maximumVariance = 100;
    const std::int32_t H = 1, W = 2;  // N = 2, frames hold 6 values
    const std::vector<double> f1{10, 20, 30, 40, 50, 60}, f2{12, 90, 32, 42, 52, 62},
        f3{11, 21, 31, 41, 51, 250};
    const OwnedModel model = BuildInitialModelFromFrames(parameters, {f1.data(), f2.data(), f3.data()}, H, W);
    // Mu: (p*K + j)*3 + ch; the frame: ch*N + p.
    const std::vector<double> expected{11, 31, 51, 11, 31, 51, 21, 41, 62, 21, 41, 62};
    EXPECT_EQ(model.Mu, expected);
    EXPECT_EQ(model.Sigma2, std::vector<double>(4, parameters.initialVariance));
    EXPECT_EQ(model.Pi, std::vector<double>(2, parameters.initialPrior));
}

TEST(ScheduleTest, CalibrationRateAppliesOnlyWhileLargerAndWithinItsFrames) {
    ModelParameters parameters;
    parameters.learningRate = 0.05;
    parameters.calibrationFrames = 40;
    parameters.calibrationRate = 1.0;
    EXPECT_EQ(LearningRateForFrame(parameters, 1), 1.0);
    EXPECT_EQ(LearningRateForFrame(parameters, 10), 0.1);
    EXPECT_EQ(LearningRateForFrame(parameters, 20), 0.05);
    EXPECT_EQ(LearningRateForFrame(parameters, 30), 0.05);   // 1/30 is below the rate
    EXPECT_EQ(LearningRateForFrame(parameters, 41), 0.05);
    parameters.calibrationFrames = 0;
    EXPECT_EQ(LearningRateForFrame(parameters, 1), 0.05);

    parameters.calibrationFrames = 40;
    const std::vector<double> first = NeighborhoodMatrixForFrame(parameters, 2);
    ModelParameters fast = parameters;
    fast.learningRate = 0.5;
    EXPECT_EQ(first, BuildNeighborhoodMatrix(fast));
}

TEST(NeighborhoodMatrixTest, GaussianOverMapDistance) {
    ModelParameters parameters;
    parameters.mapRows = 2;
    parameters.mapColumns = 2;
    parameters.learningRate = 0.1;
    parameters.neighborhoodWidth = 1.0;
    const std::vector<double> m = BuildNeighborhoodMatrix(parameters);
    ASSERT_EQ(m.size(), 16u);
    // Neuron j at map row j % 2, column j / 2; column w holds the rates when w wins.
    EXPECT_EQ(m[0 * 4 + 0], 0.1);
    EXPECT_EQ(m[0 * 4 + 1], 0.1 * ExpCorrectlyRounded(-0.5));   // one row apart
    EXPECT_EQ(m[0 * 4 + 3], 0.1 * ExpCorrectlyRounded(-1.0));   // diagonal
    EXPECT_EQ(m[3 * 4 + 2], m[2 * 4 + 3]);
    parameters.neighborhoodWidth = 0;
    const std::vector<double> winnerOnly = BuildNeighborhoodMatrix(parameters);
    for (int w = 0; w < 4; ++w)
        for (int j = 0; j < 4; ++j) EXPECT_EQ(winnerOnly[w * 4 + j], w == j ? 0.1 : 0.0);
}

// The matrix's exp is correctly rounded, not the C library's: at width 1.73
// glibc 2.36 gives exp(-1 / (2 * 1.73^2)) one unit in the last place too
// high, and another C library may err elsewhere.
TEST(NeighborhoodMatrixTest, ExpIsCorrectlyRoundedOnEveryPlatform) {
    ModelParameters parameters;
    parameters.mapRows = 2;
    parameters.mapColumns = 2;
    parameters.learningRate = 0.5;
    parameters.neighborhoodWidth = 1.73;
    const std::vector<double> m = BuildNeighborhoodMatrix(parameters);
    ASSERT_EQ(m.size(), 16u);
    EXPECT_EQ(-1 / (2 * 1.73 * 1.73), -0x1.5624a05cca091p-3);
    // One column apart, both ways; the nearest double to the exact value.
    EXPECT_EQ(m[0 * 4 + 2], 0.5 * 0x1.b13a31a11861bp-1);
    EXPECT_EQ(m[2 * 4 + 0], 0.5 * 0x1.b13a31a11861bp-1);
}

// Column-major H x W helper: rows given top to bottom.
std::vector<double> Map(std::int32_t H, std::int32_t W, std::initializer_list<double> rows) {
    std::vector<double> map(static_cast<std::size_t>(H * W));
    auto it = rows.begin();
    for (std::int32_t r = 0; r < H; ++r)
        for (std::int32_t c = 0; c < W; ++c) map[static_cast<std::size_t>(c * H + r)] = *it++;
    return map;
}

TEST(ThresholdMaskTest, StrictlyAboveTheThreshold) {
    ModelParameters parameters;
    parameters.maskThreshold = 0.25;
    parameters.medianSize = 1;
    const std::vector<double> map = Map(1, 4, {0.25, 0.2500001, NAN, 3.0});
    std::vector<std::uint8_t> mask(4);
    ThresholdMask(parameters, map.data(), 1, 4, mask.data());
    EXPECT_EQ(mask, (std::vector<std::uint8_t>{0, 255, 0, 255}));
}

TEST(ThresholdMaskTest, MedianKeepsMajoritiesWithZerosOutsideTheImage) {
    ModelParameters parameters;
    parameters.maskThreshold = 0.5;
    parameters.medianSize = 3;
    const std::int32_t H = 4, W = 5;
    // A lone pixel (row 0, col 4) vanishes, a hole (row 2, col 1) is filled,
    // and the block's corner at the image border needs 5 of its 9 window
    // pixels but has only 4 inside the image.
    const std::vector<double> map = Map(H, W, {1, 1, 1, 0, 1,   //
                                               1, 1, 1, 0, 0,   //
                                               1, 0, 1, 0, 0,   //
                                               1, 1, 1, 0, 0});
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(H * W));
    ThresholdMask(parameters, map.data(), H, W, mask.data());
    const std::vector<double> expected = Map(H, W, {0, 1, 0, 0, 0,   //
                                                    1, 1, 1, 0, 0,   //
                                                    1, 1, 1, 0, 0,   //
                                                    0, 1, 0, 0, 0});
    for (std::size_t p = 0; p < mask.size(); ++p)
        EXPECT_EQ(mask[p], expected[p] > 0 ? 255 : 0) << "pixel " << p;
}

// The median's side grows with the frame from medianSize, odd, up to 31; a
// median of 1 stays off and a share of 0 keeps medianSize.
TEST(ThresholdMaskTest, MedianGrowsWithTheFrame) {
    ModelParameters parameters;
    const struct {
        std::int32_t H, W, side;
    } sizes[] = {{120, 160, 5},  {240, 320, 5},  {240, 360, 5},    {480, 640, 9},
                 {480, 720, 9},  {720, 1280, 15}, {1080, 1920, 23}, {8000, 8000, 31}};
    for (const auto& size : sizes)
        EXPECT_EQ(MedianSizeFor(parameters, size.H, size.W), size.side) << size.H << " x " << size.W;
    parameters.medianSize = 11;
    EXPECT_EQ(MedianSizeFor(parameters, 480, 640), 11);
    parameters.medianSize = 1;
    EXPECT_EQ(MedianSizeFor(parameters, 1080, 1920), 1);
    parameters.medianSize = 5;
    parameters.medianShare = 0;
    EXPECT_EQ(MedianSizeFor(parameters, 1080, 1920), 5);

    // On a 640 x 480 map a 5 x 5 blob is a speck for the 9 x 9 median, and
    // an object for a fixed 5 x 5 one.
    const std::int32_t H = 480, W = 640;
    std::vector<double> map(static_cast<std::size_t>(H) * W, 0.0);
    for (std::int32_t c = 300; c < 305; ++c)
        for (std::int32_t r = 200; r < 205; ++r) map[static_cast<std::size_t>(c) * H + r] = 1.0;
    std::vector<std::uint8_t> grown(map.size()), fixed(map.size());
    ThresholdMask(ModelParameters(), map.data(), H, W, grown.data());
    ThresholdMask(parameters, map.data(), H, W, fixed.data());
    const std::size_t centre = static_cast<std::size_t>(302) * H + 202;
    EXPECT_EQ(grown[centre], 0);
    EXPECT_EQ(fixed[centre], 255);
}

// The median filter counted window by window, the way its description reads.
std::vector<std::uint8_t> MedianByWindows(const ModelParameters& parameters,
                                          const std::vector<double>& map, std::int32_t H,
                                          std::int32_t W) {
    const std::int32_t half = parameters.medianSize / 2;
    const std::int32_t needed = (parameters.medianSize * parameters.medianSize + 1) / 2;
    std::vector<std::uint8_t> mask(map.size());
    for (std::int32_t c = 0; c < W; ++c)
        for (std::int32_t r = 0; r < H; ++r) {
            std::int32_t count = 0;
            for (std::int32_t cc = std::max(c - half, 0); cc <= std::min(c + half, W - 1); ++cc)
                for (std::int32_t rr = std::max(r - half, 0); rr <= std::min(r + half, H - 1); ++rr)
                    count += map[static_cast<std::size_t>(cc) * H + rr] > parameters.maskThreshold;
            mask[static_cast<std::size_t>(c) * H + r] = count >= needed ? 255 : 0;
        }
    return mask;
}

// Random maps (NaN included) with about `share` of the pixels above 0.5.
std::vector<double> RandomMap(std::size_t n, std::uint64_t seed, double share) {
    std::vector<double> map(n);
    for (std::size_t p = 0; p < n; ++p) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const double u = static_cast<double>(seed >> 11) / 9007199254740992.0;
        map[p] = p % 97 == 5 ? NAN : u < share ? 0.9 : 0.1;
    }
    return map;
}

// Every window size (even ones too), on shapes thinner and wider than the
// window, gives the window counts, on one thread and on several.
TEST(ThresholdMaskTest, MedianIsTheWindowCountOnEveryShapeAndThreadCount) {
    const struct {
        std::int32_t H, W;
    } shapes[] = {{1, 1}, {1, 40}, {40, 1}, {2, 3}, {7, 5}, {33, 29}};
    for (std::int32_t size : {2, 3, 4, 5, 9}) {
        for (const auto& shape : shapes) {
            ModelParameters parameters;
            parameters.maskThreshold = 0.5;
            parameters.medianSize = size;
            const std::vector<double> map =
                RandomMap(static_cast<std::size_t>(shape.H) * shape.W, 11 + size, 0.5);
            const std::vector<std::uint8_t> expected =
                MedianByWindows(parameters, map, shape.H, shape.W);
            for (int threads : {1, 2, 3, 8}) {
                std::vector<std::uint8_t> mask(map.size(), 7);
                ThresholdMask(parameters, map.data(), shape.H, shape.W, mask.data(), threads);
                EXPECT_EQ(mask, expected) << shape.H << "x" << shape.W << ", size " << size
                                          << ", " << threads << " threads";
            }
        }
    }
}

// Images large enough to be split between threads, by columns: a tall one of
// three columns (fewer than the threads, narrower than the window), a wide
// one of two rows and a square one all give one thread's mask.
TEST(ThresholdMaskTest, SplitBetweenThreadsGivesOneThreadsMask) {
    const struct {
        std::int32_t H, W;
    } shapes[] = {{90000, 3}, {2, 150000}, {400, 700}};
    for (const auto& shape : shapes) {
        ModelParameters parameters;
        parameters.maskThreshold = 0.5;
        parameters.medianSize = 5;
        const std::vector<double> map =
            RandomMap(static_cast<std::size_t>(shape.H) * shape.W, 3, 0.45);
        std::vector<std::uint8_t> one(map.size());
        ThresholdMask(parameters, map.data(), shape.H, shape.W, one.data(), 1);
        for (int threads : {2, 3, 8, 0}) {
            std::vector<std::uint8_t> mask(map.size(), 7);
            ThresholdMask(parameters, map.data(), shape.H, shape.W, mask.data(), threads);
            EXPECT_TRUE(mask == one) << shape.H << "x" << shape.W << ", " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

TEST(LeadingFrameStatisticsTest, RobustVarianceFromTheMedianAbsoluteDeviation) {
    // N = 1: the frames hold R, G, B of one pixel. Red varies, with one
    // outlier that the median absolute deviation ignores.
    const std::vector<double> f1{10, 50, 7}, f2{14, 50, 7}, f3{12, 50, 7}, f4{250, 50, 7},
        f5{11, 50, 7};
    const FrameStatistics s =
        LeadingFrameStatistics({f1.data(), f2.data(), f3.data(), f4.data(), f5.data()}, 1);
    EXPECT_EQ(s.median, (std::vector<double>{12, 50, 7}));
    // |x - 12| = 2, 2, 0, 238, 1: median 2.
    const double s0 = 1.4826 * 2.0;
    ASSERT_EQ(s.variance.size(), 1u);
    EXPECT_EQ(s.variance[0], (s0 * s0 + 0.0 * 0.0 + 0.0 * 0.0) / 3);
    EXPECT_EQ(LeadingFrameStatistics({f4.data()}, 1).variance, std::vector<double>{0.0});
}

TEST(LeadingFrameStatisticsTest, CapsAndStartingVariancesFollowTheVariance) {
    ModelParameters parameters;
    parameters.mapRows = 1;
    parameters.mapColumns = 2;
    parameters.initialVariance = 30;
    parameters.maximumVariance = 100;
    parameters.varianceCapFactor = 4;
    parameters.maximumVarianceLimit = 900;
    FrameStatistics statistics;
    statistics.median.assign(9, 128.0);  // N = 3
    statistics.variance = {5, 50, 400};
    const OwnedModel model = BuildInitialModelFromStatistics(parameters, statistics, 1, 3);
    // Steady pixel: the base cap and the starting variance; moderate: cap
    // 4 * 50 = 200, start 50; lively: 4 * 400 = 1600 limited to 900, start 400.
    EXPECT_EQ(model.MaximumVariance, (std::vector<double>{100, 200, 900}));
    EXPECT_EQ(model.Sigma2, (std::vector<double>{30, 30, 50, 50, 400, 400}));
}

TEST(BuildInitialModelTest, SpreadPlacesNeuronsEvenlyAroundTheColourWithinRange) {
    ModelParameters parameters;
    parameters.mapRows = 3;
    parameters.mapColumns = 1;
    parameters.initialSpread = 10;
    const std::vector<double> frame{5, 100, 250};  // one pixel
    const OwnedModel model = BuildInitialModel(parameters, frame.data(), 1, 1);
    EXPECT_EQ(model.Mu, (std::vector<double>{0, 90, 240, 5, 100, 250, 15, 110, 255}));
}

// Every field of a one-frame model of a 2 x 2 image, worked out by hand: the
// neurons at the frame's colours spread by -10 and +10 and clamped to 0..255;
// variance 0 in one frame, so the cap is maximumVariance limited to
// maximumVarianceLimit and the starting variance is capped by it; the
// covariances start at the indicator variance where the neighbour exists.
TEST(BuildInitialModelTest, OneFrameModelOfATinyImageFieldByField) {
    ModelParameters parameters;
    parameters.mapRows = 1;
    parameters.mapColumns = 2;
    parameters.initialSpread = 10;
    parameters.initialVariance = 400;
    parameters.maximumVariance = 120;
    parameters.maximumVarianceLimit = 120;
    parameters.initialPrior = 0.05;
    parameters.initialIndicatorVariance = 0.125;
    parameters.minimumVariance = 25;
    parameters.stepSize = 0.01;
    // Pixels p = 0 (row 0, column 0), 1 (row 1, column 0), 2 (row 0, column 1),
    // 3 (row 1, column 1); red plane, green plane, blue plane.
    const std::vector<double> frame{3, 250, 17, 99, 0, 255, 128, 8, 5, 100, 246, 60};
    const OwnedModel model = BuildInitialModel(parameters, frame.data(), 2, 2);

    // Mu: (p*K + j)*3 + ch.
    EXPECT_EQ(model.Mu, (std::vector<double>{0, 0, 0,        13, 10, 15,      // p = 0
                                             240, 245, 90,   255, 255, 110,   // p = 1
                                             7, 118, 236,    27, 138, 255,    // p = 2
                                             89, 0, 50,      109, 18, 70}));  // p = 3
    EXPECT_EQ(model.MaximumVariance, std::vector<double>(4, 120));
    EXPECT_EQ(model.Sigma2, std::vector<double>(8, 120));
    EXPECT_EQ(model.imMask, std::vector<double>(4, 0));
    EXPECT_EQ(model.Pi, std::vector<double>(4, 0.05));
    EXPECT_EQ(model.NeuroWin, std::vector<double>(4, 0));
    EXPECT_EQ(model.Var, std::vector<double>(4, 0.125));
    // Cov: p*4 + s, neighbours above, above-left, left, below-left.
    const double v = 0.125;
    EXPECT_EQ(model.Cov, (std::vector<double>{0, 0, 0, 0,    // p = 0: none
                                              v, 0, 0, 0,    // p = 1: above
                                              0, 0, v, v,    // p = 2: left, below-left
                                              v, v, v, 0})); // p = 3: above, above-left, left
    EXPECT_EQ(model.NumMapRows, 1);
    EXPECT_EQ(model.NumMapColumns, 2);
    EXPECT_EQ(model.NumImageRows, 2);
    EXPECT_EQ(model.NumImageColumns, 2);
    EXPECT_EQ(model.MinimumVariance, 25);
    EXPECT_EQ(model.StepSize, 0.01);
    EXPECT_EQ(model.CurrentFrame, 0);
}

}  // namespace
}  // namespace corvane::test
