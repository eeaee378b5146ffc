#include "Proxies.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace corvane::tools::quality {

std::uint64_t Random::Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double Random::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double Random::Normalish() {
    const std::uint64_t bits = Next();
    const double sum = static_cast<double>((bits & 0xFF) + ((bits >> 8) & 0xFF) +
                                           ((bits >> 16) & 0xFF) + ((bits >> 24) & 0xFF));
    // Four uniform bytes: mean 510, variance 4 (256^2 - 1) / 12 = 21845.
    return (sum - 510.0) / 147.80054127;
}

namespace {
// 0 during the first `calm` frames (t 0-based), rising linearly to 1 over the
// next `calm` frames.
double Envelope(std::int64_t t, std::int64_t calm) {
    if (calm <= 0) return 1.0;
    if (t < calm) return 0.0;
    return std::min(1.0, static_cast<double>(t - calm) / static_cast<double>(calm));
}

// A smooth random process of `frames` values in -1..1: white noise through two
// cascaded one-pole filters, scaled so that its largest magnitude is 1.
std::vector<double> SmoothProcess(Random& random, std::int64_t frames, double pole) {
    std::vector<double> values(static_cast<std::size_t>(std::max<std::int64_t>(frames, 1)));
    double a = 0, b = 0, largest = 0;
    // Run in before the first frame so the process does not start at rest.
    for (int i = 0; i < 200; ++i) {
        a = pole * a + (1 - pole) * random.Uniform(-1, 1);
        b = pole * b + (1 - pole) * a;
    }
    for (auto& v : values) {
        a = pole * a + (1 - pole) * random.Uniform(-1, 1);
        b = pole * b + (1 - pole) * a;
        v = b;
        largest = std::max(largest, std::fabs(b));
    }
    if (largest > 0)
        for (auto& v : values) v /= largest;
    return values;
}
}  // namespace

// ------------------------------------------------------------ camera shake

CameraShake::CameraShake(const ShakeSettings& settings, std::int64_t frames)
    : settings_(settings) {
    Random random(settings.seed);
    const double amplitude = settings.amplitude;
    const std::vector<double> swayX = SmoothProcess(random, frames, 0.95);
    const std::vector<double> swayY = SmoothProcess(random, frames, 0.95);
    double joltX = 0, joltY = 0;
    offsets_.resize(static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)));
    for (std::int64_t t = 0; t < frames; ++t) {
        // A jolt: a sudden step that dies away over about ten frames.
        joltX *= 0.9;
        joltY *= 0.9;
        if (random.Uniform() * settings.joltInterval < 1.0) {
            joltX += random.Uniform(-amplitude, amplitude);
            joltY += random.Uniform(-amplitude, amplitude);
        }
        double x = settings.swayShare * amplitude * swayX[t] + joltX +
                   random.Uniform(-settings.tremor, settings.tremor);
        double y = settings.swayShare * amplitude * swayY[t] + joltY +
                   random.Uniform(-settings.tremor, settings.tremor);
        const double strength = Envelope(t, settings.calmFrames);
        offsets_[t] = cv::Point2d(std::clamp(strength * x, -amplitude, amplitude),
                                  std::clamp(strength * y, -amplitude, amplitude));
    }
}

void CameraShake::Apply(std::int64_t frameNumber, const cv::Mat& bgr, const cv::Mat& labels,
                        cv::Mat& shakenBgr, cv::Mat& shakenLabels) const {
    const cv::Point2d offset = offsets_.at(static_cast<std::size_t>(frameNumber - 1));
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, offset.x, 0, 1, offset.y);
    const int m = settings_.margin;
    const cv::Rect crop(m, m, bgr.cols - 2 * m, bgr.rows - 2 * m);
    cv::Mat moved;
    cv::warpAffine(bgr, moved, shift, bgr.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    shakenBgr = moved(crop).clone();
    cv::warpAffine(labels, moved, shift, labels.size(), cv::INTER_NEAREST, cv::BORDER_REFLECT);
    shakenLabels = moved(crop).clone();
}

// ------------------------------------------------------------ foliage in wind

namespace {
// Value noise in 0..1 of the given size: octaves of random grids enlarged
// smoothly, the finer ones weaker.
cv::Mat ValueNoise(Random& random, cv::Size size, const std::vector<int>& cells) {
    cv::Mat sum(size, CV_32F, cv::Scalar(0));
    double total = 0, weight = 1;
    for (int cell : cells) {
        cv::Mat grid(size.height / cell + 3, size.width / cell + 3, CV_32F);
        for (int r = 0; r < grid.rows; ++r)
            for (int c = 0; c < grid.cols; ++c) grid.at<float>(r, c) = static_cast<float>(random.Uniform());
        cv::Mat big;
        cv::resize(grid, big, cv::Size(grid.cols * cell, grid.rows * cell), 0, 0, cv::INTER_CUBIC);
        sum += weight * big(cv::Rect(cell, cell, size.width, size.height));
        total += weight;
        weight *= 0.55;
    }
    return sum / total;
}
constexpr int kFlutterCell = 8;
}  // namespace

SwayingFoliage::SwayingFoliage(const FoliageSettings& settings, std::int64_t frames)
    : settings_(settings) {
    Random random(settings.seed);
    const int pad = static_cast<int>(std::ceil(settings.sway + 3 * settings.flutter)) + 4;
    const cv::Size textureSize(settings.region.width + 2 * pad, settings.region.height + 2 * pad);
    // Clumps of leaves (shades of green, lit unevenly) with dark gaps and bright
    // sky between them: sharp colour edges that move as the canopy moves.
    const cv::Mat clumps = ValueNoise(random, textureSize, {9, 4, 2});
    const cv::Mat light = ValueNoise(random, textureSize, {16, 3});
    texture_.create(textureSize, CV_8UC3);
    for (int r = 0; r < textureSize.height; ++r)
        for (int c = 0; c < textureSize.width; ++c) {
            const float n = clumps.at<float>(r, c);
            const float l = light.at<float>(r, c);
            cv::Vec3b colour;
            if (n > 0.64f) {
                colour = cv::Vec3b(235, 225, 205);  // sky
            } else if (n < 0.40f) {
                colour = cv::Vec3b(20, 38, 24);  // shadow between the leaves
            } else {
                const double shade = 0.55 + 0.9 * l;  // 0.55 .. 1.45
                colour = cv::Vec3b(cv::saturate_cast<std::uint8_t>(45 * shade),
                                   cv::saturate_cast<std::uint8_t>(125 * shade),
                                   cv::saturate_cast<std::uint8_t>(70 * shade));
            }
            texture_.at<cv::Vec3b>(r, c) = colour;
        }
    const std::vector<double> swayX = SmoothProcess(random, frames, 0.9);
    const std::vector<double> swayY = SmoothProcess(random, frames, 0.9);
    // Gusts: the sway grows and calms down over a few seconds.
    const std::vector<double> gust = SmoothProcess(random, frames, 0.98);
    sway_.resize(swayX.size());
    for (std::size_t t = 0; t < swayX.size(); ++t) {
        const double strength =
            settings.sway * (0.6 + 0.4 * gust[t]) * Envelope(static_cast<std::int64_t>(t), settings.calmFrames);
        sway_[t] = cv::Point2d(strength * swayX[t], 0.5 * strength * swayY[t]);
    }
    // Flutter: a coarse field of displacements per frame, each cell drifting
    // from frame to frame (a one-pole process), enlarged smoothly when used.
    const cv::Size coarse(settings.region.width / kFlutterCell + 2,
                          settings.region.height / kFlutterCell + 2);
    cv::Mat fx(coarse, CV_32F, cv::Scalar(0)), fy(coarse, CV_32F, cv::Scalar(0));
    for (std::size_t t = 0; t < sway_.size(); ++t) {
        const double wind = Envelope(static_cast<std::int64_t>(t), settings.calmFrames);
        for (int r = 0; r < coarse.height; ++r)
            for (int c = 0; c < coarse.width; ++c) {
                fx.at<float>(r, c) = static_cast<float>(
                    0.7 * fx.at<float>(r, c) + 0.7 * wind * settings.flutter * random.Uniform(-1, 1));
                fy.at<float>(r, c) = static_cast<float>(
                    0.7 * fy.at<float>(r, c) + 0.7 * wind * settings.flutter * random.Uniform(-1, 1));
            }
        flutterX_.push_back(fx.clone());
        flutterY_.push_back(fy.clone());
    }
}

void SwayingFoliage::Apply(std::int64_t frameNumber, const cv::Mat& bgr, const cv::Mat& labels,
                           cv::Mat& out) const {
    const std::size_t t = static_cast<std::size_t>(frameNumber - 1);
    const cv::Rect region = settings_.region & cv::Rect(0, 0, bgr.cols, bgr.rows);
    const int pad = (texture_.cols - settings_.region.width) / 2;
    cv::Mat fx, fy;
    cv::resize(flutterX_.at(t), fx, cv::Size(settings_.region.width, settings_.region.height), 0, 0,
               cv::INTER_CUBIC);
    cv::resize(flutterY_.at(t), fy, cv::Size(settings_.region.width, settings_.region.height), 0, 0,
               cv::INTER_CUBIC);
    cv::Mat mapX(fx.size(), CV_32F), mapY(fx.size(), CV_32F);
    const cv::Point2d sway = sway_.at(t);
    for (int r = 0; r < fx.rows; ++r)
        for (int c = 0; c < fx.cols; ++c) {
            // The canopy bends more towards its top: branches sway, the trunk does not.
            const double bend = 1.0 - 0.5 * r / std::max(1, fx.rows - 1);
            mapX.at<float>(r, c) = static_cast<float>(c + pad + bend * sway.x + fx.at<float>(r, c));
            mapY.at<float>(r, c) = static_cast<float>(r + pad + bend * sway.y + fy.at<float>(r, c));
        }
    cv::Mat canopy;
    cv::remap(texture_, canopy, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REFLECT);
    out = bgr.clone();
    for (int r = region.y; r < region.y + region.height; ++r)
        for (int c = region.x; c < region.x + region.width; ++c) {
            const std::uint8_t label = labels.at<std::uint8_t>(r, c);
            if (label == 255 || label == 170) continue;  // objects stay in front
            out.at<cv::Vec3b>(r, c) =
                canopy.at<cv::Vec3b>(r - settings_.region.y, c - settings_.region.x);
        }
}

// ------------------------------------------------------------ long quiet scene

QuietScene::QuietScene(const QuietSettings& settings) : settings_(settings), noise_(settings.seed) {
    const cv::Vec3b wall(96, 112, 100);
    background_ = cv::Mat(settings.height, settings.width, CV_8UC3, cv::Scalar(wall));
    // Darker panels above and below the band the object crosses.
    const int band = objectHeight_ / 2 + 3;
    const int mid = settings.height / 2;
    for (int k = 0; k < 3; ++k) {
        const int x = settings.width * (2 * k + 1) / 7;
        const int w = std::max(2, settings.width / 8);
        cv::rectangle(background_, cv::Rect(x, 0, w, std::max(1, mid - band - 1)),
                      cv::Scalar(60, 70, 66), cv::FILLED);
        cv::rectangle(background_, cv::Rect(x + w / 2, mid + band + 1, w, settings.height),
                      cv::Scalar(140, 150, 150), cv::FILLED);
    }
    for (int ch = 0; ch < 3; ++ch)
        objectColour_[ch] = cv::saturate_cast<std::uint8_t>(wall[ch] + settings.contrast);
}

std::int64_t QuietScene::FrameCount() const {
    return settings_.quietFrames + settings_.width + objectWidth_ - 1;
}

void QuietScene::Frame(std::int64_t frameNumber, cv::Mat& bgr, cv::Mat& labels) {
    if (frameNumber == 1 || frameNumber != next_) {
        // Start again and draw the noise of the frames before this one.
        noise_ = Random(settings_.seed);
        for (std::int64_t t = 1; t < frameNumber; ++t)
            for (int i = 0; i < settings_.width * settings_.height * 3; ++i) noise_.Next();
    }
    next_ = frameNumber + 1;
    bgr = background_.clone();
    labels = cv::Mat(settings_.height, settings_.width, CV_8U, cv::Scalar(0));
    const std::int64_t step = frameNumber - settings_.quietFrames;  // 1 on the first object frame
    if (step >= 1) {
        const double cx = static_cast<double>(step) - objectWidth_ / 2.0;
        const double cy = settings_.height / 2.0;
        const double a = objectWidth_ / 2.0, b = objectHeight_ / 2.0;
        for (int r = 0; r < settings_.height; ++r)
            for (int c = 0; c < settings_.width; ++c) {
                const double dx = (c + 0.5 - cx) / a, dy = (r + 0.5 - cy) / b;
                if (dx * dx + dy * dy <= 1.0) {
                    bgr.at<cv::Vec3b>(r, c) = objectColour_;
                    labels.at<std::uint8_t>(r, c) = 255;
                }
            }
    }
    for (int r = 0; r < settings_.height; ++r) {
        std::uint8_t* row = bgr.ptr<std::uint8_t>(r);
        for (int i = 0; i < 3 * settings_.width; ++i)
            row[i] = cv::saturate_cast<std::uint8_t>(row[i] + settings_.noise * noise_.Normalish());
    }
}

}  // namespace corvane::tools::quality
