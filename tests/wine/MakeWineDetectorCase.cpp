// Writes the detector case for the Windows test of CorvaneDetectorMex
// (DetectorCaseFile.h): a synthetic video as 8-bit frames, segmented by the
// Linux Detector with the default parameters, as the MEX file's steps must
// segment it, and exp of arguments where the C library's exp and the core's
// part.
//
//   corvane_make_wine_detector_case OUTPUT
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Detector.h"
#include "DetectorCaseFile.h"
#include "RoundedMath.h"
#include "SyntheticScene.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    corvane::SyntheticScene scene;
    scene.H = 30;
    scene.W = 41;
    scene.squareSize = 7;
    corvane::wine::DetectorCase c;
    c.H = static_cast<std::uint32_t>(scene.H);
    c.W = static_cast<std::uint32_t>(scene.W);
    c.T = 24;
    const std::size_t N = std::size_t(c.H) * c.W;
    corvane::Detector detector{corvane::ModelParameters()};
    std::string error;
    if (!detector.Start(scene.H, scene.W, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<double> rendered, frame(3 * N);
    for (std::uint32_t t = 0; t < c.T; ++t) {
        scene.Render(static_cast<std::int32_t>(t), rendered, nullptr);
        std::vector<std::uint8_t> bytes(3 * N);
        for (std::size_t i = 0; i < 3 * N; ++i) {
            const double v = std::round(rendered[i]);
            bytes[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            frame[i] = bytes[i];
        }
        std::vector<std::uint8_t> mask(N);
        std::vector<double> probability(N);
        if (!detector.Process(corvane::FrameImage{frame.data(), static_cast<std::int64_t>(3 * N)},
                              mask.data(), probability.data(), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        for (std::uint8_t& m : mask) m = m != 0 ? 1 : 0;
        c.frames.push_back(bytes);
        c.masks.push_back(mask);
        c.probabilities.push_back(probability);
    }
    const corvane::OwnedModel& m = detector.model();
    const struct {
        const char* name;
        std::vector<double> values;
    } fields[] = {{"Mu", m.Mu},
                  {"Sigma2", m.Sigma2},
                  {"imMask", m.imMask},
                  {"Pi", m.Pi},
                  {"NeuroWin", m.NeuroWin},
                  {"Var", m.Var},
                  {"Cov", m.Cov},
                  {"MaximumVariance", m.MaximumVariance},
                  {"NumMapRows", {m.NumMapRows}},
                  {"NumMapColumns", {m.NumMapColumns}},
                  {"NumImageRows", {m.NumImageRows}},
                  {"NumImageColumns", {m.NumImageColumns}},
                  {"MinimumVariance", {m.MinimumVariance}},
                  {"StepSize", {m.StepSize}},
                  {"CurrentFrame", {m.CurrentFrame}}};
    for (const auto& field : fields) {
        c.fieldNames.push_back(field.name);
        c.fields.push_back(field.values);
    }
    for (double width : {1.0, 1.73, 3.46, 5.21, 0.7}) {
        for (double d2 : {1.0, 2.0, 4.0, 5.0}) {
            const double x = -d2 / (2 * width * width);
            c.expX.push_back(x);
            c.expY.push_back(corvane::ExpCorrectlyRounded(x));
        }
    }
    if (!corvane::wine::WriteDetectorCase(argv[1], c)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
