#include "Sequences.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Proxies.h"
#include "Scoring.h"

namespace fs = std::filesystem;

namespace corvane::tools::quality {

namespace {

std::string Numbered(const fs::path& folder, const char* pattern, std::int64_t t) {
    char name[64];
    std::snprintf(name, sizeof name, pattern, static_cast<long long>(t));
    return (folder / name).string();
}

// A CDnet sequence folder: frame t with its labels, the spatial region of
// interest applied (outside it: not scored).
struct CdnetFolder {
    fs::path folder;
    cv::Mat roi;

    bool Frame(std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* error) const {
        const std::string input = Numbered(folder, "input/in%06lld.jpg", t);
        const std::string truth = Numbered(folder, "groundtruth/gt%06lld.png", t);
        bgr = cv::imread(input, cv::IMREAD_COLOR);
        labels = cv::imread(truth, cv::IMREAD_GRAYSCALE);
        if (bgr.empty() || labels.empty()) {
            *error = "cannot read \"" + (bgr.empty() ? input : truth) + "\"";
            return false;
        }
        if (!roi.empty() && roi.size() == labels.size()) labels.setTo(kLabelOutsideRoi, roi == 0);
        return true;
    }
};

// A CDnet sequence, or nothing (with the reason) when its folder is missing.
bool CdnetSequence(const fs::path& folder, const std::string& name, const std::string& description,
                   bool quick, Sequence* sequence, std::string* skipped) {
    std::int64_t first = 0, last = 0;
    std::ifstream temporal(folder / "temporalROI.txt");
    if (!fs::is_directory(folder / "input") || !(temporal >> first >> last)) {
        *skipped += "no CDnet sequence at \"" + folder.string() + "\"; ";
        return false;
    }
    auto source = std::make_shared<CdnetFolder>();
    source->folder = folder;
    source->roi = cv::imread((folder / "ROI.bmp").string(), cv::IMREAD_GRAYSCALE);
    sequence->name = name;
    sequence->description = description;
    sequence->kind = "real";
    sequence->frames = quick ? std::min<std::int64_t>(last, 900) : last;
    sequence->firstScored = first;
    sequence->lastScored = sequence->frames;
    sequence->frame = [source](std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* e) {
        return source->Frame(t, bgr, labels, e);
    };
    return true;
}

// Wallflower's WavingTrees: frames b00000..b00286 are frames 1..287. Frame
// 248 (b00247) has the hand-segmented labels; nobody is in view before frame
// 243 (b00242), so there every pixel is background; elsewhere nothing is
// scored.
bool WavingTrees(const fs::path& folder, Sequence* sequence, std::string* skipped) {
    const std::string truthPath = (folder / "groundtruth" / "gt00247.png").string();
    cv::Mat truth = cv::imread(truthPath, cv::IMREAD_GRAYSCALE);
    if (truth.empty() || !fs::exists(folder / "input" / "b00000.bmp")) {
        *skipped += "no WavingTrees sequence at \"" + folder.string() + "\"; ";
        return false;
    }
    sequence->name = "trees";
    sequence->description = "Wallflower WavingTrees, 160x120: frame 248 (b00247) scored";
    sequence->kind = "real";
    sequence->frames = 287;
    sequence->firstScored = sequence->lastScored = 248;
    sequence->frame = [folder, truth](std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                                      std::string* e) {
        const std::string input = Numbered(folder, "input/b%05lld.bmp", t - 1);
        bgr = cv::imread(input, cv::IMREAD_COLOR);
        if (bgr.empty()) {
            *e = "cannot read \"" + input + "\"";
            return false;
        }
        if (t == 248)
            labels = truth.clone();
        else
            labels = cv::Mat(bgr.rows, bgr.cols, CV_8U,
                             cv::Scalar(t <= 242 ? kLabelStatic : kLabelUnknown));
        return true;
    };
    return true;
}

// `whole` with a camera that shakes from its first frame on (no calm start).
Sequence Shaken(const Sequence& whole, const std::string& name) {
    ShakeSettings settings;
    settings.calmFrames = 0;
    auto camera = std::make_shared<CameraShake>(settings, whole.frames);
    Sequence shaken = whole;
    shaken.name = name;
    shaken.kind = "proxy";
    shaken.description = whole.description + ", the camera shaking up to 6 px from frame 1";
    const auto steady = whole.frame;
    shaken.frame = [steady, camera](std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                                    std::string* e) {
        cv::Mat still, stillLabels;
        if (!steady(t, still, stillLabels, e)) return false;
        camera->Apply(t, still, stillLabels, bgr, labels);
        return true;
    };
    return shaken;
}

}  // namespace

namespace {

// The sequence enlarged to width x height: frames bicubic, labels nearest.
Sequence Enlarged(const Sequence& whole, const std::string& name, int width, int height) {
    Sequence large = whole;
    large.name = name;
    large.kind = "proxy";
    large.description = whole.name + " enlarged to " + std::to_string(width) + "x" +
                        std::to_string(height) + " (bicubic; labels nearest)";
    const auto small = whole.frame;
    large.frame = [small, width, height](std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                                         std::string* e) {
        cv::Mat frame, frameLabels;
        if (!small(t, frame, frameLabels, e)) return false;
        cv::resize(frame, bgr, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
        cv::resize(frameLabels, labels, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
        return true;
    };
    return large;
}

}  // namespace

Sequence CutClip(const Sequence& whole, const std::string& name, std::int64_t start,
                 std::int64_t length, std::int64_t firstScored) {
    Sequence clip;
    clip.name = name;
    clip.kind = "clip";
    clip.description = whole.name + " frames " + std::to_string(start) + "-" +
                       std::to_string(start + length - 1) + ", scored from clip frame " +
                       std::to_string(firstScored);
    clip.frames = length;
    clip.firstScored = std::max(firstScored, whole.firstScored - start + 1);
    clip.lastScored = std::min(length, whole.lastScored - start + 1);
    const auto frame = whole.frame;
    clip.frame = [frame, start](std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* e) {
        return frame(start + t - 1, bgr, labels, e);
    };
    return clip;
}

std::vector<Sequence> AllSequences(const SequenceOptions& options, std::string* skipped) {
    std::vector<Sequence> sequences;
    const fs::path data = options.data;
    Sequence highway, pedestrians, trees;
    const bool haveHighway = CdnetSequence(data / "cdnet" / "baseline" / "highway", "highway",
                                           "CDnet baseline/highway, 320x240", options.quick,
                                           &highway, skipped);
    const bool havePedestrians = CdnetSequence(
        data / "cdnet" / "baseline" / "pedestrians", "pedestrians",
        "CDnet baseline/pedestrians, 360x240", options.quick, &pedestrians, skipped);
    const bool haveTrees = WavingTrees(data / "wallflower" / "WavingTrees", &trees, skipped);

    if (haveHighway) sequences.push_back(highway);
    if (havePedestrians) sequences.push_back(pedestrians);
    if (haveTrees) {
        sequences.push_back(trees);
        Sequence alarms = trees;
        alarms.name = "trees-empty";
        alarms.description = "WavingTrees frames 1-242: nobody in view, every foreground pixel a "
                             "false alarm";
        alarms.firstScored = 1;
        alarms.lastScored = 242;
        sequences.push_back(alarms);
    }

    // Cold-start clips: starts spread over the scored part of each sequence,
    // each with objects in view at its first frame.
    struct ClipStart {
        const Sequence* whole;
        bool have;
        const char* prefix;
        std::int64_t start;
    };
    const ClipStart starts[] = {
        {&highway, haveHighway, "hw", 700},        {&highway, haveHighway, "hw", 1000},
        {&highway, haveHighway, "hw", 1300},       {&highway, haveHighway, "hw", 1600},
        {&pedestrians, havePedestrians, "ped", 350}, {&pedestrians, havePedestrians, "ped", 560},
        {&pedestrians, havePedestrians, "ped", 900},
    };
    if (!options.quick) {
        for (const ClipStart& s : starts) {
            if (!s.have) continue;
            for (std::int64_t length : {51, 101}) {
                const std::string name = std::string(s.prefix) + "-" + std::to_string(s.start) +
                                         "-" + std::to_string(length);
                sequences.push_back(CutClip(*s.whole, name, s.start, length, length / 2 + 1));
            }
        }
    }
    if (haveTrees) {
        // The tree in wind from its first frame, nobody there; and the last
        // 51 frames up to the labelled one, the person entering at frame 46.
        Sequence empty = CutClip(trees, "trees-142-101", 142, 101, 51);
        empty.firstScored = 51;
        empty.lastScored = 101;
        empty.description += " (nobody in view: false alarms)";
        sequences.push_back(empty);
        sequences.push_back(CutClip(trees, "trees-198-51", 198, 51, 51));
    }

    if (haveHighway) {
        // Larger frames: the same scene at four times the pixels.
        sequences.push_back(Enlarged(highway, "highway-640", 640, 480));
        sequences.push_back(Shaken(highway, "highway-shake"));
        if (!options.quick)
            for (std::int64_t start : {1000, 1600})
                sequences.push_back(Shaken(CutClip(highway, "", start, 101, 51),
                                           "hw-shake-" + std::to_string(start) + "-101"));
    }

    // Larger frames of the other real scenes: people at 720x480, the tree in
    // wind at 640x480 before anybody comes (false alarms).
    if (havePedestrians) sequences.push_back(Enlarged(pedestrians, "pedestrians-720", 720, 480));
    if (haveTrees) {
        Sequence alarms = Enlarged(trees, "trees-empty-640", 640, 480);
        alarms.description = "WavingTrees frames 1-242 enlarged to 640x480 (bicubic): nobody in "
                             "view, every foreground pixel a false alarm";
        alarms.firstScored = 1;
        alarms.lastScored = 242;
        sequences.push_back(alarms);
    }

    std::vector<std::int64_t> quiet = {300, 20000};
    if (!options.quick) quiet.push_back(100000);
    for (std::int64_t q : quiet) {
        QuietSettings settings;
        settings.quietFrames = q;
        auto scene = std::make_shared<QuietScene>(settings);
        Sequence s;
        s.name = "quiet-" + std::to_string(q);
        s.kind = "proxy";
        s.description = "still 64x48 scene with sensor noise, then an object 40 colour units "
                        "from the wall crosses it";
        s.frames = scene->FrameCount();
        s.firstScored = scene->FirstObjectFrame();
        s.lastScored = scene->LastObjectFrame();
        s.frame = [scene](std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string*) {
            scene->Frame(t, bgr, labels);
            return true;
        };
        sequences.push_back(s);
    }
    return sequences;
}

}  // namespace corvane::tools::quality
