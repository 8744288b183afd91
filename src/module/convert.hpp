// Python objects in, doubles out, and back.
//
// Arguments become plain C++ values before any computation starts: a float
// parameter a double, a sequence parameter an owned std::vector<double>. The
// models never see a Python object. Results go the other way: a double becomes
// a float, a vector a list of floats, a vector of vectors (or a gradient's
// three) a list of lists.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/result.hpp"
#include "models/gradient.hpp"
#include "module/binder.hpp"
#include "module/errors.hpp"
#include "module/handles.hpp"

namespace zorvane::python {

// What a parameter accepts: one number (float rule) or a sequence of numbers
// (sequence rule), converted to a double or an owned std::vector<double>.
enum class Kind { number, sequence };

template <Kind K>
using Value = std::conditional_t<K == Kind::sequence, std::vector<double>, double>;

// The float rule: an exact float is read directly; anything else goes through
// PyFloat_AsDouble (int, bool, __float__, __index__). A float subclass gives its
// stored value without calling its __float__.
PyResult<double> extract_double(PyObject* obj);

// The sequence rule: str is refused, so are objects that are not sequences
// (generators, sets, dicts); everything else is iterated and each item goes
// through the float rule.
PyResult<std::vector<double>> extract_sequence(PyObject* obj);

// What the caller sees when converting `parameter` failed: a TypeError gets the
// "argument 'l': " prefix (keeping its __cause__), anything else passes as it is.
PyError argument_extraction_error(const char* parameter, PyError error);

template <class T>
PyResult<T> extract_argument(PyObject* obj, const char* parameter) {
    PyResult<T> value = [&] {
        if constexpr (std::is_same_v<T, double>) {
            return extract_double(obj);
        } else {
            static_assert(std::is_same_v<T, std::vector<double>>);
            return extract_sequence(obj);
        }
    }();
    if (!value) return std::unexpected(argument_extraction_error(parameter, std::move(value.error())));
    return value;
}

// Binds a call and converts its arguments in parameter order, each to the
// matching type of Ts (double or std::vector<double>; one per parameter of the
// description). The first failure ends the conversion: later arguments are
// not looked at, and what was already converted is released.
template <class... Ts>
PyResult<std::tuple<Ts...>> bind_and_convert(const FunctionDescription& description,
                                             PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
    PyObject* slots[sizeof...(Ts)] = {};
    if (auto bound = bind(description, args, nargs, kwnames, slots); !bound) {
        return std::unexpected(std::move(bound.error()));
    }
    std::tuple<Ts...> values;
    std::optional<PyError> failure;
    auto convert_one = [&]<std::size_t I>(std::integral_constant<std::size_t, I>) {
        using T = std::tuple_element_t<I, std::tuple<Ts...>>;
        PyResult<T> v = extract_argument<T>(slots[I], description.parameter_names[I]);
        if (!v) {
            failure.emplace(std::move(v.error()));
            return false;
        }
        std::get<I>(values) = std::move(*v);
        return true;
    };
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (convert_one(std::integral_constant<std::size_t, I>{}) && ...);
    }(std::index_sequence_for<Ts...>{});
    if (failure) return std::unexpected(std::move(*failure));
    return values;
}

// Results. Creating a float or a list can fail only when memory is exhausted;
// that is a fatal internal error ("Python API call failed") after the pending
// error has been printed.
object to_python(double value);
object to_python(const std::vector<double>& values);
object to_python(const std::vector<std::vector<double>>& lists);
// [value, du, drho]: a list of three lists.
object to_python(const models::Gradient& gradient);

// A model's value-or-error result as the surface returns it. A numeric error
// becomes RuntimeError carrying the routine's message unchanged.
PyResult<object> to_python(const Result<double>& result);
PyResult<object> to_python(const Result<std::vector<double>>& result);

}  // namespace zorvane::python
