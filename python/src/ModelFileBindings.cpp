#include "ModelFileBindings.h"

#include "ParameterTable.h"

namespace corvane::python {

namespace {

// A problem of the file system ("cannot read ...", "cannot write ...") is an
// OSError; anything about the contents a ValueError.
[[noreturn]] void ThrowFileProblem(const std::string& error) {
    if (error.rfind("cannot ", 0) == 0) {
        PyErr_SetString(PyExc_OSError, error.c_str());
        throw py::error_already_set();
    }
    ThrowValue(error);
}

}  // namespace

std::string PathArgument(const py::handle& path) {
    py::object name;
    try {
        name = py::module_::import("os").attr("fspath")(path);
    } catch (py::error_already_set&) {
        ThrowType("path must be a str or an os.PathLike, not " + TypeName(path));
    }
    if (!py::isinstance<py::str>(name))
        ThrowType("path must be a str or an os.PathLike giving a str, not " + TypeName(name));
    return name.cast<std::string>();
}

SavedDetector ReadSavedFile(const py::handle& path) {
    const std::string name = PathArgument(path);
    SavedDetector saved;
    std::string error;
    bool read;
    {
        py::gil_scoped_release release;
        read = ReadModelFile(name, &saved, &error);
    }
    if (!read) ThrowFileProblem(error);
    return saved;
}

SavedDetector ReadSavedBytes(const std::string& bytes) {
    SavedDetector saved;
    std::string error;
    bool read;
    {
        py::gil_scoped_release release;
        read = ReadModelBytes(bytes, &saved, &error);
    }
    if (!read) ThrowValue(error);
    return saved;
}

Settings SettingsForSaved(const SavedDetector& saved, const py::kwargs& keywords) {
    const Settings given = ReadSettings(keywords);
    Settings settings = given;
    if (saved.hasParameters) {
        settings.parameters = saved.parameters;
    } else {
        settings.parameters.mapRows = static_cast<std::int32_t>(saved.model.NumMapRows);
        settings.parameters.mapColumns = static_cast<std::int32_t>(saved.model.NumMapColumns);
    }
    for (const auto& item : keywords) {
        const ParameterInfo* info = FindParameterByPythonName(py::str(item.first));
        if (info == nullptr) continue;  // threads
        const ParameterProblem problem =
            SetParameter(settings.parameters, *info, GetParameter(given.parameters, *info));
        if (!problem.ok()) ThrowValue(problem.message);
    }
    const ParameterProblem problem = ValidateParameters(settings.parameters);
    if (!problem.ok()) ThrowValue(problem.message);
    return settings;
}

void RaiseFileFailure(Failure failure, const std::string& error) {
    if (failure == Failure::Memory) ThrowMemory(error);
    if (failure != Failure::None) ThrowFileProblem(error);
}

}  // namespace corvane::python
