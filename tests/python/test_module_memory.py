"""Failed calls release what they built.

Every binding and conversion failure is repeated 100 000 times; afterwards
neither the C heap (glibc's mallinfo2: in-use bytes, where C++ vectors and
large Python buffers live) nor the interpreter's small-object allocator
(sys.getallocatedblocks) may have grown, and the argument objects must have
the reference counts they started with. A leak of a single small object or
of one converted double per call would show up as megabytes; the bounds
below leave room only for allocator noise."""

import gc
import json
import os
import subprocess
import sys
import textwrap

import pytest

import zorvane
from reliability import SANITIZED, heap_in_use

# Under AddressSanitizer (ZORVANE_SANITIZED=1) the C heap is the sanitizer's
# own allocator, which mallinfo2 does not see and which holds freed blocks in
# quarantine, so only the reference counts and Python's blocks are checked
# there, over fewer calls: 10 000 still turn a leak of one block per call
# into twenty times the bound.
REPEATS = 10_000 if SANITIZED else 100_000
HEAP_BOUND = 256 * 1024     # bytes of C heap growth tolerated after 100 000 calls
BLOCKS_BOUND = 500          # Python small-object blocks tolerated


W = zorvane.witt_mao_magnification
H = zorvane.heyrovsky_magnification
M = zorvane.multi_witt_mao_magnification
D = zorvane.discrete_flux_map_heyrovsky_magnification


class FloatRaises:
    """__float__ raises a fresh exception each time (re-raising one instance
    would grow its traceback chain, a leak of the test's own making)."""

    def __init__(self, make):
        self.make = make

    def __float__(self):
        raise self.make()


def _caused(root):
    e = TypeError("caused")
    e.__cause__ = root
    return e


class BadLen:
    def __len__(self):
        raise ValueError("len")

    def __getitem__(self, i):
        raise IndexError(i)


class BadIter:
    def __len__(self):
        return 3

    def __getitem__(self, i):
        return 1.0

    def __iter__(self):
        raise RuntimeError("iter")


class BadNext:
    def __len__(self):
        return 10**12

    def __getitem__(self, i):
        return 1.0

    def __iter__(self):
        return self

    def __next__(self):
        raise ValueError("next")


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


LONG = [0.5] * 100
LONG_BAD_TAIL = [0.5] * 100 + ["x"]

# (label, function, args, kwargs, expected exception type)
FAILURES = [
    ("too_many_positional", W, ([1.0], 1.0, 1.0, 2.0), {}, TypeError),
    ("multiple_values", W, ([1.0], 1.0), {"re": 1.0}, TypeError),
    ("unexpected_keyword", W, ([1.0], 1.0, 1.0), {"x": 1.0}, TypeError),
    ("missing_three", W, (), {}, TypeError),
    ("missing_one", H, (1.0, 2.0), {"re": 1.0}, TypeError),
    ("str_for_sequence", W, ("abc", 1.0, 1.0), {}, TypeError),
    ("float_for_sequence", W, (5.0, 1.0, 1.0), {}, TypeError),
    ("set_for_sequence", W, ({1.0}, 1.0, 1.0), {}, TypeError),
    ("dict_for_sequence", W, ({1: 1.0}, 1.0, 1.0), {}, TypeError),
    ("generator_for_sequence", W, ((x for x in ()), 1.0, 1.0), {}, TypeError),
    ("bad_element_after_100", W, (LONG_BAD_TAIL, 1.0, 1.0), {}, TypeError),
    ("str_for_float", W, (LONG, "x", 1.0), {}, TypeError),
    ("overflow_for_float", W, (LONG, 1.0, 10**400), {}, OverflowError),
    ("float_raises_value_error", H, (1.0, FloatRaises(lambda: ValueError("v")), 1.0, 1.0), {}, ValueError),
    ("float_raises_type_error_with_cause", H, (1.0, 2.0, FloatRaises(lambda: _caused(ValueError("root"))), 1.0), {}, TypeError),
    ("unprintable_type_error", H, (FloatRaises(lambda: TypeError(Unprintable())), 1.0, 1.0, 1.0), {}, TypeError),
    ("broken_len", W, (BadLen(), 1.0, "x"), {}, TypeError),
    ("broken_iter", W, (BadIter(), 1.0, 1.0), {}, RuntimeError),
    ("broken_next_huge_len", W, (BadNext(), 1.0, 1.0), {}, ValueError),
    ("multi_third_sequence", M, (LONG, LONG, 1.0), {}, TypeError),
    ("flux_map_last_table", D, (LONG, 1.0, 1.0, LONG, "x"), {}, TypeError),
    # every argument converted: the model refuses a ring of negative radius
    ("model_error_after_conversion", D, (LONG, 1.0, 1.0, [-1.0], [1.0]), {}, RuntimeError),
]


def repeat(fn, args, kwargs, exc, n):
    for _ in range(n):
        try:
            fn(*args, **kwargs)
        except exc:
            pass


@pytest.fixture
def quiet_unraisable(monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", lambda u: None)


@pytest.mark.parametrize("label,fn,args,kwargs,exc", FAILURES, ids=[f[0] for f in FAILURES])
def test_repeated_failure_does_not_grow_memory(label, fn, args, kwargs, exc, quiet_unraisable):
    try:
        fn(*args, **kwargs)
    except exc:
        pass
    else:
        pytest.fail("the call did not fail")
    watched = list(args) + list(kwargs.values())
    refs = [sys.getrefcount(a) for a in watched]
    repeat(fn, args, kwargs, exc, 1000)  # warm the allocators' caches
    gc.collect()
    heap0, blocks0 = heap_in_use(), sys.getallocatedblocks()
    repeat(fn, args, kwargs, exc, REPEATS)
    gc.collect()
    heap1, blocks1 = heap_in_use(), sys.getallocatedblocks()
    if not SANITIZED:
        assert heap1 - heap0 < HEAP_BOUND, f"C heap grew by {heap1 - heap0} bytes"
    assert blocks1 - blocks0 < BLOCKS_BOUND, f"{blocks1 - blocks0} Python blocks more"
    assert [sys.getrefcount(a) for a in watched] == refs


def test_repeated_resumed_panics_do_not_grow_memory():
    """The PanicException road (notice lines, traceback printing, a new
    exception), repeated 10 000 times (1 000 under sanitizers; each round
    formats a traceback) in a
    child process whose standard error is discarded."""
    pytest.importorskip("_testcapi")
    here = os.path.dirname(__file__)
    sys.path.insert(0, here)
    try:
        from test_errors import PRELUDE
    finally:
        sys.path.remove(here)
    body = textwrap.dedent(f'''
        import gc, sys
        sys.path.insert(0, {here!r})
        from reliability import heap_in_use as heap
        class F:
            def __float__(self):
                raise P("boom")
        seq = [0.5] * 100 + [F()]
        def run(n):
            for _ in range(n):
                try:
                    zorvane.witt_mao_magnification(seq, 1.0, 1.0)
                except P:
                    pass
        run(500)
        gc.collect()
        h0, b0 = heap(), sys.getallocatedblocks()
        run({REPEATS // 10})
        gc.collect()
        out(heap=heap() - h0, blocks=sys.getallocatedblocks() - b0, refs=sys.getrefcount(seq))
    ''')
    proc = subprocess.run([sys.executable, "-c", PRELUDE + body], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True, timeout=300)
    assert proc.returncode == 0
    result = json.loads(proc.stdout.strip().splitlines()[-1])
    assert result["blocks"] < BLOCKS_BOUND, result
    if not SANITIZED:
        assert result["heap"] < HEAP_BOUND, result


@pytest.mark.skipif(SANITIZED, reason="ASan's allocator keeps freed blocks mapped (quarantine), "
                    "so the peak address space does not measure the reservation")
def test_implausible_length_reserves_little():
    """A __len__ claiming 2**28 elements (2 GiB of doubles) for a sequence of
    three must not make the conversion map that much memory, even briefly."""
    code = textwrap.dedent('''
        import zorvane
        def peak():
            with open("/proc/self/status") as f:
                for line in f:
                    if line.startswith("VmPeak:"):
                        return int(line.split()[1]) * 1024
        class Liar:
            def __len__(self): return 2**28
            def __getitem__(self, i): return 1.0
            def __iter__(self): return iter([1.0, 2.0, 3.0])
        # Start the worker pool first: its threads' stacks are address space
        # too (and MALLOC_ARENA_MAX=1 keeps them from reserving arenas later).
        zorvane.multi_witt_mao_magnification([1.0] * 1000, [1.0, 2.0], [0.1, 0.2])
        before = peak()
        for _ in range(3):
            zorvane.multi_witt_mao_magnification(Liar(), Liar(), Liar())
        print(peak() - before)
    ''')
    if not os.path.exists("/proc/self/status"):
        pytest.skip("needs /proc")
    env = dict(os.environ, MALLOC_ARENA_MAX="1")
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60, env=env)
    assert proc.returncode == 0, proc.stderr
    assert int(proc.stdout) < 64 * 1024 * 1024
