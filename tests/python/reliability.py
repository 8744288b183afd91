"""Shared pieces of the reliability tests (properties, leak loops, threads).

ZORVANE_SANITIZED=1 marks a run under a sanitizer (AddressSanitizer,
ThreadSanitizer): everything is many times slower there and the C heap belongs
to the sanitizer's allocator, so the loop counts shrink through `scaled` and
heap statistics of glibc are not consulted."""

import ctypes
import os
import sysconfig

import pytest

import zorvane

SANITIZED = os.environ.get("ZORVANE_SANITIZED", "") not in ("", "0")

# Tests whose cost is nearly all mpmath (regenerating the committed tables,
# the 50-digit references of the limb-darkened gradients) judge numbers that
# the ordinary run judges already. Under a sanitizer, where every Python
# allocation goes through the sanitizer's allocator, and on the free-threaded
# build they take several times as long and test nothing of their own there,
# so they run in the ordinary run only.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
ORDINARY_RUN_ONLY = pytest.mark.skipif(SANITIZED or FREE_THREADED,
                                       reason="mpmath references: judged in the ordinary run")


def _asan_quarantine():
    """Bytes of freed memory AddressSanitizer keeps mapped before reusing it
    (its quarantine, 256 MiB unless ASAN_OPTIONS says otherwise): resident
    memory may grow by that much without any leak."""
    size = 256 * 2**20
    for option in os.environ.get("ASAN_OPTIONS", "").replace(",", ":").split(":"):
        key, _, value = option.partition("=")
        if key.strip() == "quarantine_size_mb" and value.strip().lstrip("-").isdigit():
            size = max(0, int(value)) * 2**20
    return size


# Resident-memory growth that a sanitizer run may show without a leak; leaks
# proper are LeakSanitizer's business there.
SANITIZER_RSS_SLACK = _asan_quarantine() if SANITIZED else 0


class _MallInfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
        "uordblks", "fordblks", "keepcost")]


_libc = None
if not SANITIZED:
    try:
        _libc = ctypes.CDLL(None)
        _libc.mallinfo2.restype = _MallInfo2
        _libc.mallinfo2.argtypes = []
    except (OSError, AttributeError):
        _libc = None


def heap_in_use():
    """Bytes of C heap in use (glibc mallinfo2: small blocks and mmapped ones,
    where C++ vectors and large Python buffers live); 0 where glibc's counters
    are unavailable or belong to no allocator in use (sanitizer runs)."""
    if _libc is None:
        return 0
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def scaled(n, minimum=1):
    """n for an ordinary run, n / 20 (at least `minimum`) under a sanitizer."""
    return max(minimum, n // 20) if SANITIZED else n


def panic_exception_type():
    """pyo3_runtime.PanicException: not importable, so provoked once by
    profile tables of different lengths."""
    try:
        zorvane.discrete_flux_map_heyrovsky_magnification([0.5], 1.0, 1.0, [0.5, 0.6], [1.0])
    except BaseException as e:  # noqa: B902 - it is a BaseException on purpose
        return type(e)
    raise AssertionError("tables of different lengths were accepted")


# The fixed texts of the elliptic integrals, the only messages a numeric
# RuntimeError can carry.
ELLIPTIC_MESSAGES = frozenset({
    "ellipe: m must be less than 1.",
    "ellipk: m must be less than 1.",
    "ellippi: m must be less than 1.",
    "ellippi: n cannot be 1.",
    "elliprc: x must be non-negative.",
    "elliprc: y must be non-zero.",
    "elliprd: Failed to converge.",
    "elliprd: x and y must be non-negative, and at most one can be zero.",
    "elliprd: z must be positive",
    "elliprf: Failed to converge.",
    "elliprf: x, y, and z must be non-negative, and at most one can be zero.",
    "elliprg: x, y, and z must be non-negative.",
    "elliprj: Fail to converge",
    "elliprj: p must be non-zero",
    "elliprj: x, y, and z must be non-negative, and at most one can be zero.",
})

# Functions whose numeric failures reach Python as RuntimeError; the others
# turn them into NaN or a zero contribution.
RAISES_NUMERIC = frozenset({"heyrovsky_magnification", "discrete_flux_map_heyrovsky_magnification"})
FLUX_MAPS = frozenset({
    "integrated_flux_map_witt_mao_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification_gradient",
})


def length_message(a, b):
    return f"assertion `left == right` failed\n  left: {a}\n right: {b}"
