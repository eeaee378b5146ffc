#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "Scoring.h"

namespace corvane::tools::test {
namespace {

cv::Mat Image(int rows, int cols, std::initializer_list<int> values) {
    cv::Mat image(rows, cols, CV_8U);
    auto it = values.begin();
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) image.at<std::uint8_t>(r, c) = static_cast<std::uint8_t>(*it++);
    return image;
}

// Hand-counted: 255 against 255 is TP; 85 and 170 are skipped whatever the
// mask says; 50 (shadow) is background; mask values of 128 and up are
// foreground.
const cv::Mat kTruth = Image(3, 4, {255, 255, 0, 50,    //
                                    255, 85, 170, 0,    //
                                    0, 0, 255, 50});
const cv::Mat kMask = Image(3, 4, {255, 0, 255, 0,      //
                                   255, 255, 255, 255,  //
                                   0, 255, 127, 200});

TEST(ScoringTest, CountsAgainstHandCountedLabels) {
    ConfusionCounts counts;
    std::string error;
    ASSERT_TRUE(CountFrame(kMask, kTruth, cv::Mat(), counts, &error)) << error;
    EXPECT_EQ(counts.tp, 2u);
    EXPECT_EQ(counts.fn, 2u);  // (0,1) and (2,2), where the mask holds 127
    EXPECT_EQ(counts.fp, 4u);  // (0,2), (1,3), (2,1) and the shadow at (2,3)
    EXPECT_EQ(counts.tn, 2u);
    EXPECT_EQ(counts.frames, 1u);

    const Scores s = ScoresOf(counts);
    EXPECT_DOUBLE_EQ(s.recall, 0.5);
    EXPECT_DOUBLE_EQ(s.specificity, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(s.fpr, 4.0 / 6.0);
    EXPECT_DOUBLE_EQ(s.fnr, 0.5);
    EXPECT_DOUBLE_EQ(s.pwc, 60.0);
    EXPECT_DOUBLE_EQ(s.precision, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(s.f, 0.4);
}

TEST(ScoringTest, RegionOfInterestAndFramesAccumulate) {
    // Zero in the last column: those pixels are not scored.
    const cv::Mat roi = Image(3, 4, {1, 255, 255, 0, 255, 255, 255, 0, 255, 255, 255, 0});
    ConfusionCounts counts;
    std::string error;
    ASSERT_TRUE(CountFrame(kMask, kTruth, roi, counts, &error)) << error;
    ASSERT_TRUE(CountFrame(kMask, kTruth, roi, counts, &error)) << error;
    EXPECT_EQ(counts.tp, 4u);
    EXPECT_EQ(counts.fn, 4u);
    EXPECT_EQ(counts.fp, 4u);
    EXPECT_EQ(counts.tn, 2u);
    EXPECT_EQ(counts.frames, 2u);
}

TEST(ScoringTest, RejectsUnknownLabelsAndMismatchedSizes) {
    ConfusionCounts counts;
    std::string error;
    EXPECT_FALSE(CountFrame(Image(1, 2, {0, 0}), Image(1, 2, {0, 100}), cv::Mat(), counts, &error));
    EXPECT_NE(error.find("100"), std::string::npos) << error;
    EXPECT_FALSE(CountFrame(Image(1, 2, {0, 0}), Image(2, 1, {0, 0}), cv::Mat(), counts, &error));
    EXPECT_FALSE(CountFrame(Image(1, 2, {0, 0}), Image(1, 2, {0, 0}), Image(1, 1, {1}), counts,
                            &error));
    // A failed frame adds nothing.
    EXPECT_EQ(counts.frames, 0u);
    EXPECT_EQ(counts.tp + counts.fp + counts.fn + counts.tn, 0u);
    // An unknown label outside the region of interest is not looked at.
    EXPECT_TRUE(CountFrame(Image(1, 2, {0, 0}), Image(1, 2, {0, 100}), Image(1, 2, {1, 0}), counts,
                           &error));
}

TEST(ScoringTest, UndefinedRatiosAreNotNumbers) {
    ConfusionCounts background;  // no foreground anywhere, nothing found
    background.tn = 10;
    const Scores s = ScoresOf(background);
    EXPECT_TRUE(std::isnan(s.recall));
    EXPECT_TRUE(std::isnan(s.precision));
    EXPECT_TRUE(std::isnan(s.f));
    EXPECT_DOUBLE_EQ(s.specificity, 1.0);
    EXPECT_DOUBLE_EQ(s.pwc, 0.0);

    ConfusionCounts allWrong;
    allWrong.fp = 3;
    allWrong.fn = 2;
    EXPECT_EQ(ScoresOf(allWrong).f, 0.0);
    EXPECT_TRUE(std::isnan(ScoresOf(ConfusionCounts{}).pwc));
}

}  // namespace
}  // namespace corvane::tools::test
