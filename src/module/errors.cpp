#include "module/errors.hpp"

#include <utility>

#include "common/messages.hpp"

namespace zorvane::python {

PyError PyError::new_message(PyObject* type, const char* message) noexcept {
    PyError e;
    e.type_ = object::borrow(type);
    e.argument_ = message;
    return e;
}

PyError PyError::new_formatted(PyObject* type, std::string message) noexcept {
    PyError e;
    e.type_ = object::borrow(type);
    e.argument_ = std::move(message);
    return e;
}

PyError PyError::new_object(PyObject* type, object argument) noexcept {
    PyError e;
    e.type_ = object::borrow(type);
    e.argument_ = std::move(argument);
    return e;
}

PyError PyError::from_instance(object instance) noexcept {
    PyError e;
    e.instance_ = std::move(instance);
    return e;
}

PyObject* PyError::type() const noexcept {
    if (instance_) return reinterpret_cast<PyObject*>(Py_TYPE(instance_.ptr()));
    return type_.ptr();
}

object message_text(const std::string& text) {
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                       "surrogatepass");
    if (s == nullptr) {
        PyErr_Clear();
        s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    }
    return object::steal(s);
}

void PyError::restore() && {
    if (instance_) {
        PyErr_SetRaisedException(instance_.release());
        return;
    }
    object argument;
    if (auto* text = std::get_if<const char*>(&argument_)) {
        argument = object::steal(PyUnicode_FromString(*text));
    } else if (auto* formatted = std::get_if<std::string>(&argument_)) {
        argument = message_text(*formatted);
    } else if (auto* obj = std::get_if<object>(&argument_)) {
        argument = std::move(*obj);
    } else {
        argument = object::borrow(Py_None);
    }
    if (!argument) return;  // building the message failed: that error is pending
    PyErr_SetObject(type_.ptr(), argument.ptr());
}

const object& PyError::value() {
    if (!instance_) {
        PyError pending = std::move(*this);
        std::move(pending).restore();
        // Whatever is pending now is the instance: the one just built, or the
        // error raised while building it. A PanicException cannot be among
        // them, so this is a plain fetch.
        PyObject* raised = PyErr_GetRaisedException();
        if (raised == nullptr) {
            PyErr_SetString(PyExc_SystemError, messages::kNoExceptionSet);
            raised = PyErr_GetRaisedException();
        }
        *this = from_instance(object::steal(raised));
    }
    return instance_;
}

}  // namespace zorvane::python
