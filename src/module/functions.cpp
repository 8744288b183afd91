// The eight entry points.
//
// Every entry point is `call_model` on the function's parameter description,
// the converted types of its parameters and the model to call:
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

#include "module/functions.hpp"

#include <array>
#include <tuple>
#include <utility>
#include <vector>

#include "module/binder.hpp"
#include "module/convert.hpp"
#include "module/errors.hpp"
#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

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

// The common body of every entry point: bind and convert the arguments as
// `Converted...`, call the model on the plain values, convert its result.
template <class... Converted, class Model>
PyObject* call_model(const FunctionDescription& description, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, Model model) {
    return trampoline([&]() -> PyResult<object> {
        auto converted = bind_and_convert<Converted...>(description, args, nargs, kwnames);
        if (!converted) return std::unexpected(std::move(converted.error()));
        return std::apply(
            [&](auto&... values) { return to_python(model(std::move(values)...)); }, *converted);
    });
}

}  // namespace

PyObject* witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return call_model<Sequence, double, double>(WITT_MAO, args, nargs, kwnames,
                                                models::witt_mao_magnification);
}

PyObject* integrated_witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                            PyObject* kwnames) {
    // Fixed linear limb-darkening profile (coefficient 0.6) and its stored
    // normalisation; the caller cannot change them.
    return call_model<Sequence, double, double>(INTEGRATED_WITT_MAO, args, nargs, kwnames,
                                                models::integrated_witt_mao_magnification);
}

PyObject* integrated_flux_map_witt_mao_magnification(PyObject*, PyObject* const* args,
                                                     Py_ssize_t nargs, PyObject* kwnames) {
    return call_model<Sequence, double, double, Sequence, Sequence>(
        INTEGRATED_FLUX_MAP_WITT_MAO, args, nargs, kwnames,
        models::integrated_flux_map_witt_mao_magnification);
}

PyObject* multi_witt_mao_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    // re and rstar are sequences here: one evaluation per (re, rstar) pair.
    return call_model<Sequence, Sequence, Sequence>(
        MULTI_WITT_MAO, args, nargs, kwnames,
        [](Sequence l, Sequence re, Sequence rstar) {
            return models::multi_witt_mao_magnification(l, re, rstar);
        });
}

PyObject* heyrovsky_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call_model<double, double, double, double>(HEYROVSKY, args, nargs, kwnames,
                                                      models::heyrovsky_magnification);
}

PyObject* integrated_heyrovsky_magnification(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
    // Fixed linear limb-darkening profile, as for the Witt-Mao form.
    return call_model<Sequence, double, double>(INTEGRATED_HEYROVSKY, args, nargs, kwnames,
                                                models::integrated_heyrovsky_magnification);
}

PyObject* integrated_flux_map_heyrovsky_magnification(PyObject*, PyObject* const* args,
                                                      Py_ssize_t nargs, PyObject* kwnames) {
    return call_model<Sequence, double, double, Sequence, Sequence>(
        INTEGRATED_FLUX_MAP_HEYROVSKY, args, nargs, kwnames,
        models::integrated_flux_map_heyrovsky_magnification);
}

PyObject* discrete_flux_map_heyrovsky_magnification(PyObject*, PyObject* const* args,
                                                    Py_ssize_t nargs, PyObject* kwnames) {
    return call_model<Sequence, double, double, Sequence, Sequence>(
        DISCRETE_FLUX_MAP_HEYROVSKY, args, nargs, kwnames,
        models::discrete_flux_map_heyrovsky_magnification);
}

}  // namespace zorvane::python::functions
