// The per-pixel steps that both updates share, against the formulas written
// out literally: neuron by neuron, with every library call made.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "NeighborOffsets.h"
#include "internal/PixelKernel.h"
#include "RoundedMath.h"

namespace corvane::test {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t Bits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Identical bits, except that any NaN matches any NaN.
bool SameBits(double a, double b) { return (std::isnan(a) && std::isnan(b)) || Bits(a) == Bits(b); }

struct PixelScore {
    double raw;
    std::int64_t winner;
};

// The competition of one pixel exactly as written: one neuron at a time, exp
// called for every neuron.
PixelScore LiteralScore(double x0, double x1, double x2, double prior,
                                const std::vector<double>& means,
                                std::vector<double>& variances, double minimumVariance) {
    const std::int64_t K = static_cast<std::int64_t>(variances.size());
    double best = -1.7976931348623157e308;
    double sum = 0.0;
    std::int64_t winner = 0;
    for (std::int64_t j = 0; j < K; ++j) {
        const double s = variances[j] + minimumVariance;
        const double d2 = (means[j * 3] - x0) * (means[j * 3] - x0) +
                          (means[j * 3 + 1] - x1) * (means[j * 3 + 1] - x1) +
                          (means[j * 3 + 2] - x2) * (means[j * 3 + 2] - x2);
        variances[j] = s - minimumVariance;
        const double g = ExpCorrectlyRounded((-2.756815599614018 - 1.5 * LogCorrectlyRounded(s)) - (0.5 * d2) / s);
        sum = sum + g;
        if (g > best) {
            best = g;
            winner = j;
        }
    }
    const double mean = sum / static_cast<double>(K);
    const double f = prior * 6.030862941101084e-8;
    return PixelScore{f / (mean * (1 - prior) + f), winner};
}

// Runs of random pixels with K from 1 to 40 and around the block size (so
// blocks hold many pixels, end inside a pixel, or take one pixel in
// several), neurons near and far from the colour, densities that underflow,
// and NaN, infinite, zero and negative values here and there. Every pixel
// of a run matches the literal competition, whatever block it fell in.
TEST(PixelKernel, ScoringMatchesTheLiteralCompetitionNeuronByNeuron) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0, 1);
    const double specials[] = {0.0, -0.0, kInf, -kInf, kNaN, 1e-310, 1e308, -3.0, 255.0};
    auto maybeSpecial = [&](double v) {
        return unit(rng) < 0.03 ? specials[static_cast<int>(unit(rng) * 9)] : v;
    };
    const std::int64_t block = kernel::kScoreBlock;
    std::vector<std::int64_t> sizes;
    for (std::int64_t K = 1; K <= 40; ++K) sizes.push_back(K);
    for (std::int64_t K : {block - 1, block, block + 1, 2 * block + 7}) sizes.push_back(K);
    int underflowed = 0, pixels = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const std::int64_t K = sizes[static_cast<std::size_t>(trial) % sizes.size()];
        const std::int64_t count = 1 + static_cast<std::int64_t>(unit(rng) * 3 * block) / K;
        std::vector<double> x(static_cast<std::size_t>(3 * count)), priors(static_cast<std::size_t>(count));
        std::vector<double> means(static_cast<std::size_t>(3 * K * count));
        std::vector<double> variances(static_cast<std::size_t>(K * count));
        const double minimumVariance = trial % 4 == 0 ? 0.0 : maybeSpecial(unit(rng) * 30);
        for (std::int64_t q = 0; q < count; ++q) {
            for (int ch = 0; ch < 3; ++ch) x[ch * count + q] = maybeSpecial(unit(rng) * 255);
            priors[q] = maybeSpecial(unit(rng));
            const double spread = (trial + q) % 3 == 0 ? 200 : 15;  // every third pixel mostly far off
            for (std::int64_t j = 0; j < K; ++j) {
                for (int ch = 0; ch < 3; ++ch)
                    means[(q * K + j) * 3 + ch] =
                        maybeSpecial(x[ch * count + q] + (unit(rng) - 0.5) * 2 * spread);
                variances[q * K + j] = maybeSpecial(trial % 5 == 0 ? unit(rng) : unit(rng) * 300);
            }
        }

        std::vector<double> out(variances.size(), -1), raw(priors.size(), -1), winners(priors.size(), -1);
        kernel::ScorePixels(x.data(), x.data() + count, x.data() + 2 * count, priors.data(),
                            means.data(), variances.data(), out.data(), K, count, minimumVariance,
                            raw.data(), winners.data(), RoundedMathFastestPath());
        for (std::int64_t q = 0; q < count; ++q) {
            const std::vector<double> pixelMeans(means.begin() + 3 * K * q, means.begin() + 3 * K * (q + 1));
            std::vector<double> literalVariances(variances.begin() + K * q, variances.begin() + K * (q + 1));
            const PixelScore expected =
                LiteralScore(x[q], x[count + q], x[2 * count + q], priors[q], pixelMeans,
                             literalVariances, minimumVariance);
            ASSERT_TRUE(SameBits(expected.raw, raw[q])) << "trial " << trial << ", K " << K << ", pixel " << q;
            ASSERT_EQ(static_cast<double>(expected.winner), winners[q]) << "trial " << trial << ", K " << K;
            for (std::int64_t j = 0; j < K; ++j)
                ASSERT_TRUE(SameBits(literalVariances[j], out[q * K + j]))
                    << "trial " << trial << ", pixel " << q << ", neuron " << j;
            underflowed += expected.raw == 1.0;
            ++pixels;
        }
    }
    EXPECT_GT(pixels, 10000);
    EXPECT_GT(underflowed, 50) << "the far pixels should include ones whose densities all underflow";
}

// Scoring into the input's own variances (the update in place) gives the
// bits of scoring into separate arrays.
TEST(PixelKernel, ScoringInPlaceMatchesScoringIntoSeparateArrays) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit(0, 1);
    const std::int64_t K = 9, count = 300;
    std::vector<double> x(3 * count), priors(count), means(3 * K * count), variances(K * count);
    for (double& v : x) v = unit(rng) * 255;
    for (double& v : priors) v = unit(rng);
    for (double& v : means) v = unit(rng) * 255;
    for (double& v : variances) v = unit(rng) * 0.3;  // tiny: the floor's round trip changes bits
    std::vector<double> separate(variances.size()), inPlace = variances;
    std::vector<double> raw1(count), raw2(count), win1(count), win2(count);
    kernel::ScorePixels(x.data(), x.data() + count, x.data() + 2 * count, priors.data(), means.data(),
                        variances.data(), separate.data(), K, count, 7.0, raw1.data(), win1.data(),
                        RoundedMathFastestPath());
    kernel::ScorePixels(x.data(), x.data() + count, x.data() + 2 * count, priors.data(), means.data(),
                        inPlace.data(), inPlace.data(), K, count, 7.0, raw2.data(), win2.data(),
                        RoundedMathFastestPath());
    for (std::size_t i = 0; i < separate.size(); ++i) ASSERT_EQ(Bits(separate[i]), Bits(inPlace[i]));
    for (std::int64_t q = 0; q < count; ++q) {
        ASSERT_EQ(Bits(raw1[q]), Bits(raw2[q]));
        ASSERT_EQ(win1[q], win2[q]);
    }
}

// The links the column sweep derives from row and column are the neighbours
// the offsets find, for every pixel of every small shape.
TEST(PixelKernel, LinksFromRowAndColumnAreTheOffsetsLinks) {
    for (std::int32_t H = 1; H <= 6; ++H) {
        for (std::int32_t W = 1; W <= 6; ++W) {
            for (std::int32_t p = 0; p < H * W; ++p) {
                NeighborOffsets offsets;
                ComputeBackwardOffsets(offsets, p, H);
                ComputeForwardOffsets(offsets, p, H, W);
                EXPECT_EQ(kernel::LinksAt(p % H, p / H, H, W), kernel::LinksOf(offsets, 8))
                    << "H " << H << " W " << W << " p " << p;
            }
        }
    }
}

// Adapting into separate output arrays gives the bits of adapting in place,
// and leaves the inputs as they were.
TEST(PixelKernel, NeuronsAdaptTheSameInPlaceAndIntoSeparateArrays) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int trial = 0; trial < 500; ++trial) {
        const std::int64_t K = 1 + trial % 20;
        std::vector<double> means(static_cast<std::size_t>(3 * K)), variances(static_cast<std::size_t>(K)),
            weights(static_cast<std::size_t>(K));
        for (double& v : means) v = unit(rng) * 255;
        for (double& v : variances) v = unit(rng) * 400;
        for (double& v : weights) v = trial % 7 == 0 ? 2.5 : unit(rng);  // rates above 1 now and then
        const double m = trial % 11 == 0 ? 1.0 : unit(rng);
        const double newPi = trial % 13 == 0 ? 1.0 : unit(rng);  // a prior of exactly 1 now and then
        const double maximumVariance = 50 + unit(rng) * 300;

        std::vector<double> inPlaceMeans = means, inPlaceVariances = variances;
        kernel::AdaptNeurons(10, 200, 30, m, newPi, weights.data(), K, maximumVariance,
                             inPlaceMeans.data(), inPlaceMeans.data(), inPlaceVariances.data());
        const std::vector<double> source = means;
        std::vector<double> outMeans(means.size(), kNaN);
        kernel::AdaptNeurons(10, 200, 30, m, newPi, weights.data(), K, maximumVariance,
                             means.data(), outMeans.data(), variances.data());
        ASSERT_EQ(source, means) << "trial " << trial;
        for (std::size_t i = 0; i < means.size(); ++i) ASSERT_TRUE(SameBits(inPlaceMeans[i], outMeans[i]));
        for (std::size_t i = 0; i < variances.size(); ++i)
            ASSERT_TRUE(SameBits(inPlaceVariances[i], variances[i]));
    }
}

}  // namespace
}  // namespace corvane::test
