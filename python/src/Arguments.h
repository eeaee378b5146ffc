// The Python module's arguments: numbers and thread counts read from Python
// objects, the parameters from keywords, and the exceptions they raise
// (ValueError, TypeError, MemoryError) with messages in Python's names.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "ParameterTable.h"

namespace corvane::python {

namespace py = pybind11;

[[noreturn]] void ThrowValue(const std::string& message);
[[noreturn]] void ThrowType(const std::string& message);
// MemoryError with a message that says what did not fit.
[[noreturn]] void ThrowMemory(const std::string& message);

// The name of a value's type, for messages.
std::string TypeName(const py::handle& value);

// A keyword's value as a double: Python and NumPy numbers, not bools.
double NumberArgument(const std::string& name, const py::handle& value);

// A thread count from 0 (every hardware thread) to the core's cap.
int ThreadsArgument(const py::handle& value);

struct Settings {
    ModelParameters parameters;
    int threads = 0;
    bool mapRowsGiven = false, mapColumnsGiven = false;
};

// The parameters and thread count from BackgroundSubtractor's keywords,
// checked against the parameter table.
Settings ReadSettings(const py::kwargs& keywords);

}  // namespace corvane::python
