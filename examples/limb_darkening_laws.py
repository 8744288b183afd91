"""Limb-darkening laws other than the fixed linear one, through tabulated profiles.

The flux-map functions take the source's brightness as a table of radii `bl`
and brightnesses `bf` and interpolate it linearly. A limb-darkening law written
in mu = sqrt(1 - r^2) falls like sqrt(1 - r) at the limb, where its slope is
infinite, so equally spaced radii leave the last interval badly represented.
Here the radii are equally spaced in sqrt(1 - r) instead,

    r_j = 1 - (1 - j/(n - 1))^2,   j = 0 .. n - 1,

which makes mu nearly linear in j near the limb and puts about half the knots
in the outer quarter of the radius.

Laws, I(mu)/I(1), with the coefficients used here:

    quadratic     1 - a(1 - mu) - b(1 - mu)^2           a = 0.4, b = 0.25
    square-root   1 - c(1 - mu) - d(1 - sqrt(mu))       c = 0.3, d = 0.4
    logarithmic   1 - e(1 - mu) - f mu ln(mu)           e = 0.6, f = 0.2
    power-2       1 - c(1 - mu^alpha)                   c = 0.6, alpha = 0.6

Run:  python examples/limb_darkening_laws.py            (about a second)
      python examples/limb_darkening_laws.py --measure  (a few minutes: needs mpmath)

The first prints light-curve points for each law from tables of 400 radii, and
checks the tabulated linear law against the fixed one. --measure finds, per
law, the table size that reaches 1e-6 and 1e-9 relative accuracy against an
mpmath reference, and the cost per epoch.
"""

import argparse
import math
import os
import statistics
import time
from collections.abc import Callable

RE, RSTAR = 1.0, 0.01  # Einstein radius and source radius (same unit): rho = 0.01
TABLE_SIZE = 400       # enough for 1e-6 at every separation (see --measure)


# Each law takes mu and the square root and logarithm to use, so that the same
# expression serves floats here and mpmath numbers in the reference.
LAWS = {
    "quadratic (a=0.4, b=0.25)": lambda mu, sqrt, log: 1 - 0.4 * (1 - mu) - 0.25 * (1 - mu) ** 2,
    "square-root (c=0.3, d=0.4)": lambda mu, sqrt, log: 1 - 0.3 * (1 - mu) - 0.4 * (1 - sqrt(mu)),
    "logarithmic (e=0.6, f=0.2)": lambda mu, sqrt, log: 1 - 0.6 * (1 - mu) - (0.2 * mu * log(mu) if mu > 0 else 0),
    "power-2 (c=0.6, alpha=0.6)": lambda mu, sqrt, log: 1 - 0.6 * (1 - mu**0.6),
}
LINEAR_06 = lambda mu, sqrt, log: 1 - 0.6 * (1 - mu)  # noqa: E731 (the module's fixed law)


def limb_knots(n):
    """n radii from 0 to 1, equally spaced in sqrt(1 - r)."""
    return [1 - (1 - j / (n - 1)) ** 2 for j in range(n)]


def table(law, n):
    """The law tabulated at limb_knots(n): the bl and bf of the flux-map functions."""
    bl = limb_knots(n)
    bf = [law(math.sqrt(1 - r * r), math.sqrt, math.log) for r in bl]
    return bl, bf


def show():
    import zorvane

    l = [0.0, 0.5, 0.9, 1.0, 1.1, 2.0, 5.0]
    print(f"rho = {RSTAR / RE}, tables of {TABLE_SIZE} radii, integrated_flux_map_heyrovsky_magnification")
    print(f"{'law':28}" + "".join(f"{'l = ' + str(x):>11}" for x in l))

    def row(name, values):
        print(f"{name:28}" + "".join(f"{v:11.4f}" for v in values))

    row("uniform", zorvane.witt_mao_magnification(l, RE, RSTAR))
    for name, law in LAWS.items():
        row(name, zorvane.integrated_flux_map_heyrovsky_magnification(l, RE, RSTAR, *table(law, TABLE_SIZE)))
    tabulated = zorvane.integrated_flux_map_heyrovsky_magnification(l, RE, RSTAR, *table(LINEAR_06, TABLE_SIZE))
    fixed = zorvane.integrated_heyrovsky_magnification(l, RE, RSTAR)
    row("linear (0.6), tabulated", tabulated)
    row("linear (0.6), fixed law", fixed)
    worst = max(abs(a / b - 1) for a, b in zip(tabulated, fixed))
    print(f"tabulated linear law vs the fixed one: largest relative difference {worst:.1e}")


# --- measurement ---------------------------------------------------------------

SIZES = [round(100 * 2 ** (k / 4)) for k in range(-8, 30)]  # 25 .. 15219, ratio 2^(1/4)
EPOCHS = {"crossing": 0.5, "far": 3.0}                       # lens–source separation l, source radii
RHOS = [0.01, 0.1]


def reference(law, l, rho, mp):
    """∫₀¹ 2πr I(μ) V(r) dr / ∫₀¹ 2πr I(μ) dr to 40 digits, V being the point-lens
    magnification averaged around the ring of radius r (lengths in source radii)."""
    l, c = mp.mpf(l), 1 / mp.mpf(rho)

    def ring(t, sign):
        # Ring at r = l + sign·t, in Carlson's form with 1 - m and 1 - n formed
        # from t, so nothing cancels as the ring approaches the lens (t -> 0).
        r = l + sign * t
        s, t2 = l + r, t * t
        d = t2 + 4 * c * c
        m1 = t2 * (s * s + 4 * c * c) / (s * s * d)
        n, n1 = 4 * l * r / (s * s), t2 / (s * s)
        k = mp.elliprf(0, m1, 1)
        pi3 = k + n / 3 * mp.elliprj(0, m1, 1, n1)
        return 4 / (s * mp.sqrt(d)) * (2 * c * c * k + t2 * pi3) / (2 * mp.pi)

    def weighted(r, v):
        return 2 * mp.pi * r * law(mp.sqrt(1 - r * r), mp.sqrt, mp.log) * v

    if l < 1:  # split at the ring through the lens, integrating in t = |r - l|
        num = mp.quad(lambda t: weighted(l - t, ring(t, -1)), [0, l])
        num += mp.quad(lambda t: weighted(l + t, ring(t, 1)), [0, 1 - l])
    else:
        num = mp.quad(lambda r: weighted(r, ring(l - r, -1)), [0, 1])
    den = mp.quad(lambda mu: 2 * mp.pi * mu * law(mu, mp.sqrt, mp.log), [0, 1])  # r dr = -mu dmu
    return num / den


COST_EPOCHS = {"crossing": 0.5, "outside": 1.5}   # separations timed (l), both within 3 source radii
COST_SIZES = (25, 400, 3000, SIZES[-1])


def costs(calls, epochs=200, rounds=9):
    """Per call: the median time (µs) of one epoch far from the source (l = 10,
    the table's mean-value series: about the cost of converting the table), and
    per separation of each COST_EPOCHS call with `epochs` equal separations,
    less that. The calls take turns, so a changing load hits them alike."""
    times: list[list[list[float]]] = [[[] for _ in range(1 + len(COST_EPOCHS))] for _ in calls]
    for _ in range(rounds):
        for t, (function, args) in zip(times, calls):
            function([10.0], RE, RSTAR, *args)  # after the previous call's large tables are freed
            for k, (l, n) in enumerate([(10.0, 1)] + [(l, epochs) for l in COST_EPOCHS.values()]):
                start = time.perf_counter()
                function([l] * n, RE, RSTAR, *args)
                t[k].append(time.perf_counter() - start)
    out = []
    for t in times:
        setup = statistics.median(t[0]) * 1e6
        out.append((setup, [(statistics.median(e) * 1e6 - setup) / epochs for e in t[1:]]))
    return out


def measure():
    import mpmath as mp

    import zorvane

    mp.mp.dps = 40
    families = {"rings": zorvane.integrated_flux_map_heyrovsky_magnification,
                "disks": zorvane.integrated_flux_map_witt_mao_magnification}
    print(f"table sizes {SIZES[0]}..{SIZES[-1]} (ratio 2^(1/4)); epochs l = {EPOCHS}; rho = {RHOS}")
    print("size: the smallest from which every larger size measured meets the target (worst of the two rho)")
    print()
    print("| law | family | 1e-6: crossing / far | 1e-9: crossing / far | error at the largest size |")
    print("|---|---|---:|---:|---:|")
    for name, law in {**LAWS, "linear (0.6)": LINEAR_06}.items():
        refs = {(kind, rho): reference(law, l, rho, mp) for kind, l in EPOCHS.items() for rho in RHOS}
        for family, function in families.items():
            errors: dict[str, list[float]] = {kind: [] for kind in EPOCHS}
            for n in SIZES:
                bl, bf = table(law, n)
                for kind, l in EPOCHS.items():
                    errors[kind].append(max(abs(float(function([l], RE, rho, bl, bf)[0] / refs[kind, rho] - 1))
                                            for rho in RHOS))

            def needed(target, kind):
                size = "—"
                for n, e in reversed(list(zip(SIZES, errors[kind]))):
                    if e > target:
                        break
                    size = str(n)
                return size

            last = " / ".join(f"{errors[kind][-1]:.1e}" for kind in EPOCHS)
            print(f"| {name} | {family} | {needed(1e-6, 'crossing')} / {needed(1e-6, 'far')} "
                  f"| {needed(1e-9, 'crossing')} / {needed(1e-9, 'far')} | {last} |", flush=True)

    # A table of up to 23 radii cuts the radial rule at each of them; from 24 on the
    # rule is cut only around the lens and the profile is integrated exactly against
    # the ring integrand's interpolant, at a cost that grows with the number of radii.
    rows: list[tuple[Callable[..., list[float]], int | None]] = [(zorvane.integrated_heyrovsky_magnification, None)]
    rows += [(function, n) for function in families.values() for n in COST_SIZES]
    measured = costs([(function, table(LINEAR_06, radii) if radii else ()) for function, radii in rows])
    fixed = measured[0][1]
    print()
    print(f"| function | radii | µs per call (the table) | µs per epoch: {' / '.join(COST_EPOCHS)} | relative to the fixed law |")
    print("|---|---:|---:|---:|---:|")
    for (function, radii), (setup, per_epoch) in zip(rows, measured):
        times = " / ".join(f"{v:.3g}" for v in per_epoch)
        ratios = " / ".join(f"{v / f:.3g}" for v, f in zip(per_epoch, fixed))
        print(f"| `{function.__name__}` | {radii or '—'} | {setup:.3g} | {times} | {ratios} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--measure", action="store_true",
                        help="accuracy against mpmath and cost per epoch, per law and table size")
    args = parser.parse_args()
    if args.measure:
        os.environ.setdefault("RAYON_NUM_THREADS", "1")  # read when the first call creates the pool
        measure()
    else:
        show()


if __name__ == "__main__":
    main()
