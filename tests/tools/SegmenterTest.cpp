#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FrameSource.h"
#include "Segmenter.h"
#include "UpdateModel.h"

#include <opencv2/core.hpp>

namespace corvane::tools::test {
namespace {

// Random 8-bit frames and the same frames in the model's layout.
void RandomFrames(int H, int W, int count, unsigned seed, std::vector<cv::Mat>& frames,
                  std::vector<std::vector<double>>& modelFrames) {
    std::mt19937 random(seed);
    frames.clear();
    modelFrames.assign(static_cast<std::size_t>(count), {});
    for (int f = 0; f < count; ++f) {
        cv::Mat frame(H, W, CV_8UC3);
        for (auto it = frame.begin<cv::Vec3b>(); it != frame.end<cv::Vec3b>(); ++it)
            for (int ch = 0; ch < 3; ++ch) (*it)[ch] = static_cast<std::uint8_t>(random() % 256);
        frames.push_back(frame);
        ToModelFrame(frame, modelFrames[f]);
    }
}

// The start reads nothing ahead: frame t is segmented by a model built from
// frames 1..t. With the flicker tracking off and the prior band wide open,
// the model after frame initialFrames is the one built from those frames,
// updated once with the last of them.
TEST(SegmenterTest, ModelAfterTheStartIsBuiltFromTheFramesSoFar) {
    ModelParameters parameters;
    parameters.initialFrames = 4;
    parameters.flickerStep = 0;
    parameters.priorFloor = 0;
    parameters.priorCeiling = 1;
    const int H = 17, W = 20;
    std::vector<cv::Mat> frames;
    std::vector<std::vector<double>> modelFrames;
    RandomFrames(H, W, 4, 3, frames, modelFrames);
    std::vector<const double*> pointers;
    for (const auto& f : modelFrames) pointers.push_back(f.data());

    Segmenter segmenter(Method::Corvane, parameters);
    std::string error;
    ASSERT_TRUE(segmenter.Start(H, W, &error)) << error;
    cv::Mat mask;
    for (int f = 0; f < 4; ++f)
        ASSERT_TRUE(segmenter.Process(frames[f], modelFrames[f], mask, nullptr, &error)) << error;

    OwnedModel expected = BuildInitialModelFromFrames(parameters, pointers, H, W);
    expected.CurrentFrame = 3;
    const std::vector<double> matrix = NeighborhoodMatrixForFrame(parameters, 4);
    ASSERT_TRUE(UpdateModel(expected.View(), FrameImage{modelFrames[3].data(), 3 * H * W},
                            NeighborhoodMatrix{matrix.data(), static_cast<std::int64_t>(matrix.size())},
                            StandardAllocator()));
    const OwnedModel& got = segmenter.model();
    EXPECT_EQ(got.CurrentFrame, 4);
    EXPECT_EQ(got.Mu, expected.Mu);
    EXPECT_EQ(got.Sigma2, expected.Sigma2);
    EXPECT_EQ(got.MaximumVariance, expected.MaximumVariance);
    EXPECT_EQ(got.Pi, expected.Pi);
    EXPECT_EQ(got.Cov, expected.Cov);
    EXPECT_EQ(got.imMask, expected.imMask);
}

// What a streaming host needs: the mask of frame t depends on frames 1..t
// only. Two videos that agree up to frame 12 and differ afterwards get the
// same first 12 masks, with the default start, prior band and flicker
// tracking (which look at earlier frames) in play.
TEST(SegmenterTest, MasksDependOnlyOnTheFramesSoFar) {
    const int H = 12, W = 14, T = 16, same = 12;
    std::vector<cv::Mat> a, b;
    std::vector<std::vector<double>> modelA, modelB;
    RandomFrames(H, W, T, 5, a, modelA);
    RandomFrames(H, W, T, 6, b, modelB);
    // A steadier video: the first frame plus a little noise, so masks are not trivial.
    for (int f = 1; f < T; ++f) {
        cv::addWeighted(a[0], 0.9, a[f], 0.1, 0, a[f]);
        cv::addWeighted(a[0], 0.9, b[f], 0.1, 0, b[f]);
    }
    for (int f = 0; f < same; ++f) b[f] = a[f].clone();
    for (int f = 0; f < T; ++f) {
        ToModelFrame(a[f], modelA[f]);
        ToModelFrame(b[f], modelB[f]);
    }
    Segmenter first(Method::Corvane, ModelParameters{}), second(Method::Corvane, ModelParameters{});
    std::string error;
    ASSERT_TRUE(first.Start(a[0].rows, a[0].cols, &error));
    ASSERT_TRUE(second.Start(b[0].rows, b[0].cols, &error));
    cv::Mat maskA, maskB;
    bool laterDiffers = false;
    for (int f = 0; f < T; ++f) {
        ASSERT_TRUE(first.Process(a[f], modelA[f], maskA, nullptr, &error)) << error;
        ASSERT_TRUE(second.Process(b[f], modelB[f], maskB, nullptr, &error)) << error;
        if (f < same) {
            EXPECT_EQ(cv::norm(maskA, maskB, cv::NORM_INF), 0) << "frame " << f + 1;
            EXPECT_EQ(first.model().imMask, second.model().imMask) << "frame " << f + 1;
        } else {
            laterDiffers = laterDiffers || first.model().imMask != second.model().imMask;
        }
    }
    EXPECT_TRUE(laterDiffers);
}

// A frame of another size is refused before anything is read from it.
TEST(SegmenterTest, FrameOfAnotherSizeIsRefused) {
    std::vector<cv::Mat> frames;
    std::vector<std::vector<double>> modelFrames;
    RandomFrames(8, 9, 1, 7, frames, modelFrames);
    Segmenter segmenter(Method::Corvane, ModelParameters{});
    std::string error;
    ASSERT_TRUE(segmenter.Start(8, 9, &error));
    cv::Mat mask;
    std::vector<double> shorter(modelFrames[0].begin(), modelFrames[0].end() - 3);
    EXPECT_FALSE(segmenter.Process(frames[0], shorter, mask, nullptr, &error));
    EXPECT_NE(error.find("8 x 9 pixels"), std::string::npos) << error;
}

}  // namespace
}  // namespace corvane::tools::test
