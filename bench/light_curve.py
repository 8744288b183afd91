#!/usr/bin/env python3
"""Light curves: cost per epoch and largest relative error of zorvane,
VBMicrolensing and MulensModel against a high-precision reference, in one run.

    bash bench/light_curve.sh          # own venv (build/bench-venv) with the peers; writes the files below
    python -m bench.light_curve [--recompute] [--markdown PATH] [--plot PATH]   (from the repository root)
    python -m bench.light_curve --check    # the reference against two other routes, about 15 s

Each curve has 1000 epochs t in [-2, 2] tE (t0 = 0, tE = 1) with impact
parameter u0 = rho/2, for rho = 1e-3, 1e-2 and 0.1, a uniform source and a
linearly limb-darkened one (I(r) = 1 - 0.6 (1 - sqrt(1 - r^2))).  zorvane gets
l = sqrt(u0^2 + t^2)/rho with re = 1, rstar = rho; VBMicrolensing its
ESPLLightCurve on the epochs, with its default accuracy goal and with the
tightest useful one (VBM_TIGHT_TOL); MulensModel its Witt-Mao method where
u <= 10 rho and the point lens beyond (further out its method is less accurate
than the point lens).

The reference is the source's area average of the point-lens magnification in
mpmath at 30 digits (tests/python/references.py, `linear_source`), computed
at the l values zorvane gets; it is kept in bench/light_curve_reference.npz
and computed again only when the epochs change or with --recompute (about ten
minutes on two cores).  zorvane is timed in child processes with
RAYON_NUM_THREADS = 1 and unset (all cores); every timing is the best of several
repetitions of the whole curve, divided by the number of epochs.
"""
from __future__ import annotations

import argparse
import json
import math
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor

import numpy as np

from tests.python import references as refs

from . import peers, report
from .report import best_time, fmt_g, fmt_ns, max_rel_diff

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.path.join(HERE, "light_curve_reference.npz")
N_EPOCHS = 1000
RHOS = (1e-3, 1e-2, 0.1)
PROFILES = {"uniform": 0.0, "linear 0.6": peers.LIN_U}
VBM_TIGHT_TOL = 1e-5   # below it VBMicrolensing gets no more accurate near the limb, only slower
MM_FINITE_ZONE = 10.0  # MulensModel's finite-source method where u <= this many rho


def epochs() -> np.ndarray:
    """N_EPOCHS epochs in [-2, 2], exactly symmetric about 0 (so u takes each value twice)."""
    t = np.linspace(-2.0, 2.0, N_EPOCHS)
    return 0.5 * (t - t[::-1])


def curve(rho: float) -> tuple[float, np.ndarray]:
    """(u0, l): the impact parameter and zorvane's separations in source radii."""
    u0 = rho / 2
    t = epochs()
    return u0, np.sqrt(u0 * u0 + t * t) / rho


# -------------------------------------------------------------- reference ----

def _reference_point(task):
    x, rho, coeff = task
    return float(refs.linear_source(x, rho, coeff))


def reference(recompute: bool = False) -> dict:
    """{(profile, rho): reference magnifications on the curve}, from the cache
    when it holds the same separations."""
    want = {(p, rho): curve(rho)[1] for p in PROFILES for rho in RHOS}
    key = {k: f"{k[0]}|{k[1]!r}" for k in want}
    cached = {}
    if not recompute and os.path.exists(CACHE):
        with np.load(CACHE) as npz:
            cached = {k: npz[key[k] + "|ref"] for k in want
                      if key[k] + "|l" in npz and np.array_equal(npz[key[k] + "|l"], want[k])}
    todo = [k for k in want if k not in cached]
    if todo:
        tasks = []
        for p, rho in todo:
            tasks += [(float(x), rho, PROFILES[p]) for x in np.unique(want[(p, rho)])]
        print(f"computing {len(tasks)} reference values in mpmath (30 digits) on "
              f"{len(os.sched_getaffinity(0))} processes ...", file=sys.stderr, flush=True)
        t0 = time.perf_counter()
        with ProcessPoolExecutor(len(os.sched_getaffinity(0))) as pool:
            values = dict(zip(tasks, pool.map(_reference_point, tasks, chunksize=8)))
        print(f"... done in {time.perf_counter() - t0:.0f} s", file=sys.stderr, flush=True)
        for p, rho in todo:
            cached[(p, rho)] = np.array([values[(float(x), rho, PROFILES[p])] for x in want[(p, rho)]])
        arrays = {}
        for k in want:
            arrays[key[k] + "|l"] = want[k]
            arrays[key[k] + "|ref"] = cached[k]
        np.savez_compressed(CACHE, **arrays)
    return cached


def check() -> int:
    """The reference against two other routes (the disk closed form and the
    linear law as nested disks, both in mpmath), on and off the limb."""
    worst = 0.0
    for x in (0.3, 1.001, 5.0):
        others = ((0.0, refs.disk_closed_form(x, 1.0, 0.01)), (peers.LIN_U, refs.linear_by_parts(x * 0.01, 0.01)))
        for coeff, other in others:
            ours = float(refs.linear_source(x, 0.01, coeff))
            rel = abs(ours - other) / other
            worst = max(worst, rel)
            print(f"l = {x:g}, coefficient {coeff:g}: {ours!r} against {other!r}, relative difference {rel:.1e}")
    print("ok" if worst <= 1e-14 else "FAILED: the reference routes disagree")
    return 0 if worst <= 1e-14 else 1


# ---------------------------------------------------------------- methods ----

def zorvane_methods(z):
    """(name, profile, f(l, rho)) for zorvane's forms on a light curve."""
    return [("zorvane `witt_mao_magnification`", "uniform", lambda l, rho: z.witt_mao_magnification(l, 1.0, rho)),
            ("zorvane `integrated_heyrovsky_magnification`", "linear 0.6",
             lambda l, rho: z.integrated_heyrovsky_magnification(l, 1.0, rho)),
            ("zorvane `integrated_witt_mao_magnification`", "linear 0.6",
             lambda l, rho: z.integrated_witt_mao_magnification(l, 1.0, rho))]


def peer_methods():
    """(name, profile, f(rho)) for the peers: each takes the epochs itself."""
    t = epochs()
    out = []
    for profile, a1 in PROFILES.items():
        out += [("VBMicrolensing `ESPLLightCurve`, default accuracy goal", profile,
                 lambda rho, a1=a1: peers.vbm_light_curve(t, rho / 2, rho, a1)),
                (f"VBMicrolensing `ESPLLightCurve`, Tol = {VBM_TIGHT_TOL:g}", profile,
                 lambda rho, a1=a1: peers.vbm_light_curve(t, rho / 2, rho, a1, VBM_TIGHT_TOL)),
                ("MulensModel Witt-Mao (point lens beyond 10 rho)", profile,
                 lambda rho, a1=a1: mulens_curve(t, rho, a1 > 0))]
    return out


def mulens_curve(t, rho, limb_darkened):
    u0 = rho / 2
    edge = math.sqrt(max(0.0, (MM_FINITE_ZONE * rho) ** 2 - u0 * u0))
    return peers.mulens_light_curve(t, u0, rho, limb_darkened, (-edge, edge))


def zorvane_child() -> dict:
    """Runs in a child whose RAYON_NUM_THREADS fixes the pool size: seconds per epoch."""
    z, why = peers.zorvane_status()
    if z is None:
        return {"error": why}
    out = {}
    for name, profile, f in zorvane_methods(z):
        for rho in RHOS:
            l = curve(rho)[1]
            out[f"{name}|{rho!r}"] = best_time(lambda: f(l, rho), repeat=5) / N_EPOCHS
    return out


# ---------------------------------------------------------------- report ----

def measure(ref: dict) -> list[dict]:
    """One row per method and profile: {name, profile, threads, cost[rho], error[rho]}."""
    ncpu = len(os.sched_getaffinity(0))
    rows = []
    z, why = peers.zorvane_status()
    if z is None:
        print(f"zorvane not measured: {why}", file=sys.stderr)
    else:
        # 1 thread, then the pool's default size (all the cores the process may use)
        timings = {th: peers.run_child("bench.light_curve", None if th == "all" else th, []) for th in (1, "all")}
        for name, profile, f in zorvane_methods(z):
            err = {rho: max_rel_diff(f(curve(rho)[1], rho), ref[(profile, rho)]) for rho in RHOS}
            for th, tm in timings.items():
                if "error" in tm:
                    print(f"zorvane on {th} thread(s) failed: {tm['error']}", file=sys.stderr)
                    continue
                rows.append({"name": name, "profile": profile, "threads": "1" if th == 1 else f"{ncpu} (all)",
                             "cost": {rho: tm[f"{name}|{rho!r}"] for rho in RHOS}, "error": err})
    for name, profile, f in peer_methods():
        cost, err = {}, {}
        for rho in RHOS:
            try:
                err[rho] = max_rel_diff(f(rho), ref[(profile, rho)])
                cost[rho] = best_time(lambda: f(rho), repeat=3, min_time=0.5) / N_EPOCHS
            except Exception as exc:  # noqa: BLE001 - a failing peer is reported, not fatal
                print(f"{name}, {profile}, rho = {rho:g} failed: {exc!r}", file=sys.stderr)
        rows.append({"name": name, "profile": profile, "threads": "1", "cost": cost, "error": err})
    return rows


def tables(say: report.Report, rows: list[dict]) -> None:
    for profile in PROFILES:
        say(f"### Light curves, {profile} source: cost per epoch and largest relative error")
        say()

        def cell(r, rho):
            if rho not in r["cost"] and rho not in r["error"]:
                return "fails"
            e, bad = r["error"].get(rho, (math.nan, 0))
            return f"{fmt_ns(r['cost'].get(rho))}, {fmt_g(e, 1)}" + (f" ({bad} non-finite)" if bad else "")
        say.table(["method", "threads", *(f"ρ = {rho:g}" for rho in RHOS)], "lr" + "r" * len(RHOS),
                  [[r["name"], r["threads"], *(cell(r, rho) for rho in RHOS)] for r in rows if r["profile"] == profile])


def plot(path: str, rows: list[dict]) -> None:
    """Cost per epoch against the largest relative error, one panel per profile,
    one line per method through its three source sizes."""
    plt = report.pyplot()
    fig, axes = plt.subplots(1, len(PROFILES), figsize=(12, 5), dpi=100, sharey=True)
    styles = ["o-", "s--", "D-", "^:", "v-.", "P-", "X--", "*-"]
    for ax, profile in zip(axes, PROFILES):
        for i, r in enumerate(x for x in rows if x["profile"] == profile):
            pts = [(r["cost"][rho] * 1e6, max(r["error"][rho][0], 1e-17), rho) for rho in RHOS
                   if rho in r["cost"] and math.isfinite(r["error"][rho][0])]
            if not pts:
                continue
            label = r["name"].replace("`", "") + ("" if r["threads"] == "1" else f", {r['threads'].split()[0]} threads")
            ax.plot([p[0] for p in pts], [p[1] for p in pts], styles[i % len(styles)], label=label)
            for c, e, rho in pts:
                ax.annotate(f"{rho:g}", (c, e), textcoords="offset points", xytext=(4, 3), fontsize=7)
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("cost per epoch (µs)")
        ax.set_title(f"{profile} source (labels: ρ)")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=7)
    axes[0].set_ylabel("largest relative error over the curve")
    fig.suptitle(f"Light curves of {N_EPOCHS} epochs, t in [-2, 2] tE, u0 = ρ/2")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--recompute", action="store_true", help="compute the mpmath reference again")
    ap.add_argument("--markdown", default=os.path.join(HERE, "light-curve-results.md"),
                    help="where to write the tables")
    ap.add_argument("--plot", default=os.path.join(HERE, "light_curve.png"), help="where to write the PNG")
    ap.add_argument("--check", action="store_true", help="only check the reference against two other routes")
    ap.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.check:
        return check()
    if args.child:
        print(json.dumps(zorvane_child()))
        return 0
    t_start = time.perf_counter()
    ref = reference(args.recompute)
    say = report.Report()
    say.header("Light curves", "bash bench/light_curve.sh", peers.peer_versions())
    say(f"- Curves: {N_EPOCHS} epochs, t in [-2, 2] tE, u0 = ρ/2; reference: mpmath area average, 30 digits; "
        "cell: cost per epoch, largest relative error")
    say()
    rows = measure(ref)
    tables(say, rows)
    plot(args.plot, rows)
    say(f"Plot: `{os.path.relpath(args.plot)}`. Whole run: {time.perf_counter() - t_start:.0f} s; "
        f"load average at the end {os.getloadavg()[0]:.2f}.")
    say.write(args.markdown)
    return 0


if __name__ == "__main__":
    sys.exit(main())
