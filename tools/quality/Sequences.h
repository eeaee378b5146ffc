// The sequences the quality run scores methods on: CDnet highway as it is and
// turned into the generated proxies (shaking camera, foliage in wind, a
// larger frame, a drifting and compressed camera), and the long quiet scene
// after 300, 20,000 and 100,000 quiet frames.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace corvane::tools::quality {

struct Sequence {
    std::string name;
    std::string description;
    std::int64_t frames = 0;
    // Scored frames, 1-based, inclusive.
    std::int64_t firstScored = 1, lastScored = 0;
    // Frame t (1-based, asked for in increasing order): 8-bit BGR and labels.
    // Returns false with a message when a file cannot be read.
    std::function<bool(std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* error)> frame;
};

struct SequenceOptions {
    // A CDnet sequence folder (input/in%06d.jpg, groundtruth/gt%06d.png,
    // temporalROI.txt) of the highway sequence.
    std::string highway;
    // Quick: the highway sequences cut to their first 900 frames (scored
    // 470..900) and the quiet scene without its 100,000-frame run; for
    // comparing settings, not for the tables.
    bool quick = false;
};

// Every sequence, in table order. The highway-based ones are left out, with a
// note in `skipped`, when the highway folder does not exist.
std::vector<Sequence> AllSequences(const SequenceOptions& options, std::string* skipped);

}  // namespace corvane::tools::quality
