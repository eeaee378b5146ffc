// corvaneHostBench: the C++ side of the hosts' side-by-side benchmark
// (benchHosts.m), inside the same Octave process as the struct call and the
// detector object, so that every method is timed on the same frames, in
// turn, under the same machine load.
//
//   corvaneHostBench('start', model, frames, nhood)
//       a copy of the model struct (as Corvane takes it), the frames
//       (H x W x 3 x F uint8, RGB) and the neighbourhood matrix
//   [wall, cpu] = corvaneHostBench(method, f, threads)
//       one frame (frame f, 1-based) of
//         'reference'  the four-pass update UpdateModelReference
//         'update'     UpdateModel with that many threads
//         'mog2', 'knn'  OpenCV's subtractor at its defaults, with
//                      cv::setNumThreads(threads), on the frame as BGR
//       and its wall-clock time and the process's CPU time (all threads,
//       system time included). The model updates advance one shared copy
//       of the model; each OpenCV subtractor keeps its own state per thread
//       count.
//   corvaneHostBench('clear')
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <octave/oct.h>
#include <octave/ov-struct.h>
#include <opencv2/core.hpp>
#include <opencv2/video/background_segm.hpp>

#include "GatewayModel.h"
#include "ModelSetup.h"
#include "UpdateModel.h"

namespace {

struct Bench {
    std::int32_t H = 0, W = 0;
    corvane::OwnedModel model;
    std::vector<std::vector<double>> frames;  // the model's layout
    std::vector<cv::Mat> bgr;                 // the same frames for OpenCV
    std::vector<double> matrix;
    std::map<std::pair<std::string, int>, cv::Ptr<cv::BackgroundSubtractor>> subtractors;
    cv::Mat mask;
};

Bench* gBench = nullptr;

std::vector<double> Doubles(const octave_value& value) {
    const NDArray array = value.array_value();
    return std::vector<double>(array.data(), array.data() + array.numel());
}

void Start(const octave_value_list& args) {
    delete gBench;
    gBench = new Bench;
    Bench& b = *gBench;
    const octave_scalar_map model = args(1).scalar_map_value();
    std::vector<double>* arrays[] = {&b.model.Mu, &b.model.Sigma2, &b.model.imMask, &b.model.Pi,
                                     &b.model.NeuroWin, &b.model.Var, &b.model.Cov,
                                     &b.model.MaximumVariance};
    const char* names[] = {"Mu", "Sigma2", "imMask", "Pi", "NeuroWin", "Var", "Cov",
                           "MaximumVariance"};
    for (int i = 0; i < 8; ++i) *arrays[i] = Doubles(model.getfield(names[i]));
    b.model.NumMapRows = model.getfield("NumMapRows").double_value();
    b.model.NumMapColumns = model.getfield("NumMapColumns").double_value();
    b.model.NumImageRows = model.getfield("NumImageRows").double_value();
    b.model.NumImageColumns = model.getfield("NumImageColumns").double_value();
    b.model.MinimumVariance = model.getfield("MinimumVariance").double_value();
    b.model.StepSize = model.getfield("StepSize").double_value();
    b.model.CurrentFrame = model.getfield("CurrentFrame").double_value();
    b.H = static_cast<std::int32_t>(b.model.NumImageRows);
    b.W = static_cast<std::int32_t>(b.model.NumImageColumns);

    const uint8NDArray frames = args(2).uint8_array_value();
    const std::int64_t N = static_cast<std::int64_t>(b.H) * b.W;
    const std::int64_t F = frames.numel() / (3 * N);
    const octave_uint8* data = frames.data();
    for (std::int64_t f = 0; f < F; ++f) {
        const octave_uint8* frame = data + f * 3 * N;
        std::vector<double> doubles(static_cast<std::size_t>(3 * N));
        cv::Mat bgr(b.H, b.W, CV_8UC3);
        for (std::int32_t r = 0; r < b.H; ++r) {
            for (std::int32_t c = 0; c < b.W; ++c) {
                const std::int64_t p = static_cast<std::int64_t>(c) * b.H + r;
                cv::Vec3b& pixel = bgr.at<cv::Vec3b>(r, c);
                for (int ch = 0; ch < 3; ++ch) {
                    const std::uint8_t v = frame[ch * N + p].value();
                    doubles[static_cast<std::size_t>(ch * N + p)] = v;
                    pixel[2 - ch] = v;
                }
            }
        }
        b.frames.push_back(std::move(doubles));
        b.bgr.push_back(bgr);
    }
    b.matrix = Doubles(args(3));
}

// Wall-clock and process CPU time, in seconds.
struct Clocks {
    double wall;
    double cpu;
};

Clocks Now() {
    timespec cpu;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return Clocks{std::chrono::duration<double>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count(),
                  static_cast<double>(cpu.tv_sec) + 1e-9 * static_cast<double>(cpu.tv_nsec)};
}

octave_value_list Elapsed(const Clocks& start) {
    const Clocks end = Now();
    return ovl(end.wall - start.wall, end.cpu - start.cpu);
}

}  // namespace

DEFUN_DLD(corvaneHostBench, args, , "The C++ side of benchHosts.m (bench/octave).") {
    const std::string command = args(0).string_value();
    if (command == "start") {
        Start(args);
        return ovl();
    }
    if (command == "clear") {
        delete gBench;
        gBench = nullptr;
        return ovl();
    }
    if (gBench == nullptr) error("corvaneHostBench: call 'start' first");
    Bench& b = *gBench;
    const std::size_t f = static_cast<std::size_t>(args(1).int_value() - 1) % b.frames.size();
    const int threads = args.length() > 2 ? args(2).int_value() : 1;
    const corvane::FrameImage frame{b.frames[f].data(),
                                    static_cast<std::int64_t>(b.frames[f].size())};
    const corvane::NeighborhoodMatrix matrix{b.matrix.data(),
                                             static_cast<std::int64_t>(b.matrix.size())};
    Clocks start = Now();
    if (command == "reference") {
        corvane::UpdateModelReference(b.model.View(), frame, matrix, corvane::StandardAllocator());
    } else if (command == "update") {
        corvane::UpdateModel(b.model.View(), frame, matrix, corvane::StandardAllocator(), threads);
    } else if (command == "mog2" || command == "knn") {
        cv::Ptr<cv::BackgroundSubtractor>& subtractor = b.subtractors[{command, threads}];
        if (subtractor.empty()) {
            subtractor = command == "mog2"
                             ? cv::Ptr<cv::BackgroundSubtractor>(cv::createBackgroundSubtractorMOG2())
                             : cv::Ptr<cv::BackgroundSubtractor>(cv::createBackgroundSubtractorKNN());
        }
        cv::setNumThreads(threads);
        start = Now();
        subtractor->apply(b.bgr[f], b.mask);
    } else {
        error("corvaneHostBench: unknown method '%s'", command.c_str());
    }
    return Elapsed(start);
}
