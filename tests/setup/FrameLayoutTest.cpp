#include "FrameLayout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {
namespace {

// A 2 x 3 image whose pixel (r, c) has red 10r + c + 1, green 100 + that,
// blue 200 + that: the model's planes R, G, B in column-major order.
std::vector<double> ExpectedPlanes() {
    std::vector<double> planes(18);
    for (int ch = 0; ch < 3; ++ch)
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 2; ++r) planes[ch * 6 + c * 2 + r] = 100 * ch + 10 * r + c + 1;
    return planes;
}

TEST(FrameLayout, RowMajorBgrAndColumnMajorRgbGiveTheSamePlanes) {
    std::vector<std::uint8_t> bgr(18), rgbPlanes(18);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            for (int ch = 0; ch < 3; ++ch) {
                const int value = 100 * ch + 10 * r + c + 1;  // ch 0 red
                bgr[(r * 3 + c) * 3 + (2 - ch)] = static_cast<std::uint8_t>(value);
                rgbPlanes[ch * 6 + c * 2 + r] = static_cast<std::uint8_t>(value);
            }
    std::vector<double> fromRows(18), fromColumns(18);
    EXPECT_TRUE(ReadHostFrame(RowMajorFrame(bgr.data(), SampleType::Uint8, 2, 3, 3), fromRows.data()));
    EXPECT_TRUE(ReadHostFrame(ColumnMajorFrame(rgbPlanes.data(), SampleType::Uint8, 2, 3, 3),
                              fromColumns.data()));
    EXPECT_EQ(fromRows, ExpectedPlanes());
    EXPECT_EQ(fromColumns, ExpectedPlanes());
}

TEST(FrameLayout, GreyIsThreeEqualChannelsAndAlphaIsIgnored) {
    const std::uint8_t grey[4] = {0, 7, 128, 255};  // 2 x 2, row-major
    std::vector<double> planes(12);
    ReadHostFrame(RowMajorFrame(grey, SampleType::Uint8, 2, 2, 1), planes.data());
    const std::vector<double> columnOrder = {0, 128, 7, 255};
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(std::vector<double>(planes.begin() + 4 * ch, planes.begin() + 4 * ch + 4),
                  columnOrder);

    const std::uint8_t bgra[8] = {1, 2, 3, 99, 4, 5, 6, 0};  // 1 x 2
    std::vector<double> colour(6);
    ReadHostFrame(RowMajorFrame(bgra, SampleType::Uint8, 1, 2, 4), colour.data());
    EXPECT_EQ(colour, (std::vector<double>{3, 6, 2, 5, 1, 4}));
}

TEST(FrameLayout, SixteenBitSamplesTakeTheNearestEightBitLevel) {
    // round(x / 257): x * 257 gives x, 65535 gives 255, halfway never occurs.
    const std::uint16_t x[] = {0, 128, 129, 257, 385, 386, 257 * 200, 65406, 65407, 65535};
    const double level[] = {0, 0, 1, 1, 1, 2, 200, 254, 255, 255};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(SixteenBitColour(x[i]), level[i]) << x[i];
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(SixteenBitColour(static_cast<std::uint16_t>(v * 257)), v);
    std::vector<double> planes(3);
    const std::uint16_t one[3] = {65535, 514, 0};
    ReadHostFrame(RowMajorFrame(one, SampleType::Uint16, 1, 1, 3), planes.data());
    EXPECT_EQ(planes, (std::vector<double>{0, 2, 255}));
}

TEST(FrameLayout, StridesOfAnySignAndPaddedRowsAreFollowed) {
    // The 2 x 3 image stored upside down with 5 bytes of padding per row.
    std::vector<std::uint8_t> stored(2 * 14, 77);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            for (int ch = 0; ch < 3; ++ch)
                stored[(1 - r) * 14 + c * 3 + (2 - ch)] =
                    static_cast<std::uint8_t>(100 * ch + 10 * r + c + 1);
    HostFrame frame = RowMajorFrame(stored.data() + 14, SampleType::Uint8, 2, 3, 3);
    frame.strides[0] = -14;
    std::vector<double> planes(18);
    ReadHostFrame(frame, planes.data());
    EXPECT_EQ(planes, ExpectedPlanes());
}

TEST(FrameLayout, NonFiniteAndScaledFloatingFramesAreTold) {
    const float finite[3] = {0.5f, 0.0f, 1.0f};
    const float bad[3] = {0.5f, std::numeric_limits<float>::infinity(), 1.0f};
    std::vector<double> planes(3);
    EXPECT_TRUE(ReadHostFrame(RowMajorFrame(finite, SampleType::Float32, 1, 1, 3), planes.data()));
    EXPECT_FALSE(ReadHostFrame(RowMajorFrame(bad, SampleType::Float32, 1, 1, 3), planes.data()));
    EXPECT_TRUE(LooksScaledToOne(RowMajorFrame(finite, SampleType::Float32, 1, 1, 3)));
    EXPECT_FALSE(LooksScaledToOne(RowMajorFrame(bad, SampleType::Float32, 1, 1, 3)));
    // The alpha of a BGRA frame does not count; an all-zero frame is not scaled.
    const double bgra[4] = {0.2, 0.4, 0.6, 255};
    const double zeros[3] = {0, 0, 0};
    EXPECT_TRUE(LooksScaledToOne(RowMajorFrame(bgra, SampleType::Float64, 1, 1, 4)));
    EXPECT_FALSE(LooksScaledToOne(RowMajorFrame(zeros, SampleType::Float64, 1, 1, 3)));
    const std::uint16_t small[1] = {1};
    EXPECT_FALSE(LooksScaledToOne(RowMajorFrame(small, SampleType::Uint16, 1, 1, 1)));
}

TEST(FrameLayout, TheMaskGoesBackIntoTheHostsStrides) {
    const std::uint8_t columnMajor[6] = {1, 2, 3, 4, 5, 6};  // 2 x 3
    std::vector<char> rows(2 * 8, 9);                         // every other byte, rows of 8
    WriteHostMask(columnMajor, 2, 3, rows.data(), 8, 2);
    EXPECT_EQ(rows, (std::vector<char>{1, 9, 3, 9, 5, 9, 9, 9, 2, 9, 4, 9, 6, 9, 9, 9}));
}

}  // namespace
}  // namespace corvane
