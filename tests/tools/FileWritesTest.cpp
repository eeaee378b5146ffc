// Writes that fail: a disk that fills, an error reported only at close, a
// write that stops short. The run must fail, name the file and the reason,
// and commit nothing; what it does commit must be on the disk first.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include "FileWrites.h"
#include "OutputFolder.h"
#include "SegmentRun.h"
#include "ToolsTestSupport.h"

namespace fs = std::filesystem;

namespace corvane::tools::test {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A tiny filesystem over the real one: it holds `capacity` bytes of written
// data at most (then writes stop short and fail with ENOSPC, as a full disk
// does), can fail the close of files whose name ends in `failClose` (as a
// network drive reports a lost write), and can hand out one byte per write.
// It logs what it is asked to do: "open P", "sync P", "close P".
class TinyFilesystem : public FileCalls {
public:
    long long capacity = -1;  // -1: no limit
    std::string failClose;
    bool oneByteAtATime = false;
    std::vector<std::string> log;

    int Open(const char* path, int flags, mode_t mode) override {
        const int fd = FileCalls::Open(path, flags, mode);
        if (fd >= 0) paths_[fd] = path;
        log.push_back(std::string("open ") + path);
        return fd;
    }
    ssize_t Write(int fd, const void* data, std::size_t size) override {
        if (oneByteAtATime) size = std::min<std::size_t>(size, 1);
        if (capacity >= 0) {
            const long long left = capacity - used_;
            if (left <= 0) {
                errno = ENOSPC;
                return -1;
            }
            size = std::min<std::size_t>(size, static_cast<std::size_t>(left));
        }
        const ssize_t written = FileCalls::Write(fd, data, size);
        if (written > 0) used_ += written;
        return written;
    }
    int Sync(int fd) override {
        log.push_back("sync " + paths_[fd]);
        return FileCalls::Sync(fd);
    }
    int Close(int fd) override {
        const std::string path = paths_[fd];
        paths_.erase(fd);
        log.push_back("close " + path);
        const int result = FileCalls::Close(fd);
        if (!failClose.empty() && path.size() >= failClose.size() &&
            path.compare(path.size() - failClose.size(), failClose.size(), failClose) == 0) {
            errno = EIO;
            return -1;
        }
        return result;
    }

private:
    std::map<int, std::string> paths_;
    long long used_ = 0;
};

class WriteFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(folder / "in");
        WriteSceneImages(folder / "in", "f%03d.png", 1, 8);
        options.input = folder / "in";
        options.outdir = folder / "out";
        options.probability = true;
    }
    // The earlier run a failing run must leave as it is.
    void SegmentOnce() {
        const SegmentResult first = RunSegment(options, stop);
        ASSERT_EQ(first.status, RunStatus::Done) << first.message;
        earlier = Read(folder / "out/000005.png");
        ASSERT_FALSE(earlier.empty());
        options.parameters.maskThreshold = 0.3;  // another run
    }
    void ExpectNothingCommitted() {
        EXPECT_EQ(Names(folder.path().string()), (std::vector<std::string>{"in", "out"}));
        EXPECT_EQ(Read(folder / "out/000005.png"), earlier);
    }
    TempFolder folder;
    SegmentOptions options;
    StopFlag stop;
    std::string earlier;
};

TEST_F(WriteFailureTest, ADiskThatFillsFailsTheRunAndCommitsNothing) {
    SegmentOnce();
    // Room for the marker and a few images, not for the run.
    TinyFilesystem disk;
    disk.capacity = static_cast<long long>(4 * earlier.size());
    const SegmentResult result = RunSegment(options, stop, nullptr, disk);
    EXPECT_EQ(result.status, RunStatus::Failed);
    EXPECT_NE(result.message.find("No space left on device"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(".png\""), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("no output written"), std::string::npos) << result.message;
    ExpectNothingCommitted();
}

// What cv::imwrite took for success: the data is lost at close.
TEST_F(WriteFailureTest, AnErrorReportedOnlyAtCloseFailsTheRun) {
    SegmentOnce();
    for (const char* name : {"probability/000003.png", "000006.png", "corvane-run.txt"}) {
        TinyFilesystem disk;
        disk.failClose = name;
        const SegmentResult result = RunSegment(options, stop, nullptr, disk);
        EXPECT_EQ(result.status, RunStatus::Failed) << name;
        EXPECT_NE(result.message.find(std::string(name) + "\": Input/output error"),
                  std::string::npos)
            << result.message;
        ExpectNothingCommitted();
    }
}

// Every file is synced before it is closed, the folders before the swap, and
// the parent after it: a power cut leaves the earlier output or the whole
// new one.
TEST_F(WriteFailureTest, EverythingIsOnTheDiskBeforeAndAfterTheSwap) {
    TinyFilesystem disk;
    disk.oneByteAtATime = true;  // short writes are carried on to the end
    const SegmentResult result = RunSegment(options, stop, nullptr, disk);
    ASSERT_EQ(result.status, RunStatus::Done) << result.message;
    EXPECT_EQ(Read(folder / "out/000008.png").substr(1, 3), "PNG");
    const std::string out = folder / "out";
    const std::string working = out + ".incomplete-" + std::to_string(getpid());
    std::size_t files = 0, workingSync = 0, probabilitySync = 0, outSync = 0, parentSync = 0;
    for (std::size_t i = 0; i < disk.log.size(); ++i) {
        const std::string& event = disk.log[i];
        if (event.rfind("open " + working + "/", 0) == 0) {
            ++files;
            // Its sync comes before its close.
            const std::string path = event.substr(5);
            ASSERT_LT(i + 1, disk.log.size());
            EXPECT_EQ(disk.log[i + 1], "sync " + path);
            EXPECT_EQ(disk.log[i + 2], "close " + path);
        }
        if (event == "sync " + working) workingSync = i;
        if (event == "sync " + working + "/probability") probabilitySync = i;
        if (event == "sync " + out) outSync = i;
        if (event == "sync " + folder.path().string()) parentSync = i;
    }
    // Masks, probabilities, run record, marker, and the probability folder
    // opened to be synced.
    EXPECT_EQ(files, 8u + 8u + 1u + 1u + 1u);
    EXPECT_GT(probabilitySync, 0u);
    EXPECT_GT(workingSync, probabilitySync);
    // The working folder's last sync before the swap; after it, the folder
    // is synced under its new name and then the parent.
    EXPECT_GT(outSync, workingSync);
    EXPECT_GT(parentSync, outSync);
}

TEST(CheckedWriteTest, AFailedReplaceLeavesTheEarlierFileAndNoPart) {
    TempFolder folder;
    const std::string csv = folder / "scores.csv";
    std::ofstream(csv) << "earlier scores\n";
    TinyFilesystem disk;
    disk.capacity = 5;
    std::string error;
    EXPECT_FALSE(ReplaceFileChecked(csv, std::string(100, 'x'), &error, disk));
    EXPECT_EQ(error, "cannot write \"" + csv + "\": No space left on device");
    EXPECT_EQ(Read(csv), "earlier scores\n");
    EXPECT_EQ(Names(folder.path().string()), std::vector<std::string>{"scores.csv"});

    TinyFilesystem roomy;
    ASSERT_TRUE(ReplaceFileChecked(csv, "new scores\n", &error, roomy)) << error;
    EXPECT_EQ(Read(csv), "new scores\n");
    // A file that cannot be written in full is not left behind half-written.
    EXPECT_FALSE(WriteFileChecked(folder / "part.bin", std::string(100, 'y'), &error, disk));
    EXPECT_FALSE(fs::exists(folder / "part.bin"));
}

}  // namespace
}  // namespace corvane::tools::test
