#!/usr/bin/env python3
"""Writes the reference values for the accuracy tests of the elliptic integrals
(tests/cpp/data/ellip_reference.txt).

The arguments are not stored: they come from a small deterministic recipe
(splitmix64 integers turned into doubles by exact operations: ldexp, and
a + (b - a)*u, which IEEE arithmetic rounds the same way in C++ and Python).
tests/cpp/test_ellip_accuracy.cpp carries the same recipe; a 64-bit FNV-1a hash
of the argument bits in each section's header line catches any drift.

Each reference is the exact integral for the double arguments, computed with
mpmath at 50 and again at 70 significant digits (the two must agree), and
stored as the bit pattern of the nearest double plus the rest
(exact - nearest) in thousandths of a unit in the last place.

Conventions: for p < 0 RJ is the Cauchy principal value, by Carlson's
transformation to a positive p in mpmath (checked against the real part of
mpmath's elliprj where that is fast); for n > 1 Pi is the Cauchy principal
value, -(m/3n) RJ(0, 1 - m, 1, 1 - m/n) in mpmath (checked against
K(m) - Pi(m/n, m) where that does not cancel).

Usage: gen_ellip_reference.py [POINTS_PER_ROUTINE] [OUTPUT]
"""
import math
import pathlib
import struct
import sys

import mpmath

MASK = (1 << 64) - 1
OUT = pathlib.Path(__file__).resolve().parent.parent / "tests/cpp/data/ellip_reference.txt"


class Rng:
    def __init__(self, seed):
        self.state = seed & MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def unit(self):  # [0, 1), 53 bits
        return math.ldexp(self.next() >> 11, -53)

    def uniform(self, a, b):
        return a + (b - a) * self.unit()

    def mag(self, e0, e1):  # [2^e0, 2^(e1+1)), log-uniform over the binades
        e = e0 + self.next() % (e1 - e0 + 1)
        return math.ldexp((self.next() >> 12) | (1 << 52), e - 52)


# Argument recipes: each routine cycles through its regions, point i using region i % len.
def rf_regions(r):
    return [
        lambda: (r.uniform(0, 4), r.uniform(0, 4), r.uniform(0, 4)),
        lambda: (lambda s: (s * r.mag(-40, 40), s * r.mag(-40, 40), s * r.mag(-40, 40)))(r.mag(-950, 950)),
        lambda: (lambda s: (0.0, s * r.mag(-60, 60), s * r.mag(-60, 60)))(r.mag(-900, 900)),
        lambda: (lambda s: (s * r.mag(-150, 150), s * r.mag(-150, 150), s))(r.mag(-800, 800)),
        lambda: (lambda s: (s, s * r.uniform(0.5, 2), s * r.uniform(0.5, 2)))(r.mag(-996, 990)),
    ]


def rc_regions(r):
    return [
        lambda: (r.uniform(0, 4), r.uniform(0, 4)),
        lambda: (lambda s: (s * r.mag(-60, 60), s * r.mag(-60, 60)))(r.mag(-900, 900)),
        lambda: (lambda s: (s * r.mag(-60, 60), -s * r.mag(-60, 60)))(r.mag(-900, 900)),
        lambda: (0.0, r.mag(-996, 996)),
        lambda: (lambda x: (x, x * r.uniform(0.999, 1.001)))(r.mag(-996, 990)),
    ]


def rd_regions(r):
    return [
        lambda: (r.uniform(0, 4), r.uniform(0, 4), r.uniform(0.001, 4)),
        lambda: (lambda s: (s * r.mag(-40, 40), s * r.mag(-40, 40), s * r.mag(-40, 40)))(r.mag(-600, 600)),
        lambda: (lambda s: (0.0, s * r.mag(-60, 60), s * r.mag(-60, 60)))(r.mag(-580, 580)),
        lambda: (lambda s: (s * r.mag(-60, 60), 0.0, s * r.mag(-60, 60)))(r.mag(-580, 580)),
        lambda: (lambda s: (s, s * r.uniform(0.5, 2), s * r.uniform(0.5, 2)))(r.mag(-640, 640)),
    ]


def rg_regions(r):
    return [
        lambda: (r.uniform(0, 4), r.uniform(0, 4), r.uniform(0, 4)),
        lambda: (lambda s: (s * r.mag(-40, 40), s * r.mag(-40, 40), s * r.mag(-40, 40)))(r.mag(-950, 950)),
        lambda: (lambda s: (0.0, s * r.mag(-60, 60), s * r.mag(-60, 60)))(r.mag(-900, 900)),
        lambda: (lambda s: (s * r.mag(-60, 60), s, s))(r.mag(-900, 900)),
        lambda: (lambda s: (s, s * r.uniform(0.5, 2), s * r.uniform(0.5, 2)))(r.mag(-996, 990)),
    ]


def rj_regions(r):
    return [
        lambda: (r.uniform(0, 4), r.uniform(0, 4), r.uniform(0, 4), r.uniform(0.001, 4)),
        lambda: (lambda s: (s * r.mag(-30, 30), s * r.mag(-30, 30), s * r.mag(-30, 30),
                            s * r.mag(-30, 30)))(r.mag(-600, 600)),
        lambda: (lambda s: (0.0, s * r.mag(-30, 30), s * r.mag(-30, 30), s * r.mag(-30, 30)))(r.mag(-600, 600)),
        lambda: (lambda s: (s * r.mag(-20, 20), s * r.mag(-20, 20), s * r.mag(-20, 20),
                            -s * r.mag(-20, 20)))(r.mag(-600, 600)),
        lambda: (r.uniform(0, 4), r.uniform(0, 4), r.uniform(0.1, 4), -r.uniform(0.001, 8)),
        lambda: (lambda s: (s, s, s * r.mag(-20, 20), s * r.mag(-20, 20)))(r.mag(-600, 600)),
    ]


def k_regions(r):
    return [
        lambda: (r.uniform(-0.05, 0.9),),
        lambda: (r.uniform(-0.05, 0.9),),
        lambda: (1.0 - r.mag(-53, -4),),
        lambda: (-r.mag(-996, 996),),
        lambda: (r.mag(-996, -5),),
    ]


e_regions = k_regions


def pi_regions(r):
    return [
        lambda: (r.uniform(0, 1), r.uniform(-1, 1)),
        lambda: (-r.mag(-40, 40), r.uniform(-1, 1)),
        lambda: (1.0 + r.mag(-45, 20), r.uniform(-1, 1)),
        lambda: (r.mag(0, 990), -r.mag(-20, 300)),
        lambda: (1.0 - r.mag(-50, -3), r.uniform(-1, 1)),
        lambda: (r.uniform(-2, 1), 1.0 - r.mag(-50, -3)),
        lambda: (r.uniform(-2, 1), -r.mag(-20, 990)),
    ]


def _pv_rj(x, y, z, p):
    # Carlson's transformation of the principal value to a positive p.
    x, y, z = sorted((x, y, z))
    q = -p
    pp = (z * (x + y + q) - x * y) / (z + q)
    t = x * y + pp * q
    return ((pp - z) * mpmath.elliprj(x, y, z, pp) - 3 * mpmath.elliprf(x, y, z)
            + 3 * mpmath.sqrt(x * y * z / t) * mpmath.elliprc(t, pp * q)) / (z + q)


# Degree of homogeneity of the Carlson integrals: R(s*args) = s^degree * R(args).
DEGREE = {"elliprf": -0.5, "elliprc": -0.5, "elliprd": -1.5, "elliprg": 0.5, "elliprj": -1.5}


def exact(name, args):
    a = [mpmath.mpf(v) for v in args]
    if name in DEGREE:
        # Evaluate at arguments of order one (mpmath's RJ principal value goes
        # wrong for huge arguments), then scale back; exact in mpf.
        scale = max(abs(v) for v in a)
        return _exact(name, [v / scale for v in a]) * scale ** mpmath.mpf(DEGREE[name])
    return _exact(name, a)


def _exact(name, a):
    if name == "elliprf":
        return mpmath.elliprf(*a)
    if name == "elliprc":
        return mpmath.re(mpmath.elliprc(*a))
    if name == "elliprd":
        return mpmath.elliprd(*a)
    if name == "elliprg":
        return mpmath.elliprg(*a)
    if name == "elliprj":
        if a[3] < 0:
            # Principal value by Carlson's transformation to a positive p,
            # checked against mpmath's own principal value (its real part)
            # where the arguments are of similar size: for widely spread ones
            # mpmath's direct evaluation takes minutes.
            v = _pv_rj(*a)
            if max(a) / min(abs(t) for t in a if t != 0) < 1e3:
                w = mpmath.re(mpmath.elliprj(*a))
                if abs(v - w) > abs(v) * mpmath.mpf(10) ** (-mpmath.mp.dps + 10):
                    raise SystemExit(f"RJ principal value disagrees at {a}: {v} {w}")
            return v
        return mpmath.elliprj(*a)
    if name == "ellipk":
        return mpmath.ellipk(a[0])
    if name == "ellipe":
        return mpmath.ellipe(a[0])
    if name == "ellippi":
        n, m = a
        if n > 1:
            # Principal value, through RJ with a positive fourth argument
            # (mpmath's ellippi is slow and loses digits there), checked against
            # the independent relation PV Pi(n, m) = K(m) - Pi(m/n, m), whose
            # cancellation the 30 extra digits absorb (where |m/n| > 1e-20).
            v = -(m / (3 * n)) * mpmath.elliprj(0, 1 - m, 1, 1 - m / n)
            if abs(m / n) > 1e-20:
                with mpmath.workdps(mpmath.mp.dps + 30):
                    w = mpmath.ellipk(m) - mpmath.re(mpmath.ellippi(m / n, m))
                if abs(v - w) > abs(v) * mpmath.mpf(10) ** (-mpmath.mp.dps + 15):
                    raise SystemExit(f"Pi principal value disagrees at {a}: {v} {w}")
            return v
        return mpmath.re(mpmath.ellippi(n, m))
    raise ValueError(name)


def reference(name, args):
    with mpmath.workdps(50):
        lo = exact(name, args)
    with mpmath.workdps(70):
        hi = exact(name, args)
    if abs(lo - hi) > abs(hi) * mpmath.mpf("1e-35"):
        raise SystemExit(f"{name}{args}: 50 and 70 digits disagree: {lo} {hi}")
    return hi


def bits(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def fnv1a(h, x):
    for i in range(8):
        h ^= (bits(x) >> (8 * i)) & 0xFF
        h = (h * 0x100000001B3) & MASK
    return h


ROUTINES = [  # name, seed, recipe
    ("elliprf", 1, rf_regions),
    ("elliprc", 2, rc_regions),
    ("elliprd", 3, rd_regions),
    ("elliprg", 4, rg_regions),
    ("elliprj", 5, rj_regions),
    ("ellipk", 6, k_regions),
    ("ellipe", 7, e_regions),
    ("ellippi", 8, pi_regions),
]


def points(seed, recipe, count):
    r = Rng(seed)
    regions = recipe(r)
    return [regions[i % len(regions)]() for i in range(count)]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    out = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else OUT
    only = sys.argv[3].split(",") if len(sys.argv) > 3 else None
    lines = ["# Reference values of the elliptic integrals; generated by tools/gen_ellip_reference.py.",
             "# Per section: name seed count fnv1a(argument bits); per point: nearest double (bits, hex)",
             "# and (exact - nearest) in thousandths of an ulp."]
    for name, seed, recipe in ROUTINES:
        if only and name not in only:
            continue
        pts = points(seed, recipe, count)
        h = 0xCBF29CE484222325
        for args in pts:
            for v in args:
                h = fnv1a(h, v)
        lines.append(f"{name} {seed} {count} {h:016x}")
        for args in pts:
            e = reference(name, args)
            near = float(mpmath.nstr(e, 30, min_fixed=-mpmath.inf, max_fixed=mpmath.inf))
            if math.isinf(near) or near == 0.0:
                raise SystemExit(f"{name}{args}: reference {e} is out of the double range")
            spacing = math.ulp(near)
            rest = int(mpmath.nint((e - near) / spacing * 1000))
            lines.append(f"{bits(near):016x} {rest}")
        print(name, "done", file=sys.stderr)
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
