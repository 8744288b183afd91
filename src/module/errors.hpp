// The error value of the surface.
//
// A body (an entry point, a conversion) returns either a value or a `PyError`:
// the Python exception type to raise and its single argument. The exception
// instance is only built when the error is raised, or when somebody needs to
// look inside it (the argument rule of convert.hpp does). Dropping a PyError
// without raising it releases everything it holds.
//
// Taking an error from the interpreter (`fetch`) and raising panics belong to
// the guard (guard.hpp), one step up: a fetched exception may be a panic that
// has to be resumed.
#pragma once

#include <expected>
#include <string>
#include <variant>

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

// A message as a Python str. Messages are UTF-8 text; a message that came from
// a Python str may carry lone surrogates, which were encoded with
// "surrogatepass" and are restored the same way. Anything else that is not
// valid UTF-8 is replaced. Null (with MemoryError pending) when out of memory.
object message_text(const std::string& text);

}  // namespace zorvane::python
