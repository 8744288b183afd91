#include "module/convert.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "common/messages.hpp"
#include "module/guard.hpp"

namespace zorvane::python {

namespace {

// A reported length only sizes the first allocation. Lists and tuples hold
// their items already, so their length is real; any other sequence reports
// whatever its __len__ says, and an implausible value must neither exhaust
// memory nor fail the conversion: beyond this many elements the vector grows
// as the iterator actually delivers them.
constexpr Py_ssize_t kMaxTrustedReservation = Py_ssize_t{1} << 20;

std::size_t reservation(PyObject* obj, Py_ssize_t reported) {
    if (reported <= 0) return 0;
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) return static_cast<std::size_t>(reported);
    return static_cast<std::size_t>(std::min(reported, kMaxTrustedReservation));
}

PyError not_a_sequence(PyObject* obj) {
    object qualname = object::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!qualname) {
        (void)fetch();
        return PyError::new_message(PyExc_TypeError, messages::kNotASequenceUnnamed);
    }
    object msg = object::steal(PyUnicode_FromFormat(messages::kNotASequence, qualname.ptr()));
    if (!msg) return fetch();
    return PyError::new_object(PyExc_TypeError, std::move(msg));
}

// Items of an exact list or tuple, read in place. A list is re-measured at
// every step, as its iterator does, because an item's __float__ may change it;
// an item that is not an exact float is held by a new reference while Python
// code runs on it.
PyResult<std::vector<double>> extract_list_or_tuple(PyObject* obj) {
    const bool is_list = PyList_CheckExact(obj);
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(Py_SIZE(obj)));
    for (Py_ssize_t i = 0; i < (is_list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj)); ++i) {
#ifdef Py_GIL_DISABLED
        // Without the interpreter lock another thread may shrink the list at
        // any moment: take every list item by a new reference.
        object held = object::steal(is_list ? PyList_GetItemRef(obj, i)
                                            : Py_NewRef(PyTuple_GET_ITEM(obj, i)));
        if (!held) {
            // Shrunk between the measure and the read: the list ends here, as
            // it would at the next measure (its iterator does the same).
            if (PyErr_ExceptionMatches(PyExc_IndexError)) {
                PyErr_Clear();
                break;
            }
            return std::unexpected(fetch());
        }
        PyObject* item = held.ptr();
#else
        PyObject* item = is_list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i);
#endif
        if (Py_IS_TYPE(item, &PyFloat_Type)) {
            out.push_back(PyFloat_AS_DOUBLE(item));
            continue;
        }
        object keep = object::borrow(item);
        PyResult<double> v = extract_double(keep.ptr());
        if (!v) return std::unexpected(std::move(v.error()));
        out.push_back(*v);
    }
    return out;
}

// A one-dimensional, C-contiguous array of native float64, recognised by the
// exact type numpy.ndarray (NumPy is never imported) and read through the
// buffer protocol. Its items would convert to the same doubles one by one.
// Anything else (other dtypes, strides, subclasses) returns nullopt and takes
// the general path.
std::optional<std::vector<double>> extract_float64_array(PyObject* obj) {
    if (std::strcmp(Py_TYPE(obj)->tp_name, "numpy.ndarray") != 0) return std::nullopt;
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
        PyErr_Clear();
        return std::nullopt;
    }
    std::optional<std::vector<double>> out;
    const char* format = view.format != nullptr ? view.format : "B";
    const bool native_double = std::strcmp(format, "d") == 0 || std::strcmp(format, "=d") == 0 ||
                               (std::endian::native == std::endian::little && std::strcmp(format, "<d") == 0);
    if (view.ndim == 1 && view.itemsize == sizeof(double) && native_double) {
        const auto* data = static_cast<const double*>(view.buf);
        out.emplace(data, data + view.len / static_cast<Py_ssize_t>(sizeof(double)));
    }
    PyBuffer_Release(&view);
    return out;
}

[[noreturn]] void api_call_failed() {
    PyErr_Print();
    panic(messages::kApiCallFailed);
}

}  // namespace

PyResult<double> extract_double(PyObject* obj) {
    if (Py_IS_TYPE(obj, &PyFloat_Type)) return PyFloat_AS_DOUBLE(obj);
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return std::unexpected(fetch());
    return v;
}

PyResult<std::vector<double>> extract_sequence(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        return std::unexpected(PyError::new_message(PyExc_TypeError, messages::kStrIsNotASequence));
    }
    if (!PySequence_Check(obj)) return std::unexpected(not_a_sequence(obj));
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) return extract_list_or_tuple(obj);
    if (auto array = extract_float64_array(obj)) return std::move(*array);

    std::vector<double> out;
    const Py_ssize_t reported = PySequence_Size(obj);
    if (reported < 0) {
        // A failing length query only costs the reservation (but a
        // PanicException raised by __len__ is resumed by fetch).
        (void)fetch();
    }
    try {
        out.reserve(reservation(obj, reported));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }

    object iterator = object::steal(PyObject_GetIter(obj));
    if (!iterator) return std::unexpected(fetch());
    while (true) {
        object item = object::steal(PyIter_Next(iterator.ptr()));
        if (!item) {
            if (PyErr_Occurred()) return std::unexpected(fetch());
            break;
        }
        PyResult<double> v = extract_double(item.ptr());
        if (!v) return std::unexpected(std::move(v.error()));
        out.push_back(*v);
    }
    return out;
}

PyError argument_extraction_error(const char* parameter, PyError error) {
    if (error.type() != PyExc_TypeError) return error;
    const object& value = error.value();
    if (!Py_IS_TYPE(value.ptr(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        return error;  // building the TypeError itself failed
    }
    PyResult<object> text = text_form(value.ptr());
    if (!text) return std::move(text.error());
    object msg = object::steal(PyUnicode_FromFormat(messages::kArgumentPrefix, parameter, text->ptr()));
    if (!msg) return fetch();
    object remapped = object::steal(PyObject_CallOneArg(PyExc_TypeError, msg.ptr()));
    if (!remapped) return fetch();
    // PyException_SetCause steals the cause (and marks the context suppressed).
    PyException_SetCause(remapped.ptr(), PyException_GetCause(value.ptr()));
    return PyError::from_instance(std::move(remapped));
}

object to_python(double value) {
    object f = object::steal(PyFloat_FromDouble(value));
    if (!f) api_call_failed();
    return f;
}

object to_python(const std::vector<double>& values) {
    object list = object::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) api_call_failed();
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* f = PyFloat_FromDouble(values[i]);
        if (f == nullptr) api_call_failed();  // `list` releases the slots filled so far
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), f);
    }
    return list;
}

namespace {
// A list of `count` lists, list i made from the vector list(i).
template <class List>
object list_of_lists(std::size_t count, List list) {
    object outer = object::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!outer) api_call_failed();
    for (std::size_t i = 0; i < count; ++i) {
        PyList_SET_ITEM(outer.ptr(), static_cast<Py_ssize_t>(i), to_python(list(i)).release());
    }
    return outer;
}
}  // namespace

object to_python(const std::vector<std::vector<double>>& lists) {
    return list_of_lists(lists.size(), [&](std::size_t i) -> const std::vector<double>& { return lists[i]; });
}

object to_python(const models::Gradient& gradient) {
    const std::vector<double>* lists[] = {&gradient.value, &gradient.du, &gradient.drho};
    return list_of_lists(3, [&](std::size_t i) -> const std::vector<double>& { return *lists[i]; });
}

PyResult<object> to_python(const Result<double>& result) {
    if (!result) return std::unexpected(PyError::new_message(PyExc_RuntimeError, result.error().message));
    return to_python(*result);
}

PyResult<object> to_python(const Result<std::vector<double>>& result) {
    if (!result) return std::unexpected(PyError::new_message(PyExc_RuntimeError, result.error().message));
    return to_python(*result);
}

}  // namespace zorvane::python
