"""Cost of an element near the source and far from it, on one thread.

    RAYON_NUM_THREADS=1 python -m bench.far_field      # from the repository root

Far from the source (3 source radii and more) the disk, the ring and both
limb-darkened families take the mean-value series of the point-lens
magnification instead of the elliptic closed forms or the radial quadrature.
This prints the cost per element of each form near (lens inside or close to the
source) and far (10 to 1000 source radii; for the disk also 3 to 10),
medians of rounds in one process (calls of 10 000 elements, whose result
lists stay in the cache, as a fit's light curves do), and their ratio. Times
include converting a float64 array and building the result list.
"""

import os
import statistics
import time

import numpy as np

import zorvane

ROUNDS = 15
# Each round repeats the call for about this long: short inputs then time the
# elements, not the call.
ROUND_SECONDS = 0.02


def per_element(*jobs):
    """Median seconds per element of each job (f, l, args) over ROUNDS timed
    rounds, the jobs' rounds alternating so that a change of load falls on all."""
    calls = []
    for f, l, args in jobs:
        t0 = time.perf_counter()
        f(l, *args)
        calls.append(max(1, int(ROUND_SECONDS / max(time.perf_counter() - t0, 1e-9))))
    samples = [[] for _ in jobs]
    for _ in range(ROUNDS):
        for (f, l, args), n, out in zip(jobs, calls, samples):
            t0 = time.perf_counter()
            for _ in range(n):
                f(l, *args)
            out.append((time.perf_counter() - t0) / (n * len(l)))
    return [statistics.median(x) for x in samples]


def main():
    if os.environ.get("RAYON_NUM_THREADS") != "1":
        print("note: run with RAYON_NUM_THREADS=1 for one-thread figures")
    rng = np.random.default_rng(1)
    near_disk, far_disk = rng.uniform(0.0, 3.0, 10_000), rng.uniform(10.0, 1000.0, 10_000)
    # Just past the threshold the series needs its most terms (16 from 3, 12 from 4).
    edge_disk = rng.uniform(3.0, 10.0, 10_000)
    near_ld, far_ld = rng.uniform(0.0, 1.5, 60), rng.uniform(10.0, 1000.0, 10_000)
    table = (np.linspace(0.0, 1.0, 50), 1.0 - 0.6 * (1.0 - np.sqrt(1.0 - np.linspace(0.0, 1.0, 50) ** 2)))
    disk = zorvane.witt_mao_magnification
    # The surface alone: negative separations are NaN at once, so that call
    # reads the array and builds the list of results.
    near, far, edge, surface = per_element(
        *((disk, x, (1.0, 0.01)) for x in (near_disk, far_disk, edge_disk, -far_disk)))
    rows = [("witt_mao_magnification", near, far), ("witt_mao_magnification, far = 3 to 10 radii", near, edge)]
    cases = [
        ("integrated_heyrovsky_magnification", zorvane.integrated_heyrovsky_magnification, near_ld, far_ld, ()),
        ("integrated_witt_mao_magnification", zorvane.integrated_witt_mao_magnification, near_ld[:20], far_ld, ()),
        ("integrated_flux_map_heyrovsky (50 knots)", zorvane.integrated_flux_map_heyrovsky_magnification,
         near_ld, far_ld, table),
    ]
    for name, f, near_l, far_l, extra in cases:
        rows.append((name, *per_element((f, near_l, (1.0, 0.01, *extra)), (f, far_l, (1.0, 0.01, *extra)))))
    ring_near = [(0.5, 0.4 + 0.2 * k / 999) for k in range(1000)]
    ring_far = [(30.0 + k, 0.5) for k in range(1000)]
    t = []
    for pairs in (ring_near, ring_far):
        times = []
        for _ in range(ROUNDS):
            t0 = time.perf_counter()
            for l, r in pairs:
                zorvane.heyrovsky_magnification(l, r, 100.0, 1.0)
            times.append((time.perf_counter() - t0) / len(pairs))
        t.append(statistics.median(times))
    rows.insert(2, ("heyrovsky_magnification (one call per ring)", t[0], t[1]))
    print(f"{'per element, one thread':46s} {'near':>10s} {'far':>10s} {'far/near':>9s}")
    for name, n, fa in rows:
        print(f"{name:46s} {n * 1e9:8.0f} ns {fa * 1e9:8.0f} ns {fa / n:9.4f}")
    name, n, fa = rows[0]
    print(f"array in and list out alone: {surface * 1e9:.0f} ns per element; the disk's own work "
          f"far/near: {(fa - surface) / (n - surface):.4f}")


if __name__ == "__main__":
    main()
