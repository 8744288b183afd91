// The module's functions, as the interpreter's method table.
//
// Each function is declared once, in functions.cpp: its name, its parameters
// with the kind of each, and the model it calls. The entry point, the text
// signature and the binder's parameter description all come from that one
// declaration.
#pragma once

#include <span>

#include "module/handles.hpp"

namespace zorvane::python::functions {

// One entry per function, in registration order (the order of __all__). Every
// entry is METH_FASTCALL | METH_KEYWORDS, and its stored docstring is the text
// signature and nothing else ("name(l, re, rstar)\n--\n\n"), so
// __text_signature__ is the parameter list and __doc__ is None.
std::span<PyMethodDef> method_table();

}  // namespace zorvane::python::functions
