// Module entry: PyInit_zorvane, registering the method table and the module record.
//
// Single-phase initialisation. The module object is built once per process, in
// the first interpreter that imports it, and cached; a later PyInit_zorvane in
// that interpreter (an import after `del sys.modules["zorvane"]`) returns the
// same object. Any other interpreter is refused with ImportError: the module
// keeps process-wide state (the cached module, the worker pool) that cannot be
// shared between interpreters.
//
// The files of the surface form a ladder; each includes only those above it:
//   handles.hpp    owning handle for Python references
//   errors         PyError / PyResult, the error value
//   once.hpp       process-wide values created once
//   guard          the PanicException type, fetch, trampoline
//   binder         arguments to parameter slots, binding TypeErrors
//   convert        Python objects to doubles and vectors, and back
//   functions      the one declaration of every function, the method table
//   init.cpp       this file
// Every text they show a caller stands in common/messages.hpp.

#include <atomic>
#include <cstdint>
#include <string>

#include "common/messages.hpp"
#include "common/panic.hpp"
#include "module/errors.hpp"
#include "module/functions.hpp"
#include "module/guard.hpp"
#include "module/handles.hpp"
#include "module/once.hpp"

namespace zorvane::python {

namespace {

// The module's __all__ list, created empty when the module has none.
PyResult<object> all_list(PyObject* module) {
    object all = object::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyError missing = fetch();
        if (!PyErr_GivenExceptionMatches(missing.type(), PyExc_AttributeError)) {
            return std::unexpected(std::move(missing));
        }
        all = object::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.ptr()) < 0) {
            return std::unexpected(fetch());
        }
        return all;
    }
    if (!PyList_Check(all.ptr())) {
        object qualname = object::steal(PyType_GetQualName(Py_TYPE(all.ptr())));
        if (!qualname) return std::unexpected(fetch());
        object msg = object::steal(PyUnicode_FromFormat(messages::kAllNotAList, qualname.ptr()));
        if (!msg) return std::unexpected(fetch());
        return std::unexpected(PyError::new_object(PyExc_TypeError, std::move(msg)));
    }
    return all;
}

// Creates the function of one table entry, bound to the module, and adds it
// to the module and to __all__ under the function's own __name__.
PyResult<void> add_function(PyObject* module, PyMethodDef* def) {
    object module_name = object::steal(PyModule_GetNameObject(module));
    if (!module_name) return std::unexpected(fetch());
    object function = object::steal(PyCMethod_New(def, module, module_name.ptr(), nullptr));
    if (!function) return std::unexpected(fetch());
    object name = object::steal(PyObject_GetAttrString(function.ptr(), "__name__"));
    if (!name) return std::unexpected(fetch());
    if (!PyUnicode_Check(name.ptr())) {
        object qualname = object::steal(PyType_GetQualName(Py_TYPE(name.ptr())));
        if (!qualname) return std::unexpected(fetch());
        object msg = object::steal(PyUnicode_FromFormat(messages::kNameNotAString, qualname.ptr()));
        if (!msg) return std::unexpected(fetch());
        return std::unexpected(PyError::new_object(PyExc_TypeError, std::move(msg)));
    }
    PyResult<object> all = all_list(module);
    if (!all) return std::unexpected(std::move(all.error()));
    if (PyList_Append(all->ptr(), name.ptr()) < 0) {
        PyError failure = fetch();
        std::string detail = messages::kAppendToAll;
        object repr = object::steal(PyObject_Repr(failure.value().ptr()));
        const char* text = repr ? PyUnicode_AsUTF8(repr.ptr()) : nullptr;
        if (text != nullptr) {
            detail += ": ";
            detail += text;
        }
        PyErr_Clear();
        panic(std::move(detail));
    }
    if (PyObject_SetAttr(module, name.ptr(), function.ptr()) < 0) return std::unexpected(fetch());
    return {};
}

// Registers the functions in table order; the first failure stops it.
PyResult<void> initialize_functions(PyObject* module) {
    for (PyMethodDef& def : functions::method_table()) {
        if (auto added = add_function(module, &def); !added) return added;
    }
    return {};
}

// The module record: initialiser, definition, the interpreter that first
// loaded the module, and the cached module object.
struct ModuleRecord {
    PyResult<void> (*initializer)(PyObject*);
    PyModuleDef definition;
    std::atomic<std::int64_t> interpreter_id;
    OnceCell module;
};

ModuleRecord record{
    initialize_functions,
    {
        PyModuleDef_HEAD_INIT,
        "zorvane",
        messages::kModuleDoc,
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    },
    -1,
    {},
};

PyResult<object> build_module() {
    object module = object::steal(PyModule_Create2(&record.definition, 1013));
    if (!module) return std::unexpected(fetch());
#ifdef Py_GIL_DISABLED
    // The models share no Python state, but the surface was written for an
    // interpreter with a global lock: ask for it to be turned on.
    if (PyUnstable_Module_SetGIL(module.ptr(), Py_MOD_GIL_USED) < 0) {
        return std::unexpected(fetch());
    }
#endif
    if (auto registered = record.initializer(module.ptr()); !registered) {
        return std::unexpected(std::move(registered.error()));
    }
    return module;
}

PyResult<object> module_init() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return std::unexpected(fetch());

    std::int64_t expected = -1;
    if (!record.interpreter_id.compare_exchange_strong(expected, id, std::memory_order_seq_cst) &&
        expected != id) {
        return std::unexpected(PyError::new_message(PyExc_ImportError, messages::kSubinterpreters));
    }

    PyResult<PyObject*> module = record.module.get_or_try_init(build_module);
    if (!module) return std::unexpected(std::move(module.error()));
    return object::borrow(*module);
}

}  // namespace

}  // namespace zorvane::python

PyMODINIT_FUNC PyInit_zorvane(void) {
    return zorvane::python::trampoline(zorvane::python::module_init);
}
