#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "OutputFolder.h"
#include "SegmentRun.h"
#include "StopFlag.h"
#include "ToolsTestSupport.h"

namespace fs = std::filesystem;

namespace corvane::tools::test {
namespace {

std::vector<std::string> MaskNames(int frames) {
    std::vector<std::string> names;
    for (int f = 1; f <= frames; ++f) {
        char name[16];
        std::snprintf(name, sizeof name, "%06d.png", f);
        names.push_back(name);
    }
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class SegmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(folder / "in");
        WriteSceneImages(folder / "in", "f%03d.png", 1, 6);
    }
    TempFolder folder;
    std::string input = folder / "in/f%03d.png";
    std::string out = folder / "out";
    std::string err;
};

TEST_F(SegmentTest, WritesOneNumberedMaskPerFrameAndARunRecord) {
    std::string text;
    ASSERT_EQ(Corvane({"segment", input, out, "--init-frames", "1"}, &text, &err), 0) << err;
    EXPECT_NE(text.find("\ncorvane: 6 frames in "), std::string::npos) << text;
    EXPECT_NE(text.find(" frames/s)\n"), std::string::npos) << text;
    std::vector<std::string> expected = MaskNames(6);
    expected.push_back(kRunRecord);
    EXPECT_EQ(Names(out), expected);
    // Nothing left beside the output but the input.
    EXPECT_EQ(Names(folder.path().string()), (std::vector<std::string>{"in", "out"}));
    EXPECT_NE(ReadFile(folder / "out/corvane-run.txt").find("frames 6"), std::string::npos);

    // Frame 6: the white square covers rows 3..6, columns 7..10.
    const cv::Mat mask = cv::imread(folder / "out/000006.png", cv::IMREAD_UNCHANGED);
    ASSERT_EQ(mask.type(), CV_8U);
    ASSERT_EQ(mask.size(), cv::Size(24, 16));
    EXPECT_EQ(mask.at<std::uint8_t>(4, 9), 255);
    EXPECT_EQ(mask.at<std::uint8_t>(12, 20), 0);
    for (auto it = mask.begin<std::uint8_t>(); it != mask.end<std::uint8_t>(); ++it)
        ASSERT_TRUE(*it == 0 || *it == 255);
}

// The run as another host calls it: a result instead of an exit status, a
// progress call per frame, and a stop flag that ends it with nothing written.
TEST_F(SegmentTest, RunReturnsItsResultAndStopsOnRequest) {
    SegmentOptions options;
    options.input = input;
    options.outdir = out;
    StopFlag stop;
    std::vector<std::int64_t> done;
    SegmentResult result = RunSegment(options, stop, [&](std::int64_t n, std::int64_t total) {
        EXPECT_EQ(total, 6);
        done.push_back(n);
    });
    ASSERT_EQ(result.status, RunStatus::Done) << result.message;
    EXPECT_EQ(result.frames, 6);
    EXPECT_EQ(result.width, 24);
    EXPECT_EQ(result.height, 16);
    EXPECT_GT(result.seconds, 0);
    EXPECT_EQ(done, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Names(out).size(), 7u);

    stop.Request(SIGTERM);
    options.outdir = folder / "stopped";
    result = RunSegment(options, stop);
    EXPECT_EQ(result.status, RunStatus::Interrupted);
    EXPECT_EQ(stop.ExitStatus(), 143);
    stop.Clear();
    options.sheetRows = kMaxSheetRows + 1;
    result = RunSegment(options, stop);
    EXPECT_EQ(result.status, RunStatus::Failed);
    EXPECT_NE(result.message.find("contact sheet"), std::string::npos) << result.message;
    EXPECT_EQ(Names(folder.path().string()), (std::vector<std::string>{"in", "out"}));
}

TEST_F(SegmentTest, WritesProbabilitiesAndAContactSheetOnRequest) {
    ASSERT_EQ(Corvane({"segment", input, out, "--probability", "--sheet", "2"}, nullptr, &err), 0)
        << err;
    EXPECT_EQ(Names(folder / "out/probability"), MaskNames(6));
    const cv::Mat sheet = cv::imread(folder / "out/contact-sheet.png");
    ASSERT_FALSE(sheet.empty());
    EXPECT_GT(sheet.rows, 2 * 16);
}

TEST_F(SegmentTest, ReplacesAnEarlierRunButNoOtherFolder) {
    ASSERT_EQ(Corvane({"segment", input, out}, nullptr, &err), 0) << err;
    ASSERT_EQ(Corvane({"segment", input, out, "--max-frames", "3"}, nullptr, &err), 0) << err;
    std::vector<std::string> expected = MaskNames(3);
    expected.push_back(kRunRecord);
    EXPECT_EQ(Names(out), expected);  // no stale masks 4..6

    const std::string foreign = folder / "photos";
    fs::create_directory(foreign);
    std::ofstream(folder / "photos/holiday.png") << "keep me";
    EXPECT_EQ(Corvane({"segment", input, foreign}, nullptr, &err), 1);
    EXPECT_NE(err.find("did not write"), std::string::npos) << err;
    EXPECT_EQ(Names(foreign), std::vector<std::string>{"holiday.png"});
}

TEST_F(SegmentTest, RunsOpenCvSubtractorsOnTheSameFrames) {
    for (const char* method : {"mog2", "knn"}) {
        ASSERT_EQ(Corvane({"segment", input, out, "--method", method}, nullptr, &err), 0) << err;
        EXPECT_EQ(Names(out).size(), 7u) << method;
        const cv::Mat mask = cv::imread(folder / "out/000006.png", cv::IMREAD_UNCHANGED);
        for (auto it = mask.begin<std::uint8_t>(); it != mask.end<std::uint8_t>(); ++it)
            ASSERT_TRUE(*it == 0 || *it == 255) << method;
        EXPECT_NE(ReadFile(folder / "out/corvane-run.txt").find(method), std::string::npos);
    }
}

TEST_F(SegmentTest, AFailureHalfwayLeavesNoOutput) {
    std::ofstream(folder / "in/f004.png") << "truncated";
    EXPECT_EQ(Corvane({"segment", input, out}, nullptr, &err), 1);
    EXPECT_NE(err.find("f004.png"), std::string::npos) << err;
    EXPECT_EQ(Names(folder.path().string()), std::vector<std::string>{"in"});

    // The same with an earlier complete run in place: it stays as it was.
    ASSERT_EQ(Corvane({"segment", input, out, "--max-frames", "2"}, nullptr, &err), 0) << err;
    EXPECT_EQ(Corvane({"segment", input, out}, nullptr, &err), 1);
    EXPECT_EQ(Names(out).size(), 3u);
}

TEST_F(SegmentTest, ReportsBadInputOutputAndUsage) {
    EXPECT_EQ(Corvane({"segment", folder / "nothing.avi", out}, nullptr, &err), 1);
    EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
    fs::create_directory(folder / "empty");
    EXPECT_EQ(Corvane({"segment", folder / "empty", out}, nullptr, &err), 1);
    EXPECT_NE(err.find("no images"), std::string::npos) << err;
    std::ofstream(folder / "file.txt") << "x";
    EXPECT_EQ(Corvane({"segment", input, folder / "file.txt/out"}, nullptr, &err), 1);
    EXPECT_NE(err.find("cannot create"), std::string::npos) << err;
    EXPECT_EQ(Corvane({"segment", input, folder / "file.txt"}, nullptr, &err), 1);
    EXPECT_FALSE(fs::exists(out));

    // An output folder that holds the input is refused, even one written by
    // an earlier run: replacing it would delete the frames.
    ASSERT_EQ(Corvane({"segment", input, folder / "in"}, nullptr, &err), 1);
    EXPECT_NE(err.find("holds the input"), std::string::npos) << err;
    EXPECT_EQ(Names(folder / "in").size(), 6u);

    EXPECT_EQ(Corvane({"segment", input}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"segment", input, out, "--threshold"}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"segment", input, out, "--threshold", "1.5"}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"segment", input, out, "--map", "3by3"}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"segment", input, out, "--median", "4"}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"segment", input, out, "--method", "mog3"}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"segment", input, out, "--method", "knn", "--threshold", "0.5"}, nullptr, &err),
              2);
    EXPECT_EQ(Corvane({"segment", input, out, "--frobnicate"}, nullptr, &err), 2);
    EXPECT_EQ(Corvane({"transmogrify"}, nullptr, &err), 2);
    EXPECT_FALSE(fs::exists(out));
    std::string help;
    EXPECT_EQ(Corvane({"--help"}, &help, &err), 0);
    EXPECT_NE(help.find("corvane evaluate"), std::string::npos);
}

// Masks and labels for two frames; frame 2 is the hand-counted case of
// ScoringTest (TP 2, FN 2, FP 4, TN 2), frame 1 all correct background.
class EvaluateTest : public ::testing::Test {
protected:
    static cv::Mat Image(std::initializer_list<int> values) {
        cv::Mat image(3, 4, CV_8U);
        auto it = values.begin();
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 4; ++c) image.at<std::uint8_t>(r, c) = static_cast<std::uint8_t>(*it++);
        return image;
    }
    void SetUp() override {
        for (const char* dir : {"masks", "perfect", "seq", "seq/groundtruth"})
            fs::create_directory(folder / dir);
        const cv::Mat zero = cv::Mat::zeros(3, 4, CV_8U);
        const cv::Mat truth = Image({255, 255, 0, 50, 255, 85, 170, 0, 0, 0, 255, 50});
        const cv::Mat mask = Image({255, 0, 255, 0, 255, 255, 255, 255, 0, 255, 127, 200});
        cv::imwrite(folder / "masks/000001.png", zero);
        cv::imwrite(folder / "masks/000002.png", mask);
        cv::imwrite(folder / "perfect/000001.png", zero);
        cv::Mat perfect;
        cv::compare(truth, 255, perfect, cv::CMP_EQ);
        cv::imwrite(folder / "perfect/000002.png", perfect);
        cv::imwrite(folder / "seq/groundtruth/gt000001.png", zero);
        cv::imwrite(folder / "seq/groundtruth/gt000002.png", truth);
    }
    TempFolder folder;
    std::string out, err;
};

TEST_F(EvaluateTest, ScoresSumOverFramesAndGoToCsv) {
    ASSERT_EQ(Corvane({"evaluate", folder / "masks", folder / "seq/groundtruth", "--csv",
                   folder / "scores.csv"},
                  &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("Frames 1 to 2"), std::string::npos) << out;
    const std::string csv = ReadFile(folder / "scores.csv");
    // Frame 1 adds 12 true negatives.
    EXPECT_NE(csv.find("masks,2,2,4,2,14,0.500000,0.777778,0.222222,0.500000,27.272727,"
                       "0.333333,0.400000"),
              std::string::npos)
        << csv;
}

TEST_F(EvaluateTest, SequenceFolderGivesFramesAndRegionOfInterest) {
    std::ofstream(folder / "seq/temporalROI.txt") << "2 2\n";
    cv::Mat roi(3, 4, CV_8U, cv::Scalar(255));
    roi.col(3).setTo(0);
    cv::imwrite(folder / "seq/ROI.bmp", roi);
    ASSERT_EQ(Corvane({"evaluate", folder / "masks", folder / "perfect", folder / "seq", "--labels",
                   "mine,ideal", "--csv", "-", "--chart", folder / "chart.png"},
                  &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("Frames 2 to 2"), std::string::npos) << out;
    EXPECT_NE(out.find("mine,1,2,2,2,1,"), std::string::npos) << out;
    EXPECT_NE(out.find("ideal,1,4,0,0,3,1.000000,1.000000,0.000000,0.000000,0.000000,1.000000,"
                       "1.000000"),
              std::string::npos)
        << out;
    EXPECT_FALSE(cv::imread(folder / "chart.png").empty());
    // An explicit --frames wins over temporalROI.txt.
    ASSERT_EQ(Corvane({"evaluate", folder / "masks", folder / "seq", "--frames", "1", "2"}, &out, &err),
              0);
    EXPECT_NE(out.find("Frames 1 to 2"), std::string::npos) << out;
}

TEST_F(EvaluateTest, MasksByPatternAndLabelsThatNeedQuoting) {
    fs::create_directory(folder / "other");
    fs::copy_file(folder / "masks/000001.png", folder / "other/bin0001.png");
    fs::copy_file(folder / "masks/000002.png", folder / "other/bin0002.png");
    ASSERT_EQ(Corvane({"evaluate", folder / "other/bin%04d.png", folder / "seq/groundtruth",
                       "--labels", "a \"b\" c", "--csv", "-"},
                      &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("\"a \"\"b\"\" c\",2,2,4,2,14,"), std::string::npos) << out;
}

TEST_F(EvaluateTest, ReportsMissingMasksAndBadArguments) {
    fs::remove(folder / "masks/000002.png");
    // Our message alone: nothing of OpenCV's own (its imread warns on a missing file).
    testing::internal::CaptureStderr();
    EXPECT_EQ(Corvane({"evaluate", folder / "masks", folder / "seq"}, &out, &err), 1);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "") << printed;
    EXPECT_NE(err.find("frame 2"), std::string::npos) << err;
    EXPECT_EQ(Corvane({"evaluate", folder / "nowhere", folder / "seq"}, &out, &err), 1);
    EXPECT_EQ(Corvane({"evaluate", folder / "masks", folder / "nolabels"}, &out, &err), 1);
    EXPECT_EQ(Corvane({"evaluate", folder / "masks", folder / "seq", "--frames", "1", "3"}, &out, &err),
              1);
    EXPECT_EQ(Corvane({"evaluate", folder / "masks", folder / "seq", "--frames", "2", "1"}, &out, &err),
              2);
    EXPECT_EQ(Corvane({"evaluate", folder / "masks", folder / "seq", "--labels", "a,b"}, &out, &err), 2);
    EXPECT_EQ(Corvane({"evaluate", folder / "masks"}, &out, &err), 2);
}

TEST(EndToEndTest, SegmentsTheShippedClip) {
    TempFolder folder;
    const std::string out = folder / "out";
    std::string text, err;
    ASSERT_EQ(Corvane({"segment", CORVANE_SAMPLE_CLIP, out, "--max-frames", "12", "--sheet", "2",
                       "--probability"},
                      &text, &err),
              0)
        << err;
    EXPECT_NE(text.find("12 masks (160x120"), std::string::npos) << text;
    std::vector<std::string> expected = MaskNames(12);
    expected.insert(expected.end(), {"contact-sheet.png", kRunRecord, "probability"});
    EXPECT_EQ(Names(out), expected);
    // Cars are moving on the road from the start: some, not most, of the last
    // frames is foreground.
    int found = 0;
    for (const char* name : {"000009.png", "000010.png", "000011.png", "000012.png"}) {
        const cv::Mat mask = cv::imread((fs::path(out) / name).string(), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(mask.size(), cv::Size(160, 120));
        found += cv::countNonZero(mask);
    }
    EXPECT_GT(found, 100);
    EXPECT_LT(found, 4 * 160 * 120 / 4);
}

// A video cut off halfway (a copy interrupted, a disk full): its container
// still announces every frame. The masks of every decoded frame are kept,
// never discarded, but the run says it was short: on standard error, in the
// run record and by exit status 3, which --allow-short makes 0. A rerun with
// --skip-complete gives the same status.
TEST(EndToEndTest, KeepsTheMasksOfATruncatedVideoAndSaysSo) {
    TempFolder folder;
    const std::string clip = folder / "cut.avi";
    {
        std::ifstream in(CORVANE_SAMPLE_CLIP, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 100000u);
        std::ofstream(clip, std::ios::binary) << bytes.substr(0, bytes.size() / 4);
    }
    const std::string out = folder / "out";
    std::string text, err;
    EXPECT_EQ(Corvane({"segment", clip, out, "--quiet"}, &text, &err), 3);
    EXPECT_NE(err.find("could be decoded"), std::string::npos) << err;
    EXPECT_NE(err.find("truncated"), std::string::npos) << err;
    const std::size_t written = Names(out).size() - 1;  // masks and the run record
    EXPECT_GT(written, 20u);
    EXPECT_LT(written, 150u);
    const std::string record = ReadFile(out + "/corvane-run.txt");
    EXPECT_NE(record.find("\nframes " + std::to_string(written) + "\n"), std::string::npos) << record;
    EXPECT_EQ(record.find("\nannounced " + std::to_string(written) + "\n"), std::string::npos);
    EXPECT_NE(record.find("\nannounced "), std::string::npos) << record;

    EXPECT_EQ(Corvane({"segment", clip, out, "--quiet", "--skip-complete"}, &text, &err), 3);
    EXPECT_NE(text.find("already holds this run"), std::string::npos) << text;
    EXPECT_EQ(Corvane({"segment", clip, out, "--quiet", "--skip-complete", "--allow-short"}, &text,
                      &err),
              0);
    EXPECT_NE(text.find("already holds this run"), std::string::npos) << text;
    ASSERT_EQ(Corvane({"segment", clip, out, "--quiet", "--allow-short"}, &text, &err), 0) << err;
    EXPECT_EQ(Names(out).size() - 1, written);
}

}  // namespace
}  // namespace corvane::tools::test

extern char** environ;

namespace corvane::tools::test {
namespace {

// A child process that is killed and reaped when the test leaves the scope
// by any path, a failed assertion included, so no command keeps running (and
// writing into a removed folder) after its test.
class Child {
public:
    // `stdoutFd`: the descriptor the child writes its standard output to
    // (-1: this process's).
    explicit Child(std::vector<std::string> args, int stdoutFd = -1) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const { kill(pid_, signal); }
    // Waits for the exit; returns false if waitpid fails.
    bool Wait(int* status) {
        const bool reaped = waitpid(pid_, status, 0) == pid_;
        pid_ = 0;
        return reaped;
    }
    // Waits at most `limit` for the exit; false if it has not come by then.
    bool WaitFor(std::chrono::milliseconds limit, int* status) {
        const auto end = std::chrono::steady_clock::now() + limit;
        do {
            if (waitpid(pid_, status, WNOHANG) == pid_) {
                pid_ = 0;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = 0;
};

// Whether process `pid` has a handler for both SIGINT and SIGTERM (Linux's
// /proc/PID/status): from then on a signal asks it to stop.
bool CatchesStopSignals(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
            const unsigned long long both = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
            return (caught & both) == both;
        }
    return false;
}

bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 4000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

struct StopCase {
    int signal;
    int status;
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << "signal " << c.signal << ", exit " << c.status; }

class InterruptTest : public ::testing::TestWithParam<StopCase> {};

// The real command, stopped with SIGINT or SIGTERM while it segments,
// removes its unfinished output and exits with 128 + the signal.
TEST_P(InterruptTest, SegmentLeavesNoOutput) {
    TempFolder folder;
    const std::string out = folder / "out";
    Child child({CORVANE_COMMAND, "segment", CORVANE_SAMPLE_CLIP, out, "--quiet"});
    ASSERT_TRUE(child.Started());
    // Wait until it has written a few masks, then stop it.
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& name : Names(folder.path().string()))
            if (name.rfind("out.incomplete-", 0) == 0 &&
                Names((folder.path() / name).string()).size() >= 3)
                return true;
        return false;
    }));
    child.Signal(GetParam().signal);
    int status = 0;
    ASSERT_TRUE(child.Wait(&status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), GetParam().status);
    EXPECT_TRUE(Names(folder.path().string()).empty());
}

// Scoring stops as well: a long evaluation (one large frame 1000 times over,
// half a minute of work) ends at the signal with 128 + the signal and no
// scores, rather than running to its end.
TEST_P(InterruptTest, EvaluateStops) {
    TempFolder folder;
    cv::Mat noise(960, 1280, CV_8U);
    cv::randu(noise, 0, 2);
    noise *= 255;
    ASSERT_TRUE(cv::imwrite(folder / "frame.png", noise));
    // The same folder serves as masks and as labels.
    const std::string frames = folder / "frames";
    fs::create_directory(frames);
    for (const std::string& name : MaskNames(1000))
        fs::create_symlink(folder / "frame.png", fs::path(frames) / name);
    const std::string csv = folder / "scores.csv";
    Child child({CORVANE_COMMAND, "evaluate", frames, frames, "--csv", csv});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(WaitUntil([&] { return CatchesStopSignals(child.Pid()); }));
    child.Signal(GetParam().signal);
    int status = 0;
    ASSERT_TRUE(child.WaitFor(std::chrono::seconds(20), &status)) << "still scoring";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), GetParam().status);
    EXPECT_FALSE(fs::exists(csv));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(StopCase{SIGINT, 130}, StopCase{SIGTERM, 143}),
                         [](const auto& info) {
                             return std::string(info.param.signal == SIGINT ? "CtrlC" : "Term");
                         });

// A first Ctrl-C waits for the current frame; when that hangs (a read from a
// pipe or a stalled network drive), a second one stops the command at once.
TEST(SecondStopTest, SecondCtrlCStopsAHungRead) {
    TempFolder folder;
    fs::create_directory(folder / "truth");
    ASSERT_TRUE(cv::imwrite(folder / "truth/000001.png", cv::Mat::zeros(4, 4, CV_8U)));
    fs::create_directory(folder / "masks");
    const std::string pipe = folder / "masks/000001.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    Child child({CORVANE_COMMAND, "evaluate", folder / "masks", folder / "truth"});
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(WaitUntil([&] { return CatchesStopSignals(child.Pid()); }));
    // Opening the pipe for writing succeeds once the command reads it; it
    // then waits for bytes that never come.
    int writer = -1;
    ASSERT_TRUE(WaitUntil([&] { return (writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
    child.Signal(SIGINT);
    int status = 0;
    EXPECT_FALSE(child.WaitFor(std::chrono::milliseconds(300), &status)) << "the read did not hang";
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitFor(std::chrono::seconds(10), &status));
    close(writer);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
}

// Whether a second stop signal ends the command at once: any repeat but a
// SIGTERM from the process that started it.
TEST(SecondStopTest, OnlyTheParentsTermNeverHurries) {
    const long parent = 4242;
    EXPECT_FALSE(RepeatStopsAtOnce(SIGTERM, parent, parent));
    EXPECT_TRUE(RepeatStopsAtOnce(SIGTERM, 777, parent));
    EXPECT_TRUE(RepeatStopsAtOnce(SIGTERM, 0, parent));  // from the kernel
    EXPECT_TRUE(RepeatStopsAtOnce(SIGINT, parent, parent));
    EXPECT_TRUE(RepeatStopsAtOnce(SIGINT, 0, parent));   // Ctrl-C at a terminal
}

// A parent that dies sends its parent-death signal (SIGTERM) again as the
// child passes between its exiting threads. The command still finishes the
// frame and removes its working folder: large frames make sure the second
// signal arrives while the first is being honoured.
TEST(SecondStopTest, RepeatedTermFromTheParentStillCleansUp) {
    TempFolder folder;
    fs::create_directory(folder / "in");
    cv::Mat noise(720, 1280, CV_8UC3);
    for (int f = 1; f <= 40; ++f) {
        cv::randu(noise, 0, 256);
        char name[32];
        std::snprintf(name, sizeof name, "in/f%03d.png", f);
        ASSERT_TRUE(cv::imwrite(folder / name, noise));
    }
    const std::string out = folder / "out";
    Child child({CORVANE_COMMAND, "segment", folder / "in", out, "--quiet", "--threads", "1"});
    ASSERT_TRUE(child.Started());
    const std::string working = out + ".incomplete-" + std::to_string(child.Pid());
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(fs::path(working) / "000001.png"); }));
    child.Signal(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    child.Signal(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    child.Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(child.WaitFor(std::chrono::seconds(60), &status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 143);
    EXPECT_EQ(Names(folder.path().string()), std::vector<std::string>{"in"});
}

// A reader of its output that went away (a killed worker, `| head`) does not
// kill the command: the run is committed and the status is the run's.
TEST(SecondStopTest, AClosedOutputPipeDoesNotKillTheCommand) {
    TempFolder folder;
    fs::create_directory(folder / "in");
    WriteSceneImages(folder / "in", "f%03d.png", 1, 4);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    Child child({CORVANE_COMMAND, "segment", folder / "in", folder / "out", "--quiet"},
                pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_TRUE(child.Started());
    int status = 0;
    ASSERT_TRUE(child.WaitFor(std::chrono::seconds(60), &status));
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(fs::path(folder / "out") / "000004.png"));
}

}  // namespace
}  // namespace corvane::tools::test
