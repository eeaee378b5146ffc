#include "FrameInput.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace corvane::gateway {
namespace {

GatewayError CheckPixels(const FrameFacts& facts, const char* what) {
    if (!facts.supported) {
        return MakeError("Corvane:frameClass",
                         "%s is of class %s; it must be uint8 (0..255), single or double "
                         "(colours 0..255)",
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

// The leading frames given when a detector is made (a stack allowed), or the
// first frame of a step (one frame): the messages name what the caller gave.
GatewayError CheckStack(const FrameFacts& facts, bool oneFrame, std::int32_t* H, std::int32_t* W,
                        std::int64_t* T) {
    const char* what = oneFrame ? "the frame" : "the leading frames (input 1)";
    GatewayError error = CheckPixels(facts, what);
    if (error.raised()) return error;
    char size[96] = {};
    DescribeSize(facts, size, sizeof size);
    if (facts.dimensions > (oneFrame ? 3 : 4) || SizeAt(facts, 2) != 3) {
        if (oneFrame)
            return MakeError("Corvane:frameChannels",
                             "%s is %s; it must be H x W x 3, channels R, G, B", what, size);
        return MakeError("Corvane:frameChannels",
                         "%s are %s; they must be H x W x 3 (one frame) or H x W x 3 x T, "
                         "channels R, G, B",
                         what, size);
    }
    const std::int64_t rows = SizeAt(facts, 0), columns = SizeAt(facts, 1);
    const std::int64_t frames = SizeAt(facts, 3);
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
    return GatewayError{};
}

}  // namespace

GatewayError CheckLeadingFrames(const FrameFacts& facts, std::int32_t* H, std::int32_t* W,
                                std::int64_t* T) {
    return CheckStack(facts, false, H, W, T);
}

GatewayError CheckFirstFrame(const FrameFacts& facts, std::int32_t* H, std::int32_t* W) {
    std::int64_t T = 0;
    return CheckStack(facts, true, H, W, &T);
}

GatewayError CheckFrame(const FrameFacts& facts, std::int32_t H, std::int32_t W) {
    const char* what = "the frame";
    GatewayError error = CheckPixels(facts, what);
    if (error.raised()) return error;
    char size[96] = {};
    DescribeSize(facts, size, sizeof size);
    if (facts.dimensions > 3 || SizeAt(facts, 2) != 3) {
        return MakeError("Corvane:frameChannels",
                         "%s is %s; it must be H x W x 3, channels R, G, B", what, size);
    }
    if (SizeAt(facts, 0) != H || SizeAt(facts, 1) != W) {
        return MakeError("Corvane:frameSize",
                         "%s is %s; this detector was started on %d x %d x 3 frames", what, size,
                         static_cast<int>(H), static_cast<int>(W));
    }
    return GatewayError{};
}

FrameSummary ReadFrame(PixelClass pixels, const void* data, std::int64_t count, double* out) {
    FrameSummary summary;
    if (pixels == PixelClass::Uint8) {
        const std::uint8_t* values = static_cast<const std::uint8_t*>(data);
        if (out != nullptr)
            for (std::int64_t i = 0; i < count; ++i) out[i] = values[i];
        return summary;
    }
    // Floating frames: finite, and whether every value lies in 0..1.
    bool allFinite = true, inUnit = true, anyAboveZero = false;
    if (pixels == PixelClass::Single) {
        const float* values = static_cast<const float*>(data);
        for (std::int64_t i = 0; i < count; ++i) {
            const double v = values[i];
            if (out != nullptr) out[i] = v;
            allFinite &= std::isfinite(v);
            inUnit &= v >= 0.0 && v <= 1.0;
            anyAboveZero |= v > 0.0;
        }
    } else {
        const double* values = static_cast<const double*>(data);
        for (std::int64_t i = 0; i < count; ++i) {
            const double v = values[i];
            if (out != nullptr) out[i] = v;
            allFinite &= std::isfinite(v);
            inUnit &= v >= 0.0 && v <= 1.0;
            anyAboveZero |= v > 0.0;
        }
    }
    summary.finite = allFinite;
    summary.looksScaledToOne = allFinite && inUnit && anyAboveZero;
    return summary;
}

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
