// Frames as users pass them to the detector object: what is refused, with
// which identifier, and the doubles the update is given.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "FrameInput.h"

namespace corvane::gateway {
namespace {

FrameFacts Facts(PixelClass pixels, std::vector<std::int64_t> sizes, const char* name = "uint8") {
    FrameFacts facts;
    facts.className = name;
    facts.supported = true;
    facts.pixels = pixels;
    facts.dimensions = static_cast<int>(sizes.size());
    for (std::size_t d = 0; d < sizes.size(); ++d) facts.sizes[d] = sizes[d];
    return facts;
}

TEST(FrameChecks, LeadingFramesAreOneFrameOrAStackOfThem) {
    std::int32_t H = 0, W = 0;
    std::int64_t T = 0;
    EXPECT_FALSE(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 3}), &H, &W, &T).raised());
    EXPECT_EQ(H, 3);
    EXPECT_EQ(W, 5);
    EXPECT_EQ(T, 1);
    EXPECT_FALSE(CheckLeadingFrames(Facts(PixelClass::Double, {3, 5, 3, 9}), &H, &W, &T).raised());
    EXPECT_EQ(T, 9);
    EXPECT_STREQ(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5}), &H, &W, &T).identifier,
                 "Corvane:frameChannels");
    EXPECT_STREQ(CheckLeadingFrames(Facts(PixelClass::Uint8, {0, 5, 3}), &H, &W, &T).identifier,
                 "Corvane:empty");
    EXPECT_STREQ(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 3, 0}), &H, &W, &T).identifier,
                 "Corvane:empty");
    EXPECT_STREQ(
        CheckLeadingFrames(Facts(PixelClass::Uint8, {65536, 65536, 3}), &H, &W, &T).identifier,
        "Corvane:sizeOverflow");
}

TEST(ReadFrame, GivesEveryValueExactlyAsADouble) {
    const std::uint8_t bytes[] = {0, 1, 127, 128, 254, 255};
    std::vector<double> out(6, -1);
    EXPECT_TRUE(ReadFrame(PixelClass::Uint8, bytes, 6, out.data()).finite);
    EXPECT_EQ(out, (std::vector<double>{0, 1, 127, 128, 254, 255}));
    const float floats[] = {0.1f, 254.75f, 3e-39f, 255.0f};
    ReadFrame(PixelClass::Single, floats, 4, out.data());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], static_cast<double>(floats[i]));
}

TEST(ReadFrame, FindsNaNAndInfinityInFloatingFrames) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double doubles[] = {10, 20, nan};
    EXPECT_FALSE(ReadFrame(PixelClass::Double, doubles, 3, nullptr).finite);
    EXPECT_TRUE(ReadFrame(PixelClass::Double, doubles, 2, nullptr).finite);
    const float floats[] = {1, std::numeric_limits<float>::infinity()};
    std::vector<double> out(2);
    EXPECT_FALSE(ReadFrame(PixelClass::Single, floats, 2, out.data()).finite);
}

TEST(ReadFrame, TellsAFrameScaledToOneFromADarkOne) {
    const double scaled[] = {0.0, 0.25, 1.0, 0.5};
    EXPECT_TRUE(ReadFrame(PixelClass::Double, scaled, 4, nullptr).looksScaledToOne);
    const double dark[] = {0.0, 0.0, 2.0, 1.0};
    EXPECT_FALSE(ReadFrame(PixelClass::Double, dark, 4, nullptr).looksScaledToOne);
    const double black[] = {0.0, 0.0};
    EXPECT_FALSE(ReadFrame(PixelClass::Double, black, 2, nullptr).looksScaledToOne);
    const std::uint8_t bytes[] = {0, 1, 1};
    std::vector<double> out(3);
    EXPECT_FALSE(ReadFrame(PixelClass::Uint8, bytes, 3, out.data()).looksScaledToOne);
    EXPECT_STREQ(ScaledToOneWarning().identifier, "Corvane:frameRange");
}

}  // namespace
}  // namespace corvane::gateway
