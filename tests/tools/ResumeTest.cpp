#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "ToolsTestSupport.h"

namespace fs = std::filesystem;

namespace corvane::tools::test {
namespace {

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Mask(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.png", n);
    return name;
}

// The frames of a scene whose square moves, written once whole and once cut
// in two (the second part numbered from 1 again).
class ResumeTest : public ::testing::Test {
protected:
    static constexpr int kFrames = 14, kCut = 6;
    void SetUp() override {
        for (const char* f : {"whole", "first", "second"}) fs::create_directory(dir / f);
        for (int t = 0; t < kFrames; ++t) {
            char name[32];
            std::snprintf(name, sizeof name, "f%03d.png", t + 1);
            cv::imwrite(dir / ("whole/" + std::string(name)), SceneFrame(t));
            std::snprintf(name, sizeof name, "f%03d.png", t < kCut ? t + 1 : t - kCut + 1);
            cv::imwrite(dir / ((t < kCut ? "first/" : "second/") + std::string(name)),
                        SceneFrame(t));
        }
    }
    TempFolder dir;
};

// A video cut in two and resumed gives the masks of one run, bit for bit;
// the resumed run takes the parameters the model was saved with.
TEST_F(ResumeTest, ACutVideoResumedGivesTheMasksOfOneRun) {
    std::string err;
    const std::string options[] = {"--init-frames", "3", "--learning-rate", "0.08", "--quiet"};
    std::vector<std::string> whole = {"segment", dir / "whole/f%03d.png", dir / "out-whole"};
    whole.insert(whole.end(), std::begin(options), std::end(options));
    ASSERT_EQ(Corvane(whole, nullptr, &err), 0) << err;
    std::vector<std::string> first = {"segment", dir / "first/f%03d.png", dir / "out-first",
                                      "--save-model", dir / "model.mat"};
    first.insert(first.end(), std::begin(options), std::end(options));
    ASSERT_EQ(Corvane(first, nullptr, &err), 0) << err;
    ASSERT_TRUE(fs::is_regular_file(dir / "model.mat"));
    ASSERT_EQ(Corvane({"segment", dir / "second/f%03d.png", dir / "out-second", "--resume",
                       dir / "model.mat", "--quiet"},
                      nullptr, &err),
              0)
        << err;
    for (int n = 1; n <= kFrames - kCut; ++n)
        EXPECT_EQ(Bytes(dir / ("out-second/" + Mask(n))),
                  Bytes(dir / ("out-whole/" + Mask(kCut + n))))
            << "frame " << kCut + n;
    // Saved again after the second part: the model of the whole run.
    ASSERT_EQ(Corvane({"segment", dir / "whole/f%03d.png", dir / "out-again", "--save-model",
                       dir / "all.mat", "--init-frames", "3", "--learning-rate", "0.08"},
                      nullptr, &err),
              0)
        << err;
    ASSERT_EQ(Corvane({"segment", dir / "second/f%03d.png", dir / "out-third", "--resume",
                       dir / "model.mat", "--save-model", dir / "resumed.mat"},
                      nullptr, &err),
              0)
        << err;
    const std::string all = Bytes(dir / "all.mat"), resumed = Bytes(dir / "resumed.mat");
    ASSERT_EQ(all.size(), resumed.size());
    EXPECT_EQ(all.substr(128), resumed.substr(128)) << "the same model, bit for bit";
}

// What a user may get wrong: each run fails with the reason and writes no
// output folder, and the model file it was to save stays as it was.
TEST_F(ResumeTest, RefusesModelsThatDoNotFit) {
    std::string err;
    ASSERT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "out", "--save-model",
                       dir / "model.mat", "--init-frames", "3"},
                      nullptr, &err),
              0)
        << err;
    const std::string saved = Bytes(dir / "model.mat");

    // Frames of another size.
    fs::create_directory(dir / "large");
    for (int t = 0; t < 3; ++t)
        cv::imwrite(dir / ("large/f00" + std::to_string(t + 1) + ".png"), SceneFrame(t, 30, 16));
    EXPECT_EQ(Corvane({"segment", dir / "large/f%03d.png", dir / "out-large", "--resume",
                       dir / "model.mat", "--save-model", dir / "model.mat"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("is of 24x16 frames"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "out-large"));
    EXPECT_EQ(Bytes(dir / "model.mat"), saved);

    // A file cut short, and one that is not a model at all.
    std::ofstream(dir / "cut.mat", std::ios::binary) << saved.substr(0, saved.size() / 2);
    EXPECT_EQ(Corvane({"segment", dir / "second/f%03d.png", dir / "out-cut", "--resume",
                       dir / "cut.mat"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("cut short"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "out-cut"));
    EXPECT_EQ(Corvane({"segment", dir / "second/f%03d.png", dir / "out-png", "--resume",
                       dir / "first/f001.png"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("not a MATLAB MAT-file"), std::string::npos) << err;

    // A model that cannot be written leaves no masks either.
    EXPECT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "out-nowhere", "--save-model",
                       dir / "no-folder/model.mat"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("cannot save the model"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "out-nowhere"));

    // Nor into the output folder, which the run replaces whole.
    EXPECT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "out", "--save-model",
                       dir / "out/model.mat"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("inside the output folder"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_regular_file(dir / "out/000001.png")) << "the earlier output stays";

    // The OpenCV methods have no model to save.
    EXPECT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "out-mog", "--method", "mog2",
                       "--save-model", dir / "m.mat"},
                      nullptr, &err),
              2);
    EXPECT_NE(err.find("corvane only"), std::string::npos) << err;
}

// Learn masks that are all 0 change nothing; one per frame is needed, of the
// frames' size.
TEST_F(ResumeTest, LearnMasksPerFrame) {
    std::string err;
    fs::create_directory(dir / "none");
    fs::create_directory(dir / "square");
    for (int n = 1; n <= kCut; ++n) {
        cv::imwrite(dir / ("none/" + Mask(n)), cv::Mat::zeros(16, 24, CV_8U));
        cv::Mat square = cv::Mat::zeros(16, 24, CV_8U);
        square(cv::Rect(2, 3, 12, 4)).setTo(255);
        cv::imwrite(dir / ("square/" + Mask(n)), square);
    }
    ASSERT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "plain"}, nullptr, &err), 0) << err;
    ASSERT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "zero", "--learn-mask",
                       dir / "none/%06d.png"},
                      nullptr, &err),
              0)
        << err;
    ASSERT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "kept", "--learn-mask",
                       dir / "square/%06d.png", "--init-frames", "2"},
                      nullptr, &err),
              0)
        << err;
    for (int n = 1; n <= kCut; ++n)
        EXPECT_EQ(Bytes(dir / ("zero/" + Mask(n))), Bytes(dir / ("plain/" + Mask(n)))) << n;

    fs::remove(dir / ("none/" + Mask(4)));
    EXPECT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "gap", "--learn-mask",
                       dir / "none/%06d.png"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("frame 4: cannot read its learn mask"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "gap"));
    cv::imwrite(dir / ("none/" + Mask(4)), cv::Mat::zeros(10, 24, CV_8U));
    EXPECT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "small", "--learn-mask",
                       dir / "none/%06d.png"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("is 24x10; the frames are 24x16"), std::string::npos) << err;
    EXPECT_EQ(Corvane({"segment", dir / "first/f%03d.png", dir / "bad", "--learn-mask",
                       dir / "none/mask.png"},
                      nullptr, &err),
              1);
    EXPECT_NE(err.find("--learn-mask"), std::string::npos) << err;
}

}  // namespace
}  // namespace corvane::tools::test
