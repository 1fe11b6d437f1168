// The module's own ValueErrors (a point off its curve, an inconsistent line function).
#pragma once

#include "py_ref.hpp"

namespace zentorik {

// Raises ValueError(message): the interpreter's own class, called with the message, not
// whatever the name ValueError means in the module namespace.
inline void raise_value_error(const char* message) {
    Ref text = Ref::steal(PyUnicode_FromString(message));
    Ref error = text ? Ref::steal(PyObject_CallOneArg(PyExc_ValueError, text.get())) : Ref();
    if (error)
        PyErr_SetObject(PyExc_ValueError, error.get());
}

} // namespace zentorik
