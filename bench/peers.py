"""Adapters: zorvane and the tools it is compared with, each called on
separations u in Einstein radii (or on a light curve) and returning a float64
array.

* NumPy + SciPy: the Witt-Mao uniform-disk closed form, vectorised with
  scipy.special (ellipk, ellipe, elliprf, elliprj), and the thin-ring closed form,
  and the limb-darkened form as a SciPy user writes it (quad over the radius);
* MulensModel: its uniform and limb-darkened Witt-Mao point-lens methods;
* VBMicrolensing: its extended-source point-lens light curve (ESPLLightCurve),
  uniform (a1 = 0) and linearly limb-darkened (a1 = 0.6).

Limb darkening is linear, I(r) ~ 1 - 0.6*(1 - sqrt(1 - r^2)): coefficient 0.6
in the "u" convention (VBMicrolensing's a1), Gamma = 2*0.6/(3 - 0.6) = 0.5 in
the Gamma convention (MulensModel's gamma).
"""
from __future__ import annotations

import json
import math
import os
import subprocess
import sys
import warnings

import numpy as np
import scipy
import scipy.integrate
import scipy.special as sp

LIN_U = 0.6                    # linear limb-darkening coefficient, "u" convention
GAMMA = 2.0 * LIN_U / (3.0 - LIN_U)
EDGE_BAND = 1e-5               # |u - rho| / rho below which the disk takes its limit value
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


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


def ld_profile(r):
    return 1.0 - LIN_U * (1.0 - np.sqrt(1.0 - r * r))


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
    k = sp.ellipk(m)
    pi3 = k + n / 3.0 * sp.elliprj(0.0, 1.0 - m, 1.0, 1.0 - n)
    return 4.0 / (s * math.sqrt(big)) * (2.0 * c * c * k + d2 * pi3) / (2.0 * math.pi)


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


# ------------------------------------------------------------------ MulensModel ----

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


def mulens_light_curve(t, u0, rho, limb_darkened, zone):
    """MulensModel's Model on epochs t (t0 = 0, tE = 1): its finite-source
    Witt-Mao method for epochs in zone = (start, end), the point lens outside."""
    import MulensModel as mm
    model = mm.Model({"t_0": 0.0, "u_0": u0, "t_E": 1.0, "rho": rho})
    method = "finite_source_LD_WittMao94" if limb_darkened else "finite_source_uniform_WittMao94"
    t = np.asarray(t, dtype=float)
    model.set_magnification_methods([zone[0], method, zone[1]])
    return np.asarray(model.get_magnification(t, gamma=GAMMA if limb_darkened else 0.0), dtype=float)


# --------------------------------------------------------------- VBMicrolensing ----

_VBM = None
_VBM_TOL = None


def vbm(a1, tol=None):
    """The shared VBMicrolensing object, with linear limb darkening a1 and the
    accuracy goal tol (None: its default)."""
    global _VBM, _VBM_TOL
    import VBMicrolensing
    if _VBM is None:
        _VBM = VBMicrolensing.VBMicrolensing()
        _VBM_TOL = _VBM.Tol
    _VBM.a1 = a1
    _VBM.Tol = _VBM_TOL if tol is None else tol
    return _VBM


def vbm_mag(u, rho, a1):
    """VBMicrolensing's vectorised extended-source point-lens light curve on
    the separations u: u0 = 1e-300, tE = 1, t0 = 0 make u(t) = |t|."""
    return np.asarray(vbm(a1).ESPLLightCurve([math.log(1e-300), 0.0, 0.0, math.log(rho)],
                                             np.asarray(u, dtype=float))[0], dtype=float)


def vbm_light_curve(t, u0, rho, a1, tol=None):
    """VBMicrolensing's ESPLLightCurve on epochs t (t0 = 0, tE = 1)."""
    return np.asarray(vbm(a1, tol).ESPLLightCurve([math.log(u0), 0.0, 0.0, math.log(rho)],
                                                  np.asarray(t, dtype=float))[0], dtype=float)


def peer_versions() -> dict:
    from importlib.metadata import version
    out = {"numpy": np.__version__, "scipy": scipy.__version__}
    for name in ("MulensModel", "VBMicrolensing", "mpmath"):
        try:
            out[name] = version(name)
        except Exception:  # noqa: BLE001 - a missing peer is reported as such
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


def run_child(module: str, threads: int | None, args: list[str]) -> dict:
    """Runs `python -m module --child ARGS` from the repository root with
    RAYON_NUM_THREADS = threads (None: unset, the pool's default size): zorvane's
    worker pool reads its size once per process.  Returns the JSON object the
    child prints last."""
    env = {k: v for k, v in os.environ.items() if k != "RAYON_NUM_THREADS"}
    if threads is not None:
        env["RAYON_NUM_THREADS"] = str(threads)
    res = subprocess.run([sys.executable, "-m", module, "--child", *args], env=env, cwd=ROOT,
                         capture_output=True, text=True)
    if res.returncode != 0:
        return {"error": f"child exited {res.returncode}: {res.stderr.strip()[-400:]}"}
    return json.loads(res.stdout.strip().splitlines()[-1])
