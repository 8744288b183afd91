"""The module object: its function table, signatures, identity across
imports, and its refusal of a second interpreter."""

import ctypes
import importlib
import inspect
import os
import subprocess
import sys
import sysconfig
import tempfile
import textwrap
import types

import pytest

import zorvane

TABLE = [
    ("witt_mao_magnification", "(l, re, rstar)"),
    ("integrated_witt_mao_magnification", "(l, re, rstar)"),
    ("integrated_flux_map_witt_mao_magnification", "(l, re, rstar, bl, bf)"),
    ("multi_witt_mao_magnification", "(l, re, rstar)"),
    ("heyrovsky_magnification", "(l, r, re, rstar)"),
    ("integrated_heyrovsky_magnification", "(l, re, rstar)"),
    ("integrated_flux_map_heyrovsky_magnification", "(l, re, rstar, bl, bf)"),
    ("discrete_flux_map_heyrovsky_magnification", "(l, re, rstar, bl, bf)"),
    ("witt_mao_magnification_gradient", "(l, re, rstar)"),
    ("integrated_heyrovsky_magnification_gradient", "(l, re, rstar)"),
    ("integrated_flux_map_heyrovsky_magnification_gradient", "(l, re, rstar, bl, bf)"),
]

SUBINTERPRETER_REFUSAL = (
    "PyO3 modules do not yet support subinterpreters, see docs/parallel.md#sub-interpreters")


def test_module_docstring_and_all():
    assert zorvane.__doc__ == "A Python module implemented in C++."
    assert zorvane.__name__ == "zorvane"
    assert zorvane.__all__ == [name for name, _ in TABLE]
    public = sorted(n for n in vars(zorvane) if not n.startswith("__"))
    assert public == sorted(name for name, _ in TABLE)


@pytest.mark.parametrize("name,signature", TABLE)
def test_function_identity(name, signature):
    fn = getattr(zorvane, name)
    assert isinstance(fn, types.BuiltinFunctionType)
    assert fn.__name__ == name and fn.__qualname__ == name
    assert fn.__text_signature__ == signature
    assert fn.__doc__ is None
    assert fn.__module__ == "zorvane"
    assert fn.__self__ is zorvane
    sig = inspect.signature(fn)
    assert "(" + ", ".join(sig.parameters) + ")" == signature
    for p in sig.parameters.values():
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.default is inspect.Parameter.empty


def test_only_init_symbol_exported():
    out = subprocess.run(["nm", "-D", "--defined-only", zorvane.__file__],
                         capture_output=True, text=True)
    if out.returncode != 0:
        pytest.skip("nm not available")
    symbols = [line.split()[-1] for line in out.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_zorvane"]


FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
LOCK_WARNING = ("RuntimeWarning: The global interpreter lock (GIL) has been enabled to load "
                "module 'zorvane', which has not declared that it can run safely without the GIL.")


@pytest.mark.parametrize("forced_off", [False, True])
def test_interpreter_lock_on_import(forced_off):
    """The module needs the interpreter's lock. A free-threaded interpreter
    turns its lock on when it loads the module, with a warning, unless the
    user forced it off (PYTHON_GIL=0); an ordinary build always has it, and
    refuses PYTHON_GIL=0 itself."""
    if forced_off and not FREE_THREADED:
        pytest.skip("PYTHON_GIL=0 exists only on a free-threaded interpreter")
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    if forced_off:
        env["PYTHON_GIL"] = "0"
    code = "import sys, zorvane; print(sys._is_gil_enabled(), zorvane.witt_mao_magnification([0.5], 1.0, 0.1))"
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                          timeout=60)
    assert proc.returncode == 0, proc.stderr
    expected = zorvane.witt_mao_magnification([0.5], 1.0, 0.1)
    assert proc.stdout.split(" ", 1) == [str(not forced_off), f"{expected}\n"]
    assert (LOCK_WARNING in proc.stderr) == (FREE_THREADED and not forced_off), proc.stderr
    # this test process itself: the lock is off only where the user forced it off
    assert sys._is_gil_enabled() == (not FREE_THREADED or os.environ.get("PYTHON_GIL") != "0")


def _init_function():
    init = ctypes.PyDLL(zorvane.__file__).PyInit_zorvane
    init.restype = ctypes.py_object
    init.argtypes = []
    return init


def test_second_init_returns_the_cached_module():
    init = _init_function()
    assert init() is zorvane
    assert init() is zorvane
    assert zorvane.__all__ == [name for name, _ in TABLE]


def test_reimport_after_removal_gives_the_same_module():
    functions_before = [getattr(zorvane, name) for name, _ in TABLE]
    saved = sys.modules.pop("zorvane")
    try:
        again = importlib.import_module("zorvane")
        assert again is saved
        assert again.__all__ == [name for name, _ in TABLE]
        assert [getattr(again, name) for name, _ in TABLE] == functions_before
    finally:
        sys.modules["zorvane"] = saved


# ------------------------------------------------------------ sub-interpreters
#
# CPython's test helper _testcapi.run_in_subinterp runs code in a legacy
# sub-interpreter (shared GIL, single-phase modules admitted). Each scenario
# runs in a fresh child process, since the first interpreter that loads the
# module is fixed for the life of the process.

try:
    import _testcapi  # noqa: F401
except ImportError:
    _testcapi = None
needs_testcapi = pytest.mark.skipif(_testcapi is None, reason="needs CPython's _testcapi test helpers")


def run_scenario(body):
    with tempfile.TemporaryDirectory() as tmp:
        code = textwrap.dedent(f'''
            import ctypes, importlib.util, json, sys
            import _testcapi
            RESULT = {os.path.join(tmp, "sub.txt")!r}
            ORIGIN = importlib.util.find_spec("zorvane").origin

            def in_subinterpreter(statement):
                code = (
                    "import ctypes\\n"
                    "try:\\n"
                    + "".join("    " + line + "\\n" for line in statement.splitlines())
                    + "    r = 'ok'\\n"
                    "except BaseException as e:\\n"
                    "    r = type(e).__name__ + ': ' + str(e)\\n"
                    f"open({{RESULT!r}}, 'w').write(r)\\n"
                )
                assert _testcapi.run_in_subinterp(code) == 0
                return open(RESULT).read()

            def in_main(statement):
                try:
                    exec(statement, {{}})
                    return "ok"
                except BaseException as e:
                    return type(e).__name__ + ": " + str(e)
        ''') + textwrap.dedent(body)
        proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              timeout=120)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.splitlines()


# A free-threaded CPython refuses the import statement of a single-phase
# module in a sub-interpreter itself, before the module's init function runs;
# the ordinary build runs it, and the module refuses.
IMPORT_STATEMENT_REFUSAL = (
    "ImportError: module zorvane does not support loading in subinterpreters" if FREE_THREADED
    else f"ImportError: {SUBINTERPRETER_REFUSAL}")


@needs_testcapi
def test_subinterpreter_refused_after_main_import():
    lines = run_scenario('''
        import zorvane
        print(in_subinterpreter("import zorvane"))
        init = f"init = ctypes.PyDLL({ORIGIN!r}).PyInit_zorvane\\ninit.restype = ctypes.py_object\\ninit()"
        print(in_subinterpreter(init))
        print(in_main("import zorvane; assert zorvane.witt_mao_magnification.__module__ == 'zorvane'"))
    ''')
    assert lines == [IMPORT_STATEMENT_REFUSAL, f"ImportError: {SUBINTERPRETER_REFUSAL}", "ok"]


@needs_testcapi
def test_main_refused_after_subinterpreter_initialised_first():
    # The sub-interpreter calls the init function itself, so that it is the
    # first interpreter to initialise the module.
    lines = run_scenario('''
        init = f"init = ctypes.PyDLL({ORIGIN!r}).PyInit_zorvane\\ninit.restype = ctypes.py_object\\nm = init()\\nassert m.__all__[0] == 'witt_mao_magnification'"
        print(in_subinterpreter(init))
        print(in_main("import zorvane"))
        print(in_main("import zorvane"))
        print(in_subinterpreter(init))
    ''')
    assert lines[0] == "ok"
    assert lines[1:3] == [f"ImportError: {SUBINTERPRETER_REFUSAL}"] * 2
    # another sub-interpreter is a different interpreter again
    assert lines[3] == f"ImportError: {SUBINTERPRETER_REFUSAL}"


@needs_testcapi
def test_subinterpreter_import_statement_first():
    """An import statement in a sub-interpreter, before the main interpreter
    imported the module. Since 3.13 CPython runs the init function of a
    single-phase module with the main interpreter active; either way exactly
    one interpreter gets the module and the other gets the refusal."""
    lines = run_scenario('''
        print(in_subinterpreter("import zorvane"))
        print(in_main("import zorvane"))
    ''')
    refusal = IMPORT_STATEMENT_REFUSAL
    assert lines in (["ok", refusal], [refusal, "ok"])
    if sys.version_info[:2] == (3, 13):
        assert lines == [refusal, "ok"]
