#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "OutputFolder.h"
#include "ToolsTestSupport.h"

namespace fs = std::filesystem;

namespace corvane::tools::test {
namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// What a run leaves: masks, a probability image and the run record saying
// which run it was.
void WriteRunOutput(const fs::path& folder, const std::string& run) {
    fs::create_directories(folder / "probability");
    Write(folder / "000001.png", run);
    Write(folder / "000002.png", run);
    Write(folder / "probability/000001.png", run);
    Write(folder / "corvane-run.txt", run);
}

// A process id that no process holds now.
long DeadPid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    int status = 0;
    waitpid(pid, &status, 0);
    return static_cast<long>(pid);
}

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The marker a working folder of process `pid` holds, written out literally.
std::string Marker(long pid, const std::string& start, const std::string& extra = "",
                   std::string host = "") {
    if (host.empty()) {
        char name[256] = {};
        gethostname(name, sizeof name - 1);
        host = name;
    }
    return "corvane working folder\npid " + std::to_string(pid) + "\nstart " + start +
           "\nboot " + FirstLine("/proc/sys/kernel/random/boot_id") + "\nhost " + host + "\n" +
           extra;
}

// Field 22 of /proc/PID/stat.
std::string StartTime(long pid) {
    const std::string stat = FirstLine("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string field;
    for (int i = 0; i < 20; ++i) fields >> field;
    return field;
}

class OutputFolderTest : public ::testing::Test {
protected:
    TempFolder folder;
    fs::path out = folder.path() / "out";
    std::string error;
};

// Files a user puts into OUTDIR while a run works are never deleted: the
// folder is checked again right before it is replaced, and the run then
// fails with its results kept.
TEST_F(OutputFolderTest, LeavesFilesAddedDuringTheRunAlone) {
    WriteRunOutput(out, "earlier");
    OutputFolder output;
    ASSERT_TRUE(output.Begin(out.string(), &error)) << error;
    const fs::path working = output.WorkingPath();
    WriteRunOutput(working, "new");
    Write(out / "notes.txt", "mine");

    EXPECT_FALSE(output.Commit(&error));
    EXPECT_NE(error.find("notes.txt"), std::string::npos) << error;
    EXPECT_NE(error.find(working.string()), std::string::npos) << error;
    EXPECT_EQ(Read(out / "notes.txt"), "mine");
    EXPECT_EQ(Read(out / "000002.png"), "earlier");
    EXPECT_EQ(Read(working / "000002.png"), "new");

    // An earlier run's output with something else in it is refused up front.
    const fs::path mixed = folder.path() / "mixed";
    WriteRunOutput(mixed, "earlier");
    Write(mixed / "probability/notes.txt", "mine");
    OutputFolder second;
    EXPECT_FALSE(second.Begin(mixed.string(), &error));
    EXPECT_NE(error.find("probability/notes.txt"), std::string::npos) << error;
    EXPECT_EQ(Names(mixed.string()),
              (std::vector<std::string>{"000001.png", "000002.png", "corvane-run.txt", "probability"}));
}

// OUTDIR holds the earlier output or the new one at every moment of the
// swap: a reader (or a crash) never finds it missing.
TEST_F(OutputFolderTest, OutputIsPresentThroughoutTheSwap) {
    WriteRunOutput(out, "run 0");
    std::atomic<bool> done{false};
    std::atomic<long> missing{0}, looks{0};
    const std::string record = (out / "corvane-run.txt").string();
    std::thread reader([&] {
        struct stat info;
        while (!done) {
            if (stat(record.c_str(), &info) != 0) ++missing;
            ++looks;
        }
    });
    int run = 0;
    while (run < 300) {
        OutputFolder output;
        if (!output.Begin(out.string(), &error)) break;
        WriteRunOutput(output.WorkingPath(), "run " + std::to_string(run + 1));
        if (!output.Commit(&error)) break;
        ++run;
    }
    done = true;
    reader.join();
    ASSERT_EQ(run, 300) << error;
    EXPECT_EQ(missing, 0) << "OUTDIR was missing in " << missing << " of " << looks << " looks";
    EXPECT_EQ(Read(out / "000001.png"), "run 300");
    EXPECT_EQ(Names(folder.path().string()), std::vector<std::string>{"out"});
}

// A killed run leaves its working folder, "OUTDIR.incomplete-PID"; the next
// run removes it once its process is gone, and only then, and only what a
// run writes.
TEST_F(OutputFolderTest, ClearsTheWorkingFoldersOfKilledRunsOnly) {
    const auto working = [&](long pid, const std::string& marker) {
        const fs::path path = folder.path() / ("out.incomplete-" + std::to_string(pid));
        WriteRunOutput(path, "unfinished");
        fs::remove(path / "corvane-run.txt");  // not written before the end
        if (!marker.empty()) Write(path / ".corvane-working", marker);
        return path;
    };
    const long dead[] = {DeadPid(), DeadPid(), DeadPid(), DeadPid(), DeadPid()};
    const long alive = static_cast<long>(getppid());
    const fs::path killed = working(dead[0], Marker(dead[0], "12345"));
    // The id of a live process, but a start time that is not its own: a
    // killed run whose id was given to another process since.
    const fs::path reused = working(alive, Marker(alive, StartTime(alive) + "0"));
    const fs::path running = working(1, Marker(1, StartTime(1)));
    const fs::path withNotes = working(dead[1], Marker(dead[1], "1"));
    Write(withNotes / "notes.txt", "mine");
    const fs::path kept = working(dead[2], Marker(dead[2], "1", "kept\n"));
    const fs::path elsewhere = working(dead[3], Marker(dead[3], "1", "", "another-machine"));
    const fs::path unmarked = working(dead[4], "");  // nothing says it is a run's

    OutputFolder output;
    ASSERT_TRUE(output.Begin(out.string(), &error)) << error;
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_FALSE(fs::exists(reused));
    EXPECT_TRUE(fs::exists(running / "000001.png"));
    EXPECT_TRUE(fs::exists(withNotes / "000001.png"));
    EXPECT_TRUE(fs::exists(withNotes / "notes.txt"));
    EXPECT_TRUE(fs::exists(kept / "000001.png"));
    EXPECT_TRUE(fs::exists(elsewhere / "000001.png"));
    EXPECT_TRUE(fs::exists(unmarked / "000001.png"));
}

// Moves that fail where a test wants them to. The swap is refused, as on a
// filesystem without it; then each move takes its turn from `outcomes`
// (0: the real rename; -1: the process dies on the spot, as in a crash).
struct ScriptedMoves {
    static inline std::vector<int> outcomes;
    static inline std::size_t next = 0;
    static int Exchange(const char*, const char*) { return EINVAL; }
    static int Move(const char* from, const char* to) {
        const int outcome = next < outcomes.size() ? outcomes[next] : 0;
        ++next;
        if (outcome == -1) _exit(3);
        if (outcome != 0) return outcome;
        return std::rename(from, to) == 0 ? 0 : errno;
    }
    static FolderMoves Script(std::vector<int> script) {
        outcomes = std::move(script);
        next = 0;
        return FolderMoves{Exchange, Move, Move};
    }
};

TEST_F(OutputFolderTest, SwapsInTwoStepsWhereTheFilesystemCannotExchange) {
    WriteRunOutput(out, "earlier");
    OutputFolder output(ScriptedMoves::Script({}));
    ASSERT_TRUE(output.Begin(out.string(), &error)) << error;
    WriteRunOutput(output.WorkingPath(), "new");
    ASSERT_TRUE(output.Commit(&error)) << error;
    EXPECT_EQ(Read(out / "000001.png"), "new");
    EXPECT_EQ(Names(out.string()),
              (std::vector<std::string>{"000001.png", "000002.png", "corvane-run.txt", "probability"}));
    EXPECT_EQ(Names(folder.path().string()), std::vector<std::string>{"out"});
}

// When the results cannot be moved in, the earlier output goes back; when
// that fails too, the message says where each of them is.
TEST_F(OutputFolderTest, ReportsWhereEverythingIsWhenPuttingBackFails) {
    WriteRunOutput(out, "earlier");
    {
        OutputFolder output(ScriptedMoves::Script({0, EIO}));
        ASSERT_TRUE(output.Begin(out.string(), &error)) << error;
        WriteRunOutput(output.WorkingPath(), "new");
        EXPECT_FALSE(output.Commit(&error));
        EXPECT_NE(error.find("back in place"), std::string::npos) << error;
        EXPECT_EQ(Read(out / "000001.png"), "earlier");
        fs::remove_all(output.WorkingPath());  // the user takes the results
    }
    OutputFolder output(ScriptedMoves::Script({0, EIO, EACCES}));
    ASSERT_TRUE(output.Begin(out.string(), &error)) << error;
    WriteRunOutput(output.WorkingPath(), "new");
    EXPECT_FALSE(output.Commit(&error));
    const fs::path old = folder.path() / ("out.old-" + std::to_string(getpid()));
    EXPECT_NE(error.find("nor could the earlier output be put back"), std::string::npos) << error;
    EXPECT_NE(error.find(old.string()), std::string::npos) << error;
    EXPECT_NE(error.find(output.WorkingPath()), std::string::npos) << error;
    EXPECT_EQ(Read(old / "000001.png"), "earlier");
    EXPECT_EQ(Read(fs::path(output.WorkingPath()) / "000001.png"), "new");
}

// A crash between the two steps leaves OUTDIR missing and the earlier output
// moved aside; the next run puts it back and clears the dead run's folder.
TEST_F(OutputFolderTest, NextRunRepairsACrashBetweenTheTwoSteps) {
    WriteRunOutput(out, "earlier");
    const pid_t child = fork();
    if (child == 0) {
        OutputFolder output(ScriptedMoves::Script({0, -1}));
        std::string childError;
        if (!output.Begin(out.string(), &childError)) _exit(1);
        WriteRunOutput(output.WorkingPath(), "new");
        output.Commit(&childError);
        _exit(2);  // not reached: the second move ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 3);
    ASSERT_FALSE(fs::exists(out));

    OutputFolder output;
    ASSERT_TRUE(output.Begin(out.string(), &error)) << error;
    EXPECT_EQ(Read(out / "000001.png"), "earlier");
    output.Abandon();
    EXPECT_EQ(Names(folder.path().string()), std::vector<std::string>{"out"});
}

}  // namespace
}  // namespace corvane::tools::test
