// Writes the inputs and the C++ results that the Octave tests compare the MEX
// gateway and the toolbox builders against, bit for bit.
//
//   corvane_write_reference_cases <folder>
//
// Every file is a run of records, all doubles in the machine's byte order:
//   name length L, L character codes, element count n, n elements.
//
//   update_<case>.bin  the 15 model fields by name, "matrix", "frames" (T
//                      frames of 3*N), "T", and after each frame t = 1..T the
//                      core's updated fields as "after<t>_<Field>"
//   setup_<case>.bin   "param_<name>" for every model parameter, "isDefault",
//                      "H", "W", "T", "frames" (T frames of 3*N); then
//                      BuildInitialModelFromFrames of the first
//                      min(initialFrames, T) frames as "model_<Field>",
//                      BuildInitialModel of the first frame as
//                      "single_<Field>", BuildNeighborhoodMatrix as "matrix",
//                      frame numbers "matrixFrames" with their
//                      LearningRateForFrame "rates" and NeighborhoodMatrixForFrame
//                      "matrices" (one K*K block per frame number), and a
//                      probability map "imMask" (H x W) with its ThresholdMask
//                      "mask" (0 or 255 per pixel)
//   parameters.bin     the parameter table: "names" (the canonical names,
//                      comma-separated, as character codes), per parameter
//                      "defaults", "whole", "low", "lowInclusive", "high",
//                      "highInclusive", "odd" and "atLeast" (1-based index of
//                      the parameter it must not be below, 0 for none); and
//                      probes, values at and next to every range's ends:
//                      "probeParameter" (1-based index), "probeValue" and
//                      "probeAccepted" (1 when SetParameter and then
//                      ValidateParameters accept that value with every other
//                      parameter at its default)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Detector.h"
#include "FrameStream.h"
#include "ModelSetup.h"
#include "ParameterTable.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace {

using corvane::BackgroundModel;
using corvane::DoubleView;
using corvane::ModelParameters;
using corvane::OwnedModel;

using corvane::kModelFieldCount;
using corvane::kModelFields;

// Field i of the table.
DoubleView FieldOf(const BackgroundModel& m, int i) { return m.*kModelFields[i].view; }

class RecordFile {
public:
    explicit RecordFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
        if (file_ == nullptr) std::perror(path.c_str());
    }
    ~RecordFile() {
        if (file_ != nullptr && std::fclose(file_) != 0) ok_ = false;
    }
    bool ok() const { return file_ != nullptr && ok_; }

    void Put(const std::string& name, const double* data, std::size_t count) {
        std::vector<double> header;
        header.push_back(double(name.size()));
        for (char ch : name) header.push_back(double(static_cast<unsigned char>(ch)));
        header.push_back(double(count));
        Write(header.data(), header.size());
        Write(data, count);
    }
    void Put(const std::string& name, double value) { Put(name, &value, 1); }
    void Put(const std::string& name, const std::vector<double>& values) {
        Put(name, values.data(), values.size());
    }
    void PutModel(const std::string& prefix, const BackgroundModel& model) {
        for (int i = 0; i < kModelFieldCount; ++i) {
            const DoubleView view = FieldOf(model, i);
            Put(prefix + kModelFields[i].name, view.data, static_cast<std::size_t>(view.count));
        }
    }

private:
    void Write(const double* data, std::size_t count) {
        if (file_ != nullptr && count > 0 && std::fwrite(data, sizeof(double), count, file_) != count)
            ok_ = false;
    }
    std::FILE* file_;
    bool ok_ = true;
};

struct Random {
    std::mt19937_64 engine;
    explicit Random(std::uint64_t seed) : engine(seed) {}
    double Uniform(double lo, double hi) {
        return lo + (hi - lo) * (double(engine() >> 11) * 0x1.0p-53);
    }
    void Fill(std::vector<double>& v, double lo, double hi) {
        for (double& x : v) x = Uniform(lo, hi);
    }
};

// A model of random but sensible values: every field sized exactly.
OwnedModel RandomModel(Random& rng, int H, int W, int mapRows, int mapColumns) {
    const std::size_t N = std::size_t(H) * W;
    const std::size_t K = std::size_t(mapRows) * mapColumns;
    OwnedModel m;
    m.NumImageRows = H;
    m.NumImageColumns = W;
    m.NumMapRows = mapRows;
    m.NumMapColumns = mapColumns;
    m.MinimumVariance = 3.7;
    m.StepSize = 0.05;
    m.CurrentFrame = 41;
    m.Mu.resize(3 * K * N);
    rng.Fill(m.Mu, 0, 255);
    m.Sigma2.resize(K * N);
    rng.Fill(m.Sigma2, 1, 300);
    m.imMask.resize(N);
    rng.Fill(m.imMask, 0, 1);
    m.Pi.resize(N);
    rng.Fill(m.Pi, 0.01, 0.9);
    m.NeuroWin.resize(N);
    rng.Fill(m.NeuroWin, 0, double(K));
    m.Var.resize(N);
    rng.Fill(m.Var, 0.01, 0.3);
    m.Cov.resize(4 * N);
    rng.Fill(m.Cov, -0.05, 0.1);
    m.MaximumVariance.resize(N);
    rng.Fill(m.MaximumVariance, 50, 500);
    return m;
}

bool WriteUpdateCase(const std::string& path, OwnedModel model, const std::vector<double>& matrix,
                     const std::vector<double>& frames, int T) {
    RecordFile out(path);
    BackgroundModel view = model.View();
    out.PutModel("", view);
    out.Put("matrix", matrix);
    out.Put("frames", frames);
    out.Put("T", double(T));
    const std::size_t frameSize = frames.size() / std::size_t(T);
    for (int t = 0; t < T; ++t) {
        const corvane::FrameImage frame{frames.data() + t * frameSize,
                                        static_cast<std::int64_t>(frameSize)};
        const corvane::NeighborhoodMatrix weights{matrix.data(),
                                                  static_cast<std::int64_t>(matrix.size())};
        if (!corvane::UpdateModel(view, frame, weights, corvane::StandardAllocator())) {
            std::fprintf(stderr, "%s: the update was refused\n", path.c_str());
            return false;
        }
        out.PutModel("after" + std::to_string(t + 1) + "_", view);
    }
    return out.ok();
}

// T frames of an H x W scene: per pixel a base colour and an amplitude (from
// steady to lively) by which every frame varies around it, clamped to 0..255;
// `whole` rounds the colours as 8-bit video has them (ties in the medians).
std::vector<double> LeadingFrames(Random& rng, int H, int W, int T, bool whole) {
    const std::size_t N = std::size_t(H) * W;
    std::vector<double> base(3 * N), amplitude(N);
    rng.Fill(base, -20, 275);
    const double amplitudes[] = {0, 2, 6, 20, 60};
    for (double& a : amplitude) a = amplitudes[std::size_t(rng.Uniform(0, 5)) % 5];
    std::vector<double> frames(3 * N * std::size_t(T));
    for (int t = 0; t < T; ++t)
        for (std::size_t i = 0; i < 3 * N; ++i) {
            const double a = amplitude[i % N];
            double x = base[i] + rng.Uniform(-a, a);
            if (whole) x = std::round(x);
            frames[std::size_t(t) * 3 * N + i] = x < 0 ? 0 : (x > 255 ? 255 : x);
        }
    return frames;
}

bool WriteSetupCase(const std::string& path, const ModelParameters& parameters, bool isDefault,
                    int H, int W, int T, bool whole, Random& rng) {
    const std::size_t N = std::size_t(H) * W;
    const std::vector<double> frames = LeadingFrames(rng, H, W, T, whole);
    std::vector<const double*> leading;
    for (int t = 0; t < T && t < parameters.initialFrames; ++t)
        leading.push_back(frames.data() + std::size_t(t) * 3 * N);
    OwnedModel model = corvane::BuildInitialModelFromFrames(parameters, leading, H, W);
    OwnedModel single = corvane::BuildInitialModel(parameters, frames.data(), H, W);

    // Frame numbers at the start, around the end of calibration and long after.
    std::vector<double> frameNumbers, rates, matrices;
    for (std::int64_t t : {std::int64_t(1), std::int64_t(2), std::int64_t(3), std::int64_t(7),
                           std::int64_t(parameters.calibrationFrames) - 1,
                           std::int64_t(parameters.calibrationFrames),
                           std::int64_t(parameters.calibrationFrames) + 1, std::int64_t(100000)}) {
        if (t < 1) continue;
        frameNumbers.push_back(double(t));
        rates.push_back(corvane::LearningRateForFrame(parameters, t));
        const std::vector<double> m = corvane::NeighborhoodMatrixForFrame(parameters, t);
        matrices.insert(matrices.end(), m.begin(), m.end());
    }

    // A probability map with blobs, specks and pinholes, values at the
    // threshold and NaN.
    std::vector<double> imMask(N);
    for (std::size_t p = 0; p < N; ++p) {
        const double r = double(p % std::size_t(H)), c = double(p / std::size_t(H));
        const double blob = std::sin(0.7 * r) * std::cos(0.5 * c);
        imMask[p] = blob > 0.1 ? rng.Uniform(0.2, 1.0) : rng.Uniform(0.0, 0.3);
    }
    imMask[0] = parameters.maskThreshold;
    if (N > 2) imMask[N / 2] = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::uint8_t> bytes(N);
    corvane::ThresholdMask(parameters, imMask.data(), H, W, bytes.data());
    const std::vector<double> mask(bytes.begin(), bytes.end());

    RecordFile out(path);
    for (const corvane::ParameterInfo& info : corvane::ParameterTable())
        out.Put(std::string("param_") + info.name, corvane::GetParameter(parameters, info));
    out.Put("isDefault", isDefault ? 1.0 : 0.0);
    out.Put("H", double(H));
    out.Put("W", double(W));
    out.Put("T", double(T));
    out.Put("frames", frames);
    out.PutModel("model_", model.View());
    out.PutModel("single_", single.View());
    out.Put("matrix", corvane::BuildNeighborhoodMatrix(parameters));
    out.Put("matrixFrames", frameNumbers);
    out.Put("rates", rates);
    out.Put("matrices", matrices);
    out.Put("imMask", imMask);
    out.Put("mask", mask);
    return out.ok();
}

// A video segmented frame by frame as the corvane command does it (the
// Detector every host wraps): the
// parameters, "H", "W", "T", "frames", and after each frame t the mask as
// "mask<t>" (0 or 255 per pixel) and the model as "after<t>_<Field>". The
// frames: a square crossing a noisy background, with a band of pixels that
// flicker between two colours and a shaking edge.
bool WriteStreamCase(const std::string& path, const ModelParameters& parameters, int H, int W,
                     int T, Random& rng) {
    const std::size_t N = std::size_t(H) * W;
    std::vector<double> frames(3 * N * std::size_t(T));
    for (int t = 0; t < T; ++t) {
        double* frame = frames.data() + 3 * N * t;
        const int shake = int(rng.Uniform(0, 3));
        for (std::size_t p = 0; p < N; ++p) {
            const int r = int(p % std::size_t(H)), c = int(p / std::size_t(H));
            for (int ch = 0; ch < 3; ++ch) {
                double v = 90 + 20 * ch + rng.Uniform(-4, 4);
                if (r == 1) v = rng.Uniform(0, 1) < 0.5 ? 30 + 10 * ch : 200 - 20 * ch;  // flicker
                if (c >= W - 3 + shake - 1) v = 230;                                   // shaking edge
                if (r >= 3 && r < 6 && c >= t && c < t + 3) v = 20 + 50 * ch;          // the square
                frame[ch * N + p] = v;
            }
        }
    }
    RecordFile out(path);
    for (const corvane::ParameterInfo& info : corvane::ParameterTable())
        out.Put(std::string("param_") + info.name, corvane::GetParameter(parameters, info));
    out.Put("H", double(H));
    out.Put("W", double(W));
    out.Put("T", double(T));
    out.Put("frames", frames);
    corvane::Detector detector(parameters);
    std::string error;
    if (!detector.Start(H, W, &error)) return false;
    std::vector<std::uint8_t> bytes(N);
    for (int t = 1; t <= T; ++t) {
        const double* frame = frames.data() + 3 * N * (t - 1);
        if (!detector.Process(corvane::FrameImage{frame, static_cast<std::int64_t>(3 * N)},
                              bytes.data(), nullptr, &error))
            return false;
        OwnedModel model = detector.model();
        out.Put("mask" + std::to_string(t), std::vector<double>(bytes.begin(), bytes.end()));
        out.PutModel("after" + std::to_string(t) + "_", model.View());
    }
    return out.ok();
}

// The values next to `value`: below and above (the neighbouring doubles, or
// the neighbouring whole numbers).
std::vector<double> Around(const corvane::ParameterInfo& info, double value) {
    if (info.kind == corvane::ParameterKind::Whole) return {value - 1, value, value + 1};
    return {std::nextafter(value, -HUGE_VAL), value, std::nextafter(value, HUGE_VAL)};
}

bool WriteParameterTable(const std::string& path) {
    const corvane::ParameterList table = corvane::ParameterTable();
    std::string names;
    std::vector<double> defaults, whole, low, lowInclusive, high, highInclusive, odd, atLeast;
    std::vector<double> probeParameter, probeValue, probeAccepted;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const corvane::ParameterInfo& info = table[i];
        names += (i == 0 ? "" : ",") + std::string(info.name);
        defaults.push_back(corvane::DefaultParameter(info));
        whole.push_back(info.kind == corvane::ParameterKind::Whole ? 1 : 0);
        low.push_back(info.low);
        lowInclusive.push_back(info.lowInclusive ? 1 : 0);
        high.push_back(info.high);
        highInclusive.push_back(info.highInclusive ? 1 : 0);
        odd.push_back(info.odd ? 1 : 0);
        double bound = 0;
        const corvane::ParameterInfo* other =
            info.atLeast != nullptr ? corvane::FindParameter(info.atLeast) : nullptr;
        for (std::size_t k = 0; k < table.size(); ++k)
            if (&table[k] == other) bound = double(k + 1);
        atLeast.push_back(bound);

        std::vector<double> probes = Around(info, info.low);
        for (double v : Around(info, info.high)) probes.push_back(v);
        for (double v : Around(info, corvane::DefaultParameter(info))) probes.push_back(v);
        if (other != nullptr)
            for (double v : Around(info, corvane::DefaultParameter(*other))) probes.push_back(v);
        probes.push_back(info.low + 0.5);  // a fraction
        probes.push_back(info.low + 1);    // even, where low is odd
        probes.push_back(std::numeric_limits<double>::infinity());
        probes.push_back(-std::numeric_limits<double>::infinity());
        probes.push_back(std::numeric_limits<double>::quiet_NaN());
        for (double v : probes) {
            ModelParameters parameters;
            const bool accepted = corvane::SetParameter(parameters, info, v).ok() &&
                                  corvane::ValidateParameters(parameters).ok();
            probeParameter.push_back(double(i + 1));
            probeValue.push_back(v);
            probeAccepted.push_back(accepted ? 1 : 0);
        }
    }
    RecordFile out(path);
    std::vector<double> codes;
    for (char ch : names) codes.push_back(double(static_cast<unsigned char>(ch)));
    const std::pair<const char*, const std::vector<double>*> records[] = {
        {"names", &codes},
        {"defaults", &defaults},
        {"whole", &whole},
        {"low", &low},
        {"lowInclusive", &lowInclusive},
        {"high", &high},
        {"highInclusive", &highInclusive},
        {"odd", &odd},
        {"atLeast", &atLeast},
        {"probeParameter", &probeParameter},
        {"probeValue", &probeValue},
        {"probeAccepted", &probeAccepted}};
    for (const auto& record : records) out.Put(record.first, *record.second);
    return out.ok();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    Random rng(20261208);
    bool ok = true;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();

    // Random models of several shapes, each run over a few random frames.
    struct Shape { const char* name; int H, W, mapRows, mapColumns, T; };
    const Shape shapes[] = {{"random", 7, 5, 2, 3, 4}, {"pixel", 1, 1, 1, 1, 3},
                            {"row", 1, 6, 2, 2, 3},   {"column", 5, 1, 3, 1, 3},
                            {"special", 4, 3, 1, 2, 2}};
    for (const Shape& s : shapes) {
        OwnedModel model = RandomModel(rng, s.H, s.W, s.mapRows, s.mapColumns);
        const std::size_t K = std::size_t(s.mapRows) * s.mapColumns;
        std::vector<double> matrix(K * K);
        rng.Fill(matrix, 0, 0.4);
        std::vector<double> frames(std::size_t(3) * s.H * s.W * s.T);
        rng.Fill(frames, 0, 255);
        if (std::string(s.name) == "special") {
            // Values the update takes as IEEE arithmetic gives them.
            model.Mu[0] = nan;
            model.Sigma2[3] = inf;
            model.Sigma2[4] = 0;
            model.Pi[1] = 0;
            model.Pi[2] = 1;
            model.Var[5] = 0;
            model.MinimumVariance = 0;
            frames[7] = inf;
            matrix[1] = -0.25;
        }
        ok = WriteUpdateCase(folder + "/update_" + s.name + ".bin", model, matrix, frames, s.T) && ok;
    }

    // The toolbox's own start: the default model of a synthetic scene.
    {
        corvane::SyntheticScene scene;
        scene.H = 24;
        scene.W = 32;
        scene.squareSize = 6;
        const ModelParameters parameters;
        std::vector<double> frame;
        scene.Render(0, frame, nullptr);
        OwnedModel model = corvane::BuildInitialModel(parameters, frame.data(), scene.H, scene.W);
        const int T = 20;
        std::vector<double> frames;
        for (int t = 1; t <= T; ++t) {
            scene.Render(t, frame, nullptr);
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
        ok = WriteUpdateCase(folder + "/update_scene.bin", model,
                             corvane::BuildNeighborhoodMatrix(parameters), frames, T) && ok;
    }

    // The builders, with the defaults and with every parameter changed; odd
    // and even numbers of leading frames, fewer frames than initialFrames,
    // K = 1, a single frame, and images down to one row or column.
    ModelParameters changed;
    changed.mapRows = 2;
    changed.mapColumns = 4;
    changed.initialFrames = 4;
    changed.initialSpread = 37.5;
    changed.initialVariance = 37.25;
    changed.maximumVariance = 60;
    changed.varianceCapFactor = 2.5;
    changed.maximumVarianceLimit = 500;
    changed.minimumVariance = 0.3;
    changed.initialPrior = 0.2;
    changed.stepSize = 0.003;
    changed.initialIndicatorVariance = 0.11;
    changed.learningRate = 0.3;
    changed.neighborhoodWidth = 0.7;
    changed.calibrationFrames = 6;
    changed.calibrationRate = 0.9;
    changed.maskThreshold = 0.4;
    changed.medianSize = 3;
    ModelParameters winnerOnly;
    winnerOnly.mapRows = 4;
    winnerOnly.mapColumns = 1;
    winnerOnly.neighborhoodWidth = 0;
    winnerOnly.calibrationFrames = 10;
    winnerOnly.calibrationRate = 2.0 / 3.0;
    winnerOnly.medianSize = 1;
    ModelParameters single;
    single.mapRows = 1;
    single.mapColumns = 1;
    single.calibrationFrames = 50;
    single.medianSize = 7;
    // Starting variances above the cap: a single frame's model is capped like
    // any other.
    ModelParameters wide;
    wide.mapRows = 5;
    wide.mapColumns = 5;
    wide.initialFrames = 1;
    wide.neighborhoodWidth = 2.5;
    wide.learningRate = 1.0 / 3.0;
    wide.initialVariance = 400;
    wide.maximumVariance = 120;
    wide.maximumVarianceLimit = 120;
    ModelParameters even = ModelParameters();
    even.initialFrames = 10;
    // A median grown with the image: 7 x 7 on its 17 x 23 pixels.
    even.medianShare = 0.2;
    // A width at which the C library's exp is off by one unit in the last
    // place for the map's neighbours (exp(-1 / (2 * width^2)), glibc 2.36):
    // the toolbox must give the core's correctly rounded values.
    ModelParameters rounded;
    rounded.mapRows = 4;
    rounded.mapColumns = 4;
    rounded.neighborhoodWidth = 1.73;
    rounded.calibrationFrames = 4;
    ok = WriteParameterTable(folder + "/parameters.bin") && ok;
    ok = WriteSetupCase(folder + "/setup_defaults.bin", ModelParameters(), true, 6, 9, 12, true, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_changed.bin", changed, false, 1, 5, 7, false, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_winner.bin", winnerOnly, false, 5, 1, 6, true, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_single.bin", single, false, 3, 3, 3, false, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_wide.bin", wide, false, 2, 2, 2, false, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_even.bin", even, false, 17, 23, 10, true, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_rounded_exp.bin", rounded, false, 3, 4, 2, false, rng) && ok;

    // Streams: the defaults past the start; a short start with a band that
    // binds at both ends and fast flicker tracking; flicker tracking off.
    ModelParameters banded = changed;
    banded.initialFrames = 3;
    banded.stepSize = 0.3;
    banded.initialPrior = 0.5;
    banded.priorFloor = 0.04;
    banded.priorCeiling = 0.3;
    banded.flickerStep = 0.4;
    banded.flickerCapFactor = 20;
    banded.medianShare = 0.4;  // the 3 x 3 median grows to 5 x 5 on 8 x 10 pixels
    ModelParameters steady;
    steady.flickerStep = 0;
    steady.initialFrames = 2;
    ok = WriteStreamCase(folder + "/stream_defaults.bin", ModelParameters(), 9, 12, 14, rng) && ok;
    ok = WriteStreamCase(folder + "/stream_banded.bin", banded, 8, 10, 9, rng) && ok;
    ok = WriteStreamCase(folder + "/stream_steady.bin", steady, 7, 9, 5, rng) && ok;
    return ok ? 0 : 1;
}
