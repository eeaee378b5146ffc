// The model as Python sees it: a dict of float64 arrays with the MATLAB
// struct's field names and shapes, and back.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "Subtractor.h"

namespace corvane::python {

namespace py = pybind11;

// A copy of the model (every field of the table, in its MATLAB shape, in
// column-major order) and of what the detector keeps between frames.
py::dict ModelDict(const OwnedModel& m, const FlickerState& flicker);

// Every field of the model, kept alive by `keep`, viewed by the returned
// model; the flicker tracking into `flicker` when the model has it.
// TypeError for what is not a mapping, ValueError for a missing field.
BackgroundModel ModelFromDict(const py::handle& model, std::vector<py::array>* keep,
                              FlickerState* flicker, bool* hasFlicker);

}  // namespace corvane::python
