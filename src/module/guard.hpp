// The panic guard: the one road out of the module.
//
// `trampoline` runs a body, returns its object, raises its PyError, and turns
// a zorvane::Panic (an assertion failure of the core, or a PanicException that
// came back from Python code) into a raised `pyo3_runtime.PanicException`.
// Nothing else sets the interpreter's error state except the interpreter calls
// made while building a result.
//
// `fetch` lives here too: the exception an interpreter call left pending may be
// one of this module's panics coming back, and then it is resumed, not handed
// on as an ordinary error.
#pragma once

#include <exception>
#include <utility>

#include "common/panic.hpp"
#include "module/errors.hpp"
#include "module/handles.hpp"

namespace zorvane::python {

// Takes the interpreter's pending exception after a failed interpreter call.
// With nothing pending the error is SystemError("attempted to fetch exception
// but none was set"). If the pending exception is this process's
// PanicException (Python code we called re-raised one of ours), it is not an
// ordinary error: the panic is resumed, which throws zorvane::Panic.
PyError fetch();

// The `pyo3_runtime.PanicException` type, created on first need. Throws
// zorvane::Panic("Failed to initialize new exception type.") when the type
// cannot be created.
PyObject* panic_exception_type();

namespace detail {
// Steps 3-5 of the guard; a panic while they run is fatal (abort).
PyObject* finish(PyResult<object>&& outcome) noexcept;
PyObject* finish_panic(std::exception_ptr failure) noexcept;
}  // namespace detail

// The guard around every entry point. The thread that runs it is attached to
// the interpreter for the whole body; the body may throw zorvane::Panic (or any
// other C++ exception, which is reported the same way), never anything else
// leaves this function.
template <class Body>
PyObject* trampoline(Body&& body) noexcept {
    try {
        return detail::finish(std::forward<Body>(body)());
    } catch (...) {
        return detail::finish_panic(std::current_exception());
    }
}

}  // namespace zorvane::python
