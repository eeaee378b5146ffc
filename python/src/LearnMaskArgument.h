// A learn mask given to apply(learnMask=...): an H x W NumPy array of bool or
// uint8, checked against the frame's size and seen as a LearnMaskView.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "Subtractor.h"

namespace corvane::python {

namespace py = pybind11;

struct CheckedLearnMask {
    py::array array;  // kept alive while the view is read
    LearnMaskView view;
    bool given = false;
};

// Nothing for None; TypeError for what is not an array, ValueError naming
// its dtype or shape when it is not H x W bool or uint8.
CheckedLearnMask CheckLearnMask(const py::handle& learnMask, py::ssize_t H, py::ssize_t W);

}  // namespace corvane::python
