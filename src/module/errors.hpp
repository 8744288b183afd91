// How failures reach Python.
//
// A body (an entry point, a conversion) returns either a value or a `PyError`:
// the Python exception type to raise and its single argument. The exception
// instance is only built when the error is raised, or when somebody needs to
// look inside it (the argument rule of convert.hpp does). Dropping a PyError
// without raising it releases everything it holds.
//
// `trampoline` is the one road out of the module: it runs a body, returns its
// object, raises its PyError, and turns a zorvane::Panic (an assertion failure
// of the core, or a PanicException that came back from Python code) into a
// raised `pyo3_runtime.PanicException`. Nothing else sets the interpreter's
// error state except the interpreter calls made while building a result.
#pragma once

#include <exception>
#include <expected>
#include <string>
#include <utility>
#include <variant>

#include "common/panic.hpp"
#include "module/handles.hpp"

namespace zorvane::python {

class PyError {
public:
    // TypeError("...") and friends with a static message text.
    static PyError new_message(PyObject* type, const char* message) noexcept;
    // A message formatted at the time of the failure.
    static PyError new_formatted(PyObject* type, std::string message) noexcept;
    // Any Python object as the single argument: a str, or another exception
    // object (then the interpreter's rule applies: an instance of `type`, or of
    // a subclass, is raised unchanged, anything else becomes the argument of a
    // new instance).
    static PyError new_object(PyObject* type, object argument) noexcept;
    // An exception instance that already exists (fetched from the interpreter).
    static PyError from_instance(object instance) noexcept;

    // The exception type, borrowed. For an error not yet instantiated this is
    // the requested type, otherwise the type of the instance.
    PyObject* type() const noexcept;

    // The exception instance, created on first use. If creating it fails, the
    // error that creating it raised takes its place.
    const object& value();

    // Makes this the interpreter's pending exception.
    void restore() &&;

private:
    PyError() = default;

    object type_;
    std::variant<std::monostate, const char*, std::string, object> argument_;
    object instance_;
};

template <class T>
using PyResult = std::expected<T, PyError>;

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

// The text form of an object for messages: str(obj), or, when str raises,
// "<unprintable NAME object>" after the failure was shown to the
// unraisable-exception hook.
PyResult<object> text_form(PyObject* obj);

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
