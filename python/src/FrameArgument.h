// A frame given to apply(): a NumPy array checked and seen as an ImageView
// (any strides, native byte order).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "Subtractor.h"

namespace corvane::python {

namespace py = pybind11;

struct CheckedFrame {
    py::array array;  // kept alive while the view is read
    ImageView view;
};

// TypeError when `frame` is not an array, ValueError naming its dtype or
// shape when it is not one apply() takes.
CheckedFrame CheckFrame(const py::handle& frame);

}  // namespace corvane::python
