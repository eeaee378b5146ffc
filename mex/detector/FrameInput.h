// Frames as MATLAB/Octave users hand them to the detector object: H x W x 3
// arrays, channels R, G, B, or grey H x W arrays (H x W x 3 x T and
// H x W x 1 x T stacks for the leading frames) of uint8 (0..255), uint16
// (0..65535, scaled to 0..255 as round(x / 257)), single or double (colours
// 0..255), in MATLAB's column-major order. What is accepted, the errors for
// what is not, and the reading into the doubles the update reads
// (FrameLayout.h: a grey frame is the colour with three equal channels).
//
// Four channels are refused: MATLAB has no convention of an alpha channel in
// the frame (imread gives the alpha apart), so H x W x 4 is more likely a
// mistake (CMYK, a stack of four grey frames) than a colour with alpha.
#pragma once

#include <cstdint>

#include "GatewayModel.h"

namespace corvane::gateway {

enum class PixelClass { Uint8, Uint16, Single, Double };

// What the host knows about a frame argument.
struct FrameFacts {
    const char* className = "";
    bool supported = false;  // uint8, uint16, single or double
    PixelClass pixels = PixelClass::Double;
    bool isComplex = false;
    bool isSparse = false;
    int dimensions = 0;            // as the host reports them (at least 2)
    std::int64_t sizes[8] = {};    // the first min(dimensions, 8)
    const void* data = nullptr;
};

// The image, frame count and channels (3 colour, 1 grey) of the leading
// frames: H x W x 3 or H x W (one frame), H x W x 3 x T or H x W x 1 x T;
// Corvane:frameClass, Corvane:complex, Corvane:sparse,
// Corvane:frameChannels or Corvane:empty when they are none.
GatewayError CheckLeadingFrames(const FrameFacts& facts, std::int32_t* H, std::int32_t* W,
                                std::int64_t* T, int* channels);

// The first frame of a detector made without frames: one H x W x 3 or H x W
// frame, whose size it gives; the same errors, naming "the frame".
GatewayError CheckFirstFrame(const FrameFacts& facts, std::int32_t* H, std::int32_t* W,
                             int* channels);

// One H x W x 3 or H x W frame for a detector started on H x W images; the
// same errors, and Corvane:frameSize for another image size.
GatewayError CheckFrame(const FrameFacts& facts, std::int32_t H, std::int32_t W, int* channels);

// What the values of a frame say.
struct FrameSummary {
    bool finite = true;        // no NaN or infinity
    bool looksScaledToOne = false;  // floating, every value in 0..1 and not all 0
};

// What the `count` values of class `pixels` at `data` say (any layout).
FrameSummary SummariseFrame(PixelClass pixels, const void* data, std::int64_t count);

// Reads the checked H x W frame of `channels` channels at `data` into the
// model's layout at `out` (3 * H * W doubles); false when a value is NaN or
// infinite.
bool ReadModelFrame(PixelClass pixels, const void* data, std::int32_t H, std::int32_t W,
                    int channels, double* out);

// The bytes of one value of a frame.
int PixelBytes(PixelClass pixels);

// The error for a frame with NaN or infinite values, and the warning for
// one that looks scaled to 0..1.
GatewayError NotFiniteError();
GatewayError ScaledToOneWarning();

}  // namespace corvane::gateway
