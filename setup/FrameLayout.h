// Frames and masks as the hosts hold them, and the model's layout.
//
// The model reads a frame as three planes of N = H * W doubles, R, G, B, each
// in column-major pixel order (pixel p = c * H + r), and gives its mask as
// N bytes in the same order. NumPy and OpenCV hold images row-major with the
// channels of a pixel side by side in B, G, R order; MATLAB and Octave hold
// them column-major with one plane per channel, R, G, B. Every host describes
// its frame as a HostFrame (any strides) and reads it here, so that each kind
// of camera frame means the same colours in every host:
//   - grey (one channel): a colour with three equal channels (g, g, g);
//   - colour with alpha (four channels): the alpha is ignored;
//   - 8-bit samples as they are; 16-bit samples scaled to 0..255 as the
//     corvane command scales 16-bit images, round(x / 257), so 65535 gives
//     255 and x * 257 gives x;
//   - floating samples as they are (colours 0..255).
#pragma once

#include <cstdint>

namespace corvane {

enum class SampleType { Uint8, Uint16, Float32, Float64 };

// The order of a frame's three colour channels.
enum class ColourOrder { Bgr, Rgb };

// A host's frame: rows x columns pixels of `channels` samples (1 grey, 3
// colour, 4 colour and alpha), sample ch of pixel (r, c) at
//   data + r * strides[0] + c * strides[1] + ch * strides[2]
// (strides in bytes, any sign; strides[2] is unused for one channel).
struct HostFrame {
    const char* data = nullptr;
    SampleType type = SampleType::Uint8;
    std::int64_t rows = 0, columns = 0;
    int channels = 3;
    ColourOrder order = ColourOrder::Bgr;
    std::int64_t strides[3] = {};
};

// The bytes of one sample.
int SampleBytes(SampleType type);

// A contiguous row-major frame with the channels of a pixel side by side
// (NumPy's C order, OpenCV's Mat), colours B, G, R.
HostFrame RowMajorFrame(const void* data, SampleType type, std::int64_t rows,
                        std::int64_t columns, int channels);

// A contiguous column-major frame of channel planes (MATLAB's H x W x C
// array), colours R, G, B.
HostFrame ColumnMajorFrame(const void* data, SampleType type, std::int64_t rows,
                           std::int64_t columns, int channels);

// A 16-bit sample on the 0..255 scale: round(x / 257), in whole numbers.
inline double SixteenBitColour(std::uint16_t x) {
    return static_cast<double>((static_cast<std::uint32_t>(x) + 128u) / 257u);
}

// Reads `frame` into the model's layout at `out` (3 * rows * columns
// doubles), on up to `threads` threads (below 1: every hardware thread; a
// small frame is read on the calling thread alone). False when a value is
// NaN or infinite (`out` is written all the same). Every count writes the
// same values.
bool ReadHostFrame(const HostFrame& frame, double* out, int threads = 1);

// True for a floating frame whose colour samples are all finite and in 0..1,
// one of them above 0: colours scaled to 0..1 instead of 0..255, which match
// the background everywhere and give empty masks. False for integer frames.
bool LooksScaledToOne(const HostFrame& frame);

// Writes the model's column-major mask (rows * columns bytes) into a host's
// rows x columns byte array whose element (r, c) is at
// out + r * rowStride + c * columnStride.
void WriteHostMask(const std::uint8_t* columnMajor, std::int64_t rows, std::int64_t columns,
                   char* out, std::int64_t rowStride, std::int64_t columnStride);

}  // namespace corvane
