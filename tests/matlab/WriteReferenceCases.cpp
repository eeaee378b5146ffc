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
//                      "H", "W", "frame", then BuildInitialModel's fields as
//                      "model_<Field>" and BuildNeighborhoodMatrix as "matrix"
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ModelSetup.h"
#include "SyntheticScene.h"
#include "UpdateModel.h"

namespace {

using corvane::BackgroundModel;
using corvane::DoubleView;
using corvane::ModelParameters;
using corvane::OwnedModel;

// The parameters the toolbox's corvaneParameters mirrors (maskThreshold is a
// reporting choice of the C++ hosts, not part of a model). A new member of
// ModelParameters changes its size and stops the build here: add it to this
// table and to matlab/corvaneParameters.m.
struct ParameterEntry {
    const char* name;
    double (*get)(const ModelParameters&);
};
static_assert(sizeof(ModelParameters) == 2 * sizeof(std::int32_t) + 9 * sizeof(double),
              "ModelParameters changed: update kParameters and matlab/corvaneParameters.m");
const ParameterEntry kParameters[] = {
    {"mapRows", [](const ModelParameters& p) { return double(p.mapRows); }},
    {"mapColumns", [](const ModelParameters& p) { return double(p.mapColumns); }},
    {"initialVariance", [](const ModelParameters& p) { return p.initialVariance; }},
    {"maximumVariance", [](const ModelParameters& p) { return p.maximumVariance; }},
    {"minimumVariance", [](const ModelParameters& p) { return p.minimumVariance; }},
    {"initialPrior", [](const ModelParameters& p) { return p.initialPrior; }},
    {"stepSize", [](const ModelParameters& p) { return p.stepSize; }},
    {"initialIndicatorVariance",
     [](const ModelParameters& p) { return p.initialIndicatorVariance; }},
    {"learningRate", [](const ModelParameters& p) { return p.learningRate; }},
    {"neighborhoodWidth", [](const ModelParameters& p) { return p.neighborhoodWidth; }},
};

const char* const kFieldNames[] = {
    "Mu",         "Sigma2",        "imMask",          "Pi",           "NeuroWin",
    "Var",        "Cov",           "MaximumVariance", "NumMapRows",   "NumMapColumns",
    "NumImageRows", "NumImageColumns", "MinimumVariance", "StepSize", "CurrentFrame"};

DoubleView FieldOf(const BackgroundModel& m, int i) {
    const DoubleView views[] = {m.Mu,         m.Sigma2,        m.imMask,          m.Pi,
                                m.NeuroWin,   m.Var,           m.Cov,             m.MaximumVariance,
                                m.NumMapRows, m.NumMapColumns, m.NumImageRows,    m.NumImageColumns,
                                m.MinimumVariance, m.StepSize, m.CurrentFrame};
    return views[i];
}

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
        for (int i = 0; i < 15; ++i) {
            const DoubleView view = FieldOf(model, i);
            Put(prefix + kFieldNames[i], view.data, static_cast<std::size_t>(view.count));
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

bool WriteSetupCase(const std::string& path, const ModelParameters& parameters, bool isDefault,
                    int H, int W, Random& rng) {
    std::vector<double> frame(std::size_t(3) * H * W);
    rng.Fill(frame, 0, 255);
    frame[0] = 0;
    frame[frame.size() - 1] = 255;
    OwnedModel model = corvane::BuildInitialModel(parameters, frame.data(), H, W);
    RecordFile out(path);
    for (const ParameterEntry& entry : kParameters)
        out.Put(std::string("param_") + entry.name, entry.get(parameters));
    out.Put("isDefault", isDefault ? 1.0 : 0.0);
    out.Put("H", double(H));
    out.Put("W", double(W));
    out.Put("frame", frame);
    out.PutModel("model_", model.View());
    out.Put("matrix", corvane::BuildNeighborhoodMatrix(parameters));
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

    // The builders, with the defaults and with every parameter changed.
    ModelParameters changed;
    changed.mapRows = 2;
    changed.mapColumns = 4;
    changed.initialVariance = 37.25;
    changed.maximumVariance = 1234.5;
    changed.minimumVariance = 0.3;
    changed.initialPrior = 0.2;
    changed.stepSize = 0.003;
    changed.initialIndicatorVariance = 0.11;
    changed.learningRate = 0.3;
    changed.neighborhoodWidth = 0.7;
    ModelParameters winnerOnly;
    winnerOnly.mapRows = 4;
    winnerOnly.mapColumns = 1;
    winnerOnly.neighborhoodWidth = 0;
    ModelParameters single;
    single.mapRows = 1;
    single.mapColumns = 1;
    ModelParameters wide;
    wide.mapRows = 5;
    wide.mapColumns = 5;
    wide.neighborhoodWidth = 2.5;
    wide.learningRate = 1.0 / 3.0;
    ok = WriteSetupCase(folder + "/setup_defaults.bin", ModelParameters(), true, 6, 9, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_changed.bin", changed, false, 1, 5, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_winner.bin", winnerOnly, false, 5, 1, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_single.bin", single, false, 3, 3, rng) && ok;
    ok = WriteSetupCase(folder + "/setup_wide.bin", wide, false, 2, 2, rng) && ok;
    return ok ? 0 : 1;
}
