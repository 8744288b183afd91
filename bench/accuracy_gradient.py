"""Accuracy of the uniform disk's derivatives against mpmath, zone by zone.

    python -m bench.accuracy_gradient [--points N]     (from the repository root)

For each zone of separations x (source radii) and sources of rho = 1e-6 to 10
Einstein radii (log-uniform, seeded), compares witt_mao_magnification_gradient
with central differences (step 1e-20) of the Witt-Mao closed form at 90 digits
(tests/python/references.py), and prints the largest error of each derivative
as error * max(u, rho) / A, which is what the derivative contributes to the
change of A relative to A when u or rho changes by its own size, and beside it
the largest relative error of the derivative itself. A few points are first
checked against the disk's edge alone (the derivatives as averages around the
edge), a reference that shares nothing with the closed form.
"""

import argparse
import math
import random

import mpmath as mp

import zorvane
from tests.python.references import disk_gradient, disk_gradient_by_edges

ZONES = [
    # name, x from a uniform u in [0, 1)
    ("centre, x = 0 and 1e-8 to 1e-2", lambda v: 0.0 if v < 0.1 else 10 ** (-8 + 6 * v)),
    ("inside, 0.01 to 0.9", lambda v: 0.01 + 0.89 * v),
    ("near the limb, 1e-8 <= |x - 1| <= 0.1", lambda v: 1 + math.copysign(10 ** (-8 + 7 * abs(2 * v - 1)), v - 0.5)),
    ("within 1e-8 of the limb, down to 1e-15", lambda v: 1 + math.copysign(10 ** (-15 + 7 * abs(2 * v - 1)), v - 0.5)),
    ("outside, 1.1 to 3", lambda v: math.nextafter(3.0, 0.0) if v > 0.95 else 1.1 + 1.9 * v),
    ("far field, 3 to 1e6", lambda v: 3.0 if v < 0.05 else 3 * 10 ** (5.5 * v)),
]


def errors(x, rho):
    a, du, dr = zorvane.witt_mao_magnification_gradient([x], 1.0, rho)
    ra, rdu, rdr = disk_gradient(x, rho)
    scale = max(mp.mpf(x) * rho, mp.mpf(rho)) / ra
    out = []
    for got, ref in ((du[0], rdu), (dr[0], rdr)):
        out.append(float(abs(got - ref) * scale))
        out.append(float(abs(got - ref) / abs(ref)) if ref != 0 else float(abs(got) > 0))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=60, help="separations per zone")
    args = parser.parse_args()
    rng = random.Random(20261209)

    print("the references against each other (derivatives from the edge alone), error * max(u, rho) / A:")
    worst = 0.0
    for x, rho in [(0.0, 0.1), (0.3, 1e-4), (0.9, 1.0), (1.5, 0.01), (2.5, 10.0), (5.0, 1e-3)]:
        a, du, dr = disk_gradient(x, rho)
        eu, er = disk_gradient_by_edges(x, rho)
        scale = max(mp.mpf(x) * rho, mp.mpf(rho)) / a
        worst = max(worst, float(abs(eu - du) * scale), float(abs(er - dr) * scale))
    print(f"  largest difference {worst:.1e}\n")

    print(f"{args.points} separations per zone, rho log-uniform in [1e-6, 10]")
    print(f"{'zone':42s} {'dA/du':>9s} {'(rel.)':>9s} {'dA/drho':>9s} {'(rel.)':>9s}")
    for name, pick in ZONES:
        worst = [0.0] * 4
        for _ in range(args.points):
            x, rho = pick(rng.random()), 10 ** rng.uniform(-6, 1)
            worst = [max(w, e) for w, e in zip(worst, errors(x, rho))]
        print(f"{name:42s} " + " ".join(f"{w:9.1e}" for w in worst))

    a, du, dr = zorvane.witt_mao_magnification_gradient([1.0], 1.0, 0.01)
    print(f"\non the limb (x = 1): A = {a[0]!r}, dA/du = {du[0]}, dA/drho = {dr[0]}")


if __name__ == "__main__":
    main()
