// The eight module functions, in the interpreter's METH_FASTCALL |
// METH_KEYWORDS form: `self` is the module, `args` holds the positional
// arguments followed by the keyword values, `kwnames` the keyword names (or
// null). Each returns a new reference, or null with an exception set.
#pragma once

#include "module/handles.hpp"

namespace zorvane::python::functions {

PyObject* witt_mao_magnification(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames);
PyObject* integrated_witt_mao_magnification(PyObject* self, PyObject* const* args,
                                            Py_ssize_t nargs, PyObject* kwnames);
PyObject* integrated_flux_map_witt_mao_magnification(PyObject* self, PyObject* const* args,
                                                     Py_ssize_t nargs, PyObject* kwnames);
PyObject* multi_witt_mao_magnification(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames);
PyObject* heyrovsky_magnification(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);
PyObject* integrated_heyrovsky_magnification(PyObject* self, PyObject* const* args,
                                             Py_ssize_t nargs, PyObject* kwnames);
PyObject* integrated_flux_map_heyrovsky_magnification(PyObject* self, PyObject* const* args,
                                                      Py_ssize_t nargs, PyObject* kwnames);
PyObject* discrete_flux_map_heyrovsky_magnification(PyObject* self, PyObject* const* args,
                                                    Py_ssize_t nargs, PyObject* kwnames);

}  // namespace zorvane::python::functions
