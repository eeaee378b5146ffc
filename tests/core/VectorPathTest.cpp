// The sweep's column kernels of every instruction set this machine has,
// against the scalar ones and the four-pass reference: the same bits on
// random models of awkward sizes (one row, one column, sizes that are not a
// multiple of any vector width, NaN and infinite values, one neuron and 64),
// in place and out of place, on several threads.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "RandomModel.h"
#include "TestModel.h"
#include "UpdateModel.h"
#include "internal/SweepColumns.h"

namespace corvane::test {
namespace {

const VectorPath kPaths[] = {VectorPath::Scalar, VectorPath::Sse2, VectorPath::Avx2,
                             VectorPath::Avx512};

// Whether the CPU reports the instruction set of `path` (AVX2, AVX-512F), as
// the core's dispatch asks it.
bool CpuHas(VectorPath path) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    switch (path) {
        case VectorPath::Avx2: return __builtin_cpu_supports("avx2");
        case VectorPath::Avx512: return __builtin_cpu_supports("avx512f");
        default: return true;
    }
#else
    return path == VectorPath::Scalar;
#endif
}

TEST(VectorPath, EveryPathTheCpuHasIsBuiltAndTheFastestIsChosen) {
    EXPECT_TRUE(VectorPathAvailable(VectorPath::Scalar));
#if defined(__x86_64__) && !defined(_WIN32)
    EXPECT_TRUE(VectorPathAvailable(VectorPath::Sse2));
    EXPECT_EQ(CpuHas(VectorPath::Avx2), VectorPathAvailable(VectorPath::Avx2));
    EXPECT_EQ(CpuHas(VectorPath::Avx512), VectorPathAvailable(VectorPath::Avx512));
#endif
    VectorPath widest = VectorPath::Scalar;
    for (VectorPath path : kPaths) {
        if (!VectorPathAvailable(path)) {
            EXPECT_EQ(nullptr, ColumnKernelsFor(path)) << VectorPathName(path);
            continue;
        }
        ASSERT_NE(nullptr, ColumnKernelsFor(path)) << VectorPathName(path);
        EXPECT_EQ(path, ColumnKernelsFor(path)->path);
        widest = path;
    }
    EXPECT_EQ(widest, FastestVectorPath());
}

// Updates a copy of `start` `frames` times with `kernels` (in place, or out
// of place between two copies taking turns) on `threads` threads.
OwnedModel UpdateFrames(const TestModel& start, const std::vector<std::vector<double>>& frames,
               const ColumnKernels& kernels, int threads, bool inPlace) {
    TestModel a = start, b = start;
    for (std::size_t t = 0; t < frames.size(); ++t) {
        const FrameImage frame{frames[t].data(), static_cast<std::int64_t>(frames[t].size())};
        TestModel& from = inPlace || t % 2 == 0 ? a : b;
        TestModel& to = inPlace ? a : (t % 2 == 0 ? b : a);
        EXPECT_TRUE(UpdateModelIntoWith(kernels, from.View(), UpdatedFieldsOf(to.View()), frame,
                                        start.Matrix(), StandardAllocator(), threads));
    }
    return inPlace || frames.size() % 2 == 0 ? a.owned : b.owned;
}

TEST(VectorPath, EveryPathGivesTheScalarPathsBitsOnAwkwardModels) {
    const Shape shapes[] = {{1, 1}, {1, 13}, {17, 1}, {2, 9}, {3, 5}, {9, 3}, {13, 7}, {19, 4}};
    const std::int32_t maps[][2] = {{1, 1}, {2, 2}, {2, 3}, {3, 3}, {1, 7}, {4, 4}, {5, 5}, {8, 8}};
    const ColumnKernels& scalar = *ColumnKernelsFor(VectorPath::Scalar);
    std::uint64_t seed = 500;
    int compared = 0;
    for (const Shape& shape : shapes) {
        for (const auto& map : maps) {
            for (double specialShare : {0.0, 0.1}) {
                SCOPED_TRACE("H " + std::to_string(shape.H) + " W " + std::to_string(shape.W) +
                             " K " + std::to_string(map[0] * map[1]) + " special share " +
                             std::to_string(specialShare));
                TestModel t(shape.H, shape.W, map[0], map[1]);
                Values values(seed++, specialShare);
                Randomize(t, values);
                std::vector<std::vector<double>> frames(3, t.frame);
                for (std::size_t f = 1; f < frames.size(); ++f)
                    for (double& x : frames[f]) x = values.Field(0, 255);
                TestModel reference = t;
                for (const std::vector<double>& frame : frames) {
                    reference.frame = frame;
                    ASSERT_TRUE(UpdateModelReference(reference.View(), reference.Frame(),
                                                     reference.Matrix(), StandardAllocator()));
                }
                const OwnedModel expected = UpdateFrames(t, frames, scalar, 1, true);
                ASSERT_TRUE(SameModel(reference.owned, expected)) << "scalar against reference";
                for (VectorPath path : kPaths) {
                    const ColumnKernels* kernels = ColumnKernelsFor(path);
                    if (kernels == nullptr) continue;
                    for (int threads : {1, 3}) {
                        for (bool inPlace : {true, false}) {
                            ASSERT_TRUE(
                                SameModel(expected, UpdateFrames(t, frames, *kernels, threads, inPlace)))
                                << VectorPathName(path) << ", " << threads << " threads, "
                                << (inPlace ? "in place" : "out of place");
                            ++compared;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 0);
}

// The update before its kernels took several pixels at once, which the
// benchmarks compare against, still gives the same bits.
TEST(VectorPath, PixelByPixelKernelsGiveTheSameBits) {
    TestModel t(23, 11, 3, 3);
    Values values(9, 0.05);
    Randomize(t, values);
    std::vector<std::vector<double>> frames(4, t.frame);
    for (std::size_t f = 1; f < frames.size(); ++f)
        for (double& x : frames[f]) x = values.Field(0, 255);
    EXPECT_TRUE(SameModel(UpdateFrames(t, frames, *ColumnKernelsFor(VectorPath::Scalar), 1, true),
                          UpdateFrames(t, frames, PixelByPixelKernels(), 2, true)));
}

// So do the kernels as they were before the common neuron counts were fixed
// at compile time (the benchmarks' other baseline), on every path, for a
// fixed count and one that is not.
TEST(VectorPath, BaselineKernelsGiveTheSameBits) {
    for (const auto& map : {std::pair<int, int>{3, 3}, {2, 3}}) {
        TestModel t(13, 6, map.first, map.second);
        Values values(21, 0.05);
        Randomize(t, values);
        std::vector<std::vector<double>> frames(3, t.frame);
        for (std::size_t f = 1; f < frames.size(); ++f)
            for (double& x : frames[f]) x = values.Field(0, 255);
        const OwnedModel expected =
            UpdateFrames(t, frames, *ColumnKernelsFor(VectorPath::Scalar), 1, true);
        for (VectorPath path : kPaths) {
            const ColumnKernels* baseline = BaselineColumnKernelsFor(path);
            EXPECT_EQ(baseline == nullptr, ColumnKernelsFor(path) == nullptr)
                << VectorPathName(path);
            if (baseline == nullptr) continue;
            EXPECT_TRUE(SameModel(expected, UpdateFrames(t, frames, *baseline, 2, false)))
                << VectorPathName(path) << ", K " << map.first * map.second;
        }
    }
}

}  // namespace
}  // namespace corvane::test
