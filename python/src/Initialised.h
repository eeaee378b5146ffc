// Methods bound so that an object made without its __init__ is refused.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>

#include "Arguments.h"

namespace corvane::python {

namespace py = pybind11;

// What an uninitialised object's methods raise; a class may say more by a
// specialisation.
template <class T>
struct Uninitialised {
    static constexpr const char* message = "this object was never initialised";
};

// A method of an initialised object. BackgroundSubtractor.__new__ (or a
// subclass whose __init__ never calls the base's) makes an object with nothing
// behind it: pybind11 would hand the method uninitialised memory as self. The
// methods take the Python object instead and look for the C++ object in it.
template <class T>
T& Initialised(py::handle self) {
    if (!py::isinstance(self, py::type::of<T>()))
        ThrowType("the method needs a " +
                  py::str(py::type::of<T>().attr("__name__")).cast<std::string>() +
                  ", not " + TypeName(self));
    auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
    py::detail::value_and_holder held =
        instance->get_value_and_holder(py::detail::get_type_info(typeid(T)));
    if (!held.holder_constructed())
        ThrowType(Uninitialised<T>::message);
    return *static_cast<T*>(held.value_ptr());
}

template <class T, class R, class... Arguments>
auto Checked(R (T::*method)(Arguments...)) {
    return [method](py::handle self, Arguments... arguments) -> R {
        return (Initialised<T>(self).*method)(std::forward<Arguments>(arguments)...);
    };
}

template <class T, class R, class... Arguments>
auto Checked(R (T::*method)(Arguments...) const) {
    return [method](py::handle self, Arguments... arguments) -> R {
        return (Initialised<T>(self).*method)(std::forward<Arguments>(arguments)...);
    };
}
}  // namespace corvane::python
