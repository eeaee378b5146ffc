#include "SyntheticScene.h"

#include <cmath>

namespace corvane {
namespace {

// A small deterministic generator, so every platform renders the same frames.
std::uint32_t Hash(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Roughly normal noise with unit variance: a sum of four uniforms, rescaled.
double Noise(std::uint32_t key) {
    double sum = 0;
    for (std::uint32_t i = 0; i < 4; ++i) sum += Hash(key * 4 + i) / 4294967296.0;
    return (sum - 2.0) * std::sqrt(3.0);
}

double Clamp255(double v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace

void SyntheticScene::Render(std::int32_t t, std::vector<double>& frame,
                            std::vector<std::uint8_t>* foreground) const {
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    frame.resize(static_cast<std::size_t>(3 * N));
    if (foreground != nullptr) foreground->assign(static_cast<std::size_t>(N), 0);

    // The square bounces horizontally and drifts vertically.
    const std::int32_t spanX = W > squareSize ? W - squareSize : 1;
    const std::int32_t spanY = H > squareSize ? H - squareSize : 1;
    const std::int32_t phaseX = (2 * t) % (2 * spanX);
    const std::int32_t left = phaseX < spanX ? phaseX : 2 * spanX - phaseX;
    const std::int32_t phaseY = t % (2 * spanY);
    const std::int32_t top = phaseY < spanY ? phaseY : 2 * spanY - phaseY;

    for (std::int64_t p = 0; p < N; ++p) {
        const std::int32_t r = static_cast<std::int32_t>(p % H);
        const std::int32_t c = static_cast<std::int32_t>(p / H);
        const bool inSquare = r >= top && r < top + squareSize && c >= left && c < left + squareSize;
        // A smooth, textured background: each pixel its own fixed colour.
        const double base[3] = {60.0 + 40.0 * std::sin(0.11 * r) + (Hash(seed + 3 * p) % 20),
                                110.0 + 30.0 * std::cos(0.07 * c) + (Hash(seed + 3 * p + 1) % 20),
                                90.0 + 0.5 * (r + c) + (Hash(seed + 3 * p + 2) % 20)};
        const double object[3] = {220.0, 40.0, 200.0};
        for (int ch = 0; ch < 3; ++ch) {
            const double clean = inSquare ? object[ch] : base[ch];
            const std::uint32_t key =
                seed * 2654435761U + static_cast<std::uint32_t>(t) * 40503U +
                static_cast<std::uint32_t>(p * 3 + ch);
            frame[static_cast<std::size_t>(ch * N + p)] = Clamp255(clean + noise * Noise(key));
        }
        if (foreground != nullptr && inSquare) (*foreground)[static_cast<std::size_t>(p)] = 1;
    }
}

}  // namespace corvane
