#include "Scoring.h"

#include <limits>

namespace corvane::tools {

bool CountFrame(const cv::Mat& mask, const cv::Mat& truth, const cv::Mat& roi,
                ConfusionCounts& counts, std::string* error) {
    if (mask.type() != CV_8U || truth.type() != CV_8U || (!roi.empty() && roi.type() != CV_8U)) {
        *error = "masks, labels and region of interest must be 8-bit single-channel images";
        return false;
    }
    if (mask.size() != truth.size() || (!roi.empty() && roi.size() != truth.size())) {
        *error = "the mask is " + std::to_string(mask.cols) + "x" + std::to_string(mask.rows) +
                 ", the labels " + std::to_string(truth.cols) + "x" + std::to_string(truth.rows) +
                 (roi.empty() ? std::string()
                              : ", the region of interest " + std::to_string(roi.cols) + "x" +
                                    std::to_string(roi.rows));
        return false;
    }
    ConfusionCounts frame;
    for (int r = 0; r < truth.rows; ++r) {
        const std::uint8_t* m = mask.ptr<std::uint8_t>(r);
        const std::uint8_t* t = truth.ptr<std::uint8_t>(r);
        const std::uint8_t* z = roi.empty() ? nullptr : roi.ptr<std::uint8_t>(r);
        for (int c = 0; c < truth.cols; ++c) {
            if (z != nullptr && z[c] == 0) continue;
            const std::uint8_t label = t[c];
            bool moving;
            if (label == kLabelMoving) {
                moving = true;
            } else if (label == kLabelStatic || label == kLabelShadow) {
                moving = false;
            } else if (label == kLabelOutsideRoi || label == kLabelUnknown) {
                continue;
            } else {
                *error = "label value " + std::to_string(label) + " at row " +
                         std::to_string(r + 1) + ", column " + std::to_string(c + 1) +
                         " is none of 0, 50, 85, 170, 255";
                return false;
            }
            const bool found = m[c] >= 128;
            frame.tp += found && moving;
            frame.fp += found && !moving;
            frame.fn += !found && moving;
            frame.tn += !found && !moving;
        }
    }
    counts.tp += frame.tp;
    counts.fp += frame.fp;
    counts.fn += frame.fn;
    counts.tn += frame.tn;
    ++counts.frames;
    return true;
}

namespace {
double Ratio(double a, double b) {
    return b > 0 ? a / b : std::numeric_limits<double>::quiet_NaN();
}
}  // namespace

Scores ScoresOf(const ConfusionCounts& counts) {
    const double tp = static_cast<double>(counts.tp), fp = static_cast<double>(counts.fp);
    const double fn = static_cast<double>(counts.fn), tn = static_cast<double>(counts.tn);
    Scores s;
    s.recall = Ratio(tp, tp + fn);
    s.specificity = Ratio(tn, tn + fp);
    s.fpr = Ratio(fp, fp + tn);
    s.fnr = Ratio(fn, tp + fn);
    s.pwc = Ratio(100.0 * (fn + fp), tp + fn + fp + tn);
    s.precision = Ratio(tp, tp + fp);
    const double pr = s.precision + s.recall;
    s.f = pr > 0 ? 2 * s.precision * s.recall / pr
                 : (pr == 0 ? 0.0 : std::numeric_limits<double>::quiet_NaN());
    return s;
}

}  // namespace corvane::tools
