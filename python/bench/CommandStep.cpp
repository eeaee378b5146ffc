// corvane_command_step: the corvane command's per-frame work on an 8-bit BGR
// frame, without the Python host around it (the frame into the model's
// layout, Detector::Process, the mask into row order), for the benchmark that
// sets apply() beside it (apply_bench.py). Not part of the corvane package:
// the build puts it beside the package, not in it. The frame must be a
// C-contiguous H x W x 3 uint8 array of the first frame's size (checked, but
// nothing else is).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Arguments.h"
#include "Detector.h"
#include "Initialised.h"
#include "Subtractor.h"

namespace py = pybind11;

namespace corvane::python {

namespace {

class CommandStep {
public:
    CommandStep(int threads, const py::kwargs& keywords)
        : detector_(ReadSettings(keywords).parameters) {
        detector_.SetThreads(threads);
    }
    void Process(const py::array_t<std::uint8_t, py::array::c_style>& frame) {
        if (frame.ndim() != 3 || frame.shape(2) != 3) ThrowValue("an H x W x 3 uint8 frame");
        const std::int64_t H = frame.shape(0), W = frame.shape(1), N = H * W;
        if (!detector_.started()) {
            std::string error;
            if (!detector_.Start(static_cast<std::int32_t>(H), static_cast<std::int32_t>(W), &error))
                ThrowValue(error);
            frame_.resize(static_cast<std::size_t>(3 * N));
            columnMask_.resize(static_cast<std::size_t>(N));
            mask_.resize(static_cast<std::size_t>(N));
        }
        if (H != detector_.rows() || W != detector_.columns()) ThrowValue("another frame size");
        ImageView view;
        view.data = reinterpret_cast<const char*>(frame.data());
        view.rows = H;
        view.columns = W;
        view.strides[0] = 3 * W;
        view.strides[1] = 3;
        view.strides[2] = 1;
        std::string error;
        bool ok;
        {
            py::gil_scoped_release release;
            ReadFrame(view, frame_.data());
            ok = detector_.Process(FrameImage{frame_.data(), 3 * N}, columnMask_.data(), nullptr,
                                   &error);
            for (std::int64_t r = 0; r < H; ++r)
                for (std::int64_t c = 0; c < W; ++c)
                    mask_[static_cast<std::size_t>(r * W + c)] =
                        columnMask_[static_cast<std::size_t>(c * H + r)];
        }
        if (!ok) ThrowValue(error);
    }
    py::array Mask() const {
        py::array_t<std::uint8_t> mask({static_cast<py::ssize_t>(detector_.rows()),
                                        static_cast<py::ssize_t>(detector_.columns())});
        std::memcpy(mask.mutable_data(), mask_.data(), mask_.size());
        return std::move(mask);
    }

private:
    Detector detector_;
    std::vector<double> frame_;
    std::vector<std::uint8_t> columnMask_, mask_;
};

}  // namespace

}  // namespace corvane::python

PYBIND11_MODULE(corvane_command_step, m) {
    using namespace corvane::python;
    m.doc() = "The corvane command's per-frame work without the Python host, for benchmarks";
    py::class_<CommandStep>(m, "CommandStep",
                            "CommandStep(threads, **parameters).process(bgr); .mask is the "
                            "last frame's H x W uint8 mask")
        .def(py::init<int, const py::kwargs&>())
        .def("process", Checked(&CommandStep::Process))
        .def_property_readonly("mask", Checked(&CommandStep::Mask));
}
