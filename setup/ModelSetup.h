// Building a model to start from and the neighbourhood matrix to update it
// with. The update itself never creates a model; every host (the corvane
// command, the examples, the MATLAB/Octave toolbox) starts from these, with the
// same defaults, so all of them produce the same masks.
//
// The builders (BuildInitialModel*, BuildNeighborhoodMatrix,
// NeighborhoodMatrixForFrame) refuse parameters that ValidateParameters
// (ParameterTable.h) rejects by throwing InvalidParameters, and throw
// std::invalid_argument for an image of no pixels or of more than 2^31 - 1,
// or statistics of another size: they never build a model the update would
// refuse or misread.
#pragma once

#include <cstdint>
#include <vector>

#include "BackgroundModel.h"
#include "ModelFields.h"

namespace corvane {

// Every parameter of a model's start, of the neighbourhood matrix and of the
// mask, with its meaning, unit and default; the allowed values, the names in
// every host and the help lines are in the parameter table (ParameterTable.h),
// which has one entry per member. Colours are in 0..255 per channel;
// variances are per channel, in squared colour units. The defaults were chosen
// for ordinary surveillance and traffic video (checked on the CDnet highway
// sequence and on a copy of it with simulated camera shake); one setting for
// every video.
struct ModelParameters {
    // Map shape: NumMapRows x NumMapColumns neurons per pixel (K = product).
    // Six neurons on a 2 x 3 map: with nine on 3 x 3 the neurons that seldom
    // win stay spread around the background's colour and explain objects of
    // a nearby colour (a grey car on a grey road), and a frame costs about a
    // sixth more. Neuron j sits in map row j mod 2, so the spread of the
    // starting means runs along the map's long side.
    std::int32_t mapRows = 2;
    std::int32_t mapColumns = 3;

    // The start: while frame t <= initialFrames is segmented, the model is
    // built anew before it from frames 1..t (PrepareFrame in FrameStream.h):
    // per pixel and channel their median is the starting colour, and their
    // robust spread the pixel's starting variance (see LeadingFrameStatistics).
    // From frame initialFrames on it is the model of a start from nine frames,
    // which outvote an object that covers a pixel in up to four of them; no
    // frame is read ahead.
    std::int32_t initialFrames = 9;
    // Spread of the starting neuron means around the starting colour x:
    // neuron j starts at x + o_j in each channel, o_j = spread * (2j/(K-1) - 1)
    // (evenly from -spread to +spread; 0 for K = 1), clamped to 0..255.
    double initialSpread = 10.0;
    // Starting variance of every neuron (Sigma2): the larger of this and the
    // pixel's variance in the leading frames, but at most the pixel's cap.
    double initialVariance = 100.0;
    // Cap on a neuron's variance (MaximumVariance) for a pixel that was steady
    // in the leading frames (a standard deviation of about 9 per channel). A pixel
    // that varied gets a cap of varianceCapFactor times its variance there,
    // at least maximumVariance and at most maximumVarianceLimit: waving leaves
    // and edges that shake with the camera keep wide neurons, a steady road
    // keeps narrow ones that a car does not match.
    double maximumVariance = 80.0;
    double varianceCapFactor = 4.0;
    double maximumVarianceLimit = 900.0;
    // Floor added to a neuron's variance inside the density (MinimumVariance):
    // camera noise and compression, a standard deviation of 5 per channel.
    double minimumVariance = 25.0;

    // Starting foreground prior of every pixel (Pi), a probability.
    double initialPrior = 0.05;
    // Learning rate of Pi, Var and Cov per frame (StepSize), in 0..1.
    double stepSize = 0.01;
    // Starting variance of the foreground indicator (Var). The covariances
    // with existing neighbours start equal to it (correlation 1), so the first
    // frames are smoothed as a plain 3x3 average.
    double initialIndicatorVariance = 0.05;

    // Neighbourhood matrix: the winner moves at `learningRate` per frame (a
    // time constant of 50 frames), a neuron at map distance d at
    // learningRate * exp(-d^2 / (2 width^2)); width 0: the winner alone.
    double learningRate = 0.02;
    double neighborhoodWidth = 1.0;

    // Calibration: during the first `calibrationFrames` frames the matrix of
    // frame t (1-based) uses the learning rate max(learningRate,
    // calibrationRate / t) instead. Off by default: the leading-frame start
    // already gives a settled model.
    std::int32_t calibrationFrames = 0;
    double calibrationRate = 1.0;

    // Pixels whose smoothed foreground probability (imMask) exceeds this are
    // foreground. Below 0.5 because the model's smoothing divides by 9 and
    // weighs neighbours by correlations below 1, which lowers the probability
    // at the edges of objects.
    double maskThreshold = 0.15;
    // Side of the square median filter applied to the binary mask (odd; 1:
    // none): removes specks and fills pinholes.
    std::int32_t medianSize = 5;
    // The median filter grows with the frame: its side is the largest odd k,
    // at least medianSize and at most 31, whose window k x k holds at most
    // medianShare of the frame's pixels (MedianSizeFor); 0: always
    // medianSize. Objects, leaves and the steps of a shaking edge cover more
    // pixels in a larger frame, and a fixed window cleans less of them: at
    // 0.0003 a 320x240 frame keeps 5, 640x480 and 720x480 take 9, 1280x720
    // 15 and 1920x1080 23.
    double medianShare = 0.0003;

    // The band the prior Pi is kept in between frames (KeepPriorInBand in
    // FrameStream.h): at least priorFloor, so that after any length of quiet
    // an object of the same colour difference is found as after a minute, and
    // at most priorCeiling, so that a pixel covered for a very long time can
    // still return to background.
    double priorFloor = 0.005;
    double priorCeiling = 0.95;

    // Flicker (TrackFlicker in FrameStream.h): every pixel keeps a running
    // median of its frame-to-frame change, the flicker variance, which steps
    // up or down by the ratio 1 + flickerStep each frame (0: off). Where it
    // is above the camera noise the background itself keeps changing
    // (leaves, water, edges of a shaking camera), and the pixel's variance cap
    // is raised to flickerCapFactor times the excess (flicker variance less
    // minimumVariance), at most maximumVarianceLimit.
    double flickerStep = 0.05;
    double flickerCapFactor = 8.0;

    // The decision (MaskDecision.h). A pixel above its threshold whose colour
    // is held by neurons of neighborCount pixels within neighborRadius (a
    // squared distance below neighborMatch times the neuron's variance,
    // counted at most maximumVariance, plus minimumVariance) is background:
    // a camera that shakes shows a pixel its neighbour's background. Where
    // the pixel has kept its colour for absorbFrames frames (a frame-to-frame
    // change below minimumVariance; a ghost, or a still object), one such
    // neighbour below the threshold is enough, and the pixel takes the colour
    // into its model: the ghost of an object that stood there at the start is
    // absorbed from its edge inwards. 0 radius: no such test; 0 frames: no
    // absorbing.
    std::int32_t neighborRadius = 2;
    double neighborMatch = 2.0;
    std::int32_t neighborCount = 6;
    // Inside an object the neighbour test is not made: a pixel whose window
    // of neighbours (side 2 neighborRadius + 1) has at most interiorGaps
    // pixels at or below maskThreshold (pixels outside the image count as
    // such), whose blink rate is below interiorBlink and that is not still
    // for absorbFrames frames stays foreground. Grey parts of a car amid
    // the car have the road's colour, which the road's neurons nearby hold;
    // edges that shake with the camera and leaves blink, or lie at the edge
    // of what is flagged, and keep the test. 0: the test everywhere.
    std::int32_t interiorGaps = 1;
    double interiorBlink = 0.02;
    std::int32_t absorbFrames = 5;
    // A pixel foreground and still for staticShare of the frames so far (and
    // at least absorbFrames) is absorbed, explained or not: a ghost whose
    // surroundings do not hold its colour. Scale-free: the ghost of an object
    // that left at frame r is gone by frame r / (1 - staticShare), while an
    // object that stops after an hour stays foreground for the better part
    // of another. 0: never.
    double staticShare = 0.3;
    // After the median filter, a hole in the foreground (4-connected
    // background not touching the image's border) of at most holeShare of the
    // image's pixels is filled: car windows, a shirt the colour of the wall.
    double holeShare = 0.003;
    // Before the holes are filled, the mask is closed with a square of side
    // closingSize (odd; 1: not closed): a dilation, then an erosion, each
    // over the window's pixels inside the image. It fills notches and gaps
    // narrower than the square that open onto the background, where part of
    // an object has the colour of what is behind it (a car's roof against
    // the road), and leaves convex outlines where they are.
    std::int32_t closingSize = 5;
    // Feedback: where a pixel's decision keeps blinking (foreground for one
    // frame between two of background, or the reverse: leaves, water, a
    // shaking edge) its threshold rises by blinkThreshold times its blink
    // rate, a running mean of those blinks that moves by blinkRate per frame
    // (0: off); where it is steady the threshold relaxes to maskThreshold.
    double blinkRate = 0.05;
    double blinkThreshold = 3.0;
    // Shadows (off by default; see docs/segmenting.md for what they cost on
    // real footage): with shadows 1, a pixel above its threshold that is a
    // darker copy of one of its neurons (brightness ratio in [shadowLow,
    // shadowHigh], its colour off the neuron's line by less than
    // shadowDistortion times the neuron's effective variance, scaled by the
    // ratio squared) is not foreground, and the mask shows it as shadowValue
    // (0: background; OpenCV's subtractors use 127).
    std::int32_t shadows = 0;
    double shadowLow = 0.5;
    double shadowHigh = 0.9;
    double shadowDistortion = 0.5;
    std::int32_t shadowValue = 0;
};

// How OwnedModel keeps a field of the table: a scalar (shape 1 x 1) as a
// double, every other field as a vector of its elements.
template <Extent d0, Extent d1, Extent d2>
struct OwnedStorageOf {
    using type = std::vector<double>;
};
template <>
struct OwnedStorageOf<Extent::One, Extent::One, Extent::One> {
    using type = double;
};

// A model whose arrays live in std::vectors, for hosts without MATLAB: one
// member per field of the table (ModelFieldList.h), by its name.
struct OwnedModel {
#define CORVANE_OWNED_MEMBER(name, written, d0, d1, d2) \
    typename OwnedStorageOf<Extent::d0, Extent::d1, Extent::d2>::type name{};
    CORVANE_MODEL_FIELDS(CORVANE_OWNED_MEMBER)
#undef CORVANE_OWNED_MEMBER

    // Views onto this model's arrays, for UpdateModel. Valid while the model
    // lives and its vectors are not resized.
    BackgroundModel View();
    // The same views of a model that is only read (its data must not be
    // written through them).
    BackgroundModel ReadView() const;
};

// A copy of every field of `model` into an OwnedModel, each field its
// FieldElements for `sizes` (which CheckModel gave for `model`). Throws
// std::bad_alloc when memory runs out.
OwnedModel CopyModel(const BackgroundModel& model, const ModelSizes& sizes);

// Sizes every field that an update writes in `to` as the same field of
// `from`, for an update of `from` into `to` (UpdateModelInto); the other
// fields of `to` are left as they are. Throws std::bad_alloc.
void SizeWrittenFieldsLike(const OwnedModel& from, OwnedModel* to);

// The sizes an OwnedModel's size fields give (truncated as CheckModel reads
// them); zeros for a model with no size set.
ModelSizes SizesOf(const OwnedModel& model);

// The index of the first field in which `a` and `b` differ (element count or
// any bit), or -1: FirstDifferentField of their views.
int FirstDifferentField(const OwnedModel& a, const OwnedModel& b);

// A model of an H x W image started from the single frame `frame` (an
// H x W x 3 column-major array of doubles in 0..255): BuildInitialModelFromFrames
// of that one frame, so its neurons start at the frame's colours (spread by
// initialSpread), with variance 0 in the frame: MaximumVariance =
// min(maximumVarianceLimit, maximumVariance) and Sigma2 = min(MaximumVariance,
// initialVariance).
OwnedModel BuildInitialModel(const ModelParameters& parameters, const double* frame,
                             std::int32_t H, std::int32_t W);

// What the leading frames say about every pixel.
struct FrameStatistics {
    // 3*N: per pixel and channel, the median over the frames (channel ch of
    // pixel p at ch*N + p, as in a frame).
    std::vector<double> median;
    // N: the pixel's variance in the frames, squared colour units, estimated
    // robustly from the median absolute deviation: per channel
    // s = 1.4826 * median(|x - median|), then (s0*s0 + s1*s1 + s2*s2) / 3.
    std::vector<double> variance;
};

// The statistics of `frames`, each an N-pixel frame (3*N doubles, channel ch
// of pixel p at ch*N + p). A single frame gives variance 0 everywhere.
FrameStatistics LeadingFrameStatistics(const std::vector<const double*>& frames, std::int64_t N);

// A model started from the statistics of the leading frames: neurons at the
// median (spread by initialSpread), per pixel
//   MaximumVariance = min(maximumVarianceLimit,
//                         max(maximumVariance, varianceCapFactor * variance))
//   Sigma2          = min(MaximumVariance, max(initialVariance, variance))
// and the prior, indicator variance and covariances of BuildInitialModel.
OwnedModel BuildInitialModelFromStatistics(const ModelParameters& parameters,
                                           const FrameStatistics& statistics, std::int32_t H,
                                           std::int32_t W);

// BuildInitialModelFromStatistics of LeadingFrameStatistics(frames).
OwnedModel BuildInitialModelFromFrames(const ModelParameters& parameters,
                                       const std::vector<const double*>& frames, std::int32_t H,
                                       std::int32_t W);

// The per-element median of `frames`, each of `count` doubles (the mean of the
// two middle values for an even number of frames).
std::vector<double> MedianFrame(const std::vector<const double*>& frames, std::int64_t count);

// The K x K neighbourhood matrix of the map (column w: the rates of every
// neuron when neuron w wins). Neuron j sits at map row j mod NumMapRows,
// column j div NumMapRows.
std::vector<double> BuildNeighborhoodMatrix(const ModelParameters& parameters);

// The learning rate of the winner for frame `frameNumber` (1-based): the
// calibration rate during the first calibrationFrames frames, if larger, and
// learningRate after them.
double LearningRateForFrame(const ModelParameters& parameters, std::int64_t frameNumber);

// The neighbourhood matrix to update frame `frameNumber` (1-based) with:
// BuildNeighborhoodMatrix with LearningRateForFrame as its learning rate.
std::vector<double> NeighborhoodMatrixForFrame(const ModelParameters& parameters,
                                               std::int64_t frameNumber);

// The side of the median filter for an H x W frame: medianSize, or, when
// medianSize is above 1 and medianShare above 0, the largest odd k from
// medianSize to 31 with k * k <= medianShare * (H * W) (that product as one
// double multiplication, so every host finds the same k).
std::int32_t MedianSizeFor(const ModelParameters& parameters, std::int32_t H, std::int32_t W);

// The binary mask of a foreground probability map (H x W, column-major):
// 255 where imMask > maskThreshold, else 0, then, when the median's side k
// (MedianSizeFor) is above 1, a k x k median filter with zeros outside the
// image: a pixel stays foreground when at least (k^2 + 1) / 2 pixels of its
// window are. `mask` receives N bytes in column-major order. The filter runs on up
// to `threads` threads (below 1: every hardware thread); every count gives
// the same mask.
void ThresholdMask(const ModelParameters& parameters, const double* imMask, std::int32_t H,
                   std::int32_t W, std::uint8_t* mask, int threads = 1);

// The size x size median filter of a binary mask (`in`: 255 foreground,
// anything else background; H x W, column-major) with zeros outside the
// image, into `mask` (0 or 255); size 1 copies. Up to `threads` threads, the
// same mask for every count.
// Its counts take MedianFilterScratch(size, H, W, threads) values, from
// `scratch` when given (grown when shorter; a caller that sized it before
// has the filter allocate nothing), else from memory of its own; they are
// obtained before the threads start.
void MedianFilterMask(std::int32_t size, const std::uint8_t* in, std::int32_t H, std::int32_t W,
                      std::uint8_t* mask, int threads = 1,
                      std::vector<std::int32_t>* scratch = nullptr);
std::size_t MedianFilterScratch(std::int32_t size, std::int32_t H, std::int32_t W, int threads);

}  // namespace corvane
