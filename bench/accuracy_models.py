"""Accuracy of the uniform-disk and ring magnifications against high-precision quadrature.

    python -m bench.accuracy_models        (from the repository root)

Prints, for the uniform disk, the largest relative error in bands of |x - 1|
for several source sizes, then the error far from the source (where the closed
form's three terms, each of order 1/rho², cancel down to the point-source
value) next to the distance of the point-source magnification itself from the
reference, and for the ring the error against |r - l|/(l + r).
"""

import math

import mpmath as mp

import zorvane
from tests.python.references import disk as disk_reference
from tests.python.references import ring as ring_reference

mp.mp.dps = 30


def rel(a, b):
    return float(abs(mp.mpf(a) - b) / abs(b))


def disk_bands():
    print("uniform disk: largest relative error by |x - 1|")
    bands = [(1e-2, 10.0), (1e-3, 1e-2), (1e-5, 1e-3), (0.0, 1e-5)]
    print(f"{'rho':>8} " + " ".join(f"{f'[{lo:g},{hi:g})':>14}" for lo, hi in bands))
    for rho in (1e-4, 1e-3, 1e-2, 0.1, 1.0, 10.0):
        row = []
        for lo, hi in bands:
            xs = []
            for k in range(12):
                d = lo + (hi - lo) * (k + 0.5) / 12 if lo == 0 else lo * (hi / lo) ** (k / 11.0)
                for x in (1 - d, 1 + d):
                    if 0 <= x <= 10:
                        xs.append(x)
            got = zorvane.witt_mao_magnification(xs, 1.0, rho)
            row.append(max(rel(v, disk_reference(x, rho)) for x, v in zip(xs, got)))
        print(f"{rho:8g} " + " ".join(f"{e:14.2e}" for e in row))


def disk_far():
    print("\nuniform disk far from the source: relative error of zorvane and of the point-source value")
    print(f"{'rho':>8} {'x':>10} {'u':>10} {'zorvane':>10} {'point':>10}")
    for rho in (1e-3, 1e-5, 1e-7):
        for x in (10.0, 1e2, 1e3, 1e4, 1e5, 1e6):
            u = x * rho
            if u > 1e3:
                continue
            ref = disk_reference(x, rho)
            got = zorvane.witt_mao_magnification([x], 1.0, rho)[0]
            point = (u * u + 2) / (u * math.sqrt(u * u + 4))
            print(f"{rho:8g} {x:10g} {u:10g} {rel(got, ref):10.2e} {rel(point, ref):10.2e}")


def ring_near():
    print("\nring: relative error against |r - l|/(l + r)  (l = 0.5, c = 10)")
    l, c = 0.5, 10.0
    for gap in (1e-1, 1e-2, 1e-3, 1e-4, 2e-5, 1.2e-5 * l):
        r = l + gap
        got = zorvane.heyrovsky_magnification(l, r, c, 1.0)
        print(f"{gap / (l + r):10.2e} {rel(got, ring_reference(l, r, c)):10.2e}")


if __name__ == "__main__":
    disk_bands()
    disk_far()
    ring_near()
