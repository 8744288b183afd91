"""Relative error against separation, near the limb and far from the source.

    python -m bench.accuracy_separation        # from the repository root

For the disk (witt_mao_magnification) and for one ring (heyrovsky_magnification)
it compares, against the closed forms evaluated in mpmath at 60 digits at the
exact inputs:
* zorvane as it is, and
* the direct form: the same closed form given n and m as double precision
  forms them (n = 4u·rho/s², m = 4n/f²), so that the elliptic integrals take
  1 - n and 1 - m by subtraction - what the module did before it formed the
  complements directly;
and, far from the source (x from 1.5 to 1e6 source radii), zorvane against the
closed form in double precision (SciPy's K, E and RJ), whose three terms grow
like x² and cancel - what the module did before the mean-value series.
Writes bench/accuracy_separation.png and prints the worst errors.
"""

import math
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import mpmath as mp
import numpy as np

from scipy import special

import zorvane

from tests.python.references import disk_closed_form

DPS = 60
OFFSETS = np.geomspace(1e-14, 0.3, 30)


def disk_direct(x, rho):
    """The closed form with n and m rounded as double precision forms them."""
    u = x * rho
    d, s = u - rho, rho + u
    n = ((rho * 4.0) * u) / (s * s)
    f = math.sqrt(d * d + 4.0)
    m = (math.sqrt(n * 4.0) / f) ** 2
    if not (n < 1.0 and m < 1.0):
        return math.inf   # n or m rounded onto 1: the direct form has no value
    with mp.workdps(DPS):
        rho_m = mp.mpf(rho)
        u_m = mp.mpf(x) * rho_m
        d_m, s_m, r2 = u_m - rho_m, u_m + rho_m, rho_m ** 2
        f_m = mp.sqrt(4 + d_m ** 2)
        value = (s_m * f_m / (2 * r2) * mp.ellipe(m) - d_m * (8 + u_m ** 2 - r2) / (2 * r2 * f_m) * mp.ellipk(m)
                 + 2 * d_m ** 2 * (1 + r2) / (r2 * s_m * f_m) * mp.ellippi(n, m)) / mp.pi
        # m or n rounded onto or past 1: the direct form has no value there
        return float(value) if isinstance(value, mp.mpf) else math.inf


def ring_exact(l, r, c):
    with mp.workdps(DPS):
        l, r, c = mp.mpf(l), mp.mpf(r), mp.mpf(c)
        d, s = r - l, l + r
        big_d = d * d + 4 * c * c
        nc = (d / s) ** 2
        mc = nc * (s * s + 4 * c * c) / big_d
        return 4 / (s * mp.sqrt(big_d)) * (2 * c * c * mp.ellipk(1 - mc) + d * d * mp.ellippi(1 - nc, 1 - mc)) / (2 * mp.pi)


def ring_direct(l, r, c):
    s, d = l + r, (r - l) ** 2
    big_d = d + c * c * 4.0
    m = (((c * 4.0) / s) * math.sqrt((l * r) / big_d)) ** 2
    n = ((l * 4.0) * r) / (s * s)
    if not (n < 1.0 and m < 1.0):
        return math.inf
    with mp.workdps(DPS):
        lm, rm, cm = mp.mpf(l), mp.mpf(r), mp.mpf(c)
        dm, sm = rm - lm, lm + rm
        bd = dm * dm + 4 * cm * cm
        value = 4 / (sm * mp.sqrt(bd)) * (2 * cm * cm * mp.ellipk(m) + dm * dm * mp.ellippi(n, m)) / (2 * mp.pi)
        return float(value) if isinstance(value, mp.mpf) else math.inf


def disk_double(x, rho):
    """The Witt-Mao closed form in double precision with SciPy's integrals."""
    u = x * rho
    d, s = u - rho, u + rho
    n = 4 * u * rho / (s * s)
    f = math.sqrt(d * d + 4)
    m = 4 * n / (f * f)
    k, e = special.ellipk(m), special.ellipe(m)
    p = k + n / 3 * special.elliprj(0, 1 - m, 1, 1 - n)
    r2 = rho * rho
    return (s * f / (2 * r2) * e - d * (8 + u * u - r2) / (2 * r2 * f) * k
            + 2 * d * d * (1 + r2) / (r2 * s * f) * p) / math.pi


def rel(a, ref):
    """Relative error, drawn between 1e-17 and 1 (no value at all counts as 1)."""
    e = abs(a / float(ref) - 1.0)
    return 1.0 if not e < 1.0 else max(e, 1e-17)


def main():
    fig, (ax_disk, ax_ring, ax_far) = plt.subplots(1, 3, figsize=(15, 4.2), sharey=True)
    for rho, colour in zip([1e-4, 1e-2, 1.0], ["C0", "C1", "C2"]):
        xs = np.concatenate([1.0 - OFFSETS[::-1], 1.0 + OFFSETS])
        got = zorvane.witt_mao_magnification(xs, 1.0, rho)
        ref = [disk_closed_form(x, 1.0, rho, dps=DPS) for x in xs]
        new = [rel(g, r) for g, r in zip(got, ref)]
        old = [rel(disk_direct(x, rho), r) for x, r in zip(xs, ref)]
        dist = np.abs(xs - 1.0)
        ax_disk.loglog(dist, old, ".", color=colour, alpha=0.35)
        ax_disk.loglog(dist, new, "o", color=colour, ms=3, label=f"ρ = {rho:g}")
        zone = [e for x, e in zip(xs, new) if abs(x - 1) <= 0.1]
        print(f"disk rho={rho:g}: zorvane worst {max(zone):.1e} for |l - 1| <= 0.1, {max(new):.1e} to 0.3; "
              f"direct form worst {max(old):.1e}")
    for c, colour in zip([0.1, 10.0, 1e3], ["C4", "C5", "C6"]):
        l = 1.0
        rs = np.concatenate([l * (1.0 - OFFSETS[::-1]), l * (1.0 + OFFSETS)])
        got = [zorvane.heyrovsky_magnification(l, r, c, 1.0) for r in rs]
        ref = [ring_exact(l, r, c) for r in rs]
        new = [rel(g, float(r)) for g, r in zip(got, ref)]
        old = [rel(ring_direct(l, r, c), float(rf)) for r, rf in zip(rs, ref)]
        dist = np.abs(rs - l) / l
        ax_ring.loglog(dist, old, ".", color=colour, alpha=0.35)
        ax_ring.loglog(dist, new, "o", color=colour, ms=3, label=f"c = {c:g}")
        print(f"ring c={c:g}: zorvane worst {max(new):.1e}, direct form worst {max(old):.1e}")
    xs = np.geomspace(1.5, 1e6, 60)
    for rho, colour in zip([1e-8, 1e-4, 1e-2, 1.0, 10.0], ["C7", "C0", "C1", "C2", "C3"]):
        got = zorvane.witt_mao_magnification(xs, 1.0, rho)
        ref = [disk_closed_form(x, 1.0, rho, dps=DPS) for x in xs]
        new = [rel(g, r) for g, r in zip(got, ref)]
        old = [rel(disk_double(x, rho), r) for x, r in zip(xs, ref)]
        ax_far.loglog(xs, old, ".", color=colour, alpha=0.35)
        ax_far.loglog(xs, new, "o", color=colour, ms=3, label=f"ρ = {rho:g}")
        far = [e for x, e in zip(xs, new) if x >= 3]
        print(f"far disk rho={rho:g}: zorvane worst {max(far):.1e} from x = 3 on, "
              f"closed form in double worst {max(old):.1e}")
    ax_far.axvline(3.0, color="grey", lw=0.5, ls=":")
    ax_far.set_xlabel("l (source radii), uniform disk")
    ax_far.set_title("far: zorvane (o), closed form in double (·)")
    ax_disk.set_xlabel("|l − 1| (source radii from the limb)")
    ax_ring.set_xlabel("|r − l| / l (ring, l = 1)")
    ax_disk.set_ylabel("relative error against 60 digits")
    ax_disk.set_title("uniform disk: zorvane (o), direct form (·)")
    ax_ring.set_title("ring: zorvane (o), direct form (·)")
    for ax in (ax_disk, ax_ring, ax_far):
        ax.axhline(2.2e-16, color="grey", lw=0.5)
        ax.legend(fontsize=8)
    fig.tight_layout()
    out = os.path.join(os.path.dirname(__file__), "accuracy_separation.png")
    fig.savefig(out, dpi=110)
    print("wrote", out)


if __name__ == "__main__":
    main()
