// Long run of the model over a synthetic scene with a stationary object:
// a noisy static background, an object that appears, stays for a long time
// and leaves. Checks after every frame that every model value is finite, and
// at the end that
//   - the object was detected (every pixel under its inner part foreground)
//     soon after it appeared,
//   - once it left, every pixel under it was background again within a
//     bounded number of frames and stayed so,
//   - every scratch block the update obtained was released and the process's
//     resident memory did not grow after the first frames.
// Prints one summary line; exits 1 when a check fails.
//
//   corvane_soak [--frames N] [--appear T] [--leave T] [--height H] [--width W]
//                [--step-size c] [--learning-rate r] [--neighborhood-width w]
//                [--minimum-variance v] [--detect-within F] [--recover-within F]
//                [--detect-threshold m] [--check-resident 0|1]
// --detect-threshold sets the level the object's inner pixels must exceed to
// count as detected (default: the mask threshold). --detect-within -1 skips
// the detection check: with StepSize 1 the prior keeps no memory and every
// correlation is 0, so the smoothed mask cannot exceed 1/9 and the object is
// learnt as background within a few frames.
// Every model parameter not given keeps its ModelParameters default.
// --minimum-variance sets the model's MinimumVariance after the start, so
// that the update can be soaked with a floor of 0, which the parameter table
// does not allow a start with.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ModelSetup.h"
#include "ParameterTable.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace {

struct Options {
    std::int32_t frames = 30000;
    std::int32_t appear = 2000;
    std::int32_t leave = 22000;
    std::int32_t H = 24;
    std::int32_t W = 32;
    std::int32_t detectWithin = 100;
    std::int32_t recoverWithin = 1000;
    double detectThreshold = -1;  // imMask the object must exceed; -1: the mask threshold
    bool checkResident = true;    // off under valgrind, whose own memory grows
    double minimumVariance = -1;  // the model's MinimumVariance; -1: the parameter's
    corvane::ModelParameters parameters;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "corvane_soak: %s needs a value\n", name.c_str());
            return false;
        }
        char* end = nullptr;
        const double value = std::strtod(argv[++i], &end);
        if (end == argv[i] || *end != '\0' || !std::isfinite(value)) {
            std::fprintf(stderr, "corvane_soak: %s: not a number: %s\n", name.c_str(), argv[i]);
            return false;
        }
        const auto count = static_cast<std::int32_t>(value);
        if (name == "--frames") options->frames = count;
        else if (name == "--appear") options->appear = count;
        else if (name == "--leave") options->leave = count;
        else if (name == "--height") options->H = count;
        else if (name == "--width") options->W = count;
        else if (name == "--detect-within") options->detectWithin = count;
        else if (name == "--recover-within") options->recoverWithin = count;
        else if (name == "--detect-threshold") options->detectThreshold = value;
        else if (name == "--check-resident") options->checkResident = value != 0;
        else if (name == "--step-size") options->parameters.stepSize = value;
        else if (name == "--learning-rate") options->parameters.learningRate = value;
        else if (name == "--neighborhood-width") options->parameters.neighborhoodWidth = value;
        else if (name == "--minimum-variance") options->minimumVariance = value;
        else {
            std::fprintf(stderr, "corvane_soak: unknown option %s\n", name.c_str());
            return false;
        }
    }
    const Options& o = *options;
    if (o.H < 3 || o.W < 3 || o.frames < 1 || o.appear < 1 || o.leave <= o.appear ||
        o.leave >= o.frames) {
        std::fprintf(stderr, "corvane_soak: need H, W >= 3 and 0 < appear < leave < frames\n");
        return false;
    }
    const corvane::ParameterProblem problem = corvane::ValidateParameters(o.parameters);
    if (!problem.ok()) {
        std::fprintf(stderr, "corvane_soak: %s\n", problem.message.c_str());
        return false;
    }
    return true;
}

// Scratch obtained through the host operations, counted.
std::int64_t gLiveBlocks = 0;
std::int64_t gBlocksObtained = 0;
corvane::HostAllocator CountingAllocator() {
    corvane::HostAllocator host;
    host.allocate = [](std::size_t bytes) -> void* {
        ++gLiveBlocks;
        ++gBlocksObtained;
        return std::malloc(bytes);
    };
    host.release = [](void* block) {
        --gLiveBlocks;
        std::free(block);
    };
    return host;
}

// Resident set size and its peak, in KiB, from /proc (0 where unavailable).
struct Memory {
    long rss = 0;
    long peak = 0;
};
Memory ReadMemory() {
    Memory memory;
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return memory;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) memory.rss = std::atol(line + 6);
        if (std::strncmp(line, "VmHWM:", 6) == 0) memory.peak = std::atol(line + 6);
    }
    std::fclose(status);
    return memory;
}

// Name and element of the first value that is NaN or infinite, or null.
const char* FirstNonFinite(const corvane::OwnedModel& model, std::size_t* element) {
    // Every array field of the table.
    const corvane::BackgroundModel view = model.ReadView();
    for (const corvane::ModelField& field : corvane::kModelFields) {
        if (corvane::IsScalarField(field)) continue;
        const corvane::DoubleView values = view.*field.view;
        for (std::int64_t i = 0; i < values.count; ++i) {
            if (!std::isfinite(values.data[i])) {
                *element = static_cast<std::size_t>(i);
                return field.name;
            }
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) return 2;
    const std::int32_t H = options.H;
    const std::int32_t W = options.W;
    const std::int64_t N = static_cast<std::int64_t>(H) * W;
    const corvane::ModelParameters& parameters = options.parameters;
    const double threshold = parameters.maskThreshold;
    const double detectThreshold =
        options.detectThreshold >= 0 ? options.detectThreshold : threshold;

    // The background: the synthetic scene without its moving square.
    corvane::SyntheticScene scene;
    scene.H = H;
    scene.W = W;
    scene.squareSize = 0;
    // The object: a block in the middle third of the image, a colour far from
    // the background's, with the same kind of noise.
    const std::int32_t top = H / 3, bottom = H - H / 3, left = W / 3, right = W - W / 3;
    // 1 under the object, 2 under its inner part (one pixel in from its edge):
    // the smoothing pulls the edge towards the background around it, so only
    // the inner part must be foreground throughout.
    std::vector<std::uint8_t> underObject(static_cast<std::size_t>(N), 0);
    for (std::int32_t c = left; c < right; ++c)
        for (std::int32_t r = top; r < bottom; ++r) {
            const bool inner = r > top && r + 1 < bottom && c > left && c + 1 < right;
            underObject[static_cast<std::size_t>(c) * H + r] = inner ? 2 : 1;
        }
    const double objectColour[3] = {230.0, 30.0, 210.0};

    std::vector<double> frame;
    scene.Render(0, frame, nullptr);
    corvane::OwnedModel model = corvane::BuildInitialModel(parameters, frame.data(), H, W);
    if (options.minimumVariance >= 0) model.MinimumVariance = options.minimumVariance;
    const std::vector<double> weights = corvane::BuildNeighborhoodMatrix(parameters);
    const corvane::NeighborhoodMatrix matrix{weights.data(), static_cast<std::int64_t>(weights.size())};
    const corvane::BackgroundModel view = model.View();
    const corvane::ModelCheck check = corvane::CheckModel(
        view, corvane::FrameImage{frame.data(), static_cast<std::int64_t>(frame.size())}, matrix);
    if (!check.ok()) {
        std::fprintf(stderr, "corvane_soak: %s\n", check.message);
        return 2;
    }

    std::int32_t detectedAt = -1;       // first frame with every object pixel foreground
    std::int32_t lastForegroundAfterLeave = -1;  // last frame an object pixel was still foreground
    std::int32_t falseBackgroundFrames = 0;  // frames before the object with a foreground pixel, after warm-up
    Memory early;
    const char* failure = nullptr;
    char message[256] = "";

    for (std::int32_t t = 1; t <= options.frames && failure == nullptr; ++t) {
        scene.Render(t, frame, nullptr);
        const bool present = t >= options.appear && t < options.leave;
        if (present) {
            for (std::int64_t p = 0; p < N; ++p) {
                if (!underObject[static_cast<std::size_t>(p)]) continue;
                for (int ch = 0; ch < 3; ++ch) {
                    // Keep the background's noise, move its level to the object's colour.
                    double& v = frame[static_cast<std::size_t>(ch * N + p)];
                    v = std::fmin(255.0, std::fmax(0.0, objectColour[ch] + std::fmod(v, 8.0) - 4.0));
                }
            }
        }
        const corvane::FrameImage image{frame.data(), static_cast<std::int64_t>(frame.size())};
        if (!corvane::UpdateModel(view, image, matrix, CountingAllocator())) {
            failure = "update refused";
            break;
        }
        if (gLiveBlocks != 0) {
            failure = "scratch";
            std::snprintf(message, sizeof message, "%lld scratch blocks still live after frame %d",
                          static_cast<long long>(gLiveBlocks), t);
            break;
        }
        std::size_t element = 0;
        if (const char* field = FirstNonFinite(model, &element)) {
            failure = "not finite";
            std::snprintf(message, sizeof message, "%s[%zu] is %g after frame %d", field, element,
                          field == std::string("Mu") ? model.Mu[element] : NAN, t);
            break;
        }

        bool allObjectForeground = true, anyObjectForeground = false, anyForeground = false;
        for (std::int64_t p = 0; p < N; ++p) {
            const bool foreground = model.imMask[static_cast<std::size_t>(p)] > threshold;
            anyForeground = anyForeground || foreground;
            const std::uint8_t under = underObject[static_cast<std::size_t>(p)];
            if (under == 2)
                allObjectForeground = allObjectForeground &&
                                      model.imMask[static_cast<std::size_t>(p)] > detectThreshold;
            if (under != 0) anyObjectForeground = anyObjectForeground || foreground;
        }
        if (t < options.appear && t > 100 && anyForeground) ++falseBackgroundFrames;
        if (present && detectedAt < 0 && allObjectForeground) detectedAt = t;
        if (t >= options.leave && anyObjectForeground) lastForegroundAfterLeave = t;
        if (t == options.frames / 10) early = ReadMemory();
    }
    const Memory late = ReadMemory();

    const std::int32_t detectFrames = detectedAt < 0 ? -1 : detectedAt - options.appear;
    const std::int32_t recoverFrames =
        lastForegroundAfterLeave < 0 ? 0 : lastForegroundAfterLeave + 1 - options.leave;
    if (failure == nullptr) {
        if (options.detectWithin >= 0 &&
            (detectedAt < 0 || detectFrames > options.detectWithin)) {
            failure = "detection";
            std::snprintf(message, sizeof message,
                          "the object was %s within %d frames of appearing",
                          detectedAt < 0 ? "never fully detected" : "not fully detected",
                          options.detectWithin);
        } else if (lastForegroundAfterLeave == options.frames ||
                   recoverFrames > options.recoverWithin) {
            failure = "recovery";
            std::snprintf(message, sizeof message,
                          "pixels under the object were still foreground %d frames after it left "
                          "(allowed %d)",
                          recoverFrames, options.recoverWithin);
        } else if (falseBackgroundFrames > 0) {
            failure = "background";
            std::snprintf(message, sizeof message,
                          "%d frames before the object appeared had foreground pixels",
                          falseBackgroundFrames);
        } else if (options.checkResident && early.rss > 0 && late.rss > early.rss + 1024) {
            failure = "memory";
            std::snprintf(message, sizeof message, "resident memory grew from %ld KiB to %ld KiB",
                          early.rss, late.rss);
        }
    }

    // FNV-1a over the bits of every array the update writes, in the table's
    // order: two builds (or two versions of the update) that agree on this
    // agree on every value of the run.
    std::uint64_t checksum = 1469598103934665603ULL;
    const corvane::BackgroundModel arrays = model.ReadView();
    for (const corvane::ModelField& field : corvane::kModelFields) {
        if (!field.written || corvane::IsScalarField(field)) continue;
        const corvane::DoubleView values = arrays.*field.view;
        for (std::int64_t e = 0; e < values.count; ++e) {
            std::uint64_t bits;
            std::memcpy(&bits, &values.data[e], sizeof bits);
            for (int i = 0; i < 8; ++i) checksum = (checksum ^ ((bits >> (8 * i)) & 0xff)) * 1099511628211ULL;
        }
    }
    double smallestPi = INFINITY, smallestVar = INFINITY;
    for (std::int64_t p = 0; p < N; ++p) {
        smallestPi = std::fmin(smallestPi, model.Pi[static_cast<std::size_t>(p)]);
        smallestVar = std::fmin(smallestVar, model.Var[static_cast<std::size_t>(p)]);
    }
    std::printf("soaked %d frames of %dx%d, K = %d, StepSize %g, learning rate %g, width %g, "
                "MinimumVariance %g: detected after %d frames, recovered %d frames after the "
                "object left, smallest Pi %g and Var %g at the end, %lld scratch blocks "
                "obtained and released, resident %ld KiB (peak %ld KiB), model checksum %016llx\n",
                options.frames, H, W, check.sizes.K, parameters.stepSize, parameters.learningRate,
                parameters.neighborhoodWidth, model.MinimumVariance, detectFrames,
                recoverFrames, smallestPi, smallestVar, static_cast<long long>(gBlocksObtained),
                late.rss, late.peak, static_cast<unsigned long long>(checksum));
    if (failure != nullptr) {
        std::printf("FAIL (%s): %s\n", failure, message);
        return 1;
    }
    return 0;
}
