// A frame given to apply(): a NumPy array of any camera (grey, BGR, BGRA;
// uint8, uint16, float32, float64) checked and seen as a HostFrame (any
// strides, native byte order).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "Subtractor.h"

namespace corvane::python {

namespace py = pybind11;

struct CheckedFrame {
    py::array array;  // kept alive while the view is read
    HostFrame view;
};

// TypeError when `frame` is not an array, ValueError naming its dtype or
// shape and what is taken when it is not one apply() takes.
CheckedFrame CheckFrame(const py::handle& frame);

}  // namespace corvane::python
