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
#include <type_traits>
#include <utility>
#include <vector>

#include "ModelCheck.h"
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

[[noreturn]] void ThrowValue(const std::string& message) { throw py::value_error(message); }
[[noreturn]] void ThrowType(const std::string& message) { throw py::type_error(message); }
// MemoryError with a message that says what did not fit.
[[noreturn]] void ThrowMemory(const std::string& message) {
    PyErr_SetString(PyExc_MemoryError, message.c_str());
    throw py::error_already_set();
}

std::string TypeName(const py::handle& value) {
    return py::str(py::type::of(value).attr("__name__")).cast<std::string>();
}

// A keyword's value as a double: Python and NumPy numbers, not bools.
double NumberArgument(const std::string& name, const py::handle& value) {
    // Plain floats and ints first: apply() reads one every frame.
    if (PyFloat_CheckExact(value.ptr())) return PyFloat_AS_DOUBLE(value.ptr());
    if (PyLong_CheckExact(value.ptr())) {
        const double number = PyLong_AsDouble(value.ptr());
        if (number == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            ThrowValue(name + " is too large: " + py::str(value).cast<std::string>().substr(0, 40));
        }
        return number;
    }
    if (py::isinstance<py::bool_>(value) || py::isinstance(value, py::module_::import("numpy").attr("bool_")))
        ThrowType(name + " must be a number, not a bool");
    if (!py::hasattr(value, "__float__") || py::isinstance<py::str>(value))
        ThrowType(name + " must be a number, not " + TypeName(value));
    try {
        return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
    } catch (py::error_already_set&) {
        ThrowValue(name + " cannot be read as a number");
    }
}

// The table's message with the Python names: "map_rows must be a whole
// number from 1 to 8; it is 9".
std::string PythonMessage(const ParameterProblem& problem) {
    if (problem.parameter == nullptr) return problem.message;
    std::string allowed = problem.allowed;
    if (problem.parameter->atLeast != nullptr && allowed.rfind("at least ", 0) == 0) {
        const ParameterInfo* other = FindParameter(problem.parameter->atLeast);
        allowed = std::string("at least ") + other->pythonName + " (" +
                  allowed.substr(allowed.find('(') + 1);
    }
    return std::string(problem.parameter->pythonName) + " must be " + allowed + "; it is " +
           FormatParameterValue(problem.value);
}

int ThreadsArgument(const py::handle& value) {
    const double threads = NumberArgument("threads", value);
    if (!(threads >= 0 && threads <= kMaxThreads && threads == std::trunc(threads)))
        ThrowValue("threads must be a whole number from 0 to " + std::to_string(kMaxThreads) +
                   " (0: every hardware thread); it is " + FormatParameterValue(threads));
    return static_cast<int>(threads);
}

struct Settings {
    ModelParameters parameters;
    int threads = 0;
    bool mapRowsGiven = false, mapColumnsGiven = false;
};

Settings ReadSettings(const py::kwargs& keywords) {
    Settings settings;
    for (const auto& item : keywords) {
        const std::string name = py::str(item.first).cast<std::string>();
        if (name == "threads") {
            settings.threads = ThreadsArgument(item.second);
            continue;
        }
        const ParameterInfo* info = FindParameterByPythonName(name);
        if (info == nullptr) {
            std::string hint;
            if (const ParameterInfo* other = FindParameter(name))
                hint = " (did you mean " + std::string(other->pythonName) + "?)";
            ThrowType("BackgroundSubtractor got an unexpected keyword argument '" + name + "'" +
                      hint + "; help(corvane.BackgroundSubtractor) lists the parameters");
        }
        const ParameterProblem problem =
            SetParameter(settings.parameters, *info, NumberArgument(name, item.second));
        if (!problem.ok()) ThrowValue(PythonMessage(problem));
        settings.mapRowsGiven = settings.mapRowsGiven || info->whole == &ModelParameters::mapRows;
        settings.mapColumnsGiven =
            settings.mapColumnsGiven || info->whole == &ModelParameters::mapColumns;
    }
    const ParameterProblem problem = ValidateParameters(settings.parameters);
    if (!problem.ok()) ThrowValue(PythonMessage(problem));
    return settings;
}

// The class's docstring: every parameter with its meaning, unit, default and
// allowed values, from the one table.
std::string ClassDoc() {
    std::string doc =
        "BackgroundSubtractor(**parameters)\n\n"
        "Corvane's background subtraction of one video, with OpenCV's interface:\n\n"
        "    sub = corvane.BackgroundSubtractor()\n"
        "    mask = sub.apply(frame)     # H x W x 3 uint8 BGR in, H x W uint8 (0/255) out\n\n"
        "Every keyword is optional; the defaults are one setting for every video.\n\n"
        "Parameters\n----------\n";
    for (const ParameterInfo& info : ParameterTable()) {
        doc += std::string(info.pythonName) + " (" + info.placeholder + ") : " +
               (info.kind == ParameterKind::Whole ? "int" : "float") + ", default " +
               FormatParameterValue(DefaultParameter(info)) + "\n    " + info.help;
        if (info.unit[0] != '\0') doc += std::string(" (") + info.unit + ")";
        doc += "; " + DescribeAllowed(info);
        if (info.atLeast != nullptr)
            doc += std::string(", at least ") + FindParameter(info.atLeast)->pythonName;
        doc += "\n";
    }
    doc += "threads : int, default 0\n"
           "    threads the update runs on, 0 = every hardware thread; every count gives the "
           "same bits\n";
    return doc;
}

// ---- frames and masks -------------------------------------------------------

struct CheckedFrame {
    py::array array;  // kept alive while the view is read
    ImageView view;
};

CheckedFrame CheckFrame(const py::handle& frame) {
    if (!py::isinstance<py::array>(frame))
        ThrowType("frame must be a NumPy array (H x W x 3, BGR), not " + TypeName(frame));
    CheckedFrame checked;
    checked.array = py::reinterpret_borrow<py::array>(frame);
    py::dtype dtype = checked.array.dtype();
    const char kind = dtype.kind();
    const std::string name = py::str(dtype).cast<std::string>();
    PixelType type;
    if (kind == 'u' && dtype.itemsize() == 1) {
        type = PixelType::Uint8;
    } else if (kind == 'f' && (dtype.itemsize() == 4 || dtype.itemsize() == 8)) {
        type = dtype.itemsize() == 4 ? PixelType::Float32 : PixelType::Float64;
        // Another byte order: a native copy.
        if (!dtype.attr("isnative").cast<bool>())
            checked.array = checked.array.attr("astype")(dtype.attr("newbyteorder")("="));
    } else {
        ThrowValue("frame must be uint8 (0..255), float32 or float64 (0..255); it is " + name);
    }
    const py::array& a = checked.array;
    if (a.ndim() != 3 || a.shape(2) != 3) {
        std::string shape = "(";
        for (py::ssize_t i = 0; i < a.ndim(); ++i)
            shape += (i ? ", " : "") + std::to_string(a.shape(i));
        shape += a.ndim() == 1 ? ",)" : ")";
        ThrowValue("frame must be H x W x 3 (a colour image in BGR order, as cv2.VideoCapture "
                   "reads it); its shape is " + shape);
    }
    if (a.shape(0) < 1 || a.shape(1) < 1)
        ThrowValue("frame has no pixels: its shape is (" + std::to_string(a.shape(0)) + ", " +
                   std::to_string(a.shape(1)) + ", 3)");
    checked.view.data = static_cast<const char*>(a.data());
    checked.view.type = type;
    checked.view.rows = a.shape(0);
    checked.view.columns = a.shape(1);
    for (int i = 0; i < 3; ++i) checked.view.strides[i] = a.strides(i);
    return checked;
}

// ---- the model as a dict ----------------------------------------------------

py::array FortranArray(std::vector<py::ssize_t> shape, const double* values, std::size_t count) {
    py::array_t<double, py::array::f_style> array(shape);
    if (count > 0) std::memcpy(array.mutable_data(), values, count * sizeof(double));
    return std::move(array);
}

py::dict ModelDict(const OwnedModel& m, const FlickerState& flicker) {
    const ModelSizes sizes = SizesOf(m);
    const py::ssize_t H = sizes.H, W = sizes.W, N = sizes.N;
    // Every field of the table, in its MATLAB shape.
    const BackgroundModel view = m.ReadView();
    py::dict model;
    for (const ModelField& field : kModelFields) {
        std::int64_t extents[3];
        const int dimensions = FieldDimensions(field, sizes, extents);
        const DoubleView& values = view.*field.view;
        const std::uint64_t elements = FieldElements(field, sizes);
        const std::size_t count = static_cast<std::size_t>(
            static_cast<std::uint64_t>(values.count) < elements ? values.count : elements);
        model[field.name] = FortranArray(
            std::vector<py::ssize_t>(extents, extents + dimensions), values.data, count);
    }
    // What the detector keeps between frames (StreamFields(): H x W planes),
    // so that from_model continues exactly; the MATLAB
    // struct call ignores these fields.
    const std::size_t n = static_cast<std::size_t>(N);
    bool complete = true;
    for (const StreamField& field : StreamFields())
        complete = complete && (flicker.*field.values).size() == n * field.planes;
    if (complete)
        for (const StreamField& field : StreamFields()) {
            const std::vector<double>& values = flicker.*field.values;
            model[field.name] =
                field.planes == 1 ? FortranArray({H, W}, values.data(), values.size())
                                  : FortranArray({H, W, field.planes}, values.data(), values.size());
        }
    return model;
}

// A field as a fresh 1-D float64 array in MATLAB's element order
// (column-major); ValueError when it is not an array of real numbers.
py::array FlatField(const py::handle& model, const char* name) {
    py::module_ numpy = py::module_::import("numpy");
    py::object value = model.attr("__getitem__")(name);
    py::array raw;
    try {
        raw = numpy.attr("asarray")(value);
    } catch (py::error_already_set&) {
        ThrowValue(std::string("the model's field ") + name + " is not an array of numbers");
    }
    const char kind = raw.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b')
        ThrowValue(std::string("the model's field ") + name +
                   " must hold real numbers; its dtype is " +
                   py::str(raw.dtype()).cast<std::string>());
    return numpy.attr("array")(raw, py::arg("dtype") = "float64", py::arg("order") = "F",
                               py::arg("copy") = true)
        .attr("ravel")("F");
}

bool HasField(const py::handle& model, const char* name) {
    return model.attr("__contains__")(name).cast<bool>();
}

// Every field of the model, kept alive by `keep`, viewed by the returned
// model; the flicker tracking into `flicker` when the model has it.
BackgroundModel ModelFromDict(const py::handle& model, std::vector<py::array>* keep,
                              FlickerState* flicker, bool* hasFlicker) {
    if (!py::isinstance<py::dict>(model) &&
        !py::isinstance(model, py::module_::import("collections.abc").attr("Mapping")))
        ThrowType("model must be a dict of NumPy arrays (BackgroundSubtractor.model), not " +
                  TypeName(model));
    BackgroundModel view;
    for (const ModelField& field : kModelFields) {
        if (!HasField(model, field.name))
            ThrowValue(std::string("the model has no field ") + field.name);
        py::array flat = FlatField(model, field.name);
        keep->push_back(flat);
        view.*field.view = DoubleView{static_cast<double*>(flat.mutable_data()),
                                      static_cast<std::int64_t>(flat.size())};
    }
    std::size_t present = 0;
    std::string names;
    for (const StreamField& field : StreamFields()) {
        present += HasField(model, field.name) ? 1 : 0;
        names += std::string(names.empty() ? "" : ", ") + field.name;
    }
    *hasFlicker = present == StreamFields().size();
    if (present != 0 && !*hasFlicker)
        ThrowValue("the model has only part of what the detector keeps between frames: " + names +
                   " go together");
    if (*hasFlicker) {
        for (const StreamField& field : StreamFields()) {
            py::array flat = FlatField(model, field.name);
            const double* data = static_cast<const double*>(flat.data());
            (flicker->*field.values).assign(data, data + flat.size());
        }
    }
    return view;
}

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

    py::object Apply(const py::handle& frame, const py::handle& fgmask,
                     const py::handle& learningRateArgument) {
        RaiseInterrupt();
        const double learningRate = NumberArgument("learningRate", learningRateArgument);
        if (std::isnan(learningRate) || learningRate > 1)
            ThrowValue("learningRate must be -1 (learn as the parameters say), 0 (learn "
                       "nothing) or a rate above 0 and at most 1; it is " +
                       FormatParameterValue(learningRate));
        CheckedFrame checked = CheckFrame(frame);
        const py::ssize_t H = checked.view.rows, W = checked.view.columns;
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
        if (!warnedFrameRange_ && checked.view.type != PixelType::Uint8) {
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
                                         &error);
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

// The corvane command's per-frame work on an 8-bit BGR frame, without the
// Python host around it: the frame into the model's layout, Detector::Process,
// the mask into row order. For the benchmark that sets apply() beside it; the
// frame must be a C-contiguous H x W x 3 uint8 array of the first frame's size
// (checked, but nothing else is).
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

// The field table: one dict per field of the model.
py::list ModelFieldList() {
    py::list fields;
    for (const ModelField& field : kModelFields) {
        py::dict entry;
        entry["name"] = field.name;
        entry["shape"] = FieldShapeText(field);
        entry["elements"] = FieldElementsFormula(field);
        entry["written"] = field.written;
        fields.append(entry);
    }
    return fields;
}

// A method of an initialised object. BackgroundSubtractor.__new__ (or a
// subclass whose __init__ never calls the base's) makes an object with nothing
// behind it: pybind11 would hand the method uninitialised memory as self. The
// methods take the Python object instead and look for the C++ object in it.
template <class T>
T& Initialised(py::handle self) {
    if (!py::isinstance(self, py::type::of<T>()))
        ThrowType("the method needs a " +
                  py::str(py::type::of<T>().attr("__name__")).cast<std::string>() +
                  ", not " + TypeName(self));
    auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
    py::detail::value_and_holder held =
        instance->get_value_and_holder(py::detail::get_type_info(typeid(T)));
    if (!held.holder_constructed())
        ThrowType(std::is_same<T, PySubtractor>::value
                      ? "this BackgroundSubtractor was never initialised: make one with "
                        "corvane.BackgroundSubtractor(...) or "
                        "corvane.BackgroundSubtractor.from_model(...)"
                      : "this object was never initialised");
    return *static_cast<T*>(held.value_ptr());
}

template <class T, class R, class... Arguments>
auto Checked(R (T::*method)(Arguments...)) {
    return [method](py::handle self, Arguments... arguments) -> R {
        return (Initialised<T>(self).*method)(std::forward<Arguments>(arguments)...);
    };
}

template <class T, class R, class... Arguments>
auto Checked(R (T::*method)(Arguments...) const) {
    return [method](py::handle self, Arguments... arguments) -> R {
        return (Initialised<T>(self).*method)(std::forward<Arguments>(arguments)...);
    };
}

py::list ParameterList() {
    py::list list;
    for (const ParameterInfo& info : ParameterTable()) {
        py::dict entry;
        entry["name"] = info.pythonName;
        entry["default"] = info.kind == ParameterKind::Whole
                               ? py::object(py::int_(static_cast<long long>(DefaultParameter(info))))
                               : py::object(py::float_(DefaultParameter(info)));
        entry["allowed"] = DescribeAllowed(info);
        entry["unit"] = info.unit;
        entry["help"] = info.help;
        entry["option"] = info.option;
        entry["matlab"] = info.name;
        list.append(entry);
    }
    return list;
}

}  // namespace

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
             py::arg("learningRate") = -1,
             "apply(image, fgmask=None, learningRate=-1) -> mask\n\n"
             "Segments the next frame of the video: image is H x W x 3, BGR (as "
             "cv2.VideoCapture reads it), uint8 or float32/float64 in 0..255 (a floating frame "
             "in 0..1 gives empty masks: FrameRangeWarning, once per subtractor). Returns the H x W "
             "uint8 mask, 255 = foreground, written into fgmask when one is given.\n"
             "learningRate: -1 learns as the parameters say; 0 learns nothing (the model "
             "stays exactly as it was; the mask is the one the next learning apply() would "
             "give); a rate in (0, 1] is the winning neuron's learning rate (learning_rate) "
             "for this frame alone.\n"
             "The update runs with the GIL released, on `threads` threads.")
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
    py::class_<CommandStep>(m, "_CommandStep",
                            "The corvane command's per-frame work without the Python host, "
                            "for benchmarks: _CommandStep(threads, **parameters).process(bgr)")
        .def(py::init<int, const py::kwargs&>())
        .def("process", Checked(&CommandStep::Process))
        .def_property_readonly("mask", Checked(&CommandStep::Mask));
    m.def("parameters", &ParameterList,
          "The parameter table: one dict per parameter (name, default, allowed, unit, help, "
          "and its names as a command option and in MATLAB).");
    m.def("model_fields", &ModelFieldList,
          "The model's fields in the order of the MATLAB struct: one dict per field (name, "
          "MATLAB shape such as '3 x K x N', element count such as '3*K*N', and whether an "
          "update writes it).");
}
