#include "traceback.hpp"

#include <frameobject.h> // PyFrame_New

namespace zentorik {

void add_traceback(const char* function_name, int line, PyObject* globals) {
    // Making the code and frame objects may itself fail; the error the caller is
    // reporting must survive that, so it is set aside meanwhile.
    PyObject* pending = PyErr_GetRaisedException();
    Ref code = Ref::steal(
        reinterpret_cast<PyObject*>(PyCode_NewEmpty(source_file_name, function_name, line)));
    Ref frame;
    if (code) {
        // A frame that never ran reports the first line of its code object, so this frame
        // and the traceback entry made from it both show `line`.
        frame = Ref::steal(reinterpret_cast<PyObject*>(PyFrame_New(
            PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), globals, nullptr)));
    }
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
    if (frame)
        PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

bool fail_import(PyObject* globals, int line) {
    add_traceback(init_traceback_name, line, globals);
    return false;
}

} // namespace zentorik
