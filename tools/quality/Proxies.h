// Generated stand-ins for footage that is hard to come by with ground truth:
// a shaking camera, a background that moves by itself (foliage in wind) and a
// long quiet scene that something finally crosses. Each is seeded and
// deterministic: the same seed gives the same frames and labels, frame by
// frame, so a whole sequence never has to be kept on disk.
//
// Labels are the change-detection benchmark's: 255 moving object, 0 static,
// 50 shadow, 85 outside the region of interest, 170 unknown motion.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace corvane::tools::quality {

// A small, portable random source (splitmix64): the same numbers on every
// platform and standard library, unlike std::normal_distribution.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    // Uniform in [0, 1).
    double Uniform();
    // Uniform in [low, high).
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
    // Close to a standard normal: the sum of four uniform bytes, centred and
    // scaled (bounded at about +-3.5). Cheap enough for per-pixel sensor noise.
    double Normalish();

private:
    std::uint64_t state_;
};

// ------------------------------------------------------------ camera shake

struct ShakeSettings {
    std::uint64_t seed = 1;
    // Largest displacement in x and in y, pixels. Frames are cropped by
    // `margin` on every side so that no shifted frame shows its own border.
    double amplitude = 6.0;
    int margin = 7;
    // A slow sway of up to swayShare * amplitude, frame-to-frame tremor of up
    // to tremor pixels, and jolts: about one per joltInterval frames, each a
    // sudden step of up to the full amplitude that dies away over ~10 frames.
    double swayShare = 0.5;
    double tremor = 1.2;
    double joltInterval = 40.0;
    // The camera is steady for this many frames and then starts to shake
    // (reaching full strength over as many frames again): a model must not
    // take what it saw at the start for how the scene always looks.
    std::int64_t calmFrames = 60;
};

// The displacement of every frame of a shaking camera: irregular, sub-pixel,
// several pixels at most. Offsets()[t] is the shift (x right, y down) of
// frame t + 1.
class CameraShake {
public:
    CameraShake(const ShakeSettings& settings, std::int64_t frames);
    const std::vector<cv::Point2d>& Offsets() const { return offsets_; }
    const ShakeSettings& Settings() const { return settings_; }

    // Frame `frameNumber` (1-based) of the shaken sequence: `bgr` resampled
    // (bilinear) so that the scene point at (x, y) of the steady frame shows at
    // (x, y) + offset, then cropped by the margin; `labels` moved the same way
    // (nearest neighbour, so label values stay valid). The output is
    // (W - 2 margin) x (H - 2 margin).
    void Apply(std::int64_t frameNumber, const cv::Mat& bgr, const cv::Mat& labels,
               cv::Mat& shakenBgr, cv::Mat& shakenLabels) const;

private:
    ShakeSettings settings_;
    std::vector<cv::Point2d> offsets_;
};

// ------------------------------------------------------------ foliage in wind

struct FoliageSettings {
    std::uint64_t seed = 2;
    // The region the foliage fills, in the frame's pixels.
    cv::Rect region{0, 0, 150, 130};
    // Whole-canopy sway (pixels) and the flutter of single clumps (pixels).
    double sway = 5.0;
    double flutter = 2.5;
    // No wind for this many frames; the wind rises over as many again.
    std::int64_t calmFrames = 60;
};

// A canopy of leaves, with dark gaps and bright sky between them, that moves
// irregularly: a slow sway with gusts plus local flutter that changes every
// frame. It replaces the background inside its region; pixels labelled as
// moving objects (255) or unknown (170) stay in front of it, so objects pass
// in front of the leaves. Labels are not changed: the leaves are background.
class SwayingFoliage {
public:
    SwayingFoliage(const FoliageSettings& settings, std::int64_t frames);
    const FoliageSettings& Settings() const { return settings_; }

    // Frame `frameNumber` (1-based): `bgr` with the canopy painted into the
    // region behind the objects that `labels` marks; `labels` is unchanged.
    void Apply(std::int64_t frameNumber, const cv::Mat& bgr, const cv::Mat& labels,
               cv::Mat& out) const;

private:
    FoliageSettings settings_;
    cv::Mat texture_;                    // 8-bit BGR, larger than the region
    std::vector<cv::Point2d> sway_;      // per frame
    std::vector<cv::Mat> flutterX_, flutterY_;  // per frame, coarse fields
};

// ------------------------------------------------------------ long quiet scene

struct QuietSettings {
    std::uint64_t seed = 3;
    int width = 64, height = 48;
    // Frames in which nothing moves before the object enters.
    std::int64_t quietFrames = 300;
    // Standard deviation of the sensor noise per channel, colour units.
    double noise = 2.5;
    // The object's colour is the background's plus this in every channel
    // (23.1 per channel: a colour distance of 40).
    double contrast = 40.0 / 1.7320508075688772;
};

// A still scene watched by a camera with ordinary sensor noise: a flat wall
// with a few darker panels. After quietFrames frames an elliptical object
// whose colour differs from the wall by `contrast` per channel crosses it
// from left to right at one pixel per frame.
class QuietScene {
public:
    explicit QuietScene(const QuietSettings& settings);
    const QuietSettings& Settings() const { return settings_; }

    // Frames in the sequence: the quiet ones and the crossing.
    std::int64_t FrameCount() const;
    // The frames in which the object is in view (1-based, inclusive).
    std::int64_t FirstObjectFrame() const { return settings_.quietFrames + 1; }
    std::int64_t LastObjectFrame() const { return FrameCount(); }

    // Frame `frameNumber` (1-based), 8-bit BGR, and its labels (255 on the
    // object, 0 elsewhere). Frames must be asked for in order (the noise is
    // drawn as the sequence goes); asking for frame 1 starts it again.
    void Frame(std::int64_t frameNumber, cv::Mat& bgr, cv::Mat& labels);

    // The noise-free wall, 8-bit BGR.
    const cv::Mat& Background() const { return background_; }
    // The object's colour, BGR.
    cv::Vec3b ObjectColour() const { return objectColour_; }

private:
    QuietSettings settings_;
    cv::Mat background_;
    cv::Vec3b objectColour_;
    Random noise_;
    std::int64_t next_ = 1;
    int objectWidth_ = 16, objectHeight_ = 12;
};

}  // namespace corvane::tools::quality
