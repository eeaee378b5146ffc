// A rerun that finds its output already done, the update's thread count, and
// the parameter listing the Python batch reads.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "RunFiles.h"
#include "UpdateModel.h"

#include <sys/wait.h>
#include <unistd.h>
#include "ToolsTestSupport.h"

namespace fs = std::filesystem;

namespace corvane::tools::test {
namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SkipCompleteTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(folder / "in");
        WriteSceneImages(folder / "in", "f%03d.png", 1, 6);
        ASSERT_EQ(Corvane({"segment", input, out, "--init-frames", "2"}, nullptr, &err), 0) << err;
        // A marker file: replaced outputs lose it, skipped ones keep it.
        fs::last_write_time(fs::path(out) / "000003.png", fs::file_time_type{});
    }
    bool Skipped(std::vector<std::string> extra) {
        std::vector<std::string> args{"segment", input, out, "--init-frames", "2", "--skip-complete"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string said;
        EXPECT_EQ(Corvane(args, &said, &err), 0) << err;
        const bool skipped = said.find("already holds this run") != std::string::npos;
        EXPECT_EQ(skipped, fs::last_write_time(fs::path(out) / "000003.png") == fs::file_time_type{});
        return skipped;
    }
    TempFolder folder;
    std::string input = folder / "in/f%03d.png";
    std::string out = folder / "out";
    std::string err;
};

TEST_F(SkipCompleteTest, LeavesTheSameFinishedRunAlone) {
    EXPECT_TRUE(Skipped({}));
    EXPECT_TRUE(Skipped({"--threads", "3"}));   // threads do not change the masks
    EXPECT_TRUE(Skipped({"--median", "5"}));    // the default, spelled out
}

TEST_F(SkipCompleteTest, RedoesWhatDiffersOrIsMissing) {
    EXPECT_FALSE(Skipped({"--threshold", "0.3"}));
    EXPECT_FALSE(Skipped({"--init-frames", "3"}));  // the later option counts
    ASSERT_EQ(Corvane({"segment", input, out, "--init-frames", "2"}, nullptr, &err), 0) << err;
    fs::last_write_time(fs::path(out) / "000003.png", fs::file_time_type{});
    EXPECT_FALSE(Skipped({"--probability"}));
    EXPECT_FALSE(Skipped({"--max-frames", "4"}));
}

TEST_F(SkipCompleteTest, RedoesAFolderMissingAMaskOrWithAnotherInput) {
    fs::remove(fs::path(out) / "000006.png");
    EXPECT_FALSE(Skipped({}));
    fs::last_write_time(fs::path(out) / "000003.png", fs::file_time_type{});
    // The same frames under another name are another input.
    fs::copy(folder / "in", folder / "again");
    input = folder / "again/f%03d.png";
    EXPECT_FALSE(Skipped({}));
    EXPECT_NE(ReadFile(fs::path(out) / kRunRecord).find("again"), std::string::npos);
}

// A run cut short by --max-frames is not the whole video's run.
TEST_F(SkipCompleteTest, RedoesARunOfFewerFramesThanAsked) {
    ASSERT_EQ(Corvane({"segment", input, out, "--init-frames", "2", "--max-frames", "3"}, nullptr,
                      &err),
              0)
        << err;
    fs::last_write_time(fs::path(out) / "000003.png", fs::file_time_type{});
    EXPECT_FALSE(Skipped({}));
    EXPECT_EQ(Names(out).size(), 7u);
}

// The input as it is now, not only its name: more frames, or the same
// frames written again, are another input.
TEST_F(SkipCompleteTest, RedoesWhenTheInputChanged) {
    WriteSceneImages(folder / "in", "f%03d.png", 7, 2);
    EXPECT_FALSE(Skipped({}));
    EXPECT_EQ(Names(out).size(), 9u);
    fs::last_write_time(fs::path(out) / "000003.png", fs::file_time_type{});
    EXPECT_TRUE(Skipped({}));
    fs::last_write_time(folder / "in/f004.png", fs::file_time_type::clock::now());
    EXPECT_FALSE(Skipped({}));
}

// What a damaged or edited folder looks like: a mask replaced by random
// bytes, an empty file or an image of another size, a record whose frame
// count was lowered, a mask beyond the recorded ones.
TEST_F(SkipCompleteTest, RedoesADamagedOrEditedFolder) {
    const fs::path last = fs::path(out) / "000006.png";
    const fs::path middle = fs::path(out) / "000004.png";
    const auto again = [&] {
        ASSERT_EQ(Corvane({"segment", input, out, "--init-frames", "2"}, nullptr, &err), 0) << err;
        fs::last_write_time(fs::path(out) / "000003.png", fs::file_time_type{});
        ASSERT_TRUE(Skipped({}));
    };
    std::ofstream(middle, std::ios::binary) << "0123456789";
    EXPECT_FALSE(Skipped({}));
    again();
    std::ofstream(middle, std::ios::binary).close();  // empty
    EXPECT_FALSE(Skipped({}));
    again();
    // Another image of exactly the recorded size: only decoding tells.
    const std::uintmax_t size = fs::file_size(last);
    std::ofstream(last, std::ios::binary) << std::string(size, '\x89');
    EXPECT_FALSE(Skipped({}));
    again();
    ASSERT_TRUE(cv::imwrite(last.string(), cv::Mat::zeros(5, 5, CV_8U)));
    EXPECT_FALSE(Skipped({}));
    again();
    std::string record = ReadFile(fs::path(out) / kRunRecord);
    const std::size_t at = record.find("\nframes 6\n");
    ASSERT_NE(at, std::string::npos) << record;
    record.replace(at, 10, "\nframes 5\n");
    std::ofstream(fs::path(out) / kRunRecord, std::ios::binary) << record;
    EXPECT_FALSE(Skipped({}));
    again();
    fs::copy_file(last, fs::path(out) / "000007.png");
    EXPECT_FALSE(Skipped({}));
    EXPECT_FALSE(fs::exists(fs::path(out) / "000007.png"));
}

// A short video accepted with --allow-short, then the whole video copied to
// the same path: the rerun segments it all.
TEST(SkipCompleteVideoTest, RedoesAShortRunOnceTheWholeVideoIsThere) {
    TempFolder folder;
    const std::string clip = folder / "clip.avi";
    const std::string whole = ReadFile(CORVANE_SAMPLE_CLIP);
    std::ofstream(clip, std::ios::binary) << whole.substr(0, whole.size() / 4);
    const std::string out = folder / "out";
    std::string said, err;
    ASSERT_EQ(Corvane({"segment", clip, out, "--quiet", "--allow-short", "--max-frames", "400"},
                      &said, &err),
              0)
        << err;
    const std::size_t shortRun = Names(out).size();
    std::ofstream(clip, std::ios::binary) << whole;
    ASSERT_EQ(Corvane({"segment", clip, out, "--quiet", "--allow-short", "--max-frames", "400",
                       "--skip-complete"},
                      &said, &err),
              0)
        << err;
    EXPECT_EQ(said.find("already holds this run"), std::string::npos) << said;
    EXPECT_GT(Names(out).size(), shortRun);
}

// A skipping run clears what killed runs left beside OUTDIR, as a
// segmenting run does.
TEST_F(SkipCompleteTest, ClearsAKilledRunsWorkingFolderWhenSkipping) {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    int status = 0;
    waitpid(pid, &status, 0);  // an id no process holds now
    const fs::path left = out + ".incomplete-" + std::to_string(pid);
    fs::create_directory(left);
    std::ofstream(left / "000001.png") << "unfinished";
    ProcessIdentity killed = ThisProcess();
    killed.pid = pid;
    killed.start = "1";
    std::ofstream(left / kWorkingMarker) << MarkerText(killed, false);
    EXPECT_TRUE(Skipped({}));
    EXPECT_FALSE(fs::exists(left));
}

TEST_F(SkipCompleteTest, ARunWithItsWorkingMarkerIsNotFinished) {
    std::ofstream(fs::path(out) / kWorkingMarker) << "corvane working folder\npid 1\n";
    EXPECT_FALSE(Skipped({}));
}

TEST(ThreadsOptionTest, SameMasksForEveryCount) {
    TempFolder folder;
    fs::create_directory(folder / "in");
    WriteSceneImages(folder / "in", "f%03d.png", 1, 5);
    std::string err;
    for (const char* threads : {"1", "2", "5"}) {
        const std::string out = folder / (std::string("t") + threads);
        ASSERT_EQ(Corvane({"segment", folder / "in/f%03d.png", out, "--threads", threads}, nullptr, &err), 0) << err;
        for (int f = 1; f <= 5; ++f)
            EXPECT_EQ(ReadFile(fs::path(out) / FrameImageName(f)),
                      ReadFile(fs::path(folder / "t1") / FrameImageName(f)))
                << threads << " threads, frame " << f;
    }
    EXPECT_EQ(Corvane({"segment", folder / "in/f%03d.png", folder / "x", "--threads", "-1"}, nullptr, &err), 2);
    EXPECT_NE(err.find("--threads"), std::string::npos) << err;
    // The core's cap, as in every host.
    EXPECT_EQ(Corvane({"segment", folder / "in/f%03d.png", folder / "x", "--threads",
                       std::to_string(kMaxThreads + 1)},
                      nullptr, &err),
              2);
    EXPECT_NE(err.find(std::to_string(kMaxThreads)), std::string::npos) << err;
}

// The start grows with the square of its frame count: the option stops at
// what finishes in reasonable time, and says so.
TEST(ParametersCommandTest, TheStartIsBoundedToWhatFinishes) {
    std::string said, err;
    EXPECT_EQ(Corvane({"parameters", "--init-frames", "100"}, &said, &err), 0) << err;
    EXPECT_EQ(Corvane({"parameters", "--init-frames", "1000"}, &said, &err), 2);
    EXPECT_NE(err.find("100"), std::string::npos) << err;
    EXPECT_NE(err.find("--init-frames"), std::string::npos) << err;
}

TEST(ParametersCommandTest, ListsEveryParameterWithTheGivenValues) {
    std::string out, err;
    ASSERT_EQ(Corvane({"parameters", "--threshold", "0.3", "--map", "2x4"}, &out, &err), 0) << err;
    EXPECT_NE(out.find("mask_threshold --threshold 0.3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("map_columns --map-columns 4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("step_size --step-size 0.01\n"), std::string::npos) << out;
    EXPECT_EQ(Corvane({"parameters", "--threshold", "2"}, &out, &err), 2);
    EXPECT_NE(err.find("--threshold"), std::string::npos) << err;
    EXPECT_EQ(Corvane({"parameters", "--prior-floor", "0.5", "--prior-ceiling", "0.4"}, &out, &err), 2);
    EXPECT_EQ(Corvane({"parameters", "--quiet"}, &out, &err), 2);
    EXPECT_NE(err.find("not a model option"), std::string::npos) << err;
}

}  // namespace
}  // namespace corvane::tools::test
