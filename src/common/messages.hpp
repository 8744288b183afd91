// Every text a caller of the module can see, in one place.
//
// These texts are a compatibility surface: programs match on them, so each
// one stays exactly as it is, down to the trailing full stop that some have
// and others lack. The tests pin them literally (tests/python: test_errors.py,
// test_conversion.py, test_binding.py, test_module_identity.py and the list of
// numeric errors in reliability.py; the README's examples); the source, the
// C++ tests and the fuzz targets use the names below.
//
// Plain C++ only: the numeric core includes this header too. Texts with
// placeholders are formatted where they are raised: `%s`, `%zu`, `%zd` by the
// module's own formatter, `%U` (a Python str) by the interpreter's.
#pragma once

namespace zorvane::messages {

// ---------------------------------------------------------------------------
// Numeric errors: the `Error::message` of a routine, raised by the module as
// RuntimeError(message). A routine passes an inner routine's error up unchanged.

inline constexpr char kElliprfDomain[] =
    "elliprf: x, y, and z must be non-negative, and at most one can be zero.";
inline constexpr char kElliprfConvergence[] = "elliprf: Failed to converge.";
inline constexpr char kElliprcX[] = "elliprc: x must be non-negative.";
inline constexpr char kElliprcY[] = "elliprc: y must be non-zero.";
inline constexpr char kElliprdXY[] =
    "elliprd: x and y must be non-negative, and at most one can be zero.";
inline constexpr char kElliprdZ[] = "elliprd: z must be positive";
inline constexpr char kElliprdConvergence[] = "elliprd: Failed to converge.";
inline constexpr char kElliprgDomain[] = "elliprg: x, y, and z must be non-negative.";
inline constexpr char kElliprjDomain[] =
    "elliprj: x, y, and z must be non-negative, and at most one can be zero.";
inline constexpr char kElliprjP[] = "elliprj: p must be non-zero";
inline constexpr char kElliprjConvergence[] = "elliprj: Fail to converge";
inline constexpr char kEllipkDomain[] = "ellipk: m must be less than 1.";
inline constexpr char kEllipeDomain[] = "ellipe: m must be less than 1.";
inline constexpr char kEllippiM[] = "ellippi: m must be less than 1.";
inline constexpr char kEllippiN[] = "ellippi: n cannot be 1.";

// ---------------------------------------------------------------------------
// Fatal internal errors (zorvane::Panic), raised as PanicException(message).

// assert_eq's report; %lld are the two sides.
inline constexpr char kAssertEq[] = "assertion `left == right` failed\n  left: %lld\n right: %lld";
// The panic report on standard error: thread name, file, line, column, message.
inline constexpr char kPanicReport[] = "\nthread '%s' panicked at %s:%u:%u:\n%s\n";
inline constexpr char kUnnamedThread[] = "<unnamed>";
// A result float or list could not be created (memory exhausted).
inline constexpr char kApiCallFailed[] = "Python API call failed";
inline constexpr char kExceptionTypeFailed[] = "Failed to initialize new exception type.";
// A PanicException that came back from Python code and whose str() failed.
inline constexpr char kUnwrappedPanic[] = "Unwrapped panic from Python code";
// A C++ exception that carries no text.
inline constexpr char kPanicWithoutText[] = "panic from C++ code";
// Registration could not append a function's name to __all__; the repr of the
// error follows after ": " when it can be formed.
inline constexpr char kAppendToAll[] = "could not append __name__ to __all__";

// Written to standard error before the Python traceback of a resumed panic.
inline constexpr char kResumingPanic[] =
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";
// Written to standard error before aborting, when even reporting a panic failed.
inline constexpr char kUncaughtPanic[] = "fatal: uncaught panic at ffi boundary: %s\n";
inline constexpr char kUnknownException[] = "unknown C++ exception";

// The PanicException type: qualified name and docstring.
inline constexpr char kPanicExceptionName[] = "pyo3_runtime.PanicException";
inline constexpr char kPanicExceptionDoc[] =
    "\n"
    "The exception raised when C++ code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// ---------------------------------------------------------------------------
// The module object.

inline constexpr char kModuleDoc[] = "A Python module implemented in C++.";
inline constexpr char kSubinterpreters[] =
    "PyO3 modules do not yet support subinterpreters, see docs/parallel.md#sub-interpreters";
// An interpreter call failed without leaving an exception: SystemError.
inline constexpr char kNoExceptionSet[] = "attempted to fetch exception but none was set";
// __all__ or a function's __name__ of the wrong type (%U: the type's qualified name).
inline constexpr char kAllNotAList[] = "'%U' object cannot be converted to 'PyList'";
inline constexpr char kNameNotAString[] = "'%U' object cannot be converted to 'PyString'";

// ---------------------------------------------------------------------------
// Binding errors (TypeError), in the wording of Python's own functions.

// function name, number of parameters, number of positional arguments given
inline constexpr char kTooManyPositionalOne[] =
    "%s() takes %zu positional arguments but %zd was given";
inline constexpr char kTooManyPositional[] =
    "%s() takes %zu positional arguments but %zd were given";
// function name, parameter name
inline constexpr char kMultipleValues[] = "%s() got multiple values for argument '%s'";
// function name, str() of the keyword
inline constexpr char kUnexpectedKeyword[] = "%s() got an unexpected keyword argument '%U'";
// function name, count; then the names: 'a' / 'a' and 'b' / 'a', 'b', and 'c'
inline constexpr char kMissingOne[] = "%s() missing %zu required positional argument: ";
inline constexpr char kMissing[] = "%s() missing %zu required positional arguments: ";

// ---------------------------------------------------------------------------
// Conversion errors (TypeError).

// A conversion TypeError gets the parameter's name in front: name, str(error).
inline constexpr char kArgumentPrefix[] = "argument '%s': %U";
inline constexpr char kStrIsNotASequence[] = "Can't extract `str` to `Vec`";
inline constexpr char kNotASequence[] = "'%U' object cannot be converted to 'Sequence'";
inline constexpr char kNotASequenceUnnamed[] =
    "'<failed to extract type name>' object cannot be converted to 'Sequence'";
// The text form of an object whose str() raised (%U: its type's name).
inline constexpr char kUnprintable[] = "<unprintable %U object>";
inline constexpr char kUnprintableUnnamed[] = "<unprintable object>";

}  // namespace zorvane::messages
