// The sequences the quality run scores methods on:
//  - real footage with ground truth: CDnet's highway and pedestrians (baseline
//    category) and Wallflower's WavingTrees (its one hand-labelled frame, and
//    the false alarms over the frames before anybody enters);
//  - cold-start clips cut from them: 51 or 101 frames from the middle of a
//    sequence, with objects in view from the first frame, scored from frame
//    26 or 51 of the clip: how well a method does when it is started while the
//    scene is busy;
//  - generated proxies where no real footage with ground truth is at hand:
//    larger frames (highway enlarged), a shaking camera (highway, and clips
//    of it shaking from the first frame) and the long quiet scene after 300,
//    20,000 and 100,000 quiet frames.
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
    // "real", "clip" or "proxy".
    std::string kind;
    std::int64_t frames = 0;
    // Scored frames, 1-based, inclusive.
    std::int64_t firstScored = 1, lastScored = 0;
    // Frame t (1-based, asked for in increasing order): 8-bit BGR and labels.
    // Returns false with a message when a file cannot be read.
    std::function<bool(std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* error)> frame;
};

struct SequenceOptions {
    // The shared data folder: cdnet/baseline/highway, cdnet/baseline/pedestrians
    // (input/in%06d.jpg, groundtruth/gt%06d.png, temporalROI.txt, ROI.bmp) and
    // wallflower/WavingTrees (input/b%05d.bmp, groundtruth/gt00247.png).
    std::string data;
    // Quick: the long sequences cut to 900 frames and the quiet scene without
    // its 100,000-frame run; for comparing settings, not for the tables.
    bool quick = false;
};

// Every sequence, in table order. Those whose footage is missing are left
// out, with a note in `skipped`.
std::vector<Sequence> AllSequences(const SequenceOptions& options, std::string* skipped);

// Frames [start, start + length) of `whole` as a sequence of its own, scored
// from its frame `firstScored` (1-based) to its last, where `whole` is scored.
Sequence CutClip(const Sequence& whole, const std::string& name, std::int64_t start,
                 std::int64_t length, std::int64_t firstScored);

}  // namespace corvane::tools::quality
