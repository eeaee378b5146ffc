#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FrameSource.h"
#include "Segmenter.h"

namespace corvane::tools::test {
namespace {

// The command takes the starting statistics slice by slice from 8-bit frames;
// the model must be exactly the one BuildInitialModelFromFrames makes from the
// whole frames, as the MATLAB toolbox does.
TEST(SegmenterTest, StartingModelEqualsTheOneBuiltFromWholeFrames) {
    ModelParameters parameters;
    parameters.initialFrames = 4;
    parameters.varianceCapFactor = 4;
    parameters.maximumVarianceLimit = 900;
    const int H = 170, W = 200;  // more pixels than one slice
    std::mt19937 random(3);
    std::vector<cv::Mat> frames;
    std::vector<std::vector<double>> modelFrames(4);
    std::vector<const double*> pointers;
    for (int f = 0; f < 4; ++f) {
        cv::Mat frame(H, W, CV_8UC3);
        for (auto it = frame.begin<cv::Vec3b>(); it != frame.end<cv::Vec3b>(); ++it)
            for (int ch = 0; ch < 3; ++ch) (*it)[ch] = static_cast<std::uint8_t>(random() % 256);
        frames.push_back(frame);
        ToModelFrame(frame, modelFrames[f]);
        pointers.push_back(modelFrames[f].data());
    }
    Segmenter segmenter(Method::Corvane, parameters);
    EXPECT_EQ(segmenter.InitialFrameCount(), 4);
    std::string error;
    ASSERT_TRUE(segmenter.Start(frames, &error)) << error;
    const OwnedModel expected = BuildInitialModelFromFrames(parameters, pointers, H, W);
    EXPECT_EQ(segmenter.model().Mu, expected.Mu);
    EXPECT_EQ(segmenter.model().Sigma2, expected.Sigma2);
    EXPECT_EQ(segmenter.model().MaximumVariance, expected.MaximumVariance);
    EXPECT_EQ(segmenter.model().Pi, expected.Pi);
    EXPECT_EQ(segmenter.model().Cov, expected.Cov);
}

}  // namespace
}  // namespace corvane::tools::test
