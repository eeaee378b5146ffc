#include "FrameArgument.h"

#include <string>

#include "Arguments.h"

namespace corvane::python {

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
}  // namespace corvane::python
