#include "FrameArgument.h"

#include <string>

#include "Arguments.h"

namespace corvane::python {

namespace {

const char* const kFramesTaken =
    "H x W (grey), H x W x 1, H x W x 3 (BGR, as cv2.VideoCapture reads it) or H x W x 4 "
    "(BGRA, the alpha ignored)";

std::string ShapeText(const py::array& a) {
    std::string shape = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) shape += (i ? ", " : "") + std::to_string(a.shape(i));
    return shape + (a.ndim() == 1 ? ",)" : ")");
}

}  // namespace

CheckedFrame CheckFrame(const py::handle& frame) {
    if (!py::isinstance<py::array>(frame))
        ThrowType("frame must be a NumPy array (" + std::string(kFramesTaken) + "), not " +
                  TypeName(frame));
    CheckedFrame checked;
    checked.array = py::reinterpret_borrow<py::array>(frame);
    py::dtype dtype = checked.array.dtype();
    const char kind = dtype.kind();
    const std::string name = py::str(dtype).cast<std::string>();
    SampleType type;
    if (kind == 'u' && dtype.itemsize() == 1) {
        type = SampleType::Uint8;
    } else if (kind == 'u' && dtype.itemsize() == 2) {
        type = SampleType::Uint16;
    } else if (kind == 'f' && (dtype.itemsize() == 4 || dtype.itemsize() == 8)) {
        type = dtype.itemsize() == 4 ? SampleType::Float32 : SampleType::Float64;
    } else {
        ThrowValue("frame must be uint8 (0..255), uint16 (0..65535, scaled to 0..255 by 257), "
                   "float32 or float64 (0..255); it is " + name);
    }
    // Another byte order: a native copy.
    if (type != SampleType::Uint8 && !dtype.attr("isnative").cast<bool>())
        checked.array = checked.array.attr("astype")(dtype.attr("newbyteorder")("="));
    const py::array& a = checked.array;
    const bool grey = a.ndim() == 2;
    if (!grey && !(a.ndim() == 3 && (a.shape(2) == 1 || a.shape(2) == 3 || a.shape(2) == 4)))
        ThrowValue("frame must be " + std::string(kFramesTaken) + "; its shape is " +
                   ShapeText(a));
    if (a.shape(0) < 1 || a.shape(1) < 1)
        ThrowValue("frame has no pixels: its shape is " + ShapeText(a));
    checked.view.data = static_cast<const char*>(a.data());
    checked.view.type = type;
    checked.view.rows = a.shape(0);
    checked.view.columns = a.shape(1);
    checked.view.channels = grey ? 1 : static_cast<int>(a.shape(2));
    checked.view.order = ColourOrder::Bgr;
    checked.view.strides[0] = a.strides(0);
    checked.view.strides[1] = a.strides(1);
    checked.view.strides[2] = grey ? 0 : a.strides(2);
    return checked;
}

}  // namespace corvane::python
