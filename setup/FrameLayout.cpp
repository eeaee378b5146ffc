#include "FrameLayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "WorkerThreads.h"

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

// Whether the frame's memory runs down its columns first (MATLAB) rather
// than along its rows (NumPy, OpenCV).
bool RunsDownColumns(const HostFrame& frame) {
    const std::int64_t rowStep = frame.strides[0] < 0 ? -frame.strides[0] : frame.strides[0];
    const std::int64_t columnStep = frame.strides[1] < 0 ? -frame.strides[1] : frame.strides[1];
    return rowStep <= columnStep;
}

// Rows read together from a frame whose memory runs along its rows: the
// model's planes run down the columns, so each column then receives a run
// of this many doubles (a cache line) instead of one, while each of the rows
// is still read in order.
constexpr std::int64_t kRowsAtOnce = 8;

// Calls visit(r, c) for every pixel of rows [r0, r1) or of columns [c0, c1)
// (the part of the frame one task reads, `part` of `parts`), in an order
// that follows the frame's memory: down each column when it runs down the
// columns, else along blocks of kRowsAtOnce rows, column by column.
template <class Visit>
void ForEachPixel(const HostFrame& frame, int part, int parts, Visit visit) {
    const std::int64_t H = frame.rows, W = frame.columns;
    if (RunsDownColumns(frame)) {
        const std::int64_t c0 = W * part / parts, c1 = W * (part + 1) / parts;
        for (std::int64_t c = c0; c < c1; ++c)
            for (std::int64_t r = 0; r < H; ++r) visit(r, c);
        return;
    }
    // Bands of whole blocks of rows, so that no two tasks write the same
    // run of a column.
    const std::int64_t blocks = (H + kRowsAtOnce - 1) / kRowsAtOnce;
    const std::int64_t r0 = std::min(H, blocks * part / parts * kRowsAtOnce);
    const std::int64_t r1 = std::min(H, blocks * (part + 1) / parts * kRowsAtOnce);
    for (std::int64_t rb = r0; rb < r1; rb += kRowsAtOnce) {
        const std::int64_t re = std::min(rb + kRowsAtOnce, r1);
        for (std::int64_t c = 0; c < W; ++c)
            for (std::int64_t r = rb; r < re; ++r) visit(r, c);
    }
}

// Reads part `part` of `parts` of the frame (ForEachPixel) into the model's
// layout; false when a value of that part is NaN or infinite.
template <class T>
bool Read(const HostFrame& frame, double* out, int part, int parts) {
    const std::int64_t H = frame.rows, N = frame.rows * frame.columns;
    const std::int64_t* s = frame.strides;
    // The plane each colour channel goes to: R, G, B.
    const int planes[3] = {frame.order == ColourOrder::Bgr ? 2 : 0, 1,
                           frame.order == ColourOrder::Bgr ? 0 : 2};
    bool finite = true;
    if (frame.channels == 1) {
        ForEachPixel(frame, part, parts, [&](std::int64_t r, std::int64_t c) {
            const double g = Colour<T>(frame.data + r * s[0] + c * s[1]);
            if constexpr (std::is_floating_point<T>::value) finite = finite && std::isfinite(g);
            const std::int64_t p = c * H + r;
            out[p] = g;
            out[N + p] = g;
            out[2 * N + p] = g;
        });
        return finite;
    }
    double* const plane0 = out + planes[0] * N;
    double* const plane1 = out + planes[1] * N;
    double* const plane2 = out + planes[2] * N;
    ForEachPixel(frame, part, parts, [&](std::int64_t r, std::int64_t c) {
        const char* pixel = frame.data + r * s[0] + c * s[1];
        const std::int64_t p = c * H + r;
        // A fourth channel (alpha) is not read.
        const double v0 = Colour<T>(pixel);
        const double v1 = Colour<T>(pixel + s[2]);
        const double v2 = Colour<T>(pixel + 2 * s[2]);
        if constexpr (std::is_floating_point<T>::value)
            finite = finite && std::isfinite(v0) && std::isfinite(v1) && std::isfinite(v2);
        plane0[p] = v0;
        plane1[p] = v1;
        plane2[p] = v2;
    });
    return finite;
}

bool ReadPart(const HostFrame& frame, double* out, int part, int parts) {
    switch (frame.type) {
        case SampleType::Uint8: return Read<std::uint8_t>(frame, out, part, parts);
        case SampleType::Uint16: return Read<std::uint16_t>(frame, out, part, parts);
        case SampleType::Float32: return Read<float>(frame, out, part, parts);
        case SampleType::Float64: return Read<double>(frame, out, part, parts);
    }
    return false;
}

// Pixels per task below which a frame is read on the calling thread alone:
// reading one costs a few nanoseconds, a thread's start some tens of
// microseconds.
constexpr std::int64_t kPixelsPerTask = 1 << 16;

struct ReadJob {
    const HostFrame* frame;
    double* out;
    int tasks;
    // Per task: whether its part was finite (each task writes its own).
    bool finite[kMaxTasks];

    static void Task(void* context, int index) {
        ReadJob& job = *static_cast<ReadJob*>(context);
        job.finite[index] = ReadPart(*job.frame, job.out, index, job.tasks);
    }
};

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

bool ReadHostFrame(const HostFrame& frame, double* out, int threads) {
    const std::int64_t N = frame.rows * frame.columns;
    if (threads < 1) threads = HardwareThreads();
    const std::int64_t most = std::max<std::int64_t>(1, N / kPixelsPerTask);
    ReadJob job{&frame, out, static_cast<int>(std::min<std::int64_t>({threads, most, kMaxTasks})),
                {}};
    if (job.tasks == 1) return ReadPart(frame, out, 0, 1);
    RunTasks(job.tasks, &ReadJob::Task, &job);
    return std::all_of(job.finite, job.finite + job.tasks, [](bool f) { return f; });
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
    // Row by row: the host's array (new for each frame, in Python) is
    // written in order, and the mask, just made, is read from the cache.
    for (std::int64_t r = 0; r < rows; ++r) {
        char* row = out + r * rowStride;
        for (std::int64_t c = 0; c < columns; ++c)
            row[c * columnStride] = static_cast<char>(columnMajor[c * rows + r]);
    }
}

}  // namespace corvane
