#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Detector.h"
#include "ParameterTable.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace corvane::test {
namespace {

// A scene, its frames, and parameters whose matrix changes during the first
// frames (calibration) and then stays, with a three-frame start.
class DetectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        scene.H = 13;
        scene.W = 17;
        scene.squareSize = 4;
        parameters.mapRows = 2;
        parameters.mapColumns = 3;
        parameters.initialFrames = 3;
        parameters.calibrationFrames = 6;
        parameters.calibrationRate = 0.5;
        parameters.medianSize = 3;
        frames.resize(14);
        for (std::size_t t = 0; t < frames.size(); ++t)
            scene.Render(static_cast<std::int32_t>(t), frames[t], nullptr);
    }
    std::int64_t N() const { return std::int64_t(scene.H) * scene.W; }
    FrameImage Frame(std::size_t t) const {
        return FrameImage{frames[t].data(), std::int64_t(frames[t].size())};
    }
    // The masks of frames from..to-1, each N bytes, through `detector`.
    std::vector<std::vector<std::uint8_t>> Run(Detector& detector, std::size_t from,
                                               std::size_t to) const {
        std::vector<std::vector<std::uint8_t>> masks;
        for (std::size_t t = from; t < to; ++t) {
            std::vector<std::uint8_t> mask(static_cast<std::size_t>(N()));
            std::string error;
            EXPECT_TRUE(detector.Process(Frame(t), mask.data(), nullptr, &error)) << error;
            masks.push_back(mask);
        }
        return masks;
    }

    SyntheticScene scene;
    ModelParameters parameters;
    std::vector<std::vector<double>> frames;
};

// Every field of the table, bit for bit.
bool SameModel(const OwnedModel& a, const OwnedModel& b) { return FirstDifferentField(a, b) < 0; }

// The detector is the plain loop every host used to write: the steps between
// frames, the matrix of each frame number, the update, the decision, what is
// learnt from it, the mask.
TEST_F(DetectorTest, GivesTheMasksOfTheLiteralLoop) {
    Detector detector(parameters);
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
    EXPECT_TRUE(detector.model().Mu.empty()) << "the model is built from the first frame";
    std::vector<double> probability(static_cast<std::size_t>(N()));
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(N()));

    OwnedModel model;
    StreamState stream;
    MaskScratch scratch;
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(N())), decision(expected.size());
    for (std::size_t t = 0; t < frames.size(); ++t) {
        PrepareFrame(parameters, stream, model, frames[t].data(), scene.H, scene.W);
        const std::vector<double> matrix =
            NeighborhoodMatrixForFrame(parameters, static_cast<std::int64_t>(t) + 1);
        ASSERT_TRUE(UpdateModel(model.View(), Frame(t),
                                NeighborhoodMatrix{matrix.data(), std::int64_t(matrix.size())},
                                StandardAllocator()));
        DecidePixels(parameters, model.View(), frames[t].data(), scene.H, scene.W, decision.data(),
                     stream.still.data(), stream.blink.data());
        TrackBlinking(parameters, decision.data(), stream.lastForeground, stream.blink);
        AbsorbExplained(parameters, model, frames[t].data(), decision.data(), stream.still.data(),
                        static_cast<std::int64_t>(t) + 1);
        FinishMask(parameters, decision.data(), scene.H, scene.W, expected.data(), scratch);

        ASSERT_TRUE(detector.Process(Frame(t), mask.data(), probability.data(), &error)) << error;
        ASSERT_EQ(mask, expected) << "frame " << t + 1;
        ASSERT_EQ(probability, model.imMask) << "frame " << t + 1;
        ASSERT_TRUE(SameModel(detector.model(), model)) << "frame " << t + 1;
    }
    EXPECT_EQ(detector.framesProcessed(), std::int64_t(frames.size()));
    // Something was found, and not everything.
    std::size_t found = 0;
    for (std::uint8_t v : mask) found += v == 255;
    EXPECT_GT(found, 0u);
    EXPECT_LT(found, mask.size() / 2);
}

TEST_F(DetectorTest, ResetGoesBackToTheStart) {
    Detector detector(parameters);
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
    const auto first = Run(detector, 0, frames.size());
    const OwnedModel end = detector.model();
    detector.Reset();
    EXPECT_EQ(detector.framesProcessed(), 0);
    EXPECT_TRUE(detector.model().Mu.empty());
    EXPECT_EQ(Run(detector, 0, frames.size()), first);
    EXPECT_TRUE(SameModel(detector.model(), end)) << "the flicker history was reset too";
}

// An exported model continues in another detector exactly where it stood,
// calibration schedule and prior band included, and Reset goes back to it.
// (What the detector keeps between frames is not part of a model: the
// flicker, the absorbing of still pixels and the blink feedback are off here.)
TEST_F(DetectorTest, AnExportedModelContinuesInAnotherDetector) {
    parameters.flickerStep = 0;
    parameters.absorbFrames = 0;
    parameters.blinkRate = 0;
    parameters.priorFloor = 0.03;
    Detector whole(parameters);
    std::string error;
    ASSERT_TRUE(whole.Start(scene.H, scene.W, &error)) << error;
    Run(whole, 0, 4);
    OwnedModel exported = whole.model();
    const auto rest = Run(whole, 4, frames.size());

    // A model with longer fields than its sizes give is refused, naming the
    // field: an array meant for other sizes would be misread.
    Detector continued(parameters);
    exported.Mu.push_back(-1);
    EXPECT_FALSE(continued.StartFromModel(exported.View(), &error));
    EXPECT_NE(error.find("\"Mu\""), std::string::npos) << error;
    exported.Mu.pop_back();
    exported.Pi.push_back(-1);
    EXPECT_FALSE(continued.StartFromModel(exported.View(), &error));
    EXPECT_NE(error.find("\"Pi\""), std::string::npos) << error;
    exported.Pi.pop_back();
    EXPECT_FALSE(continued.started());
    ASSERT_TRUE(continued.StartFromModel(exported.View(), &error)) << error;
    EXPECT_EQ(continued.model().Mu.size(), exported.Mu.size());
    EXPECT_EQ(Run(continued, 4, frames.size()), rest);
    EXPECT_TRUE(SameModel(continued.model(), whole.model()));
    continued.Reset();
    EXPECT_EQ(continued.model().CurrentFrame, 4);
    EXPECT_EQ(Run(continued, 4, frames.size()), rest);
}

// With what the detector keeps between frames restored, an exported model
// continues exactly, flicker on; Reset goes back to the restored state.
TEST_F(DetectorTest, AModelWithItsStreamContinuesExactly) {
    parameters.flickerStep = 0.2;
    Detector whole(parameters);
    std::string error;
    ASSERT_TRUE(whole.Start(scene.H, scene.W, &error)) << error;
    Run(whole, 0, 5);
    const OwnedModel exported = whole.model();
    const StreamState saved = whole.stream();
    const auto rest = Run(whole, 5, frames.size());

    Detector continued(parameters);
    OwnedModel copy = exported;
    ASSERT_TRUE(continued.StartFromModel(copy.View(), &error)) << error;
    for (const StreamField& field : StreamFields()) {
        StreamState damaged = saved;
        (damaged.*field.values).pop_back();
        EXPECT_FALSE(continued.RestoreStream(damaged, &error)) << field.name;
        EXPECT_NE(error.find(field.name), std::string::npos) << error;
    }
    ASSERT_TRUE(continued.RestoreStream(saved, &error)) << error;
    EXPECT_EQ(Run(continued, 5, frames.size()), rest);
    EXPECT_TRUE(SameModel(continued.model(), whole.model()));
    EXPECT_FALSE(continued.RestoreStream(saved, &error));
    continued.Reset();
    EXPECT_EQ(Run(continued, 5, frames.size()), rest);
}

// Score changes nothing, and gives the mask and probability the next Process
// gives once the start is over; before the first frame it refuses.
TEST_F(DetectorTest, ScoreKeepsTheModelAndGivesTheNextMask) {
    parameters.priorFloor = 0.2;  // the band applies to the score's prior too
    Detector detector(parameters);
    std::string error;
    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
    std::vector<std::uint8_t> scored(static_cast<std::size_t>(N())), mask(scored.size());
    std::vector<double> scoredProbability(static_cast<std::size_t>(N())), probability(scoredProbability);
    EXPECT_FALSE(detector.Score(Frame(0), scored.data(), nullptr, &error));
    EXPECT_NE(error.find("before the first frame"), std::string::npos) << error;
    Run(detector, 0, 4);
    for (std::size_t t = 4; t < frames.size(); ++t) {
        const OwnedModel before = detector.model();
        ASSERT_TRUE(detector.Score(Frame(t), scored.data(), scoredProbability.data(), &error)) << error;
        EXPECT_TRUE(SameModel(detector.model(), before));
        EXPECT_EQ(detector.framesProcessed(), std::int64_t(t));
        ASSERT_TRUE(detector.Process(Frame(t), mask.data(), probability.data(), &error)) << error;
        EXPECT_EQ(scored, mask) << "frame " << t;
        EXPECT_EQ(scoredProbability, probability) << "frame " << t;
    }
}

// A frame's own learning rate: the schedule's rate gives the same bits, a
// larger one moves the neurons further, one outside (0, 1] is refused.
TEST_F(DetectorTest, AFramesOwnLearningRate) {
    parameters.calibrationFrames = 0;
    Detector plain(parameters), explicitRate(parameters), fast(parameters);
    std::string error;
    for (Detector* d : {&plain, &explicitRate, &fast}) ASSERT_TRUE(d->Start(scene.H, scene.W, &error));
    std::vector<std::uint8_t> a(static_cast<std::size_t>(N())), b(a.size()), c(a.size());
    for (std::size_t t = 0; t < frames.size(); ++t) {
        ASSERT_TRUE(plain.Process(Frame(t), a.data(), nullptr, &error)) << error;
        ASSERT_TRUE(explicitRate.Process(Frame(t), b.data(), nullptr, &error, parameters.learningRate))
            << error;
        ASSERT_TRUE(fast.Process(Frame(t), c.data(), nullptr, &error, 0.5)) << error;
        EXPECT_EQ(a, b);
    }
    EXPECT_TRUE(SameModel(plain.model(), explicitRate.model()));
    EXPECT_NE(plain.model().Mu, fast.model().Mu);
    for (double rate : {0.0, -0.5, 1.5, std::nan("")}) {
        EXPECT_FALSE(fast.Process(Frame(0), c.data(), nullptr, &error, rate));
        EXPECT_NE(error.find("learning rate"), std::string::npos) << error;
    }
    EXPECT_EQ(fast.framesProcessed(), std::int64_t(frames.size()));
}

// Nothing is read ahead: a video that differs from another only after frame
// 6 has the same first six masks and models, start included.
TEST_F(DetectorTest, MasksDependOnlyOnTheFramesSoFar) {
    Detector one(parameters), other(parameters);
    std::string error;
    ASSERT_TRUE(one.Start(scene.H, scene.W, &error)) << error;
    ASSERT_TRUE(other.Start(scene.H, scene.W, &error)) << error;
    std::vector<std::vector<double>> changed = frames;
    for (std::size_t t = 6; t < changed.size(); ++t)
        for (double& v : changed[t]) v = 255 - v;
    std::vector<std::uint8_t> a(static_cast<std::size_t>(N())), b(a.size());
    for (std::size_t t = 0; t < frames.size(); ++t) {
        ASSERT_TRUE(one.Process(Frame(t), a.data(), nullptr, &error)) << error;
        ASSERT_TRUE(other.Process(FrameImage{changed[t].data(), std::int64_t(changed[t].size())},
                                  b.data(), nullptr, &error))
            << error;
        if (t < 6) {
            EXPECT_EQ(a, b) << "frame " << t + 1;
            EXPECT_TRUE(SameModel(one.model(), other.model())) << "frame " << t + 1;
        }
    }
    EXPECT_FALSE(SameModel(one.model(), other.model()));
}

TEST_F(DetectorTest, RefusesWhatItCannotSegmentAndWritesNothing) {
    ModelParameters bad = parameters;
    bad.initialPrior = 0;
    EXPECT_THROW(Detector{bad}, InvalidParameters);

    Detector detector(parameters);
    std::string error;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(N()), 7);
    const std::vector<std::uint8_t> untouched = mask;
    EXPECT_FALSE(detector.Process(Frame(0), mask.data(), nullptr, &error));
    EXPECT_NE(error.find("not been started"), std::string::npos) << error;
    EXPECT_FALSE(detector.Start(0, scene.W, &error));
    EXPECT_FALSE(detector.Start(scene.H, -1, &error));
    EXPECT_FALSE(detector.Start(65536, 65536, &error));
    EXPECT_FALSE(detector.started());

    ASSERT_TRUE(detector.Start(scene.H, scene.W, &error)) << error;
    Run(detector, 0, 4);
    const OwnedModel start = detector.model();
    // A frame of another size, even one with as many values (W x H).
    std::vector<double> longer = frames[0];
    longer.resize(longer.size() + 3, 0.0);
    for (const FrameImage& frame :
         {FrameImage{longer.data(), std::int64_t(longer.size())},
          FrameImage{frames[0].data(), 3 * N() - 1}, FrameImage{nullptr, 3 * N()}}) {
        EXPECT_FALSE(detector.Process(frame, mask.data(), nullptr, &error));
        EXPECT_NE(error.find("13 x 17"), std::string::npos) << error;
    }
    EXPECT_EQ(mask, untouched);
    EXPECT_TRUE(SameModel(detector.model(), start));
    EXPECT_EQ(detector.framesProcessed(), 4);
}

TEST_F(DetectorTest, RefusesAModelItCannotContinue) {
    Detector source(parameters);
    std::string error;
    ASSERT_TRUE(source.Start(scene.H, scene.W, &error)) << error;
    Run(source, 0, 1);
    Detector detector(parameters);

    // A map shape that disagrees with the model's own arrays (K = 3 said,
    // K = 6 held): refused before anything is read with the wrong stride.
    OwnedModel model = source.model();
    model.NumMapRows = 1;
    EXPECT_FALSE(detector.StartFromModel(model.View(), &error));
    EXPECT_NE(error.find("\"Mu\""), std::string::npos) << error;
    EXPECT_NE(error.find("K = 3"), std::string::npos) << error;

    // A whole model of 1 x 3 neurons, not the parameters' 2 x 3.
    ModelParameters narrow = parameters;
    narrow.mapRows = 1;
    Detector other(narrow);
    ASSERT_TRUE(other.Start(scene.H, scene.W, &error)) << error;
    Run(other, 0, 1);
    model = other.model();
    EXPECT_FALSE(detector.StartFromModel(model.View(), &error));
    EXPECT_NE(error.find("1 x 3"), std::string::npos) << error;

    model = source.model();
    model.Sigma2.pop_back();
    EXPECT_FALSE(detector.StartFromModel(model.View(), &error));
    EXPECT_NE(error.find("Sigma2"), std::string::npos) << error;

    for (double frame : {-1.0, 2.5, std::nan(""), 1e300}) {
        model = source.model();
        model.CurrentFrame = frame;
        EXPECT_FALSE(detector.StartFromModel(model.View(), &error)) << frame;
        EXPECT_NE(error.find("CurrentFrame"), std::string::npos) << error;
    }
    EXPECT_FALSE(detector.started());
}

}  // namespace
}  // namespace corvane::test
