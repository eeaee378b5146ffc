#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Detector.h"
#include "MaskDecision.h"

namespace corvane::test {
namespace {

// An H x W model of K = 1 whose neuron at pixel p has the colour colours(p),
// with every probability above the threshold.
struct OnePixelModels {
    std::int32_t H, W;
    OwnedModel model;

    OnePixelModels(std::int32_t h, std::int32_t w, const std::vector<double>& colours,
                   double variance)
        : H(h), W(w) {
        const std::size_t N = static_cast<std::size_t>(H) * W;
        model.Mu.resize(3 * N);
        for (std::size_t p = 0; p < N; ++p)
            for (int ch = 0; ch < 3; ++ch) model.Mu[3 * p + ch] = colours[ch * N + p];
        model.Sigma2.assign(N, variance);
        model.imMask.assign(N, 1.0);
        model.MaximumVariance.assign(N, 100.0);
        model.MinimumVariance = 25;
    }
};

ModelParameters OneNeuron() {
    ModelParameters parameters;
    parameters.mapRows = 1;
    parameters.mapColumns = 1;
    return parameters;
}

std::vector<double> Frame(std::int32_t H, std::int32_t W, double r, double g, double b) {
    const std::size_t N = static_cast<std::size_t>(H) * W;
    std::vector<double> frame(3 * N);
    for (std::size_t p = 0; p < N; ++p) {
        frame[p] = r;
        frame[N + p] = g;
        frame[2 * N + p] = b;
    }
    return frame;
}

// A darker copy of the background is a shadow; a darker colour of another
// hue, or a copy darker than the band, is not; with shadows off neither is.
TEST(MaskDecision, ADarkerCopyIsAShadowAndADarkerOtherColourIsNot) {
    ModelParameters parameters = OneNeuron();
    parameters.shadows = 1;
    parameters.shadowValue = 127;
    parameters.neighborRadius = 0;
    const std::vector<double> background = Frame(1, 1, 100, 120, 140);
    OnePixelModels models(1, 1, background, 50);
    const struct {
        double r, g, b;
        std::uint8_t decision;
    } cases[] = {
        {70, 84, 98, kDecidedShadow},        // 0.7 of the background
        {70, 84, 130, kDecidedForeground},   // as dark, but bluer
        {30, 36, 42, kDecidedForeground},    // 0.3: darker than any shadow
        {100, 120, 140, kDecidedForeground},  // the same colour: a ratio of 1, above the band
    };
    for (const auto& c : cases) {
        const std::vector<double> frame = Frame(1, 1, c.r, c.g, c.b);
        std::uint8_t decision = 0;
        DecidePixels(parameters, models.model.View(), frame.data(), 1, 1, &decision, nullptr,
                     nullptr);
        EXPECT_EQ(decision, c.decision) << c.r << " " << c.g << " " << c.b;
    }
    const std::vector<double> shade = Frame(1, 1, 70, 84, 98);
    std::uint8_t decision = 0, mask = 0;
    MaskScratch scratch;
    parameters.medianSize = 1;
    DecidePixels(parameters, models.model.View(), shade.data(), 1, 1, &decision, nullptr, nullptr);
    FinishMask(parameters, &decision, 1, 1, &mask, scratch);
    EXPECT_EQ(mask, 127);
    parameters.shadows = 0;
    DecidePixels(parameters, models.model.View(), shade.data(), 1, 1, &decision, nullptr, nullptr);
    EXPECT_EQ(decision, kDecidedForeground);
}

// A frame of vertical stripes shifted by one column against the model: every
// pixel's colour is held by the neighbours across its edge, so nothing is
// foreground but a small object of a colour the scene does not have (two
// pixels away from an edge, so that it does not hide the edge's holders).
TEST(MaskDecision, AShiftedFrameIsExplainedAndASmallObjectIsNot) {
    // (The last column, 21, is not at a stripe's edge: nothing lies beyond it.)
    const std::int32_t H = 20, W = 22;  // edges after columns 7 and 15
    const std::size_t N = static_cast<std::size_t>(H) * W;
    auto stripes = [&](int shift) {
        std::vector<double> frame(3 * N);
        for (std::size_t p = 0; p < N; ++p) {
            const int c = static_cast<int>(p / H) + shift;
            const bool light = (c / 8) % 2 == 0;
            for (int ch = 0; ch < 3; ++ch) frame[ch * N + p] = light ? 200 - 10 * ch : 40 + 5 * ch;
        }
        return frame;
    };
    ModelParameters parameters = OneNeuron();  // radius 2, six neighbours
    // Every pixel is flagged here and none blinks: the neighbours are asked
    // everywhere only when the interior is not spared.
    parameters.interiorBlink = 0;
    OnePixelModels models(H, W, stripes(0), 30);
    std::vector<double> frame = stripes(1);
    for (int r = 8; r < 13; ++r)
        for (int c = 10; c < 15; ++c)  // columns 10..14
            for (int ch = 0; ch < 3; ++ch) frame[ch * N + c * H + r] = 100;
    std::vector<std::uint8_t> decision(N), mask(N);
    DecidePixels(parameters, models.model.View(), frame.data(), H, W, decision.data(), nullptr,
                 nullptr);
    MaskScratch scratch;
    FinishMask(parameters, decision.data(), H, W, mask.data(), scratch);
    for (int c = 0; c < W; ++c)
        for (int r = 0; r < H; ++r) {
            const bool object = r >= 8 && r < 13 && c >= 10 && c < 15;
            EXPECT_EQ(decision[c * H + r] == kDecidedForeground, object) << r << ", " << c;
        }
    // The 5 x 5 median filter keeps the 5 x 5 object.
    EXPECT_EQ(mask[12 * H + 10], 255);
    EXPECT_EQ(mask[2 * H + 2], 0);
}

// Inside a flagged region, a pixel whose colour every neighbour's background
// holds (a grey car on a grey road) stays foreground; at the region's edge,
// at the image's border, with more gaps than interiorGaps, blinking or
// still, the neighbours explain it; interiorBlink 0 asks them everywhere.
TEST(MaskDecision, TheInteriorOfAFlaggedRegionKeepsItsColour) {
    const std::int32_t H = 12, W = 12;
    const std::size_t N = static_cast<std::size_t>(H) * W;
    const std::vector<double> grey = Frame(H, W, 100, 100, 100);
    OnePixelModels models(H, W, grey, 30);
    auto at = [&](int r, int c) { return static_cast<std::size_t>(c) * H + r; };
    auto flag = [&](int r0, int r1, int c0, int c1) {
        models.model.imMask.assign(N, 0.0);
        for (int c = c0; c <= c1; ++c)
            for (int r = r0; r <= r1; ++r) models.model.imMask[at(r, c)] = 1.0;
    };
    auto decide = [&](const ModelParameters& parameters, const double* still,
                      const double* blink) {
        std::vector<std::uint8_t> decision(N);
        DecidePixels(parameters, models.model.View(), grey.data(), H, W, decision.data(), still,
                     blink);
        return decision;
    };
    const ModelParameters parameters = OneNeuron();  // radius 2, one gap, blink below 0.02
    flag(2, 8, 2, 8);
    std::vector<std::uint8_t> d = decide(parameters, nullptr, nullptr);
    EXPECT_EQ(d[at(5, 5)], kDecidedForeground);
    EXPECT_EQ(d[at(4, 6)], kDecidedForeground);  // its window just inside the region
    EXPECT_NE(d[at(3, 5)], kDecidedForeground);  // a row of its window outside
    EXPECT_NE(d[at(2, 5)], kDecidedForeground);

    // One gap in the centre's window is allowed, two are not.
    models.model.imMask[at(7, 7)] = 0.0;
    EXPECT_EQ(decide(parameters, nullptr, nullptr)[at(5, 5)], kDecidedForeground);
    models.model.imMask[at(3, 3)] = 0.0;
    EXPECT_NE(decide(parameters, nullptr, nullptr)[at(5, 5)], kDecidedForeground);

    // Blinking, still, or the interior not spared: explained.
    flag(2, 8, 2, 8);
    std::vector<double> blink(N, 0.0), still(N, 0.0);
    blink[at(5, 5)] = 0.02;
    still[at(6, 6)] = parameters.absorbFrames;
    d = decide(parameters, still.data(), blink.data());
    EXPECT_NE(d[at(5, 5)], kDecidedForeground);
    EXPECT_NE(d[at(6, 6)], kDecidedForeground);
    EXPECT_EQ(d[at(5, 6)], kDecidedForeground);
    ModelParameters everywhere = parameters;
    everywhere.interiorBlink = 0;
    EXPECT_NE(decide(everywhere, nullptr, nullptr)[at(5, 5)], kDecidedForeground);

    // Flagged everywhere: the pixels next to the border have gaps outside.
    flag(0, H - 1, 0, W - 1);
    d = decide(parameters, nullptr, nullptr);
    EXPECT_EQ(d[at(2, 2)], kDecidedForeground);
    EXPECT_NE(d[at(0, 5)], kDecidedForeground);
    EXPECT_NE(d[at(5, 1)], kDecidedForeground);
}

// A neighbour holds the colour when any one of its neurons does, whichever
// index that neuron has and whatever NaN its other neurons hold; a distance
// exactly at the bound does not hold it. With K = 1, 9 and 64.
TEST(MaskDecision, ANeighbourHoldsTheColourInAnyOfItsNeurons) {
    const std::int32_t H = 3, W = 3;
    const std::size_t N = 9;
    const double nan = std::nan("");
    for (const auto& [rows, columns] : {std::pair<int, int>{1, 1}, {3, 3}, {8, 8}}) {
        ModelParameters parameters;
        parameters.mapRows = rows;
        parameters.mapColumns = columns;
        parameters.neighborRadius = 1;
        parameters.neighborCount = 1;
        parameters.shadows = 0;
        const std::size_t K = static_cast<std::size_t>(rows) * columns;
        // The colour (100, 100, 100) everywhere; the neurons far from it
        // (squared distance 3 * 100^2), variance 25 with the floor 25, so a
        // match needs a squared distance below 2 * 50 = 100.
        for (std::size_t which : {std::size_t{0}, K / 2, K - 1}) {
            for (const double distance : {9.0, 10.0}) {
                OwnedModel model;
                model.Mu.assign(3 * K * N, 0.0);
                model.Sigma2.assign(K * N, 25.0);
                model.imMask.assign(N, 0.0);
                model.imMask[4] = 1.0;  // the centre is above the threshold
                model.MaximumVariance.assign(N, 100.0);
                model.MinimumVariance = 25;
                // Only the neighbour at row 0, column 2 has a neuron near the
                // colour: `which`, at the distance `distance` (all of it in
                // channel 0); a NaN neuron comes before it.
                const std::size_t q = 2 * H + 0;
                model.Mu[3 * (q * K + which)] = 100 - distance;
                model.Mu[3 * (q * K + which) + 1] = 100;
                model.Mu[3 * (q * K + which) + 2] = 100;
                if (which > 0) model.Sigma2[q * K + which - 1] = nan;
                const std::vector<double> frame = Frame(H, W, 100, 100, 100);
                std::vector<std::uint8_t> decision(N);
                DecidePixels(parameters, model.View(), frame.data(), H, W, decision.data(),
                             nullptr, nullptr);
                const std::string what = "K = " + std::to_string(K) + ", neuron " +
                                         std::to_string(which) + ", distance " +
                                         std::to_string(distance);
                EXPECT_EQ(decision[4], distance < 10 ? kDecidedExplained : kDecidedForeground)
                    << what;
                EXPECT_EQ(decision[0], kDecidedBackground) << what;
            }
        }
    }
}

// A pixel whose decision blinks every frame gets a higher threshold; one that
// an object covers for a while and leaves never blinks; after the blinking
// stops the threshold relaxes.
TEST(MaskDecision, BlinkingRaisesThePixelsThresholdAndSteadinessLowersIt) {
    ModelParameters parameters = OneNeuron();
    parameters.neighborRadius = 0;
    std::vector<double> history(2, 0.0), blink(2, 0.0);
    for (int t = 0; t < 60; ++t) {
        const std::uint8_t decisions[2] = {
            static_cast<std::uint8_t>(t % 2 == 0 ? kDecidedForeground : kDecidedBackground),
            static_cast<std::uint8_t>(t >= 20 && t < 30 ? kDecidedForeground : kDecidedBackground)};
        TrackBlinking(parameters, decisions, history, blink);
    }
    EXPECT_GT(blink[0], 0.9);
    EXPECT_EQ(blink[1], 0.0);

    // A probability of 0.5 is foreground at the steady pixel only.
    OnePixelModels models(2, 1, Frame(2, 1, 100, 100, 100), 50);
    models.model.imMask.assign(2, 0.5);
    const std::vector<double> frame = Frame(2, 1, 0, 0, 0);
    std::uint8_t decision[2];
    DecidePixels(parameters, models.model.View(), frame.data(), 2, 1, decision, nullptr,
                 blink.data());
    EXPECT_EQ(decision[0], kDecidedBackground);
    EXPECT_EQ(decision[1], kDecidedForeground);
    const std::uint8_t steady[2] = {kDecidedBackground, kDecidedBackground};
    for (int t = 0; t < 60; ++t) TrackBlinking(parameters, steady, history, blink);
    DecidePixels(parameters, models.model.View(), frame.data(), 2, 1, decision, nullptr,
                 blink.data());
    EXPECT_EQ(decision[0], kDecidedForeground);
}

TEST(MaskDecision, FillsSmallHolesThatDoNotTouchTheBorder) {
    // 9 x 9: a ring around a 1-pixel hole, a 3 x 3 hole, and a notch open to
    // the border.
    const std::int32_t H = 9, W = 9;
    std::vector<std::uint8_t> mask(H * W, 0);
    auto set = [&](int r, int c, std::uint8_t v) { mask[c * H + r] = v; };
    for (int r = 1; r <= 7; ++r)
        for (int c = 1; c <= 7; ++c) set(r, c, 255);
    set(2, 2, 0);                                       // one pixel
    for (int r = 4; r <= 6; ++r)
        for (int c = 4; c <= 6; ++c) set(r, c, 0);      // nine pixels
    set(1, 7, 0);                                       // open to the border
    set(0, 7, 0);
    MaskScratch scratch;
    std::vector<std::uint8_t> filled = mask;
    FillHoles(filled.data(), H, W, 9, scratch);
    EXPECT_EQ(filled[2 * H + 2], 255);
    EXPECT_EQ(filled[5 * H + 5], 255);
    EXPECT_EQ(filled[7 * H + 1], 0);
    filled = mask;
    FillHoles(filled.data(), H, W, 8, scratch);
    EXPECT_EQ(filled[2 * H + 2], 255);
    EXPECT_EQ(filled[5 * H + 5], 0) << "a hole larger than allowed stays";
}

// The closing against its definition, pixel by pixel, on random masks of
// awkward sizes (a single row or column, windows wider than the image): the
// running counts must give every window, at the borders too.
TEST(MaskDecision, ClosingIsDilationThenErosionInsideTheImage) {
    auto window = [](const std::vector<std::uint8_t>& in, int H, int W, int k, bool every) {
        std::vector<std::uint8_t> out(in.size());
        for (int c = 0; c < W; ++c)
            for (int r = 0; r < H; ++r) {
                bool any = false, all = true;
                for (int cc = std::max(0, c - k); cc <= std::min(W - 1, c + k); ++cc)
                    for (int rr = std::max(0, r - k); rr <= std::min(H - 1, r + k); ++rr) {
                        any = any || in[cc * H + rr] != 0;
                        all = all && in[cc * H + rr] != 0;
                    }
                out[c * H + r] = (every ? all : any) ? 255 : 0;
            }
        return out;
    };
    std::uint32_t seed = 12345;
    const int shapes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {5, 9}, {17, 13}, {32, 31}};
    for (const auto& shape : shapes)
        for (int size : {3, 5, 7, 9}) {
            const int H = shape[0], W = shape[1];
            std::vector<std::uint8_t> mask(static_cast<std::size_t>(H) * W);
            for (auto& v : mask) {
                seed = seed * 1664525u + 1013904223u;
                v = (seed >> 24) < 110 ? 255 : 0;
            }
            const std::vector<std::uint8_t> expected =
                window(window(mask, H, W, size / 2, false), H, W, size / 2, true);
            MaskScratch scratch;
            ModelParameters parameters;
            parameters.closingSize = size;
            ReserveMaskScratch(parameters, H, W, 1, scratch);
            CloseMask(mask.data(), H, W, size, scratch);
            EXPECT_EQ(mask, expected) << H << " x " << W << ", size " << size;
        }
}

// A notch narrower than the square is filled; a rectangle, its corners and a
// region touching the border keep their outline.
TEST(MaskDecision, ClosingFillsNotchesAndKeepsOutlines) {
    const std::int32_t H = 20, W = 20;
    std::vector<std::uint8_t> mask(H * W, 0);
    auto at = [&](int r, int c) -> std::uint8_t& { return mask[c * H + r]; };
    for (int r = 4; r <= 15; ++r)
        for (int c = 0; c <= 12; ++c) at(r, c) = 255;
    for (int r = 4; r <= 7; ++r) at(r, 6) = 0;  // a notch 1 wide, 4 deep, open at the top
    const std::vector<std::uint8_t> before = mask;
    MaskScratch scratch;
    ModelParameters parameters;
    ReserveMaskScratch(parameters, H, W, 1, scratch);
    CloseMask(mask.data(), H, W, 5, scratch);
    for (int r = 0; r < H; ++r)
        for (int c = 0; c < W; ++c) {
            const bool notch = c == 6 && r >= 4 && r <= 7;
            EXPECT_EQ(at(r, c), notch ? 255 : before[c * H + r]) << r << ", " << c;
        }
}

// An object that stands still in view from the first frame, last seen at
// frame r, leaves a ghost in the model; the ghost is gone from the mask from
// frame ceil((r + 1) / (1 - staticShare)) + 1 on, while a moving object is
// still found.
TEST(MaskDecision, AGhostOfTheStartIsGoneWithinTheBound) {
    const std::int32_t H = 40, W = 50;
    const std::size_t N = static_cast<std::size_t>(H) * W;
    const int leaves = 21;
    auto render = [&](int t, std::vector<double>& frame) {
        frame.assign(3 * N, 0);
        std::uint32_t state = 12345u + 977u * static_cast<std::uint32_t>(t);
        for (std::size_t p = 0; p < N; ++p) {
            const int r = static_cast<int>(p % H), c = static_cast<int>(p / H);
            for (int ch = 0; ch < 3; ++ch) {
                state = state * 1664525u + 1013904223u;
                const double noise = static_cast<double>(state >> 24) / 64.0 - 2.0;
                double v = 80 + 30 * ch + ((r / 5 + c / 5) % 2) * 40 + noise;
                if (t < leaves && r >= 5 && r < 15 && c >= 5 && c < 15) v = 230 - 60 * ch;
                const int x = 2 * t % (W - 8);
                if (r >= 28 && r < 34 && c >= x && c < x + 6) v = 20 + 90 * ch;
                frame[ch * N + p] = v;
            }
        }
    };
    const ModelParameters parameters;
    Detector detector(parameters);
    std::string error;
    ASSERT_TRUE(detector.Start(H, W, &error)) << error;
    std::vector<double> frame;
    std::vector<std::uint8_t> mask(N);
    const int bound =
        static_cast<int>(std::ceil((leaves + 1) / (1 - parameters.staticShare))) + 1;
    for (int t = 1; t <= bound + 5; ++t) {
        render(t - 1, frame);
        ASSERT_TRUE(detector.Process(FrameImage{frame.data(), std::int64_t(frame.size())},
                                     mask.data(), nullptr, &error))
            << error;
        int ghost = 0, mover = 0;
        for (int c = 5; c < 15; ++c)
            for (int r = 5; r < 15; ++r) ghost += mask[c * H + r] != 0;
        for (int c = 0; c < W; ++c)
            for (int r = 28; r < 34; ++r) mover += mask[c * H + r] != 0;
        if (t == leaves + 2) {
            EXPECT_GT(ghost, 20) << "frame " << t << ": no ghost to absorb";
        }
        if (t >= bound) {
            EXPECT_EQ(ghost, 0) << "frame " << t;
        }
        if (t > 12) {
            EXPECT_GT(mover, 18) << "frame " << t;
        }
    }
}

}  // namespace
}  // namespace corvane::test
