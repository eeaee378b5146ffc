#include "FrameLayout.h"

#include <cmath>
#include <cstring>
#include <type_traits>

namespace corvane {

namespace {

template <class T>
T Sample(const char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <class T>
double Colour(const char* at) {
    if constexpr (std::is_same<T, std::uint16_t>::value)
        return SixteenBitColour(Sample<T>(at));
    else
        return static_cast<double>(Sample<T>(at));
}

// Calls visit(r, c) for every pixel, in the order the frame's memory runs:
// along a column first when the rows are closer together than the columns
// (MATLAB), along a row first otherwise (NumPy, OpenCV).
template <class Visit>
void ForEachPixel(const HostFrame& frame, Visit visit) {
    const std::int64_t H = frame.rows, W = frame.columns;
    const std::int64_t rowStep = frame.strides[0] < 0 ? -frame.strides[0] : frame.strides[0];
    const std::int64_t columnStep = frame.strides[1] < 0 ? -frame.strides[1] : frame.strides[1];
    const bool columnMajor = rowStep <= columnStep;
    if (columnMajor) {
        for (std::int64_t c = 0; c < W; ++c)
            for (std::int64_t r = 0; r < H; ++r) visit(r, c);
    } else {
        for (std::int64_t r = 0; r < H; ++r)
            for (std::int64_t c = 0; c < W; ++c) visit(r, c);
    }
}

template <class T>
bool Read(const HostFrame& frame, double* out) {
    const std::int64_t H = frame.rows, N = frame.rows * frame.columns;
    const std::int64_t* s = frame.strides;
    // The plane each colour channel goes to: R, G, B.
    const int planes[3] = {frame.order == ColourOrder::Bgr ? 2 : 0, 1,
                           frame.order == ColourOrder::Bgr ? 0 : 2};
    bool finite = true;
    if (frame.channels == 1) {
        ForEachPixel(frame, [&](std::int64_t r, std::int64_t c) {
            const double g = Colour<T>(frame.data + r * s[0] + c * s[1]);
            if constexpr (std::is_floating_point<T>::value) finite = finite && std::isfinite(g);
            const std::int64_t p = c * H + r;
            out[p] = g;
            out[N + p] = g;
            out[2 * N + p] = g;
        });
        return finite;
    }
    ForEachPixel(frame, [&](std::int64_t r, std::int64_t c) {
        const char* pixel = frame.data + r * s[0] + c * s[1];
        const std::int64_t p = c * H + r;
        for (int ch = 0; ch < 3; ++ch) {  // a fourth channel (alpha) is not read
            const double v = Colour<T>(pixel + ch * s[2]);
            if constexpr (std::is_floating_point<T>::value) finite = finite && std::isfinite(v);
            out[planes[ch] * N + p] = v;
        }
    });
    return finite;
}

template <class T>
bool InUnitRange(const HostFrame& frame) {
    const int colours = frame.channels == 1 ? 1 : 3;
    bool anyAboveZero = false;
    for (std::int64_t r = 0; r < frame.rows; ++r)
        for (std::int64_t c = 0; c < frame.columns; ++c) {
            const char* pixel = frame.data + r * frame.strides[0] + c * frame.strides[1];
            for (int ch = 0; ch < colours; ++ch) {
                const T value = Sample<T>(pixel + ch * frame.strides[2]);
                // NaN fails both comparisons: not a scaled frame.
                if (!(value >= 0 && value <= 1)) return false;
                anyAboveZero = anyAboveZero || value > 0;
            }
        }
    return anyAboveZero;
}

}  // namespace

int SampleBytes(SampleType type) {
    switch (type) {
        case SampleType::Uint8: return 1;
        case SampleType::Uint16: return 2;
        case SampleType::Float32: return 4;
        case SampleType::Float64: return 8;
    }
    return 1;
}

namespace {

HostFrame Frame(const void* data, SampleType type, std::int64_t rows, std::int64_t columns,
                int channels, ColourOrder order, std::int64_t rowStride,
                std::int64_t columnStride, std::int64_t channelStride) {
    HostFrame frame;
    frame.data = static_cast<const char*>(data);
    frame.type = type;
    frame.rows = rows;
    frame.columns = columns;
    frame.channels = channels;
    frame.order = order;
    frame.strides[0] = rowStride;
    frame.strides[1] = columnStride;
    frame.strides[2] = channelStride;
    return frame;
}

}  // namespace

HostFrame RowMajorFrame(const void* data, SampleType type, std::int64_t rows,
                        std::int64_t columns, int channels) {
    const std::int64_t bytes = SampleBytes(type);
    return Frame(data, type, rows, columns, channels, ColourOrder::Bgr, columns * channels * bytes,
                 channels * bytes, bytes);
}

HostFrame ColumnMajorFrame(const void* data, SampleType type, std::int64_t rows,
                           std::int64_t columns, int channels) {
    const std::int64_t bytes = SampleBytes(type);
    return Frame(data, type, rows, columns, channels, ColourOrder::Rgb, bytes, rows * bytes,
                 rows * columns * bytes);
}

bool ReadHostFrame(const HostFrame& frame, double* out) {
    switch (frame.type) {
        case SampleType::Uint8: return Read<std::uint8_t>(frame, out);
        case SampleType::Uint16: return Read<std::uint16_t>(frame, out);
        case SampleType::Float32: return Read<float>(frame, out);
        case SampleType::Float64: return Read<double>(frame, out);
    }
    return false;
}

bool LooksScaledToOne(const HostFrame& frame) {
    switch (frame.type) {
        case SampleType::Uint8:
        case SampleType::Uint16: return false;
        case SampleType::Float32: return InUnitRange<float>(frame);
        case SampleType::Float64: return InUnitRange<double>(frame);
    }
    return false;
}

void WriteHostMask(const std::uint8_t* columnMajor, std::int64_t rows, std::int64_t columns,
                   char* out, std::int64_t rowStride, std::int64_t columnStride) {
    for (std::int64_t r = 0; r < rows; ++r) {
        char* row = out + r * rowStride;
        for (std::int64_t c = 0; c < columns; ++c)
            row[c * columnStride] = static_cast<char>(columnMajor[c * rows + r]);
    }
}

}  // namespace corvane
