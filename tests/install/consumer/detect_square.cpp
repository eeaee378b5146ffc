// Segments a small synthetic video with an installed Corvane: a still grey
// scene, then a bright square. Prints how much of the square, and of the rest,
// came out as foreground.
#include <corvane/Detector.h>
#include <corvane/ParameterTable.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

int main() {
    const std::int32_t H = 24, W = 32;
    const std::int64_t N = std::int64_t{H} * W;
    corvane::ModelParameters parameters;
    corvane::Detector detector(parameters);
    detector.SetThreads(1);
    std::string error;
    if (!detector.Start(H, W, &error)) {
        std::fprintf(stderr, "Start: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> frame(3 * N);
    std::vector<std::uint8_t> mask(N);
    // Column-major, channel planes R, G, B.
    auto paint = [&](std::int32_t row, std::int32_t column, double r, double g, double b) {
        const std::int64_t i = std::int64_t{column} * H + row;
        frame[i] = r;
        frame[N + i] = g;
        frame[2 * N + i] = b;
    };
    for (std::int32_t t = 0; t < 20; ++t) {
        for (std::int32_t column = 0; column < W; ++column)
            for (std::int32_t row = 0; row < H; ++row)
                paint(row, column, 90 + (row + column) % 3, 100, 110);
        if (!detector.Process(corvane::FrameImage{frame.data(), 3 * N}, mask.data(), nullptr,
                              &error)) {
            std::fprintf(stderr, "Process: %s\n", error.c_str());
            return 1;
        }
    }
    for (std::int32_t column = 10; column < 20; ++column)
        for (std::int32_t row = 7; row < 17; ++row) paint(row, column, 250, 240, 20);
    if (!detector.Process(corvane::FrameImage{frame.data(), 3 * N}, mask.data(), nullptr,
                          &error)) {
        std::fprintf(stderr, "Process: %s\n", error.c_str());
        return 1;
    }
    long inside = 0, outside = 0;
    for (std::int32_t column = 0; column < W; ++column)
        for (std::int32_t row = 0; row < H; ++row) {
            const bool square = column >= 10 && column < 20 && row >= 7 && row < 17;
            if (mask[std::int64_t{column} * H + row] == 255) ++(square ? inside : outside);
        }
    std::printf("frames %lld square %ld of 100 outside %ld\n",
                static_cast<long long>(detector.framesProcessed()), inside, outside);
    return 0;
}
