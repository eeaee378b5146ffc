// UpdateModel and UpdateModelInto on several threads against one thread: the
// same bits for every thread count, every image shape (a single pixel, a
// single row or column, two rows, fewer columns than threads, bands of every
// width), in place and out of place, frame after frame, on random models full
// of awkward values; and against the four-pass reference on a moving scene.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "RandomModel.h"
#include "SyntheticScene.h"
#include "TestModel.h"
#include "WorkerThreads.h"

namespace corvane::test {
namespace {

// `frames` updates of `start` on `threads` threads against the same on one,
// in place; then the same out of place from the starting model.
void ExpectSameAsOneThread(const TestModel& start, int threads, Values& values, int frames) {
    TestModel one = start;
    TestModel many = start;
    for (int frame = 0; frame < frames; ++frame) {
        if (frame > 0) {
            for (double& x : one.frame) x = values.Field(0, 255);
            many.frame = one.frame;
        }
        ASSERT_TRUE(UpdateModel(one.View(), one.Frame(), one.Matrix(), StandardAllocator(), 1));
        ASSERT_TRUE(
            UpdateModel(many.View(), many.Frame(), many.Matrix(), StandardAllocator(), threads));
        ASSERT_TRUE(SameModel(one.owned, many.owned))
            << threads << " threads, in place, after frame " << frame;
    }

    TestModel source = start;
    TestModel expected = start;
    ASSERT_TRUE(UpdateModel(expected.View(), expected.Frame(), expected.Matrix(),
                            StandardAllocator(), 1));
    OwnedModel result = start.owned;
    const BackgroundModel resultView = result.View();
    for (const ModelField& field : kModelFields) {
        if (!field.written) continue;
        const DoubleView view = resultView.*field.view;
        std::fill(view.data, view.data + view.count, values.Special());
    }
    ASSERT_TRUE(UpdateModelInto(source.View(), UpdatedFieldsOf(result.View()), source.Frame(),
                                source.Matrix(), StandardAllocator(), threads));
    ASSERT_TRUE(SameModel(expected.owned, result)) << threads << " threads, out of place";
    ASSERT_TRUE(SameModel(start.owned, source.owned)) << threads << " threads changed the source";
}

TEST(UpdateThreads, EveryThreadCountGivesTheBitsOfOneThread) {
    // A single pixel, a row, a column, two rows, fewer columns than threads,
    // bands too narrow for rings and bands wide enough.
    const Shape shapes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 7}, {2, 12}, {3, 2},
                            {5, 17}, {4, 23}, {11, 40}, {6, 64}};
    std::uint64_t seed = 900;
    for (const Shape& shape : shapes) {
        for (std::int32_t K : {1, 9, 17}) {
            for (int threads : {2, 3, 8, 70}) {
                SCOPED_TRACE("H " + std::to_string(shape.H) + " W " + std::to_string(shape.W) +
                             " K " + std::to_string(K) + " threads " + std::to_string(threads));
                TestModel t(shape.H, shape.W, 1, K);
                Values values(seed++, 0.05);
                Randomize(t, values);
                ExpectSameAsOneThread(t, threads, values, 3);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Every way of cutting 1 to 26 columns into 1 to 9 bands.
TEST(UpdateThreads, BandsOfEveryWidth) {
    std::uint64_t seed = 5000;
    for (std::int32_t W = 1; W <= 26; ++W) {
        for (int threads = 2; threads <= 9; ++threads) {
            SCOPED_TRACE("W " + std::to_string(W) + " threads " + std::to_string(threads));
            TestModel t(3, W, 2, 2);
            Values values(seed++, 0.02);
            Randomize(t, values);
            ExpectSameAsOneThread(t, threads, values, 2);
            if (HasFatalFailure()) return;
        }
    }
}

// A learned model on a scene with a moving square, 60 frames on 1, 2, 3 and 8
// threads, each against the four-pass reference.
TEST(UpdateThreads, FollowTheReferenceOnAMovingSquare) {
    SyntheticScene scene;
    scene.H = 31;
    scene.W = 47;
    scene.squareSize = 7;
    std::vector<double> frame;
    scene.Render(0, frame, nullptr);
    ModelParameters parameters;
    const OwnedModel start = BuildInitialModel(parameters, frame.data(), scene.H, scene.W);
    const std::vector<double> matrix = BuildNeighborhoodMatrix(parameters);
    const NeighborhoodMatrix weights{matrix.data(), std::int64_t(matrix.size())};
    for (int threads : {1, 2, 3, 8}) {
        OwnedModel reference = start;
        OwnedModel threaded = start;
        for (int t = 0; t < 60; ++t) {
            scene.Render(t, frame, nullptr);
            const FrameImage image{frame.data(), std::int64_t(frame.size())};
            ASSERT_TRUE(UpdateModelReference(reference.View(), image, weights, StandardAllocator()));
            ASSERT_TRUE(UpdateModel(threaded.View(), image, weights, StandardAllocator(), threads));
            ASSERT_TRUE(SameModel(reference, threaded)) << threads << " threads, frame " << t;
        }
    }
}

// 0 (the default) and counts below it take every hardware thread; the
// results are those of one thread either way.
TEST(UpdateThreads, DefaultIsEveryHardwareThread) {
    EXPECT_GE(HardwareThreads(), 1);
    Values values(17, 0.0);
    TestModel t(8, 30, 3, 3);
    Randomize(t, values);
    TestModel one = t, all = t, negative = t;
    ASSERT_TRUE(UpdateModel(one.View(), one.Frame(), one.Matrix(), StandardAllocator(), 1));
    ASSERT_TRUE(UpdateModel(all.View(), all.Frame(), all.Matrix(), StandardAllocator()));
    ASSERT_TRUE(UpdateModel(negative.View(), negative.Frame(), negative.Matrix(),
                            StandardAllocator(), -3));
    EXPECT_TRUE(SameModel(one.owned, all.owned));
    EXPECT_TRUE(SameModel(one.owned, negative.owned));
}

// RunTasks runs every task exactly once, whatever order they finish in, and
// returns only when all have: tasks that sleep for random times write their
// results, which the caller reads right after. More tasks than it starts
// threads for run on the calling thread.
TEST(WorkerThreads, EveryTaskRunsOnceAndAllFinishBeforeReturning) {
    struct Work {
        std::vector<int> runs;
        std::vector<std::uint64_t> delays;
        std::atomic<int> concurrent{0};
        std::atomic<int> mostConcurrent{0};
    };
    std::mt19937_64 rng(3);
    for (int count : {1, 2, 3, 8, 40, kMaxTasks + 5}) {
        Work work;
        work.runs.assign(static_cast<std::size_t>(count), 0);
        for (int i = 0; i < count; ++i) work.delays.push_back(rng() % 2000);
        RunTasks(count,
                 [](void* context, int i) {
                     Work& w = *static_cast<Work*>(context);
                     const int now = ++w.concurrent;
                     int most = w.mostConcurrent.load();
                     while (now > most && !w.mostConcurrent.compare_exchange_weak(most, now)) {
                     }
                     std::this_thread::sleep_for(std::chrono::microseconds(w.delays[i]));
                     w.runs[static_cast<std::size_t>(i)] += 1;
                     --w.concurrent;
                 },
                 &work);
        EXPECT_EQ(work.runs, std::vector<int>(static_cast<std::size_t>(count), 1)) << count;
        EXPECT_EQ(work.concurrent.load(), 0);
        if (count >= 8) {
            EXPECT_GT(work.mostConcurrent.load(), 1) << "tasks ran one at a time";
        }
    }
}

// What a task throws never leaves its thread (that would end the process):
// every task still runs, and the caller gets the error of the lowest task
// that failed once all have finished, whether it ran on a thread of its own,
// on the calling thread, or beyond kMaxTasks.
TEST(WorkerThreads, ATaskThatThrowsReachesTheCallerAfterAllHaveRun) {
    struct Work {
        std::vector<std::atomic<int>> runs;
        int first, second;
        explicit Work(int count) : runs(static_cast<std::size_t>(count)) {}
    };
    const int cases[][3] = {{2, 1, -1}, {8, 5, 3}, {8, 0, -1}, {40, 39, 7},
                            {kMaxTasks + 5, kMaxTasks + 2, -1}, {kMaxTasks + 5, kMaxTasks + 2, 9}};
    for (const auto& c : cases) {
        Work work(c[0]);
        work.first = c[1];
        work.second = c[2];
        std::string caught;
        try {
            RunTasks(c[0],
                     [](void* context, int i) {
                         Work& w = *static_cast<Work*>(context);
                         ++w.runs[static_cast<std::size_t>(i)];
                         if (i == w.first) throw std::runtime_error("task " + std::to_string(i));
                         if (i == w.second) throw std::bad_alloc();
                     },
                     &work);
        } catch (const std::bad_alloc&) {
            caught = "bad_alloc";
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        const int lowest = c[2] >= 0 && c[2] < c[1] ? c[2] : c[1];
        EXPECT_EQ(caught, lowest == c[1] ? "task " + std::to_string(c[1]) : "bad_alloc")
            << c[0] << " tasks";
        for (int i = 0; i < c[0]; ++i) EXPECT_EQ(work.runs[static_cast<std::size_t>(i)].load(), 1);
    }
}

}  // namespace
}  // namespace corvane::test
