// RunTasks inside a ThreadCrew: the same tasks, results and errors as without
// one, round after round on the same threads; waiting crew threads and a
// waiting caller that have gone to sleep still wake; tasks that call RunTasks
// themselves; and no thread left behind once the crew's scope ends, nor after
// an update that used one.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>


#include <gtest/gtest.h>

#include "ProcessThreads.h"
#include "RandomModel.h"
#include "TestModel.h"
#include "WorkerThreads.h"

namespace corvane::test {
namespace {

struct Round {
    std::vector<std::atomic<int>> runs;
    std::vector<std::thread::id> where;
    std::chrono::microseconds pause{0};
    int throwing = -1;
    explicit Round(int count)
        : runs(static_cast<std::size_t>(count)), where(static_cast<std::size_t>(count)) {}
};

void RoundTask(void* context, int i) {
    Round& r = *static_cast<Round*>(context);
    if (r.pause.count() > 0) std::this_thread::sleep_for(r.pause);
    ++r.runs[static_cast<std::size_t>(i)];
    r.where[static_cast<std::size_t>(i)] = std::this_thread::get_id();
    if (i == r.throwing) throw std::runtime_error("task " + std::to_string(i));
}

// Rounds of every size, the crew growing and shrinking: every task once per
// round, its write seen by the caller, task 0 on the calling thread, and a
// task index on the same crew thread every round that has it.
TEST(WorkerThreads, ACrewRunsEveryTaskOnceRoundAfterRoundOnTheSameThreads) {
    const ThreadCrew crew;
    EXPECT_EQ(crew.Threads(), 0) << "a crew starts no thread before it is asked for one";
    const int counts[] = {2, 8, 1, 3, kMaxTasks + 5, 2, 5, 8, 40};
    std::vector<std::thread::id> seat(kMaxTasks);
    for (int pass = 0; pass < 60; ++pass) {
        for (int count : counts) {
            Round round(count);
            RunTasks(count, &RoundTask, &round);
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(round.runs[static_cast<std::size_t>(i)].load(), 1)
                    << "task " << i << " of " << count << ", pass " << pass;
            ASSERT_EQ(round.where[0], std::this_thread::get_id());
            for (int i = 1; i < count && i < kMaxTasks; ++i) {
                const std::thread::id there = round.where[static_cast<std::size_t>(i)];
                if (seat[static_cast<std::size_t>(i)] == std::thread::id())
                    seat[static_cast<std::size_t>(i)] = there;
                ASSERT_EQ(there, seat[static_cast<std::size_t>(i)])
                    << "task " << i << " moved to another thread: the crew did not keep it";
            }
        }
        ASSERT_EQ(crew.Threads(), kMaxTasks - 1);
    }
}

// A task that throws inside a crew reaches the caller as without one (the
// lowest index's error, after every task has run), and the next rounds run
// normally on the same crew.
TEST(WorkerThreads, ACrewPassesErrorsOnAndKeepsWorking) {
    const ThreadCrew crew;
    for (int throwing : {1, 0, 3, -1, 2, 7, -1}) {
        Round round(8);
        round.throwing = throwing;
        std::string caught;
        try {
            RunTasks(8, &RoundTask, &round);
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, throwing < 0 ? "" : "task " + std::to_string(throwing));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(round.runs[static_cast<std::size_t>(i)].load(), 1);
    }
}

// Rounds far enough apart that the crew threads stop watching and sleep, and
// crew tasks long enough that the caller sleeps too: every round still
// finishes, with every task run once.
TEST(WorkerThreads, ASleepingCrewWakesForTheNextRound) {
    const ThreadCrew crew;
    for (int pass = 0; pass < 6; ++pass) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        Round round(4);
        if (pass % 2 == 1) round.pause = std::chrono::microseconds(2000);
        RunTasks(4, &RoundTask, &round);
        for (int i = 0; i < 4; ++i) ASSERT_EQ(round.runs[static_cast<std::size_t>(i)].load(), 1);
    }
}

// A task that calls RunTasks itself, on the calling thread (whose crew is
// busy with the round) and on a crew thread (which has no crew): both finish,
// every inner task runs once. A crew made inside another's scope does nothing.
TEST(WorkerThreads, TasksInsideACrewRoundMayRunTasksOfTheirOwn) {
    const ThreadCrew crew;
    struct Nested {
        std::atomic<int> inner{0};
    } nested;
    for (int pass = 0; pass < 20; ++pass) {
        nested.inner = 0;
        RunTasks(3,
                 [](void* context, int) {
                     const ThreadCrew inside;  // outer crew in scope, or none on a crew thread
                     RunTasks(4, [](void* c, int) { ++static_cast<Nested*>(c)->inner; }, context);
                 },
                 &nested);
        ASSERT_EQ(nested.inner.load(), 12) << "pass " << pass;
    }
    const ThreadCrew inner;
    EXPECT_EQ(inner.Threads(), 0);
    Round round(3);
    RunTasks(3, &RoundTask, &round);
    EXPECT_EQ(inner.Threads(), 0) << "the inner crew started threads of its own";
    EXPECT_EQ(crew.Threads(), 2);
}

#if defined(__linux__)
// What a host that unloads the code between calls relies on: once a crew's
// scope has ended, and once an update on several threads has returned, no
// thread of theirs is left running.
TEST(WorkerThreads, NoThreadOutlivesACrewOrAnUpdate) {
    // Threads once first, so that a runtime's own thread that starts with the
    // first (ThreadSanitizer's) is counted in `before`.
    {
        Round warm(2);
        RunTasks(2, &RoundTask, &warm);
    }
    const int before = ProcessThreads();
    ASSERT_GT(before, 0);
    {
        const ThreadCrew crew;
        Round round(6);
        RunTasks(6, &RoundTask, &round);
        EXPECT_EQ(ProcessThreads(), before + 5);
    }
    EXPECT_EQ(ProcessThreads(), before);

    Values values(41, 0.0);
    TestModel t(16, 40, 2, 3);
    Randomize(t, values);
    for (int frame = 0; frame < 3; ++frame)
        ASSERT_TRUE(UpdateModel(t.View(), t.Frame(), t.Matrix(), StandardAllocator(), 4));
    EXPECT_EQ(ProcessThreads(), before);
}
#endif

}  // namespace
}  // namespace corvane::test
