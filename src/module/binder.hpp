// Binding a vectorcall's arguments to a function's parameters.
//
// The interpreter hands an entry point the positional arguments followed by
// the values of the keyword arguments, plus a tuple with the keyword names.
// `bind` puts each argument into the slot of its parameter and reports every
// way a call can be malformed with the same TypeError texts that Python
// functions use ("f() missing 1 required positional argument: 'rstar'").
#pragma once

#include <cstddef>
#include <span>

#include "module/errors.hpp"
#include "module/handles.hpp"

namespace zorvane::python {

// The parameter list of one module function. Every function of this module
// takes positional-or-keyword parameters only, all required, without defaults
// and without *args / **kwargs; the binder relies on that (see the checks in
// the constructor).
struct FunctionDescription {
    const char* func_name;
    std::span<const char* const> parameter_names;
    std::size_t positional_only_parameters;
    std::size_t required_positional_parameters;
    std::size_t keyword_only_parameters;

    consteval FunctionDescription(const char* name, std::span<const char* const> parameters,
                                  std::size_t positional_only, std::size_t required,
                                  std::size_t keyword_only)
        : func_name(name),
          parameter_names(parameters),
          positional_only_parameters(positional_only),
          required_positional_parameters(required),
          keyword_only_parameters(keyword_only) {
        // A compile-time failure here means a description the binder cannot serve.
        if (positional_only != 0 || keyword_only != 0 || required != parameters.size()) {
            throw "only required positional-or-keyword parameters are supported";
        }
    }
};

// Fills `slots` (one per parameter, all null on entry) with borrowed
// references to the arguments. Nothing is converted here.
PyResult<void> bind(const FunctionDescription& description, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots);

// The text form of an object for messages: str(obj), or, when str raises,
// "<unprintable NAME object>" after the failure was shown to the
// unraisable-exception hook.
PyResult<object> text_form(PyObject* obj);

}  // namespace zorvane::python
