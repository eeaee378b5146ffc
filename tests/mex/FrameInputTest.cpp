// Frames as users pass them to the detector object: what is refused, with
// which identifier, and the doubles the update is given.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
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
    int channels = 0;
    EXPECT_FALSE(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 3}), &H, &W, &T, &channels).raised());
    EXPECT_EQ(H, 3);
    EXPECT_EQ(W, 5);
    EXPECT_EQ(T, 1);
    EXPECT_EQ(channels, 3);
    EXPECT_FALSE(CheckLeadingFrames(Facts(PixelClass::Double, {3, 5, 3, 9}), &H, &W, &T, &channels).raised());
    EXPECT_EQ(T, 9);
    // Grey: one H x W frame, or an H x W x 1 x T stack.
    EXPECT_FALSE(CheckLeadingFrames(Facts(PixelClass::Uint16, {3, 5}), &H, &W, &T, &channels).raised());
    EXPECT_EQ(T, 1);
    EXPECT_EQ(channels, 1);
    EXPECT_FALSE(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 1, 4}), &H, &W, &T, &channels).raised());
    EXPECT_EQ(T, 4);
    EXPECT_EQ(channels, 1);
    // H x W x T would be taken for T colour channels: refused, naming the
    // grey stack's shape.
    const GatewayError greyStack =
        CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 6}), &H, &W, &T, &channels);
    EXPECT_STREQ(greyStack.identifier, "Corvane:frameChannels");
    EXPECT_NE(std::string(greyStack.message).find("H x W x 1 x T (grey)"), std::string::npos);
    EXPECT_STREQ(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 4}), &H, &W, &T, &channels).identifier,
                 "Corvane:frameChannels");
    EXPECT_STREQ(CheckLeadingFrames(Facts(PixelClass::Uint8, {0, 5, 3}), &H, &W, &T, &channels).identifier,
                 "Corvane:empty");
    EXPECT_STREQ(CheckLeadingFrames(Facts(PixelClass::Uint8, {3, 5, 3, 0}), &H, &W, &T, &channels).identifier,
                 "Corvane:empty");
    EXPECT_STREQ(
        CheckLeadingFrames(Facts(PixelClass::Uint8, {65536, 65536, 3}), &H, &W, &T, &channels).identifier,
        "Corvane:sizeOverflow");
}

TEST(FrameChecks, AStepTakesGreyOrColourOfTheSizeAndSaysWhatIsTaken) {
    int channels = 0;
    EXPECT_FALSE(CheckFrame(Facts(PixelClass::Uint16, {3, 5}), 3, 5, &channels).raised());
    EXPECT_EQ(channels, 1);
    EXPECT_FALSE(CheckFrame(Facts(PixelClass::Single, {3, 5, 3}), 3, 5, &channels).raised());
    EXPECT_EQ(channels, 3);
    const GatewayError four = CheckFrame(Facts(PixelClass::Uint8, {3, 5, 4}), 3, 5, &channels);
    EXPECT_STREQ(four.identifier, "Corvane:frameChannels");
    EXPECT_NE(std::string(four.message).find("3 x 5 x 4"), std::string::npos) << four.message;
    EXPECT_NE(std::string(four.message).find("frame(:, :, 1:3)"), std::string::npos);
    EXPECT_STREQ(CheckFrame(Facts(PixelClass::Uint8, {3, 5, 3, 2}), 3, 5, &channels).identifier,
                 "Corvane:frameChannels");
    EXPECT_STREQ(CheckFrame(Facts(PixelClass::Uint8, {5, 3}), 3, 5, &channels).identifier,
                 "Corvane:frameSize");
    FrameFacts int16 = Facts(PixelClass::Uint8, {3, 5, 3}, "int16");
    int16.supported = false;
    const GatewayError refused = CheckFrame(int16, 3, 5, &channels);
    EXPECT_STREQ(refused.identifier, "Corvane:frameClass");
    EXPECT_NE(std::string(refused.message).find("int16; it must be uint8"), std::string::npos);
    EXPECT_NE(std::string(refused.message).find("uint16"), std::string::npos);
}

TEST(ReadModelFrame, GreyAnd16BitFramesAreTheColoursTheyStandFor) {
    // A 2 x 1 grey frame of x * 257: the planes R, G, B each hold x.
    const std::uint16_t grey[] = {257 * 3, 65535};
    std::vector<double> out(6, -1);
    EXPECT_TRUE(ReadModelFrame(PixelClass::Uint16, grey, 2, 1, 1, out.data()));
    EXPECT_EQ(out, (std::vector<double>{3, 255, 3, 255, 3, 255}));
    const double colour[] = {1, 2, 3, 4, 5, 6};  // column-major planes already
    EXPECT_TRUE(ReadModelFrame(PixelClass::Double, colour, 2, 1, 3, out.data()));
    EXPECT_EQ(out, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(PixelBytes(PixelClass::Uint16), 2);
}

TEST(ReadModelFrame, GivesEveryValueExactlyAsADouble) {
    const std::uint8_t bytes[] = {0, 1, 127, 128, 254, 255};
    std::vector<double> out(6, -1);
    EXPECT_TRUE(ReadModelFrame(PixelClass::Uint8, bytes, 2, 1, 3, out.data()));
    EXPECT_EQ(out, (std::vector<double>{0, 1, 127, 128, 254, 255}));
    const float floats[] = {0.1f, 254.75f, 3e-39f, 255.0f, 0.0f, 1.0f};
    ReadModelFrame(PixelClass::Single, floats, 1, 2, 3, out.data());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], static_cast<double>(floats[i]));
}

TEST(SummariseFrame, FindsNaNAndInfinityInFloatingFrames) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double doubles[] = {10, 20, nan};
    EXPECT_FALSE(SummariseFrame(PixelClass::Double, doubles, 3).finite);
    EXPECT_TRUE(SummariseFrame(PixelClass::Double, doubles, 2).finite);
    const float floats[] = {1, std::numeric_limits<float>::infinity(), 2};
    std::vector<double> out(3);
    EXPECT_FALSE(SummariseFrame(PixelClass::Single, floats, 2).finite);
    EXPECT_FALSE(ReadModelFrame(PixelClass::Single, floats, 1, 1, 3, out.data()));
}

TEST(SummariseFrame, TellsAFrameScaledToOneFromADarkOne) {
    const double scaled[] = {0.0, 0.25, 1.0, 0.5};
    EXPECT_TRUE(SummariseFrame(PixelClass::Double, scaled, 4).looksScaledToOne);
    const double dark[] = {0.0, 0.0, 2.0, 1.0};
    EXPECT_FALSE(SummariseFrame(PixelClass::Double, dark, 4).looksScaledToOne);
    const double black[] = {0.0, 0.0};
    EXPECT_FALSE(SummariseFrame(PixelClass::Double, black, 2).looksScaledToOne);
    const std::uint8_t bytes[] = {0, 1, 1};
    EXPECT_FALSE(SummariseFrame(PixelClass::Uint8, bytes, 3).looksScaledToOne);
    const std::uint16_t words[] = {0, 1, 1};
    EXPECT_FALSE(SummariseFrame(PixelClass::Uint16, words, 3).looksScaledToOne);
    EXPECT_STREQ(ScaledToOneWarning().identifier, "Corvane:frameRange");
}

}  // namespace
}  // namespace corvane::gateway
