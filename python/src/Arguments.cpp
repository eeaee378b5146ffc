#include "Arguments.h"

#include <cmath>
#include <string>

#include "UpdateModel.h"

namespace corvane::python {

[[noreturn]] void ThrowValue(const std::string& message) { throw py::value_error(message); }
[[noreturn]] void ThrowType(const std::string& message) { throw py::type_error(message); }
[[noreturn]] void ThrowMemory(const std::string& message) {
    PyErr_SetString(PyExc_MemoryError, message.c_str());
    throw py::error_already_set();
}

std::string TypeName(const py::handle& value) {
    return py::str(py::type::of(value).attr("__name__")).cast<std::string>();
}

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

namespace {

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

}  // namespace

int ThreadsArgument(const py::handle& value) {
    const double threads = NumberArgument("threads", value);
    if (!(threads >= 0 && threads <= kMaxThreads && threads == std::trunc(threads)))
        ThrowValue("threads must be a whole number from 0 to " + std::to_string(kMaxThreads) +
                   " (0: every hardware thread); it is " + FormatParameterValue(threads));
    return static_cast<int>(threads);
}

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
}  // namespace corvane::python
