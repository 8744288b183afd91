// Process-wide values created once, on first need (the module object, the
// PanicException type).
//
// The value is published through an atomic pointer, so the common case is one
// acquire load. The first callers serialise on a mutex. A thread never waits
// for that mutex while attached to the interpreter: it detaches first and
// re-attaches once it holds the mutex, before it runs interpreter code. Waiting
// while attached could deadlock against the thread that builds the value, which
// needs the interpreter (its lock on a GIL build, a stop-the-world pause on a
// free-threaded one). The mutex is recursive so that a build that re-enters
// (garbage collection running a finaliser that imports the module again) does
// not deadlock on itself; the first value stored wins and a later one is
// dropped.
#pragma once

#include <atomic>
#include <expected>
#include <mutex>

#include "module/errors.hpp"
#include "module/handles.hpp"

namespace zorvane::python {

class OnceCell {
public:
    // The value if it exists, else nullptr. Never blocks.
    PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

    // `make` returns an owned object (or throws zorvane::Panic); the cell keeps
    // that reference for the life of the process. Returns the value, borrowed.
    template <class Make>
    PyObject* get_or_init(Make&& make) {
        if (PyObject* v = peek()) return v;
        std::unique_lock lock = enter();
        if (PyObject* v = peek()) return v;
        return publish(make());
    }

    // As get_or_init, for a `make` that may fail with a PyError; after a
    // failure the cell stays empty and the next caller tries again.
    template <class Make>
    PyResult<PyObject*> get_or_try_init(Make&& make) {
        if (PyObject* v = peek()) return v;
        std::unique_lock lock = enter();
        if (PyObject* v = peek()) return v;
        PyResult<object> made = make();
        if (!made) return std::unexpected(std::move(made.error()));
        return publish(std::move(*made));
    }

private:
    std::unique_lock<std::recursive_mutex> enter() {
        std::unique_lock lock(mutex_, std::defer_lock);
        PyThreadState* state = PyEval_SaveThread();
        struct Reattach {
            PyThreadState* state;
            ~Reattach() { PyEval_RestoreThread(state); }
        } reattach{state};
        lock.lock();
        return lock;
    }

    PyObject* publish(object made) {
        // A re-entrant build may have stored a value meanwhile; keep the first.
        if (PyObject* v = peek()) return v;
        PyObject* v = made.release();
        value_.store(v, std::memory_order_release);
        return v;
    }

    std::atomic<PyObject*> value_{nullptr};
    std::recursive_mutex mutex_;
};

}  // namespace zorvane::python
