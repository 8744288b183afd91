"""Accuracy of the limb-darkened forms by zone of the separation, against mpmath.

    python -m bench.radial_accuracy [--tables] [--fresh]   (from the repository root)

Prints the largest relative error of both families with the 0.6 law, per zone
of the separation l (source radii) and per source radius rho (Einstein radii),
against the source's area average in polar coordinates about the lens (30
digits). With --tables, also the flux maps of the 0.6 law tabulated at 5, 50
and 400 knots, spaced evenly in r and graded towards the limb, against the
exact magnification of the piecewise-linear profile (30 digits, split at r = l
and at the knots), with the smallest result minus 1 and the step where the
far-field series takes over (at l = 3). References are kept in
build/radial_references.json (--fresh recomputes them).
"""

import argparse
import json
import math
import os

import zorvane
from tests.python import references as R

RHOS = (1e-6, 1e-3, 0.01, 0.1, 1.0, 10.0)
LIMB = (1e-1, 1e-2, 1e-3, 1e-4, 1e-6, 1e-8, 1e-10, 1e-12)
ZONES = {
    "centre": [0.0, 1e-6, 1e-3],
    "inside": [0.05, 0.2, 0.4, 0.6, 0.75, 0.88],
    "limb": [1.0] + [1.0 - d for d in LIMB] + [1.0 + d for d in LIMB],
    "outside": [1.15, 1.4, 1.8, 2.3, 2.9, 2.999],
}
TABLE_L = [0.0, 0.3, 0.5, 0.75, 0.77, 0.999, 1.0, 1.001, 1.5, 2.73, 2.999]   # 0.5, 0.75: knots of 5 even
TABLE_RHO = 0.01
FAINT_RHO = 10.0
CACHE = os.path.join("build", "radial_references.json")


def table(n, graded):
    """The 0.6 law at n knots, evenly spaced in r or graded towards the limb."""
    s = [j / (n - 1) for j in range(n)]
    r = [1.0 - (1.0 - x) ** 2 for x in s] if graded else s
    return r, [R.linear_law(x) for x in r]


class References:
    def __init__(self, fresh):
        self.data = {}
        if not fresh and os.path.exists(CACHE):
            with open(CACHE) as f:
                self.data = json.load(f)

    def get(self, key, compute):
        if key not in self.data:
            self.data[key] = float(compute())
            os.makedirs(os.path.dirname(CACHE), exist_ok=True)
            with open(CACHE, "w") as f:
                json.dump(self.data, f)
        return self.data[key]


def rel(a, b):
    return abs(a - b) / abs(b)


def fixed_law(refs):
    forms = {"ring family": zorvane.integrated_heyrovsky_magnification,
             "disk family": zorvane.integrated_witt_mao_magnification}
    for name, f in forms.items():
        print(f"{name}, 0.6 law: largest relative error")
        print(f"{'rho':>8} " + " ".join(f"{z:>9}" for z in ZONES))
        for rho in RHOS:
            row = []
            for ls in ZONES.values():
                got = f(ls, 1.0, rho)
                row.append(max(rel(g, refs.get(f"law {l!r} {rho!r}", lambda: R.linear_source(l, rho, 0.6)))
                               for l, g in zip(ls, got)))
            print(f"{rho:8.0e} " + " ".join(f"{e:9.1e}" for e in row))


def tables(refs):
    forms = {"rings": zorvane.integrated_flux_map_heyrovsky_magnification,
             "disks": zorvane.integrated_flux_map_witt_mao_magnification}
    print(f"flux maps of the 0.6 law, rho = {TABLE_RHO}: largest relative error against the table's exact")
    print(f"magnification for l < 3; smallest A - 1 over l in [0, 5) for rho = {FAINT_RHO} (where A - 1 is")
    print("about 1e-6 at l = 3); relative step at l = 3")
    print(f"{'table':>10} " + " ".join(f"{n + ' ' + q:>12}" for n in forms for q in ("error", "min A-1", "step")))
    probe = [5.0 * k / 500 for k in range(500)]
    for n in (5, 50, 400):
        for graded in (False, True):
            bl, bf = table(n, graded)
            row = []
            for f in forms.values():
                got = f(TABLE_L, 1.0, TABLE_RHO, bl, bf)
                err = max(rel(g, refs.get(f"table {n} {graded} {l!r} {TABLE_RHO!r}",
                                          lambda: R.table_source(l, TABLE_RHO, bl, bf)))
                          for l, g in zip(TABLE_L, got))
                low = min(f(probe, 1.0, FAINT_RHO, bl, bf)) - 1.0
                near, far = f([math.nextafter(3.0, 0.0), 3.0], 1.0, TABLE_RHO, bl, bf)
                row += [err, low, rel(near, far)]
            print(f"{n:>6} {'grad' if graded else 'even'} " + " ".join(f"{e:12.1e}" for e in row))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tables", action="store_true", help="also the flux maps (slow the first time)")
    parser.add_argument("--fresh", action="store_true", help="recompute the references")
    args = parser.parse_args()
    refs = References(args.fresh)
    fixed_law(refs)
    if args.tables:
        tables(refs)


if __name__ == "__main__":
    main()
