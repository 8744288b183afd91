"""Error reporting: the pyo3_runtime.PanicException type, the guard that
raises it, and a PanicException that comes back from Python code the module
called into.

Before the models land no assertion of the core can be reached from Python,
so the first PanicException of a process is provoked at import time: one
failing memory allocation (CPython's own _testcapi.set_nomemory) makes the
append of the first name to the module's __all__ fail, which is a fatal
internal error of initialisation. Those runs happen in a child process."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import zorvane

try:
    import _testcapi  # noqa: F401
except ImportError:
    _testcapi = None
needs_testcapi = pytest.mark.skipif(_testcapi is None, reason="needs CPython's _testcapi test helpers")

NOTICE = ("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
          "Python stack trace below:\n")

# Child-process prelude: binds P to the PanicException type, obtained from an
# initialisation whose append to __all__ fails, then imports the module.
PRELUDE = r'''
import ctypes, importlib.util, json, sys
import _testcapi

assert "zorvane" not in sys.modules
init = ctypes.PyDLL(importlib.util.find_spec("zorvane").origin).PyInit_zorvane
init.restype = ctypes.py_object
init.argtypes = []
INIT_FAILURES = []
FIRST = None
for start in range(10000):
    _testcapi.set_nomemory(start, start + 1)
    try:
        init()
    except BaseException as e:
        _testcapi.remove_mem_hooks()
        INIT_FAILURES.append(type(e).__name__)
        if type(e).__name__ == "PanicException":
            FIRST = e
            break
    else:
        _testcapi.remove_mem_hooks()
        raise SystemExit("initialisation never failed on the append to __all__")
P = type(FIRST)
import zorvane
print("=== prelude done", file=sys.stderr, flush=True)

def out(**kw):
    print(json.dumps(kw), flush=True)
'''


def run_child(body):
    code = PRELUDE + textwrap.dedent(body)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=120, env={**os.environ, "PYTHONIOENCODING": "utf-8:surrogateescape"})
    assert proc.returncode == 0, proc.stderr
    stderr_before, _, stderr_after = proc.stderr.partition("=== prelude done\n")
    results = [json.loads(line) for line in proc.stdout.splitlines() if line.startswith("{")]
    return results, stderr_before, stderr_after


@needs_testcapi
def test_panic_during_initialisation():
    results, before, after = run_child(r'''
        all_names = zorvane.__all__
        out(
            message=str(FIRST),
            args_len=len(FIRST.args),
            failures_before=INIT_FAILURES[:-1],
            module=P.__module__, name=P.__name__, qualname=P.__qualname__,
            bases=[b.__name__ for b in P.__bases__],
            base_is_BaseException=P.__bases__ == (BaseException,),
            is_exception=issubclass(P, Exception),
            doc=P.__doc__,
            all=all_names,
            same_module_again=init() is zorvane and init() is zorvane,
            exported="PanicException" in dir(zorvane),
            runtime_in_sys_modules="pyo3_runtime" in sys.modules,
        )
        try:
            import pyo3_runtime
            out(importable=True)
        except ImportError:
            out(importable=False)
    ''')
    info, importable = results
    # the failing allocation was found after some ordinary MemoryErrors
    assert set(info["failures_before"]) <= {"MemoryError"}
    assert info["message"].startswith("could not append __name__ to __all__")
    assert info["args_len"] == 1
    assert info["module"] == "pyo3_runtime"
    assert info["name"] == info["qualname"] == "PanicException"
    assert info["bases"] == ["BaseException"] and info["base_is_BaseException"]
    assert not info["is_exception"]
    assert info["doc"] == (
        "\nThe exception raised when C++ code called from Python panics.\n\n"
        "Like SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n")
    # the failed initialisation left nothing behind: a later import builds the
    # whole module, and every later initialisation returns that same object
    assert info["all"] == list(zorvane.__all__)
    assert info["same_module_again"]
    assert not info["exported"] and not info["runtime_in_sys_modules"]
    assert importable == {"importable": False}
    # the failure was reported on standard error where it happened
    assert "panicked at" in before and "could not append __name__ to __all__" in before


@needs_testcapi
def test_panic_exception_from_python_code_is_resumed():
    results, _, stderr = run_child(r'''
        W = zorvane.witt_mao_magnification
        F = zorvane.integrated_flux_map_heyrovsky_magnification
        H = zorvane.heyrovsky_magnification

        class FloatPanics:
            def __init__(self, msg): self.msg = msg
            def __float__(self): raise P(self.msg)

        class Seq:
            def __init__(self, where, msg): self.where, self.msg = where, msg
            def __len__(self):
                if self.where == "len": raise P(self.msg)
                return 2
            def __getitem__(self, i): return 1.0
            def __iter__(self):
                if self.where == "iter": raise P(self.msg)
                return self
            def __next__(self):
                if self.where == "next": raise P(self.msg)
                raise StopIteration

        cases = {
            "float_param": lambda: W([1.0], FloatPanics("re panics"), 1.0),
            "float_param_last": lambda: H(1.0, 2.0, 3.0, FloatPanics("rstar panics")),
            "element": lambda: W([1.0, FloatPanics("element panics")], 1.0, 1.0),
            "flux_table": lambda: F([1.0], 1.0, 1.0, [0.5], [FloatPanics("bf panics")]),
            "len": lambda: W(Seq("len", "len panics"), 1.0, 1.0),
            "iter": lambda: W(Seq("iter", "iter panics"), 1.0, 1.0),
            "next": lambda: W(Seq("next", "next panics"), 1.0, 1.0),
        }
        for key, call in cases.items():
            caught_by_exception = False
            try:
                try:
                    call()
                except Exception:
                    caught_by_exception = True
            except BaseException as e:
                out(case=key, same_type=type(e) is P, message=str(e), args=list(e.args),
                    caught_by_exception=caught_by_exception)
            else:
                out(case=key, same_type=False, message="no exception", args=[],
                    caught_by_exception=caught_by_exception)
            print("=== end of case", file=sys.stderr, flush=True)
    ''')
    expected = {"float_param": "re panics", "float_param_last": "rstar panics",
                "element": "element panics", "flux_table": "bf panics",
                "len": "len panics", "iter": "iter panics", "next": "next panics"}
    assert [r["case"] for r in results] == list(expected)
    chunks = stderr.split("=== end of case\n")
    for r, chunk in zip(results, chunks):
        msg = expected[r["case"]]
        # a new PanicException of the same type with the same message: no
        # "argument ..." prefix, not a TypeError, not swallowed by the length query
        assert r["same_type"], r
        assert r["message"] == msg and r["args"] == [msg]
        assert not r["caught_by_exception"]
        # the two notice lines, then the traceback of the exception from Python
        assert chunk.startswith(NOTICE), chunk
        assert "Traceback (most recent call last):" in chunk
        assert chunk.rstrip().endswith(f"pyo3_runtime.PanicException: {msg}"), chunk


@needs_testcapi
def test_resumed_panic_messages():
    results, _, stderr = run_child(r'''
        W = zorvane.witt_mao_magnification

        class NoStr:
            def __str__(self): raise ValueError("no text")

        class Raises:
            def __init__(self, exc): self.exc = exc
            def __float__(self): raise self.exc

        original = P("original")
        for key, exc in {"unprintable": P(NoStr()), "number": P(42), "empty": P(),
                         "surrogate": P("a\udc80b"), "instance": original}.items():
            try:
                W([1.0], 1.0, Raises(exc))
            except BaseException as e:
                out(case=key, message=str(e), new=e is not exc, same_type=type(e) is P)
        # the module stays usable after all of this
        out(usable=len(W([1.0, 2.0], 1.0, 0.1)) == 2)
    ''')
    *cases, usable = results
    got = {r["case"]: r for r in cases}
    assert got["unprintable"]["message"] == "Unwrapped panic from Python code"
    assert got["number"]["message"] == "42"
    assert got["empty"]["message"] == ""
    assert got["surrogate"]["message"] == "a\udc80b"
    assert got["instance"]["message"] == "original"
    assert all(r["new"] and r["same_type"] for r in cases)
    assert stderr.count(NOTICE) == 5
    assert usable == {"usable": True}


def test_other_base_exceptions_pass_unchanged():
    """Only the module's own PanicException is resumed; KeyboardInterrupt,
    SystemExit and user BaseException subclasses from __float__ pass as
    they are, without notice lines."""

    class Mine(BaseException):
        pass

    for exc in (KeyboardInterrupt(), SystemExit(3), Mine("mine")):
        class Raises:
            def __float__(self):
                raise exc

        with pytest.raises(BaseException) as info:
            zorvane.witt_mao_magnification([1.0], Raises(), 1.0)
        assert info.value is exc


# ------------------------------------------------------------------ models
# Assertion failures of the models (profile tables of different lengths).

FLUX_MAP_FUNCTIONS = ["integrated_flux_map_witt_mao_magnification",
                      "integrated_flux_map_heyrovsky_magnification",
                      "discrete_flux_map_heyrovsky_magnification"]


@pytest.mark.parametrize("name", FLUX_MAP_FUNCTIONS)
@pytest.mark.parametrize("l", [[0.5, 2.0], []], ids=["l", "empty_l"])
def test_profile_length_assertion(name, l):
    fn = getattr(zorvane, name)
    try:
        fn(l, 1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 1.0])
    except Exception:
        pytest.fail("a handler for Exception caught the assertion failure")
    except BaseException as e:
        assert type(e).__module__ == "pyo3_runtime" and type(e).__name__ == "PanicException"
        assert e.args == ("assertion `left == right` failed\n  left: 3\n right: 2",)
        first = type(e)
    else:
        pytest.fail("no assertion failure")
    with pytest.raises(BaseException) as info:
        fn(l, 1.0, 0.1, [0.0, 1.0], [1.0, 1.0, 1.0])
    assert type(info.value) is first
    assert str(info.value) == "assertion `left == right` failed\n  left: 2\n right: 3"


@needs_testcapi
def test_result_list_allocation_failure():
    """When the result list or one of its floats cannot be created, the
    pending MemoryError is printed and the call fails with PanicException
    "Python API call failed" (scanned with one failing allocation at a time)."""
    # A free-threaded CPython 3.13 (3.13.5 at least) has a fault of its own on
    # this road: when PyList_New(n > 0) cannot allocate the item array, it
    # releases the list object, recycled from the free list, with the stale
    # item pointer and size of its previous life: those items lose a reference
    # and their array is freed twice. The process then crashes (debug build)
    # or hangs in the allocator at exit. Without this module:
    #     import _testcapi
    #     a, b, c = 0.5, 1.5, 2.5
    #     recycled = [a, b, c]; del recycled
    #     for start in range(20):
    #         _testcapi.set_nomemory(start, start + 1)
    #         try: x = [a, b, c]
    #         except MemoryError: pass
    #         _testcapi.remove_mem_hooks()
    # There, before each failing call, the free list is refilled with lists
    # that never had items (their item pointer is NULL), so that a failing
    # array allocation releases nothing twice.
    results, _, stderr = run_child(r'''
        import sysconfig
        FREE_THREADED = sysconfig.get_config_var("Py_GIL_DISABLED")
        W = zorvane.witt_mao_magnification
        W([0.5], 1.0, 0.1)
        l = [0.5, 1.5, 2.5]
        seen = []
        for start in range(10000):
            if FREE_THREADED:
                empty = [[] for _ in range(200)]
                del empty
            _testcapi.set_nomemory(start, start + 1)
            try:
                W(l, 1.0, 0.1)
            except BaseException as e:
                _testcapi.remove_mem_hooks()
                seen.append([type(e).__name__, str(e), type(e) is P])
            else:
                _testcapi.remove_mem_hooks()
                break
        out(seen=seen)
    ''')
    seen = results[0]["seen"]
    assert ["PanicException", "Python API call failed", True] in seen
    assert all(kind == "MemoryError" or (msg, same) == ("Python API call failed", True)
               for kind, msg, same in seen)
    assert "MemoryError" in stderr and "Python API call failed" in stderr
