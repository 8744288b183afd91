// The eight entry points.
//
// How an entry point is built (and how a model is wired in):
//
//   return trampoline([&]() -> PyResult<object> {
//       auto converted = bind_and_convert<std::vector<double>, double, double>(
//           WITT_MAO, args, nargs, kwnames);
//       if (!converted) return std::unexpected(std::move(converted.error()));
//       auto& [l, re, rstar] = *converted;
//       return to_python(models::witt_mao_magnification(std::move(l), re, rstar));
//   });
//
// * `bind_and_convert` binds the call to the parameter description and
//   converts the arguments in parameter order, sequences to
//   std::vector<double>, floats to double (convert.hpp). Any failure is the
//   TypeError (or pass-through error) the caller must see; nothing after the
//   failing argument is looked at.
// * The model is one C++ call on those plain values. It returns
//   zorvane::Result<double>, zorvane::Result<std::vector<double>> or
//   zorvane::Result<std::vector<std::vector<double>>>; `to_python` turns the
//   value into a float / list / list of lists, and a zorvane::Error into
//   RuntimeError(message) (for the list of lists: RuntimeError wrapping the
//   failed evaluation's exception).
// * A zorvane::Panic thrown anywhere in the body (an assertion such as the
//   bl/bf length check, a worker-pool failure) is turned by `trampoline` into
//   pyo3_runtime.PanicException(message). The body never sets a Python
//   exception itself.
// * The converted values are owned by the body and released on every path.
//
// Until a model lands, its entry point ends in `not_implemented`, which raises
// NotImplementedError naming the function; wiring the model means replacing
// that one line with the `to_python(...)` call above.

#include "module/functions.hpp"

#include <array>
#include <vector>

#include "module/binder.hpp"
#include "module/convert.hpp"
#include "module/errors.hpp"

namespace zorvane::python::functions {

namespace {

using Sequence = std::vector<double>;

constexpr std::array<const char*, 3> kSequenceScales{"l", "re", "rstar"};
constexpr std::array<const char*, 4> kRing{"l", "r", "re", "rstar"};
constexpr std::array<const char*, 5> kFluxMap{"l", "re", "rstar", "bl", "bf"};

constexpr FunctionDescription WITT_MAO{"witt_mao_magnification", kSequenceScales, 0, 3, 0};
constexpr FunctionDescription INTEGRATED_WITT_MAO{"integrated_witt_mao_magnification",
                                                  kSequenceScales, 0, 3, 0};
constexpr FunctionDescription INTEGRATED_FLUX_MAP_WITT_MAO{
    "integrated_flux_map_witt_mao_magnification", kFluxMap, 0, 5, 0};
constexpr FunctionDescription MULTI_WITT_MAO{"multi_witt_mao_magnification", kSequenceScales, 0,
                                             3, 0};
constexpr FunctionDescription HEYROVSKY{"heyrovsky_magnification", kRing, 0, 4, 0};
constexpr FunctionDescription INTEGRATED_HEYROVSKY{"integrated_heyrovsky_magnification",
                                                   kSequenceScales, 0, 3, 0};
constexpr FunctionDescription INTEGRATED_FLUX_MAP_HEYROVSKY{
    "integrated_flux_map_heyrovsky_magnification", kFluxMap, 0, 5, 0};
constexpr FunctionDescription DISCRETE_FLUX_MAP_HEYROVSKY{
    "discrete_flux_map_heyrovsky_magnification", kFluxMap, 0, 5, 0};

// Stands in for a model that has not landed yet. It takes the converted
// arguments so that the entry point is complete up to the model call.
template <class... Converted>
PyResult<object> not_implemented(const FunctionDescription& d, const Converted&...) {
    return std::unexpected(PyError::new_formatted(
        PyExc_NotImplementedError, std::string(d.func_name) + " is not implemented yet"));
}

}  // namespace

PyObject* witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted = bind_and_convert<Sequence, double, double>(WITT_MAO, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar] = *converted;
        return not_implemented(WITT_MAO, l, re, rstar);
    });
}

PyObject* integrated_witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                            PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted =
            bind_and_convert<Sequence, double, double>(INTEGRATED_WITT_MAO, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar] = *converted;
        // The model takes the fixed linear limb-darkening profile (u = 0.6)
        // and its stored normalisation; the caller cannot change them.
        return not_implemented(INTEGRATED_WITT_MAO, l, re, rstar);
    });
}

PyObject* integrated_flux_map_witt_mao_magnification(PyObject*, PyObject* const* args,
                                                     Py_ssize_t nargs, PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted = bind_and_convert<Sequence, double, double, Sequence, Sequence>(
            INTEGRATED_FLUX_MAP_WITT_MAO, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar, bl, bf] = *converted;
        return not_implemented(INTEGRATED_FLUX_MAP_WITT_MAO, l, re, rstar, bl, bf);
    });
}

PyObject* multi_witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        // re and rstar are sequences here: one evaluation per (re, rstar) pair.
        auto converted =
            bind_and_convert<Sequence, Sequence, Sequence>(MULTI_WITT_MAO, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar] = *converted;
        return not_implemented(MULTI_WITT_MAO, l, re, rstar);
    });
}

PyObject* heyrovsky_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted =
            bind_and_convert<double, double, double, double>(HEYROVSKY, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, r, re, rstar] = *converted;
        return not_implemented(HEYROVSKY, l, r, re, rstar);
    });
}

PyObject* integrated_heyrovsky_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted =
            bind_and_convert<Sequence, double, double>(INTEGRATED_HEYROVSKY, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar] = *converted;
        // Fixed linear limb-darkening profile, as for the Witt-Mao form.
        return not_implemented(INTEGRATED_HEYROVSKY, l, re, rstar);
    });
}

PyObject* integrated_flux_map_heyrovsky_magnification(PyObject*, PyObject* const* args,
                                                      Py_ssize_t nargs, PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted = bind_and_convert<Sequence, double, double, Sequence, Sequence>(
            INTEGRATED_FLUX_MAP_HEYROVSKY, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar, bl, bf] = *converted;
        return not_implemented(INTEGRATED_FLUX_MAP_HEYROVSKY, l, re, rstar, bl, bf);
    });
}

PyObject* discrete_flux_map_heyrovsky_magnification(PyObject*, PyObject* const* args,
                                                    Py_ssize_t nargs, PyObject* kwnames) {
    return trampoline([&]() -> PyResult<object> {
        auto converted = bind_and_convert<Sequence, double, double, Sequence, Sequence>(
            DISCRETE_FLUX_MAP_HEYROVSKY, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        auto& [l, re, rstar, bl, bf] = *converted;
        return not_implemented(DISCRETE_FLUX_MAP_HEYROVSKY, l, re, rstar, bl, bf);
    });
}

}  // namespace zorvane::python::functions
