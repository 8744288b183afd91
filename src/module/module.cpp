// Module entry point (to be completed with the function table).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef zorvane_module_def = {
    PyModuleDef_HEAD_INIT, "zorvane", "A Python module implemented in C++.", 0,
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyMODINIT_FUNC PyInit_zorvane(void) { return PyModule_Create2(&zorvane_module_def, 1013); }
