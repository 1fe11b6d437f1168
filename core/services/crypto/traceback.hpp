// Traceback entries: every error that leaves the module's code carries one, naming the
// function (or the import) and the source line of the step that failed.
#pragma once

#include "py_ref.hpp"

namespace zentorik {

// The source file name that code objects and traceback entries carry.
inline constexpr const char* source_file_name = "zentorik.cpp";

// The function name of the import's traceback entries.
inline constexpr const char* init_traceback_name = "init zentorik";

// Adds a traceback entry named `function_name` at `line` to the pending exception, as if
// a Python frame with the module namespace `globals` had been running there. The pending
// exception is kept unchanged even when making the entry fails.
void add_traceback(const char* function_name, int line, PyObject* globals);

// Adds the import's entry at `line` and returns false, so that a step of the import can
// write `return fail_import(globals, line);`.
bool fail_import(PyObject* globals, int line);

} // namespace zentorik
