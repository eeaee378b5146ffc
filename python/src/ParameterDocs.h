// What the module says about itself from the tables: the class's docstring
// with every parameter, the parameter table and the model's fields as lists
// of dicts.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace corvane::python {

namespace py = pybind11;

// The class's docstring: every parameter with its meaning, unit, default and
// allowed values, from the one table.
std::string ClassDoc();

// The parameter table: one dict per parameter.
py::list ParameterList();

// The field table: one dict per field of the model.
py::list ModelFieldList();

}  // namespace corvane::python
