#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "FrameSource.h"
#include "ToolsTestSupport.h"

namespace corvane::tools::test {
namespace {

TEST(NumberPatternTest, ParsesOneIntegerConversionAndLiteralPercent) {
    NumberPattern pattern;
    std::string error;
    ASSERT_TRUE(pattern.Parse("in/100%%_f%06d.jpg", &error)) << error;
    EXPECT_EQ(pattern.Format(7), "in/100%_f000007.jpg");
    EXPECT_EQ(pattern.Format(1234567), "in/100%_f1234567.jpg");
    ASSERT_TRUE(pattern.Parse("f%d.png", &error));
    EXPECT_EQ(pattern.Format(12), "f12.png");
    ASSERT_TRUE(pattern.Parse("f%3u.png", &error));
    EXPECT_EQ(pattern.Format(5), "f  5.png");
}

TEST(NumberPatternTest, RejectsAnythingPrintfWouldMisread) {
    NumberPattern pattern;
    for (const char* bad : {"plain.png", "%d_%d.png", "%s.png", "%n", "in%", "%06.2d",
                            "%999999d.png", "%ld.png"}) {
        std::string error;
        EXPECT_FALSE(pattern.Parse(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(FrameSourceTest, ModelFrameIsColumnMajorRedGreenBlue) {
    cv::Mat bgr(2, 3, CV_8UC3);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            bgr.at<cv::Vec3b>(r, c) = cv::Vec3b(static_cast<std::uint8_t>(100 + 10 * r + c),
                                                static_cast<std::uint8_t>(50 + 10 * r + c),
                                                static_cast<std::uint8_t>(10 * r + c));
    std::vector<double> frame;
    ToModelFrame(bgr, frame);
    ASSERT_EQ(frame.size(), 18u);
    // Pixel p = c*H + r; red plane first, then green, then blue.
    const int H = 2, N = 6;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            const int p = c * H + r;
            EXPECT_EQ(frame[p], 10 * r + c);
            EXPECT_EQ(frame[N + p], 50 + 10 * r + c);
            EXPECT_EQ(frame[2 * N + p], 100 + 10 * r + c);
        }
}

// A video stream may decode to 16-bit or floating-point samples (16-bit
// grey or RGB codecs, high-bit-depth formats). Full scale must stay full
// scale: 16-bit values divided by 257 to the nearest step, floating 0..1
// times 255.
TEST(FrameSourceTest, FramesOfOtherDepthsAreScaledToEightBits) {
    std::string error;
    cv::Mat bgr;
    cv::Mat wide(1, 4, CV_16UC3);
    const std::uint16_t samples[4] = {0, 257 * 100, 65535, 257 * 200 + 128};
    for (int c = 0; c < 4; ++c)
        wide.at<cv::Vec<std::uint16_t, 3>>(0, c) = {samples[c], samples[(c + 1) % 4], 300};
    ASSERT_TRUE(ToColourBgr8(wide, bgr, &error)) << error;
    ASSERT_EQ(bgr.type(), CV_8UC3);
    EXPECT_EQ(bgr.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 100, 1));
    EXPECT_EQ(bgr.at<cv::Vec3b>(0, 1), cv::Vec3b(100, 255, 1));
    EXPECT_EQ(bgr.at<cv::Vec3b>(0, 2), cv::Vec3b(255, 200, 1));  // 128/257 rounds down
    EXPECT_EQ(bgr.at<cv::Vec3b>(0, 3), cv::Vec3b(200, 0, 1));

    for (const int depth : {CV_32F, CV_64F}) {
        cv::Mat unit(1, 5, CV_MAKETYPE(depth, 1));
        const double values[5] = {0.0, 0.25, 0.5, 1.0, 1.5};
        for (int c = 0; c < 5; ++c) {
            if (depth == CV_32F)
                unit.at<float>(0, c) = static_cast<float>(values[c]);
            else
                unit.at<double>(0, c) = values[c];
        }
        ASSERT_TRUE(ToColourBgr8(unit, bgr, &error)) << error;
        ASSERT_EQ(bgr.type(), CV_8UC3);
        const int expected[5] = {0, 64, 128, 255, 255};  // 63.75, 127.5 to the nearest; saturated
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(bgr.at<cv::Vec3b>(0, c), cv::Vec3b::all(static_cast<std::uint8_t>(expected[c])))
                << "depth " << depth << ", value " << values[c];
    }

    // Signed samples have no agreed brightness scale: refused, not guessed.
    const cv::Mat signedFrame(2, 2, CV_16SC3, cv::Scalar::all(5));
    EXPECT_FALSE(ToColourBgr8(signedFrame, bgr, &error));
    EXPECT_NE(error.find("signed"), std::string::npos) << error;
    const cv::Mat twoChannels(2, 2, CV_8UC2, cv::Scalar::all(5));
    EXPECT_FALSE(ToColourBgr8(twoChannels, bgr, &error));
    EXPECT_NE(error.find("2 channels"), std::string::npos) << error;
}

// A 16-bit image file is read at its depth and scaled like a 16-bit stream,
// not shifted down to 8 bits by the decoder.
TEST(FrameSourceTest, SixteenBitImagesAreScaledNotShifted) {
    TempFolder folder;
    cv::Mat wide(4, 4, CV_16UC3, cv::Scalar(500, 257 * 100, 65535));
    ASSERT_TRUE(cv::imwrite(folder / "f001.png", wide));
    cv::Mat grey(4, 4, CV_16UC1, cv::Scalar(500));
    ASSERT_TRUE(cv::imwrite(folder / "f002.png", grey));
    FrameSource source;
    std::string error;
    ASSERT_TRUE(source.Open(folder / "f%03d.png", &error)) << error;
    cv::Mat frame;
    ASSERT_TRUE(source.Read(frame, &error)) << error;
    EXPECT_EQ(frame.at<cv::Vec3b>(1, 1), cv::Vec3b(2, 100, 255));  // 500/257 = 1.95
    ASSERT_TRUE(source.Read(frame, &error)) << error;
    EXPECT_EQ(frame.at<cv::Vec3b>(2, 3), cv::Vec3b(2, 2, 2));
}

// Names that hold '%' but exist are files and folders, not patterns.
TEST(FrameSourceTest, AnExistingPathWithPercentIsTakenLiterally) {
    TempFolder folder;
    {
        std::ifstream in(CORVANE_SAMPLE_CLIP, std::ios::binary);
        std::ofstream(folder / "50%.avi", std::ios::binary) << in.rdbuf();
    }
    std::filesystem::create_directory(folder / "dir%done");
    std::filesystem::create_directory(folder / "take%d");
    WriteSceneImages(folder / "dir%done", "f%03d.png", 1, 3);
    WriteSceneImages(folder / "take%d", "f%03d.png", 1, 2);
    std::string error;
    cv::Mat frame;
    for (const auto& [input, frames] : std::vector<std::pair<std::string, std::int64_t>>{
             {folder / "dir%done", 3}, {folder / "take%d", 2}, {folder / "dir%done/", 3}}) {
        FrameSource source;
        ASSERT_TRUE(source.Open(input, &error)) << input << ": " << error;
        EXPECT_EQ(source.FrameCount(), frames) << input;
    }
    FrameSource video;
    ASSERT_TRUE(video.Open(folder / "50%.avi", &error)) << error;
    ASSERT_TRUE(video.Read(frame, &error)) << error;
    EXPECT_EQ(frame.size(), cv::Size(160, 120));
    // A pattern is still a pattern where no such path exists.
    FrameSource pattern;
    ASSERT_TRUE(pattern.Open(folder / "dir%%done/f%03d.png", &error)) << error;
    EXPECT_EQ(pattern.FrameCount(), 3);
    // And the command segments such a file.
    std::string out, err;
    EXPECT_EQ(Corvane({"segment", folder / "50%.avi", folder / "out", "--max-frames", "3"}, &out,
                      &err),
              0)
        << err;
    EXPECT_EQ(Names(folder / "out").size(), 4u);
}

TEST(FrameSourceTest, DecodesAGeneratedClip) {
    TempFolder folder;
    const std::string clip = folder / "clip.avi";
    {
        cv::VideoWriter writer(clip, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                               25, cv::Size(32, 24));
        ASSERT_TRUE(writer.isOpened());
        for (int t = 0; t < 5; ++t) writer.write(Solid(32, 24, cv::Scalar(40 * t, 100, 200)));
    }
    FrameSource source;
    std::string error;
    ASSERT_TRUE(source.Open(clip, &error)) << error;
    cv::Mat frame;
    int frames = 0;
    while (source.Read(frame, &error)) {
        ASSERT_EQ(frame.size(), cv::Size(32, 24));
        ASSERT_EQ(frame.type(), CV_8UC3);
        const cv::Vec3b centre = frame.at<cv::Vec3b>(12, 16);
        EXPECT_NEAR(centre[0], 40 * frames, 6);  // blue, lossy
        EXPECT_NEAR(centre[2], 200, 6);          // red
        ++frames;
    }
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(frames, 5);
}

TEST(FrameSourceTest, PatternStartsAtFirstExistingNumberAndStopsAtAGap) {
    TempFolder folder;
    WriteSceneImages(folder.path().string(), "f%03d.png", 1, 4);
    WriteSceneImages(folder.path().string(), "f%03d.png", 9, 1);  // after a gap: not part of it
    FrameSource source;
    std::string error;
    ASSERT_TRUE(source.Open(folder / "f%03d.png", &error)) << error;
    EXPECT_EQ(source.FrameCount(), 4);
    cv::Mat frame;
    int frames = 0;
    while (source.Read(frame, &error)) {
        // The white square of SceneFrame(t) starts at column 2 + t.
        EXPECT_EQ(frame.at<cv::Vec3b>(4, 2 + frames), cv::Vec3b(255, 255, 255));
        ++frames;
    }
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(frames, 4);
}

TEST(FrameSourceTest, FolderIsReadInNameOrderSkippingOtherFiles) {
    TempFolder folder;
    cv::imwrite(folder / "b.png", Solid(8, 6, cv::Scalar(0, 0, 20)));
    cv::imwrite(folder / "a.png", Solid(8, 6, cv::Scalar(0, 0, 10)));
    cv::imwrite(folder / "c.jpg", Solid(8, 6, cv::Scalar(0, 0, 30)));
    cv::imwrite(folder / ".hidden.png", Solid(8, 6, cv::Scalar(0, 0, 99)));
    std::ofstream(folder / "notes.txt") << "not an image";
    EXPECT_EQ(ListImages(folder.path().string()),
              (std::vector<std::string>{folder / "a.png", folder / "b.png", folder / "c.jpg"}));
    FrameSource source;
    std::string error;
    ASSERT_TRUE(source.Open(folder.path().string(), &error)) << error;
    cv::Mat frame;
    std::vector<int> reds;
    while (source.Read(frame, &error)) reds.push_back(frame.at<cv::Vec3b>(0, 0)[2]);
    ASSERT_EQ(reds.size(), 3u);
    EXPECT_EQ(reds[0], 10);
    EXPECT_EQ(reds[1], 20);
    EXPECT_NEAR(reds[2], 30, 3);
}

TEST(FrameSourceTest, ReportsWhatIsWrongWithTheInput) {
    TempFolder folder;
    FrameSource source;
    std::string error;
    EXPECT_FALSE(source.Open(folder / "missing.avi", &error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_FALSE(source.Open(folder.path().string(), &error));  // empty folder
    EXPECT_NE(error.find("no images"), std::string::npos) << error;
    EXPECT_FALSE(source.Open(folder / "x%04d.png", &error));
    EXPECT_NE(error.find("no image matches"), std::string::npos) << error;
    std::ofstream(folder / "fake.avi") << "this is not a video";
    // Either the container is refused or no frame decodes; never a frame.
    cv::Mat frame;
    const bool opened = source.Open(folder / "fake.avi", &error);
    EXPECT_FALSE(opened && source.Read(frame, &error));
    EXPECT_FALSE(error.empty());
}

TEST(FrameSourceTest, StopsAtAnUndecodableOrResizedFrame) {
    TempFolder folder;
    cv::imwrite(folder / "1.png", Solid(8, 6, cv::Scalar(1, 2, 3)));
    std::ofstream(folder / "2.png") << "broken";
    cv::imwrite(folder / "3.png", Solid(9, 6, cv::Scalar(1, 2, 3)));
    FrameSource source;
    std::string error;
    ASSERT_TRUE(source.Open(folder.path().string(), &error));
    cv::Mat frame;
    ASSERT_TRUE(source.Read(frame, &error));
    EXPECT_FALSE(source.Read(frame, &error));
    EXPECT_NE(error.find("2.png"), std::string::npos) << error;

    std::filesystem::remove(folder / "2.png");
    ASSERT_TRUE(source.Open(folder.path().string(), &error));
    ASSERT_TRUE(source.Read(frame, &error));
    EXPECT_FALSE(source.Read(frame, &error));
    EXPECT_NE(error.find("9x6"), std::string::npos) << error;
}

}  // namespace
}  // namespace corvane::tools::test
