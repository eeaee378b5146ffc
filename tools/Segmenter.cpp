#include "Segmenter.h"

#include <algorithm>
#include <cmath>

#include <opencv2/bgsegm.hpp>

namespace corvane::tools {

const char* MethodName(Method method) {
    switch (method) {
        case Method::Corvane: return "corvane";
        case Method::Mog2: return "mog2";
        case Method::Knn: return "knn";
        case Method::Gsoc: return "gsoc";
        case Method::Gmg: return "gmg";
        case Method::Cnt: return "cnt";
        case Method::Lsbp: return "lsbp";
    }
    return "?";
}

const std::vector<Method>& AllMethods() {
    static const std::vector<Method> all = {Method::Corvane, Method::Mog2, Method::Knn,
                                            Method::Gsoc,    Method::Gmg,  Method::Cnt,
                                            Method::Lsbp};
    return all;
}

bool ParseMethod(const std::string& text, Method* method) {
    for (Method m : AllMethods())
        if (text == MethodName(m)) {
            *method = m;
            return true;
        }
    return false;
}

Segmenter::Segmenter(Method method, const ModelParameters& parameters)
    : method_(method), detector_(parameters) {}

bool Segmenter::Start(std::int32_t H, std::int32_t W, std::string* error) {
    H_ = H;
    W_ = W;
    // Every OpenCV method at its defaults, as a user who picks one gets it.
    switch (method_) {
        case Method::Mog2: subtractor_ = cv::createBackgroundSubtractorMOG2(); return true;
        case Method::Knn: subtractor_ = cv::createBackgroundSubtractorKNN(); return true;
        case Method::Gsoc: subtractor_ = cv::bgsegm::createBackgroundSubtractorGSOC(); return true;
        case Method::Gmg: subtractor_ = cv::bgsegm::createBackgroundSubtractorGMG(); return true;
        case Method::Cnt: subtractor_ = cv::bgsegm::createBackgroundSubtractorCNT(); return true;
        case Method::Lsbp: subtractor_ = cv::bgsegm::createBackgroundSubtractorLSBP(); return true;
        case Method::Corvane: break;
    }
    columnMask_.assign(static_cast<std::size_t>(H_) * W_, 0);
    return detector_.Start(H_, W_, error);
}

bool Segmenter::Resume(const SavedDetector& saved, std::string* error) {
    if (method_ != Method::Corvane) {
        *error = "only corvane goes on from a saved model";
        return false;
    }
    if (!ContinueDetector(saved, &detector_, error)) return false;
    H_ = detector_.rows();
    W_ = detector_.columns();
    columnMask_.assign(static_cast<std::size_t>(H_) * W_, 0);
    return true;
}

bool Segmenter::Process(const cv::Mat& bgr, const std::vector<double>& frame, cv::Mat& mask,
                        cv::Mat* probability, std::string* error) {
    return Process(bgr, frame, nullptr, mask, probability, error);
}

bool Segmenter::Process(const cv::Mat& bgr, const std::vector<double>& frame,
                        const std::uint8_t* keep, cv::Mat& mask, cv::Mat* probability,
                        std::string* error) {
    if (probability != nullptr) probability->release();
    if (subtractor_) {
        cv::Mat raw;
        subtractor_->apply(bgr, raw);
        // MOG2 and KNN mark shadows 127: counted as background. GMG gives
        // nothing (an empty mask) during its first frames.
        if (raw.empty())
            mask = cv::Mat::zeros(H_, W_, CV_8U);
        else
            cv::compare(raw, 255, mask, cv::CMP_EQ);
        return true;
    }
    const FrameImage image{frame.data(), static_cast<std::int64_t>(frame.size())};
    Detector::Learning learning;
    learning.keep = keep;
    if (!detector_.Process(image, columnMask_.data(), nullptr, error, learning)) return false;
    mask.create(H_, W_, CV_8U);
    for (std::int32_t r = 0; r < H_; ++r) {
        std::uint8_t* row = mask.ptr<std::uint8_t>(r);
        for (std::int64_t c = 0; c < W_; ++c) row[c] = columnMask_[static_cast<std::size_t>(c * H_ + r)];
    }
    if (probability != nullptr) {
        probability->create(H_, W_, CV_8U);
        for (std::int32_t r = 0; r < H_; ++r) {
            std::uint8_t* row = probability->ptr<std::uint8_t>(r);
            for (std::int64_t c = 0; c < W_; ++c) {
                double v = detector_.model().imMask[static_cast<std::size_t>(c * H_ + r)];
                // NaN and negatives to 0, above 1 to 1.
                v = v > 0 ? (v < 1 ? v : 1) : 0;
                row[c] = static_cast<std::uint8_t>(std::lround(v * 255.0));
            }
        }
    }
    return true;
}

}  // namespace corvane::tools
