#!/usr/bin/env python3
"""Times zorvane's elliptic integrals (the C++ bench_ellip binary) next to SciPy's
on the same arguments, in one run, and prints ns per element and the ratio.

Usage: python bench/bench_ellip.py [BENCH_BINARY] [N]
Without a binary path it builds build/bench/bench_ellip with CMake first.
"""
import pathlib
import subprocess
import sys
import time

import numpy as np
import scipy.special as sc

ROOT = pathlib.Path(__file__).resolve().parent.parent


def build():
    out = ROOT / "build" / "bench"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(out), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DZORVANE_BUILD_BENCH=ON", "-DZORVANE_BUILD_MODULE=OFF", "-DBUILD_TESTING=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(out), "-j2", "--target", "bench_ellip"], check=True,
                   stdout=subprocess.DEVNULL)
    return out / "bench_ellip"


def arguments(n):
    i = np.arange(n, dtype=np.float64)
    frac = (i + 0.5) / n
    g = 0.6180339887498949 * i
    scrambled = g - np.trunc(g)
    return {
        "m_table": 0.9 * scrambled,
        "m_smooth": 0.9 * frac,
        "m_fallback": 0.9 + 0.0999 * scrambled,
        "pn": 0.98 * frac + 0.01,
        "pm": 0.95 * scrambled,
        "x": np.zeros(n),
        "y": 0.1 + 2.0 * scrambled,
        "z": np.ones(n),
        "p": 0.05 + 3.0 * frac,
    }


def best_ns(f, n, reps=5):
    best = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter_ns()
        f()
        best = min(best, (time.perf_counter_ns() - t0) / n)
    return best


def main():
    binary = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else build()
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    out = subprocess.run([str(binary), str(n)], check=True, capture_output=True, text=True).stdout
    ours = {line.split()[0]: float(line.split()[1]) for line in out.splitlines() if line.strip()}

    a = arguments(n)

    def scipy_pi():
        mc = 1.0 - a["pm"]
        return sc.elliprf(0.0, mc, 1.0) + a["pn"] / 3.0 * sc.elliprj(0.0, mc, 1.0, 1.0 - a["pn"])

    theirs = {
        "ellipk_table": ("scipy ellipk", lambda: sc.ellipk(a["m_table"])),
        "ellipk_table_smooth": ("scipy ellipk", lambda: sc.ellipk(a["m_smooth"])),
        "ellipk_fallback": ("scipy ellipk", lambda: sc.ellipk(a["m_fallback"])),
        "ellipe_table": ("scipy ellipk", lambda: sc.ellipk(a["m_table"])),
        "ellipe_table_smooth": ("scipy ellipk", lambda: sc.ellipk(a["m_smooth"])),
        "ellipe_fallback": ("scipy ellipe", lambda: sc.ellipe(a["m_fallback"])),
        "ellippi": ("scipy elliprf + elliprj", scipy_pi),
        "elliprf": ("scipy elliprf", lambda: sc.elliprf(a["x"], a["y"], a["z"])),
        "elliprj": ("scipy elliprj", lambda: sc.elliprj(a["x"], a["y"], a["z"], a["p"])),
    }
    # The table paths are compared with SciPy's ellipk, the target being a factor 3.
    print(f"{'case':<20} {'zorvane ns':>11} {'SciPy ns':>9}  {'SciPy/zorvane':>13}  SciPy route")
    for name, (label, f) in theirs.items():
        mine = ours[name]
        ref = best_ns(f, n)
        print(f"{name:<20} {mine:>11.2f} {ref:>9.2f}  {ref / mine:>13.2f}  {label}")


if __name__ == "__main__":
    main()
