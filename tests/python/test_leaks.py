"""Repeated calls hold no memory: every function on its success path and every
error road (binding, conversion, a misbehaving __float__/__len__/__iter__/
__next__, numeric RuntimeError, the length assertion, a PanicException that
Python code raised back into the module), each called 100 000 times in a loop.

After a warm-up, resident memory (/proc/self/statm) may grow by at most
RSS_BOUND (4 MiB; under AddressSanitizer plus its quarantine of freed
memory, leaks being LeakSanitizer's to find there); outside sanitizer runs the C heap in use (glibc mallinfo2) and the
interpreter's allocated blocks are bounded more tightly, so a leak of a single
double or a single Python float per call (800 kB, 100 000 blocks) fails.

The limb-darkened forms cost 0.1-0.4 ms per separation, so those functions
are looped 100 000 times with an empty `l` (binding, conversion, the profile
normalisation of the flux maps, the result list) and 2 000 times with one
separation (the quadrature and its evaluations); the heap bound still catches
a leak of 128 bytes per such call. Calls of more than one separation hand
their work to the worker pool, whose threads must be woken each time (tens of
microseconds on a loaded machine): those run 20 000 times, still enough for
the heap bound to catch one leaked allocation per call."""

import contextlib
import gc
import os
import sys

import numpy as np
import pytest

import zorvane
from reliability import SANITIZED, SANITIZER_RSS_SLACK, heap_in_use, panic_exception_type, scaled

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")

REPEATS = scaled(100_000, 2_000)
POOL_REPEATS = scaled(20_000, 500)     # calls that hand their work to the worker pool
QUADRATURE_REPEATS = scaled(2_000, 100)
PANIC_REPEATS = scaled(20_000, 500)   # each one formats and prints a traceback
RSS_BOUND = 4 * 1024 * 1024 + SANITIZER_RSS_SLACK
HEAP_BOUND = 256 * 1024
BLOCKS_BOUND = 1000

PANIC = panic_exception_type()
PAGE = os.sysconf("SC_PAGE_SIZE")


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


W = zorvane.witt_mao_magnification
M = zorvane.multi_witt_mao_magnification
H = zorvane.heyrovsky_magnification
IW = zorvane.integrated_witt_mao_magnification
IH = zorvane.integrated_heyrovsky_magnification
FW = zorvane.integrated_flux_map_witt_mao_magnification
FH = zorvane.integrated_flux_map_heyrovsky_magnification
DH = zorvane.discrete_flux_map_heyrovsky_magnification

TABLE = ([0.0, 0.5, 1.0], [1.0, 0.8, 0.4])


class FloatRaises:
    """Raises a fresh exception each time (re-raising one instance would grow
    its traceback, a leak of the test's own making)."""

    def __init__(self, make):
        self.make = make

    def __float__(self):
        raise self.make()


class Seq:
    """A sequence outside the list/tuple/array fast paths."""

    def __init__(self, items, len_error=None, iter_error=None, next_error=None):
        self.items, self.len_error = items, len_error
        self.iter_error, self.next_error = iter_error, next_error

    def __len__(self):
        if self.len_error:
            raise self.len_error()
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        if self.iter_error:
            raise self.iter_error()
        if self.next_error:
            return self._failing()
        return iter(self.items)

    def _failing(self):
        yield from self.items
        raise self.next_error()


def _caused():
    e = TypeError("caused")
    e.__cause__ = ValueError("root")
    return e


ARRAY = np.array([0.5])

# (label, call, expected exception or None, repeats)
CASES = [
    # every function on its success path
    ("witt_mao", lambda: W([0.5], 1.0, 0.1), None, REPEATS),
    ("witt_mao_pool", lambda: W([0.5, 2.0], 1.0, 0.1), None, POOL_REPEATS),
    ("witt_mao_array", lambda: W(ARRAY, 1.0, 0.1), None, REPEATS),
    ("witt_mao_generic_sequence", lambda: W(Seq([0.5]), 1.0, 0.1), None, REPEATS),
    ("witt_mao_len_fails", lambda: W(Seq([0.5], len_error=ValueError), 1.0, 0.1), None, REPEATS),
    ("multi", lambda: M([0.5], [1.0], [0.1]), None, REPEATS),
    ("multi_pool", lambda: M([0.5, 2.0], [1.0, 2.0], [0.1]), None, POOL_REPEATS),
    ("heyrovsky", lambda: H(0.5, 0.3, 1.0, 0.1), None, REPEATS),
    ("discrete_flux_map", lambda: DH([0.5], 1.0, 0.1, *TABLE), None, REPEATS),
    ("integrated_witt_mao_empty", lambda: IW([], 1.0, 0.1), None, REPEATS),
    ("integrated_heyrovsky_empty", lambda: IH([], 1.0, 0.1), None, REPEATS),
    ("flux_map_witt_mao_empty", lambda: FW([], 1.0, 0.1, *TABLE), None, REPEATS),
    ("flux_map_heyrovsky_empty", lambda: FH([], 1.0, 0.1, *TABLE), None, REPEATS),
    ("integrated_witt_mao", lambda: IW([0.5], 1.0, 0.1), None, QUADRATURE_REPEATS),
    ("integrated_heyrovsky", lambda: IH([0.5], 1.0, 0.1), None, QUADRATURE_REPEATS),
    ("flux_map_witt_mao", lambda: FW([0.5], 1.0, 0.1, *TABLE), None, QUADRATURE_REPEATS),
    ("flux_map_heyrovsky", lambda: FH([0.5], 1.0, 0.1, *TABLE), None, QUADRATURE_REPEATS),
    # binding
    ("missing_arguments", lambda: W([0.5]), TypeError, REPEATS),
    ("unexpected_keyword", lambda: H(0.5, 0.3, 1.0, 0.1, x=1.0), TypeError, REPEATS),
    ("multiple_values", lambda: DH([0.5], 1.0, 0.1, [0.3], [1.0], l=[0.5]), TypeError, REPEATS),
    # conversion
    ("str_for_sequence", lambda: M([0.5], "abc", [0.1]), TypeError, REPEATS),
    ("bad_element_last", lambda: FW([0.5, 2.0], 1.0, 0.1, [0.3, 0.5], [1.0, "x"]), TypeError, REPEATS),
    ("int_too_large", lambda: IH([0.5], 1.0, 10**400), OverflowError, REPEATS),
    ("float_raises", lambda: H(0.5, FloatRaises(lambda: ValueError("v")), 1.0, 0.1), ValueError, REPEATS),
    ("float_raises_type_error_with_cause", lambda: W([0.5, FloatRaises(_caused)], 1.0, 0.1), TypeError, REPEATS),
    ("iter_raises", lambda: IW(Seq([0.5], iter_error=KeyError), 1.0, 0.1), KeyError, REPEATS),
    ("next_raises", lambda: FH([0.5], 1.0, 0.1, Seq([0.3], next_error=ZeroDivisionError), [1.0]),
     ZeroDivisionError, REPEATS),
    # numeric failures
    ("heyrovsky_runtime_error", lambda: H(-0.5, 0.3, 1.0, 0.1), RuntimeError, REPEATS),
    ("discrete_runtime_error", lambda: DH([0.5, 1.5], 1.0, 0.1, [0.3, -1.0], [1.0, 1.0]), RuntimeError, REPEATS),
    # assertion failures
    ("length_mismatch_discrete", lambda: DH([0.5], 1.0, 0.1, [0.3, 0.6], [1.0]), PANIC, REPEATS),
    ("length_mismatch_flux_map", lambda: FW([0.5], 1.0, 0.1, [0.3], []), PANIC, REPEATS),
    ("panic_from_python", lambda: W([0.5, FloatRaises(lambda: PANIC("boom"))], 1.0, 0.1), PANIC, PANIC_REPEATS),
]


@contextlib.contextmanager
def silenced_stderr():
    """Reports of assertion failures go to the C stream and tracebacks to
    sys.stderr; neither may pile up in the test's captured output."""
    sys.stderr.flush()
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    old_stderr, old_hook = sys.stderr, sys.unraisablehook
    try:
        os.dup2(devnull, 2)
        sys.stderr = open(os.devnull, "w")
        sys.unraisablehook = lambda u: None
        yield
    finally:
        sys.stderr.close()
        sys.stderr, sys.unraisablehook = old_stderr, old_hook
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)


def loop(call, exc, n):
    if exc is None:
        for _ in range(n):
            call()
    else:
        for _ in range(n):
            try:
                call()
            except exc:
                pass


@pytest.mark.parametrize("label,call,exc,repeats", CASES, ids=[c[0] for c in CASES])
def test_repeated_calls_do_not_grow_memory(label, call, exc, repeats):
    with silenced_stderr():
        # the case does what it claims, exactly once
        try:
            call()
        except BaseException as e:  # noqa: B902
            assert exc is not None and type(e) is exc, repr(e)
        else:
            assert exc is None, "the call did not fail"
        loop(call, exc, max(100, repeats // 10))     # warm the allocators' caches
        gc.collect()
        rss0, heap0, blocks0 = rss(), heap_in_use(), sys.getallocatedblocks()
        loop(call, exc, repeats)
        gc.collect()
        rss1, heap1, blocks1 = rss(), heap_in_use(), sys.getallocatedblocks()
    assert rss1 - rss0 < RSS_BOUND, f"resident memory grew by {rss1 - rss0} bytes in {repeats} calls"
    if not SANITIZED:
        assert heap1 - heap0 < HEAP_BOUND, f"C heap grew by {heap1 - heap0} bytes in {repeats} calls"
        assert blocks1 - blocks0 < BLOCKS_BOUND, f"{blocks1 - blocks0} more Python blocks"
