// The import-time test of linefunc on ten triples of points.
#pragma once

#include "py_ref.hpp"

namespace zentorik {

// Runs the test on the module namespace `globals` with the builtin `all` the import fetched.
// Returns false with the exception set and the import's traceback entry added.
bool run_self_test(PyObject* globals, PyObject* all);

} // namespace zentorik
