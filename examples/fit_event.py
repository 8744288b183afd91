"""Fits the microlensing event MOA-2008-BLG-310 with a point lens and a finite,
limb-darkened source.

MOA-2008-BLG-310 is a high-magnification event in which the lens passes in
front of the source star (Janczak et al. 2010, ApJ 711, 731).  Its published
photometry, seven datasets and 3482 points, is in data/MB08310/ next to this
file (see the README there for where it comes from and how to cite it).

The model has four parameters: t0 (the time of closest approach), u0 (the
impact parameter in Einstein radii), tE (the Einstein time in days) and rho
(the source radius in Einstein radii).  At time t the lens is
u = sqrt(u0^2 + ((t - t0)/tE)^2) Einstein radii from the source, and the
magnification A(u, rho) comes from zorvane with l = u/rho, re = 1, rstar = rho.
The source darkens towards its limb by the linear law
I(mu) = 1 - c (1 - mu) with c = 0.6 (`integrated_heyrovsky_magnification`);
another coefficient per band (--ld I=0.55 --ld H=0.35 ...) takes one more call,
of the uniform disk, through the identity
A_c = (1 - 2G) A_uniform + 2G A_0.6 with G = 2c/(3 - c).

Each dataset k sees the flux F = fs_k A + fb_k (source and blend); for given
(t0, u0, tE, rho) the two fluxes of every dataset follow by weighted linear
least squares in closed form, so only the four parameters are fitted, by
scipy.optimize.least_squares.  Its Jacobian is either exact, from the
module's gradient functions where the installed module has them
(`integrated_heyrovsky_magnification_gradient`, and
`witt_mao_magnification_gradient` for other coefficients), or by finite
differences (--jacobian fd); --jacobian both runs the two and compares them.
The covariance of the four parameters is the inverse of J^T J at the end
point, the fluxes marginalised.  Each dataset's error bars are first scaled so
that its chi^2 per degree of freedom is 1, as is usual for such data (the
factors are printed; --no-rescale keeps them as published).

Prints the fit with its uncertainties beside the published values and writes
a figure in magnitudes, with residuals (default: build/examples/fit_event.png
in this repository; -o PATH elsewhere, --no-plot for none).

    python examples/fit_event.py [-o fit.png] [--jacobian auto|exact|fd|both]
"""
from __future__ import annotations

import argparse
import math
import time
from dataclasses import dataclass
from pathlib import Path

import numpy as np
from scipy.optimize import least_squares

import zorvane

DATA = Path(__file__).resolve().parent / "data" / "MB08310"
T_REF = 2454656.0          # times are fitted from here, so that a step in t0 is not lost to rounding
ZERO_POINT = 22.0          # magnitude of unit flux
FIXED_LD = 0.6             # the module's built-in linear coefficient
NAMES = ("t0", "u0", "tE", "rho")

# Janczak et al. (2010), as MulensModel's example 05 quotes them; rho = t*/tE.
PUBLISHED = {"t0": 2454656.39975, "u0": 0.00300, "tE": 11.14, "rho": 0.05487 / 11.14}
# Where the search starts: t0 at the peak of the plotted data to within a few
# hours, the rest generic.  A start 0.1 d before the peak, with these u0, tE
# and rho, ends at a far worse point-source-like minimum (rho near 0): look at
# the figure and the chi2 of the first fit (with the published error bars:
# about 4360 here, 3482 points), and start elsewhere if they look wrong.
START = {"t0": 2454656.4, "u0": 0.01, "tE": 20.0, "rho": 0.01}


# ------------------------------------------------------------------ data ----

@dataclass
class Dataset:
    name: str          # file name up to the archive's numbering, e.g. "CTIO_H"
    telescope: str
    band: str
    t: np.ndarray      # HJD
    mag: np.ndarray
    mag_err: np.ndarray


def read_table(path: Path) -> Dataset:
    """One of the archive's IPAC tables: keywords on lines starting with a
    backslash, column headers on lines starting with '|', then HJD, magnitude
    and its uncertainty."""
    keys = {}
    rows = []
    for line in path.read_text().splitlines():
        if line.startswith("\\"):
            key, _, value = line[1:].partition("=")
            keys[key.strip()] = value.strip().strip('"')
        elif line.strip() and not line.startswith("|"):
            rows.append([float(v) for v in line.split()[:3]])
    t, mag, err = np.array(rows).T
    name = path.name.split("_0300089")[0]
    return Dataset(name, keys.get("TELESCOPE", "?"), keys.get("TIME_SERIES_DATA_FILTER", "?"), t, mag, err)


def load(folder: Path = DATA) -> list[Dataset]:
    """The datasets, MOA first: the figure brings the others to its magnitude scale."""
    sets = [read_table(p) for p in sorted(folder.glob("*.tbl"))]
    return sorted(sets, key=lambda d: (d.name != "MOA", d.name))


class Event:
    """All points of all datasets in one array (one module call per model
    evaluation), with each point's dataset index; fluxes in units of
    magnitude ZERO_POINT."""

    def __init__(self, datasets: list[Dataset]):
        self.datasets = datasets
        self.index = np.concatenate([np.full(len(d.t), k) for k, d in enumerate(datasets)])
        self.t = np.concatenate([d.t for d in datasets])
        self.dt = self.t - T_REF
        mag = np.concatenate([d.mag for d in datasets])
        mag_err = np.concatenate([d.mag_err for d in datasets])
        self.flux = 10.0 ** (-0.4 * (mag - ZERO_POINT))
        self.sigma0 = self.flux * mag_err * (0.4 * math.log(10.0))
        self.sigma = self.sigma0.copy()

    @property
    def count(self) -> np.ndarray:
        return np.bincount(self.index, minlength=len(self.datasets))

    def sums(self, x: np.ndarray) -> np.ndarray:
        """Sum of x over each dataset."""
        return np.bincount(self.index, weights=x, minlength=len(self.datasets))


# ----------------------------------------------------------- magnification ----

def linear_law(u: np.ndarray, rho: float, coeff, gradient: bool = False) -> np.ndarray:
    """A(u, rho) of a source with the linear law of coefficient coeff (one
    number, or one per point of u); with gradient, [A, dA/du, dA/drho].  Only
    the calls the coefficients need are made: the 0.6 law alone, the uniform
    disk alone (coefficient 0), or both."""
    l = u / rho
    coeff = np.asarray(coeff, dtype=float)
    # the gradient functions are looked up by name: older builds lack them
    suffix = "_gradient" if gradient else ""
    fixed = uniform = np.zeros((3, len(u)) if gradient else len(u))
    if np.any(coeff != 0.0):
        fixed = np.asarray(getattr(zorvane, "integrated_heyrovsky_magnification" + suffix)(l, 1.0, rho))
        if np.all(coeff == FIXED_LD):
            return fixed
    if np.any(coeff != FIXED_LD):
        uniform = np.asarray(getattr(zorvane, "witt_mao_magnification" + suffix)(l, 1.0, rho))
        if np.all(coeff == 0.0):
            return uniform
    g = 2.0 * coeff / (3.0 - coeff)
    return np.asarray(2.0 * g * fixed + (1.0 - 2.0 * g) * uniform)


class LimbDarkened:
    """The magnification of every point of an event (u in event order) with
    the coefficient of its dataset's band from `ld` ({band: c}, FIXED_LD for
    bands not named); `gradient` also gives dA/du at fixed rho and dA/drho at
    fixed u."""

    def __init__(self, event: Event, ld: dict[str, float] | None = None):
        self.coeff = np.array([(ld or {}).get(d.band, FIXED_LD) for d in event.datasets])
        self.point_coeff = self.coeff[event.index]

    def missing_gradients(self) -> list[str]:
        """The gradient functions these coefficients need that the module lacks."""
        need = []
        if np.any(self.coeff != 0.0):
            need.append("integrated_heyrovsky_magnification_gradient")
        if np.any(self.coeff != FIXED_LD):
            need.append("witt_mao_magnification_gradient")
        return [name for name in need if not hasattr(zorvane, name)]

    def exact_available(self) -> bool:
        """Whether the module has the gradient functions these coefficients need."""
        return not self.missing_gradients()

    def __call__(self, u: np.ndarray, rho: float) -> np.ndarray:
        return linear_law(u, rho, self.point_coeff)

    def gradient(self, u: np.ndarray, rho: float) -> np.ndarray:
        """[A, dA/du, dA/drho], shape (3, len(u))."""
        return linear_law(u, rho, self.point_coeff, gradient=True)


# -------------------------------------------------------------------- fit ----

def separation(event: Event, x: np.ndarray):
    """tau = (t - t0)/tE and u for the internal parameters x = (t0 - T_REF, u0, tE, rho)."""
    tau = (event.dt - x[0]) / x[2]
    return tau, np.hypot(x[1], tau)


class Problem:
    """The residuals (F - fs A - fb)/sigma of the whole event as a function of
    x = (t0 - T_REF, u0, tE, rho), the fluxes of each dataset profiled out."""

    def __init__(self, event: Event, magnification, gradient=None):
        self.event, self.magnification, self.gradient = event, magnification, gradient
        self.calls = 0   # model evaluations, with or without gradient

    def _basis(self, a: np.ndarray):
        """The weighted basis of the flux model, A/sigma and 1/sigma, and the
        inverse of its Gram matrix per dataset, [[Saa, Sa], [Sa, S]]^-1."""
        ev = self.event
        w = 1.0 / ev.sigma
        s, sa, saa = ev.sums(w * w), ev.sums(a * w * w), ev.sums(a * a * w * w)
        det = s * saa - sa * sa
        return a * w, w, (s / det, -sa / det, saa / det)

    def _project(self, basis, z: np.ndarray):
        """Least-squares coefficients (on A/sigma, 1/sigma) of the weighted
        vector z per dataset, and what of z they leave."""
        a, b, (i11, i12, i22) = basis
        za, zb = self.event.sums(a * z), self.event.sums(b * z)
        c1, c2 = i11 * za + i12 * zb, i12 * za + i22 * zb
        k = self.event.index
        return (c1, c2), z - c1[k] * a - c2[k] * b

    def fluxes(self, x: np.ndarray):
        """(fs, fb) per dataset and the residuals at x."""
        self.calls += 1
        a = self.magnification(separation(self.event, x)[1], x[3])
        return self._project(self._basis(a), self.event.flux / self.event.sigma)

    def residuals(self, x: np.ndarray):
        return self.fluxes(x)[1]

    def jacobian(self, x: np.ndarray) -> np.ndarray:
        """d(residuals)/dx from the exact gradient: -fs dA/dx / sigma with its
        projection on each dataset's flux basis removed (the fluxes follow the
        parameters; this is the variable-projection Jacobian of Kaufman, whose
        J^T J is the four parameters' information with the fluxes marginalised)."""
        ev = self.event
        tau, u = separation(ev, x)
        self.calls += 1
        a, da_du, da_drho = self.gradient(u, x[3])
        basis = self._basis(a)
        (fs, _), _ = self._project(basis, ev.flux / ev.sigma)
        du = (-tau / (x[2] * u), x[1] / u, -tau * tau / (x[2] * u))
        cols = [da_du * d for d in du] + [da_drho]
        scale = -fs[ev.index] / ev.sigma
        return self.orthogonal(basis, [scale * c for c in cols])

    def orthogonal(self, basis, cols) -> np.ndarray:
        """The columns with their projections on each dataset's flux basis removed."""
        return np.column_stack([self._project(basis, c)[1] for c in cols])

    def information_jacobian(self, x: np.ndarray, jac: np.ndarray) -> np.ndarray:
        """A Jacobian of the profiled residuals (by finite differences, say) made
        the variable-projection one: its part along the flux basis, which comes
        from the fluxes' own change with x and is of the order of the
        residuals, removed."""
        a = self.magnification(separation(self.event, x)[1], x[3])
        return self.orthogonal(self._basis(a), list(jac.T))


@dataclass
class Fit:
    x: np.ndarray              # (t0 - T_REF, u0, tE, rho)
    cov: np.ndarray
    fs: np.ndarray
    fb: np.ndarray
    chi2: np.ndarray           # per dataset, with the error bars used
    error_scale: np.ndarray    # factor applied to each dataset's published error bars
    nfev: int                  # residual evaluations of least_squares (those for finite differences not counted)
    njev: int                  # Jacobian evaluations (each 4 model evaluations by finite differences)
    model_calls: int           # evaluations of the model, with or without gradient
    seconds: float
    status: str
    count: np.ndarray          # points per dataset

    def value(self, name: str) -> float:
        return float(self.x[0] + T_REF) if name == "t0" else float(self.x[NAMES.index(name)])

    def error(self, name: str) -> float:
        i = NAMES.index(name)
        return float(math.sqrt(self.cov[i, i]))

    def t_star(self) -> tuple[float, float]:
        """The source's radius crossing time rho tE and its uncertainty."""
        grad = np.array([0.0, 0.0, self.x[3], self.x[2]])
        return float(self.x[2] * self.x[3]), float(math.sqrt(grad @ self.cov @ grad))

    @property
    def dof(self) -> int:
        return int(self.count.sum() - 2 * len(self.count) - 4)


def fit(event: Event, magnification, gradient=None, scale=None, start=START,
        max_nfev: int | None = None) -> Fit:
    """Fits (t0, u0, tE, rho) from `start` with each dataset's error bars
    multiplied by `scale` (None: as published); the Jacobian from `gradient`
    ((u, rho) -> [A, dA/du, dA/drho]) or, without it, by finite differences."""
    t_start = time.perf_counter()
    scale = np.ones(len(event.datasets)) if scale is None else np.asarray(scale, dtype=float)
    event.sigma = event.sigma0 * scale[event.index]
    problem = Problem(event, magnification, gradient)
    x0 = np.array([start["t0"] - T_REF, start["u0"], start["tE"], start["rho"]])
    res = least_squares(problem.residuals, x0, jac="2-point" if gradient is None else problem.jacobian,
                        x_scale="jac", method="trf", max_nfev=max_nfev,
                        bounds=([-np.inf, 0.0, 0.0, 0.0], np.inf))
    calls = problem.calls
    jac = problem.information_jacobian(res.x, res.jac) if gradient is None else res.jac
    (fs, fb), r = problem.fluxes(res.x)
    return Fit(res.x, np.linalg.inv(jac.T @ jac), fs, fb, event.sums(r * r), scale, res.nfev,
               res.njev or 0, calls, time.perf_counter() - t_start, res.message, event.count)


def error_scales(event: Event, f: Fit):
    """Factors on each dataset's published error bars that make its chi^2
    per degree of freedom 1 (two of them taken by its fluxes) at the fit f."""
    return f.error_scale * np.sqrt(f.chi2 / np.maximum(event.count - 2, 1))


# ------------------------------------------------------------------ report ----

def fmt(value: float, error: float) -> tuple[str, str]:
    """value and error with the error's first two significant digits."""
    digits = max(0, 1 - math.floor(math.log10(error))) if error > 0 else 6
    return f"{value:.{digits}f}", f"{error:.{digits}f}"


def report(event: Event, f: Fit, label: str) -> None:
    print(f"{'dataset':<8} {'telescope':<30} {'band':<10} {'points':>6} {'error scale':>11} "
          f"{'chi2':>8} {'fs':>8} {'fb':>8}")
    for k, d in enumerate(event.datasets):
        print(f"{d.name:<8} {d.telescope:<30} {d.band:<10} {len(d.t):6d} {f.error_scale[k]:11.3f} "
              f"{f.chi2[k]:8.1f} {f.fs[k]:8.3f} {f.fb[k]:8.3f}")
    print(f"fluxes in units of magnitude {ZERO_POINT:g}; chi2 {f.chi2.sum():.1f} for {f.dof} degrees of freedom")
    print()
    print(f"{'parameter':<16} {'fit ± 1 sigma':>28} {'published':>15} {'fit - published':>16}")
    rows = [(n, f.value(n), f.error(n), PUBLISHED[n]) for n in NAMES]
    rows.append(("t* = rho tE", *f.t_star(), PUBLISHED["rho"] * PUBLISHED["tE"]))
    units = {"t0": " (HJD)", "tE": " (d)", "t* = rho tE": " (d)"}
    for name, value, error, published in rows:
        v, e = fmt(value, error)
        p = f"{published:.{len(v.partition('.')[2])}f}"
        print(f"{name + units.get(name, ''):<16} {v + ' ± ' + e:>28} {p:>15} "
              f"{(value - published) / error:+9.1f} sigma")
    print(f"{label}: {f.nfev} residual and {f.njev} Jacobian evaluations, {f.model_calls} model calls "
          f"in {f.seconds:.2f} s ({1e3 * f.seconds / f.model_calls:.1f} ms per call)")


def compare(a: Fit, b: Fit, la: str, lb: str) -> None:
    print(f"{'':<16} {la:>22} {lb:>22} {'difference / sigma':>19}")
    for name in NAMES:
        va, vb = a.value(name), b.value(name)
        spec = "22.7f" if name == "t0" else "22.7g"
        print(f"{name:<16} {va:{spec}} {vb:{spec}} {(vb - va) / a.error(name):19.2e}")
    for what in ("nfev", "njev", "model_calls", "seconds"):
        print(f"{what:<16} {getattr(a, what):22.4g} {getattr(b, what):22.4g}")
    print(f"{'chi2':<16} {a.chi2.sum():22.8f} {b.chi2.sum():22.8f}")


# -------------------------------------------------------------------- plot ----

def plot(event: Event, model: LimbDarkened, f: Fit, path: Path) -> None:
    import matplotlib
    matplotlib.use("Agg")  # no screen needed
    import matplotlib.pyplot as plt

    problem = Problem(event, model)
    r = problem.residuals(f.x)
    t0 = f.value("t0")
    ref = 0  # MOA: every dataset is brought to its flux scale
    k = event.index
    flux = (event.flux - f.fb[k]) / f.fs[k] * f.fs[ref] + f.fb[ref]
    sigma = event.sigma / f.fs[k] * f.fs[ref]
    ok = flux > 0
    mag = ZERO_POINT - 2.5 * np.log10(np.where(ok, flux, 1.0))
    mag_err = 2.5 / math.log(10.0) * sigma / np.where(ok, flux, 1.0)
    # the residual in magnitudes, of each point against its own band's model
    model_flux = event.flux - r * event.sigma
    dmag = np.where(ok & (model_flux > 0), -2.5 * np.log10(np.where(ok, event.flux / model_flux, 1.0)), np.nan)
    dmag_err = 2.5 / math.log(10.0) * event.sigma / event.flux

    tE, rho, u0 = f.x[2], f.x[3], f.x[1]
    windows = [("whole event", 2.2 * tE), ("the peak: the lens crosses the source", 0.25)]
    fig, axes = plt.subplots(2, 2, figsize=(12.5, 7.2), sharex="col",
                             gridspec_kw=dict(height_ratios=[3, 1], hspace=0.05, wspace=0.18))
    colors = [f"tab:{c}" for c in ("blue", "orange", "green", "purple", "brown", "pink", "olive", "cyan")]
    c_ref = model.coeff[ref]
    # the more precise a dataset near the peak, the higher it is drawn
    near = np.abs(event.t - t0) < 0.3
    typical = [np.median(event.sigma[(k == kk) & near] / event.flux[(k == kk) & near])
               if np.any((k == kk) & near) else np.inf for kk in range(len(event.datasets))]
    precision = {kk: rank for rank, kk in enumerate(np.argsort(typical)[::-1])}
    for col, (title, half) in enumerate(windows):
        top, bottom = axes[0, col], axes[1, col]
        grid = np.linspace(-half, half, 3001)
        for x, style, label in ((f.x, dict(color="k", lw=1.1, zorder=10), "fit"),
                                (np.array([PUBLISHED["t0"] - T_REF, PUBLISHED["u0"], PUBLISHED["tE"],
                                           PUBLISHED["rho"]]),
                                 dict(color="tab:red", lw=1.1, ls=(0, (3, 3)), zorder=11), "published parameters")):
            tau = (grid + t0 - T_REF - x[0]) / x[2]
            u = np.hypot(x[1], tau)
            a = linear_law(u, x[3], c_ref)
            if label == "fit":
                fs, fb = f.fs[ref], f.fb[ref]
            else:  # the published parameters' own best fluxes for the reference dataset
                (fs_all, fb_all), _ = Problem(event, model).fluxes(x)
                fs, fb = fs_all[ref], fb_all[ref]
            top.plot(grid, ZERO_POINT - 2.5 * np.log10(fs * a + fb), label=f"{label} (in MOA's band)", **style)
        inside = tE * math.sqrt(max(rho * rho - u0 * u0, 0.0))
        if col == 1 and inside > 0:
            for ax in (top, bottom):
                ax.axvspan(-inside, inside, color="gold", alpha=0.22, lw=0,
                           label="lens in front of the source" if ax is top else None)
        window = np.abs(event.t - t0) <= half
        for kk, d in enumerate(event.datasets):
            s = window & (k == kk) & ok
            if not s.any():
                continue
            faint = col == 0 and kk == ref   # the long, noisy baseline
            kw = dict(fmt="o", ms=2.0 if faint else 2.6, elinewidth=0.5, color=colors[kk % len(colors)],
                      alpha=0.35 if faint else 0.85, zorder=3 + precision[kk])
            top.errorbar(event.t[s] - t0, mag[s], mag_err[s], label=f"{d.name}, {d.band}, {len(d.t)} points", **kw)
            bottom.errorbar(event.t[s] - t0, dmag[s], dmag_err[s], **kw)
        top.invert_yaxis()
        m_model = ZERO_POINT - 2.5 * np.log10(f.fs[ref] * linear_law(np.hypot(u0, grid / tE), rho, c_ref)
                                              + f.fb[ref])
        top.set_ylim(m_model.max() + (0.6 if col == 0 else 0.15), m_model.min() - 0.25)
        top.set_title(title, fontsize=11)
        top.grid(True, alpha=0.25)
        bottom.axhline(0.0, color="k", lw=0.8)
        lim = 0.5 if col == 0 else 0.12
        bottom.set_ylim(lim, -lim)
        bottom.grid(True, alpha=0.25)
        bottom.set_xlim(-half, half)
        bottom.set_xlabel(f"t - t0 (days), t0 = HJD {t0:.5f}")
    axes[0, 0].set_ylabel("magnitude (MOA's scale)")
    axes[1, 0].set_ylabel("data - model (mag)")
    handles, labels = axes[0, 1].get_legend_handles_labels()
    more = [(h, l) for h, l in zip(*axes[0, 0].get_legend_handles_labels()) if l not in labels]
    if more:
        handles, labels = handles + [h for h, _ in more], labels + [l for _, l in more]
    fig.legend(handles, labels, loc="lower center", ncol=5, fontsize=8.5, frameon=False)
    t_star = f.t_star()[0]
    fig.suptitle(f"MOA-2008-BLG-310, point lens and limb-darkened source: u0 = {u0:.5f}, "
                 f"tE = {tE:.2f} d, rho = {rho:.5f} (t* = {t_star:.4f} d)", fontsize=12)
    fig.subplots_adjust(left=0.06, right=0.985, top=0.92, bottom=0.17)
    fig.savefig(path, dpi=90)
    plt.close(fig)


# -------------------------------------------------------------------- main ----

def parse_ld(items: list[str]) -> dict[str, float]:
    out = {}
    for item in items:
        band, _, value = item.partition("=")
        out[band] = float(value)
    return out


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", type=Path,
                        default=Path(__file__).resolve().parents[1] / "build" / "examples" / "fit_event.png",
                        help="where to write the PNG (default: %(default)s)")
    parser.add_argument("--no-plot", action="store_true", help="write no figure")
    parser.add_argument("--jacobian", choices=("auto", "exact", "fd", "both"), default="auto",
                        help="exact gradients, finite differences, or both compared "
                             "(auto: exact when the module has them)")
    parser.add_argument("--ld", action="append", default=[], metavar="BAND=C",
                        help=f"linear limb-darkening coefficient of a band (default {FIXED_LD} in every band)")
    parser.add_argument("--no-rescale", action="store_true", help="keep the published error bars")
    parser.add_argument("--max-nfev", type=int, default=None,
                        help="at most this many residual evaluations per least-squares pass")
    args = parser.parse_args(argv)

    event = Event(load())
    model = LimbDarkened(event, parse_ld(args.ld))
    bands = sorted({d.band for d in event.datasets})
    laws = ", ".join(f"{b} {parse_ld(args.ld).get(b, FIXED_LD):g}" for b in bands)
    print(f"MOA-2008-BLG-310: {len(event.datasets)} datasets, {len(event.t)} points; "
          f"linear limb darkening: {laws}")
    modes = {"auto": ["exact" if model.exact_available() else "fd"], "both": ["fd", "exact"]}.get(
        args.jacobian, [args.jacobian])
    missing = ", ".join(model.missing_gradients())
    if "exact" in modes and missing:
        print(f"this build of zorvane lacks {missing}: use --jacobian fd")
        return 2
    if args.jacobian == "auto" and missing:
        print(f"(this build of zorvane lacks {missing}: the Jacobian is by finite differences)")
    labels = {"exact": "exact Jacobian", "fd": "finite differences"}
    gradients = {"exact": model.gradient, "fd": None}
    scale = None
    if not args.no_rescale:
        first = fit(event, model, gradients[modes[0]], max_nfev=args.max_nfev)
        scale = error_scales(event, first)
        print(f"error scales from a first fit with the published error bars "
              f"(chi2 {first.chi2.sum():.1f}, {labels[modes[0]]}, {first.seconds:.2f} s)")
    fits = {}
    for mode in modes:
        fits[mode] = fit(event, model, gradients[mode], scale, max_nfev=args.max_nfev)
        print()
        report(event, fits[mode], labels[mode])
    if len(fits) == 2:
        print()
        compare(fits["fd"], fits["exact"], labels["fd"], labels["exact"])
    if not args.no_plot:
        args.output.parent.mkdir(parents=True, exist_ok=True)
        plot(event, model, fits[modes[-1]], args.output)
        print(f"wrote {args.output}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
