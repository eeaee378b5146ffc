// Reading the frames of a video: a video file, a printf-style image pattern
// ("input/in%06d.jpg") or a folder of images taken in name order. A path
// that exists is always taken as a file or folder, whatever '%' it holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace corvane::tools {

// A printf-style file name with exactly one integer conversion (%d, %i or %u,
// optionally with a zero flag and a width, e.g. %06d); "%%" is a literal '%'.
// Parsed by hand so that a user's pattern never reaches printf.
struct NumberPattern {
    std::string prefix, suffix;
    int width = 0;
    bool zeroPad = false;

    // Returns false, with a message in `error`, when `text` is not such a pattern.
    bool Parse(const std::string& text, std::string* error);
    std::string Format(std::int64_t number) const;
};

// The image files of `folder` (regular files with an image extension, not
// hidden), sorted by file name.
std::vector<std::string> ListImages(const std::string& folder);

// The files of a pattern: from the first number in 0 .. 9999 that exists up to
// the last of the unbroken run that follows it. Empty when none exists.
std::vector<std::string> ListPatternFiles(const NumberPattern& pattern);

class FrameSource {
public:
    // Opens `input`. Returns false with a message in `error` when it does not
    // exist, is not readable or holds no images.
    bool Open(const std::string& input, std::string* error);

    // Reads the next frame as 8-bit BGR (a video stream or image file of
    // another depth is decoded at its depth and scaled by ToColourBgr8). Returns
    // false at the end of the input (`error` empty) or on a failure (`error`
    // says what failed). Every frame must have the size of the first.
    bool Read(cv::Mat& bgr, std::string* error);

    // The number of frames, or -1 when the input does not say (some videos).
    // For many containers the count is only an estimate.
    std::int64_t FrameCount() const { return frameCount_; }

    // The files the frames come from: the video file, or the images in order.
    std::vector<std::string> Files() const { return video_ ? std::vector<std::string>{input_} : files_; }

private:
    bool video_ = false;
    cv::VideoCapture capture_;
    std::vector<std::string> files_;
    std::string input_;
    std::int64_t frameCount_ = -1;
    std::int64_t framesRead_ = 0;  // frames returned so far
    cv::Size size_;
};

// A decoded frame of any depth and 1, 3 or 4 channels (grey, BGR, BGRA) as
// 8-bit BGR. Returns false, with the reason in `error`, for other channel
// counts and sample types.
bool ToColourBgr8(const cv::Mat& image, cv::Mat& bgr, std::string* error);

// An 8-bit colour image (BGR, as OpenCV decodes it) as the model's frame:
// H x W x 3 doubles in 0..255, column-major, channels in the order red, green,
// blue (the order of MATLAB's imread).
void ToModelFrame(const cv::Mat& bgr, std::vector<double>& frame);

}  // namespace corvane::tools
