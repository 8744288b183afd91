// The entry points, all from one table.
//
// Every entry point is the same body run on one declaration:
//
// * `bind_and_convert` binds the call to the parameter description and
//   converts the arguments in parameter order, sequences to
//   std::vector<double>, numbers to double (convert.hpp). Any failure is the
//   TypeError (or pass-through error) the caller must see; nothing after the
//   failing argument is looked at.
// * The model is one C++ call on those plain values. It returns a plain value
//   (the routines that cannot fail: a list, or a list of lists for the batch)
//   or zorvane::Result<double> / Result<std::vector<double>>; `to_python`
//   turns the value into a float / list / list of lists, and a zorvane::Error
//   into RuntimeError(message).
// * A zorvane::Panic thrown anywhere in the body (an assertion such as the
//   bl/bf length check, a worker-pool failure) is turned by `trampoline` into
//   pyo3_runtime.PanicException(message). The body never sets a Python
//   exception itself.
// * The converted values are owned by the body and released on every path.

#include "module/functions.hpp"

#include <array>
#include <concepts>
#include <cstddef>
#include <tuple>
#include <utility>

#include "module/binder.hpp"
#include "module/convert.hpp"
#include "module/errors.hpp"
#include "module/guard.hpp"
#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/integrated_gradient.hpp"
#include "models/witt_mao.hpp"

namespace zorvane::python::functions {

namespace {

struct Parameter {
    const char* name;
    Kind kind;
};

consteval Parameter number(const char* name) { return {name, Kind::number}; }
consteval Parameter sequence(const char* name) { return {name, Kind::sequence}; }

// The stored docstring: "name(a, b)\n--\n\n", built when compiling.
struct TextSignature {
    char text[128] = {};
};

template <class Model, std::size_t N>
struct Function {
    const char* name;
    Model model;
    std::array<const char*, N> parameter_names;
    std::array<Kind, N> kinds;

    consteval TextSignature text_signature() const {
        TextSignature s;
        std::size_t at = 0;
        auto put = [&](const char* text) {
            for (; *text != '\0'; ++text) {
                // A compile-time failure here means a signature too long for the buffer.
                if (at + 1 >= sizeof s.text) throw "text signature too long";
                s.text[at++] = *text;
            }
        };
        put(name);
        put("(");
        for (std::size_t i = 0; i < N; ++i) {
            if (i > 0) put(", ");
            put(parameter_names[i]);
        }
        put(")\n--\n\n");
        return s;
    }
};

template <class Model, std::same_as<Parameter>... P>
consteval auto declare(const char* name, Model model, P... parameters) {
    return Function<Model, sizeof...(P)>{name, model, {parameters.name...}, {parameters.kind...}};
}

// The module's functions, in registration order. This table is the only place
// a function is declared: tests/python/signatures.py reads it (keep each entry
// in this form), and the tests hold the stub zorvane.pyi and the README's
// signatures to it.
//
// integrated_*: fixed linear limb-darkening profile (coefficient 0.6) and its
// stored normalisation; the caller cannot change them.
// multi_witt_mao_magnification: re and rstar are sequences, one evaluation per
// (re, rstar) pair.
// *_gradient: the function of the same name without the suffix, with its
// derivatives in u and rho (models/gradient.hpp), as [A, dA_du, dA_drho].
constexpr auto kFunctions = std::tuple{
    declare("witt_mao_magnification", models::witt_mao_magnification,
            sequence("l"), number("re"), number("rstar")),
    declare("integrated_witt_mao_magnification", models::integrated_witt_mao_magnification,
            sequence("l"), number("re"), number("rstar")),
    declare("integrated_flux_map_witt_mao_magnification",
            models::integrated_flux_map_witt_mao_magnification,
            sequence("l"), number("re"), number("rstar"), sequence("bl"), sequence("bf")),
    declare("multi_witt_mao_magnification", models::multi_witt_mao_magnification,
            sequence("l"), sequence("re"), sequence("rstar")),
    declare("heyrovsky_magnification", models::heyrovsky_magnification,
            number("l"), number("r"), number("re"), number("rstar")),
    declare("integrated_heyrovsky_magnification", models::integrated_heyrovsky_magnification,
            sequence("l"), number("re"), number("rstar")),
    declare("integrated_flux_map_heyrovsky_magnification",
            models::integrated_flux_map_heyrovsky_magnification,
            sequence("l"), number("re"), number("rstar"), sequence("bl"), sequence("bf")),
    declare("discrete_flux_map_heyrovsky_magnification",
            models::discrete_flux_map_heyrovsky_magnification,
            sequence("l"), number("re"), number("rstar"), sequence("bl"), sequence("bf")),
    declare("witt_mao_magnification_gradient", models::witt_mao_magnification_gradient,
            sequence("l"), number("re"), number("rstar")),
    declare("integrated_heyrovsky_magnification_gradient",
            models::integrated_heyrovsky_magnification_gradient,
            sequence("l"), number("re"), number("rstar")),
    declare("integrated_flux_map_heyrovsky_magnification_gradient",
            models::integrated_flux_map_heyrovsky_magnification_gradient,
            sequence("l"), number("re"), number("rstar"), sequence("bl"), sequence("bf")),
};

constexpr std::size_t kCount = std::tuple_size_v<decltype(kFunctions)>;

template <std::size_t I>
constexpr auto& declared = std::get<I>(kFunctions);

template <std::size_t I>
constexpr TextSignature kTextSignature = declared<I>.text_signature();

template <std::size_t I>
constexpr FunctionDescription kDescription{declared<I>.name, declared<I>.parameter_names, 0,
                                           declared<I>.parameter_names.size(), 0};

// The entry point of function I, in the interpreter's METH_FASTCALL |
// METH_KEYWORDS form: `args` holds the positional arguments followed by the
// keyword values, `kwnames` the keyword names (or null). Returns a new
// reference, or null with an exception set.
template <std::size_t I>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr auto& f = declared<I>;
    return trampoline([&]() -> PyResult<object> {
        return [&]<std::size_t... J>(std::index_sequence<J...>) -> PyResult<object> {
            auto converted =
                bind_and_convert<Value<f.kinds[J]>...>(kDescription<I>, args, nargs, kwnames);
            if (!converted) return std::unexpected(std::move(converted.error()));
            return std::apply(
                [&](auto&... values) { return to_python(f.model(std::move(values)...)); },
                *converted);
        }(std::make_index_sequence<f.kinds.size()>{});
    });
}

template <class F>
PyCFunction as_cfunction(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

template <std::size_t... I>
std::array<PyMethodDef, kCount> make_method_table(std::index_sequence<I...>) {
    return {PyMethodDef{declared<I>.name, as_cfunction(&entry<I>), METH_FASTCALL | METH_KEYWORDS,
                        kTextSignature<I>.text}...};
}

std::array<PyMethodDef, kCount> method_table_storage =
    make_method_table(std::make_index_sequence<kCount>{});

}  // namespace

std::span<PyMethodDef> method_table() { return method_table_storage; }

}  // namespace zorvane::python::functions
