#include "Sequences.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Proxies.h"

namespace fs = std::filesystem;

namespace corvane::tools::quality {

namespace {

std::string Numbered(const std::string& folder, const char* pattern, std::int64_t t) {
    char name[64];
    std::snprintf(name, sizeof name, pattern, static_cast<long long>(t));
    return (fs::path(folder) / name).string();
}

// Frame t of a CDnet sequence folder.
bool ReadCdnetFrame(const std::string& folder, std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                    std::string* error) {
    const std::string input = Numbered(folder, "input/in%06lld.jpg", t);
    const std::string truth = Numbered(folder, "groundtruth/gt%06lld.png", t);
    bgr = cv::imread(input, cv::IMREAD_COLOR);
    labels = cv::imread(truth, cv::IMREAD_GRAYSCALE);
    if (bgr.empty() || labels.empty()) {
        *error = "cannot read \"" + (bgr.empty() ? input : truth) + "\"";
        return false;
    }
    return true;
}

}  // namespace

std::vector<Sequence> AllSequences(const SequenceOptions& options, std::string* skipped) {
    std::vector<Sequence> sequences;
    const std::string folder = options.highway;
    std::int64_t first = 470, last = 1700;
    bool haveHighway = !folder.empty() && fs::is_directory(fs::path(folder) / "input");
    if (haveHighway) {
        std::ifstream roi(fs::path(folder) / "temporalROI.txt");
        if (!(roi >> first >> last)) haveHighway = false;
    }
    if (!haveHighway) {
        *skipped = "no highway sequence at \"" + folder + "\": its proxies are left out";
    } else {
        if (options.quick) last = std::min<std::int64_t>(last, 900);
        const std::int64_t frames = last;

        Sequence highway;
        highway.name = "highway";
        highway.description = "CDnet baseline/highway, 320x240";
        highway.frames = frames;
        highway.firstScored = first;
        highway.lastScored = last;
        highway.frame = [folder](std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* e) {
            return ReadCdnetFrame(folder, t, bgr, labels, e);
        };
        sequences.push_back(highway);

        Sequence shake = highway;
        shake.name = "shake";
        shake.description = "highway, camera shaking up to 6 px (sub-pixel, irregular), 306x226";
        auto camera = std::make_shared<CameraShake>(ShakeSettings{}, frames);
        shake.frame = [folder, camera](std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                                       std::string* e) {
            cv::Mat steady, steadyLabels;
            if (!ReadCdnetFrame(folder, t, steady, steadyLabels, e)) return false;
            camera->Apply(t, steady, steadyLabels, bgr, labels);
            return true;
        };
        sequences.push_back(shake);

        Sequence foliage = highway;
        foliage.name = "foliage";
        foliage.description = "highway, trees top left replaced by leaves swaying in wind";
        auto leaves = std::make_shared<SwayingFoliage>(FoliageSettings{}, frames);
        foliage.frame = [folder, leaves](std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                                         std::string* e) {
            cv::Mat steady;
            if (!ReadCdnetFrame(folder, t, steady, labels, e)) return false;
            leaves->Apply(t, steady, labels, bgr);
            return true;
        };
        sequences.push_back(foliage);

        Sequence both = highway;
        both.name = "foliage+shake";
        both.description = "the foliage copy, shaking as the shake copy";
        both.frame = [folder, leaves, camera](std::int64_t t, cv::Mat& bgr, cv::Mat& labels,
                                              std::string* e) {
            cv::Mat steady, steadyLabels, leafy;
            if (!ReadCdnetFrame(folder, t, steady, steadyLabels, e)) return false;
            leaves->Apply(t, steady, steadyLabels, leafy);
            camera->Apply(t, leafy, steadyLabels, bgr, labels);
            return true;
        };
        sequences.push_back(both);

        Sequence drift = highway;
        drift.name = "drift+jpeg";
        drift.description = "highway, light drifting +-12% over minutes, JPEG quality 40";
        drift.frame = [folder](std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* e) {
            cv::Mat steady;
            if (!ReadCdnetFrame(folder, t, steady, labels, e)) return false;
            const double gain = 1.0 + 0.12 * std::sin(2 * 3.141592653589793 * t / 900.0);
            steady.convertTo(steady, CV_8UC3, gain);
            std::vector<std::uint8_t> bytes;
            cv::imencode(".jpg", steady, bytes, {cv::IMWRITE_JPEG_QUALITY, 40});
            bgr = cv::imdecode(bytes, cv::IMREAD_COLOR);
            return true;
        };
        sequences.push_back(drift);

        Sequence large = highway;
        large.name = "highway-640";
        large.description = "highway enlarged to 640x480 (bicubic; labels nearest)";
        large.frame = [folder](std::int64_t t, cv::Mat& bgr, cv::Mat& labels, std::string* e) {
            cv::Mat small, smallLabels;
            if (!ReadCdnetFrame(folder, t, small, smallLabels, e)) return false;
            cv::resize(small, bgr, cv::Size(640, 480), 0, 0, cv::INTER_CUBIC);
            cv::resize(smallLabels, labels, cv::Size(640, 480), 0, 0, cv::INTER_NEAREST);
            return true;
        };
        sequences.push_back(large);
    }

    std::vector<std::int64_t> quiet = {300, 20000};
    if (!options.quick) quiet.push_back(100000);
    for (std::int64_t q : quiet) {
        QuietSettings settings;
        settings.quietFrames = q;
        auto scene = std::make_shared<QuietScene>(settings);
        Sequence s;
        s.name = "quiet-" + std::to_string(q);
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
