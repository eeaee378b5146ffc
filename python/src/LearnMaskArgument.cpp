#include "LearnMaskArgument.h"

#include <string>

#include "Arguments.h"

namespace corvane::python {

CheckedLearnMask CheckLearnMask(const py::handle& learnMask, py::ssize_t H, py::ssize_t W) {
    CheckedLearnMask checked;
    if (learnMask.is_none()) return checked;
    if (!py::isinstance<py::array>(learnMask))
        ThrowType("learnMask must be a NumPy array (H x W, bool or uint8) or None, not " +
                  TypeName(learnMask));
    checked.array = py::reinterpret_borrow<py::array>(learnMask);
    py::dtype dtype = checked.array.dtype();
    if (!((dtype.kind() == 'b' || dtype.kind() == 'u') && dtype.itemsize() == 1))
        ThrowValue("learnMask must be bool or uint8 (not 0: do not learn this pixel); it is " +
                   py::str(dtype).cast<std::string>());
    const py::array& a = checked.array;
    if (a.ndim() != 2 || a.shape(0) != H || a.shape(1) != W) {
        std::string shape = "(";
        for (py::ssize_t i = 0; i < a.ndim(); ++i)
            shape += (i ? ", " : "") + std::to_string(a.shape(i));
        shape += a.ndim() == 1 ? ",)" : ")";
        ThrowValue("learnMask must be " + std::to_string(H) + " x " + std::to_string(W) +
                   ", the frame's size; its shape is " + shape);
    }
    checked.view.data = static_cast<const char*>(a.data());
    checked.view.strides[0] = a.strides(0);
    checked.view.strides[1] = a.strides(1);
    checked.given = true;
    return checked;
}

}  // namespace corvane::python
