#!/usr/bin/env python3
"""Compare zorvane with the tools astronomers use today for point-lens,
finite-source magnification, on the same inputs, in one run.

    bash bench/compare.sh            # makes build/bench-venv, installs the peers and zorvane, runs this
    python bench/compare.py [--quick] [--plot PATH] [--markdown PATH]
    python bench/compare.py --check  # checks the references and the peers' units only

Peers (benchmark-only dependencies, see bench/requirements-compare.txt):

* NumPy + SciPy: the Witt-Mao uniform-disk closed form and the thin-ring
  closed form, vectorised with scipy.special (ellipk, ellipe, elliprf, elliprj);
* MulensModel: its uniform and limb-darkened Witt-Mao point-lens methods;
* VBMicrolensing: its extended-source point-lens magnification (ESPLLightCurve),
  uniform (a1 = 0) and linearly limb-darkened (a1 = 0.6).

Units. zorvane takes separations l in source radii and the two scales re and
rstar; rho = rstar/re is the source radius in Einstein radii and u = l*rho the
separation in Einstein radii, which is what the peers take. Limb darkening is
linear, I(r) ~ 1 - 0.6*(1 - sqrt(1 - r^2)): coefficient 0.6 in the "u"
convention (VBMicrolensing's a1), Gamma = 2*0.6/(3 - 0.6) = 0.5 in the Gamma
convention (MulensModel's gamma).

zorvane's worker pool reads its size once per process, so every zorvane timing
runs in a child process started with RAYON_NUM_THREADS set (1, then all cores).
Every figure is the best of several repetitions (time.perf_counter).
"""
from __future__ import annotations

import argparse
import datetime
import json
import math
import os
import platform
import subprocess
import sys
import time
import warnings

import numpy as np
import scipy
import scipy.integrate
import scipy.special as sp

SEED = 20261208
RE, RSTAR = 1.0, 0.01         # rho = 0.01: a typical finite-source regime
RHO = RSTAR / RE
L_MAX = 5.0                    # separations drawn uniformly in [0, L_MAX) source radii
L_MAX_LD = 3.0                 # the same for the limb-darkened forms
N_BIG = 10**6
LIN_U = 0.6                    # linear limb-darkening coefficient, "u" convention
GAMMA = 2.0 * LIN_U / (3.0 - LIN_U)
LD_NORM_EXACT = 0.8 * math.pi  # integral of 2*pi*r*I(r) over [0, 1]
SWEEP = [1, 3, 10, 30, 100, 300, 1000, 3000, 10**4, 3 * 10**4, 10**5, 3 * 10**5, 10**6]
EDGE_BAND = 1e-5               # |u - rho| / rho below which the disk takes its limit value


def separations(n: int, seed: int = SEED, top: float = L_MAX) -> np.ndarray:
    return np.random.default_rng(seed).uniform(0.0, top, n)


# ---------------------------------------------------------------- timing ----

def best_time(fn, repeat: int = 5, min_time: float = 0.2, max_loops: int = 10**6) -> float:
    """Seconds per call of fn(): the best of `repeat` rounds, each round running
    enough calls to last at least min_time (or a single call if one is longer)."""
    t0 = time.perf_counter()
    fn()
    one = time.perf_counter() - t0
    loops = 1 if one >= min_time else min(max_loops, max(1, int(min_time / max(one, 1e-9))))
    best = one if loops == 1 else math.inf
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(loops):
            fn()
        best = min(best, (time.perf_counter() - t0) / loops)
    return best


def marginal_cost(fn, n: int, repeat: int) -> tuple[float, float]:
    """For fn(k) evaluating k points: (seconds per point of a whole call on n
    points, seconds per additional point between n/10 and n points).  The second
    leaves out a fixed cost per call, which MulensModel has (it reads its
    interpolation tables for every call)."""
    t_small = best_time(lambda: fn(n // 10), repeat=repeat)
    t_big = best_time(lambda: fn(n), repeat=repeat)
    if t_big <= t_small:  # the machine's load swamped the difference: fall back to the whole call
        return t_big / n, t_big / n
    return t_big / n, (t_big - t_small) / (n - n // 10)


def interleaved(fns, rounds: int) -> list[float]:
    """Best seconds per call of each function, calling them in turn."""
    best = [math.inf] * len(fns)
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            t0 = time.perf_counter()
            fn()
            best[i] = min(best[i], time.perf_counter() - t0)
    return best


def max_rel_diff(a, b) -> tuple[float, int]:
    """Largest |a - b|/|b| over the points where both are finite, and the
    number of points where exactly one of them is not finite."""
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    fa, fb = np.isfinite(a), np.isfinite(b)
    both = fa & fb
    with np.errstate(divide="ignore", invalid="ignore"):
        rel = np.abs(a[both] - b[both]) / np.abs(b[both])
    return (float(np.max(rel)) if rel.size else math.nan), int(np.count_nonzero(fa != fb))


# ------------------------------------------------ NumPy + SciPy closed forms ----

def disk_numpy(u: np.ndarray, rho: float) -> np.ndarray:
    """Witt-Mao uniform-disk magnification, vectorised, with SciPy's ellipk and
    ellipe and Pi(n, m) = RF(0, 1-m, 1) + n/3 RJ(0, 1-m, 1, 1-n).  On the limb
    (|u - rho| < 1e-5 rho) the elliptic form is 0*inf, and its limit is used
    instead."""
    u = np.asarray(u, dtype=float)
    rho2 = rho * rho
    d = u - rho
    s = u + rho
    n = 4.0 * u * rho / (s * s)
    f2 = 4.0 + d * d
    f = np.sqrt(f2)
    m = 4.0 * n / f2
    k = sp.ellipk(m)
    e = sp.ellipe(m)
    pi3 = sp.elliprf(0.0, 1.0 - m, 1.0) + n / 3.0 * sp.elliprj(0.0, 1.0 - m, 1.0, 1.0 - n)
    a = (s * f / (2.0 * rho2) * e
         - d * (8.0 + u * u - rho2) / (2.0 * rho2 * f) * k
         + 2.0 * d * d * (1.0 + rho2) / (rho2 * s * f) * pi3) / np.pi
    edge = np.abs(d) < EDGE_BAND * rho
    if np.any(edge):
        a_edge = (2.0 / rho + (1.0 + rho2) / rho2
                  * (np.pi / 2 + np.arcsin((rho2 - 1.0) / (rho2 + 1.0)))) / np.pi
        a = np.where(edge, a_edge, a)
    return a


def ring_numpy(l, r, c):
    """Magnification of a thin uniform ring of radius r (source radii) whose
    centre lies at l from the lens; c is the Einstein radius in source radii."""
    l = np.asarray(l, dtype=float)
    r = np.asarray(r, dtype=float)
    d2 = (r - l) ** 2
    s = l + r
    big = d2 + 4.0 * c * c
    m = 16.0 * c * c * l * r / (s * s * big)
    n = 4.0 * l * r / (s * s)
    k = sp.ellipk(m)
    pi3 = sp.elliprf(0.0, 1.0 - m, 1.0) + n / 3.0 * sp.elliprj(0.0, 1.0 - m, 1.0, 1.0 - n)
    return 4.0 / (s * np.sqrt(big)) * (2.0 * c * c * k + d2 * pi3) / (2.0 * np.pi)


def ld_profile(r):
    return 1.0 - LIN_U * (1.0 - np.sqrt(1.0 - r * r))


# --------------------------------------------------- high-precision references ----

def disk_mpmath(x: float, re: float, rstar: float, dps: int = 40) -> float:
    """The uniform disk at the exact inputs (x*rstar/re evaluated in mpmath)."""
    import mpmath as mp
    with mp.workdps(dps):
        rho = mp.mpf(rstar) / mp.mpf(re)
        u = mp.mpf(x) * rho
        if u == rho:
            r2 = rho * rho
            return float((2 / rho + (1 + r2) / r2 * (mp.pi / 2 + mp.asin((r2 - 1) / (r2 + 1)))) / mp.pi)
        d, s, r2 = u - rho, u + rho, rho * rho
        n = 4 * u * rho / (s * s)
        f = mp.sqrt(4 + d * d)
        m = 4 * n / (f * f)
        a = (s * f / (2 * r2) * mp.ellipe(m)
             - d * (8 + u * u - r2) / (2 * r2 * f) * mp.ellipk(m)
             + 2 * d * d * (1 + r2) / (r2 * s * f) * mp.ellippi(n, m)) / mp.pi
        return float(a)


def point_lens(d):
    return (d * d + 2.0) / (d * math.sqrt(d * d + 4.0))


def ld_reference(u: float, rho: float, eps: float = 1e-12) -> float:
    """Linearly limb-darkened magnification by brute force: the point-lens
    magnification averaged over each ring of the source (inner quad over the
    angle), weighted by 2*pi*r*I(r) (outer quad over the radius), divided by
    0.8*pi.  Both integrands are singular where the ring passes through the
    lens (r*rho = u), so that radius and angle 0 are given as break points."""
    quad = scipy.integrate.quad

    def ring(r):
        a = r * rho
        if a == 0.0:
            return point_lens(u) if u > 0 else math.inf

        def g(phi):
            # |u - a e^{i phi}|^2 written so that it keeps its precision near a = u
            dd = (u - a) ** 2 + 4.0 * u * a * math.sin(0.5 * phi) ** 2
            return point_lens(math.sqrt(dd)) if dd > 0 else 0.0
        # Near a = u the integrand peaks at phi = 0 with a width of about |a - u|/u:
        # break points on a geometric grid from that width let QAGP resolve it.
        w = abs(a - u) / max(a, u)
        pts = []
        while 0.0 < w < math.pi:
            pts.append(w)
            w *= 4.0
        val, _ = quad(g, 0.0, math.pi, points=pts or None, epsabs=0.0, epsrel=eps, limit=400)
        return val / math.pi

    def outer(r):
        return 2.0 * math.pi * r * ld_profile(r) * ring(r)
    brk = u / rho
    if 0.0 < brk < 1.0:
        v1, _ = quad(outer, 0.0, brk, epsabs=0.0, epsrel=eps, limit=400)
        v2, _ = quad(outer, brk, 1.0, epsabs=0.0, epsrel=eps, limit=400)
        val = v1 + v2
    else:
        val, _ = quad(outer, 0.0, 1.0, epsabs=0.0, epsrel=eps, limit=400)
    return val / LD_NORM_EXACT


def ld_reference_mpmath(u: float, rho: float, dps: int = 30) -> float:
    """Second, independent route: for a linear law, integrating by parts over
    the nested uniform disks of radius r*rho gives
        A = [0.4 A_disk(rho) + 0.6 * integral_0^{pi/2} sin^3(t) A_disk(rho sin t) dt] / 0.8,
    evaluated with the disk closed form at `dps` digits."""
    import mpmath as mp
    with mp.workdps(dps):
        uu = mp.mpf(u)

        def disk(a):
            # twice the digits inside, so that 1 - n = (d/s)^2 survives for |d| down to 10^(5 - dps)
            with mp.workdps(2 * dps + 10):
                return +disk_hp(a)

        def disk_hp(a):
            if a == 0:
                return mp.mpf(point_lens(float(uu))) if uu > 0 else mp.inf
            if abs(uu - a) < mp.mpf(10) ** (5 - dps):
                # the ring through the lens: the elliptic form is 0*inf there, use its limit
                r2 = a * a
                return (2 / a + (1 + r2) / r2 * (mp.pi / 2 + mp.asin((r2 - 1) / (r2 + 1)))) / mp.pi
            d, s, r2 = uu - a, uu + a, a * a
            n = 1 - (d / s) ** 2   # 4*u*a/(u + a)^2, never above 1 by rounding
            f = mp.sqrt(4 + d * d)
            m = 4 * n / (f * f)
            return (s * f / (2 * r2) * mp.ellipe(m) - d * (8 + uu * uu - r2) / (2 * r2 * f) * mp.ellipk(m)
                    + 2 * d * d * (1 + r2) / (r2 * s * f) * mp.ellippi(n, m)) / mp.pi
        rho_m = mp.mpf(rho)
        pts = [0, mp.pi / 2]
        if 0 < uu < rho_m:
            pts = [0, mp.asin(uu / rho_m), mp.pi / 2]
        integral = mp.quad(lambda t: mp.sin(t) ** 3 * disk(rho_m * mp.sin(t)), pts)
        return float((mp.mpf("0.4") * disk(rho_m) + mp.mpf("0.6") * integral) / mp.mpf("0.8"))


def ring_by_angle(l: float, r: float, c: float) -> float:
    """The ring magnification straight from its definition: the point-lens
    magnification averaged over the ring (angle quad), lengths in source radii."""
    u, a = l / c, r / c
    w = abs(a - u) / max(a, u)
    pts = []
    while 0.0 < w < math.pi:
        pts.append(w)
        w *= 4.0

    def g(phi):
        return point_lens(math.sqrt((u - a) ** 2 + 4.0 * u * a * math.sin(0.5 * phi) ** 2))
    val, _ = scipy.integrate.quad(g, 0.0, math.pi, points=pts or None, epsabs=0.0, epsrel=1e-13, limit=400)
    return val / math.pi


def self_check() -> int:
    """Checks the benchmark's own references and unit mappings; exit status 1 on a failure."""
    failures = []

    def expect(name, got, want, tol):
        rel = abs(got - want) / abs(want)
        status = "ok" if rel <= tol else "FAILED"
        print(f"{status:6} {name}: got {got!r}, want {want!r}, rel {rel:.1e} (tolerance {tol:g})")
        if rel > tol:
            failures.append(name)
    warnings.filterwarnings("ignore", category=scipy.integrate.IntegrationWarning)
    for x in (0.0, 0.3, 0.97, 1.03, 2.0, 40.0):
        expect(f"disk, NumPy closed form at l = {x}", float(disk_numpy(np.array([x * RHO]), RHO)[0]),
               disk_mpmath(x, RE, RSTAR), 1e-11)
    expect("disk, mpmath at the centre", disk_mpmath(0.0, RE, RSTAR), math.sqrt(RHO * RHO + 4) / RHO, 1e-15)
    for l, r in ((0.0, 0.4), (0.5, 0.3), (0.7, 0.71), (2.0, 0.9)):
        expect(f"ring closed form at l = {l}, r = {r}", float(ring_numpy(l, r, RE / RSTAR)),
               ring_by_angle(l, r, RE / RSTAR), 1e-11)
    for l in (0.5, 1.5):
        expect(f"limb-darkened reference at l = {l}", ld_reference(l * RHO, RHO),
               ld_reference_mpmath(l * RHO, RHO), 1e-12)
    centre = math.sqrt(RHO * RHO + 4.0) / RHO
    probe = np.array([1e-7, 3.0])
    far = float(disk_numpy(probe[1:], RHO)[0])
    for name, fn in (("MulensModel uniform", lambda v: mulens_uniform(v, RHO)),
                     ("VBMicrolensing a1 = 0", lambda v: vbm_mag(v, RHO, 0.0))):
        got = fn(probe)
        expect(f"{name} at the centre", float(got[0]), centre, 1e-6)
        expect(f"{name} at u = 3", float(got[1]), far, 1e-3)
    ld_centre = ld_reference(0.0, RHO)
    ld_far = ld_reference(0.3, RHO)
    expect("MulensModel limb-darkened (gamma = 0.5) near the centre", float(mulens_ld(np.array([1e-7]), RHO)[0]),
           ld_centre, 1e-3)
    # VBMicrolensing's default accuracy goal (Tol) is 1e-2: its limb-darkened values are good to about 1e-3.
    expect("VBMicrolensing a1 = 0.6 near the centre", float(vbm_mag(np.array([1e-7]), RHO, LIN_U)[0]),
           ld_centre, 2e-3)
    expect("MulensModel limb-darkened at u = 0.3", float(mulens_ld(np.array([0.3]), RHO)[0]), ld_far, 1e-3)
    expect("VBMicrolensing a1 = 0.6 at u = 0.3", float(vbm_mag(np.array([0.3]), RHO, LIN_U)[0]), ld_far, 2e-3)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    return 1 if failures else 0


# ------------------------------------------------------------------ peers ----

def mulens_trajectory(u: np.ndarray, rho: float):
    import MulensModel as mm
    params = mm.ModelParameters({"t_0": 0.0, "u_0": 0.0, "t_E": 1.0, "rho": rho})
    return mm.Trajectory(parameters=params, x=np.asarray(u, dtype=float), y=np.zeros(len(u)))


def mulens_uniform(u, rho):
    import MulensModel as mm
    traj = mulens_trajectory(u, rho)
    return np.asarray(mm.pointlens.FiniteSourceUniformWittMao94Magnification(
        trajectory=traj).get_magnification(), dtype=float)


def mulens_ld(u, rho, gamma=GAMMA):
    import MulensModel as mm
    traj = mulens_trajectory(u, rho)
    return np.asarray(mm.pointlens.FiniteSourceLDWittMao94Magnification(
        trajectory=traj, gamma=gamma).get_magnification(), dtype=float)


_VBM = None


def vbm_mag(u, rho, a1):
    """VBMicrolensing's vectorised extended-source point-lens light curve on
    the separations u: u0 = 1e-300, tE = 1, t0 = 0 make u(t) = |t|."""
    global _VBM
    import VBMicrolensing
    if _VBM is None:
        _VBM = VBMicrolensing.VBMicrolensing()
    _VBM.a1 = a1
    return np.asarray(_VBM.ESPLLightCurve([math.log(1e-300), 0.0, 0.0, math.log(rho)],
                                          np.asarray(u, dtype=float))[0], dtype=float)


def peer_versions() -> dict:
    out = {"numpy": np.__version__, "scipy": scipy.__version__}
    for name in ("MulensModel", "VBMicrolensing", "mpmath"):
        try:
            from importlib.metadata import version
            out[name] = version(name)
        except Exception:
            out[name] = None
    return out


# ----------------------------------------------------------------- zorvane ----

def zorvane_status():
    """(module, None) when zorvane's disk form computes correctly at the centre
    of the source, else (None, reason)."""
    try:
        import zorvane
    except Exception as exc:  # noqa: BLE001 - any failure means "not available"
        return None, f"import failed: {exc!r}"
    try:
        got = zorvane.witt_mao_magnification([0.0], 1.0, 0.1)[0]
    except Exception as exc:  # noqa: BLE001
        return None, f"witt_mao_magnification does not compute yet: {exc!r}"
    want = math.sqrt(0.1 ** 2 + 4.0) / 0.1
    if not abs(got - want) <= 1e-12 * want:
        return None, f"witt_mao_magnification([0], 1, 0.1) = {got!r}, expected {want!r}"
    return zorvane, None


def has(z, name):
    return z is not None and hasattr(z, name)


# The limb-darkened magnification as a SciPy user writes it: quad over the
# radius of 2*pi*r*I(r)*M(r)/N, M the ring closed form.  With
# with_derivative=True the integrand is 2*pi*r*(M + r/2*M')*I/N instead, M'
# by central differences with step (|r| + 1)*cbrt(eps): the form that is exact
# when M is the magnification of the uniform disk of radius r, not of the ring.
CBRT_EPS = np.finfo(float).eps ** (1.0 / 3.0)
N_LD = 2.5132741228717936


def ring_scalar(l, r, c):
    """The ring closed form for one point; inside |r - l| < 1e-5, where the
    elliptic form is 0*inf, its expansion about r = l (IEEE infinities and
    NaNs pass through, as they do in zorvane: the integrand drops them)."""
    if abs(r - l) < 1e-5:
        with np.errstate(all="ignore"):
            l, r, c = np.float64(l), np.float64(r), np.float64(c)
            a2 = l * l
            s2 = a2 + c * c
            t = (r - l) / (2 * l)
            big_l = np.log(l * 8 * c / (np.abs(r - l) * np.sqrt(s2)))
            return float(((r - l) * c * (2 * a2 + c * c) / (a2 * s2) + (1 - t) * (2 * c / l) * big_l
                          + 4 * np.arctan(l / c)) / (2 * np.pi))
    d2 = (r - l) ** 2
    s = l + r
    big = d2 + 4.0 * c * c
    m = 16.0 * c * c * l * r / (s * s * big)
    n = 4.0 * l * r / (s * s)
    k = _ellipk(m)
    pi3 = k + n / 3.0 * _elliprj(0.0, 1.0 - m, 1.0, 1.0 - n)
    return 4.0 / (s * math.sqrt(big)) * (2.0 * c * c * k + d2 * pi3) / (2.0 * math.pi)


_ellipk, _elliprj = sp.ellipk, sp.elliprj


def integrated_ring_scipy(l, re, rstar, epsrel=1e-10, with_derivative=False):
    c = re / rstar

    def m(r):
        return ring_scalar(l, r, c) if r >= 0 else 0.0

    def f(r):
        if with_derivative:
            h = (abs(r) + 1.0) * CBRT_EPS
            dm = (m(r + h) - m(r - h)) / (h + h) if r >= 0 else 0.0
            v = 2 * math.pi * r * (m(r) + 0.5 * r * dm) * ld_profile(r)
        else:
            v = 2 * math.pi * r * m(r) * ld_profile(r)
        return v if math.isfinite(v) else 0.0
    pts = [l] if 0.0 < l < 1.0 else None
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        val, _ = scipy.integrate.quad(f, 0.0, 1.0, points=pts, epsrel=epsrel, limit=200)
    return val / N_LD


# ------------------------------------------------------- child: zorvane timings ----

def zorvane_child(quick: bool) -> dict:
    """Runs in a child process whose RAYON_NUM_THREADS fixes the pool size."""
    z, why = zorvane_status()
    if z is None:
        return {"error": why}
    out: dict = {"threads": os.environ.get("RAYON_NUM_THREADS")}
    x = separations(N_BIG)
    xl = x.tolist()
    f = z.witt_mao_magnification
    rep = 3 if quick else 5
    # zorvane and the NumPy baseline take turns, so that a change in the load of
    # the (shared) machine during the run shifts both alike.
    u = x * RHO
    t_list, t_arr, t_np = interleaved([lambda: f(xl, RE, RSTAR), lambda: f(x, RE, RSTAR),
                                       lambda: disk_numpy(u, RHO)], rounds=rep)
    out["disk_list_s"], out["disk_ndarray_s"], out["numpy_disk_s"] = t_list, t_arr, t_np
    out["digest_list"] = digest(f(xl, RE, RSTAR))
    out["digest_ndarray"] = digest(f(x, RE, RSTAR))
    x1, x10 = xl[:1], xl[:10]
    out["call1_s"] = best_time(lambda: f(x1, RE, RSTAR), repeat=rep)
    out["call10_s"] = best_time(lambda: f(x10, RE, RSTAR), repeat=rep)
    # Conversion: the batch form with no scales converts l and computes nothing.
    # Separations exactly on the limb take the cheapest branch of the disk form,
    # so a call on them is mostly conversion in and out plus the pool's hand-off.
    if has(z, "multi_witt_mao_magnification"):
        g = z.multi_witt_mao_magnification
        out["in_list_s"] = best_time(lambda: g(xl, [], []), repeat=rep)
        out["in_ndarray_s"] = best_time(lambda: g(x, [], []), repeat=rep)
    limb_list = [1.0] * N_BIG
    out["limb_list_s"] = best_time(lambda: f(limb_list, RE, RSTAR), repeat=rep)
    nan_list = [math.nan] * (N_BIG // 10)
    out["nan_list_s"] = best_time(lambda: f(nan_list, RE, RSTAR), repeat=rep) * 10
    sweep = {}
    for n in (SWEEP[::2] if quick else SWEEP):
        xs = xl[:n]
        sweep[n] = best_time(lambda: f(xs, RE, RSTAR), repeat=3, min_time=0.05 if quick else 0.1)
    out["sweep_s"] = sweep
    if has(z, "integrated_heyrovsky_magnification"):
        xh = separations(200 if quick else 1000, SEED + 1, L_MAX_LD).tolist()
        out["ih_n"] = len(xh)
        out["ih_s"] = best_time(lambda: z.integrated_heyrovsky_magnification(xh, RE, RSTAR), repeat=3)
    if has(z, "integrated_witt_mao_magnification"):
        xw = separations(200 if quick else 1000, SEED + 1, L_MAX_LD).tolist()
        out["iw_s"] = best_time(lambda: z.integrated_witt_mao_magnification(xw, RE, RSTAR), repeat=3)
    return out


def digest(values) -> str:
    import hashlib
    return hashlib.sha256(np.asarray(values, dtype=np.float64).tobytes()).hexdigest()


def run_child(threads: int, quick: bool) -> dict:
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    cmd = [sys.executable, os.path.abspath(__file__), "--child"] + (["--quick"] if quick else [])
    res = subprocess.run(cmd, env=env, capture_output=True, text=True)
    if res.returncode != 0:
        return {"error": f"child exited {res.returncode}: {res.stderr.strip()[-400:]}"}
    return json.loads(res.stdout.strip().splitlines()[-1])


# -------------------------------------------------------------- reporting ----

def fmt_ns(sec_per_elem):
    if sec_per_elem is None or not math.isfinite(sec_per_elem):
        return "n/a"
    ns = sec_per_elem * 1e9
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.1f} ns"


def fmt_ratio(r):
    return f"{r:.1f}" if r >= 1 else f"{r:.2g}"


def fmt_g(v, digits=2):
    if v is None or (isinstance(v, float) and not math.isfinite(v)):
        return "n/a"
    return f"{v:.{digits}e}"


def machine_line() -> str:
    cpu = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as fh:
            for line in fh:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    ncpu = len(os.sched_getaffinity(0))
    return f"{cpu}, {ncpu} cores available, Linux {platform.release()}, Python {platform.python_version()}"


def ulp_errors(got, ref):
    got = np.asarray(got, dtype=float)
    ref = np.asarray(ref, dtype=float)
    return np.abs(got - ref) / np.spacing(np.abs(ref))


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="fewer points and repetitions (a smoke run)")
    ap.add_argument("--plot", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                   "throughput.png"), help="where to write the PNG")
    ap.add_argument("--markdown", default=None, help="also write the tables to this file")
    ap.add_argument("--check", action="store_true",
                    help="only check the benchmark's references and the peers' units, then exit")
    ap.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.check:
        return self_check()
    if args.child:
        print(json.dumps(zorvane_child(args.quick)))
        return 0

    t_start = time.perf_counter()
    quick = args.quick
    # The reference's own accuracy is checked against a second route below.
    warnings.filterwarnings("ignore", category=scipy.integrate.IntegrationWarning)
    ncpu = len(os.sched_getaffinity(0))
    lines: list[str] = []

    def say(s=""):
        print(s, flush=True)
        lines.append(s)

    versions = peer_versions()
    z, z_why = zorvane_status()
    say("## Comparison with NumPy + SciPy, MulensModel and VBMicrolensing")
    say()
    say(f"- Machine: {machine_line()}; load average at start {os.getloadavg()[0]:.2f} "
        "(other work on the machine slows the multi-threaded figures first)")
    say(f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC")
    say(f"- Command: `bash bench/compare.sh{' --quick' if quick else ''}`")
    say("- Versions: " + ", ".join(f"{k} {v}" for k, v in versions.items() if v))
    say(f"- Inputs: re = {RE}, rstar = {RSTAR} (rho = {RHO}); separations uniform in "
        f"[0, {L_MAX}) source radii, seed {SEED}; linear limb darkening 0.6 (Gamma = {GAMMA:g})")
    if z is None:
        say(f"- zorvane: not measured ({z_why})")
    say()

    # ---- units: every peer must give the disk's centre value and tend to the point lens
    say("### Unit check: u = 1e-7 (centre, exact value sqrt(rho^2 + 4)/rho) and u = 10 (point lens (u^2 + 2)/(u sqrt(u^2 + 4)))")
    say()
    say("| method | relative deviation at the centre | at u = 10 |")
    say("|---|---:|---:|")
    centre = math.sqrt(RHO * RHO + 4.0) / RHO
    far = point_lens(10.0)
    probes = np.array([1e-7, 10.0])
    checks = [("NumPy + SciPy closed form", lambda v: disk_numpy(v, RHO)),
              ("MulensModel uniform Witt-Mao", lambda v: mulens_uniform(v, RHO)),
              ("VBMicrolensing, a1 = 0", lambda v: vbm_mag(v, RHO, 0.0))]
    if z is not None:
        checks.insert(0, ("zorvane", lambda v: np.asarray(z.witt_mao_magnification(v / RHO, RE, RSTAR))))
    for name, fn in checks:
        try:
            got = fn(probes)
            say(f"| {name} | {fmt_g(abs(got[0] - centre) / centre)} | {fmt_g(abs(got[1] - far) / far)} |")
        except Exception as exc:  # noqa: BLE001
            say(f"| {name} | fails: {exc!r} | |")
    say()

    # ---- zorvane, in children
    zr = {}
    if z is not None:
        for th in sorted({1, ncpu}):
            zr[th] = run_child(th, quick)
            if "error" in zr[th]:
                say(f"- zorvane with {th} thread(s) failed: {zr[th]['error']}")
    z1 = zr.get(1, {}) if "error" not in zr.get(1, {}) else {}
    zn = zr.get(ncpu, {}) if "error" not in zr.get(ncpu, {}) else {}

    # ---- the disk form on N_BIG points
    x = separations(N_BIG)
    u = x * RHO
    rep = 3 if quick else 5
    if z1:
        t_np = z1["numpy_disk_s"] / N_BIG   # measured in turn with zorvane, in its child
    else:
        t_np = best_time(lambda: disk_numpy(u, RHO), repeat=rep) / N_BIG
    a_np = disk_numpy(u, RHO)
    a_z = np.asarray(z.witt_mao_magnification(x, RE, RSTAR)) if z is not None else None

    n_mm = 1000 if quick else 10000
    mm_u = None
    t_mm = t_mm_call = None
    try:
        t_mm_call, t_mm = marginal_cost(lambda k: mulens_uniform(u[:k], RHO), n_mm, repeat=1 if quick else 3)
        mm_u = mulens_uniform(u[:n_mm], RHO)
    except Exception as exc:  # noqa: BLE001
        say(f"- MulensModel uniform failed: {exc!r}")
    t_vb = None
    vb_u = None
    try:
        t_vb = best_time(lambda: vbm_mag(u, RHO, 0.0), repeat=rep) / N_BIG
        vb_u = vbm_mag(u, RHO, 0.0)
    except Exception as exc:  # noqa: BLE001
        say(f"- VBMicrolensing uniform failed: {exc!r}")

    z_ref = z1.get("disk_ndarray_s")
    z_ref = z_ref / N_BIG if z_ref else None

    def ratio(t):
        return fmt_ratio(t / z_ref) if (z_ref and t) else "n/a"

    away = np.abs(x - 1.0) >= 0.01
    z_digest = digest(a_z) if a_z is not None else None

    def same(res, key):
        return "0 (bit-identical) | 0" if res.get(key) == z_digest else "differs | differs"

    def diff(a):
        if a_z is None or a is None:
            return "n/a | n/a"
        k = len(a)
        d, bad = max_rel_diff(a, a_z[:k])
        d2, bad2 = max_rel_diff(np.asarray(a)[away[:k]], a_z[:k][away[:k]])
        return (fmt_g(d) + (f" ({bad} non-finite)" if bad else "") + " | "
                + fmt_g(d2) + (f" ({bad2} non-finite)" if bad2 else ""))

    say(f"### Uniform disk, {N_BIG:,} separations (per-element cost; ratio = cost / zorvane on 1 thread)")
    say()
    say("| method | points timed | per element | ratio | max rel. diff from zorvane | same, \\|l − 1\\| ≥ 0.01 |")
    say("|---|---:|---:|---:|---:|---:|")
    if z1:
        say(f"| zorvane `witt_mao_magnification`, 1 thread, ndarray in | {N_BIG:,} | {fmt_ns(z1['disk_ndarray_s'] / N_BIG)} | 1.0 | {same(z1, 'digest_ndarray')} |")
        say(f"| zorvane, 1 thread, list in | {N_BIG:,} | {fmt_ns(z1['disk_list_s'] / N_BIG)} | {ratio(z1['disk_list_s'] / N_BIG)} | {same(z1, 'digest_list')} |")
    if zn and ncpu > 1:
        say(f"| zorvane, {ncpu} threads, ndarray in | {N_BIG:,} | {fmt_ns(zn['disk_ndarray_s'] / N_BIG)} | {ratio(zn['disk_ndarray_s'] / N_BIG)} | {same(zn, 'digest_ndarray')} |")
        say(f"| zorvane, {ncpu} threads, list in | {N_BIG:,} | {fmt_ns(zn['disk_list_s'] / N_BIG)} | {ratio(zn['disk_list_s'] / N_BIG)} | {same(zn, 'digest_list')} |")
    say(f"| NumPy + SciPy closed form (1 thread) | {N_BIG:,} | {fmt_ns(t_np)} | {ratio(t_np)} | {diff(a_np)} |")
    if zn and ncpu > 1:
        say(f"| NumPy + SciPy, timed in turn with zorvane on {ncpu} threads | {N_BIG:,} | "
            f"{fmt_ns(zn['numpy_disk_s'] / N_BIG)} | {ratio(zn['numpy_disk_s'] / N_BIG)} | | |")
    say(f"| MulensModel `finite_source_uniform_WittMao94`, marginal | {n_mm:,} | {fmt_ns(t_mm)} | {ratio(t_mm)} | {diff(mm_u)} |")
    say(f"| MulensModel, whole call / points (fixed cost included) | {n_mm:,} | {fmt_ns(t_mm_call)} | {ratio(t_mm_call)} | | |")
    say(f"| VBMicrolensing `ESPLLightCurve`, a1 = 0 | {N_BIG:,} | {fmt_ns(t_vb)} | {ratio(t_vb)} | {diff(vb_u)} |")
    say()

    # ---- accuracy of the disk form against mpmath
    n_acc = 300 if quick else 2000
    rng = np.random.default_rng(SEED + 2)
    xa = np.concatenate([rng.uniform(0, L_MAX, n_acc - n_acc // 4),
                         1.0 + rng.uniform(-0.01, 0.01, n_acc // 4)])
    ref = np.array([disk_mpmath(float(v), RE, RSTAR) for v in xa])
    ua = xa * RHO
    acc_rows = [("NumPy + SciPy closed form", disk_numpy(ua, RHO))]
    if z is not None:
        acc_rows.insert(0, ("zorvane `witt_mao_magnification`", np.asarray(z.witt_mao_magnification(xa, RE, RSTAR))))
    try:
        acc_rows.append(("MulensModel uniform Witt-Mao", mulens_uniform(ua, RHO)))
    except Exception as exc:  # noqa: BLE001
        say(f"- MulensModel on the accuracy points failed: {exc!r}")
    try:
        acc_rows.append(("VBMicrolensing, a1 = 0", vbm_mag(ua, RHO, 0.0)))
    except Exception as exc:  # noqa: BLE001
        say(f"- VBMicrolensing on the accuracy points failed: {exc!r}")
    say(f"### Uniform disk accuracy against mpmath (40 digits), {n_acc} separations "
        f"({n_acc // 4} of them within 0.01 of the limb)")
    say()
    say("| method | points | median ulp | p99 ulp | max ulp | max rel. error |")
    say("|---|---|---:|---:|---:|---:|")
    near = np.abs(xa - 1.0) < 0.01
    for name, got in acc_rows:
        for label, sel in (("all", slice(None)), ("\\|l − 1\\| ≥ 0.01", ~near), ("\\|l − 1\\| < 0.01", near)):
            e = ulp_errors(got[sel], ref[sel])
            e = e[np.isfinite(e)]
            rel, bad = max_rel_diff(got[sel], ref[sel])
            say(f"| {name} | {label} | {np.median(e):.3g} | {np.percentile(e, 99):.3g} | {np.max(e):.3g} | "
                f"{fmt_g(rel)}{f' ({bad} non-finite)' if bad else ''} |")
    say()

    # ---- small calls and conversion
    if z1:
        say("### zorvane call overhead and conversion (1 thread)")
        say()
        say("| what | cost |")
        say("|---|---:|")
        say(f"| call with 1 separation | {fmt_ns(z1['call1_s'])} |")
        say(f"| call with 10 separations | {fmt_ns(z1['call10_s'])} |")
        if zn and ncpu > 1:
            say(f"| call with 1 separation, {ncpu} threads | {fmt_ns(zn['call1_s'])} |")
            say(f"| call with 10 separations, {ncpu} threads | {fmt_ns(zn['call10_s'])} |")
        if "in_list_s" in z1:
            say(f"| list in, per element (`multi_witt_mao_magnification(l, [], [])`) | {fmt_ns(z1['in_list_s'] / N_BIG)} |")
            say(f"| ndarray in, per element (same) | {fmt_ns(z1['in_ndarray_s'] / N_BIG)} |")
        say(f"| whole call on separations on the limb (l = 1), per element: list in + out, pool, limb branch "
            f"| {fmt_ns(z1['limb_list_s'] / N_BIG)} |")
        if "in_list_s" in z1:
            say(f"| the same less list in: list out + pool + limb branch, per element | "
                f"{fmt_ns((z1['limb_list_s'] - z1['in_list_s']) / N_BIG)} |")
        say(f"| whole call on NaN separations, per element | {fmt_ns(z1['nan_list_s'] / N_BIG)} |")
        say(f"| for scale: `numpy.ndarray.tolist()` (a list of new floats), per element | "
            f"{fmt_ns(best_time(lambda: x.tolist(), repeat=3) / N_BIG)} |")
        say()

    # ---- limb darkening: speed
    n_ih = z1.get("ih_n", 200 if quick else 1000)
    xh = separations(n_ih, SEED + 1, L_MAX_LD)
    uh = xh * RHO
    n_q = 10 if quick else 40
    t_q = best_time(lambda: [integrated_ring_scipy(float(v), RE, RSTAR) for v in xh[:n_q]], repeat=1) / n_q
    q_vals = np.array([integrated_ring_scipy(float(v), RE, RSTAR) for v in xh[:n_q]])
    n_mml = 100 if quick else 500
    t_mml = mml = t_mml_call = None
    try:
        t_mml_call, t_mml = marginal_cost(lambda k: mulens_ld(uh[:k], RHO), n_mml, repeat=1)
        mml = mulens_ld(uh[:n_mml], RHO)
    except Exception as exc:  # noqa: BLE001
        say(f"- MulensModel limb-darkened failed: {exc!r}")
    t_vbl = vbl = None
    try:
        t_vbl = best_time(lambda: vbm_mag(uh, RHO, LIN_U), repeat=3) / n_ih
        vbl = vbm_mag(uh, RHO, LIN_U)
    except Exception as exc:  # noqa: BLE001
        say(f"- VBMicrolensing limb-darkened failed: {exc!r}")
    ih = np.asarray(z.integrated_heyrovsky_magnification(xh, RE, RSTAR)) if has(z, "integrated_heyrovsky_magnification") else None
    t_ih = z1["ih_s"] / n_ih if "ih_s" in z1 else None

    def ld_ratio(t):
        return fmt_ratio(t / t_ih) if (t_ih and t) else "n/a"

    def ld_diff(a):
        if ih is None or a is None:
            return "n/a"
        d, bad = max_rel_diff(a, ih[:len(a)])
        return fmt_g(d) + (f" ({bad} non-finite)" if bad else "")

    say(f"### Limb-darkened source (linear, 0.6), separations uniform in [0, {L_MAX_LD}) source radii "
        "(ratio = cost / zorvane `integrated_heyrovsky_magnification`)")
    say()
    say("| method | points timed | per element | ratio | max rel. diff from zorvane |")
    say("|---|---:|---:|---:|---:|")
    if t_ih:
        say(f"| zorvane `integrated_heyrovsky_magnification` | {n_ih:,} | {fmt_ns(t_ih)} | 1.0 | 0 |")
    if zn is not z1 and "ih_s" in zn:
        t_ihn = zn["ih_s"] / n_ih
        say(f"| zorvane `integrated_heyrovsky_magnification`, {ncpu} threads | {n_ih:,} | {fmt_ns(t_ihn)} | "
            f"{ld_ratio(t_ihn)} | 0 |")
    if "iw_s" in z1:
        iw = np.asarray(z.integrated_witt_mao_magnification(xh, RE, RSTAR))
        say(f"| zorvane `integrated_witt_mao_magnification` | {n_ih:,} | {fmt_ns(z1['iw_s'] / n_ih)} | "
            f"{ld_ratio(z1['iw_s'] / n_ih)} | {ld_diff(iw)} |")
    say(f"| SciPy `quad` over the radius of ring × profile (epsrel 1e-10) | {n_q} | {fmt_ns(t_q)} | {ld_ratio(t_q)} | {ld_diff(q_vals)} |")
    say(f"| MulensModel `finite_source_LD_WittMao94`, marginal | {n_mml} | {fmt_ns(t_mml)} | {ld_ratio(t_mml)} | {ld_diff(mml)} |")
    say(f"| MulensModel LD, whole call / points (fixed cost included) | {n_mml} | {fmt_ns(t_mml_call)} | {ld_ratio(t_mml_call)} | |")
    say(f"| VBMicrolensing `ESPLLightCurve`, a1 = 0.6 | {n_ih:,} | {fmt_ns(t_vbl)} | {ld_ratio(t_vbl)} | {ld_diff(vbl)} |")
    say()

    # ---- limb darkening: accuracy against a brute-force reference
    l_pts = [0.0, 0.5, 0.9, 0.99, 1.0, 1.01, 1.1, 1.5, 2.0, 3.0] if not quick else [0.0, 0.9, 1.01, 2.0]
    refs = []
    for lv in l_pts:
        refs.append(ld_reference(lv * RHO, RHO))
    l_arr = np.array(l_pts)
    u_arr = l_arr * RHO
    cross = None
    try:
        cross_l = [lv for lv in l_pts if lv in (0.0, 0.9, 1.0, 2.0)]
        cross = [(ld_reference_mpmath(lv * RHO, RHO), refs[l_pts.index(lv)]) for lv in cross_l]
    except Exception as exc:  # noqa: BLE001
        say(f"- mpmath cross-check failed: {exc!r}")
    cols = []
    if ih is not None:
        cols.append(("zorvane heyrovsky", np.asarray(z.integrated_heyrovsky_magnification(l_arr, RE, RSTAR))))
    if has(z, "integrated_witt_mao_magnification"):
        cols.append(("zorvane witt-mao", np.asarray(z.integrated_witt_mao_magnification(l_arr, RE, RSTAR))))

    def per_point(fn):
        vals = []
        for uv in u_arr:
            try:
                vals.append(float(fn(np.array([uv]))[0]))
            except Exception:  # noqa: BLE001 - a failing point is shown as n/a
                vals.append(math.nan)
        return np.array(vals)
    cols.append(("MulensModel LD WM94", per_point(lambda v: mulens_ld(v, RHO))))
    cols.append(("VBMicrolensing a1=0.6", per_point(lambda v: vbm_mag(v, RHO, LIN_U))))
    cols.append(("SciPy quad", np.array([integrated_ring_scipy(float(v), RE, RSTAR) for v in l_arr])))
    cols.append(("SciPy quad with r/2·dM/dr", np.array([integrated_ring_scipy(float(v), RE, RSTAR, with_derivative=True)
                                                       for v in l_arr])))
    say("### Limb-darkened accuracy: relative error against a brute-force reference "
        "(nested `scipy.integrate.quad`, epsrel 1e-12, of the ring-averaged point-lens magnification)")
    say()
    say("| l (source radii) | reference | " + " | ".join(n for n, _ in cols) + " |")
    say("|---:|---:|" + "---:|" * len(cols))
    worst = {n: 0.0 for n, _ in cols}       # over the points where the method gives a number
    fails = {n: 0 for n, _ in cols}
    for i, lv in enumerate(l_pts):
        cells = []
        for n, v in cols:
            if math.isfinite(v[i]):
                e = abs(v[i] - refs[i]) / refs[i]
                worst[n] = max(worst[n], e)
                cells.append(fmt_g(e, 1))
            else:
                fails[n] += 1
                cells.append(f"fails ({v[i]})")
        say(f"| {lv:g} | {refs[i]:.12g} | " + " | ".join(cells) + " |")
    say("| worst | | " + " | ".join(fmt_g(worst[n], 1) + (f", {fails[n]} failed" if fails[n] else "")
                                   for n, _ in cols) + " |")
    if cross is not None:
        agree = max(abs(a - b) / b for a, b in cross)
        say()
        say(f"At l = {', '.join(f'{v:g}' for v in cross_l)} the reference agrees with an independent "
            f"mpmath route (integration by parts over nested uniform disks, 30 digits) to {agree:.1e} relative.")
    say()

    # ---- throughput against sequence length
    sweep = {}
    for n in (SWEEP[::2] if quick else SWEEP):
        un = u[:n]
        sweep[n] = best_time(lambda: disk_numpy(un, RHO), repeat=3, min_time=0.05 if quick else 0.1)
    vb_sweep = {}
    try:
        for n in (SWEEP[::2] if quick else SWEEP):
            un = u[:n]
            vb_sweep[n] = best_time(lambda: vbm_mag(un, RHO, 0.0), repeat=3, min_time=0.05 if quick else 0.1)
    except Exception:  # noqa: BLE001 - reported with the table above
        vb_sweep = {}
    try:
        make_plot(args.plot, sweep, z1.get("sweep_s"), zn.get("sweep_s") if ncpu > 1 else None, ncpu, vb_sweep)
        say(f"Throughput plot: `{os.path.relpath(args.plot)}`")
    except Exception as exc:  # noqa: BLE001
        say(f"- plot failed: {exc!r}")
    say()

    # ---- targets
    if z1:
        say("### Targets")
        say()
        say("| target | measured | met |")
        say("|---|---:|:---:|")

        def row(name, val, ok):
            say(f"| {name} | {val} | {'yes' if ok else 'no'} |")
        r1 = t_np / (z1["disk_ndarray_s"] / N_BIG)
        row("disk, 10^6: >= 2x NumPy + SciPy on 1 thread", f"{r1:.2f}x", r1 >= 2)
        if zn:
            r2 = (zn["numpy_disk_s"] / N_BIG) / (zn["disk_ndarray_s"] / N_BIG)
            row(f"disk, 10^6: >= 3.5x NumPy + SciPy on {ncpu} threads", f"{r2:.2f}x", r2 >= 3.5)
        if t_mm:
            r3 = t_mm / (z1["disk_ndarray_s"] / N_BIG)
            row("disk: >= 1000x MulensModel uniform Witt-Mao (marginal cost per point)", f"{r3:.0f}x", r3 >= 1000)
        for label, zz in (("1 thread", z1), (f"{ncpu} threads", zn if ncpu > 1 else {})):
            if zz:
                row(f"call with 10 separations < 30 µs ({label})", fmt_ns(zz["call10_s"]), zz["call10_s"] < 30e-6)
                row(f"call with 1 separation < 5 µs ({label})", fmt_ns(zz["call1_s"]), zz["call1_s"] < 5e-6)
        if "in_list_s" in z1:
            lio = min(z1["limb_list_s"], z1["nan_list_s"]) / N_BIG
            row("list in + out < 40 ns per element (upper bound: the cheaper whole call, on l = 1 or on NaN, "
                "1 thread)", fmt_ns(lio), lio < 40e-9)
            nd = z1["in_ndarray_s"] / N_BIG
            row("ndarray in < 10 ns per element", fmt_ns(nd), nd < 10e-9)
        if t_ih:
            r4 = t_q / t_ih
            row("integrated Heyrovsky >= 20x SciPy quad (1 thread)", f"{r4:.1f}x", r4 >= 20)
            if zn is not z1 and "ih_s" in zn:
                r4n = t_q / (zn["ih_s"] / n_ih)
                row(f"integrated Heyrovsky >= 20x SciPy quad ({ncpu} threads)", f"{r4n:.1f}x", r4n >= 20)
            if t_mml and "zorvane heyrovsky" in worst:
                faster = t_mml / t_ih
                acc_ok = worst["zorvane heyrovsky"] <= worst["MulensModel LD WM94"]
                row("integrated Heyrovsky faster than MulensModel LD at equal or better accuracy",
                    f"{faster:.1f}x; worst error {worst['zorvane heyrovsky']:.1e} vs {worst['MulensModel LD WM94']:.1e}",
                    faster > 1 and acc_ok)
        say()
    say(f"Whole run: {time.perf_counter() - t_start:.0f} s; load average at the end {os.getloadavg()[0]:.2f}.")
    if args.markdown:
        with open(args.markdown, "w") as fh:
            fh.write("\n".join(lines) + "\n")
    return 0


def make_plot(path, numpy_sweep, z1_sweep, zn_sweep, ncpu, vb_sweep=None):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=110)

    def curve(sweep, label, style):
        if not sweep:
            return
        ns = sorted(int(k) for k in sweep)
        ax.plot(ns, [n / sweep[n if n in sweep else str(n)] for n in ns], style, label=label)
    curve(z1_sweep, "zorvane, 1 thread (list in)", "o-")
    curve(zn_sweep, f"zorvane, {ncpu} threads (list in)", "s-")
    curve(numpy_sweep, "NumPy + SciPy closed form (ndarray in)", "^--")
    curve(vb_sweep, "VBMicrolensing ESPLLightCurve, uniform (ndarray in)", "v:")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("separations per call")
    ax.set_ylabel("magnifications per second")
    ax.set_title(f"Uniform-disk magnification throughput (rho = {RHO:g})")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


if __name__ == "__main__":
    sys.exit(main())
