"""Timing, error measures, the markdown report and the plots of the benchmarks."""
from __future__ import annotations

import datetime
import hashlib
import math
import os
import platform
import time

import numpy as np


# ---------------------------------------------------------------- timing ----

def best_time(fn, repeat: int = 5, min_time: float = 0.2, max_loops: int = 10**6) -> float:
    """Seconds per call of fn(): the best of `repeat` rounds, each round running
    enough calls to last at least min_time (or a single call if one is longer)."""
    t0 = time.perf_counter()
    fn()
    one = time.perf_counter() - t0
    loops = 1 if one >= min_time else min(max_loops, max(1, int(min_time / max(one, 1e-9))))
    best = one if loops == 1 else math.inf
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(loops):
            fn()
        best = min(best, (time.perf_counter() - t0) / loops)
    return best


def marginal_cost(fn, n: int, repeat: int) -> tuple[float, float]:
    """For fn(k) evaluating k points: (seconds per point of a whole call on n
    points, seconds per additional point between n/10 and n points).  The second
    leaves out a fixed cost per call, which MulensModel has (it reads its
    interpolation tables for every call)."""
    t_small = best_time(lambda: fn(n // 10), repeat=repeat)
    t_big = best_time(lambda: fn(n), repeat=repeat)
    if t_big <= t_small:  # the machine's load swamped the difference: fall back to the whole call
        return t_big / n, t_big / n
    return t_big / n, (t_big - t_small) / (n - n // 10)


def interleaved(fns, rounds: int) -> list[float]:
    """Best seconds per call of each function, calling them in turn."""
    best = [math.inf] * len(fns)
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            t0 = time.perf_counter()
            fn()
            best[i] = min(best[i], time.perf_counter() - t0)
    return best


# ---------------------------------------------------------------- errors ----

def max_rel_diff(a, b) -> tuple[float, int]:
    """Largest |a - b|/|b| over the points where both are finite, and the
    number of points where exactly one of them is not finite."""
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    fa, fb = np.isfinite(a), np.isfinite(b)
    both = fa & fb
    with np.errstate(divide="ignore", invalid="ignore"):
        rel = np.abs(a[both] - b[both]) / np.abs(b[both])
    return (float(np.max(rel)) if rel.size else math.nan), int(np.count_nonzero(fa != fb))


def ulp_errors(got, ref):
    got = np.asarray(got, dtype=float)
    ref = np.asarray(ref, dtype=float)
    return np.abs(got - ref) / np.spacing(np.abs(ref))


def digest(values) -> str:
    return hashlib.sha256(np.asarray(values, dtype=np.float64).tobytes()).hexdigest()


# ------------------------------------------------------------- formatting ----

def fmt_ns(sec_per_elem):
    if sec_per_elem is None or not math.isfinite(sec_per_elem):
        return "n/a"
    ns = sec_per_elem * 1e9
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.1f} ns"


def fmt_ratio(r):
    return f"{r:.1f}" if r >= 1 else f"{r:.2g}"


def fmt_g(v, digits=2):
    if v is None or (isinstance(v, float) and not math.isfinite(v)):
        return "n/a"
    return f"{v:.{digits}e}"


def machine_line() -> str:
    cpu = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as fh:
            for line in fh:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    ncpu = len(os.sched_getaffinity(0))
    return f"{cpu}, {ncpu} cores available, Linux {platform.release()}, Python {platform.python_version()}"


class Report:
    """Markdown lines, printed as they come and kept for a file."""

    def __init__(self):
        self.lines: list[str] = []

    def __call__(self, s: str = "") -> None:
        print(s, flush=True)
        self.lines.append(s)

    def header(self, title: str, command: str, versions: dict) -> None:
        self(f"## {title}")
        self()
        self(f"- Machine: {machine_line()}; load average at start {os.getloadavg()[0]:.2f} "
             "(other work on the machine slows the multi-threaded figures first)")
        self(f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC")
        self(f"- Command: `{command}`")
        self("- Versions: " + ", ".join(f"{k} {v}" for k, v in versions.items() if v))

    def table(self, head: list[str], align: str, rows) -> None:
        """A markdown table; align holds one character per column: "l", "r" or "c"."""
        self("| " + " | ".join(head) + " |")
        self("|" + "".join({"l": "---|", "r": "---:|", "c": ":---:|"}[a] for a in align))
        for row in rows:
            self("| " + " | ".join(row) + " |")
        self()

    def write(self, path: str | None) -> None:
        if path:
            with open(path, "w") as fh:
                fh.write("\n".join(self.lines) + "\n")


# ------------------------------------------------------------------ plots ----

def pyplot():
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def throughput_plot(path, rho, numpy_sweep, z1_sweep, zn_sweep, ncpu, vb_sweep=None):
    plt = pyplot()
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=110)

    def curve(sweep, label, style):
        if not sweep:
            return
        ns = sorted(int(k) for k in sweep)
        ax.plot(ns, [n / sweep[n if n in sweep else str(n)] for n in ns], style, label=label)
    curve(z1_sweep, "zorvane, 1 thread (list in)", "o-")
    curve(zn_sweep, f"zorvane, {ncpu} threads (list in)", "s-")
    curve(numpy_sweep, "NumPy + SciPy closed form (ndarray in)", "^--")
    curve(vb_sweep, "VBMicrolensing ESPLLightCurve, uniform (ndarray in)", "v:")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("separations per call")
    ax.set_ylabel("magnifications per second")
    ax.set_title(f"Uniform-disk magnification throughput (rho = {rho:g})")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)
