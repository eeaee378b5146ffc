// How a frame's foreground probability becomes its mask, and what the
// detector learns from that decision besides the update:
//  - a pixel whose probability is above its threshold (raised where its
//    decision keeps blinking) is foreground, unless the frame's colour there
//    is explained by the backgrounds of nearby pixels (a camera that shakes
//    shows a pixel its neighbour's background; a ghost, the background
//    uncovered where an object stood at the start, shows the colour its
//    surroundings already hold), or, with shadows on, is a darker copy of
//    one of its own background colours;
//  - a still pixel that a neighbour explains, or that has stayed foreground
//    for a good share of the video so far, takes the frame's colour into its
//    own model (its neuron farthest from that colour is replaced): a ghost is
//    absorbed from its edge inwards, or at once where nothing explains it;
//  - the median filter then cleans the foreground and small holes are
//    filled.
// Everything here reads the model after the frame's update and the frame in
// the model's layout (column-major channel planes, colours 0..255).
#pragma once

#include <cstdint>
#include <vector>

#include "ModelSetup.h"

namespace corvane {

// A pixel's decision before the median filter.
enum PixelDecision : std::uint8_t {
    kDecidedBackground = 0,
    kDecidedExplained = 1,  // above the threshold, explained by a neighbour below it
    kDecidedShifted = 3,    // above the threshold, explained by a neighbour above it
    kDecidedShadow = 2,     // above the threshold, a darker copy of its background
    kDecidedForeground = 255,
};

// The blink rates and last decisions that TrackBlinking advances (N values
// each).
struct BlinkTracking {
    double* blink;
    double* lastForeground;
};

// The decision of every pixel (N bytes, column-major) into `decision`.
// `model` needs Mu, Sigma2, imMask and MinimumVariance. On up to `threads`
// threads (below 1: every hardware thread), the same decisions for every
// count. With `tracking`, whose blink rates then stand for `blink`, the same
// pass is TrackBlinking of the decisions as well: each pixel's threshold is
// taken from its blink rate before its step changes it.
void DecidePixels(const ModelParameters& parameters, const BackgroundModel& model,
                  const double* frame, std::int32_t H, std::int32_t W, std::uint8_t* decision,
                  const double* still, const double* blink, int threads = 1,
                  const BlinkTracking* tracking = nullptr);

// Per pixel, how often its decision blinks: blink moves by blinkRate towards
// 1 on a frame whose last decision stood alone (foreground between two of
// background, or the reverse), towards 0 otherwise; lastForeground keeps the
// last two decisions (2 * last + the one before, 1 for foreground). A
// passing object changes a pixel's decision twice but blinks it never, so a
// busy road keeps its low threshold while leaves raise theirs. DecidePixels
// then takes maskThreshold + blinkThreshold * blink as the pixel's threshold
// (at most 1).
void TrackBlinking(const ModelParameters& parameters, const std::uint8_t* decision,
                   std::vector<double>& lastForeground, std::vector<double>& blink);

// What a pixel still (`still`: StreamState's counts) for absorbFrames frames
// learns from its decision: where a neighbour explained it
// (kDecidedExplained), or where it is foreground and has been still for
// staticShare of the video's frames so far (`frameNumber`, 1-based, this one
// included), it takes the frame's colour into its model. The neuron farthest
// from the colour (the first of equals) gets it as its mean, with the
// variance of a starting neuron: initialVariance, or MaximumVariance where
// that is lower. Each pixel reads and writes only its own values, on up to
// `threads` threads (below 1: every hardware thread): every count gives the
// same bits.
void AbsorbExplained(const ModelParameters& parameters, OwnedModel& model, const double* frame,
                     const std::uint8_t* decision, const double* still, std::int64_t frameNumber,
                     int threads = 1);

// Scratch of FinishMask, kept between frames.
struct MaskScratch {
    // FillHoles' walk state per pixel, the bounds of the foreground of every
    // column and row, and the region being walked.
    std::vector<std::uint8_t> holeState;
    std::vector<std::int32_t> bounds;
    std::vector<std::int64_t> pending;
    std::vector<std::int32_t> median;
    // CloseMask's image between its two halves, and a column per thread.
    std::vector<std::uint8_t> closing;
};

// Obtains all the scratch FinishMask needs for an H x W mask on `threads`
// threads (the same count as FinishMask's), so that it then allocates nothing and cannot fail. Throws
// std::bad_alloc, with `scratch` still usable, when memory runs out.
void ReserveMaskScratch(const ModelParameters& parameters, std::int32_t H, std::int32_t W,
                        int threads, MaskScratch& scratch);

// The mask: the median filter of the foreground decisions, closed
// (closingSize), its small holes filled (holeShare), then, where the mask is
// background and the decision was a shadow, shadowValue. The filters and
// the passes over the mask run on up to `threads` threads (below 1: every
// hardware thread); every count gives the same mask.
void FinishMask(const ModelParameters& parameters, const std::uint8_t* decision, std::int32_t H,
                std::int32_t W, std::uint8_t* mask, MaskScratch& scratch, int threads = 1);

// Closes `mask` (0 or 255) with a size x size square (odd): a pixel becomes
// 255 where some pixel of its window inside the image is (dilation), then
// stays 255 only where every pixel of its window inside the image is
// (erosion). `mask` holds only 0 and 255. Up to `threads` threads, the same
// mask for every count. Uses scratch.closing, which ReserveMaskScratch
// obtains for the same count (else it is obtained here).
void CloseMask(std::uint8_t* mask, std::int32_t H, std::int32_t W, std::int32_t size,
               MaskScratch& scratch, int threads = 1);

// Fills every 4-connected region of background (0) in `mask` that does not
// touch the border and has at most `largest` pixels with 255. Where the
// foreground of each row and column begins and ends is found on up to
// `threads` threads; the regions are then walked on the calling thread. The
// same mask for every count.
void FillHoles(std::uint8_t* mask, std::int32_t H, std::int32_t W, std::int64_t largest,
               MaskScratch& scratch, int threads = 1);

}  // namespace corvane
