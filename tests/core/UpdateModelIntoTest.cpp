// The out-of-place update (UpdateModelInto) against the in-place UpdateModel
// on a copy: the same bits in every written field, the source untouched, for
// whole destinations, for destinations mixing in-place and separate fields,
// and frame after frame with two models used in turn, as a host that returns
// a fresh model per frame does. Destinations that could corrupt the source or
// each other are refused before anything is written.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ModelCheck.h"
#include "RandomModel.h"
#include "TestModel.h"

namespace corvane::test {
namespace {

// The indices in the field table of the fields an update writes; bit b of an
// in-place mask stands for the b-th of them.
std::vector<int> WrittenFieldIndices() {
    std::vector<int> written;
    for (int i = 0; i < kModelFieldCount; ++i)
        if (kModelFields[i].updated != nullptr) written.push_back(i);
    return written;
}

UpdatedFields FieldsOf(OwnedModel& m) { return UpdatedFieldsOf(m.View()); }

// Field i of `from` into the same field of `to` (of the same size).
void CopyField(const OwnedModel& from, OwnedModel& to, int i) {
    const DoubleView source = from.ReadView().*kModelFields[i].view;
    const DoubleView target = to.View().*kModelFields[i].view;
    ASSERT_EQ(source.count, target.count) << kModelFields[i].name;
    std::copy(source.data, source.data + source.count, target.data);
}

// Fills every written field of `m` with values the update must overwrite.
void Scribble(OwnedModel& m, Values& values) {
    const BackgroundModel view = m.View();
    for (const int i : WrittenFieldIndices()) {
        const DoubleView field = view.*kModelFields[i].view;
        for (std::int64_t e = 0; e < field.count; ++e) field.data[e] = values.Special();
    }
}

// An update of `source` into a destination where written field b is the
// source's own array when bit b of `inPlace` is set and separate memory
// otherwise, against UpdateModel on a copy of the source.
void ExpectSameAsInPlace(const TestModel& start, unsigned inPlace, Values& values) {
    TestModel source = start;
    TestModel expected = start;
    ASSERT_TRUE(UpdateModel(expected.View(), expected.Frame(), expected.Matrix(),
                            StandardAllocator()));

    OwnedModel separate = start.owned;
    Scribble(separate, values);
    UpdatedFields destination = FieldsOf(separate);
    UpdatedFields own = UpdatedFieldsOf(source.View());
    const std::vector<int> written = WrittenFieldIndices();
    for (std::size_t b = 0; b < written.size(); ++b)
        if (inPlace >> b & 1u)
            destination.*kModelFields[written[b]].updated = own.*kModelFields[written[b]].updated;
    OwnedModel before = source.owned;
    ASSERT_TRUE(UpdateModelInto(source.View(), destination, source.Frame(), source.Matrix(),
                                StandardAllocator()));

    // Gather the result: in-place fields from the source, the rest from `separate`.
    OwnedModel result = before;
    for (std::size_t b = 0; b < written.size(); ++b)
        CopyField(inPlace >> b & 1u ? source.owned : separate, result, written[b]);
    ASSERT_TRUE(SameModel(expected.owned, result)) << "in-place fields 0x" << std::hex << inPlace;

    // Every field not updated in place is as it was in the source.
    OwnedModel untouched = source.owned;
    for (std::size_t b = 0; b < written.size(); ++b)
        if (inPlace >> b & 1u) CopyField(before, untouched, written[b]);
    ASSERT_TRUE(SameModel(before, untouched)) << "the source changed";
}

TEST(UpdateModelInto, MatchesTheInPlaceUpdateOnRandomModels) {
    std::uint64_t seed = 300;
    for (const Shape& shape : kShapes) {
        for (std::int32_t K : {1, 4, 9, 17}) {
            for (double specialShare : {0.0, 0.1}) {
                SCOPED_TRACE("H " + std::to_string(shape.H) + " W " + std::to_string(shape.W) +
                             " K " + std::to_string(K));
                TestModel t(shape.H, shape.W, 1, K);
                Values values(seed++, specialShare);
                Randomize(t, values);
                ExpectSameAsInPlace(t, 0x00, values);  // every field separate
                ExpectSameAsInPlace(t, 0xFF, values);  // every field in place
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Each written field may be updated in place or into memory of its own,
// independently of the others: every element of a field is read before the
// sweep writes it, and values of this frame are read from the destination.
TEST(UpdateModelInto, FieldsMayBeUpdatedInPlaceOneByOne) {
    Values values(41, 0.05);
    TestModel t(5, 6, 3, 3);
    Randomize(t, values);
    for (unsigned inPlace = 0; inPlace < 256; ++inPlace) {
        ExpectSameAsInPlace(t, inPlace, values);
        if (HasFatalFailure()) return;
    }
}

// Two models used in turn: each frame reads the one and writes the other,
// the way a host that hands back a fresh model every frame runs. After ten
// frames the result is that of ten in-place updates.
TEST(UpdateModelInto, TwoModelsInTurnFollowTheInPlaceUpdate) {
    Values values(7, 0.02);
    TestModel inPlace(7, 9, 2, 2);
    Randomize(inPlace, values);
    OwnedModel models[2] = {inPlace.owned, inPlace.owned};
    Scribble(models[1], values);
    for (int frame = 0; frame < 10; ++frame) {
        if (frame > 0)
            for (double& x : inPlace.frame) x = values.Field(0, 255);
        ASSERT_TRUE(UpdateModel(inPlace.View(), inPlace.Frame(), inPlace.Matrix(),
                                StandardAllocator()));
        OwnedModel& from = models[frame % 2];
        OwnedModel& to = models[1 - frame % 2];
        Scribble(to, values);
        ASSERT_TRUE(UpdateModelInto(from.View(), FieldsOf(to), inPlace.Frame(), inPlace.Matrix(),
                                    StandardAllocator()));
        ASSERT_TRUE(SameModel(inPlace.owned, to)) << "after frame " << frame;
    }
}

// A destination that is too short, or whose written part shares memory with
// the source, the frame, the matrix or another destination field, is refused
// with the field named; nothing is written and no scratch is obtained.
TEST(UpdateModelInto, RefusesDestinationsThatAreTooShortOrShareMemory) {
    static int allocations = 0;
    HostAllocator counting = StandardAllocator();
    counting.allocate = [](std::size_t bytes) {
        ++allocations;
        return std::malloc(bytes);
    };

    Values values(3, 0.0);
    TestModel source(4, 3, 1, 2);
    Randomize(source, values);
    const std::int64_t N = source.N();
    std::vector<double> spare(4 * N + 8, 0.5);  // room for any field but Mu
    const struct {
        const char* what;
        ModelProblem problem;
        const char* subject;
        void (*spoil)(UpdatedFields&, TestModel&, std::vector<double>&);
    } cases[] = {
        {"Cov one element short", ModelProblem::DestinationTooShort, "Cov",
         [](UpdatedFields& d, TestModel&, std::vector<double>&) { d.Cov.count -= 1; }},
        {"no CurrentFrame", ModelProblem::DestinationTooShort, "CurrentFrame",
         [](UpdatedFields& d, TestModel&, std::vector<double>&) { d.CurrentFrame = DoubleView{}; }},
        {"Pi written over the source's Var", ModelProblem::DestinationOverlaps, "Pi",
         [](UpdatedFields& d, TestModel& s, std::vector<double>&) {
             d.Pi = DoubleView{s.owned.Var.data(), std::int64_t(s.owned.Var.size())};
         }},
        {"Pi one element into the source's own Pi", ModelProblem::DestinationOverlaps, "Pi",
         [](UpdatedFields& d, TestModel& s, std::vector<double>&) {
             // Room for the overlapping view; the source's Pi keeps its N elements.
             s.owned.Pi.reserve(s.owned.Pi.size() + 1);
             d.Pi = DoubleView{s.owned.Pi.data() + 1, s.N()};
         }},
        {"Var written into the frame", ModelProblem::DestinationOverlaps, "Var",
         [](UpdatedFields& d, TestModel& s, std::vector<double>&) {
             d.Var = DoubleView{s.frame.data() + 1, s.N()};
         }},
        {"Cov written over the neighbourhood matrix", ModelProblem::DestinationOverlaps, "Cov",
         [](UpdatedFields& d, TestModel& s, std::vector<double>&) {
             s.matrix.resize(4 * s.N());
             d.Cov = DoubleView{s.matrix.data(), 4 * s.N()};
         }},
        {"imMask and NeuroWin in one array", ModelProblem::DestinationOverlaps, "imMask",
         [](UpdatedFields& d, TestModel& s, std::vector<double>& spare) {
             d.imMask = DoubleView{spare.data(), s.N()};
             d.NeuroWin = DoubleView{spare.data() + s.N() - 1, s.N()};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel s = source;
        OwnedModel target = s.owned;
        Scribble(target, values);
        UpdatedFields destination = FieldsOf(target);
        c.spoil(destination, s, spare);
        const ModelCheck check = CheckModelInto(s.View(), destination, s.Frame(), s.Matrix());
        EXPECT_EQ(check.problem, c.problem) << check.message;
        EXPECT_STREQ(check.subject, c.subject);
        const OwnedModel sourceBefore = s.owned, targetBefore = target;
        const std::vector<double> spareBefore = spare;
        allocations = 0;
        EXPECT_FALSE(UpdateModelInto(s.View(), destination, s.Frame(), s.Matrix(), counting));
        EXPECT_EQ(allocations, 0);
        EXPECT_TRUE(SameModel(sourceBefore, s.owned));
        EXPECT_TRUE(SameModel(targetBefore, target));
        EXPECT_EQ(spareBefore.size(), spare.size());
        for (std::size_t i = 0; i < spare.size(); ++i) ASSERT_TRUE(SameBits(spareBefore[i], spare[i]));
    }
}

}  // namespace
}  // namespace corvane::test
