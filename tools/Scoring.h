// The change-detection benchmark's scores of binary masks against label images.
#pragma once

#include <cstdint>
#include <string>

#include <opencv2/core.hpp>

namespace corvane::tools {

// Ground-truth labels.
constexpr std::uint8_t kLabelStatic = 0;
constexpr std::uint8_t kLabelShadow = 50;         // background
constexpr std::uint8_t kLabelOutsideRoi = 85;     // not scored
constexpr std::uint8_t kLabelUnknown = 170;       // not scored
constexpr std::uint8_t kLabelMoving = 255;        // foreground

struct ConfusionCounts {
    std::uint64_t tp = 0, fp = 0, fn = 0, tn = 0;
    std::uint64_t frames = 0;  // frames added
};

struct Scores {
    double recall = 0, specificity = 0, fpr = 0, fnr = 0, pwc = 0, precision = 0, f = 0;
};

// Adds one frame. `mask`: CV_8U, a pixel is foreground when >= 128. `truth`:
// CV_8U labels. `roi`: empty, or CV_8U where 0 means not scored. All of one
// size. Returns false, with a message, for mismatched sizes or a label value
// other than 0, 50, 85, 170 and 255.
bool CountFrame(const cv::Mat& mask, const cv::Mat& truth, const cv::Mat& roi,
                ConfusionCounts& counts, std::string* error);

// Recall TP/(TP+FN), specificity TN/(TN+FP), FPR FP/(FP+TN), FNR FN/(TP+FN),
// PWC 100(FN+FP)/(TP+FN+FP+TN), precision TP/(TP+FP), F 2PR/(P+R). A ratio
// whose denominator is 0 is NaN; F is 0 when P + R is 0.
Scores ScoresOf(const ConfusionCounts& counts);

}  // namespace corvane::tools
