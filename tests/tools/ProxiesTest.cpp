// The generated proxies deliver what the quality tables rely on: shifts of the
// promised size that move the labels with the picture, foliage that moves only
// where it should and leaves the labels alone, a quiet scene with the promised
// noise and contrast, and the same frames for the same seed.
#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "Proxies.h"

namespace corvane::tools::quality {
namespace {

// Centroid of the pixels of `image` (8-bit, one or three channels), weighted by
// their brightness.
cv::Point2d Centroid(const cv::Mat& image) {
    cv::Mat grey;
    if (image.channels() == 3)
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    else
        grey = image;
    const cv::Moments m = cv::moments(grey);
    return cv::Point2d(m.m10 / m.m00, m.m01 / m.m00);
}

TEST(RandomTest, SameSeedSameNumbersAndNoiseOfUnitSpread) {
    Random a(42), b(42), c(43);
    bool differs = false;
    for (int i = 0; i < 100; ++i) {
        const std::uint64_t x = a.Next();
        EXPECT_EQ(x, b.Next());
        differs = differs || x != c.Next();
    }
    EXPECT_TRUE(differs);
    double sum = 0, sum2 = 0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        const double v = a.Normalish();
        sum += v;
        sum2 += v * v;
    }
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(std::sqrt(sum2 / n), 1.0, 0.01);
}

TEST(CameraShakeTest, OffsetsAreSeveralPixelsSubPixelIrregularAndStartCalm) {
    ShakeSettings settings;
    const CameraShake shake(settings, 1000);
    const auto& offsets = shake.Offsets();
    ASSERT_EQ(offsets.size(), 1000u);
    double largest = 0, fractional = 0, stepSum = 0, stepSum2 = 0;
    int steps = 0;
    for (std::size_t t = 0; t < offsets.size(); ++t) {
        const cv::Point2d o = offsets[t];
        EXPECT_LE(std::fabs(o.x), settings.amplitude);
        EXPECT_LE(std::fabs(o.y), settings.amplitude);
        if (static_cast<std::int64_t>(t) < settings.calmFrames) {
            EXPECT_EQ(o.x, 0.0) << "frame " << t + 1 << " should be steady";
            EXPECT_EQ(o.y, 0.0);
            continue;
        }
        largest = std::max({largest, std::fabs(o.x), std::fabs(o.y)});
        fractional = std::max(fractional, std::fabs(o.x - std::round(o.x)));
        if (t > 0 && static_cast<std::int64_t>(t) >= 3 * settings.calmFrames) {
            const double step = std::hypot(o.x - offsets[t - 1].x, o.y - offsets[t - 1].y);
            stepSum += step;
            stepSum2 += step * step;
            ++steps;
        }
    }
    EXPECT_GE(largest, 0.6 * settings.amplitude) << "the shake is several pixels";
    EXPECT_GT(fractional, 0.3) << "the shifts are not whole pixels";
    const double meanStep = stepSum / steps;
    const double spread = std::sqrt(stepSum2 / steps - meanStep * meanStep);
    EXPECT_GT(meanStep, 0.3) << "the camera moves from frame to frame";
    EXPECT_GT(spread, 0.25 * meanStep) << "the motion is irregular, not a steady drift";
}

TEST(CameraShakeTest, SameSeedSameShakeOtherSeedOtherShake) {
    ShakeSettings one;
    ShakeSettings other;
    other.seed = one.seed + 1;
    const CameraShake a(one, 300), b(one, 300), c(other, 300);
    EXPECT_EQ(a.Offsets(), b.Offsets());
    EXPECT_NE(a.Offsets(), c.Offsets());
}

TEST(CameraShakeTest, LabelsMoveWithThePicture) {
    // A bright 5x5 square on black, labelled as an object.
    cv::Mat image(60, 80, CV_8UC3, cv::Scalar(0, 0, 0));
    cv::Mat labels(60, 80, CV_8U, cv::Scalar(0));
    cv::rectangle(image, cv::Rect(38, 28, 5, 5), cv::Scalar(200, 200, 200), cv::FILLED);
    cv::rectangle(labels, cv::Rect(38, 28, 5, 5), cv::Scalar(255), cv::FILLED);
    ShakeSettings settings;
    settings.calmFrames = 0;
    const CameraShake shake(settings, 50);
    const int m = settings.margin;
    for (std::int64_t t = 1; t <= 50; ++t) {
        cv::Mat shaken, shakenLabels;
        shake.Apply(t, image, labels, shaken, shakenLabels);
        ASSERT_EQ(shaken.size(), cv::Size(80 - 2 * m, 60 - 2 * m));
        ASSERT_EQ(shakenLabels.size(), shaken.size());
        const cv::Point2d o = shake.Offsets()[static_cast<std::size_t>(t - 1)];
        const cv::Point2d expected(40 + o.x - m, 30 + o.y - m);
        const cv::Point2d picture = Centroid(shaken), truth = Centroid(shakenLabels);
        EXPECT_NEAR(picture.x, expected.x, 0.05) << "frame " << t;
        EXPECT_NEAR(picture.y, expected.y, 0.05) << "frame " << t;
        // Nearest-neighbour labels: within half a pixel of the picture.
        EXPECT_NEAR(truth.x, picture.x, 0.5) << "frame " << t;
        EXPECT_NEAR(truth.y, picture.y, 0.5) << "frame " << t;
        // Still only valid labels.
        for (int r = 0; r < shakenLabels.rows; ++r)
            for (int c = 0; c < shakenLabels.cols; ++c) {
                const int v = shakenLabels.at<std::uint8_t>(r, c);
                ASSERT_TRUE(v == 0 || v == 255) << v;
            }
    }
}

TEST(SwayingFoliageTest, LeavesMoveInTheRegionOnlyBehindObjectsAndLabelsStay) {
    FoliageSettings settings;
    settings.region = cv::Rect(10, 5, 60, 40);
    settings.calmFrames = 20;
    const SwayingFoliage foliage(settings, 200);
    cv::Mat image(80, 100, CV_8UC3, cv::Scalar(90, 100, 110));
    cv::Mat labels(80, 100, CV_8U, cv::Scalar(0));
    // An object overlapping the region's right edge, with an unknown rim.
    cv::rectangle(labels, cv::Rect(55, 20, 30, 20), cv::Scalar(170), cv::FILLED);
    cv::rectangle(labels, cv::Rect(56, 21, 28, 18), cv::Scalar(255), cv::FILLED);
    image.setTo(cv::Scalar(0, 0, 255), labels != 0);
    const cv::Mat labelsBefore = labels.clone();

    cv::Mat previous, frame;
    double calmChange = 0, windyChange = 0;
    for (std::int64_t t = 1; t <= 200; ++t) {
        foliage.Apply(t, image, labels, frame);
        ASSERT_EQ(cv::countNonZero(labels != labelsBefore), 0) << "labels are left alone";
        cv::Mat outside = frame != image;
        cv::Mat changed;
        cv::cvtColor(outside, changed, cv::COLOR_BGR2GRAY);
        // Nothing changes outside the region or on the object.
        cv::Mat allowed(80, 100, CV_8U, cv::Scalar(0));
        allowed(settings.region).setTo(255);
        allowed.setTo(0, labels != 0);
        EXPECT_EQ(cv::countNonZero(changed & ~allowed), 0) << "frame " << t;
        if (!previous.empty()) {
            const double change = cv::norm(frame(settings.region), previous(settings.region),
                                           cv::NORM_L1) / settings.region.area();
            if (t <= settings.calmFrames) calmChange += change;
            if (t > 3 * settings.calmFrames) windyChange = std::max(windyChange, change);
        }
        previous = frame.clone();
    }
    EXPECT_EQ(calmChange, 0.0) << "no wind during the calm start";
    EXPECT_GT(windyChange, 20.0) << "the canopy changes colour from frame to frame in wind";

    // The same seed paints the same canopy.
    const SwayingFoliage again(settings, 200);
    cv::Mat a, b;
    foliage.Apply(150, image, labels, a);
    again.Apply(150, image, labels, b);
    EXPECT_EQ(cv::norm(a, b, cv::NORM_INF), 0.0);
}

TEST(QuietSceneTest, NoiseContrastLabelsAndReproducibleFrames) {
    QuietSettings settings;
    settings.quietFrames = 40;
    QuietScene scene(settings);
    ASSERT_GT(scene.FrameCount(), settings.quietFrames + settings.width);
    cv::Mat bgr, labels;
    double sum2 = 0;
    std::int64_t count = 0;
    for (std::int64_t t = 1; t <= settings.quietFrames; ++t) {
        scene.Frame(t, bgr, labels);
        ASSERT_EQ(cv::countNonZero(labels), 0) << "nothing moves in quiet frame " << t;
        cv::Mat difference;
        cv::subtract(bgr, scene.Background(), difference, cv::noArray(), CV_32F);
        sum2 += difference.dot(difference);
        count += difference.total() * 3;
    }
    EXPECT_NEAR(std::sqrt(sum2 / count), settings.noise, 0.15) << "sensor noise per channel";

    // The object: labelled exactly where it is drawn, 40 colour units from the wall.
    const cv::Vec3b wall = scene.Background().at<cv::Vec3b>(settings.height / 2, 0);
    const cv::Vec3b object = scene.ObjectColour();
    double distance2 = 0;
    for (int ch = 0; ch < 3; ++ch) distance2 += (object[ch] - wall[ch]) * (object[ch] - wall[ch]);
    EXPECT_NEAR(std::sqrt(distance2), 40.0, 1.0);
    std::int64_t objectFrames = 0;
    for (std::int64_t t = scene.FirstObjectFrame(); t <= scene.LastObjectFrame(); ++t) {
        scene.Frame(t, bgr, labels);
        const int area = cv::countNonZero(labels);
        ASSERT_GT(area, 0) << "the object is in view in frame " << t;
        ++objectFrames;
        // Labelled pixels are object-coloured up to the noise, the others are not.
        cv::Mat noiseless = scene.Background().clone();
        noiseless.setTo(cv::Scalar(object[0], object[1], object[2]), labels);
        cv::Mat difference;
        cv::absdiff(bgr, noiseless, difference);
        double largest = 0;
        cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
        EXPECT_LE(largest, 4 * settings.noise) << "frame " << t;
    }
    EXPECT_EQ(objectFrames, settings.width + 15);

    // Asked for out of order or by a new scene, a frame is the same.
    QuietScene fresh(settings);
    cv::Mat again, againLabels;
    scene.Frame(settings.quietFrames + 10, bgr, labels);
    fresh.Frame(settings.quietFrames + 10, again, againLabels);
    EXPECT_EQ(cv::norm(bgr, again, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(labels, againLabels, cv::NORM_INF), 0.0);
    settings.seed += 1;
    QuietScene other(settings);
    other.Frame(settings.quietFrames + 10, again, againLabels);
    EXPECT_GT(cv::norm(bgr, again, cv::NORM_INF), 0.0) << "another seed, other noise";
}

}  // namespace
}  // namespace corvane::tools::quality
