#include "FrameInput.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "FrameLayout.h"

namespace corvane::gateway {
namespace {

GatewayError CheckPixels(const FrameFacts& facts, const char* what) {
    if (!facts.supported) {
        return MakeError("Corvane:frameClass",
                         "%s is of class %s; it must be uint8 (0..255), uint16 (0..65535, "
                         "scaled to 0..255 by 257), single or double (colours 0..255)",
                         what, facts.className);
    }
    if (facts.isComplex) return MakeError("Corvane:complex", "%s is complex; it must be real", what);
    if (facts.isSparse) return MakeError("Corvane:sparse", "%s is sparse; it must be full", what);
    return GatewayError{};
}

std::int64_t SizeAt(const FrameFacts& facts, int d) {
    if (d < facts.dimensions && d < 8) return facts.sizes[d];
    return 1;
}

// "480 x 640 x 3": the array's size as MATLAB prints it.
void DescribeSize(const FrameFacts& facts, char* text, std::size_t room) {
    int written = 0;
    for (int d = 0; d < facts.dimensions && d < 8; ++d) {
        const int n = std::snprintf(text + written, room - static_cast<std::size_t>(written),
                                    d == 0 ? "%lld" : " x %lld",
                                    static_cast<long long>(facts.sizes[d]));
        if (n < 0 || static_cast<std::size_t>(written + n) >= room) return;
        written += n;
    }
}

// "R, G, B" frames or grey ones, as an error names what is taken.
const char* const kOneFrame = "H x W x 3 (channels R, G, B) or H x W (grey)";

// The channels of one frame: 3 for H x W x 3, 1 for H x W, else 0.
int FrameChannels(const FrameFacts& facts) {
    if (facts.dimensions == 2) return 1;
    if (facts.dimensions == 3 && SizeAt(facts, 2) == 3) return 3;
    return 0;
}

GatewayError ChannelsError(const FrameFacts& facts, const char* what, const char* size) {
    if (facts.dimensions == 3 && SizeAt(facts, 2) == 4)
        return MakeError("Corvane:frameChannels",
                         "%s is %s; it must be %s: four channels are not taken (for an image "
                         "with alpha pass frame(:, :, 1:3))",
                         what, size, kOneFrame);
    return MakeError("Corvane:frameChannels", "%s is %s; it must be %s", what, size, kOneFrame);
}

// The leading frames given when a detector is made (a stack allowed), or the
// first frame of a step (one frame): the messages name what the caller gave.
GatewayError CheckStack(const FrameFacts& facts, bool oneFrame, std::int32_t* H, std::int32_t* W,
                        std::int64_t* T, int* channels) {
    const char* what = oneFrame ? "the frame" : "the leading frames (input 1)";
    GatewayError error = CheckPixels(facts, what);
    if (error.raised()) return error;
    char size[96] = {};
    DescribeSize(facts, size, sizeof size);
    int found = FrameChannels(facts);
    std::int64_t frames = 1;
    if (!oneFrame && facts.dimensions == 4 && (SizeAt(facts, 2) == 3 || SizeAt(facts, 2) == 1)) {
        found = static_cast<int>(SizeAt(facts, 2));
        frames = SizeAt(facts, 3);
    }
    if (found == 0) {
        if (oneFrame) return ChannelsError(facts, what, size);
        return MakeError("Corvane:frameChannels",
                         "%s are %s; they must be H x W x 3 or H x W (one frame), H x W x 3 x T "
                         "(channels R, G, B) or H x W x 1 x T (grey)",
                         what, size);
    }
    const std::int64_t rows = SizeAt(facts, 0), columns = SizeAt(facts, 1);
    if (rows < 1 || columns < 1 || frames < 1)
        return MakeError("Corvane:empty", oneFrame ? "%s is %s; it holds no pixel"
                                                   : "%s are %s; they hold no frame",
                         what, size);
    if (rows * columns > std::numeric_limits<std::int32_t>::max()) {
        return MakeError("Corvane:sizeOverflow",
                         oneFrame ? "%s has %lld x %lld pixels, more than 2147483647"
                                  : "%s have %lld x %lld pixels, more than 2147483647",
                         what, static_cast<long long>(rows), static_cast<long long>(columns));
    }
    *H = static_cast<std::int32_t>(rows);
    *W = static_cast<std::int32_t>(columns);
    *T = frames;
    *channels = found;
    return GatewayError{};
}

template <class T>
void Summarise(const void* data, std::int64_t count, FrameSummary* summary) {
    bool allFinite = true, inUnit = true, anyAboveZero = false;
    const T* values = static_cast<const T*>(data);
    for (std::int64_t i = 0; i < count; ++i) {
        const double v = values[i];
        allFinite &= std::isfinite(v);
        inUnit &= v >= 0.0 && v <= 1.0;
        anyAboveZero |= v > 0.0;
    }
    summary->finite = allFinite;
    summary->looksScaledToOne = allFinite && inUnit && anyAboveZero;
}

SampleType SampleOf(PixelClass pixels) {
    switch (pixels) {
        case PixelClass::Uint8: return SampleType::Uint8;
        case PixelClass::Uint16: return SampleType::Uint16;
        case PixelClass::Single: return SampleType::Float32;
        case PixelClass::Double: return SampleType::Float64;
    }
    return SampleType::Float64;
}

}  // namespace

GatewayError CheckLeadingFrames(const FrameFacts& facts, std::int32_t* H, std::int32_t* W,
                                std::int64_t* T, int* channels) {
    return CheckStack(facts, false, H, W, T, channels);
}

GatewayError CheckFirstFrame(const FrameFacts& facts, std::int32_t* H, std::int32_t* W,
                             int* channels) {
    std::int64_t T = 0;
    return CheckStack(facts, true, H, W, &T, channels);
}

GatewayError CheckFrame(const FrameFacts& facts, std::int32_t H, std::int32_t W, int* channels) {
    const char* what = "the frame";
    GatewayError error = CheckPixels(facts, what);
    if (error.raised()) return error;
    char size[96] = {};
    DescribeSize(facts, size, sizeof size);
    const int found = FrameChannels(facts);
    if (found == 0) return ChannelsError(facts, what, size);
    if (SizeAt(facts, 0) != H || SizeAt(facts, 1) != W) {
        return MakeError("Corvane:frameSize",
                         "%s is %s; this detector was started on %d x %d frames (x 3, or grey)",
                         what, size, static_cast<int>(H), static_cast<int>(W));
    }
    *channels = found;
    return GatewayError{};
}

FrameSummary SummariseFrame(PixelClass pixels, const void* data, std::int64_t count) {
    // Integer frames are finite and on their own scale.
    FrameSummary summary;
    if (pixels == PixelClass::Single) Summarise<float>(data, count, &summary);
    if (pixels == PixelClass::Double) Summarise<double>(data, count, &summary);
    return summary;
}

bool ReadModelFrame(PixelClass pixels, const void* data, std::int32_t H, std::int32_t W,
                    int channels, double* out) {
    return ReadHostFrame(ColumnMajorFrame(data, SampleOf(pixels), H, W, channels), out);
}

int PixelBytes(PixelClass pixels) { return SampleBytes(SampleOf(pixels)); }

GatewayError NotFiniteError() {
    return MakeError("Corvane:frameNotFinite",
                     "the frame holds NaN or infinite values; the model would keep them for "
                     "good in every pixel they reach, so the frame was not used");
}

GatewayError ScaledToOneWarning() {
    return MakeError("Corvane:frameRange",
                     "every value of this floating-point frame lies in 0..1, but the detector "
                     "expects colours in 0..255 (as uint8 frames hold them); scaled to 0..1 the "
                     "whole frame matches the background and the mask comes out empty. Pass "
                     "255 * frame, or the uint8 frame itself. (Said once per detector.)");
}

}  // namespace corvane::gateway
