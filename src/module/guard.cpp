#include "module/guard.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "common/messages.hpp"
#include "module/once.hpp"

namespace zorvane::python {

namespace {

OnceCell panic_type_cell;

// Text of a Python str as UTF-8, keeping lone surrogates (see message_text).
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
        message = messages::kUnwrappedPanic;
    }
    std::fputs(messages::kResumingPanic, stderr);
    std::fflush(stderr);
    PyErr_SetRaisedException(exc.release());
    PyErr_PrintEx(0);
    // The failure was reported where it first happened; this only carries it
    // on to the guard, which raises a fresh PanicException with the same text.
    throw Panic(std::move(message));
}

void raise_panic(const std::string& message) {
    PyObject* type = panic_exception_type();
    object argument = message_text(message);
    if (!argument) return;  // out of memory: that error is pending instead
    PyErr_SetObject(type, argument.ptr());
}

[[noreturn]] void abort_at_boundary(const char* what) noexcept {
    std::fprintf(stderr, messages::kUncaughtPanic, what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

PyObject* panic_exception_type() {
    PyObject* type = panic_type_cell.get_or_init([]() -> object {
        object t = object::steal(PyErr_NewExceptionWithDoc(
            messages::kPanicExceptionName, messages::kPanicExceptionDoc, PyExc_BaseException, nullptr));
        if (!t) {
            PyErr_Clear();
            panic(messages::kExceptionTypeFailed);
        }
        return t;
    });
    return type;
}

PyError fetch() {
    PyObject* raised = PyErr_GetRaisedException();
    if (raised == nullptr) return PyError::new_message(PyExc_SystemError, messages::kNoExceptionSet);
    object exc = object::steal(raised);
    PyObject* panic_type = panic_type_cell.peek();
    if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(raised)) == panic_type) {
        resume_panic(std::move(exc));
    }
    return PyError::from_instance(std::move(exc));
}

namespace detail {

PyObject* finish(PyResult<object>&& outcome) noexcept {
    try {
        if (outcome) return outcome->release();
        std::move(outcome.error()).restore();
        return nullptr;
    } catch (const std::exception& e) {
        abort_at_boundary(e.what());
    } catch (...) {
        abort_at_boundary(messages::kUnknownException);
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
            raise_panic(messages::kPanicWithoutText);
        }
    } catch (const std::exception& e) {
        abort_at_boundary(e.what());
    } catch (...) {
        abort_at_boundary(messages::kUnknownException);
    }
    return nullptr;
}

}  // namespace detail

}  // namespace zorvane::python
