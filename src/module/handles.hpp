// Owning handle for Python object references.
//
// Every reference the surface owns lives in an `object`: it is released when
// the handle goes out of scope, on the success path and on every error path
// (including a Panic unwinding through the body of an entry point).
// `steal` adopts a new reference, `borrow` takes a borrowed one and adds a
// reference of its own. A null handle is allowed and releases nothing.
//
// Handles are only created, copied and destroyed by a thread attached to the
// interpreter; worker threads never see them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace zorvane::python {

class object {
public:
    object() noexcept = default;

    [[nodiscard]] static object steal(PyObject* p) noexcept { return object(p); }
    [[nodiscard]] static object borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return object(p);
    }

    object(const object& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    object(object&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    object& operator=(const object& other) noexcept {
        object copy(other);
        swap(copy);
        return *this;
    }
    object& operator=(object&& other) noexcept {
        object moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~object() { Py_XDECREF(p_); }

    PyObject* ptr() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Gives up ownership: the caller now owns the reference.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }

    void swap(object& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit object(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace zorvane::python
