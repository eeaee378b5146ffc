#include "ModelDict.h"

#include <cstring>
#include <string>
#include <utility>

#include "Arguments.h"
#include "ModelFieldList.h"

namespace corvane::python {

namespace {

py::array FortranArray(std::vector<py::ssize_t> shape, const double* values, std::size_t count) {
    py::array_t<double, py::array::f_style> array(shape);
    if (count > 0) std::memcpy(array.mutable_data(), values, count * sizeof(double));
    return std::move(array);
}

}  // namespace

py::dict ModelDict(const OwnedModel& m, const FlickerState& flicker) {
    const ModelSizes sizes = SizesOf(m);
    const py::ssize_t H = sizes.H, W = sizes.W, N = sizes.N;
    // Every field of the table, in its MATLAB shape.
    const BackgroundModel view = m.ReadView();
    py::dict model;
    for (const ModelField& field : kModelFields) {
        std::int64_t extents[3];
        const int dimensions = FieldDimensions(field, sizes, extents);
        const DoubleView& values = view.*field.view;
        const std::uint64_t elements = FieldElements(field, sizes);
        const std::size_t count = static_cast<std::size_t>(
            static_cast<std::uint64_t>(values.count) < elements ? values.count : elements);
        model[field.name] = FortranArray(
            std::vector<py::ssize_t>(extents, extents + dimensions), values.data, count);
    }
    // What the detector keeps between frames (StreamFields(): H x W planes),
    // so that from_model continues exactly; the MATLAB
    // struct call ignores these fields.
    const std::size_t n = static_cast<std::size_t>(N);
    bool complete = true;
    for (const StreamField& field : StreamFields())
        complete = complete && (flicker.*field.values).size() == n * field.planes;
    if (complete)
        for (const StreamField& field : StreamFields()) {
            const std::vector<double>& values = flicker.*field.values;
            model[field.name] =
                field.planes == 1 ? FortranArray({H, W}, values.data(), values.size())
                                  : FortranArray({H, W, field.planes}, values.data(), values.size());
        }
    return model;
}

namespace {

// A field as a fresh 1-D float64 array in MATLAB's element order
// (column-major); ValueError when it is not an array of real numbers.
py::array FlatField(const py::handle& model, const char* name) {
    py::module_ numpy = py::module_::import("numpy");
    py::object value = model.attr("__getitem__")(name);
    py::array raw;
    try {
        raw = numpy.attr("asarray")(value);
    } catch (py::error_already_set&) {
        ThrowValue(std::string("the model's field ") + name + " is not an array of numbers");
    }
    const char kind = raw.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b')
        ThrowValue(std::string("the model's field ") + name +
                   " must hold real numbers; its dtype is " +
                   py::str(raw.dtype()).cast<std::string>());
    return numpy.attr("array")(raw, py::arg("dtype") = "float64", py::arg("order") = "F",
                               py::arg("copy") = true)
        .attr("ravel")("F");
}

bool HasField(const py::handle& model, const char* name) {
    return model.attr("__contains__")(name).cast<bool>();
}

}  // namespace

BackgroundModel ModelFromDict(const py::handle& model, std::vector<py::array>* keep,
                              FlickerState* flicker, bool* hasFlicker) {
    if (!py::isinstance<py::dict>(model) &&
        !py::isinstance(model, py::module_::import("collections.abc").attr("Mapping")))
        ThrowType("model must be a dict of NumPy arrays (BackgroundSubtractor.model), not " +
                  TypeName(model));
    BackgroundModel view;
    for (const ModelField& field : kModelFields) {
        if (!HasField(model, field.name))
            ThrowValue(std::string("the model has no field ") + field.name);
        py::array flat = FlatField(model, field.name);
        keep->push_back(flat);
        view.*field.view = DoubleView{static_cast<double*>(flat.mutable_data()),
                                      static_cast<std::int64_t>(flat.size())};
    }
    std::size_t present = 0;
    std::string names;
    for (const StreamField& field : StreamFields()) {
        present += HasField(model, field.name) ? 1 : 0;
        names += std::string(names.empty() ? "" : ", ") + field.name;
    }
    *hasFlicker = present == StreamFields().size();
    if (present != 0 && !*hasFlicker)
        ThrowValue("the model has only part of what the detector keeps between frames: " + names +
                   " go together");
    if (*hasFlicker) {
        for (const StreamField& field : StreamFields()) {
            py::array flat = FlatField(model, field.name);
            const double* data = static_cast<const double*>(flat.data());
            (flicker->*field.values).assign(data, data + flat.size());
        }
    }
    return view;
}
}  // namespace corvane::python
