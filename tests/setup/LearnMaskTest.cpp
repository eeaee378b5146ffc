#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Detector.h"
#include "SyntheticScene.h"

namespace corvane::test {
namespace {

// A still scene with camera noise into which a box walks at frame `arrives`
// and then stands still: what a person looks like to a detector once they
// stop.
class LearnMaskTest : public ::testing::Test {
protected:
    static constexpr std::int32_t H = 24, W = 30;
    static constexpr std::int32_t top = 8, left = 10, side = 8;
    static constexpr std::size_t N = std::size_t(H) * W;

    std::vector<double> Frame(std::int32_t t) const {
        std::mt19937 random(1234u + static_cast<unsigned>(t));
        std::normal_distribution<double> noise(0, 2);
        std::vector<double> frame(3 * N);
        const double background[3] = {90, 120, 150}, box[3] = {200, 60, 40};
        for (std::int32_t c = 0; c < W; ++c)
            for (std::int32_t r = 0; r < H; ++r) {
                const bool inBox = t >= arrives && r >= top && r < top + side && c >= left &&
                                   c < left + side;
                const std::size_t p = std::size_t(c) * H + r;
                for (int ch = 0; ch < 3; ++ch)
                    frame[ch * N + p] = (inBox ? box[ch] : background[ch]) + noise(random);
            }
        return frame;
    }
    // The box's pixels.
    std::vector<std::uint8_t> BoxMask() const {
        std::vector<std::uint8_t> mask(N, 0);
        for (std::int32_t c = left; c < left + side; ++c)
            for (std::int32_t r = top; r < top + side; ++r) mask[std::size_t(c) * H + r] = 1;
        return mask;
    }
    // How many of the box's pixels the mask shows as foreground.
    static std::size_t Seen(const std::vector<std::uint8_t>& mask,
                            const std::vector<std::uint8_t>& box) {
        std::size_t seen = 0;
        for (std::size_t p = 0; p < N; ++p) seen += box[p] != 0 && mask[p] != 0;
        return seen;
    }

    // Runs frames 0..frames-1, the learn mask over the box from `maskFrom` on
    // (never when negative); the foreground count inside the box per frame.
    std::vector<std::size_t> Run(std::int32_t frames, std::int32_t maskFrom,
                                 Detector* keep = nullptr) {
        Detector own(parameters);
        Detector& detector = keep != nullptr ? *keep : own;
        std::string error;
        EXPECT_TRUE(detector.Start(H, W, &error)) << error;
        const std::vector<std::uint8_t> box = BoxMask();
        std::vector<std::uint8_t> mask(N);
        std::vector<std::size_t> seen;
        for (std::int32_t t = 0; t < frames; ++t) {
            const std::vector<double> frame = Frame(t);
            Detector::Learning learning;
            if (maskFrom >= 0 && t >= maskFrom) learning.keep = box.data();
            EXPECT_TRUE(detector.Process(FrameImage{frame.data(), std::int64_t(frame.size())},
                                         mask.data(), nullptr, &error, learning))
                << error;
            seen.push_back(Seen(mask, box));
        }
        return seen;
    }

    std::int32_t arrives = 30;
    ModelParameters parameters;
};

// Without the learn mask the box standing still fades into the background;
// with it, it stays foreground as long as the mask is set, and once the
// mask is lifted it fades as a new arrival would.
TEST_F(LearnMaskTest, AStillObjectUnderTheMaskStaysForeground) {
    const std::int32_t frames = 400;
    const std::size_t whole = std::size_t(side) * side;
    const std::vector<std::size_t> plain = Run(frames, -1);
    EXPECT_GE(plain[std::size_t(arrives) + 2], whole * 3 / 4) << "the box is seen when it arrives";
    EXPECT_LT(plain.back(), whole / 4) << "and fades once it stands still";

    const std::vector<std::size_t> kept = Run(frames, arrives);
    for (std::int32_t t = arrives + 2; t < frames; ++t)
        ASSERT_GE(kept[std::size_t(t)], whole * 3 / 4) << "frame " << t;

    // The mask lifted halfway: the box fades again, from the background it
    // had before the box came.
    Detector detector(parameters);
    std::string error;
    ASSERT_TRUE(detector.Start(H, W, &error)) << error;
    const std::vector<std::uint8_t> box = BoxMask();
    std::vector<std::uint8_t> mask(N);
    std::size_t last = 0;
    for (std::int32_t t = 0; t < 2 * frames; ++t) {
        const std::vector<double> frame = Frame(t);
        Detector::Learning learning;
        if (t >= arrives && t < frames) learning.keep = box.data();
        ASSERT_TRUE(detector.Process(FrameImage{frame.data(), std::int64_t(frame.size())},
                                     mask.data(), nullptr, &error, learning))
            << error;
        if (t == frames + 2) {
            EXPECT_GE(Seen(mask, box), whole * 3 / 4) << "still seen at first";
        }
        last = Seen(mask, box);
    }
    EXPECT_LT(last, whole / 4) << "faded without the mask";
}

// Under the mask the pixel's neurons, variances and prior are those before
// the frame, bit for bit; everywhere else, and the mask itself, are as
// without the mask on that frame. No mask gives Process's bits.
TEST_F(LearnMaskTest, KeepsExactlyTheMaskedPixelsModel) {
    Detector plain(parameters), masked(parameters), none(parameters);
    std::string error;
    for (Detector* d : {&plain, &masked, &none}) ASSERT_TRUE(d->Start(H, W, &error)) << error;
    std::vector<std::uint8_t> a(N), b(N), c(N);
    const std::vector<std::uint8_t> box = BoxMask();
    const std::size_t K = std::size_t(parameters.mapRows) * parameters.mapColumns;
    for (std::int32_t t = 0; t < arrives + 3; ++t) {
        const std::vector<double> frame = Frame(t);
        const FrameImage image{frame.data(), std::int64_t(frame.size())};
        const OwnedModel before = masked.model();
        ASSERT_TRUE(plain.Process(image, a.data(), nullptr, &error)) << error;
        ASSERT_TRUE(none.Process(image, c.data(), nullptr, &error, Detector::Learning{})) << error;
        Detector::Learning learning;
        if (t == arrives + 2) learning.keep = box.data();
        ASSERT_TRUE(masked.Process(image, b.data(), nullptr, &error, learning)) << error;
        EXPECT_EQ(a, c);
        EXPECT_LT(FirstDifferentField(plain.model(), none.model()), 0);
        if (learning.keep == nullptr) continue;
        EXPECT_EQ(a, b) << "the mask is computed as without the learn mask";
        const OwnedModel& after = masked.model();
        const OwnedModel& learnt = plain.model();
        for (std::size_t p = 0; p < N; ++p) {
            const OwnedModel& expected = box[p] != 0 ? before : learnt;
            for (std::size_t k = 0; k < 3 * K; ++k)
                ASSERT_EQ(after.Mu[p * 3 * K + k], expected.Mu[p * 3 * K + k]) << p;
            for (std::size_t k = 0; k < K; ++k)
                ASSERT_EQ(after.Sigma2[p * K + k], expected.Sigma2[p * K + k]) << p;
            ASSERT_EQ(after.Pi[p], expected.Pi[p]) << p;
            ASSERT_EQ(after.imMask[p], learnt.imMask[p]) << p;
        }
    }
    Detector::Learning wrong;
    wrong.rate = 2;
    const std::vector<double> frame = Frame(0);
    EXPECT_FALSE(masked.Process(FrameImage{frame.data(), std::int64_t(frame.size())}, b.data(),
                                nullptr, &error, wrong));
    EXPECT_NE(error.find("learning rate"), std::string::npos) << error;
}

}  // namespace
}  // namespace corvane::test
