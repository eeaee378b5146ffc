// The struct call's update into fresh arrays against the in-place update on a
// copy, bit for bit, and the checks every host shares.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GatewayModel.h"
#include "RandomModel.h"
#include "UpdateModel.h"

namespace corvane::gateway {
namespace {

using test::RandomModel;

std::vector<std::uint64_t> Bits(const std::vector<double>& values) {
    std::vector<std::uint64_t> bits(values.size());
    std::memcpy(bits.data(), values.data(), values.size() * sizeof(double));
    return bits;
}

// Every field of a model as its own vector, in kModelFields order, so that
// any field can be lengthened or made to share another's data.
struct FieldArrays {
    std::vector<double> fields[kModelFieldCount];

    explicit FieldArrays(OwnedModel& model) {
        const BackgroundModel view = model.View();
        for (int i = 0; i < kModelFieldCount; ++i) {
            const DoubleView& v = view.*kModelFields[i].view;
            fields[i].assign(v.data, v.data + v.count);
        }
    }
    BackgroundModel View() {
        BackgroundModel view;
        for (int i = 0; i < kModelFieldCount; ++i)
            view.*kModelFields[i].view =
                DoubleView{fields[i].data(), static_cast<std::int64_t>(fields[i].size())};
        return view;
    }
};

// Fresh arrays for the written fields of `source`, filled with a pattern
// that must not survive, the others bound to the source's own.
struct Destination {
    std::vector<double> fresh[kModelFieldCount];
    BackgroundModel view;

    explicit Destination(const BackgroundModel& source) : view(source) {
        for (int i = 0; i < kModelFieldCount; ++i) {
            if (!kModelFields[i].written) continue;
            const DoubleView& from = source.*kModelFields[i].view;
            fresh[i].assign(static_cast<std::size_t>(from.count), -777.0);
            view.*kModelFields[i].view = DoubleView{fresh[i].data(), from.count};
        }
    }
};

ModelSizes SizesOf(const BackgroundModel& model, const FrameImage& frame,
                   const NeighborhoodMatrix& matrix) {
    ModelSizes sizes;
    EXPECT_FALSE(CheckBoundModel(model, frame, matrix, &sizes).raised());
    return sizes;
}

// Runs the update both ways over `frames` frames and compares every field;
// the fresh-array update on `threads` threads, the in-place one on one.
void ExpectSameAsInPlace(FieldArrays& start, const RandomModel& scene, int frames,
                         int threads = 1) {
    FieldArrays inPlace = start;
    FieldArrays source = start;
    for (int t = 0; t < frames; ++t) {
        ASSERT_TRUE(
            UpdateModel(inPlace.View(), scene.Frame(), scene.Matrix(), StandardAllocator(), 1));
        const FieldArrays before = source;
        const BackgroundModel sourceView = source.View();
        Destination destination(sourceView);
        const ModelSizes sizes = SizesOf(sourceView, scene.Frame(), scene.Matrix());
        ASSERT_TRUE(UpdateIntoFreshArrays(sourceView, destination.view, sizes, scene.Frame(),
                                          scene.Matrix(), StandardAllocator(), threads));
        for (int i = 0; i < kModelFieldCount; ++i) {
            SCOPED_TRACE(kModelFields[i].name);
            EXPECT_EQ(Bits(source.fields[i]), Bits(before.fields[i])) << "the source was written";
            const std::vector<double>& result =
                kModelFields[i].written ? destination.fresh[i] : source.fields[i];
            EXPECT_EQ(Bits(result), Bits(inPlace.fields[i])) << "frame " << t + 1;
        }
        // The next frame starts from the result, as a MATLAB caller's does.
        for (int i = 0; i < kModelFieldCount; ++i)
            if (kModelFields[i].written) source.fields[i] = destination.fresh[i];
    }
}

TEST(UpdateIntoFreshArrays, GivesTheInPlaceUpdatesBitsAndLeavesTheSourceAlone) {
    for (const auto& shape : {std::vector<int>{1, 1, 1, 1}, {1, 7, 2, 2}, {6, 1, 3, 1},
                              {2, 2, 1, 1}, {9, 11, 3, 3}, {16, 5, 2, 3}}) {
        SCOPED_TRACE(testing::Message() << shape[0] << "x" << shape[1] << " map " << shape[2]
                                        << "x" << shape[3]);
        RandomModel scene(shape[0], shape[1], shape[2], shape[3], 17u + shape[1]);
        FieldArrays start(scene.model);
        ExpectSameAsInPlace(start, scene, 3);
    }
}

TEST(UpdateIntoFreshArrays, GivesTheSameBitsOnEveryThreadCount) {
    for (int threads : {2, 3, 8, 0}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        RandomModel scene(7, 13, 3, 3, 41);
        FieldArrays start(scene.model);
        ExpectSameAsInPlace(start, scene, 3, threads);
    }
}

TEST(CheckBoundModel, RefusesAFieldLongerThanItsSizesGiveNamingIt) {
    // An array meant for other sizes would be misread with this model's
    // strides, so one element more is refused like one fewer. Scalars are
    // read through their first element, and the rest of them comes back as
    // it was.
    RandomModel scene(5, 4, 2, 2, 3);
    FieldArrays start(scene.model);
    for (int i = 0; i < kModelFieldCount; ++i) {
        SCOPED_TRACE(kModelFields[i].name);
        FieldArrays longer = start;
        longer.fields[i].push_back(1234.5);
        if (IsScalarField(kModelFields[i])) {
            ExpectSameAsInPlace(longer, scene, 2);
            continue;
        }
        ModelSizes ignored;
        const GatewayError error =
            CheckBoundModel(longer.View(), scene.Frame(), scene.Matrix(), &ignored);
        EXPECT_STREQ(error.identifier, "Corvane:fieldTooLong");
        EXPECT_NE(std::strstr(error.message, kModelFields[i].name), nullptr) << error.message;
    }
}

TEST(UpdateIntoFreshArrays, ReadsFieldsThatShareOneArrayAsSeparateValues) {
    RandomModel scene(4, 6, 2, 2, 5);
    FieldArrays separate(scene.model);
    std::vector<double> shared = separate.fields[ModelFieldIndex("Pi")];
    BackgroundModel sharing = separate.View();
    // Var, imMask and NeuroWin are the same array as Pi; MaximumVariance too.
    for (const char* name : {"Pi", "Var", "imMask", "NeuroWin", "MaximumVariance"}) {
        sharing.*kModelFields[ModelFieldIndex(name)].view =
            DoubleView{shared.data(), static_cast<std::int64_t>(shared.size())};
        separate.fields[ModelFieldIndex(name)] = shared;
    }
    const std::vector<double> sharedBefore = shared;
    Destination destination(sharing);
    const ModelSizes sizes = SizesOf(sharing, scene.Frame(), scene.Matrix());
    ASSERT_TRUE(UpdateIntoFreshArrays(sharing, destination.view, sizes, scene.Frame(),
                                      scene.Matrix(), StandardAllocator(), 2));
    EXPECT_EQ(Bits(shared), Bits(sharedBefore));
    ASSERT_TRUE(UpdateModel(separate.View(), scene.Frame(), scene.Matrix(), StandardAllocator()));
    for (int i = 0; i < kModelFieldCount; ++i) {
        if (!kModelFields[i].written) continue;
        SCOPED_TRACE(kModelFields[i].name);
        EXPECT_EQ(Bits(destination.fresh[i]), Bits(separate.fields[i]));
    }
}

TEST(FieldElements, IsWhatTheUpdateNeedsOfEachField) {
    RandomModel scene(3, 5, 2, 3, 9);
    FieldArrays fields(scene.model);
    const ModelSizes sizes = SizesOf(fields.View(), scene.Frame(), scene.Matrix());
    for (int i = 0; i < kModelFieldCount; ++i) {
        SCOPED_TRACE(kModelFields[i].name);
        EXPECT_EQ(FieldElements(kModelFields[i], sizes), fields.fields[i].size());
        // One element fewer is a field the update could not run on.
        FieldArrays shorter = fields;
        shorter.fields[i].pop_back();
        ModelSizes ignored;
        const GatewayError error =
            CheckBoundModel(shorter.View(), scene.Frame(), scene.Matrix(), &ignored);
        EXPECT_STREQ(error.identifier, "Corvane:fieldTooShort");
    }
}

// The name of the field CheckFreshArrays refuses, or "" when it passes.
std::string RefusedField(const BackgroundModel& source, const BackgroundModel& destination,
                         const FrameImage& frame, const NeighborhoodMatrix& matrix) {
    const GatewayError error = CheckFreshArrays(source, destination, frame, matrix);
    if (!error.raised()) return "";
    EXPECT_STREQ(error.identifier, "Corvane:copyNotIndependent");
    const char* open = std::strchr(error.message, '"');
    const char* close = open != nullptr ? std::strchr(open + 1, '"') : nullptr;
    return open != nullptr && close != nullptr ? std::string(open + 1, close) : error.message;
}

TEST(CheckFreshArrays, FindsADestinationThatOverlapsAnythingItMustNotWrite) {
    RandomModel scene(4, 4, 1, 2, 2);
    FieldArrays source(scene.model);
    const BackgroundModel sourceView = source.View();
    Destination destination(sourceView);
    EXPECT_EQ(RefusedField(sourceView, destination.view, scene.Frame(), scene.Matrix()), "");

    BackgroundModel overlapsSource = destination.view;
    overlapsSource.Var.data = source.fields[ModelFieldIndex("MaximumVariance")].data() + 1;
    EXPECT_EQ(RefusedField(sourceView, overlapsSource, scene.Frame(), scene.Matrix()), "Var");

    BackgroundModel overlapsFrame = destination.view;
    std::vector<double> frame = scene.frame;
    overlapsFrame.Pi.data = frame.data() + 1;
    EXPECT_EQ(RefusedField(sourceView, overlapsFrame,
                           FrameImage{frame.data(), static_cast<std::int64_t>(frame.size())},
                           scene.Matrix()),
              "Pi");

    BackgroundModel overlapsSibling = destination.view;
    overlapsSibling.NeuroWin = overlapsSibling.imMask;
    EXPECT_EQ(RefusedField(sourceView, overlapsSibling, scene.Frame(), scene.Matrix()), "imMask");

    // The caller's own array is not a fresh one: writing it in place would
    // change the caller's struct.
    BackgroundModel inPlace = destination.view;
    inPlace.Cov = sourceView.Cov;
    EXPECT_EQ(RefusedField(sourceView, inPlace, scene.Frame(), scene.Matrix()), "Cov");
}

}  // namespace
}  // namespace corvane::gateway
