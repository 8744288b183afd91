#include "module/binder.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.hpp"
#include "common/panic.hpp"
#include "module/guard.hpp"

namespace zorvane::python {

namespace {

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
void push_parameter_list(std::string& out, std::span<const char* const> names) {
    const std::size_t n = names.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) {
            if (n > 2) out += ',';
            out += ' ';
            if (i == n - 1) out += "and ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
}

PyError too_many_positional(const FunctionDescription& d, Py_ssize_t given) {
    return PyError::new_formatted(
        PyExc_TypeError, format(given == 1 ? messages::kTooManyPositionalOne : messages::kTooManyPositional,
                                d.func_name, d.parameter_names.size(), given));
}

PyError multiple_values(const FunctionDescription& d, const char* parameter) {
    return PyError::new_formatted(PyExc_TypeError,
                                  format(messages::kMultipleValues, d.func_name, parameter));
}

// The keyword is shown as its str(), which keeps text that is not valid UTF-8
// (lone surrogates) and copes with str subclasses whose __str__ fails.
PyError unexpected_keyword(const FunctionDescription& d, PyObject* keyword) {
    PyResult<object> text = text_form(keyword);
    if (!text) return std::move(text.error());
    object msg = object::steal(
        PyUnicode_FromFormat(messages::kUnexpectedKeyword, d.func_name, text->ptr()));
    if (!msg) return fetch();
    return PyError::new_object(PyExc_TypeError, std::move(msg));
}

PyError missing_required(const FunctionDescription& d, std::span<PyObject* const> slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < d.required_positional_parameters; ++i) {
        if (slots[i] == nullptr) missing.push_back(d.parameter_names[i]);
    }
    const std::size_t k = missing.size();
    std::string msg = format(k == 1 ? messages::kMissingOne : messages::kMissing, d.func_name, k);
    push_parameter_list(msg, missing);
    return PyError::new_formatted(PyExc_TypeError, std::move(msg));
}

// Index of the parameter whose name equals the keyword byte for byte, or -1.
// A keyword that cannot be encoded as UTF-8 (or is not a str) matches nothing.
Py_ssize_t find_parameter(const FunctionDescription& d, PyObject* keyword) {
    if (!PyUnicode_Check(keyword)) return -1;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();
        return -1;
    }
    const std::string_view key(utf8, static_cast<std::size_t>(size));
    for (std::size_t j = 0; j < d.parameter_names.size(); ++j) {
        if (key == std::string_view(d.parameter_names[j])) return static_cast<Py_ssize_t>(j);
    }
    return -1;
}

}  // namespace

PyResult<object> text_form(PyObject* obj) {
    object text = object::steal(PyObject_Str(obj));
    if (text) return text;
    PyError failure = fetch();
    std::move(failure).restore();
    PyErr_WriteUnraisable(obj);
    object name = object::steal(PyType_GetName(Py_TYPE(obj)));
    if (name) {
        text = object::steal(PyUnicode_FromFormat(messages::kUnprintable, name.ptr()));
    } else {
        PyErr_Clear();
        text = object::steal(PyUnicode_FromString(messages::kUnprintableUnnamed));
    }
    if (!text) return std::unexpected(fetch());
    return text;
}

PyResult<void> bind(const FunctionDescription& d, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> slots) {
    const std::size_t n = d.parameter_names.size();
    const std::size_t positional = static_cast<std::size_t>(nargs);
    for (std::size_t i = 0; i < positional && i < n; ++i) slots[i] = args[i];
    if (positional > n) return std::unexpected(too_many_positional(d, nargs));

    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < count; ++k) {
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
            const Py_ssize_t j = find_parameter(d, keyword);
            if (j < 0) return std::unexpected(unexpected_keyword(d, keyword));
            if (slots[j] != nullptr) {
                return std::unexpected(multiple_values(d, d.parameter_names[j]));
            }
            slots[j] = args[nargs + k];
        }
    }

    if (positional < d.required_positional_parameters) {
        for (std::size_t i = positional; i < d.required_positional_parameters; ++i) {
            if (slots[i] == nullptr) return std::unexpected(missing_required(d, slots));
        }
    }
    return {};
}

}  // namespace zorvane::python
