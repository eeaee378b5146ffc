#include "ParameterDocs.h"

#include <string>

#include "ModelFieldList.h"
#include "ParameterTable.h"

namespace corvane::python {

std::string ClassDoc() {
    std::string doc =
        "BackgroundSubtractor(**parameters)\n\n"
        "Corvane's background subtraction of one video, with OpenCV's interface:\n\n"
        "    sub = corvane.BackgroundSubtractor()\n"
        "    mask = sub.apply(frame)     # H x W x 3 uint8 BGR in, H x W uint8 (0/255) out\n\n"
        "Every keyword is optional; the defaults are one setting for every video.\n\n"
        "Parameters\n----------\n";
    for (const ParameterInfo& info : ParameterTable()) {
        doc += std::string(info.pythonName) + " (" + info.placeholder + ") : " +
               (info.kind == ParameterKind::Whole ? "int" : "float") + ", default " +
               FormatParameterValue(DefaultParameter(info)) + "\n    " + info.help;
        if (info.unit[0] != '\0') doc += std::string(" (") + info.unit + ")";
        doc += "; " + DescribeAllowed(info);
        if (info.atLeast != nullptr)
            doc += std::string(", at least ") + FindParameter(info.atLeast)->pythonName;
        doc += "\n";
    }
    doc += "threads : int, default 0\n"
           "    threads the update runs on, 0 = every hardware thread; every count gives the "
           "same bits\n";
    return doc;
}

py::list ParameterList() {
    py::list list;
    for (const ParameterInfo& info : ParameterTable()) {
        py::dict entry;
        entry["name"] = info.pythonName;
        entry["default"] = info.kind == ParameterKind::Whole
                               ? py::object(py::int_(static_cast<long long>(DefaultParameter(info))))
                               : py::object(py::float_(DefaultParameter(info)));
        entry["allowed"] = DescribeAllowed(info);
        entry["unit"] = info.unit;
        entry["help"] = info.help;
        entry["option"] = info.option;
        entry["matlab"] = info.name;
        list.append(entry);
    }
    return list;
}

py::list ModelFieldList() {
    py::list fields;
    for (const ModelField& field : kModelFields) {
        py::dict entry;
        entry["name"] = field.name;
        entry["shape"] = FieldShapeText(field);
        entry["elements"] = FieldElementsFormula(field);
        entry["written"] = field.written;
        fields.append(entry);
    }
    return fields;
}
}  // namespace corvane::python
