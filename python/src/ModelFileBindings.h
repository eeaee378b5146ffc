// What BackgroundSubtractor's save(), load() and pickling need from Python:
// the path argument, the model file read with the GIL released, the
// parameters of a saved subtractor with keywords on top, and the exceptions
// a model file's problems become (OSError for the file system, ValueError
// for what the file holds).
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "Arguments.h"
#include "ModelFile.h"
#include "Subtractor.h"

namespace corvane::python {

namespace py = pybind11;

// A str or os.PathLike path; TypeError otherwise.
std::string PathArgument(const py::handle& path);

// The model file at `path`, or the bytes of one; ValueError or OSError with
// the reason.
SavedDetector ReadSavedFile(const py::handle& path);
SavedDetector ReadSavedBytes(const std::string& bytes);

// The settings of a subtractor that goes on from `saved`: its parameters
// (a file without them: the defaults with the map of its model), each
// parameter given as a keyword in place of the saved one, and the threads.
Settings SettingsForSaved(const SavedDetector& saved, const py::kwargs& keywords);

// Raises the exception of a failed save (nothing for Failure::None).
void RaiseFileFailure(Failure failure, const std::string& error);

}  // namespace corvane::python
