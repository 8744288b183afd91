"""Accuracy of the gradients' derivatives against mpmath, zone by zone.

    python -m bench.accuracy_gradient [--points N]                   the uniform disk
    python -m bench.accuracy_gradient --limb-darkened [--points N]   the linear law of 0.6
    python -m bench.accuracy_gradient --tables [--points N]          tabulated profiles
    (from the repository root)

For each zone of separations x (source radii) and sources of rho = 1e-6 to 10
Einstein radii (log-uniform, seeded), compares the module's gradient with
central differences (step 1e-20) of an mpmath reference (tests/python/
references.py): for the disk, witt_mao_magnification_gradient against the
Witt-Mao closed form at 90 digits; for the law, integrated_heyrovsky_
magnification_gradient against the area average in polar coordinates about
the lens at 50 digits (`linear_gradient`); for a table, integrated_flux_map_
heyrovsky_magnification_gradient against the exact integral of the
interpolated profile over concentric disks at 50 digits (`table_gradient`).
It prints the largest error of each derivative as error * max(u, rho) / A,
which is what the derivative contributes to the change of A relative to A
when u or rho changes by its own size, and beside it the largest relative
error of the derivative itself. The references are first checked against
each other: the disk's against its edge alone (the derivatives as averages
around the edge), a reference that shares nothing with the closed form; the
law's and the tables' by a second step (1e-14) and by SciPy's nested
quadrature of the profile differenced with a step of 1e-4 (good to about
1e-7), and a one-radius table against the disk.
"""

import argparse
import math
import random

import mpmath as mp

import zorvane
from tests.python.references import (LINEAR, disk_gradient, disk_gradient_by_edges, linear_gradient, linear_law,
                                     profile_average, table_gradient, _central_differences, _linear_source,
                                     _table_source)

ZONES = [
    # name, x from a uniform v in [0, 1) and the radius e of the profile's step (the limb: 1)
    ("centre, x = 0 and 1e-8 to 1e-2", lambda v, e: 0.0 if v < 0.1 else 10 ** (-8 + 6 * v)),
    ("inside, 0.01 to 0.9", lambda v, e: 0.01 + 0.89 * v),
    ("near the limb, 1e-8 <= |x - 1| <= 0.1", lambda v, e: e + math.copysign(10 ** (-8 + 7 * abs(2 * v - 1)), v - 0.5)),
    ("within 1e-8 of the limb, down to 1e-15", lambda v, e: e + math.copysign(10 ** (-15 + 7 * abs(2 * v - 1)), v - 0.5)),
    ("outside, 1.1 to 3", lambda v, e: math.nextafter(3.0, 0.0) if v > 0.95 else 1.1 + 1.9 * v),
    ("far field, 3 to 1e6", lambda v, e: 3.0 if v < 0.05 else 3 * 10 ** (5.5 * v)),
]


def graded(n):
    """n radii from 0 to 1, equally spaced in sqrt(1 - r)."""
    return [1 - (1 - j / (n - 1)) ** 2 for j in range(n)]


def law_table(bl):
    return bl, [linear_law(r) for r in bl]


TABLES = {
    "5 even radii": law_table([j / 4 for j in range(5)]),
    "5 graded radii": law_table(graded(5)),
    "step at 0.5": ([0.0, 0.5, 0.5, 1.0], [1.0, 1.0, 0.4, 0.3]),
    "from 0.2 to 0.9": ([0.2, 0.6, 0.9], [1.0, 0.7, 0.5]),
    "30 graded radii": law_table(graded(30)),
}


def steps(bl, bf):
    """The radii where the table's profile jumps (its ends where it is not 0, a radius given twice)."""
    out = [r for r, r1, f, f1 in zip(bl, bl[1:], bf, bf[1:]) if r == r1 and f != f1]
    if bf[0] != 0 and bl[0] > 0:
        out.append(bl[0])
    if bf[-1] != 0:
        out.append(bl[-1])
    return sorted(out)


def scaled_errors(x, rho, got, reference):
    """[|error|·max(u, rho)/A, relative error] of each derivative."""
    ra, rdu, rdr = reference
    scale = max(mp.mpf(x) * rho, mp.mpf(rho)) / ra
    out = []
    for value, ref in zip(got, (rdu, rdr)):
        out.append(float(abs(value - ref) * scale))
        out.append(float(abs(value - ref) / abs(ref)) if ref != 0 else float(abs(value) > 0))
    return out


def disk_errors(x, rho):
    _, du, dr = zorvane.witt_mao_magnification_gradient([x], 1.0, rho)
    return scaled_errors(x, rho, (du[0], dr[0]), disk_gradient(x, rho))


def law_errors(x, rho):
    _, du, dr = zorvane.integrated_heyrovsky_magnification_gradient([x], 1.0, rho)
    return scaled_errors(x, rho, (du[0], dr[0]), linear_gradient(x, rho))


def table_errors(table):
    bl, bf = TABLES[table]

    def errors(x, rho):
        _, du, dr = zorvane.integrated_flux_map_heyrovsky_magnification_gradient([x], 1.0, rho, bl, bf)
        return scaled_errors(x, rho, (du[0], dr[0]), table_gradient(x, rho, bl, bf))
    return errors


def scipy_differences(x, rho, profile, points):
    """(dA/du, dA/drho) by central differences of step 1e-4 times the smallest
    of rho, u and the distance to a step of SciPy's nested quadrature of the
    profile (good to about 1e-7 of the derivative)."""
    u = x * rho
    near = min([rho] + ([u] if u > 0 else []) + [abs(u - rho * r) for r in points if u != rho * r])
    h = 1e-4 * near

    def a(uu, r):
        return profile_average(uu / r, 1.0 / r, profile, points=points, epsrel=1e-13)
    du = (a(u + h, rho) - a(u - h, rho)) / (2 * h) if u > 0 else 0.0
    return du, (a(u, rho + h) - a(u, rho - h)) / (2 * h)


def table_profile(bl, bf):
    """P(r) of the table: linear between its radii, 0 outside, the later value at a repeated radius."""
    def profile(r):
        if not bl[0] <= r <= bl[-1] or len(bl) == 1:
            return bf[0] if len(bl) == 1 and r <= bl[0] else 0.0
        k = max(j for j in range(len(bl) - 1) if bl[j] <= r)
        if bl[k + 1] == bl[k]:
            return bf[k + 1]
        return bf[k] + (bf[k + 1] - bf[k]) * (r - bl[k]) / (bl[k + 1] - bl[k])
    return profile


def check_references(kind):
    """The largest differences between the references, as error * max(u, rho) / A."""
    if kind == "disk":
        print("the references against each other (derivatives from the edge alone), error * max(u, rho) / A:")
        worst = 0.0
        for x, rho in [(0.0, 0.1), (0.3, 1e-4), (0.9, 1.0), (1.5, 0.01), (2.5, 10.0), (5.0, 1e-3)]:
            a, du, dr = disk_gradient(x, rho)
            eu, er = disk_gradient_by_edges(x, rho)
            worst = max([worst] + scaled_errors(x, rho, (eu, er), (a, du, dr))[::2])
        print(f"  largest difference {worst:.1e}\n")
        return
    print("the references against each other, error * max(u, rho) / A:")
    if kind == "law":
        cases = [(x, rho, None) for x, rho in [(0.0, 0.1), (0.3, 1e-4), (0.9, 1.0), (1 - 1e-6, 0.01),
                                               (1.5, 0.01), (2.5, 10.0), (5.0, 1e-3)]]
    else:
        cases = [(0.3, 0.01, "step at 0.5"), (0.5 + 1e-3, 0.1, "step at 0.5"), (0.95, 1.0, "from 0.2 to 0.9"),
                 (0.7, 1e-4, "30 graded radii"), (1.5, 10.0, "5 graded radii")]
    two_steps, scipy = 0.0, 0.0
    for x, rho, table in cases:
        if table is None:
            f, radii, profile = (lambda u, r: _linear_source(u, r, mp.mpf(LINEAR))), [1.0], linear_law
            ref = linear_gradient(x, rho)
        else:
            bl, bf = TABLES[table]
            f, radii, profile = (lambda u, r, bl=bl, bf=bf: _table_source(u, r, bl, bf)), bl, table_profile(bl, bf)
            ref = table_gradient(x, rho, bl, bf)
        other = _central_differences(f, x, rho, radii, 50, step=mp.mpf(10) ** -14)
        two_steps = max([two_steps] + scaled_errors(x, rho, other[1:], ref)[::2])
        if min(abs(x - r) for r in radii) > 0.01:   # SciPy's step would be too short to beat its rounding
            scipy = max([scipy] + scaled_errors(x, rho, scipy_differences(x, rho, profile, radii), ref)[::2])
    print(f"  steps 1e-20 and 1e-14: largest difference {two_steps:.1e}")
    print(f"  SciPy's quadrature differenced with steps of 1e-4: largest difference {scipy:.1e}")
    if kind == "tables":
        worst = 0.0
        for x, rho in [(0.0, 0.1), (0.6, 1e-4), (1 + 1e-6, 1.0), (4.0, 0.01)]:
            worst = max([worst] + scaled_errors(x, rho, table_gradient(x, rho, [0.3], [2.0])[1:],
                                                disk_gradient(x, rho))[::2])
        print(f"  a one-radius table against the disk's closed form (mpmath's K, E, Pi): largest difference {worst:.1e}")
    print()


def sweep(errors, points, rng, edges=(1.0,)):
    print(f"{'zone':42s} {'dA/du':>9s} {'(rel.)':>9s} {'dA/drho':>9s} {'(rel.)':>9s}")
    for name, pick in ZONES:
        if edges != (1.0,):
            name = name.replace("the limb", "a step").replace("|x - 1|", "|x - r|")
        worst = [0.0] * 4
        for _ in range(points):
            v = rng.random()
            x = pick(v, edges[0] if len(edges) == 1 else rng.choice(edges))
            rho = 10 ** rng.uniform(-6, 1)
            worst = [max(w, e) for w, e in zip(worst, errors(x, rho))]
        print(f"{name:42s} " + " ".join(f"{w:9.1e}" for w in worst))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    kind = parser.add_mutually_exclusive_group()
    kind.add_argument("--limb-darkened", action="store_true", help="the linear law of 0.6")
    kind.add_argument("--tables", action="store_true", help="tabulated profiles")
    parser.add_argument("--points", type=int, help="separations per zone (default 60 for the disk, 30 for the "
                                                   "law, 6 per table)")
    args = parser.parse_args()
    rng = random.Random(20261209)

    if args.tables:
        check_references("tables")
        points = args.points or 6
        for table, (bl, bf) in TABLES.items():
            print(f"{table}: {points} separations per zone, rho log-uniform in [1e-6, 10]; near and within "
                  f"1e-8 of its steps at {', '.join(f'{r:g}' for r in steps(bl, bf))}")
            sweep(table_errors(table), points, rng, edges=steps(bl, bf))
            print()
        return

    law = args.limb_darkened
    check_references("law" if law else "disk")
    points = args.points or (30 if law else 60)
    print(f"{points} separations per zone, rho log-uniform in [1e-6, 10]")
    sweep(law_errors if law else disk_errors, points, rng)
    f = zorvane.integrated_heyrovsky_magnification_gradient if law else zorvane.witt_mao_magnification_gradient
    a, du, dr = f([1.0], 1.0, 0.01)
    print(f"\non the limb (x = 1): A = {a[0]!r}, dA/du = {du[0]}, dA/drho = {dr[0]}")


if __name__ == "__main__":
    main()
