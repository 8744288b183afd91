"""Cost of the uniform disk's gradient against the magnification alone, on one thread.

    RAYON_NUM_THREADS=1 python -m bench.gradient_cost      # from the repository root

Times witt_mao_magnification_gradient and witt_mao_magnification on the same
calls of 30 000 separations (rho = 0.01, a float64 array in): near the source
(uniform in [0, 2.9) source radii), a light curve's mix (uniform in [0, 30):
a tenth near the source, the rest on the far-field series) and the far field
alone (uniform in [3, 1000)). Each round times one call of each, alternating,
so that a change of load falls on both; the medians over the rounds and the
ratio gradient / magnification are printed. The surface alone (reading the
array, building one list of floats, or three for the gradient) is timed on
negative separations, which are NaN at once.
"""

import os
import statistics
import time

import numpy as np

import zorvane

N = 30_000
ROUNDS = 41
RHO = 0.01


def median_per_element(calls, x):
    samples = [[] for _ in calls]
    for _ in range(ROUNDS):
        for f, out in zip(calls, samples):
            t0 = time.perf_counter()
            f(x, 1.0, RHO)
            out.append((time.perf_counter() - t0) / len(x))
    return [statistics.median(s) for s in samples]


def main():
    if os.environ.get("RAYON_NUM_THREADS") != "1":
        print("note: run with RAYON_NUM_THREADS=1 for one-thread figures")
    rng = np.random.default_rng(25)
    workloads = [
        ("near the source, l in [0, 2.9)", rng.uniform(0.0, 2.9, N)),
        ("light-curve mix, l in [0, 30)", rng.uniform(0.0, 30.0, N)),
        ("far field, l in [3, 1000)", rng.uniform(3.0, 1000.0, N)),
        ("surface alone (negative l)", -rng.uniform(0.0, 3.0, N)),
    ]
    calls = [zorvane.witt_mao_magnification, zorvane.witt_mao_magnification_gradient]
    for f in calls:
        f(workloads[0][1], 1.0, RHO)
    print(f"calls of {N} separations, rho = {RHO}, medians of {ROUNDS} rounds, ns per element")
    print(f"{'workload':34s} {'magnification':>14s} {'gradient':>10s} {'ratio':>7s}")
    for name, x in workloads:
        plain, grad = median_per_element(calls, x)
        print(f"{name:34s} {plain * 1e9:14.1f} {grad * 1e9:10.1f} {grad / plain:7.2f}")


if __name__ == "__main__":
    main()
