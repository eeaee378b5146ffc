// One frame in, one binary mask out: Corvane's model, or one of OpenCV's
// subtractors at its defaults for comparison: MOG2 and KNN from the video
// module, GSOC, GMG, CNT and LSBP from the contrib module bgsegm.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/video/background_segm.hpp>

#include "Detector.h"
#include "ModelFile.h"

namespace corvane::tools {

enum class Method { Corvane, Mog2, Knn, Gsoc, Gmg, Cnt, Lsbp };

// Every method, in the order the tables list them.
const std::vector<Method>& AllMethods();
// "corvane", "mog2", "knn", "gsoc", "gmg", "cnt", "lsbp".
const char* MethodName(Method method);
bool ParseMethod(const std::string& text, Method* method);

class Segmenter {
public:
    // Throws InvalidParameters for parameters ValidateParameters rejects.
    Segmenter(Method method, const ModelParameters& parameters);

    // Prepares for a video of H x W frames. No method reads ahead: Corvane's
    // model is built from the frames as they are segmented (PrepareFrame in
    // FrameStream.h).
    bool Start(std::int32_t H, std::int32_t W, std::string* error);

    // Segments the next frame, given both as 8-bit BGR and in the model layout.
    // `mask` becomes an H x W CV_8U image of 0 and 255. `probability`, when not
    // null, becomes the foreground probability as CV_8U (0..255); only
    // Corvane has one (the OpenCV methods leave it empty).
    bool Process(const cv::Mat& bgr, const std::vector<double>& frame, cv::Mat& mask,
                 cv::Mat* probability, std::string* error);
    // The same, Corvane's model not learning the frame's colour where `keep`
    // (H*W bytes, column-major, or null) is not 0 (Detector::Learning).
    bool Process(const cv::Mat& bgr, const std::vector<double>& frame, const std::uint8_t* keep,
                 cv::Mat& mask, cv::Mat* probability, std::string* error);

    // Goes on from a saved model (Corvane only) in place of Start: the
    // frames must have the model's size.
    bool Resume(const SavedDetector& saved, std::string* error);

    // Threads of Corvane's update, 0: every CPU this process may use. The
    // masks are the same for every count.
    void SetThreads(int threads) { detector_.SetThreads(threads); }

    Method method() const { return method_; }
    // Corvane's model (empty for the OpenCV methods).
    const OwnedModel& model() const { return detector_.model(); }
    const Detector& detector() const { return detector_; }

private:
    Method method_;
    Detector detector_;
    std::int32_t H_ = 0, W_ = 0;
    std::vector<std::uint8_t> columnMask_;
    cv::Ptr<cv::BackgroundSubtractor> subtractor_;
};

}  // namespace corvane::tools
