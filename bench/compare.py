#!/usr/bin/env python3
"""Compare zorvane with the tools astronomers use today for point-lens,
finite-source magnification, on the same inputs, in one run.

    bash bench/compare.sh            # makes build/bench-venv, installs the peers and zorvane, runs this
    python -m bench.compare [--quick] [--plot PATH] [--markdown PATH]   (from the repository root)
    python -m bench.compare --check  # checks the references and the peers' units only

The peers (NumPy + SciPy, MulensModel, VBMicrolensing) and their units are
described in bench/peers.py; the references are tests/python/references.py.

Units. zorvane takes separations l in source radii and the two scales re and
rstar; rho = rstar/re is the source radius in Einstein radii and u = l*rho the
separation in Einstein radii, which is what the peers take.

zorvane's worker pool reads its size once per process, so every zorvane timing
runs in a child process started with RAYON_NUM_THREADS set (1, then all cores).
Every figure is the best of several repetitions (time.perf_counter).
"""
from __future__ import annotations

import argparse
import json
import math
import os
import sys
import time
import warnings

import numpy as np
import scipy.integrate

from tests.python import references as refs

from . import peers, report
from .peers import GAMMA, LIN_U, disk_numpy, has, integrated_ring_scipy, mulens_ld, mulens_uniform, vbm_mag
from .report import best_time, digest, fmt_g, fmt_ns, fmt_ratio, max_rel_diff

SEED = 20261208
RE, RSTAR = 1.0, 0.01         # rho = 0.01: a typical finite-source regime
RHO = RSTAR / RE
L_MAX = 5.0                    # separations drawn uniformly in [0, L_MAX) source radii
L_MAX_LD = 3.0                 # the same for the limb-darkened forms
N_BIG = 10**6
SWEEP = [1, 3, 10, 30, 100, 300, 1000, 3000, 10**4, 3 * 10**4, 10**5, 3 * 10**5, 10**6]


def separations(n: int, seed: int = SEED, top: float = L_MAX) -> np.ndarray:
    return np.random.default_rng(seed).uniform(0.0, top, n)


def ld_reference(u: float, rho: float) -> float:
    """Linearly limb-darkened magnification by brute force: the ring-averaged
    point-lens magnification weighted by 2*pi*r*I(r) over the radius (nested
    SciPy quad, epsrel 1e-12)."""
    return refs.profile_average(u / rho, 1.0 / rho)


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
               refs.disk_closed_form(x, RE, RSTAR), 1e-11)
    expect("disk, mpmath at the centre", refs.disk_closed_form(0.0, RE, RSTAR), math.sqrt(RHO * RHO + 4) / RHO, 1e-15)
    for l, r in ((0.0, 0.4), (0.5, 0.3), (0.7, 0.71), (2.0, 0.9)):
        expect(f"ring closed form at l = {l}, r = {r}", peers.ring_scalar(l, r, RE / RSTAR),
               refs.ring_float(l, r, RE / RSTAR), 1e-11)
    for l in (0.5, 1.5):
        expect(f"limb-darkened reference at l = {l}", ld_reference(l * RHO, RHO),
               refs.linear_by_parts(l * RHO, RHO), 1e-12)
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


# ------------------------------------------------------- child: zorvane timings ----

def zorvane_child(quick: bool) -> dict:
    """Runs in a child process whose RAYON_NUM_THREADS fixes the pool size."""
    z, why = peers.zorvane_status()
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
    t_list, t_arr, t_np = report.interleaved([lambda: f(xl, RE, RSTAR), lambda: f(x, RE, RSTAR),
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


# ------------------------------------------------------ the report's sections ----

class Run:
    """What the sections share: the options, zorvane's child timings, the inputs
    and the figures that the targets read."""

    def __init__(self, args):
        self.args = args
        self.quick = args.quick
        self.rep = 3 if args.quick else 5
        self.ncpu = len(os.sched_getaffinity(0))
        self.say = report.Report()
        self.z, self.z_why = peers.zorvane_status()
        self.z1 = self.zn = {}
        self.x = separations(N_BIG)
        self.u = self.x * RHO


def header(run: Run) -> None:
    say = run.say
    say.header("Comparison with NumPy + SciPy, MulensModel and VBMicrolensing",
               f"bash bench/compare.sh{' --quick' if run.quick else ''}", peers.peer_versions())
    say(f"- Inputs: re = {RE}, rstar = {RSTAR} (rho = {RHO}); separations uniform in "
        f"[0, {L_MAX}) source radii, seed {SEED}; linear limb darkening 0.6 (Gamma = {GAMMA:g})")
    if run.z is None:
        say(f"- zorvane: not measured ({run.z_why})")
    say()


def unit_check(run: Run) -> None:
    """Every peer must give the disk's centre value and tend to the point lens."""
    z, say = run.z, run.say
    say("### Unit check: u = 1e-7 (centre, exact value sqrt(rho^2 + 4)/rho) and u = 10 (point lens (u^2 + 2)/(u sqrt(u^2 + 4)))")
    say()
    centre = math.sqrt(RHO * RHO + 4.0) / RHO
    far = refs.point_lens(10.0)
    probes = np.array([1e-7, 10.0])
    checks = [("NumPy + SciPy closed form", lambda v: disk_numpy(v, RHO)),
              ("MulensModel uniform Witt-Mao", lambda v: mulens_uniform(v, RHO)),
              ("VBMicrolensing, a1 = 0", lambda v: vbm_mag(v, RHO, 0.0))]
    if z is not None:
        checks.insert(0, ("zorvane", lambda v: np.asarray(z.witt_mao_magnification(v / RHO, RE, RSTAR))))
    rows = []
    for name, fn in checks:
        try:
            got = fn(probes)
            rows.append([name, fmt_g(abs(got[0] - centre) / centre), fmt_g(abs(got[1] - far) / far)])
        except Exception as exc:  # noqa: BLE001
            rows.append([name, f"fails: {exc!r}", ""])
    say.table(["method", "relative deviation at the centre", "at u = 10"], "lrr", rows)


def zorvane_children(run: Run) -> None:
    zr = {}
    if run.z is not None:
        for th in sorted({1, run.ncpu}):
            zr[th] = peers.run_child("bench.compare", th, ["--quick"] if run.quick else [])
            if "error" in zr[th]:
                run.say(f"- zorvane with {th} thread(s) failed: {zr[th]['error']}")
    run.z1 = zr.get(1, {}) if "error" not in zr.get(1, {}) else {}
    run.zn = zr.get(run.ncpu, {}) if "error" not in zr.get(run.ncpu, {}) else {}


def disk_speed(run: Run) -> None:
    """The disk form on N_BIG points against each peer."""
    z, z1, zn, ncpu, say, x, u = run.z, run.z1, run.zn, run.ncpu, run.say, run.x, run.u
    if z1:
        run.t_np = z1["numpy_disk_s"] / N_BIG   # measured in turn with zorvane, in its child
    else:
        run.t_np = best_time(lambda: disk_numpy(u, RHO), repeat=run.rep) / N_BIG
    t_np = run.t_np
    a_np = disk_numpy(u, RHO)
    a_z = np.asarray(z.witt_mao_magnification(x, RE, RSTAR)) if z is not None else None

    n_mm = 1000 if run.quick else 10000
    mm_u = t_mm_call = run.t_mm = None
    try:
        t_mm_call, run.t_mm = report.marginal_cost(lambda k: mulens_uniform(u[:k], RHO), n_mm,
                                                   repeat=1 if run.quick else 3)
        mm_u = mulens_uniform(u[:n_mm], RHO)
    except Exception as exc:  # noqa: BLE001
        say(f"- MulensModel uniform failed: {exc!r}")
    t_mm = run.t_mm
    t_vb = vb_u = None
    try:
        t_vb = best_time(lambda: vbm_mag(u, RHO, 0.0), repeat=run.rep) / N_BIG
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
        return ["0 (bit-identical)", "0"] if res.get(key) == z_digest else ["differs", "differs"]

    def diff(a):
        if a_z is None or a is None:
            return ["n/a", "n/a"]
        k = len(a)
        d, bad = max_rel_diff(a, a_z[:k])
        d2, bad2 = max_rel_diff(np.asarray(a)[away[:k]], a_z[:k][away[:k]])
        return [fmt_g(d) + (f" ({bad} non-finite)" if bad else ""), fmt_g(d2) + (f" ({bad2} non-finite)" if bad2 else "")]

    big = f"{N_BIG:,}"
    rows = []
    if z1:
        rows.append(["zorvane `witt_mao_magnification`, 1 thread, ndarray in", big,
                     fmt_ns(z1["disk_ndarray_s"] / N_BIG), "1.0", *same(z1, "digest_ndarray")])
        rows.append(["zorvane, 1 thread, list in", big, fmt_ns(z1["disk_list_s"] / N_BIG),
                     ratio(z1["disk_list_s"] / N_BIG), *same(z1, "digest_list")])
    if zn and ncpu > 1:
        for kind, key in (("ndarray", "ndarray"), ("list", "list")):
            t = zn[f"disk_{key}_s"] / N_BIG
            rows.append([f"zorvane, {ncpu} threads, {kind} in", big, fmt_ns(t), ratio(t), *same(zn, f"digest_{key}")])
    rows.append(["NumPy + SciPy closed form (1 thread)", big, fmt_ns(t_np), ratio(t_np), *diff(a_np)])
    if zn and ncpu > 1:
        t = zn["numpy_disk_s"] / N_BIG
        rows.append([f"NumPy + SciPy, timed in turn with zorvane on {ncpu} threads", big, fmt_ns(t), ratio(t), "", ""])
    rows.append(["MulensModel `finite_source_uniform_WittMao94`, marginal", f"{n_mm:,}", fmt_ns(t_mm), ratio(t_mm),
                 *diff(mm_u)])
    rows.append(["MulensModel, whole call / points (fixed cost included)", f"{n_mm:,}", fmt_ns(t_mm_call),
                 ratio(t_mm_call), "", ""])
    rows.append(["VBMicrolensing `ESPLLightCurve`, a1 = 0", big, fmt_ns(t_vb), ratio(t_vb), *diff(vb_u)])
    say(f"### Uniform disk, {N_BIG:,} separations (per-element cost; ratio = cost / zorvane on 1 thread)")
    say()
    say.table(["method", "points timed", "per element", "ratio", "max rel. diff from zorvane",
               "same, \\|l − 1\\| ≥ 0.01"], "lrrrrr", rows)


def disk_accuracy(run: Run) -> None:
    """The disk form against the closed form evaluated in mpmath at 40 digits."""
    z, say = run.z, run.say
    n_acc = 300 if run.quick else 2000
    rng = np.random.default_rng(SEED + 2)
    xa = np.concatenate([rng.uniform(0, L_MAX, n_acc - n_acc // 4),
                         1.0 + rng.uniform(-0.01, 0.01, n_acc // 4)])
    ref = np.array([refs.disk_closed_form(float(v), RE, RSTAR) for v in xa])
    ua = xa * RHO
    acc_rows = [("NumPy + SciPy closed form", disk_numpy(ua, RHO))]
    if z is not None:
        acc_rows.insert(0, ("zorvane `witt_mao_magnification`", np.asarray(z.witt_mao_magnification(xa, RE, RSTAR))))
    for name, fn in (("MulensModel uniform Witt-Mao", mulens_uniform), ("VBMicrolensing, a1 = 0", None)):
        try:
            acc_rows.append((name, fn(ua, RHO) if fn else vbm_mag(ua, RHO, 0.0)))
        except Exception as exc:  # noqa: BLE001
            say(f"- {name.split()[0]} on the accuracy points failed: {exc!r}")
    say(f"### Uniform disk accuracy against mpmath (40 digits), {n_acc} separations "
        f"({n_acc // 4} of them within 0.01 of the limb)")
    say()
    near = np.abs(xa - 1.0) < 0.01
    rows = []
    for name, got in acc_rows:
        for label, sel in (("all", slice(None)), ("\\|l − 1\\| ≥ 0.01", ~near), ("\\|l − 1\\| < 0.01", near)):
            e = report.ulp_errors(got[sel], ref[sel])
            e = e[np.isfinite(e)]
            rel, bad = max_rel_diff(got[sel], ref[sel])
            rows.append([name, label, f"{np.median(e):.3g}", f"{np.percentile(e, 99):.3g}", f"{np.max(e):.3g}",
                         f"{fmt_g(rel)}{f' ({bad} non-finite)' if bad else ''}"])
    say.table(["method", "points", "median ulp", "p99 ulp", "max ulp", "max rel. error"], "llrrrr", rows)


def overhead(run: Run) -> None:
    """Small calls and conversion, from zorvane's children."""
    z1, zn, ncpu, say = run.z1, run.zn, run.ncpu, run.say
    if not z1:
        return
    say("### zorvane call overhead and conversion (1 thread)")
    say()
    rows = [["call with 1 separation", fmt_ns(z1["call1_s"])], ["call with 10 separations", fmt_ns(z1["call10_s"])]]
    if zn and ncpu > 1:
        rows += [[f"call with 1 separation, {ncpu} threads", fmt_ns(zn["call1_s"])],
                 [f"call with 10 separations, {ncpu} threads", fmt_ns(zn["call10_s"])]]
    if "in_list_s" in z1:
        rows += [["list in, per element (`multi_witt_mao_magnification(l, [], [])`)", fmt_ns(z1["in_list_s"] / N_BIG)],
                 ["ndarray in, per element (same)", fmt_ns(z1["in_ndarray_s"] / N_BIG)]]
    rows.append(["whole call on separations on the limb (l = 1), per element: list in + out, pool, limb branch",
                 fmt_ns(z1["limb_list_s"] / N_BIG)])
    if "in_list_s" in z1:
        rows.append(["the same less list in: list out + pool + limb branch, per element",
                     fmt_ns((z1["limb_list_s"] - z1["in_list_s"]) / N_BIG)])
    rows.append(["whole call on NaN separations, per element", fmt_ns(z1["nan_list_s"] / N_BIG)])
    x = run.x
    rows.append(["for scale: `numpy.ndarray.tolist()` (a list of new floats), per element",
                 fmt_ns(best_time(lambda: x.tolist(), repeat=3) / N_BIG)])
    say.table(["what", "cost"], "lr", rows)


def ld_speed(run: Run) -> None:
    """The limb-darkened forms against SciPy quad and the peers."""
    z, z1, zn, ncpu, say = run.z, run.z1, run.zn, run.ncpu, run.say
    n_ih = z1.get("ih_n", 200 if run.quick else 1000)
    xh = separations(n_ih, SEED + 1, L_MAX_LD)
    uh = xh * RHO
    n_q = 10 if run.quick else 40
    run.t_q = best_time(lambda: [integrated_ring_scipy(float(v), RE, RSTAR) for v in xh[:n_q]], repeat=1) / n_q
    q_vals = np.array([integrated_ring_scipy(float(v), RE, RSTAR) for v in xh[:n_q]])
    n_mml = 100 if run.quick else 500
    run.t_mml = mml = t_mml_call = None
    try:
        t_mml_call, run.t_mml = report.marginal_cost(lambda k: mulens_ld(uh[:k], RHO), n_mml, repeat=1)
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
    run.t_ih = t_ih = z1["ih_s"] / n_ih if "ih_s" in z1 else None
    run.n_ih = n_ih

    def ld_ratio(t):
        return fmt_ratio(t / t_ih) if (t_ih and t) else "n/a"

    def ld_diff(a):
        if ih is None or a is None:
            return "n/a"
        d, bad = max_rel_diff(a, ih[:len(a)])
        return fmt_g(d) + (f" ({bad} non-finite)" if bad else "")

    rows = []
    if t_ih:
        rows.append(["zorvane `integrated_heyrovsky_magnification`", f"{n_ih:,}", fmt_ns(t_ih), "1.0", "0"])
    if zn is not z1 and "ih_s" in zn:
        t_ihn = zn["ih_s"] / n_ih
        rows.append([f"zorvane `integrated_heyrovsky_magnification`, {ncpu} threads", f"{n_ih:,}", fmt_ns(t_ihn),
                     ld_ratio(t_ihn), "0"])
    if "iw_s" in z1:
        iw = np.asarray(z.integrated_witt_mao_magnification(xh, RE, RSTAR))
        rows.append(["zorvane `integrated_witt_mao_magnification`", f"{n_ih:,}", fmt_ns(z1["iw_s"] / n_ih),
                     ld_ratio(z1["iw_s"] / n_ih), ld_diff(iw)])
    rows += [["SciPy `quad` over the radius of ring × profile (epsrel 1e-10)", f"{n_q}", fmt_ns(run.t_q),
              ld_ratio(run.t_q), ld_diff(q_vals)],
             ["MulensModel `finite_source_LD_WittMao94`, marginal", f"{n_mml}", fmt_ns(run.t_mml),
              ld_ratio(run.t_mml), ld_diff(mml)],
             ["MulensModel LD, whole call / points (fixed cost included)", f"{n_mml}", fmt_ns(t_mml_call),
              ld_ratio(t_mml_call), ""],
             ["VBMicrolensing `ESPLLightCurve`, a1 = 0.6", f"{n_ih:,}", fmt_ns(t_vbl), ld_ratio(t_vbl), ld_diff(vbl)]]
    say(f"### Limb-darkened source (linear, 0.6), separations uniform in [0, {L_MAX_LD}) source radii "
        "(ratio = cost / zorvane `integrated_heyrovsky_magnification`)")
    say()
    say.table(["method", "points timed", "per element", "ratio", "max rel. diff from zorvane"], "lrrrr", rows)


def ld_accuracy(run: Run) -> None:
    """The limb-darkened forms against a brute-force reference."""
    z, say = run.z, run.say
    l_pts = [0.0, 0.5, 0.9, 0.99, 1.0, 1.01, 1.1, 1.5, 2.0, 3.0] if not run.quick else [0.0, 0.9, 1.01, 2.0]
    ref = [ld_reference(lv * RHO, RHO) for lv in l_pts]
    l_arr = np.array(l_pts)
    u_arr = l_arr * RHO
    cross = None
    cross_l = [lv for lv in l_pts if lv in (0.0, 0.9, 1.0, 2.0)]
    try:
        cross = [(refs.linear_by_parts(lv * RHO, RHO), ref[l_pts.index(lv)]) for lv in cross_l]
    except Exception as exc:  # noqa: BLE001
        say(f"- mpmath cross-check failed: {exc!r}")
    cols = []
    if has(z, "integrated_heyrovsky_magnification"):
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
    worst = {n: 0.0 for n, _ in cols}       # over the points where the method gives a number
    fails = {n: 0 for n, _ in cols}
    rows = []
    for i, lv in enumerate(l_pts):
        cells = []
        for n, v in cols:
            if math.isfinite(v[i]):
                e = abs(v[i] - ref[i]) / ref[i]
                worst[n] = max(worst[n], e)
                cells.append(fmt_g(e, 1))
            else:
                fails[n] += 1
                cells.append(f"fails ({v[i]})")
        rows.append([f"{lv:g}", f"{ref[i]:.12g}", *cells])
    rows.append(["worst", "", *(fmt_g(worst[n], 1) + (f", {fails[n]} failed" if fails[n] else "") for n, _ in cols)])
    run.worst = worst
    say("### Limb-darkened accuracy: relative error against a brute-force reference "
        "(nested `scipy.integrate.quad`, epsrel 1e-12, of the ring-averaged point-lens magnification)")
    say()
    say.table(["l (source radii)", "reference", *(n for n, _ in cols)], "r" * (2 + len(cols)), rows)
    if cross is not None:
        agree = max(abs(a - b) / b for a, b in cross)
        say(f"At l = {', '.join(f'{v:g}' for v in cross_l)} the reference agrees with an independent "
            f"mpmath route (integration by parts over nested uniform disks, 30 digits) to {agree:.1e} relative.")
        say()


def throughput(run: Run) -> None:
    """Throughput against the number of separations per call, as a plot."""
    say, quick = run.say, run.quick
    sizes = SWEEP[::2] if quick else SWEEP
    sweep = {}
    for n in sizes:
        un = run.u[:n]
        sweep[n] = best_time(lambda: disk_numpy(un, RHO), repeat=3, min_time=0.05 if quick else 0.1)
    vb_sweep = {}
    try:
        for n in sizes:
            un = run.u[:n]
            vb_sweep[n] = best_time(lambda: vbm_mag(un, RHO, 0.0), repeat=3, min_time=0.05 if quick else 0.1)
    except Exception:  # noqa: BLE001 - reported with the table above
        vb_sweep = {}
    try:
        report.throughput_plot(run.args.plot, RHO, sweep, run.z1.get("sweep_s"),
                               run.zn.get("sweep_s") if run.ncpu > 1 else None, run.ncpu, vb_sweep)
        say(f"Throughput plot: `{os.path.relpath(run.args.plot)}`")
    except Exception as exc:  # noqa: BLE001
        say(f"- plot failed: {exc!r}")
    say()


def targets(run: Run) -> None:
    z1, zn, ncpu, say = run.z1, run.zn, run.ncpu, run.say
    if not z1:
        return
    rows = []

    def row(name, val, ok):
        rows.append([name, val, "yes" if ok else "no"])
    r1 = run.t_np / (z1["disk_ndarray_s"] / N_BIG)
    row("disk, 10^6: >= 2x NumPy + SciPy on 1 thread", f"{r1:.2f}x", r1 >= 2)
    if zn:
        r2 = (zn["numpy_disk_s"] / N_BIG) / (zn["disk_ndarray_s"] / N_BIG)
        row(f"disk, 10^6: >= 3.5x NumPy + SciPy on {ncpu} threads", f"{r2:.2f}x", r2 >= 3.5)
    if run.t_mm:
        r3 = run.t_mm / (z1["disk_ndarray_s"] / N_BIG)
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
    t_ih = run.t_ih
    if t_ih:
        r4 = run.t_q / t_ih
        row("integrated Heyrovsky >= 20x SciPy quad (1 thread)", f"{r4:.1f}x", r4 >= 20)
        if zn is not z1 and "ih_s" in zn:
            r4n = run.t_q / (zn["ih_s"] / run.n_ih)
            row(f"integrated Heyrovsky >= 20x SciPy quad ({ncpu} threads)", f"{r4n:.1f}x", r4n >= 20)
        worst = run.worst
        if run.t_mml and "zorvane heyrovsky" in worst:
            faster = run.t_mml / t_ih
            acc_ok = worst["zorvane heyrovsky"] <= worst["MulensModel LD WM94"]
            row("integrated Heyrovsky faster than MulensModel LD at equal or better accuracy",
                f"{faster:.1f}x; worst error {worst['zorvane heyrovsky']:.1e} vs {worst['MulensModel LD WM94']:.1e}",
                faster > 1 and acc_ok)
    say("### Targets")
    say()
    say.table(["target", "measured", "met"], "lrc", rows)


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
    # The reference's own accuracy is checked against a second route (ld_accuracy).
    warnings.filterwarnings("ignore", category=scipy.integrate.IntegrationWarning)
    run = Run(args)
    for section in (header, unit_check, zorvane_children, disk_speed, disk_accuracy, overhead, ld_speed,
                    ld_accuracy, throughput, targets):
        section(run)
    run.say(f"Whole run: {time.perf_counter() - t_start:.0f} s; load average at the end {os.getloadavg()[0]:.2f}.")
    run.say.write(args.markdown)
    return 0


if __name__ == "__main__":
    sys.exit(main())
