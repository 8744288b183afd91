#include "module/errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "module/once.hpp"

namespace zorvane::python {

// ---------------------------------------------------------------------------
// PyError

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

namespace {

// Messages are UTF-8 text; a message that came from a Python str may carry
// lone surrogates, which were encoded with "surrogatepass" and are restored
// the same way. Anything else that is not valid UTF-8 is replaced.
object decode_message(const std::string& text) {
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                       "surrogatepass");
    if (s == nullptr) {
        PyErr_Clear();
        s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    }
    return object::steal(s);
}

}  // namespace

void PyError::restore() && {
    if (instance_) {
        PyErr_SetRaisedException(instance_.release());
        return;
    }
    object argument;
    if (auto* text = std::get_if<const char*>(&argument_)) {
        argument = object::steal(PyUnicode_FromString(*text));
    } else if (auto* formatted = std::get_if<std::string>(&argument_)) {
        argument = decode_message(*formatted);
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
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
            raised = PyErr_GetRaisedException();
        }
        *this = from_instance(object::steal(raised));
    }
    return instance_;
}

// ---------------------------------------------------------------------------
// PanicException

namespace {

constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when C++ code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

OnceCell panic_type_cell;

// Text of a Python str as UTF-8, keeping lone surrogates (see decode_message).
bool utf8_text(PyObject* str, std::string& out) {
    object bytes = object::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return false;
    }
    out.assign(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
    return true;
}

// A PanicException came back from Python code that the module called: show it
// with its traceback, then carry on as the assertion failure it stands for.
[[noreturn]] void resume_panic(object exc) {
    std::string message;
    object text = object::steal(PyObject_Str(exc.ptr()));
    if (!text || !utf8_text(text.ptr(), message)) {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
               "Python stack trace below:\n",
               stderr);
    std::fflush(stderr);
    PyErr_SetRaisedException(exc.release());
    PyErr_PrintEx(0);
    // The failure was reported where it first happened; this only carries it
    // on to the guard, which raises a fresh PanicException with the same text.
    throw Panic(std::move(message));
}

void raise_panic(const std::string& message) {
    PyObject* type = panic_exception_type();
    object argument = decode_message(message);
    if (!argument) return;  // out of memory: that error is pending instead
    PyErr_SetObject(type, argument.ptr());
}

[[noreturn]] void abort_at_boundary(const char* what) noexcept {
    std::fprintf(stderr, "fatal: uncaught panic at ffi boundary: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

PyObject* panic_exception_type() {
    PyObject* type = panic_type_cell.get_or_init([]() -> object {
        object t = object::steal(PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                                           PyExc_BaseException, nullptr));
        if (!t) {
            PyErr_Clear();
            panic("Failed to initialize new exception type.");
        }
        return t;
    });
    return type;
}

PyError fetch() {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        return PyError::new_message(PyExc_SystemError,
                                    "attempted to fetch exception but none was set");
    }
    object exc = object::steal(raised);
    PyObject* panic_type = panic_type_cell.peek();
    if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(raised)) == panic_type) {
        resume_panic(std::move(exc));
    }
    return PyError::from_instance(std::move(exc));
}

PyResult<object> text_form(PyObject* obj) {
    object text = object::steal(PyObject_Str(obj));
    if (text) return text;
    PyError failure = fetch();
    std::move(failure).restore();
    PyErr_WriteUnraisable(obj);
    object name = object::steal(PyType_GetName(Py_TYPE(obj)));
    if (name) {
        text = object::steal(PyUnicode_FromFormat("<unprintable %U object>", name.ptr()));
    } else {
        PyErr_Clear();
        text = object::steal(PyUnicode_FromString("<unprintable object>"));
    }
    if (!text) return std::unexpected(fetch());
    return text;
}

// ---------------------------------------------------------------------------
// The guard

namespace detail {

PyObject* finish(PyResult<object>&& outcome) noexcept {
    try {
        if (outcome) return outcome->release();
        std::move(outcome.error()).restore();
        return nullptr;
    } catch (const std::exception& e) {
        abort_at_boundary(e.what());
    } catch (...) {
        abort_at_boundary("unknown C++ exception");
    }
}

PyObject* finish_panic(std::exception_ptr failure) noexcept {
    try {
        try {
            std::rethrow_exception(failure);
        } catch (const Panic& p) {
            raise_panic(p.message());
        } catch (const std::bad_alloc&) {
            // C++ allocation failed (a conversion or a result grew too large
            // for the memory left): report it as Python reports its own.
            PyErr_NoMemory();
        } catch (const std::exception& e) {
            raise_panic(e.what());
        } catch (...) {
            raise_panic("panic from C++ code");
        }
    } catch (const std::exception& e) {
        abort_at_boundary(e.what());
    } catch (...) {
        abort_at_boundary("unknown C++ exception");
    }
    return nullptr;
}

}  // namespace detail

}  // namespace zorvane::python
