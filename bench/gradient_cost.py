"""Cost of the gradients against the magnifications alone, on one thread.

    RAYON_NUM_THREADS=1 python -m bench.gradient_cost [--only disk|law|maps]   # from the repository root

Times each gradient and its plain magnification on the same calls (rho =
0.01, a float64 array in): witt_mao_magnification_gradient against
witt_mao_magnification on 30 000 separations; integrated_heyrovsky_
magnification_gradient against integrated_heyrovsky_magnification (the linear
law of 0.6) and integrated_flux_map_heyrovsky_magnification_gradient against
integrated_flux_map_heyrovsky_magnification (the same law tabulated at 12 and
at 40 radii graded towards the limb) on 3 000, as each separation near the
source costs them a quadrature. The workloads: near the source (uniform in
[0, 2.9) source radii), a light curve's mix (uniform in [0, 30): a tenth near
the source, the rest on the far-field series) and the far field alone (uniform
in [3, 1000)). Each round times one call of each, alternating, so that a
change of load falls on both; the medians over the rounds and the ratio
gradient / magnification are printed. The surface alone (reading the array,
building one list of floats, or three for the gradient) is timed on negative
separations, which are NaN at once.
"""

import argparse
import math
import os
import statistics
import time

import numpy as np

import zorvane

ROUNDS = 41
RHO = 0.01


def graded(n):
    """n radii from 0 to 1, equally spaced in sqrt(1 - r)."""
    return [1 - (1 - j / (n - 1)) ** 2 for j in range(n)]


def law_table(n):
    bl = graded(n)
    return bl, [1 - 0.6 * (1 - math.sqrt(1 - r * r)) for r in bl]


# name, separations per call, (magnification, gradient), extra arguments
PAIRS = {
    "disk": [("uniform disk", 30_000, (zorvane.witt_mao_magnification, zorvane.witt_mao_magnification_gradient), ())],
    "law": [("linear law of 0.6", 3_000, (zorvane.integrated_heyrovsky_magnification,
                                          zorvane.integrated_heyrovsky_magnification_gradient), ())],
    "maps": [(f"table of {n} radii", 3_000, (zorvane.integrated_flux_map_heyrovsky_magnification,
                                             zorvane.integrated_flux_map_heyrovsky_magnification_gradient),
              law_table(n)) for n in (12, 40)],
}


def median_per_element(calls, x, extra):
    samples = [[] for _ in calls]
    for _ in range(ROUNDS):
        for f, out in zip(calls, samples):
            t0 = time.perf_counter()
            f(x, 1.0, RHO, *extra)
            out.append((time.perf_counter() - t0) / len(x))
    return [statistics.median(s) for s in samples]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", choices=list(PAIRS), help="time one family only")
    args = parser.parse_args()
    if os.environ.get("RAYON_NUM_THREADS") != "1":
        print("note: run with RAYON_NUM_THREADS=1 for one-thread figures")
    for family in [args.only] if args.only else PAIRS:
        for name, n, calls, extra in PAIRS[family]:
            rng = np.random.default_rng(25)
            workloads = [
                ("near the source, l in [0, 2.9)", rng.uniform(0.0, 2.9, n)),
                ("light-curve mix, l in [0, 30)", rng.uniform(0.0, 30.0, n)),
                ("far field, l in [3, 1000)", rng.uniform(3.0, 1000.0, n)),
                ("surface alone (negative l)", -rng.uniform(0.0, 3.0, n)),
            ]
            for f in calls:
                f(workloads[0][1], 1.0, RHO, *extra)
            print(f"{name}: calls of {n} separations, rho = {RHO}, medians of {ROUNDS} rounds, ns per element")
            print(f"{'workload':34s} {'magnification':>14s} {'gradient':>10s} {'ratio':>7s}")
            for label, x in workloads:
                plain, grad = median_per_element(calls, x, extra)
                print(f"{label:34s} {plain * 1e9:14.1f} {grad * 1e9:10.1f} {grad / plain:7.2f}")
            print()


if __name__ == "__main__":
    main()
