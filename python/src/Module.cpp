// corvane._corvane: the Python binding of the per-video detector. Arguments are
// checked here, before anything is read or written; the frame is copied into
// the model's layout and segmented with the GIL released (Subtractor.h).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Arguments.h"
#include "FrameArgument.h"
#include "Initialised.h"
#include "LearnMaskArgument.h"
#include "ModelFileBindings.h"
#include "ModelDict.h"
#include "ParameterDocs.h"
#include "ParameterTable.h"
#include "Subtractor.h"
#include "UpdateModel.h"

namespace py = pybind11;

namespace corvane::python {

namespace {

// corvane.FrameRangeWarning, made when the module loads.
PyObject* frameRangeWarning = nullptr;

const char* const kFrameRangeMessage =
    "every value of this floating-point frame lies in 0..1, but the subtractor expects colours "
    "in 0..255 (as uint8 frames hold them); scaled to 0..1 the whole frame matches the "
    "background and the mask comes out empty. Pass 255 * frame, or the uint8 frame itself. "
    "(Said once per subtractor.)";

// ---- the class ----------------------------------------------------------------

class PySubtractor {
public:
    explicit PySubtractor(const Settings& settings)
        : subtractor_(std::make_unique<Subtractor>(settings.parameters, settings.threads)) {}

    static std::unique_ptr<PySubtractor> Create(const py::kwargs& keywords) {
        return std::make_unique<PySubtractor>(ReadSettings(keywords));
    }

    static std::unique_ptr<PySubtractor> FromModel(const py::handle& model,
                                                   const py::kwargs& keywords) {
        std::vector<py::array> keep;
        FlickerState flicker;
        bool hasFlicker = false;
        const BackgroundModel view = ModelFromDict(model, &keep, &flicker, &hasFlicker);
        Settings settings = ReadSettings(keywords);
        // The map's shape comes from the model unless given.
        std::int32_t rows = 0, columns = 0;
        if (!settings.mapRowsGiven && view.NumMapRows.count > 0 &&
            TruncateSize(view.NumMapRows.data[0], &rows) && rows >= 1 && rows <= 8)
            settings.parameters.mapRows = rows;
        if (!settings.mapColumnsGiven && view.NumMapColumns.count > 0 &&
            TruncateSize(view.NumMapColumns.data[0], &columns) && columns >= 1 && columns <= 8)
            settings.parameters.mapColumns = columns;
        auto result = std::make_unique<PySubtractor>(settings);
        std::string error;
        Failure failure;
        {
            py::gil_scoped_release release;
            failure = result->subtractor_->StartFromModel(view, hasFlicker ? &flicker : nullptr,
                                                          &error);
        }
        if (failure == Failure::Memory) ThrowMemory(error);
        if (failure != Failure::None) ThrowValue(error);
        return result;
    }

    // A subtractor that goes on from a model file's contents; `keywords`
    // change the parameters saved with it (ModelFileBindings.h).
    static std::unique_ptr<PySubtractor> FromSaved(const SavedDetector& saved,
                                                   const py::kwargs& keywords) {
        auto result = std::make_unique<PySubtractor>(SettingsForSaved(saved, keywords));
        std::string error;
        Failure failure;
        {
            py::gil_scoped_release release;
            failure = result->subtractor_->Continue(saved, &error);
        }
        if (failure == Failure::Memory) ThrowMemory(error);
        if (failure != Failure::None) ThrowValue(error);
        return result;
    }

    static std::unique_ptr<PySubtractor> Load(const py::handle& path, const py::kwargs& keywords) {
        return FromSaved(ReadSavedFile(path), keywords);
    }

    void Save(const py::handle& path) {
        const std::string name = PathArgument(path);
        std::string error;
        Failure failure;
        {
            py::gil_scoped_release release;
            failure = subtractor_->Save(name, &error);
        }
        RaiseFileFailure(failure, error);
    }

    // What pickling carries: the bytes of the model file and the threads.
    py::tuple State() {
        std::string bytes, error;
        Failure failure;
        {
            py::gil_scoped_release release;
            failure = subtractor_->Bytes(&bytes, &error);
        }
        RaiseFileFailure(failure, "cannot pickle this BackgroundSubtractor: " + error);
        return py::make_tuple(py::bytes(bytes), Threads());
    }

    static std::unique_ptr<PySubtractor> FromState(const py::tuple& state) {
        if (state.size() != 2 || !py::isinstance<py::bytes>(state[0]))
            ThrowValue("not the pickled state of a BackgroundSubtractor");
        py::kwargs keywords;
        keywords["threads"] = state[1];
        return FromSaved(ReadSavedBytes(state[0].cast<std::string>()), keywords);
    }

    py::object Apply(const py::handle& frame, const py::handle& fgmask,
                     const py::handle& learningRateArgument, const py::handle& learnMask) {
        RaiseInterrupt();
        const double learningRate = NumberArgument("learningRate", learningRateArgument);
        if (std::isnan(learningRate) || learningRate > 1)
            ThrowValue("learningRate must be -1 (learn as the parameters say), 0 (learn "
                       "nothing) or a rate above 0 and at most 1; it is " +
                       FormatParameterValue(learningRate));
        CheckedFrame checked = CheckFrame(frame);
        const py::ssize_t H = checked.view.rows, W = checked.view.columns;
        const CheckedLearnMask keep = CheckLearnMask(learnMask, H, W);
        py::array mask;
        if (fgmask.is_none()) {
            mask = py::array_t<std::uint8_t>({H, W});
        } else {
            if (!py::isinstance<py::array>(fgmask))
                ThrowType("fgmask must be a NumPy array (H x W, uint8) or None, not " +
                          TypeName(fgmask));
            mask = py::reinterpret_borrow<py::array>(fgmask);
            if (!mask.dtype().is(py::dtype::of<std::uint8_t>()) &&
                !(mask.dtype().kind() == 'u' && mask.dtype().itemsize() == 1))
                ThrowValue("fgmask must be uint8; it is " + py::str(mask.dtype()).cast<std::string>());
            if (mask.ndim() != 2 || mask.shape(0) != H || mask.shape(1) != W)
                ThrowValue("fgmask must be " + std::to_string(H) + " x " + std::to_string(W) +
                           ", the frame's size");
            if (!mask.writeable()) ThrowValue("fgmask is read-only");
        }
        // Warned before the frame is used, so that a warning turned into an
        // error (warnings.simplefilter("error")) leaves the model as it was.
        if (!warnedFrameRange_ && (checked.view.type == SampleType::Float32 ||
                                   checked.view.type == SampleType::Float64)) {
            bool scaled;
            {
                py::gil_scoped_release release;
                scaled = LooksScaledToOne(checked.view);
            }
            if (scaled && !warnedFrameRange_) {
                if (PyErr_WarnEx(frameRangeWarning, kFrameRangeMessage, 1) < 0)
                    throw py::error_already_set();
                warnedFrameRange_ = true;
            }
        }
        MaskView out;
        out.data = static_cast<char*>(mask.mutable_data());
        out.strides[0] = mask.strides(0);
        out.strides[1] = mask.strides(1);
        std::string error;
        Failure failure;
        {
            py::gil_scoped_release release;
            failure = subtractor_->Apply(checked.view, learningRate < 0 ? -1 : learningRate, out,
                                         &error, keep.given ? &keep.view : nullptr);
        }
        if (failure == Failure::Memory) ThrowMemory(error);
        if (failure != Failure::None) ThrowValue(error);
        // A signal that came while the frame was segmented (Ctrl-C:
        // KeyboardInterrupt) would be raised as this call returns, and the
        // mask of a frame already learnt would be lost. Its handler runs
        // now; what it raises is kept and raised by the next call of
        // apply() on this subtractor, before it reads its frame, and this
        // frame's mask is returned.
        if (PyErr_CheckSignals() != 0) interrupt_ = std::make_unique<py::error_already_set>();
        return std::move(mask);
    }

    // Raises what a signal's handler raised during the last apply(), once.
    void RaiseInterrupt() {
        if (!interrupt_) return;
        std::unique_ptr<py::error_already_set> interrupt = std::move(interrupt_);
        interrupt->restore();
        throw py::error_already_set();
    }

    py::object Probability() {
        std::vector<double> values;
        std::int32_t H = 0, W = 0;
        bool have;
        {
            py::gil_scoped_release release;
            have = subtractor_->Probability(&values, &H, &W);
        }
        if (!have) return py::none();
        // Column-major values, returned as an ordinary (row-major) H x W array.
        py::array_t<double, py::array::f_style> columns({H, W});
        std::memcpy(columns.mutable_data(), values.data(), values.size() * sizeof(double));
        return py::module_::import("numpy").attr("ascontiguousarray")(columns);
    }

    py::object Model() {
        OwnedModel model;
        FlickerState flicker;
        bool have;
        {
            py::gil_scoped_release release;
            have = subtractor_->Model(&model, &flicker);
        }
        if (!have) return py::none();
        return ModelDict(model, flicker);
    }

    py::object BackgroundImage() {
        std::vector<std::uint8_t> bgr;
        std::int32_t H = 0, W = 0;
        bool have;
        {
            py::gil_scoped_release release;
            have = subtractor_->BackgroundImage(&bgr, &H, &W);
        }
        if (!have) return py::none();
        py::array_t<std::uint8_t> image({static_cast<py::ssize_t>(H), static_cast<py::ssize_t>(W),
                                         py::ssize_t(3)});
        std::memcpy(image.mutable_data(), bgr.data(), bgr.size());
        return std::move(image);
    }

    py::dict Parameters() const {
        py::dict values;
        for (const ParameterInfo& info : ParameterTable()) {
            const double value = GetParameter(subtractor_->parameters(), info);
            if (info.kind == ParameterKind::Whole)
                values[info.pythonName] = static_cast<long long>(value);
            else
                values[info.pythonName] = value;
        }
        return values;
    }

    int Threads() {
        py::gil_scoped_release release;
        return subtractor_->threads();
    }
    void SetThreads(const py::handle& value) {
        const int threads = ThreadsArgument(value);
        py::gil_scoped_release release;
        subtractor_->SetThreads(threads);
    }
    std::int64_t Frames() {
        py::gil_scoped_release release;
        return subtractor_->framesProcessed();
    }

private:
    std::unique_ptr<Subtractor> subtractor_;
    bool warnedFrameRange_ = false;  // read and written with the GIL held
    std::unique_ptr<py::error_already_set> interrupt_;
};

}  // namespace

template <>
struct Uninitialised<PySubtractor> {
    static constexpr const char* message =
        "this BackgroundSubtractor was never initialised: make one with "
        "corvane.BackgroundSubtractor(...) or corvane.BackgroundSubtractor.from_model(...)";
};

}  // namespace corvane::python

PYBIND11_MODULE(_corvane, m) {
    using namespace corvane::python;
    m.doc() = "Corvane's background subtraction (the compiled part of the corvane package)";
    m.attr("__version__") = CORVANE_VERSION;
    // The core's thread cap, for the batch's checks of --threads.
    m.attr("_max_threads") = corvane::kMaxThreads;
    frameRangeWarning = PyErr_NewExceptionWithDoc(
        "corvane.FrameRangeWarning",
        "apply() was given a floating-point frame whose colours all lie in 0..1; the "
        "subtractor expects 0..255 and its masks come out empty. Given once per subtractor.",
        PyExc_UserWarning, nullptr);
    if (frameRangeWarning == nullptr) throw py::error_already_set();
    m.add_object("FrameRangeWarning", py::handle(frameRangeWarning));
    static const std::string classDoc = ClassDoc();
    py::class_<PySubtractor>(m, "BackgroundSubtractor", classDoc.c_str())
        .def(py::init(&PySubtractor::Create))
        .def_static("from_model", &PySubtractor::FromModel, py::arg("model"),
                    "BackgroundSubtractor.from_model(model, **parameters)\n\n"
                    "A subtractor that continues `model` (a dict with the fields of "
                    "BackgroundSubtractor.model, or of the MATLAB struct, any shapes with the "
                    "right element counts in MATLAB's column-major order). The map's shape "
                    "comes from the model unless map_rows / map_columns are given; the model's "
                    "MinimumVariance and StepSize are kept. ValueError names a missing or "
                    "short field.")
        .def("apply", Checked(&PySubtractor::Apply), py::arg("image"), py::arg("fgmask") = py::none(),
             py::arg("learningRate") = -1, py::arg("learnMask") = py::none(),
             "apply(image, fgmask=None, learningRate=-1, learnMask=None) -> mask\n\n"
             "Segments the next frame of the video: image is H x W x 3, BGR (as "
             "cv2.VideoCapture reads it), H x W x 4 BGRA (the alpha ignored), or grey, H x W or "
             "H x W x 1 (scored as the colour (g, g, g)); uint8, uint16 (scaled to 0..255 as "
             "round(x / 257), as the corvane command scales 16-bit images) or float32/float64 "
             "in 0..255 (a floating frame in 0..1 gives empty masks: FrameRangeWarning, once "
             "per subtractor). Returns the H x W uint8 mask, 255 = foreground, written into "
             "fgmask when one is given.\n"
             "learningRate: -1 learns as the parameters say; 0 learns nothing (the model "
             "stays exactly as it was; the mask is the one the next learning apply() would "
             "give); a rate in (0, 1] is the winning neuron's learning rate (learning_rate) "
             "for this frame alone.\n"
             "learnMask: None, or an H x W bool or uint8 array: where it is not 0 the frame's "
             "colour does not enter the model (the pixel's neurons, their variances and its "
             "prior stay as they were, and it is not absorbed into the background however "
             "long it stands still), while its mask is computed as usual: a person a "
             "detector has found standing still stays foreground.\n"
             "The update runs with the GIL released, on `threads` threads.")
        .def("save", Checked(&PySubtractor::Save), py::arg("path"),
             "save(path)\n\nWrites the model, what the subtractor keeps between frames and "
             "its parameters to `path`, a MATLAB MAT-file (variable `model`, the struct "
             "Corvane and CorvaneDetector take in MATLAB/Octave, and corvane segment "
             "--resume reads). Written whole or not at all. ValueError before the first "
             "frame, OSError when the file cannot be written.")
        .def_static("load", &PySubtractor::Load, py::arg("path"),
                    "BackgroundSubtractor.load(path, **parameters)\n\n"
                    "A subtractor that goes on from the model file `path` (saved by save(), "
                    "corvane segment --save-model, or MATLAB's save(path, 'model')) exactly "
                    "as the saved one would have, with the parameters saved with it; keywords "
                    "change those. ValueError for a file that is not a whole model, OSError "
                    "when it cannot be read.")
        .def(py::pickle([](PySubtractor& self) { return self.State(); },
                        [](const py::tuple& state) { return PySubtractor::FromState(state); }))
        .def("getBackgroundImage", Checked(&PySubtractor::BackgroundImage),
             "getBackgroundImage() -> H x W x 3 uint8 BGR image, or None before the first "
             "frame\n\nEvery pixel's background colour: the mean of its K neurons' colours, "
             "rounded to the nearest integer.")
        .def_property_readonly("probability", Checked(&PySubtractor::Probability),
                               "The last frame's smoothed foreground probability, H x W "
                               "float64 (None before the first frame).")
        .def_property_readonly("model", Checked(&PySubtractor::Model),
                               "A copy of the model as a dict of float64 arrays with the MATLAB "
                               "struct's field names and shapes (Mu 3 x K x N, Sigma2 K x N, "
                               "Cov 4 x N, per-pixel fields H x W, scalars 1 x 1), in "
                               "column-major order; None before the first frame.")
        .def_property_readonly("parameters", Checked(&PySubtractor::Parameters),
                               "The parameters, by their Python names.")
        .def_property_readonly("frames", Checked(&PySubtractor::Frames),
                               "Frames this subtractor learnt from since it was made "
                               "(learningRate=0 calls are not counted). A subtractor from "
                               "from_model starts at 0; the model's own frame number, which "
                               "goes on from the saved one, is model['CurrentFrame'].")
        .def_property("threads", Checked(&PySubtractor::Threads),
                      Checked(&PySubtractor::SetThreads),
                      "Threads the update runs on; 0 = every hardware thread.");
    m.def("parameters", &ParameterList,
          "The parameter table: one dict per parameter (name, default, allowed, unit, help, "
          "and its names as a command option and in MATLAB).");
    m.def("model_fields", &ModelFieldList,
          "The model's fields in the order of the MATLAB struct: one dict per field (name, "
          "MATLAB shape such as '3 x K x N', element count such as '3*K*N', and whether an "
          "update writes it).");
}
