// Frames as MATLAB/Octave users hand them to the detector object: H x W x 3
// arrays (H x W x 3 x T for the leading frames) of uint8 (0..255), single or
// double (colours 0..255, as the model expects), in MATLAB's column-major
// order, which is the model's frame layout already. What is accepted, the
// errors for what is not, and the conversion to the doubles the update reads.
#pragma once

#include <cstdint>

#include "GatewayModel.h"

namespace corvane::gateway {

enum class PixelClass { Uint8, Single, Double };

// What the host knows about a frame argument.
struct FrameFacts {
    const char* className = "";
    bool supported = false;  // uint8, single or double
    PixelClass pixels = PixelClass::Double;
    bool isComplex = false;
    bool isSparse = false;
    int dimensions = 0;            // as the host reports them (at least 2)
    std::int64_t sizes[8] = {};    // the first min(dimensions, 8)
    const void* data = nullptr;
};

// The image and frame count of an H x W x 3 x T stack of leading frames (T 1
// when there are three dimensions); Corvane:frameClass, Corvane:complex,
// Corvane:sparse, Corvane:frameChannels or Corvane:empty when it is none.
GatewayError CheckLeadingFrames(const FrameFacts& facts, std::int32_t* H, std::int32_t* W,
                                std::int64_t* T);

// The first frame of a detector made without frames: one H x W x 3 frame,
// whose size it gives; the same errors, naming "the frame".
GatewayError CheckFirstFrame(const FrameFacts& facts, std::int32_t* H, std::int32_t* W);

// One H x W x 3 frame for a detector started on H x W images; the same
// errors, and Corvane:frameSize for another image size.
GatewayError CheckFrame(const FrameFacts& facts, std::int32_t H, std::int32_t W);

// What the values of a frame say.
struct FrameSummary {
    bool finite = true;        // no NaN or infinity
    bool looksScaledToOne = false;  // floating, every value in 0..1 and not all 0
};

// Reads `count` values of class `pixels` at `data`. Writes them as doubles
// to `out` when it is not null (a double frame can be used where it is, and
// a summary alone needs no copy).
FrameSummary ReadFrame(PixelClass pixels, const void* data, std::int64_t count, double* out);

// The error for a frame with NaN or infinite values, and the warning for
// one that looks scaled to 0..1.
GatewayError NotFiniteError();
GatewayError ScaledToOneWarning();

}  // namespace corvane::gateway
